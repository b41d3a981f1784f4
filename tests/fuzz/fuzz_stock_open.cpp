// Fuzzes opening a stock file: the input is written to a file and opened;
// when the open succeeds every line is walked, appended to and saved.  A file
// the open refuses must be left exactly as it was.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui.h"
#include "stock/stock.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  static std::string dir = [] {
    char tmpl[] = "/tmp/quillnet-fuzz-stock-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  const std::string path = dir + "/f.stk";
  // Keep the slot area of a fuzzed header from making huge sparse files.
  if (size > (1u << 20)) return 0;
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  STOCK::ResetForTest();
  if (STOCK::Open(path)) {
    CODEVRAM cv = cvOldest;
    long walked = 0;
    for (;;) {
      (void)cv.Length();
      (void)cv.IsCR();
      (void)cv.IsKanji2(STOCK::cColumn);
      (void)GetDateTimeFromStock(cv);
      if (cv.IsNewest() || ++walked > 200000) break;
      ++cv;
    }
    if (STOCK::EnableWrite(1, 0)) {
      cv.GoNewest();
      std::memcpy(STOCK::GetItem(cv)->Text(), "fuzz", 4);
      cv.LineFeed();
      STOCK::Save();
    }
    STOCK::Close();
    if (!STOCK::Open(path)) std::abort();  // what was saved must open again
  } else {
    const std::string after = ReadAll(path);
    if (after.size() != size || (size && std::memcmp(after.data(), data, size) != 0)) std::abort();
    if (quiet.boxes.empty()) std::abort();  // a refusal is always reported
  }
  STOCK::ResetForTest();
  return 0;
}
