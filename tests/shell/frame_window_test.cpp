// The frame: menus that follow the on-line state, the caption, the host
// menu, the function keys and the focus keys, the question at closing while
// on line, and the saved placement.  One test also draws the screenshot of
// the main window with the host list open (written when QUILLNET_SCREENSHOT
// names a file).
#include <QAction>
#include <QDockWidget>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "port/comport.h"
#include "settings_fixture.h"
#include "shell/frame_window.h"
#include "shell/hostlist_window.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "support/line_peer.h"
#include "support/test_app.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/terminal_view.h"

namespace {

class FrameTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    ResetOnlineForTest();
    hostprop.SetDefault();
    ASSERT_EQ(STOCK::Create(dir.File("frame.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    STOCK::StockFile = dir.File("frame.stk");
  }
  void TearDown() override {
    COMPORT::Close();
    COMPORT::ResetForTest();
    ResetOnlineForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    hostprop.SetDefault();
    SettingsTest::TearDown();
  }
  static QAction* Action(QMenuBar* bar, const QString& text) {
    for (QAction* a : bar->findChildren<QAction*>())
      if (a->text() == text) return a;
    return nullptr;
  }
  static QMenu* Menu(QMenuBar* bar, const QString& title) {
    for (QMenu* m : bar->findChildren<QMenu*>())
      if (m->title() == title) return m;
    return nullptr;
  }
  void StoreHost(const char* utf8, bool inMenu) {
    HOSTPROPERTY p;
    p.SetDefault();
    std::snprintf(p.szName, sizeof p.szName, "%s", Sjis(utf8).c_str());
    p.ModemType = MODEM_TELNET;
    std::strcpy(p.DialNo, "127.0.0.1");
    ASSERT_TRUE(p.SaveRegistry());
    ASSERT_TRUE(HOSTINI::AppendHost(p.szName, inMenu ? 1 : 0));
  }
  // The current host is the demo BBS over telnet, in Shift_JIS.
  static void SetDemoBbsHost(bool autoJisEuc) {
    std::snprintf(hostprop.szName, sizeof hostprop.szName, "%s", Sjis("デモBBS").c_str());
    hostprop.ModemType = MODEM_TELNET;
    std::strcpy(hostprop.DialNo, "127.0.0.1");
    std::strcpy(hostprop.PortName, "2323");
    hostprop.KanjiCode = KANJI_SJIS;
    hostprop.AutoJisEuc = autoJisEuc ? 1 : 0;
  }
  TestApp app;
};

TEST_F(FrameTest, CommandsFollowTheOnlineStateAndTheCaptionItsRules) {
  FRAMEWINDOW frame;
  QMenuBar* bar = frame.menuBar();
  QAction* hangup = Action(bar, "切断(&D)");
  QMenu* connect = Menu(bar, "接続(&C)");
  ASSERT_TRUE(hangup && connect);
  EXPECT_FALSE(hangup->isEnabled());
  EXPECT_TRUE(connect->isEnabled());
  std::snprintf(hostprop.szName, sizeof hostprop.szName, "%s", Sjis("草の根ネット").c_str());
  SetQuillnetTitle(Sjis("草の根ネット - 接続中").c_str());
  EXPECT_EQ(frame.windowTitle(), "草の根ネット - 接続中");
  SetOnline(1);
  RestoreQuillnetTitle();
  EXPECT_TRUE(hangup->isEnabled());
  EXPECT_FALSE(connect->isEnabled());
  EXPECT_EQ(frame.windowTitle(), "草の根ネット");
  SetOnline(0);
  RestoreQuillnetTitle();
  EXPECT_FALSE(hangup->isEnabled());
  EXPECT_TRUE(connect->isEnabled());
  EXPECT_EQ(frame.windowTitle(), "Quillnet");
  // The stock's properties change only off line: on line the item is grey.
  QAction* stockProperty = Action(bar, "ストックのプロパティ(&P)...");
  ASSERT_TRUE(stockProperty);
  EXPECT_TRUE(stockProperty->isEnabled());
  SetOnline(1);
  EXPECT_FALSE(stockProperty->isEnabled());
  SetOnline(0);
  EXPECT_TRUE(stockProperty->isEnabled());
}

// The icon comes from the resources drawn from the SVG at build time, in
// every size, on the frame and on the application (dialogs, task bar).
TEST_F(FrameTest, TheWindowIconComesFromTheBundledResources) {
  FRAMEWINDOW frame;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage png(QStringLiteral(":/icons/%1x%1/quillnet.png").arg(size));
    ASSERT_EQ(png.size(), QSize(size, size));
    EXPECT_EQ(frame.windowIcon().pixmap(QSize(size, size)).size(), QSize(size, size));
    // The terminal's dark screen is in the middle of the picture.
    const QColor mid = png.pixelColor(size / 2, size / 2);
    EXPECT_EQ(mid.alpha(), 255);
    EXPECT_LT(mid.lightness(), 80);
  }
  EXPECT_FALSE(QApplication::windowIcon().pixmap(32).isNull());
}

TEST_F(FrameTest, HostMenuDialsTheHostsMarkedForIt) {
  StoreHost("草の根ネット", true);
  StoreHost("hidden", false);
  StoreHost("Nifty Serve", true);
  FRAMEWINDOW frame;
  std::vector<std::string> dialled;
  frame.dial = [&](const std::string& sjis) {
    dialled.push_back(sjis);
    return 0;
  };
  QMenu* connect = Menu(frame.menuBar(), "接続(&C)");
  ASSERT_TRUE(connect);
  std::vector<QString> names;
  for (QAction* a : connect->actions()) names.push_back(a->text());
  EXPECT_EQ(names, (std::vector<QString>{"草の根ネット", "Nifty Serve", "", "(電話をかける)", "(telnet接続)",
                                         "(シリアルポートに接続)"}));
  connect->actions()[4]->trigger();
  EXPECT_EQ(dialled, (std::vector<std::string>{Sjis("(telnet接続)")}));
  dialled.clear();
  connect->actions()[0]->trigger();
  EXPECT_EQ(dialled, (std::vector<std::string>{Sjis("草の根ネット")}));
  // A host added later appears once the menu is rebuilt.
  StoreHost("新しい局", true);
  HOSTINI::SetHostMenu();
  EXPECT_EQ(connect->actions().size(), 7);
  // On line the menu does not dial.
  SetOnline(1);
  connect->actions()[1]->trigger();
  EXPECT_EQ(dialled.size(), 1u);
}

TEST_F(FrameTest, FunctionKeysFromTheTerminalOnlyAndTabMovesTheFocus) {
  FRAMEWINDOW frame;
  std::vector<std::pair<int, bool>> keys;
  frame.functionKey = [&](int key, bool down) { keys.emplace_back(key, down); };
  frame.resize(800, 500);
  frame.show();
  frame.activateWindow();
  frame.Client()->setFocus();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), frame.Client());
  auto send = [&](QWidget* to, QEvent::Type t, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent e(t, key, mods);
    return QApplication::sendEvent(to, &e);
  };
  send(frame.Client(), QEvent::KeyPress, Qt::Key_F3);
  send(frame.Client(), QEvent::KeyRelease, Qt::Key_F3);
  send(frame.Client(), QEvent::KeyPress, Qt::Key_F12, Qt::AltModifier);  // Alt: not a function key
  EXPECT_EQ(keys, (std::vector<std::pair<int, bool>>{{3, true}, {3, false}}));
  // The buttons of the bar do the same.
  auto* bar = frame.FunctionKeyBar();
  ASSERT_TRUE(bar->isVisible());

  // Offline, Tab goes to the tree and back; on line it is the host's.
  auto* pages = frame.TreeDock()->findChild<QTabWidget*>("TreePages");
  ASSERT_TRUE(pages);
  send(frame.Client(), QEvent::KeyPress, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), pages->currentWidget());
  send(QApplication::focusWidget(), QEvent::KeyPress, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), frame.Client());
  fOnline = 1;
  send(frame.Client(), QEvent::KeyPress, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), frame.Client());
  fOnline = 0;
}

// Keys go the real way (the shortcut map first, then the focus widget): on
// line Ctrl+H is the host's backspace and reaches the peer; off line it opens
// the host list.  Every control key, Tab and the cursor keys on line go to
// the host as well, never to a shortcut.
TEST_F(FrameTest, OnLineCtrlHReachesTheHostAndOffLineOpensTheHostList) {
  FRAMEWINDOW frame;
  frame.resize(800, 500);
  frame.show();
  frame.activateWindow();
  frame.Client()->setFocus();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), frame.Client());
  auto hostListShown = [&] {
    auto* list = frame.findChild<HostListWindow*>();
    return list && list->isVisible();
  };

  LinePeer peer = MakeLinePeer(true);
  ASSERT_EQ(COMPORT::Start(std::move(peer.line)), 1);
  SetOnline(1);
  QTest::keyClick(frame.Client(), Qt::Key_H, Qt::ControlModifier);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), "\x08");
  EXPECT_FALSE(hostListShown());
  // A function key goes to its hook and sends nothing itself (the stream
  // below would show it).
  std::vector<std::pair<int, bool>> fkeys;
  frame.functionKey = [&](int key, bool down) { fkeys.emplace_back(key, down); };
  QTest::keyClick(frame.Client(), Qt::Key_F5);
  EXPECT_EQ(fkeys, (std::vector<std::pair<int, bool>>{{5, true}, {5, false}}));
  // The rest of the control keys, Tab and the cursor keys, in one stream.
  std::string expected;
  for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key) {
    QTest::keyClick(frame.Client(), Qt::Key(key), Qt::ControlModifier);
    expected += char(key - Qt::Key_A + 1);
  }
  QTest::keyClick(frame.Client(), Qt::Key_Tab);
  QTest::keyClick(frame.Client(), Qt::Key_Up);
  QTest::keyClick(frame.Client(), Qt::Key_Left);
  expected += "\t\x1b[A\x1b[D";
  EXPECT_EQ(ReadExactly(peer.ReadFd(), expected.size()), expected);
  EXPECT_FALSE(hostListShown());
  EXPECT_EQ(QApplication::focusWidget(), frame.Client());

  COMPORT::Close();
  SetOnline(0);
  QTest::keyClick(frame.Client(), Qt::Key_H, Qt::ControlModifier);
  EXPECT_TRUE(hostListShown());
}

// The status bar on line: the host and its connection, the kanji code, the
// call timer from the moment the call went on line, the log's file name and
// the back-scroll view; off line only the line state and the stock remain.
TEST_F(FrameTest, StatusBarShowsTheCallTheLogAndTheBackScroll) {
  struct Case {
    int kind;
    const char* dialNo;
    const char* portName;
    int portNo, baud, kanji, autoJisEuc;
    const char* connection;
    const char* code;
  };
  const Case cases[] = {
      {MODEM_TELNET, "bbs.example.jp", "2323", 0, 0, KANJI_SJIS, 0, "bbs.example.jp:2323", "シフトJIS"},
      {MODEM_TELNET, "::1", "telnet", 0, 0, KANJI_SJIS, 1, "[::1]:telnet", "シフトJIS (自動判別)"},
      {MODEM_TELNET, "[fe80::1]", "", 0, 0, KANJI_OLDJIS, 0, "[fe80::1]:telnet", "旧JIS"},
      {MODEM_DIRECT, "", "", 1, 9600, KANJI_EUC, 0, "/dev/ttyS1 9600bps", "EUC"},
      {MODEM_AT, "123", "", 0, 19200, KANJI_NEWJIS, 0, "/dev/ttyS0 19200bps", "新JIS"},
  };
  for (const Case& c : cases) {
    hostprop.ModemType = c.kind;
    std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "%s", c.dialNo);
    std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%s", c.portName);
    hostprop.PortNo = c.portNo;
    hostprop.Baudrate = c.baud;
    hostprop.KanjiCode = c.kanji;
    hostprop.AutoJisEuc = c.autoJisEuc;
    EXPECT_EQ(FRAMEWINDOW::ConnectionText(), QString::fromUtf8(c.connection));
    EXPECT_EQ(FRAMEWINDOW::KanjiCodeText(), QString::fromUtf8(c.code));
  }

  int64_t now = 5000;
  FRAMEWINDOW frame;
  frame.clock = [&] { return now; };
  frame.show();
  auto text = [&](const char* name) {
    auto* l = frame.findChild<QLabel*>(name);
    return l && l->isVisibleTo(&frame) ? l->text() : QString();
  };
  EXPECT_EQ(text("statusLine"), "オフライン");
  EXPECT_EQ(text("statusTimer"), "");
  SetDemoBbsHost(false);
  SetOnline(1);
  EXPECT_EQ(text("statusLine"), "接続中: デモBBS");
  EXPECT_EQ(text("statusConnection"), "127.0.0.1:2323");
  EXPECT_EQ(text("statusCode"), "シフトJIS");
  EXPECT_EQ(text("statusTimer"), "00:00:00");
  EXPECT_EQ(text("statusLog"), "");
  // The timer counts from going on line, however often the state is re-applied.
  now += (3600 + 2 * 60 + 5) * 1000 + 999;
  frame.ApplyOnline(1);
  EXPECT_EQ(text("statusTimer"), "01:02:05");
  ASSERT_EQ(LOG::Start(dir.File("call.log").c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, 1), 1);
  bitmap.EnterScrollMode();
  // Nothing told the frame: the once-a-second timer shows both.
  ASSERT_TRUE(WaitFor([&] {
    QCoreApplication::processEvents();
    return !text("statusScroll").isEmpty() && !text("statusLog").isEmpty();
  }, 3000));
  EXPECT_EQ(text("statusLog"), "ログ: call.log");
  EXPECT_EQ(text("statusScroll"), "バックスクロール中");
  bitmap.LeaveScrollMode();
  LOG::End();
  SetOnline(0);
  EXPECT_EQ(text("statusLine"), "オフライン");
  for (const char* gone : {"statusConnection", "statusCode", "statusTimer", "statusLog", "statusScroll"})
    EXPECT_EQ(text(gone), "") << gone;
  EXPECT_EQ(text("statusStock"), "ストック: frame.stk");
  // A new call starts the timer again.
  SetOnline(1);
  EXPECT_EQ(text("statusTimer"), "00:00:00");
  SetOnline(0);
}

TEST_F(FrameTest, ClosingOnLineAsksAndHangsUpOnlyWhenConfirmed) {
  FRAMEWINDOW frame;
  int hangups = 0;
  frame.hangup = [&] {
    ++hangups;
    SetOnline(0);
  };
  frame.show();
  SetOnline(1);
  boxes.rec.answers.push_back(ui::IDCANCEL);
  EXPECT_FALSE(frame.close());
  EXPECT_EQ(hangups, 0);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "電話がつながったままなので電話を強制切断してから終了します。");
  EXPECT_EQ(boxes.rec.boxes[0].style & 0xF, unsigned(ui::MB_OKCANCEL));
  boxes.rec.answers.push_back(ui::IDOK);
  EXPECT_TRUE(frame.close());
  EXPECT_EQ(hangups, 1);
  // Offline nothing is asked.
  FRAMEWINDOW second;
  second.show();
  EXPECT_TRUE(second.close());
  EXPECT_EQ(boxes.rec.boxes.size(), 2u);
}

TEST_F(FrameTest, PlacementIsSavedAndRestored) {
  {
    FRAMEWINDOW frame;
    frame.PlaceBySettings();  // nothing saved: a default size
    EXPECT_GT(frame.width(), 300);
    frame.setGeometry(40, 60, 700, 450);
    frame.show();
    QCoreApplication::processEvents();
    frame.SavePlacement();
  }
  EXPECT_EQ(config.WindowSizeX, 700);
  EXPECT_EQ(config.WindowSizeY, 450);
  FRAMEWINDOW again;
  again.PlaceBySettings();
  EXPECT_EQ(again.size(), QSize(700, 450));
}

// The main window as a user first sees it, with the host list open.
TEST_F(FrameTest, MainWindowWithTheHostList) {
  StoreHost("草の根ネット", true);
  StoreHost("デモBBS", true);
  StoreHost("大学のホスト (telnet)", false);
  FRAMEWINDOW frame;
  frame.resize(960, 620);
  frame.show();
  QCoreApplication::processEvents();
  std::string screen = Sjis(
      "\x1b[2J\x1b[1;1H\x1b[1m ＱＵＩＬＬＮＥＴ デモＢＢＳ　～ パソコン通信の広場 ～\x1b[m\r\n\r\n"
      "  メインメニュー\r\n\r\n   B．掲示板\r\n   W．アクセス者一覧\r\n   G．さようなら\r\n\r\n"
      "メインメニュー (B,W,G,?) > ");
  bitmap.Input(screen.data(), screen.size());
  bitmap.Show();
  frame.ShowHostList();
  auto* list = frame.findChild<HostListWindow*>();
  ASSERT_TRUE(list);
  list->resize(520, 340);
  QCoreApplication::processEvents();
  QImage shot = frame.grab().toImage();
  ASSERT_FALSE(shot.isNull());
  {
    QPainter p(&shot);
    const QImage dialog = list->grab().toImage();
    p.fillRect(QRect(QPoint(300, 150), dialog.size()).adjusted(-1, -1, 1, 1), Qt::darkGray);
    p.drawImage(QPoint(300, 150), dialog);
  }
  if (const char* out = std::getenv("QUILLNET_SCREENSHOT")) {
    EXPECT_TRUE(shot.save(QString::fromUtf8(out), "PNG"));
  }
}

// The main window on line to the demo host: the status bar with the call,
// and the about box showing the program's icon.  Written to the file named by
// QUILLNET_SCREENSHOT_ONLINE.
TEST_F(FrameTest, MainWindowOnLineWithTheStatusBarAndTheIcon) {
  int64_t now = 0;
  FRAMEWINDOW frame;
  frame.clock = [&] { return now; };
  frame.resize(960, 620);
  frame.show();
  SetDemoBbsHost(true);
  SetOnline(1);
  RestoreQuillnetTitle();
  ASSERT_EQ(LOG::Start(dir.File("demo.log").c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, 1), 1);
  now = (12 * 60 + 34) * 1000;
  std::string screen = Sjis(
      "\x1b[2J\x1b[1;1H\x1b[1m ＱＵＩＬＬＮＥＴ デモＢＢＳ　～ パソコン通信の広場 ～\x1b[m\r\n\r\n"
      "  メインメニュー\r\n\r\n   B．掲示板\r\n   W．アクセス者一覧\r\n   G．さようなら\r\n\r\n"
      "メインメニュー (B,W,G,?) > ");
  bitmap.Input(screen.data(), screen.size());
  bitmap.Show();
  frame.UpdateStatus();
  QCoreApplication::processEvents();
  auto* timer = frame.findChild<QLabel*>("statusTimer");
  ASSERT_TRUE(timer);
  EXPECT_EQ(timer->text(), "00:12:34");

  // The about box is modal: grab it once it is up, then close it.
  QImage about;
  QTimer::singleShot(0, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      about = box->grab().toImage();
      box->close();
    }
  });
  QAction* version = Action(frame.menuBar(), "バージョン情報(&A)...");
  ASSERT_TRUE(version);
  version->trigger();
  ASSERT_FALSE(about.isNull());
  QImage shot = frame.grab().toImage();
  {
    QPainter p(&shot);
    const QPoint at(420, 170);
    p.fillRect(QRect(at, about.size()).adjusted(-1, -1, 1, 1), Qt::darkGray);
    p.drawImage(at, about);
  }
  LOG::End();
  SetOnline(0);
  if (const char* out = std::getenv("QUILLNET_SCREENSHOT_ONLINE")) {
    EXPECT_TRUE(shot.save(QString::fromUtf8(out), "PNG"));
  }
}

}  // namespace

namespace {

// The re-tagging command: grey on line; off line it asks first and re-tags
// the stock with the loaded syntax only when the answer is yes.
TEST_F(FrameTest, RetagCommandAsksThenRetagsTheStock) {
  FRAMEWINDOW frame;
  QAction* retag = Action(frame.menuBar(), "カラー構文の再計算(&R)...");
  ASSERT_TRUE(retag);
  TagFileContents contents;
  contents.records = SystemRecords();
  contents.records.push_back(TagRecord("menu", 1, "^MENU"));
  std::ofstream(dir.File("x.tag"), std::ios::binary) << BuildTagFile(contents);
  ASSERT_EQ(TAGMAKER::Open(dir.File("x.tag")), 1);
  CODEVRAM cv = cvNewest;
  auto line = [&](const std::string& text, unsigned char mark) {
    STOCKITEM* item = STOCK::GetItem(cv);
    text.copy(item->Text(), text.size());
    item->cInput = mark;
    if (mark == STOCK_MARK_CONNECT) STOCK::SetConnectTag(cv);
    const CODEVRAM at = cv;
    cv.LineFeed();
    return at;
  };
  line("Host - 2026/12/11 10:00", STOCK_MARK_CONNECT);
  const CODEVRAM menu = line("MENU 1", STOCK_MARK_NONE);
  const CODEVRAM other = line("other", STOCK_MARK_NONE);
  for (int answer : {ui::IDNO, ui::IDYES}) {
    boxes.rec.boxes.clear();
    boxes.rec.answers = {answer};
    retag->trigger();
    ASSERT_EQ(boxes.rec.boxes.size(), 1u);
    EXPECT_EQ(boxes.rec.boxes[0].text, "カラー構文の再計算をしますか？");
    EXPECT_EQ(menu.Tag(), answer == ui::IDYES ? 4 : 0);
    EXPECT_EQ(other.Tag(), 0);
  }
  SetOnline(1);
  EXPECT_FALSE(retag->isEnabled());
  SetOnline(0);
  EXPECT_TRUE(retag->isEnabled());
  TAGMAKER::ResetForTest();
}

}  // namespace
