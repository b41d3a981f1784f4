// Helpers shared by the tests that run the receive dispatcher over a real
// port: handing the port bytes and reading back what the stock holds.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "port/comport.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "terminal/mybitmap.h"

// Writes bytes to the port's line at fd and waits until its reader holds them.
inline void DeliverToPort(int fd, const std::string& bytes) {
  COMPORT::GetInQueueCount();
  const int before = COMPORT::cbThreadRead;
  ASSERT_TRUE(WriteAll(fd, bytes));
  ASSERT_TRUE(WaitFor([&] {
    COMPORT::GetInQueueCount();
    return COMPORT::cbThreadRead >= before + int(bytes.size());
  }));
}

// The stored text of screen row r without its trailing empty cells; "~" for
// a row the stock does not hold yet.
inline std::string ScreenRowText(int r) {
  if (r >= bitmap.RowsInStock()) return "~";
  const char* t = bitmap.LineAt(r).Item()->Text();
  int n = STOCK::cColumn;
  while (n > 0 && t[n - 1] == 0) --n;
  return std::string(t, size_t(n));
}
