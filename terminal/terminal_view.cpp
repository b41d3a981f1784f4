#include "terminal/terminal_view.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/jcode.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/collate.h"
#include "terminal/mybitmap.h"

namespace {

// Colours are kept as 0x00BBGGRR in the settings.
QColor SettingColor(int n) {
  const int c = config.aColor[std::clamp(n, 0, CONFIG::COLOR_COUNT - 1)];
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
QColor Background() { return SettingColor(0); }
QColor Foreground() { return SettingColor(7); }
QColor HilightForeground() { return SettingColor(15); }

// The characters of Shift_JIS codes, converted once each and remembered:
// painting converts every character it draws.  0 means not converted yet;
// a code without a character maps to U+FFFD.
char32_t CharOf(unsigned char c1, unsigned char c2, bool pair) {
  static std::vector<char32_t> table(65536 + 256, 0);
  const size_t key = pair ? (size_t(c1) << 8 | c2) : 65536 + c1;
  char32_t& slot = table[key];
  if (slot == 0) {
    char bytes[2] = {char(c1), char(c2)};
    const QString s = QString::fromUtf8(jcode::SjisToUtf8(std::string_view(bytes, pair ? 2 : 1)));
    const auto u = s.toUcs4();
    slot = u.size() == 1 ? char32_t(u[0]) : U'\uFFFD';
  }
  return slot;
}

}  // namespace

TERMINALVIEW::TERMINALVIEW(MYBITMAP* screenToShow, QWidget* parent)
    : QAbstractScrollArea(parent), screen(screenToShow ? screenToShow : &bitmap) {
  setAttribute(Qt::WA_InputMethodEnabled);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::NoFrame);
  ApplyFont();
  InstallPainter();
  if (screen == &bitmap) MYBITMAP::hooks.hasFocus = [this] { return hasFocus(); };
}

TERMINALVIEW::~TERMINALVIEW() {
  screen->painter = SCREENPAINTER{};
  if (screen == &bitmap) MYBITMAP::hooks.hasFocus = nullptr;
}

void TERMINALVIEW::InstallPainter() {
  SCREENPAINTER& p = screen->painter;
  p.paint = [this](int row, CODEVRAM line, int x0, int x1) { PaintCells(row, line, x0, x1); };
  p.repaintAll = [this] { RepaintAllRows(); };
  p.scroll = [this](int pixels) { ScrollCanvas(pixels); };
  p.setOrigin = [this](int pixels) { origin = pixels; };
  p.scrollRows = [this](int top, int bottom, int n) { ScrollRowBand(top, bottom, n); };
  p.scrollBarChanged = [this] { UpdateScrollBars(); };
  p.caret = [this](bool on) {
    caretOn = on;
    viewport()->update();
  };
  p.windowActive = [this] { return isActiveWindow(); };
  p.letEventsRun = [this] {
    // Show the line just scrolled in before anything else runs.
    viewport()->repaint();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  };
}

void TERMINALVIEW::ApplyFont() {
  const QString family = config.FaceName[0] ? QString::fromUtf8(config.FaceName) : QStringLiteral("IPAGothic");
  const int points = config.FontPoint > 0 ? config.FontPoint : CONFIG::AutoFontPoint(1024);
  font = QFont(family);
  font.setPointSize(points);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setKerning(false);
  boldFont = font;
  boldFont.setBold(true);
  const QFontMetricsF fm(font);
  // A cell is the half-width advance; a full-width glyph gets two cells and
  // must fit in them.
  cxChar = std::max(1, int(std::ceil(fm.horizontalAdvance(QLatin1Char('0')))));
  const qreal wide = fm.horizontalAdvance(QString::fromUtf8("\xe6\xbc\xa2"));  // a kanji
  cxChar = std::max(cxChar, int(std::ceil(wide / 2)));
  cyChar = std::max(1, int(std::ceil(fm.height())));
  ascent = int(std::ceil(fm.ascent()));
  screen->SetFont(cxChar, cyChar);
  if (!canvas.isNull()) screen->Resize(canvas.width(), canvas.height());
}

// ---------------------------------------------------------------------------
// Drawing into the canvas

void TERMINALVIEW::PaintCells(int row, CODEVRAM line, int x0, int x1) {
  if (canvas.isNull() || !STOCK::fValid) return;
  const int columns = STOCK::cColumn;
  x0 = std::clamp(x0, 0, columns);
  x1 = std::clamp(x1, 0, columns);
  // Never start or end inside a double-byte character.
  if (x0 > 0 && line.IsKanji2(x0)) --x0;
  if (x1 > 0 && x1 < columns && line.IsKanji2(x1)) ++x1;
  if (x1 <= x0) return;
  const int y = row * cyChar + origin;
  if (y >= canvas.height() || y + cyChar <= 0) return;

  QColor fg = MYBITMAP::fAttrHilight ? HilightForeground() : Foreground();
  QColor bg = Background();
  if (MYBITMAP::fAttrReverse) std::swap(fg, bg);
  QFont f = MYBITMAP::fAttrHilight ? boldFont : font;
  f.setUnderline(MYBITMAP::fAttrUnderline != 0);

  const int xs = screen->xScroll;
  const QRect area((x0 - xs) * cxChar, y, (x1 - x0) * cxChar, cyChar);
  QPainter p(&canvas);
  p.setClipRect(area);
  p.fillRect(area, bg);
  p.setPen(fg);
  p.setFont(f);
  const QFontMetricsF fm(f);
  const auto* text = reinterpret_cast<const unsigned char*>(line.Item()->Text());
  for (int x = x0; x < x1;) {
    const unsigned char c = text[x];
    const bool pair = jcode::IsKanji1(c) && x + 1 < columns && text[x + 1] != 0;
    const int cells = pair ? 2 : 1;
    const int px = (x - xs) * cxChar;
    if (c != 0 && c != 0x7F && px + cells * cxChar > 0 && px < canvas.width()) {
      const char32_t ch = CharOf(c, pair ? text[x + 1] : 0, pair);
      if (ch != U' ') {
        const QString s = QString::fromUcs4(&ch, 1);
        // Each character is centred in its cells: full-width glyphs take
        // exactly two, half-width ones one.
        const qreal adv = fm.horizontalAdvance(s);
        const qreal left = px + (cells * cxChar - adv) / 2;
        p.drawText(QPointF(left, y + ascent), s);
      } else if (MYBITMAP::fAttrUnderline) {
        p.drawText(QPointF(px, y + ascent), QStringLiteral(" "));
      }
    }
    x += cells;
  }
  p.end();
  viewport()->update();
}

void TERMINALVIEW::RepaintAllRows() {
  if (canvas.isNull()) return;
  canvas.fill(Background());
  if (STOCK::fValid) {
    const int rows = std::min(screen->cyLines, screen->RowsInStock());
    for (int row = 0; row < rows; ++row) PaintCells(row, screen->LineAt(row), 0, STOCK::cColumn);
  }
  UpdateScrollBars();
  viewport()->update();
}

// Moves the canvas contents up by `pixels` (down when negative); the band
// left behind is cleared to the background.
void TERMINALVIEW::ScrollCanvas(int pixels) {
  if (canvas.isNull()) return;
  // In the middle of a smooth scroll each step is shown before the next.
  if (origin != 0) viewport()->repaint();
  const int h = canvas.height();
  const qsizetype bpl = canvas.bytesPerLine();
  uchar* bits = canvas.bits();
  const int n = std::min(std::abs(pixels), h);
  if (n < h) {
    if (pixels > 0)
      std::memmove(bits, bits + n * bpl, size_t((h - n) * bpl));
    else
      std::memmove(bits + n * bpl, bits, size_t((h - n) * bpl));
  }
  QPainter p(&canvas);
  if (pixels > 0)
    p.fillRect(0, h - n, canvas.width(), n, Background());
  else
    p.fillRect(0, 0, canvas.width(), n, Background());
  p.end();
  UpdateScrollBars();
  viewport()->update();
}

void TERMINALVIEW::ScrollRowBand(int top, int bottom, int n) {
  if (canvas.isNull() || n == 0 || bottom < top) return;
  const int h = canvas.height();
  const int bandTop = std::clamp(top * cyChar, 0, h);
  const int bandBottom = std::clamp((bottom + 1) * cyChar, 0, h);  // exclusive
  const int shift = std::abs(n) * cyChar;
  const int keep = bandBottom - bandTop - shift;
  if (keep > 0) {
    const qsizetype bpl = canvas.bytesPerLine();
    uchar* bits = canvas.bits();
    if (n > 0)
      std::memmove(bits + (bandTop + shift) * bpl, bits + bandTop * bpl, size_t(keep * bpl));
    else
      std::memmove(bits + bandTop * bpl, bits + (bandTop + shift) * bpl, size_t(keep * bpl));
  }
  // The rows left behind are painted by the screen afterwards; clear them so
  // nothing stale shows if it does not.
  QPainter p(&canvas);
  const int cleared = std::min(shift, bandBottom - bandTop);
  if (n > 0)
    p.fillRect(0, bandTop, canvas.width(), cleared, Background());
  else
    p.fillRect(0, bandBottom - cleared, canvas.width(), cleared, Background());
  p.end();
  viewport()->update();
}

void TERMINALVIEW::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  if (!canvas.isNull()) p.drawImage(0, 0, canvas);
  if (caretOn && !screen->fScrollView && STOCK::fValid) {
    const QRect r = CaretRect();
    p.fillRect(r.x(), r.bottom() - std::max(2, cyChar / 8) + 1, r.width(), std::max(2, cyChar / 8), Foreground());
  }
  if (!preedit.isEmpty()) {
    // The input method's composition, over the text at the caret.
    const QRect r = CaretRect();
    QFont f = font;
    f.setUnderline(true);
    p.setFont(f);
    const QRectF box(r.x(), r.y(), QFontMetricsF(f).horizontalAdvance(preedit), cyChar);
    p.fillRect(box, Background());
    p.setPen(Foreground());
    p.drawText(QPointF(r.x(), r.y() + ascent), preedit);
  }
}

QRect TERMINALVIEW::CaretRect() const {
  int cells = 1;
  if (STOCK::fValid && MYBITMAP::xchCur < STOCK::cColumn) {
    const unsigned char c = static_cast<unsigned char>(MYBITMAP::cvCur.Item()->Text()[MYBITMAP::xchCur]);
    if (jcode::IsKanji1(c) && !MYBITMAP::cvCur.IsKanji2(MYBITMAP::xchCur)) cells = 2;
  }
  const int x = (MYBITMAP::xchCur - screen->xScroll) * cxChar;
  const int y = screen->Row(MYBITMAP::cvCur) * cyChar;
  return QRect(x, y, cells * cxChar, cyChar);
}

void TERMINALVIEW::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  const QSize size = viewport()->size();
  if (size.isEmpty()) return;
  canvas = QImage(size, QImage::Format_RGB32);
  canvas.fill(Background());
  origin = 0;
  screen->Resize(size.width(), size.height());  // repaints through the painter
}

// ---------------------------------------------------------------------------
// Scroll bars and back-scroll

void TERMINALVIEW::UpdateScrollBars() {
  if (!STOCK::fValid) return;
  settingBars = true;
  QScrollBar* v = verticalScrollBar();
  const int vmax = std::max(0, MYBITMAP::cLineScrollable - screen->cyLines);
  v->setRange(0, vmax);
  v->setPageStep(screen->cyLines);
  v->setValue(std::clamp(STOCK::Flat(screen->cvTop) - STOCK::Flat(MYBITMAP::cvScrollableTop), 0, vmax));
  QScrollBar* h = horizontalScrollBar();
  const int hmax = std::max(0, STOCK::cColumn - screen->cxChars);
  h->setRange(0, hmax);
  h->setPageStep(screen->cxChars);
  h->setValue(std::clamp(screen->xScroll, 0, hmax));
  settingBars = false;
}

void TERMINALVIEW::scrollContentsBy(int, int) {
  if (settingBars || !STOCK::fValid) return;
  const int h = horizontalScrollBar()->value();
  if (h != screen->xScroll) {
    screen->xScroll = h;
    screen->CopyRect();
  }
  const int v = verticalScrollBar()->value();
  if (v != STOCK::Flat(screen->cvTop) - STOCK::Flat(MYBITMAP::cvScrollableTop)) SetTop(v);
}

bool TERMINALVIEW::AtNewest() const {
  return screen->Row(cvNewest) <= screen->cyLines - 1;
}

// Puts the top row `v` lines below the first scrollable line; leaving the
// newest line's screen enters back-scroll mode, coming back to it leaves.
void TERMINALVIEW::SetTop(int v) {
  if (!STOCK::fValid) return;
  const int vmax = std::max(0, MYBITMAP::cLineScrollable - screen->cyLines);
  v = std::clamp(v, 0, vmax);
  const CODEVRAM top = STOCK::AddIndex(MYBITMAP::cvScrollableTop, v);
  if (top == screen->cvTop) {
    UpdateScrollBars();
    return;
  }
  screen->cvTop = top;
  const bool atNewest = AtNewest();
  if (!atNewest && !screen->fScrollView)
    screen->EnterScrollMode();
  else if (atNewest && screen->fScrollView && !screen->fView)
    screen->LeaveScrollMode();
  screen->CopyRect();
}

void TERMINALVIEW::ScrollLines(int lines) {
  if (!STOCK::fValid || lines == 0) return;
  SetTop(STOCK::Flat(screen->cvTop) - STOCK::Flat(MYBITMAP::cvScrollableTop) + lines);
}

void TERMINALVIEW::wheelEvent(QWheelEvent* e) {
  wheelRest += e->angleDelta().y();
  const int notches = wheelRest / 120;
  wheelRest -= notches * 120;
  if (notches) ScrollLines(-notches * 3);
  e->accept();
}

// The back-scroll keys: from the live terminal Shift+Page Up and Shift+Up
// enter the view; inside it Page Up/Down, Up/Down (three lines with Ctrl),
// Home/End (columns; lines with Ctrl), Left/Right move it.
bool TERMINALVIEW::BackScrollKey(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const bool shift = e->modifiers() & Qt::ShiftModifier;
  const int page = std::max(1, screen->cyLines - 1);
  if (!screen->fScrollView) {
    if (!shift) return false;
    if (e->key() == Qt::Key_PageUp) ScrollLines(-page);
    else if (e->key() == Qt::Key_Up) ScrollLines(ctrl ? -3 : -1);
    else return false;
    return true;
  }
  switch (e->key()) {
    case Qt::Key_PageUp: ScrollLines(-page); return true;
    case Qt::Key_PageDown: ScrollLines(page); return true;
    case Qt::Key_Up: ScrollLines(ctrl ? -3 : -1); return true;
    case Qt::Key_Down: ScrollLines(ctrl ? 3 : 1); return true;
    case Qt::Key_Home:
      if (ctrl) SetTop(0);
      else horizontalScrollBar()->setValue(0);
      return true;
    case Qt::Key_End:
      if (ctrl) SetTop(MYBITMAP::cLineScrollable);
      else horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
      return true;
    case Qt::Key_Left: horizontalScrollBar()->setValue(horizontalScrollBar()->value() - 1); return true;
    case Qt::Key_Right: horizontalScrollBar()->setValue(horizontalScrollBar()->value() + 1); return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------
// Typing

void TERMINALVIEW::SendTyped(const std::string& sjis) {
  if (sjis.empty() || !COMPORT::IsOpen()) return;
  for (char c : sjis) COMPORT::Send(c);
  COLLATE::Typed(sjis.data(), sjis.size());
}

void TERMINALVIEW::keyPressEvent(QKeyEvent* e) {
  if (BackScrollKey(e)) {
    e->accept();
    return;
  }
  std::string out;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const int key = e->key();
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: out = "\r"; break;
    case Qt::Key_Backspace: out = "\b"; break;
    case Qt::Key_Tab: out = "\t"; break;
    case Qt::Key_Escape: out = "\x1b"; break;
    case Qt::Key_Delete: out = "\x7f"; break;
    case Qt::Key_Up: out = "\x1b[A"; break;
    case Qt::Key_Down: out = "\x1b[B"; break;
    case Qt::Key_Right: out = "\x1b[C"; break;
    case Qt::Key_Left: out = "\x1b[D"; break;
    default:
      if (ctrl && key >= Qt::Key_A && key <= Qt::Key_Z)
        out = std::string(1, char(key - Qt::Key_A + 1));
      else if (ctrl && key == Qt::Key_At)
        out = std::string(1, '\0');
      else if (!e->text().isEmpty())
        out = jcode::Utf8ToSjis(e->text().toUtf8().toStdString());
  }
  if (out.empty()) {
    QAbstractScrollArea::keyPressEvent(e);
    return;
  }
  // Typing goes to the live terminal: back to the newest lines first.
  if (screen->fScrollView && !screen->fView) SetTop(MYBITMAP::cLineScrollable);
  SendTyped(out);
  e->accept();
}

void TERMINALVIEW::inputMethodEvent(QInputMethodEvent* e) {
  if (!e->commitString().isEmpty()) SendTyped(jcode::Utf8ToSjis(e->commitString().toUtf8().toStdString()));
  preedit = e->preeditString();
  viewport()->update();
  e->accept();
}

QVariant TERMINALVIEW::inputMethodQuery(Qt::InputMethodQuery query) const {
  switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return CaretRect();
    case Qt::ImFont: return font;
    case Qt::ImHints: return int(Qt::ImhNone);
    default: return QAbstractScrollArea::inputMethodQuery(query);
  }
}

void TERMINALVIEW::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  caretOn = !screen->fScrollView;
  viewport()->update();
}

void TERMINALVIEW::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  caretOn = false;
  viewport()->update();
}
