#include "platform/jcode.h"

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include <cerrno>

namespace jcode {

int IsKanji2String(const char* start, const char* end) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(start);
  const unsigned char* e = reinterpret_cast<const unsigned char*>(end);
  while (p < e) p += IsKanji1(*p) ? 2 : 1;
  return p > e ? 1 : 0;
}

namespace {

// Runs iconv over the whole input; an invalid or unconvertible sequence is
// skipped (`skip` bytes of input) and `replacement` written in its place.
// One conversion descriptor per direction and thread, opened on first use:
// opening one costs far more than converting a line.
struct ICONVCACHE {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ICONVCACHE(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~ICONVCACHE() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

std::string Convert(iconv_t cd, std::string_view in, std::string_view replacement, bool skipDoubleOnLead) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  // Plain ASCII is the same in both codes.
  bool ascii = true;
  for (char c : in)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return std::string(in);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  std::string out;
  out.reserve(in.size() * 2 + 8);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated at the end): replace and step over.
      out.append(replacement);
      size_t skip = 1;
      if (skipDoubleOnLead && srcLeft >= 2 && IsKanji1(static_cast<unsigned char>(*src))) skip = 2;
      if (!skipDoubleOnLead) {
        // UTF-8: step over the offending byte and the continuation bytes
        // that belong to it, so the next character survives.
        while (skip < srcLeft && skip < 4 && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) ++skip;
      }
      src += skip;
      srcLeft -= skip;
    }
  }
  char* dst = buf;
  size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, static_cast<size_t>(dst - buf));
  return out;
}

}  // namespace

namespace {

// The UTF-8 of each Shift_JIS character, converted once and remembered:
// slots 0-255 for single bytes, 256 + (lead << 8 | trail) for pairs.  Four
// bytes a slot, so a slot is copied to the output in one move: up to three
// bytes of UTF-8 (every character of the code is in the BMP) and their
// count, 0 while not converted yet.  A code that is no character holds
// U+FFFD.
struct UTF8CHAR {
  char b[3];
  uint8_t n;
};
static_assert(sizeof(UTF8CHAR) == 4);

void FillUtf8Of(UTF8CHAR& u, const unsigned char* bytes, size_t len, iconv_t cd) {
  std::memcpy(u.b, "\xEF\xBF\xBD", 3);
  u.n = 3;
  if (cd == reinterpret_cast<iconv_t>(-1)) return;
  char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  size_t srcLeft = len;
  char out[8];
  char* dst = out;
  size_t dstLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0) {
    const size_t n = static_cast<size_t>(dst - out);
    if (n >= 1 && n <= 3) {
      std::memcpy(u.b, out, n);
      u.n = static_cast<uint8_t>(n);
    }
  }
}

}  // namespace

// Character by character through a table filled from iconv on first use of
// each code: the same result as converting the whole text with iconv (the
// code is stateless), without a conversion call per line.
size_t SjisToUtf8(const char* sjis, size_t n, char* out, bool blankControls) {
  thread_local ICONVCACHE toUtf8("UTF-8", "CP932");
  thread_local std::unique_ptr<UTF8CHAR[]> tableOwner(new UTF8CHAR[256 + 65536]());
  UTF8CHAR* const table = tableOwner.get();
  const auto* in = reinterpret_cast<const unsigned char*>(sjis);
  char* o = out;
  size_t i = 0;
  while (i < n) {
    if (in[i] < 0x80) {
      // Eight plain ASCII bytes at a time (no high bit, and with
      // blankControls nothing below 0x20 and no 0x7F).
      while (i + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, in + i, 8);
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
        uint64_t special = w & kHigh;
        if (blankControls) special |= ((w - kOnes * 0x20) | (w + kOnes)) & ~w & kHigh;
        if (special) break;
        std::memcpy(o, &w, 8);
        o += 8;
        i += 8;
      }
      if (i >= n) break;
      const unsigned char c = in[i];
      if (c < 0x80) {
        *o++ = blankControls && (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
        ++i;
        continue;
      }
    }
    // A run of double-byte characters with input left over after each:
    // the output has room for a whole slot (each input byte has three
    // output bytes, and no character takes more).  Written as a loop of
    // its own so the next character's position does not wait for this
    // one's bytes.
    while (i + 2 < n && IsKanji1(in[i])) {
      UTF8CHAR& u = table[256 + (size_t(in[i]) << 8 | in[i + 1])];
      if (u.n == 0) FillUtf8Of(u, in + i, 2, toUtf8.cd);
      std::memcpy(o, &u, 4);
      o += u.n;
      i += 2;
    }
    if (i >= n || in[i] < 0x80) continue;
    const unsigned char c = in[i];
    const bool pair = IsKanji1(c) && i + 1 < n;
    UTF8CHAR& u = table[pair ? 256 + (size_t(c) << 8 | in[i + 1]) : c];
    if (u.n == 0) FillUtf8Of(u, in + i, pair ? 2 : 1, toUtf8.cd);
    i += pair ? 2 : 1;
    if (i < n)
      std::memcpy(o, &u, 4);
    else
      std::memcpy(o, u.b, u.n);
    o += u.n;
  }
  return static_cast<size_t>(o - out);
}

std::string SjisToUtf8(std::string_view sjis) {
  std::string out(sjis.size() * 3, '\0');
  out.resize(SjisToUtf8(sjis.data(), sjis.size(), out.data()));
  return out;
}

std::string Utf8ToSjis(std::string_view utf8) {
  thread_local ICONVCACHE toSjis("CP932", "UTF-8");
  return Convert(toSjis.cd, utf8, "?", false);
}

}  // namespace jcode

const char* jstrchr(const char* s, int c) {
  const unsigned char want = static_cast<unsigned char>(c);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s);; ++p) {
    if (*p == want) return reinterpret_cast<const char*>(p);
    if (*p == 0) return nullptr;
    if (jcode::IsKanji1(*p)) {
      if (p[1] == 0) return want == 0 ? reinterpret_cast<const char*>(p + 1) : nullptr;
      ++p;
    }
  }
}

char* jstrchr(char* s, int c) { return const_cast<char*>(jstrchr(static_cast<const char*>(s), c)); }

char* ToUpper(char* s) {
  for (unsigned char* p = reinterpret_cast<unsigned char*>(s); *p; ++p) {
    if (jcode::IsKanji1(*p)) {
      if (p[1] == 0) break;
      ++p;
    } else if (*p >= 'a' && *p <= 'z') {
      *p = static_cast<unsigned char>(*p - 'a' + 'A');
    }
  }
  return s;
}
