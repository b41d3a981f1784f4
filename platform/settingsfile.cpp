#include "platform/settingsfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/atomicfile.h"
#include "platform/paths.h"

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsSpace(s.front()))) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted string at the start of s (s[0] == '"'); on success stores
// the text in out and returns the number of bytes used, else 0.
size_t ParseQuoted(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') return i + 1;
    if (c == 0) return 0;  // a registry string ends at its NUL: such a line is damaged
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
    out += c;
  }
  return 0;
}

// "01,02,ff" (possibly empty, blanks allowed around the bytes) -> bytes.
bool ParseHexBytes(std::string_view s, std::string& out) {
  out.clear();
  s = Trim(s);
  if (s.empty()) return true;
  for (;;) {
    s = Trim(s);
    if (s.size() < 2) return false;
    int hi = HexDigit(s[0]), lo = HexDigit(s[1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    s = Trim(s.substr(2));
    if (s.empty()) return true;
    if (s[0] != ',') return false;
    s.remove_prefix(1);
  }
}

bool Utf16LeToUtf8(const std::string& bytes, std::string& out) {
  if (bytes.size() % 2) return false;
  std::u16string u;
  for (size_t i = 0; i < bytes.size(); i += 2)
    u += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  while (!u.empty() && u.back() == 0) u.pop_back();
  if (u.find(char16_t(0)) != std::u16string::npos) return false;
  QByteArray utf8 = QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size())).toUtf8();
  out.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
  return true;
}

std::string Utf8ToUtf16Le(const std::string& text) {
  QString q = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  std::string out;
  for (QChar c : q) {
    out += static_cast<char>(c.unicode() & 0xFF);
    out += static_cast<char>(c.unicode() >> 8);
  }
  out += std::string(2, '\0');
  return out;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool NeedsHexForm(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 && c != '\t') return true;
  return false;
}

void AppendHex(std::string& out, size_t prefixLen, const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  size_t col = prefixLen;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
    col += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++col;
      if (col > 76) {  // wrapped as a registry export wraps long values
        out += "\\\n  ";
        col = 2;
      }
    }
  }
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

bool IsUnder(const std::string& key, const std::string& parent) {
  return key.size() > parent.size() && key.compare(0, parent.size(), parent) == 0 && key[parent.size()] == '\\';
}

}  // namespace

SETTINGSFILE::Tree SETTINGSFILE::Parse(std::string_view text, Report* report) {
  Tree tree;
  Report rep;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::string key;
  bool haveKey = false;
  int lineNo = 0;
  auto bad = [&](int n) {
    if (!rep.badLines++) rep.firstBadLine = n;
  };
  size_t pos = 0;
  auto nextLine = [&](std::string_view& line) {
    if (pos >= text.size()) return false;
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    return true;
  };
  std::string_view raw;
  while (nextLine(raw)) {
    const int first = lineNo;
    std::string_view line = Trim(raw);
    if (line.empty() || line[0] == ';' || line == kHeader || line == "REGEDIT4") continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
        bad(first);
        haveKey = false;
        continue;
      }
      key.assign(line.substr(1, line.size() - 2));
      haveKey = true;
      tree[key];
      continue;
    }
    if (!haveKey) {
      bad(first);
      continue;
    }
    std::string name;
    size_t used;
    if (line[0] == '@') {
      used = 1;
    } else if (line[0] == '"') {
      used = ParseQuoted(line, name);
      if (!used) {
        bad(first);
        continue;
      }
    } else {
      bad(first);
      continue;
    }
    std::string_view rest = Trim(line.substr(used));
    if (rest.empty() || rest[0] != '=') {
      bad(first);
      continue;
    }
    rest = Trim(rest.substr(1));
    Value v;
    bool ok = false;
    if (!rest.empty() && rest[0] == '"') {
      size_t n = ParseQuoted(rest, v.data);
      ok = n && Trim(rest.substr(n)).empty();
      v.type = T_SZ;
    } else if (rest.substr(0, 6) == "dword:") {
      std::string_view digits = rest.substr(6);
      ok = !digits.empty() && digits.size() <= 8;
      uint32_t d = 0;
      for (char c : digits) {
        int h = HexDigit(c);
        if (h < 0) ok = false;
        d = d << 4 | static_cast<uint32_t>(h < 0 ? 0 : h);
      }
      v.type = T_DWORD;
      v.dword = d;
    } else if (rest.substr(0, 3) == "hex") {
      // "hex:" is binary; "hex(n):" keeps its type number.
      std::string_view t = rest.substr(3);
      uint32_t type = T_BINARY;
      ok = true;
      if (!t.empty() && t[0] == '(') {
        size_t close = t.find(')');
        ok = close != std::string_view::npos && close > 1 && close <= 9;
        type = 0;
        for (size_t i = 1; ok && i < close; ++i) {
          int h = HexDigit(t[i]);
          if (h < 0) ok = false;
          type = type << 4 | static_cast<uint32_t>(h < 0 ? 0 : h);
        }
        if (ok) t.remove_prefix(close + 1);
      }
      ok = ok && !t.empty() && t[0] == ':';
      if (ok) {
        std::string bytes(Trim(t.substr(1)));
        // A trailing backslash continues the byte list on the next line.
        while (!bytes.empty() && bytes.back() == '\\') {
          bytes.pop_back();
          std::string_view more;
          if (!nextLine(more)) break;
          bytes += Trim(more);
        }
        ok = ParseHexBytes(bytes, v.data);
        v.type = type;
        if (ok && type == T_SZ) {
          std::string text8;
          ok = Utf16LeToUtf8(v.data, text8);
          v.data = text8;
        } else if (ok && type == T_DWORD) {
          ok = v.data.size() == 4;
          if (ok)
            for (int i = 3; i >= 0; --i) v.dword = v.dword << 8 | static_cast<unsigned char>(v.data[i]);
          v.data.clear();
        }
      }
    }
    if (!ok) {
      bad(first);
      continue;
    }
    tree[key][name] = std::move(v);
  }
  if (report) *report = rep;
  return tree;
}

std::string SETTINGSFILE::Format(const Tree& tree) {
  std::string out = std::string(kHeader) + "\n\n";
  for (const auto& [key, values] : tree) {
    out += "[" + key + "]\n";
    for (const auto& [name, v] : values) {
      std::string head = (name.empty() ? std::string("@") : Quoted(name)) + "=";
      out += head;
      char buf[32];
      switch (v.type) {
        case T_DWORD:
          std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
          out += buf;
          break;
        case T_SZ:
          if (!NeedsHexForm(v.data)) {
            out += Quoted(v.data);
          } else {
            out += "hex(1):";
            AppendHex(out, head.size() + 7, Utf8ToUtf16Le(v.data));
          }
          break;
        case T_BINARY:
          out += "hex:";
          AppendHex(out, head.size() + 4, v.data);
          break;
        default:
          std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
          out += buf;
          AppendHex(out, head.size() + std::strlen(buf), v.data);
          break;
      }
      out += "\n";
    }
    out += "\n";
  }
  return out;
}

SETTINGSFILE::SETTINGSFILE(std::string p) : path(std::move(p)) {}

SETTINGSFILE::Stamp SETTINGSFILE::StatFile() const {
  Stamp s;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = static_cast<uint64_t>(st.st_size);
  s.sec = st.st_mtim.tv_sec;
  s.nsec = st.st_mtim.tv_nsec;
  return s;
}

bool SETTINGSFILE::Load() {
  loaded = true;
  tree.clear();
  error.clear();
  // The stamp is taken from the descriptor the content is read from, so a
  // replacement that happens meanwhile is noticed by the next Refresh().
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    stamp = Stamp();
    if (errno == ENOENT) return true;
    error = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  struct stat st;
  fstat(fd, &st);
  stamp.exists = true;
  stamp.dev = st.st_dev;
  stamp.ino = st.st_ino;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.sec = st.st_mtim.tv_sec;
  stamp.nsec = st.st_mtim.tv_nsec;
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      error = std::string("cannot read the file: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    if (r == 0) break;
    text.append(buf, static_cast<size_t>(r));
  }
  close(fd);
  Report rep;
  tree = Parse(text, &rep);
  if (rep.badLines) {
    damage = rep;
    damageReported = false;
  }
  return true;
}

void SETTINGSFILE::Refresh() {
  if (!journal.empty()) return;
  if (loaded && error.empty() && StatFile() == stamp) return;
  Load();
}

bool SETTINGSFILE::TakeDamageReport(Report* report) {
  if (damageReported) return false;
  damageReported = true;
  if (report) *report = damage;
  return true;
}

bool SETTINGSFILE::KeyExists(const std::string& key) const {
  // Subkeys need not follow their parent directly: "A\B2" sorts before "A\B\C".
  for (auto it = tree.lower_bound(key); it != tree.end() && it->first.compare(0, key.size(), key) == 0; ++it)
    if (it->first == key || IsUnder(it->first, key)) return true;
  return false;
}

const SETTINGSFILE::Value* SETTINGSFILE::Get(const std::string& key, const std::string& name) const {
  auto k = tree.find(key);
  if (k == tree.end()) return nullptr;
  auto v = k->second.find(name);
  return v == k->second.end() ? nullptr : &v->second;
}

std::vector<std::string> SETTINGSFILE::ValueNames(const std::string& key) const {
  std::vector<std::string> names;
  auto k = tree.find(key);
  if (k != tree.end())
    for (auto& [name, v] : k->second) names.push_back(name);
  return names;
}

std::vector<std::string> SETTINGSFILE::SubKeys(const std::string& key) const {
  std::set<std::string> names;
  for (auto it = tree.upper_bound(key); it != tree.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
    if (!IsUnder(it->first, key)) continue;
    std::string rest = it->first.substr(key.size() + 1);
    names.insert(rest.substr(0, rest.find('\\')));
  }
  return {names.begin(), names.end()};
}

void SETTINGSFILE::Apply(Tree& tree, const Op& op) {
  switch (op.kind) {
    case Op::CREATE: tree[op.key]; break;
    case Op::SET: tree[op.key][op.name] = op.value; break;
    case Op::DELETE_VALUE: {
      auto k = tree.find(op.key);
      if (k != tree.end()) k->second.erase(op.name);
      break;
    }
    case Op::DELETE_KEY:
      for (auto it = tree.lower_bound(op.key); it != tree.end();) {
        if (it->first == op.key || IsUnder(it->first, op.key))
          it = tree.erase(it);
        else if (it->first.compare(0, op.key.size(), op.key) == 0)
          ++it;  // a sibling such as "Key2" sorts among the subkeys
        else
          break;
      }
      break;
  }
}

bool SETTINGSFILE::CreateKey(const std::string& key) {
  if (key.empty() || HasLineBreak(key)) return false;
  Op op{Op::CREATE, key, {}, {}};
  Apply(tree, op);
  journal.push_back(std::move(op));
  return true;
}

bool SETTINGSFILE::Set(const std::string& key, const std::string& name, const Value& value) {
  if (key.empty() || HasLineBreak(key) || HasLineBreak(name)) return false;
  Op op{Op::SET, key, name, value};
  Apply(tree, op);
  journal.push_back(std::move(op));
  return true;
}

void SETTINGSFILE::DeleteValue(const std::string& key, const std::string& name) {
  Op op{Op::DELETE_VALUE, key, name, {}};
  Apply(tree, op);
  journal.push_back(std::move(op));
}

void SETTINGSFILE::DeleteKey(const std::string& key) {
  Op op{Op::DELETE_KEY, key, {}, {}};
  Apply(tree, op);
  journal.push_back(std::move(op));
}

bool SETTINGSFILE::Flush() {
  if (journal.empty()) return true;
  const std::string dir = DirName(path);
  if (!MakeDirs(dir)) {
    error = "cannot create the directory " + dir;
    return false;
  }
  FileLock lock(path + ".lock");
  if (!lock.Locked()) {
    error = std::string("cannot lock the file: ") + std::strerror(errno);
    return false;
  }
  // Temporary files left by a writer that was killed: every writer holds the
  // lock while its temporary file exists, so any found now are stale.
  const std::string base = path.substr(dir.size() + 1) + ".tmp";
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, base.c_str(), base.size()) == 0) unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
  }
  std::string text;
  bool missing = false;
  if (!ReadFileBytes(path, text, &missing) && !missing) {
    error = std::string("cannot read the file: ") + std::strerror(errno);
    return false;
  }
  Report rep;
  Tree fresh = Parse(text, &rep);
  // Lines that cannot be read are dropped by the rewrite: keep the damaged
  // file beside it so nothing is lost without a trace.
  if (rep.badLines) ReplaceFileAtomically(path + ".bad", text);
  for (const Op& op : journal) Apply(fresh, op);
  if (!ReplaceFileAtomically(path, Format(fresh), 0600, &error)) return false;
  tree = std::move(fresh);
  journal.clear();
  error.clear();
  loaded = true;
  stamp = StatFile();
  return true;
}

void SETTINGSFILE::Discard() {
  journal.clear();
  Load();
}
