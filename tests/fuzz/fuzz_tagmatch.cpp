// Fuzzes the colour syntax's own matcher against the engine: the input's
// bytes up to the first NUL are a Shift_JIS pattern, the rest the text.
// Whenever the matcher takes the pattern and gives an answer, the engine
// must give the same one, and it must not have given up on the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/jre.h"
#include "stock/tagmatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* nul = static_cast<const char*>(std::memchr(bytes, 0, size));
  if (!nul) return 0;
  const std::string pattern(bytes, size_t(nul - bytes));
  const std::string text(nul + 1, bytes + size);

  TagMatcher own;
  if (!own.Compile(pattern.data(), int(pattern.size()))) return 0;
  JRE2 jre;
  if (!Jre2Open(&jre) || !Jre2Compile(&jre, pattern.data(), int(pattern.size()))) return 0;
  const int answer = own.Search(text.data(), int(text.size()));
  if (answer < 0) return 0;
  const int engine = Jre2GetMatchInfo(&jre, text.data(), int(text.size()));
  if (jre.nError != JRE_ERROR_NONE || engine != answer) {
    std::fprintf(stderr, "fuzz_tagmatch: matcher %d, engine %d (error %d)\npattern:", answer, engine,
                 int(jre.nError));
    for (unsigned char c : pattern) std::fprintf(stderr, " %02X", c);
    std::fprintf(stderr, "\ntext:");
    for (unsigned char c : text) std::fprintf(stderr, " %02X", c);
    std::fprintf(stderr, "\n");
    std::abort();
  }
  return 0;
}
