// File names across the line (see names.h).
#include "transfer/names.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/jcode.h"

namespace {

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    if (len == 2 && c < 0xC2) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD, what a failed CP932 character gives

}  // namespace

std::string ReceivedNameToFile(std::string_view wire) {
  // The last component: "/" and "\\" separate, except a "\\" that is the
  // trail byte of a double-byte character ("表" is 0x95 0x5C).
  size_t start = 0;
  for (size_t i = 0; i < wire.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(wire[i]);
    if (jcode::IsKanji1(c) && i + 1 < wire.size()) {
      ++i;
      continue;
    }
    if (c == '/' || c == '\\') start = i + 1;
  }
  std::string_view last = wire.substr(start);
  // Stop at a NUL (a C string on the wire).
  if (const size_t nul = last.find('\0'); nul != std::string_view::npos) last = last.substr(0, nul);

  std::string out;
  const std::string whole = jcode::SjisToUtf8(last);
  if (whole.find(kReplacement) == std::string::npos) {
    out = whole;
  } else if (ValidUtf8(last)) {
    out.assign(last);
  } else {
    // Character by character: what CP932 cannot read becomes "_".
    for (size_t i = 0; i < last.size();) {
      const unsigned char c = static_cast<unsigned char>(last[i]);
      const size_t len = jcode::IsKanji1(c) && i + 1 < last.size() ? 2 : 1;
      const std::string one = jcode::SjisToUtf8(last.substr(i, len));
      if (one.find(kReplacement) == std::string::npos) {
        out += one;
        i += len;
      } else {
        out += '_';
        i += 1;
      }
    }
  }
  for (char& ch : out) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '/') ch = '_';
  }
  if (out == "." || out == "..") out.clear();
  return out;
}

bool SendNameForPath(const std::string& path, std::string* out) {
  out->clear();
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return false;
  std::string sjis = jcode::Utf8ToSjis(base);
  // A character CP932 has no form for comes back as "?": refuse rather than
  // send another name.
  if (jcode::SjisToUtf8(sjis) != base) return false;
  *out = std::move(sjis);
  return true;
}

std::string SpareName(const std::string& dir) {
  const std::string d = dir.empty() ? std::string(".") : dir;
  for (int n = 0; n <= 999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "TEMP.%03d", n);
    const std::string path = d + "/" + name;
    if (!Exists(path) && !Exists(path + ".part")) return name;
  }
  return {};
}

std::vector<std::string> SplitNameList(std::string_view list) {
  std::vector<std::string> names;
  std::string cur;
  bool quoted = false, any = false;
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) names.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) names.push_back(cur);
  return names;
}

bool ApplyReceivedTime(const std::string& path, long long mtime) {
  using namespace std::chrono;
  const auto when = file_clock::from_sys(system_clock::time_point(seconds(mtime)));
  std::error_code ec;
  std::filesystem::last_write_time(path, when, ec);
  return !ec;
}
