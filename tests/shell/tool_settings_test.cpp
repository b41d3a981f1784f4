// quillnet-tool hosts and config, and two running instances sharing one
// settings file.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "shell/hostprop.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

class Tool : public SettingsTest {
 protected:
  std::string cfg = dir.File("config");
  ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    args.push_back("--config-dir");
    args.push_back(cfg);
    return RunProcess(args, "");
  }
};

TEST_F(Tool, ConfigGetAndSet) {
  struct Case {
    const char *name, *value, *shown;
  } cases[] = {
      {"LineBuffer", "20000", "20000"},
      {"LineBuffer", "0x7d0", "2000"},
      {"Quote", "＞ ", "＞ "},
      {"ComDevice1", "/dev/pts/7", "/dev/pts/7"},
      {"Search1 ", "検索語", "検索語"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run({"config", "set", c.name, c.value}).status, 0) << c.name;
    ProcessResult got = Run({"config", "get", c.name});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, std::string(c.shown) + "\n") << c.name;
  }
  EXPECT_EQ(Run({"config", "get", "DialPrefix"}).out, "0,\n");
  EXPECT_EQ(Run({"config", "get", "NoSuchValue"}).status, 2);
  EXPECT_EQ(Run({"config", "set", "LineBuffer", "lots"}).status, 2);
  EXPECT_EQ(Run({"config", "set", "LineBuffer", "999"}).status, 2);  // below the range
  EXPECT_EQ(Run({"config", "set", "Quote"}).status, 2);
  EXPECT_EQ(RunProcess({kTool, "config", "get", "Quote", "--config-dir"}, "").status, 2);
  // The values went to the directory given, as UTF-8 text.
  const std::string reg = ReadWholeFile(cfg + "/registry.reg");
  EXPECT_NE(reg.find("\"LineBuffer\"=dword:000007d0"), std::string::npos);
  EXPECT_NE(reg.find("\"Quote\"=\"＞ \""), std::string::npos);
}

TEST_F(Tool, HostsBackupRestoreAndList) {
  // A list made in this process, backed up and restored by the tool.
  HOSTPROPERTY p;
  std::strcpy(p.szName, Sjis("草の根").c_str());
  p.ModemType = MODEM_TELNET;
  std::strcpy(p.DialNo, "bbs.example.jp");
  std::strcpy(p.PortName, "2323");
  ASSERT_TRUE(p.SaveRegistry());
  ASSERT_TRUE(HOSTINI::AppendHost(p.szName, 1));
  p.SetDefault();
  std::strcpy(p.szName, "Line");
  p.ModemType = MODEM_DIRECT;
  p.PortNo = 1;
  ASSERT_TRUE(p.SaveRegistry());
  ASSERT_TRUE(HOSTINI::AppendHost("Line", 0));

  ProcessResult list = Run({"hosts", "list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "草の根\ttelnet\tbbs.example.jp:2323\tmenu\nLine\tserial\tport 2\t-\n");
  ASSERT_EQ(Run({"hosts", "backup", dir.File("hosts.lst")}).status, 0);
  const std::string backup = ReadWholeFile(dir.File("hosts.lst"));
  EXPECT_EQ(backup.rfind("Quillnet host list backup version 1\r\nHost name=" + Sjis("草の根") + "\r\nHostInMenu=1\r\n", 0),
            0u);
  ASSERT_TRUE(HOSTINI::DeleteAllHost());
  EXPECT_EQ(Run({"hosts", "list"}).out, "");
  ASSERT_EQ(Run({"hosts", "restore", dir.File("hosts.lst")}).status, 0);
  EXPECT_EQ(Run({"hosts", "list"}).out, list.out);
  // A refused file and a file that cannot be written.
  ASSERT_TRUE(WriteWholeFile(dir.File("bad.lst"), "not a backup\r\n"));
  EXPECT_EQ(Run({"hosts", "restore", dir.File("bad.lst")}).status, 1);
  EXPECT_EQ(Run({"hosts", "backup", dir.File("no/such/dir/x.lst")}).status, 1);
  EXPECT_EQ(Run({"hosts", "list"}).out, list.out);
  EXPECT_EQ(Run({"hosts"}).status, 2);
}

// Two instances of the tool run again and again at the same time, each
// changing its own value; neither change is ever lost.
TEST_F(Tool, HostsTelnetAddsOrUpdatesAHost) {
  ASSERT_EQ(Run({"hosts", "telnet", "デモ BBS", "127.0.0.1", "2323"}).status, 0);
  ASSERT_EQ(Run({"hosts", "telnet", "デモ BBS", "localhost", "4000"}).status, 0);  // same host, new place
  ASSERT_EQ(Run({"hosts", "telnet", "other", "::1", "--log", "other.log"}).status, 0);
  EXPECT_EQ(Run({"hosts", "list"}).out,
            "デモ BBS\ttelnet\tlocalhost:4000\tmenu\n"
            "other\ttelnet\t[::1]:telnet\tmenu\n");
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry(Sjis("デモ BBS").c_str()));
  EXPECT_STREQ(p.DialNo, "localhost");
  EXPECT_EQ(p.ModemType, MODEM_TELNET);
  EXPECT_EQ(p.LogType, 0);
  ASSERT_TRUE(p.GetRegistry("other"));
  EXPECT_EQ(p.LogType, 1);
  EXPECT_STREQ(p.LogName, "other.log");
  // Names the list cannot hold are refused.
  EXPECT_EQ(Run({"hosts", "telnet", "(telnet接続)", "h"}).status, 2);
  EXPECT_EQ(Run({"hosts", "telnet", "a\\b", "h"}).status, 2);
  EXPECT_EQ(Run({"hosts", "telnet", "x", std::string(60, 'h')}).status, 2);
}

TEST_F(Tool, TwoToolsSettingDifferentValuesAtOnce) {
  const int kRounds = 25;
  const char* names[2] = {"TreeDay", "BoardDay"};
  pid_t pids[2];
  for (int k = 0; k < 2; ++k) {
    pids[k] = fork();
    ASSERT_GE(pids[k], 0);
    if (pids[k] == 0) {
      for (int n = 1; n <= kRounds; ++n)
        if (Run({"config", "set", names[k], std::to_string(n)}).status != 0) _exit(1);
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int st;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  for (const char* name : names) EXPECT_EQ(Run({"config", "get", name}).out, std::to_string(kRounds) + "\n");
}

// Two long-running instances: each loaded the settings once, and saves its
// own changes many times while the other keeps saving too.
TEST_F(Tool, TwoRunningInstancesKeepEachOthersChanges) {
  const int kRounds = 60;
  pid_t pids[2];
  for (int k = 0; k < 2; ++k) {
    pids[k] = fork();
    ASSERT_GE(pids[k], 0);
    if (pids[k] == 0) {
      config.LoadRegistry();
      for (int n = 1; n <= kRounds; ++n) {
        (k == 0 ? config.TreeDay : config.BoardDay) = n;
        std::snprintf(config.aszSearch[k], sizeof config.aszSearch[k], "p%d-%d", k, n);
        if (!config.SaveRegistry()) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int st;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  REGISTRY::ResetForTest();
  config.LoadRegistry();
  EXPECT_EQ(config.TreeDay, kRounds);
  EXPECT_EQ(config.BoardDay, kRounds);
  EXPECT_STREQ(config.aszSearch[0], ("p0-" + std::to_string(kRounds)).c_str());
  EXPECT_STREQ(config.aszSearch[1], ("p1-" + std::to_string(kRounds)).c_str());
}

}  // namespace
