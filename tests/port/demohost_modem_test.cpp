// Calling the demo host's modem mode through the port: the host publishes a
// pty behind a Hayes-style command interpreter, and COMPORT opens it as it
// opens a serial line.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/jcode.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"
#include "support/modem_host.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace {

class DemoHostModemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COMPORT::ResetForTest();
    hostprop.SetDefault();
    config = CONFIG();
  }
  void TearDown() override {
    COMPORT::Close();
    COMPORT::ResetForTest();
    hostprop.SetDefault();
    host.Stop();
  }

  void Open(const std::vector<std::string>& extra) {
    std::string error;
    ASSERT_TRUE(host.Start(extra, &error)) << error;
    ASSERT_EQ(COMPORT::OpenPath(host.Link().c_str()), 1);
  }
  // Receives until what came since `from` holds needle (at most ms).
  bool Until(const std::string& needle, int ms = 5000) {
    char buf[1024];
    return WaitFor(
        [&] {
          COMPORT::DoReceive();
          got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
          return got.find(needle, from) != std::string::npos;
        },
        ms);
  }
  // Everything that arrives within ms.
  std::string Collect(int ms) {
    const size_t start = got.size();
    Until(std::string(1, '\0') + "never", ms);
    return got.substr(start);
  }
  // Sends a command line and waits for the answer.
  bool Command(const std::string& line, const std::string& answer) {
    from = got.size();
    COMPORT::Send((line + "\r").c_str());
    return Until(answer);
  }
  std::string Since() const { return got.substr(from); }

  ModemHost host;
  std::string got;
  size_t from = 0;
};

TEST_F(DemoHostModemTest, AnswersCommandsWithOkOrError) {
  Open({});
  // Echo on by default: the command comes back, then the result.
  ASSERT_TRUE(Command("AT", "\r\nOK\r\n")) << Since();
  EXPECT_EQ(Since(), "AT\r\r\nOK\r\n");
  ASSERT_TRUE(Command("ATZ", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("AT&F", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATS0=0", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("at&fe1v1x4", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATY", "\r\nERROR\r\n")) << Since();
  EXPECT_EQ(Since(), "ATY\r\r\nERROR\r\n");
  // Nobody is on line, so there is nothing to go back to.
  ASSERT_TRUE(Command("ATO", "\r\nERROR\r\n")) << Since();
  ASSERT_TRUE(Command("ATS7=30S7?", "\r\nOK\r\n")) << Since();
  EXPECT_EQ(Since(), "ATS7=30S7?\r\r\n030\r\n\r\nOK\r\n");
  // Echo off: only the result comes.
  ASSERT_TRUE(Command("ATE0", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("AT", "\r\nOK\r\n")) << Since();
  EXPECT_EQ(Since(), "\r\nOK\r\n");
}

TEST_F(DemoHostModemTest, BusyThenConnectServesTheBbsAndHangsUp) {
  Open({"--answers", "BUSY;CONNECT 9600"});
  ASSERT_TRUE(Command("ATE0", "\r\nOK\r\n")) << Since();
  // A short escape guard time (10/50 s) keeps the test quick.
  ASSERT_TRUE(Command("ATS12=10", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATDT0312345678", "\r\nBUSY\r\n")) << Since();
  EXPECT_EQ(Since(), "\r\nBUSY\r\n");
  ASSERT_TRUE(Command("ATDT0312345678", "ID: ")) << Since();
  ASSERT_EQ(Since().rfind("\r\nCONNECT 9600\r\n", 0), 0u) << Since();
  // The banner, in Shift_JIS, with no telnet negotiation before it.
  const std::string banner = Since();
  EXPECT_EQ(banner.find('\xFF'), std::string::npos);
  const std::string utf8 = jcode::SjisToUtf8(banner);
  EXPECT_NE(utf8.find("ＱＵＩＬＬＮＥＴ　デモＢＢＳ"), std::string::npos) << utf8;
  EXPECT_NE(banner.find("\x82\x70\x82\x74\x82\x68"), std::string::npos) << "not Shift_JIS";  // "ＱＵＩ"

  // The BBS takes what is typed on the line.
  ASSERT_TRUE(Command("qnt00099", "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68: ")) << Since();  // "パスワード: "

  // Escape: silence, "+++", silence.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  from = got.size();
  COMPORT::Send("+++");
  ASSERT_TRUE(Until("\r\nOK\r\n")) << Since();
  EXPECT_EQ(Since(), "\r\nOK\r\n") << "the pluses reached the BBS";
  ASSERT_TRUE(Command("ATH", "\r\nOK\r\n")) << Since();
  // Hung up: the call is gone and cannot be resumed.
  ASSERT_TRUE(Command("ATO", "\r\nERROR\r\n")) << Since();
  // The sequence cycles: BUSY again.
  ASSERT_TRUE(Command("ATDP1", "\r\nBUSY\r\n")) << Since();
}

TEST_F(DemoHostModemTest, LoggingOffDropsTheCarrier) {
  Open({"--auto-login"});
  ASSERT_TRUE(Command("ATDT1", "(B,W,G,?) > ")) << Since();
  ASSERT_TRUE(Command("g", "\r\nNO CARRIER\r\n")) << Since();
  EXPECT_NE(jcode::SjisToUtf8(Since()).find("ご利用ありがとうございました。"), std::string::npos);
  // Back in command mode, echo still on.
  ASSERT_TRUE(Command("AT", "AT\r\r\nOK\r\n")) << Since();
}

TEST_F(DemoHostModemTest, EscapeBackAndResumeTheCall) {
  Open({"--auto-login"});
  ASSERT_TRUE(Command("ATS12=10", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATD1", "(B,W,G,?) > ")) << Since();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  from = got.size();
  COMPORT::Send("+++");
  ASSERT_TRUE(Until("\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATO", "\r\nCONNECT 9600\r\n")) << Since();
  ASSERT_TRUE(Command("b", "(Q:") ) << Since();
  EXPECT_NE(jcode::SjisToUtf8(Since()).find("掲示板番号 (Q:戻る) > "), std::string::npos) << Since();
  // Pluses typed quickly in the middle of a line are just text.
  from = got.size();
  COMPORT::Send("x+++y");
  EXPECT_TRUE(Until("x+++y")) << Since();
  EXPECT_EQ(Collect(600).find("OK"), std::string::npos);
}

TEST_F(DemoHostModemTest, NoAnswerLeavesTheDiallerToGiveUp) {
  Open({"--answers", "-;NO ANSWER"});
  from = got.size();
  COMPORT::Send("ATDT1\r");
  ASSERT_TRUE(Until("ATDT1\r")) << Since();
  // Nothing at all comes back while the dialler waits.
  EXPECT_EQ(Collect(1000), "");
  // A key abandons the call, as on a modem.
  from = got.size();
  COMPORT::Send("\r");
  ASSERT_TRUE(Until("\r\nNO CARRIER\r\n")) << Since();
  ASSERT_TRUE(Command("ATDT1", "\r\nNO ANSWER\r\n")) << Since();
  ASSERT_TRUE(Command("AT", "\r\nOK\r\n")) << Since();
}

// Closing the device is dropping DTR: the call ends, and the next caller
// finds the modem in command mode with its defaults.
TEST_F(DemoHostModemTest, ClosingTheLineHangsUp) {
  Open({"--auto-login"});
  ASSERT_TRUE(Command("ATE0", "\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATD1", "(B,W,G,?) > ")) << Since();
  COMPORT::Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the host looks every 50 ms
  ASSERT_EQ(COMPORT::OpenPath(host.Link().c_str()), 1);
  Collect(200);  // anything left over from the call
  ASSERT_TRUE(Command("AT", "AT\r\r\nOK\r\n")) << Since();
  ASSERT_TRUE(Command("ATO", "\r\nERROR\r\n")) << Since();
}

TEST_F(DemoHostModemTest, LinkIsRemovedOnExit) {
  Open({});
  ASSERT_TRUE(Command("AT", "\r\nOK\r\n")) << Since();
  COMPORT::Close();
  const std::string link = host.Link();
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_TRUE(host.Terminate(3000));
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link was left behind";
}

}  // namespace
