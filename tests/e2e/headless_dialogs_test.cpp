// The statements that ask the user, in whole headless runs: nobody is there,
// so QUESTION answers Yes, INPUT, menus and INPUTFILENAME are cancelled, a
// timed box ends at once, ERROR ends the run with status 3 and CLOSEQUILLNET
// with 0; the settings and program statements work as in a window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/headless_fixture.h"
#include "platform/jcode.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class HeadlessDialogs : public HeadlessDirs {
 protected:
  FullProcessResult Run(const std::string& utf8Script) {
    const std::string path = dir.File("s.hsc");
    EXPECT_TRUE(WriteWholeFile(path, jcode::Utf8ToSjis(utf8Script)));
    return RunProcessWithin({QUILLNET_PATH, "--headless", "--config-dir", cfg, "--data-dir", data, "/s", path}, "",
                            60000);
  }
};

TEST_F(HeadlessDialogs, NobodyAnswersAndTheRunGoesOn) {
  // A timed box of ten minutes: a run that waited for it would time out here.
  const FullProcessResult r = Run(
      "debuginfo on\nquestion \"続けますか\"\ndebuginfo \"q\" + result\ninput \"名前\", @v\ndebuginfo \"i\" + result\n"
      "menu \"a\", \"b\"\nshowmenu\ndebuginfo \"m\" + result\ninputfilename \"開く\", @f\ndebuginfo \"f\" + result\n"
      "timeoutquestion \"待つ\", 600\ndebuginfo \"t\" + result\nputini \"h.ini\", \"s\", \"k\", \"値\"\n"
      "getini \"h.ini\", \"s\", \"k\", @g\ndebuginfo \"g\" + @g\nrunsync2 \"touch made\"\n"
      "ddewaitadvice 10\ndebuginfo \"d\" + result\ncloseQuillnet\ndebuginfo \"not reached\"\n");
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* line : {"q1\n", "i-1\n", "m-1\n", "f-1\n", "t1\n", "g値\n", "d-1\n"})
    EXPECT_TRUE(Has(r.err, line)) << line << "\n" << r.err;
  EXPECT_FALSE(Has(r.err, "not reached")) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("made")));  // started in the script's directory
  std::ifstream ini(cfg + "/h.ini", std::ios::binary);
  std::stringstream s;
  s << ini.rdbuf();
  EXPECT_EQ(s.str(), "[s]\r\nk=" + jcode::Utf8ToSjis("値") + "\r\n");
}

TEST_F(HeadlessDialogs, ErrorEndsTheRunWithStatus3) {
  const FullProcessResult r = Run("debuginfo on\n\nerror \"回線がありません\"\ndebuginfo \"not reached\"\n");
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(Has(r.err, "s.hsc:3: 回線がありません [ERROR]\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "not reached")) << r.err;
}

}  // namespace
