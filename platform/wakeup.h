// WAKEUP: an eventfd that wakes a thread blocked in poll().
//
// The port's reader and writer threads wait in poll() on their line and on one
// of these.  Signal() makes the descriptor readable (the counter only grows, so
// signals never get lost between a check and the poll); Clear() drains it once
// the sleeper has woken.  Signal is safe from any thread.
#pragma once

class WAKEUP {
 public:
  WAKEUP();
  ~WAKEUP();
  WAKEUP(const WAKEUP&) = delete;
  WAKEUP& operator=(const WAKEUP&) = delete;

  // False when the eventfd could not be created (descriptor limit).
  bool Valid() const { return fd >= 0; }
  // The descriptor to poll for POLLIN.
  int Fd() const { return fd; }
  // Makes Fd() readable until the next Clear().
  void Signal();
  // Takes every pending signal; Fd() is no longer readable afterwards.
  void Clear();
  // Waits up to ms milliseconds (-1: without end) for a signal and drains it.
  // True when a signal came.
  bool Wait(int ms);

 private:
  int fd;
};
