// The fixture of the whole-program tests: a temporary directory holding the
// run's settings ("config") and data ("data"), with the settings store and
// the host list starting empty and the directories put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/registry.h"
#include "support/process.h"
#include "support/temp_dir.h"

class HeadlessDirs : public ::testing::Test {
 protected:
  void SetUp() override {
    REGISTRY::ResetForTest();
    HOSTINI::ResetForTest();
    SetConfigDir(cfg);
    SetDataDir(data);
  }
  void TearDown() override {
    REGISTRY::ResetForTest();
    HOSTINI::ResetForTest();
    ResetDirsForTest();
  }
  // Stores a host in the test's settings, as the host dialog would.
  void StoreHost(const HOSTPROPERTY& p) {
    ASSERT_TRUE(p.SaveRegistry());
    ASSERT_TRUE(HOSTINI::AppendHost(p.szName, 1));
  }
  // A telnet host for 127.0.0.1:port with the defaults, named in UTF-8.
  static HOSTPROPERTY TelnetHost(const std::string& utf8Name, int port) {
    HOSTPROPERTY p;
    p.SetDefault();
    std::snprintf(p.szName, sizeof p.szName, "%s", jcode::Utf8ToSjis(utf8Name).c_str());
    p.ModemType = MODEM_TELNET;
    std::strcpy(p.DialNo, "127.0.0.1");
    std::snprintf(p.PortName, sizeof p.PortName, "%d", port);
    return p;
  }
  // The program itself, headless, with the test's directories.
  FullProcessResult Quillnet(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUILLNET_PATH, "--headless", "--config-dir", cfg, "--data-dir", data};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcessWithin(argv, "", kQuillnetLimitMs);
  }
  static constexpr int kQuillnetLimitMs = 30000;

  TempDir dir;
  std::string cfg = dir.File("config"), data = dir.File("data");
};
