// Telnet: the command filter and option negotiation replayed byte for byte,
// the socket line's receive errors and peer close, and connecting (numeric
// and named hosts, IPv4 and IPv6, service names, failures, cancel).
//
// Negotiation cases run the filter on a port that is open over a socketpair:
// the replies go out through the port's writer exactly as on a connection,
// and the test reads them from its end.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/debuglog.h"
#include "platform/socketline.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr char IAC = '\xFF', DONT = '\xFE', DO = '\xFD', WONT = '\xFC', WILL = '\xFB', SB = '\xFA', SE = '\xF0';

std::string B(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

// Everything the port sends up to the marker byte the test sends last.
std::string RepliesUntilMarker(int fd) {
  const char marker = '\x07';
  COMPORT::SendBinary(&marker, 1, 1);
  std::string got;
  while (got.empty() || got.back() != marker) {
    std::string b = ReadExactly(fd, 1);
    if (b.empty()) return got + "<timed out>";
    got += b;
  }
  got.pop_back();
  return got;
}

class TelnetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
    config = CONFIG();
    peer = MakeLinePeer(true);
    ASSERT_EQ(TELNET::Start(std::move(peer.line)), 1);
  }
  void TearDown() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
  }

  // Runs the chunks through the filter as successive reads; returns the data
  // left, and the port's replies in *replies.
  std::string Filter(const std::vector<std::string>& chunks, std::string* replies) {
    std::string data;
    for (const std::string& c : chunks) {
      std::vector<unsigned char> buf(c.begin(), c.end());
      const size_t n = TELNET::ProcessTelnetConvert(buf.data(), buf.size());
      data.append(reinterpret_cast<const char*>(buf.data()), n);
    }
    *replies = RepliesUntilMarker(peer.ReadFd());
    return data;
  }

  LinePeer peer;
};

struct CASE {
  const char* name;
  std::vector<std::string> chunks;  // successive reads
  std::string data;                 // what reaches the terminal
  std::string replies;              // what the port answers
};

std::string Naws80x24() { return B({0xFF, 0xFA, 31, 0, 80, 0, 24, 0xFF, 0xF0}); }

TEST_F(TelnetTest, ReplaysNegotiationByteExact) {
  const std::string vt100 = B({0xFF, 0xFA, 24, 0}) + "vt100" + B({0xFF, 0xF0});
  const std::vector<CASE> cases = {
      {"IAC IAC is one 0xFF", {"A" + B({0xFF, 0xFF}) + "B"}, "A\xFF" "B", ""},
      {"CR NUL is CR", {std::string("x\r\0y", 4)}, "x\ry", ""},
      {"CR LF stays", {"x\r\ny"}, "x\r\ny", ""},
      {"CR NUL across reads", {"x\r", std::string("\0y", 2)}, "x\ry", ""},
      {"CR then IAC IAC", {"\r" + B({0xFF, 0xFF})}, "\r\xFF", ""},
      {"binary keeps CR NUL",
       {B({0xFF, 0xFB, 0}), std::string("x\r\0y", 4)},
       std::string("x\r\0y", 4),
       B({0xFF, 0xFD, 0})},
      {"DO 24 then SB 24 SEND",
       {B({0xFF, 0xFD, 24}), B({0xFF, 0xFA, 24, 1, 0xFF, 0xF0})},
       "",
       B({0xFF, 0xFB, 24}) + vt100 + B({0xFF, 0xFB, 31})},
      {"DO 31 sends the size at once", {B({0xFF, 0xFD, 31})}, "", B({0xFF, 0xFB, 31}) + Naws80x24()},
      {"DO 39 refused", {B({0xFF, 0xFD, 39})}, "", B({0xFF, 0xFC, 39})},
      {"WILL 39 accepted", {B({0xFF, 0xFB, 39})}, "", B({0xFF, 0xFD, 39})},
      {"repeated WILL answered once", {B({0xFF, 0xFB, 1, 0xFF, 0xFB, 1, 0xFF, 0xFB, 1})}, "", B({0xFF, 0xFD, 1})},
      {"command split across reads",
       {"ab" + B({0xFF}), B({0xFD, 24}) + "cd"},
       "abcd",
       B({0xFF, 0xFB, 24})},
      {"command split after the verb", {"a" + B({0xFF, 0xFB}), B({3}) + "b"}, "ab", B({0xFF, 0xFD, 3})},
      {"subnegotiation split everywhere",
       {B({0xFF, 0xFD, 32, 0xFF}), B({0xFA}), B({32}), B({1, 0xFF}), B({0xF0}) + "z"},
       "z",
       B({0xFF, 0xFB, 32, 0xFF, 0xFA, 32, 0}) + "38400,38400" + B({0xFF, 0xF0})},
      {"DO 36 offers NAWS and refuses 36",
       {B({0xFF, 0xFD, 36})},
       "",
       B({0xFF, 0xFB, 31, 0xFF, 0xFC, 36})},
      {"WILL then WONT", {B({0xFF, 0xFB, 5}), B({0xFF, 0xFC, 5})}, "", B({0xFF, 0xFD, 5, 0xFF, 0xFE, 5})},
      {"DO then DONT", {B({0xFF, 0xFD, 3}), B({0xFF, 0xFE, 3})}, "", B({0xFF, 0xFB, 3, 0xFF, 0xFC, 3})},
      {"WONT never offered gets nothing", {B({0xFF, 0xFC, 9, 0xFF, 0xFE, 9})}, "", ""},
      {"NOP GA DM BREAK dropped",
       {"a" + B({0xFF, 0xF1}) + "b" + B({0xFF, 0xF9}) + "c" + B({0xFF, 0xF2, 0xFF, 0xF3}) + "d"},
       "abcd",
       ""},
      {"SEND for a type not negotiated is still answered",
       {B({0xFF, 0xFA, 24, 1, 0xFF, 0xF0})},
       "",
       vt100 + B({0xFF, 0xFB, 31})},
      {"TTYPE IS from the host is ignored", {B({0xFF, 0xFA, 24, 0}) + "xterm" + B({0xFF, 0xF0}) + "q"}, "q", ""},
      {"subnegotiation cut short by WILL",
       {B({0xFF, 0xFA, 24, 1, 0xFF, 0xFB, 1}) + "k"},
       "k",
       B({0xFF, 0xFD, 1})},
      {"unknown and empty subnegotiations", {B({0xFF, 0xFA, 99, 1, 2, 0xFF, 0xF0, 0xFF, 0xFA, 0xFF, 0xF0}) + "e"}, "e", ""},
      {"flow control subnegotiation ignored", {B({0xFF, 0xFA, 33, 1, 0xFF, 0xF0})}, "", ""},
      {"IAC IAC inside a subnegotiation", {B({0xFF, 0xFA, 24, 0xFF, 0xFF, 1, 0xFF, 0xF0}) + "s"}, "s", ""},
      // Long runs are scanned a word at a time: the special bytes at
      // several offsets within a word.
      {"long runs",
       {std::string("0123456789abc\r\0" "defghij\r\nklmno", 29) + B({0xFF, 0xFF}) + "pq\x81\x82rstuvwxyz" +
        std::string("\0" "0123456\r", 9)},
       "0123456789abc\rdefghij\r\nklmno\xFFpq\x81\x82rstuvwxyz" + std::string("\0" "0123456\r", 9),
       ""},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();  // a fresh connection for each case
    std::string replies;
    EXPECT_EQ(Filter(c.chunks, &replies), c.data);
    EXPECT_EQ(replies, c.replies);
  }
}

TEST_F(TelnetTest, AnySplitFiltersLikeOneRead) {
  const std::string text = "Shift_JIS \x8A\xBF\x8E\x9A line\r\n" + std::string("CR NUL\r\0after", 13) + B({0xFF, 0xFF}) +
                           "doubled" + B({0xFF, 0xF1}) + "nop " + std::string("lone\0nul", 9) +
                           B({0xFF, 0xFA, 99, 1, 2, 0xFF, 0xF0}) + "end of the text\r";
  std::string replies;
  const std::string whole = Filter({text}, &replies);
  EXPECT_EQ(whole, "Shift_JIS \x8A\xBF\x8E\x9A line\r\nCR NUL\rafter\xFF" "doubled" "nop " + std::string("lone\0nul", 9) +
                       "end of the text\r");
  for (size_t cut = 1; cut < text.size(); ++cut) {
    SetUp();
    EXPECT_EQ(Filter({text.substr(0, cut), text.substr(cut)}, &replies), whole) << "cut at " << cut;
  }
}

// Plain runs are searched for IAC and NUL in blocks of up to 64 bytes: a
// command or a NUL at any place in a long run, behind any offset from the
// start of the read, is still found where it is.
TEST_F(TelnetTest, CommandsAndNulsAreFoundAnywhereInALongRun) {
  struct Marker {
    const char* name;
    std::string wire, data;
  } markers[] = {
      {"IAC IAC", B({0xFF, 0xFF}), "\xFF"},
      {"NOP", B({0xFF, 0xF1}), ""},
      {"lone NUL", std::string(1, '\0'), std::string(1, '\0')},
      {"CR NUL", std::string("\r\0", 2), "\r"},
  };
  const size_t kRun = 200;
  for (const Marker& s : markers) {
    // Each case ends in plain data, so the next starts in the data state.
    for (size_t at = 0; at <= kRun; ++at) {
      const std::string before(at, 'a'), after(kRun - at, 'b');
      std::string replies;
      ASSERT_EQ(Filter({before + s.wire + after}, &replies), before + s.data + after)
          << s.name << " after " << at << " bytes";
      ASSERT_EQ(replies, "") << s.name;
    }
  }
}

TEST_F(TelnetTest, OfferedOptionsAreNotAnsweredTwice) {
  // This side asks first; the host's agreement needs no reply.
  TELNET::send_do(TELNET::TELOPT_SGA, 1);
  TELNET::send_do(TELNET::TELOPT_SGA, 1);  // already wanted: nothing more
  TELNET::send_will(TELNET::TELOPT_TTYPE, 1);
  std::string replies;
  EXPECT_EQ(Filter({B({0xFF, 0xFB, 3, 0xFF, 0xFD, 24})}, &replies), "");
  EXPECT_EQ(replies, B({0xFF, 0xFD, 3, 0xFF, 0xFB, 24}));
  EXPECT_EQ(TELNET::options[3], TELNET::MY_WANT_DO | TELNET::MY_STATE_DO);
  EXPECT_EQ(TELNET::options[24], TELNET::MY_WANT_WILL | TELNET::MY_STATE_WILL);
  EXPECT_EQ(TELNET::dodont_resp[3], 0);
  EXPECT_EQ(TELNET::willwont_resp[24], 0);
  // Withdrawing: DONT goes out once, the host's WONT closes it quietly.
  TELNET::send_dont(TELNET::TELOPT_SGA, 1);
  TELNET::send_dont(TELNET::TELOPT_SGA, 1);
  EXPECT_EQ(Filter({B({0xFF, 0xFC, 3})}, &replies), "");
  EXPECT_EQ(replies, B({0xFF, 0xFE, 3}));
  EXPECT_EQ(TELNET::options[3], 0);
}

TEST_F(TelnetTest, NegotiationLoopEndsWithBothSidesAgreeing) {
  // A host that answers every WILL with DO and every DO with WILL again
  // (a loop-prone peer) gets one reply per option.
  std::string replies;
  Filter({B({0xFF, 0xFD, 1, 0xFF, 0xFB, 1})}, &replies);
  EXPECT_EQ(replies, B({0xFF, 0xFB, 1, 0xFF, 0xFD, 1}));
  Filter({B({0xFF, 0xFD, 1, 0xFF, 0xFB, 1, 0xFF, 0xFD, 1})}, &replies);
  EXPECT_EQ(replies, "");
}

TEST_F(TelnetTest, WindowSizeIsBinaryWithIacDoubled) {
  // A width of 0xFF and 0x81 columns / 24 lines: IAC doubled, nothing
  // converted, echoed or given parity even on a 7-bit JIS line with echo.
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.LocalEcho = 1;
  hostprop.SevenBit = 1;
  COMPORT::fEvenParity = 0;
  static int columns;
  columns = 0xFF;
  TELNET::windowSizeSource = [](int* c, int* l) {
    *c = columns;
    *l = 24;
  };
  std::string replies;
  Filter({B({0xFF, 0xFD, 31})}, &replies);
  EXPECT_EQ(replies, B({0xFF, 0xFB, 31, 0xFF, 0xFA, 31, 0, 0xFF, 0xFF, 0, 24, 0xFF, 0xF0}));
  columns = 0x181;
  TELNET::NotifyWindowSize();  // the frame changed size
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), B({0xFF, 0xFA, 31, 1, 0x81, 0, 24, 0xFF, 0xF0}));
  EXPECT_EQ(COMPORT::cchReceived, 0) << "size bytes were echoed";
  // The host asking for the size again gets it again.
  Filter({B({0xFF, 0xFA, 31, 0xFF, 0xF0})}, &replies);
  EXPECT_EQ(replies, B({0xFF, 0xFA, 31, 1, 0x81, 0, 24, 0xFF, 0xF0}));
}

TEST_F(TelnetTest, WindowSizeOnlyAfterAgreement) {
  TELNET::NotifyWindowSize();
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), "");
  std::string replies;
  Filter({B({0xFF, 0xFD, 31, 0xFF, 0xFE, 31})}, &replies);
  EXPECT_EQ(replies, B({0xFF, 0xFB, 31}) + Naws80x24() + B({0xFF, 0xFC, 31}));
  TELNET::NotifyWindowSize();
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), "");
}

TEST_F(TelnetTest, BinaryModeDecidesCrNulOnBothSides) {
  const char crlf[] = "\r\n";
  COMPORT::SendBinary(crlf, 2, 0);
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), std::string("\r\0\n", 3));
  std::string replies;
  Filter({B({0xFF, 0xFD, 0})}, &replies);  // the host asks this side to send binary
  EXPECT_EQ(replies, B({0xFF, 0xFB, 0}));
  EXPECT_EQ(COMPORT::fTelnetBinary, 1);
  COMPORT::SendBinary(crlf, 2, 0);
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), "\r\n");
  // Received CR NUL is still CR: only the host's WILL BINARY changes that.
  EXPECT_EQ(Filter({std::string("\r\0", 2)}, &replies), "\r");
  Filter({B({0xFF, 0xFE, 0})}, &replies);
  EXPECT_EQ(replies, B({0xFF, 0xFC, 0}));
  EXPECT_EQ(COMPORT::fTelnetBinary, 0);
}

TEST_F(TelnetTest, SubnegotiationKeepsAtMost255Bytes) {
  // A 600-byte TERMINAL-TYPE SEND: the excess is dropped, the option and
  // qualifier survive, and what follows the SE is data again.
  std::string sb = B({0xFF, 0xFA, 24, 1}) + std::string(600, 'x') + B({0xFF, 0xF0}) + "after";
  std::string replies;
  EXPECT_EQ(Filter({sb}, &replies), "after");
  EXPECT_EQ(TELNET::cchSub, TELNET::SUB_MAX);
  EXPECT_EQ(TELNET::szSub[TELNET::SUB_MAX], 0);
  EXPECT_EQ(replies, B({0xFF, 0xFA, 24, 0}) + "vt100" + B({0xFF, 0xF0, 0xFF, 0xFB, 31}));
}

TEST_F(TelnetTest, CommandsAreStrippedOnTheWayThroughTheReceiveQueue) {
  // Through DoReceive: telnet first, then the host's code conversion.
  hostprop.KanjiCode = KANJI_NEWJIS;
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "\x1b$B" + B({0xFF, 0xFB, 1}) + "0!\x1b(J" + B({0xFF, 0xFF}) + "\r" +
                                              std::string("\0", 1) + "\n"));
  EXPECT_EQ(ReceiveExactly(5), B({0x88, 0x9F, 0xFF, '\r', '\n'}));
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), B({0xFF, 0xFD, 1}));
  // Typed 0xFF goes out doubled.
  hostprop.KanjiCode = KANJI_SJIS;
  COMPORT::Send('\xFF');
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), B({0xFF, 0xFF}));
  COMPORT::SendBreak(1000);
  EXPECT_EQ(RepliesUntilMarker(peer.ReadFd()), B({0xFF, 0xF3}));
}

TEST_F(TelnetTest, DataBeforeAPeerCloseIsDeliveredFirst) {
  std::string text;
  for (int i = 0; text.size() < 5000; ++i) text += "line " + std::to_string(i) + "\r\n";
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), text));
  peer.Hangup();
  ASSERT_TRUE(WaitFor([&] { return COMPORT::GetInQueueCount() == static_cast<int>(text.size()); }));
  std::this_thread::sleep_for(100ms);  // the reader meets the end of the line meanwhile
  std::string got;
  char buf[4096];
  bool closed = false;
  ASSERT_TRUE(WaitFor([&] {
    COMPORT::DoReceive();
    got.append(buf, COMPORT::GetBlock(buf, 300));  // a slow consumer
    closed = COMPORT::GetEvent() != 0;
    return closed;
  }));
  EXPECT_EQ(got.size() + static_cast<size_t>(COMPORT::cchReceived - COMPORT::iTakeout), text.size());
  got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
  EXPECT_EQ(got, text);
}

TEST(SocketLine, ReceiveErrorIsShownOnceThenTheLineEnds) {
  COMPORT::ResetForTest();
  TELNET::ResetForTest();
  hostprop.SetDefault();
  // recv on a pipe fails with ENOTSOCK: an error that is not a peer close.
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  ASSERT_EQ(TELNET::Start(std::make_unique<SOCKETLINE>(p[0])), 1);
  close(p[1]);
  const std::string expected = "\r\nrecv failed. code = " + std::to_string(ENOTSOCK) + "\r\n";
  EXPECT_EQ(SOCKETLINE::RecvFailedText(ENOTSOCK), expected);
  EXPECT_EQ(ReceiveExactly(expected.size()), expected);
  ASSERT_TRUE(WaitFor([] { return COMPORT::GetEvent() != 0; }));
  COMPORT::DoReceive();
  EXPECT_FALSE(COMPORT::IsReceived()) << "the error was reported more than once";
  COMPORT::ResetForTest();
}

TEST(SocketLine, PeerGoneErrorsAreNotShown) {
  EXPECT_TRUE(SOCKETLINE::IsPeerGone(ECONNRESET));
  EXPECT_TRUE(SOCKETLINE::IsPeerGone(ECONNABORTED));
  EXPECT_TRUE(SOCKETLINE::IsPeerGone(EPIPE));
  EXPECT_FALSE(SOCKETLINE::IsPeerGone(ETIMEDOUT));
  EXPECT_FALSE(SOCKETLINE::IsPeerGone(EHOSTUNREACH));
  // A peer close ends the line without any text.
  COMPORT::ResetForTest();
  TELNET::ResetForTest();
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  ASSERT_EQ(TELNET::Start(std::make_unique<SOCKETLINE>(sv[0])), 1);
  ASSERT_TRUE(WriteAll(sv[1], "bye"));
  close(sv[1]);
  EXPECT_EQ(ReceiveExactly(3), "bye");
  ASSERT_TRUE(WaitFor([] { return COMPORT::GetEvent() != 0; }));
  COMPORT::DoReceive();
  EXPECT_FALSE(COMPORT::IsReceived());
  COMPORT::ResetForTest();
}

// ---------------------------------------------------------------------------
// Connecting
// ---------------------------------------------------------------------------

// A listening socket on a loopback address.
struct Listener {
  explicit Listener(int family = AF_INET, int backlog = 8) {
    fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (family == AF_INET6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      socklen_t len = sizeof a;
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
      port = ntohs(a.sin6_port);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      socklen_t len = sizeof a;
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
      port = ntohs(a.sin_port);
    }
    listen(fd, backlog);
  }
  ~Listener() { close(fd); }
  // Accepts one connection (at most 10 s); -1 when none came.
  int Accept() {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kIoTimeoutMs) <= 0) return -1;
    return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
  int fd, port = 0;
};

// A listener whose accept queue is full: it drops further SYNs, so a
// connect to it stays pending (until the kernel gives up, minutes later).
struct FullListener {
  FullListener() : l(AF_INET, 0) {
    for (int i = 0; i < 4; ++i) {
      const int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(l.port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
      fillers.push_back(f);
    }
    std::this_thread::sleep_for(50ms);  // the fillers' handshakes settle
  }
  ~FullListener() {
    for (int f : fillers) close(f);
  }
  Listener l;
  std::vector<int> fillers;
};

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
    hostprop.ModemType = MODEM_TELNET;
    fdsBefore = OpenFdCount();
  }
  void TearDown() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
  }
  void Aim(const std::string& host, const std::string& port) {
    std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "%s", host.c_str());
    std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%s", port.c_str());
  }
  // Connected: a byte each way between the port and the accepted socket.
  void ExpectWorkingConnection(Listener& l) {
    const int s = l.Accept();
    ASSERT_GE(s, 0);
    EXPECT_EQ(COMPORT::fSocket, 1);
    ASSERT_TRUE(WriteAll(s, "hi"));
    EXPECT_EQ(ReceiveExactly(2), "hi");
    COMPORT::SendSub('k');
    EXPECT_EQ(ReadExactly(s, 1), "k");
    COMPORT::Close();
    EXPECT_EQ(ReadExactly(s, 1), "") << "the socket was not closed";
    close(s);
  }
  // Nothing of a failed attempt is left: no port, no socket, no thread's
  // descriptors.
  void ExpectNothingLeft() {
    EXPECT_FALSE(COMPORT::IsOpen());
    EXPECT_EQ(COMPORT::fSocket, 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
  }
  int fdsBefore = 0;
};

TEST_F(ConnectTest, PortNames) {
  EXPECT_EQ(TELNET::PortNumber("23"), 23);
  EXPECT_EQ(TELNET::PortNumber("telnet"), 23);
  EXPECT_EQ(TELNET::PortNumber("ssh"), 22);
  EXPECT_EQ(TELNET::PortNumber("65535"), 65535);
  EXPECT_EQ(TELNET::PortNumber("no-such-service"), 0);
  EXPECT_EQ(TELNET::PortNumber("0"), 0);
  EXPECT_EQ(TELNET::PortNumber("70000"), 0);
  EXPECT_EQ(TELNET::PortNumber(""), 0);
}

TEST_F(ConnectTest, DottedAddressConnectsWithoutLookup) {
  TempDir dir;
  ASSERT_TRUE(StartDebugLogFile(dir.Path()));
  Listener l;
  Aim("127.0.0.1", std::to_string(l.port));
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  ExpectWorkingConnection(l);
  StopDebugLogFile();
  const std::string log = ReadWholeFile(dir.File("Debug.log"));
  EXPECT_EQ(log.find("resolving"), std::string::npos) << log;
  EXPECT_NE(log.find("connected"), std::string::npos) << log;
}

TEST_F(ConnectTest, NamedHostIsLookedUp) {
  TempDir dir;
  ASSERT_TRUE(StartDebugLogFile(dir.Path()));
  Listener l;
  Aim("localhost", std::to_string(l.port));
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  ExpectWorkingConnection(l);
  StopDebugLogFile();
  EXPECT_NE(ReadWholeFile(dir.File("Debug.log")).find("resolving localhost"), std::string::npos);
}

TEST_F(ConnectTest, Ipv6Address) {
  Listener l(AF_INET6);
  if (l.port == 0) GTEST_SKIP() << "no IPv6 loopback here";
  Aim("::1", std::to_string(l.port));
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  ExpectWorkingConnection(l);
}

TEST_F(ConnectTest, BlockingVariant) {
  fSyncTelnet = 1;
  static int windows;
  windows = 0;
  TELNET::dialingWindow = [](TELNETCONNECT& a) {
    ++windows;
    return a.Wait(kIoTimeoutMs) == TELNETCONNECT::CONNECTED ? 1 : 2;
  };
  Listener l;
  fdsBefore = OpenFdCount();
  Aim("127.0.0.1", std::to_string(l.port));
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  ExpectWorkingConnection(l);
  const int port = FreeLoopbackPort();
  Aim("127.0.0.1", std::to_string(port));
  EXPECT_EQ(TELNET::ConnectSocket(), 0);
  ExpectNothingLeft();
  EXPECT_EQ(windows, 0) << "the blocking variant showed the connecting window";
}

TEST_F(ConnectTest, FailuresEndAtOnceAndLeaveNothingOpen) {
  // A connecting window that never presses cancel: every failure must end
  // the attempt by itself.
  static int windows;
  windows = 0;
  TELNET::dialingWindow = [](TELNETCONNECT& a) {
    ++windows;
    return a.Wait(-1) == TELNETCONNECT::CONNECTED ? 1 : 2;
  };
  struct FAILCASE {
    const char* name;
    std::string host, port;
    TELNETCONNECT::FAILURE why;
    int windows;  // the window is not shown for a port that names nothing
  };
  const std::vector<FAILCASE> cases = {
      {"unknown host", "no-such-host.invalid", "23", TELNETCONNECT::UNKNOWN_HOST, 1},
      {"refused", "127.0.0.1", std::to_string(FreeLoopbackPort()), TELNETCONNECT::CONNECT_ERROR, 1},
      {"refused over IPv6 and IPv4", "localhost", std::to_string(FreeLoopbackPort()), TELNETCONNECT::CONNECT_ERROR, 1},
      {"unknown service", "127.0.0.1", "no-such-service", TELNETCONNECT::NONE, 0},
  };
  for (const FAILCASE& c : cases) {
    SCOPED_TRACE(c.name);
    windows = 0;
    fdsBefore = OpenFdCount();
    Aim(c.host, c.port);
    EXPECT_EQ(TELNET::ConnectSocket(), 0);
    EXPECT_EQ(windows, c.windows);
    ExpectNothingLeft();
    if (c.windows) {
      TELNETCONNECT a(c.host, TELNET::PortNumber(c.port.c_str()));
      EXPECT_EQ(a.Wait(kIoTimeoutMs), TELNETCONNECT::FAILED);
      EXPECT_EQ(a.Failure(), c.why);
    }
    // What the dialler shows for it.
    ui::ScopedRecordingFacade rec;
    EXPECT_EQ(TELNET::ReportConnectFailure(), ui::IDCANCEL);
    ASSERT_EQ(rec.rec.boxes.size(), 1u);
    EXPECT_EQ(rec.rec.boxes[0].text,
              c.host +
                  " への接続に失敗しました。ダイヤルアップ接続をキャンセルした場合は一度Quillnetを起動しなおすか、"
                  "またはダイヤルアップ接続を別に起動してください。");
    EXPECT_EQ(rec.rec.boxes[0].style & 0xF, ui::MB_RETRYCANCEL);
  }
}

TEST_F(ConnectTest, HeadlessFailureNeedsNoWindow) {
  Aim("127.0.0.1", std::to_string(FreeLoopbackPort()));
  ui::ScopedRecordingFacade rec;
  EXPECT_EQ(TELNET::ConnectSocket(), 0);
  EXPECT_TRUE(rec.rec.boxes.empty());
  ExpectNothingLeft();
}

TEST_F(ConnectTest, CancelDuringAPendingConnect) {
  FullListener full;
  const int fdsWithListener = OpenFdCount();
  static bool sawPending;
  sawPending = false;
  TELNET::dialingWindow = [](TELNETCONNECT& a) {
    // The user looks at the window for a moment, then presses cancel.
    sawPending = a.Wait(300) == TELNETCONNECT::PENDING;
    return 2;
  };
  Aim("127.0.0.1", std::to_string(full.l.port));
  EXPECT_EQ(TELNET::ConnectSocket(), 0);
  EXPECT_TRUE(sawPending) << "the connect did not stay pending; the cancel was not tested";
  EXPECT_FALSE(COMPORT::IsOpen());
  EXPECT_EQ(OpenFdCount(), fdsWithListener);
}

TEST_F(ConnectTest, CancelledAttemptReportsCancel) {
  FullListener full;
  TELNETCONNECT a("127.0.0.1", full.l.port);
  EXPECT_EQ(a.Wait(100), TELNETCONNECT::PENDING);
  a.Cancel();
  EXPECT_EQ(a.State(), TELNETCONNECT::FAILED);
  EXPECT_EQ(a.Failure(), TELNETCONNECT::CANCELED);
  EXPECT_EQ(a.TakeSocket(), -1);
}

}  // namespace
