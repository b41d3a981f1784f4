// The stock property dialog: the maximum-lines entry, what the dialog is
// filled with, the statistics, applying each retention mode and a syntax
// file to real stock files, the refusals, and the window itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

#include <cmath>
#include <fstream>
#include <functional>

#include "support/test_app.h"
#include "shell/config.h"
#include "stock/stockprop.h"
#include "stock/stockprop_dialog.h"
#include "stock_fixture.h"
#include "support/process.h"
#include "support/temp_dir.h"

// Qt keeps the fontconfig pattern it matched for a fallback font (needed
// for the dialog's Japanese texts) past the application's end; the leak
// checker is told that this memory belongs to fontconfig, not to us.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

const char kBackupQuestion[] =
    "このストックファイルを定期バックアップモードに変更すると現在の内容が消去されます。かまいませんか？";

SYSTEMTIME Date(int y, int mo, int d, int h = 0, int mi = 0) {
  SYSTEMTIME t;
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  return t;
}

// The header as it is on disk now.
STOCKFILEHEADER HeaderOnDisk(const std::string& path) {
  unsigned char raw[STOCK_HEADER_SIZE];
  STOCKFILEHEADER h;
  std::ifstream f(path, std::ios::binary);
  if (f.read(reinterpret_cast<char*>(raw), sizeof raw)) ReadStockHeader(raw, h);
  return h;
}

class StockPropTest : public StockTest {
 protected:
  void SetUp() override {
    StockTest::SetUp();
    fOnline = 0;
    stockPropHooks = STOCKPROPHOOKS();
  }
  void TearDown() override {
    fOnline = 0;
    stockPropHooks = STOCKPROPHOOKS();
    StockTest::TearDown();
  }

  // A stock of `maxLines` with `count` numbered lines written (slots: count
  // + 1, the newest being empty), open for writing.
  void Make(const std::string& name, int maxLines, int count, uint16_t months = 0, unsigned long backupLines = 0,
            int daily = 0) {
    path = Path(name);
    ASSERT_EQ(STOCK::Create(path, maxLines, 80, months, backupLines, daily), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    AppendLines(Numbered(0, count));
  }
  // A connect line with a date, and `after` ordinary lines of the call.
  static void Call(const SYSTEMTIME& t, int after) {
    char text[64];
    std::snprintf(text, sizeof text, "Host - %04d/%02d/%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    const int slot = cvNewest;
    AppendLines({text});
    STOCK::SetConnectTag(slot);
    AppendLines(Numbered(0, after));
  }
  static STOCKPROPDATA Filled() {
    STOCKPROPDATA d;
    STOCK::InitStockPropDlg(&d);
    return d;
  }
  // Lines of the stock after closing and opening it again.
  std::vector<std::string> Reopened() {
    STOCK::Close();
    EXPECT_EQ(STOCK::Open(path), 1);
    return Lines();
  }

  std::string path;
};

TEST(StockPropEntry, MaximumLinesEntry) {
  struct Case {
    const char* text;
    std::optional<int> lines;
  } cases[] = {
      {"0", 1000},      {"0.0", 1000},       {"0.1", 1000},       {"0.5", 5000},        {"0.9", 9000},
      {"0.15", 1000},   {".3", 3000},        {"1", 10000},        {"1.5", 10000},       {"100", 1000000},
      {" 3 ", 30000},   {"500", 5000000},    {"700", 5000000},    {"0500", 5000000},    {"99999", 5000000},
      {"", std::nullopt}, {"abc", std::nullopt}, {"1e3", std::nullopt}, {".", std::nullopt}, {"-1", std::nullopt},
  };
  for (auto& c : cases) EXPECT_EQ(ParseMaxLinesEntry(c.text), c.lines) << '"' << c.text << '"';
}

TEST(StockPropEntry, MaximumShownAsEntry) {
  struct Case {
    int lines;
    const char* text;
  } cases[] = {{1000, "0.1"}, {5000, "0.5"}, {9000, "0.9"}, {10000, "1"}, {123400, "12"}, {5000000, "500"}};
  for (auto& c : cases) {
    EXPECT_EQ(FormatMaxLinesEntry(c.lines), c.text) << c.lines;
    if (c.lines % 1000 == 0 && (c.lines < 10000 || c.lines % 10000 == 0)) {
      EXPECT_EQ(ParseMaxLinesEntry(c.text), c.lines) << c.lines;
    }
  }
}

TEST_F(StockPropTest, FilledWithModeAndDefaults) {
  struct Case {
    unsigned long lines;
    uint16_t months;
    unsigned long backupLines;
    int daily;
    STOCKMODE mode;
    const char* entry;
    bool monthsOn;
    int months2;
    bool linesOn;
    int units;
  } cases[] = {
      {100000, 0, 0, 0, STOCKMODE::Ring, "10", false, 6, false, 100},
      {5000, 0, 0, 0, STOCKMODE::Ring, "0.5", false, 6, false, 100},
      {5000000, 0, 0, 0, STOCKMODE::Ring, "500", false, 6, false, 100},
      {5000100, 0, 0, 0, STOCKMODE::Backup, "100", false, 6, false, 100},
      {10000000, 3, 50000, 0, STOCKMODE::Backup, "100", true, 3, true, 5},
      {10000000, 0, 2000000, 0, STOCKMODE::Backup, "100", false, 6, true, 200},
      {10000000, 0, 0, 1, STOCKMODE::Daily, "100", false, 6, false, 100},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.lines);
    ASSERT_EQ(STOCK::Create(Path("f.stk"), c.lines, 64, c.months, c.backupLines, c.daily), 1);
    STOCKPROPDATA d = Filled();
    EXPECT_EQ(d.mode, c.mode);
    EXPECT_EQ(d.maxLinesEntry, c.entry);
    EXPECT_EQ(d.maxLinesEntryShown, c.entry);
    EXPECT_EQ(d.backupMonthsOn, c.monthsOn);
    EXPECT_EQ(d.backupMonths, c.months2);
    EXPECT_EQ(d.backupLinesOn, c.linesOn);
    EXPECT_EQ(d.backupLinesUnits, c.units);
    EXPECT_EQ(d.column, 64);
    EXPECT_EQ(d.fileName, Path("f.stk"));
    EXPECT_EQ(d.syntaxFile, "(カラー構文なし)");
    STOCK::Close();
  }
}

TEST_F(StockPropTest, UsedLinesAndTheirShare) {
  Make("u.stk", 10000, 2499);
  STOCKPROPDATA d = Filled();
  EXPECT_EQ(d.usedLines, 2500);
  EXPECT_EQ(d.maxLines, 10000);
  EXPECT_EQ(d.percentUsed, 25);
  auto rows = StockPropSummary(d);
  auto value = [&](const std::string& label) {
    for (auto& r : rows)
      if (r.label == label) return r.value;
    return std::string("(missing)");
  };
  EXPECT_EQ(value("使用行数"), "2,500行 / 10,000行 (25%)");
  EXPECT_EQ(value("桁数"), "80桁");
  EXPECT_EQ(value("最も古い通信"), "不明");
  EXPECT_EQ(value("通信回数"), "0回");
  EXPECT_EQ(value("1日の平均行数"), "-");
  EXPECT_EQ(value("上書きが始まるまで"), "-");
}

TEST_F(StockPropTest, StatisticsFromTheConnectLines) {
  Make("s.stk", 10000, 5);  // lines before the first call are not part of one
  Call(Date(2024, 5, 1, 10, 0), 20);
  Call(Date(2024, 5, 3, 22, 15), 30);
  const int undated = cvNewest;
  AppendLines({"no date on this connect line"});
  STOCK::SetConnectTag(undated);
  AppendLines(Numbered(0, 9));
  Call(Date(2024, 5, 10, 8, 5), 36);
  // Slots: 5 before, 21 + 31 + 10 + 37 in calls, and the empty newest.
  ASSERT_EQ(STOCK::UsedItems(), 105);
  STOCK::hooks.now = [] { return Date(2024, 5, 10, 23, 0); };
  STOCK::SetCacheMode(STOCKCACHE_DOWNONLY);

  STOCKPROPDATA d = Filled();
  const STOCKSTATS& s = d.stats;
  EXPECT_EQ(s.calls, 4);
  EXPECT_EQ(s.callLines, 100);
  ASSERT_TRUE(s.haveDates);
  EXPECT_EQ(s.firstCall.wDay, 1);
  EXPECT_EQ(s.lastCall.wDay, 10);
  EXPECT_EQ(s.daysHeld, 10);
  EXPECT_DOUBLE_EQ(s.linesPerCall, 25.0);
  EXPECT_DOUBLE_EQ(s.callsPerDay, 0.4);
  EXPECT_DOUBLE_EQ(s.linesPerDay, 10.0);
  EXPECT_EQ(s.daysUntilLimit, (10000 - 105) / 10);
  EXPECT_EQ(s.daysInLimit, 1000);
  EXPECT_EQ(d.oldestCall, "2024/05/01 10:00");
  // The walk used the single-line cache and gave the previous mode back.
  EXPECT_EQ(STOCK::fDownOnlyCacheMode, 1);
  EXPECT_EQ(STOCK::fSingleCacheMode, 0);

  auto rows = StockPropSummary(d);
  std::vector<std::string> labels;
  for (auto& r : rows) labels.push_back(r.label + "=" + r.value);
  EXPECT_EQ(labels[5], "通信回数=4回");
  EXPECT_EQ(labels[6], "保存期間=10日");
  EXPECT_EQ(labels[7], "1回の通信の平均行数=25.0行");
  EXPECT_EQ(labels[8], "1日の平均通信回数=0.4回");
  EXPECT_EQ(labels[10], "上書きが始まるまで=約989日");
  EXPECT_EQ(labels[11], "最大行数で保存できる期間=約1,000日");
}

TEST_F(StockPropTest, ForecastFollowsTheMode) {
  struct Case {
    unsigned long maxLines, backupLines;
    int daily;
    int untilLimit, inLimit;
  } cases[] = {
      {2000, 0, 0, (2000 - 50) / 25, 2000 / 25},
      {10000000, 500000, 0, (500000 - 50) / 25, 500000 / 25},
      {10000000, 0, 0, -1, -1},
      {10000000, 0, 1, -1, -1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.maxLines + c.backupLines + c.daily);
    Make("m.stk", int(c.maxLines), 0, 0, c.backupLines, c.daily);
    Call(Date(2023, 12, 31, 23, 59), 48);  // 50 lines since a call yesterday
    ASSERT_EQ(STOCK::UsedItems(), 50);
    STOCK::hooks.now = [] { return Date(2024, 1, 1, 0, 1); };
    STOCKSTATS s = ComputeStockStats(Date(2024, 1, 1, 0, 1));
    EXPECT_EQ(s.daysHeld, 2);
    EXPECT_EQ(s.daysUntilLimit, c.untilLimit);
    EXPECT_EQ(s.daysInLimit, c.inLimit);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

TEST_F(StockPropTest, RingMaximumDeletesTheOldestLinesBeyondIt) {
  struct Case {
    int maxLines, count;  // count lines written (count + 1 slots unless wrapped)
    const char* entry;
    int newMax, used;
  } cases[] = {
      {10000, 6000, "0.5", 5000, 5000},  // shrink: the oldest 1001 go
      {5000, 3000, "0.1", 1000, 1000},
      {1000, 1500, "0.5", 5000, 1000},   // a wrapped ring grows and keeps every line
      {10000, 300, "2", 20000, 301},     // growth only
      {2000, 2500, "0.1", 1000, 1000},   // wrapped and shrinking
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.entry + std::string(" from ") + std::to_string(c.maxLines));
    Make("r.stk", c.maxLines, c.count);
    const std::vector<std::string> before = Lines();
    STOCKPROPDATA d = Filled();
    d.maxLinesEntry = c.entry;
    EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
    EXPECT_EQ(STOCK::fWriteEnabled, 0);
    EXPECT_EQ(STOCK::cItemMaxMax, c.newMax);
    EXPECT_EQ(STOCK::UsedItems(), c.used);
    // The newest lines are kept, in order (the newest slot is empty).
    const std::vector<std::string> kept(before.end() - (c.used - 1), before.end());
    EXPECT_EQ(Lines(), kept);
    EXPECT_EQ(Reopened(), kept);
    EXPECT_EQ(HeaderOnDisk(path).cItemMaxMax, c.newMax);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

TEST_F(StockPropTest, UnchangedEntryKeepsAMaximumItCannotShow) {
  Make("k.stk", 123400, 10);
  STOCKPROPDATA d = Filled();
  EXPECT_EQ(d.maxLinesEntry, "12");
  int rebuilt = 0;
  stockPropHooks.rebuildTree = [&] { ++rebuilt; };
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
  EXPECT_EQ(STOCK::cItemMaxMax, 123400);
  EXPECT_EQ(rebuilt, 0);  // nothing changed
  EXPECT_EQ(Reopened().size(), 10u);
}

TEST_F(StockPropTest, BackupModeTakesItsThresholds) {
  struct Case {
    bool monthsOn;
    int months;
    bool linesOn;
    int units;
    uint16_t wantMonths;
    uint32_t wantLines;
  } cases[] = {
      {true, 12, true, 50, 12, 500000}, {false, 12, false, 50, 0, 0},     {true, 1, true, 0, 2, 10000},
      {true, 30, true, 999, 24, 4000000}, {false, 6, true, 100, 0, 1000000},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.months) + "/" + std::to_string(c.units));
    Make("b.stk", 10000, 100, 0, 0, 1);  // from daily-clear ring of 10,000
    const std::vector<std::string> before = Lines();
    STOCKPROPDATA d = Filled();
    d.mode = STOCKMODE::Backup;
    d.backupMonthsOn = c.monthsOn;
    d.backupMonths = c.months;
    d.backupLinesOn = c.linesOn;
    d.backupLinesUnits = c.units;
    EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
    EXPECT_TRUE(facade.rec.boxes.empty());  // not wrapped: no question
    EXPECT_EQ(Reopened(), before);
    STOCKFILEHEADER h = HeaderOnDisk(path);
    EXPECT_EQ(h.cItemMaxMax, 10000000);
    EXPECT_EQ(h.fClearDaily, 0);
    EXPECT_EQ(h.cBackupMonths, c.wantMonths);
    EXPECT_EQ(h.cBackupLines, c.wantLines);
    EXPECT_EQ(Filled().mode, STOCKMODE::Backup);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

TEST_F(StockPropTest, BackupModeOnAWrappedRingAsksFirst) {
  struct Case {
    int answer;
    int result, maxMax, used;
    size_t lines;
  } cases[] = {{ui::IDNO, 0, 1000, 1000, 999}, {ui::IDYES, 1, 10000000, 1, 0}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Make("w.stk", 1000, 1200);
    ASSERT_GT(cvOldest, cvNewest);
    facade.rec.boxes.clear();
    facade.rec.answers.push_back(c.answer);
    STOCKPROPDATA d = Filled();
    d.mode = STOCKMODE::Backup;
    d.backupMonthsOn = true;
    EXPECT_EQ(STOCK::StockPropDlgOK(d), c.result);
    ASSERT_EQ(facade.rec.boxes.size(), 1u);
    EXPECT_EQ(facade.rec.boxes[0].text, kBackupQuestion);
    EXPECT_EQ(facade.rec.boxes[0].style & 0xF, ui::MB_YESNO);
    EXPECT_EQ(STOCK::fWriteEnabled, 0);
    EXPECT_EQ(STOCK::cItemMaxMax, c.maxMax);
    EXPECT_EQ(STOCK::UsedItems(), c.used);
    EXPECT_EQ(Reopened().size(), c.lines);
    EXPECT_EQ(HeaderOnDisk(path).cBackupMonths, c.answer == ui::IDYES ? 6 : 0);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

TEST_F(StockPropTest, DailyModeKeepsAWrappedRingsLines) {
  Make("d.stk", 1000, 1200, 0, 0, 0);
  ASSERT_GT(cvOldest, cvNewest);
  const std::vector<std::string> before = Lines();
  STOCKPROPDATA d = Filled();
  d.mode = STOCKMODE::Daily;
  d.backupMonthsOn = d.backupLinesOn = true;  // not taken in daily-clear mode
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
  EXPECT_TRUE(facade.rec.boxes.empty());
  EXPECT_EQ(cvOldest, 0);
  EXPECT_EQ(Lines(), before);
  STOCK::Close();
  STOCKFILEHEADER h = HeaderOnDisk(path);
  EXPECT_EQ(h.cItemMaxMax, 10000000);
  EXPECT_EQ(h.fClearDaily, 1);
  EXPECT_EQ(h.cBackupMonths, 0);
  EXPECT_EQ(h.cBackupLines, 0u);
  EXPECT_EQ(h.iOldest, 0);
}

TEST_F(StockPropTest, BackToTheRingFromBackupMode) {
  Make("g.stk", 10000000, 0, 6, 1000000, 0);
  Call(Date(2024, 1, 2, 3, 4), 3999);  // its connect line goes with the new maximum
  Call(Date(2024, 2, 3, 4, 5), 3999);
  ASSERT_EQ(STOCK::UsedItems(), 8001);
  const std::vector<std::string> before = Lines();
  STOCKPROPDATA d = Filled();
  ASSERT_EQ(d.mode, STOCKMODE::Backup);
  d.mode = STOCKMODE::Ring;
  d.maxLinesEntry = "0.5";
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
  const std::vector<std::string> kept(before.end() - 4999, before.end());
  EXPECT_EQ(Reopened(), kept);
  STOCKFILEHEADER h = HeaderOnDisk(path);
  EXPECT_EQ(h.cItemMaxMax, 5000);
  EXPECT_EQ(h.fClearDaily, 0);
  EXPECT_EQ(h.ftOldestCall, SystemTimeToFileTime(Date(2024, 2, 3, 4, 5)));
  EXPECT_EQ(Filled().mode, STOCKMODE::Ring);
}

TEST_F(StockPropTest, SyntaxFileIsStoredOpenedAndTheStockRetagged) {
  const std::string tagFile = Path("host.tag");
  ASSERT_TRUE(WriteWholeFile(tagFile, "rules"));
  struct Case {
    std::string entry;
    bool retagDone;
    std::string stored;
    int opened, emptied;
    bool unfinished;
  } cases[] = {
      {tagFile, true, tagFile, 1, 0, false},
      {Path("missing.tag"), true, Path("missing.tag"), 1, 1, false},
      {tagFile, false, tagFile, 1, 0, true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.entry);
    Make("t.stk", 10000, 0);
    Call(Date(2024, 6, 1, 9, 0), 0);
    AppendLines({"rule", "continued", "quote", "plain"});
    const unsigned char tags[] = {TAG_CONNECT, 4, TAG_CONTINUE, TAG_QUOTE, 0};
    for (int i = 0; i < 5; ++i) STOCK::aTag[size_t(i)] = tags[i];
    STOCK::aTag[size_t(int(cvNewest))] = 7;  // the newest line is left alone
    STOCK::iViewTop = cvOldest;
    int opened = 0, emptied = 0, rebuilt = 0;
    std::vector<int> reasons;
    std::vector<std::string> openedNames;
    STOCK::hooks.openSyntax = [&](const std::string& p) {
      ++opened;
      openedNames.push_back(p);
      return access(p.c_str(), R_OK) == 0;
    };
    STOCK::hooks.emptySyntax = [&] { ++emptied; };
    STOCK::hooks.retag = [&](int reason) {
      reasons.push_back(reason);
      // The old rules' tags were gone when the re-tagging began.
      std::vector<unsigned char> now(STOCK::aTag.begin(), STOCK::aTag.begin() + 6);
      EXPECT_EQ(now, (std::vector<unsigned char>{TAG_CONNECT, 0, 0, 0, 0, 7}));
      return c.retagDone;
    };
    stockPropHooks.rebuildTree = [&] { ++rebuilt; };
    STOCKPROPDATA d = Filled();
    d.syntaxFile = c.entry;
    EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(emptied, c.emptied);
    EXPECT_EQ(reasons, std::vector<int>{1});
    EXPECT_EQ(rebuilt, 1);
    EXPECT_EQ(STOCK::iViewTop, cvNewest);
    STOCKFILEHEADER h = HeaderOnDisk(path);
    EXPECT_EQ(h.TagFile(), c.stored);
    EXPECT_EQ(h.posSaved.item, cvNewest);  // the view went to the newest line
    FILETIME ft;
    const bool have = STOCK::GetTagFileTimestamp(&ft);
    if (c.unfinished)
      EXPECT_EQ(h.ftTagFile.dwHighDateTime, 0xFFFFFFFFu);
    else
      EXPECT_EQ(h.ftTagFile, have ? ft : FILETIME{});
    EXPECT_EQ(Filled().syntaxFile, c.stored);

    // Back to none: the empty syntax, and one more re-tagging.
    d = Filled();
    d.syntaxFile = "(カラー構文なし)";
    EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(emptied, c.emptied + 1);
    EXPECT_EQ(reasons.size(), 2u);
    EXPECT_EQ(HeaderOnDisk(path).TagFile(), "");
    // No file, no time; a re-tagging that did not complete is marked again.
    EXPECT_EQ(HeaderOnDisk(path).ftTagFile, (c.unfinished ? FILETIME{0, 0xFFFFFFFFu} : FILETIME{}));
    // The same name again changes nothing.
    d = Filled();
    EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
    EXPECT_EQ(reasons.size(), 2u);
    EXPECT_EQ(rebuilt, 2);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

TEST_F(StockPropTest, SyntaxFileNameTooLongIsRefused) {
  Make("l.stk", 10000, 3);
  int retags = 0;
  STOCK::hooks.retag = [&](int) { return ++retags > 0; };
  STOCKPROPDATA d = Filled();
  d.syntaxFile = "/" + std::string(300, 'x') + ".tag";
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 1);
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, d.syntaxFile + "はファイル名が長すぎるので使えません。");
  EXPECT_EQ(retags, 0);
  EXPECT_EQ(STOCK::fileheader.TagFile(), "");
}

TEST_F(StockPropTest, AlwaysSavesAndReturnsToSharedReading) {
  Make("a.stk", 10000, 40);
  // The lines are still in memory only.
  EXPECT_LT(HeaderOnDisk(path).cItemUsed, 41);
  EXPECT_EQ(STOCK::StockPropDlgOK(Filled()), 1);
  EXPECT_EQ(STOCK::fWriteEnabled, 0);
  EXPECT_EQ(HeaderOnDisk(path).cItemUsed, 41);
}

TEST_F(StockPropTest, RefusedOnLineOrWithoutWriteAccess) {
  Make("o.stk", 10000, 40);
  STOCK::Save();  // shared reading, everything on disk
  const std::string before = ReadWholeFile(path);
  STOCKPROPDATA d = Filled();
  d.mode = STOCKMODE::Daily;

  fOnline = 1;
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 0);
  EXPECT_TRUE(facade.rec.boxes.empty());
  fOnline = 0;

  // Another reader holds the file: no write access.
  int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &fl), 0);
  EXPECT_EQ(STOCK::StockPropDlgOK(d), 0);
  close(other);
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, path + "は現在他のアプリケーションが参照しているので書き込みできません。");
  EXPECT_EQ(STOCK::cItemMaxMax, 10000);
  EXPECT_EQ(STOCK::fileheader.fClearDaily, 0);
  EXPECT_EQ(ReadWholeFile(path), before);
}

TEST_F(StockPropTest, PropertyDialogRunsTheWindowAndApplies) {
  struct Case {
    int answer;
    int maxMax;
  } cases[] = {{ui::IDOK, 10000000}, {ui::IDCANCEL, 10000}};
  for (auto& c : cases) {
    Make("p.stk", 10000, 5);
    int depth = -1;
    STOCKPROPDATA seen;
    stockPropHooks.window = [&](STOCKPROPDATA& d) {
      depth = ui::ModalDepth();
      seen = d;
      d.mode = STOCKMODE::Daily;
      return c.answer;
    };
    EXPECT_EQ(STOCK::PropertyDialog(), c.answer == ui::IDOK ? 1 : 0);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(seen.usedLines, 6);
    EXPECT_EQ(seen.maxLinesEntry, "1");
    EXPECT_EQ(STOCK::cItemMaxMax, c.maxMax);
    STOCK::Close();
    STOCK::ResetForTest();
    stockPropHooks = STOCKPROPHOOKS();
  }
}

TEST_F(StockPropTest, PropertyDialogOfTheTemporaryStockOrOnLine) {
  int shown = 0;
  stockPropHooks.window = [&](STOCKPROPDATA&) {
    ++shown;
    return int(ui::IDOK);
  };
  STOCK::CreateTempStockFile();
  EXPECT_EQ(STOCK::PropertyDialog(), 0);
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, "現在のストックファイルは一時的な物です。");
  EXPECT_EQ(STOCK::StockPropDlgOK(Filled()), 0);
  STOCK::Close();

  Make("n.stk", 10000, 5);
  fOnline = 1;
  EXPECT_EQ(STOCK::PropertyDialog(), 0);
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(facade.rec.boxes.size(), 1u);
}

using App = TestApp;

TEST(StockPropWindow, FillsAndReturnsTheChoices) {
  App app;
  STOCKPROPDATA d;
  d.fileName = "/tmp/x.stk";
  d.column = 80;
  d.usedLines = 2500;
  d.maxLines = 10000;
  d.percentUsed = 25;
  d.mode = STOCKMODE::Ring;
  d.maxLinesEntry = d.maxLinesEntryShown = "1";
  d.syntaxFile = "(カラー構文なし)";
  StockPropDialog dialog(d);

  auto* maxLines = dialog.findChild<QLineEdit*>("maxLines");
  auto* backup = dialog.findChild<QRadioButton*>("modeBackup");
  auto* monthsOn = dialog.findChild<QCheckBox*>("monthsOn");
  auto* months = dialog.findChild<QSpinBox*>("months");
  auto* lines = dialog.findChild<QSpinBox*>("lines");
  auto* syntax = dialog.findChild<QLineEdit*>("syntaxFile");
  ASSERT_TRUE(maxLines && backup && monthsOn && months && lines && syntax);
  EXPECT_EQ(maxLines->text(), "1");
  EXPECT_TRUE(maxLines->isEnabled());
  EXPECT_FALSE(months->isEnabled());
  bool shownUsed = false;
  for (QLabel* l : dialog.findChildren<QLabel*>()) shownUsed |= l->text() == QString::fromUtf8("2,500行 / 10,000行 (25%)");
  EXPECT_TRUE(shownUsed);

  // The entry takes numbers only.
  maxLines->clear();
  maxLines->insert("2x");
  EXPECT_EQ(maxLines->text(), "");
  maxLines->insert("2.5");
  EXPECT_EQ(maxLines->text(), "2.5");

  backup->setChecked(true);
  EXPECT_FALSE(maxLines->isEnabled());
  monthsOn->setChecked(true);
  EXPECT_TRUE(months->isEnabled());
  EXPECT_FALSE(lines->isEnabled());
  months->setValue(30);  // the box holds 2 to 24
  syntax->setText(" /tmp/host.tag ");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  STOCKPROPDATA r = dialog.Result();
  EXPECT_EQ(r.mode, STOCKMODE::Backup);
  EXPECT_TRUE(r.backupMonthsOn);
  EXPECT_EQ(r.backupMonths, 24);
  EXPECT_FALSE(r.backupLinesOn);
  EXPECT_EQ(r.maxLinesEntry, "2.5");
  EXPECT_EQ(r.maxLinesEntryShown, "1");
  EXPECT_EQ(r.syntaxFile, "/tmp/host.tag");
  EXPECT_EQ(r.usedLines, 2500);
}

// Runs `act` on the dialog once the event loop shows it.
void WhenDialogShown(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "StockPropDialog" && w->isVisible()) {
        timer->stop();
        timer->deleteLater();
        act(w);
        return;
      }
  });
  timer->start();
}

TEST_F(StockPropTest, InstalledWindowIsShownAndItsChoiceApplied) {
  App app;
  InstallStockPropDialog();
  struct Case {
    QDialogButtonBox::StandardButton button;
    int result, maxMax;
  } cases[] = {{QDialogButtonBox::Cancel, 0, 10000}, {QDialogButtonBox::Ok, 1, 10000000}};
  for (auto& c : cases) {
    Make("i.stk", 10000, 5);
    WhenDialogShown([&](QWidget* w) {
      w->findChild<QRadioButton*>("modeDaily")->setChecked(true);
      w->findChild<QDialogButtonBox*>()->button(c.button)->click();
    });
    EXPECT_EQ(STOCK::PropertyDialog(), c.result);
    EXPECT_EQ(STOCK::cItemMaxMax, c.maxMax);
    EXPECT_EQ(STOCK::fileheader.fClearDaily, c.result);
    STOCK::Close();
    STOCK::ResetForTest();
  }
}

}  // namespace
