// Scripts in whole headless runs of the program: a host's log-in script
// (set with quillnet-tool hosts telnet --script) driving the demo host, and
// "/s" runs with their exit statuses, error lines and DEBUGINFO output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/headless_fixture.h"
#include "platform/jcode.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kProgram = QUILLNET_PATH;
const std::string kTool = QUILLNET_TOOL_PATH;
const std::string kDemo = QUILLNET_DEMOHOST_PATH;
constexpr int kRunLimitMs = 30000;

class HeadlessScript : public HeadlessDirs {
 protected:
  std::vector<std::string> Argv(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kProgram, "--headless", "--config-dir", cfg, "--data-dir", data};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  FullProcessResult Quillnet(const std::vector<std::string>& args, int limitMs = kRunLimitMs) {
    return RunProcessWithin(Argv(args), "", limitMs);
  }
  // A script file written in Shift_JIS from UTF-8 text.
  std::string Script(const std::string& name, const std::string& utf8) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, jcode::Utf8ToSjis(utf8)));
    return path;
  }
  int Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kTool, "--config-dir", cfg};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, "").status;
  }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(HeadlessScript, AHostsLogInScriptDrivesTheDemoHost) {
  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({kDemo, "--port", std::to_string(port)}, port, &error)) << error;
  // ID, password, then the menu in a LOOPSWITCH: W the first time, G the
  // second; the farewell ends the loop.
  const std::string script = Script("login.hsc",
                                    "; log in to the demo host\n"
                                    "debuginfo on\n"
                                    "timeout 20\n"
                                    "wait \"ID: \"\n"
                                    "send \"guest^M\"\n"
                                    "wait \"パスワード: \"\n"
                                    "send \"secret^M\"\n"
                                    "##n = 0\n"
                                    "loopswitch\n"
                                    "case \"(B,W,G,?) > \"\n"
                                    "  ##n = ##n + 1\n"
                                    "  if (##n == 1) send \"W^M\"\n"
                                    "  else send \"G^M\"\n"
                                    "case \"ご利用ありがとう\"\n"
                                    "  debuginfo \"さようなら after \" + ##n\n"
                                    "  breakloop\n"
                                    "case timeout\n"
                                    "  debuginfo \"timed out\"\n"
                                    "  breakloop\n"
                                    "endloop\n");
  ASSERT_EQ(Tool({"hosts", "telnet", "デモ", "127.0.0.1", std::to_string(port), "--script", script}), 0);
  // The tool refuses --script without a name.
  EXPECT_EQ(Tool({"hosts", "telnet", "デモ", "127.0.0.1", "--script"}), 2);

  FullProcessResult r = Quillnet({"デモ"});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  // The transcript: the log-in the script typed, the "who" page it asked
  // for, and the farewell after G.
  for (const char* shown : {"ID: guest", "パスワードを確認しました。", "ようこそ GUEST さん。", "現在のアクセス者",
                            "ご利用ありがとうございました。"})
    EXPECT_TRUE(Has(r.out, shown)) << shown << "\n" << r.out;
  EXPECT_TRUE(Has(r.err, "さようなら after 2\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "timed out")) << r.err;
}

TEST_F(HeadlessScript, StartupScriptExitStatusesAndReports) {
  struct Case {
    const char* what;
    std::string text;
    int status;
    std::vector<std::string> err;  // lines expected on standard error
  } cases[] = {
      {"EXIT", "debuginfo on\ndebuginfo \"漢字 \" + 12\nexit\ndebuginfo \"not reached\"\n", 0, {"漢字 12\n"}},
      {"RETURN at the top", "millisleep 200\nreturn 5\n", 0, {}},
      {"the end of the code", "##a = 1\nsleep 0\n##a = 2\n", 0, {}},
      {"SWITCH time-out", "debuginfo on\nmillitimeout 300\nswitch\ncase \"x\"\ncase timeout\ndebuginfo \"t\" + result\n"
                          "endswitch\n", 0, {"t-1\n"}},
      {"runtime error", "send 1\ngoto nowhere\n", 3, {":2: gotoまたはcallでの行き先が見つかりません。 [GOTO]\n"}},
      {"parameter error", "\n\ntimeout -1\n", 3, {":3: TIMEOUTのパラメタがおかしいです。 [TIMEOUT]\n"}},
      {"a compile error does not start", "beginloop\nendloop\nendloop\n", 1, {":3: "}},
      {"an empty script does not start", "; nothing\n", 1, {"そのスクリプトファイルには内容がありません。"}},
  };
  for (const Case& c : cases) {
    const std::string path = Script("s.hsc", c.text);
    FullProcessResult r = Quillnet({"/s", path});
    ASSERT_FALSE(r.timedOut) << c.what << "\n" << r.err;
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
    for (const std::string& e : c.err) EXPECT_TRUE(Has(r.err, e)) << c.what << ": " << e << "\n" << r.err;
    if (c.status == 3) {
      EXPECT_TRUE(Has(r.err, path + ":")) << c.what << "\n" << r.err;
    }
    EXPECT_FALSE(Has(r.err, "not reached")) << c.what;
  }
  // A script that is not there does not start either.
  FullProcessResult r = Quillnet({"/s", dir.File("none.hsc")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "スクリプトファイルの読み込みに失敗しました。")) << r.err;
}

TEST_F(HeadlessScript, ARelativeNameIsLookedForInTheStartDirectoryThenScriptPath) {
  TempDir start, scripts;
  ASSERT_TRUE(WriteWholeFile(start.File("here.hsc"), "debuginfo on\ndebuginfo \"from the start directory\"\n"));
  ASSERT_TRUE(WriteWholeFile(scripts.File("there.hsc"), "debuginfo on\ndebuginfo \"from ScriptPath\"\n"));
  ASSERT_TRUE(WriteWholeFile(scripts.File("here.hsc"), "debuginfo on\ndebuginfo \"wrong one\"\n"));
  ASSERT_EQ(Tool({"config", "set", "ScriptPath", scripts.Path()}), 0);
  struct Case {
    const char* name;
    const char* shown;
  } cases[] = {{"here.hsc", "from the start directory"}, {"there.hsc", "from ScriptPath"}, {"THERE.SCR", "from ScriptPath"}};
  for (const Case& c : cases) {
    std::string line = "cd '" + start.Path() + "' && exec";
    for (const std::string& a : Argv({"/s", c.name})) line += " '" + a + "'";
    FullProcessResult r = RunProcessWithin({"/bin/sh", "-c", line}, "", kRunLimitMs);
    ASSERT_FALSE(r.timedOut) << c.name;
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, std::string(c.shown) + "\n")) << c.name << "\n" << r.err;
  }
}

TEST_F(HeadlessScript, TheWatchdogEndsALoopThatNeverWaitsWithStatus3) {
  // The question takes its default, Yes: the script stops with the error.
  const std::string path = Script("loop.hsc", "beginloop\n##i = ##i + 1\nendloop\n");
  FullProcessResult r = Quillnet({"/s", path}, 90000);
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(Has(r.err, "スクリプトの処理が30秒以上ループしました。エラーとしますか？")) << r.err;
  // Whichever line of the loop ran when the time was up.
  EXPECT_TRUE(Has(r.err, path + ":")) << r.err;
  EXPECT_TRUE(Has(r.err, ": スクリプトの処理が30秒以上ループしたので処理を中止します。")) << r.err;
}

}  // namespace
