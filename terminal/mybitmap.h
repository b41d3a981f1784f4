// MYBITMAP: the terminal screen, a window of consecutive lines of the stock.
//
// The screen has no character array of its own.  Its rows are the stock lines
// from cvTop on, reached through line cursors, and every received character is
// written straight into those lines; the screen, the back-scroll history and
// the archive are one text.  Clearing or scrolling the screen pushes lines up
// into the history and never destroys them.
//
// One byte of Shift_JIS text is one cell; a double-byte character takes two.
// A text byte 0 is an empty cell.  A line filled to its last cell continues on
// the next stock line (a lead byte that would land in the last cell moves to
// the next line whole and leaves 0x7F behind), so a logical line is a run of
// stored lines of which only the last is not filled to the width.
//
// Who calls what:
//   the receive dispatcher    pBitmapCur->Input(bytes) for the displayed
//                             bytes of a pass, then pBitmapCur->Show() once;
//                             it reads fInQueueMax (fast mode) and must not
//                             run while fLettingEventsRun is set (Show lets
//                             pending events run while it scrolls line by
//                             line)
//   the view (widget)         installs `painter` on its screen, calls
//                             SetFont, Resize/Reset, and paints rows straight
//                             from the stock lines (LineAt) with the three
//                             attribute flags and xScroll
//   later parts               fill in MYBITMAP::hooks (colour syntax, tree,
//                             add-ins, input line, selection, highlighting);
//                             every hook does nothing while it is empty
//
// Escape sequences: escState 0 normal -> 1 after ESC -> 2 after ESC "[" or
// ESC "(" -> 0 when ProcessEscape (terminal/escape.cpp) reports the sequence
// finished.  ESC D, E, M, 7 and 8 are handled in Input.
//
// User-interface thread only.  The state shared by all
// screens is static; only one screen (pBitmapCur) receives text at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "stock/codevram.h"
#include "stock/stock.h"

// What the screen asks of the window that shows it.  Each screen has its own
// painter; a screen without one (tests, quillnet-tool) keeps all its state
// just the same and paints nothing.  Rows are 0-based window rows counted from
// cvTop, columns are stock columns (the view subtracts xScroll).
struct SCREENPAINTER {
  // Paint columns [x0, x1) of `line`, shown at `row`, in the line's colours
  // with the attribute flags in force now (MYBITMAP::fAttr*).
  std::function<void(int row, CODEVRAM line, int x0, int x1)> paint;
  // Repaint every row (after cvTop or xScroll jumped, CopyRect).
  std::function<void()> repaintAll;
  // Move the window contents up by `pixels` (a whole line, several lines at
  // once, or one step of a smooth scroll).
  std::function<void(int pixels)> scroll;
  // While a smooth scroll step is under way rows are drawn `pixels` below
  // their place (the new bottom line is then partly below the window); 0
  // otherwise.
  std::function<void(int pixels)> setOrigin;
  // Move the contents of rows top..bottom by n rows (n > 0 down, n < 0 up);
  // the rows left behind are painted through `paint` afterwards.
  std::function<void(int top, int bottom, int n)> scrollRows;
  // The scrollable range or the screen size changed.
  std::function<void()> scrollBarChanged;
  // Show (true) or remove (false) the caret.
  std::function<void(bool on)> caret;
  // Whether the program's window is the active one (smooth scrolling only
  // then).  Empty: not active.
  std::function<bool()> windowActive;
  // Let pending events run once and give up the processor (between lines of
  // a line-by-line scroll).  MYBITMAP::fLettingEventsRun is set meanwhile.
  std::function<void()> letEventsRun;
};

// Hooks to the parts of the program around the screen that are not built yet
// or live elsewhere.  Empty hooks do nothing.
struct SCREENHOOKS {
  // The local input line is hidden while received text is written and shown
  // again afterwards.
  std::function<void()> hideInputLine, showInputLine;
  // A CR ended a logical line: `first` is its first stored line, `lines` how
  // many stored lines it has.  Empty: COLLATE::Collate (terminal/collate.h).
  std::function<void(CODEVRAM first, int lines)> collate;
  // A line feed finished a line whose tag is 0 (and NoColorOnline is off):
  // newLine tells the tree window a line arrived; classify asks the colour
  // syntax engine to tag the logical line (true when it did); treeAdd adds
  // the line that carries the new tag to the overall tree.
  std::function<void()> newLine;
  std::function<bool(CODEVRAM first, int lines)> classify;
  std::function<void(CODEVRAM tagged)> treeAdd;
  // Line-mode add-in receivers: a line completed by a line feed at the newest
  // line (lineEnd true: it ended with CR LF) or cut by a wrap (false).  The
  // text never holds the line end, so a receiver that wants the received
  // form appends CR LF itself and one that does not copies nothing extra.
  std::function<void(const char* text, int length, bool lineEnd)> lineToAddins;
  // BEL: system sound event 8.
  std::function<void()> bell;
  // URL and e-mail highlighting over a line the cursor leaves, and over the
  // lines newly scrolled into view.
  std::function<void(CODEVRAM line)> highlightLine;
  std::function<void(CODEVRAM first, int count)> highlightLines;
  // The mouse selection: whether one is active, and ending it.
  std::function<bool()> selectionActive;
  std::function<void()> endSelection;
  // Back-scroll mode: the received-data mark and the search mark, and
  // whether the client window has the focus.
  std::function<void()> clearReceivedMark, removeSearchMark;
  std::function<bool()> hasFocus;
  // The port's backlog (bytes waiting in the reader) and whether its input is
  // resting.  Empty: COMPORT::GetInQueueCount and COMPORT::fInQueueResting.
  std::function<int()> backlog;
  std::function<bool()> inputResting;
  // Clock for InputDateTime and the smooth-scroll timing.  Empty: local time
  // and GetTick.
  std::function<SYSTEMTIME()> now;
  std::function<TICK()> tick;
};

class MYBITMAP {
 public:
  static constexpr int kNoRegion = 5000001;  // iScrollBottom without a scroll region
  static constexpr int kParamBytes = 38;     // parameter bytes one sequence may hold

  MYBITMAP();
  ~MYBITMAP();
  MYBITMAP(const MYBITMAP&) = delete;
  MYBITMAP& operator=(const MYBITMAP&) = delete;

  // ---- received text ----------------------------------------------------
  // One received byte.
  void Input(char c);
  // A zero-terminated string / n bytes.  Outside escape sequences, runs of
  // printable bytes that fit before the line end are copied in one step.
  void Input(const char* s);
  void Input(const char* s, size_t n);
  void InputAndShow(const char* s);
  // " - " and the local date and time "YYYY/MM/DD hh:mm", then CR LF.
  void InputDateTime();

  // ---- painting ---------------------------------------------------------
  // Paints the pending repaint area and scrolls by cNewLines as the settings
  // say (the painting schedule), then empties both.
  void Show();
  // Widens the pending repaint area by columns x .. x+n of line cv (nothing
  // in fast mode).
  static void AddUpdateChar(CODEVRAM cv, int x, int n);
  static void ClearUpdateArea();
  // Paints columns [x0, x1) of a line now, when it is on the screen.
  void RefreshText(CODEVRAM cv, int x0, int x1);
  // Repaints the whole window (after the horizontal offset changed).
  void CopyRect();

  // ---- size and placement -----------------------------------------------
  // The font's cell size in pixels (the view sets it; 8 x 16 without one).
  void SetFont(int cxCharPixels, int cyCharPixels);
  // A back-scroll view screen.  The caller puts cvTop on the line to show
  // at the bottom; cvTop moves up by lines - 1, the scrollable range becomes
  // the whole stock, then Reset (which leaves the shared cursor alone for a
  // view) and view mode.
  void Start(void* hwnd, int columns, int lines);
  // Sets the size; outside view mode puts the cursor on the newest line and
  // the screen's bottom on it.  Clears the repaint area, cNewLines, the
  // attributes and the scroll region.
  void Reset(void* hwnd, int columns, int lines);
  // A new client size in pixels: columns and lines from the font, then Reset.
  void Resize(int widthPixels, int heightPixels);
  // Appends blank lines at the newest end until the screen's lines exist.
  void FillScreenCodeVram();

  // ---- erase and edit (cursor line or screen) ---------------------------
  void ClearScreen();
  void ClearAfterCursor();
  void ClearBeforeCursor();
  void ClearCursorEnd();
  void ClearCursorTop();
  void ClearCursorLine();
  void InsertSpace(int n);
  void DeleteChar(int n);
  void InsertLine(int n);  // at the cursor row
  void DeleteLine(int n);

  // ---- back-scroll mode -------------------------------------------------
  void EnterScrollMode();
  void LeaveScrollMode();

  // ---- escape sequences (terminal/escape.cpp) ---------------------------
  // One byte of an open sequence; nonzero when the sequence is finished.
  int ProcessEscape(char c);

  // ---- positions --------------------------------------------------------
  int GetCurrentX() const { return xchCur - xScroll; }
  int GetCurrentY() const { return Row(cvCur); }
  // Window row of a line (negative above the screen).
  int Row(CODEVRAM cv) const { return STOCK::Flat(cv) - STOCK::Flat(cvTop); }
  // The line at a window row (clamped to the stock's lines).
  CODEVRAM LineAt(int row) const { return STOCK::AddIndex(cvTop, row); }
  // Rows of the screen that exist in the stock (at most cyLines).
  int RowsInStock() const;

  // Back to the state before any screen existed (tests).  Also empties the
  // hooks and every screen's painter.
  static void ResetForTest();

  // ---- per-screen fields ------------------------------------------------
  void* hwndPaint = nullptr;  // the window this screen paints into (opaque here)
  int cxChar = 8, cyChar = 16;  // font cell in pixels
  int cyPixels = 0;             // cyLines x cyChar
  int fView = 0;                // a back-scroll view, not the live terminal
  int fScrollView = 0;          // in back-scroll (view) mode
  int fOddWidth = 0;            // client width not a whole number of columns
  int fVScrollable = 0;         // noted on entering view mode: more lines than rows
  int fHScrollable = 0;         // ... and lines wider than the window
  int cxChars = 80;             // columns visible in the window
  int xScroll = 0;              // horizontal view offset in columns
  CODEVRAM cvTop;               // line of the top row
  int cyLines = 24;             // rows
  struct RECT {
    int left = 0, top = 0, right = 0, bottom = 0;
  } rcClient;                   // text area in pixels
  SCREENPAINTER painter;

  // ---- state shared by all screens --------------------------------------
  static CODEVRAM cvCur;  // cursor line
  static int xchCur;      // cursor column, 0 .. STOCK::cColumn
  static CODEVRAM cvCurSave;
  static int xchCurSave;
  static CODEVRAM cvScrollableTop, cvScrollableBottom;
  static int cLineScrollable;
  static int escState;       // 0 normal, 1 after ESC, 2 inside a sequence
  static char chIntroducer;  // "[" or "("
  static int fAttrHilight, fAttrUnderline, fAttrReverse;
  static int iScrollTop, iScrollBottom;  // 0-based rows; kNoRegion: none
  static int iSavedRow, xSavedCol, fSavedHilight, fSavedUnderline, fSavedReverse;  // ESC 7
  // Pending repaint area: from column xUpdateLeft of cvUpdateTop to column
  // xUpdateRight of cvUpdateBottom; cvUpdateTop == -1: empty.
  static CODEVRAM cvUpdateTop, cvUpdateBottom;
  static int xUpdateLeft, xUpdateRight;
  static int cNewLines;          // lines added at the bottom since the last paint
  static int fLineEndNotify;     // 0 while a wrap inputs its own CR and LF
  static int fInputDuringScroll;
  static int fLettingEventsRun;  // Show is letting pending events run
  // The parameter buffer of the open sequence: byte 0 is ";", parameter
  // bytes from byte 1; pParam is the read pointer.
  static char szParam[kParamBytes + 2];
  static int cParam;
  static const char* pParam;

  static SCREENHOOKS hooks;

 private:
  friend struct EscapeActions;

  void InputByte(unsigned char c);
  void WriteCells(const char* s, int n);
  void PutChar(unsigned char c);
  void InputStrSub(const char* s, int n);
  void Orikaeshi();
  void Index(bool toColumnZero);
  void ReverseIndex();
  void LineFeed();
  void InsertLineAt(int row, int n);
  void DeleteLineAt(int row, int n);
  // The bottom row that InsertLine/DeleteLine may touch for `row`, or -1.
  int RegionBottomFor(int row) const;
  void ScrollUpForced(int n);
  void RepaintLine(CODEVRAM cv);
  void RepaintAll();
  void ExtendScrollable();
  void ScrollNewLines(int backlog, bool resting);
  void PaintUpdateArea();
  // Hands a finished line to the line hook: its first `length` bytes (-1:
  // the line's text length), with CR LF when `crlf`.
  void NotifyLineToAddins(CODEVRAM line, int length, bool crlf);
  bool CursorsLive();
  void HideInputLine();
  void ShowInputLine();

  static void OnOldestOverwritten(int slot);
  static std::vector<MYBITMAP*>& Screens();
  static int inputLineHidden;
  int xScrollShown = 0;  // the offset the window was last painted with
};

// The main screen and the screen that receives text.
extern MYBITMAP bitmap;
extern MYBITMAP* pBitmapCur;
// Fast mode: on while the port's backlog is large and SetScroll is on.  Owned
// by the screen, read by the receive dispatcher.
extern int fInQueueMax;

// The first stored line of the logical line that `cv` belongs to (walking
// back over lines filled to their last cell, at most to the oldest line and
// at most kLogicalLineWalk lines), and how many stored lines lead to cv.
constexpr int kLogicalLineWalk = 1000;
CODEVRAM FirstLineOfLogicalLine(CODEVRAM cv, int* lines);
