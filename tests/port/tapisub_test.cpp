// The dialler against real peers: the demo host's Hayes-style modem on a pty,
// small scripted modems behind socat (to see every command line that reached
// the modem, and to have modems that misbehave), and the demo host over
// telnet.  Hosts are stored through HOSTPROPERTY in a temporary settings
// store; the calls write into a real stock through the main screen.

#include "port/tapisub.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/modem_host.h"
#include "support/pty_peer.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "support/program_state.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string U(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

// A scripted modem behind socat.  Every command line it receives (up to CR)
// is appended to $PEER_DIR/rx.  It echoes what it receives.  Modes:
//   normal   "AT..." lines get OK; "ATD" lines the next of the answers
//            (";"-separated, cycling; "-" says nothing)
//   noat     as normal, but a bare "AT" gets no answer at all
//   garbage  every line gets a line of noise, never OK
//   vanish   as normal, but the modem goes away when told to dial
const char kScriptedModem[] = R"PERL(
use strict;
use warnings;
my ($mode, $answers) = @ARGV;
my @answers = split /;/, $answers;
my $next = 0;
my $online = 0;
open(my $log, '>>', "$ENV{PEER_DIR}/rx") or die "rx: $!";
$log->autoflush(1);
my $line = '';
while (sysread(STDIN, my $c, 1)) {
  if ($online) { next; }
  syswrite(STDOUT, $c);
  if ($c ne "\r") { $line .= $c; next; }
  print $log "$line\n";
  my $l = $line;
  $line = '';
  if ($mode eq 'garbage') { syswrite(STDOUT, "\r\n\x{7f}#%&?x\r\n"); next; }
  next unless $l =~ /^AT/i;
  if ($l =~ /^AT\$?D/i) {
    exit 0 if $mode eq 'vanish';
    next unless @answers;
    my $ans = $answers[$next++ % @answers];
    next if $ans eq '-';
    select(undef, undef, undef, 0.05);
    syswrite(STDOUT, "\r\n$ans\r\n");
    $online = 1 if $ans =~ /^CONNECT/;
    next;
  }
  next if $mode eq 'noat' && uc($l) eq 'AT';
  syswrite(STDOUT, "\r\nOK\r\n");
}
)PERL";

class TapisubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.emplace();
    ResetAll();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    ASSERT_TRUE(MakeDirs(dir.File("data")));
    config.DialPitch = 0;
    config.DialTimeout = 10;
    config.MaxRedial = 999;
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    MYBITMAP::hooks.now = [] { return SYSTEMTIME{.wYear = 2024, .wMonth = 5, .wDay = 1, .wHour = 9, .wMinute = 7}; };
    ASSERT_EQ(STOCK::Create(dir.File("t.stk"), 1000, 80, 0, 0, 0), 1);
    bitmap.Reset(nullptr, 80, 24);
    TAPISUB::hooks.playRedialSound = [this] { ++redialSounds; };
    ASSERT_TRUE(StartDebugLogFile(dir.File("data")));
    RestoreQuillnetTitle();
  }
  void TearDown() override {
    TAPISUB::Hangup();
    StopDebugLogFile();
    COMPORT::Close();
    LOG::End();
    ResetAll();
    ResetDirsForTest();
    app.reset();
  }
  static void ResetAll() {
    ResetProgramForTest();
  }

  // Stores a host: an AT modem on the first port unless `change` says else.
  static void AddHost(const std::string& name, const std::function<void(HOSTPROPERTY&)>& change = {}) {
    HOSTPROPERTY h;
    std::snprintf(h.szName, sizeof h.szName, "%s", name.c_str());
    h.ModemType = MODEM_AT;
    h.PortNo = 0;
    h.Baudrate = 9600;
    std::snprintf(h.DialCommand, sizeof h.DialCommand, "ATDT");
    std::snprintf(h.DialNo, sizeof h.DialNo, "0312345678");
    if (change) change(h);
    ASSERT_TRUE(h.SaveRegistry());
  }

  void StartDemoModem(const std::vector<std::string>& extra) {
    std::string error;
    ASSERT_TRUE(demo.Start(extra, &error)) << error;
    config.ComDevice[0] = demo.Link();
  }
  std::unique_ptr<PtyPeer> StartScriptedModem(const std::string& mode, const std::string& answers, int port = 0) {
    auto peer = std::make_unique<PtyPeer>("exec perl \"$PEER_DIR/modem.pl\" " + mode + " '" + answers + "'\n");
    EXPECT_TRUE(WriteWholeFile(peer->File("modem.pl"), kScriptedModem));
    std::string error;
    if (!peer->Start(&error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    config.ComDevice[port] = peer->Device();
    return peer;
  }
  // The command lines a scripted modem received, once it has `n` of them.
  static std::vector<std::string> Received(const PtyPeer& peer, size_t n) {
    std::vector<std::string> lines;
    WaitFor(
        [&] {
          lines.clear();
          std::istringstream in(ReadWholeFile(peer.File("rx")));
          for (std::string l; std::getline(in, l);) lines.push_back(l);
          return lines.size() >= n;
        },
        5000);
    return lines;
  }

  // Calls `f` with the running dialling once `when` holds (checked every 20 ms).
  void WhileDialling(std::function<bool(DIRECTDIAL&)> when, std::function<void(DIRECTDIAL&)> f) {
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, when, f] {
      DIRECTDIAL* d = TAPISUB::pDirectDial;
      if (d && when(*d)) {
        timer->stop();
        f(*d);
        timer->deleteLater();
      }
    });
    timer->start();
  }

  // Runs dispatcher passes until pred holds (at most ms).
  static bool PassUntil(const std::function<bool()>& pred, int ms = 8000) {
    return WaitFor(
        [&] {
          ProcessPortInput();
          return pred();
        },
        ms);
  }

  static std::string LineText(int slot) {
    const char* t = STOCK::GetItem(slot)->Text();
    return std::string(t, strnlen(t, size_t(STOCK::cColumn)));
  }
  // Every stock line, oldest first.
  static std::vector<std::string> StockLines() {
    std::vector<std::string> lines;
    for (CODEVRAM cv = cvOldest;; ++cv) {
      lines.push_back(LineText(cv));
      if (cv == cvNewest) break;
    }
    return lines;
  }
  static std::string DebugText() { return ReadWholeFile(DataDirFile("Debug.log")); }
  static std::string DataDirFile(const std::string& name) { return DataDir() + "/" + name; }

  // Off line with nothing left open and the program's name as the caption.
  static void ExpectOffLine() {
    EXPECT_EQ(fOnline, 0);
    EXPECT_FALSE(COMPORT::IsOpen());
    EXPECT_EQ(szCaption, "Quillnet");
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> t;
    for (const auto& b : boxes.rec.boxes) t.push_back(b.text);
    return t;
  }

  // Three attempts (BUSY, NO CARRIER, CONNECT) on a scripted modem, and the
  // command lines it received.
  struct NumberCase {
    const char* name;
    int kind;
    const char* dialNo2;
    bool antiRedial, interPhone;
    std::vector<std::string> expected;
  };
  void RunNumberCases(std::span<const NumberCase> cases);

  std::optional<TestApp> app;
  TempDir dir;
  ui::ScopedRecordingFacade boxes;
  ModemHost demo;
  int redialSounds = 0;
};

// ---- the AT dialling against the demo modem -----------------------------------

TEST_F(TapisubTest, BusyThenConnectRedialsAndWritesTheConnectLine) {
  StartDemoModem({"--answers", "BUSY;CONNECT 9600", "--auto-login"});
  AddHost("DemoBBS");
  CLIENT::Create();
  TAPISUB::Install();
  CLIENT::StartPortAccess();
  std::vector<std::string> captions;
  frameHooks.setCaption = [&](const std::string& c) { captions.push_back(c); };

  ASSERT_EQ(TAPISUB::Dial("DemoBBS"), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_TRUE(BoxTexts().empty()) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(fOnline, 1);
  EXPECT_EQ(fPortAccess, 1);
  EXPECT_EQ(redialSounds, 1);
  ASSERT_GE(captions.size(), 2u);
  EXPECT_EQ(captions[0], "DemoBBS - 接続中");
  EXPECT_EQ(szCaption, "DemoBBS");
  const std::string log = DebugText();
  EXPECT_NE(log.find("pWaiter return code is 2\nCMD_REDIAL\npWaiter return code is 1\n"), std::string::npos) << log;

  // The connect line: caption and date, tag 3, mark 0xFE; then the modem's
  // CONNECT line completed by what followed it on the line.
  const int connect = STOCK::FindNewestConnectLine();
  ASSERT_GE(connect, 0);
  EXPECT_EQ(LineText(connect), "DemoBBS - 2024/05/01 09:07");
  EXPECT_EQ(STOCK::aTag[size_t(connect)], TAG_CONNECT);
  EXPECT_EQ(STOCK::GetItem(connect)->cInput, STOCK_MARK_CONNECT);
  EXPECT_EQ(STOCK::fileheader.fOnlineFlag, 1u);
  ASSERT_TRUE(PassUntil([&] { return LineText(STOCK::AddIndex(connect, 1)) == "CONNECT 9600"; }))
      << ::testing::PrintToString(StockLines());

  // Logging off: the modem says NO CARRIER, and a second of silence later
  // the dispatcher hangs up through the dialler.
  ASSERT_TRUE(PassUntil([] { return jcode::SjisToUtf8(LineText(cvNewest)).find("(B,W,G,?) > ") != std::string::npos; }))
      << ::testing::PrintToString(StockLines());
  COMPORT::Send("g\r");
  ASSERT_TRUE(PassUntil([] { return fOnline == 0; }, 10000)) << ::testing::PrintToString(StockLines());
  ExpectOffLine();
  EXPECT_EQ(STOCK::fileheader.fOnlineFlag, 0u);
  bool sawNoCarrier = false;
  for (const std::string& l : StockLines()) sawNoCarrier |= l == "NO CARRIER";
  EXPECT_TRUE(sawNoCarrier) << ::testing::PrintToString(StockLines());
}

// Answers that end the dialling, each with its message (or none).
TEST_F(TapisubTest, FailedDialsLeaveNothingOpen) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<void(HOSTPROPERTY&)> host;
    int maxRedial;
    std::vector<std::string> messages;
    int attempts;  // "pWaiter return code" lines expected
  } cases[] = {
      {"busy with MaxRedial 1", {"--answers", "BUSY"}, {}, 1, {}, 1},
      {"no dial tone twice", {"--answers", "NO DIALTONE"}, {}, 2, {}, 2},
      {"ERROR to the dial", {"--answers", "ERROR"}, {}, 999,
       {"ダイヤルに使うATコマンドが誤っているため、モデムからエラーコードが返されました。"}, 1},
      {"ERROR to the init string", {}, [](HOSTPROPERTY& h) { std::snprintf(h.ModemInit, sizeof h.ModemInit, "ATY"); },
       999, {"モデムの初期化に失敗しました。"}, 0},
      {"ERROR to the second init string", {},
       [](HOSTPROPERTY& h) {
         std::snprintf(h.ModemInit, sizeof h.ModemInit, "ATZ");
         std::snprintf(h.ModemInit2, sizeof h.ModemInit2, "ATY");
       },
       999, {"モデムの初期化に失敗しました。"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartDemoModem(c.args);
    AddHost("Fail", c.host);
    config.MaxRedial = c.maxRedial;
    boxes.rec.boxes.clear();
    const size_t logFrom = DebugText().size();
    EXPECT_EQ(TAPISUB::Dial("Fail"), 0);
    EXPECT_EQ(BoxTexts(), c.messages);
    ExpectOffLine();
    EXPECT_EQ(STOCK::FindNewestConnectLine(), -1);
    const std::string log = DebugText().substr(logFrom);
    size_t n = 0;
    for (size_t at = 0; (at = log.find("pWaiter return code is ", at)) != std::string::npos; ++at) ++n;
    EXPECT_EQ(n, size_t(c.attempts)) << log;
    demo.Stop();
  }
}

TEST_F(TapisubTest, DialTimeoutSendsCrAndTakesTheFollowingAnswer) {
  // The first dial is never answered: after DialTimeout a CR abandons it,
  // the modem's NO CARRIER counts as an answer, and the redial connects.
  StartDemoModem({"--answers", "-;CONNECT 28800/ARQ"});
  AddHost("Slow");
  config.DialTimeout = 1;
  ASSERT_EQ(TAPISUB::Dial("Slow"), 1) << ::testing::PrintToString(BoxTexts());
  const std::string log = DebugText();
  EXPECT_NE(log.find("dialTimeout\npWaiter return code is 5\nCMD_REDIAL\npWaiter return code is 1\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(redialSounds, 1);
  // "CONNECT 28800/ARQ" counted as CONNECT; its rest follows on the screen.
  CLIENT::StartPortAccess();
  const int connect = STOCK::FindNewestConnectLine();
  ASSERT_GE(connect, 0);
  EXPECT_TRUE(PassUntil([&] { return LineText(STOCK::AddIndex(connect, 1)) == "CONNECT 28800/ARQ"; }))
      << ::testing::PrintToString(StockLines());
  TAPISUB::Hangup();
  ExpectOffLine();
}

TEST_F(TapisubTest, CancelDuringTheDialAndWhileWaitingToRedial) {
  struct Case {
    const char* name;
    const char* answers;
    int state;  // the state in which the cancel button is pressed
    const char* status;
  } cases[] = {
      {"during the dial", "-", DIRECTDIAL::ST_RESULT, "取り消し中"},
      {"waiting to redial", "BUSY", DIRECTDIAL::ST_WAIT_REDIAL, "話し中"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartDemoModem({"--answers", c.answers});
    AddHost("Cancel");
    config.DialPitch = 60;
    config.DialTimeout = 60;
    std::string statusAfterCancel;
    WhileDialling([&](DIRECTDIAL& d) { return d.State() == c.state && d.SecondsElapsed() >= 1; },
                  [&](DIRECTDIAL& d) {
                    d.Cancel();
                    statusAfterCancel = d.Status();
                  });
    const auto t0 = Clock::now();
    EXPECT_EQ(TAPISUB::Dial("Cancel"), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(8));
    EXPECT_EQ(statusAfterCancel, c.status);
    EXPECT_TRUE(BoxTexts().empty());
    ExpectOffLine();
    demo.Stop();
  }
}

TEST_F(TapisubTest, RedialButtonRedialsAtOnceWhileWaiting) {
  StartDemoModem({"--answers", "BUSY;CONNECT 9600"});
  AddHost("Redial");
  config.DialPitch = 60;
  int attemptsAtPress = 0;
  WhileDialling([](DIRECTDIAL& d) { return d.State() == DIRECTDIAL::ST_WAIT_REDIAL && d.Status() == "話し中"; },
                [&](DIRECTDIAL& d) {
                  attemptsAtPress = d.Attempts();
                  d.Redial();
                });
  const auto t0 = Clock::now();
  ASSERT_EQ(TAPISUB::Dial("Redial"), 1);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));  // not the 60 s pitch
  EXPECT_EQ(attemptsAtPress, 1);
  EXPECT_EQ(redialSounds, 1);
}

// ---- what reaches the modem: scripted modems -----------------------------------

TEST_F(TapisubTest, NumbersAlternateAndCarryTheAntiRedialDigit) {
  const NumberCase cases[] = {
      {"two numbers", MODEM_AT, "222", false, false, {"AT", "ATDT111", "ATDT222", "ATDT111"}},
      // With DialNo2 empty every attempt dials DialNo.
      {"anti-redial digits", MODEM_AT, "", true, false, {"AT", "ATDT1110", "ATDT1111", "ATDT1112"}},
      {"extension line", MODEM_AT, "222", false, true, {"AT", "ATDT9,111", "ATDT9,222", "ATDT9,111"}},
  };
  RunNumberCases(cases);
}

TEST_F(TapisubTest, KindZeroIsTheEnvironmentsAtModem) {
  // The environment's port, init string and PhoneLine command; not the host's.
  const NumberCase cases[] = {
      {"kind 0", MODEM_TAPI, "", false, false, {"AT", "ATZ", "AT$D111", "AT$D111", "AT$D111"}},
  };
  RunNumberCases(cases);
}

void TapisubTest::RunNumberCases(std::span<const NumberCase> cases) {
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = StartScriptedModem("normal", "BUSY;NO CARRIER;CONNECT 2400", 3);
    ASSERT_TRUE(peer);
    AddHost("Numbers", [&](HOSTPROPERTY& h) {
      h.ModemType = c.kind;
      h.PortNo = 3;
      h.ModemInit[0] = 0;  // kind 0 takes the environment's instead
      std::snprintf(h.DialNo, sizeof h.DialNo, "111");
      std::snprintf(h.DialNo2, sizeof h.DialNo2, "%s", c.dialNo2);
    });
    config.PortNo = 3;
    config.PhoneLine = 3;
    std::snprintf(config.ModemInit, sizeof config.ModemInit, "ATZ");
    config.InterPhone = c.interPhone;
    std::snprintf(config.DialPrefix, sizeof config.DialPrefix, "9,");
    TAPISUB::fAntiRedialProtect = c.antiRedial;
    TAPISUB::iAntiRedialDigit = 0;
    ASSERT_EQ(TAPISUB::Dial("Numbers"), 1) << ::testing::PrintToString(BoxTexts());
    EXPECT_EQ(Received(*peer, c.expected.size()), c.expected);
    EXPECT_EQ(redialSounds, 2);
    redialSounds = 0;
    TAPISUB::Hangup();
    ExpectOffLine();
  }
}

TEST_F(TapisubTest, AntiRedialDigitCarriesOnFromDialToDial) {
  TAPISUB::fAntiRedialProtect = 1;
  std::vector<std::string> dialled;
  for (int call = 0; call < 2; ++call) {
    auto peer = StartScriptedModem("normal", call == 0 ? "BUSY;CONNECT 2400" : "CONNECT 2400");
    ASSERT_TRUE(peer);
    AddHost("Digits", [](HOSTPROPERTY& h) { std::snprintf(h.DialNo, sizeof h.DialNo, "5"); });
    ASSERT_EQ(TAPISUB::Dial("Digits"), 1);
    for (const std::string& l : Received(*peer, call == 0 ? 3 : 2))
      if (l.rfind("ATD", 0) == 0) dialled.push_back(l);
    TAPISUB::Hangup();
  }
  EXPECT_EQ(dialled, (std::vector<std::string>{"ATDT50", "ATDT51", "ATDT52"}));
}

TEST_F(TapisubTest, ModemThatNeverAnswersAtIsStillInitialised) {
  auto peer = StartScriptedModem("noat", "CONNECT 9600");
  ASSERT_TRUE(peer);
  AddHost("NoAt", [](HOSTPROPERTY& h) {
    std::snprintf(h.ModemInit, sizeof h.ModemInit, "ATZ");
    std::snprintf(h.ModemInit2, sizeof h.ModemInit2, "ATM0");
    std::snprintf(h.DialNo, sizeof h.DialNo, "42");
  });
  ASSERT_EQ(TAPISUB::Dial("NoAt"), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(Received(*peer, 4), (std::vector<std::string>{"AT", "ATZ", "ATM0", "ATDT42"}));
}

TEST_F(TapisubTest, ModemAnsweringGarbageFailsTheInitialisation) {
  auto peer = StartScriptedModem("garbage", "");
  ASSERT_TRUE(peer);
  AddHost("Garbage", [](HOSTPROPERTY& h) { std::snprintf(h.ModemInit, sizeof h.ModemInit, "ATZ"); });
  EXPECT_EQ(TAPISUB::Dial("Garbage"), 0);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "モデムの初期化に失敗しました。");
  EXPECT_EQ(boxes.rec.boxes[0].style & 0xF, unsigned(ui::MB_RETRYCANCEL));
  EXPECT_EQ(boxes.rec.boxes[0].answer, ui::IDCANCEL);
  ExpectOffLine();
  EXPECT_EQ(Received(*peer, 2), (std::vector<std::string>{"AT", "ATZ"}));
}

TEST_F(TapisubTest, InitTimeoutRetryStartsOverAtAt) {
  auto peer = StartScriptedModem("garbage", "");
  ASSERT_TRUE(peer);
  AddHost("Retry", [](HOSTPROPERTY& h) { std::snprintf(h.ModemInit, sizeof h.ModemInit, "ATZ"); });
  boxes.rec.answers = {ui::IDRETRY, ui::IDCANCEL};
  EXPECT_EQ(TAPISUB::Dial("Retry"), 0);
  EXPECT_EQ(boxes.rec.boxes.size(), 2u);
  EXPECT_EQ(Received(*peer, 4), (std::vector<std::string>{"AT", "ATZ", "AT", "ATZ"}));
  ExpectOffLine();
}

TEST_F(TapisubTest, ModemThatGoesAwayWhileDiallingEndsTheDial) {
  auto peer = StartScriptedModem("vanish", "CONNECT 9600");
  ASSERT_TRUE(peer);
  AddHost("Vanish");
  config.DialTimeout = 60;
  const auto t0 = Clock::now();
  EXPECT_EQ(TAPISUB::Dial("Vanish"), 0);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));  // not the 60 s dial time-out
  ExpectOffLine();
  EXPECT_NE(DebugText().find("line closed while dialling\n"), std::string::npos);
}

// ---- the way to the line -------------------------------------------------------

TEST_F(TapisubTest, UnknownHostIsReported) {
  for (const std::string& name : {std::string("nohost"), U("未登録ホスト")}) {
    boxes.rec.boxes.clear();
    EXPECT_EQ(TAPISUB::Dial(name.c_str()), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{jcode::SjisToUtf8(name) + " はホストとして登録されていません。"});
    ExpectOffLine();
  }
}

TEST_F(TapisubTest, BusySerialDeviceOffersAnotherPort) {
  auto busy = StartScriptedModem("normal", "CONNECT 9600", 0);
  auto good = StartScriptedModem("normal", "CONNECT 9600", 2);
  ASSERT_TRUE(busy && good);
  config.ComDevice[1] = busy->Device();
  UniqueFd lock(open(busy->Device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_GE(lock.Get(), 0);
  ASSERT_EQ(flock(lock.Get(), LOCK_EX | LOCK_NB), 0);
  AddHost("Busy");

  // Without a chooser: the message, and nothing is left open.
  EXPECT_EQ(TAPISUB::Dial("Busy"), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"COM1 は使えません。他のシリアルポートを指定してください。"});
  ExpectOffLine();

  // The chooser offers COM2 (busy too), then COM3, which is kept in the host.
  std::vector<int> offered;
  std::vector<int> choices = {1, 2};
  TAPISUB::hooks.selectPort = [&](int failed) {
    offered.push_back(failed);
    const int c = choices.front();
    choices.erase(choices.begin());
    return c;
  };
  boxes.rec.boxes.clear();
  ASSERT_EQ(TAPISUB::Dial("Busy"), 1);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"COM1 は使えません。他のシリアルポートを指定してください。",
                                                  "そこも使えません。"}));
  EXPECT_EQ(offered, (std::vector<int>{0, 0}));
  TAPISUB::Hangup();
  HOSTPROPERTY stored;
  ASSERT_TRUE(stored.GetRegistry("Busy"));
  EXPECT_EQ(stored.PortNo, 2);

  // Cancelling the chooser ends the dial.
  AddHost("Busy");
  TAPISUB::hooks.selectPort = [](int) { return -1; };
  EXPECT_EQ(TAPISUB::Dial("Busy"), 0);
  ExpectOffLine();
}

TEST_F(TapisubTest, MissingNumberIsAskedForThisCallOrKept) {
  StartDemoModem({"--answers", "CONNECT 9600"});
  const std::string phone = U("番号のない局");
  AddHost(phone, [](HOSTPROPERTY& h) { h.DialNo[0] = 0; });

  // Nobody to ask: the dial is cancelled before anything is opened.
  EXPECT_EQ(TAPISUB::Dial(phone.c_str()), 0);
  ExpectOffLine();

  bool store = false, askedTelnet = true;
  TAPISUB::hooks.inputDialNo = [&](bool telnet, std::string* number, bool* keep) {
    askedTelnet = telnet;
    *number = "0355551234";
    *keep = store;
    return true;
  };
  ASSERT_EQ(TAPISUB::Dial(phone.c_str()), 1);
  EXPECT_FALSE(askedTelnet);
  // The number served this call only: it is gone afterwards.
  EXPECT_EQ(szCaption, "番号のない局");
  EXPECT_EQ(hostprop.DialNo[0], 0);
  TAPISUB::Hangup();
  HOSTPROPERTY stored;
  ASSERT_TRUE(stored.GetRegistry(phone.c_str()));
  EXPECT_EQ(stored.DialNo[0], 0);

  store = true;
  ASSERT_EQ(TAPISUB::Dial(phone.c_str()), 1);
  TAPISUB::Hangup();
  ASSERT_TRUE(stored.GetRegistry(phone.c_str()));
  EXPECT_STREQ(stored.DialNo, "0355551234");

  // A cancelled question cancels the dial.
  AddHost(phone, [](HOSTPROPERTY& h) { h.DialNo[0] = 0; });
  TAPISUB::hooks.inputDialNo = [](bool, std::string*, bool*) { return false; };
  EXPECT_EQ(TAPISUB::Dial(phone.c_str()), 0);
  ExpectOffLine();
}

TEST_F(TapisubTest, DirectLineAndNoLine) {
  // Kind 1: the line is opened and set, nothing is dialled.
  auto peer = StartScriptedModem("normal", "");
  ASSERT_TRUE(peer);
  AddHost("Direct", [](HOSTPROPERTY& h) {
    h.ModemType = MODEM_DIRECT;
    h.Baudrate = 19200;
  });
  ASSERT_EQ(TAPISUB::Dial("Direct"), 1);
  EXPECT_EQ(fOnline, 1);
  EXPECT_EQ(COMPORT::GetBaudrate(), 19200);
  EXPECT_EQ(LineText(cvNewest), "");  // no CONNECT after the connect line
  EXPECT_EQ(LineText(STOCK::FindNewestConnectLine()), "Direct - 2024/05/01 09:07");
  TAPISUB::Hangup();
  ExpectOffLine();
  EXPECT_EQ(ReadWholeFile(peer->File("rx")), "");

  // Kind 3: only the script starts; the program stays off line.
  std::vector<std::string> scripts;
  TAPISUB::hooks.startScript = [&](const std::string& path) { scripts.push_back(path); };
  AddHost("Local", [](HOSTPROPERTY& h) {
    h.ModemType = MODEM_NONE;
    std::snprintf(h.ScriptFile, sizeof h.ScriptFile, "/tmp/auto.hsc");
  });
  EXPECT_EQ(TAPISUB::Dial("Local"), 1);
  EXPECT_EQ(scripts, std::vector<std::string>{"/tmp/auto.hsc"});
  EXPECT_EQ(fOnline, 0);
  EXPECT_FALSE(COMPORT::IsOpen());
}

TEST_F(TapisubTest, PtyWithoutModemLinesKeepsTheCarrierWatch) {
  StartDemoModem({"--answers", "CONNECT 9600"});
  AddHost("Cd", [](HOSTPROPERTY& h) { std::snprintf(h.ScriptFile, sizeof h.ScriptFile, "login.hsc"); });
  config.CdCheck = 1;
  std::vector<std::string> scripts;
  TAPISUB::hooks.startScript = [&](const std::string& path) { scripts.push_back(path); };
  ASSERT_EQ(TAPISUB::Dial("Cd"), 1);
  EXPECT_EQ(config.CdCheck, 1);
  EXPECT_TRUE(BoxTexts().empty()) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(scripts, std::vector<std::string>{"login.hsc"});
}

TEST_F(TapisubTest, DialsWithoutAnApplicationObject) {
  app.reset();  // the dialling then runs from plain sleeps
  StartDemoModem({"--answers", "BUSY;CONNECT 9600"});
  AddHost("Plain");
  ASSERT_EQ(TAPISUB::Dial("Plain"), 1);
  EXPECT_EQ(redialSounds, 1);
  TAPISUB::Hangup();
  ExpectOffLine();
}

// ---- hang-up and countermeasures -----------------------------------------------

TEST_F(TapisubTest, HangupDropsDtrThroughTheWindowAndGoesOffLine) {
  StartDemoModem({"--answers", "CONNECT 9600"});
  AddHost("Hang");
  std::vector<std::string> steps;
  TAPISUB::hooks.hangupWindow = [&](int ms, const std::function<void()>& drop, const std::function<void()>& raise) {
    steps.push_back("window " + std::to_string(ms));
    drop();
    steps.push_back(std::string("dropped, open ") + (COMPORT::IsOpen() ? "1" : "0"));
    raise();
  };
  TAPISUB::hooks.hungUp = [&] { steps.push_back("hung up, online " + std::to_string(fOnline)); };
  ASSERT_EQ(TAPISUB::Dial("Hang"), 1);
  TAPISUB::Hangup();
  EXPECT_EQ(steps, (std::vector<std::string>{"window 500", "dropped, open 1", "hung up, online 0"}));
  ExpectOffLine();
  TAPISUB::Hangup();  // off line: nothing happens
  EXPECT_EQ(steps.size(), 3u);
}

TEST_F(TapisubTest, SpeedCountermeasureTable) {
  const std::pair<int, int> table[] = {{57600, 38400}, {28800, 19200}, {14400, 9600}, {4800, 2400}, {0, 38400},
                                       {115200, 38400}, {38400, 19200}, {19200, 9600}, {9600, 2400}, {2400, 2400}};
  for (const auto& [from, to] : table) EXPECT_EQ(TAPISUB::LowerSpeed(from), to) << from;
}

TEST_F(TapisubTest, CountermeasuresOfferedAndPreselected) {
  struct Case {
    int kind, maxRate, baud, smooth, noColor;
    bool offerSmooth, offerColor, offerSpeed;
    int choice;
  } cases[] = {
      {MODEM_AT, 0, 9600, 1, 0, true, true, true, COMMERRORCHOICE::SMOOTH},
      {MODEM_AT, 0, 9600, 0, 0, false, true, true, COMMERRORCHOICE::COLOR},
      {MODEM_AT, 0, 9600, 0, 1, false, false, true, COMMERRORCHOICE::SPEED},
      {MODEM_AT, 0, 2400, 0, 1, false, false, false, COMMERRORCHOICE::OTHER},
      {MODEM_TAPI, 0, 2400, 0, 1, false, false, true, COMMERRORCHOICE::SPEED},
      {MODEM_TAPI, 2400, 9600, 0, 1, false, false, false, COMMERRORCHOICE::OTHER},
      {MODEM_DIRECT, 0, 9600, 0, 1, false, false, false, COMMERRORCHOICE::OTHER},
      {MODEM_TELNET, 0, 9600, 0, 1, false, false, false, COMMERRORCHOICE::OTHER},
  };
  for (const Case& c : cases) {
    hostprop.ModemType = c.kind;
    hostprop.MaxRate = c.maxRate;
    hostprop.Baudrate = c.baud;
    config.SmoothScroll = c.smooth;
    config.NoColorOnline = c.noColor;
    const COMMERRORCHOICE o = TAPISUB::CommErrorOffer();
    EXPECT_EQ(o.offerSmooth, c.offerSmooth);
    EXPECT_EQ(o.offerColor, c.offerColor);
    EXPECT_EQ(o.offerSpeed, c.offerSpeed);
    EXPECT_EQ(o.choice, c.choice);
  }
}

TEST_F(TapisubTest, LineErrorsOfferCountermeasuresAtHangup) {
  StartDemoModem({"--answers", "CONNECT 28800"});
  AddHost("Errors", [](HOSTPROPERTY& h) { h.Baudrate = 28800; });
  config.SmoothScroll = 0;
  config.NoColorOnline = 1;
  std::vector<COMMERRORCHOICE> offered;
  TAPISUB::hooks.commErrorWindow = [&](COMMERRORCHOICE& c) {
    offered.push_back(c);
    c.noMoreCheck = true;  // the preselected speed, and no more checking
    return true;
  };
  ASSERT_EQ(TAPISUB::Dial("Errors"), 1);
  // ptys report no line errors; this is what the port sets when it sees some.
  COMPORT::fErrorDetect = 1;
  TAPISUB::Hangup();
  ExpectOffLine();
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0].choice, COMMERRORCHOICE::SPEED);
  EXPECT_EQ(COMPORT::fErrorDetect, 0);
  EXPECT_EQ(config.CheckCommError, 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"ホストプロパティの中で、シリアルポートの速度を 19200bpsに下げました。"});
  HOSTPROPERTY stored;
  ASSERT_TRUE(stored.GetRegistry("Errors"));
  EXPECT_EQ(stored.Baudrate, 19200);

  // Without the dialog the errors are only reported.
  TAPISUB::hooks.commErrorWindow = nullptr;
  boxes.rec.boxes.clear();
  ASSERT_EQ(TAPISUB::Dial("Errors"), 1);
  COMPORT::fErrorDetect = 1;
  TAPISUB::Hangup();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "Quillnetは通信中に文字化けと思われるエラーを発見しました。対処方法を指示してください。"});
  ASSERT_TRUE(stored.GetRegistry("Errors"));
  EXPECT_EQ(stored.Baudrate, 19200);
}

// ---- telnet --------------------------------------------------------------------

TEST_F(TapisubTest, TelnetHostGoesOnLineAndHangsUpWhenTheHostCloses) {
  TcpPeer host;
  const int port = FreeLoopbackPort();
  std::string error;
  ASSERT_TRUE(host.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port), "--auto-login"}, port, &error))
      << error;
  AddHost("Telnet", [&](HOSTPROPERTY& h) {
    h.ModemType = MODEM_TELNET;
    std::snprintf(h.DialNo, sizeof h.DialNo, "127.0.0.1");
    std::snprintf(h.PortName, sizeof h.PortName, "%d", port);
    std::snprintf(h.RasEntry, sizeof h.RasEntry, "office");  // not available here; telnet goes on
  });
  CLIENT::Create();
  TAPISUB::Install();
  CLIENT::StartPortAccess();
  ASSERT_EQ(TAPISUB::Dial("Telnet"), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(fOnline, 1);
  EXPECT_EQ(COMPORT::fSocket, 1);
  EXPECT_EQ(szCaption, "Telnet");
  const int connect = STOCK::FindNewestConnectLine();
  ASSERT_GE(connect, 0);
  EXPECT_EQ(LineText(connect), "Telnet - 2024/05/01 09:07");
  ASSERT_TRUE(PassUntil([] { return jcode::SjisToUtf8(LineText(cvNewest)).find("(B,W,G,?) > ") != std::string::npos; }))
      << ::testing::PrintToString(StockLines());
  EXPECT_NE(LineText(STOCK::AddIndex(connect, 1)).rfind("CONNECT", 0), 0u);
  // Logging off closes the connection; the line check hangs up.
  COMPORT::Send("g\r");
  ASSERT_TRUE(PassUntil([] { return fOnline == 0; })) << ::testing::PrintToString(StockLines());
  ExpectOffLine();
  bool sawGoodbye = false;
  for (const std::string& l : StockLines())
    sawGoodbye |= jcode::SjisToUtf8(l).find("ご利用ありがとうございました。") != std::string::npos;
  EXPECT_TRUE(sawGoodbye);
}

// "(telnet接続)" asks for the address each time (a port may follow a colon),
// shows it in the caption and stores nothing.
TEST_F(TapisubTest, AdHocTelnetConnectionAsksForTheAddress) {
  TcpPeer host;
  const int port = FreeLoopbackPort();
  std::string error;
  ASSERT_TRUE(host.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port), "--auto-login"}, port, &error))
      << error;
  int asked = 0;
  TAPISUB::hooks.inputDialNo = [&](bool telnet, std::string* number, bool* store) {
    ++asked;
    EXPECT_TRUE(telnet);
    *number = "127.0.0.1:" + std::to_string(port);
    *store = true;  // even asked to, an ad hoc connection stores nothing
    return true;
  };
  CLIENT::Create();
  TAPISUB::Install();
  CLIENT::StartPortAccess();
  const std::string name = jcode::Utf8ToSjis("(telnet接続)");
  ASSERT_EQ(TAPISUB::Dial(name.c_str()), 1) << ::testing::PrintToString(BoxTexts());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(fOnline, 1);
  EXPECT_EQ(szCaption, "telnet接続 - 127.0.0.1");
  EXPECT_FALSE(HOSTINI::IsHostExist(name.c_str()));
  EXPECT_EQ(HOSTINI::GetHostCount(), 0);
  TAPISUB::Hangup();
  ExpectOffLine();
  // The other two are kinds 0 (the environment's modem) and 1 (its port).
  config.PortNo = 3;
  config.Baudrate = 19200;
  EXPECT_EQ(TAPISUB::AdHocHost(jcode::Utf8ToSjis("(電話をかける)")).ModemType, MODEM_TAPI);
  const HOSTPROPERTY serial = TAPISUB::AdHocHost(jcode::Utf8ToSjis("(シリアルポートに接続)"));
  EXPECT_EQ(serial.ModemType, MODEM_DIRECT);
  EXPECT_EQ(serial.PortNo, 3);
  EXPECT_EQ(serial.Baudrate, 19200);
}

TEST_F(TapisubTest, TelnetRefusedAsksRetryOrCancel) {
  const int port = FreeLoopbackPort();
  AddHost("Refused", [&](HOSTPROPERTY& h) {
    h.ModemType = MODEM_TELNET;
    std::snprintf(h.DialNo, sizeof h.DialNo, "127.0.0.1");
    std::snprintf(h.PortName, sizeof h.PortName, "%d", port);
  });
  boxes.rec.answers = {ui::IDRETRY};  // once more, then the default (Cancel)
  EXPECT_EQ(TAPISUB::Dial("Refused"), 0);
  const std::string text =
      "127.0.0.1 への接続に失敗しました。ダイヤルアップ接続をキャンセルした場合は一度Quillnetを起動しなおすか、"
      "またはダイヤルアップ接続を別に起動してください。";
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{text, text}));
  ExpectOffLine();
}

}  // namespace
