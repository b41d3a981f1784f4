// The terminal view on the offscreen platform: cells and double-byte
// characters in the rendered image, the attributes and the caret, typed keys
// and input-method text reaching the port as Shift_JIS, back-scroll with the
// wheel, the keys and the scroll bars.  One test also draws the screenshot
// used by the README (written when QUILLNET_SCREENSHOT names a file).
#include "support/test_app.h"
#include "terminal/terminal_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <cstdlib>
#include <fstream>
#include <map>

#include "screen_fixture.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "terminal/colorsyntax.h"

namespace {

using App = TestApp;

std::string Sjis(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

class TerminalViewTest : public ScreenTest {
 protected:
  // The viewport as the window system would show it.
  static QImage Shot(TERMINALVIEW& view) {
    QCoreApplication::processEvents();
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  // Pixel columns of row `row` of the image that hold anything but the
  // background, within columns [fromPx, toPx).
  static std::vector<int> Ink(const QImage& img, int row, int cy, int fromPx, int toPx) {
    const QRgb bg = QColor(0, 0, 0).rgb();
    std::vector<int> xs;
    for (int x = std::max(0, fromPx); x < std::min(toPx, img.width()); ++x)
      for (int y = row * cy; y < (row + 1) * cy && y < img.height(); ++y)
        if (img.pixel(x, y) != bg) {
          xs.push_back(x);
          break;
        }
    return xs;
  }
  void Show(TERMINALVIEW& view, int w = 800, int h = 24 * 20) {
    view.resize(w, h);
    view.show();
    QCoreApplication::processEvents();
  }
  void Key(TERMINALVIEW& view, int key, Qt::KeyboardModifiers mods, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&view, &press);
  }
};

TEST_F(TerminalViewTest, ADoubleByteCharacterCoversExactlyTwoCells) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  Push(Sjis("A漢B\r\n漢字漢字漢字漢字漢字Z"));
  QFocusEvent out(QEvent::FocusOut);  // no caret in the picture
  QApplication::sendEvent(&view, &out);
  const QImage img = Shot(view);
  const int cx = view.CellWidth(), cy = view.CellHeight();
  ASSERT_GT(cx, 3);
  // Row 0: A in cell 0, the kanji in cells 1-2, B in cell 3.
  auto all = Ink(img, 0, cy, 0, 6 * cx);
  ASSERT_FALSE(all.empty());
  auto a = Ink(img, 0, cy, 0, cx), kanji = Ink(img, 0, cy, cx, 3 * cx), b = Ink(img, 0, cy, 3 * cx, 4 * cx);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(kanji.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_GT(kanji.back() - kanji.front() + 1, cx) << "a full-width glyph is wider than one cell";
  EXPECT_TRUE(Ink(img, 0, cy, 4 * cx, 6 * cx).empty());
  // Row 1: ten full-width characters take twenty cells; Z is in cell 20.
  auto z = Ink(img, 1, cy, 20 * cx, 21 * cx);
  EXPECT_FALSE(z.empty());
  EXPECT_FALSE(Ink(img, 1, cy, 18 * cx, 20 * cx).empty());
  EXPECT_TRUE(Ink(img, 1, cy, 21 * cx, 30 * cx).empty());
  ASSERT_FALSE(z.empty());
  EXPECT_GE(z.front(), 20 * cx);
}

TEST_F(TerminalViewTest, KeysGoToThePort) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  Key(view, Qt::Key_A, Qt::NoModifier, "a");
  EXPECT_EQ(Replies(), "a");
  Key(view, Qt::Key_Return, Qt::NoModifier, "\r");
  Key(view, Qt::Key_C, Qt::ControlModifier, QString(QChar(3)));
  Key(view, Qt::Key_Up, Qt::NoModifier);
  Key(view, Qt::Key_Backspace, Qt::NoModifier, "\b");
  EXPECT_EQ(Replies(), "\r\x03\x1b[A\b");
  // Full-width text from the keyboard is Shift_JIS too.
  Key(view, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("ア"));
  EXPECT_EQ(Replies(), "\x83\x41");
}

TEST_F(TerminalViewTest, InputMethodTextReachesThePortAsShiftJis) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  QInputMethodEvent preedit(QString::fromUtf8("にほんご"), {});
  QApplication::sendEvent(&view, &preedit);
  EXPECT_EQ(Replies(), "");  // a composition is not sent
  QInputMethodEvent commit;
  commit.setCommitString(QString::fromUtf8("日本語です"));
  QApplication::sendEvent(&view, &commit);
  EXPECT_EQ(Replies(), "\x93\xfa\x96\x7b\x8c\xea\x82\xc5\x82\xb7");
  EXPECT_EQ(static_cast<QWidget&>(view).inputMethodQuery(Qt::ImEnabled).toBool(), true);
}

TEST_F(TerminalViewTest, TheWheelScrollsBackAndForward) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  std::string text;
  for (int i = 0; i < 100; ++i) text += "L" + std::to_string(i) + "\r\n";
  Push(text);
  const int rows = bitmap.cyLines;
  ASSERT_GT(rows, 5);
  const int top0 = STOCK::Flat(bitmap.cvTop);
  EXPECT_EQ(Render(bitmap.LineAt(rows - 1)), "");  // the newest (empty) line at the bottom
  const int bar0 = view.verticalScrollBar()->value();
  EXPECT_EQ(bar0, view.verticalScrollBar()->maximum());
  const QImage before = Shot(view);

  QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(view.viewport(), &up);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0 - 3);
  EXPECT_EQ(bitmap.fScrollView, 1);
  EXPECT_EQ(view.verticalScrollBar()->value(), bar0 - 3);
  EXPECT_EQ(Render(bitmap.LineAt(rows - 1)), "L" + std::to_string(100 - 3));
  EXPECT_NE(Shot(view), before);
  EXPECT_FALSE(view.CaretOn() && bitmap.fScrollView == 0);

  QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(view.viewport(), &down);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0);
  EXPECT_EQ(bitmap.fScrollView, 0);
  EXPECT_EQ(Shot(view), before);
}

TEST_F(TerminalViewTest, BackScrollKeysAndTheScrollBar) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  std::string text;
  for (int i = 0; i < 200; ++i) text += "L" + std::to_string(i) + "\r\n";
  Push(text);
  const int rows = bitmap.cyLines, top0 = STOCK::Flat(bitmap.cvTop);
  Key(view, Qt::Key_PageUp, Qt::ShiftModifier);
  EXPECT_EQ(bitmap.fScrollView, 1);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0 - (rows - 1));
  Key(view, Qt::Key_Up, Qt::NoModifier);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0 - rows);
  Key(view, Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0 - rows - 3);
  EXPECT_EQ(Replies(), "");  // back-scroll keys are not sent
  Key(view, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(bitmap.cvTop, cvOldest);
  EXPECT_EQ(Render(bitmap.LineAt(0)), "L0");
  view.verticalScrollBar()->setValue(10);
  EXPECT_EQ(Render(bitmap.LineAt(0)), "L10");
  view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0);
  EXPECT_EQ(bitmap.fScrollView, 0);
  // Typing in the view goes back to the newest lines and is sent.
  Key(view, Qt::Key_PageUp, Qt::ShiftModifier);
  Key(view, Qt::Key_X, Qt::NoModifier, "x");
  EXPECT_EQ(bitmap.fScrollView, 0);
  EXPECT_EQ(STOCK::Flat(bitmap.cvTop), top0);
  EXPECT_EQ(Replies(), "x");
}

TEST_F(TerminalViewTest, TheHorizontalBarMovesTheColumns) {
  App app;
  Open(160, 24);
  TERMINALVIEW view;
  Show(view, 80 * 10 + 40);
  const int cx = view.CellWidth(), cy = view.CellHeight();
  ASSERT_LT(bitmap.cxChars, 160);
  EXPECT_EQ(view.horizontalScrollBar()->maximum(), 160 - bitmap.cxChars);
  Push(std::string(150, ' ') + "W");
  const int xs = view.horizontalScrollBar()->maximum();
  ASSERT_GT(xs, 20);
  view.horizontalScrollBar()->setValue(xs);
  EXPECT_EQ(bitmap.xScroll, xs);
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(&view, &out);
  const QImage img = Shot(view);
  EXPECT_FALSE(Ink(img, 0, cy, (150 - xs) * cx, (151 - xs) * cx).empty());
  EXPECT_TRUE(Ink(img, 0, cy, 0, (150 - xs) * cx).empty());
  view.horizontalScrollBar()->setValue(0);
  EXPECT_EQ(bitmap.xScroll, 0);
  EXPECT_TRUE(Ink(Shot(view), 0, cy, 0, view.width()).empty());
}

TEST_F(TerminalViewTest, AttributesAndTheCaret) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  Show(view);
  const int cx = view.CellWidth(), cy = view.CellHeight();
  const QRgb fg = QColor(0xAA, 0xAA, 0xAA).rgb(), bg = QColor(0, 0, 0).rgb();
  Push("\x1b[7mR\x1b[m n");
  QImage img = Shot(view);
  EXPECT_EQ(img.pixel(1, 1), fg);  // reverse: the cell's background is the text colour
  EXPECT_EQ(img.pixel(cx + 1, 1), bg);
  Push("\x1b[4mU\x1b[m");
  img = Shot(view);
  bool underline = false;  // a full-width line in the lower part of cell 3
  for (int y = cy / 2; y < cy; ++y) {
    int run = 0;
    for (int x = 3 * cx; x < 4 * cx; ++x) run += img.pixel(x, y) != bg;
    underline |= run >= cx - 1;
  }
  EXPECT_TRUE(underline);
  // The caret: a bar under the cursor cell while the view has the focus.
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(&view, &in);
  ASSERT_TRUE(view.CaretOn());
  img = Shot(view);
  EXPECT_EQ(img.pixel(4 * cx + cx / 2, cy - 1), fg);
  EXPECT_EQ(img.pixel(6 * cx + cx / 2, cy - 1), bg);
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(&view, &out);
  img = Shot(view);
  EXPECT_EQ(img.pixel(4 * cx + cx / 2, cy - 1), bg);
}

// Scrolling moves the canvas instead of redrawing it: after new lines (line
// by line, smooth, all at once) and inserted or deleted rows the picture must
// be the same as a full repaint of the same rows.
TEST_F(TerminalViewTest, ScrolledPictureEqualsAFullRepaint) {
  App app;
  struct Mode {
    int smooth, setScroll;
  } modes[] = {{0, 0}, {1, 0}, {0, 1}};
  for (const Mode& m : modes) {
    Open(80, 24);
    config.SmoothScroll = m.smooth;
    config.SmoothCount = 4;
    config.AutoSmooth = 0;
    config.SetScroll = m.setScroll;
    TERMINALVIEW view;
    Show(view);
    view.activateWindow();
    QCoreApplication::processEvents();
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&view, &out);
    const int rows = bitmap.cyLines;
    std::string text;
    for (int i = 0; i < rows + 5; ++i) text += "line " + std::to_string(i) + " text\r\n";
    Push(text);
    for (int i = 0; i < 4; ++i) Push(Sjis("行") + std::to_string(i) + "\r\n");
    Push("\x1b[5;1H\x1b[2L\x1b[10;1H\x1b[1M");
    const QImage scrolled = Shot(view);
    bitmap.CopyRect();
    const QImage repainted = Shot(view);
    int firstDiff = -1;  // the first pixel row that differs
    for (int y = 0; y < scrolled.height() && firstDiff < 0; ++y)
      for (int x = 0; x < scrolled.width(); ++x)
        if (scrolled.pixel(x, y) != repainted.pixel(x, y)) {
          firstDiff = y;
          break;
        }
    EXPECT_EQ(firstDiff, -1) << "smooth " << m.smooth << " setScroll " << m.setScroll << " cell height "
                             << view.CellHeight();
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  }
}

// A Japanese BBS menu as a host draws it.  With QUILLNET_SCREENSHOT set the
// image is written there (docs/screenshots/terminal.png in the repository).
// Cell fonts: every half-width character one advance, the CJK "dual" fonts
// included (Qt counts those proportional).  A missing font falls back to the
// first Japanese cell font, and the view says so.
TEST_F(TerminalViewTest, AMissingFontFallsBackToAJapaneseCellFont) {
  App app;
  struct Case {
    const char* family;
    bool cell;
  } cases[] = {{"IPAGothic", true}, {"IPAPGothic", false}, {"DejaVu Sans Mono", true}, {"DejaVu Sans", false}};
  for (const Case& c : cases) {
    if (!QFontDatabase::hasFamily(c.family)) continue;
    EXPECT_EQ(TERMINALVIEW::IsCellFont(c.family), c.cell) << c.family;
  }
  const QString fallback = TERMINALVIEW::FallbackFamily();
  ASSERT_TRUE(QFontDatabase::families(QFontDatabase::Japanese).contains(fallback)) << "no Japanese font installed";
  EXPECT_TRUE(TERMINALVIEW::IsCellFont(fallback));

  std::snprintf(config.FaceName, sizeof config.FaceName, "%s", "No Such Font Family");
  TERMINALVIEW missing;
  EXPECT_EQ(missing.FontNote(),
            QStringLiteral("フォント「No Such Font Family」が見つからないので「%1」で表示します。").arg(fallback));
  // The fallback draws a kanji in two cells as the settings' font would.
  std::snprintf(config.FaceName, sizeof config.FaceName, "%s", fallback.toUtf8().constData());
  TERMINALVIEW present;
  EXPECT_TRUE(present.FontNote().isEmpty());
  EXPECT_EQ(missing.CellWidth(), present.CellWidth());
  EXPECT_EQ(missing.CellHeight(), present.CellHeight());
}

TEST_F(TerminalViewTest, JapaneseBbsScreen) {
  App app;
  Open(80, 24);
  TERMINALVIEW view;
  view.resize(80 * 10, 24 * 20);
  view.show();
  QCoreApplication::processEvents();
  view.resize(bitmap.cxChar * 80 + view.verticalScrollBar()->sizeHint().width(), bitmap.cyChar * 24);
  QCoreApplication::processEvents();
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(&view, &in);
  const char* lines[] = {
      "Connected to demohost (127.0.0.1)\r\n",
      "\x1b[1m★☆★ 草の根ネット「くいるねっと」へようこそ ★☆★\x1b[m\r\n",
      "\r\n",
      "  現在の接続: 3人　　本日のアクセス: 128件\r\n",
      "\r\n",
      "\x1b[7m ＜メインメニュー＞ \x1b[m\r\n",
      "  [B] 掲示板 (ボード一覧)          [M] 電子メール\r\n",
      "  [C] チャット                     [U] 会員名簿\r\n",
      "  [F] ファイルライブラリ           [N] お知らせ\r\n",
      "  [P] プロフィール設定             [G] さようなら（ログオフ）\r\n",
      "\r\n",
      "\x1b[4mお知らせ\x1b[m: 今週末はオフ会です。参加希望の方は掲示板３番へ書き込んでください。全角と半角ｶﾅが混ざった長い行は折り返されます。\r\n",
      "\r\n",
      "コマンドを選んでください (B,M,C,U,F,N,P,G) > ",
  };
  for (const char* l : lines) Push(Sjis(l));
  const QImage img = view.grab().toImage();
  const int cy = view.CellHeight();
  EXPECT_FALSE(Ink(img.convertToFormat(QImage::Format_RGB32), 1, cy, 0, img.width()).empty());
  EXPECT_EQ(Render(bitmap.LineAt(bitmap.GetCurrentY())).substr(0, 4), Sjis("コマ"));
  if (const char* out = std::getenv("QUILLNET_SCREENSHOT")) {
    EXPECT_TRUE(img.save(QString::fromUtf8(out), "PNG"));
  }
}

QRgb Bgr(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF).rgb(); }

// Text is drawn anti-aliased on the black background, so an ink pixel is
// its colour scaled by its coverage.  Each well-covered pixel of a row is
// given to the candidate colour it is closest to a multiple of; the result
// counts the pixels per candidate (index into `candidates`).
std::vector<int> InkByColour(const QImage& img, int row, int cy, const std::vector<QRgb>& candidates) {
  std::vector<int> count(candidates.size(), 0);
  for (int y = row * cy; y < (row + 1) * cy && y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb p = img.pixel(x, y);
      const double pr = qRed(p), pg = qGreen(p), pb = qBlue(p);
      if (std::max({pr, pg, pb}) < 96) continue;  // faint edge pixels say little
      size_t best = 0;
      double bestError = 1e18;
      for (size_t k = 0; k < candidates.size(); ++k) {
        const double cr = qRed(candidates[k]), cg = qGreen(candidates[k]), cb = qBlue(candidates[k]);
        const double a = (pr * cr + pg * cg + pb * cb) / (cr * cr + cg * cg + cb * cb);
        const double er = pr - a * cr, eg = pg - a * cg, eb = pb - a * cb;
        const double error = er * er + eg * eg + eb * eb;
        if (error < bestError) {
          bestError = error;
          best = k;
        }
      }
      ++count[best];
    }
  return count;
}

// Lines tagged by the colour syntax as they arrive are drawn in their tag's
// colour: each level of a syntax's rules its own (17-23), a quotation inside
// a message colour 16, the second stored line of a wrapped rule line its
// rule's, the connect line and untagged lines the normal text colour.  A
// changed setting shows at the next full repaint.
TEST_F(TerminalViewTest, TaggedLinesAreDrawnInTheirTagsColours) {
  App app;
  Open(40, 24);
  // Rules L1 .. L7, each one level below the one before; L7 is a message.
  TagFileContents contents;
  contents.records = SystemRecords();
  for (int level = 1; level <= 7; ++level) {
    TAGPROP p = TagRecord("L" + std::to_string(level), level, "^L" + std::to_string(level) + " ");
    p.iSpeech = level == 7 ? 1 : 0;
    contents.records.push_back(p);
  }
  TAGAID aid;
  std::memset(&aid, 0, sizeof aid);
  aid.kind = 1;
  contents.aids.push_back(aid);
  const std::string syntax = dir.File("levels.tag");
  std::ofstream(syntax, std::ios::binary) << BuildTagFile(contents);
  ASSERT_EQ(TAGMAKER::Open(syntax), 1);
  InstallColourSyntax();
  // Colours far apart from one another, so that no mix-up goes unseen.
  config.aColor[7] = 0xC0C0C0;
  config.aColor[16] = 0x00FF00;
  const int level[7] = {0x0000FF, 0x00FFFF, 0xFF00FF, 0xFF0000, 0x0080FF, 0x808000, 0x8000FF};
  for (int k = 0; k < 7; ++k) config.aColor[17 + k] = level[k];

  TERMINALVIEW view;
  Show(view, 40 * 12, 24 * 24);
  QFocusEvent out(QEvent::FocusOut);  // no caret in the picture
  QApplication::sendEvent(&view, &out);
  Push("CONNECTED\r\n");
  STOCK::SetConnectTag(bitmap.LineAt(0));
  ASSERT_EQ(TAGMAKER::StartQuery(), 1);
  Push("L1 menu\r\nL2 board\r\nL3 " + std::string(45, 'H') + "\r\nL4 four\r\nL5 five\r\nL6 six\r\n"
       "L7 message\r\n> quoted\r\nbody\r\n");
  TAGMAKER::EndQuery();

  struct Row {
    int row;
    int tag;     // as the matcher left it
    int colour;  // the setting it is drawn in
  } rows[] = {{0, TAG_CONNECT, 7}, {1, 4, 17}, {2, 5, 18}, {3, 6, 19}, {4, TAG_CONTINUE, 19}, {5, 7, 20},
              {6, 8, 21},          {7, 9, 22}, {8, 10, 23}, {9, TAG_QUOTE, 16}, {10, TAG_NONE, 7}};
  for (const Row& r : rows) ASSERT_EQ(bitmap.LineAt(r.row).Tag(), r.tag) << "row " << r.row;

  const std::vector<int> settings = {7, 16, 17, 18, 19, 20, 21, 22, 23};
  auto check = [&](const char* when) {
    const QImage img = Shot(view);
    const int cy = view.CellHeight();
    std::vector<QRgb> candidates;
    for (int n : settings) candidates.push_back(Bgr(config.aColor[n]));
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(when) + ", row " + std::to_string(r.row));
      const std::vector<int> ink = InkByColour(img, r.row, cy, candidates);
      for (size_t k = 0; k < settings.size(); ++k) {
        if (settings[k] == r.colour)
          EXPECT_GT(ink[k], 10) << "hardly any ink in colour " << r.colour;
        else
          EXPECT_EQ(ink[k], 0) << "ink in colour " << settings[k] << ", the row's is " << r.colour;
      }
    }
  };
  check("as received");
  // A new quotation colour: the next full repaint uses it.
  config.aColor[16] = 0x00FFFF - 0x000080;
  ASSERT_TRUE(bitmap.painter.repaintAll);
  bitmap.painter.repaintAll();
  check("after a new quotation colour");
  TAGMAKER::Create();
}

// Tags a syntax no longer has (left by an older syntax until the stock is
// re-tagged) and the built-in records draw in the normal colour; continuation
// lines take the colour of the line they continue, and a run of them reaching
// the oldest line the normal one.
TEST_F(TerminalViewTest, EveryTagHasAColourAndStaleTagsTheNormalOne) {
  App app;
  Open(40, 24);
  TagFileContents contents;
  contents.records = SystemRecords();
  contents.records.push_back(TagRecord("menu", 1, "^M"));
  contents.records.push_back(TagRecord("board", 2, "^B"));
  std::ofstream(dir.File("two.tag"), std::ios::binary) << BuildTagFile(contents);
  ASSERT_EQ(TAGMAKER::Open(dir.File("two.tag")), 1);
  InstallLineColours();
  const struct {
    int tag, colour;
  } table[] = {{TAG_NONE, 7}, {TAG_QUOTE, 16}, {TAG_CONNECT, 7}, {4, 17}, {5, 18}, {6, 7}, {200, 7}, {255, 7}};
  for (const auto& t : table) EXPECT_EQ(LineColourSetting(static_cast<unsigned char>(t.tag)), t.colour) << t.tag;

  Push("a\r\nb\r\nc\r\nd\r\n");
  const CODEVRAM a = bitmap.LineAt(0), b = bitmap.LineAt(1), c = bitmap.LineAt(2), d = bitmap.LineAt(3);
  auto colourOf = [](CODEVRAM line) {
    LINECOLOURS lc;
    lc.text = -1;
    line.Associate(&lc);
    return lc.text;
  };
  STOCK::aTag[size_t(a.i)] = TAG_CONTINUE;  // the oldest line
  STOCK::aTag[size_t(b.i)] = TAG_QUOTE;
  STOCK::aTag[size_t(c.i)] = TAG_CONTINUE;
  STOCK::aTag[size_t(d.i)] = TAG_CONTINUE;
  EXPECT_EQ(colourOf(a), 7);
  EXPECT_EQ(colourOf(d), 16);
  STOCK::aTag[size_t(b.i)] = 5;
  EXPECT_EQ(colourOf(c), 18);
  TAGMAKER::Create();
}

}  // namespace
