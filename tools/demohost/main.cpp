// quillnet-demohost: a small telnet BBS on 127.0.0.1 to connect Quillnet to.
//
//   quillnet-demohost [--port N] [--code sjis|jis|euc] [--auto-login] [--once]
//                     [--modem PTY-LINK [--answers LIST]]
//
// It negotiates like the hosts of its day (WILL ECHO, WILL SUPPRESS-GO-AHEAD,
// DO TERMINAL-TYPE, DO NAWS, and asks for the terminal type), asks for an ID
// and a password (any are accepted; "jis" or "euc" as the ID asks for that
// code), and serves a main menu, board lists, message lists and messages in
// Shift_JIS, JIS or EUC.  --port 0 takes a free port; the port in use is
// printed as "listening on 127.0.0.1:PORT".  --once serves one call and exits
// with 0 when it ends.
//
// --modem PTY-LINK serves the same BBS on a pty instead, behind a Hayes-style
// modem (see modem.h): PTY-LINK becomes a symbolic link to the pty's device,
// removed on exit.  --answers gives the results ATD cycles through, ";" or
// "," between them, "-" for no answer ("BUSY;CONNECT 9600").  A pty has no
// modem lines: the carrier's loss shows only as "NO CARRIER", and closing the
// device counts as dropping DTR (the call is hung up).
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "port/linecode.h"
#include "tools/demohost/bbs.h"
#include "tools/demohost/modem.h"

namespace {

using demohost::CODE;

enum : unsigned char {
  SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255,
  ECHO = 1, SGA = 3, TTYPE = 24, NAWS = 31,
};

struct OPTIONS {
  int port = 2323;
  demohost::SESSIONOPTIONS session;
  bool once = false;
  bool help = false;  // --help: the usage on standard output, status 0
  std::string modemLink;  // empty: telnet
  std::vector<std::string> answers{"CONNECT 9600"};
};

// One caller on one socket: telnet on the outside, the session inside.
class CALLER {
 public:
  CALLER(int fd, demohost::SESSIONOPTIONS options) : fd(fd), session(options), floodBytes(options.floodBytes) {}

  void Run() {
    const unsigned char hello[] = {IAC, WILL, ECHO, IAC, WILL, SGA, IAC, DO, TTYPE, IAC, DO, NAWS};
    Raw(hello, sizeof hello);
    // Give the caller a moment to answer the options, so the welcome screen
    // can show what it said; a caller that never answers is served anyway.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (!(gotType && gotSize) && std::chrono::steady_clock::now() < until) {
      if (!ReadSome(100)) return;
      if (refusedType && (gotSize || refusedSize)) break;
    }
    session.SetTerminal(type, columns, lines);
    session.Start();
    started = true;
    // Whatever was typed ahead during the negotiation comes after the banner.
    for (unsigned char c : typedAhead) Typed(c);
    typedAhead.clear();
    Flush();
    if (floodBytes > 0) {
      // Load test: message text as fast as the line takes it, then hang up.
      size_t index = 0, sent = 0;
      while (sent < floodBytes) {
        const std::string chunk = demohost::FloodLines(&index, std::min<size_t>(65536, floodBytes - sent));
        if (!Raw(chunk.data(), chunk.size())) return;
        sent += chunk.size();
      }
      shutdown(fd, SHUT_WR);
      return;
    }
    while (!session.Finished()) {
      if (!ReadSome(-1)) return;
      Flush();
    }
    Flush();
    shutdown(fd, SHUT_WR);
  }

 private:
  bool Raw(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    while (n > 0) {
      const ssize_t w = send(fd, b, n, MSG_NOSIGNAL);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      b += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  LINECODEPARAM Param() const {
    LINECODEPARAM p;
    p.KanjiCode = session.Code() == CODE::JIS ? 1 : session.Code() == CODE::EUC ? 4 : 0;
    return p;
  }

  // Sends the session's output in the caller's code, IAC doubled.
  void Flush() {
    const std::string text = session.TakeOutput();
    if (text.empty()) return;
    struct SINK : SENDSINK {
      std::string bytes;
      void Sub(unsigned char c) override { bytes.push_back(static_cast<char>(c)); }
      void WithEcho(unsigned char c, unsigned char) override {
        bytes.push_back(static_cast<char>(c));
        if (c == IAC) bytes.push_back(static_cast<char>(c));
      }
    } sink;
    const LINECODEPARAM p = Param();
    for (char c : text) encoder.Encode(p, false, static_cast<unsigned char>(c), sink);
    Raw(sink.bytes.data(), sink.bytes.size());
  }

  // Reads what is there (waiting up to ms) and hands it on.  False when the
  // caller has gone.
  bool ReadSome(int ms) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    if (r < 0) return errno == EINTR;
    if (r == 0) return true;
    unsigned char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    for (ssize_t i = 0; i < n; ++i) Telnet(buf[i]);
    return true;
  }

  void Telnet(unsigned char c) {
    switch (state) {
      case 0:
        if (c == IAC) {
          state = 1;
        } else if (lastCr && (c == 0 || c == '\n')) {
          lastCr = false;  // CR NUL and CR LF end one line
        } else {
          lastCr = c == '\r';
          Typed(c);
        }
        return;
      case 1:
        if (c == IAC) {
          Typed(c);
          state = 0;
        } else if (c == SB) {
          sub.clear();
          state = 3;
        } else if (c >= WILL && c <= DONT) {
          verb = c;
          state = 2;
        } else {
          state = 0;
        }
        return;
      case 2:
        Option(verb, c);
        state = 0;
        return;
      case 3:
        if (c == IAC)
          state = 4;
        else if (sub.size() < 256)
          sub.push_back(static_cast<char>(c));
        return;
      case 4:
        if (c == SE) {
          Subnegotiation();
          state = 0;
        } else if (c == IAC) {
          if (sub.size() < 256) sub.push_back(static_cast<char>(c));
          state = 3;
        } else {
          state = 0;
        }
        return;
    }
  }

  void Option(unsigned char v, unsigned char opt) {
    if (v == WILL && opt == TTYPE) {
      const unsigned char ask[] = {IAC, SB, TTYPE, 1, IAC, SE};
      Raw(ask, sizeof ask);
    } else if (v == WONT && opt == TTYPE) {
      refusedType = true;
    } else if (v == WONT && opt == NAWS) {
      refusedSize = true;
    } else if (v == DO && opt != ECHO && opt != SGA) {
      const unsigned char no[] = {IAC, WONT, opt};
      Raw(no, sizeof no);
    } else if (v == WILL && opt != TTYPE && opt != NAWS) {
      const unsigned char no[] = {IAC, DONT, opt};
      Raw(no, sizeof no);
    }
  }

  void Subnegotiation() {
    if (sub.size() >= 2 && static_cast<unsigned char>(sub[0]) == TTYPE && sub[1] == 0) {
      type = sub.substr(2);
      gotType = true;
    } else if (sub.size() >= 5 && static_cast<unsigned char>(sub[0]) == NAWS) {
      const auto* s = reinterpret_cast<const unsigned char*>(sub.data());
      columns = s[1] << 8 | s[2];
      lines = s[3] << 8 | s[4];
      gotSize = true;
      session.SetTerminal("", columns, lines);
    }
  }

  // A byte the caller typed, in the caller's code: decoded to Shift_JIS.
  void Typed(unsigned char c) {
    if (!started) {
      typedAhead.push_back(static_cast<char>(c));
      return;
    }
    unsigned char out[RECEIVEDECODER::MaxOutput(1)];
    const size_t n = decoder.Convert(Param(), &c, 1, out);
    for (size_t i = 0; i < n; ++i) session.Input(out[i]);
    // The session echoes into its output; a line end may bring a screen.
    Flush();
  }

  int fd;
  demohost::SESSION session;
  size_t floodBytes;
  SENDENCODER encoder;
  RECEIVEDECODER decoder;
  int state = 0;
  unsigned char verb = 0;
  bool lastCr = false;
  std::string sub, type;
  int columns = 0, lines = 0;
  bool started = false;
  std::string typedAhead;
  bool gotType = false, gotSize = false, refusedType = false, refusedSize = false;
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: quillnet-demohost [--port N] [--code sjis|jis|euc] [--auto-login] [--once]\n"
               "                         [--tour KEYS] [--flood MIB] [--modem PTY-LINK [--answers LIST]]\n"
               "  A telnet BBS on 127.0.0.1 for Quillnet to call (default port 2323), or with\n"
               "  --modem a modem on a pty linked as PTY-LINK; LIST is what ATD answers in\n"
               "  turn, e.g. \"BUSY;CONNECT 9600\" (\"-\" for no answer; default CONNECT 9600).\n"
               "  --tour KEYS  the caller seems to type KEYS (\\r for Enter) after the opening\n"
               "  --flood MIB  log in, send MIB MiB of message text at full speed, hang up\n"
               "  -h, --help   show this text and exit\n");
}

// "\r", "\n" and "\\" in a --tour argument.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out.push_back(n == 'r' ? '\r' : n == 'n' ? '\n' : n);
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

bool ParseArgs(int argc, char** argv, OPTIONS* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--port" && i + 1 < argc) {
      char* end;
      const long p = std::strtol(argv[++i], &end, 10);
      if (*end || p < 0 || p > 65535) return false;
      o->port = static_cast<int>(p);
    } else if (a == "--code" && i + 1 < argc) {
      const std::string c = argv[++i];
      if (c == "sjis")
        o->session.code = CODE::SJIS;
      else if (c == "jis")
        o->session.code = CODE::JIS;
      else if (c == "euc")
        o->session.code = CODE::EUC;
      else
        return false;
    } else if (a == "--auto-login") {
      o->session.autoLogin = true;
    } else if (a == "--modem" && i + 1 < argc) {
      o->modemLink = argv[++i];
      if (o->modemLink.empty()) return false;
    } else if (a == "--answers" && i + 1 < argc) {
      o->answers = demohost::SplitAnswers(argv[++i]);
      if (o->answers.empty()) return false;
    } else if (a == "--tour" && i + 1 < argc) {
      o->session.tour = Unescape(argv[++i]);
    } else if (a == "--flood" && i + 1 < argc) {
      char* end;
      const double mib = std::strtod(argv[++i], &end);
      if (*end || !(mib > 0) || mib > 65536) return false;
      o->session.floodBytes = static_cast<size_t>(mib * 1024 * 1024);
      o->session.autoLogin = true;
    } else if (a == "--once") {
      o->once = true;
    } else if (a == "--help" || a == "-h") {
      o->help = true;
    } else {
      return false;
    }
  }
  return true;
}

// The link to remove when the program ends, also from a signal handler.
char linkToRemove[4096];

void RemoveLinkAndExit(int) {
  if (linkToRemove[0]) unlink(linkToRemove);
  _exit(0);
}

// Writes all of s to the pty's master side.  Gives up after two seconds
// without room, when nobody reads the other end.
void WriteMaster(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t w = write(fd, s.data() + done, s.size() - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 2000) <= 0) return;
    } else if (!(w < 0 && errno == EINTR)) {
      return;
    }
  }
}

int RunModem(const OPTIONS& opt) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::fprintf(stderr, "quillnet-demohost: cannot open a pty: %s\n", std::strerror(errno));
    return 1;
  }
  const char* slave = ptsname(master);
  if (!slave) {
    std::fprintf(stderr, "quillnet-demohost: ptsname: %s\n", std::strerror(errno));
    return 1;
  }
  const std::string device = slave;
  // Raw from the start, so that a caller that sets nothing gets no line
  // editing or echo from the pty itself.  The settings stay while the master
  // is open.
  demohost::MakeRaw(device);
  // A link left by an earlier run is replaced; anything else is not touched.
  struct stat st;
  if (lstat(opt.modemLink.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(opt.modemLink.c_str());
  // The handlers are in place before the link exists, so that it never
  // outlives the program.
  if (opt.modemLink.size() >= sizeof linkToRemove) {
    std::fprintf(stderr, "quillnet-demohost: %s: name too long\n", opt.modemLink.c_str());
    return 1;
  }
  std::snprintf(linkToRemove, sizeof linkToRemove, "%s", opt.modemLink.c_str());
  struct sigaction sa{};
  sa.sa_handler = RemoveLinkAndExit;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  if (symlink(device.c_str(), opt.modemLink.c_str()) != 0) {
    std::fprintf(stderr, "quillnet-demohost: cannot link %s to %s: %s\n", opt.modemLink.c_str(), device.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("modem on %s (%s)\n", opt.modemLink.c_str(), device.c_str());
  std::fflush(stdout);

  demohost::MODEMOPTIONS mo;
  mo.session = opt.session;
  mo.answers = opt.answers;
  demohost::MODEM modem(mo, [master](const std::string& bytes) { WriteMaster(master, bytes); });
  bool callerThere = false;
  for (;;) {
    if (opt.once && modem.CallsEnded() > 0) break;
    const auto now = demohost::MODEM::CLOCK::now();
    modem.Tick(now);
    pollfd p{master, POLLIN, 0};
    const int r = poll(&p, 1, modem.NextTimerMs(now));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    unsigned char buf[512];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) {
      callerThere = true;
      modem.Received(buf, static_cast<size_t>(n), demohost::MODEM::CLOCK::now());
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      continue;
    } else {
      // Nobody has the device open (EIO): a caller that closed it dropped
      // DTR.  Look again shortly.
      if (callerThere) modem.LineDropped();
      callerThere = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  unlink(linkToRemove);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  OPTIONS opt;
  if (!ParseArgs(argc, argv, &opt)) {
    Usage(stderr);
    return 2;
  }
  if (opt.help) {
    Usage(stdout);
    return 0;
  }
  std::signal(SIGPIPE, SIG_IGN);
  demohost::Boards();  // built before the first caller
  if (!opt.modemLink.empty()) return RunModem(opt);

  const int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(opt.port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from outside this machine
  if (ls < 0 || bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 8) != 0) {
    std::fprintf(stderr, "quillnet-demohost: cannot listen on 127.0.0.1:%d: %s\n", opt.port, std::strerror(errno));
    return 1;
  }
  socklen_t len = sizeof a;
  getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
  std::printf("listening on 127.0.0.1:%d\n", ntohs(a.sin_port));
  std::fflush(stdout);

  for (;;) {
    const int fd = accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      std::fprintf(stderr, "quillnet-demohost: accept: %s\n", std::strerror(errno));
      return 1;
    }
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto serve = [fd, s = opt.session] {
      CALLER(fd, s).Run();
      close(fd);
    };
    if (opt.once) {
      close(ls);
      serve();
      return 0;
    }
    std::thread(serve).detach();
  }
}
