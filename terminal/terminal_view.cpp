#include "terminal/terminal_view.h"

#include <QCoreApplication>
#include <QFontDatabase>
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
#include "stock/tagmaker.h"
#include "terminal/collate.h"
#include "terminal/mybitmap.h"

namespace {

// At most one window update per frame while text streams in.
constexpr int kFrameMs = 16;
// While lines stream in, the scroll bars take their new values at once but
// are drawn again at most this often: drawing a styled bar costs about as
// much as copying the whole text area, and nobody reads it at frame rate.
constexpr int kBarPaintMs = 100;
// Line-by-line scrolling lets pending events run after each line; when lines
// come faster than this, only once per this many milliseconds.
constexpr int kEventsMs = 4;

// Colours are kept as 0x00BBGGRR in the settings.
QColor SettingColor(int n) {
  const int c = config.aColor[std::clamp(n, 0, CONFIG::COLOR_COUNT - 1)];
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
QColor Background() { return SettingColor(0); }
QColor Foreground() { return SettingColor(7); }
QColor HilightForeground() { return SettingColor(15); }
bool SamePalette(const std::vector<int>& kept) {
  return kept.size() == size_t(CONFIG::COLOR_COUNT) &&
         std::equal(kept.begin(), kept.end(), std::begin(config.aColor));
}

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

int LineColourSetting(unsigned char colorTag) {
  if (colorTag == TAG_QUOTE) return CONFIG::COLOR_QUOTE;
  if (colorTag <= TAG_CONTINUE) return 7;
  // The built-in records (the connect line) have level 0: normal colours.
  const int level = TAGMAKER::GetTagProp(colorTag)->level;
  return level >= 1 && level <= 7 ? CONFIG::COLOR_LEVEL1 + level - 1 : 7;
}

void InstallLineColours() {
  CODEVRAM::selectColors = [](void* dc, unsigned char colorTag) {
    static_cast<LINECOLOURS*>(dc)->text = LineColourSetting(colorTag);
  };
}

TERMINALVIEW::TERMINALVIEW(MYBITMAP* screenToShow, QWidget* parent)
    : QAbstractScrollArea(parent), screen(screenToShow ? screenToShow : &bitmap) {
  setAttribute(Qt::WA_InputMethodEnabled);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::NoFrame);
  updateTimer = new QTimer(this);
  updateTimer->setSingleShot(true);
  connect(updateTimer, &QTimer::timeout, this, [this] { viewport()->update(); });
  barTimer = new QTimer(this);
  barTimer->setSingleShot(true);
  connect(barTimer, &QTimer::timeout, this, [this] { ShowScrollBars(); });
  ApplyFont();
  InstallLineColours();
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
  p.scrollBarChanged = [this] { UpdateScrollBars(true); };
  p.caret = [this](bool on) {
    if (caretOn == on) return;
    caretOn = on;
    ScheduleUpdate();
  };
  p.windowActive = [this] { return isActiveWindow(); };
  p.letEventsRun = [this] {
    // Show the line just scrolled in before anything else runs, unless the
    // window was shown less than a frame ago: then the next frame shows it.
    // Lines arriving faster than frames would otherwise each cost a whole
    // window copy.
    if (!sinceFlush.isValid() || sinceFlush.elapsed() >= kFrameMs)
      viewport()->repaint();
    else
      ScheduleUpdate();
    // One trip through the event loop per line would cost more than the
    // line; a few milliseconds between trips keep the window responsive.
    if (!sinceEvents.isValid() || sinceEvents.elapsed() >= kEventsMs) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      sinceEvents.restart();
    }
  };
}

bool TERMINALVIEW::IsCellFont(const QString& family) {
  if (QFontDatabase::isFixedPitch(family)) return true;
  // fontconfig calls the CJK terminal fonts (IPAGothic, ...) "dual" width, and
  // Qt then counts them proportional: measure instead.  A cell font draws
  // every half-width character with the same advance.
  QFont f(family);
  f.setPointSize(12);
  const QFontMetricsF fm(f);
  const qreal cell = fm.horizontalAdvance(QLatin1Char('0'));
  for (QChar c : QStringLiteral("iWm.|"))
    if (std::abs(fm.horizontalAdvance(c) - cell) > 0.01) return false;
  return cell > 0;
}

QString TERMINALVIEW::FallbackFamily() {
  const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
  for (const QString& f : japanese)
    if (IsCellFont(f)) return f;
  if (!japanese.isEmpty()) return japanese.first();
  return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

void TERMINALVIEW::ApplyFont() {
  // FaceName is a text setting, held in Shift_JIS.
  QString family = config.FaceName[0] ? QString::fromStdString(jcode::SjisToUtf8(config.FaceName))
                                      : QStringLiteral("IPAGothic");
  fontNote.clear();
  if (!QFontDatabase::hasFamily(family)) {
    const QString other = FallbackFamily();
    fontNote = QStringLiteral("フォント「%1」が見つからないので「%2」で表示します。").arg(family, other);
    family = other;
  }
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
  glyphs.clear();
  screen->SetFont(cxChar, cyChar);
  if (!canvas.isNull()) screen->Resize(canvas.width(), canvas.height());
}

// ---------------------------------------------------------------------------
// Drawing into the canvas

namespace {

// Bits of a glyph's look.
enum : unsigned { kHilight = 1, kUnderline = 2, kReverse = 4 };

}  // namespace

void TERMINALVIEW::FillRows(int y, int n, int x, int w, QRgb color) {
  const int h = canvas.height();
  const int y0 = std::max(0, y), y1 = std::min(h, y + n);
  const int x0 = std::max(0, x), x1 = std::min(canvas.width(), x + w);
  if (x1 <= x0) return;
  for (int yy = y0; yy < y1; ++yy) std::fill_n(Row(yy) + x0, x1 - x0, color);
}

const QImage& TERMINALVIEW::Glyph(char32_t ch, int cells, unsigned style, int colour) {
  const uint64_t key = uint64_t(colour) << 40 | uint64_t(ch) << 8 | uint64_t(cells) << 4 | style;
  auto it = glyphs.find(key);
  if (it != glyphs.end()) return it->second;
  // Highlighted text keeps its own colour on a coloured line too.
  QColor fg = (style & kHilight) ? HilightForeground() : SettingColor(colour);
  QColor bg = Background();
  if (style & kReverse) std::swap(fg, bg);
  QImage img(cells * cxChar, cyChar, QImage::Format_RGB32);
  img.fill(bg);
  QFont f = (style & kHilight) ? boldFont : font;
  f.setUnderline((style & kUnderline) != 0);
  QPainter p(&img);
  p.setPen(fg);
  p.setFont(f);
  const QString text = QString::fromUcs4(&ch, 1);
  // Centred in its cells: full-width glyphs take exactly two, half-width
  // ones one.
  const qreal adv = QFontMetricsF(f).horizontalAdvance(text);
  p.drawText(QPointF((cells * cxChar - adv) / 2, ascent), text);
  p.end();
  return glyphs.emplace(key, std::move(img)).first->second;
}

void TERMINALVIEW::PaintCells(int row, CODEVRAM line, int x0, int x1) {
  if (canvas.isNull() || !STOCK::fValid) return;
  const int y = row * cyChar + origin;
  if (y >= canvas.height() || y + cyChar <= 0) return;
  const unsigned style = (MYBITMAP::fAttrHilight ? unsigned(kHilight) : 0u) |
                         (MYBITMAP::fAttrUnderline ? unsigned(kUnderline) : 0u) |
                         (MYBITMAP::fAttrReverse ? unsigned(kReverse) : 0u);
  LINECOLOURS colours;
  line.Associate(&colours);
  const size_t at = pendingText.size();
  const char* text = line.Item()->Text();
  pendingText.insert(pendingText.end(), text, text + STOCK::cColumn);
  pending.push_back({y, at, x0, x1, style, colours.text});
  ScheduleUpdate();
}

// Clears the rows scrolling exposed, then draws what was recorded, in order.
void TERMINALVIEW::RenderPending() {
  if (canvas.isNull()) return;
  const QRgb bg = Background().rgb();
  const int h = canvas.height(), w = canvas.width();
  for (int p = 0; p < h; ++p) {
    if (!rowStale[size_t(p)]) continue;
    auto* row = reinterpret_cast<uint32_t*>(canvas.scanLine(p));
    std::fill_n(row, w, bg);
    rowStale[size_t(p)] = 0;
  }
  if (STOCK::fValid)
    for (const PENDING& d : pending) RenderCells(d.y, pendingText.data() + d.text, d.x0, d.x1, d.style, d.colour);
  pending.clear();
  pendingText.clear();
}

void TERMINALVIEW::RenderCells(int y, const char* line, int x0, int x1, unsigned style, int colour) {
  const int columns = STOCK::cColumn;
  x0 = std::clamp(x0, 0, columns);
  x1 = std::clamp(x1, 0, columns);
  // Never start or end inside a double-byte character.
  if (x0 > 0 && StockIsKanji2(line, x0)) --x0;
  if (x1 > 0 && x1 < columns && StockIsKanji2(line, x1)) ++x1;
  if (x1 <= x0) return;
  const int h = canvas.height(), w = canvas.width();
  if (y >= h || y + cyChar <= 0) return;

  // The cached glyphs hold their colours: new settings start a new cache.
  if (!SamePalette(glyphPalette)) {
    glyphs.clear();
    glyphPalette.assign(std::begin(config.aColor), std::end(config.aColor));
  }
  const int xs = screen->xScroll;
  const auto* text = reinterpret_cast<const unsigned char*>(line);
  const int rowTop = std::max(0, y), rowBottom = std::min(h, y + cyChar);
  for (int x = x0; x < x1;) {
    const unsigned char c = text[x];
    const bool pair = jcode::IsKanji1(c) && x + 1 < columns && text[x + 1] != 0;
    const int cells = pair ? 2 : 1;
    const int px = (x - xs) * cxChar;
    x += cells;
    const int cw = cells * cxChar;
    if (px + cw <= 0 || px >= w) continue;
    const char32_t ch = (c == 0 || c == 0x7F) ? U' ' : CharOf(c, pair ? text[x - 1] : 0, pair);
    const QImage& g = Glyph(ch, cells, style, colour);
    // Copy the glyph's rows, clipped to the canvas.
    const int gx0 = std::max(0, -px), gx1 = std::min(cw, w - px);
    for (int yy = rowTop; yy < rowBottom; ++yy) {
      const auto* src = reinterpret_cast<const uint32_t*>(g.constScanLine(yy - y));
      std::memcpy(Row(yy) + px + gx0, src + gx0, size_t(gx1 - gx0) * 4);
    }
  }
}

void TERMINALVIEW::RepaintAllRows() {
  if (canvas.isNull()) return;
  canvas.fill(Background());
  ringTop = 0;
  pending.clear();
  pendingText.clear();
  std::fill(rowStale.begin(), rowStale.end(), 0);
  if (STOCK::fValid) {
    int rows = std::min(screen->cyLines, screen->RowsInStock());
    // A back-scroll range that ends before the newest line (a tree node)
    // shows nothing below its last line.
    if (screen->fScrollView) rows = std::min(rows, screen->Row(MYBITMAP::cvScrollableBottom) + 1);
    for (int row = 0; row < rows; ++row) PaintCells(row, screen->LineAt(row), 0, STOCK::cColumn);
  }
  UpdateScrollBars(true);  // also under a flood (a screenful or more at once)
  ScheduleUpdate();
}

// Moves the text up by `pixels` (down when negative); the band left behind
// is cleared to the background.  The ring turns; no pixel moves.
void TERMINALVIEW::ScrollCanvas(int pixels) {
  if (canvas.isNull()) return;
  // In the middle of a smooth scroll each step is shown before the next.
  if (origin != 0) viewport()->repaint();
  const int h = canvas.height();
  const int n = std::min(std::abs(pixels), h);
  if (pixels > 0) {
    ringTop = (ringTop + n) % h;
    for (int y = h - n; y < h; ++y) rowStale[size_t((y + ringTop) % h)] = 1;
  } else {
    ringTop = (ringTop + h - n) % h;
    for (int y = 0; y < n; ++y) rowStale[size_t((y + ringTop) % h)] = 1;
  }
  // Recorded drawing moves with the text; what left the area is dropped.
  const int shift = pixels > 0 ? -n : n;
  size_t kept = 0;
  for (PENDING& d : pending) {
    d.y += shift;
    if (d.y + cyChar > 0 && d.y < h) pending[kept++] = d;
  }
  pending.resize(kept);
  UpdateScrollBars(true);
  ScheduleUpdate();
}

void TERMINALVIEW::ScrollRowBand(int top, int bottom, int n) {
  if (canvas.isNull() || n == 0 || bottom < top) return;
  RenderPending();
  const int h = canvas.height();
  const int bandTop = std::clamp(top * cyChar, 0, h);
  const int bandBottom = std::clamp((bottom + 1) * cyChar, 0, h);  // exclusive
  const int shift = std::abs(n) * cyChar;
  const int keep = bandBottom - bandTop - shift;
  const size_t bytes = size_t(canvas.width()) * 4;
  // Row by row through the ring, in the order that never reads a row
  // already overwritten.
  if (keep > 0) {
    if (n > 0) {
      for (int k = keep - 1; k >= 0; --k) std::memmove(Row(bandTop + shift + k), Row(bandTop + k), bytes);
    } else {
      for (int k = 0; k < keep; ++k) std::memmove(Row(bandTop + k), Row(bandTop + shift + k), bytes);
    }
  }
  // The rows left behind are painted by the screen afterwards; clear them so
  // nothing stale shows if it does not.
  const int cleared = std::min(shift, bandBottom - bandTop);
  FillRows(n > 0 ? bandTop : bandBottom - cleared, cleared, 0, canvas.width(), Background().rgb());
  ScheduleUpdate();
}

// The window shows the canvas at most once a frame while text streams in;
// a quiet screen shows a change at once.
void TERMINALVIEW::ScheduleUpdate() {
  if (updateTimer->isActive()) return;
  const qint64 since = sinceFlush.isValid() ? sinceFlush.elapsed() : kFrameMs;
  if (since >= kFrameMs)
    viewport()->update();
  else
    updateTimer->start(int(kFrameMs - since));
}

QImage TERMINALVIEW::Canvas() {
  RenderPending();
  if (canvas.isNull() || ringTop == 0) return canvas;
  QImage out(canvas.size(), canvas.format());
  const int h = canvas.height();
  const size_t bytes = size_t(canvas.bytesPerLine());
  for (int y = 0; y < h; ++y) std::memcpy(out.scanLine(y), canvas.constScanLine((y + ringTop) % h), bytes);
  return out;
}

void TERMINALVIEW::paintEvent(QPaintEvent*) {
  sinceFlush.restart();
  RenderPending();
  QPainter p(viewport());
  if (!canvas.isNull()) {
    // The ring in two pieces: from its top row down, then the rows before it.
    const int h = canvas.height(), w = canvas.width();
    p.drawImage(QPoint(0, 0), canvas, QRect(0, ringTop, w, h - ringTop));
    if (ringTop > 0) p.drawImage(QPoint(0, h - ringTop), canvas, QRect(0, 0, w, ringTop));
  }
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
  ringTop = 0;
  pending.clear();
  pendingText.clear();
  rowStale.assign(size_t(size.height()), 0);
  origin = 0;
  screen->Resize(size.width(), size.height());  // repaints through the painter
}

// ---------------------------------------------------------------------------
// Scroll bars and back-scroll

void TERMINALVIEW::UpdateScrollBars(bool streaming) {
  if (!STOCK::fValid) return;
  settingBars = true;
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  // The values are always current.  While lines stream in, a bar drawn less
  // than kBarPaintMs ago is drawn again when that time is up (the timer
  // turns its drawing back on); what the user does is drawn at once.
  if (!streaming) {
    if (barTimer->isActive()) ShowScrollBars();
  } else if (!barTimer->isActive()) {
    if (sinceBarPaint.isValid() && sinceBarPaint.elapsed() < kBarPaintMs) {
      v->setUpdatesEnabled(false);
      h->setUpdatesEnabled(false);
      barTimer->start(int(kBarPaintMs - sinceBarPaint.elapsed()));
    } else {
      sinceBarPaint.restart();
    }
  }
  const int vmax = std::max(0, MYBITMAP::cLineScrollable - screen->cyLines);
  v->setRange(0, vmax);
  v->setPageStep(screen->cyLines);
  v->setValue(std::clamp(STOCK::Flat(screen->cvTop) - STOCK::Flat(MYBITMAP::cvScrollableTop), 0, vmax));
  const int hmax = std::max(0, STOCK::cColumn - screen->cxChars);
  h->setRange(0, hmax);
  h->setPageStep(screen->cxChars);
  h->setValue(std::clamp(screen->xScroll, 0, hmax));
  settingBars = false;
}

void TERMINALVIEW::ShowScrollBars() {
  barTimer->stop();
  sinceBarPaint.restart();
  // Turning drawing back on draws the bars with their current values.
  verticalScrollBar()->setUpdatesEnabled(true);
  horizontalScrollBar()->setUpdatesEnabled(true);
}

void TERMINALVIEW::scrollContentsBy(int, int) {
  if (settingBars || !STOCK::fValid) return;
  const int h = horizontalScrollBar()->value();
  if (h != screen->xScroll) {
    screen->xScroll = h;
    screen->CopyRect();
    UpdateScrollBars();  // the user's move is drawn at once
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
  UpdateScrollBars();  // the user's move is drawn at once
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
