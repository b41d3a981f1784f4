#include "platform/jcode.h"

#include <iconv.h>

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
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view replacement,
                    bool skipDoubleOnLead) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
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
  iconv_close(cd);
  return out;
}

}  // namespace

std::string SjisToUtf8(std::string_view sjis) { return Convert("UTF-8", "CP932", sjis, "\xEF\xBF\xBD", true); }

std::string Utf8ToSjis(std::string_view utf8) { return Convert("CP932", "UTF-8", utf8, "?", false); }

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
