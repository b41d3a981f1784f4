// The lines a transfer runs over (see transferline.h).
#include "transfer/transferline.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <chrono>

#include "port/comport.h"

// ---- COMPORTLINE ---------------------------------------------------------------

size_t COMPORTLINE::Read(unsigned char* buf, size_t max) {
  size_t got = 0;
  // Refills until the reader has nothing more (each takes up to 512 bytes),
  // so one read drains a fast line in a single step.
  for (int i = 0; i < 128 && got < max; ++i) {
    if (!COMPORT::IsReceived()) COMPORT::DoReceive();
    const size_t n = COMPORT::GetBlock(buf + got, max - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

namespace {

// An idle engine with output queued waits until this much more of the ring
// is free (or until data comes): the writer still holds three quarters of it,
// so the line never runs dry while the engine sleeps, and the engine wakes
// once per 64 KiB rather than once per packet.
constexpr size_t kRoomStep = COMPORT::SEND_RING / 4;
constexpr auto kDrainPause = std::chrono::microseconds(200);

}  // namespace

size_t COMPORTLINE::Room() { return COMPORT::SendRoom(); }

bool COMPORTLINE::Write(const void* data, size_t n) { return COMPORT::SendBulk(data, n); }

size_t COMPORTLINE::OutQueue() { return static_cast<size_t>(COMPORT::GetOutQueueCount()); }

void COMPORTLINE::Purge() {
  COMPORT::Flush();
  COMPORT::cchReceived = COMPORT::iTakeout = 0;
}

void COMPORTLINE::DropOutput() { COMPORT::DropOutput(); }

bool COMPORTLINE::Lost() {
  if (!lost && (!COMPORT::IsOpen() || COMPORT::GetEvent())) lost = true;
  return lost;
}

void COMPORTLINE::Wait(int ms) {
  const size_t free = COMPORT::SendRoom();
  const size_t want = free >= COMPORT::SEND_RING ? 0 : std::min(COMPORT::SEND_RING, free + kRoomStep);
  COMPORT::WaitReceiveOrRoom(want, ms);
}

bool COMPORTLINE::Drain(int ms) {
  const TICK end = GetTick() + static_cast<TICK>(ms);
  while (OutQueue() > 0 && !Lost()) {
    if (GetTick() >= end) return false;
    std::this_thread::sleep_for(kDrainPause);
  }
  return OutQueue() == 0;
}

// The bytes go back to the front of the port's receive queue, where the
// dispatcher takes them on its next pass.  They were read in binary mode,
// so they come back as they arrived (telnet commands already removed).
size_t COMPORTLINE::Unread(const unsigned char* data, size_t n) {
  const size_t held = static_cast<size_t>(COMPORT::cchReceived - COMPORT::iTakeout);
  const size_t k = std::min(n, sizeof COMPORT::szReceived - held);
  std::memmove(COMPORT::szReceived + k, COMPORT::szReceived + COMPORT::iTakeout, held);
  std::memcpy(COMPORT::szReceived, data, k);
  COMPORT::iTakeout = 0;
  COMPORT::cchReceived = static_cast<int>(held + k);
  return k;
}

// ---- FDTRANSFERLINE ---------------------------------------------------------------

FDTRANSFERLINE::FDTRANSFERLINE(int readFd, int writeFd, size_t room) : rfd(readFd), wfd(writeFd), room(room) {
  rflags = fcntl(rfd, F_GETFL);
  wflags = fcntl(wfd, F_GETFL);
  if (rflags >= 0) fcntl(rfd, F_SETFL, rflags | O_NONBLOCK);
  if (wflags >= 0 && wfd != rfd) fcntl(wfd, F_SETFL, wflags | O_NONBLOCK);
  out.reserve(room);
}

FDTRANSFERLINE::~FDTRANSFERLINE() {
  Drain(2000);
  if (rflags >= 0) fcntl(rfd, F_SETFL, rflags);
  if (wflags >= 0 && wfd != rfd) fcntl(wfd, F_SETFL, wflags);
}

bool FDTRANSFERLINE::NoiseHit() {
  // The same small generator and odds as the port's NoiseMixing.
  noiseState = noiseState * 1103515245u + 12345u;
  return ((noiseState >> 16) & 0x7FFF) < 6;
}

size_t FDTRANSFERLINE::Read(unsigned char* buf, size_t max) {
  if (eof || max == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(rfd, buf, max);
    if (n > 0) {
      if (noise)
        for (ssize_t i = 0; i < n; ++i)
          if (NoiseHit()) buf[i] = static_cast<unsigned char>(noiseState >> 8);
      return static_cast<size_t>(n);
    }
    if (n == 0) {
      eof = lost = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) eof = lost = true;
    return 0;
  }
}

void FDTRANSFERLINE::Flush() {
  while (outStart < out.size()) {
    const ssize_t n = ::write(wfd, out.data() + outStart, out.size() - outStart);
    if (n > 0) {
      outStart += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    lost = true;  // EPIPE, EIO: the other side is gone
    out.clear();
    outStart = 0;
    return;
  }
  if (outStart == out.size()) {
    out.clear();
    outStart = 0;
  } else if (outStart > out.size() / 2) {
    out.erase(out.begin(), out.begin() + static_cast<long>(outStart));
    outStart = 0;
  }
}

size_t FDTRANSFERLINE::Room() {
  const size_t used = out.size() - outStart;
  return used >= room ? 0 : room - used;
}

bool FDTRANSFERLINE::Write(const void* data, size_t n) {
  if (lost) return true;  // nobody listens: the engine learns it from Lost()
  if (n > Room()) {
    Flush();
    if (n > Room()) return false;
  }
  const auto* p = static_cast<const unsigned char*>(data);
  const size_t at = out.size();
  out.insert(out.end(), p, p + n);
  if (noise)
    for (size_t i = at; i < out.size(); ++i)
      if (NoiseHit()) out[i] = static_cast<unsigned char>(noiseState >> 8);
  // Write once the buffer holds a good piece, so a packet stream goes out in
  // large writes rather than one per packet.
  if (out.size() - outStart >= 16384) Flush();
  return true;
}

size_t FDTRANSFERLINE::OutQueue() {
  Flush();
  return out.size() - outStart;
}

void FDTRANSFERLINE::Purge() {
  out.clear();
  outStart = 0;
  unsigned char junk[4096];
  while (!eof && ::read(rfd, junk, sizeof junk) > 0) {
  }
}

void FDTRANSFERLINE::DropOutput() {
  out.clear();
  outStart = 0;
}

void FDTRANSFERLINE::Wait(int ms) {
  Flush();
  pollfd p[2];
  int n = 0;
  if (!eof) p[n++] = {rfd, POLLIN, 0};
  if (out.size() > outStart && !lost) p[n++] = {wfd, POLLOUT, 0};
  if (n == 0) {
    SleepMs(static_cast<unsigned>(std::max(ms, 0)));
    return;
  }
  while (::poll(p, static_cast<nfds_t>(n), ms) < 0 && errno == EINTR) {
    // A signal (SIGINT) ends the wait so the stop flag is seen at once.
    return;
  }
  for (int i = 0; i < n; ++i)
    if (p[i].fd == wfd && (p[i].revents & (POLLERR | POLLHUP)) && out.size() > outStart) Flush();
}

bool FDTRANSFERLINE::Drain(int ms) {
  const TICK end = GetTick() + static_cast<TICK>(ms);
  Flush();
  while (out.size() > outStart && !lost) {
    const TICK now = GetTick();
    if (now >= end) return false;
    pollfd p{wfd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(end - now)) < 0 && errno != EINTR) break;
    Flush();
  }
  return out.size() == outStart;
}

// ---- MEMORYLINE ----------------------------------------------------------------------

struct MEMORYLINE::SHARED {
  std::deque<unsigned char> q[2];  // q[i]: bytes written by side i
  size_t room;
  bool cut = false;
  bool manual = false;
  TICK clock = 0;
};

std::pair<std::unique_ptr<MEMORYLINE>, std::unique_ptr<MEMORYLINE>> MEMORYLINE::MakePair(size_t room) {
  auto s = std::make_shared<SHARED>();
  s->room = room;
  return {std::unique_ptr<MEMORYLINE>(new MEMORYLINE(s, 0)), std::unique_ptr<MEMORYLINE>(new MEMORYLINE(s, 1))};
}

MEMORYLINE::~MEMORYLINE() = default;

size_t MEMORYLINE::Read(unsigned char* buf, size_t max) {
  auto& in = shared->q[1 - side];
  const size_t n = std::min(max, in.size());
  std::copy_n(in.begin(), n, buf);
  in.erase(in.begin(), in.begin() + static_cast<long>(n));
  return n;
}

size_t MEMORYLINE::Unread(const unsigned char* data, size_t n) {
  auto& in = shared->q[1 - side];
  in.insert(in.begin(), data, data + n);
  return n;
}

bool MEMORYLINE::Write(const void* data, size_t n) {
  if (shared->cut) return true;
  auto& o = shared->q[side];
  if (o.size() + n > shared->room) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) {
    const std::uint8_t c = damage ? damage(p[i], sentIndex) : p[i];
    ++sentIndex;
    o.push_back(c);
  }
  return true;
}

size_t MEMORYLINE::Room() {
  const size_t used = shared->q[side].size();
  return used >= shared->room ? 0 : shared->room - used;
}

// The bytes this end wrote stay "in the line" until the other end reads them.
size_t MEMORYLINE::OutQueue() { return 0; }
void MEMORYLINE::Purge() { shared->q[side].clear(); shared->q[1 - side].clear(); }
bool MEMORYLINE::Lost() { return shared->cut; }
void MEMORYLINE::Wait(int ms) {
  if (shared->manual) shared->clock += static_cast<TICK>(ms > 0 ? ms : 1);
}
TICK MEMORYLINE::Now() { return shared->manual ? shared->clock : GetTick(); }
void MEMORYLINE::Cut() { shared->cut = true; }
void MEMORYLINE::UseManualClock() { shared->manual = true; }
void MEMORYLINE::Advance(TICK ms) { shared->clock += ms; }
void MEMORYLINE::SetDamage(std::uint8_t (*fn)(std::uint8_t, std::uint64_t)) { damage = fn; }
