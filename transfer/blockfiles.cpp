// Files and the descriptor pump for the XMODEM/YMODEM engines.
#include "transfer/blockfiles.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/jcode.h"
#include "platform/tick.h"
#include "transfer/names.h"

namespace xmodem {

namespace {

bool Lead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || b >= 0xE0; }

bool ValidSjis(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (Lead(b)) {
      if (b >= 0xFD || i + 1 >= s.size() || !jcode::IsKanjiTrail(static_cast<unsigned char>(s[i + 1]))) return false;
      ++i;
    } else if (b == 0x80 || b == 0xA0) {
      return false;
    }
  }
  return true;
}

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || (n > 1 && b < 0xC2) || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

std::string ReceivedName(const std::string& sjis) {
  // The last component, walking double-byte characters whole so that the
  // trail byte 0x5C of a character like "表" is not taken for a separator.
  size_t start = 0;
  for (size_t i = 0; i < sjis.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(sjis[i]);
    if (Lead(b) && i + 1 < sjis.size()) {
      ++i;
      continue;
    }
    if (b == '/' || b == '\\') start = i + 1;
  }
  std::string last = sjis.substr(start);
  std::string name;
  if (ValidSjis(last)) {
    name = jcode::SjisToUtf8(last);
  } else if (ValidUtf8(last)) {
    name = last;
  } else {
    // Neither: the bytes that do not make a character become "_".
    std::string mended;
    for (size_t i = 0; i < last.size(); ++i) {
      const unsigned char b = static_cast<unsigned char>(last[i]);
      if (Lead(b) && b < 0xFD && i + 1 < last.size() && jcode::IsKanjiTrail(static_cast<unsigned char>(last[i + 1]))) {
        mended.append(last, i, 2);
        ++i;
      } else if (b >= 0x80 && !jcode::IsHankakuKana(b)) {
        mended.push_back('_');
      } else {
        mended.push_back(static_cast<char>(b));
      }
    }
    name = jcode::SjisToUtf8(mended);
  }
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  if (name.empty() || name == "." || name == ".." || name.size() > 250) return "";
  return name;
}

bool SentName(const std::string& path, std::string* sjis) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string s = jcode::Utf8ToSjis(base);
  if (base.empty() || jcode::SjisToUtf8(s) != base) return false;
  *sjis = std::move(s);
  return true;
}

// ---------------------------------------------------------------- PathSource

int PathSource::Check(std::string* bad) const {
  for (const std::string& p : paths) {
    struct stat st;
    std::string name;
    if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(p.c_str(), R_OK) != 0 || !SentName(p, &name)) {
      if (bad) *bad = p;
      return 6;
    }
  }
  return 0;
}

bool PathSource::Next(FileInfo* info) {
  Close();
  while (next < paths.size()) {
    const std::string& p = paths[next++];
    struct stat st;
    FileInfo fi;
    fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    if (fstat(fd, &st) != 0 || !SentName(p, &fi.name)) {
      Close();
      continue;
    }
    fi.length = st.st_size;
    fi.mtime = st.st_mtime;  // true UTC seconds
    *info = fi;
    return true;
  }
  return false;
}

long PathSource::Read(char* buf, size_t n) {
  if (fd < 0) return -1;
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

void PathSource::Close() {
  if (fd >= 0) close(fd);
  fd = -1;
}

// ---------------------------------------------------------------- DirSink

DirSink::~DirSink() {
  if (f) Close(false);
}

std::string DirSink::SpareName() const {
  for (int k = 0; k <= 999; ++k) {
    char name[16];
    std::snprintf(name, sizeof name, "TEMP.%03d", k);
    const std::string p = dir + "/" + name;
    if (access(p.c_str(), F_OK) != 0 && access((p + ".part").c_str(), F_OK) != 0) return name;
  }
  return "";
}

int DirSink::Open(const FileInfo& fi) {
  info = fi;
  std::string name = fi.name.empty() ? fixedName : ReceivedName(fi.name);
  if (name.empty()) name = SpareName();
  if (name.empty()) return -1;
  finalPath = dir + "/" + name;
  appendBase = -1;
  struct stat st;
  const bool exists = stat(finalPath.c_str(), &st) == 0 && st.st_size > 0;
  if (exists && mode == kRename) {
    name = SpareName();
    if (name.empty()) return -1;
    finalPath = dir + "/" + name;
  }
  if (exists && mode == kAppend) {
    writePath = finalPath;
    f = std::fopen(writePath.c_str(), "r+b");
    if (!f) return -1;
    // Trailing 0x1A padding of an earlier transfer is overwritten.
    off_t end = st.st_size;
    while (end > 0) {
      if (std::fseek(f, static_cast<long>(end - 1), SEEK_SET) != 0 || std::fgetc(f) != SUB) break;
      --end;
    }
    appendBase = end;
    if (std::fseek(f, static_cast<long>(end), SEEK_SET) != 0) {
      std::fclose(f);
      f = nullptr;
      return -1;
    }
  } else {
    writePath = finalPath + ".part";
    f = std::fopen(writePath.c_str(), "wb");
    if (!f) return -1;
  }
  std::setvbuf(f, nullptr, _IOFBF, 65536);
  return 1;
}

bool DirSink::Write(const char* data, size_t n) {
  return f && std::fwrite(data, 1, n, f) == n;
}

bool DirSink::Close(bool ok) {
  if (!f) return false;
  bool good = std::fflush(f) == 0;
  if (!ok || !good) {
    if (appendBase >= 0) {
      if (ftruncate(fileno(f), appendBase) != 0) good = false;
    }
    std::fclose(f);
    f = nullptr;
    return false;
  }
  if (appendBase >= 0) {
    // What follows the data written now (a longer old tail) goes.
    const off_t pos = static_cast<off_t>(std::ftell(f));
    if (ftruncate(fileno(f), pos) != 0) good = false;
  }
  good = std::fclose(f) == 0 && good;
  f = nullptr;
  if (!good) return false;
  if (writePath != finalPath && std::rename(writePath.c_str(), finalPath.c_str()) != 0) return false;
  if (applyTime && info.mtime) ApplyReceivedTime(finalPath, *info.mtime);
  received.push_back(finalPath);
  return true;
}

// ---------------------------------------------------------------- Pump

void Pump(Engine& e, int rfd, int wfd, const std::atomic<bool>* stop) {
  const int rflags = fcntl(rfd, F_GETFL);
  const int wflags = fcntl(wfd, F_GETFL);
  fcntl(rfd, F_SETFL, rflags | O_NONBLOCK);
  if (wfd != rfd) fcntl(wfd, F_SETFL, wflags | O_NONBLOCK);
  std::string pending;
  size_t sentPos = 0;
  bool eof = false, broken = false;
  std::vector<char> buf(32768);
  auto flush = [&] {
    while (sentPos < pending.size() && !broken) {
      const ssize_t w = write(wfd, pending.data() + sentPos, pending.size() - sentPos);
      if (w > 0) {
        sentPos += static_cast<size_t>(w);
      } else if (w < 0 && errno == EINTR) {
        continue;
      } else {
        if (w < 0 && errno != EAGAIN) broken = true;
        break;
      }
    }
    if (sentPos == pending.size()) {
      pending.clear();
      sentPos = 0;
    } else if (sentPos > 65536) {
      pending.erase(0, sentPos);
      sentPos = 0;
    }
  };
  bool busy = true;
  for (;;) {
    struct pollfd fds[2] = {{rfd, POLLIN, 0}, {wfd, POLLOUT, 0}};
    const int nfds = pending.empty() || wfd == rfd ? 1 : 2;
    if (wfd == rfd && !pending.empty()) fds[0].events |= POLLOUT;
    if (!busy && !eof) poll(fds, static_cast<nfds_t>(nfds), 50);
    busy = false;
    if (!eof) {
      const ssize_t got = read(rfd, buf.data(), buf.size());
      if (got > 0) {
        e.Input(buf.data(), static_cast<size_t>(got));
        busy = true;
      } else if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        eof = true;
      }
    }
    if (stop && stop->load()) e.stop = true;
    if (eof || broken) e.hangup = true;
    const size_t before = pending.size() - sentPos;
    flush();
    if (pending.size() - sentPos != before) busy = true;  // the line took some: the engine may go on
    e.lineQueued = pending.size() - sentPos;
    const int more = e.Process(GetTick());
    if (!e.out.empty()) {
      pending += e.out;
      e.out.clear();
      busy = true;
    }
    flush();
    if (!more) break;
  }
  const TICK deadline = GetTick() + 10000;
  while (!pending.empty() && !broken && GetTick() < deadline) {
    struct pollfd p = {wfd, POLLOUT, 0};
    poll(&p, 1, 100);
    flush();
  }
  fcntl(rfd, F_SETFL, rflags);
  if (wfd != rfd) fcntl(wfd, F_SETFL, wflags);
}

}  // namespace xmodem
