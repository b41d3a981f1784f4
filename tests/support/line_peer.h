// The test's end of a line that COMPORT runs over.
//
// MakeLinePeer builds an FDLINE for the port over a socketpair (socket = true:
// the port then applies its telnet-side encoding) or over two pipes, and
// keeps the other ends for the test.  The helpers below move bytes with a
// time limit, so a broken port fails a test instead of hanging it.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "platform/fdline.h"

// A descriptor closed with its owner.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  void Reset();

 private:
  int fd_ = -1;
};

struct LinePeer {
  std::unique_ptr<FDLINE> line;  // give this to COMPORT::Start
  UniqueFd toPort;               // the test writes what the port receives
  UniqueFd fromPort;             // the test reads what the port sends (same descriptor as
                                 // toPort for a socket: then this one is empty)
  int ReadFd() const { return fromPort.Get() >= 0 ? fromPort.Get() : toPort.Get(); }
  // Closes the test's ends: the port sees its peer go away.
  void Hangup() {
    toPort.Reset();
    fromPort.Reset();
  }
};

// socket: a socketpair with FDLINE's socket option; else two pipes.  Options
// other than `socket` are passed on.  Aborts the test program on failure.
LinePeer MakeLinePeer(bool socket, FDLINE::Options options = {});

constexpr int kIoTimeoutMs = 10000;

// Polls pred every 2 ms for up to ms; true once it holds.
template <class Pred>
bool WaitFor(Pred pred, int ms = kIoTimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Writes all of data (waiting for room); false on error or time-out.
bool WriteAll(int fd, const std::string& data, int timeoutMs = kIoTimeoutMs);
// Reads until n bytes came, the other end closed, or the time ran out.
std::string ReadExactly(int fd, size_t n, int timeoutMs = kIoTimeoutMs);
// Drives COMPORT::DoReceive and takes the queue until n bytes came or the
// time ran out (the port's own text conversions apply).
std::string ReceiveExactly(size_t n, int timeoutMs = kIoTimeoutMs);
