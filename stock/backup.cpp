#include "stock/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

#include "platform/atomicfile.h"
#include "platform/jcode.h"
#include "platform/paths.h"

const char kBackupInfoMagic[] = "Quillnet Longreach Stock file backup info Header";

namespace {

constexpr size_t kBlock = 16384;
constexpr int kBackupModeMin = 5000000;
const char kCreateFailed[] = "バックアップファイルの作成に失敗しました。";
const char kWriteFailedText[] = "バックアップファイルへの書き込みに失敗しました。";
const char kStiMissing[] = "制御情報ファイル（.sti）が見つからないので復元できません。";
const char kStiUnreadable[] = "制御情報ファイルが読めません。";
const char kCopyFailed[] = "のコピーに失敗しました。";
const char kReadFailed[] = "ファイルの読み込みが失敗しました。";
const char kSameFile[] = "バックアップ自身には復元できません。";
const char kInUse[] = "は他で使用中なので復元できません。";

std::string Sjis(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

int MonthOf(const SYSTEMTIME& st) { return st.wYear * 12 + st.wMonth - 1; }

void SyncDir(const std::string& dir) {
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

std::string DirOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
}
std::string BaseOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A file written under a temporary name beside its final name, in blocks of
// 16,384 bytes gathered in a 1 MiB buffer; Finish syncs it, Publish renames
// it, and the destructor removes it when it was never published.  Every
// 8 MiB written the kernel is asked to start writing them back, so the sync
// at the end waits for the last few MiB rather than for the whole file.
class TempFile {
 public:
  explicit TempFile(std::string finalPath) : final_(std::move(finalPath)), buf_(kBuffer) {
    tmp_ = DirOf(final_) + "/." + BaseOf(final_) + ".XXXXXX";
    fd_ = mkostemp(tmp_.data(), O_CLOEXEC);
    if (fd_ >= 0) fchmod(fd_, 0644);
  }
  ~TempFile() {
    if (fd_ < 0) return;
    close(fd_);
    if (!published_) unlink(tmp_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  bool Ok() const { return fd_ >= 0 && ok_; }
  void Put(const void* p, size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    while (n > 0) {
      if (used_ == 0 && n >= kBlock) {
        // Whole blocks of a large piece go out without a copy.
        const size_t whole = n / kBlock * kBlock;
        Write(c, whole);
        c += whole;
        n -= whole;
        continue;
      }
      const size_t k = std::min(n, kBuffer - used_);
      std::memcpy(buf_.data() + used_, c, k);
      used_ += k;
      c += k;
      n -= k;
      if (used_ == kBuffer) Flush(false);
    }
  }
  void PutByte(unsigned char c) {
    buf_[used_++] = c;
    if (used_ == kBuffer) Flush(false);
  }
  // Room for `n` bytes (at most one block) at the end of the buffer; Commit
  // then takes what was put there.
  unsigned char* Room(size_t n) {
    if (kBuffer - used_ < n) Flush(false);
    return buf_.data() + used_;
  }
  void Commit(size_t n) { used_ += n; }
  // Writes what is buffered and syncs it; the rename follows in Publish so
  // that several files can all be complete before any of them appears.
  bool Finish() {
    Flush(true);
    return Ok() && fsync(fd_) == 0;
  }
  // Overwrites the file's first bytes (before Finish: the file is only a
  // temporary one until it is published, so one sync covers both).
  bool WriteAtStart(const void* p, size_t n) {
    Flush(true);
    if (!Ok()) return false;
    ok_ = pwrite(fd_, p, n, 0) == ssize_t(n);
    return ok_;
  }
  bool Publish() {
    if (!Ok() || rename(tmp_.c_str(), final_.c_str()) != 0) return false;
    published_ = true;
    return true;
  }

 private:
  static constexpr size_t kBuffer = 64 * kBlock;
  static constexpr uint64_t kWriteBack = 8u << 20;

  void Write(const unsigned char* p, size_t n) {
    if (!Ok()) return;
    ok_ = WriteAll(fd_, p, n);
    written_ += n;
    if (written_ - synced_ >= kWriteBack) {
      // Only a hint: the data is synced for certain in Finish.
      sync_file_range(fd_, off_t(synced_), off_t(written_ - synced_), SYNC_FILE_RANGE_WRITE);
      synced_ = written_;
    }
  }
  // Writes the whole blocks buffered (and with `all` the rest too); the
  // remainder moves to the front.
  void Flush(bool all) {
    const size_t out = all ? used_ : used_ / kBlock * kBlock;
    if (out > 0) Write(buf_.data(), out);
    std::memmove(buf_.data(), buf_.data() + out, used_ - out);
    used_ -= out;
  }

  std::string final_, tmp_;
  int fd_ = -1;
  bool ok_ = true, published_ = false;
  std::vector<unsigned char> buf_;
  size_t used_ = 0;
  uint64_t written_ = 0, synced_ = 0;
};

// The header shared by a backup stock and the control file.
STOCKFILEHEADER BackupHeader(int n) {
  const STOCKFILEHEADER& s = STOCK::fileheader;
  STOCKFILEHEADER h;
  h.Reset();
  h.cItemMaxMax = STOCK_MAX_LINES;
  h.dwVersion = 6;  // connect marks are set again when it is opened
  h.cItemUsed = h.cItemMax = n;
  h.iOldest = 0;
  h.iNewest = n - 1;
  h.cColumn = STOCK::cColumn;
  std::memcpy(h.szTagFile, s.szTagFile, sizeof h.szTagFile);
  h.ftTagFile = s.ftTagFile;
  std::memcpy(h.reserved2, s.reserved2, sizeof h.reserved2);
  h.cBackupMonths = s.cBackupMonths;
  h.cBackupLines = s.cBackupLines;
  h.ftOldestCall = s.ftOldestCall;
  return h;
}

// Copies n bytes of a slot's text, control bytes (empty cells among them)
// turned into blanks.
void CopyAsText(unsigned char* out, const unsigned char* in, int n) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  for (; x + 16 <= n; x += 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    // max(w, 0x20) is w for every byte from 0x20 on and 0x20 below it.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_max_epu8(w, space));
  }
#endif
  for (; x < n; ++x) out[x] = in[x] < 0x20 ? 0x20 : in[x];
}

// The offset of the first CR or LF among n bytes, n when there is none.
size_t FindLineEnd(const char* p, size_t n) {
  size_t x = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; x + 16 <= n; x += 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
    const int hit = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(w, cr), _mm_cmpeq_epi8(w, lf)));
    if (hit != 0) return x + size_t(__builtin_ctz(unsigned(hit)));
  }
#endif
  for (; x < n; ++x)
    if (p[x] == '\r' || p[x] == '\n') return x;
  return n;
}

bool Exists(const std::string& p) {
  struct stat st {};
  return lstat(p.c_str(), &st) == 0;
}

}  // namespace

SYSTEMTIME BackupToday() {
  if (STOCK::hooks.now) return STOCK::hooks.now();
  const time_t t = time(nullptr);
  tm lt{};
  localtime_r(&t, &lt);
  SYSTEMTIME st;
  st.wYear = lt.tm_year + 1900;
  st.wMonth = lt.tm_mon + 1;
  st.wDay = lt.tm_mday;
  return st;
}

BACKUPCHECK CheckBackup(const SYSTEMTIME& today) {
  BACKUPCHECK c;
  if (!STOCK::fValid) return c;
  const STOCKFILEHEADER& h = STOCK::fileheader;
  if (STOCK::cItemMaxMax <= kBackupModeMin || h.fClearDaily) return c;
  if (h.ftOldestCall.dwHighDateTime == 0) STOCK::CalcOldestDateTime();
  const int used = STOCK::UsedItems();
  c.currentMonth = MonthOf(today);
  const bool known = h.ftOldestCall.dwHighDateTime != 0;
  SYSTEMTIME oldest{};
  if (known) {
    oldest = FileTimeToSystemTime(h.ftOldestCall);
    c.oldestMonth = MonthOf(oldest);
  }
  if (h.cBackupLines && uint32_t(used) > h.cBackupLines) {
    c.reason = 1;
    c.heading = Sjis("ストックファイルの行数が") + std::to_string(used / 10000) + Sjis("万行になりました。");
  } else if (known && h.cBackupMonths) {
    int months = c.currentMonth - c.oldestMonth;
    if (today.wDay < oldest.wDay) --months;
    if (months >= int(h.cBackupMonths)) {
      c.reason = 2;
      c.heading = Sjis("ストックファイルに") + std::to_string(h.cBackupMonths) + Sjis("ヶ月分の通信結果が溜まりました。");
    }
  }
  return c;
}

bool PostponeBackup(int reason) {
  if (!STOCK::fValid || STOCK::fTemp) return false;
  STOCKFILEHEADER& h = STOCK::fileheader;
  if (reason == 1)
    h.cBackupLines += 10000;
  else if (reason == 2)
    h.cBackupMonths = uint16_t(h.cBackupMonths + 1);
  else
    return false;
  STOCK::Save();
  return true;
}

int BackupLinesUntilMonth(int month) {
  const int used = STOCK::UsedItems();
  int slot = cvOldest;
  for (int f = 0; f < used; ++f, slot = STOCK::AddIndex(slot, 1)) {
    if (STOCK::aTag[size_t(slot)] != TAG_CONNECT) continue;
    if (MonthOf(DateTimeFromConnectText(STOCK::GetItem(slot)->Text(), STOCK::cColumn)) > month) return f;
  }
  return used;
}

std::string ProposedBackupName() {
  std::string base = BaseOf(STOCK::szFileName);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime == 0) STOCK::CalcOldestDateTime();
  // A stock without a dated call has no date to name.
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime == 0) return jcode::Utf8ToSjis(base);
  const SYSTEMTIME st = FileTimeToSystemTime(STOCK::fileheader.ftOldestCall);
  return jcode::Utf8ToSjis(base) + Sjis(" - ") + std::to_string(st.wYear) + Sjis("年") + std::to_string(st.wMonth) +
         Sjis("月") + std::to_string(st.wDay) + Sjis("日～");
}

int Backup(const BACKUPREQUEST& req, std::string* error, int* written) {
  std::string dummy;
  std::string& err = error ? *error : dummy;
  err.clear();
  if (written) *written = 0;
  if (!STOCK::fValid) {
    err = "no stock is open";
    return 0;
  }
  int n = std::clamp(req.lines, 0, STOCK::UsedItems());
  if (req.online) {
    const int call = STOCK::FindNewestConnectLine();
    if (call >= 0) n = std::min(n, STOCK::Flat(call));
  }
  if (written) *written = n;
  if (n == 0) return 1;
  if (req.format < 0 || req.format > 2) {
    err = "format must be 0, 1 or 2";
    return 0;
  }
  const std::string dir = req.dir.empty() ? std::string(".") : req.dir;
  const std::string base = dir + "/" + req.name;
  const std::string txtPath = base + (req.format == 0 ? ".stk" : ".txt"), stiPath = base + ".sti";
  if (!req.replace && (Exists(txtPath) || (req.format == 1 && Exists(stiPath)))) {
    err = (Exists(txtPath) ? txtPath : stiPath) + " already exists";
    return 0;
  }
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime == 0) STOCK::CalcOldestDateTime();
  TempFile main(txtPath);
  std::optional<TempFile> infoFile;
  if (req.format == 1) infoFile.emplace(stiPath);
  if (!main.Ok() || (infoFile && !infoFile->Ok())) {
    err = Sjis(kCreateFailed);
    return 0;
  }
  const int column = STOCK::cColumn;
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  std::vector<unsigned char> block;
  const auto fail = [&] {
    err = Sjis(kWriteFailedText);
    return 0;
  };
  const auto stopped = [&] {
    err.clear();
    return 0;
  };

  if (req.format == 0) {
    unsigned char raw[STOCK_HEADER_SIZE];
    WriteStockHeader(BackupHeader(n), raw);
    main.Put(raw, sizeof raw);
    int slot = cvOldest;
    for (int done = 0; done < n;) {
      const int want = std::min(200, n - done);
      block.resize(size_t(want) * sz);
      const int got = STOCK::ReadLines(slot, want, block.data());
      if (got <= 0) return fail();
      main.Put(block.data(), size_t(got) * sz);
      done += got;
      if (done < n) slot = STOCK::AddIndex(slot, got);
      if (req.progress && !req.progress(done, n)) return stopped();
    }
    // The tags in ring order: two pieces when the range wraps.
    const int first = cvOldest, firstRun = std::min(n, STOCK::cItemUsed - first);
    main.Put(STOCK::aTag.data() + first, size_t(firstRun));
    if (firstRun < n) main.Put(STOCK::aTag.data(), size_t(n - firstRun));
    if (!main.Finish()) return fail();
    if (!main.Publish()) return fail();
  } else {
    TempFile* const info = infoFile ? &*infoFile : nullptr;  // format 1 only
    if (info) {
      unsigned char raw[STOCK_HEADER_SIZE];
      WriteStockHeader(BackupHeader(n), raw);
      std::memset(raw, 0, STOCK_MAGIC_SIZE);
      std::memcpy(raw, kBackupInfoMagic, sizeof kBackupInfoMagic);
      info->Put(raw, sizeof raw);
    }
    // The slots are read through the stock's file windows and their text
    // goes straight into the output buffer: one copy per slot, control
    // bytes (empty cells among them) turned into blanks in place.
    bool open = false;  // a logical line has begun
    int lines = 0;
    int slot = cvOldest;
    const int newest = cvNewest;
    for (int done = 0; done < n;) {
      const int want = std::min(1000, n - done);
      block.resize(size_t(want) * sz);
      const int got = STOCK::ReadLines(slot, want, block.data());
      if (got <= 0) return fail();
      const unsigned char* view = block.data();
      int s = slot;
      for (int k = 0; k < got; ++k, s = STOCK::AddIndex(s, 1)) {
        const unsigned char* item = view + size_t(k) * sz;
        const char* text = reinterpret_cast<const char*>(item + 1);
        const int len = StockTextLength(text, column);
        const bool last = done + k + 1 == n;
        if (!open) {
          // The stock's cursor line counts only once it has text.
          if (last && s == newest && len == 0) break;
          open = true;
          if (info) info->PutByte(STOCK::aTag[size_t(s)] == TAG_CONNECT ? (unsigned char)STOCK_MARK_CONNECT : item[0]);
        }
        unsigned char* o = main.Room(size_t(len) + 2);
        CopyAsText(o, reinterpret_cast<const unsigned char*>(text), len);
        size_t put = size_t(len);
        if (static_cast<unsigned char>(text[column - 1]) < 0x20 || last) {
          o[put++] = '\r';
          o[put++] = '\n';
          open = false;
          ++lines;
        }
        main.Commit(put);
        if (!open && lines % 1000 == 0 && req.progress && !req.progress(done + k + 1, n)) return stopped();
      }
      done += got;
      if (done < n) slot = STOCK::AddIndex(slot, got);
    }
    if (req.progress && !req.progress(n, n)) return stopped();
    if (!main.Finish()) return fail();
    if (info && (!info->Finish())) return fail();
    if (info && !info->Publish()) return fail();
    if (!main.Publish()) {
      if (req.format == 1) unlink(stiPath.c_str());
      return fail();
    }
  }
  SyncDir(dir);

  if (req.deleteAfter) {
    const int before = STOCK::UsedItems();
    STOCK::Delete(cvOldest, n);
    STOCK::Save();
    if (STOCK::UsedItems() == before && before > 1) {
      err = "the backup was written but the lines could not be deleted";
      return 0;
    }
  }
  return 1;
}

int CheckBackupInfoHeader(const unsigned char* p, size_t size, STOCKFILEHEADER* out) {
  if (size < STOCK_HEADER_SIZE) return 0;
  if (std::memcmp(p, kBackupInfoMagic, sizeof kBackupInfoMagic) != 0) return 0;
  STOCKFILEHEADER h;
  ReadStockHeader(p, h);
  const int column = h.EffectiveColumn();
  if (column < STOCK_MIN_COLUMN || column > STOCK_MAX_COLUMN) return 0;
  if (out) *out = h;
  return column;
}

size_t LayOutText(const char* text, size_t size, const unsigned char* marks, size_t markCount, int column,
                  std::vector<unsigned char>& slots, std::vector<unsigned char>& tags) {
  const size_t sz = size_t(column) + 1;
  size_t taken = 0, i = 0;
  while (i < size && taken < markCount) {
    const unsigned char mark = marks[taken];
    // One logical line.
    size_t start = slots.size();
    slots.resize(start + sz, 0);
    slots[start] = mark;
    tags.push_back(mark == STOCK_MARK_CONNECT ? TAG_CONNECT : TAG_NONE);
    {
      // A line shorter than the width (the usual case) is one slot: its
      // bytes are copied as they are, control bytes turned into blanks.
      const size_t scan = std::min(size - i, size_t(column));
      const size_t e = FindLineEnd(text + i, scan);
      if (e < scan || scan < size_t(column)) {
        CopyAsText(slots.data() + start + 1, reinterpret_cast<const unsigned char*>(text + i), int(e));
        i += e;
        if (i < size) i += text[i] == '\r' && i + 1 < size && text[i + 1] == '\n' ? 2 : 1;
        ++taken;
        continue;
      }
    }
    int x = 0;
    bool trail = false;
    const auto wrap = [&] {
      start = slots.size();
      slots.resize(start + sz, 0);
      slots[start] = STOCK_MARK_NONE;
      tags.push_back(TAG_CONTINUE);
      x = 0;
    };
    for (; i < size; ++i) {
      auto c = static_cast<unsigned char>(text[i]);
      if (c == '\r' || c == '\n') {
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
        ++i;
        break;
      }
      if (c < 0x20) c = ' ';
      const bool lead = !trail && jcode::IsKanji1(c);
      if (lead && x == column - 1) {
        slots[start + 1 + size_t(x)] = 0x7F;
        wrap();
      }
      slots[start + 1 + size_t(x++)] = c;
      trail = lead;
      if (x == column) wrap();
    }
    ++taken;
  }
  return taken;
}

int RestoreStock(const std::string& backup, const std::string& target, std::string* error, std::string* targetOut,
                 const std::function<bool(int done)>& progress) {
  std::string dummy;
  std::string& err = error ? *error : dummy;
  err.clear();
  std::string stem = BaseOf(backup), ext;
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    ext = stem.substr(dot);
    stem.resize(dot);
  }
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  const std::string to = target.empty() ? DataDir() + "/" + stem + ".stk" : target;
  if (targetOut) *targetOut = to;
  struct stat a {}, b {};
  if (stat(backup.c_str(), &a) == 0 && stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
    err = Sjis(kSameFile);
    return 0;
  }
  if (Exists(to) && STOCK::IsOtherQuillnetSharing(to)) {
    err = to + Sjis(kInUse);
    return 0;
  }

  std::string data;
  if (ext == ".stk") {
    bool missing = false;
    if (!ReadFileBytes(backup, data, &missing) || data.size() < STOCK_HEADER_SIZE) {
      err = backup + Sjis(kCopyFailed);
      return 0;
    }
    STOCKFILEHEADER h;
    ReadStockHeader(reinterpret_cast<const unsigned char*>(data.data()), h);
    if (CheckStockHeader(h, data.size()) != StockHeaderCheck::Ok) {
      err = backup + Sjis(kCopyFailed);
      return 0;
    }
    TempFile out(to);
    out.Put(data.data(), data.size());
    if (!out.Finish() || !out.Publish()) {
      err = backup + Sjis(kCopyFailed);
      return 0;
    }
    SyncDir(DirOf(to));
    return 1;
  }

  // A text backup needs its control file beside it.
  const std::string sti = backup.substr(0, backup.size() - ext.size()) + ".sti";
  std::string info;
  bool missing = false;
  if (!ReadFileBytes(sti, info, &missing)) {
    err = Sjis(missing ? kStiMissing : kStiUnreadable);
    return 0;
  }
  STOCKFILEHEADER ih;
  const int column =
      CheckBackupInfoHeader(reinterpret_cast<const unsigned char*>(info.data()), info.size(), &ih);
  if (column == 0) {
    err = Sjis(kStiUnreadable);
    return 0;
  }
  const int fd = open(backup.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = backup + ": " + Sjis(kReadFailed);
    return 0;
  }
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  const auto* marks = reinterpret_cast<const unsigned char*>(info.data()) + STOCK_HEADER_SIZE;
  const size_t markCount = info.size() - STOCK_HEADER_SIZE;
  const size_t sz = size_t(column) + 1;
  // The text is read 1 MiB at a time; the complete lines of each piece are
  // laid out and their slots written to the new file at once (so a progress
  // box can stop it); the header, written last over a blank one, then says
  // how many there are.  The tags follow the slots.
  TempFile out(to);
  const unsigned char blank[STOCK_HEADER_SIZE] = {};
  out.Put(blank, sizeof blank);
  std::vector<unsigned char> slots, tags;
  std::vector<char> buf(size_t(1) << 20);
  size_t have = 0;
  bool eof = false;
  FILETIME oldestCall;
  size_t taken = 0, lines = 0;
  while (taken < markCount) {
    while (!eof && have < buf.size()) {
      const ssize_t r = read(fd, buf.data() + have, buf.size() - have);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        err = backup + ": " + Sjis(kReadFailed);
        return 0;
      }
      if (r == 0) eof = true;
      have += size_t(r);
    }
    if (have == 0) break;
    // Up to the last line end whose kind is known (a CR at the very end may
    // be the first half of a CR LF); at the end of the file, everything.
    size_t end = have;
    if (!eof) {
      end = have - 1;  // buf[have - 1] is undecided when it is a CR
      while (end > 0 && buf[end - 1] != '\n' && buf[end - 1] != '\r') --end;
      if (buf[have - 1] == '\n') end = have;
      if (end == 0) {
        // One line longer than the buffer: read on with a larger one.
        buf.resize(buf.size() * 2);
        continue;
      }
    }
    slots.clear();
    const size_t first = tags.size();
    taken += LayOutText(buf.data(), end, marks + taken, markCount - taken, column, slots, tags);
    std::memmove(buf.data(), buf.data() + end, have - end);
    have -= end;
    if (oldestCall.dwHighDateTime == 0)
      for (size_t t = first; t < tags.size(); ++t)
        if (tags[t] == TAG_CONNECT) {
          oldestCall = SystemTimeToFileTime(
              DateTimeFromConnectText(reinterpret_cast<const char*>(slots.data() + (t - first) * sz + 1), column));
          break;
        }
    lines = tags.size();
    if (lines + 1 > size_t(STOCK_MAX_LINES)) {
      err = backup + ": " + Sjis(kReadFailed);
      return 0;
    }
    out.Put(slots.data(), slots.size());
    if (progress && !progress(int(taken))) {
      err.clear();
      return 0;
    }
    if (eof && have == 0) break;
  }
  // The newest slot is the empty line the next call writes into.
  slots.assign(sz, 0);
  slots[0] = STOCK_MARK_NONE;
  out.Put(slots.data(), slots.size());
  tags.push_back(TAG_NONE);
  out.Put(tags.data(), tags.size());
  const int used = int(lines + 1);
  STOCKFILEHEADER h;
  h.Reset();
  h.cItemMaxMax = STOCK_MAX_LINES;
  h.dwVersion = STOCK_VERSION;
  h.cItemUsed = h.cItemMax = used;
  h.iOldest = 0;
  h.iNewest = used - 1;
  h.cColumn = column;
  h.posSaved = {-1, -1};
  h.iScrollableTop = 0;
  h.cBackupMonths = ih.cBackupMonths;
  h.cBackupLines = ih.cBackupLines;
  std::memcpy(h.szTagFile, ih.szTagFile, sizeof h.szTagFile);
  h.szTagFile[sizeof h.szTagFile - 1] = 0;
  h.ftOldestCall = oldestCall;
  // The syntax tags are made again from the text when the stock is opened.
  h.fOnlineFlag = 1;
  unsigned char raw[STOCK_HEADER_SIZE];
  WriteStockHeader(h, raw);
  if (!out.WriteAtStart(raw, sizeof raw) || !out.Finish() || !out.Publish()) {
    err = to + Sjis(kCopyFailed);
    return 0;
  }
  SyncDir(DirOf(to));
  return 1;
}
