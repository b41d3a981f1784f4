// Millisecond ticks.  Every tick value in the program is 64-bit monotonic
// milliseconds: no wrap after 49.7 days, and 0 is an ordinary time, never an
// "unset" mark (use std::optional or a separate flag for that).
#pragma once

#include <cstdint>

using TICK = std::uint64_t;

// Monotonic milliseconds since an arbitrary start (CLOCK_MONOTONIC).
TICK GetTick();
// Gives the processor to another thread once.
void YieldProcessor();
// Sleeps for ms milliseconds (EINTR is retried).
void SleepMs(unsigned ms);
