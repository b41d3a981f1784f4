// TERMINALVIEW: the widget that shows a MYBITMAP screen.
//
// The screen decides what is painted when (terminal/mybitmap.h); this widget
// installs the screen's SCREENPAINTER and does the drawing.  Rows are drawn
// straight from the stock lines into an off-screen canvas the size of the
// text area, one character at a time at its cell position, so a double-byte
// character always covers exactly two cells whatever the font's advances.
// Window scrolling moves the canvas contents; the widget's paint event only
// copies the canvas and adds the caret.
//
// Back-scroll: the wheel, the vertical scroll bar and the keys (Shift+Page Up
// or Shift+Up from the live terminal; Page Up/Down, Up/Down, Home/End and
// Left/Right inside the view) move cvTop over the scrollable range and put
// the screen into view mode; coming back to the newest line leaves it.
//
// Typing: key text and input-method commits are converted to Shift_JIS and
// sent through COMPORT::Send; cursor keys send what the host's CursorCode
// asks for.  Every typed byte is also reported to COLLATE::Typed.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <cstdint>
#include <unordered_map>
#include <vector>
#include <string>

#include "stock/codevram.h"

class MYBITMAP;

// What CODEVRAM::Associate selects a line's colours into: the number of the
// colour setting (CONFIG::aColor) its text is drawn in.  The background is
// the terminal's own (colour 0) on every line.
struct LINECOLOURS {
  int text = 7;
};
// The text colour of a line whose colour tag (CODEVRAM::ColorTag) is `tag`:
// 0 and the connect line the normal text colour 7, a quotation colour 16, a
// rule's line the colour of the rule's level (17 for level 1 .. 23 for 7).
int LineColourSetting(unsigned char colorTag);
// Points CODEVRAM::selectColors at LineColourSetting (every view does this
// when it is made).
void InstallLineColours();

class TERMINALVIEW : public QAbstractScrollArea {
 public:
  // Shows `screen` (the main screen when null).  The screen's painter is this
  // widget's until it is destroyed.
  explicit TERMINALVIEW(MYBITMAP* screen = nullptr, QWidget* parent = nullptr);
  ~TERMINALVIEW() override;

  MYBITMAP* Screen() const { return screen; }
  // The font from the settings (FaceName, FontPoint); the cell is the
  // half-width advance by the line height.  A family that is not installed
  // falls back to FallbackFamily(), and FontNote() then says so.
  void ApplyFont();
  const QString& FontNote() const { return fontNote; }
  // Whether every half-width character of the family has one advance (Qt's
  // fixed-pitch fonts and the dual-width CJK fonts).
  static bool IsCellFont(const QString& family);
  // The first CJK (Japanese) cell font installed; else the first Japanese
  // font, else the system's fixed font.
  static QString FallbackFamily();
  int CellWidth() const { return cxChar; }
  int CellHeight() const { return cyChar; }
  // The text area as drawn so far, top row first (tests, screenshots).
  QImage Canvas();
  // Scrolls the view back (negative) or forward by `lines`, entering or
  // leaving back-scroll mode as needed.
  void ScrollLines(int lines);
  // Whether the caret is shown now.
  bool CaretOn() const { return caretOn; }

  // Bytes typed by the user go here (Shift_JIS); also used for input-method
  // commits.  Sends through COMPORT::Send.
  static void SendTyped(const std::string& sjis);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  bool focusNextPrevChild(bool) override { return false; }  // TAB is a key for the host

 private:
  void InstallPainter();
  void PaintCells(int row, CODEVRAM line, int x0, int x1);
  void RepaintAllRows();
  void ScrollCanvas(int pixels);
  void ScrollRowBand(int top, int bottom, int n);
  // streaming: called for received lines (drawing of the bars is held back).
  void UpdateScrollBars(bool streaming = false);
  void ShowScrollBars();
  // Canvas access by text-area pixel row (ring mapped).
  uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(canvas.scanLine((y + ringTop) % canvas.height())); }
  void FillRows(int y, int n, int x, int w, QRgb color);
  const QImage& Glyph(char32_t ch, int cells, unsigned style, int colour);
  // Drawing is recorded and done when the window is shown: text that
  // scrolls away within a frame is never drawn.
  void RenderCells(int y, const char* text, int x0, int x1, unsigned style, int colour);
  void RenderPending();
  void ScheduleUpdate();
  void SetTop(int flatFromScrollableTop);
  bool AtNewest() const;
  bool BackScrollKey(QKeyEvent* e);
  QRect CaretRect() const;

  MYBITMAP* screen;
  QFont font, boldFont;
  QString fontNote;  // why the settings' font is not the one shown
  int cxChar = 8, cyChar = 16, ascent = 12;
  int origin = 0;         // smooth-scroll drawing offset in pixels
  bool caretOn = false;
  bool settingBars = false;  // scroll bars being set from the screen
  // The canvas is a ring of pixel rows: the text area's top row is canvas
  // row ringTop, so scrolling moves ringTop instead of the pixels.
  QImage canvas;
  int ringTop = 0;
  // Each character drawn once per look (code, cells, attributes) and then
  // copied: shaping text for every cell costs far more than a copy.
  std::unordered_map<uint64_t, QImage> glyphs;
  std::vector<int> glyphPalette;  // the colour settings the cached glyphs were drawn with
  // The line's text is copied when the drawing is recorded: the screen may
  // move text between stored lines before the window is shown.
  struct PENDING {
    int y;  // text-area pixel row of the cells' top, moved by scrolling
    size_t text;  // offset of the line's copy in pendingText
    int x0, x1;
    unsigned style;
    int colour;  // the line's text colour setting (LINECOLOURS)
  };
  std::vector<PENDING> pending;
  std::vector<char> pendingText;
  std::vector<uint8_t> rowStale;  // canvas rows to clear before the pending drawing

  // Window updates are held to one per kFrameMs while text streams in.
  QTimer* updateTimer = nullptr;
  QElapsedTimer sinceFlush;
  QElapsedTimer sinceEvents;  // the last time letEventsRun let events run
  // Scroll bar drawing is held to one per kBarPaintMs while lines stream.
  QTimer* barTimer = nullptr;
  QElapsedTimer sinceBarPaint;
  int wheelRest = 0;  // wheel turn (eighths of a degree) not yet made lines
  QString preedit;  // the input method's composition
};
