// STOCK: the stock file, the persistent ring archive of every received line.
//
// File layout (all integers little-endian):
//   0                       header, 892 bytes (stock/stockheader.h)
//   892                     cItemMax slots of cColumn + 1 bytes (mark + text)
//   after the slots         tag array, one byte per slot
//   after the tags          cIndexProp index definitions, 61 bytes each
//   after those             cSearchProp search definitions, 154 bytes each
//
// Invariants (true of the file whenever no write of ours is in progress, and
// true of what a kill at any moment leaves behind):
//   1. The header is the commit record.  It is written last, as one write of
//      892 bytes, only after the slots, tags and definitions it describes are
//      on disk (fdatasync in between).  Nothing the header calls live is ever
//      written before the header stops calling it live.
//   2. The header is consistent: the magic, a version from 1 to 7, a width of
//      40 to 250, 1 <= cItemUsed <= cItemMax <= cItemMaxMax <= 10,000,000,
//      oldest/newest/bookmarks/saved position inside [0, cItemUsed), at most
//      10 bookmarks, and the file at least as long as the header and slots.
//      Opening checks all of this before trusting anything, and a file that
//      fails is reported and never written to.
//   3. Live lines run from oldest to newest in ring order over slots 0 ..
//      cItemUsed-1.  Overwriting the oldest lines first moves the header's
//      oldest past them (a "pre-commit"), so a kill can lose the lines that
//      were being overwritten anyway but never shows a new line in an old
//      line's place.
//   4. Growing the ring in place writes the new tag array and definitions
//      after the new slot area first, then the header with the new cItemMax,
//      and only then slots over the old tag array.  When the new tail would
//      overlap the old one, and for every change that moves live lines
//      (Clear, Delete, Move, Resize, changed definitions, Create), the new
//      layout is written to a new file that is renamed over the old one.
//   5. fOnlineFlag set on disk means the tags may not match the lines (a call
//      was cut short, or a multi-step write was interrupted): the next open
//      re-tags the whole stock.  A full save sets it before touching the tag
//      array and clears it in its final header.
//   6. The communication buffer keeps every line that is not yet on disk; a
//      failed write is reported and drops nothing.
//   7. While a stock is open this process holds an advisory lock on it (open
//      file description locks): shared while reading, exclusive while
//      writing.  A second instance can therefore never write a stock that
//      another has open, and never opens one that another is writing.
//
// States and the functions that move between them:
//
//                 Open / Create / CreateTempStockFile
//     +--------+ ------------------------------------> +------------------+
//     | closed |                                       | open (shared     |
//     +--------+ <------------------------------------ | read lock)       |
//                            Close                     +------------------+
//                                                       |   ^   EnableWrite(1)
//                                                       |   |   around Save,
//                         EnableWrite(1) + SetOnlineFlag|   |   SaveCurPosToStock,
//                                       (the dialler)   v   |   relayouts
//                                                +-----------------+
//                                                | online          |
//                                                | (exclusive lock,|
//                                                |  fOnlineFlag=1) |
//                                                +-----------------+
//                                                   | EndOnline (writes the
//                                                   | call's lines and tags,
//                                                   | clears the flag, back
//                                                   v to shared reading)
//     open --CheckOpeningTimeStamp / CheckTagTimeStamp--> re-tagging
//     re-tagging --(the retag hook completes)--> open, flag cleared
//     re-tagging --(interrupted)--> open, ftTagFile marked unfinished
//
// The temporary stock (no file could be opened) lives in the communication
// buffer only and never touches the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stock/codevram.h"
#include "stock/stockheader.h"

struct STOCKPROPDATA;  // stock/stockprop.h

// One line slot: the mark byte (0xFF ordinary line, 0xFE connect line, else
// the column where the user's echoed input begins) and cColumn text bytes.
struct STOCKITEM {
  unsigned char cInput;
  char* Text() { return reinterpret_cast<char*>(this) + 1; }
  const char* Text() const { return reinterpret_cast<const char*>(this) + 1; }
};

enum : unsigned char { STOCK_MARK_NONE = 0xFF, STOCK_MARK_CONNECT = 0xFE };
enum : unsigned char { TAG_NONE = 0, TAG_CONTINUE = 1, TAG_QUOTE = 2, TAG_CONNECT = 3 };

// Read-cache policy (set by add-ins).
enum STOCKFILECACHEMODE { STOCKCACHE_NORMAL = 0, STOCKCACHE_SINGLE = 1, STOCKCACHE_DOWNONLY = 2 };

// Date and time as the connect line writes them.
struct SYSTEMTIME {
  int wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};
FILETIME SystemTimeToFileTime(const SYSTEMTIME& st);
SYSTEMTIME FileTimeToSystemTime(FILETIME ft);

// Hooks to the parts of the program that are not the stock.  Each does
// nothing (or the least) by default, so the stock works alone, in tests and
// in quillnet-tool; the screen, tree, tag engine and add-in host install
// theirs when they start.
struct STOCKHOOKS {
  // The oldest line (a connect line) is about to be overwritten: the tree's
  // NotifyOverwrite, add-in event 10 and the tree pages' message.
  std::function<void(int slot)> connectLineOverwritten;
  // The oldest line is about to be overwritten (after the stock has moved its
  // own cursors): the screen scrolls when its top is that line.
  std::function<void(int slot)> oldestOverwritten;
  // The tag array moved (add-in event 15 and the tree pages' message).
  std::function<void(unsigned char* aTag)> tagArrayMoved;
  // Re-tag the whole stock for a reason (1 syntax changed in the dialog, 2 an
  // unfinished re-tagging, 3/2 the syntax file changed, 4 a call cut short).
  // Returns false when the re-tagging did not complete.  Default: nothing to
  // re-tag with, reported as complete.
  std::function<bool(int reason)> retag;
  // Load a colour syntax file; false when it cannot be opened.  Default:
  // succeeds when the file can be read.
  std::function<bool(const std::string& path)> openSyntax;
  // Use an empty colour syntax.  Default: nothing.
  std::function<void()> emptySyntax;
  // Ask the user for another syntax file after a failure (empty: declined).
  // Default: declines.
  std::function<std::string(const std::string& failedPath)> pickSyntax;
  // Whether the frame window exists (false during start-up and in tools).
  std::function<bool()> frameExists;
  // The view position to save (TREE::SaveCurPos): the screen's top line and
  // the tree level.  Default: the stock's own iViewTop, level unchanged.
  std::function<STOCKPOS()> takeViewPosition;
  // Current local time (tests replace it).
  std::function<SYSTEMTIME()> now;
  // The live lines were laid out anew (Clear, Delete, Move, Resize): every
  // slot held elsewhere is stale (the tree rebuilds itself).
  std::function<void()> relaid;
};

class STOCK {
 public:
  // ---- state (static members, one global instance `stock`) ----
  static STOCKFILEHEADER fileheader;  // the header as last read or written (in-memory view)
  static int hfile;                   // open file descriptor, -1 when none
  static std::string szFileName;
  static int fValid, fTemp, fWriteEnabled;
  static int cColumn, sizeSTOCKITEM;
  static int cItemMax, cItemMaxMax, cItemUsed;
  static std::vector<unsigned char> aTag;
  // Communication buffer: the newest cItemComm lines, from slot iItemComm,
  // room for cItemCommAlloc, line k at (k + iCommAccessDiff) mod the room.
  static std::vector<unsigned char> memComm;
  static int cItemComm, iItemComm, cItemCommAlloc, iCommAccessDiff;
  // Read cache: cItemCache lines from slot iItemCache, room for 250.
  static std::vector<unsigned char> memCache;
  static int cItemCache, iItemCache;
  static int fSingleCacheMode, fDownOnlyCacheMode;
  static int fCheckTurn;
  static int fDisableNewItemScroll;
  static int cItemMaxSaved;  // capacity at the last full save
  // Index and search definitions stored with the stock, raw records (61 and
  // 154 bytes).  The first cIndexFromSyntax index records come from the
  // colour syntax file and are not saved with the stock.
  static std::vector<std::string> aIndexProp, aSearchProp;
  static int cIndexFromSyntax;
  // The screen's line count (set by the screen; 1 without one) and whether
  // the frame is minimised.  Opening fills the communication buffer with
  // that many of the newest lines, and only lines in the buffer are written
  // back: set it before Open or Create, or call FrameSizeChanged after
  // changing it, or edits of older screen lines stay in the read cache.
  static int cLineFrame;
  static int fMinimized;
  // The screen's top line as placed at opening; the screen takes it from here.
  static int iViewTop;
  static STOCKHOOKS hooks;

  // Settings StockFile and StockFile2 (the current and the previous stock).
  static std::string StockFile, StockFile2;

  // ---- operations ----
  static int Open(const std::string& path);
  static int Create(const std::string& path, unsigned long lines, int columns, uint16_t backupMonths,
                    unsigned long backupLines, int daily);
  static int Close();
  static int EnableWrite(int enable, int report);
  static void Clear();
  static void Save();
  static void SaveCurPosToStock();
  static void EndOnline();
  static void SaveComm(int force);
  static void FlushComm();
  static int NewItem();
  static STOCKITEM* GetItem(int slot);
  // Copies up to `count` consecutive lines from a live slot on, in ring
  // order, into `out` (count x sizeSTOCKITEM bytes), reading the file in one
  // block and bypassing the read cache: for sequential readers of many lines
  // (export, backups).  Returns the number of lines copied (0 on a read
  // error, which is reported).
  static int ReadLines(int slot, int count, unsigned char* out);
  // The same lines without copying them: a pointer to *got (at least one,
  // at most `count`) consecutive lines from a live slot on, in ring order,
  // sizeSTOCKITEM bytes each.  Lines on disk are shown through a read-only
  // mapping of the file (no copy out of the page cache), newer ones straight
  // from the communication buffer.  Valid until the next call, a change of
  // the stock or its closing.  Null (and *got 0) on an error, which is
  // reported.  The file must not be cut short by another program meanwhile
  // (the lock keeps other instances from writing it).
  static const unsigned char* ViewLines(int slot, int count, int* got);
  static int AddIndex(int slot, int delta);
  static int Flat(int slot);
  static int UsedItems();
  static void Delete(int first, int count);
  static void Move(int target, int source);
  static int Resize(int newMax);
  static void InitializeCaches();
  static void FrameSizeChanged();
  static int IsOtherQuillnetSharing(const std::string& path);
  static int GetTagFileTimestamp(FILETIME* ft);
  static void CheckTagTimeStamp(int opening);
  static void CheckOpeningTimeStamp();
  static void CalcOldestDateTime();
  static void CreateTempStockFile();
  static void SetConnectTag(int slot);
  static void SetOnlineFlag();
  static void SetCacheMode(STOCKFILECACHEMODE mode);
  // Replaces the definitions saved with the stock (written at the next save).
  static void SetIndexProps(const std::vector<std::string>& records, int fromSyntax);
  static void SetSearchProps(const std::vector<std::string>& records);
  // The stock property dialog (stock/stockprop.h): runs it and applies what
  // the user confirmed; fills its data; applies confirmed data (1 when
  // applied, 0 when refused or cancelled).
  static int PropertyDialog();
  static void InitStockPropDlg(STOCKPROPDATA* data);
  static int StockPropDlgOK(const STOCKPROPDATA& data);
  // Bookmarks (oldest first, at most 10; the oldest is dropped for an 11th).
  static void AddMark(STOCKPOS pos);

  // Whether a stock whose newest connect line is `lastCall` is cleared at
  // `now` in daily-clear mode.
  static bool DailyClearDue(const SYSTEMTIME& lastCall, const SYSTEMTIME& now);
  // Slot of the newest connect line at or before the newest line, -1 if none.
  static int FindNewestConnectLine();

  // Back to the initial closed state (tests).  Closes without saving.
  static void ResetForTest();

 private:
  friend struct StockInternals;
};

extern STOCK stock;

// Date of a connect line: the last 14 text characters "YY/MM/DD hh:mm" (a
// four-digit year shows its last two), followed by a byte below 0x20.  A line
// without that pattern gives the year 2100 and every other field 0.
SYSTEMTIME GetDateTimeFromStock(const CODEVRAM& cv);
FILETIME GetTimeFromStock(const CODEVRAM& cv);
// The same on raw text bytes (cColumn of them).
SYSTEMTIME DateTimeFromConnectText(const char* text, int column);

// Opens the previous stock, any "*.stk" of the current directory that is not
// in use, or the temporary stock (result 0).
int OpenAnyStockFile();
