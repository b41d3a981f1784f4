// quillnet-tool script check and list: the real binary on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

class ScriptTool : public ::testing::Test {
 protected:
  TempDir dir;
  FullProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    args.push_back("--config-dir");
    args.push_back(dir.File("config"));
    args.push_back("--data-dir");
    args.push_back(dir.File("data"));
    return RunProcessWithin(args, "", 30000);
  }
};

TEST_F(ScriptTool, CheckReportsErrorsAndWarnings) {
  ASSERT_TRUE(WriteWholeFile(dir.File("bad.hsc"), "send 1\nsend \"\x8a\xbf\"\nfoo \"\x8a\xbf\"\n"));
  ASSERT_TRUE(WriteWholeFile(dir.File("warn.hsc"), "a:\na:\nbeginloop\nendwhile\nwhile (1)\n"));
  ASSERT_TRUE(WriteWholeFile(dir.File("good.hsc"), "send \"x\"\n"));
  const std::string bad = dir.File("bad.hsc"), warn = dir.File("warn.hsc");
  FullProcessResult r = Run({"script", "check", bad});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, bad + ":3: 文法エラーです。 [FOO \"漢\"]\n");
  r = Run({"script", "check", warn});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, warn + ":2: warning: gotoまたはcallの行き先ラベルが複数存在します。 [A]\n" + warn +
                       ":4: warning: whileとendwhileの対応が合いません。 [ENDWHILE]\n" + warn +
                       ":5: warning: ループが閉じられていません。 [WHILE (1)]\n");
  r = Run({"script", "check", dir.File("good.hsc")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Run({"script", "check", dir.File("missing.hsc")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("スクリプトファイルの読み込みに失敗しました。"), std::string::npos) << r.err;
}

TEST_F(ScriptTool, UsageErrors) {
  for (std::vector<std::string> args : {std::vector<std::string>{"script"}, {"script", "check"},
                                        {"script", "run", "x.hsc"}, {"script", "list", "a", "b"}}) {
    FullProcessResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(Run({"script", "--help"}).status, 0);
}

TEST_F(ScriptTool, ListFindsTheFileAsCallDoes) {
  // Through the script folder, without regard to case, .scr trying .hsc.
  const std::string scripts = dir.File("scripts");
  ASSERT_EQ(RunProcess({"mkdir", "-p", scripts}, "").status, 0);
  ASSERT_TRUE(WriteWholeFile(scripts + "/LogIn.HSC", "start:\nsend \"a^M\"\n"));
  ASSERT_EQ(Run({"config", "set", "ScriptPath", scripts}).status, 0);
  FullProcessResult r = Run({"script", "list", "login.scr"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "000000 127 LABEL \"START\"\n"
            "000007 131 LINENO 2\n"
            "00000a 002 SEND\n"
            "00000b 166 STRING 000000 \"a^M\"\n"
            "000010 131 LINENO 3\n"
            "000013 131 LINENO 3\n"
            "label 000007 \"START\"\n"
            "const 000000 \"a^M\"\n");
}

}  // namespace
