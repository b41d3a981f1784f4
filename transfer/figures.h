// The figures of the progress window and of the tool's --progress line,
// computed from a transfer's statistics.  A pure function, so the window and
// the tool show the same numbers and tests can check them without a clock.
#pragma once

#include <string>

#include "platform/tick.h"

struct TRANSFERSTATS;

struct TRANSFERFIGURES {
  std::string total;      // "全ﾊﾞｲﾄ数:" field: the total, or empty when unknown
  std::string processed;  // "処理済み:" field: resume + processed, with " (NN%)" while below the total
  std::string retries;    // "ﾘﾄﾗｲ回数:"
  std::string time;       // "時間:" HH:MM:SS since the start
  std::string rate;       // the rate figure (bytes a second), empty before the third second
  std::string estimate;   // "N分" "M0秒" (tens digit 0 shows as a blank), empty when unknown
  long long rateValue = 0;  // bytes a second, 0 before the third second
};

// outQueue: bytes still in the port's output queue (uploads count them as
// not yet moved).
TRANSFERFIGURES ProtocolFigures(const TRANSFERSTATS& s, TICK now, long long outQueue);
