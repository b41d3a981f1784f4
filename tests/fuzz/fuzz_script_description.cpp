// Fuzzes the description read from a script file's first bytes: any bytes
// give a description of at most 119 bytes without a line end or a tab, that
// never ends on a lone lead byte, that is all of the input when the input is
// ";" and a description, and that reads the same a second time.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/jcode.h"
#include "script/script_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  const std::string d = ScriptDescription(head);
  if (d.size() > 119) std::abort();
  if (d.find_first_of("\r\n\t") != std::string::npos) std::abort();
  if (!d.empty() && jcode::IsKanji1(static_cast<unsigned char>(d.back()))) {
    // Only as the trail byte of a pair.
    size_t i = 0, last = 0;
    while (i < d.size()) {
      last = i;
      i += jcode::IsKanji1(static_cast<unsigned char>(d[i])) && i + 1 < d.size() &&
                   static_cast<unsigned char>(d[i + 1]) >= 0x40
               ? 2
               : 1;
    }
    if (last + 1 == d.size()) std::abort();
  }
  // A description that does not start with a blank comes back from ";"
  // followed by it.
  const bool blankFirst = !d.empty() && (d[0] == ' ' || (d.size() >= 2 && static_cast<unsigned char>(d[0]) == 0x81 &&
                                                          static_cast<unsigned char>(d[1]) == 0x40));
  if (!blankFirst && d.size() <= 117 && ScriptDescription(";" + d) != d) std::abort();
  if (ScriptDescription(head) != d) std::abort();
  return 0;
}
