// The fixture of the whole-program tests: a temporary directory holding the
// run's settings ("config") and data ("data"), with the settings store and
// the host list starting empty and the directories put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/registry.h"
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

  TempDir dir;
  std::string cfg = dir.File("config"), data = dir.File("data");
};
