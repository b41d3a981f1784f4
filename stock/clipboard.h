// The clipboard module: stock lines out as text and the stock's private
// format, and clipboard contents back in as plain lines.
//
// What goes on the clipboard (a QMimeData, which is QtCore):
//   text/plain                          the lines as UTF-8, LF after each
//                                       logical line
//   application/x-quillnet-stock-info   one byte per logical line of the
//                                       text: 0xFE for a connect line, else
//                                       the line's input column (0xFF none)
//
// Putting data on the system clipboard and reading it back is QtGui
// (QClipboard); the user interface installs `clipboardHooks` for that.
// Without them (tests, quillnet-tool) a copy stays in this module's own
// clipboard, which a paste then reads, so copy and paste work alone.
//
// Text coming in takes LF, CR LF or CR as line ends; other bytes below 0x20
// become blanks (escape sequences are not interpreted: fed through the
// screen they could move the cursor onto older lines and rewrite them), and
// characters Shift_JIS cannot hold become "〓".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "stock/codevram.h"

class QMimeData;

extern const char kStockInfoMime[];  // "application/x-quillnet-stock-info"

// A copy of stock lines: the text in Shift_JIS, LF after each logical line
// (the last one only when it was copied to its end), and the info bytes.
struct STOCKCLIP {
  std::string sjis;
  std::string info;
  bool hasInfo = false;
};

struct CLIPBOARDHOOKS {
  // Puts data on the system clipboard (taking it over); false when the
  // clipboard could not be had.  Empty: the module's own clipboard.
  std::function<bool(std::unique_ptr<QMimeData> data)> put;
  // The system clipboard's data, null when it holds none.  Empty: the
  // module's own clipboard.
  std::function<const QMimeData*()> get;
};
extern CLIPBOARDHOOKS clipboardHooks;

namespace clipboard {

// The copy of the lines from column xTop of `top` to column xBottom of
// `bottom` (both inclusive lines; xBottom -1: every line whole and ended by
// LF).  `prefix` (Shift_JIS, may be empty) goes before every logical line.
// The first info byte is reduced by xTop (0xFF when it falls below 0), and
// a last one at or after xBottom becomes 0xFF (the input is not copied).
STOCKCLIP CopyLines(CODEVRAM top, CODEVRAM bottom, int xTop, int xBottom, const std::string& prefix);

// The clipboard form of a copy: the text as UTF-8, and the info bytes when
// the copy has them.
std::unique_ptr<QMimeData> ToMimeData(const STOCKCLIP& clip);
// Back from the clipboard: the text (UTF-8, any line ends) to Shift_JIS and
// the info bytes when the format is there.
STOCKCLIP FromMimeData(const QMimeData& data);

// Puts a copy on the clipboard (clipboardHooks or the module's own); false
// when the clipboard could not be had.
bool Put(const STOCKCLIP& clip);
// What the clipboard holds; false when it holds no text.
bool Get(STOCKCLIP* clip);
// Empties the module's own clipboard (tests).
void ResetForTest();

// UTF-8 to Shift_JIS; characters (and bytes that are no UTF-8) without a
// Shift_JIS form become "〓".
std::string Utf8ToSjisMarked(std::string_view utf8);

// One logical line of text coming in.
struct PLAINLINE {
  std::string text;  // Shift_JIS, control bytes turned into blanks
};
// Splits text at LF, CR LF and CR; a last line without an end is taken too.
std::vector<PLAINLINE> SplitLines(std::string_view sjis);
// The slots a logical line of `text` takes in a stock `column` wide: a
// double-byte character that would start in the last cell moves to the next
// slot (the cell keeps 0x7F); a line that fills its slot continues on an
// empty one, so that its end is seen.
int SlotsOfLine(std::string_view text, int column);

}  // namespace clipboard
