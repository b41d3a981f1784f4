// The command lines of quillnet, quillnet-tool and quillnet-demohost as a
// Linux user meets them: the real binaries, temporary directories, the exit
// status and the first line of what each run says.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kProgram = QUILLNET_PATH;
const std::string kTool = QUILLNET_TOOL_PATH;
const std::string kDemo = QUILLNET_DEMOHOST_PATH;
constexpr int kRunLimitMs = 30000;

std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

size_t Lines(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

class CommandLine : public ::testing::Test {
 protected:
  // Qt warns on its first line when there is no runtime directory; the
  // programs get one of their own so that what they say comes first.
  void SetUp() override {
    ASSERT_EQ(mkdir(dir.File("run").c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", dir.File("run").c_str(), 1);
  }
  // Runs argv with "{cfg}", "{data}" and "{dir}" in its words replaced.
  FullProcessResult Run(std::vector<std::string> argv) {
    for (std::string& a : argv)
      for (const auto& [key, value] : {std::pair<std::string, std::string>{"{cfg}", cfg}, {"{data}", data},
                                       {"{dir}", dir.Path()}})
        for (size_t at; (at = a.find(key)) != std::string::npos;) a.replace(at, key.size(), value);
    return RunProcessWithin(argv, "", kRunLimitMs);
  }

  TempDir dir;
  std::string cfg = dir.File("config"), data = dir.File("data");
};

// Each rule: the status, the stream, the first line (a prefix of it) and,
// for complaints, that they stay short.
TEST_F(CommandLine, ToolRules) {
  ASSERT_EQ(Run({kTool, "stock", "create", "{dir}/old.stk"}).status, 0);
  ASSERT_EQ(Run({kTool, "--config-dir", "{cfg}", "hosts", "telnet", "A", "127.0.0.1:2323"}).status, 0);
  ASSERT_EQ(Run({kTool, "hosts", "backup", "{dir}/hosts.lst", "--config-dir", "{cfg}"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    bool toStdout;
    std::string first;  // the first line starts with this
  } cases[] = {
      // Global options before or after the command's name.
      {{"--config-dir", "{cfg}", "hosts", "list"}, 0, true, "A\ttelnet\t127.0.0.1:2323\tmenu"},
      {{"hosts", "list", "--config-dir", "{cfg}"}, 0, true, "A\ttelnet\t127.0.0.1:2323\tmenu"},
      {{"--config-dir={cfg}", "--data-dir", "{data}", "hosts", "list"}, 0, true, "A\ttelnet"},
      {{"--config-dir"}, 2, false, "quillnet-tool: --config-dir needs a directory"},
      // COMMAND --help: that command's usage, status 0.
      {{"stock", "--help"}, 0, true, "usage: quillnet-tool stock create FILE"},
      {{"stock", "export", "-h"}, 0, true, "usage: quillnet-tool stock create FILE"},
      {{"feed", "--help"}, 0, true, "usage: quillnet-tool feed STOCK"},
      {{"hosts", "--help"}, 0, true, "usage: quillnet-tool [--config-dir DIR] hosts list"},
      {{"config", "--help"}, 0, true, "usage: quillnet-tool [--config-dir DIR] config get NAME"},
      {{"decode", "--help"}, 0, true, "usage: quillnet-tool decode [options]"},
      {{"--help"}, 0, true, "usage: quillnet-tool [--config-dir DIR]"},
      {{"-h"}, 0, true, "usage: quillnet-tool [--config-dir DIR]"},
      // COMMAND alone: its usage on standard error, status 2.
      {{"stock"}, 2, false, "usage: quillnet-tool stock create FILE"},
      {{"feed"}, 2, false, "usage: quillnet-tool feed STOCK"},
      {{"hosts"}, 2, false, "usage: quillnet-tool [--config-dir DIR] hosts list"},
      {{"config"}, 2, false, "usage: quillnet-tool [--config-dir DIR] config get NAME"},
      {{}, 2, false, "usage: quillnet-tool [--config-dir DIR]"},
      // Unknown names name themselves.
      {{"stock", "frob"}, 2, false, "quillnet-tool: unknown stock command: frob"},
      {{"hosts", "frob", "--config-dir", "{cfg}"}, 2, false, "quillnet-tool: unknown hosts command: frob"},
      {{"config", "frob"}, 2, false, "quillnet-tool: unknown config command: frob"},
      {{"frobnicate"}, 2, false, "quillnet-tool: unknown command: frobnicate"},
      {{"decode", "--bogus"}, 2, false, "quillnet-tool: unknown option --bogus"},
      {{"feed", "{dir}/f.stk", "--bogus"}, 2, false, "quillnet-tool: unexpected argument --bogus"},
      // Files the user did not ask to replace.
      {{"stock", "create", "{dir}/old.stk"}, 2, false,
       "quillnet-tool: " + dir.File("old.stk") + " already exists; use --force to replace it"},
      {{"hosts", "backup", "{dir}/hosts.lst", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: " + dir.File("hosts.lst") + " already exists; use --force to replace it"},
      // Values a setting cannot hold; nothing is written.
      {{"config", "set", "LineBuffer", "-5", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: LineBuffer takes a number from 1000 to 10000000, not \"-5\""},
      {{"config", "set", "LineBuffer", "many", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: LineBuffer takes a number from 1000 to 10000000, not \"many\""},
      {{"config", "set", "PortNo", "9", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: PortNo takes a number from 0 to 8, not \"9\""},
      // A backup that is not there.
      {{"hosts", "restore", "{dir}/missing.lst", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: cannot open " + dir.File("missing.lst") + ": No such file or directory"},
      {{"hosts", "restore", "{dir}", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: cannot open " + dir.Path() + ": Is a directory"},
      // A port that is neither a number in range nor a service.
      {{"hosts", "telnet", "B", "127.0.0.1", "99999", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: the port 99999 is neither a number from 1 to 65535 nor a known TCP service"},
      {{"hosts", "telnet", "B", "127.0.0.1", "no-such-service", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: the port no-such-service is neither"},
      {{"hosts", "telnet", "B", "127.0.0.1:0", "--config-dir", "{cfg}"}, 2, false,
       "quillnet-tool: cannot use the address 127.0.0.1:0"},
  };
  const std::string regBefore = ReadWholeFile(cfg + "/registry.reg");
  for (const Case& c : cases) {
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    FullProcessResult r = Run(argv);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string& said = c.toStdout ? r.out : r.err;
    EXPECT_EQ(FirstLine(said).rfind(c.first, 0), 0u) << said;
    if (c.status != 0 && c.first.rfind("quillnet-tool:", 0) == 0) {
      EXPECT_LE(Lines(r.err), 2u) << r.err;
    }
  }
  // None of the refusals changed the settings.
  EXPECT_EQ(ReadWholeFile(cfg + "/registry.reg"), regBefore);
  EXPECT_EQ(Run({kTool, "config", "get", "LineBuffer", "--config-dir", "{cfg}"}).out, "10000\n");
  // --force replaces.
  EXPECT_EQ(Run({kTool, "stock", "create", "{dir}/old.stk", "--force", "--columns", "40"}).status, 0);
  EXPECT_NE(Run({kTool, "stock", "info", "{dir}/old.stk"}).out.find("cColumn: 40"), std::string::npos);
  EXPECT_EQ(Run({kTool, "hosts", "backup", "{dir}/hosts.lst", "--force", "--config-dir", "{cfg}"}).status, 0);
  // The shared code's messages speak in the tool's voice.
  ASSERT_TRUE(WriteWholeFile(dir.File("bad.lst"), "not a backup\r\n"));
  FullProcessResult bad = Run({kTool, "hosts", "restore", "{dir}/bad.lst", "--config-dir", "{cfg}"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(FirstLine(bad.err).rfind("quillnet-tool: ホスト一覧の復元に失敗しました。", 0), 0u) << bad.err;
}

TEST_F(CommandLine, ProgramAndDemoHostRules) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool toStdout;
    std::string first;
  } cases[] = {
      {{kProgram, "-h"}, 0, true, "usage: quillnet [options]"},
      {{kProgram, "--help"}, 0, true, "usage: quillnet [options]"},
      {{kProgram, "--version"}, 0, true, "quillnet "},
      {{kDemo, "--help"}, 0, true, "usage: quillnet-demohost"},
      {{kDemo, "-h"}, 0, true, "usage: quillnet-demohost"},
      {{kDemo, "--bogus"}, 2, false, "usage: quillnet-demohost"},
      // Long options after the host name still count: this run is headless
      // (a windowed one would wait for its window) and uses the directories.
      {{kProgram, "NOSUCHHOST", "--headless", "--config-dir", "{cfg}", "--data-dir={data}"}, 1, false,
       "quillnet: [Quillnet] NOSUCHHOST はホストとして登録されていません。"},
      {{kProgram, "--headless", "--config-dir", "{cfg}", "--data-dir", "{data}", "H", "--bogus"}, 2, false,
       "quillnet: unknown option --bogus"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    FullProcessResult r = Run(c.args);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status) << r.err;
    const std::string& said = c.toStdout ? r.out : r.err;
    EXPECT_EQ(FirstLine(said).rfind(c.first, 0), 0u) << said;
  }
  FullProcessResult v = Run({kProgram, "--version"});
  EXPECT_EQ(v.out.substr(v.out.find('\n') + 1), "License: MIT\n");
  // --create-ini says where it wrote the file.
  FullProcessResult ini = Run({kProgram, "--create-ini", "--config-dir", "{cfg}", "--data-dir", "{data}"});
  EXPECT_EQ(ini.status, 0) << ini.err;
  const std::string path = FirstLine(ini.out);
  EXPECT_EQ(path.size() > 12 ? path.substr(path.size() - 12) : path, "Quillnet.ini") << ini.out;
  EXPECT_TRUE(Exists(path)) << path;
}

// quillnet telnet://HOST:PORT calls the address without a stored host, as
// the desktop's URL handler starts it.
TEST_F(CommandLine, TelnetUrlIsAnAdHocCall) {
  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({kDemo, "--port", std::to_string(port), "--auto-login", "--tour", "G\\r"}, port, &error))
      << error;
  for (const std::string& url : {"telnet://127.0.0.1:" + std::to_string(port), "telnet://127.0.0.1:" + std::to_string(port) + "/"}) {
    SCOPED_TRACE(url);
    FullProcessResult r = Run({kProgram, url, "--headless", "--config-dir", "{cfg}", "--data-dir", "{data}"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ＱＵＩＬＬＮＥＴ　デモＢＢＳ"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ご利用ありがとうございました。"), std::string::npos) << r.out;
  }
  // Nothing was registered.
  EXPECT_EQ(Run({kTool, "hosts", "list", "--config-dir", "{cfg}"}).out, "");
}

}  // namespace
