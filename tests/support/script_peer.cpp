#include "support/script_peer.h"

#include "script/var.h"
#include "terminal/waiter.h"

SCRIPTPEER::SCRIPTPEER() {
  SCRIPT::Reset();
  VAR::Reset();
  SCRIPT::tickSource = [this] {
    now += static_cast<TICK>(autoAdvance);
    return now;
  };
  WAITER::tickSource = [this] { return now; };
  SCRIPT::hooks.send = [this](const std::string& s) {
    sends.push_back(s);
    timedSends.emplace_back(now, s);
    for (auto& [trigger, reply] : rules)
      if (s.find(trigger) != std::string::npos) pending += reply;
  };
  SCRIPT::hooks.reportError = [this](const SCRIPTERROR& e) { errors.push_back(e); };
  SCRIPT::hooks.debugInfo = [this](const std::string& s) { debug.push_back(s); };
  SCRIPT::hooks.askYes = [this](const std::string&) {
    ++watchdogQuestions;
    return answerWatchdog;
  };
}

SCRIPTPEER::~SCRIPTPEER() {
  SCRIPT::Reset();
  VAR::Reset();
  WAITER::tickSource = nullptr;
}

void SCRIPTPEER::Pass() {
  SCRIPT::Process();
  if (!SCRIPT::fExecuting) return;
  if (!pending.empty()) {
    while (!pending.empty()) {
      const char c = pending[0];
      pending.erase(0, 1);
      if (SCRIPT::Receive(c)) return;
    }
    return;
  }
  if (std::optional<int64_t> due = SCRIPT::DueIn(); due && *due > 0)
    now += static_cast<TICK>(*due);
  else
    now += 10;
  SCRIPT::Receive('\0');
}

bool SCRIPTPEER::Run(int64_t limitMs) {
  const TICK end = now + static_cast<TICK>(limitMs);
  while (SCRIPT::fExecuting && now < end) {
    if (SCRIPT::fPause) return false;
    Pass();
  }
  return !SCRIPT::fExecuting;
}

bool SCRIPTPEER::RunText(const std::string& text, int64_t limitMs) {
  sends.clear();
  errors.clear();
  return SCRIPT::ExecuteFromMemory(text) && Run(limitMs);
}
