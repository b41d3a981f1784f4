// What a headless run prints for a stored line.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/jcode.h"
#include "shell/headless.h"
#include "terminal/mybitmap.h"

namespace {

TEST(HeadlessMirror, LineTextAsShown) {
  struct Case {
    std::string sjis;  // the stored line's bytes
    const char* utf8;  // what is printed
  } cases[] = {
      {"plain text\r\n", "plain text"},
      {std::string("gap\0\0x", 6), "gap  x"},
      {"trailing   \r\n", "trailing"},
      {jcode::Utf8ToSjis("漢字とｶﾅ") + "\r\n", "漢字とｶﾅ"},
      // A double-byte character moved whole to the next line leaves 0x7F.
      {jcode::Utf8ToSjis("端") + "\x7F", "端"},
      {"tab\there\x1b", "tab here"},
      // A lead byte cut off at the end shows as the replacement character.
      {"cut\x88", "cut\xEF\xBF\xBD"},
      // 0x5C is a backslash in this code's single-byte half.
      {"C:\\dir", "C:\\dir"},
      {"", ""},
      // Long runs go eight bytes at a time: control bytes anywhere in a
      // word are still blanked, and every printable byte is kept.
      {"0123456789abc\x01" "efghijklmnop\x7Fqrstuvwxyz\x1f" "ABCDEFG", "0123456789abc efghijklmnop qrstuvwxyz ABCDEFG"},
      {" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~",
       " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MirrorLineText(c.sjis.data(), int(c.sjis.size())), c.utf8) << c.utf8;
}

// iconv over a whole text in one call; an unconvertible character becomes
// U+FFFD (a lead byte takes its trail byte with it).
std::string IconvWhole(const std::string& in) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out;
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (left > 0) {
    char buf[4096];
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, size_t(dst - buf));
    if (r == size_t(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";
      const size_t skip = left >= 2 && jcode::IsKanji1(static_cast<unsigned char>(*src)) ? 2 : 1;
      src += skip;
      left -= skip;
    }
  }
  iconv_close(cd);
  return out;
}

TEST(HeadlessMirror, ConversionMatchesIconvOverTheWholeText) {
  // Every single byte and every double-byte code, valid or not.
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (!jcode::IsKanji1(static_cast<unsigned char>(b))) all += static_cast<char>(b);
  for (int lead = 0x81; lead <= 0xFF; ++lead) {
    if (!jcode::IsKanji1(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      all += static_cast<char>(lead);
      all += static_cast<char>(trail);
    }
  }
  all += "\x81";  // a lead byte at the very end
  EXPECT_EQ(jcode::SjisToUtf8(all), IconvWhole(all));
  EXPECT_EQ(jcode::SjisToUtf8(jcode::Utf8ToSjis("日本語のテキスト ｱｲｳ")), "日本語のテキスト ｱｲｳ");
}

// Far more lines than one batch, and more bytes than may wait for the
// writer: every line comes out once, whole and in order, with flushes
// between.
TEST(HeadlessMirror, ManyBatchesArriveWholeAndInOrder) {
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  InstallHeadlessMirror(out);
  const std::string kanji = jcode::Utf8ToSjis("掲示板");
  std::string expected;
  for (int i = 0; i < 300000; ++i) {
    const std::string line = "line " + std::to_string(i) + " " + kanji + "\r\n";
    MYBITMAP::hooks.lineToAddins(line.data(), int(line.size()), true);
    expected += "line " + std::to_string(i) + " 掲示板\n";
    if (i % 100000 == 0) FlushHeadlessMirror();
  }
  RemoveHeadlessMirror();
  EXPECT_FALSE(MYBITMAP::hooks.lineToAddins);
  std::string got(expected.size() + 1, '\0');
  std::rewind(out);
  got.resize(std::fread(got.data(), 1, got.size(), out));
  std::fclose(out);
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

}  // namespace
