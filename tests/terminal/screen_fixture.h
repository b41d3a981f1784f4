// Shared by the screen and escape tests: a real stock file in a temporary
// directory, the main screen over it, the port over a pipe pair (to catch the
// bytes answered to the host), and a small script language for table-driven
// cases in the style of libvterm's test files.
//
// Script (one directive per line; "#" starts a comment line):
//   case NAME                      starts a case: fresh stock, screen, port
//   screen COLS ROWS [cursorcode N] [ring N]
//                                  stock width, screen rows, the host's
//                                  CursorCode (default 80 24 0, ring 1000)
//   push "BYTES"                   Input, then Show (as one receive pass)
//   feed "BYTES"                   Input only
//   bytewise "BYTES"               Input one byte at a time, then Show
//   numbered N                     push "L0\r\nL1\r\n...L<N-1>"
//   connect ROW                    makes the line at screen row ROW the
//                                  connect line (tag 3, mark 0xFE)
//   typed "BYTES"                  the user typed these (COLLATE::Typed)
//   rows                           the screen, one "|ROW" line per row after
//                                  it; rows not listed must be empty or past
//                                  the newest line
//   history                        the lines above the screen, oldest first,
//                                  one "|LINE" each, all of them
//   lines                          every stock line, oldest first
//   cursor ROW COL                 the cursor's screen row and column
//   reply "BYTES"                  what was sent to the host since the last
//                                  reply check (nothing: reply "")
//   attrs H U R                    highlight, underline, reverse (0/1)
//   region TOP BOTTOM              iScrollTop, iScrollBottom (-1: no region)
//   mark ROW HEX                   the mark byte of the line at screen row ROW
//   tagged ROW N                   the tag byte of that line
// A line is shown as its text bytes up to the last non-empty cell, an empty
// cell inside as "_"; a screen row past the newest line as "~".  Strings take
// C escapes (\r \n \t \e \xHH \\ \"), \{N}c for the character c N times,
// and UTF-8 text, which becomes Shift_JIS.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/temp_dir.h"
#include "terminal/collate.h"
#include "terminal/mybitmap.h"

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override {
    COMPORT::Close();
    ResetAll();
  }

  static void ResetAll() {
    COMPORT::ResetForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    COLLATE::ResetForTest();
    hostprop.SetDefault();
    config.SetDefault();
  }

  // A new stock of `columns` and the main screen of `rows` rows over it; the
  // port runs over a pipe pair.
  void Open(int columns = 80, int rows = 24, int cursorCode = 0, unsigned long ring = 1000) {
    COMPORT::Close();
    ResetAll();
    hostprop.CursorCode = cursorCode;
    // Painting decisions read the backlog: none in these tests.
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    ++serial;
    const std::string path = dir.File("screen" + std::to_string(serial) + ".stk");
    ASSERT_EQ(STOCK::Create(path, ring, columns, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    bitmap.Reset(nullptr, columns, rows);
    peer = MakeLinePeer(false);
    ASSERT_EQ(COMPORT::Start(std::move(peer.line)), 1);
  }

  void Push(const std::string& bytes) {
    bitmap.Input(bytes.data(), bytes.size());
    bitmap.Show();
  }

  // Everything sent to the host since the last call.
  std::string Replies() {
    COMPORT::Send("#");
    std::string got;
    for (;;) {
      std::string c = ReadExactly(peer.ReadFd(), 1, 5000);
      if (c.empty() || c == "#") break;
      got += c;
    }
    return got;
  }

  static std::string Render(CODEVRAM cv) {
    const char* t = cv.Item()->Text();
    int n = STOCK::cColumn;
    while (n > 0 && t[n - 1] == 0) --n;
    std::string s(t, size_t(n));
    for (char& c : s)
      if (c == 0) c = '_';
    return s;
  }
  static std::vector<std::string> ScreenRows() {
    std::vector<std::string> rows;
    const int inStock = bitmap.RowsInStock();
    for (int r = 0; r < bitmap.cyLines; ++r) rows.push_back(r < inStock ? Render(bitmap.LineAt(r)) : "~");
    return rows;
  }
  static std::vector<std::string> HistoryLines() {
    std::vector<std::string> out;
    for (CODEVRAM cv = cvOldest; cv != bitmap.cvTop && !cv.IsNewest(); ++cv) out.push_back(Render(cv));
    return out;
  }
  static std::vector<std::string> AllLines() {
    std::vector<std::string> out;
    CODEVRAM cv = cvOldest;
    for (;;) {
      out.push_back(Render(cv));
      if (cv.IsNewest()) break;
      ++cv;
    }
    return out;
  }

  // Runs a script (see the top of this file).
  void RunScript(const char* script) {
    std::istringstream in(script);
    std::string line, name = "(no case)";
    int number = 0;
    std::vector<std::string> block;
    std::string blockKind;
    int blockLine = 0;
    auto where = [&](int n) { return name + " (script line " + std::to_string(n) + ")"; };
    auto finishBlock = [&] {
      if (blockKind.empty()) return;
      if (blockKind == "rows") {
        auto actual = ScreenRows();
        auto expect = block;
        for (size_t i = expect.size(); i < actual.size(); ++i)
          expect.push_back(actual[i] == "" || actual[i] == "~" ? actual[i] : "(empty)");
        EXPECT_EQ(actual, expect) << where(blockLine);
      } else if (blockKind == "history") {
        EXPECT_EQ(HistoryLines(), block) << where(blockLine);
      } else if (blockKind == "lines") {
        EXPECT_EQ(AllLines(), block) << where(blockLine);
      }
      block.clear();
      blockKind.clear();
    };
    while (std::getline(in, line)) {
      ++number;
      size_t start = line.find_first_not_of(" \t");
      if (start == std::string::npos) continue;
      line = line.substr(start);
      if (line[0] == '|') {
        if (blockKind.empty()) ADD_FAILURE() << where(number) << ": a row outside rows/history/lines";
        block.push_back(Unquote(line.substr(1), false));
        continue;
      }
      finishBlock();
      if (line[0] == '#') continue;
      std::istringstream words(line);
      std::string verb;
      words >> verb;
      std::string rest;
      std::getline(words, rest);
      if (size_t s = rest.find_first_not_of(' '); s != std::string::npos) rest = rest.substr(s);
      if (verb == "case") {
        name = rest;
        Open();
      } else if (verb == "screen") {
        std::istringstream a(rest);
        int cols = 80, rows = 24, code = 0;
        unsigned long ring = 1000;
        a >> cols >> rows;
        std::string key;
        while (a >> key) {
          if (key == "cursorcode") a >> code;
          if (key == "ring") a >> ring;
        }
        Open(cols, rows, code, ring);
      } else if (verb == "push" || verb == "feed") {
        std::string bytes = Unquote(rest, true);
        bitmap.Input(bytes.data(), bytes.size());
        if (verb == "push") bitmap.Show();
      } else if (verb == "bytewise") {
        for (char c : Unquote(rest, true)) bitmap.Input(c);
        bitmap.Show();
      } else if (verb == "numbered") {
        // Lines "L0" .. "L<n-1>", each ended by CR LF but the last.
        std::string bytes;
        for (int i = 0, n = std::stoi(rest); i < n; ++i) bytes += (i ? "\r\nL" : "L") + std::to_string(i);
        Push(bytes);
      } else if (verb == "connect") {
        STOCK::SetConnectTag(bitmap.LineAt(std::stoi(rest)));
      } else if (verb == "typed") {
        std::string bytes = Unquote(rest, true);
        COLLATE::Typed(bytes.data(), bytes.size());
      } else if (verb == "rows" || verb == "history" || verb == "lines") {
        blockKind = verb;
        blockLine = number;
      } else if (verb == "cursor") {
        std::istringstream a(rest);
        int row = -1, col = -1;
        a >> row >> col;
        EXPECT_EQ(bitmap.GetCurrentY(), row) << where(number);
        EXPECT_EQ(MYBITMAP::xchCur, col) << where(number);
      } else if (verb == "reply") {
        EXPECT_EQ(Replies(), Unquote(rest, true)) << where(number);
      } else if (verb == "attrs") {
        std::istringstream a(rest);
        int h = -1, u = -1, r = -1;
        a >> h >> u >> r;
        EXPECT_EQ(MYBITMAP::fAttrHilight, h) << where(number);
        EXPECT_EQ(MYBITMAP::fAttrUnderline, u) << where(number);
        EXPECT_EQ(MYBITMAP::fAttrReverse, r) << where(number);
      } else if (verb == "region") {
        std::istringstream a(rest);
        int top = -2, bottom = -2;
        a >> top >> bottom;
        EXPECT_EQ(MYBITMAP::iScrollTop, top) << where(number);
        EXPECT_EQ(MYBITMAP::iScrollBottom, bottom == -1 ? MYBITMAP::kNoRegion : bottom) << where(number);
      } else if (verb == "mark") {
        std::istringstream a(rest);
        int row = 0;
        unsigned value = 0;
        a >> row >> std::hex >> value;
        EXPECT_EQ(unsigned(bitmap.LineAt(row).Item()->cInput), value) << where(number);
      } else if (verb == "tagged") {
        std::istringstream a(rest);
        int row = 0, tag = 0;
        a >> row >> tag;
        EXPECT_EQ(int(bitmap.LineAt(row).Tag()), tag) << where(number);
      } else {
        ADD_FAILURE() << where(number) << ": unknown directive " << verb;
      }
    }
    finishBlock();
  }

  // A quoted string (quoted = true) or the rest of a row line, with C
  // escapes; UTF-8 text becomes Shift_JIS.
  static std::string Unquote(const std::string& text, bool quoted) {
    std::string s = text;
    if (quoted) {
      size_t a = s.find('"'), b = s.rfind('"');
      if (a == std::string::npos || b == a) {
        ADD_FAILURE() << "not a quoted string: " << text;
        return "";
      }
      s = s.substr(a + 1, b - a - 1);
    }
    std::string out, utf8;
    auto flush = [&] {
      if (!utf8.empty()) out += jcode::Utf8ToSjis(utf8);
      utf8.clear();
    };
    for (size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c >= 0x80) {
        utf8 += char(c);
        continue;
      }
      flush();
      if (c != '\\' || i + 1 == s.size()) {
        out += char(c);
        continue;
      }
      const char e = s[++i];
      switch (e) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'e': out += '\x1b'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'a': out += '\a'; break;
        case '{': {  // \{N}c: the character c N times
          const size_t close = s.find('}', i);
          const int count = std::stoi(s.substr(i + 1, close - i - 1));
          i = close + 1;
          out += std::string(size_t(count), s[i]);
          break;
        }
        case 'x': {
          out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
          i += 2;
          break;
        }
        default: out += e; break;
      }
    }
    flush();
    return out;
  }

  ui::ScopedRecordingFacade facade;
  TempDir dir;
  LinePeer peer;
  int serial = 0;
};
