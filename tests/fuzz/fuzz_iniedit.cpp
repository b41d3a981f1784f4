// Fuzzes PUTINI's edit of a profile file that any program may have written:
// any bytes and any names are edited without a crash, and for names a
// script can give (no line break, no "=" in the key), the reader then finds
// the new value under them and every other key of the section unchanged.
//
// Input: three length bytes (section, key, value), those bytes, then the file.
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/inifile.h"
#include "script/settingcmds.h"

namespace {

bool Clean(const std::string& s, bool key) {
  if (s.empty() || s.find_first_of("\r\n") != std::string::npos) return false;
  if (key && s.find('=') != std::string::npos) return false;
  const char f = s.front(), b = s.back();
  if (f == ' ' || f == '\t' || b == ' ' || b == '\t') return false;
  if (key && (f == ';' || f == '[')) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  size_t at = 3;
  auto take = [&](size_t n) {
    n = std::min(n % 24, size - at);
    std::string s(reinterpret_cast<const char*>(data + at), n);
    at += n;
    return s;
  };
  const std::string section = take(data[0]), key = take(data[1]), value = take(data[2]);
  const std::string text(reinterpret_cast<const char*>(data + at), size - at);
  const std::string out = SCRIPTSETTINGCMDS::SetIniValue(text, section, key, value);
  const bool valueClean = value.empty() || Clean(value, false);
  if (!Clean(section, false) || !Clean(key, true) || !valueClean) return 0;
  const INIFILE before = INIFILE::Parse(text), after = INIFILE::Parse(out);
  std::string got;
  if (!after.Get(section, key, got) || got != value) std::abort();
  for (const std::string& other : before.Keys(section)) {
    if (strcasecmp(other.c_str(), key.c_str()) == 0) continue;
    std::string a, b;
    if (!before.Get(section, other, a) || !after.Get(section, other, b) || a != b) std::abort();
  }
  return 0;
}
