#include "platform/tick.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

TICK GetTick() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<TICK>(ts.tv_sec) * 1000u + static_cast<TICK>(ts.tv_nsec / 1000000);
}

void YieldProcessor() { sched_yield(); }

void SleepMs(unsigned ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rem;
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}
