// Stock backups and restoring them: the bytes of each format, the offer's
// reasons and postponing, stopped and failed backups, restoring from a stock
// or from text with its control file, and the tool's commands.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "stock/backup.h"
#include "stock_fixture.h"
#include "support/process.h"

namespace {

SYSTEMTIME Date(int y, int mo, int d, int h = 0, int mi = 0) {
  SYSTEMTIME t;
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  return t;
}

std::string U(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> v;
  for (auto& e : std::filesystem::directory_iterator(dir)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

class BackupTest : public StockTest {
 protected:
  void SetUp() override {
    StockTest::SetUp();
    out = Path("out");
    std::filesystem::create_directory(out);
  }
  // A backup-mode stock (10,000,000 lines, 40 columns), open for writing.
  void Make(uint16_t months = 0, unsigned long backupLines = 0, int column = 40) {
    path = Path("main.stk");
    ASSERT_EQ(STOCK::Create(path, STOCK_MAX_LINES, column, months, backupLines, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
  // A connect line with a date, then `after` ordinary lines.  Returns the
  // connect line's slot.
  static int Call(const SYSTEMTIME& t, int after) {
    char text[64];
    std::snprintf(text, sizeof text, "Host - %04d/%02d/%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    const int slot = cvNewest;
    AppendLines({text});
    STOCK::SetConnectTag(slot);
    AppendLines(Numbered(0, after));
    return slot;
  }
  // Three calls in three months with a wrapped line, a line with an empty
  // cell inside, and an input-column mark.  Returns the connect slots.
  std::vector<int> Fill() {
    std::vector<int> calls;
    calls.push_back(Call(Date(2026, 1, 15, 9, 30), 2));
    // A line longer than the width: the first slot is full, the second ends it.
    {
      CODEVRAM cv = cvNewest;
      std::memset(STOCK::GetItem(cv)->Text(), 'w', size_t(STOCK::cColumn));
      cv.LineFeed();
      CODEVRAM cv2 = cvNewest;
      std::memcpy(STOCK::GetItem(cv2)->Text(), "tail", 4);
      cv2.LineFeed();
    }
    calls.push_back(Call(Date(2026, 2, 3, 22, 5), 1));
    {
      CODEVRAM cv = cvNewest;
      char* t = STOCK::GetItem(cv)->Text();
      std::memcpy(t, "ab", 2);
      std::memcpy(t + 3, "cd", 2);  // cell 2 never written (NUL)
      STOCK::GetItem(cv)->cInput = 7;  // the user's input began at column 7
      cv.LineFeed();
    }
    calls.push_back(Call(Date(2026, 3, 20, 8, 0), 3));
    return calls;
  }
  BACKUPREQUEST Request(int format, int lines, const std::string& name = "bk") const {
    BACKUPREQUEST r;
    r.format = format;
    r.dir = out;
    r.name = name;
    r.lines = lines;
    return r;
  }
  // The slot bytes of the n oldest lines, and their tags, as the stock has them.
  static std::string SourceSlots(int n) {
    std::string s;
    int slot = cvOldest;
    for (int i = 0; i < n; ++i, slot = STOCK::AddIndex(slot, 1))
      s.append(reinterpret_cast<const char*>(STOCK::GetItem(slot)), size_t(STOCK::sizeSTOCKITEM));
    return s;
  }
  static std::string SourceTags(int n) {
    std::string s;
    int slot = cvOldest;
    for (int i = 0; i < n; ++i, slot = STOCK::AddIndex(slot, 1)) s.push_back(char(STOCK::aTag[size_t(slot)]));
    return s;
  }

  std::string path, out;
};

TEST_F(BackupTest, StockFormatCopiesHeaderFieldsSlotsAndTags) {
  Make(3, 20000);
  ASSERT_TRUE(STOCK::fileheader.SetTagFile("/syntax/host.tag"));
  STOCK::fileheader.ftTagFile = FILETIME{0x11223344, 0x01d00000};
  for (int i = 0; i < 10; ++i) STOCK::fileheader.reserved2[i] = uint8_t(0xA0 + i);
  Fill();
  STOCK::CalcOldestDateTime();
  const int n = STOCK::UsedItems() - 1;
  const std::string slots = SourceSlots(n), tags = SourceTags(n);
  std::string err;
  int written = 0;
  ASSERT_EQ(Backup(Request(0, n), &err, &written), 1) << err;
  EXPECT_EQ(written, n);
  EXPECT_EQ(DirEntries(out), std::vector<std::string>{"bk.stk"});
  const std::string file = ReadWholeFile(out + "/bk.stk");
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  ASSERT_EQ(file.size(), STOCK_HEADER_SIZE + size_t(n) * sz + size_t(n));
  STOCKFILEHEADER h;
  ReadStockHeader(reinterpret_cast<const unsigned char*>(file.data()), h);
  const STOCKFILEHEADER& s = STOCK::fileheader;
  EXPECT_STREQ(h.szMagic, "Quillnet Longreach Stock Header");
  EXPECT_EQ(h.cItemMaxMax, STOCK_MAX_LINES);
  EXPECT_EQ(h.dwVersion, 6u);
  EXPECT_EQ(h.cItemUsed, n);
  EXPECT_EQ(h.cItemMax, n);
  EXPECT_EQ(h.iOldest, 0);
  EXPECT_EQ(h.iNewest, n - 1);
  EXPECT_EQ(h.cColumn, 40);
  EXPECT_EQ(h.TagFile(), "/syntax/host.tag");
  EXPECT_EQ(h.ftTagFile, s.ftTagFile);
  EXPECT_EQ(0, std::memcmp(h.reserved2, s.reserved2, 10));
  EXPECT_EQ(h.cBackupMonths, 3);
  EXPECT_EQ(h.cBackupLines, 20000u);
  EXPECT_EQ(h.ftOldestCall, s.ftOldestCall);
  EXPECT_NE(h.ftOldestCall.dwHighDateTime, 0u);
  // Everything else is zero: no index or search definitions, no bookmarks,
  // not on line, not cleared daily.
  EXPECT_EQ(h.cIndexProp, 0);
  EXPECT_EQ(h.cSearchProp, 0);
  EXPECT_EQ(h.cMark, 0);
  EXPECT_EQ(h.fOnlineFlag, 0u);
  EXPECT_EQ(h.fClearDaily, 0);
  for (size_t i = stockoff::reserved3; i < STOCK_HEADER_SIZE; ++i) ASSERT_EQ(file[i], 0) << i;
  EXPECT_TRUE(file.substr(STOCK_HEADER_SIZE, size_t(n) * sz) == slots);
  EXPECT_TRUE(file.substr(STOCK_HEADER_SIZE + size_t(n) * sz) == tags);
  // The stock itself is unchanged without --delete.
  EXPECT_EQ(STOCK::UsedItems(), n + 1);
}

TEST_F(BackupTest, TextFormatsWriteControlBytesAndCrLfLines) {
  Make();
  const std::vector<int> calls = Fill();
  const int n = STOCK::UsedItems() - 1;
  // Logical lines: call 1 (3), wrapped (1), call 2 (2), marked (1), call 3 (4).
  const std::string wide(40, 'w');
  const std::string expectText = "Host - 2026/01/15 09:30\r\nline 0\r\nline 1\r\n" + wide + "tail\r\n" +
                                 "Host - 2026/02/03 22:05\r\nline 0\r\nab cd\r\n" +
                                 "Host - 2026/03/20 08:00\r\nline 0\r\nline 1\r\nline 2\r\n";
  const std::string expectMarks = std::string("\xFE\xFF\xFF\xFF\xFE\xFF\x07\xFE\xFF\xFF\xFF", 11);
  for (int format : {1, 2}) {
    SCOPED_TRACE(format);
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    std::string err;
    ASSERT_EQ(Backup(Request(format, n), &err), 1) << err;
    EXPECT_EQ(ReadWholeFile(out + "/bk.txt"), expectText);
    if (format == 2) {
      EXPECT_EQ(DirEntries(out), std::vector<std::string>{"bk.txt"});
      continue;
    }
    EXPECT_EQ(DirEntries(out), (std::vector<std::string>{"bk.sti", "bk.txt"}));
    const std::string sti = ReadWholeFile(out + "/bk.sti");
    ASSERT_EQ(sti.size(), STOCK_HEADER_SIZE + expectMarks.size());
    EXPECT_EQ(std::string(sti.data()), "Quillnet Longreach Stock file backup info Header");
    for (size_t i = std::strlen(sti.data()); i < STOCK_MAGIC_SIZE; ++i) ASSERT_EQ(sti[i], 0) << i;
    STOCKFILEHEADER h;
    ReadStockHeader(reinterpret_cast<const unsigned char*>(sti.data()), h);
    EXPECT_EQ(h.cItemMaxMax, STOCK_MAX_LINES);
    EXPECT_EQ(h.dwVersion, 6u);
    EXPECT_EQ(h.cItemUsed, n);
    EXPECT_EQ(h.cColumn, 40);
    EXPECT_TRUE(sti.substr(STOCK_HEADER_SIZE) == expectMarks);
    EXPECT_EQ(std::count(sti.begin() + STOCK_HEADER_SIZE, sti.end(), '\xFE'), long(calls.size()));
  }
}

TEST_F(BackupTest, RangeEndsAtMonthAndBeforeTheCurrentCallOnLine) {
  Make();
  const std::vector<int> calls = Fill();
  struct Case {
    int month;
    int lines;
  } cases[] = {
      {2025 * 12 + 11, STOCK::Flat(calls[0])},  // December 2025: nothing
      {2026 * 12 + 0, STOCK::Flat(calls[1])},   // January
      {2026 * 12 + 1, STOCK::Flat(calls[2])},   // up to February
      {2026 * 12 + 2, STOCK::UsedItems()},      // March: every line
  };
  for (const Case& c : cases) EXPECT_EQ(BackupLinesUntilMonth(c.month), c.lines) << c.month;
  // On line, the newest call is the one in progress and stays.
  BACKUPREQUEST r = Request(2, STOCK::UsedItems());
  r.online = true;
  int written = -1;
  std::string err;
  ASSERT_EQ(Backup(r, &err, &written), 1) << err;
  EXPECT_EQ(written, STOCK::Flat(calls[2]));
  const std::string text = ReadWholeFile(out + "/bk.txt");
  EXPECT_EQ(text.find("2026/03/20"), std::string::npos);
  EXPECT_NE(text.find("ab cd\r\n"), std::string::npos);
}

TEST_F(BackupTest, DeleteAfterRemovesExactlyTheWrittenLines) {
  Make();
  const std::vector<int> calls = Fill();
  const std::vector<std::string> before = Lines();
  const int n = STOCK::Flat(calls[1]);
  BACKUPREQUEST r = Request(1, n);
  r.deleteAfter = true;
  std::string err;
  ASSERT_EQ(Backup(r, &err), 1) << err;
  // Reopened from disk: the lines from the second call on, oldest call moved.
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(path), 1);
  const std::vector<std::string> after = Lines();
  EXPECT_EQ(after, std::vector<std::string>(before.begin() + 4, before.end()));
  EXPECT_EQ(FileTimeToSystemTime(STOCK::fileheader.ftOldestCall).wMonth, 2);
}

TEST_F(BackupTest, StoppedOrFailedBackupLeavesNoFilesAndTheStockWhole) {
  Make();
  for (int i = 0; i < 30; ++i) Call(Date(2026, 1, 1 + i % 28), 120);
  const std::vector<std::string> before = Lines();
  const int n = STOCK::UsedItems() - 1;
  for (int format : {0, 1, 2}) {
    SCOPED_TRACE(format);
    BACKUPREQUEST r = Request(format, n);
    r.deleteAfter = true;
    int calls = 0;
    r.progress = [&](int, int) { return ++calls < 2; };  // the stop button on the second step
    std::string err = "x";
    EXPECT_EQ(Backup(r, &err), 0);
    EXPECT_EQ(err, "");
    EXPECT_GE(calls, 2);
    EXPECT_TRUE(DirEntries(out).empty());
    EXPECT_EQ(Lines(), before);
  }
  // A directory that cannot be written to.
  BACKUPREQUEST r = Request(1, n);
  r.dir = Path("missing");
  r.deleteAfter = true;
  std::string err;
  EXPECT_EQ(Backup(r, &err), 0);
  EXPECT_EQ(err, U("バックアップファイルの作成に失敗しました。"));
  EXPECT_EQ(Lines(), before);
  // An existing name is kept unless replacing was agreed to.
  {
    std::ofstream(out + "/bk.txt") << "older backup";
  }
  r = Request(1, n);
  r.deleteAfter = true;
  EXPECT_EQ(Backup(r, &err), 0);
  EXPECT_EQ(ReadWholeFile(out + "/bk.txt"), "older backup");
  EXPECT_EQ(DirEntries(out), std::vector<std::string>{"bk.txt"});
  EXPECT_EQ(Lines(), before);
  r.replace = true;
  r.deleteAfter = false;
  EXPECT_EQ(Backup(r, &err), 1) << err;
  EXPECT_NE(ReadWholeFile(out + "/bk.txt"), "older backup");
  // Zero lines succeed and write nothing.
  std::filesystem::remove_all(out);
  std::filesystem::create_directory(out);
  EXPECT_EQ(Backup(Request(1, 0), &err), 1);
  EXPECT_TRUE(DirEntries(out).empty());
}

TEST_F(BackupTest, CheckReasonsAtTheirThresholds) {
  struct Case {
    const char* name;
    int maxLines;
    int daily;
    uint16_t months;
    unsigned long backupLines;
    int lines;  // ordinary lines after one call on 2026-01-15
    SYSTEMTIME today;
    int reason;
  } cases[] = {
      {"lines at the threshold", STOCK_MAX_LINES, 0, 0, 120, 118, Date(2026, 6, 1), 0},  // 120 used
      {"lines one past", STOCK_MAX_LINES, 0, 0, 120, 119, Date(2026, 6, 1), 1},
      {"months, day before", STOCK_MAX_LINES, 0, 2, 0, 5, Date(2026, 3, 14), 0},
      {"months, same day", STOCK_MAX_LINES, 0, 2, 0, 5, Date(2026, 3, 15), 2},
      {"months, next month early", STOCK_MAX_LINES, 0, 2, 0, 5, Date(2026, 4, 1), 2},
      {"months across a year", STOCK_MAX_LINES, 0, 12, 0, 5, Date(2027, 1, 15), 2},
      {"both: the line count wins", STOCK_MAX_LINES, 0, 2, 100, 200, Date(2026, 5, 1), 1},
      {"ring stock", 100000, 0, 2, 100, 200, Date(2026, 5, 1), 0},
      {"daily clearing", STOCK_MAX_LINES, 1, 2, 100, 200, Date(2026, 5, 1), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    STOCK::ResetForTest();
    path = Path("check.stk");
    ASSERT_EQ(STOCK::Create(path, c.maxLines, 40, c.months, c.backupLines, c.daily), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    Call(Date(2026, 1, 15, 10, 0), c.lines);
    // The oldest call is not known from the header: it is worked out.
    STOCK::fileheader.ftOldestCall = {};
    const BACKUPCHECK r = CheckBackup(c.today);
    EXPECT_EQ(r.reason, c.reason);
    if (r.reason == 1)
      EXPECT_EQ(r.heading, U("ストックファイルの行数が0万行になりました。"));
    else if (r.reason == 2)
      EXPECT_EQ(r.heading, U("ストックファイルに") + std::to_string(c.months) + U("ヶ月分の通信結果が溜まりました。"));
    else
      EXPECT_EQ(r.heading, "");
    if (c.maxLines == STOCK_MAX_LINES && !c.daily) {
      EXPECT_EQ(r.oldestMonth, 2026 * 12);
    }
  }
}

TEST_F(BackupTest, PostponingRaisesTheThresholdAndIsSaved) {
  Make(2, 100);
  Call(Date(2026, 1, 15), 150);
  ASSERT_EQ(CheckBackup(Date(2026, 4, 1)).reason, 1);
  ASSERT_TRUE(PostponeBackup(1));
  EXPECT_EQ(STOCK::fileheader.cBackupLines, 10100u);
  // Now the months are the reason; postponing that adds one month.
  ASSERT_EQ(CheckBackup(Date(2026, 4, 1)).reason, 2);
  ASSERT_TRUE(PostponeBackup(2));
  EXPECT_EQ(STOCK::fileheader.cBackupMonths, 3);
  EXPECT_EQ(CheckBackup(Date(2026, 4, 1)).reason, 0);
  EXPECT_EQ(CheckBackup(Date(2026, 4, 14)).reason, 0);
  EXPECT_EQ(CheckBackup(Date(2026, 4, 15)).reason, 2);  // three months held
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(path), 1);
  EXPECT_EQ(STOCK::fileheader.cBackupLines, 10100u);
  EXPECT_EQ(STOCK::fileheader.cBackupMonths, 3);
  EXPECT_EQ(STOCK::UsedItems(), 152);
}

TEST_F(BackupTest, RestoreGivesBackLinesMarksAndTags) {
  Make(3, 50000);
  const std::string tagFile = Path("host.tag");  // present, so opening finds the syntax
  std::ofstream(tagFile) << "syntax";
  ASSERT_TRUE(STOCK::fileheader.SetTagFile(tagFile));
  Fill();
  const int n = STOCK::UsedItems() - 1;
  const std::vector<std::string> lines = Lines();
  // Marks and tags of the first slot of each logical line.
  const auto firsts = [] {
    std::vector<std::pair<int, int>> v;
    CODEVRAM cv = cvOldest;
    bool start = true;
    for (;;) {
      if (start && !(cv.IsNewest() && cv.Length() == 0))
        v.push_back({STOCK::GetItem(cv)->cInput, STOCK::aTag[size_t(cv.i)] == TAG_CONNECT});
      start = cv.IsCR();
      if (cv.IsNewest()) break;
      ++cv;
    }
    return v;
  };
  const auto marks = firsts();
  std::string err;
  ASSERT_EQ(Backup(Request(0, n, "as-stock"), &err), 1) << err;
  ASSERT_EQ(Backup(Request(1, n, "as-text"), &err), 1) << err;
  STOCK::Close();
  STOCK::ResetForTest();
  for (const char* name : {"as-stock.stk", "as-text.txt"}) {
    SCOPED_TRACE(name);
    const std::string target = Path(std::string("r-") + name + ".stk");
    std::string written;
    ASSERT_EQ(RestoreStock(out + "/" + name, target, &err, &written), 1) << err;
    EXPECT_EQ(written, target);
    ASSERT_EQ(STOCK::Open(target), 1);
    // The text backup wrote the never-written cell as a blank.
    std::vector<std::string> want = lines;
    if (std::string(name).ends_with(".txt"))
      for (auto& l : want) std::replace(l.begin(), l.end(), '\0', ' ');
    EXPECT_EQ(Lines(), want);
    EXPECT_EQ(firsts(), marks);
    EXPECT_EQ(STOCK::cItemMaxMax, STOCK_MAX_LINES);
    EXPECT_EQ(STOCK::cColumn, 40);
    EXPECT_EQ(STOCK::fileheader.cBackupMonths, 3);
    EXPECT_EQ(STOCK::fileheader.cBackupLines, 50000u);
    EXPECT_EQ(STOCK::fileheader.TagFile(), tagFile);
    EXPECT_EQ(FileTimeToSystemTime(STOCK::fileheader.ftOldestCall).wMonth, 1);
    STOCK::ResetForTest();
  }
  // Without a target: the data directory, the backup's name with ".stk".
  const std::string data = Path("data");
  std::filesystem::create_directory(data);
  SetDataDir(data);
  std::string written;
  ASSERT_EQ(RestoreStock(out + "/as-text.txt", "", &err, &written), 1) << err;
  EXPECT_EQ(written, data + "/as-text.stk");
  EXPECT_EQ(DirEntries(data), std::vector<std::string>{"as-text.stk"});
  // Never over the backup itself.
  const std::string before = ReadWholeFile(out + "/as-stock.stk");
  EXPECT_EQ(RestoreStock(out + "/as-stock.stk", out + "/as-stock.stk", &err), 0);
  EXPECT_EQ(ReadWholeFile(out + "/as-stock.stk"), before);
}

TEST_F(BackupTest, TextRestoreRefusesBadControlFilesAndStopsAtTheirEnd) {
  Make();
  Fill();
  std::string err;
  ASSERT_EQ(Backup(Request(1, STOCK::UsedItems() - 1), &err), 1) << err;
  STOCK::ResetForTest();
  const std::string sti = ReadWholeFile(out + "/bk.sti");
  const std::string txt = out + "/bk.txt";
  const auto writeSti = [&](const std::string& bytes) { std::ofstream(out + "/bk.sti", std::ios::binary) << bytes; };
  std::string badWidth = sti, zeroWidth = sti;
  badWidth[stockoff::cColumn] = 30;
  zeroWidth[stockoff::cColumn] = 0;
  struct Case {
    const char* name;
    bool present;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"missing", false, "", "制御情報ファイル（.sti）が見つからないので復元できません。"},
      {"short header", true, sti.substr(0, 500), "制御情報ファイルが読めません。"},
      {"foreign magic", true, "X" + sti.substr(1), "制御情報ファイルが読めません。"},
      {"width 30", true, badWidth, "制御情報ファイルが読めません。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(out + "/bk.sti");
    if (c.present) writeSti(c.bytes);
    const std::string target = Path("restored.stk");
    EXPECT_EQ(RestoreStock(txt, target, &err), 0);
    EXPECT_EQ(err, U(c.message));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"main.stk", "out"}));
  }
  // Width 0 reads as 80: the 40-column text is laid out in 80 columns.
  writeSti(zeroWidth);
  ASSERT_EQ(RestoreStock(txt, Path("wide.stk"), &err), 1) << err;
  ASSERT_EQ(STOCK::Open(Path("wide.stk")), 1);
  EXPECT_EQ(STOCK::cColumn, 80);
  EXPECT_EQ(Lines()[3], std::string(40, 'w') + "tail");
  STOCK::ResetForTest();
  // A control file with five bytes restores the first five lines only.
  writeSti(sti.substr(0, STOCK_HEADER_SIZE + 5));
  ASSERT_EQ(RestoreStock(txt, Path("short.stk"), &err), 1) << err;
  ASSERT_EQ(STOCK::Open(Path("short.stk")), 1);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Host - 2026/01/15 09:30", "line 0", "line 1",
                                               std::string(40, 'w') + "tail", "Host - 2026/02/03 22:05"}));
  EXPECT_EQ(STOCK::aTag[size_t(STOCK::AddIndex(cvOldest, 5))], TAG_CONNECT);
}

TEST(BackupLayout, PlainLinesAreLaidOutLikeReceivedText) {
  struct Case {
    const char* name;
    std::string text;
    size_t marks;
    std::vector<std::string> slots;  // text of each slot, NULs dropped
    size_t taken;
  } cases[] = {
      {"CR LF, CR and LF end lines", "a\r\nb\rc\nd", 9, {"a", "b", "c", "d"}, 4},
      {"an empty line", "a\r\n\r\nb\r\n", 9, {"a", "", "b"}, 3},
      {"controls and escapes become blanks", "x\x1b[2Jy\x07", 9, {"x [2Jy "}, 1},
      {"marks run out", "a\nb\nc\n", 2, {"a", "b"}, 2},
      {"exactly the width wraps to an empty slot", std::string(10, 'z') + "\n", 9, {std::string(10, 'z'), ""}, 1},
      {"a double-byte character in the last cell moves on", std::string(9, 'q') + "\x82\xa0" + "\n", 9,
       {std::string(9, 'q') + "\x7f", "\x82\xa0"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> marks(c.marks, 0xFF);
    std::vector<unsigned char> slots, tags;
    EXPECT_EQ(LayOutText(c.text.data(), c.text.size(), marks.data(), marks.size(), 10, slots, tags), c.taken);
    ASSERT_EQ(slots.size(), c.slots.size() * 11);
    ASSERT_EQ(tags.size(), c.slots.size());
    for (size_t i = 0; i < c.slots.size(); ++i) {
      const char* t = reinterpret_cast<const char*>(slots.data() + i * 11 + 1);
      EXPECT_EQ(std::string(t, strnlen(t, 10)), c.slots[i]) << i;
    }
  }
  // The first slot of a connect line gets tag 3, continuation slots tag 1.
  const unsigned char m[] = {0xFE, 0x05};
  std::vector<unsigned char> slots, tags;
  const std::string text = std::string(15, 'k') + "\nshort\n";
  ASSERT_EQ(LayOutText(text.data(), text.size(), m, 2, 10, slots, tags), 2u);
  EXPECT_EQ(tags, (std::vector<unsigned char>{TAG_CONNECT, TAG_CONTINUE, TAG_NONE}));
  EXPECT_EQ(slots[0], 0xFE);
  EXPECT_EQ(slots[11], 0xFF);
  EXPECT_EQ(slots[22], 0x05);
}

// The tool end to end: create in backup mode, check, back up with --delete,
// restore, and compare exports.
TEST_F(BackupTest, ToolBacksUpChecksAndRestores) {
  const std::string tool = QUILLNET_TOOL_PATH;
  Make(2, 0);
  Fill();
  STOCK::Close();
  STOCK::ResetForTest();
  const std::string before = RunProcess({tool, "stock", "export", path}, "").out;
  auto check = RunProcess({tool, "stock", "backup", path, "--check", "--today", "2026-03-15"}, "");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "reason 2\nストックファイルに2ヶ月分の通信結果が溜まりました。\n");
  check = RunProcess({tool, "stock", "backup", path, "--check", "--today", "2026-03-14"}, "");
  EXPECT_EQ(check.out, "reason 0\n");
  auto r = RunProcess(
      {tool, "stock", "backup", path, "--until", "2026-01", "--dir", out, "--name", "jan", "--delete"}, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "lines 5\n");  // the wrapped line is two slots
  EXPECT_EQ(DirEntries(out), (std::vector<std::string>{"jan.sti", "jan.txt"}));
  const std::string rest = RunProcess({tool, "stock", "export", path}, "").out;
  const std::string target = Path("back.stk");
  r = RunProcess({tool, "stock", "restore", out + "/jan.txt", "--to", target}, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, target + "\n");
  EXPECT_EQ(RunProcess({tool, "stock", "export", target}, "").out + rest, before);
  // Refusals: an existing name, a missing directory, bad arguments.
  r = RunProcess({tool, "stock", "backup", path, "--lines", "2", "--dir", out, "--name", "jan"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(RunProcess({tool, "stock", "backup", path, "--dir", Path("nope")}, "").status, 1);
  EXPECT_EQ(RunProcess({tool, "stock", "backup", path, "--format", "3"}, "").status, 2);
  EXPECT_EQ(RunProcess({tool, "stock", "backup", path, "--until", "2026-13"}, "").status, 2);
  // create's backup and daily modes.
  ASSERT_EQ(RunProcess({tool, "stock", "create", Path("d.stk"), "--daily"}, "").status, 0);
  ASSERT_EQ(RunProcess({tool, "stock", "create", Path("b.stk"), "--backup-months", "6", "--backup-lines", "300000"}, "")
                .status,
            0);
  const std::string info = RunProcess({tool, "stock", "info", Path("b.stk")}, "").out;
  EXPECT_NE(info.find("cItemMaxMax: 10000000\n"), std::string::npos);
  EXPECT_NE(info.find("cBackupMonths: 6\n"), std::string::npos);
  EXPECT_NE(info.find("cBackupLines: 300000\n"), std::string::npos);
  EXPECT_NE(RunProcess({tool, "stock", "info", Path("d.stk")}, "").out.find("fClearDaily: 1\n"), std::string::npos);
}

}  // namespace

// A text restore reads the text a piece at a time: lines and CR LF pairs cut
// by a piece's end, a line longer than a piece and a last line without a
// line end must come out as laying out the whole text at once does.
TEST_F(BackupTest, TextRestoreAcrossReadPiecesEqualsWholeLayout) {
  constexpr size_t kPiece = size_t(1) << 20;  // the reader's first piece
  const auto filler = [](size_t n, char c) {
    std::string s;
    while (s.size() < n) s += std::string(std::min<size_t>(30, n - s.size()), c) + "\n";
    return s;
  };
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"CR LF cut by the piece's end", filler(kPiece - 1, 'a') + "\r\nnext\r\n"},
      {"a CR alone at the piece's end", filler(kPiece - 1, 'b') + "\rafter\n"},
      {"a line longer than two pieces", "x\n" + std::string(2 * kPiece + 77, 'l') + "\r\ntail\n"},
      {"the last line without a line end", filler(kPiece + 5, 'c') + "end"},
  };
  STOCKFILEHEADER h;
  h.Reset();
  h.cColumn = 40;
  unsigned char raw[STOCK_HEADER_SIZE];
  WriteStockHeader(h, raw);
  std::memset(raw, 0, STOCK_MAGIC_SIZE);
  std::memcpy(raw, kBackupInfoMagic, std::strlen(kBackupInfoMagic) + 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    STOCK::ResetForTest();
    // Marks: a connect byte every 7th line, else a varying input column.
    std::vector<unsigned char> marks;
    for (size_t i = 0; i < 200000; ++i) marks.push_back(i % 7 == 0 ? 0xFE : (unsigned char)(i % 5 ? 0xFF : 3));
    std::vector<unsigned char> slots, tags;
    const size_t taken = LayOutText(c.text.data(), c.text.size(), marks.data(), marks.size(), 40, slots, tags);
    ASSERT_LT(taken, marks.size());
    std::ofstream(out + "/big.txt", std::ios::binary) << c.text;
    std::ofstream(out + "/big.sti", std::ios::binary)
        << std::string(reinterpret_cast<const char*>(raw), sizeof raw)
        << std::string(marks.begin(), marks.begin() + long(taken) + 3);  // 3 to spare: the text ends first
    std::string err;
    ASSERT_EQ(RestoreStock(out + "/big.txt", Path("big.stk"), &err), 1) << err;
    ASSERT_EQ(STOCK::Open(Path("big.stk")), 1);
    ASSERT_EQ(size_t(STOCK::UsedItems()), tags.size() + 1);  // and the empty newest line
    EXPECT_TRUE(SourceSlots(int(tags.size())) == std::string(slots.begin(), slots.end()));
    EXPECT_TRUE(SourceTags(int(tags.size())) == std::string(tags.begin(), tags.end()));
  }
}
