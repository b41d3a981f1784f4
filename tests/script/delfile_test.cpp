// DELFILE with "*" and "?" in the last part: every matching regular file
// goes, ASCII case ignored, directories and other folders' files stay, and
// a pattern that matches nothing sets RESULT 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "script/filecmds.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

TEST(DelFile, WildcardsDeleteEveryMatchingFile) {
  struct {
    const char* pattern;  // UTF-8; the script writes it in Shift_JIS
    std::vector<std::string> left;
    const char* result;
  } cases[] = {
      {"*.LOG", {"a.txt", "b.TXT", "keep.log.d", "sub", "ログ1.txt"}, "r1"},
      {"?.txt", {"a.log", "keep.log.d", "sub", "x.LOG", "ログ1.txt"}, "r1"},
      {"ロ?1.*", {"a.log", "a.txt", "b.TXT", "keep.log.d", "sub", "x.LOG"}, "r1"},  // "?" takes a double-byte character
      {"*", {"keep.log.d", "sub"}, "r1"},                                        // directories stay
      {"*.none", {"a.log", "a.txt", "b.TXT", "keep.log.d", "sub", "x.LOG", "ログ1.txt"}, "r0"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const char* f : {"a.txt", "b.TXT", "a.log", "x.LOG", "ログ1.txt"}) ASSERT_TRUE(WriteWholeFile(dir.File(f), "x"));
    fs::create_directory(dir.File("sub"));
    fs::create_directory(dir.File("keep.log.d"));
    ASSERT_TRUE(WriteWholeFile(dir.File("sub/c.log"), "x"));
    SCRIPTPEER peer;
    const std::string script =
        jcode::Utf8ToSjis("checklabel here\nhere:\ndelfile \"" + dir.Path() + "/" + c.pattern + "\"\nsend \"r\" + result\n");
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(script));
    ASSERT_TRUE(peer.Run(10000));
    EXPECT_EQ(peer.sends, (std::vector<std::string>{c.result})) << c.pattern;
    EXPECT_EQ(Names(dir.Path()), c.left) << c.pattern;
    EXPECT_EQ(Names(dir.File("sub")), (std::vector<std::string>{"c.log"})) << c.pattern;
  }
}

}  // namespace
