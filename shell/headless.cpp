#include "shell/headless.h"

#include <vector>

#include "platform/jcode.h"
#include "terminal/mybitmap.h"

namespace {

FILE* g_out = nullptr;
bool g_dirty = false;

}  // namespace

// The shown text of a stored line, as UTF-8 in utf8 (resized to fit);
// `row` is scratch space.  Returns the length.
static size_t MirrorLine(const char* text, int length, std::vector<char>& row, std::vector<char>& utf8) {
  const size_t n = size_t(length > 0 ? length : 0);
  row.assign(text, text + n);
  size_t end = n;
  while (end > 0 && (row[end - 1] == '\n' || row[end - 1] == '\r')) --end;
  for (size_t i = 0; i < end; ++i) {
    const unsigned char c = static_cast<unsigned char>(row[i]);
    if (jcode::IsKanji1(c) && i + 1 < end) {
      ++i;
      continue;
    }
    if (c == 0 || c == 0x7F || c < 0x20) row[i] = ' ';
  }
  while (end > 0 && row[end - 1] == ' ') --end;
  utf8.resize(end * 3 + 1);
  return jcode::SjisToUtf8(row.data(), end, utf8.data());
}

std::string MirrorLineText(const char* text, int length) {
  std::vector<char> row, utf8;
  return std::string(utf8.data(), MirrorLine(text, length, row, utf8));
}

void InstallHeadlessMirror(FILE* out) {
  g_out = out;
  // A flood writes many short lines: a large buffer keeps that to few
  // system calls.  The mirror is flushed on a timer and at the end.
  static char buffer[1 << 16];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  bitmap.hooks.lineToAddins = [](const char* text, int length) {
    if (!g_out) return;
    // Scratch buffers kept between lines: a flood passes every line here.
    static std::vector<char> row, utf8;
    const size_t m = MirrorLine(text, length, row, utf8);
    utf8[m] = '\n';
    std::fwrite(utf8.data(), 1, m + 1, g_out);
    g_dirty = true;
  };
}

void RemoveHeadlessMirror() {
  FlushHeadlessMirror();
  bitmap.hooks.lineToAddins = nullptr;
  g_out = nullptr;
}

void FlushHeadlessMirror() {
  if (g_out && g_dirty) std::fflush(g_out);
  g_dirty = false;
}
