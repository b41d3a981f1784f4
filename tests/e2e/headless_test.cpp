// The program itself, run headless with temporary directories: start and
// clean shutdown, command-line failures, and whole calls to the demo host
// over telnet, whose screens reach standard output, the stock and the log.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/registry.h"
#include "e2e/headless_fixture.h"
#include "support/modem_host.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kProgram = QUILLNET_PATH;
const std::string kTool = QUILLNET_TOOL_PATH;
const std::string kDemo = QUILLNET_DEMOHOST_PATH;
constexpr int kRunLimitMs = 30000;

class Headless : public HeadlessDirs {
 protected:
  std::string Export() {
    return RunProcess({kTool, "stock", "export", data + "/quillnet.stk", "--utf8"}, "").out;
  }
};

TEST_F(Headless, StartsWithNothingToCallAndEndsCleanly) {
  FullProcessResult r = Quillnet({});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  // The first start made the data directory, a first stock in it and the
  // settings file naming it.
  struct stat st {};
  EXPECT_EQ(stat((data + "/quillnet.stk").c_str(), &st), 0);
  EXPECT_NE(ReadWholeFile(cfg + "/registry.reg").find("\"StockFile\"=\"quillnet.stk\""), std::string::npos);
  // A second start opens the same stock (nothing new is created).
  r = Quillnet({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RunProcess({kTool, "stock", "info", data + "/quillnet.stk"}, "").status, 0);
}

TEST_F(Headless, CommandLineFailures) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;  // expected in standard error
  } cases[] = {
      {{"NOSUCHHOST"}, 1, "NOSUCHHOST はホストとして登録されていません。"},
      {{"--bogus"}, 2, "unknown option --bogus"},
      {{"/q"}, 2, "unknown switch /q"},
      {{"--config-dir"}, 2, "needs a directory"},
  };
  for (const Case& c : cases) {
    FullProcessResult r = Quillnet(c.args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args[0] << ": " << r.err;
  }
  FullProcessResult v = RunProcessWithin({kProgram, "--version"}, "", kRunLimitMs);
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("quillnet ", 0), 0u) << v.out;
  FullProcessResult h = RunProcessWithin({kProgram, "--help"}, "", kRunLimitMs);
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--headless"), std::string::npos);
}

TEST_F(Headless, TelnetCallToTheDemoHostIsShownStockedAndLogged) {
  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({kDemo, "--port", std::to_string(port), "--auto-login", "--tour",
                          "B\\r1\\r1\\rQ\\rQ\\rG\\r"},
                         port, &error))
      << error;
  HOSTPROPERTY p = TelnetHost("デモ BBS", port);
  p.LogType = 1;
  std::strcpy(p.LogName, "demo.log");
  StoreHost(p);

  FullProcessResult r = Quillnet({"A-HOST-THAT-IS-NOT-THERE", "デモ BBS"});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  // The first name failed with its message; the second was called.
  EXPECT_NE(r.err.find("A-HOST-THAT-IS-NOT-THERE はホストとして登録されていません。"), std::string::npos) << r.err;
  for (const char* shown : {"ＱＵＩＬＬＮＥＴ　デモＢＢＳ", "掲示板", "ご利用ありがとうございました。"})
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;

  // The stock holds the call: the connect line with the host and the date,
  // and what was shown.
  const std::string stock = Export();
  EXPECT_NE(stock.find("デモ BBS - 20"), std::string::npos) << stock.substr(0, 2000);
  EXPECT_NE(stock.find("ご利用ありがとうございました。"), std::string::npos);
  // The host's log holds the session too (Shift_JIS).
  const std::string log = jcode::SjisToUtf8(ReadWholeFile(data + "/demo.log"));
  EXPECT_NE(log.find("ご利用ありがとうございました。"), std::string::npos) << log.substr(0, 500);
}

TEST_F(Headless, ModemCallRedialsABusyNumberAndEndsWithNoCarrier) {
  ModemHost modem;
  std::string error;
  ASSERT_TRUE(modem.Start({"--answers", "BUSY;CONNECT 9600", "--auto-login", "--tour", "B\\r1\\r1\\rQ\\rQ\\rG\\r"}, &error))
      << error;
  ASSERT_EQ(RunProcess({kTool, "config", "set", "ComDevice1", modem.Link(), "--config-dir", cfg}, "").status, 0);
  HOSTPROPERTY p;
  p.SetDefault();
  std::strcpy(p.szName, "MODEM-BBS");
  p.ModemType = MODEM_AT;
  p.PortNo = 0;
  p.Baudrate = 9600;
  std::strcpy(p.DialNo, "0312345678");
  std::strcpy(p.DialCommand, "ATDT");
  StoreHost(p);

  FullProcessResult r = Quillnet({"MODEM-BBS"});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  // The busy answer was consumed by the dialling; the call shows CONNECT,
  // the boards, the farewell and the modem's NO CARRIER.
  for (const char* shown : {"CONNECT", "ＱＵＩＬＬＮＥＴ　デモＢＢＳ", "ご利用ありがとうございました。", "NO CARRIER"})
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;
  const std::string stock = Export();
  EXPECT_NE(stock.find("MODEM-BBS - 20"), std::string::npos) << stock.substr(0, 2000);
}

}  // namespace
