// The built-in functions: text functions over single- and double-byte text,
// the full-width table both ways, files matched by name and wildcard,
// KEYSTATE and STATE, and calls inside a running script.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/functions.h"
#include "script/newscript.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/var.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace {

struct Evaluated {
  bool ok;
  SCRIPTVALUE v;
  int errorId;
  std::string keyword;
};

// Compiles "SEND expression" and evaluates the argument in ctx.
Evaluated Evaluate(const std::string& expression, EVALCONTEXT ctx = {}) {
  NEWSCRIPT s;
  if (!s.LoadFromMemory("send " + expression + "\n")) return {false, {}, -s.error.id, ""};
  ctx.program = &s;
  EVALUATOR e(ctx, 1);
  Evaluated r{};
  r.ok = e.GetValue(r.v);
  r.errorId = e.errorId;
  r.keyword = e.errorKeyword;
  if (r.ok && e.Peek() != atom::LINENO) r.ok = false, r.errorId = -1;  // the whole argument must be read
  return r;
}

struct Case {
  std::string expression;
  bool numeric;
  std::string value;    // the decimal text for a number
  int error;            // message number, 0 for none
  std::string keyword;  // the function named by a parameter error
};

void RunCases(const std::vector<Case>& cases, const EVALCONTEXT& ctx = {}) {
  for (const Case& c : cases) {
    const Evaluated r = Evaluate(c.expression, ctx);
    if (c.error) {
      EXPECT_FALSE(r.ok) << c.expression;
      EXPECT_EQ(r.errorId, c.error) << c.expression;
      EXPECT_EQ(r.keyword, c.keyword) << c.expression;
      continue;
    }
    ASSERT_TRUE(r.ok) << c.expression << " error " << r.errorId;
    EXPECT_EQ(r.v.fNum, c.numeric) << c.expression;
    EXPECT_EQ(r.v.Text(), c.value) << c.expression;
  }
}

// Shift_JIS text for tests.
const std::string kKanji2 = "\x8a\xbf\x8e\x9a";  // two kanji
const std::string kSmallYa = "\x83\x83";         // small ya: its trail byte is a lead byte value
const std::string kA = "\x83\x41";               // katakana a: its trail byte is "A"

class ScriptFunctions : public ::testing::Test {
 protected:
  void SetUp() override { VAR::Reset(); }
  void TearDown() override { VAR::Reset(); }
};

TEST_F(ScriptFunctions, TextFunctions) {
  const std::string yaA = kSmallYa + kA;
  RunCases({
      // Searches forward and back.
      {"SEARCH(\"abcabc\", \"bc\")", false, "bcabc", 0, ""},
      {"SEARCHBACK(\"abcabc\", \"bc\")", false, "bc", 0, ""},
      {"DROP(\"abcabc\", \"bc\")", false, "a", 0, ""},
      {"DROPBACK(\"abcabc\", \"bc\")", false, "abca", 0, ""},
      {"SEARCH(\"abc\", \"x\")", false, "", 0, ""},
      {"SEARCHBACK(\"abc\", \"x\")", false, "", 0, ""},
      {"DROP(\"abc\", \"x\")", false, "abc", 0, ""},
      {"DROPBACK(\"abc\", \"x\")", false, "abc", 0, ""},
      // An empty pattern never matches; a pattern longer than the text neither.
      {"SEARCH(\"abc\", \"\")", false, "", 0, ""},
      {"DROP(\"abc\", \"\")", false, "abc", 0, ""},
      {"SEARCHBACK(\"abc\", \"\")", false, "", 0, ""},
      {"DROPBACK(\"abc\", \"\")", false, "abc", 0, ""},
      {"SEARCH(\"ab\", \"abc\")", false, "", 0, ""},
      // Overlapping matches: the last character start that matches.
      {"SEARCHBACK(\"aaa\", \"aa\")", false, "aa", 0, ""},
      {"DROPBACK(\"aaa\", \"aa\")", false, "a", 0, ""},
      // A match never starts on a trail byte.
      {"SEARCH(\"" + kA + "\", \"A\")", false, "", 0, ""},
      {"DROP(\"" + kA + "\", \"A\")", false, kA, 0, ""},
      {"SEARCH(\"" + kA + "A\", \"A\")", false, "A", 0, ""},
      {"SEARCHBACK(\"" + kA + "xA\", \"A\")", false, "A", 0, ""},
      // The same after runs of ASCII longer than a machine word.
      {"SEARCH(\"abcdefghijklmnopq" + kA + "\", \"A\")", false, "", 0, ""},
      {"SEARCH(\"abcdefg" + kA + "bcdefghij\", \"A\")", false, "", 0, ""},  // lead byte last of a word
      {"SEARCH(\"abcdefghijklmno" + kA + "bcdefghijA\", \"A\")", false, "A", 0, ""},
      {"SEARCH(\"abcdefghijklmnopq" + kA + "rstuvwxyz0123456A\", \"A\")", false, "A", 0, ""},
      {"DROPBACK(\"abcdefghijklmnopq" + kA + "rstuvwxyz0123456" + kA + "\", \"A\")", false,
       "abcdefghijklmnopq" + kA + "rstuvwxyz0123456" + kA, 0, ""},
      {"SEARCHBACK(\"" + yaA + "\", \"" + kSmallYa + "\")", false, yaA, 0, ""},
      {"DROPBACK(\"" + yaA + "\", \"" + kSmallYa + "\")", false, "", 0, ""},
      {"SEARCHBACK(\"" + yaA + kSmallYa + "\", \"" + kSmallYa + "\")", false, kSmallYa, 0, ""},
      {"DROPBACK(\"" + yaA + kSmallYa + "\", \"" + kSmallYa + "\")", false, yaA, 0, ""},
      {"SEARCHBACK(\"" + kSmallYa + kSmallYa + "\", \"" + kSmallYa + "\")", false, kSmallYa, 0, ""},
      // Numbers are searched as their decimal text.
      {"SEARCH(12345, 34)", false, "345", 0, ""},
      // PART counts bytes from 0.
      {"PART(\"abcdef\", 2, 3)", false, "cde", 0, ""},
      {"PART(\"abcdef\", 4, 10)", false, "ef", 0, ""},
      {"PART(\"abcdef\", 9, 1)", false, "", 0, ""},
      {"PART(\"abcdef\", 6, 1)", false, "", 0, ""},
      {"PART(\"abcdef\", 0, 0)", false, "", 0, ""},
      {"PART(\"abcdef\", -2, 2)", false, "ab", 0, ""},
      {"PART(\"abcdef\", 1, -1)", false, "", 0, ""},
      {"PART(\"abcdef\", \"x1\", \"2\")", false, "bc", 0, ""},  // numeric arguments converted
      {"PART(\"abcdef\", 4294967297, 2)", false, "bc", 0, ""},  // 2^32 + 1 wraps to 1
      {"PART(\"" + kKanji2 + "\", 1, 2)", false, kKanji2.substr(1, 2), 0, ""},  // may split a character
      // Full-width and back.
      {"TOZENKAKU(\"A1 \")", false, "\x82\x60\x82\x50\x81\x40", 0, ""},
      {"TOHANKAKU(TOZENKAKU(\"A1 \"))", false, "A1 ", 0, ""},
      {"TOZENKAKU(\"\xb1" + kKanji2 + "\")", false, "\xb1" + kKanji2, 0, ""},  // half-width kana, kanji
      {"TOHANKAKU(\"" + kKanji2 + "\x82\x60\")", false, kKanji2 + "A", 0, ""},
      {"TOZENKAKU(7)", false, "\x82\x56", 0, ""},
      // Case: ASCII only, trail bytes untouched.
      {"TOUPPER(\"abz" + kA.substr(0, 1) + "a\")", false, "ABZ" + kA.substr(0, 1) + "a", 0, ""},
      {"TOLOWER(\"ABZ\x83\x41Q\")", false, "abz\x83\x41q", 0, ""},
      {"TOUPPER(\"\x82\x81x\")", false, "\x82\x81X", 0, ""},
      // LENGTH and VALUE.
      {"LENGTH(\"" + kKanji2 + "\")", true, "4", 0, ""},
      {"LENGTH(-120)", true, "4", 0, ""},
      {"LENGTH(PART(\"abcdef\", 1, 3)) + 1", true, "4", 0, ""},
      {"\"<\" + SEARCH(\"abc\", \"b\") + \">\"", false, "<bc>", 0, ""},
      // Arguments that cannot be read.
      {"PART(\"abc\", 1)", false, "", scriptmsg::PARAMETER, "PART"},
      {"PART(\"abc\", , 1)", false, "", scriptmsg::PARAMETER, "PART"},
      {"SEARCH(\"abc\")", false, "", scriptmsg::PARAMETER, "SEARCH"},
      {"DROPBACK(\"abc\", \"b\", \"c\")", false, "", scriptmsg::PARAMETER, "DROPBACK"},
      {"TOUPPER()", false, "", scriptmsg::PARAMETER, "TOUPPER"},
      {"TOLOWER(\"a\", \"b\")", false, "", scriptmsg::PARAMETER, "TOLOWER"},
      {"SEARCH(\"abc\", 1 +)", false, "", scriptmsg::EXPRESSION, ""},
  });
}

TEST_F(ScriptFunctions, FullWidthTableBothWaysForEveryEntry) {
  // The table as users read it, converted by the program's own code
  // converter: it must agree with the functions' table entry by entry.
  const std::string table = jcode::Utf8ToSjis(
      "　！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ"
      "［￥］＾＿‘ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣");
  ASSERT_EQ(table.size(), 190u);
  EXPECT_EQ(table, std::string(scriptfn::kZenkakuTable, 190));
  std::string ascii;
  for (int c = 0x20; c <= 0x7E; ++c) {
    const std::string one(1, static_cast<char>(c));
    const std::string wide = table.substr(2 * (c - 0x20), 2);
    EXPECT_EQ(scriptfn::ToZenkaku(one), wide) << "code " << c;
    EXPECT_EQ(scriptfn::ToHankaku(wide), one) << "code " << c;
    ascii += one;
  }
  EXPECT_EQ(scriptfn::ToZenkaku(ascii), table);
  EXPECT_EQ(scriptfn::ToHankaku(table), ascii);
  // Control bytes and 0x7F stay as they are; other 0x81/0x82 characters too.
  EXPECT_EQ(scriptfn::ToZenkaku("\t\x7f"), "\t\x7f");
  EXPECT_EQ(scriptfn::ToHankaku("\x81\x41\x82\xa0"), "\x81\x41\x82\xa0");
  // A lone lead byte at the end is copied, never read past.
  EXPECT_EQ(scriptfn::ToHankaku("a\x82"), "a\x82");
  EXPECT_EQ(scriptfn::ToZenkaku("a\x82"), "\x82\x81\x82");
}

TEST_F(ScriptFunctions, ResultsStopAtTheTextLimitOnAWholeCharacter) {
  const std::string ascii(600, 'a');
  const std::string wide = scriptfn::ToZenkaku(ascii);
  EXPECT_EQ(wide.size(), 1024u);
  EXPECT_EQ(wide.substr(0, 2), "\x82\x81");
  EXPECT_EQ(scriptfn::ToZenkaku("b" + ascii).size(), 1024u);
  // An odd room left: the last character is dropped whole.
  EXPECT_EQ(scriptfn::ToZenkaku("\xb1" + ascii).size(), 1023u);
  // The evaluator's strings are at most 1024 bytes, so the longest
  // TOHANKAKU input gives at most as many.
  EXPECT_EQ(scriptfn::ToHankaku(std::string(1024, 'x')).size(), 1024u);
}

TEST_F(ScriptFunctions, FilesByNameAndWildcard) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  ASSERT_TRUE(WriteWholeFile(dir.File("k1023.dat"), std::string(1023, 'x')));
  ASSERT_TRUE(WriteWholeFile(dir.File("k1024.dat"), std::string(1024, 'x')));
  ASSERT_TRUE(WriteWholeFile(dir.File("Mixed.TXT"), std::string(3000, 'y')));
  ASSERT_TRUE(WriteWholeFile(dir.File("\xe6\xbc\xa2\xe5\xad\x97.txt"), "12345"));  // two kanji in UTF-8
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
  ASSERT_TRUE(WriteWholeFile(dir.File("sub/inner.log"), std::string(2048, 'z')));
  ASSERT_EQ(mkdir(dir.File("folder.dat").c_str(), 0700), 0);  // a directory is not a file
  EVALCONTEXT ctx;
  ctx.directory = [&dir] { return dir.Path(); };
  const std::string abs = dir.Path();
  RunCases(
      {
          {"FILESIZE(\"k1023.dat\")", true, "0", 0, ""},
          {"FILESIZE(\"k1024.dat\")", true, "1", 0, ""},
          {"FILESIZE2(\"k1023.dat\")", true, "1023", 0, ""},
          {"FILESIZE2(\"MIXED.txt\")", true, "3000", 0, ""},  // ASCII case ignored
          {"FILESIZE(\"mixed.txt\")", true, "2", 0, ""},
          {"FILESIZE2(\"" + kKanji2 + ".TXT\")", true, "5", 0, ""},
          {"FILESIZE2(\"sub\\inner.log\")", true, "2048", 0, ""},
          {"FILESIZE2(\"sub/inner.log\")", true, "2048", 0, ""},
          {"FILESIZE2(\"" + abs + "/k1024.dat\")", true, "1024", 0, ""},
          {"FILESIZE2(\"k*.dat\")", true, "1023", 0, ""},  // the first match in name order
          {"FILESIZE2(\"k102?.dat\")", true, "1023", 0, ""},
          {"FILESIZE2(\"K1024.*\")", true, "1024", 0, ""},
          {"FILESIZE2(\"?" + kKanji2.substr(2) + ".txt\")", true, "5", 0, ""},  // "?" takes a kanji whole
          {"FILESIZE2(\"??" + kKanji2.substr(2) + ".txt\")", true, "0", 0, ""},
          {"FILESIZE2(\"folder.dat\")", true, "0", 0, ""},
          {"FILESIZE2(\"none\")", true, "0", 0, ""},
          {"FILESIZE2(\"\")", true, "0", 0, ""},
          {"EXISTFILE(\"*.dat\")", false, "T", 0, ""},
          {"EXISTFILE(\"*.*\")", false, "T", 0, ""},
          {"EXISTFILE(\"sub\\*.LOG\")", false, "T", 0, ""},
          {"EXISTFILE(\"*.none\")", false, "", 0, ""},
          {"EXISTFILE(\"folder.*\")", false, "", 0, ""},
          {"EXISTFILE(\"missing\\*.*\")", false, "", 0, ""},
          {"EXISTFILE(\"k1023.dat\\\")", false, "", 0, ""},
          // A name with a byte that is no Shift_JIS character names no file.
          {"EXISTFILE(\"\x80*\")", false, "", 0, ""},
          {"EXISTFILE()", false, "", scriptmsg::PARAMETER, "EXISTFILE"},
      },
      ctx);
}

TEST_F(ScriptFunctions, SizesSaturateAtTheLargestNumber) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  struct Size {
    int64_t bytes;
    std::string kilo, exact;
  } sizes[] = {
      {(int64_t{1} << 31) - 1, "2097151", "2147483647"},
      {int64_t{1} << 31, "2097152", "2147483647"},
      {int64_t{5} << 30, "5242880", "2147483647"},
      {int64_t{1} << 41, "2147483647", "2147483647"},  // 2^31 kilobytes
  };
  EVALCONTEXT ctx;
  ctx.directory = [&dir] { return dir.Path(); };
  for (const Size& z : sizes) {
    // Sparse files: no disc space is taken.
    const std::string path = dir.File("big.dat");
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    if (truncate(path.c_str(), z.bytes) != 0) GTEST_SKIP() << "the file system holds no file of " << z.bytes << " bytes";
    RunCases({{"FILESIZE(\"big.dat\")", true, z.kilo, 0, ""}, {"FILESIZE2(\"BIG.DAT\")", true, z.exact, 0, ""}}, ctx);
  }
}

TEST_F(ScriptFunctions, KeyStateAndState) {
  EVALCONTEXT ctx;
  std::vector<int32_t> asked;
  bool active = true;
  ctx.keyDown = [&asked](int32_t vk) {
    asked.push_back(vk);
    return vk == 0x10;
  };
  ctx.active = [&active] { return active; };
  RunCases(
      {
          {"KEYSTATE(16)", true, "1", 0, ""},
          {"KEYSTATE(17) + 5", true, "5", 0, ""},
          {"KEYSTATE(\"x16\")", true, "1", 0, ""},
          {"STATE(\"active\")", true, "1", 0, ""},
          {"STATE(\"AcTiVe\")", true, "1", 0, ""},
          {"STATE(\"SELECTING\")", true, "0", 0, ""},
          {"STATE(\"seltopx\") + STATE(\"selbottomx\") + STATE(\"SelTopY\") + STATE(\"selbottomy\")", true, "0", 0,
           ""},
          {"STATE(\"activ\")", false, "", scriptmsg::PARAMETER, "STATE"},
          {"STATE(\"\")", false, "", scriptmsg::PARAMETER, "STATE"},
          {"STATE(1)", false, "", scriptmsg::PARAMETER, "STATE"},
          {"KEYSTATE()", false, "", scriptmsg::PARAMETER, "KEYSTATE"},
      },
      ctx);
  EXPECT_EQ(asked, (std::vector<int32_t>{16, 17, 16}));
  active = false;
  RunCases({{"STATE(\"active\")", true, "0", 0, ""}}, ctx);
  // Without the program's hooks every key is up and the window not in front.
  RunCases({{"KEYSTATE(16)", true, "0", 0, ""}, {"STATE(\"active\")", true, "0", 0, ""}});
  // "random" stays within 0-32767 and is not one fixed number.
  std::vector<int32_t> seen;
  for (int i = 0; i < 64; ++i) {
    const Evaluated r = Evaluate("STATE(\"Random\")");
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.v.fNum);
    EXPECT_GE(r.v.num, 0);
    EXPECT_LE(r.v.num, 32767);
    seen.push_back(r.v.num);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_GT(std::unique(seen.begin(), seen.end()) - seen.begin(), 1);
}

class ScriptFunctionsRun : public ::testing::Test {
 protected:
  void SetUp() override { VAR::Reset(); }
  void TearDown() override { VAR::Reset(); }
  SCRIPTPEER peer;
};

TEST_F(ScriptFunctionsRun, FunctionsInARunningScript) {
  // The host's prompt is cut up with the functions, as a log-in script does.
  peer.Host("User ID (guest)?\r\n");
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory(
      "getline #l\n"
      "#id = drop(search(#l, \"(\") + \"x\", \")\")\n"
      "send part(#id, 1, 100) + \"|\" + tozenkaku(\"A1 \") + \"|\" + tohankaku(tozenkaku(\"ok\"))\n"
      "##n = length(searchback(\"a/b/c\", \"/\")) + value(\"x12\")\n"
      "send ##n\n"
      "send toupper(\"abc\") + tolower(\"DEF\") + dropback(\"a/b/c\", \"/\")\n"
      "if (existfile(\"/\"))\nsend \"dir\"\nendif\n"
      "send state(\"nothing\")\n"
      "send \"after\"\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"guest|\x82\x60\x82\x50\x81\x40|ok", "14", "ABCdefa/b"}));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].message, "STATEのパラメタがおかしいです。");
  EXPECT_EQ(peer.errors[0].line, 10);
}

}  // namespace
