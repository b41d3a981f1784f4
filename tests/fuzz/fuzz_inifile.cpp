// Fuzzes the ini reader behind the mirror file (other programs write its
// "_NewHost" section): any bytes parse, the written form is stable, and every
// key listed in a section can be read back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/inifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  INIFILE ini = INIFILE::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string once = ini.Format();
  INIFILE back = INIFILE::Parse(once);
  if (back.Format() != once) std::abort();
  for (const char* section : {"_NewHost", "Quillnet"}) {
    for (const std::string& key : back.Keys(section)) {
      std::string value;
      if (!back.Get(section, key, value)) std::abort();
      back.Remove(section, key);
      if (back.Get(section, key, value)) std::abort();
    }
    back.RemoveSection(section);
    if (back.HasSection(section)) std::abort();
  }
  return 0;
}
