// The colour syntax's own matcher (stock/tagmatch.h) against the engine it
// stands in for: which patterns it takes, hand-picked edge cases, the demo
// syntax over its host's lines, random patterns over random Shift_JIS
// lines, and whole re-taggings with and without it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/jre.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagmatch.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "support/temp_dir.h"

namespace {

// The engine's answer: 1 match, 0 none, -2 it gave up (retry limit).
int EngineSearch(const std::string& pattern, const std::string& text) {
  JRE2 jre;
  EXPECT_TRUE(Jre2Open(&jre));
  if (!Jre2Compile(&jre, pattern.data(), int(pattern.size()))) return -3;
  const int r = Jre2GetMatchInfo(&jre, text.data(), int(text.size()));
  if (r == 1) return 1;
  return jre.nError == JRE_ERROR_RETRY_LIMIT ? -2 : 0;
}

std::string Sjis(const std::string& utf8) { return jcode::Utf8ToSjis(utf8); }

// Bytes for a failure message: printable ASCII as it is, the rest as \xNN.
std::string Shown(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

TEST(TagMatcher, TakesTheSubsetAndLeavesTheRest) {
  const struct {
    const char* pattern;  // UTF-8
    bool taken;
  } cases[] = {
      {"^■ 掲示板 \\d+: .+  （", true},
      {"^#[0-9]+/[0-9]+ .+\\n★.+ \\(", true},
      {"^＝+ ?　メインメニュー　＝+", true},
      {"^  No\\.   日付", true},
      {"^$", true},
      {"", true},
      {"a|b|", true},
      {"(?:ab|cd){2,3}x*?y+?z??", true},
      {"[^a-c\\d\\]ぁ-ん]", true},
      {"\\v\\t\\n\\r\\f\\\\\\.", true},
      {"x{3}y{2,}", true},
      {"(a)", true},
      // Left to the engine.
      {"(a*)+", false},      // a quantifier inside a quantified group
      {"(a?)*", false},      // a quantified group that can match nothing
      {"^*", false},         // a quantified anchor
      {"a++", false},        // possessive
      {"a{2}?", false},      // after an interval
      {"a{,3}", false},
      {"a{3,2}", false},
      {"a{101}", false},
      {"\\w\\s\\b", false},
      {"\\A\\z", false},
      {"\\<a\\>", false},
      {"(?i)a", false},
      {"(?=a)", false},
      {"[[:alpha:]]", false},
      {"[a-]", false},
      {"[ｱ-ﾝ]", false},      // single bytes from 0x80 up in a class
      {"[^a-ｵ]", false},
      {"[a-あ]", false},     // a range from one width to the other
      {"[]a]", false},
      {"[a&&b]", false},
      {"a]", false},
      {"\\表", false},
      {"(a", false},
      {"a)", false},
  };
  for (const auto& c : cases) {
    const std::string p = Sjis(c.pattern);
    TagMatcher m;
    EXPECT_EQ(m.Compile(p.data(), int(p.size())), c.taken) << c.pattern;
    EXPECT_EQ(m.Compiled(), c.taken) << c.pattern;
  }
  // Bytes outside the engine's Shift_JIS characters.
  for (const std::string& p : {std::string("a\xFD"), std::string("\x95"), std::string("\x95\x0A"),
                              std::string("a\0b", 3)}) {
    TagMatcher m;
    EXPECT_FALSE(m.Compile(p.data(), int(p.size())));
  }
}

TEST(TagMatcher, EdgeCasesAgreeWithTheEngine) {
  const struct {
    const char* pattern;  // UTF-8
    std::string text;     // UTF-8
    int match;
  } cases[] = {
      // A trail byte is no character of its own: 表 is 0x95 0x5C, ア 0x83 0x41.
      {"\\\\", "表", 0},
      {"A", "ア", 0},
      {"[A-Z]", "ア", 0},
      {"\\\\", "\\", 1},
      {"^表$", "表", 1},
      {".$", "表", 1},
      {"^..$", "表", 0},
      // Half-width kana are single bytes.
      {"^ｶﾅ+表", "ｶﾅﾅﾅ表", 1},
      {"^...$", "ｶﾅ表", 1},
      // "^" and "$" at line feeds inside the text.
      {"^B", "A\nB", 1},
      {"A$", "A\nB", 1},
      {"A$\\n^B$", "A\nB", 1},
      {"^A\\nB$", "xA\nB", 0},
      {"^$", "A\n\nB", 1},
      {"^$", "AB", 0},
      {"^$", "", 1},
      // "^" never matches at the text's end, even after a line feed.
      {"^$", "A\n", 0},
      {"\n^", "A\n", 0},
      {"A$", "A\n", 1},
      // "." stops at a line feed, a negated class does not.
      {"A.B", "A\nB", 0},
      {"A[^x]B", "A\nB", 1},
      // "\v" is the input mark 0x0B.
      {"^\\v>", "\v>", 1},
      {"\\v", "v", 0},
      // "\d" is ASCII only.
      {"\\d", "１", 0},
      {"^\\d+$", "0123", 1},
      {"[ぁ-ん]+", "カタカナとひらがな", 1},
      {"^[ぁ-ん]+$", "カタカナとひらがな", 0},
      {"^(?:ab|cd){2}$", "abcd", 1},
      {"^(?:ab|cd){2}$", "abcdab", 0},
      {"^a{2,3}$", "aaaa", 0},
      {"^a{2,}$", "aaaa", 1},
      {"^x*?y$", "xxy", 1},
      {"^★.+ \\(", "★Re: はじめまして (QNT00017)", 1},
      {"^★.+ \\(", "★Re:(QNT00017)", 0},
      {"^#[0-9]+/[0-9]+ .+\\n★.+ \\(", "#0002/0005 雑談\n★Re: x (Q)  96/03/29", 1},
      {"^#[0-9]+/[0-9]+ .+\\n★.+ \\(", "#0002/0005 \n★Re: x (Q)", 0},
      // Loops followed by optional parts: stopping early helps only where
      // what follows can start with what the loop takes.
      {"^＝+ ?　メ", "＝＝＝ 　メ", 1},
      {"^＝+ ?　メ", "＝＝＝　メ", 1},
      {"^＝+ ?　メ", "＝＝＝＝", 0},
      {"^a+(?:b|a)c", "aaac", 1},
      {"^a+a?ac", "aac", 1},
      {"^[0-9]+(?:x|[0-9])$", "123", 1},
      {"ab|^c", "xc", 0},
      {"ab|^c", "x\ncab", 1},
  };
  for (const auto& c : cases) {
    const std::string p = Sjis(c.pattern), t = Sjis(c.text);
    TagMatcher m;
    ASSERT_TRUE(m.Compile(p.data(), int(p.size()))) << c.pattern;
    EXPECT_EQ(m.Search(t.data(), int(t.size())), c.match) << c.pattern << " / " << c.text;
    EXPECT_EQ(EngineSearch(p, t), c.match) << c.pattern << " / " << c.text;
  }
  // Bytes it does not read itself: the answers it gives around them are the
  // engine's.
  const struct {
    const char* pattern;
    std::string text;
  } odd[] = {{"a", "a\x95"}, {"a", "a\xFE"}, {"a", "\xFE" "a"}, {"b", "a\x95"}, {"^a", "\x95\x0A" "a"},
             {"^a", "\x95\x95\x0A" "a"}, {".", "\x95"}, {"a$", "a\x95\x0A"}};
  for (const auto& c : odd) {
    TagMatcher m;
    ASSERT_TRUE(m.Compile(c.pattern, int(std::strlen(c.pattern))));
    const int own = m.Search(c.text.data(), int(c.text.size()));
    if (own >= 0) {
      EXPECT_EQ(own, EngineSearch(c.pattern, c.text)) << c.pattern << " / " << Shown(c.text);
    }
  }
}

// Where backtracking would run long the engine gives up and the text does
// not match; the matcher must say it cannot tell before that.
TEST(TagMatcher, LeavesTextsNearTheEnginesLimitToTheEngine) {
  const struct {
    const char* pattern;
    std::string text;
  } cases[] = {
      {".*.*.*.*X", std::string(200, 'a')},
      {"^[ab]*[ab]*[ab]*[ab]*c$", "c" + std::string(200, 'a')},
      {"^(?:a|b)+(?:a|b)+(?:a|b)+d", std::string(200, 'a') + "c"},
      {"^.*a.*a.*a.*b", std::string(200, 'a')},
      // Both say no match here, but the engine gives up on the way, which
      // counts towards switching the pattern off.
      {"^(?:a|b)+(?:a|b)+.*$c", [] {
         std::string t;
         for (int i = 0; i < 100; ++i) t += "ab";
         return t;
       }()},
  };
  int gaveUp = 0;
  for (const auto& c : cases) {
    const int engine = EngineSearch(c.pattern, c.text);
    TagMatcher m;
    ASSERT_TRUE(m.Compile(c.pattern, int(std::strlen(c.pattern))));
    const int own = m.Search(c.text.data(), int(c.text.size()));
    if (engine == -2) {
      ++gaveUp;
      EXPECT_EQ(own, -1) << c.pattern;
    } else if (own >= 0) {
      EXPECT_EQ(own, engine) << c.pattern;
    }
  }
  EXPECT_GT(gaveUp, 0);
  // Such a pattern on a short text it answers.
  TagMatcher m;
  ASSERT_TRUE(m.Compile(".*.*.*.*X", 9));
  EXPECT_EQ(m.Search("aaX", 3), 1);
  EXPECT_EQ(m.Search("aaa", 3), 0);
}

// Random patterns of the subset over random lines of the characters that
// matter (ASCII, line feeds, the input mark, half-width kana, two-byte
// characters with 0x5C and 0x41 trail bytes): every answer given equals the
// engine's.
TEST(TagMatcher, RandomPatternsAgreeWithTheEngine) {
  std::mt19937 rng(12345);
  auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  const std::vector<std::string> chars = {"a", "b", "A", " ", "1", "9", "\n", "\v", "#", "/", "(",
                                          "\\", Sjis("表"), Sjis("ア"), Sjis("ｶ"), Sjis("★"),
                                          Sjis("＝"), Sjis("ソ"), "\xA0", "\x80"};
  const std::vector<std::string> atoms = {"a", "b", "A", " ", "1", "#", "/", "\\(", "\\\\", "\\n",
                                          "\\v", ".", "\\d", "[0-9]", "[^a]", "[a-c]", "[ア-ン]",
                                          "[^\\n]", Sjis("表"), Sjis("ア"), Sjis("ｶ"), Sjis("★"),
                                          Sjis("＝"), "^", "$"};
  const std::vector<std::string> quants = {"", "", "", "*", "+", "?", "{1,2}", "{2}", "+?", "*?"};
  std::function<std::string(int)> gen = [&](int depth) {
    std::string p;
    const int n = 1 + int(rng() % 5);
    for (int i = 0; i < n; ++i) {
      const unsigned kind = rng() % 10;
      std::string atom;
      bool quantifiable = true;
      if (kind == 0 && depth < 2) {
        atom = "(?:" + gen(depth + 1) + "|" + gen(depth + 1) + ")";
      } else {
        atom = pick(atoms);
        quantifiable = atom != "^" && atom != "$";
      }
      p += atom;
      if (quantifiable) p += pick(quants);
    }
    return p;
  };
  int answered = 0, total = 0, taken = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string p = (rng() % 2 ? "^" : "") + gen(0);
    TagMatcher m;
    if (!m.Compile(p.data(), int(p.size()))) continue;
    ++taken;
    JRE2 jre;
    ASSERT_TRUE(Jre2Open(&jre));
    ASSERT_TRUE(Jre2Compile(&jre, p.data(), int(p.size()))) << p;
    for (int j = 0; j < 12; ++j) {
      std::string t;
      const int len = int(rng() % 24);
      for (int k = 0; k < len; ++k) t += pick(chars);
      ++total;
      const int own = m.Search(t.data(), int(t.size()));
      if (own < 0) continue;
      ++answered;
      const int engine = Jre2GetMatchInfo(&jre, t.data(), int(t.size()));
      ASSERT_EQ(jre.nError, JRE_ERROR_NONE) << p;
      ASSERT_EQ(own, engine) << "pattern \"" << Shown(p) << "\" text \"" << Shown(t) << "\"";
    }
  }
  // The test means something only if most patterns and texts were taken.
  EXPECT_GT(taken, 2000);
  EXPECT_GT(answered, total * 9 / 10);
}

// The demo syntax's patterns are all in the subset, and over the demo
// host's lines they give the engine's answers.
TEST(TagMatcher, DemoSyntaxIsTakenWhole) {
  ASSERT_EQ(TAGMAKER::Open(QUILLNET_BUILD_DIR "/tools/demo.tag"), 1);
  const std::vector<std::string> lines = {
      "＝＝＝＝＝＝＝　メインメニュー　＝＝＝＝＝＝＝", "■ 掲示板一覧", "■ 掲示板 2: パソコン通信よもやま話  （4件）",
      "  No.   日付       時刻   発言者     タイトル", "#0002/0005 雑談コーナー\n★Re: はじめまして (QNT00017)  96/03/29 00:12",
      "現在のアクセス者", "", "#0002/0005 雑談コーナー", "★Re: はじめまして (QNT00017)", "■ 掲示板",
      "> 引用です", "現在のアクセス者 3人"};
  int patterns = 0;
  for (int t = TAG_FIRST_RULE; t < tagarray.Count(); ++t) {
    const TAGPROP* r = TAGMAKER::GetTagProp(t);
    for (const char* field : {r->szLibPattern, r->szExit}) {
      const std::string p(field, strnlen(field, sizeof r->szLibPattern));
      if (p.empty()) continue;
      ++patterns;
      TagMatcher m;
      ASSERT_TRUE(m.Compile(p.data(), int(p.size()))) << jcode::SjisToUtf8(p);
      for (const std::string& utf8 : lines) {
        const std::string text = Sjis(utf8);
        EXPECT_EQ(m.Search(text.data(), int(text.size())), EngineSearch(p, text))
            << jcode::SjisToUtf8(p) << " / " << utf8;
      }
    }
  }
  EXPECT_EQ(patterns, 7);
  TAGMAKER::ResetForTest();
}

// Whole matching runs with and without the own matcher give the same tags.
class TagMatcherRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    tagQueryHooks = TAGQUERYHOOKS{};
    tagQueryHooks.quotePrefixes = [] { return std::vector<std::string>{">"}; };
    ASSERT_TRUE(STOCK::Create(dir.File("t.stk"), 1000, 80, 0, 0, 0));
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
  void TearDown() override {
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
    TagQuerySetOwnMatcher(true);
    tagQueryHooks = TAGQUERYHOOKS{};
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
  }
  static void Line(const std::string& utf8, unsigned char mark = STOCK_MARK_NONE) {
    CODEVRAM cv = cvNewest;
    const std::string s = Sjis(utf8);
    STOCKITEM* item = STOCK::GetItem(cv);
    s.copy(item->Text(), s.size());
    item->cInput = mark;
    if (mark == STOCK_MARK_CONNECT) STOCK::SetConnectTag(cv);
    cv.LineFeed();
  }
  std::vector<int> Retag(bool own) {
    TagQuerySetOwnMatcher(own);
    EXPECT_EQ(TREE::RefreshTagAll(0), 1);
    std::vector<int> tags;
    for (CODEVRAM cv = cvOldest; !cv.IsNewest(); ++cv) tags.push_back(cv.Tag());
    return tags;
  }
  TempDir dir;
};

TEST_F(TagMatcherRunTest, RetagGivesTheSameTagsWithAndWithout) {
  ASSERT_EQ(TAGMAKER::Open(QUILLNET_BUILD_DIR "/tools/demo.tag"), 1);
  const std::vector<std::string> lines = {
      "＝＝＝＝＝＝＝　メインメニュー　＝＝＝＝＝＝＝", "■ 掲示板一覧", " 1: 雑談", "■ 掲示板 2: よもやま話  （4件）",
      "  No.   日付       時刻   発言者     タイトル", "#0001/0004 雑談コーナー", "★はじめまして (QNT00017)  96/03/29 00:12",
      "> 引用", "本文", "#0002/0004 雑談コーナー", "★Re:はじめまして (QNT00018)  96/03/29 00:13",
      "（#0001 へのコメント）", "> > 二重引用", "#0003/0004 x", "★括弧なし", "現在のアクセス者", "QNT00017",
      "> 引用でない", "", "■ 掲示板一覧"};
  Line("DEMO - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  for (const std::string& l : lines) Line(l);
  Line("DEMO - 2026/12/10 11:00", STOCK_MARK_CONNECT);
  for (const std::string& l : lines) Line(l);
  const std::vector<int> with = Retag(true), without = Retag(false);
  EXPECT_EQ(with, without);
  // Tags were given at all: menu, board list, board, list, messages,
  // quotations, the who's-on list.
  int rules = 0, quotes = 0;
  for (int t : with) {
    rules += t >= TAG_FIRST_RULE;
    quotes += t == TAG_QUOTE;
  }
  EXPECT_GE(rules, 2 * 6);
  EXPECT_GE(quotes, 2 * 2);
}

}  // namespace
