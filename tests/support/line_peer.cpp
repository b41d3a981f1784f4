#include "support/line_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "port/comport.h"

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::abort();
}
}  // namespace

void UniqueFd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

LinePeer MakeLinePeer(bool socket, FDLINE::Options options) {
  LinePeer peer;
  options.socket = socket;
  options.ownFds = true;
  if (socket) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) Die("socketpair");
    peer.line = std::make_unique<FDLINE>(sv[0], sv[0], options);
    peer.toPort = UniqueFd(sv[1]);
    return peer;
  }
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) Die("pipe2");
  peer.line = std::make_unique<FDLINE>(in[0], out[1], options);
  peer.toPort = UniqueFd(in[1]);
  peer.fromPort = UniqueFd(out[0]);
  return peer;
}

bool WriteAll(int fd, const std::string& data, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < data.size()) {
    pollfd p{fd, POLLOUT, 0};
    int r = poll(&p, 1, MsLeft(end));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t w = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0 && errno == ENOTSOCK) w = write(fd, data.data() + done, data.size() - done);
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

std::string ReadExactly(int fd, size_t n, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  char buf[65536];
  while (got.size() < n) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, MsLeft(end));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    size_t want = std::min(sizeof buf, n - got.size());
    ssize_t k = read(fd, buf, want);
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k <= 0) break;
    got.append(buf, static_cast<size_t>(k));
  }
  return got;
}

std::string ReceiveExactly(size_t n, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  char buf[COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK];
  while (got.size() < n) {
    COMPORT::DoReceive();
    size_t k = COMPORT::GetBlock(buf, std::min(sizeof buf, n - got.size()));
    got.append(buf, k);
    if (k != 0) continue;
    if (MsLeft(end) == 0) break;
    // True with nothing to take means the line has closed: no more will come.
    if (COMPORT::WaitReceive(std::min(50, MsLeft(end))) && COMPORT::GetInQueueCount() == 0) break;
  }
  return got;
}
