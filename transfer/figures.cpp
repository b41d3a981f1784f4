// The progress figures (see figures.h).
#include "transfer/figures.h"

#include <algorithm>
#include <cstdio>

#include "transfer/transfer.h"

TRANSFERFIGURES ProtocolFigures(const TRANSFERSTATS& s, TICK now, long long outQueue) {
  TRANSFERFIGURES f;
  char buf[64];
  if (s.total > 0) f.total = std::to_string(s.total);
  // An upload counts what it handed to the line; what still waits in the
  // line's send buffer has not gone yet, so the figure shows what the line
  // has taken (a text upload's conversion may grow the bytes it queued, so
  // the figure may lag by that much, never run ahead).
  const long long queued = s.upload && outQueue > 0 ? outQueue : 0;
  const long long shown = s.resume + std::max(0LL, s.processed - queued);
  f.processed = std::to_string(shown);
  f.retries = std::to_string(s.retries);
  const TICK elapsed = now >= s.startTick ? (now - s.startTick) / 1000 : 0;
  std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(elapsed / 3600),
                static_cast<unsigned long long>(elapsed / 60 % 60), static_cast<unsigned long long>(elapsed % 60));
  f.time = buf;
  if (s.counting) {
    const TICK secs = now >= s.firstTick ? (now - s.firstTick) / 1000 : 0;
    long long moved = s.processed - s.base - (s.upload ? outQueue : 0);
    if (moved < 0) moved = 0;
    if (secs >= 3) {
      f.rateValue = moved / static_cast<long long>(secs);
      f.rate = std::to_string(f.rateValue);
    }
  }
  if (s.total > 0 && s.total > shown) {
    f.processed += " (" + std::to_string(shown * 100 / s.total) + "%)";
    if (f.rateValue > 0) {
      // What is left is total - resume - processed; the base bytes are part
      // of processed already.
      const long long remain = (s.total - shown) / f.rateValue;
      const long long minutes = remain / 60;
      const long long tens = remain % 60 / 10;
      if (minutes > 0) f.estimate = std::to_string(minutes) + "分";
      f.estimate += (tens == 0 ? std::string(" ") : std::to_string(tens)) + "0秒";
    }
  }
  return f;
}
