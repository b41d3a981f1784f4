// Fuzzes the screen and the escape interpreter: arbitrary bytes are fed to
// MYBITMAP over the in-memory stock (80 columns, a 10,000-line ring, so long
// inputs wrap it), in chunks with a Show between them.
//
// Input layout: [rows-1 (mod 60)] [window columns-1 (mod 120)]
// [flags: bit 0 CursorCode 2, bit 1 SetScroll, bit 2 SmoothScroll, bit 3
// backlog 2000 (fast mode), bit 4 input not resting, bit 5 a connect line,
// bit 6 NoColorOnline] [chunk length-1] then the stream.
//
// After every chunk: the cursors are live lines, the cursor is on or below
// the top row and inside the line, after Show on the screen; the scroll
// region is inside the screen; the parameter count is in bounds; and, while
// the ring did not wrap, no text above the screen's top changed (a screen
// operation never writes outside the screen's lines).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/collate.h"
#include "terminal/mybitmap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Live(CODEVRAM cv) { return cv.i >= 0 && cv.i < STOCK::cItemUsed && STOCK::Flat(cv) <= STOCK::Flat(cvNewest); }

void CheckState(bool afterShow) {
  Check(Live(MYBITMAP::cvCur));
  Check(Live(bitmap.cvTop));
  const int row = bitmap.Row(MYBITMAP::cvCur);
  Check(row >= 0);
  if (afterShow) Check(row < bitmap.cyLines);
  Check(MYBITMAP::xchCur >= 0 && MYBITMAP::xchCur <= STOCK::cColumn);
  Check(MYBITMAP::escState >= 0 && MYBITMAP::escState <= 2);
  Check(MYBITMAP::cParam >= 0 && MYBITMAP::cParam <= MYBITMAP::kParamBytes);
  Check(MYBITMAP::iScrollTop >= 0);
  if (MYBITMAP::iScrollBottom != MYBITMAP::kNoRegion)
    Check(MYBITMAP::iScrollTop < MYBITMAP::iScrollBottom && MYBITMAP::iScrollBottom < bitmap.cyLines);
  Check(bitmap.xScroll >= 0 && bitmap.xScroll <= STOCK::cColumn);
  Check(STOCK::UsedItems() <= STOCK::cItemMaxMax);
}

// Text of up to 64 lines above the screen's top.
std::vector<std::string> History(int* firstFlat) {
  std::vector<std::string> lines;
  const int top = STOCK::Flat(bitmap.cvTop);
  const int from = std::max(0, top - 64);
  *firstFlat = from;
  for (int f = from; f < top; ++f) {
    CODEVRAM cv = STOCK::AddIndex(cvOldest, f);
    lines.emplace_back(cv.Item()->Text(), size_t(STOCK::cColumn));
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size < 4) return 0;
  STOCK::ResetForTest();
  MYBITMAP::ResetForTest();
  COLLATE::ResetForTest();
  hostprop.SetDefault();
  config.SetDefault();

  const int rows = 1 + data[0] % 60;
  const int columns = 1 + data[1] % 120;
  const uint8_t flags = data[2];
  const size_t chunk = 1 + data[3];
  data += 4;
  size -= 4;
  hostprop.CursorCode = flags & 1 ? 2 : 0;
  config.SetScroll = flags & 2 ? 1 : 0;
  config.SmoothScroll = flags & 4 ? 1 : 0;
  config.NoColorOnline = flags & 64 ? 1 : 0;
  const int backlog = flags & 8 ? 2000 : 0;
  const bool resting = !(flags & 16);
  MYBITMAP::hooks.backlog = [backlog] { return backlog; };
  MYBITMAP::hooks.inputResting = [resting] { return resting; };
  // A painter that checks what it is asked to paint.
  bitmap.painter.paint = [](int row, CODEVRAM line, int x0, int x1) {
    Check(row >= 0 && row < bitmap.cyLines);
    Check(Live(line));
    Check(0 <= x0 && x0 < x1 && x1 <= STOCK::cColumn);
  };
  bitmap.painter.scrollRows = [](int top, int bottom, int n) {
    Check(0 <= top && top <= bottom && bottom < bitmap.cyLines && n != 0 && std::abs(n) <= bottom - top + 1);
  };
  bitmap.painter.windowActive = [] { return true; };
  // A colour syntax that tags every third logical line it is asked about.
  static int queries = 0;
  queries = 0;
  MYBITMAP::hooks.classify = [](CODEVRAM first, int lines) {
    Check(Live(first) && lines >= 1 && lines <= kLogicalLineWalk);
    if (++queries % 3) return false;
    STOCK::aTag[size_t(first.i)] = 5;
    return true;
  };
  MYBITMAP::hooks.treeAdd = [](CODEVRAM line) { Check(Live(line)); };
  MYBITMAP::hooks.lineToAddins = [](const char* text, int n, bool) {
    Check(text != nullptr && n >= 0 && n <= STOCK::cColumn);
  };

  STOCK::CreateTempStockFile();
  bitmap.Reset(nullptr, columns, rows);
  if (flags & 32) {
    bitmap.Input("Host - 2024/05/01 12:34\r\n");
    STOCK::SetConnectTag(STOCK::AddIndex(cvNewest, -1));
    COLLATE::Typed("go\r", 3);
  }
  CheckState(false);

  for (size_t at = 0; at < size; at += chunk) {
    const size_t n = std::min(chunk, size - at);
    int firstFlat = 0;
    const CODEVRAM oldest = cvOldest;
    const std::vector<std::string> before = History(&firstFlat);
    bitmap.Input(reinterpret_cast<const char*>(data + at), n);
    CheckState(false);
    bitmap.Show();
    CheckState(true);
    // While the ring is not full no line was overwritten.
    if (STOCK::UsedItems() < STOCK::cItemMaxMax && cvOldest == oldest) {
      for (size_t k = 0; k < before.size(); ++k) {
        CODEVRAM cv = STOCK::AddIndex(cvOldest, firstFlat + int(k));
        Check(std::memcmp(cv.Item()->Text(), before[k].data(), before[k].size()) == 0);
      }
    }
  }
  return 0;
}
