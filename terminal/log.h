// LOG: the log file of received text, and the one log that runs at a time.
//
// The receive pass hands every received byte (already Shift_JIS) to Put.  A
// raw log keeps the bytes as they came, without Ctrl+Z and without a CR that
// directly follows a CR.  A plain log drops control codes and escape
// sequences: LF becomes CR LF, TAB stays, BS takes back what this log wrote
// on its current line, and the cursor moves ESC [ r ; c H (or f) and
// ESC [ n C become a new line indented to the column, and n spaces.
//
// Bytes are collected in a cache and written in one call when the receive
// pass is idle (FlushCache), or as soon as the cache passes kCacheFlushSize.
// The size limit is kept as bytes come: where they reach it the question is
// asked at once, and the bytes after that point go to the fresh file.
// The file is only ever appended to: text of earlier sessions is never
// rewritten, except for one Ctrl+Z at its very end, which the new text
// replaces.  Starting with a backup mode moves the old file aside first
// (".BK1" the newest, up to ".BK9"), by renames.
//
//     no log --Start--> running --End / hang-up / write error--> no log
//                        |   ^                  |
//                 fPause |   | fPause = 0       | size limit reached
//                        v   |                  v
//                        paused        question: go on in a fresh file
//                                      (the full one becomes ".BK1")?
//
// User-interface thread only.  The class holds process-wide state in static
// members; ResetForTest returns it to the start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// How Start opens the file.  2 to 10 keep (mode - 1) backups and start a new
// file; the dialogs use LOGOPEN_BACKUP, which keeps nine.
enum LOGOPEN : int { LOGOPEN_APPEND = 0, LOGOPEN_OVERWRITE = 1, LOGOPEN_BACKUP = 10 };

// What the log needs from parts of the program that sit above it.  Every hook
// may be empty; the defaults are given with each.
struct LOGHOOKS {
  // The log-end menu item: its text (UTF-8) and whether it is enabled.
  // Default: nothing (there is no menu).
  std::function<void(const std::string& text, bool enabled)> setMenu;
  // The receive pass's port access, stopped while the size-limit question is
  // up and started again afterwards.  Default: nothing.
  std::function<void()> stopPortAccess, startPortAccess;
  // Asks whether to go on in a fresh file once the size limit is reached;
  // returns LOG::kLimitContinue to go on, anything else to end the log.  The
  // question closes itself with kLimitContinue after LOG::kLimitQuestionMs.
  // Default: a yes/no message box through the facade whose default button
  // (the answer when nobody is there) is to go on.
  std::function<int(const std::string& text)> askLimit;
  // Columns of the screen, the most a cursor move pads a plain log line to.
  // Default: the stock's line width (the screen is as wide as the stock).
  std::function<int()> columns;
  // The local date and time for dated log names.  Default: the clock.
  std::function<std::tm()> now;
  // The log-start dialog's own fields, asked after the file was chosen:
  // size limit in KB and plain-text flag, both filled in beforehand.  False
  // cancels.  Default: keeps the values (no limit, the host's RemoveCtrls).
  std::function<bool(int& kbLimit, int& textLog)> startOptions;
  // Opens a file in the external editor.  False when it could not be started.
  // Default: the shared editor launcher (shell/editor_launcher).
  std::function<bool(const std::string& path)> openEditor;
};

class LOG {
 public:
  enum : int {
    kNoLimit = 9999,              // cKBLimit value meaning "no size limit"
    kLimitContinue = 250,         // the size-limit question's "go on" answer
    kLimitQuestionMs = 5000,      // the question answers itself after this
    kCacheStart = 8192,           // first cache size, and its growth step
    kCacheFlushSize = 64 * 1024,  // the cache is written once it holds this much
    kLineMemory = 4096,           // characters of the current line a BS can take back
  };

  // ---- state (as the program's other parts read it) ----
  static int hLogFile;            // open descriptor, -1 when no log runs
  static std::string szLogPath;   // full path of the running (or last) log, UTF-8
  static int logopen;             // LOGOPEN mode given to Start (2..10 backups)
  static int cKBLimit;            // size limit in KB (1024 bytes); kNoLimit: none
  static int fTextLog;            // 1 plain-text log, 0 raw log
  static int fPause;              // set: bytes are not written
  static int fUploading;          // set: a text upload runs, no size limit
  static int64_t cbFile;          // bytes in the file (write position)
  static std::vector<char> cache; // bytes not yet written; its size is the capacity
  static size_t cbCache;          // bytes in use in the cache
  static char chPrev;             // previous byte given to Put
  static int fDirty;              // bytes were given since the last Flush
  static int escLogState;         // plain log: 0 text, 1 after ESC, 2 inside ESC [
  static int nLogParam;           // plain log: number collected in a sequence (at most 9999)
  static int fBackAfterTab;       // plain log: a BS took back a TAB; further BS do nothing
  static LOGHOOKS hooks;

  // ---- operations ----
  // Ends any running log and starts one.  `name` is a UTF-8 file name or
  // path: an absolute path is used as it is, anything else is taken relative
  // to the LogPath setting.  `mode` is a LOGOPEN value (above 10 counts as
  // 10); a limit below 1 or above 9999 means no limit.  1 on success, 0 when
  // the file cannot be opened (the caller reports it; see ReportOpenFailure).
  static int Start(const char* name, int mode, int kbLimit, int textLog);
  // The log-start command: choose a file, its limit and plain-text flag, and
  // for an existing file append, overwrite or a new file keeping backups.
  static void StartDialog();
  // Starts the host's automatic log when a call is connected (LogType,
  // LogName, LogLimit, RemoveCtrls of `hostprop`).  Reports a failure.
  static void StartAtConnect();
  // One received byte.
  static void Put(char c);
  // A run of received bytes: the same as Put for each of them in turn, with
  // runs of plain text appended in one step.
  static void Put(const char* p, size_t n);
  // Writes the cache to the file.  A write that fails ends the log and says so.
  static void FlushCache();
  // Writes the cache and commits the file to the disk, when bytes were given
  // since the last Flush.  A failure ends the log and says so.
  static void Flush();
  // At the size limit ends the log, asks, and on kLimitContinue starts a
  // fresh file of the same name keeping the full one as ".BK1".  1 when the
  // limit was reached, else 0.  Put calls it as soon as the written and
  // cached bytes reach the limit (at the next character boundary), so a file
  // never runs far past it however much one receive pass takes; the pass
  // calls it once more at its end.
  static int CheckLimit();
  // Writes the cache, closes the file, updates the menu, frees the cache.
  static void End();
  // The log-end menu item: "ログ終了(&N):" and the path while a log runs,
  // else "ログ終了(&N)" greyed.
  static void SetLogMenu();
  // The log-edit command: choose a log file and open it in the editor.
  static void Edit();

  // The name with the local date (YYMM or MMDD) put before the first "." of
  // its file-name part, or with the digits and ".log" appended when there is
  // none: "HOST.LOG" in December 1996 gives "HOST9612.LOG".
  static std::string CreateMonthName(const std::string& name);
  static std::string CreateDayName(const std::string& name);
  // The full path Start uses for a name.
  static std::string MakePath(const std::string& name);
  // The k-th backup name of a log path: the file name's extension replaced by
  // ".BKk", or ".BKk" appended when the file name has none.
  static std::string BackupName(const std::string& path, int k);
  // Shows "指定されたログファイルがオープン出来ません。" for a path.
  static void ReportOpenFailure(const std::string& path);

  static bool IsRunning() { return hLogFile >= 0; }
  static void ResetForTest();

 private:
  static int Open(const std::string& path, int mode, int kbLimit, int textLog);
  static void CloseFile();
  static void PutByte(char c);
  static int64_t LimitBytes();
  static void CheckLimitHere();
  static void AppendUpToLimit(const char* p, size_t n, bool text);
  static void Append(const char* p, size_t n);
  static void AppendText(const char* p, size_t n);
  static void Spaces(int n);
  static void LineEnd();
  static void BackSpace();
  static void WriteFailed();
  static std::string DatedName(const std::string& name, int first, int second);
};
