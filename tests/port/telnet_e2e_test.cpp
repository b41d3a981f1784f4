// Telnet against a real server: inetutils telnetd on 127.0.0.1 behind socat,
// running a script instead of a login.  telnetd negotiates on its own terms
// (authentication, terminal type and speed, X display, environment, window
// size, line mode, binary); the script only runs once that is settled, and it
// reports what telnetd learned (TERM, the pty's size and speed) before
// printing Shift_JIS text.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "platform/jcode.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

// Takes everything the port receives until the peer has closed and every
// byte was delivered, or ms ran out.
std::string ReceiveUntilClosed(int ms, bool* closed) {
  std::string got;
  char buf[1024];
  *closed = WaitFor(
      [&] {
        COMPORT::DoReceive();
        got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
        return COMPORT::GetEvent() != 0 && COMPORT::GetInQueueCount() == 0 && !COMPORT::IsReceived();
      },
      ms);
  COMPORT::DoReceive();
  got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
  return got;
}

const char kBoard[] =
    "■ 掲示板 [1] 雑談コーナー\n"
    "No.0001 ソフト表示の予定 (ﾃｽﾄ) 1996/04/01 12:34\n"
    "> 漢字、かな、カナ、ｶﾀｶﾅ、①②、～が通ります。\n";

class TelnetdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
    config = CONFIG();
    hostprop.ModemType = MODEM_TELNET;
  }
  void TearDown() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
  }
};

TEST_F(TelnetdTest, NegotiatesWithTelnetdAndShowsShiftJis) {
  TempDir dir;
  const std::string sjis = jcode::Utf8ToSjis(kBoard);
  ASSERT_FALSE(sjis.empty());
  ASSERT_TRUE(WriteWholeFile(dir.File("board.txt"), sjis));
  ASSERT_TRUE(WriteWholeFile(dir.File("host.sh"),
                             "#!/bin/sh\n"
                             // telnetd starts the script once the terminal type is
                             // known; the window size may still be on its way.
                             "n=0; while [ \"$(stty size)\" = '0 0' ] && [ $n -lt 300 ]; do sleep 0.01; n=$((n+1)); done\n"
                             "printf 'TERM=%s\\n' \"$TERM\"\n"
                             "printf 'SIZE=%s\\n' \"$(stty size)\"\n"
                             "printf 'SPEED=%s\\n' \"$(stty speed)\"\n"
                             "cat " + dir.File("board.txt") + "\n"
                             "printf 'END\\n'\n"
                             "sleep 0.3\n"));
  ASSERT_EQ(chmod(dir.File("host.sh").c_str(), 0755), 0);

  static int columns;
  columns = 100;
  TELNET::windowSizeSource = [](int* c, int* l) {
    *c = columns;
    *l = 30;
  };
  const int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  TcpPeer server;
  std::string error;
  ASSERT_TRUE(server.StartTelnetd(dir.File("host.sh"), port, &error)) << error;

  std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "127.0.0.1");
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", port);
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  bool closed = false;
  const std::string got = ReceiveUntilClosed(20000, &closed);
  EXPECT_TRUE(closed) << "telnetd did not end the call";

  // What telnetd learned from the negotiation.
  EXPECT_NE(got.find("TERM=vt100\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("SIZE=30 100\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("SPEED=38400\r\n"), std::string::npos) << got;
  // The text arrives byte for byte (the pty turns LF into CR LF, telnetd's
  // CR NUL comes out as CR), with no telnet command left in it.
  std::string expected;
  for (char c : sjis) {
    if (c == '\n') expected += '\r';
    expected += c;
  }
  EXPECT_NE(got.find(expected + "END\r\n"), std::string::npos)
      << "received as UTF-8:\n" << jcode::SjisToUtf8(got);
  EXPECT_EQ(got.find('\xFF'), std::string::npos);
  EXPECT_EQ(got.find('\0'), std::string::npos);
  EXPECT_NE(jcode::SjisToUtf8(got).find("雑談コーナー"), std::string::npos);
  // This side agreed to what it offers and keeps sending CR NUL only while
  // not in binary mode.
  EXPECT_TRUE(TELNET::options[TELNET::TELOPT_TTYPE] & TELNET::MY_STATE_WILL);
  EXPECT_TRUE(TELNET::options[TELNET::TELOPT_NAWS] & TELNET::MY_STATE_WILL);
  COMPORT::Close();
  EXPECT_FALSE(COMPORT::IsOpen());
}

TEST_F(TelnetdTest, TypedLinesReachTheHostAndComeBack) {
  // The script reads one line and prints it back hex-encoded, so the test
  // sees exactly what the host's program received from the keyboard side.
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("host.sh"),
                             "#!/bin/sh\n"
                             "stty raw -echo\n"
                             "printf 'READY\\r\\n'\n"
                             "line=$(dd bs=1 count=6 2>/dev/null | od -An -tx1 | tr -d ' \\n')\n"
                             "printf 'GOT=%s\\r\\n' \"$line\"\n"
                             "sleep 0.3\n"));
  ASSERT_EQ(chmod(dir.File("host.sh").c_str(), 0755), 0);
  const int port = FreeLoopbackPort();
  TcpPeer server;
  std::string error;
  ASSERT_TRUE(server.StartTelnetd(dir.File("host.sh"), port, &error)) << error;
  std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "localhost");
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", port);
  ASSERT_EQ(TELNET::ConnectSocket(), 1);
  std::string got;
  char buf[1024];
  ASSERT_TRUE(WaitFor(
      [&] {
        COMPORT::DoReceive();
        got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
        return got.find("READY\r\n") != std::string::npos;
      },
      20000))
      << got;
  // Shift_JIS "漢" (0x8A 0xBF), a CR, 'a', 0xFF (doubled on the wire) and 'z'.
  hostprop.KanjiCode = KANJI_SJIS;
  COMPORT::Send("\x8A\xBF\ra\xFFz");
  bool closed = false;
  got += ReceiveUntilClosed(20000, &closed);
  EXPECT_NE(got.find("GOT=8abf0d61ff7a"), std::string::npos) << got;
}

}  // namespace
