// quillnet-tool send --protocol text: the shaping options reach the wire
// byte for byte (the tool's standard output into a file, behind socat so its
// standard input stays open), and wrong options are usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/jcode.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;
constexpr int kLimitMs = 30000;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

TEST(ToolText, OptionsShapeTheLinesOnTheWire) {
  TempDir dir;
  const std::string text = jcode::Utf8ToSjis("ab\tcdefghijklmnopqrstuvwxyz0123456789\n本文です。\n");
  ASSERT_TRUE(WriteWholeFile(dir.File("up.txt"), text));
  struct Case {
    std::string options;
    std::string wire;  // UTF-8 of what goes out
  } cases[] = {
      // Defaults: wrap at 76, the TAB sent as it is.
      {"", "ab\tcdefghijklmnopqrstuvwxyz0123456789\r本文です。\r"},
      // Word wrap breaks behind the TAB rather than inside the long word.
      {"--width 20 --kinsoku 0", "ab\t\rcdefghijklmnopqrstuv\rwxyz0123456789\r本文です。\r"},
      {"--width 20 --tab 4", "ab  cdefghijklmnopqr\rstuvwxyz0123456789\r本文です。\r"},
      {"--width 20 --margin 2 --tab 4", "  ab  cdefghijklmnop\r  qrstuvwxyz01234567\r  89\r  本文です。\r"},
      {"--width 20 --margin 1 --zenkaku-margin --tab 4",
       "　ab  cdefghijklmnop\r　qrstuvwxyz01234567\r　89\r　本文です。\r"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File("wire");
    const std::string cmd = "socat EXEC:\"" + kTool + " send --protocol text --fast " + c.options + " " +
                            dir.File("up.txt") + "\" SYSTEM:\"cat > " + Quote(out) + "\"";
    const FullProcessResult r = RunProcessWithin({"sh", "-c", cmd}, "", kLimitMs);
    ASSERT_FALSE(r.timedOut) << c.options;
    EXPECT_EQ(r.status, 0) << c.options << ": " << r.err;
    std::string got = jcode::SjisToUtf8(ReadWholeFile(out));
    EXPECT_EQ(got, c.wire) << c.options;
  }
}

TEST(ToolText, WrongOptionsAreUsageErrors) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("up.txt"), "x\n"));
  const std::vector<std::vector<std::string>> cases = {
      {"send", "--protocol", "text", "--kinsoku", "2", dir.File("up.txt")},
      {"send", "--protocol", "text", "--width", "-3", dir.File("up.txt")},
      {"send", "--protocol", "text", "--pace", ">", "--fast", dir.File("up.txt")},
      {"send", "--protocol", "text", "--pace", "0x100", dir.File("up.txt")},
      {"send", "--protocol", "zmodem", "--margin", "2", dir.File("up.txt")},
      {"receive", "--protocol", "zmodem", "--fast"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    const FullProcessResult r = RunProcessWithin(argv, "", kLimitMs);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(r.status, 64) << line << ": " << r.err;
    EXPECT_NE(r.err.find("quillnet-tool: "), std::string::npos) << r.err;
  }
}

}  // namespace
