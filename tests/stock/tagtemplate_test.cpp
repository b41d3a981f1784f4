#include "stock/tagtemplate.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/jcode.h"

namespace {

std::string Hex(const unsigned char* b, int n) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}

}  // namespace

TEST(TitleTemplate, EachElementCompilesToItsBytesAndBack) {
  struct Case {
    const char* text;   // UTF-8; converted to Shift_JIS
    const char* bytes;  // the compiled form
    int reach;          // byte 353's value
  } cases[] = {
      {"", "", 0},
      {"ab", "02 02 61 62 0E", 0},
      {R"(\1)", "03 01 0E", 0},
      {R"(N\9)", "02 01 4E 03 09 0E", 0},
      {R"(\(0,1))", "04 00 01 0E", 1},
      {R"(\(-3,2,10))", "05 FD 02 0A 0E", 2},
      {R"(\(4,NIF))", "04 04 80 0E", -1},
      {R"(\(0,-1))", "04 00 FF 0E", -1},
      {R"(\("a\"b"))", "06 03 61 22 62 0E", -1},
      {R"(\("x",1))", "07 01 78 01 0E", -1},
      {R"(\("x\v",2,30))", "08 02 78 0B 02 1E 0E", -1},
      {R"(\("\d+"))", "06 03 5C 64 2B 0E", -1},
      {R"(\s(1,2,5,"t",41))", "0B 01 02 05 01 74 29 0E", -1},
      {R"(\r(0,0,9,"[0-9]",3))", "0C 00 00 09 05 5B 30 2D 39 5D 03 0E", -1},
      {R"(\s(\(0,3),"t",8))", "09 04 00 03 0E 01 74 08 0E", 3},
      {R"(\r(\1x,"y",0))", "0A 03 01 02 01 78 0E 01 79 00 0E", 0},
      {R"(\p(\(2,4),1,-2))", "0D 04 02 04 0E 01 FE 0E", 4},
      {R"(\p(\s(\(0,5),"a",0),0,3))", "0D 09 04 00 05 0E 01 61 00 0E 00 03 0E", 5},
      {R"(\p(\s(\("z"),"a",0),0,3))", "0D 09 06 01 7A 0E 01 61 00 0E 00 03 0E", -1},
      {R"(\p(a\,b,0,1))", "0D 02 03 61 2C 62 0E 00 01 0E", 0},
      {R"(\p(,0,1))", "0D 0E 00 01 0E", 0},
      {R"(\-)", "0E", 0},
      {R"(a\\b)", "02 03 61 5C 62 0E", 0},
      {R"((x,y))", "02 05 28 78 2C 79 29 0E", 0},
      {"掲示板", "02 06 8C 66 8E A6 94 C2 0E", 0},
      // ソ ends in 0x5C: it is a character, not an escape of "1".
      {R"(ソ1)", "02 03 83 5C 31 0E", 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = jcode::Utf8ToSjis(c.text);
    unsigned char out[120];
    int used = -1;
    ASSERT_EQ(CompileTitleTemplate(text, out, sizeof out, &used), TITLE_COMPILED);
    EXPECT_EQ(Hex(out, used), c.bytes);
    for (int i = used; i < 120; ++i) ASSERT_EQ(out[i], 0);
    EXPECT_EQ(CompiledTitleLength(text), used);
    EXPECT_EQ(TitleLineReach(out, sizeof out), c.reach);
    std::string back;
    ASSERT_TRUE(DecompileTitleTemplate(out, sizeof out, &back));
    EXPECT_EQ(jcode::SjisToUtf8(back), c.text);
    EXPECT_TRUE(DecompilesExactly(out, sizeof out));
    // Every element's length covers it exactly.
    int p = 0;
    while (p < used) {
      int n = TitleElementLength(out + p, used - p);
      ASSERT_GT(n, 0);
      p += n;
    }
    EXPECT_EQ(p, used);
  }
}

TEST(TitleTemplate, TextsThatAreNotTemplates) {
  const char* bad[] = {
      R"(\()",        R"(\(1))",      R"(\(1,2,3,4))", R"(\(128,0))",   R"(\("x)",
      R"(\("x",1,2,3))", R"(\s(1,2,3,"t"))", R"(\s(abc))", R"(\p(x,1))", R"(\p(x,1,2)",
      R"(ab\)",       R"(\(a,b))",    R"(\s(\1,"t",256))",
      R"(\p(\-1,-3,2))", R"(\s(a\-b,"t",1))",  // the end element inside a nested template, not at its end
  };
  for (const char* t : bad) {
    unsigned char out[120];
    std::string why;
    EXPECT_EQ(CompileTitleTemplate(t, out, sizeof out, nullptr, &why), TITLE_SYNTAX_ERROR) << t;
    EXPECT_FALSE(why.empty()) << t;
    EXPECT_EQ(out[0], 0) << t;
  }
  // Too long for the room, fine in a larger one.
  std::string longText(60, 'x');
  unsigned char small[50], large[120];
  EXPECT_EQ(CompileTitleTemplate(longText, small, sizeof small), TITLE_TOO_LONG);
  EXPECT_EQ(CompileTitleTemplate(longText, large, sizeof large), TITLE_COMPILED);
  // Nesting is bounded.
  std::string deep = "x";
  for (int i = 0; i < TITLE_MAX_DEPTH + 2; ++i) deep = "\\p(" + deep + ",0,1)";
  EXPECT_EQ(CompiledTitleLength(deep), -1);
}

TEST(TitleTemplate, BytesWithoutAnExactTextAreSaidSo) {
  struct Case {
    std::string bytes;
    bool decompiles;  // a text can be read at all
    bool exact;       // and it compiles back to the same bytes
  } cases[] = {
      {std::string("\x02\x01" "a" "\x02\x01" "b" "\x0E", 7), true, false},  // two literals become one
      {std::string("\x0E\x02\x01" "a" "\x0E", 5), true, false},             // text after the end
      {std::string("\x02\x01" "a", 3), true, false},                        // no end element
      {std::string("\x02\x09" "a", 3), false, false},                       // literal past the room
      {std::string("\x03\x0A\x0E", 3), false, false},                       // group 10
      {std::string("\x0F\x0E", 2), false, false},                           // unknown element
      {std::string("\x09\x02\x01" "a", 4), false, false},                   // nested without its end
      {std::string("\x06\x01\\" "\x0E", 4), true, false},                   // a lone backslash quoted
      {std::string("\x02\x01" "a" "\x0E" "\x00\x05", 6), true, false},      // bytes after the end
  };
  for (auto& c : cases) {
    std::string text;
    auto* b = reinterpret_cast<const unsigned char*>(c.bytes.data());
    EXPECT_EQ(DecompileTitleTemplate(b, int(c.bytes.size()), &text), c.decompiles) << Hex(b, int(c.bytes.size()));
    EXPECT_EQ(DecompilesExactly(b, int(c.bytes.size())), c.exact) << Hex(b, int(c.bytes.size()));
  }
  const unsigned char unknown[] = {0x02, 0x01, 'a', 0x0F, 0x0E};
  EXPECT_EQ(TitleLineReach(unknown, sizeof unknown), -2);
}
