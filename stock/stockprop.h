// The stock property dialog's logic: what the dialog shows about the open
// stock (mode, width, used lines, colour syntax file, oldest call, usage
// statistics), and applying what the user chose (retention mode, maximum
// lines, backup thresholds, colour syntax file).
//
// The window itself (stock/stockprop_dialog.h) only fills its controls from
// a STOCKPROPDATA and writes the user's choices back into it;
// STOCK::PropertyDialog runs it through the user-interface facade.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "stock/stock.h"

// Retention modes, in the order the dialog lists them.
enum class STOCKMODE { Ring = 0, Backup = 1, Daily = 2 };

// Labels of the three modes (with their keyboard accelerators).
extern const char kStockModeRing[];    // "最大行数を固定して古い方から上書きしていくモード(&F)"
extern const char kStockModeBackup[];  // "定期的に古い分をバックアップするモード(&B)"
extern const char kStockModeDaily[];   // "毎日中身をクリアするモード(&E)"
// The syntax file entry that means "no colour syntax".
extern const char kNoSyntaxFile[];     // "(カラー構文なし)"

// Usage statistics of a stock, from its connect lines.  Rates are 0 when
// there is nothing to measure them on (no dated call).
struct STOCKSTATS {
  int calls = 0;              // connect lines
  int callLines = 0;          // lines from the oldest connect line to the newest line
  bool haveDates = false;     // at least one connect line carries a date
  SYSTEMTIME firstCall;       // date of the oldest dated connect line
  SYSTEMTIME lastCall;        // date of the newest dated connect line
  int daysHeld = 0;           // calendar days from the first call to today, both counted
  double linesPerCall = 0;    // callLines / calls
  double callsPerDay = 0;     // calls / daysHeld
  double linesPerDay = 0;     // callLines / daysHeld
  // Days, at linesPerDay, until the stock reaches its limit (ring mode: its
  // maximum, after which the oldest lines are overwritten; backup mode: the
  // backup line count, when set).  -1 when there is no limit or no rate.
  int daysUntilLimit = -1;
  // Days of calls the whole limit holds at linesPerDay; -1 as above.
  int daysInLimit = -1;
};

// Everything the dialog shows and edits.
struct STOCKPROPDATA {
  // Shown only.
  std::string fileName;
  int column = 0;
  int usedLines = 0;
  int maxLines = 0;
  int percentUsed = 0;        // usedLines of maxLines, in whole percent (rounded down)
  std::string oldestCall;     // "YYYY/MM/DD hh:mm", empty when unknown
  STOCKSTATS stats;

  // Chosen by the user.
  STOCKMODE mode = STOCKMODE::Ring;
  // Ring mode's maximum, in units of 10,000 lines ("0.1" to "0.9" for 1000
  // to 9000 lines, "1" to "500").
  std::string maxLinesEntry;
  // Backup mode: a backup is offered after this many months (2 to 24) and
  // after this many units of 10,000 lines (1 to 400), each when checked.
  bool backupMonthsOn = false;
  int backupMonths = 6;
  bool backupLinesOn = false;
  int backupLinesUnits = 100;
  // Colour syntax file path; kNoSyntaxFile (or empty) for none.
  std::string syntaxFile;

  // The maximum entry as it was filled in: an unchanged entry keeps the
  // maximum exactly, even when the entry cannot express it.
  std::string maxLinesEntryShown;
};

// Hooks to the parts of the program that are not the stock.  The defaults
// let the logic run alone (tests, tools).
struct STOCKPROPHOOKS {
  // Shows the dialog on the data and writes the user's choices into it;
  // returns ui::IDOK when confirmed.  Default (no window): ui::IDCANCEL.
  std::function<int(STOCKPROPDATA& data)> window;
  // The tag engine's ClearLowLevelTags.  Default: the stock's own
  // ClearLowLevelStockTags.
  std::function<void()> clearLowLevelTags;
  // The tree is rebuilt after a change (the view has been put at the newest
  // line).  Default: nothing.
  std::function<void()> rebuildTree;
};
extern STOCKPROPHOOKS stockPropHooks;

// Whether a call is on line (the program's on-line flag): the properties are
// not changed then.  The settings (shell/config, which hold the flag) install
// it before main() runs; without it the stock counts as off line.
extern int (*pfnStockOnline)();

// The maximum-lines entry, in units of 10,000 lines: "0" and "0.1" give 1000
// lines, "0.x" gives x * 1000 (1000 to 9000), other values whole units of
// 10,000 from 1 to 500.  nullopt when the text is not a number.
std::optional<int> ParseMaxLinesEntry(const std::string& text);
// The entry for a maximum: "0.x" below 10,000 lines, else whole units
// (rounded down).
std::string FormatMaxLinesEntry(int lines);

// Sets every tag other than 0 (none) and 3 (connect line) to 0, from the
// oldest line up to the line before the newest: what is left of the old
// syntax's rules before a re-tagging with a new one.
void ClearLowLevelStockTags();

// The lines of information the dialog shows, as label and value texts: the
// file, width, used lines with their percentage, syntax file, oldest call
// and the statistics (the day forecasts that fit the stock's mode).
struct STOCKPROPROW {
  std::string label, value;
};
std::vector<STOCKPROPROW> StockPropSummary(const STOCKPROPDATA& data);

// Statistics of the open stock; `now` is today's date.  Reads the connect
// lines with the single-line cache and restores the cache mode after.
STOCKSTATS ComputeStockStats(const SYSTEMTIME& now);
