// Fuzzes the function-key text decoder (the texts come from the settings
// file and from scripts' KEYASSIGN): any bytes decode; the result is never
// longer than the text; a text without escapes is itself; a leading ^M is a
// CR where the decoder says.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script/funckey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const KEYTEXT k = DecodeKeyText(text);
  if (k.bytes.size() > text.size()) std::abort();
  if (!k.escaped && k.bytes != text) std::abort();
  if (k.crFirst && (!k.escaped || k.crAt >= k.bytes.size() || k.bytes[k.crAt] != '\r')) std::abort();
  // Decoding is a function of the text alone: a second time, the same.
  const KEYTEXT again = DecodeKeyText(text);
  if (again.bytes != k.bytes || again.crAt != k.crAt) std::abort();
  return 0;
}
