// A settings store of its own for each test: the configuration and data
// directories point into a temporary directory, every static of the store
// starts over, and message boxes are recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/registry.h"
#include "support/process.h"
#include "support/temp_dir.h"

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REGISTRY::ResetForTest();
    HOSTINI::ResetForTest();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    CONFIG::pfnScreenWidth = nullptr;
    config.SetDefault();
    configBackup = config;
  }
  void TearDown() override {
    REGISTRY::ResetForTest();
    HOSTINI::ResetForTest();
    ResetDirsForTest();
    CONFIG::pfnScreenWidth = nullptr;
    config.SetDefault();
    configBackup = config;
  }
  std::string RegPath() const { return dir.File("config") + "/registry.reg"; }
  // Writes the settings file with a header and the given section text.
  void WriteReg(const std::string& body) {
    ASSERT_TRUE(MakeDirs(dir.File("config")));
    ASSERT_TRUE(WriteWholeFile(RegPath(), "Windows Registry Editor Version 5.00\n\n" + body));
  }
  static std::string Sjis(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

  TempDir dir;
  ui::ScopedRecordingFacade boxes;
};
