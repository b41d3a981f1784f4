#include "script/varfile.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/atomicfile.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "script/value.h"

namespace varfile {

namespace {

const char kHex[] = "0123456789ABCDEF";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool WholePair(std::string_view s, size_t i) {
  return jcode::IsKanji1(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
         jcode::IsKanjiTrail(static_cast<unsigned char>(s[i + 1]));
}

void PutHex(std::string& out, unsigned char b) {
  out += "^0";
  out += kHex[b >> 4];
  out += kHex[b & 15];
}

// The escaped form; with name set, "=" is escaped too.
std::string Escape(std::string_view s, bool name) {
  std::string out;
  out.reserve(s.size() + s.size() / 8 + 4);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (WholePair(s, i)) {
      out.append(s.data() + i, 2);
      ++i;
    } else if (jcode::IsKanji1(b) || (name && b == '=')) {
      // A lead byte alone would take the next character (or the line end)
      // as its trail byte when read: written as a number instead.
      PutHex(out, b);
    } else if (b >= 1 && b <= 26) {
      out += '^';
      out += static_cast<char>(0x40 + b);
    } else if (b < 0x20) {
      PutHex(out, b);
    } else if (b == '^') {
      out += "^^";
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace

std::string EscapeText(std::string_view bytes) { return Escape(bytes, false); }

std::string DecodeCarets(std::string_view s, size_t limit, CARETS* info) {
  std::string out;
  out.reserve(std::min(s.size(), limit));
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (WholePair(s, i)) {
      if (out.size() + 2 > limit) break;
      out.append(s.data() + i, 2);
      i += 2;
      continue;
    }
    if (out.size() + 1 > limit) break;
    if (b != '^' || i + 1 >= s.size()) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    const char c = s[i + 1];
    const bool first = info && !info->escaped;
    if (info) info->escaped = true;
    if (c == '0' && i + 3 < s.size() && HexDigit(s[i + 2]) >= 0 && HexDigit(s[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
      i += 4;
      continue;
    }
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      if (first && (c == 'M' || c == 'm')) {
        info->crFirst = true;
        info->crAt = out.size();
      }
      out += static_cast<char>(c & 0x1F);
    } else {
      out += c;  // "^^" and a caret before anything else
    }
    i += 2;
  }
  return out;
}

std::string EncodeSecret(std::string_view bytes, std::mt19937& random) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    const unsigned r = random();
    unsigned c1, c2;
    if (b < 0x20) {
      // Bits 0x60 mark a control byte; 0x7F (all low bits set) is avoided.
      c1 = 0x60 | (r % 31);
      c2 = b + 0x40u;
    } else {
      c1 = ((b >> 5) & 3) + 4 * (r & 7) + ((b & 0x80) ? 64 : 32);
      c2 = (b & 31) * 2 + ((r >> 3) & 0x01) + ((r >> 4) & 0x40);
      if (c2 == 0x7F) c2 = 0x3F;  // the same byte when read
      if (c2 < 32) c2 += 64;
    }
    out += static_cast<char>(c1);
    out += static_cast<char>(c2);
  }
  return out;
}

std::string DecodeSecret(std::string_view s, size_t limit) {
  std::string out;
  out.reserve(std::min(s.size() / 2, limit));
  for (size_t i = 0; i + 1 < s.size() && out.size() < limit; i += 2) {
    const auto c1 = static_cast<unsigned char>(s[i]);
    const auto c2 = static_cast<unsigned char>(s[i + 1]);
    unsigned b;
    if ((c1 & 0x60) == 0x60) {
      b = (c2 - 0x40u) & 0xFF;
    } else {
      b = (c1 & 3) * 32 + ((c2 >> 1) & 31);
      if ((c1 & 0x60) == 0x40) b += 128;
    }
    out += static_cast<char>(b);
  }
  // Never end on half a double-byte character.
  if (out.size() >= limit) {
    const std::string_view cut = CutSjis(out, limit);
    out.resize(cut.size());
  }
  return out;
}

std::vector<LINE> Parse(std::string_view text, REPORT* report) {
  std::vector<LINE> lines;
  int number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(at, end - at);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    at = next;
    ++number;
    LINE l;
    l.raw.assign(raw);
    const size_t eq = raw.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      l.name = UnescapeText(raw.substr(0, eq), 64 * 1024);
      const std::string_view v = raw.substr(eq + 1);
      const bool numeric = !l.name.empty() && (l.name[0] == '#' || l.name[0] == '@');
      if (!l.name.empty() && !numeric) {
        l.value = IsSecretName(l.name) ? DecodeSecret(v) : UnescapeText(v);
        l.good = true;
      }
    }
    if (!l.good) {
      l.name.clear();
      l.value.clear();
      if (raw.empty()) continue;  // blank lines are nothing, not damage
      if (report && report->badLines++ == 0) report->firstBadLine = number;
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string FormatLine(std::string_view storedName, std::string_view value, std::mt19937& random) {
  std::string line = Escape(storedName, true);
  line += '=';
  line += IsSecretName(storedName) ? EncodeSecret(value, random) : EscapeText(value);
  return line;
}

bool Apply(const std::string& path, const std::vector<CHANGE>& changes, std::string* error) {
  if (changes.empty()) return true;
  MakeDirs(DirName(path));
  FileLock lock(path + ".lock");
  std::string text;
  bool missing = false;
  if (!ReadFileBytes(path, text, &missing) && !missing) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::unordered_map<std::string, const std::optional<std::string>*> want;
  for (const CHANGE& c : changes) want[c.first] = &c.second;  // the last change of a name counts
  std::random_device seed;
  std::mt19937 random(seed());
  std::unordered_set<std::string> done;
  std::string out;
  out.reserve(text.size() + changes.size() * 32);
  for (const LINE& l : Parse(text)) {
    auto it = l.good ? want.find(l.name) : want.end();
    if (it == want.end()) {
      out += l.raw;
      out += "\r\n";
      continue;
    }
    if (done.count(l.name)) continue;  // an older duplicate of a changed name
    done.insert(l.name);
    if (*it->second && !(*it->second)->empty()) {
      out += FormatLine(l.name, **it->second, random);
      out += "\r\n";
    }
  }
  for (const CHANGE& c : changes) {
    if (done.count(c.first)) continue;
    done.insert(c.first);
    const std::optional<std::string>& v = *want[c.first];
    if (v && !v->empty()) {
      out += FormatLine(c.first, *v, random);
      out += "\r\n";
    }
  }
  return ReplaceFileAtomically(path, out, 0600, error);
}

bool Load(const std::string& path, std::vector<std::pair<std::string, std::string>>& out, REPORT* report,
          std::string* error) {
  out.clear();
  std::string text;
  bool missing = false;
  if (!ReadFileBytes(path, text, &missing)) {
    if (missing) return true;
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::unordered_set<std::string> seen;
  for (LINE& l : Parse(text, report)) {
    if (!l.good || l.value.empty() || !seen.insert(l.name).second) continue;
    out.emplace_back(std::move(l.name), std::move(l.value));
  }
  return true;
}

std::string DefaultPath() { return DataDir() + "/Variable.txt"; }

}  // namespace varfile
