#include "shell/headless.h"

#include "platform/jcode.h"
#include "terminal/mybitmap.h"

namespace {

FILE* g_out = nullptr;
bool g_dirty = false;

}  // namespace

std::string MirrorLineText(const char* text, int length) {
  std::string row(text, size_t(length > 0 ? length : 0));
  while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) row.pop_back();
  for (size_t i = 0; i < row.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(row[i]);
    if (jcode::IsKanji1(c) && i + 1 < row.size()) {
      ++i;
      continue;
    }
    if (c == 0 || c == 0x7F || c < 0x20) row[i] = ' ';
  }
  while (!row.empty() && row.back() == ' ') row.pop_back();
  return jcode::SjisToUtf8(row);
}

void InstallHeadlessMirror(FILE* out) {
  g_out = out;
  bitmap.hooks.lineToAddins = [](const char* text, int length) {
    if (!g_out) return;
    const std::string line = MirrorLineText(text, length) + "\n";
    std::fwrite(line.data(), 1, line.size(), g_out);
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
