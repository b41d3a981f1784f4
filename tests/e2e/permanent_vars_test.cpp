// Permanent variables across whole runs of the program: kept by a run that is
// killed, merged when runs and the tool change the file at the same time, and
// listed and changed by quillnet-tool vars.
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/headless_fixture.h"
#include "script/varfile.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

class PermanentVars : public HeadlessDirs {
 protected:
  std::string VarFile() const { return data + "/Variable.txt"; }
  std::string Script(const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, text));
    return path;
  }
  QStringList Args(const std::string& script) const {
    return {"--headless", "--config-dir", QString::fromStdString(cfg), "--data-dir", QString::fromStdString(data),
            "/s", QString::fromStdString(script)};
  }
  // The file's variables, by stored name.
  std::map<std::string, std::string> Vars() const {
    std::vector<std::pair<std::string, std::string>> v;
    varfile::Load(VarFile(), v);
    return {v.begin(), v.end()};
  }
  // Polls the file until it holds name=value (or 20 s pass).
  bool WaitFor(const std::string& name, const std::string& value) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      auto v = Vars();
      if (v.count(name) && v[name] == value) return true;
      std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a poll interval, not a wait for the result
    }
    return false;
  }
  FullProcessResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUILLNET_TOOL_PATH, "--data-dir", data};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcessWithin(argv, "", 10000);
  }
};

TEST_F(PermanentVars, ARunKilledAfterAnAssignmentKeepsIt) {
  const std::string script = Script("keep.hsc", "%KEPT = \"yes\"\n%%PASS = \"secret\"\nsleep 600\n");
  QProcess run;
  run.start(QUILLNET_PATH, Args(script));
  ASSERT_TRUE(run.waitForStarted(10000));
  // Written within a second of the change, long before the script ends.
  EXPECT_TRUE(WaitFor("KEPT", "yes"));
  EXPECT_TRUE(WaitFor("%PASS", "secret"));
  run.kill();
  ASSERT_TRUE(run.waitForFinished(10000));
  EXPECT_EQ(Vars()["KEPT"], "yes");
  EXPECT_EQ(ReadWholeFile(VarFile()).find("secret"), std::string::npos);
}

TEST_F(PermanentVars, TwoRunsAndTheToolKeepEveryChange) {
  // Run A makes %A, then waits for the file "go" and makes %A2 as it ends.
  const std::string go = dir.File("go");
  const std::string a = Script("a.hsc",
                               "%A = \"from a\"\n"
                               "%SHARED = \"a\"\n"
                               "while (existfile(\"" + go + "\") == 0)\n"
                               "millisleep 20\n"
                               "endwhile\n"
                               "%A2 = \"also a\"\n");
  const std::string b = Script("b.hsc", "%B = \"from b\"\n");
  QProcess runA;
  runA.start(QUILLNET_PATH, Args(a));
  ASSERT_TRUE(runA.waitForStarted(10000));
  ASSERT_TRUE(WaitFor("A", "from a"));
  // While A runs: the tool and a whole second run change the file.
  EXPECT_EQ(Tool({"vars", "set", "tool", "from the tool^M"}).status, 0);
  std::vector<std::string> argvB = {QUILLNET_PATH, "--headless", "--config-dir", cfg, "--data-dir", data, "/s", b};
  FullProcessResult rb = RunProcessWithin(argvB, "", 30000);
  EXPECT_EQ(rb.status, 0) << rb.err;
  EXPECT_EQ(Tool({"vars", "set", "SHARED", "tool"}).status, 0);
  ASSERT_TRUE(WriteWholeFile(go, ""));
  ASSERT_TRUE(runA.waitForFinished(30000));
  EXPECT_EQ(runA.exitCode(), 0) << runA.readAllStandardError().toStdString();
  const std::map<std::string, std::string> want = {
      {"A", "from a"}, {"A2", "also a"}, {"B", "from b"}, {"TOOL", "from the tool\r"}, {"SHARED", "tool"}};
  EXPECT_EQ(Vars(), want);
}

TEST_F(PermanentVars, TheToolListsSetsAndDeletes) {
  ASSERT_EQ(Tool({"vars", "set", "%user", "ゲスト"}).status, 0);
  ASSERT_EQ(Tool({"vars", "set", "%%pass", "pw^M"}).status, 0);
  FullProcessResult r = Tool({"vars", "list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "%USER=ゲスト\n%%PASS=???\n");
  r = Tool({"vars", "list", "--secrets"});
  EXPECT_EQ(r.out, "%USER=ゲスト\n%%PASS=pw^M\n");
  EXPECT_EQ(Tool({"vars", "delete", "user"}).status, 0);
  EXPECT_EQ(Tool({"vars", "delete", "user"}).status, 1);  // gone
  r = Tool({"vars", "list"});
  EXPECT_EQ(r.out, "%%PASS=???\n");
  struct {
    std::vector<std::string> args;
    int status;
  } bad[] = {
      {{"vars", "set", "%#N", "1"}, 2},  // numbers are never kept
      {{"vars", "set", "X"}, 2},
      {{"vars", "set", std::string(40, 'N'), "1"}, 2},
      {{"vars", "frob"}, 2},
      {{"vars", "list", "--all"}, 2},
  };
  for (const auto& c : bad) EXPECT_EQ(Tool(c.args).status, c.status) << c.args[1];
}

}  // namespace
