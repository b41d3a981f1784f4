// FDLINE: a LINE over plain descriptors.
//
// A read descriptor and a write descriptor (the two ends of pipes, standard
// input and output) or one descriptor for both (a socketpair, a connected
// socket).  The descriptors are switched to non-blocking mode for the life of
// the line and their flags are put back afterwards, so standard input and
// output can be lent to the port and returned unchanged.
//
// As a socket line it sends with MSG_NOSIGNAL (a closed peer is an EPIPE, not
// a signal) and holds the peer back at 20480 unread bytes, as the telnet line
// does; tests use that to reach the port's socket-side encoding.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/line.h"

class FDLINE : public LINE {
 public:
  struct Options {
    bool socket = false;                 // IsSocket(): telnet-side encoding, MSG_NOSIGNAL
    bool ownFds = true;                  // close the descriptors with the line
    std::optional<size_t> readChunk;     // default 256
    std::optional<size_t> holdLimit;     // default 20480 for a socket, else 0 (none)
  };
  static constexpr size_t SOCKET_HOLD_LIMIT = 20480;

  // writeFd may equal readFd (a socket).  The line does not check that the
  // descriptors are open; a bad one shows up as read or write errors.
  FDLINE(int readFd, int writeFd, Options options);
  FDLINE(int readFd, int writeFd) : FDLINE(readFd, writeFd, Options{}) {}
  ~FDLINE() override;
  FDLINE(const FDLINE&) = delete;
  FDLINE& operator=(const FDLINE&) = delete;

  int Fd() const override { return rfd; }
  int WriteFd() const override { return wfd == rfd ? -1 : wfd; }
  ssize_t Read(void* buf, size_t n) override;
  ssize_t Write(const void* buf, size_t n) override;
  bool IsSocket() const override { return opt.socket; }
  size_t ReadChunk() const override;
  size_t HoldLimit() const override;

 private:
  int rfd, wfd;
  int rflags, wflags;  // the descriptors' status flags before the line set O_NONBLOCK
  Options opt;
};
