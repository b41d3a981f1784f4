// The command line, the host line, the frame's default-position rule, the
// caption rules, the stock opened at start and the dialling of the host
// names one after another.
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "settings_fixture.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/startup.h"
#include "stock/stock.h"

namespace {

struct ParseCase {
  std::vector<std::string> args;
  const char* expect;  // the fields that are set, in a fixed order
};

std::string Describe(const STARTUPOPTIONS& o) {
  std::string s;
  auto flag = [&](bool on, const char* name) {
    if (on) s += std::string(name) + " ";
  };
  flag(o.createIni, "ini");
  flag(o.antiRedialProtect, "*");
  flag(o.evenParity, "e");
  flag(o.oldShell, "3");
  flag(o.debugLog, "d");
  flag(o.syncTelnet, "t");
  flag(o.help, "help");
  flag(o.version, "version");
  flag(o.headless, "headless");
  flag(o.exitAfterCall, "exit-after-call");
  if (o.hasScript) s += "script=[" + o.script + "] ";
  if (!o.configDir.empty()) s += "config=" + o.configDir + " ";
  if (!o.dataDir.empty()) s += "data=" + o.dataDir + " ";
  if (!o.hostLine.empty()) s += "hosts=[" + o.hostLine + "] ";
  if (!o.error.empty()) s += "error=" + o.error;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST(StartupCommandLine, SwitchesOptionsAndHosts) {
  const ParseCase cases[] = {
      {{}, ""},
      {{"!!"}, "ini"},
      {{"!!", "HOST"}, "ini"},
      {{"--create-ini"}, "ini"},
      {{"/*", "/e", "/3", "/d", "/t"}, "* e 3 d t"},
      {{"-E", "-D", "-T"}, "e d t"},
      // "/s" takes the rest of the line: the host after it is part of the name.
      {{"/s", "login.hsc", "NIFTY"}, "script=[login.hsc NIFTY]"},
      {{"/d", "-S", "a.hsc"}, "d script=[a.hsc]"},
      {{"/s"}, "script=[]"},
      {{"HOST1", "HOST2"}, "hosts=[HOST1 HOST2]"},
      // A name with spaces stays one name.
      {{"My Net", "B"}, "hosts=[\"My Net\" B]"},
      // Switches count only before the first host name; "--" ends them.
      {{"HOST", "/d"}, "hosts=[HOST /d]"},
      {{"--", "/d", "-x"}, "hosts=[/d -x]"},
      {{"--headless", "--config-dir", "/c", "--data-dir=/d", "H"}, "headless config=/c data=/d hosts=[H]"},
      {{"--help"}, "help"},
      {{"--exit-after-call", "H"}, "exit-after-call hosts=[H]"},
      {{"--version"}, "version"},
      {{"--config-dir"}, "error=--config-dir needs a directory"},
      {{"--data-dir="}, "error=--data-dir needs a directory"},
      {{"--bogus"}, "error=unknown option --bogus"},
      {{"/q"}, "error=unknown switch /q"},
      {{"-dx"}, "error=unknown switch -dx"},
      {{"-h"}, "help"},
      {{"/d", "-h", "H"}, "d help hosts=[H]"},
      // Long options count after the host names too, until "--"; switches
      // there stay host names.
      {{"H1", "--headless", "H2", "--config-dir", "/c"}, "headless config=/c hosts=[H1 H2]"},
      {{"H", "--data-dir=/d", "-e", "-h"}, "data=/d hosts=[H -e -h]"},
      {{"H", "--", "--headless"}, "hosts=[H --headless]"},
      {{"H", "--bogus"}, "hosts=[H] error=unknown option --bogus"},
      {{"H", "--config-dir"}, "hosts=[H] error=--config-dir needs a directory"},
      {{"telnet://127.0.0.1:2323/", "--headless"}, "headless hosts=[telnet://127.0.0.1:2323/]"},
  };
  for (const ParseCase& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += "<" + a + ">";
    EXPECT_EQ(Describe(ParseCommandLine(c.args)), c.expect) << joined;
  }
}

TEST(StartupCommandLine, FeedCmdLineGivesWordsAndQuotedNames) {
  std::string line = "  ONE \"Two Words\"\tthree \"unclosed rest";
  std::vector<std::string> got;
  std::string name;
  while (FeedCmdLine(line, &name)) got.push_back(name);
  EXPECT_EQ(got, (std::vector<std::string>{"ONE", "Two Words", "three", "unclosed rest"}));
  EXPECT_TRUE(line.empty());
  // What ParseCommandLine builds comes back name by name.
  line = ParseCommandLine({"a b", "c", "日本 語"}).hostLine;
  got.clear();
  while (FeedCmdLine(line, &name)) got.push_back(name);
  EXPECT_EQ(got, (std::vector<std::string>{"a b", "c", "日本 語"}));
}

TEST(StartupFrame, DefaultPositionRule) {
  struct Case {
    int x, y, cx, cy;
    bool useDefault;
  } cases[] = {
      {0, 0, 0, 0, true},           // nothing saved
      {0, 0, 1920, 1080, true},     // the whole screen from the origin
      {0, 0, 2000, 1200, true},
      {100, 50, 800, 600, false},
      {0, 0, 800, 600, false},
      {1919, 100, 800, 600, false}, // partly off screen, within 20 pixels
      {1940, 100, 800, 600, true},  // 20 pixels beyond the right edge
      {100, 1100, 800, 600, true},  // beyond the bottom
      {-820, 100, 800, 600, true},  // beyond the left edge
      {-10, -10, 800, 600, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UseDefaultFramePosition(c.x, c.y, c.cx, c.cy, 1920, 1080), c.useDefault)
        << c.x << "," << c.y << " " << c.cx << "x" << c.cy;
}

TEST(StartupCaption, OfflineOnlineAndPseudoHosts) {
  ResetOnlineForTest();
  std::vector<std::string> shown;
  frameHooks.setCaption = [&](const std::string& c) { shown.push_back(c); };
  hostprop.SetDefault();
  auto sjis = [](const char* u) { return jcode::Utf8ToSjis(u); };
  std::snprintf(hostprop.szName, sizeof hostprop.szName, "%s", sjis("草の根ネット").c_str());
  std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "%s", "03-1234-5678");
  RestoreQuillnetTitle();
  fOnline = 1;
  RestoreQuillnetTitle();
  struct Case {
    const char* host;
    const char* caption;
  } cases[] = {
      {"(電話をかける)", "電話 - 03-1234-5678"},
      {"(telnet接続)", "telnet接続 - 03-1234-5678"},
      {"(シリアルポートに接続)", "ｼﾘｱﾙﾎﾟｰﾄ接続 - COM3 19200bps"},
  };
  hostprop.PortNo = 2;
  hostprop.Baudrate = 19200;
  for (const Case& c : cases) {
    std::snprintf(hostprop.szName, sizeof hostprop.szName, "%s", sjis(c.host).c_str());
    RestoreQuillnetTitle();
  }
  SetQuillnetTitle(sjis("草の根ネット - 接続中").c_str());
  EXPECT_EQ(shown, (std::vector<std::string>{"Quillnet", "草の根ネット", cases[0].caption, cases[1].caption,
                                             cases[2].caption, "草の根ネット - 接続中"}));
  ResetOnlineForTest();
  hostprop.SetDefault();
}

class StartupStock : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    STOCK::ResetForTest();
    ASSERT_TRUE(MakeDirs(DataDir()));
    old = std::filesystem::current_path();
    std::filesystem::current_path(DataDir());
  }
  void TearDown() override {
    STOCK::ResetForTest();
    std::filesystem::current_path(old);
    SettingsTest::TearDown();
  }
  std::filesystem::path old;
};

TEST_F(StartupStock, FirstStartCreatesTheFirstStock) {
  ASSERT_EQ(OpenStartupStock(), 1);
  EXPECT_EQ(STOCK::fTemp, 0);
  EXPECT_EQ(STOCK::StockFile, kFirstStockName);
  EXPECT_EQ(STOCK::cItemMaxMax, int(kFirstStockLines));
  EXPECT_EQ(STOCK::cColumn, 80);
  EXPECT_STREQ(config.StockFile, kFirstStockName);
  // The name reached the settings file.
  EXPECT_NE(ReadWholeFile(RegPath()).find("\"StockFile\"=\"quillnet.stk\""), std::string::npos);
}

TEST_F(StartupStock, NamedStockOrAnyOtherButNeverANewOneBesideThem) {
  ASSERT_TRUE(STOCK::Create("mine.stk", 1000, 64, 0, 0, 0));
  STOCK::Close();
  ASSERT_TRUE(STOCK::Create("other.stk", 1000, 72, 0, 0, 0));
  STOCK::Close();
  STOCK::ResetForTest();

  std::snprintf(config.StockFile, sizeof config.StockFile, "%s", "mine.stk");
  ASSERT_EQ(OpenStartupStock(), 1);
  EXPECT_EQ(STOCK::StockFile, "mine.stk");
  EXPECT_EQ(STOCK::cColumn, 64);
  STOCK::ResetForTest();

  // A name that does not open: the other stock of the directory, and the
  // settings follow; no first stock is created beside existing ones.
  std::snprintf(config.StockFile, sizeof config.StockFile, "%s", "gone.stk");
  const int ok = OpenStartupStock();
  EXPECT_EQ(ok, 1);
  EXPECT_TRUE(STOCK::StockFile == "mine.stk" || STOCK::StockFile == "other.stk") << STOCK::StockFile;
  EXPECT_STREQ(config.StockFile, STOCK::StockFile.c_str());
  EXPECT_FALSE(std::filesystem::exists(kFirstStockName));
}

TEST(StartupDial, NextHostASecondAfterAFailedDial) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::pair<std::string, Clock::time_point>> tries;
  bool result = false, called = false;
  DialHostLine(
      "FAILS \"Two Words\" NOT-REACHED",
      [&](const std::string& name) {
        tries.emplace_back(name, Clock::now());
        return name == "Two Words" ? 1 : 0;
      },
      [&](bool connected) {
        called = true;
        result = connected;
      });
  ASSERT_TRUE(called);
  EXPECT_TRUE(result);
  ASSERT_EQ(tries.size(), 2u);
  EXPECT_EQ(tries[0].first, "FAILS");
  EXPECT_EQ(tries[1].first, "Two Words");
  EXPECT_GE(tries[1].second - tries[0].second, std::chrono::milliseconds(990));

  called = false;
  result = true;
  DialHostLine("", [](const std::string&) { return 1; }, [&](bool c) {
    called = true;
    result = c;
  });
  EXPECT_TRUE(called);
  EXPECT_FALSE(result);
}

}  // namespace
