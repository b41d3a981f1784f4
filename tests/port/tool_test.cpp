// quillnet-tool decode and encode: the port's own conversions from the command
// line, checked against nkf and against each other.
#include <gtest/gtest.h>

#include <string>

#include "support/process.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

std::string SampleSjis() {
  // Kanji, half-width kana, ASCII and a CR LF, repeated past several reads.
  std::string line = "\x88\x9F\x88\xA0\x82\xA0 board 12 \xB1\xB2\xB3 \x83\x5C\x83\x74\x83\x67\r\n";
  std::string s;
  for (int i = 0; i < 4000; ++i) s += line;
  return s;
}

TEST(QuillnetTool, DecodeMatchesNkf) {
  if (RunProcess({"nkf", "--version"}, "").status != 0) GTEST_SKIP() << "nkf is not installed";
  // No half-width kana here: nkf writes them in JIS as ESC ( I, a designation
  // the hosts do not use and the decoder passes through unchanged.
  std::string line = "\x88\x9F\x88\xA0\x82\xA0 board 12 \x83\x5C\x83\x74\x83\x67\r\n", sjis;
  for (int i = 0; i < 4000; ++i) sjis += line;
  struct Case {
    const char* code;
    std::vector<std::string> toHost;
  } cases[] = {{"1", {"nkf", "-S", "-j", "-x"}}, {"4", {"nkf", "-S", "-e", "-x"}}};
  for (auto& c : cases) {
    ProcessResult host = RunProcess(c.toHost, sjis);
    ASSERT_EQ(host.status, 0);
    ProcessResult ours = RunProcess({kTool, "decode", "--kanji-code", c.code}, host.out);
    ASSERT_EQ(ours.status, 0) << c.code;
    EXPECT_TRUE(ours.out == sjis) << "kanji code " << c.code << ": " << ours.out.size() << " bytes";
  }
}

TEST(QuillnetTool, EncodeThenDecodeGivesTheTextBack) {
  const std::string sjis = SampleSjis();
  for (const char* code : {"1", "2", "3", "4"}) {
    ProcessResult wire = RunProcess({kTool, "encode", "--kanji-code", code}, sjis);
    ASSERT_EQ(wire.status, 0) << code;
    ProcessResult back = RunProcess({kTool, "decode", "--kanji-code", code}, wire.out);
    ASSERT_EQ(back.status, 0) << code;
    EXPECT_TRUE(back.out == sjis) << "kanji code " << code;
  }
}

TEST(QuillnetTool, LineRules) {
  struct Case {
    std::vector<std::string> args;
    std::string in, out;
  } cases[] = {
      {{"decode", "--cr-only"}, "a\rb\r", "a\r\nb\r\n"},
      {{"decode", "--7bit"}, "\xC1\x80" "b", "Ab"},
      {{"decode"}, std::string("x\0y", 3), "xy"},
      {{"encode", "--send-crlf"}, "a\r", "a\r\n"},
      {{"encode", "--socket"}, "\xFF", "\xFF\xFF"},
      {{"encode", "--kanji-code", "1", "--7bit"}, "\xB1", "\x0E\x31"},
  };
  for (auto& c : cases) {
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProcessResult r = RunProcess(argv, c.in);
    EXPECT_EQ(r.status, 0) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
  }
}

TEST(QuillnetTool, HelpAndBadArguments) {
  ProcessResult help = RunProcess({kTool, "--help"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--kanji-code"), std::string::npos);
  EXPECT_NE(help.out.find("--auto-jis-euc"), std::string::npos);
  EXPECT_EQ(RunProcess({kTool, "decode", "--kanji-code", "9"}, "").status, 2);
  EXPECT_EQ(RunProcess({kTool, "decode", "--bogus"}, "").status, 2);
  EXPECT_EQ(RunProcess({kTool, "frobnicate"}, "").status, 2);
  EXPECT_EQ(RunProcess({kTool}, "").status, 2);
}

}  // namespace
