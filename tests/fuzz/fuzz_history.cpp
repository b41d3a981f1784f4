// Fuzzes the transfer history reader: any bytes give at most one record per
// line, and the name field never holds a line end.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <string_view>

#include "transfer/history.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto lines = ParseHistory(std::string_view(reinterpret_cast<const char*>(data), size));
  const size_t lineEnds = static_cast<size_t>(std::count(data, data + size, '\n'));
  if (lines.size() > lineEnds + 1) abort();
  for (const HISTORYLINE& h : lines)
    if (h.name.find('\n') != std::string::npos) abort();
  return 0;
}
