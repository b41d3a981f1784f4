// Telnet: the connect attempt, the command filter and option negotiation.

#include "port/telnet.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/socketline.h"
#include "platform/ui.h"
#include "platform/wakeup.h"
#include "port/comport.h"
#include "shell/helpers.h"
#include "shell/hostprop.h"
#include "stock/stock.h"

int fSyncTelnet = 0;

unsigned char TELNET::options[256];
unsigned char TELNET::willwont_resp[256];
unsigned char TELNET::dodont_resp[256];
TELNET::TELRCVSTATE TELNET::telrcvState = TELNET::TS_DATA;
unsigned char TELNET::szSub[TELNET::SUB_MAX + 1];
int TELNET::cchSub = 0;
int (*TELNET::dialingWindow)(TELNETCONNECT& attempt) = nullptr;
void (*TELNET::windowSizeSource)(int* columns, int* lines) = nullptr;

// ============================================================================
// The connect attempt
// ============================================================================

struct TELNETCONNECT::SHARED {
  std::mutex mu;
  std::string host;
  int port = 0;
  STATE state = PENDING;
  FAILURE failure = NONE;
  int sock = -1;           // the connected socket until taken (or closed on cancel)
  bool inLookup = false;   // the worker is inside getaddrinfo and cannot be interrupted
  WAKEUP done;             // readable once the attempt has ended
  WAKEUP cancel;           // readable once Cancel was called
  std::thread worker;

  ~SHARED() {
    if (sock >= 0) close(sock);
  }

  // Ends the attempt once; a later end (a cancel racing a connect) is ignored
  // and its socket closed.
  void Finish(STATE st, FAILURE why, int fd) {
    {
      std::lock_guard lk(mu);
      if (state != PENDING) {
        if (fd >= 0) close(fd);
        return;
      }
      state = st;
      failure = why;
      sock = fd;
    }
    done.Signal();
  }

  bool Cancelled() {
    std::lock_guard lk(mu);
    return state != PENDING;
  }
};

namespace {

// Waits for a non-blocking connect to finish or for a cancel.  Returns 0
// connected, an errno value on failure, -1 when cancelled.
int AwaitConnect(int fd, TELNETCONNECT::SHARED& s) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLOUT, 0}, {s.cancel.Fd(), POLLIN, 0}};
    const int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (fds[1].revents) return -1;
    if (fds[0].revents) {
      int err = 0;
      socklen_t len = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return errno;
      return err;
    }
  }
}

// The attempt itself: lookup (unless the host is an address), then each
// address in turn.  blocking: a plain blocking connect (fSyncTelnet).
void RunAttempt(const std::shared_ptr<TELNETCONNECT::SHARED>& sp, bool blocking) {
  TELNETCONNECT::SHARED& s = *sp;
  const std::string service = std::to_string(s.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(s.host.c_str(), service.c_str(), &hints, &list);
  if (rc == EAI_NONAME) {
    // Not an address: a name to look up.
    DebugLogF("resolving %s\n", s.host.c_str());
    hints.ai_flags = AI_NUMERICSERV;
    {
      std::lock_guard lk(s.mu);
      s.inLookup = true;
    }
    rc = getaddrinfo(s.host.c_str(), service.c_str(), &hints, &list);
    std::lock_guard lk(s.mu);
    s.inLookup = false;
  }
  if (rc != 0 || !list) {
    DebugLogF("host lookup failed - %s\n", rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
    if (list) freeaddrinfo(list);
    s.Finish(TELNETCONNECT::FAILED, TELNETCONNECT::UNKNOWN_HOST, -1);
    return;
  }

  int lastError = ECONNREFUSED;
  bool noSocket = true;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (s.Cancelled()) break;
    const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK),
                          ai->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    noSocket = false;
    int r;
    while ((r = connect(fd, ai->ai_addr, ai->ai_addrlen)) < 0 && errno == EINTR && blocking) {
    }
    int err = r == 0 ? 0 : errno;
    if (r == 0) {
      DebugLog("connected sync\n");
    } else if (!blocking && (err == EINPROGRESS || err == EINTR)) {
      err = AwaitConnect(fd, s);
      if (err < 0) {  // cancelled
        close(fd);
        break;
      }
      if (err == 0) DebugLog("connected async\n");
    }
    if (err == 0) {
      const int one = 1;
      // Keystrokes go out as they are typed rather than waiting for an ACK.
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      freeaddrinfo(list);
      s.Finish(TELNETCONNECT::CONNECTED, TELNETCONNECT::NONE, fd);
      return;
    }
    DebugLogF("connect error - %d\n", err);
    lastError = err;
    close(fd);
  }
  freeaddrinfo(list);
  (void)lastError;
  s.Finish(TELNETCONNECT::FAILED, noSocket ? TELNETCONNECT::NO_RESOURCES : TELNETCONNECT::CONNECT_ERROR, -1);
}

}  // namespace

TELNETCONNECT::TELNETCONNECT(std::string host, int port) : s(std::make_shared<SHARED>()) {
  s->host = std::move(host);
  s->port = port;
  if (!s->done.Valid() || !s->cancel.Valid()) {
    s->Finish(FAILED, NO_RESOURCES, -1);
    return;
  }
  if (fSyncTelnet) {
    RunAttempt(s, true);
    return;
  }
  try {
    s->worker = std::thread(RunAttempt, s, false);
  } catch (const std::system_error&) {
    DebugLog("cannot start the connect thread\n");
    s->Finish(FAILED, NO_RESOURCES, -1);
  }
}

std::unique_ptr<TELNETCONNECT> TELNETCONNECT::Failed(std::string host, FAILURE why) {
  std::unique_ptr<TELNETCONNECT> a(new TELNETCONNECT());
  a->s = std::make_shared<SHARED>();
  a->s->host = std::move(host);
  a->s->Finish(FAILED, why, -1);
  return a;
}

TELNETCONNECT::~TELNETCONNECT() {
  if (!s) return;
  Cancel();
  if (!s->worker.joinable()) return;
  bool lookingUp;
  {
    std::lock_guard lk(s->mu);
    lookingUp = s->inLookup;
  }
  // A connect ends at the cancel; a name lookup cannot be interrupted, so its
  // thread finishes on its own (it holds its share of the state).
  if (lookingUp)
    s->worker.detach();
  else
    s->worker.join();
}

int TELNETCONNECT::NotifyFd() const { return s->done.Fd(); }

TELNETCONNECT::STATE TELNETCONNECT::State() const {
  std::lock_guard lk(s->mu);
  return s->state;
}

TELNETCONNECT::FAILURE TELNETCONNECT::Failure() const {
  std::lock_guard lk(s->mu);
  return s->failure;
}

const std::string& TELNETCONNECT::Host() const { return s->host; }

TELNETCONNECT::STATE TELNETCONNECT::Wait(int ms) {
  pollfd fd = {s->done.Fd(), POLLIN, 0};
  if (State() == PENDING) {
    while (poll(&fd, 1, ms) < 0 && errno == EINTR) {
    }
  }
  return State();
}

void TELNETCONNECT::Cancel() {
  bool was;
  {
    std::lock_guard lk(s->mu);
    was = s->state == PENDING;
  }
  if (!was) return;
  s->Finish(FAILED, CANCELED, -1);
  s->cancel.Signal();
}

int TELNETCONNECT::TakeSocket() {
  std::lock_guard lk(s->mu);
  if (s->state != CONNECTED) return -1;
  const int fd = s->sock;
  s->sock = -1;
  return fd;
}

// ============================================================================
// Connecting
// ============================================================================

int TELNET::PortNumber(const char* portName) { return portName ? TelnetPortNumber(portName) : 0; }

int TELNET::TelnetDialingDlgProc(TELNETCONNECT& attempt) {
  int r;
  if (dialingWindow) {
    r = dialingWindow(attempt);
  } else {
    // No screen: nobody can press cancel, so the wait has a limit.
    if (attempt.Wait(HEADLESS_CONNECT_LIMIT_MS) == TELNETCONNECT::PENDING) {
      DebugLog("connect timed out\n");
      attempt.Cancel();
    }
    r = attempt.State() == TELNETCONNECT::CONNECTED ? 1 : 2;
  }
  if (r != 1) attempt.Cancel();
  return r;
}

int TELNET::ConnectSocket() {
  const std::string host = hostprop.DialNo;
  const int port = PortNumber(hostprop.PortName);
  if (port == 0) {
    DebugLogF("unknown service - %s\n", hostprop.PortName);
    return 0;
  }
  // The blocking variant has connected or failed by the time the attempt
  // is constructed; there is nothing to show a window for.
  TELNETCONNECT attempt(host, port);
  const int r = fSyncTelnet ? (attempt.State() == TELNETCONNECT::CONNECTED ? 1 : 2)
                            : ui::Current().RunModal([&attempt] { return TelnetDialingDlgProc(attempt); });
  if (r != 1) return 0;
  const int fd = attempt.TakeSocket();
  if (fd < 0) return 0;
  return Start(std::make_unique<SOCKETLINE>(fd));
}

int TELNET::Start(std::unique_ptr<LINE> line) {
  std::memset(options, 0, sizeof options);
  telrcvState = TS_DATA;
  cchSub = 0;
  COMPORT::fTelnetBinary = 0;
  COMPORT::telnetReceiveFilter = &ProcessTelnetConvert;
  return COMPORT::Start(std::move(line));
}

int TELNET::ReportConnectFailure() {
  const std::string text = jcode::SjisToUtf8(hostprop.DialNo) +
                           " への接続に失敗しました。ダイヤルアップ接続をキャンセルした場合は一度Quillnetを起動しなおすか、"
                           "またはダイヤルアップ接続を別に起動してください。";
  // Cancel is the default, so a run without a screen gives up instead of
  // retrying for ever.
  return MyMessageBox(text, ui::MB_RETRYCANCEL | ui::MB_ICONWARNING | ui::MB_DEFBUTTON2);
}

// ============================================================================
// Negotiation
// ============================================================================

namespace {

bool MyStateIsWill(int o) { return TELNET::options[o] & TELNET::MY_STATE_WILL; }
bool MyWantStateIsWill(int o) { return TELNET::options[o] & TELNET::MY_WANT_WILL; }
bool MyStateIsDo(int o) { return TELNET::options[o] & TELNET::MY_STATE_DO; }
bool MyWantStateIsDo(int o) { return TELNET::options[o] & TELNET::MY_WANT_DO; }

void SetBits(int o, unsigned char bits) { TELNET::options[o] |= bits; }
void ClearBits(int o, unsigned char bits) { TELNET::options[o] &= static_cast<unsigned char>(~bits); }

// The port sends CR alone while this side is in binary mode.
void SyncBinary() { COMPORT::fTelnetBinary = MyWantStateIsWill(TELNET::TELOPT_BINARY) ? 1 : 0; }

void SetMyStateWill(int o) {
  DebugLogF("my_state_will %d\n", o);
  SetBits(o, TELNET::MY_STATE_WILL);
}
void SetMyStateWont(int o) {
  DebugLogF("my_state_wont %d\n", o);
  ClearBits(o, TELNET::MY_STATE_WILL);
}
void SetMyStateDo(int o) {
  DebugLogF("my_state_do %d\n", o);
  SetBits(o, TELNET::MY_STATE_DO);
}
void SetMyStateDont(int o) {
  DebugLogF("my_state_dont %d\n", o);
  ClearBits(o, TELNET::MY_STATE_DO);
}

void SendCommand(unsigned char cmd, int option) {
  COMPORT::SendSub(static_cast<char>(TELNET::IAC));
  COMPORT::SendSub(static_cast<char>(cmd));
  COMPORT::SendSub(static_cast<char>(option));
}

// A counter of owed replies takes one reply; a second one when the reply
// confirms the state this side is already in (the host answered twice).
void TakeReply(unsigned char& counter, bool confirmsState) {
  if (counter == 0) return;
  --counter;
  if (counter != 0 && confirmsState) --counter;
}

void AddSub(unsigned char c) {
  if (TELNET::cchSub < TELNET::SUB_MAX)
    TELNET::szSub[TELNET::cchSub++] = c;
  else
    DebugLog("szSub overflow\n");
}

void SendSubnegotiation(int option, const char* text) {
  COMPORT::SendSub(static_cast<char>(TELNET::IAC));
  COMPORT::SendSub(static_cast<char>(TELNET::SB));
  COMPORT::SendSub(static_cast<char>(option));
  COMPORT::SendSub('\0');  // IS
  COMPORT::SendSub(text);
  COMPORT::SendSub(static_cast<char>(TELNET::IAC));
  COMPORT::SendSub(static_cast<char>(TELNET::SE));
}

}  // namespace

void TELNET::send_do(int o, int init) {
  if (init) {
    if ((dodont_resp[o] == 0 && MyStateIsDo(o)) || MyWantStateIsDo(o)) return;
    SetBits(o, MY_WANT_DO);
    ++dodont_resp[o];
  }
  DebugLogF("send_do %d\n", o);
  SendCommand(DO, o);
}

void TELNET::send_dont(int o, int init) {
  if (init) {
    if ((dodont_resp[o] == 0 && !MyStateIsDo(o)) || !MyWantStateIsDo(o)) return;
    ClearBits(o, MY_WANT_DO);
    ++dodont_resp[o];
  }
  DebugLogF("send_dont %d\n", o);
  SendCommand(DONT, o);
}

void TELNET::send_will(int o, int init) {
  if (init) {
    if ((willwont_resp[o] == 0 && MyStateIsWill(o)) || MyWantStateIsWill(o)) return;
    SetBits(o, MY_WANT_WILL);
    ++willwont_resp[o];
    SyncBinary();
  }
  DebugLogF("send_will %d\n", o);
  SendCommand(WILL, o);
}

void TELNET::send_wont(int o, int init) {
  if (init) {
    if ((willwont_resp[o] == 0 && !MyStateIsWill(o)) || !MyWantStateIsWill(o)) return;
    ClearBits(o, MY_WANT_WILL);
    ++willwont_resp[o];
    SyncBinary();
  }
  DebugLogF("send_wont %d\n", o);
  SendCommand(WONT, o);
}

void TELNET::willoption(int o) {
  DebugLogF("telrcv_will %d\n", o);
  TakeReply(dodont_resp[o], MyStateIsDo(o));
  if (dodont_resp[o] == 0 && !MyWantStateIsDo(o)) {
    // Every option the host offers is accepted.
    SetBits(o, MY_WANT_DO);
    send_do(o, 0);
  }
  SetMyStateDo(o);
}

void TELNET::wontoption(int o) {
  DebugLogF("telrcv_wont %d\n", o);
  TakeReply(dodont_resp[o], !MyStateIsDo(o));
  if (dodont_resp[o] == 0 && MyWantStateIsDo(o)) {
    ClearBits(o, MY_WANT_DO);
    if (MyStateIsDo(o)) send_dont(o, 0);
  } else if (o == TELOPT_TM) {
    ClearBits(o, MY_WANT_DO);
  }
  SetMyStateDont(o);
}

void TELNET::dooption(int o) {
  DebugLogF("telrcv_do %d\n", o);
  TakeReply(willwont_resp[o], MyStateIsWill(o));
  if (willwont_resp[o] == 0 && !MyWantStateIsWill(o)) {
    switch (o) {
      case TELOPT_BINARY:
      case TELOPT_ECHO:
      case TELOPT_SGA:
      case TELOPT_TTYPE:
      case TELOPT_NAWS:
      case TELOPT_TSPEED:
      case TELOPT_LFLOW:
        SetBits(o, MY_WANT_WILL);
        SyncBinary();
        send_will(o, 0);
        break;
      case TELOPT_ENVIRON:
        // No environment to give; the window size is offered instead.
        send_will(TELOPT_NAWS, 1);
        ++willwont_resp[o];
        send_wont(o, 0);
        break;
      default:
        ++willwont_resp[o];
        send_wont(o, 0);
        break;
    }
  }
  SetMyStateWill(o);
}

void TELNET::dontoption(int o) {
  DebugLogF("telrcv_dont %d\n", o);
  TakeReply(willwont_resp[o], !MyStateIsWill(o));
  if (willwont_resp[o] == 0 && MyWantStateIsWill(o)) {
    // A DONT is always accepted: this side stops wanting the option too, so
    // that binary mode ends and a later DO is answered again.
    ClearBits(o, MY_WANT_WILL);
    SyncBinary();
    if (MyStateIsWill(o)) send_wont(o, 0);
  }
  SetMyStateWont(o);
}

void TELNET::suboption() {
  const int option = cchSub > 0 ? szSub[0] : -1;
  const bool askSend = cchSub > 1 && szSub[1] == 1;
  switch (option) {
    case TELOPT_TTYPE:
      if (askSend) {
        SendSubnegotiation(TELOPT_TTYPE, TERMINAL_TYPE);
        send_will(TELOPT_NAWS, 1);
      }
      break;
    case TELOPT_NAWS:
      NotifyWindowSize();
      break;
    case TELOPT_TSPEED:
      if (askSend) SendSubnegotiation(TELOPT_TSPEED, TERMINAL_SPEED);
      break;
    case TELOPT_LFLOW:
      break;
    default:
      DebugLogF("suboption: unknown - %d\n", option);
      break;
  }
}

void TELNET::NotifyWindowSize() {
  if (!COMPORT::IsOpen() || !COMPORT::fSocket || !MyStateIsWill(TELOPT_NAWS)) return;
  int columns = STOCK::cColumn > 0 ? STOCK::cColumn : 80, lines = 24;
  if (windowSizeSource) windowSizeSource(&columns, &lines);
  columns = std::clamp(columns, 0, 0xFFFF);
  lines = std::clamp(lines, 0, 0xFFFF);
  // The size bytes are binary: they go straight to the line with IAC doubled,
  // never through the text path (a height of 24 is CAN, a width of 0x81 a
  // Shift_JIS lead byte).
  const unsigned char size[4] = {static_cast<unsigned char>(columns >> 8), static_cast<unsigned char>(columns),
                                 static_cast<unsigned char>(lines >> 8), static_cast<unsigned char>(lines)};
  COMPORT::SendSub(static_cast<char>(IAC));
  COMPORT::SendSub(static_cast<char>(SB));
  COMPORT::SendSub(static_cast<char>(TELOPT_NAWS));
  for (unsigned char b : size) {
    COMPORT::SendSub(static_cast<char>(b));
    if (b == IAC) COMPORT::SendSub(static_cast<char>(b));
  }
  COMPORT::SendSub(static_cast<char>(IAC));
  COMPORT::SendSub(static_cast<char>(SE));
}

// ============================================================================
// The command filter
// ============================================================================

// The index of the first IAC (0xFF) or NUL at or after `i`, or n.  Sixteen
// bytes at a time where SSE2 is there (sixty-four per test while nothing is
// found, which is all a flood of text ever meets), else eight: the lowest
// flagged byte of the zero-byte test is exact.
static size_t NextIacOrNul(const unsigned char* data, size_t i, size_t n) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), iac = _mm_set1_epi8(char(0xFF));
  const auto flags = [&](size_t at) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    return _mm_or_si128(_mm_cmpeq_epi8(w, zero), _mm_cmpeq_epi8(w, iac));
  };
  for (; i + 64 <= n; i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(flags(i), flags(i + 16)), _mm_or_si128(flags(i + 32), flags(i + 48)));
    if (_mm_movemask_epi8(any) != 0) break;  // the loop below finds it
  }
  for (; i + 16 <= n; i += 16) {
    const int hit = _mm_movemask_epi8(flags(i));
    if (hit != 0) return i + size_t(std::countr_zero(unsigned(hit)));
  }
  if (i < n && n >= 16) {
    // The last few bytes: the sixteen that end the data, the flags of the
    // bytes before i shifted out.
    const unsigned hit = unsigned(_mm_movemask_epi8(flags(n - 16))) >> (i - (n - 16));
    return hit != 0 ? i + size_t(std::countr_zero(hit)) : n;
  }
#endif
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, data + i, 8);
    const uint64_t nul = (w - kOnes) & ~w & kHigh;
    const uint64_t iac = (~w - kOnes) & w & kHigh;
    if (const uint64_t hit = nul | iac) {
      if constexpr (std::endian::native == std::endian::little) return i + size_t(std::countr_zero(hit)) / 8;
      break;
    }
  }
  while (i < n && data[i] != TELNET::IAC && data[i] != 0) ++i;
  return i;
}

size_t TELNET::ProcessTelnetConvert(unsigned char* data, size_t n) {
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    // Plain data moves in one step: everything up to the next IAC or NUL.
    // A CR inside the run is followed by another data byte, so only a CR
    // that ends the run can start a CR NUL.
    if (telrcvState == TS_DATA && data[i] != IAC && data[i] != 0) {
      const size_t j = NextIacOrNul(data, i, n);
      if (out != i) std::memmove(data + out, data + i, j - i);
      out += j - i;
      i = j - 1;
      if (data[i] == '\r' && !MyWantStateIsDo(TELOPT_BINARY)) telrcvState = TS_CR;
      continue;
    }
    const unsigned char c = data[i];
    switch (telrcvState) {
      case TS_CR:
        telrcvState = TS_DATA;
        if (c == 0) break;  // CR NUL is CR
        [[fallthrough]];
      case TS_DATA:
        if (c == IAC) {
          telrcvState = TS_IAC;
          break;
        }
        data[out++] = c;
        if (c == '\r' && !MyWantStateIsDo(TELOPT_BINARY)) telrcvState = TS_CR;
        break;

      case TS_SE:
        if (c == SE) {
          szSub[cchSub] = 0;
          telrcvState = TS_DATA;
          suboption();
          break;
        }
        if (c == IAC) {
          AddSub(IAC);
          telrcvState = TS_SB;
          break;
        }
        // Any other command ends the subnegotiation unheard and is itself
        // taken as the command after IAC.
        DebugLogF("subnegotiation ended by command %d\n", c);
        [[fallthrough]];
      case TS_IAC:
        switch (c) {
          case IAC:
            data[out++] = IAC;
            telrcvState = TS_DATA;
            break;
          case SB:
            cchSub = 0;
            telrcvState = TS_SB;
            break;
          case WILL: telrcvState = TS_WILL; break;
          case WONT: telrcvState = TS_WONT; break;
          case DO: telrcvState = TS_DO; break;
          case DONT: telrcvState = TS_DONT; break;
          default: telrcvState = TS_DATA; break;  // DM, NOP, GA and the rest
        }
        break;

      case TS_WILL:
        telrcvState = TS_DATA;
        willoption(c);
        break;
      case TS_WONT:
        telrcvState = TS_DATA;
        wontoption(c);
        break;
      case TS_DO:
        telrcvState = TS_DATA;
        dooption(c);
        if (c == TELOPT_NAWS) NotifyWindowSize();
        break;
      case TS_DONT:
        telrcvState = TS_DATA;
        dontoption(c);
        break;

      case TS_SB:
        if (c == IAC)
          telrcvState = TS_SE;
        else
          AddSub(c);
        break;
    }
  }
  return out;
}

void TELNET::ResetForTest() {
  std::memset(options, 0, sizeof options);
  std::memset(willwont_resp, 0, sizeof willwont_resp);
  std::memset(dodont_resp, 0, sizeof dodont_resp);
  telrcvState = TS_DATA;
  std::memset(szSub, 0, sizeof szSub);
  cchSub = 0;
  dialingWindow = nullptr;
  windowSizeSource = nullptr;
  fSyncTelnet = 0;
  COMPORT::fTelnetBinary = 0;
}
