// Fuzzes the regular-expression layer: the input's bytes up to the first NUL
// are a Shift_JIS pattern, the rest the text.  A compiled pattern is matched
// from several start offsets; every reported position, length and group
// must lie inside the text, and a failed compile must leave the record
// closed with a message.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/jre.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_jre: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  // A low limit keeps catastrophic patterns cheap; the limit itself is
  // part of what is exercised.
  static bool once = (JreSetRetryLimit(20000), true);
  (void)once;
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* nul = static_cast<const char*>(std::memchr(bytes, 0, size));
  const std::string pattern(bytes, nul ? size_t(nul - bytes) : std::min<size_t>(size, 200));
  const std::string text = nul ? std::string(nul + 1, bytes + size) : std::string(bytes, size);

  JRE2 jre;
  Check(Jre2Open(&jre), "open failed");
  if (!Jre2Compile(&jre, pattern.data(), int(pattern.size()))) {
    Check(jre.dwSize == 0, "a failed compile left the record usable");
    Check(!GetJreMessage(&jre).empty(), "a failed compile has no message");
    Check(Jre2GetMatchInfo(&jre, text.data(), int(text.size())) == 0, "a closed record matched");
    Jre2Close(&jre);
    return 0;
  }
  Check(jre.dwSize == JRE2_RECORD_SIZE, "a compiled record has the wrong size");
  const int length = int(text.size());
  for (int start : {0, 1, length / 2, length}) {
    if (start > length) continue;
    jre.nStart = start;
    if (Jre2GetMatchInfo(&jre, text.data(), length) == 1) {
      Check(jre.nError == JRE_ERROR_NONE, "a match with an error");
      Check(jre.nPosition >= start && jre.nLength >= 0 && jre.nPosition + jre.nLength <= length,
            "the match lies outside the text");
      Check(jre.nGroups >= 1 && jre.nGroups <= JRE_GROUPS, "group count out of range");
      for (int g = 0; g < jre.nGroups; ++g) {
        if (jre.aGroupPosition[g] < 0) continue;
        Check(jre.aGroupLength[g] >= 0 && jre.aGroupPosition[g] + jre.aGroupLength[g] <= length,
              "a group lies outside the text");
      }
    } else {
      Check(jre.nError == JRE_ERROR_NONE || jre.nError == JRE_ERROR_RETRY_LIMIT || jre.nError == JRE_ERROR_ENGINE,
            "a miss with an unexpected error");
    }
  }
  Jre2Close(&jre);
  Jre2Close(&jre);
  return 0;
}
