// Creating a stock file the way the program does for the user: the choices
// of the creation wizard (shell/stock_wizard_dialog.h) and the steps around
// STOCK::Create — the question before replacing a file, closing the current
// stock, remembering it as the previous one, the colour syntax of the new
// stock, and falling back to another stock after a failure.
#pragma once

#include <optional>
#include <string>

#include "stock/stockprop.h"

struct STOCKWIZARDDATA {
  // The file (a name without a directory lands in the program's directory;
  // ".stk" is added to a name without an extension).
  std::string path;
  STOCKMODE mode = STOCKMODE::Ring;
  // Ring mode: lines in units of 10,000 ("0.1" to "0.9" for 1000 to 9000).
  std::string linesEntry = "10";
  int columns = 80;  // 40 to 250
  // Backup mode: offer a backup after this many months (2 to 24) and this
  // many units of 10,000 lines (1 to 400), each when checked.
  bool backupMonthsOn = true;
  int backupMonths = 6;
  bool backupLinesOn = false;
  int backupLinesUnits = 100;
  // The colour syntax file of the new stock, empty for none.
  std::string syntaxFile;
};

// What STOCK::Create is given for the choices.
struct STOCKCREATEARGS {
  std::string path;
  unsigned long lines = 0;
  int columns = 80;
  uint16_t backupMonths = 0;
  unsigned long backupLines = 0;
  int daily = 0;
};
// nullopt when the ring mode's entry is not a number.
std::optional<STOCKCREATEARGS> StockCreateArgs(const STOCKWIZARDDATA& d);

// The file the stock will be in: ".stk" added to a name without extension.
std::string StockWizardPath(const std::string& entered);

// The size of a ring of `lines` lines of `columns` columns (taken between
// 40 and 250): ((columns + 2) x lines / 1024) KB, in MB with one decimal.
std::string StockSizeText(int columns, long lines);

// Creates the stock: asks before replacing an existing file, refuses on line
// and a file another instance uses, closes the current stock, keeps its path
// as the previous stock, creates, opens the colour syntax (an empty one when
// there is none or it cannot be opened), and stores the names in the
// settings.  After a failed creation another stock is opened
// (OpenAnyStockFile).  Returns 1 created, 0 failed (the open stock changed),
// -1 nothing done (declined, refused or a bad entry).
int CreateStockFromWizard(const STOCKWIZARDDATA& d);
