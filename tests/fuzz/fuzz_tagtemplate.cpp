// Fuzzes the title template compiler and decompiler.  The input is compiled
// as a template text into a rule's 120-byte field; what compiles must report
// its length consistently and decompile.  The input is also read as
// compiled bytes: the readers must stay inside the field, and bytes that
// decompile exactly must compile back from their text to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stock/tagtemplate.h"

namespace {

constexpr int kRoom = 120;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_tagtemplate: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  unsigned char out[kRoom];
  int used = -1;
  std::string error;
  TITLECOMPILE r = CompileTitleTemplate(text, out, kRoom, &used, &error);
  int length = CompiledTitleLength(text);
  if (r == TITLE_COMPILED) {
    Check(used >= 0 && used <= kRoom, "used outside the room");
    Check(length == used, "CompiledTitleLength differs from what was written");
    for (int k = used; k < kRoom; ++k) Check(out[k] == 0, "the rest of the room is not zeroed");
    std::string back;
    Check(used == 0 || DecompileTitleTemplate(out, kRoom, &back), "a compiled template does not decompile");
    TitleLineReach(out, kRoom);
  } else if (r == TITLE_TOO_LONG) {
    Check(length > kRoom, "too long but its length fits");
  } else {
    Check(length == -1, "a syntax error with a length");
  }

  // The same bytes as a compiled field, zero-padded to the room.
  unsigned char field[kRoom] = {};
  std::memcpy(field, data, size < size_t(kRoom) ? size : size_t(kRoom));
  std::string decompiled;
  DecompileTitleTemplate(field, kRoom, &decompiled);
  int reach = TitleLineReach(field, kRoom);
  Check(reach >= -2 && reach <= 127, "line reach out of range");
  int e = TitleElementLength(field, kRoom);
  Check(e >= 0 && e <= kRoom, "element length outside the room");
  if (DecompilesExactly(field, kRoom)) {
    std::string t;
    Check(DecompileTitleTemplate(field, kRoom, &t), "exact bytes do not decompile");
    unsigned char again[kRoom];
    Check(CompileTitleTemplate(t, again, kRoom) == TITLE_COMPILED, "an exact text does not compile");
    Check(std::memcmp(again, field, kRoom) == 0, "an exact text compiles to other bytes");
  }
  return 0;
}
