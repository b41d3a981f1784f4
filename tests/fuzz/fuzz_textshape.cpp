// Fuzzes the text upload's line shaping: the first bytes choose the settings,
// the rest is the text.  Whatever the input, every line ends in one CR
// (the last may have none), no line is empty or grows beyond the margin, the
// indentation and a screen line, and, with half-width margins and no
// repeated indentation, the text's own bytes come out in order with only
// blanks and CRs added (CR and NUL dropped, LF as CR, TABs as blanks with
// TabToSpace, nothing after 0x1A).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transfer/textupload.h"

namespace {

[[noreturn]] void Fail(const char* why, const uint8_t* data, size_t size) {
  std::fprintf(stderr, "fuzz_textshape: %s; input:", why);
  for (size_t i = 0; i < size; ++i) std::fprintf(stderr, " %02x", data[i]);
  std::fprintf(stderr, "\n");
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  TEXTSHAPE s;
  s.screenWidth = 2 + data[0] % 120;
  s.orikaeshi = data[1] % 130;
  s.margin = data[2] % 40;
  s.hankakuMargin = data[3] & 1;
  s.autoMarginSync = data[3] & 2;
  s.kinsoku = data[3] & 4;
  s.burasage = data[3] & 8;
  s.wordwrap = data[3] & 16;
  s.tabToSpace = (data[3] & 32) ? data[4] % 40 : 0;
  s.topKinsoku = "\x81\x41\x81\x42\x81\x45)!,.";
  s.bottomKinsoku = "\x81\x69([";
  const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
  const std::vector<std::string> lines = ShapeText(s, text);

  // The text as it should come out, apart from added CRs, margins and
  // indentation: compared on the bytes that are neither blanks nor CR, when
  // the margin is half-width blanks and no indentation is repeated.
  const bool compare = s.hankakuMargin && !s.autoMarginSync;
  std::string want;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x1A) break;
    if (c == '\r' || c == 0 || c == ' ' || c == '\n') continue;
    if (c == '\t' && s.tabToSpace > 0) continue;
    want.push_back(static_cast<char>(c));
  }
  std::string got;
  const int widest = s.screenWidth;
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string& l = lines[n];
    if (l.empty()) Fail("an empty line", data, size);
    if (n + 1 < lines.size() && l.back() != '\r') Fail("a line without CR", data, size);
    int col = 0;
    for (size_t i = 0; i < l.size(); ++i) {
      const auto c = static_cast<unsigned char>(l[i]);
      if (c == '\r') {
        if (i + 1 != l.size()) Fail("a CR inside a line", data, size);
        continue;
      }
      if (c != ' ') got.push_back(static_cast<char>(c));
      col += c == '\t' ? 8 : 1;
    }
    // Margin (at most the screen, twice for full-width), indentation (at
    // most a line), the text and two hanging marks.
    if (col > 2 * widest + 2 * (widest + 8) + widest + 8 + 4) Fail("a line too wide", data, size);
  }
  if (compare && got != want) Fail("the text changed", data, size);
  return 0;
}
