#include "platform/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

WAKEUP::WAKEUP() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WAKEUP::~WAKEUP() {
  if (fd >= 0) close(fd);
}

void WAKEUP::Signal() {
  if (fd < 0) return;
  const std::uint64_t one = 1;
  // EAGAIN means the counter is saturated: the descriptor is readable anyway.
  while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void WAKEUP::Clear() {
  if (fd < 0) return;
  std::uint64_t value;
  while (read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool WAKEUP::Wait(int ms) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  int r;
  while ((r = poll(&p, 1, ms)) < 0 && errno == EINTR) {
  }
  if (r <= 0) return false;
  Clear();
  return true;
}
