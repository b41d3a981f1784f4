// Shift_JIS (CP932) helpers and every character-code conversion of the program.
//
// Shift_JIS is the program's text.  A lead byte is 0x81-0x9F or 0xE0-0xFF and
// takes the next byte with it; no operation here ever splits such a pair.
// JIS X 0208 <-> Shift_JIS is plain arithmetic (so user-defined and unassigned
// cells round-trip too); CP932 <-> UTF-8 goes through iconv and is used only at
// the Linux boundaries (painting, clipboard, settings file, dialogs).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jcode {

// Lead byte of a double-byte Shift_JIS character.
inline bool IsKanji1(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || c >= 0xE0; }
// Byte that may follow a lead byte.
inline bool IsKanjiTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
// Single-byte half-width katakana (and its punctuation).
inline bool IsHankakuKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// JIS X 0208 row/cell bytes (each 0x21-0x7E) to the Shift_JIS pair.  Bytes out
// of range give arithmetic garbage but never fault.
inline void JisToSjis(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2) {
  unsigned a = j1, b = j2;
  *s1 = static_cast<unsigned char>(((a + 1) >> 1) + (a <= 0x5E ? 0x70 : 0xB0));
  if (a & 1)
    *s2 = static_cast<unsigned char>(b + (b >= 0x60 ? 0x20 : 0x1F));
  else
    *s2 = static_cast<unsigned char>(b + 0x7E);
}

// Shift_JIS pair to JIS X 0208 bytes (inverse of JisToSjis on valid pairs).
inline void SjisToJis(unsigned char s1, unsigned char s2, unsigned char* j1, unsigned char* j2) {
  unsigned a = s1, b = s2;
  unsigned row = (a - (a >= 0xE0 ? 0xB0 : 0x70)) * 2;
  if (b >= 0x9F) {
    *j1 = static_cast<unsigned char>(row);
    *j2 = static_cast<unsigned char>(b - 0x7E);
  } else {
    *j1 = static_cast<unsigned char>(row - 1);
    *j2 = static_cast<unsigned char>(b - (b >= 0x80 ? 0x20 : 0x1F));
  }
}

// Whether `end` falls on the second byte of a double-byte character when the
// text is walked from `start`.  1 if so, else 0.
int IsKanji2String(const char* start, const char* end);

// CP932 text to UTF-8.  Bytes that are not CP932 become U+FFFD; nothing is lost
// silently in the sense that the length of the output never hides an error.
std::string SjisToUtf8(std::string_view sjis);
// The same into a caller's buffer of at least 3 * n bytes (no character of
// the code takes more); returns the bytes written.  With blankControls,
// single bytes below 0x20 and 0x7F come out as spaces (screen text).
size_t SjisToUtf8(const char* sjis, size_t n, char* out, bool blankControls = false);
// UTF-8 to CP932.  Characters without a CP932 form become '?'.
std::string Utf8ToSjis(std::string_view utf8);

}  // namespace jcode

// Shift_JIS-aware strchr: lead bytes skip their trail byte, so a trail byte
// never matches.  Returns null when c is not found (c == 0 finds the end).
const char* jstrchr(const char* s, int c);
char* jstrchr(char* s, int c);
// Upper-cases the ASCII letters of a NUL-terminated Shift_JIS string in place,
// leaving the trail bytes of double-byte characters alone.  Returns s.
char* ToUpper(char* s);
