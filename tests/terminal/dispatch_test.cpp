// The receive dispatcher: bytes go through a real port (over pipes) into a
// real stock, screen and log file; the clock is the test's, and the hooks to
// scripts, transfers and the dialler record what they are given.
#include "terminal/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "terminal/collate.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"
#include "terminal/port_bytes.h"

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    hangups = zmodemStarts = bplusStarts = scriptTicks = 0;
    scriptRunning = hideDisplay = false;
    scriptBytes.clear();
    addinBytes.clear();
    ui::SetFacade(&quiet);
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    CLIENT::hooks.tick = [this] { return now; };
    WAITER::tickSource = [this] { return now; };
    CLIENT::hooks.hangup = [this] {
      ++hangups;
      fOnline = 0;
    };
    CLIENT::hooks.scriptExecuting = [this] { return scriptRunning; };
    CLIENT::hooks.scriptHideDisplay = [this] { return hideDisplay; };
    CLIENT::hooks.scriptReceive = [this](char c) {
      if (c) scriptBytes += c;
      else ++scriptTicks;
      return false;
    };
    CLIENT::hooks.autoZmodem = [this] { return ++zmodemStarts, true; };
    CLIENT::hooks.autoBplus = [this] { return ++bplusStarts, true; };
    CLIENT::hooks.receiversReceived = [this](const char* p, int n) { addinBytes.append(p, size_t(n)); };
    ASSERT_EQ(STOCK::Create(dir.File("d.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    bitmap.Reset(nullptr, 80, 24);
    CLIENT::Create();  // before the port starts: the reader reads the wake-up unlocked
    peer = MakeLinePeer(false);
    ASSERT_EQ(COMPORT::Start(std::move(peer.line)), 1);
    fOnline = 1;
    CLIENT::StartPortAccess();
    timeAutoHangup = now;
  }
  void TearDown() override {
    COMPORT::Close();
    LOG::End();
    ResetAll();
    ui::SetFacade(nullptr);
  }
  static void ResetAll() {
    COMPORT::ResetForTest();
    CLIENT::ResetForTest();
    LOG::ResetForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    COLLATE::ResetForTest();
    WAITER::tickSource = nullptr;
    hostprop.SetDefault();
    config.SetDefault();
    fOnline = 0;
  }

  void StartLog(int textLog) {
    ASSERT_EQ(LOG::Start(dir.File("d.log").c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, textLog), 1);
  }
  std::string LogText() {
    LOG::FlushCache();
    return ReadWholeFile(dir.File("d.log"));
  }

  // Writes bytes to the port and waits until its reader holds them.
  void Deliver(const std::string& bytes) { DeliverToPort(peer.toPort.Get(), bytes); }
  // Runs passes until the port holds nothing more (at most 100).
  void Drain() {
    for (int i = 0; i < 100; ++i) {
      ProcessPortInput();
      COMPORT::GetInQueueCount();
      if (COMPORT::cbThreadRead == 0 && !COMPORT::IsReceived()) return;
    }
    ADD_FAILURE() << "the port did not drain";
  }
  void Receive(const std::string& bytes) {
    Deliver(bytes);
    Drain();
  }

  static std::string Row(int r) { return ScreenRowText(r); }

  ui::RecordingFacade quiet{false};
  TempDir dir;
  LinePeer peer;
  TICK now = 1000000;
  int hangups = 0, zmodemStarts = 0, bplusStarts = 0, scriptTicks = 0;
  bool scriptRunning = false, hideDisplay = false;
  std::string scriptBytes, addinBytes;
};

// ---- the log and the control-code filter ------------------------------------

struct FilterCase {
  const char* name;
  int removeCtrls;
  std::string in;
  std::string row0, row1;  // the screen afterwards
  std::string log;         // the raw log
};

TEST_F(DispatchTest, TheLogSeesEveryByteTheFilterDrops) {
  const FilterCase cases[] = {
      {"colour removed", 1, "A\x1b[31mB\x1b[0mC\r\n", "ABC", "", "A\x1b[31mB\x1b[0mC\r\n"},
      {"colour kept", 0, "A\x1b[31mB\r\n", "AB", "", "A\x1b[31mB\r\n"},
      {"bell dropped", 1, "x\ay\r\n", "xy", "", "x\ay\r\n"},
      {"sequence ends at a space", 1, "a\x1b[1 b\r\n", "ab", "", "a\x1b[1 b\r\n"},
      {"ESC not followed by [", 1, "a\x1b" "7b\r\n", "ab", "", "a\x1b" "7b\r\n"},
      {"TAB and BS pass", 1, "a\tb\bc\r\nd", "a       c", "d", "a\tb\bc\r\nd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    hostprop.RemoveCtrls = c.removeCtrls;
    StartLog(0);
    Receive(c.in);
    EXPECT_EQ(Row(0), c.row0);
    EXPECT_EQ(Row(1), c.row1);
    EXPECT_EQ(LogText(), c.log);
    EXPECT_EQ(addinBytes, c.in);  // the add-in buffer takes every byte
    EXPECT_EQ(ctrlSkipState, 0);
  }
}

// A flood through whole passes (each takes many refills) into a log with a
// 100 KB limit: every full file ends within 512 bytes past the limit, at a
// character boundary, and the files together hold the whole log.
TEST_F(DispatchTest, TheLogLimitHoldsWithinAPass) {
  const int64_t kLimit = 100 * 1024;
  std::string flood;
  for (int i = 0; flood.size() < 300 * 1024; ++i) {
    flood += jcode::Utf8ToSjis("漢字かなカナ ｶﾅ混じりの行 ") + std::to_string(i);
    if (i % 7 == 0) flood += "\x1b[31mcolour\x1b[m";
    if (i % 11 == 0) flood += "\x1b[5;70H";  // a plain log pads this to column 70
    flood += "\r\n";
  }
  // Offsets where a character starts (a double-byte character is one).
  std::vector<bool> boundary(flood.size() + 1, true);
  for (size_t i = 0; i < flood.size(); ++i)
    if (jcode::IsKanji1(static_cast<unsigned char>(flood[i]))) boundary[++i] = false;

  for (int textLog : {0, 1}) {
    SCOPED_TRACE(textLog ? "plain log" : "raw log");
    TearDown();
    SetUp();
    hostprop.ModemType = MODEM_TELNET;  // plain reception: no carrier watch, whole passes
    // What the log holds without a limit.
    const std::string whole = dir.File("whole.log");
    ASSERT_EQ(LOG::Start(whole.c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, textLog), 1);
    LOG::Put(flood.data(), flood.size());
    LOG::End();
    const std::string expected = ReadWholeFile(whole);
    if (!textLog) {
      ASSERT_EQ(expected, flood);
    }

    const std::string path = dir.File(textLog ? "plain.log" : "raw.log");
    ASSERT_EQ(LOG::Start(path.c_str(), LOGOPEN_OVERWRITE, 100, textLog), 1);
    const long long passes = cDispatchPasses;
    const size_t questions = quiet.boxes.size();
    Receive(flood);
    // Passes of many refills: a check once per pass would let tens of
    // kilobytes through.
    EXPECT_LT(cDispatchPasses - passes, static_cast<long long>(flood.size() / 8192));
    LOG::End();

    std::vector<std::string> files;  // oldest first
    for (int k = 9; k >= 1; --k) {
      const std::string f = ReadWholeFile(LOG::BackupName(path, k));
      if (!f.empty()) files.push_back(f);
    }
    files.push_back(ReadWholeFile(path));
    ASSERT_GE(files.size(), 3u);  // at least two full files and the running one
    std::string joined;
    for (size_t k = 0; k < files.size(); ++k) {
      const int64_t size = static_cast<int64_t>(files[k].size());
      if (k + 1 < files.size()) {
        EXPECT_GE(size, kLimit) << "file " << k;
        EXPECT_LE(size, kLimit + 512) << "file " << k;
      } else {
        EXPECT_LT(size, kLimit) << "the running file";
      }
      joined += files[k];
      if (!textLog) {
        EXPECT_TRUE(boundary[joined.size()]) << "file " << k << " ends inside a character";
      }
    }
    EXPECT_TRUE(joined == expected) << joined.size() << " bytes of " << expected.size();
    EXPECT_EQ(quiet.boxes.size() - questions, files.size() - 1);  // one question per full file
  }
}

TEST_F(DispatchTest, AFilteredSequenceCutBetweenPassesIsStillRemoved) {
  hostprop.RemoveCtrls = 1;
  Receive("A\x1b[3");
  EXPECT_EQ(ctrlSkipState, 2);
  Receive("1mB\r\n");
  EXPECT_EQ(Row(0), "AB");
}

// ---- the script ---------------------------------------------------------------

TEST_F(DispatchTest, TheScriptSeesExactlyTheDisplayedBytes) {
  for (bool hidden : {false, true}) {
    SCOPED_TRACE(hidden ? "display hidden" : "display shown");
    TearDown();
    SetUp();
    hostprop.RemoveCtrls = 1;
    scriptRunning = true;
    hideDisplay = hidden;
    StartLog(0);
    Receive("ab\x1b[1mc\a\r\nde");
    EXPECT_EQ(scriptBytes, "abc\r\nde");
    EXPECT_EQ(Row(0), hidden ? "" : "abc");
    EXPECT_EQ(Row(1), hidden ? "~" : "de");
    EXPECT_EQ(LogText(), "ab\x1b[1mc\a\r\nde");
  }
}

TEST_F(DispatchTest, AnIdlePassGivesTheScriptATick) {
  scriptRunning = true;
  ProcessPortInput();
  EXPECT_EQ(scriptTicks, 1);
  fOnline = 0;  // offline: the script still gets its ticks
  ProcessPortInput();
  EXPECT_EQ(scriptTicks, 2);
  EXPECT_EQ(scriptBytes, "");
}

// ---- NO CARRIER -------------------------------------------------------------

TEST_F(DispatchTest, NoCarrierThenSilenceHangsUp) {
  hostprop.ModemType = MODEM_AT;
  StartLog(0);
  Receive("bye\r\nNO CARRIER\r\n");
  EXPECT_EQ(autoDetectState, 1);
  EXPECT_EQ(Row(1), "NO CARRIER");
  now += 999;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);
  now += 1;
  ProcessPortInput();
  EXPECT_EQ(hangups, 1);
  EXPECT_EQ(autoDetectState, 0);
  // The final LF was replaced by one of the dispatcher's own.
  EXPECT_EQ(LogText(), "bye\r\nNO CARRIER\r\n");
}

TEST_F(DispatchTest, NoCarrierThenMoreTextKeepsTheLine) {
  hostprop.ModemType = MODEM_AT;
  Receive("NO CARRIER\r\n");
  EXPECT_EQ(autoDetectState, 1);
  now += 500;
  Receive("still here\r\n");
  EXPECT_EQ(autoDetectState, 0);
  now += 5000;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);
  EXPECT_EQ(Row(1), "still here");
}

TEST_F(DispatchTest, NoCarrierIsOnlyWatchedOnModemLines) {
  hostprop.ModemType = MODEM_TELNET;
  Receive("NO CARRIER\r\n");
  EXPECT_EQ(autoDetectState, 0);
  now += 5000;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);
}

// ---- idle hang-up -----------------------------------------------------------

TEST_F(DispatchTest, AnIdleLineHangsUpAfterTheSetMinutes) {
  CLIENT::secAutoHangup = 5;
  now += 200000;
  Receive("x");  // restarts the count
  now += 300000;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);  // exactly the limit is not past it
  now += 1;
  ProcessPortInput();
  EXPECT_EQ(hangups, 1);
}

TEST_F(DispatchTest, NoIdleHangUpWhenOffOrOffline) {
  now += 10000000;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);
  CLIENT::secAutoHangup = 1;
  fOnline = 0;
  ProcessPortInput();
  EXPECT_EQ(hangups, 0);
}

// ---- transfer starts ------------------------------------------------------------

struct ZmodemCase {
  const char* name;
  std::string first, second;
  TICK gap;
  int starts;
  std::string row0;
};

TEST_F(DispatchTest, CanThenB00StartsZmodem) {
  const ZmodemCase cases[] = {
      {"B00 follows", "rz\r\n**\x18", "B00000", 10, 1, "rz"},
      {"a line end cancels", "ab\x18", "\r\nB00", 10, 0, "abB00"},  // CR LF is taken too
      {"too late", "ab\x18", "B00", 1000, 0, "abB00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    StartLog(0);
    Receive(c.first);
    EXPECT_EQ(autoDetectState, 2);
    now += c.gap;
    Deliver(c.second);
    for (int i = 0; i < 5; ++i) ProcessPortInput();
    EXPECT_EQ(zmodemStarts, c.starts);
    EXPECT_EQ(autoDetectState, 0);
    EXPECT_EQ(Row(0), c.row0);
    EXPECT_EQ(LogText().find('\x18'), std::string::npos);  // CAN is never logged
  }
}

TEST_F(DispatchTest, CanIsOrdinaryWithoutAutoZmodem) {
  hostprop.AutoZmodem = 0;
  hostprop.RemoveCtrls = 1;
  Receive("a\x18" "B00");
  EXPECT_EQ(zmodemStarts, 0);
  EXPECT_EQ(autoDetectState, 0);
  EXPECT_EQ(Row(0), "aB00");
}

TEST_F(DispatchTest, EnqStartsBPlusOnlyAfterALineWithText) {
  StartLog(0);
  Receive("\x05");  // the first line: nothing before it
  EXPECT_EQ(bplusStarts, 0);
  Deliver("\r\nmenu\r\n\x05" "rest");
  ProcessPortInput();
  EXPECT_EQ(bplusStarts, 1);
  // The pass ended at ENQ: the rest stays in the port for the protocol.
  EXPECT_TRUE(COMPORT::IsReceived());
  EXPECT_EQ(LogText(), std::string("\x05\r\nmenu\r\n"));
}

TEST_F(DispatchTest, TheDefaultTransferHooksReportNotAvailable) {
  CLIENT::hooks.autoZmodem = nullptr;
  Receive("\x18");
  Deliver("B00");
  ProcessPortInput();
  EXPECT_EQ(autoDetectState, 0);
  Receive("ok\r\n");
  EXPECT_EQ(Row(0), "ok");
}

// ---- pacing and access -------------------------------------------------------

TEST_F(DispatchTest, TheTimerHalvesWithDataAndDoublesWhenIdle) {
  EXPECT_EQ(msPortTimer, 200);
  std::vector<int> seen;
  for (int i = 0; i < 3; ++i) {
    Receive("x");
    seen.push_back(msPortTimer);
  }
  for (int i = 0; i < 4; ++i) {
    ProcessPortInput();
    seen.push_back(msPortTimer);
  }
  EXPECT_EQ(seen, (std::vector<int>{100, 50, 50, 100, 200, 300, 300}));
  CLIENT::SetPortAccessFast();
  EXPECT_EQ(msPortTimer, 10);
  CLIENT::BeforeCommand();
  EXPECT_EQ(msPortTimer, 300);
}

TEST_F(DispatchTest, WhileTheHostTalksIdlePassesCommitTheStockAtMostEveryTwoSeconds) {
  ProcessPortInput();  // an idle pass: the first commit
  std::string lines;
  for (int i = 0; i < 60; ++i) lines += "line " + std::to_string(i) + "\r\n";
  now += 100;
  Receive(lines);
  const int held = STOCK::cItemComm;
  ASSERT_GE(held, 60);
  // 100 ms after the last byte the line still counts as busy: no commit.
  now += 100;
  ProcessPortInput();
  EXPECT_EQ(STOCK::cItemComm, held);
  // Quiet for 250 ms or more: the idle pass commits.
  now += 200;
  ProcessPortInput();
  EXPECT_LT(STOCK::cItemComm, held);
  // A byte every 100 ms, an idle pass after each: one commit, 2 s after the last.
  int committedAt = -1;
  for (int i = 1; i <= 25 && committedAt < 0; ++i) {
    now += 100;
    Receive("x\r\n");
    const int before = STOCK::cItemComm;
    ProcessPortInput();
    if (STOCK::cItemComm < before) committedAt = i;
  }
  EXPECT_EQ(committedAt, 20);  // 20 x 100 ms after the quiet pass committed
}

TEST_F(DispatchTest, NothingIsTakenWithoutPortAccess) {
  CLIENT::StopPortAccess();
  Deliver("abc");
  ProcessPortInput();
  EXPECT_EQ(Row(0), "");
  CLIENT::StartPortAccess();
  Drain();
  EXPECT_EQ(Row(0), "abc");
}

TEST_F(DispatchTest, ADdeWaitStopsThePass) {
  bool waiting = true;
  CLIENT::hooks.ddeWaiting = [&] { return waiting; };
  Deliver("abc");
  ProcessPortInput();
  EXPECT_EQ(Row(0), "");
  waiting = false;
  Drain();
  EXPECT_EQ(Row(0), "abc");
}

TEST_F(DispatchTest, APassDoesNotStartWhileTheScreenLetsEventsRun) {
  Deliver("abc");
  MYBITMAP::fLettingEventsRun = 1;
  const long long before = cDispatchPasses;
  ProcessPortInput();
  EXPECT_EQ(cDispatchPasses, before);
  MYBITMAP::fLettingEventsRun = 0;
  Drain();
  EXPECT_EQ(Row(0), "abc");
}

TEST_F(DispatchTest, ABacklogIsTakenOneRefillPerPass) {
  std::string big;
  for (int i = 0; i < 40; ++i) big += "line " + std::to_string(i) + " of the backlog\r\n";
  Deliver(big);
  ProcessPortInput();
  EXPECT_LE(addinBytes.size(), size_t(COMPORT::RECEIVE_REFILL));
  Drain();
  EXPECT_EQ(addinBytes, big);
}

}  // namespace

// ---- quillnet-tool feed ----------------------------------------------------------

// A recorded session of a Shift_JIS host (menus, colours, cursor addressing,
// a saved and restored cursor, wrapped Japanese lines, cleared screens)
// replayed through the receive path without a line.
TEST(FeedTool, ReplaysARecordedSessionIntoTheStockAndTheScreen) {
  TempDir dir;
  const std::string fixtures = std::string(QUILLNET_SOURCE_DIR) + "/tests/terminal/fixtures/";
  const std::string session = ReadWholeFile(fixtures + "session.sjis");
  ASSERT_FALSE(session.empty());
  const std::string stk = dir.File("session.stk");
  ProcessResult fed = RunProcess({QUILLNET_TOOL_PATH, "feed", stk, "--screen", "--log", dir.File("s.log")}, session);
  ASSERT_EQ(fed.status, 0);
  EXPECT_EQ(fed.out, ReadWholeFile(fixtures + "session.screen"));
  ProcessResult exported = RunProcess({QUILLNET_TOOL_PATH, "stock", "export", stk, "--utf8"}, "");
  ASSERT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out, ReadWholeFile(fixtures + "session.export"));
  // A raw log keeps every byte the host sent.
  EXPECT_EQ(ReadWholeFile(dir.File("s.log")), session);
}

TEST(FeedTool, APlainLogAndTheControlFilter) {
  TempDir dir;
  const std::string stk = dir.File("p.stk");
  ProcessResult fed = RunProcess({QUILLNET_TOOL_PATH, "feed", stk, "--screen", "--rows", "2", "--remove-ctrls",
                                  "--log", dir.File("p.log"), "--log-type", "1"},
                                 "A\x1b[31mB\x1b[m\aC\r\n\x1b[1mx");
  ASSERT_EQ(fed.status, 0);
  EXPECT_EQ(fed.out, "ABC\nx\n");
  EXPECT_EQ(ReadWholeFile(dir.File("p.log")), "ABC\r\nx");
}

TEST(FeedTool, RejectsBadArguments) {
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "feed"}, "").status, 2);
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "feed", "x.stk", "--columns", "20"}, "").status, 2);
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "feed", "x.stk", "--log-type", "7"}, "").status, 2);
}
