// Fuzzes the variable-file reader (the file is the user's to edit): any bytes
// parse; every line read is whole (no line end inside); a value is at most
// 1024 bytes; and what a line was read as, written again and read back, is
// the same name and value, in both encodings.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string_view>

#include "script/varfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  varfile::REPORT report;
  const std::vector<varfile::LINE> lines = varfile::Parse(text, &report);
  std::mt19937 random(static_cast<unsigned>(size));
  int bad = 0;
  for (const varfile::LINE& l : lines) {
    if (l.raw.find('\n') != std::string::npos) std::abort();
    if (!l.good) {
      ++bad;
      continue;
    }
    if (l.name.empty() || l.value.size() > varfile::MAX_VALUE) std::abort();
    const std::string again = varfile::FormatLine(l.name, l.value, random);
    for (const char c : again)
      if (static_cast<unsigned char>(c) < 0x20) std::abort();
    const std::vector<varfile::LINE> back = varfile::Parse(again + "\r\n");
    if (back.size() != 1 || !back[0].good || back[0].name != l.name || back[0].value != l.value) std::abort();
  }
  if (bad != report.badLines) std::abort();
  return 0;
}
