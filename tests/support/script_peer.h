// A scripted peer for the interpreter: it stands where the receive
// dispatcher and the host stand, on fake time.  Each pass runs
// SCRIPT::Process and then feeds the bytes the "host" has sent, one at a
// time, until one ends a wait (the next pass then begins with Process, as
// the dispatcher does).  With nothing to feed, time jumps to the next due
// wait or sleep (or by 10 ms) and an idle tick is fed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/tick.h"
#include "script/script.h"

class SCRIPTPEER {
 public:
  SCRIPTPEER();
  ~SCRIPTPEER();

  // When a sent text contains `trigger`, the host answers `reply`.
  void On(const std::string& trigger, const std::string& reply) { rules.emplace_back(trigger, reply); }
  // Bytes the host sends now.
  void Host(const std::string& bytes) { pending += bytes; }
  // Passes until no script runs or limitMs of fake time have gone by; true
  // when the script ended.
  bool Run(int64_t limitMs);
  // One pass.
  void Pass();
  // Forgets earlier sends and errors, starts `text` as a script and runs it
  // as Run does; false when it did not start or did not end in time.
  bool RunText(const std::string& text, int64_t limitMs = 10000);

  TICK now = 100000;
  int autoAdvance = 0;  // ms added at every reading of the clock (loops that never wait)
  std::string pending;
  std::vector<std::string> sends;
  std::vector<std::pair<TICK, std::string>> timedSends;
  std::vector<SCRIPTERROR> errors;
  std::vector<std::string> debug;
  std::vector<std::pair<std::string, std::string>> rules;
  bool answerWatchdog = true;
  int watchdogQuestions = 0;
};
