#include "platform/jcode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Jcode, JisShiftJisArithmeticRoundTripsEveryCell) {
  for (int r = 0x21; r <= 0x7E; ++r) {
    for (int c = 0x21; c <= 0x7E; ++c) {
      unsigned char s1, s2, j1, j2;
      jcode::JisToSjis(static_cast<unsigned char>(r), static_cast<unsigned char>(c), &s1, &s2);
      ASSERT_TRUE(jcode::IsKanji1(s1)) << r << "," << c;
      ASSERT_TRUE(jcode::IsKanjiTrail(s2)) << r << "," << c;
      jcode::SjisToJis(s1, s2, &j1, &j2);
      ASSERT_EQ(j1, r);
      ASSERT_EQ(j2, c);
    }
  }
  unsigned char s1, s2;
  jcode::JisToSjis(0x30, 0x21, &s1, &s2);  // 亜
  EXPECT_EQ(s1, 0x88);
  EXPECT_EQ(s2, 0x9F);
}

TEST(Jcode, JstrchrNeverMatchesATrailByte) {
  const char* s = "\x83\x5C" "a\\b";  // ソ ends in 0x5C, the backslash byte
  const char* hit = jstrchr(s, '\\');
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit - s, 3);
  EXPECT_EQ(jstrchr("\x83\x5C", '\\'), nullptr);
  EXPECT_EQ(jstrchr("abc", 'z'), nullptr);
  const char* t = "abc";
  EXPECT_EQ(jstrchr(t, 0), t + 3);
  EXPECT_EQ(jstrchr("\x83", 'a'), nullptr);  // lone lead byte at the end
}

TEST(Jcode, ToUpperLeavesDoubleByteCharactersAlone) {
  char s[] = "ab\x82\x61z\x82\x81";  // "ab", fullwidth a (0x82 0x81 has trail 0x81), 'z'
  ToUpper(s);
  EXPECT_STREQ(s, "AB\x82\x61Z\x82\x81");
  char t[] = "\x82\x61x\x82";  // ends with a lone lead byte
  ToUpper(t);
  EXPECT_STREQ(t, "\x82\x61X\x82");
}

TEST(Jcode, IsKanji2StringFindsTheSecondByte) {
  const char* s = "a\x88\x9F" "b";
  EXPECT_EQ(jcode::IsKanji2String(s, s + 1), 0);
  EXPECT_EQ(jcode::IsKanji2String(s, s + 2), 1);
  EXPECT_EQ(jcode::IsKanji2String(s, s + 3), 0);
  EXPECT_EQ(jcode::IsKanji2String(s, s), 0);
}

TEST(Jcode, Utf8ConversionAtTheBoundaries) {
  EXPECT_EQ(jcode::SjisToUtf8("\x88\x9F\xB1" "A"), "亜ｱA");
  EXPECT_EQ(jcode::Utf8ToSjis("亜ｱA～"), "\x88\x9F\xB1" "A\x81\x60");
  EXPECT_EQ(jcode::SjisToUtf8("a\x88"), "a\xEF\xBF\xBD");   // cut pair at the end
  EXPECT_EQ(jcode::Utf8ToSjis("a\xF0\x9F\x98\x80" "b"), "a?b");  // no CP932 form
  EXPECT_EQ(jcode::Utf8ToSjis("a\xFF" "b"), "a?b");               // not UTF-8
}
