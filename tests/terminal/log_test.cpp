// The log file: raw and plain content for the same input, backspaces by whole
// characters, append/overwrite/backup modes and the .BK rotation, the cache,
// the size limit and its question, dated names, and paths that cannot be
// opened or written.  Every test works on real files in a temporary directory.
#include "terminal/log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/temp_dir.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LOG::ResetForTest();
    ASSERT_FALSE(dir.Path().empty());
    std::memcpy(savedLogPath, config.LogPath, sizeof savedLogPath);
    std::snprintf(config.LogPath, sizeof config.LogPath, "%s", dir.Path().c_str());
    savedHost = hostprop;
  }
  void TearDown() override {
    LOG::ResetForTest();
    std::memcpy(config.LogPath, savedLogPath, sizeof savedLogPath);
    hostprop = savedHost;
  }

  static void Feed(const std::string& bytes) {
    for (char c : bytes) LOG::Put(c);
  }
  static std::string Read(const std::string& path) {
    std::string data;
    bool missing = false;
    if (!ReadFileBytes(path, data, &missing)) return missing ? "<missing>" : "<unreadable>";
    return data;
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  // Starts a log in the temporary directory, feeds the bytes, ends it and
  // returns the file's content.
  std::string LogOf(const std::string& bytes, int textLog, const char* name = "t.log") {
    std::string path = dir.File(name);
    unlink(path.c_str());
    EXPECT_EQ(LOG::Start(name, LOGOPEN_APPEND, LOG::kNoLimit, textLog), 1);
    Feed(bytes);
    LOG::End();
    return Read(path);
  }

  TempDir dir;
  ui::ScopedRecordingFacade facade;
  char savedLogPath[sizeof config.LogPath];
  HOSTPROPERTY savedHost;
};

// ---- raw and plain content of the same input ---------------------------------

struct ContentCase {
  const char* name;
  std::string input, raw, plain;
};

const ContentCase kContent[] = {
    {"backspace takes back one character", "ab\bc", "ab\bc", "ac"},
    {"a TAB is taken back once, then nothing more", "x\t\b\by", "x\t\b\by", "xy"},
    {"cursor position becomes a new line indented to the column", "a\x1b[10;5Hb", "a\x1b[10;5Hb",
     "a\r\n    b"},
    {"cursor home is a bare new line", "a\x1b[Hb", "a\x1b[Hb", "a\r\nb"},
    {"the count survives another final byte", "a\x1b[3mb\x1b[Cc", "a\x1b[3mb\x1b[Cc", "ab   c"},
    {"ESC C with a count", "a\x1b[4Cb", "a\x1b[4Cb", "a    b"},
    {"CR CR LF", "x\r\r\ny", "x\r\ny", "x\r\ny"},
    {"only the CR right after a CR is dropped", "a\rb\r\r\r\nc", "a\rb\r\nc", "ab\r\nc"},
    {"Ctrl+Z is never logged", "a\x1a" "b", "ab", "ab"},
    {"other control codes are plain-log noise", std::string("a\x07\x0e\x00" "b", 5), std::string("a\x07\x0e\x00" "b", 5), "ab"},
    {"ESC and a byte other than [", "\x1b" "Mx\x1b(By", "\x1b" "Mx\x1b(By", "xBy"},
    {"private and unknown sequences leave nothing", "a\x1b[?25lb\x1b[2Jc", "a\x1b[?25lb\x1b[2Jc", "abc"},
    {"a space ends a sequence", "a\x1b[1 b", "a\x1b[1 b", "ab"},
    {"double-byte text", "\x8a\xbf\x8e\x9a\n", "\x8a\xbf\x8e\x9a\n", "\x8a\xbf\x8e\x9a\r\n"},
    // BS stands for one cell: a double-byte character goes whole with the
    // first of its two BS, so the usual host erase "BS BS SP SP BS BS" works.
    {"host erase of a double-byte character", "A\x8a\xbf\b\b  \b\bB", "A\x8a\xbf\b\b  \b\bB", "AB"},
    {"one BS takes a double-byte character whole", "A\x8a\xbf\bB", "A\x8a\xbf\bB", "AB"},
    {"the third BS reaches the character before", "AB\x8a\xbf\b\b\b", "AB\x8a\xbf\b\b\b", "A"},
    {"a lone lead byte goes alone", "A\x8a\b", "A\x8a\b", "A"},
    {"a lead byte before a line end keeps the line end", "A\x8a\n\bB", "A\x8a\n\bB", "A\x8a\r\nB"},
    {"BS never crosses a line end", "ab\n\b\b\bc", "ab\n\b\b\bc", "ab\r\nc"},
    {"BS takes back padding of a cursor move", "\x1b[3C\bx", "\x1b[3C\bx", "  x"},
    {"BS at the very start does nothing", "\b\bz", "\b\bz", "z"},
};

void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

class LogContentTest : public LogTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(LogContentTest, RawKeepsTheBytesAndPlainKeepsTheText) {
  const ContentCase& c = GetParam();
  EXPECT_EQ(LogOf(c.input, 0), c.raw);
  EXPECT_EQ(LogOf(c.input, 1), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Cases, LogContentTest, ::testing::ValuesIn(kContent),
                         [](const auto& info) {
                           std::string n;
                           for (char ch : std::string(info.param.name)) n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return n;
                         });

TEST_F(LogTest, CursorPaddingIsCappedAtTheColumnCount) {
  LOG::hooks.columns = [] { return 10; };
  EXPECT_EQ(LogOf("\x1b[99999999999999Cx", 1), std::string(10, ' ') + "x");
  EXPECT_EQ(LogOf("\x1b[5;400Hx", 1), "\r\n" + std::string(10, ' ') + "x");
}

TEST_F(LogTest, BackspaceReachesIntoTextAlreadyWrittenButNotIntoAnEarlierSession) {
  std::string path = dir.File("s.log");
  ASSERT_TRUE(WriteWholeFile(path, "OLD"));
  ASSERT_EQ(LOG::Start("s.log", LOGOPEN_APPEND, LOG::kNoLimit, 1), 1);
  Feed("ab\x8a\xbf");
  LOG::FlushCache();
  EXPECT_EQ(Read(path), "OLDab\x8a\xbf");
  Feed("\b");  // the character is in the file, not the cache
  EXPECT_EQ(Read(path), "OLDab");
  EXPECT_EQ(LOG::cbFile, 5);
  Feed("\b\b\b\b\b\b");
  LOG::End();
  EXPECT_EQ(Read(path), "OLD");
  // Nor into this program's own previous log, even in the middle of a line.
  ASSERT_EQ(LOG::Start("s.log", LOGOPEN_APPEND, LOG::kNoLimit, 1), 1);
  Feed("xy");
  LOG::End();
  ASSERT_EQ(LOG::Start("s.log", LOGOPEN_APPEND, LOG::kNoLimit, 1), 1);
  Feed("\b\bz");
  LOG::End();
  EXPECT_EQ(Read(path), "OLDxyz");
}

TEST_F(LogTest, PausedBytesAreNotWrittenButStillCountAsThePreviousByte) {
  std::string path = dir.File("p.log");
  ASSERT_EQ(LOG::Start("p.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  Feed("a\r");
  LOG::fPause = 1;
  Feed("bc\r");
  LOG::fPause = 0;
  Feed("\rd");  // follows a CR given while paused: dropped
  LOG::End();
  EXPECT_EQ(Read(path), "a\rd");
}

// ---- opening: append, Ctrl+Z, overwrite, backups ------------------------------

TEST_F(LogTest, AppendOverwritesATrailingCtrlZOnlyWhenTextFollows) {
  std::string path = dir.File("z.log");
  ASSERT_TRUE(WriteWholeFile(path, "old\x1a"));
  ASSERT_EQ(LOG::Start("z.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  LOG::End();
  EXPECT_EQ(Read(path), "old\x1a");
  ASSERT_EQ(LOG::Start("z.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  Feed("new");
  LOG::End();
  EXPECT_EQ(Read(path), "oldnew");
  // A Ctrl+Z inside the file is text like any other.
  ASSERT_TRUE(WriteWholeFile(path, "a\x1a" "b"));
  ASSERT_EQ(LOG::Start("z.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  Feed("c");
  LOG::End();
  EXPECT_EQ(Read(path), "a\x1a" "bc");
}

TEST_F(LogTest, OverwriteStartsTheFileAnew) {
  std::string path = dir.File("o.log");
  ASSERT_TRUE(WriteWholeFile(path, "a long earlier text"));
  ASSERT_EQ(LOG::Start("o.log", LOGOPEN_OVERWRITE, LOG::kNoLimit, 0), 1);
  Feed("new");
  LOG::End();
  EXPECT_EQ(Read(path), "new");
  EXPECT_FALSE(Exists(dir.File("o.BK1")));
}

TEST_F(LogTest, BackupModeRotatesThroughBK1ToBK9) {
  // Eleven sessions in the dialogs' mode: the file holds the newest, .BK1 the
  // one before, ... .BK9 the ninth before; older ones are gone.
  for (int s = 1; s <= 11; ++s) {
    ASSERT_EQ(LOG::Start("host.log", LOGOPEN_BACKUP, LOG::kNoLimit, 0), 1);
    Feed("session " + std::to_string(s));
    LOG::End();
  }
  EXPECT_EQ(Read(dir.File("host.log")), "session 11");
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(Read(dir.File("host.BK" + std::to_string(k))), "session " + std::to_string(11 - k));
  EXPECT_FALSE(Exists(dir.File("host.BK10")));
  EXPECT_FALSE(Exists(dir.File("host.BK0")));
}

TEST_F(LogTest, SmallerBackupModesKeepFewerGenerations) {
  for (int s = 1; s <= 5; ++s) {
    ASSERT_EQ(LOG::Start("few.log", 3, LOG::kNoLimit, 0), 1);  // keeps two
    Feed(std::to_string(s));
    LOG::End();
  }
  EXPECT_EQ(Read(dir.File("few.log")), "5");
  EXPECT_EQ(Read(dir.File("few.BK1")), "4");
  EXPECT_EQ(Read(dir.File("few.BK2")), "3");
  EXPECT_FALSE(Exists(dir.File("few.BK3")));
}

struct BackupNameCase {
  const char* path;
  const char* bk1;
};
const BackupNameCase kBackupNames[] = {
    {"/l/host.log", "/l/host.BK1"},
    {"/l/session", "/l/session.BK1"},        // no extension: appended
    {"/l/dir.d/session", "/l/dir.d/session.BK1"},  // the directory takes no part
    {"/l/a.b.log", "/l/a.b.BK1"},            // the last extension goes
    {"/l/.log", "/l/.log.BK1"},              // a hidden file has no extension
    {"rel.txt", "rel.BK1"},
};

TEST_F(LogTest, BackupNamesComeFromTheFileName) {
  for (const auto& c : kBackupNames) EXPECT_EQ(LOG::BackupName(c.path, 1), c.bk1) << c.path;
  EXPECT_EQ(LOG::BackupName("/l/host.log", 9), "/l/host.BK9");
}

TEST_F(LogTest, BackupRotationForANameWithoutExtensionInADottedDirectory) {
  ASSERT_EQ(mkdir(dir.File("logs.d").c_str(), 0700), 0);
  for (int s = 1; s <= 2; ++s) {
    ASSERT_EQ(LOG::Start("logs.d/session", LOGOPEN_BACKUP, LOG::kNoLimit, 0), 1);
    Feed(std::to_string(s));
    LOG::End();
  }
  EXPECT_EQ(Read(dir.File("logs.d/session")), "2");
  EXPECT_EQ(Read(dir.File("logs.d/session.BK1")), "1");
}

// ---- paths ----------------------------------------------------------------------

TEST_F(LogTest, PathsAreRelativeToLogPathUnlessAbsolute) {
  EXPECT_EQ(LOG::MakePath("a.log"), dir.File("a.log"));
  std::snprintf(config.LogPath, sizeof config.LogPath, "%s/", dir.Path().c_str());
  EXPECT_EQ(LOG::MakePath("a.log"), dir.File("a.log"));
  EXPECT_EQ(LOG::MakePath("/elsewhere/a.log"), "/elsewhere/a.log");
}

TEST_F(LogTest, LongPathsAreNotCut) {
  // A path far beyond the 260 bytes of the settings' buffers.
  std::string sub = std::string(200, 'd');
  ASSERT_EQ(mkdir(dir.File(sub).c_str(), 0700), 0);
  std::string name = sub + "/" + std::string(200, 'n') + ".log";
  ASSERT_GT(dir.File(name).size(), 400u);
  ASSERT_EQ(LOG::Start(name.c_str(), LOGOPEN_BACKUP, LOG::kNoLimit, 0), 1);
  EXPECT_EQ(LOG::szLogPath, dir.File(name));
  Feed("x");
  LOG::End();
  EXPECT_EQ(Read(dir.File(name)), "x");
}

// ---- the cache ------------------------------------------------------------------

TEST_F(LogTest, TheCacheIsWrittenOnceItPassesItsSizeWithoutAnIdlePass) {
  std::string path = dir.File("big.log");
  ASSERT_EQ(LOG::Start("big.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  std::string block(1000, 'x');
  for (int i = 0; i < 200; ++i) Feed(block);  // 200,000 bytes, no FlushCache
  EXPECT_GE(LOG::cbFile, 3 * LOG::kCacheFlushSize);
  EXPECT_LE(LOG::cache.size(), static_cast<size_t>(LOG::kCacheFlushSize + LOG::kCacheStart));
  EXPECT_EQ(static_cast<int64_t>(Read(path).size()), LOG::cbFile);
  LOG::FlushCache();
  EXPECT_EQ(Read(path).size(), 200000u);
  LOG::End();
  EXPECT_TRUE(LOG::cache.empty());
}

TEST_F(LogTest, FlushWritesWhatWasGivenSinceTheLastFlush) {
  std::string path = dir.File("f.log");
  ASSERT_EQ(LOG::Start("f.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  Feed("abc");
  EXPECT_EQ(Read(path), "");
  LOG::Flush();
  EXPECT_EQ(Read(path), "abc");
  EXPECT_EQ(LOG::fDirty, 0);
  EXPECT_TRUE(LOG::IsRunning());
  Feed("d");
  EXPECT_EQ(LOG::fDirty, 1);
}

// ---- the size limit ---------------------------------------------------------------

class LogLimitTest : public LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    LOG::hooks.stopPortAccess = [this] { calls.push_back("stop"); };
    LOG::hooks.startPortAccess = [this] { calls.push_back("start"); };
  }
  std::vector<std::string> calls;
};

TEST_F(LogLimitTest, ReachingTheLimitAsksAndByDefaultGoesOnInAFreshFile) {
  std::string path = dir.File("lim.log");
  ASSERT_EQ(LOG::Start("lim.log", LOGOPEN_APPEND, 100, 0), 1);
  Feed(std::string(102399, 'a'));  // cached and written bytes together
  EXPECT_EQ(LOG::CheckLimit(), 0);
  EXPECT_TRUE(facade.rec.boxes.empty());
  Feed("b");  // the byte that reaches the limit brings the question at once
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(LOG::CheckLimit(), 0);  // the fresh file is far from it
  EXPECT_NE(facade.rec.boxes[0].text.find("lim.BK1"), std::string::npos);
  EXPECT_EQ(facade.rec.boxes[0].answer, ui::IDYES);  // what the unanswered question gives
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "start"}));
  // The full file is the newest backup; the log goes on in a new one.
  EXPECT_EQ(Read(dir.File("lim.BK1")), std::string(102399, 'a') + "b");
  ASSERT_TRUE(LOG::IsRunning());
  EXPECT_EQ(LOG::szLogPath, path);
  EXPECT_EQ(LOG::cKBLimit, 100);
  EXPECT_EQ(LOG::cbFile, 0);
  Feed("c");
  EXPECT_EQ(LOG::CheckLimit(), 0);
  LOG::End();
  EXPECT_EQ(Read(path), "c");
}

TEST_F(LogLimitTest, AnsweringNoEndsTheLog) {
  std::string path = dir.File("lim.log");
  facade.rec.answers.push_back(ui::IDNO);
  ASSERT_EQ(LOG::Start("lim.log", LOGOPEN_APPEND, 1, 1), 1);
  Feed(std::string(2000, 'a'));  // the question came at the 1024th byte
  EXPECT_FALSE(LOG::IsRunning());
  EXPECT_EQ(Read(path), std::string(1024, 'a'));
  EXPECT_FALSE(Exists(dir.File("lim.BK1")));
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "start"}));
  Feed("more");  // the terminal goes on without a log
  EXPECT_EQ(LOG::CheckLimit(), 0);
}

TEST_F(LogLimitTest, TheQuestionHookDecidesAndARestartKeepsTheTextMode) {
  int asked = 0;
  LOG::hooks.askLimit = [&](const std::string&) {
    ++asked;
    return int(LOG::kLimitContinue);
  };
  ASSERT_EQ(LOG::Start("h.log", LOGOPEN_APPEND, 1, 1), 1);
  Feed(std::string(1024, 'a'));
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(facade.rec.boxes.empty());
  EXPECT_EQ(LOG::fTextLog, 1);
  EXPECT_EQ(LOG::logopen, LOGOPEN_BACKUP);
}

// Where a file ends when the limit (1 KB) is reached inside one run of bytes
// or by bytes put one at a time: at the limit, after the second byte of a
// double-byte character that straddles it, or after a plain log's padding.
struct LimitCutCase {
  const char* name;
  int textLog;
  std::string input;
  size_t first;  // bytes in the full file
};

TEST_F(LogLimitTest, TheLimitCutsARunAtACharacterBoundary) {
  const std::string kanji = "\x88\x9f";  // both bytes could be lead bytes
  // 800 bytes: with at most 1024 in front, one file is filled and no more.
  std::string kanjiLine;
  for (int k = 0; k < 400; ++k) kanjiLine += kanji;
  const LimitCutCase cases[] = {
      {"raw at the limit", 0, std::string(1500, 'a'), 1024},
      {"raw kanji straddling", 0, std::string(1023, 'a') + kanjiLine, 1025},
      {"raw kanji ending at the limit", 0, std::string(1022, 'a') + kanjiLine, 1024},
      {"raw kanji only", 0, std::string(1, 'a') + kanjiLine + kanjiLine, 1025},
      {"plain text", 1, std::string(1023, 'a') + kanjiLine, 1025},
      {"plain padding", 1, std::string(1000, 'a') + "\x1b[30C" + std::string(600, 'b'), 1030},
      {"plain line end", 1, std::string(1023, 'a') + "\nbbbb", 1025},
  };
  for (const LimitCutCase& c : cases) {
    for (bool runs : {false, true}) {
      const std::string path = dir.File("cut.log");
      for (const std::string& f : {path, LOG::BackupName(path, 1)}) unlink(f.c_str());
      ASSERT_EQ(LOG::Start("cut.log", LOGOPEN_OVERWRITE, 1, c.textLog), 1);
      if (runs)
        LOG::Put(c.input.data(), c.input.size());
      else
        Feed(c.input);
      LOG::End();
      const std::string full = Read(LOG::BackupName(path, 1)), rest = Read(path);
      EXPECT_EQ(full.size(), c.first) << c.name << (runs ? " (run)" : " (bytes)");
      // Nothing is lost at the cut: a raw log is the input, split.
      if (!c.textLog) {
        EXPECT_TRUE(full + rest == c.input) << c.name;
      }
    }
  }
}

TEST_F(LogLimitTest, NoLimitWhileUploadingOrWithoutALimit) {
  ASSERT_EQ(LOG::Start("u.log", LOGOPEN_APPEND, 1, 0), 1);
  LOG::fUploading = 1;
  Feed(std::string(5000, 'a'));
  EXPECT_EQ(LOG::CheckLimit(), 0);
  LOG::fUploading = 0;
  EXPECT_EQ(LOG::CheckLimit(), 1);
  for (int limit : {0, -5, 9999, 10000}) {
    ASSERT_EQ(LOG::Start("n.log", LOGOPEN_APPEND, limit, 0), 1);
    EXPECT_EQ(LOG::cKBLimit, LOG::kNoLimit) << limit;
    Feed(std::string(20000, 'a'));
    EXPECT_EQ(LOG::CheckLimit(), 0) << limit;
  }
}

// ---- failures: the message is clear and the terminal goes on ---------------------

TEST_F(LogTest, APathThatCannotBeOpenedIsReportedWithItsPath) {
  hostprop.LogType = 1;
  std::snprintf(hostprop.LogName, sizeof hostprop.LogName, "nodir/host");
  LOG::StartAtConnect();
  EXPECT_FALSE(LOG::IsRunning());
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, dir.File("nodir/host.log") + "\n指定されたログファイルがオープン出来ません。");
  Feed("text after the failure\n");  // nothing to write to, nothing breaks
  LOG::FlushCache();
  EXPECT_EQ(LOG::CheckLimit(), 0);
  // A directory is no log file either.
  EXPECT_EQ(LOG::Start(dir.Path().c_str(), LOGOPEN_APPEND, LOG::kNoLimit, 0), 0);
  EXPECT_FALSE(LOG::IsRunning());
}

TEST_F(LogTest, AFailedWriteEndsTheLogWithAMessage) {
  // The file-size limit makes the write fail for real (EFBIG).
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, SIG_IGN);
  std::vector<std::pair<std::string, bool>> menu;
  LOG::hooks.setMenu = [&](const std::string& text, bool enabled) { menu.push_back({text, enabled}); };
  std::string path = dir.File("w.log");
  ASSERT_EQ(LOG::Start("w.log", LOGOPEN_APPEND, LOG::kNoLimit, 1), 1);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Feed(std::string(300, 'x') + "\n\x1b[5;10H");
  LOG::FlushCache();
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(LOG::IsRunning());
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, path + "\nログファイルへの書き込みに失敗したのでログを中断します。");
  ASSERT_FALSE(menu.empty());
  EXPECT_EQ(menu.back(), std::make_pair(std::string("ログ終了(&N)"), false));
  Feed("the terminal goes on\n\x1b[3C\b");
  LOG::Flush();
  EXPECT_EQ(LOG::CheckLimit(), 0);
  EXPECT_EQ(facade.rec.boxes.size(), 1u);  // said once
  EXPECT_EQ(Read(path).size(), 100u);
}

TEST_F(LogTest, TheMenuItemShowsTheRunningLog) {
  std::vector<std::pair<std::string, bool>> menu;
  LOG::hooks.setMenu = [&](const std::string& text, bool enabled) { menu.push_back({text, enabled}); };
  ASSERT_EQ(LOG::Start("m.log", LOGOPEN_APPEND, LOG::kNoLimit, 0), 1);
  ASSERT_FALSE(menu.empty());
  EXPECT_EQ(menu.back(), std::make_pair("ログ終了(&N):" + dir.File("m.log"), true));
  LOG::End();
  EXPECT_EQ(menu.back(), std::make_pair(std::string("ログ終了(&N)"), false));
}

// ---- dated names and the automatic log ---------------------------------------------

struct DatedCase {
  const char* name;
  const char* month;
  const char* day;
};
const DatedCase kDated[] = {
    {"HOST.LOG", "HOST9612.LOG", "HOST1225.LOG"},
    {"host", "host9612.log", "host1225.log"},
    {"a.b.c", "a9612.b.c", "a1225.b.c"},
    {"logs.d/host", "logs.d/host9612.log", "logs.d/host1225.log"},
    {"", "9612.log", "1225.log"},
};

TEST_F(LogTest, DatedNamesPutTheDateBeforeTheFirstDot) {
  LOG::hooks.now = [] {
    std::tm t{};
    t.tm_year = 96;
    t.tm_mon = 11;
    t.tm_mday = 25;
    return t;
  };
  for (const auto& c : kDated) {
    EXPECT_EQ(LOG::CreateMonthName(c.name), c.month) << c.name;
    EXPECT_EQ(LOG::CreateDayName(c.name), c.day) << c.name;
  }
  LOG::hooks.now = [] {
    std::tm t{};
    t.tm_year = 105;  // 2005
    t.tm_mon = 0;
    t.tm_mday = 3;
    return t;
  };
  EXPECT_EQ(LOG::CreateMonthName("x.log"), "x0501.log");
  EXPECT_EQ(LOG::CreateDayName("x.log"), "x0103.log");
}

TEST_F(LogTest, TheAutomaticLogFollowsTheHostSettings) {
  LOG::hooks.now = [] {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 6;
    t.tm_mday = 9;
    return t;
  };
  std::snprintf(hostprop.LogName, sizeof hostprop.LogName, "bbs");
  hostprop.LogLimit = 50;
  hostprop.RemoveCtrls = 1;
  struct Case {
    int type;
    const char* file;
  } cases[] = {{1, "bbs.log"}, {2, "bbs2407.log"}, {3, "bbs0709.log"}};
  for (const auto& c : cases) {
    hostprop.LogType = c.type;
    LOG::StartAtConnect();
    ASSERT_TRUE(LOG::IsRunning()) << c.type;
    EXPECT_EQ(LOG::szLogPath, dir.File(c.file));
    EXPECT_EQ(LOG::cKBLimit, 50);
    EXPECT_EQ(LOG::fTextLog, 1);
    EXPECT_EQ(LOG::logopen, LOGOPEN_APPEND);
    LOG::End();
  }
  hostprop.LogType = 0;
  LOG::StartAtConnect();
  EXPECT_FALSE(LOG::IsRunning());
  EXPECT_TRUE(facade.rec.boxes.empty());
}

// ---- the log-start dialog ------------------------------------------------------------

TEST_F(LogTest, TheStartDialogAsksHowToOpenAnExistingFile) {
  std::string path = dir.File("d.log");
  struct Case {
    std::vector<int> answers;
    bool running;
    const char* content;  // after writing "new"
    bool backup;
  } cases[] = {
      {{ui::IDYES}, true, "oldnew", false},              // append
      {{ui::IDNO, ui::IDYES}, true, "new", true},        // new file, old one kept
      {{ui::IDNO, ui::IDNO}, true, "new", false},        // overwrite
      {{ui::IDCANCEL}, false, "old", false},
      {{ui::IDNO, ui::IDCANCEL}, false, "old", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteWholeFile(path, "old"));
    unlink(dir.File("d.BK1").c_str());
    facade.rec.files.push_back(path);
    facade.rec.answers.assign(c.answers.begin(), c.answers.end());
    LOG::StartDialog();
    EXPECT_EQ(LOG::IsRunning(), c.running);
    Feed("new");
    LOG::End();
    EXPECT_EQ(Read(path), c.content);
    EXPECT_EQ(Exists(dir.File("d.BK1")), c.backup);
    EXPECT_TRUE(facade.rec.answers.empty());
  }
}

TEST_F(LogTest, TheStartDialogTakesItsOptionsAndANewFileIsNotAsked) {
  hostprop.RemoveCtrls = 1;
  int seenText = -1;
  LOG::hooks.startOptions = [&](int& kb, int& text) {
    seenText = text;
    kb = 20;
    text = 0;
    return true;
  };
  facade.rec.files.push_back(dir.File("fresh.log"));
  LOG::StartDialog();
  EXPECT_EQ(seenText, 1);
  ASSERT_TRUE(LOG::IsRunning());
  EXPECT_EQ(LOG::cKBLimit, 20);
  EXPECT_EQ(LOG::fTextLog, 0);
  EXPECT_TRUE(facade.rec.boxes.empty());
}

// ---- runs: Put(p, n) against Put(c) byte by byte ------------------------------

// Random received bytes that hit every path of the plain log: text, double-
// byte characters (whole and cut), sequences with numbers, BS, TAB, CR, LF,
// Ctrl+Z and other controls.
std::string RandomLogInput(std::mt19937& rng, size_t size) {
  static const char kPieces[][8] = {"\x1b[", "\x1b[12H", "\x1b[5C", "\x1b[3;7f", "\x1b[m", "\x1b(", "\x88\x9f",
                                    "\x82\xa0", "\r\n", "\r\r", "\b\b  \b\b", "\t\b\b", "\x1a"};
  static const char kBytes[] = {'\x1b', '[', '0', '9', ';', 'H', 'C', 'f', 'm', '\b', '\t', '\r', '\n', '\x1a',
                                '\x05', '\x7f', '\x81', '\x9f', '\xe0', '\xfc', '\x40', '\xa1', ' ', 'x'};
  std::string out;
  while (out.size() < size) {
    const unsigned pick = rng() % 40;
    if (pick < 10) {
      out += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
    } else if (pick < 20) {
      out += kBytes[rng() % sizeof kBytes];
    } else if (pick < 29) {
      out += static_cast<char>(rng() % 256);
    } else {
      // Text without a control: short, or (rarely) longer than a BS's line
      // memory holds.
      const size_t n = pick == 39 ? 1000 + rng() % 12000 : 1 + rng() % 200;
      for (size_t k = 0; k < n; ++k) out += static_cast<char>(0x20 + rng() % 0xe0);
    }
  }
  return out;
}

// A BS takes back up to the last 4096 characters of a line, the whole of
// them however long the line has grown, and nothing before them.
TEST_F(LogTest, TheLineMemoryHoldsTheLast4096Characters) {
  struct Case {
    const char* name;
    std::string character;  // what the line is made of
    int lineChars;          // characters on the line
    int backspaces;         // one per cell
    int left;               // characters the file keeps
  } cases[] = {
      {"short line, all taken back", "a", 100, 120, 0},
      {"exactly full", "a", 4096, 4096, 0},
      {"exactly full, one BS more", "a", 4096, 4097, 0},
      {"longer line, 4096 taken back", "a", 5000, 4096, 904},
      {"longer line, no BS reaches further", "a", 5000, 4200, 904},
      {"much longer line", "a", 12289, 4097, 8193},
      {"double-byte, 4096 taken back", "\x8a\xbf", 5000, 2 * 4096, 904},
      {"double-byte, no BS reaches further", "\x8a\xbf", 5000, 2 * 4096 + 7, 904},
  };
  for (const Case& c : cases) {
    std::string line;
    for (int k = 0; k < c.lineChars; ++k) line += c.character;
    const std::string input = "x\n" + line + std::string(size_t(c.backspaces), '\b');
    std::string expected = "x\r\n";
    for (int k = 0; k < c.left; ++k) expected += c.character;
    EXPECT_EQ(LogOf(input, 1), expected) << c.name << " (bytes)";
    const std::string path = dir.File("run.log");
    unlink(path.c_str());
    ASSERT_EQ(LOG::Start("run.log", LOGOPEN_APPEND, LOG::kNoLimit, 1), 1);
    LOG::Put(input.data(), input.size());
    LOG::End();
    EXPECT_EQ(Read(path), expected) << c.name << " (one run)";
  }
}

TEST_F(LogTest, ALongRunIsTakenBackByWholeCharacters) {
  // Text longer than the line memory, in one run, then BS: the line memory
  // holds the run's last characters.
  std::string kanji;
  for (int k = 0; k < 6000; ++k) kanji += "\x88\x9f";
  const std::string path = dir.File("long.log");
  ASSERT_EQ(LOG::Start("long.log", LOGOPEN_OVERWRITE, LOG::kNoLimit, 1), 1);
  const std::string input = "ab\n" + kanji + "\b\b\b\b" + std::string(9000, 'x') + "\b";
  LOG::Put(input.data(), input.size());
  LOG::End();
  EXPECT_EQ(Read(path), "ab\r\n" + kanji.substr(0, kanji.size() - 4) + std::string(8999, 'x'));
}

TEST_F(LogTest, RunsGiveTheSameFileAsSingleBytes) {
  std::mt19937 rng(20261210);
  for (int round = 0; round < 60; ++round) {
    for (int textLog = 0; textLog <= 1; ++textLog) {
      // Some rounds are long enough to pass the cache's write size and to
      // fill a BS's line memory.
      const size_t size = round % 10 == 9 ? 150000 + rng() % 50000 : rng() % 6000;
      const std::string input = RandomLogInput(rng, size);
      const std::string single = LogOf(input, textLog, "single.log");
      const char chPrevSingle = LOG::chPrev;

      const std::string path = dir.File("runs.log");
      unlink(path.c_str());
      ASSERT_EQ(LOG::Start("runs.log", LOGOPEN_APPEND, LOG::kNoLimit, textLog), 1);
      size_t i = 0;
      while (i < input.size()) {
        // Split points at random: single bytes, short and long runs.
        const unsigned kind = rng() % 8;
        size_t n = kind < 3 ? 1 : 1 + rng() % (kind < 6 ? 16 : kind < 7 ? 5000 : 20000);
        n = std::min(n, input.size() - i);
        LOG::Put(input.data() + i, n);
        if (rng() % 8 == 0) LOG::Put(input.data() + i, 0);  // an empty run changes nothing
        i += n;
        EXPECT_LE(LOG::cache.size(), static_cast<size_t>(LOG::kCacheFlushSize));
      }
      EXPECT_EQ(LOG::chPrev, chPrevSingle);
      LOG::End();
      const std::string runs = Read(path);
      ASSERT_EQ(runs.size(), single.size()) << "round " << round << " textLog " << textLog;
      ASSERT_TRUE(runs == single) << "round " << round << " textLog " << textLog;
    }
  }
  EXPECT_TRUE(facade.rec.boxes.empty());
}

// With a size limit, runs and single bytes fill the same files, and every
// full file ends within a screen line of padding past the limit.
TEST_F(LogTest, RunsFillTheSameLimitedFilesAsSingleBytes) {
  std::mt19937 rng(20261211);
  LOG::hooks.columns = [] { return 80; };
  for (int round = 0; round < 20; ++round) {
    for (int textLog = 0; textLog <= 1; ++textLog) {
      const int kbLimit = 1 + round % 2;
      const std::string input = RandomLogInput(rng, 3000 + rng() % 9000);
      std::vector<std::string> files[2];
      for (int runs = 0; runs <= 1; ++runs) {
        const std::string path = dir.File(runs ? "lr.log" : "ls.log");
        for (int k = 1; k <= 9; ++k) unlink(LOG::BackupName(path, k).c_str());
        ASSERT_EQ(LOG::Start(path.c_str(), LOGOPEN_OVERWRITE, kbLimit, textLog), 1);
        if (runs) {
          for (size_t i = 0; i < input.size();) {
            const size_t n = std::min<size_t>(1 + rng() % 700, input.size() - i);
            LOG::Put(input.data() + i, n);
            i += n;
          }
        } else {
          Feed(input);
        }
        LOG::End();
        for (int k = 9; k >= 1; --k)
          if (Exists(LOG::BackupName(path, k))) files[runs].push_back(Read(LOG::BackupName(path, k)));
        files[runs].push_back(Read(path));
      }
      ASSERT_EQ(files[0].size(), files[1].size()) << "round " << round << " textLog " << textLog;
      ASSERT_GE(files[0].size(), 2u) << "round " << round;
      for (size_t k = 0; k < files[0].size(); ++k) {
        ASSERT_TRUE(files[0][k] == files[1][k]) << "round " << round << " textLog " << textLog << " file " << k;
        if (k + 1 < files[0].size()) {
          EXPECT_GE(files[0][k].size(), size_t(kbLimit) * 1024) << "round " << round << " file " << k;
          EXPECT_LE(files[0][k].size(), size_t(kbLimit) * 1024 + 82) << "round " << round << " file " << k;
        }
      }
    }
  }
}

TEST_F(LogTest, ARunWhileNoLogWritesOnlyRemembersItsLastByte) {
  LOG::Put("ab\r", 3);
  EXPECT_EQ(LOG::chPrev, '\r');
  const std::string path = dir.File("paused.log");
  ASSERT_EQ(LOG::Start("paused.log", LOGOPEN_OVERWRITE, LOG::kNoLimit, 0), 1);
  LOG::fPause = 1;
  LOG::Put("cd\r", 3);
  LOG::fPause = 0;
  // The CR is a CR right after the paused run's CR.
  LOG::Put("\rz", 2);
  LOG::End();
  EXPECT_EQ(Read(path), "z");
}

}  // namespace
