// The transfer history file (see history.h).
#include "transfer/history.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/atomicfile.h"
#include "platform/jcode.h"
#include "platform/usermessage.h"

namespace {

const char kFile[] = "TRANHIST.TXT";
const char kOpenFailed[] = "転送履歴ファイルのオープンに失敗しました。";
const char* const kWeekday[7] = {"日", "月", "火", "水", "木", "金", "土"};

std::string PathIn(const std::string& dir) { return (dir.empty() ? std::string(".") : dir) + "/" + kFile; }

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size() || (len == 2 && c < 0xC2)) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

std::string FormatHistoryLine(const std::string& shortName, long long bytes, bool upload, time_t when,
                              const std::string& host, const std::string& protocolName, long long rate) {
  struct tm tm {};
  localtime_r(&when, &tm);
  char date[64];
  std::snprintf(date, sizeof date, "%04d.%02d.%02d(%s) %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                kWeekday[tm.tm_wday % 7], tm.tm_hour, tm.tm_min);
  return shortName + "\t" + std::to_string(bytes) + "B\t" + (upload ? "Up" : "Down") + "\t" + date + "\t" + host +
         "\t" + protocolName + "\t" + std::to_string(rate) + "Byte/秒\r\n";
}

bool AppendHistory(const std::string& dir, const std::string& lines) {
  const std::string path = PathIn(dir);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    ErrorMessage(kOpenFailed);
    return false;
  }
  off_t end = ::lseek(fd, 0, SEEK_END);
  // Repair: an end-of-text 0x1A within the last three bytes is overwritten,
  // and a last line without LF is ended first.
  if (end > 0) {
    unsigned char tail[3] = {};
    const off_t from = end >= 3 ? end - 3 : 0;
    const ssize_t n = ::pread(fd, tail, static_cast<size_t>(end - from), from);
    for (ssize_t i = 0; i < n; ++i)
      if (tail[i] == 0x1A) {
        end = from + i;
        break;
      }
    if (::ftruncate(fd, end) != 0) {
      ::close(fd);
      ErrorMessage(kOpenFailed);
      return false;
    }
  }
  std::string out;
  if (end > 0) {
    unsigned char last = 0;
    if (::pread(fd, &last, 1, end - 1) == 1 && last != '\n') out = "\r\n";
  }
  out += lines;
  bool ok = ::pwrite(fd, out.data(), out.size(), end) == static_cast<ssize_t>(out.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok) ErrorMessage(kOpenFailed);
  return ok;
}

std::vector<HISTORYLINE> ParseHistory(std::string_view text) {
  std::vector<HISTORYLINE> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == 0x1A)) line.remove_suffix(1);
    if (line.empty()) continue;
    const std::string utf8 = ValidUtf8(line) ? std::string(line) : jcode::SjisToUtf8(line);
    std::string* fields[7];
    HISTORYLINE h;
    fields[0] = &h.name; fields[1] = &h.bytes; fields[2] = &h.direction; fields[3] = &h.when;
    fields[4] = &h.host; fields[5] = &h.protocol; fields[6] = &h.rate;
    size_t f = 0, s = 0;
    for (;;) {
      const size_t tab = utf8.find('\t', s);
      const std::string v = utf8.substr(s, tab == std::string::npos ? std::string::npos : tab - s);
      if (f < 7) *fields[f] = f == 6 && tab != std::string::npos ? v + "\t" + utf8.substr(tab + 1) : v;
      if (tab == std::string::npos || f == 6) break;
      s = tab + 1;
      ++f;
    }
    out.push_back(std::move(h));
  }
  return out;
}

bool DeleteHistoryLines(const std::string& dir, const std::vector<size_t>& drop, bool all) {
  const std::string path = PathIn(dir);
  std::ifstream in(path, std::ios::binary);
  if (!in) return all;  // nothing to delete
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  std::string kept;
  if (!all) {
    size_t pos = 0, index = 0, d = 0;
    while (pos < text.size()) {
      const size_t nl = text.find('\n', pos);
      const size_t end = nl == std::string::npos ? text.size() : nl + 1;
      std::string_view line(text.data() + pos, end - pos);
      std::string_view bare = line;
      while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r' || bare.back() == 0x1A)) bare.remove_suffix(1);
      pos = end;
      if (bare.empty()) continue;  // blank lines are not counted, as the reader skips them
      while (d < drop.size() && drop[d] < index) ++d;
      if (!(d < drop.size() && drop[d] == index)) kept.append(line);
      ++index;
    }
  }
  return ReplaceFileAtomically(path, kept, 0644);
}
