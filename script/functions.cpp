#include "script/functions.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/scriptname.h"
#include "script/value.h"

namespace fs = std::filesystem;

namespace scriptfn {

namespace {

constexpr size_t kMaxText = 1024;

// The width of the character at i: 2 for a lead byte with a byte after it.
inline size_t CharWidth(std::string_view s, size_t i) {
  return jcode::IsKanji1(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Code 0x20 + index of the full-width pair (a, b), or -1.
int HankakuOf(unsigned char a, unsigned char b) {
  // The table's pairs are few and fixed: an index by the two bytes, built once.
  static const auto index = [] {
    struct Index {
      signed char of[2][256];
    } ix;
    std::memset(ix.of, -1, sizeof ix.of);
    for (int i = 0; i < 95; ++i) {
      const unsigned char l = static_cast<unsigned char>(kZenkakuTable[2 * i]);
      const unsigned char t = static_cast<unsigned char>(kZenkakuTable[2 * i + 1]);
      ix.of[l - 0x81][t] = static_cast<signed char>(i);
    }
    return ix;
  }();
  if (a != 0x81 && a != 0x82) return -1;
  return index.of[a - 0x81][b];
}

}  // namespace

bool WildMatch(std::string_view pat, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pat.size()) {
      const size_t pw = CharWidth(pat, p), nw = CharWidth(name, n);
      bool same;
      if (pw == 1 && pat[p] == '?')
        same = true;
      else if (pw != nw)
        same = false;
      else if (pw == 1)
        same = AsciiLower(pat[p]) == AsciiLower(name[n]);
      else
        same = pat.compare(p, 2, name, n, 2) == 0;
      if (same) {
        p += pw;
        n += nw;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP;  // let the last "*" take one more character
    starN += CharWidth(name, starN);
    n = starN;
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

bool HasWildcard(std::string_view s) {
  for (size_t i = 0; i < s.size(); i += CharWidth(s, i))
    if (s[i] == '*' || s[i] == '?') return true;
  return false;
}

namespace {

int64_t RegularSize(const fs::path& p) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec)) return -1;
  const auto size = fs::file_size(p, ec);
  if (ec) return -1;
  return static_cast<int64_t>(std::min<uintmax_t>(size, static_cast<uintmax_t>(INT64_MAX)));
}

int32_t Saturate(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

int32_t RandomNumber() {
  static std::minstd_rand engine{std::random_device{}()};
  return static_cast<int32_t>(engine() % 32768u);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace

const char kZenkakuTable[95 * 2 + 1] =
    "\x81\x40\x81\x49\x81\x68\x81\x94\x81\x90\x81\x93\x81\x95\x81\x66"  //   ! " # $ % & '
    "\x81\x69\x81\x6a\x81\x96\x81\x7b\x81\x43\x81\x7c\x81\x44\x81\x5e"  // ( ) * + , - . /
    "\x82\x4f\x82\x50\x82\x51\x82\x52\x82\x53\x82\x54\x82\x55\x82\x56"  // 0-7
    "\x82\x57\x82\x58\x81\x46\x81\x47\x81\x83\x81\x81\x81\x84\x81\x48"  // 8 9 : ; < = > ?
    "\x81\x97\x82\x60\x82\x61\x82\x62\x82\x63\x82\x64\x82\x65\x82\x66"  // @ A-G
    "\x82\x67\x82\x68\x82\x69\x82\x6a\x82\x6b\x82\x6c\x82\x6d\x82\x6e"  // H-O
    "\x82\x6f\x82\x70\x82\x71\x82\x72\x82\x73\x82\x74\x82\x75\x82\x76"  // P-W
    "\x82\x77\x82\x78\x82\x79\x81\x6d\x81\x8f\x81\x6e\x81\x4f\x81\x51"  // X Y Z [ \ ] ^ _
    "\x81\x65\x82\x81\x82\x82\x82\x83\x82\x84\x82\x85\x82\x86\x82\x87"  // ` a-g
    "\x82\x88\x82\x89\x82\x8a\x82\x8b\x82\x8c\x82\x8d\x82\x8e\x82\x8f"  // h-o
    "\x82\x90\x82\x91\x82\x92\x82\x93\x82\x94\x82\x95\x82\x96\x82\x97"  // p-w
    "\x82\x98\x82\x99\x82\x9a\x81\x6f\x81\x62\x81\x70\x81\x50";         // x y z { | } ~

int ArgumentCount(uint8_t a) {
  switch (a) {
    case atom::PART: return 3;
    case atom::SEARCH:
    case atom::DROP:
    case atom::SEARCHBACK:
    case atom::DROPBACK: return 2;
    default: return 1;
  }
}

std::string_view Part(std::string_view s, int32_t start, int32_t length) {
  const size_t from = start < 0 ? 0 : static_cast<size_t>(start);
  if (from >= s.size() || length <= 0) return {};
  return s.substr(from, static_cast<size_t>(length));
}

// The byte offsets where t occurs, found with memmem, one after another;
// a hit that begins on a trail byte is passed over.  The walk over the
// character starts only moves forward, so a search costs one pass.
class MATCHES {
 public:
  MATCHES(std::string_view s, std::string_view t) : s_(s), t_(t) {}
  size_t Next() {
    if (t_.empty()) return std::string_view::npos;
    while (from_ + t_.size() <= s_.size()) {
      const void* hit = memmem(s_.data() + from_, s_.size() - from_, t_.data(), t_.size());
      if (!hit) break;
      const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - s_.data());
      WalkTo(at);
      from_ = at + 1;
      if (boundary_ == at) return at;
    }
    from_ = s_.size();
    return std::string_view::npos;
  }

 private:
  // Moves the known character start to `at` or just past it.  Bytes below
  // 0x80 are never lead bytes, so eight of them at once are eight
  // characters.
  void WalkTo(size_t at) {
    while (boundary_ < at) {
      if (at - boundary_ >= 8) {
        uint64_t word;
        std::memcpy(&word, s_.data() + boundary_, 8);
        if ((word & 0x8080808080808080ull) == 0) {
          boundary_ += 8;
          continue;
        }
      }
      boundary_ += CharWidth(s_, boundary_);
    }
  }

  std::string_view s_, t_;
  size_t from_ = 0, boundary_ = 0;
};

size_t FindFirst(std::string_view s, std::string_view t) { return MATCHES(s, t).Next(); }

size_t FindLast(std::string_view s, std::string_view t) {
  // Every match at a character start in turn; the last one wins, so a match
  // on a trail byte can never be reported.
  MATCHES m(s, t);
  size_t found = std::string_view::npos;
  for (size_t at = m.Next(); at != std::string_view::npos; at = m.Next()) found = at;
  return found;
}

std::string ToHankaku(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size() && out.size() < kMaxText;) {
    const size_t w = CharWidth(s, i);
    if (w == 2) {
      const int h = HankakuOf(static_cast<unsigned char>(s[i]), static_cast<unsigned char>(s[i + 1]));
      if (h >= 0) {
        out += static_cast<char>(0x20 + h);
      } else {
        if (out.size() + 2 > kMaxText) break;
        out.append(s.data() + i, 2);
      }
    } else {
      out += s[i];
    }
    i += w;
  }
  return out;
}

std::string ToZenkaku(std::string_view s) {
  std::string out;
  out.reserve(std::min(kMaxText, 2 * s.size()));
  for (size_t i = 0; i < s.size();) {
    const size_t w = CharWidth(s, i);
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool ascii = w == 1 && c >= 0x20 && c <= 0x7E;
    const size_t add = ascii ? 2 : w;
    if (out.size() + add > kMaxText) break;  // never half a character
    if (ascii)
      out.append(kZenkakuTable + 2 * (c - 0x20), 2);
    else
      out.append(s.data() + i, w);
    i += w;
  }
  return out;
}

std::string ToUpper(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); i += CharWidth(out, i))
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
  return out;
}

std::string ToLower(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); i += CharWidth(out, i)) out[i] = AsciiLower(out[i]);
  return out;
}

int64_t FirstMatchSize(std::string_view sjisPath, const std::string& dir) {
  if (sjisPath.empty()) return -1;
  // A name whose bytes are not all Shift_JIS would be changed on the way to
  // a file name: it names no file.
  const std::string utf8 = jcode::SjisToUtf8(sjisPath);
  if (jcode::Utf8ToSjis(utf8) != sjisPath) return -1;
  fs::path path(ScriptNameToPath(sjisPath));
  if (path.is_relative() && !dir.empty()) path = fs::path(dir) / path;
  const std::string base = path.filename().string();
  if (base.empty()) return -1;
  if (!HasWildcard(sjisPath)) {
    const int64_t exact = RegularSize(path);
    if (exact >= 0) return exact;
  }
  const std::string pattern = jcode::Utf8ToSjis(base);
  const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
  // The first match in name order, so the answer does not depend on the
  // order the directory happens to list.
  std::string bestName;
  int64_t bestSize = -1;
  std::error_code ec;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::string sjisName = jcode::Utf8ToSjis(name);
    if (jcode::SjisToUtf8(sjisName) != name) continue;  // a script cannot name it
    const bool matches = pattern == "*.*" ? true : WildMatch(pattern, sjisName);
    if (!matches || (bestSize >= 0 && name >= bestName)) continue;
    const int64_t size = RegularSize(it->path());
    if (size < 0) continue;
    bestName = name;
    bestSize = size;
  }
  return bestSize;
}

bool CallFunction(uint8_t a, const SCRIPTVALUE* args, const EVALCONTEXT& ctx, SCRIPTVALUE& out) {
  switch (a) {
    case atom::LENGTH: out.SetNumber(static_cast<int32_t>(args[0].Text().size())); return true;
    case atom::VALUE: out.SetNumber(args[0].AsNumber()); return true;
    case atom::PART: {
      out.SetString(Part(args[0].Text(), args[1].AsNumber(), args[2].AsNumber()));
      return true;
    }
    case atom::SEARCH:
    case atom::DROP:
    case atom::SEARCHBACK:
    case atom::DROPBACK: {
      const std::string& s = args[0].Text();
      const std::string& t = args[1].Text();
      const bool back = a == atom::SEARCHBACK || a == atom::DROPBACK;
      const size_t at = back ? FindLast(s, t) : FindFirst(s, t);
      const bool from = a == atom::SEARCH || a == atom::SEARCHBACK;
      if (at == std::string_view::npos)
        out.SetString(from ? std::string_view() : std::string_view(s));
      else
        out.SetString(from ? std::string_view(s).substr(at) : std::string_view(s).substr(0, at));
      return true;
    }
    case atom::TOHANKAKU: out.SetString(ToHankaku(args[0].Text())); return true;
    case atom::TOZENKAKU: out.SetString(ToZenkaku(args[0].Text())); return true;
    case atom::TOUPPER: out.SetString(ToUpper(args[0].Text())); return true;
    case atom::TOLOWER: out.SetString(ToLower(args[0].Text())); return true;
    case atom::EXISTFILE:
    case atom::FILESIZE:
    case atom::FILESIZE2: {
      const int64_t size = FirstMatchSize(args[0].Text(), ctx.directory ? ctx.directory() : std::string());
      if (a == atom::EXISTFILE)
        out.SetTruth(size >= 0);
      else
        out.SetNumber(size < 0 ? 0 : Saturate(a == atom::FILESIZE ? size / 1024 : size));
      return true;
    }
    case atom::KEYSTATE: out.SetNumber(ctx.keyDown && ctx.keyDown(args[0].AsNumber()) ? 1 : 0); return true;
    case atom::STATE: {
      const std::string& name = args[0].Text();
      if (EqualNoCase(name, "random")) {
        out.SetNumber(RandomNumber());
      } else if (EqualNoCase(name, "active")) {
        out.SetNumber(ctx.active && ctx.active() ? 1 : 0);
      } else if (EqualNoCase(name, "selecting") || EqualNoCase(name, "seltopx") || EqualNoCase(name, "selbottomx") ||
                 EqualNoCase(name, "seltopy") || EqualNoCase(name, "selbottomy")) {
        out.SetNumber(0);  // no text selection can be made from the screen yet
      } else {
        return false;
      }
      return true;
    }
    default: return false;
  }
}

}  // namespace scriptfn
