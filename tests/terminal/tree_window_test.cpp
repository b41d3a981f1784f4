// The overall tree's window over a stock of two demo calls matched by the
// demo syntax: what selecting a node shows in the terminal, Space paging
// across nodes, the menu's commands, shortcuts and placements, the display
// style dialog and the font through the settings, the stock list, and a
// stock made with the creation wizard from the tree.  With
// QUILLNET_SCREENSHOT_TREE set, the frame with the tree beside the demo BBS
// is written there.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWizard>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "platform/jcode.h"
#include "shell/config.h"
#include "shell/frame_window.h"
#include "shell/settings_fixture.h"
#include "shell/stock_wizard_dialog.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "stock/tree_model.h"
#include "support/process.h"
#include "support/test_app.h"
#include "terminal/mybitmap.h"
#include "terminal/terminal_view.h"
#include "terminal/tree_window.h"

namespace {

const std::string kDemoTag = QUILLNET_BUILD_DIR "/tools/demo.tag";

// Two calls of the demo BBS (lines 0-11 and 12-24 of the stock).
void FeedDemoCalls(const std::string& stock) {
  const std::string call = jcode::Utf8ToSjis(
      "＝＝　メインメニュー　＝＝\r\nhello\r\n■ 掲示板一覧\r\n■ 掲示板 1: 雑談  （x）\r\n  No.   日付\r\n"
      "#0002/0003 a\r\n★taro (x\r\n現在のアクセス者\r\nbob\r\n\r\nafter\r\n");
  for (const char* date : {"2026/04/01 10:00", "2026/04/03 09:00"}) {
    ASSERT_EQ(RunProcess({QUILLNET_TOOL_PATH, "feed", stock, "--tag", kDemoTag, "--connect", "Demo", "--date", date},
                         call)
                  .status,
              0);
  }
}

// Runs `fill` on the next modal dialog once it is up (polled, with a deadline).
void OnNextModal(std::function<void(QWidget*)> fill) {
  auto* timer = new QTimer;
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, clock, fill] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w && clock->elapsed() < 10000) return;
    timer->stop();
    timer->deleteLater();
    delete clock;
    if (w) fill(w);
  });
  timer->start(10);
}

class TreeWindowTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.Path())));
    FeedDemoCalls("demo.stk");
    STOCK::cLineFrame = 4;
    ASSERT_EQ(STOCK::Open("demo.stk"), 1);
    STOCK::StockFile = "demo.stk";
    config.TreeStyle = 0;
    config.TreeDay = 30;
    config.TreeConnect = 15;
  }
  void TearDown() override {
    tree.reset();
    terminal.reset();
    TREE::Initialize(2);
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    TAGMAKER::ResetForTest();
    QDir::setCurrent(oldDir);
    SettingsTest::TearDown();
  }
  // A terminal of exactly `rows` rows and the tree beside it.
  void Make(int rows = 4) {
    terminal = std::make_unique<TERMINALVIEW>();
    terminal->resize(640, 200);
    terminal->show();
    // The scroll bars take part of the height: grow until the rows fit.
    for (int h = rows * terminal->CellHeight(); h < 40 * terminal->CellHeight() && bitmap.cyLines != rows; ++h) {
      terminal->resize(640, h);
      QCoreApplication::processEvents();
    }
    ASSERT_EQ(bitmap.cyLines, rows);
    tree = std::make_unique<TREEWINDOW>(terminal.get());
    tree->resize(300, 400);
    tree->show();
    tree->Rebuild(0);
  }
  // The index of the first item with a title (calls are built on the way).
  QModelIndex Find(const QString& title, const QModelIndex& under = {}) {
    TREESTOCKLIST* m = tree->Proxy();
    if (m->canFetchMore(under)) m->fetchMore(under);
    for (int r = 0; r < m->rowCount(under); ++r) {
      const QModelIndex i = m->index(r, 0, under);
      if (i.data().toString() == title) return i;
      const QModelIndex deeper = Find(title, i);
      if (deeper.isValid()) return deeper;
    }
    return {};
  }
  static int Flat(CODEVRAM cv) { return STOCK::Flat(cv); }
  // Every index of the proxy is its parent's child at its row, maps to the
  // model's node and back, and the stock list rows have no children.
  void ExpectConsistentShape(const QModelIndex& under = {}) {
    TREESTOCKLIST* m = tree->Proxy();
    for (int r = 0; r < m->rowCount(under); ++r) {
      const QModelIndex i = m->index(r, 0, under);
      ASSERT_TRUE(i.isValid());
      EXPECT_EQ(m->parent(i), under);
      EXPECT_EQ(i.row(), r);
      EXPECT_EQ(m->sibling(r, 0, i), i);
      if (m->EntryOf(i)) {
        EXPECT_FALSE(m->hasChildren(i));
        EXPECT_EQ(m->rowCount(i), 0);
        EXPECT_FALSE(m->mapToSource(i).isValid());
        continue;
      }
      const QModelIndex src = m->mapToSource(i);
      ASSERT_TRUE(src.isValid());
      EXPECT_EQ(m->mapFromSource(src), i);
      EXPECT_EQ(src.data().toString(), i.data().toString());
      EXPECT_EQ(m->rowCount(i), TREE::Model().rowCount(src));
      ExpectConsistentShape(i);
    }
  }
  QString Current() const { return tree->View()->currentIndex().data().toString(); }
  void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(tree->View(), key, mods);
  }

  TestApp app;
  QString oldDir;
  std::unique_ptr<TERMINALVIEW> terminal;
  std::unique_ptr<TREEWINDOW> tree;
};

// Selecting a node puts the terminal's scroll-back range on the node's lines
// and its top row on the node's first line; the root is the whole stock at
// its newest lines; "昔の分..." the lines before the shown calls.
TEST_F(TreeWindowTest, SelectingANodeSetsTheScrollBackAreaToItsLines) {
  Make();
  struct Case {
    const char* title;
    int first, last;
  };
  const Case cases[] = {
      {"04/01 10:00 Demo", 0, 11}, {"メインメニュー", 1, 2}, {"掲示板一覧", 3, 7}, {"1: 雑談", 4, 7},
      {"0002 taro", 6, 7},         {"現在のアクセス者", 8, 11}, {"04/03 09:00 Demo", 12, 24},
  };
  ExpectConsistentShape();
  for (const Case& c : cases) {
    const QModelIndex i = Find(QString::fromUtf8(c.title));
    ASSERT_TRUE(i.isValid()) << c.title;
    tree->View()->setCurrentIndex(i);
    EXPECT_EQ(Flat(MYBITMAP::cvScrollableTop), c.first) << c.title;
    EXPECT_EQ(Flat(MYBITMAP::cvScrollableBottom), c.last) << c.title;
    EXPECT_EQ(MYBITMAP::cLineScrollable, c.last - c.first + 1) << c.title;
    EXPECT_EQ(Flat(bitmap.cvTop), c.first) << c.title;
    EXPECT_EQ(bitmap.fScrollView, 1) << c.title;
  }
  // The terminal's bar covers the node only: a page down cannot pass its end.
  tree->View()->setCurrentIndex(Find(QString::fromUtf8("掲示板一覧")));
  terminal->ScrollLines(100);
  EXPECT_EQ(Flat(bitmap.cvTop), 7 - 4 + 1);
  // Resizing the terminal keeps the node's range (and a top inside it).
  terminal->resize(terminal->width() + 40, terminal->height() + terminal->CellHeight());
  QTRY_COMPARE_WITH_TIMEOUT(Flat(MYBITMAP::cvScrollableBottom), 7, 5000);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableTop), 3);
  EXPECT_EQ(bitmap.cyLines, 5);
  EXPECT_EQ(Flat(bitmap.cvTop), 3);
  terminal->resize(terminal->width() - 40, terminal->height() - terminal->CellHeight());
  QTRY_COMPARE_WITH_TIMEOUT(bitmap.cyLines, 4, 5000);

  // A one-line node shows nothing below its line.
  tree->View()->setCurrentIndex(Find(QString::fromUtf8("発言一覧")));
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableBottom), 5);
  QCoreApplication::processEvents();
  const QImage canvas = terminal->Canvas();
  const int h = terminal->CellHeight();
  auto uniform = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < canvas.width(); ++x)
        if (canvas.pixel(x, y) != canvas.pixel(0, 0)) return false;
    return true;
  };
  EXPECT_FALSE(uniform(0, h)) << "the node's line is drawn";
  EXPECT_TRUE(uniform(h, 4 * h)) << "the lines after the node are not";

  // The root: everything, back at the newest lines (the live terminal).
  const QModelIndex root = Find("demo.stk");
  ASSERT_TRUE(root.isValid());
  tree->View()->setCurrentIndex(root);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableTop), 0);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableBottom), Flat(cvNewest));
  EXPECT_EQ(Flat(bitmap.cvTop), Flat(cvNewest) - 3);
  EXPECT_EQ(bitmap.fScrollView, 0);

  // One day's calls: the older call is in "昔の分...", which shows its lines;
  // opening it moves that call into the tree and selects it.
  config.TreeDay = 1;
  config.TreeConnect = 1;
  tree->Rebuild(0);
  const QModelIndex past = Find(QString::fromUtf8("昔の分..."));
  ASSERT_TRUE(past.isValid());
  tree->View()->setCurrentIndex(past);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableTop), 0);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableBottom), 11);
  ExpectConsistentShape();
  tree->View()->expand(past);
  QTRY_COMPARE_WITH_TIMEOUT(Current(), QString::fromUtf8("04/01 10:00 Demo"), 5000);
  ExpectConsistentShape();
  EXPECT_FALSE(Find(QString::fromUtf8("昔の分...")).isValid());
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableTop), 0);
  EXPECT_EQ(Flat(MYBITMAP::cvScrollableBottom), 11);
}

// Space scrolls by a screen less one line within the node, then goes to the
// next node; Shift+Space goes back the same way, into the previous node's
// last screen.  The keys go through the shortcut map like a user's.
TEST_F(TreeWindowTest, SpaceAndShiftSpacePageThroughNodesAndOnToTheNext) {
  Make(4);
  tree->window()->activateWindow();
  tree->View()->setFocus();
  QCoreApplication::processEvents();
  tree->View()->setCurrentIndex(Find("04/01 10:00 Demo"));
  tree->View()->expand(tree->View()->currentIndex());
  struct Step {
    bool back;
    const char* node;
    int top;
  };
  const Step steps[] = {
      {false, "04/01 10:00 Demo", 3}, {false, "04/01 10:00 Demo", 6}, {false, "04/01 10:00 Demo", 8},
      {false, "メインメニュー", 1},   {false, "掲示板一覧", 3},       {false, "掲示板一覧", 4},
      {false, "現在のアクセス者", 8}, {true, "掲示板一覧", 4},        {true, "掲示板一覧", 3},
      {true, "メインメニュー", 1},    {true, "04/01 10:00 Demo", 8},  {true, "04/01 10:00 Demo", 5},
      {true, "04/01 10:00 Demo", 2},  {true, "04/01 10:00 Demo", 0},  {true, "demo.stk", 21},
  };
  for (const Step& s : steps) {
    Key(Qt::Key_Space, s.back ? Qt::ShiftModifier : Qt::NoModifier);
    EXPECT_EQ(Current(), QString::fromUtf8(s.node)) << s.node << " " << s.top;
    EXPECT_EQ(Flat(bitmap.cvTop), s.top) << s.node;
  }
}

// The menu: every command's text, its shortcut, where it sits, which are
// enabled, and the placements moving the frame's dock.
TEST_F(TreeWindowTest, CommandsShortcutsSubmenusAndPlacements) {
  FRAMEWINDOW frame;
  frame.resize(900, 600);
  frame.show();
  TREEWINDOW* t = TREEWINDOW::Install(&frame);
  ASSERT_EQ(TREEWINDOW::Instance(), t);
  auto* pages = frame.TreeDock()->findChild<QTabWidget*>("TreePages");
  ASSERT_TRUE(pages);
  EXPECT_EQ(pages->widget(0), t);
  EXPECT_EQ(pages->count(), 1) << "the placeholder page is gone";
  ASSERT_EQ(TREE::apage.size(), 1u);
  EXPECT_EQ(TREE::apage[0].hwnd, t);

  // Another page gets its tab; showing it tells both pages' procedures;
  // deleting it takes the tab away.
  static std::vector<std::pair<unsigned, uintptr_t>> told;
  told.clear();
  auto* other = new QLabel("other");
  ASSERT_EQ(TREE::AddPage(other, "索引",
                          [](QWidget*, unsigned msg, uintptr_t w, intptr_t) -> intptr_t {
                            told.emplace_back(msg, w);
                            return 0;
                          },
                          nullptr),
            1);
  ASSERT_EQ(pages->count(), 2);
  EXPECT_EQ(pages->tabText(1), QString::fromUtf8("索引"));
  EXPECT_EQ(told, (std::vector<std::pair<unsigned, uintptr_t>>{{TREEMSG_PLACE, 0}}));
  pages->setCurrentIndex(1);
  EXPECT_EQ(TREE::iPageActive, 1);
  EXPECT_EQ(told.back(), (std::pair<unsigned, uintptr_t>{TREEMSG_ACTIVATE, 1}));
  ASSERT_EQ(TREE::DeletePage(other), 1);
  EXPECT_EQ(pages->count(), 1);
  EXPECT_EQ(pages->currentWidget(), t);
  EXPECT_EQ(told.back(), (std::pair<unsigned, uintptr_t>{TREEMSG_ACTIVATE, 0}));
  delete other;
  struct Case {
    int id;
    const char* text;
    QKeySequence key;
    const char* submenu;  // "" the tree's menu itself
    bool enabled;
  };
  const Case cases[] = {
      {1000, "すべて展開(&X)\tCtrl+Shift+→", QKeySequence("Ctrl+Shift+Right"), "", true},
      {1001, "すべて折りたたみ(&O)\tCtrl+Shift+←", QKeySequence("Ctrl+Shift+Left"), "", true},
      {1002, "...より過去を削除(&L)", {}, "編集(&E)", true},
      {1003, "削除(&D)\tDelete", QKeySequence("Delete"), "編集(&E)", true},
      {1004, "切り取り(&T)\tCtrl+X", QKeySequence("Ctrl+X"), "編集(&E)", true},
      {1005, "貼り付け(&P)\tCtrl+V", QKeySequence("Ctrl+V"), "編集(&E)", true},
      {1006, "ファイルに保存(&S)...", {}, "", true},
      {1007, "コピー(&C)...\tCtrl+C", QKeySequence("Ctrl+C"), "編集(&E)", true},
      {1008, "引用付きコピー(&Q)...\tCtrl+Q", QKeySequence("Ctrl+Q"), "編集(&E)", true},
      {1009, "ツリーウィンドウのフォント(&F)...", {}, "", true},
      {1010, "demo.stkのﾌﾟﾛﾊﾟﾃｨ(&R)...\tAlt+Enter", QKeySequence("Alt+Return"), "", true},
      {1011, "表示スタイル(&A)...", {}, "", true},
      {1012, "「全体図」のヘルプ(&H)", {}, "", true},
      {1013, "浮かせる(&F)", {}, "ツリーウィンドウの場所(&T)", true},
      {1014, "ワイド画面(&W)", {}, "ツリーウィンドウの場所(&T)", true},
      {1015, "反転ワイド画面(&R)", {}, "ツリーウィンドウの場所(&T)", true},
      {1016, "タワー画面(&T)", {}, "ツリーウィンドウの場所(&T)", true},
      {1017, "次のページ\tSpace", QKeySequence("Space"), "", true},
      {1018, "前のページ\tShift+Space", QKeySequence("Shift+Space"), "", true},
      {1019, "新規発言する(&W)\tCtrl+N", QKeySequence("Ctrl+N"), "", false},
      {1020, "コメント発言する(&R)\tCtrl+R", QKeySequence("Ctrl+R"), "", false},
  };
  t->RefreshCommands();
  for (const Case& c : cases) {
    QAction* a = t->Command(c.id);
    ASSERT_TRUE(a) << c.id;
    EXPECT_EQ(a->text(), QString::fromUtf8(c.text)) << c.id;
    EXPECT_EQ(a->shortcut(), c.key) << c.id;
    if (!c.key.isEmpty()) {
      EXPECT_EQ(a->shortcutContext(), Qt::WidgetWithChildrenShortcut) << c.id;
    }
    EXPECT_EQ(a->isEnabled(), c.enabled) << c.id;
    QMenu* holder = nullptr;
    for (QMenu* m : t->findChildren<QMenu*>())
      if (m->actions().contains(a)) holder = m;
    ASSERT_TRUE(holder) << c.id;
    EXPECT_EQ(holder == t->Menu() ? QString() : holder->title(), QString::fromUtf8(c.submenu)) << c.id;
  }
  EXPECT_TRUE(t->MenuBar()->actions().contains(t->Menu()->menuAction()));

  // Placements: the dock moves and TreeView follows; the items are checked.
  struct Place {
    int id, view;
    bool floating;
    Qt::DockWidgetArea area;
  };
  const Place places[] = {
      {1014, 2, false, Qt::TopDockWidgetArea},
      {1015, 3, false, Qt::BottomDockWidgetArea},
      {1013, 0, true, Qt::LeftDockWidgetArea},
      {1016, 1, false, Qt::LeftDockWidgetArea},
  };
  for (const Place& p : places) {
    t->Command(p.id)->trigger();
    EXPECT_EQ(config.TreeView, p.view) << p.id;
    EXPECT_EQ(frame.TreeDock()->isFloating(), p.floating) << p.id;
    if (!p.floating) {
      EXPECT_EQ(frame.dockWidgetArea(frame.TreeDock()), p.area) << p.id;
    }
    t->RefreshCommands();
    for (int id = 1013; id <= 1016; ++id) EXPECT_EQ(t->Command(id)->isChecked(), id == p.id) << p.id;
  }

  // Expand all builds and opens every call, skipping "昔の分..."; collapse
  // all closes them and leaves the root open.
  QTreeView* v = t->View();
  auto index = [&](const char* title) {
    const QModelIndexList hits =
        t->Proxy()->match(t->Proxy()->index(0, 0), Qt::DisplayRole, QString::fromUtf8(title), 1,
                          Qt::MatchExactly | Qt::MatchRecursive);
    return hits.isEmpty() ? QModelIndex() : hits.first();
  };
  v->setFocus();
  v->setCurrentIndex(index("demo.stk"));
  ASSERT_EQ(v->currentIndex().data().toString(), "demo.stk");
  t->Command(1000)->trigger();
  ASSERT_TRUE(index("1: 雑談").isValid());
  EXPECT_TRUE(v->isExpanded(index("1: 雑談")));
  EXPECT_TRUE(v->isExpanded(index("04/03 09:00 Demo")));
  t->Command(1001)->trigger();
  EXPECT_FALSE(v->isExpanded(index("04/01 10:00 Demo")));
  EXPECT_TRUE(v->isExpanded(index("demo.stk")));

  // Help answers with its box.
  boxes.rec.boxes.clear();
  t->Command(1012)->trigger();
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].caption, "「全体図」のヘルプ");
  // Without the edit hook the edit commands are off; with one they reach it
  // by number.
  t->edit = nullptr;
  t->RefreshCommands();
  for (int id = 1002; id <= 1008; ++id) EXPECT_FALSE(t->Command(id)->isEnabled()) << id;
  std::vector<int> edits;
  t->edit = [&](int id) { edits.push_back(id); };
  v->setCurrentIndex(index("04/01 10:00 Demo"));
  t->RefreshCommands();
  for (int id : {1002, 1003, 1004, 1005, 1006, 1007, 1008}) {
    EXPECT_TRUE(t->Command(id)->isEnabled()) << id;
    t->Command(id)->trigger();
  }
  EXPECT_EQ(edits, (std::vector<int>{1002, 1003, 1004, 1005, 1006, 1007, 1008}));
  delete t;
}

// The edit commands do the tree's operations: a copy reaches the system
// clipboard with the private format, a paste of it comes back as a new call,
// a delete (answered yes) takes the node's lines out and the tree is built
// again.
TEST_F(TreeWindowTest, EditCommandsCopyPasteAndDeleteThroughTheClipboard) {
  Make();
  QClipboard* clip = QGuiApplication::clipboard();
  ASSERT_TRUE(clip);
  clip->clear();
  tree->View()->setCurrentIndex(Find(QString::fromUtf8("掲示板一覧")));
  tree->Command(1007)->trigger();
  const QMimeData* data = clip->mimeData();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->text(), QString::fromUtf8("■ 掲示板一覧\n■ 掲示板 1: 雑談  （x）\n  No.   日付\n#0002/0003 a\n"
                                            "★taro (x\n"));
  ASSERT_TRUE(data->hasFormat("application/x-quillnet-stock-info"));
  EXPECT_EQ(data->data("application/x-quillnet-stock-info").size(), 5);

  // Pasting it (off line) makes a third call of those lines.
  const int before = STOCK::UsedItems();
  tree->Command(1005)->trigger();
  EXPECT_GT(STOCK::UsedItems(), before + 4);
  const std::string text = TREE::Text(false);
  EXPECT_NE(text.find("(貼り付け)"), std::string::npos) << text;

  // Deleting a node asks, then takes its four lines out.
  config.TreeStyle = 0;
  tree->Rebuild(0);
  tree->View()->setCurrentIndex(Find(QString::fromUtf8("現在のアクセス者")));
  ASSERT_EQ(TREE::hitemSelected->line, 8);
  const int used = STOCK::UsedItems();
  boxes.rec.boxes.clear();
  boxes.rec.answers.push_back(ui::IDYES);
  tree->Command(1003)->trigger();
  ASSERT_FALSE(boxes.rec.boxes.empty());
  EXPECT_EQ(boxes.rec.boxes[0].text, "現在のアクセス者を削除してもいいですか？");
  EXPECT_EQ(STOCK::UsedItems(), used - 4);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  // The first call has lost the node; the second keeps its own.
  const std::string after = TREE::Text(false);
  const size_t second = after.find("04/03 09:00 Demo");
  ASSERT_NE(second, std::string::npos) << after;
  EXPECT_EQ(after.substr(0, second).find("現在のアクセス者"), std::string::npos) << after;
  EXPECT_NE(after.find("現在のアクセス者", second), std::string::npos) << after;
  ExpectConsistentShape();
}

// "TREEDAY" sets the three values, rebuilds the tree with them and keeps
// them in the settings; Cancel changes nothing.
TEST_F(TreeWindowTest, DisplayStyleDialogRoundTripsTheSettings) {
  Make();
  config.TreeStyle = 1;
  tree->Rebuild(0);
  ASSERT_TRUE(Find(QString::fromUtf8("4月 1日 ( 1回)")).isValid());
  auto fill = [](int style, int days, int calls, bool ok) {
    OnNextModal([=](QWidget* w) {
      ASSERT_EQ(w->objectName(), "TREEDAY");
      w->findChild<QRadioButton*>(QStringLiteral("TreeStyle%1").arg(style))->setChecked(true);
      w->findChild<QSpinBox*>("TreeDay")->setValue(days);
      w->findChild<QSpinBox*>("TreeConnect")->setValue(calls);
      if (ok)
        static_cast<QDialog*>(w)->accept();
      else
        static_cast<QDialog*>(w)->reject();
    });
  };
  fill(0, 1, 1, true);
  tree->Command(1011)->trigger();
  EXPECT_EQ(config.TreeStyle, 0);
  EXPECT_EQ(config.TreeDay, 1);
  EXPECT_EQ(config.TreeConnect, 1);
  EXPECT_EQ(TREE::TreeStyle, 0);
  EXPECT_TRUE(Find(QString::fromUtf8("昔の分...")).isValid());
  EXPECT_TRUE(Find(QString::fromUtf8("04/03 09:00 Demo")).isValid());
  EXPECT_FALSE(Find(QString::fromUtf8("4月 1日 ( 1回)")).isValid());

  fill(2, 300, 900, false);
  tree->Command(1011)->trigger();
  EXPECT_EQ(config.TreeStyle, 0);
  EXPECT_EQ(config.TreeDay, 1);

  // Out of range is impossible: the boxes hold 1-365 and 1-1000.
  fill(2, 999, 5000, true);
  tree->Command(1011)->trigger();
  EXPECT_EQ(config.TreeStyle, 2);
  EXPECT_EQ(config.TreeDay, 365);
  EXPECT_EQ(config.TreeConnect, 1000);
  EXPECT_TRUE(Find(QString::fromUtf8("3月29日～ ( 2回)")).isValid());

  // From the settings file.
  config.SetDefault();
  config.LoadRegistry();
  EXPECT_EQ(config.TreeStyle, 2);
  EXPECT_EQ(config.TreeDay, 365);
  EXPECT_EQ(config.TreeConnect, 1000);
}

// The tree font is the view's and comes back from the settings.
TEST_F(TreeWindowTest, TreeFontIsSavedAndComesBack) {
  Make();
  QFont chosen = tree->View()->font();
  chosen.setPointSize(17);
  chosen.setItalic(true);
  tree->chooseFont = [&](QFont* f) {
    *f = chosen;
    return true;
  };
  tree->Command(1009)->trigger();
  EXPECT_EQ(tree->View()->font().pointSize(), 17);
  tree.reset();
  REGISTRY::ResetForTest();  // read from the file again
  tree = std::make_unique<TREEWINDOW>(terminal.get());
  EXPECT_EQ(tree->TreeFont().pointSize(), 17);
  EXPECT_TRUE(tree->TreeFont().italic());
  // A refused choice changes nothing.
  tree->chooseFont = [](QFont*) { return false; };
  tree->Command(1009)->trigger();
  EXPECT_EQ(tree->TreeFont().pointSize(), 17);
}

// The stock list stands before the root: create, the other stock files
// sorted (not the open one), restore.  The creation item runs the wizard;
// the new stock opens with the sizes chosen and the tree shows it.
TEST_F(TreeWindowTest, StockListAndCreatingAStockFromTheTree) {
  for (const char* n : {"b.stk", "a.stk"}) std::ofstream(n) << "x";
  Make();
  TREESTOCKLIST* m = tree->Proxy();
  QStringList top;
  for (int r = 0; r < m->rowCount(); ++r) top << m->index(r, 0).data().toString();
  EXPECT_EQ(top, (QStringList{QString::fromUtf8("(ストックファイルの新規作成...)"), "a.stk", "b.stk",
                              QString::fromUtf8("(ストックファイルの復元...)"), "demo.stk"}));
  EXPECT_FALSE(m->hasChildren(m->index(1, 0)));
  EXPECT_EQ(m->index(1, 0).data(TREEMODEL::LineRole).toInt(), -1);

  // Another stock's row, only selected, is deleted from the menu (after a
  // yes); the open stock stays and the list loses the file.
  tree->View()->setCurrentIndex(m->index(1, 0));
  QCoreApplication::processEvents();
  EXPECT_EQ(STOCK::szFileName, "demo.stk");
  tree->RefreshCommands();
  ASSERT_TRUE(tree->Command(1003)->isEnabled());
  boxes.rec.boxes.clear();
  boxes.rec.answers.push_back(ui::IDYES);
  tree->Command(1003)->trigger();
  ASSERT_FALSE(boxes.rec.boxes.empty());
  EXPECT_NE(boxes.rec.boxes[0].text.find(" のストックファイルを削除してもいいですか？"), std::string::npos)
      << boxes.rec.boxes[0].text;
  EXPECT_FALSE(QFileInfo::exists("a.stk"));
  EXPECT_EQ(STOCK::szFileName, "demo.stk");
  top.clear();
  for (int r = 0; r < m->rowCount(); ++r) top << m->index(r, 0).data().toString();
  EXPECT_EQ(top, (QStringList{QString::fromUtf8("(ストックファイルの新規作成...)"), "b.stk",
                              QString::fromUtf8("(ストックファイルの復元...)"), "demo.stk"}));

  tree->createStock = [this] { return RunStockWizard(tree.get()); };
  OnNextModal([](QWidget* w) {
    auto* wiz = qobject_cast<QWizard*>(w);
    ASSERT_TRUE(wiz);
    wiz->findChild<QLineEdit*>("StockName")->setText("made");
    wiz->findChild<QRadioButton*>("StockMode0")->setChecked(true);
    wiz->findChild<QLineEdit*>("StockLines")->setText("2");
    wiz->findChild<QSpinBox*>("StockColumns")->setValue(120);
    wiz->next();
    wiz->accept();
  });
  // Moving onto the row does nothing; Enter runs the wizard.
  tree->View()->setCurrentIndex(m->index(0, 0));
  QCoreApplication::processEvents();
  EXPECT_EQ(STOCK::szFileName, "demo.stk");
  QTest::keyClick(tree->View(), Qt::Key_Return);
  QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(STOCK::szFileName).endsWith("made.stk"), true, 10000);
  EXPECT_EQ(STOCK::cItemMaxMax, 20000);
  EXPECT_EQ(STOCK::cColumn, 120);
  EXPECT_EQ(STOCK::StockFile2, "demo.stk");
  QTRY_VERIFY_WITH_TIMEOUT(Find("made.stk").isValid(), 5000);
  // The previous stock is now in the list; the new one is not.
  top.clear();
  for (int r = 0; r < m->rowCount(); ++r) top << m->index(r, 0).data().toString();
  EXPECT_TRUE(top.contains("demo.stk"));
  EXPECT_EQ(top.last(), "made.stk");
  EXPECT_EQ(Flat(bitmap.cvTop), 0);

  // Another stock's item switches to it: its lines, the screen on its newest.
  const int demoRow = int(top.indexOf("demo.stk"));
  tree->View()->setCurrentIndex(m->index(demoRow, 0));
  QTest::mouseClick(tree->View()->viewport(), Qt::LeftButton, {},
                    tree->View()->visualRect(m->index(demoRow, 0)).center());
  QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(STOCK::szFileName).endsWith("demo.stk"), true, 10000);
  EXPECT_EQ(STOCK::UsedItems(), 25);
  QTRY_VERIFY_WITH_TIMEOUT(Find("demo.stk").isValid() && !m->EntryOf(Find("demo.stk")), 5000);
  EXPECT_EQ(Flat(bitmap.cvTop), 25 - 4);
  EXPECT_STREQ(config.StockFile, STOCK::StockFile.c_str());

  // The restore item: a ".stk" backup elsewhere comes back beside the stocks
  // under its name and is opened.
  ASSERT_TRUE(QDir().mkpath("backups"));
  ASSERT_TRUE(QFile::copy("demo.stk", "backups/april.stk"));
  boxes.rec.files.push_back(dir.File("backups/april.stk"));
  tree->View()->setCurrentIndex(m->index(m->rowCount() - 2, 0));  // "(ストックファイルの復元...)"
  QTest::keyClick(tree->View(), Qt::Key_Enter);
  QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(STOCK::szFileName).endsWith("april.stk"), true, 10000);
  EXPECT_TRUE(QFileInfo::exists("april.stk"));
  EXPECT_EQ(STOCK::UsedItems(), 25);
  EXPECT_EQ(STOCK::StockFile2.substr(STOCK::StockFile2.size() - 8), "demo.stk");
}

// A hidden tree is built only once it is shown.
TEST_F(TreeWindowTest, AHiddenTreeIsBuiltWhenFirstShown) {
  config.ShowTree = 0;
  FRAMEWINDOW frame;
  frame.show();
  TREEWINDOW* t = TREEWINDOW::Install(&frame);
  QCoreApplication::processEvents();
  EXPECT_TRUE(t->Proxy()->Entries().empty());
  frame.TreeDock()->show();
  QTRY_VERIFY_WITH_TIMEOUT(!t->Proxy()->Entries().empty(), 5000);
  EXPECT_EQ(TREE::Text(false).substr(0, 9), "demo.stk\n");
  delete t;
}

// The frame with the tree beside the demo BBS's calls (QUILLNET_SCREENSHOT_TREE).
TEST_F(TreeWindowTest, ScreenshotOfTheTreeBesideTheDemoBbs) {
  const char* out = std::getenv("QUILLNET_SCREENSHOT_TREE");
  if (!out) GTEST_SKIP() << "QUILLNET_SCREENSHOT_TREE is not set";
  // A capture of the demo host's tour (QUILLNET_DEMO_CAPTURE) makes the
  // calls; without one, the two short calls of the other tests.
  if (const char* capture = std::getenv("QUILLNET_DEMO_CAPTURE")) {
    std::ifstream in(capture, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty()) << capture;
    for (const char* date : {"2026/04/12 22:10", "2026/04/13 23:05"}) {
      ASSERT_EQ(RunProcess({QUILLNET_TOOL_PATH, "feed", "shot.stk", "--tag", kDemoTag, "--connect", "デモBBS",
                            "--date", date},
                           bytes)
                    .status,
                0);
    }
    STOCK::Close();
    ASSERT_EQ(STOCK::Open("shot.stk"), 1);
    STOCK::StockFile = "shot.stk";
  }
  config.TreeStyle = 1;
  config.TreeView = 1;
  FRAMEWINDOW frame;
  frame.resize(1000, 560);
  frame.show();
  TREEWINDOW* t = TREEWINDOW::Install(&frame);
  frame.resizeDocks({frame.TreeDock()}, {300}, Qt::Horizontal);
  t->Command(1000)->trigger();
  // A message of the newest call, with the older day folded.
  QModelIndexList hits = t->Proxy()->match(t->Proxy()->index(0, 0), Qt::DisplayRole, QStringLiteral("0004"), -1,
                                           Qt::MatchStartsWith | Qt::MatchRecursive);
  if (hits.isEmpty())
    hits = t->Proxy()->match(t->Proxy()->index(0, 0), Qt::DisplayRole, QString::fromUtf8("掲示板一覧"), -1,
                             Qt::MatchExactly | Qt::MatchRecursive);
  ASSERT_FALSE(hits.isEmpty());
  const QModelIndex root = t->Proxy()->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot));
  if (t->Proxy()->rowCount(root) > 1) t->View()->collapse(t->Proxy()->index(0, 0, root));
  t->View()->setCurrentIndex(hits.last());
  t->View()->scrollTo(hits.last(), QAbstractItemView::PositionAtCenter);
  // The layout settles (the terminal resizes), and the node's range holds.
  const int bottom = Flat(TREE::GetTagBottom(hits.last().data(TREEMODEL::LineRole).toInt()));
  for (int k = 0; k < 20; ++k) QCoreApplication::processEvents();
  QTRY_COMPARE_WITH_TIMEOUT(Flat(MYBITMAP::cvScrollableBottom), bottom, 5000);
  QCoreApplication::processEvents();
  EXPECT_TRUE(frame.grab().toImage().save(QString::fromUtf8(out), "PNG"));
  delete t;
}

}  // namespace
