#include "terminal/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "port/linecode.h"
#include "shell/config.h"
#include "shell/editor_launcher.h"
#include "shell/helpers.h"
#include "shell/hostprop.h"
#include "stock/stock.h"

int LOG::hLogFile = -1;
std::string LOG::szLogPath;
int LOG::logopen = LOGOPEN_APPEND;
int LOG::cKBLimit = LOG::kNoLimit;
int LOG::fTextLog = 0;
int LOG::fPause = 0;
int LOG::fUploading = 0;
int64_t LOG::cbFile = 0;
std::vector<char> LOG::cache;
size_t LOG::cbCache = 0;
char LOG::chPrev = 0;
int LOG::fDirty = 0;
int LOG::escLogState = 0;
int LOG::nLogParam = 0;
int LOG::fBackAfterTab = 0;
LOGHOOKS LOG::hooks;

namespace {

const char kOpenFailed[] = "指定されたログファイルがオープン出来ません。";
const char kWriteFailed[] = "ログファイルへの書き込みに失敗したのでログを中断します。";
const char kMenuText[] = "ログ終了(&N)";
const char kFilter[] = "ﾛｸﾞﾌｧｲﾙ (*.log)";

// What a BS may take back in a plain log: the characters this log wrote on
// its current line, one byte count (1 or 2) per character, oldest first, in
// a ring of kLineMemory entries from lineStart on, cLineChars of them.  A
// line end (the CR LF this log writes) empties it, and so does a new log, so
// a BS never reaches into a line end or an earlier session's text.  When it
// is full a new character drops the oldest one, so it always holds the last
// kLineMemory characters of the line.
static_assert((LOG::kLineMemory & (LOG::kLineMemory - 1)) == 0, "the line memory is a power-of-two ring");
constexpr size_t kLineMask = LOG::kLineMemory - 1;
char lineChars[LOG::kLineMemory];
size_t lineStart = 0;
size_t cLineChars = 0;
// The last character is a lone lead byte that the next byte may complete.
bool pendingLead = false;
// A BS took back a double-byte character, which fills two cells: a BS right
// after it stands for its second cell and takes back nothing more.
bool secondCellPending = false;

// Plain text written on the current line whose characters are not yet in
// lineChars.  Counting characters costs a step per byte, and most lines end
// before a BS needs them, so text is only copied here; a BS, or this buffer
// filling up, counts them (in order, so the line memory ends up exactly as if
// every byte had been counted at once), and a line end simply drops them.
char uncounted[8192];
size_t cUncounted = 0;

// Counts the characters of text into the line memory.  A byte that completes
// a pending lead byte makes that character two bytes long; a full memory
// drops its oldest character for each new one.
void CountChars(const char* text, size_t n) {
  size_t start = lineStart, len = cLineChars;
  bool lead = pendingLead;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (lead && jcode::IsKanjiTrail(b)) {
      lineChars[(start + len - 1) & kLineMask] = 2;
      lead = false;
      continue;
    }
    if (len == LOG::kLineMemory) {
      start = (start + 1) & kLineMask;
      --len;
    }
    lineChars[(start + len++) & kLineMask] = 1;
    lead = jcode::IsKanji1(b);
  }
  lineStart = start;
  cLineChars = len;
  pendingLead = lead;
}

// Takes the newest character out of the line memory; its byte count.
size_t TakeLastChar() { return static_cast<unsigned char>(lineChars[(lineStart + --cLineChars) & kLineMask]); }

// Brings the line memory up to date with the uncounted text.
void CountUncounted() {
  CountChars(uncounted, cUncounted);
  cUncounted = 0;
}

// Forgets the current line: a line end, or a new log.
void ForgetLine() {
  lineStart = 0;
  cLineChars = 0;
  cUncounted = 0;
  pendingLead = false;
}

// Length of the plain text (TAB and bytes from 0x20 on) at the start of p,
// up to n bytes.
size_t TextLength(const char* text, size_t n) {
  size_t i = PrintableRun(text, n);
  while (i < n && text[i] == '\t') i += 1 + PrintableRun(text + i + 1, n - i - 1);
  return i;
}

// Notes text written on the current line for a later BS.
void NoteText(const char* text, size_t n) {
  if (cUncounted + n > sizeof uncounted) CountUncounted();
  if (n > sizeof uncounted) {
    CountChars(text, n);
    return;
  }
  std::memcpy(uncounted + cUncounted, text, n);
  cUncounted += n;
}

// Whether the byte before `end` is the first byte of a double-byte
// character, looking back over [begin, end) and then over `more` bytes
// before them (the bytes in front of begin, ending at moreEnd).  A byte that
// cannot be a lead byte always ends a character, so the lead-capable bytes
// after it pair up from their first one: the last of them is a lead byte
// when their count is odd.  What lies before the bytes looked at counts as
// a character boundary.
bool EndsInLead(const char* begin, const char* end, const char* moreEnd, size_t more) {
  size_t count = 0;
  const char* q = end;
  while (q > begin && jcode::IsKanji1(static_cast<unsigned char>(q[-1]))) --q, ++count;
  if (q == begin) {
    const char* r = moreEnd;
    while (more > 0 && jcode::IsKanji1(static_cast<unsigned char>(r[-1]))) --r, --more, ++count;
  }
  return count % 2 == 1;
}

bool IsFinal(unsigned char c) {
  return c <= 0x20 || (c >= 0x40 && c <= 0x5A) || (c >= 'a' && c <= 'z');
}

int Columns() {
  int n = LOG::hooks.columns ? LOG::hooks.columns() : STOCK::cColumn;
  return n > 0 ? n : 80;
}

std::tm Now() {
  if (LOG::hooks.now) return LOG::hooks.now();
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// Offset where the file-name part of a path begins.
size_t FileNameStart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// Removes a file; a missing file counts as removed.
bool RemoveIfThere(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }
// Renames a file; a missing source counts as done.
bool RenameIfThere(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

// ---- names and paths ----

std::string LOG::MakePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string dir = config.LogPath[0] ? config.LogPath : config.HomeDir[0] ? config.HomeDir : DataDir();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir + name;
}

std::string LOG::BackupName(const std::string& path, int k) {
  size_t start = FileNameStart(path);
  size_t dot = path.rfind('.');
  // A leading dot names a hidden file; it is not an extension.
  std::string base = (dot != std::string::npos && dot > start) ? path.substr(0, dot) : path;
  return base + ".BK" + std::to_string(k);
}

std::string LOG::DatedName(const std::string& name, int first, int second) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%02d%02d", first % 100, second % 100);
  size_t dot = name.find('.', FileNameStart(name));
  if (dot == std::string::npos) return name + digits + ".log";
  return name.substr(0, dot) + digits + name.substr(dot);
}

std::string LOG::CreateMonthName(const std::string& name) {
  std::tm t = Now();
  return DatedName(name, (t.tm_year + 1900) % 100, t.tm_mon + 1);
}

std::string LOG::CreateDayName(const std::string& name) {
  std::tm t = Now();
  return DatedName(name, t.tm_mon + 1, t.tm_mday);
}

// ---- starting and ending ----

int LOG::Start(const char* name, int mode, int kbLimit, int textLog) {
  return Open(MakePath(name ? name : ""), mode, kbLimit, textLog);
}

int LOG::Open(const std::string& path, int mode, int kbLimit, int textLog) {
  End();
  escLogState = 0;
  nLogParam = 0;
  chPrev = 0;
  fBackAfterTab = 0;
  ForgetLine();
  secondCellPending = false;
  szLogPath = path;
  logopen = mode < 0 ? LOGOPEN_APPEND : mode > LOGOPEN_BACKUP ? LOGOPEN_BACKUP : mode;
  cKBLimit = (kbLimit < 1 || kbLimit > kNoLimit) ? int(kNoLimit) : kbLimit;
  fTextLog = textLog ? 1 : 0;
  fPause = 0;

  if (logopen >= 2) {
    // Oldest backup out, the others up one, the file itself to ".BK1".  If
    // the file cannot be moved aside the new text would land in the old
    // (possibly full) file: that counts as failing to open it.
    RemoveIfThere(BackupName(path, logopen - 1));
    for (int k = logopen - 2; k >= 1; --k) RenameIfThere(BackupName(path, k), BackupName(path, k + 1));
    if (!RenameIfThere(path, BackupName(path, 1))) {
      SetLogMenu();
      return 0;
    }
  }

  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (logopen == LOGOPEN_OVERWRITE ? O_TRUNC : 0);
  int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    SetLogMenu();
    return 0;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    SetLogMenu();
    return 0;
  }
  int64_t pos = st.st_size;
  if (pos > 0) {
    // A text file that ends with Ctrl+Z: the new text goes over it.
    char last = 0;
    if (pread(fd, &last, 1, pos - 1) == 1 && last == 0x1A) --pos;
  }
  try {
    if (cache.size() < kCacheStart) cache.assign(kCacheStart, 0);
  } catch (const std::bad_alloc&) {
    close(fd);
    NotEnoughMemory();
    SetLogMenu();
    return 0;
  }
  hLogFile = fd;
  cbFile = pos;
  cbCache = 0;
  fDirty = 0;
  SetLogMenu();
  return 1;
}

void LOG::CloseFile() {
  if (hLogFile >= 0) close(hLogFile);
  hLogFile = -1;
  cbCache = 0;
}

void LOG::End() {
  if (hLogFile >= 0) FlushCache();
  CloseFile();
  std::vector<char>().swap(cache);
  SetLogMenu();
}

void LOG::SetLogMenu() {
  if (!hooks.setMenu) return;
  if (hLogFile >= 0)
    hooks.setMenu(std::string(kMenuText) + ":" + szLogPath, true);
  else
    hooks.setMenu(kMenuText, false);
}

void LOG::ReportOpenFailure(const std::string& path) { ErrorMessage(path + "\n" + kOpenFailed); }

void LOG::WriteFailed() {
  CloseFile();
  std::vector<char>().swap(cache);
  SetLogMenu();
  ErrorMessage(szLogPath + "\n" + kWriteFailed);
}

void LOG::StartAtConnect() {
  std::string name;
  switch (hostprop.LogType) {
    case 1:
      name = hostprop.LogName;
      if (name.find('.') == std::string::npos) name += ".log";
      break;
    case 2: name = CreateMonthName(hostprop.LogName); break;
    case 3: name = CreateDayName(hostprop.LogName); break;
    default: return;
  }
  if (!Start(name.c_str(), LOGOPEN_APPEND, hostprop.LogLimit, hostprop.RemoveCtrls)) ReportOpenFailure(MakePath(name));
}

void LOG::StartDialog() {
  std::string dir = MakePath("");
  if (dir.size() > 1) dir.pop_back();
  std::string path = ui::Current().ChooseFile("ログ開始", dir, kFilter, true);
  if (path.empty()) return;
  if (path[0] != '/') path = MakePath(path);
  int kbLimit = kNoLimit, textLog = hostprop.RemoveCtrls ? 1 : 0;
  if (hooks.startOptions && !hooks.startOptions(kbLimit, textLog)) return;
  int mode = LOGOPEN_APPEND;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    int r = MyMessageBox(path + "\nこのファイルは既にあります。ログを末尾に追加しますか？\n"
                                "「いいえ」を選ぶと新しいファイルに書きます。",
                         ui::MB_YESNOCANCEL | ui::MB_ICONQUESTION);
    if (r == ui::IDCANCEL) return;
    if (r == ui::IDNO) {
      r = MyMessageBox("今までのファイルを「" + BackupName(path, 1).substr(FileNameStart(path)) +
                           "」として残しますか？\n「いいえ」を選ぶと上書きします（古いバックアップは順に「.BK9」まで残ります）。",
                       ui::MB_YESNOCANCEL | ui::MB_ICONQUESTION);
      if (r == ui::IDCANCEL) return;
      mode = r == ui::IDYES ? LOGOPEN_BACKUP : LOGOPEN_OVERWRITE;
    }
  }
  if (!Open(path, mode, kbLimit, textLog)) ReportOpenFailure(path);
}

void LOG::Edit() {
  std::string dir = MakePath("");
  if (dir.size() > 1) dir.pop_back();
  std::string path = ui::Current().ChooseFile("ログ編集", dir, kFilter, false);
  if (path.empty()) return;
  if (hooks.openEditor) {
    if (!hooks.openEditor(path)) ReportEditorFailure();
    return;
  }
  LaunchEditorOrReport(path);
}

// ---- writing ----

void LOG::FlushCache() {
  if (hLogFile < 0 || cbCache == 0) return;
  size_t done = 0;
  while (done < cbCache) {
    ssize_t w = pwrite(hLogFile, cache.data() + done, cbCache - done, cbFile);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      WriteFailed();
      return;
    }
    done += static_cast<size_t>(w);
    cbFile += w;
  }
  cbCache = 0;
}

void LOG::Flush() {
  if (!fDirty) return;
  fDirty = 0;
  FlushCache();
  if (hLogFile < 0) return;
  if (fdatasync(hLogFile) != 0 && errno != EINVAL) WriteFailed();
}

void LOG::Append(const char* p, size_t n) {
  // A long run goes in pieces that end where the cache reaches
  // kCacheFlushSize, so the cache is written at the same points as when the
  // bytes come one at a time, and never grows past that size.
  while (n > 0) {
    if (hLogFile < 0) return;  // a write failed earlier in this work
    size_t k = cbCache < kCacheFlushSize ? std::min(n, kCacheFlushSize - cbCache) : n;
    if (cbCache + k > cache.size()) {
      try {
        size_t want = cache.size();
        while (cbCache + k > want) want += kCacheStart;
        cache.resize(want);
        DebugLog("Log buffer enlarged\n");
      } catch (const std::bad_alloc&) {
        // No more memory for the cache: write what it holds and reuse it.
        FlushCache();
        if (hLogFile < 0 || k > cache.size()) return;
      }
    }
    std::memcpy(cache.data() + cbCache, p, k);
    cbCache += k;
    p += k;
    n -= k;
    if (cbCache >= kCacheFlushSize) FlushCache();
  }
}

// Text of the plain log that stays on the current line.
void LOG::AppendText(const char* p, size_t n) {
  NoteText(p, n);
  Append(p, n);
}

void LOG::LineEnd() {
  Append("\r\n", 2);
  ForgetLine();
}

void LOG::Spaces(int n) {
  static const char kBlanks[] = "                                                                ";
  n = std::min(n, Columns());
  while (n > 0) {
    int k = std::min<int>(n, sizeof kBlanks - 1);
    AppendText(kBlanks, static_cast<size_t>(k));
    n -= k;
  }
}

void LOG::BackSpace() {
  if (fBackAfterTab) return;
  if (secondCellPending) {
    secondCellPending = false;
    return;
  }
  CountUncounted();
  if (cLineChars == 0) return;
  size_t n = TakeLastChar();
  pendingLead = false;
  if (n == 2) secondCellPending = true;
  if (chPrev == '\t') fBackAfterTab = 1;
  if (cbCache >= n) {
    cbCache -= n;
    return;
  }
  // Part of the character is in the file already.
  FlushCache();
  if (hLogFile < 0) return;
  if (ftruncate(hLogFile, cbFile - static_cast<int64_t>(n)) == 0) {
    cbFile -= static_cast<int64_t>(n);
  } else {
    struct stat st;
    if (fstat(hLogFile, &st) == 0) cbFile = st.st_size;
  }
}

// ---- the size limit, kept as bytes are put in ----
//
// The limit's question (and the fresh file) comes when the written and
// cached bytes reach the limit, at the next character boundary: a run of
// bytes is cut there and its rest goes to the fresh file, a byte put alone
// is checked after it.  A plain log's cursor move can write up to a line of
// blanks at once, so a file ends at most that far (the screen's width and a
// line end) past its limit.

int64_t LOG::LimitBytes() {
  if (fUploading || cKBLimit >= kNoLimit) return INT64_MAX;
  return static_cast<int64_t>(cKBLimit) * 1024;
}

// After a byte put alone: at the limit, unless the cache ends inside a
// double-byte character (its second byte then brings the check).
void LOG::CheckLimitHere() {
  if (hLogFile < 0 || cbFile + static_cast<int64_t>(cbCache) < LimitBytes()) return;
  if (EndsInLead(cache.data(), cache.data() + cbCache, nullptr, 0)) return;
  CheckLimit();
}

// Appends a run (plain text when `text`, else raw bytes); where it brings the
// file to its limit it is cut, at a character boundary, the limit is dealt
// with, and the rest goes on into the fresh file (or nowhere when the log
// ended).
void LOG::AppendUpToLimit(const char* p, size_t n, bool text) {
  while (n > 0 && hLogFile >= 0) {
    const int64_t room = LimitBytes() - (cbFile + static_cast<int64_t>(cbCache));
    if (room > static_cast<int64_t>(n)) {
      text ? AppendText(p, n) : Append(p, n);
      return;
    }
    // The limit falls in this run.  The bytes in front of it are the
    // cache's last ones (looked at when the run's own bytes do not decide).
    size_t cut = room > 0 ? static_cast<size_t>(room) : 0;
    if (EndsInLead(p, p + cut, cache.data() + cbCache, cbCache)) {
      if (cut == n) {
        // The run ends inside a character: its second byte, still to
        // come, brings the limit.
        text ? AppendText(p, n) : Append(p, n);
        return;
      }
      ++cut;
    }
    if (cut > 0) text ? AppendText(p, cut) : Append(p, cut);
    p += cut;
    n -= cut;
    CheckLimit();
  }
}

void LOG::Put(char c) {
  if (hLogFile < 0 || fPause) {
    chPrev = c;
    return;
  }
  PutByte(c);
  CheckLimitHere();
}

void LOG::PutByte(char c) {
  fDirty = 1;
  const unsigned char b = static_cast<unsigned char>(c);
  if (!fTextLog) {
    if (b != 0x1A && !(b == '\r' && chPrev == '\r')) Append(&c, 1);
    chPrev = c;
    return;
  }
  if (b != 0x08) secondCellPending = false;
  switch (escLogState) {
    case 0:
      if (b == 0x1B) {
        escLogState = 1;
      } else if (b == 0x08) {
        BackSpace();
      } else {
        fBackAfterTab = 0;
        if (b == '\n')
          LineEnd();
        else if (b == '\t' || b >= 0x20)
          AppendText(&c, 1);
      }
      break;
    case 1:
      escLogState = b == '[' ? 2 : 0;
      break;
    default:
      if (b >= '0' && b <= '9') {
        nLogParam = std::min(nLogParam * 10 + (b - '0'), 9999);
      } else if (IsFinal(b)) {
        escLogState = 0;
        if (b == 'H' || b == 'f') {
          LineEnd();
          Spaces(nLogParam - 1);
          nLogParam = 0;
        } else if (b == 'C') {
          Spaces(nLogParam);
          nLogParam = 0;
        }
      } else {
        nLogParam = 0;
      }
      break;
  }
  chPrev = c;
}

void LOG::Put(const char* p, size_t n) {
  if (n == 0) return;
  if (hLogFile < 0 || fPause) {
    chPrev = p[n - 1];
    return;
  }
  fDirty = 1;
  if (!fTextLog) {
    // Everything but Ctrl+Z and a CR right after a CR, in runs between them.
    char prev = chPrev;
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
      const char c = p[i];
      if (c == 0x1A || (c == '\r' && prev == '\r')) {
        if (i > start) AppendUpToLimit(p + start, i - start, false);
        start = i + 1;
      }
      prev = c;
    }
    if (n > start) AppendUpToLimit(p + start, n - start, false);
    chPrev = prev;
    return;
  }
  // Plain log: text outside a sequence (TAB and every byte from 0x20 on) is
  // taken in runs, with what Put does for each of its bytes; anything else
  // goes through Put.
  size_t i = 0;
  while (i < n) {
    if (hLogFile < 0) {
      chPrev = p[n - 1];
      return;
    }
    const size_t k = escLogState == 0 ? TextLength(p + i, n - i) : 0;
    if (k > 0) {
      secondCellPending = false;
      fBackAfterTab = 0;
      AppendUpToLimit(p + i, k, true);
      i += k;
      chPrev = p[i - 1];
    } else {
      Put(p[i++]);
    }
  }
}

// ---- the size limit ----

int LOG::CheckLimit() {
  if (hLogFile < 0 || cbFile + static_cast<int64_t>(cbCache) < LimitBytes()) return 0;
  FlushCache();
  if (hLogFile < 0) return 1;  // the write failed: the log has ended and said so
  if (hooks.stopPortAccess) hooks.stopPortAccess();
  const std::string path = szLogPath;
  const int kbLimit = cKBLimit, textLog = fTextLog;
  End();
  const std::string text = path + "\nログファイルが指定の大きさ（" + std::to_string(kbLimit) +
                           " KB）に達しました。\n今までのファイルを「" + BackupName(path, 1).substr(FileNameStart(path)) +
                           "」として残し、新しいファイルでログを続けますか？\n「いいえ」を選ぶとログを終了します。";
  int answer;
  if (hooks.askLimit) {
    answer = hooks.askLimit(text);
  } else {
    answer = MyMessageBox(text, ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON1) == ui::IDYES
                 ? int(kLimitContinue)
                 : ui::IDNO;
  }
  if (answer == kLimitContinue && !Open(path, LOGOPEN_BACKUP, kbLimit, textLog)) ReportOpenFailure(path);
  if (hooks.startPortAccess) hooks.startPortAccess();
  return 1;
}

void LOG::ResetForTest() {
  CloseFile();
  std::vector<char>().swap(cache);
  szLogPath.clear();
  logopen = LOGOPEN_APPEND;
  cKBLimit = kNoLimit;
  fTextLog = fPause = fUploading = fDirty = 0;
  cbFile = 0;
  chPrev = 0;
  escLogState = nLogParam = fBackAfterTab = 0;
  ForgetLine();
  secondCellPending = false;
  hooks = LOGHOOKS();
}
