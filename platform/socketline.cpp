#include "platform/socketline.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/debuglog.h"

namespace {
FDLINE::Options SocketOptions() {
  FDLINE::Options o;
  o.socket = true;
  // Reads of 4096 bytes: at 256 a flood cost a system call and often a
  // wake-up of the receiving side per 256 bytes.  The hold limit still
  // stops the reader at about 20480 bytes.
  o.readChunk = 4096;
  return o;
}
}  // namespace

SOCKETLINE::SOCKETLINE(int fd) : FDLINE(fd, fd, SocketOptions()) {}

bool SOCKETLINE::IsPeerGone(int err) {
  return err == ECONNRESET || err == ECONNABORTED || err == ESHUTDOWN || err == EPIPE;
}

std::string SOCKETLINE::RecvFailedText(int code) {
  return "\r\nrecv failed. code = " + std::to_string(code) + "\r\n";
}

ssize_t SOCKETLINE::Read(void* buf, size_t n) {
  if (failed) return 0;
  ssize_t r;
  do {
    r = recv(Fd(), buf, n, 0);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) return r;
  const int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) return -1;
  if (IsPeerGone(err)) return 0;

  DebugLogF("recv failed: %s\n", std::strerror(err));
  failed = true;
  // The reader polls again after these bytes; a shut-down socket reports a
  // hang-up at once, and the next Read ends the line.
  shutdown(Fd(), SHUT_RDWR);
  const std::string text = RecvFailedText(err);
  const size_t len = std::min(n, text.size());
  std::memcpy(buf, text.data(), len);
  return static_cast<ssize_t>(len);
}

ssize_t SOCKETLINE::Write(const void* buf, size_t n) {
  if (failed) {
    errno = EPIPE;
    return -1;
  }
  return FDLINE::Write(buf, n);
}
