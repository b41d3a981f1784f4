// Backups of the oldest part of a stock, and restoring them.
//
// A backup is one of:
//   format 0  NAME.stk  a stock file holding the oldest n line slots and their
//                       tags (header freshly zeroed, version 6, no index or
//                       search definitions)
//   format 1  NAME.txt  the text, Shift_JIS, CR LF after each logical line,
//             NAME.sti  892-byte header (backup-info magic) and one byte per
//                       logical line: 0xFE for a connect line, else the mark
//                       of the line's first slot
//   format 2  NAME.txt  the text only
//
// Every file is written under a temporary name in the target directory,
// synced and renamed into place only once all of it is written; a stopped or
// failed backup removes what it wrote and changes nothing in the stock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stock/stock.h"

extern const char kBackupInfoMagic[];  // "Quillnet Longreach Stock file backup info Header"

// Why a backup is offered: 0 none (or a manual backup), 1 the line count,
// 2 the months held.
struct BACKUPCHECK {
  int reason = 0;
  std::string heading;  // Shift_JIS, empty without a reason
  int oldestMonth = 0;  // year * 12 + month - 1 of the oldest call (0 unknown)
  int currentMonth = 0;
};

// Today as the backup offer sees it: STOCK::hooks.now when set (tests), else
// the local date.
SYSTEMTIME BackupToday();

// Decides whether the open stock should be backed up on `today`.  Only stocks
// in backup mode (more than 5,000,000 lines, no daily clearing) qualify.  An
// unknown oldest call time is computed from the connect lines first.  With
// both reasons, reason 1 is given.
BACKUPCHECK CheckBackup(const SYSTEMTIME& today);

// Postpones the offer: reason 1 raises the line threshold by 10,000, reason 2
// the months by 1; the header is saved.  False when nothing was changed.
bool PostponeBackup(int reason);

// The number of oldest lines up to the end of `month` (year * 12 + month - 1):
// the first connect line dated after it ends the range; all lines when none is.
int BackupLinesUntilMonth(int month);

// The proposed backup name: the stock's name without its extension, " - ",
// the oldest call's date (year "年" month "月" day "日") and "～" (Shift_JIS); the
// name alone when no call is dated.
std::string ProposedBackupName();

struct BACKUPREQUEST {
  int format = 1;        // 0, 1 or 2
  std::string dir;       // an existing directory
  std::string name;      // file name without extension (Shift_JIS or UTF-8 bytes as given)
  int lines = 0;         // oldest lines to write
  bool online = false;   // a call is in progress: the range stops before it
  bool replace = false;  // replace existing files of that name
  bool deleteAfter = false;  // delete the written lines from the stock
  // Called every 200 slots (format 0) or 1000 lines (text); false stops.
  std::function<bool(int done, int total)> progress;
};

// Writes the backup of the open stock.  1 on success (0 lines succeed without
// writing anything).  On failure or stop returns 0 with *error set (empty when
// stopped), no file is left behind and the stock is untouched.  *written gets
// the lines actually taken (after the on-line cut).
int Backup(const BACKUPREQUEST& req, std::string* error, int* written = nullptr);

// Restores a backup (".stk", or ".txt" with its ".sti" beside it) into a new
// stock file `target` (empty: the data directory, the backup's name with
// ".stk").  The new stock is built under a temporary name and renamed over
// `target` only after success.  Returns 1 on success, else 0 with *error set
// (Shift_JIS message).  Does not touch the open stock.  *target_out gets the
// path written.
int RestoreStock(const std::string& backup, const std::string& target, std::string* error,
                 std::string* targetOut = nullptr, const std::function<bool(int done)>& progress = {});

// Checks an 892-byte ".sti" header: the magic and a width of 0 (80) or 40-250.
// Returns the effective width, or 0 when the header is refused.
int CheckBackupInfoHeader(const unsigned char* p, size_t size, STOCKFILEHEADER* out);

// Lays plain text out as stock slots: CR, LF and CR LF end lines, other bytes
// below 0x20 become blanks, a double-byte character that would start in the
// last cell moves to the next slot (the cell shows 0x7F).  marks[i] is the
// mark of logical line i; text beyond the last mark is not taken.  Appends
// (column + 1)-byte slots to `slots` and one tag per slot to `tags`; returns
// the logical lines taken.
size_t LayOutText(const char* text, size_t size, const unsigned char* marks, size_t markCount, int column,
                  std::vector<unsigned char>& slots, std::vector<unsigned char>& tags);
