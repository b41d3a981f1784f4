#include "stock/tagtext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/jcode.h"

namespace {

// ---- values ----

const char kHexDigits[] = "0123456789ABCDEF";

void PutPercent(unsigned char c, std::string* out) {
  out->push_back('%');
  out->push_back(kHexDigits[c >> 4]);
  out->push_back(kHexDigits[c & 15]);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex(const unsigned char* b, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kHexDigits[b[i] >> 4]);
    s.push_back(kHexDigits[b[i] & 15]);
  }
  return s;
}

bool ParseHex(const std::string& text, std::string* bytes) {
  bytes->clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    int v = HexValue(c);
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      bytes->push_back(char(high * 16 + v));
      high = -1;
    }
  }
  return high < 0;
}

// Bytes of a field up to its last non-zero byte.
size_t Trimmed(const unsigned char* b, size_t n) {
  while (n > 0 && b[n - 1] == 0) --n;
  return n;
}

}  // namespace

std::string EncodeTagValue(const std::string& s) {
  std::string out;
  size_t lead = 0, trail = s.size();
  while (lead < s.size() && s[lead] == ' ') ++lead;
  while (trail > lead && s[trail - 1] == ' ') --trail;
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (jcode::IsKanji1(c) && i + 1 < s.size() && jcode::IsKanjiTrail(static_cast<unsigned char>(s[i + 1]))) {
      std::string two = s.substr(i, 2);
      std::string u = jcode::SjisToUtf8(two);
      if (u != "\xEF\xBF\xBD" && jcode::Utf8ToSjis(u) == two) {
        out += u;
      } else {
        PutPercent(c, &out);
        PutPercent(static_cast<unsigned char>(s[i + 1]), &out);
      }
      i += 2;
      continue;
    }
    if (c == ' ' && (i < lead || i >= trail)) {
      PutPercent(c, &out);
    } else if (c < 0x20 || c == 0x7F || c == '%') {
      PutPercent(c, &out);
    } else if (c < 0x80) {
      out.push_back(char(c));
    } else if (jcode::IsHankakuKana(c)) {
      out += jcode::SjisToUtf8(s.substr(i, 1));
    } else {
      PutPercent(c, &out);
    }
    ++i;
  }
  return out;
}

bool DecodeTagValue(const std::string& text, std::string* sjis, std::string* error) {
  sjis->clear();
  std::string run;
  auto flush = [&]() -> bool {
    if (run.empty()) return true;
    std::string s = jcode::Utf8ToSjis(run);
    if (std::count(s.begin(), s.end(), '?') != std::count(run.begin(), run.end(), '?')) {
      *error = "Shift_JISにない文字があります";
      return false;
    }
    *sjis += s;
    run.clear();
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      run.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) {
      *error = "%の後に16進数2桁がありません";
      return false;
    }
    int h = HexValue(text[i + 1]), l = HexValue(text[i + 2]);
    if (h < 0 || l < 0) {
      *error = "%の後に16進数2桁がありません";
      return false;
    }
    if (!flush()) return false;
    sjis->push_back(char(h * 16 + l));
    i += 2;
  }
  return flush();
}

namespace {

// ---- record fields ----

enum Kind { STRING, BYTE, TWO_BYTES, U32, TEMPLATE, RAW };

struct Field {
  const char* key;
  size_t offset, size;
  Kind kind;
  bool derived;
};

const Field kRuleFields[] = {
    {"name", 0, 50, STRING, false},          {"level", 50, 1, BYTE, false},
    {"pattern", 51, 200, STRING, false},     {"variable", 251, 1, BYTE, false},
    {"exit", 252, 99, STRING, false},        {"covers", 351, 1, BYTE, false},
    {"b352", 352, 1, BYTE, false},           {"title-lines", 353, 1, BYTE, true},
    {"pattern-lines", 354, 1, BYTE, true},   {"b355", 355, 1, BYTE, false},
    {"alternative", 356, 1, BYTE, false},    {"message", 357, 1, BYTE, false},
    {"options", 358, 2, TWO_BYTES, false},   {"runtime", 360, 4, U32, false},
    {"title", 364, 120, TEMPLATE, false},    {"library", 484, 200, STRING, true},
};

const Field kMessageFields[] = {
    {"kind", 0, 1, BYTE, false},        {"number", 1, 50, TEMPLATE, false},  {"has-date", 51, 1, BYTE, false},
    {"date", 52, 50, TEMPLATE, false},  {"has-parent", 102, 1, BYTE, false}, {"parent", 103, 50, TEMPLATE, false},
    {"up-arrow", 153, 1, BYTE, false},  {"unused", 154, 80, RAW, false},
};

// The derived fields of a rule from its pattern and title.
void Derive(TAGPROP* r) {
  char pattern[sizeof r->szPattern + 1] = {};
  std::memcpy(pattern, r->szPattern, sizeof r->szPattern);
  r->cPatternLine = uint8_t(std::min(CountCR(pattern) + 1, 255));
  std::string lib = RemoveTitleMarks(pattern);
  std::memset(r->szLibPattern, 0, sizeof r->szLibPattern);
  std::memcpy(r->szLibPattern, lib.data(), std::min(lib.size(), sizeof r->szLibPattern - 1));
  int reach = TitleLineReach(r->abTitle, sizeof r->abTitle);
  r->cTitleLine = uint8_t(reach < 0 ? 0xFF : reach);
}

TAGPROP DefaultRule() {
  TAGPROP r;
  std::memset(&r, 0, sizeof r);
  r.cCover = 1;
  r.bOldTitle = 0xFF;
  r.b355 = 0xFF;
  return r;
}

// The empty syntax's records that stand for the file's records 0 to 2.
TAGPROP SystemRecord(int k) {
  static std::vector<TAGPROP> records;
  if (records.empty()) {
    // The records Create makes, without touching the live syntax.
    TAGPROP r;
    const char* names[] = {"(sys)何もなし", "(sys)カラーの続き", "(sys)接続開始"};
    for (const char* n : names) {
      std::memset(&r, 0, sizeof r);
      std::string s = jcode::Utf8ToSjis(n);
      std::memcpy(r.szName, s.data(), s.size());
      r.cCover = 1;
      r.bOldTitle = 0xFF;
      r.cPatternLine = 1;
      r.b355 = 0xFF;
      records.push_back(r);
    }
  }
  return records[size_t(k)];
}

void DumpField(const Field& f, const unsigned char* rec, std::string* out) {
  const unsigned char* b = rec + f.offset;
  std::string key = f.key;
  switch (f.kind) {
    case STRING: {
      size_t n = strnlen(reinterpret_cast<const char*>(b), f.size);
      *out += key + " = " + EncodeTagValue(std::string(reinterpret_cast<const char*>(b), n)) + "\n";
      if (n + 1 < f.size) {
        size_t t = Trimmed(b + n + 1, f.size - n - 1);
        if (t) *out += key + ".tail = " + Hex(b + n + 1, t) + "\n";
      }
      break;
    }
    case BYTE: *out += key + " = " + std::to_string(b[0]) + "\n"; break;
    case TWO_BYTES: *out += key + " = " + std::to_string(b[0]) + " " + std::to_string(b[1]) + "\n"; break;
    case U32: {
      uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
      *out += key + " = " + std::to_string(v) + "\n";
      break;
    }
    case TEMPLATE: {
      std::string text;
      if (DecompilesExactly(b, int(f.size)) && DecompileTitleTemplate(b, int(f.size), &text))
        *out += key + " = " + EncodeTagValue(text) + "\n";
      else
        *out += key + ":hex = " + Hex(b, Trimmed(b, f.size)) + "\n";
      break;
    }
    case RAW: {
      size_t t = Trimmed(b, f.size);
      if (t) *out += key + ":hex = " + Hex(b, t) + "\n";
      break;
    }
  }
}

// Writes the fields of a record; with a baseline only those that differ.
void DumpRecord(const Field* fields, size_t n, const unsigned char* rec, const unsigned char* baseline,
                std::string* out) {
  for (size_t i = 0; i < n; ++i) {
    const Field& f = fields[i];
    if (baseline && std::memcmp(rec + f.offset, baseline + f.offset, f.size) == 0) continue;
    DumpField(f, rec, out);
  }
}

void DumpRule(const TAGPROP& r, std::string* out) {
  // Derived fields only where they differ from what compiling derives.
  TAGPROP derived = r;
  Derive(&derived);
  const auto* rec = reinterpret_cast<const unsigned char*>(&r);
  const auto* der = reinterpret_cast<const unsigned char*>(&derived);
  for (const Field& f : kRuleFields) {
    if (f.derived && std::memcmp(rec + f.offset, der + f.offset, f.size) == 0) continue;
    DumpField(f, rec, out);
  }
}

int ProgramTag(int fileTag) { return fileTag >= 2 ? fileTag + 1 : fileTag; }

void DumpIndex(const INDEXPROP& d, bool programNumbers, std::string* out) {
  *out += "[index]\n";
  static const Field name = {"name", 0, 40, STRING, false};
  DumpField(name, reinterpret_cast<const unsigned char*>(&d), out);
  int listed = std::min<int>(d.cTag, TAG_MAX_INDEX_TAGS);
  *out += "tags =";
  for (int i = 0; i < listed; ++i) *out += " " + std::to_string(programNumbers ? d.aTag[i] : ProgramTag(d.aTag[i]));
  *out += "\n";
  if (d.cTag != listed) *out += "count = " + std::to_string(d.cTag) + "\n";
  size_t t = Trimmed(d.aTag + listed, size_t(TAG_MAX_INDEX_TAGS - listed));
  if (t) *out += "tags.tail = " + Hex(d.aTag + listed, t) + "\n";
}

void DumpMessage(const TAGAID& a, std::string* out) {
  *out += "[message]\n";
  DumpRecord(kMessageFields, std::size(kMessageFields), reinterpret_cast<const unsigned char*>(&a), nullptr, out);
}

std::string VersionText(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%04X", v);
  return b;
}

}  // namespace

std::string DumpTagText(const TAGFILEDATA& d) {
  std::string out = "quillnet-tag 1\n";
  out += "version = " + VersionText(d.header.dwVersion) + "\n";
  if (d.header.cOldRecord) out += "old-records = " + std::to_string(d.header.cOldRecord) + "\n";
  if (d.header.cOldSearch) out += "old-search = " + std::to_string(d.header.cOldSearch) + "\n";
  const auto* magic = reinterpret_cast<const unsigned char*>(d.header.szMagic);
  size_t m = strnlen(d.header.szMagic, sizeof d.header.szMagic);
  if (m + 1 < sizeof d.header.szMagic) {
    size_t t = Trimmed(magic + m + 1, sizeof d.header.szMagic - m - 1);
    if (t) out += "magic.tail = " + Hex(magic + m + 1, t) + "\n";
  }
  if (!d.trailing.empty())
    out += "trailing = " + Hex(reinterpret_cast<const unsigned char*>(d.trailing.data()), d.trailing.size()) + "\n";
  for (size_t k = 0; k < d.records.size(); ++k) {
    const TAGPROP& r = d.records[k];
    if (k < 3) {
      TAGPROP base = SystemRecord(int(k));
      if (std::memcmp(&r, &base, sizeof r) == 0) continue;
      out += "[system " + std::to_string(k) + "]\n";
      DumpRecord(kRuleFields, std::size(kRuleFields), reinterpret_cast<const unsigned char*>(&r),
                 reinterpret_cast<const unsigned char*>(&base), &out);
      continue;
    }
    out += "[rule]\n";
    DumpRule(r, &out);
  }
  for (const TAGAID& a : d.aids) DumpMessage(a, &out);
  for (const INDEXPROP& x : d.indexes) DumpIndex(x, false, &out);
  if (!d.comment.empty()) out += "[comment]\ntext = " + EncodeTagValue(d.comment) + "\n";
  return out;
}

std::string DumpLoadedSyntax() {
  std::string out = "quillnet-tag 1\n# as loaded: program tag numbers, not for compiling\n";
  out += "version = " + VersionText(TAGFILE_VERSION) + "\n";
  for (int t = 0; t < tagarray.Count(); ++t) {
    out += "[rule]\ntag = " + std::to_string(t) + "\naftag = " + std::to_string(afTag[t & 255]) + "\n";
    DumpRecord(kRuleFields, std::size(kRuleFields), reinterpret_cast<const unsigned char*>(tagarray.GetItem(t)),
               nullptr, &out);
  }
  for (int k = 0; k < aidarray.Count(); ++k) DumpMessage(*aidarray.GetItem(k), &out);
  for (int k = 0; k < indexarray.FromSyntax(); ++k) DumpIndex(*indexarray.GetItem(k), true, &out);
  std::string comment;
  if (!TAGMAKER::szTagFile.empty() && TAGMAKER::GetCommentText(TAGMAKER::szTagFile, &comment))
    out += "[comment]\ntext = " + EncodeTagValue(comment) + "\n";
  return out;
}

// ---------------------------------------------------------------------------
// Compiling

namespace {

struct Section {
  std::string name;  // "rule", "system 0", "message", "index", "comment", "" (top)
  int line = 0;
  std::map<std::string, std::pair<std::string, int>> keys;  // key -> (value, line)
};

class TextCompiler {
 public:
  std::string error;

  bool Fail(int line, const std::string& why) {
    error = "line " + std::to_string(line) + ": " + why;
    return false;
  }

  bool Number(const Section& s, const std::string& key, long lo, long hi, long* v) {
    auto it = s.keys.find(key);
    if (it == s.keys.end()) return true;
    const std::string& t = it->second.first;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(t.c_str(), &end, 0);
    if (t.empty() || *end != '\0' || errno || n < lo || n > hi)
      return Fail(it->second.second, key + ": " + std::to_string(lo) + "から" + std::to_string(hi) + "の数が必要です");
    *v = n;
    return true;
  }

  // Sets one field from the section's keys; *given tells whether any key
  // for it was present.
  bool SetField(const Section& s, const Field& f, unsigned char* rec, bool* given) {
    unsigned char* b = rec + f.offset;
    std::string key = f.key;
    auto it = s.keys.find(key);
    auto hex = s.keys.find(key + ":hex");
    auto tail = s.keys.find(key + ".tail");
    *given = it != s.keys.end() || hex != s.keys.end() || tail != s.keys.end();
    switch (f.kind) {
      case STRING: {
        if (it == s.keys.end() && tail == s.keys.end()) return true;
        std::string v, why;
        if (it != s.keys.end() && !DecodeTagValue(it->second.first, &v, &why)) return Fail(it->second.second, key + ": " + why);
        if (v.find('\0') != std::string::npos) return Fail(it->second.second, key + ": %00は使えません");
        std::string t;
        if (tail != s.keys.end() && !ParseHex(tail->second.first, &t))
          return Fail(tail->second.second, key + ".tail: 16進数が必要です");
        if (v.size() > f.size || (!t.empty() && v.size() + 1 + t.size() > f.size))
          return Fail(it != s.keys.end() ? it->second.second : tail->second.second,
                      key + ": " + std::to_string(f.size) + "バイトに入りません");
        std::memset(b, 0, f.size);
        std::memcpy(b, v.data(), v.size());
        if (!t.empty()) std::memcpy(b + v.size() + 1, t.data(), t.size());
        return true;
      }
      case BYTE: {
        long v = b[0];
        if (!Number(s, key, 0, 255, &v)) return false;
        b[0] = uint8_t(v);
        return true;
      }
      case TWO_BYTES: {
        if (it == s.keys.end()) return true;
        unsigned a = 0, c = 0;
        char extra = 0;
        if (std::sscanf(it->second.first.c_str(), "%u %u %c", &a, &c, &extra) != 2 || a > 255 || c > 255)
          return Fail(it->second.second, key + ": 0から255の数が2つ必要です");
        b[0] = uint8_t(a);
        b[1] = uint8_t(c);
        return true;
      }
      case U32: {
        long v = 0;
        if (it == s.keys.end()) return true;
        if (!Number(s, key, 0, 0xFFFFFFFFL, &v)) return false;
        for (int i = 0; i < 4; ++i) b[i] = uint8_t(uint32_t(v) >> (8 * i));
        return true;
      }
      case TEMPLATE:
      case RAW: {
        if (hex != s.keys.end()) {
          std::string bytes;
          if (!ParseHex(hex->second.first, &bytes) || bytes.size() > f.size)
            return Fail(hex->second.second, key + ":hex: " + std::to_string(f.size) + "バイトまでの16進数が必要です");
          std::memset(b, 0, f.size);
          std::memcpy(b, bytes.data(), bytes.size());
          return true;
        }
        if (it == s.keys.end() || f.kind == RAW) return true;
        std::string v, why;
        if (!DecodeTagValue(it->second.first, &v, &why)) return Fail(it->second.second, key + ": " + why);
        TITLECOMPILE c = CompileTitleTemplate(v, b, int(f.size), nullptr, &why);
        if (c != TITLE_COMPILED) return Fail(it->second.second, key + ": " + why);
        return true;
      }
    }
    return true;
  }

  bool CheckKeys(const Section& s, const Field* fields, size_t n, std::initializer_list<const char*> more) {
    for (auto& [key, v] : s.keys) {
      bool known = false;
      for (size_t i = 0; i < n && !known; ++i) {
        std::string k = fields[i].key;
        known = key == k || (fields[i].kind == STRING && key == k + ".tail") ||
                ((fields[i].kind == TEMPLATE || fields[i].kind == RAW) && key == k + ":hex");
      }
      for (const char* m : more) known = known || key == m;
      if (!known) return Fail(v.second, "知らないキー " + key);
    }
    return true;
  }

  bool Rule(const Section& s, bool system, int k, TAGFILEDATA* d) {
    if (s.keys.count("tag") || s.keys.count("aftag"))
      return Fail(s.line, "読み込んだ状態の出力はコンパイルできません");
    if (!CheckKeys(s, kRuleFields, std::size(kRuleFields), {})) return false;
    TAGPROP r = system ? SystemRecord(k) : DefaultRule();
    auto* rec = reinterpret_cast<unsigned char*>(&r);
    bool derivedGiven[3] = {false, false, false};  // title-lines, pattern-lines, library
    for (const Field& f : kRuleFields) {
      bool given = false;
      if (!SetField(s, f, rec, &given)) return false;
      if (f.derived) derivedGiven[f.offset == 353 ? 0 : f.offset == 354 ? 1 : 2] = given;
    }
    if (!system) {
      if (!s.keys.count("level")) return Fail(s.line, "levelがありません");
      if (r.level < 1 || r.level > 7) return Fail(s.keys.at("level").second, "level: 1から7の数が必要です");
      TAGPROP derived = r;
      Derive(&derived);
      if (!derivedGiven[0]) r.cTitleLine = derived.cTitleLine;
      if (!derivedGiven[1]) r.cPatternLine = derived.cPatternLine;
      if (!derivedGiven[2]) std::memcpy(r.szLibPattern, derived.szLibPattern, sizeof r.szLibPattern);
    }
    if (system) {
      while (d->records.size() < size_t(k)) d->records.push_back(SystemRecord(int(d->records.size())));
      if (size_t(k) != d->records.size()) return Fail(s.line, "[system " + std::to_string(k) + "]の位置が違います");
    } else {
      while (d->records.size() < 3) d->records.push_back(SystemRecord(int(d->records.size())));
    }
    d->records.push_back(r);
    return true;
  }

  bool Message(const Section& s, TAGFILEDATA* d) {
    if (!CheckKeys(s, kMessageFields, std::size(kMessageFields), {})) return false;
    TAGAID a;
    std::memset(&a, 0, sizeof a);
    for (const Field& f : kMessageFields) {
      bool given = false;
      if (!SetField(s, f, reinterpret_cast<unsigned char*>(&a), &given)) return false;
    }
    d->aids.push_back(a);
    return true;
  }

  bool Index(const Section& s, TAGFILEDATA* d) {
    static const Field name = {"name", 0, 40, STRING, false};
    if (!CheckKeys(s, &name, 1, {"tags", "count", "tags.tail"})) return false;
    INDEXPROP x;
    std::memset(&x, 0, sizeof x);
    bool given = false;
    if (!SetField(s, name, reinterpret_cast<unsigned char*>(&x), &given)) return false;
    int listed = 0;
    if (auto it = s.keys.find("tags"); it != s.keys.end()) {
      const char* p = it->second.first.c_str();
      while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        char* end = nullptr;
        long t = std::strtol(p, &end, 10);
        if (end == p || (*end && *end != ' ') || t < 0 || t == 2 || t > 256)
          return Fail(it->second.second, "tags: 0, 1, 3から256のタグ番号が必要です");
        if (listed >= TAG_MAX_INDEX_TAGS) return Fail(it->second.second, "tags: 20個までです");
        x.aTag[listed++] = uint8_t(t >= 3 ? t - 1 : t);
        p = end;
      }
    }
    long count = listed;
    if (!Number(s, "count", 0, 255, &count)) return false;
    x.cTag = uint8_t(count);
    if (auto it = s.keys.find("tags.tail"); it != s.keys.end()) {
      std::string t;
      if (!ParseHex(it->second.first, &t) || size_t(listed) + t.size() > size_t(TAG_MAX_INDEX_TAGS))
        return Fail(it->second.second, "tags.tail: 入りません");
      std::memcpy(x.aTag + listed, t.data(), t.size());
    }
    d->indexes.push_back(x);
    return true;
  }

  bool Top(const Section& s, TAGFILEDATA* d) {
    for (auto& [key, v] : s.keys) {
      if (key != "version" && key != "old-records" && key != "old-search" && key != "magic.tail" && key != "trailing")
        return Fail(v.second, "知らないキー " + key);
    }
    long version = TAGFILE_VERSION, oldRecords = 0, oldSearch = 0;
    if (!Number(s, "version", TAGFILE_VERSION, TAGFILE_VERSION, &version) || !Number(s, "old-records", 0, 65535, &oldRecords) ||
        !Number(s, "old-search", 0, 65535, &oldSearch))
      return false;
    STOCKTAGFILEHEADER& h = d->header;
    std::memset(h.szMagic, 0, sizeof h.szMagic);
    std::memcpy(h.szMagic, TAGFILE_MAGIC, sizeof TAGFILE_MAGIC);
    h.dwVersion = uint32_t(version);
    h.cOldRecord = uint16_t(oldRecords);
    h.cOldSearch = uint16_t(oldSearch);
    if (auto it = s.keys.find("magic.tail"); it != s.keys.end()) {
      std::string t;
      size_t room = sizeof h.szMagic - sizeof TAGFILE_MAGIC;
      if (!ParseHex(it->second.first, &t) || t.size() > room) return Fail(it->second.second, "magic.tail: 入りません");
      std::memcpy(h.szMagic + sizeof TAGFILE_MAGIC, t.data(), t.size());
    }
    if (auto it = s.keys.find("trailing"); it != s.keys.end() && !ParseHex(it->second.first, &d->trailing))
      return Fail(it->second.second, "trailing: 16進数が必要です");
    return true;
  }

  bool Comment(const Section& s, TAGFILEDATA* d) {
    for (auto& [key, v] : s.keys)
      if (key != "text") return Fail(v.second, "知らないキー " + key);
    auto it = s.keys.find("text");
    if (it == s.keys.end()) return true;
    std::string why;
    if (!DecodeTagValue(it->second.first, &d->comment, &why)) return Fail(it->second.second, "text: " + why);
    if (d->comment.size() > 65535) return Fail(it->second.second, "text: 長すぎます");
    return true;
  }

  bool Finish(const Section& s, TAGFILEDATA* d) {
    if (s.name.empty()) return Top(s, d);
    if (s.name == "rule") return Rule(s, false, 0, d);
    if (s.name.rfind("system ", 0) == 0) {
      std::string n = s.name.substr(7);
      if (n != "0" && n != "1" && n != "2") return Fail(s.line, "知らない節 [" + s.name + "]");
      return Rule(s, true, n[0] - '0', d);
    }
    if (s.name == "message") return Message(s, d);
    if (s.name == "index") return Index(s, d);
    if (s.name == "comment") return Comment(s, d);
    return Fail(s.line, "知らない節 [" + s.name + "]");
  }
};

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

}  // namespace

bool CompileTagText(const std::string& text, TAGFILEDATA* d, std::string* error) {
  *d = TAGFILEDATA();
  TextCompiler c;
  Section cur;
  bool sawMagic = false;
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (!sawMagic) {
      if (t != "quillnet-tag 1") {
        *error = "line " + std::to_string(lineNo) + ": \"quillnet-tag 1\"で始まっていません";
        return false;
      }
      sawMagic = true;
      continue;
    }
    if (t[0] == '[') {
      if (t.back() != ']') return *error = "line " + std::to_string(lineNo) + ": ]がありません", false;
      if (!c.Finish(cur, d)) return *error = c.error, false;
      cur = Section();
      cur.name = t.substr(1, t.size() - 2);
      cur.line = lineNo;
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) return *error = "line " + std::to_string(lineNo) + ": =がありません", false;
    std::string key = Trim(t.substr(0, eq));
    if (cur.keys.count(key)) return *error = "line " + std::to_string(lineNo) + ": " + key + "が二度あります", false;
    cur.keys[key] = {Trim(t.substr(eq + 1)), lineNo};
  }
  if (!sawMagic) return *error = "line 1: \"quillnet-tag 1\"で始まっていません", false;
  if (!c.Finish(cur, d)) return *error = c.error, false;
  if (d->header.dwVersion == 0) {
    // No key before the first section: the top section was empty.
    std::memcpy(d->header.szMagic, TAGFILE_MAGIC, sizeof TAGFILE_MAGIC);
    d->header.dwVersion = TAGFILE_VERSION;
  }
  while (d->records.size() < 3) d->records.push_back(SystemRecord(int(d->records.size())));
  if (d->records.size() > 255) return *error = "記録が多すぎます（255個まで）", false;
  return true;
}
