// Fuzzes the telnet command filter and the negotiation behind it.
//
// Each input is run twice on a fresh negotiation state: once as one read and
// once cut into reads at places chosen by the first byte.  Both runs must
// leave the same data, send the same replies (read back from the port's
// line) and end in the same option tables.  Data never grows, the
// subnegotiation buffer stays within its 255 bytes, and input without IAC
// comes out unchanged apart from the NUL of CR NUL.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fdline.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/telnet.h"

namespace {

int peerFd = -1;

void OpenPort() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  FDLINE::Options o;
  o.socket = true;
  if (TELNET::Start(std::make_unique<FDLINE>(sv[0], sv[0], o)) != 1) std::abort();
  peerFd = sv[1];
}

// Reads exactly n bytes of replies from the port's line (bounded wait).
std::string ReadReplies(size_t n) {
  std::string got;
  char buf[4096];
  while (got.size() < n) {
    // A signal (libFuzzer's time-out alarm) interrupts the wait without
    // meaning anything; only a wait that runs out means lost bytes.
    pollfd p{peerFd, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, 10000)) < 0 && errno == EINTR) {
    }
    if (r <= 0) std::abort();  // the writer lost bytes
    ssize_t k;
    while ((k = read(peerFd, buf, std::min(sizeof buf, n - got.size()))) < 0 && errno == EINTR) {
    }
    if (k <= 0) std::abort();
    got.append(buf, static_cast<size_t>(k));
  }
  return got;
}

struct RUN {
  std::string data, replies;
  std::vector<unsigned char> options, willwont, dodont;
  int state;
};

RUN Run(const uint8_t* in, size_t size, uint8_t cuts) {
  TELNET::ResetForTest();
  TELNET::windowSizeSource = [](int* c, int* l) {
    *c = 0x1FF;  // an IAC among the size bytes
    *l = 24;
  };
  COMPORT::cSent = 0;
  RUN r;
  std::vector<unsigned char> buf(in, in + size);
  size_t at = 0;
  uint32_t seed = cuts;
  while (at < size) {
    size_t n = size - at;
    if (cuts) {
      seed = seed * 1103515245u + 12345u;
      n = std::min(n, static_cast<size_t>(1 + (seed >> 16) % 7));
    }
    std::vector<unsigned char> chunk(buf.begin() + static_cast<long>(at), buf.begin() + static_cast<long>(at + n));
    const size_t kept = TELNET::ProcessTelnetConvert(chunk.data(), n);
    if (kept > n) std::abort();
    if (TELNET::cchSub < 0 || TELNET::cchSub > TELNET::SUB_MAX) std::abort();
    r.data.append(reinterpret_cast<const char*>(chunk.data()), kept);
    at += n;
  }
  r.replies = ReadReplies(static_cast<size_t>(COMPORT::cSent));
  r.options.assign(TELNET::options, TELNET::options + 256);
  r.willwont.assign(TELNET::willwont_resp, TELNET::willwont_resp + 256);
  r.dodont.assign(TELNET::dodont_resp, TELNET::dodont_resp + 256);
  r.state = TELNET::telrcvState;
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  ui::SetFacade(&quiet);
  if (peerFd < 0) OpenPort();
  if (size < 1) return 0;
  const uint8_t cuts = data[0] | 1;
  ++data;
  --size;
  // Replies stay well inside the 4096-byte writer buffer.
  if (size > 512) size = 512;

  const RUN whole = Run(data, size, 0);
  const RUN pieces = Run(data, size, cuts);
  if (whole.data != pieces.data || whole.replies != pieces.replies || whole.options != pieces.options ||
      whole.willwont != pieces.willwont || whole.dodont != pieces.dodont || whole.state != pieces.state)
    std::abort();
  if (whole.data.size() > size) std::abort();
  if (!quiet.boxes.empty()) std::abort();  // "送信不能": a reply was lost

  if (!std::memchr(data, 0xFF, size)) {
    std::string expected;
    for (size_t i = 0; i < size; ++i)
      if (!(data[i] == 0 && i > 0 && data[i - 1] == '\r')) expected.push_back(static_cast<char>(data[i]));
    if (whole.data != expected) std::abort();
  }
  return 0;
}
