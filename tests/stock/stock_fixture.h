// Shared helpers of the stock tests: a temporary directory, writing text
// through the line cursor, and reading the logical lines back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "stock/stock.h"

class StockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    STOCK::ResetForTest();
    char tmpl[] = "/tmp/quillnet-stock-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    STOCK::ResetForTest();
    std::filesystem::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // Writes each text as one logical line at the newest end (no wrapping:
  // texts must be shorter than the width).
  static void AppendLines(const std::vector<std::string>& texts) {
    for (auto& t : texts) {
      CODEVRAM cv = cvNewest;
      char* p = STOCK::GetItem(cv)->Text();
      t.copy(p, t.size());
      cv.LineFeed();
    }
  }
  static std::vector<std::string> Numbered(int from, int count) {
    std::vector<std::string> v;
    for (int i = from; i < from + count; ++i) v.push_back("line " + std::to_string(i));
    return v;
  }
  // The logical lines from the oldest on, wrapped slots joined; the newest
  // (unfinished) line only when it holds text.
  static std::vector<std::string> Lines() {
    std::vector<std::string> out;
    std::string cur;
    CODEVRAM cv = cvOldest;
    for (;;) {
      cur.append(STOCK::GetItem(cv)->Text(), size_t(cv.Length()));
      bool last = cv.IsNewest();
      if (last ? !cur.empty() : cv.IsCR()) {
        out.push_back(cur);
        cur.clear();
      }
      if (last) break;
      ++cv;
    }
    return out;
  }

  ui::ScopedRecordingFacade facade;
  std::string dir;
};
