// Fuzzes the text functions of scripts: the input up to its first NUL is the
// text, the rest the pattern (both cut to the 1024 bytes a script string
// holds).  A match must start on a character start and be a real match, the
// last match may be no earlier than the first, results stay within 1024
// bytes, and full-width text made of printable ASCII turns back into it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/jcode.h"
#include "script/functions.h"

namespace {

bool AtCharacterStart(std::string_view s, size_t at) {
  size_t i = 0;
  while (i < at) i += jcode::IsKanji1(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
  return i == at;
}

void CheckMatch(std::string_view s, std::string_view t, size_t at) {
  if (at == std::string_view::npos) return;
  if (t.empty() || at + t.size() > s.size() || s.substr(at, t.size()) != t) std::abort();
  if (!AtCharacterStart(s, at)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const size_t nul = in.find('\0');
  const std::string s = in.substr(0, std::min<size_t>(nul, 1024));
  const std::string t = nul == std::string::npos ? std::string() : in.substr(nul + 1, 1024);
  const size_t first = scriptfn::FindFirst(s, t), last = scriptfn::FindLast(s, t);
  CheckMatch(s, t, first);
  CheckMatch(s, t, last);
  if ((first == std::string_view::npos) != (last == std::string_view::npos)) std::abort();
  if (first != std::string_view::npos && last < first) std::abort();
  const int32_t start = t.empty() ? 0 : static_cast<int8_t>(t[0]);
  const int32_t length = t.size() > 1 ? static_cast<int8_t>(t[1]) * 16 : 5;
  const std::string_view part = scriptfn::Part(s, start, length);
  if (part.size() > s.size() || (!part.empty() && part.data() < s.data())) std::abort();
  for (const std::string& r : {scriptfn::ToHankaku(s), scriptfn::ToZenkaku(s), scriptfn::ToUpper(s), scriptfn::ToLower(s)})
    if (r.size() > 1024) std::abort();
  if (scriptfn::ToUpper(s).size() != s.size() || scriptfn::ToLower(s).size() != s.size()) std::abort();
  std::string printable;
  for (char c : s)
    if (c >= 0x20 && c <= 0x7E && printable.size() < 512) printable += c;
  if (scriptfn::ToHankaku(scriptfn::ToZenkaku(printable)) != printable) std::abort();
  return 0;
}
