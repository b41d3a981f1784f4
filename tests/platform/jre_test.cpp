#include "platform/jre.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/jcode.h"

namespace {

// Compiles a Shift_JIS pattern (written in UTF-8 here) and finds it in a text.
struct Found {
  bool hit = false;
  int pos = -1, len = 0;
};

Found Find(const std::string& patternUtf8, const std::string& textSjis, int start = 0) {
  JRE2 r;
  EXPECT_TRUE(Jre2Open(&r));
  std::string p = jcode::Utf8ToSjis(patternUtf8);
  EXPECT_TRUE(Jre2Compile(&r, p.c_str())) << patternUtf8 << ": " << GetJreMessage(&r);
  r.nStart = start;
  Found f;
  f.hit = Jre2GetMatchInfo(&r, textSjis.data(), int(textSjis.size())) != 0;
  f.pos = r.nPosition;
  f.len = r.nLength;
  Jre2Close(&r);
  return f;
}

std::string Sjis(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

}  // namespace

TEST(Jre, ShiftJisCharactersAreWholeForTheEngine) {
  struct Case {
    const char* pattern;
    std::string text;
    bool hit;
    int pos, len;
  } cases[] = {
      // 表 is 0x95 0x5C and ソ 0x83 0x5C: their trail byte is never a backslash.
      {R"(\\)", Sjis("表ソ"), false, -1, 0},
      {R"(\\)", Sjis("表\\"), true, 2, 1},
      // ア is 0x83 0x41: its trail byte is never an "A".
      {"A", Sjis("アイ"), false, -1, 0},
      {"A", Sjis("アA"), true, 2, 1},
      {"^.$", Sjis("表"), true, 0, 2},
      // Half-width katakana are single bytes (0xA1-0xDF).
      {"^ｶﾅ+$", Sjis("ｶﾅﾅ"), true, 0, 3},
      {"^...$", Sjis("ｱｲｳ"), true, 0, 3},
      {"[ｱ-ｵ]+", Sjis("xｲｳz"), true, 1, 2},
      // "\v" is the input-column mark 0x0B.
      {R"(\v)", "ab\x0B" "c", true, 2, 1},
      {R"(>\v\d+)", "> \x0B" "12", false, -1, 0},
      {R"(> \v\d+)", "> \x0B" "12", true, 0, 5},
      // "^" and "$" hold at the line feeds of joined lines; "." does not cross them.
      {"^BOARD$", "x\nBOARD\ny", true, 2, 5},
      {"^a.b", "a\nb", false, -1, 0},
      {R"(1\n2)", "1\n2", true, 0, 3},
      {"掲示板", Sjis("■ 掲示板 12"), true, 3, 6},
  };
  for (auto& c : cases) {
    Found f = Find(c.pattern, c.text);
    EXPECT_EQ(f.hit, c.hit) << c.pattern;
    if (c.hit) {
      EXPECT_EQ(f.pos, c.pos) << c.pattern;
      EXPECT_EQ(f.len, c.len) << c.pattern;
    }
  }
}

TEST(Jre, StartPositionGroupsAndEmbeddedNul) {
  JRE2 r;
  ASSERT_TRUE(Jre2Open(&r));
  EXPECT_EQ(r.dwSize, JRE2_RECORD_SIZE);
  ASSERT_TRUE(Jre2Compile(&r, R"(#(\d+)/(\d+)?)"));
  std::string text = std::string("#12/ \0 #345/67", 14);
  ASSERT_EQ(Jre2GetMatchInfo(&r, text.data(), int(text.size())), 1);
  EXPECT_EQ(r.nPosition, 0);
  EXPECT_EQ(r.aGroupPosition[1], 1);
  EXPECT_EQ(r.aGroupLength[1], 2);
  EXPECT_EQ(r.aGroupPosition[2], -1);  // the optional group took no part
  r.nStart = 1;                        // past the first match, across the NUL
  ASSERT_EQ(Jre2GetMatchInfo(&r, text.data(), int(text.size())), 1);
  EXPECT_EQ(r.nPosition, 7);
  EXPECT_EQ(r.nLength, 7);
  EXPECT_EQ(r.nGroups, 3);
  EXPECT_EQ(r.aGroupPosition[2], 12);
  r.nStart = 15;  // beyond the text
  EXPECT_EQ(Jre2GetMatchInfo(&r, text.data(), int(text.size())), 0);
  EXPECT_EQ(r.nError, JRE_ERROR_NONE);
  // A NUL-terminated text stops at its NUL.
  r.nStart = 1;
  EXPECT_EQ(Jre2GetMatchInfo(&r, text.c_str()), 0);
}

TEST(Jre, CompileFailuresCloseTheRecordAndSayWhy) {
  JRE2 r;
  ASSERT_TRUE(Jre2Open(&r));
  EXPECT_FALSE(Jre2Compile(&r, "(ab"));
  EXPECT_EQ(r.dwSize, 0u);
  EXPECT_EQ(r.nError, JRE_ERROR_SYNTAX);
  EXPECT_FALSE(GetJreMessage(&r).empty());
  EXPECT_EQ(Jre2GetMatchInfo(&r, "ab"), 0);
  EXPECT_EQ(r.nError, JRE_ERROR_NOT_OPEN);
  Jre2Close(&r);
  Jre2Close(&r);  // harmless twice
  // Compiling without opening fails too.
  JRE2 q;
  EXPECT_FALSE(Jre2Compile(&q, "a"));
  EXPECT_EQ(q.nError, JRE_ERROR_NOT_OPEN);
  EXPECT_NE(JreGetVersion().find("Oniguruma"), std::string::npos);
}

TEST(Jre, RetryLimitEndsRunawayBacktracking) {
  JRE2 r;
  ASSERT_TRUE(Jre2Open(&r));
  ASSERT_TRUE(Jre2Compile(&r, R"(^(\w+\s?)*$)"));
  std::string text = std::string(40, 'a') + "!";
  EXPECT_EQ(Jre2GetMatchInfo(&r, text.data(), int(text.size())), 0);
  EXPECT_EQ(r.nError, JRE_ERROR_RETRY_LIMIT);
  EXPECT_FALSE(GetJreMessage(&r).empty());
  // The same pattern on a short text is fine.
  EXPECT_EQ(Jre2GetMatchInfo(&r, "aa b"), 1);
  EXPECT_EQ(r.nError, JRE_ERROR_NONE);
}

TEST(Jre, SwitchedOffEngineOpensNothing) {
  JreSetUsable(false);
  JRE2 r;
  EXPECT_FALSE(Jre2Open(&r));
  EXPECT_EQ(r.nError, JRE_ERROR_UNUSABLE);
  EXPECT_FALSE(Jre2Compile(&r, "a"));
  JreSetUsable(true);
  EXPECT_TRUE(Jre2Open(&r));
  EXPECT_TRUE(Jre2Compile(&r, "a"));
}

TEST(Jre, MovedRecordsKeepTheirPattern) {
  JRE2 a;
  ASSERT_TRUE(Jre2Open(&a));
  ASSERT_TRUE(Jre2Compile(&a, "x+"));
  JRE2 b = std::move(a);
  EXPECT_EQ(a.regex, nullptr);
  EXPECT_EQ(Jre2GetMatchInfo(&b, "axxb"), 1);
  EXPECT_EQ(b.nPosition, 1);
  EXPECT_EQ(b.nLength, 2);
}
