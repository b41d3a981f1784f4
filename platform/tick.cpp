#include "platform/tick.h"

#include <sched.h>

#include <chrono>
#include <thread>

TICK GetTick() {
  // steady_clock is CLOCK_MONOTONIC here: never set back, never wraps.
  return static_cast<TICK>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void YieldProcessor() { sched_yield(); }

// sleep_for resumes after a signal with the time that is left.
void SleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
