// The statements for the line, the call, the log and the stock.
//
// Off line over the scripted peer: the parameter errors and messages, PORT
// and SETUP on the current host (nothing changes when a pair is bad), the
// LOG modes on real files, the stock round trip of WRITEBUFFER and
// READBUFFER, and the AFTERHANGUP registration.  Over a socket pair: the
// break, the clipboard typed, SEND told to the add-ins.  Against the demo
// host on 127.0.0.1, with the dispatcher and the dialler running from the
// event loop: CONNECT, a logged call compared with the stock, HANGUP with
// its AFTERHANGUP script run once, and PORT KANJICODE = EUC after the "euc"
// log-in.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "script/linecmds.h"
#include "script/logcmds.h"
#include "script/script.h"
#include "script/scripthook.h"
#include "script/var.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/codevram.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/program_state.h"
#include "support/pty_peer.h"
#include "support/script_peer.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"

namespace {

std::string Sjis(const std::string& utf8) { return jcode::Utf8ToSjis(utf8); }
std::string Utf8(const std::string& sjis) { return jcode::SjisToUtf8(sjis); }
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The text of a stock line.
std::string LineText(CODEVRAM cv) { return std::string(cv.Item()->Text(), static_cast<size_t>(cv.Length())); }

// ---- off line ---------------------------------------------------------------------

class LineStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramForTest();
    peer.emplace();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    ASSERT_TRUE(MakeDirs(dir.File("data")));
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
  }
  void TearDown() override {
    LOG::End();
    peer.reset();
    ResetProgramForTest();
    ResetDirsForTest();
  }
  // Runs a script (UTF-8 text) to its end.
  bool Run(const std::string& utf8) {
    if (!SCRIPT::ExecuteFromMemory(Sjis(utf8))) return false;
    return peer->Run(60000);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> m;
    for (const SCRIPTERROR& e : peer->errors) m.push_back(e.message);
    return m;
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  void OpenStock() {
    ASSERT_EQ(STOCK::Create(F("t.stk"), 1000, 80, 0, 0, 0), 1);
    bitmap.Reset(nullptr, 80, 24);
  }

  TempDir dir;
  std::optional<SCRIPTPEER> peer;
  ui::ScopedRecordingFacade boxes;
};

TEST_F(LineStatements, ParameterErrorsAndMessagesStopTheScript) {
  struct Case {
    std::string statement, message;
  } cases[] = {
      {"port", "PORTのパラメタがおかしいです。"},
      {"port kanjicode euc", "PORTのパラメタがおかしいです。"},
      {"port kanjicode = sjis", "PORTのパラメタがおかしいです。"},
      {"port baudrate = 0", "PORTのパラメタがおかしいです。"},
      {"port stopbit = 3", "PORTのパラメタがおかしいです。"},
      {"port parity = mark", "PORTのパラメタがおかしいです。"},
      {"port data = 6", "PORTのパラメタがおかしいです。"},
      {"port localecho = 2", "PORTのパラメタがおかしいです。"},
      {"port flowcontrol = rts", "PORTのパラメタがおかしいです。"},
      {"port colour = 1", "PORTのパラメタがおかしいです。"},
      {"port kanjicode = euc,", "PORTのパラメタがおかしいです。"},
      {"setup orikaeshi = 1000", "SETUPのパラメタがおかしいです。"},
      {"setup margin = -1", "SETUPのパラメタがおかしいです。"},
      {"setup margintype = half", "SETUPのパラメタがおかしいです。"},
      {"setup kinsoku = maybe", "SETUPのパラメタがおかしいです。"},
      {"setup localecho = on", "SETUPのパラメタがおかしいです。"},
      {"setautohangup -1", "SETAUTOHANGUPのパラメタがおかしいです。"},
      {"setautohangup", "SETAUTOHANGUPのパラメタがおかしいです。"},
      {"sendbreak 1", "SENDBREAKのパラメタがおかしいです。"},
      {"sendclipbrd 1", "SENDCLIPBRDのパラメタがおかしいです。"},
      {"gethostname", "GETHOSTNAMEのパラメタがおかしいです。"},
      {"gethostname ##n", "GETHOSTNAMEのパラメタがおかしいです。"},
      {"connect", "CONNECTのパラメタがおかしいです。"},
      {"hangup 1", "HANGUPのパラメタがおかしいです。"},
      {"afterhangup l, 1", "AFTERHANGUPのパラメタがおかしいです。"},
      {"log \"x.log\", backup0", "LOGのパラメタがおかしいです。"},
      {"log \"x.log\", 0", "LOGのパラメタがおかしいです。"},
      {"log \"x.log\", 10000", "LOGのパラメタがおかしいです。"},
      {"log \"x.log\" append", "式がおかしいです。"},
      {"log pause, 1", "LOGのパラメタがおかしいです。"},
      {"log stop", "LOGのパラメタがおかしいです。"},
      {"writelog", "WRITELOGのパラメタがおかしいです。"},
      {"writebuffer", "WRITEBUFFERのパラメタがおかしいです。"},
      {"writebuffer2 \"a\", \"b\"", "WRITEBUFFER2のパラメタがおかしいです。"},
      {"readbuffer 1", "READBUFFERのパラメタがおかしいです。"},
      {"readbuffer 1, ##n", "READBUFFERのパラメタがおかしいです。"},
      {"savebuffer 1", "SAVEBUFFERのパラメタがおかしいです。"},
      {"setportno 2", "setportno文はサポートされていません。"},
      {"afterhangup nowhere", "gotoまたはcallでの行き先が見つかりません。"},
      {"afterhangup missing.hsc", "callで指定されたスクリプトファイルが見つかりません。"},
      {"log \"" + F("no/such/dir/x.log") + "\"", "ログの作成に失敗しました。"},
  };
  for (const Case& c : cases) {
    SetUp();
    ASSERT_TRUE(Run("send \"before\"\n" + c.statement + "\nsend \"after\"\nl:\n")) << c.statement;
    EXPECT_EQ(Messages(), std::vector<std::string>{c.message}) << c.statement;
    EXPECT_EQ(peer->sends, std::vector<std::string>{"before"}) << c.statement;
    // A statement that stops on a bad pair has changed nothing.
    EXPECT_EQ(hostprop.KanjiCode, KANJI_SJIS) << c.statement;
    EXPECT_FALSE(LOG::IsRunning()) << c.statement;
    EXPECT_FALSE(SCRIPTLINE::HangupScriptRegistered()) << c.statement;
    TearDown();
  }
}

TEST_F(LineStatements, PortAndSetupChangeTheCurrentHostOnly) {
  struct Case {
    const char* statement;
    int kind;
    std::function<bool(const HOSTPROPERTY&)> holds;
  } cases[] = {
      {"port kanjicode = euc", MODEM_TELNET, [](const HOSTPROPERTY& h) { return h.KanjiCode == KANJI_EUC; }},
      {"port kanjicode = newjis, kanjicode = oldjis", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.KanjiCode == KANJI_OLDJIS; }},
      {"port kanjicode = \"nec\"", MODEM_TELNET, [](const HOSTPROPERTY& h) { return h.KanjiCode == KANJI_NEC; }},
      {"port data = 7", MODEM_TELNET, [](const HOSTPROPERTY& h) { return h.SevenBit == 1; }},
      {"port localecho = on, localedit = 1, sendcrlf = on, sendetx = on", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.LocalEcho && h.LocalEdit && h.SendCRLF && h.ETX; }},
      {"port receivecrlf = on, autobplus = off, autozmodem = 0, removectrls = on", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.ReceiveCROnly && !h.AutoBPLUS && !h.AutoZmodem && h.RemoveCtrls; }},
      {"port siso = on", MODEM_TELNET, [](const HOSTPROPERTY& h) { return h.SevenBit == 0; }},
      // Serial keys do nothing on another connection ...
      {"port baudrate = 2400, stopbit = 2, flowcontrol = x", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.Baudrate == 9600 && h.StopBit == 0 && h.FlowControl == 2; }},
      // ... and change a serial host's line.
      {"port baudrate = 2400, stopbit = 2, flowcontrol = x", MODEM_DIRECT,
       [](const HOSTPROPERTY& h) { return h.Baudrate == 2400 && h.StopBit == 2 && h.FlowControl == FLOW_XONXOFF; }},
      {"port stopbit = 1.5, flowcontrol = on", MODEM_AT,
       [](const HOSTPROPERTY& h) { return h.StopBit == 1 && h.FlowControl == FLOW_XONXOFF; }},
      {"port stopbit = 1, flowcontrol = none", MODEM_DIRECT,
       [](const HOSTPROPERTY& h) { return h.StopBit == 0 && h.FlowControl == FLOW_NONE; }},
      {"setup orikaeshi = 60, margin = 4, margintype = zenkaku", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.Orikaeshi == 60 && h.Margin == 4 && h.HankakuMargin == 0; }},
      {"setup kinsoku = off, fastsend = on, collation = 1, tabtospace = on", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return !h.Kinsoku && h.FastSend && h.Collate && h.TabToSpace; }},
      {"setup flyingxmodem = on, marginsync = 5", MODEM_TELNET,
       [](const HOSTPROPERTY& h) { return h.FlyingXmodem == 1 && h.AutoMarginSync == 1; }},
      {"setup pacecharacter = \">ok\"", MODEM_TELNET, [](const HOSTPROPERTY& h) { return h.PaceCharacter == '>'; }},
  };
  for (const Case& c : cases) {
    SetUp();
    hostprop.ModemType = c.kind;
    ASSERT_TRUE(Run(c.statement)) << c.statement;
    EXPECT_TRUE(Messages().empty()) << c.statement << ": " << ::testing::PrintToString(Messages());
    EXPECT_TRUE(c.holds(hostprop)) << c.statement;
    TearDown();
  }
  // PARITY is the call's, for serial lines; a telnet call keeps none.
  hostprop.ModemType = MODEM_DIRECT;
  ASSERT_TRUE(Run("port parity = odd"));
  EXPECT_EQ(SCRIPTLINE::Parity(), 2);
  hostprop.ModemType = MODEM_TELNET;
  ASSERT_TRUE(Run("port parity = even"));
  EXPECT_EQ(SCRIPTLINE::Parity(), 2);
  // The host as stored is not touched.
  hostprop.ModemType = MODEM_TELNET;
  std::snprintf(hostprop.szName, sizeof hostprop.szName, "stored");
  ASSERT_TRUE(hostprop.SaveRegistry());
  ASSERT_TRUE(Run("port kanjicode = euc\nsetup margin = 9"));
  HOSTPROPERTY stored;
  ASSERT_TRUE(stored.GetRegistry("stored"));
  EXPECT_EQ(stored.KanjiCode, KANJI_SJIS);
  EXPECT_EQ(stored.Margin, 0);
  EXPECT_EQ(hostprop.KanjiCode, KANJI_EUC);
}

TEST_F(LineStatements, PortSetsAnOpenSerialLineAgain) {
  PtyPeer line("sleep 30\n");
  std::string error;
  ASSERT_TRUE(line.Start(&error)) << error;
  ASSERT_EQ(COMPORT::OpenPath(line.Device().c_str()), 1);
  hostprop.ModemType = MODEM_DIRECT;
  ASSERT_EQ(COMPORT::SetComParam(9600, ONESTOPBIT, FLOW_NONE, 0), 1);
  ASSERT_TRUE(Run("port baudrate = 2400, parity = even"));
  EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  EXPECT_EQ(COMPORT::GetBaudrate(), 2400);
  // A speed the line does not know is kept in the host but refused by the
  // device, which stays as it was.
  ASSERT_TRUE(Run("port baudrate = 14400"));
  EXPECT_EQ(hostprop.Baudrate, 14400);
  EXPECT_EQ(COMPORT::GetBaudrate(), 2400);
  COMPORT::Close();
}

TEST_F(LineStatements, MaxRedialHoldsUntilTheCallEnds) {
  config.MaxRedial = 7;
  ASSERT_TRUE(Run("setup maxredial = 2\nsetup maxredial = 3"));
  EXPECT_EQ(config.MaxRedial, 3);
  SCRIPT::ExecuteHangupScript();  // what the dialler runs after a hang-up
  EXPECT_EQ(config.MaxRedial, 7);
  ASSERT_TRUE(Run("setup maxredial = off"));
  EXPECT_EQ(config.MaxRedial, 0);
}

TEST_F(LineStatements, LogModesOnRealFiles) {
  struct Case {
    const char* what;
    std::string options;
    std::string file, bk1, bk2, bk3;  // what each holds afterwards ("-": no file); BK1, BK2 held "bk1", "bk2"
  } cases[] = {
      {"append by default", "", "old\r\nnew\r\n", "bk1\r\n", "bk2\r\n", "-"},
      {"append", ", append", "old\r\nnew\r\n", "bk1\r\n", "bk2\r\n", "-"},
      {"create", ", create", "new\r\n", "bk1\r\n", "bk2\r\n", "-"},
      {"backup keeps one", ", backup", "new\r\n", "old\r\n", "bk2\r\n", "-"},
      {"backup1 is backup", ", backup1", "new\r\n", "old\r\n", "bk2\r\n", "-"},
      {"backup3 keeps three", ", backup3", "new\r\n", "old\r\n", "bk1\r\n", "bk2\r\n"},
      {"options in any order", ", 500, create, nocontrolcode", "new\r\n", "bk1\r\n", "bk2\r\n", "-"},
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string log = F("call.log");
    std::filesystem::remove(F("call.BK3"));
    ASSERT_TRUE(WriteWholeFile(log, "old\r\n"));
    ASSERT_TRUE(WriteWholeFile(F("call.BK1"), "bk1\r\n"));
    ASSERT_TRUE(WriteWholeFile(F("call.BK2"), "bk2\r\n"));
    ASSERT_TRUE(Run("log \"" + log + "\"" + c.options + "\nwritelog \"new^M^J\"\nlog off\nwritelog \"late^M^J\"\n"))
        << c.what;
    EXPECT_TRUE(Messages().empty()) << c.what << ::testing::PrintToString(Messages());
    auto holds = [](const std::string& path) {
      return std::filesystem::exists(path) ? ReadWholeFile(path) : std::string("-");
    };
    EXPECT_EQ(holds(log), c.file) << c.what;
    EXPECT_EQ(holds(F("call.BK1")), c.bk1) << c.what;
    EXPECT_EQ(holds(F("call.BK2")), c.bk2) << c.what;
    EXPECT_EQ(holds(F("call.BK3")), c.bk3) << c.what;
    TearDown();
  }
}

TEST_F(LineStatements, LogControlCodesPauseAndLimit) {
  struct Case {
    const char* what;
    std::string script;
    std::string file;
  } cases[] = {
      // A typed "X", taken back by the host's BS SP BS, then a colour.
      {"controlcode keeps the bytes", ", controlcode\nwritelog \"> X^H ^HW^01B[1m!^M^J\"",
       "> X\b \bW\x1b[1m!\r\n"},
      {"nocontrolcode is the text", ", nocontrolcode\nwritelog \"> X^H ^HW^01B[1m!^M^J\"", "> W!\r\n"},
      {"pause and resume", "\nwritelog \"a\"\nlog pause\nwritelog \"b\"\nlog resume\nwritelog \"c\"", "ac"},
      {"LOG alone ends it", "\nwritelog \"a\"\nlog\nwritelog \"b\"", "a"},
      {"a second LOG ends the first", "\nwritelog \"a\"\nlog \"" + F("other.log") + "\"\nwritelog \"b\"", "a"},
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string log = F("c.log");
    ASSERT_TRUE(Run("log \"" + log + "\", create" + c.script + "\nlog off\n")) << c.what;
    EXPECT_TRUE(Messages().empty()) << c.what << ::testing::PrintToString(Messages());
    EXPECT_EQ(ReadWholeFile(log), c.file) << c.what;
    TearDown();
  }
  // Without a choice the host's RemoveCtrls decides.
  for (int removeCtrls : {0, 1}) {
    SetUp();
    hostprop.RemoveCtrls = removeCtrls;
    ASSERT_TRUE(Run("log \"" + F("h.log") + "\", create\nwritelog \"a^Hb\"\nlog off\n"));
    EXPECT_EQ(ReadWholeFile(F("h.log")), removeCtrls ? "b" : "a\bb");
    TearDown();
  }
  // The limit reaches the log: 1 KB.
  ASSERT_TRUE(Run("log \"" + F("l.log") + "\", create, 1\n"));
  EXPECT_EQ(LOG::cKBLimit, 1);
  ASSERT_TRUE(Run("log \"" + F("l.log") + "\", create, 9999\n"));
  EXPECT_EQ(LOG::cKBLimit, int(LOG::kNoLimit));
  // A Shift_JIS name in the script's own form: "\" separates.
  ASSERT_TRUE(MakeDirs(F("ログ")));
  ASSERT_TRUE(Run("log \"" + F("ログ") + "\\ok.log\", create\nwritelog \"漢字\"\nlog off\n"));
  EXPECT_EQ(ReadWholeFile(F("ログ/ok.log")), Sjis("漢字"));
}

TEST_F(LineStatements, WriteBufferAndReadBufferRoundTrip) {
  OpenStock();
  const std::string log = F("w.log");
  // Off line the stock is only read until WRITEBUFFER makes it writable.
  ASSERT_EQ(STOCK::EnableWrite(0, 0), 1);
  ASSERT_EQ(STOCK::fWriteEnabled, 0);
  ASSERT_TRUE(Run("log \"" + log + "\", create, controlcode\n"
                  "writebuffer2 \"一行目^M^J\"\n"
                  "writebuffer \"二行目 second^M^J三\"\n"
                  "readbuffer 0, #a\nreadbuffer 1, #b\nreadbuffer 2, #c\nreadbuffer -4, #d\n"
                  "readbuffer 1000, #e\n"
                  "send #a + \"|\" + #b + \"|\" + #c + \"|\" + #d + \"|\" + #e\n"
                  "log off\n"));
  EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  EXPECT_EQ(STOCK::fWriteEnabled, 1);
  ASSERT_EQ(peer->sends.size(), 1u);
  EXPECT_EQ(Utf8(peer->sends[0]), "三|二行目 second|一行目|三|");
  // What the screen shows is what the stock holds.
  EXPECT_EQ(Utf8(LineText(cvNewest)), "三");
  // Only WRITEBUFFER goes into the log.
  EXPECT_EQ(ReadWholeFile(log), Sjis("二行目 second\r\n三"));
  // A line of text read back into a later WRITEBUFFER2 gives the same line.
  ASSERT_TRUE(Run("readbuffer 1, #x\nwritebuffer2 \"^M^J\" + #x\nreadbuffer 0, #y\nsend #y\n"));
  EXPECT_EQ(Utf8(peer->sends.back()), "二行目 second");
  // Without a stock there is nothing to read.
  STOCK::ResetForTest();
  ASSERT_TRUE(Run("readbuffer 0, #z\nwritebuffer2 \"x\"\nsend \"[\" + #z + \"]\"\nsavebuffer\nclearbuffer\n"));
  EXPECT_EQ(peer->sends.back(), "[]");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LineStatements, WriteBufferLeavesBackScroll) {
  OpenStock();
  ASSERT_TRUE(Run("writebuffer2 \"a^M^Jb^M^Jc^M^J\""));
  bitmap.EnterScrollMode();
  ASSERT_EQ(bitmap.fScrollView, 1);
  int left = 0;
  SCRIPTLOG::hooks.leaveBackScroll = [&left] {
    ++left;
    bitmap.LeaveScrollMode();
  };
  ASSERT_TRUE(Run("writebuffer2 \"d\""));
  EXPECT_EQ(left, 1);
  EXPECT_EQ(bitmap.fScrollView, 0);
  EXPECT_EQ(LineText(cvNewest), "d");
  SCRIPTLOG::hooks = {};
}

TEST_F(LineStatements, AfterHangupRunsItsTargetOnce) {
  ASSERT_TRUE(WriteWholeFile(F("bye.hsc"), "send \"file from the top\"\nexit\nlater:\nsend \"file at its label\"\n"));
  SCRIPT::searchDirs = {dir.Path()};
  struct Case {
    const char* target;
    const char* sent;
  } cases[] = {
      {"here", "a label of the script"},
      {"bye.hsc", "file from the top"},
      {"BYE.HSC:later", "file at its label"},
  };
  for (const Case& c : cases) {
    peer->sends.clear();
    ASSERT_TRUE(Run(std::string("afterhangup ") + c.target + "\nsend \"registered\"\nexit\nhere:\nsend \"" +
                    "a label of the script\"\n"))
        << c.target;
    EXPECT_TRUE(SCRIPTLINE::HangupScriptRegistered()) << c.target;
    // The run has ended; the dialler starts the script after a hang-up.
    ASSERT_FALSE(SCRIPT::fExecuting);
    EXPECT_TRUE(SCRIPT::ExecuteHangupScript()) << c.target;
    ASSERT_TRUE(peer->Run(10000)) << c.target;
    EXPECT_EQ(peer->sends, (std::vector<std::string>{"registered", c.sent})) << c.target;
    // Once only.
    EXPECT_FALSE(SCRIPTLINE::HangupScriptRegistered());
    EXPECT_FALSE(SCRIPT::ExecuteHangupScript());
    EXPECT_FALSE(SCRIPT::fExecuting);
    EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  }
  // A later registration replaces an earlier one.
  ASSERT_TRUE(Run("afterhangup one\nafterhangup two\nexit\none:\nsend \"1\"\nexit\ntwo:\nsend \"2\"\n"));
  EXPECT_EQ(SCRIPTLINE::HangupScriptTarget(), "TWO");
  peer->sends.clear();
  ASSERT_TRUE(SCRIPT::ExecuteHangupScript());
  ASSERT_TRUE(peer->Run(10000));
  EXPECT_EQ(peer->sends, std::vector<std::string>{"2"});
}

TEST_F(LineStatements, HostNameAndAutoHangup) {
  std::snprintf(hostprop.szName, sizeof hostprop.szName, "%s", Sjis("デモ局").c_str());
  TICK clock = 5000;
  CLIENT::hooks.tick = [&clock] { return clock; };
  timeAutoHangup = 1;
  ASSERT_TRUE(Run("gethostname #h\nsend \"[\" + #h + \"]\"\nsetautohangup 15\n"));
  EXPECT_EQ(Utf8(peer->sends.back()), "[デモ局]");
  EXPECT_EQ(CLIENT::secAutoHangup, 15);
  EXPECT_EQ(timeAutoHangup, 5000u);
  ASSERT_TRUE(Run("setautohangup 0\n"));
  EXPECT_EQ(CLIENT::secAutoHangup, 0);
  hostprop.szName[0] = 0;
  ASSERT_TRUE(Run("gethostname @h\nsend \"[\" + @h + \"]\"\n"));
  EXPECT_EQ(peer->sends.back(), "[]");
  EXPECT_TRUE(Messages().empty());
}

// ---- over a socket pair -----------------------------------------------------------------

TEST_F(LineStatements, BreakClipboardAndAddinsReachTheLine) {
  LinePeer line = MakeLinePeer(true);
  ASSERT_EQ(COMPORT::Start(std::move(line.line)), 1);
  std::vector<std::string> order;
  SCRIPT::hooks.sentToAddins = [&order](const std::string& s) { order.push_back("addins " + s); };
  SCRIPT::hooks.send = [&order](const std::string& s) {
    order.push_back("port " + s);
    COMPORT::Send(s.c_str());
  };
  SCRIPTLINE::hooks.clipboardText = [] { return std::string("一\r\nb\nc"); };
  ASSERT_TRUE(Run("send \"s\"\nsendbreak\nsendclipbrd\n"));
  EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(Messages());
  EXPECT_EQ(order, (std::vector<std::string>{"addins s", "port s"}));
  // SEND, the telnet break (IAC BREAK), the clipboard with CR line ends.
  const std::string expected = "s\xff\xf3" + Sjis("一") + "\rb\rc";
  EXPECT_EQ(ReadExactly(line.ReadFd(), expected.size()), expected);
  // An empty clipboard types nothing; the typing hook takes the text when set.
  std::string typed;
  SCRIPTLINE::hooks.typed = [&typed](const std::string& s) { typed += s; };
  ASSERT_TRUE(Run("sendclipbrd\n"));
  EXPECT_EQ(typed, Sjis("一") + "\rb\rc");
  SCRIPTLINE::hooks.clipboardText = nullptr;
  ASSERT_TRUE(Run("sendclipbrd\n"));
  EXPECT_EQ(typed, Sjis("一") + "\rb\rc");
  COMPORT::Close();
}

// ---- against the demo host ----------------------------------------------------------

class CallStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProgramForTest();
    SCRIPT::Reset();
    VAR::Reset();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    ASSERT_TRUE(MakeDirs(dir.File("data")));
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    ASSERT_EQ(STOCK::Create(dir.File("t.stk"), 5000, 80, 0, 0, 0), 1);
    bitmap.Reset(nullptr, 80, 24);
    CLIENT::Create();
    TAPISUB::Install();
    InstallScriptHooks();
    CLIENT::StartPortAccess();
    SCRIPT::hooks.reportError = [this](const SCRIPTERROR& e) { errors.push_back(e.message); };
    SCRIPT::hooks.debugInfo = [this](const std::string& s) { debug.push_back(s); };
    const int port = FreeLoopbackPort();
    std::string error;
    ASSERT_TRUE(demo.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port)}, port, &error)) << error;
    HOSTPROPERTY h;
    std::snprintf(h.szName, sizeof h.szName, "%s", Sjis("デモ").c_str());
    h.ModemType = MODEM_TELNET;
    std::snprintf(h.DialNo, sizeof h.DialNo, "127.0.0.1");
    std::snprintf(h.PortName, sizeof h.PortName, "%d", port);
    ASSERT_TRUE(h.SaveRegistry());
  }
  void TearDown() override {
    SCRIPT::StopAll();
    TAPISUB::Hangup();
    COMPORT::Close();
    LOG::End();
    CLIENT::Destroy();
    SCRIPT::Reset();
    VAR::Reset();
    ResetProgramForTest();
    ResetDirsForTest();
  }
  // Starts a script (UTF-8) and lets the event loop run until it, and the
  // hang-up it may have posted with its AFTERHANGUP script, are over.
  bool Run(const std::string& utf8, int ms = 30000) {
    if (!SCRIPT::ExecuteFromMemory(Sjis(utf8))) return false;
    CLIENT::QueuePass();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    // Twice in a row nothing running: a posted hang-up has had its turn.
    int quiet = 0;
    while (quiet < 2) {
      if (std::chrono::steady_clock::now() >= end) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
      quiet = SCRIPT::fExecuting ? 0 : quiet + 1;
    }
    return true;
  }
  // The stock's lines after the newest connect line, up to the newest.
  static std::vector<std::string> CallLines() {
    std::vector<std::string> lines;
    const int connect = STOCK::FindNewestConnectLine();
    if (connect < 0) return lines;
    for (CODEVRAM cv = STOCK::AddIndex(connect, 1);; ++cv) {
      lines.push_back(LineText(cv));
      if (cv.IsNewest()) break;
    }
    return lines;
  }

  TestApp app;
  TempDir dir;
  ui::ScopedRecordingFacade boxes;
  TcpPeer demo;
  std::vector<std::string> errors, debug;
};

// The script a call is made with: a log started before the dial, the
// log-in, a typed character the host takes back (X, BS), a menu choice, and
// the hang-up with a script to run after it.
std::string LoggedCall(const std::string& log, const std::string& logOption) {
  return "debuginfo on\n"
         "timeout 20\n"
         "afterhangup after\n"
         "log \"" + log + "\", create, " + logOption + "\n"
         "connect \"デモ\"\n"
         "debuginfo \"connect \" + result\n"
         "gethostname #h\n"
         "debuginfo \"host \" + #h\n"
         "wait \"ID: \"\n"
         "send \"guest^M\"\n"
         "wait \"パスワード: \"\n"
         "send \"x^M\"\n"
         "wait \"(B,W,G,?) > \"\n"
         "send \"X^H\"\n"
         "send \"W^M\"\n"
         "wait \"(B,W,G,?) > \"\n"
         "writelog \"-- the end --^M^J\"\n"
         "log off\n"
         "hangup\n"
         "debuginfo \"not reached\"\n"
         "after:\n"
         "debuginfo \"after the hang-up\"\n";
}

TEST_F(CallStatements, ALoggedCallHangsUpAndRunsItsAfterHangupScriptOnce) {
  struct Case {
    const char* option;
    const char* typed;  // how the typed X and its taking back look in the log
  } cases[] = {{"nocontrolcode", "(B,W,G,?) > W\r\n"}, {"controlcode", "(B,W,G,?) > X\b \bW\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    debug.clear();
    const std::string log = dir.File(std::string(c.option) + ".log");
    ASSERT_TRUE(Run(LoggedCall(log, c.option))) << ::testing::PrintToString(debug);
    EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
    EXPECT_EQ(debug, (std::vector<std::string>{"connect 1", "host デモ", "after the hang-up"}));
    EXPECT_EQ(fOnline, 0);
    EXPECT_FALSE(COMPORT::IsOpen());
    EXPECT_FALSE(SCRIPTLINE::HangupScriptRegistered());
    const std::string text = ReadWholeFile(log);
    EXPECT_TRUE(Has(text, Sjis(c.typed))) << Utf8(text);
    EXPECT_TRUE(Has(text, Sjis("現在のアクセス者\r\n"))) << Utf8(text);
    const std::string end = "-- the end --\r\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    if (std::string(c.option) == "nocontrolcode") {
      // The plain log is what the screen put into the stock, line by line
      // (the last line, the prompt, had no line end yet).
      std::string fromStock;
      const std::vector<std::string> lines = CallLines();
      for (size_t i = 0; i < lines.size(); ++i) fromStock += lines[i] + (i + 1 < lines.size() ? "\r\n" : "");
      EXPECT_EQ(Utf8(text), Utf8(fromStock + end));
    }
  }
  // A call without a new AFTERHANGUP runs none.
  debug.clear();
  ASSERT_TRUE(Run("debuginfo on\nconnect \"デモ\"\ndebuginfo \"r\" + result\nhangup\n"));
  EXPECT_EQ(debug, std::vector<std::string>{"r1"});
  EXPECT_EQ(fOnline, 0);
}

TEST_F(CallStatements, KanjiCodeEucAfterTheEucLogIn) {
  // Only the change of code lets the password prompt, sent in EUC, match.
  struct Case {
    const char* port;
    const char* shown;
  } cases[] = {{"port kanjicode = euc\n", "pw 1"}, {"", "pw -1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    debug.clear();
    errors.clear();
    ASSERT_TRUE(Run(std::string("debuginfo on\ntimeout 20\nconnect \"デモ\"\nwait \"ID: \"\nsend \"euc^M\"\n") + c.port +
                    "millitimeout 2500\nwait \"パスワード: \"\ndebuginfo \"pw \" + result\n"
                    "if (result = 1)\n"
                    "  send \"x^M\"\n"
                    "  timeout 20\n"
                    "  wait \"ようこそ EUC さん。\"\n"
                    "  wait \"(B,W,G,?) > \"\n"
                    "  debuginfo \"menu \" + result\n"
                    "endif\n"
                    "hangup\n"));
    EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
    std::vector<std::string> expected = {c.shown};
    if (std::string(c.shown) == "pw 1") expected.push_back("menu 1");
    EXPECT_EQ(debug, expected);
    EXPECT_EQ(fOnline, 0);
  }
}

TEST_F(CallStatements, ConnectResultsAndRefusals) {
  // A host that is not there: RESULT 0 and the script goes on.
  ASSERT_TRUE(Run("debuginfo on\nconnect \"どこにもない\"\ndebuginfo \"r\" + result\n"));
  EXPECT_EQ(debug, std::vector<std::string>{"r0"});
  EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
  // On line a second CONNECT is refused and ends the script; its own dial
  // did not stop it, and the call stays up.
  debug.clear();
  ASSERT_TRUE(Run("debuginfo on\nconnect \"デモ\"\ndebuginfo \"r\" + result\nconnect \"デモ\"\ndebuginfo \"no\"\n"));
  EXPECT_EQ(debug, std::vector<std::string>{"r1"});
  EXPECT_EQ(errors, std::vector<std::string>{"オンライン中はconnect文は使えません。"});
  EXPECT_EQ(fOnline, 1);
  TAPISUB::Hangup();
}

}  // namespace
