#include "platform/fdline.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {
// Sets O_NONBLOCK and returns the flags as they were (-1 for a bad descriptor).
int MakeNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return flags;
}
}  // namespace

FDLINE::FDLINE(int readFd, int writeFd, Options options) : rfd(readFd), wfd(writeFd), opt(options) {
  rflags = MakeNonBlocking(rfd);
  wflags = wfd == rfd ? rflags : MakeNonBlocking(wfd);
}

FDLINE::~FDLINE() {
  if (opt.ownFds) {
    if (rfd >= 0) close(rfd);
    if (wfd >= 0 && wfd != rfd) close(wfd);
    return;
  }
  // Lent descriptors go back as they came.
  if (rflags >= 0) fcntl(rfd, F_SETFL, rflags);
  if (wfd != rfd && wflags >= 0) fcntl(wfd, F_SETFL, wflags);
}

ssize_t FDLINE::Read(void* buf, size_t n) {
  ssize_t r;
  do {
    r = read(rfd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

ssize_t FDLINE::Write(const void* buf, size_t n) {
  ssize_t r;
  do {
    r = opt.socket ? send(wfd, buf, n, MSG_NOSIGNAL) : write(wfd, buf, n);
    // A "socket" line over a pipe or a file (the tool's --socket on standard
    // output) has the socket's encoding but not its calls.
    if (r < 0 && errno == ENOTSOCK) r = write(wfd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

size_t FDLINE::ReadChunk() const { return opt.readChunk.value_or(256); }

size_t FDLINE::HoldLimit() const { return opt.holdLimit.value_or(opt.socket ? SOCKET_HOLD_LIMIT : 0); }
