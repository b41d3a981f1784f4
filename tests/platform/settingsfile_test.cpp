// The settings file: its text form, merging between instances, and that a
// kill while saving leaves the old or the new file.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/settingsfile.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using V = SETTINGSFILE::Value;
const std::string kKey = "Software\\Tallowood\\Quillnet95\\Config";

V Dword(uint32_t d) { return {SETTINGSFILE::T_DWORD, d, ""}; }
V Text(const std::string& s) { return {SETTINGSFILE::T_SZ, 0, s}; }
V Bytes(const std::string& b) { return {SETTINGSFILE::T_BINARY, 0, b}; }

TEST(SettingsFileText, EveryValueKindSurvivesFormatAndParse) {
  SETTINGSFILE::Tree tree;
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  tree[kKey]["Number"] = Dword(0xFFFFFFFF);
  tree[kKey]["Zero"] = Dword(0);
  tree[kKey]["Plain"] = Text("> ");
  tree[kKey]["Quotes and backslashes"] = Text("C:\\dir\\\"x\"\\");
  tree[kKey]["Japanese"] = Text("、。，．・？！ｰﾞﾟ");
  tree[kKey]["Tab"] = Text(">\t＞\t|");
  tree[kKey]["Line breaks"] = Text("one\r\ntwo\nthree");
  tree[kKey]["Empty"] = Text("");
  tree[kKey][""] = Text("default value");
  tree[kKey]["Block"] = Bytes(allBytes);
  tree[kKey]["Empty block"] = Bytes("");
  tree[kKey]["Multi"] = {7, 0, std::string("a\0b\0\0", 5)};
  tree["Software\\Tallowood\\Quillnet95\\Host\\電話 ﾎｽﾄ]"]["Order"] = Dword(3);
  tree["Software\\Tallowood\\Quillnet95\\Empty key"];

  const std::string text = SETTINGSFILE::Format(tree);
  SETTINGSFILE::Report rep;
  EXPECT_EQ(SETTINGSFILE::Parse(text, &rep), tree) << text;
  EXPECT_EQ(rep.badLines, 0) << text;
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
  EXPECT_NE(text.find("\"Number\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("\"Quotes and backslashes\"=\"C:\\\\dir\\\\\\\"x\\\"\\\\\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Line breaks\"=hex(1):"), std::string::npos);
  EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,62,00,00\n"), std::string::npos);
  // Long byte lists are wrapped as a registry export wraps them.
  EXPECT_NE(text.find(",\\\n  "), std::string::npos);
  for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    EXPECT_LE(nl - start, 80u);
}

TEST(SettingsFileText, ReadsWhatARegistryExportWrites) {
  // CR LF line ends, a byte order mark, comments, upper-case hex, a wrapped
  // list and a string in its hex(1) form.
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "; a comment\r\n"
      "[Software\\Tallowood\\Quillnet95\\Config]\r\n"
      "\"LineBuffer\"=dword:000003E8\r\n"
      "\"ModemProp\"=hex:01,02,\\\r\n"
      "  FF\r\n"
      "\"Quote\"=hex(1):3e,00,20,00,00,00\r\n"
      "@=\"x\"\r\n";
  SETTINGSFILE::Report rep;
  SETTINGSFILE::Tree tree = SETTINGSFILE::Parse(text, &rep);
  EXPECT_EQ(rep.badLines, 0);
  EXPECT_EQ(tree[kKey]["LineBuffer"], Dword(1000));
  EXPECT_EQ(tree[kKey]["ModemProp"], Bytes("\x01\x02\xFF"));
  EXPECT_EQ(tree[kKey]["Quote"], Text("> "));
  EXPECT_EQ(tree[kKey][""], Text("x"));
}

TEST(SettingsFileText, BadLinesAreSkippedAndCounted) {
  struct Case {
    const char* line;
  } cases[] = {
      {"garbage"},
      {"\"Name\""},
      {"\"Name\"=dword:"},
      {"\"Name\"=dword:123456789"},
      {"\"Name\"=dword:12x4"},
      {"\"Name\"=\"unterminated"},
      {"\"Name\"=\"text\" trailing"},
      {"\"Name\"=hex:1,2"},
      {"\"Name\"=hex:zz"},
      {"\"Name\"=hex(1):41"},
      {"\"Name\"=hex(4):01,02"},
      {"\"Name\"=hex():00"},
      {"\"Name=\"x\""},
      {"\"Name\"=-"},
      {"[-Software\\Tallowood\\Quillnet95\\Config]"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string("[") + kKey + "]\n\"Before\"=dword:1\n" + c.line + "\n\"After\"=\"ok\"\n";
    SETTINGSFILE::Report rep;
    SETTINGSFILE::Tree tree = SETTINGSFILE::Parse(text, &rep);
    // A bad key line also leaves the value after it without a key.
    EXPECT_EQ(rep.badLines, c.line[0] == '[' ? 2 : 1) << c.line;
    EXPECT_EQ(rep.firstBadLine, 3) << c.line;
    EXPECT_EQ(tree[kKey]["Before"], Dword(1)) << c.line;
    if (c.line[0] != '[') {
      EXPECT_EQ(tree[kKey]["After"], Text("ok")) << c.line;
    }
    EXPECT_EQ(tree[kKey].count("Name"), 0u) << c.line;
  }
  SETTINGSFILE::Report rep;
  SETTINGSFILE::Parse("\"Orphan\"=dword:1\n", &rep);
  EXPECT_EQ(rep.badLines, 1);
}

class SettingsFileStore : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("registry.reg");
  SETTINGSFILE::Tree OnDisk() {
    SETTINGSFILE::Report rep;
    auto tree = SETTINGSFILE::Parse(ReadWholeFile(path), &rep);
    EXPECT_EQ(rep.badLines, 0);
    return tree;
  }
};

TEST_F(SettingsFileStore, TwoInstancesKeepEachOthersChanges) {
  SETTINGSFILE a(path), b(path);
  a.Refresh();
  b.Refresh();
  a.Set(kKey, "TreeDay", Dword(3));
  b.Set(kKey, "BoardDay", Dword(5));
  b.DeleteKey(kKey + "\\Gone");
  ASSERT_TRUE(a.Flush());
  ASSERT_TRUE(b.Flush());
  auto tree = OnDisk();
  EXPECT_EQ(tree[kKey]["TreeDay"], Dword(3));
  EXPECT_EQ(tree[kKey]["BoardDay"], Dword(5));
  // b's view now holds a's change as well; a sees b's after a refresh.
  ASSERT_NE(b.Get(kKey, "TreeDay"), nullptr);
  a.Refresh();
  ASSERT_NE(a.Get(kKey, "BoardDay"), nullptr);
  // Deleting a key that the other instance filled meanwhile removes it all.
  a.Set(kKey + "\\Host\\x", "Order", Dword(0));
  ASSERT_TRUE(a.Flush());
  b.DeleteKey(kKey + "\\Host");
  ASSERT_TRUE(b.Flush());
  EXPECT_FALSE(OnDisk().count(kKey + "\\Host\\x"));
  EXPECT_TRUE(OnDisk().count(kKey));
}

TEST_F(SettingsFileStore, KeysAndSubkeys) {
  SETTINGSFILE s(path);
  s.Refresh();
  EXPECT_FALSE(s.KeyExists("A"));
  s.Set("A\\B\\C", "v", Dword(1));
  s.Set("A\\B2", "v", Dword(2));
  EXPECT_TRUE(s.KeyExists("A"));
  EXPECT_TRUE(s.KeyExists("A\\B"));
  EXPECT_FALSE(s.KeyExists("A\\"));
  EXPECT_FALSE(s.KeyExists("A\\B\\C\\D"));
  EXPECT_EQ(s.SubKeys("A"), (std::vector<std::string>{"B", "B2"}));
  s.DeleteKey("A\\B");
  EXPECT_FALSE(s.KeyExists("A\\B"));
  EXPECT_TRUE(s.KeyExists("A\\B2"));
  EXPECT_FALSE(s.Set("A", "bad\nname", Dword(1)));
  EXPECT_FALSE(s.CreateKey("bad\rkey"));
}

TEST_F(SettingsFileStore, ADamagedFileIsReportedOnceAndKeptBesideTheNewOne) {
  const std::string damaged = std::string("[") + kKey + "]\n\"Good\"=dword:7\nnot a line\n";
  ASSERT_TRUE(WriteWholeFile(path, damaged));
  SETTINGSFILE s(path);
  s.Refresh();
  SETTINGSFILE::Report rep;
  ASSERT_TRUE(s.TakeDamageReport(&rep));
  EXPECT_EQ(rep.firstBadLine, 3);
  EXPECT_FALSE(s.TakeDamageReport(&rep));
  ASSERT_NE(s.Get(kKey, "Good"), nullptr);
  s.Set(kKey, "New", Dword(1));
  ASSERT_TRUE(s.Flush());
  EXPECT_EQ(ReadWholeFile(path + ".bad"), damaged);
  EXPECT_EQ(OnDisk()[kKey]["Good"], Dword(7));
}

TEST_F(SettingsFileStore, AnUnwritableDirectoryKeepsTheChangesPending) {
  // The directory's place is taken by a file, so nothing can be written.
  const std::string blocked = dir.File("blocked");
  ASSERT_TRUE(WriteWholeFile(blocked, "x"));
  SETTINGSFILE s(blocked + "/registry.reg");
  s.Set(kKey, "X", Dword(1));
  EXPECT_FALSE(s.Flush());
  EXPECT_FALSE(s.LastError().empty());
  EXPECT_TRUE(s.HasPending());
  ASSERT_TRUE(std::filesystem::remove(blocked));
  EXPECT_TRUE(s.Flush());
  EXPECT_FALSE(s.HasPending());
  EXPECT_NE(ReadWholeFile(blocked + "/registry.reg").find("\"X\"=dword:00000001"), std::string::npos);
}

// A writer killed at random moments: the file always parses whole and its
// values agree with each other (the counter and the block written with it).
TEST_F(SettingsFileStore, AKilledWriterLeavesTheOldOrTheNewFile) {
  std::mt19937 rng(7);
  int seen = 0;
  uint32_t last = 0;
  for (int round = 0; round < 40; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      SETTINGSFILE s(path);
      s.Refresh();
      const V* c = s.Get(kKey, "Counter");
      for (uint32_t n = c ? c->dword + 1 : 1;; ++n) {
        s.Set(kKey, "Counter", Dword(n));
        s.Set(kKey, "Block", Bytes(std::string(20000 + n % 5000, static_cast<char>(n & 0xFF))));
        if (!s.Flush()) _exit(1);
      }
    }
    // On a slow machine the first writer may not reach its first save within
    // the random delay: wait (bounded) until a file is there, so some round
    // always checks one.
    for (int i = 0; i < 5000 && !std::filesystem::exists(path); ++i) usleep(1000);
    usleep(std::uniform_int_distribution<useconds_t>(0, 15000)(rng));
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFSIGNALED(st)) << "the writer stopped by itself";
    if (!std::filesystem::exists(path)) continue;
    SETTINGSFILE::Report rep;
    auto tree = SETTINGSFILE::Parse(ReadWholeFile(path), &rep);
    ASSERT_EQ(rep.badLines, 0) << "round " << round;
    const V& counter = tree[kKey]["Counter"];
    const V& block = tree[kKey]["Block"];
    ASSERT_EQ(counter.type, SETTINGSFILE::T_DWORD);
    ASSERT_EQ(block.data, std::string(20000 + counter.dword % 5000, static_cast<char>(counter.dword & 0xFF)));
    EXPECT_GE(counter.dword, last);
    last = counter.dword;
    ++seen;
  }
  EXPECT_GT(seen, 0);
  // Temporary files of killed writers go with the next save.
  SETTINGSFILE s(path);
  s.Set(kKey, "Done", Dword(1));
  ASSERT_TRUE(s.Flush());
  for (auto& e : std::filesystem::directory_iterator(dir.Path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// Long-lived instances in two processes, each changing its own values again
// and again from a view that the other keeps making stale.
TEST_F(SettingsFileStore, TwoProcessesChangingDifferentValuesLoseNothing) {
  const int kRounds = 150;
  pid_t pids[2];
  for (int k = 0; k < 2; ++k) {
    pids[k] = fork();
    ASSERT_GE(pids[k], 0);
    if (pids[k] == 0) {
      SETTINGSFILE s(path);
      s.Refresh();
      for (int n = 0; n < kRounds; ++n) {
        s.Set(kKey, "P" + std::to_string(k) + "_" + std::to_string(n), Dword(static_cast<uint32_t>(n)));
        s.Set(kKey, "Last" + std::to_string(k), Dword(static_cast<uint32_t>(n)));
        if (!s.Flush()) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int st;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  auto tree = OnDisk();
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(tree[kKey]["Last" + std::to_string(k)], Dword(kRounds - 1));
    for (int n = 0; n < kRounds; ++n)
      EXPECT_EQ(tree[kKey].count("P" + std::to_string(k) + "_" + std::to_string(n)), 1u) << k << " " << n;
  }
}

}  // namespace
