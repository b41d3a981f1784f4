#include "shell/frame_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "platform/jcode.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/config_dialog.h"
#include "shell/hostlist_window.h"
#include "shell/hostprop_dialog.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/startup.h"
#include "stock/stock.h"
#include "terminal/log.h"
#include "terminal/terminal_view.h"

namespace {

FRAMEWINDOW* g_frame = nullptr;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Tree placement (TreeView): 0 floating, 1 beside the terminal (tower),
// 2 above it (wide), 3 below it (reversed wide).
Qt::DockWidgetArea TreeArea(int view) {
  switch (view) {
    case 2: return Qt::TopDockWidgetArea;
    case 3: return Qt::BottomDockWidgetArea;
    default: return Qt::LeftDockWidgetArea;
  }
}

}  // namespace

FRAMEWINDOW::FRAMEWINDOW(bool oldShell) {
  g_frame = this;
  setObjectName("QuillnetFrame");
  setWindowTitle(U(kProgramName));
  setWindowIcon(QIcon::fromTheme("quillnet"));

  client = new TERMINALVIEW(nullptr, this);
  if (oldShell) client->setFrameShape(QFrame::NoFrame);
  setCentralWidget(client);

  // The tree's pages come with the colour syntax; until then the dock holds
  // an empty page so that its place, size and focus behave already.
  treeDock = new QDockWidget(U("ツリー"), this);
  treeDock->setObjectName("TreeDock");
  auto* pages = new QTabWidget(treeDock);
  pages->setObjectName("TreePages");
  auto* calls = new QLabel(U("（通信の記録はカラー構文の設定後にここへ並びます）"), pages);
  calls->setWordWrap(true);
  calls->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  calls->setFocusPolicy(Qt::StrongFocus);
  pages->addTab(calls, U("全体"));
  treeDock->setWidget(pages);
  if (config.TreeView == 0) {
    addDockWidget(Qt::LeftDockWidgetArea, treeDock);
    treeDock->setFloating(true);
    if (config.TreeSizeX > 0 && config.TreeSizeY > 0)
      treeDock->setGeometry(config.TreePosX, config.TreePosY, config.TreeSizeX, config.TreeSizeY);
  } else {
    addDockWidget(TreeArea(config.TreeView), treeDock);
  }
  treeDock->setVisible(config.ShowTree != 0);

  funcBar = new QToolBar(U("ファンクションキー"), this);
  funcBar->setObjectName("FunctionKeys");
  funcBar->setMovable(false);
  for (int i = 0; i < 12; ++i) {
    auto* b = new QToolButton(funcBar);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(b, &QToolButton::clicked, this, [this, i] {
      if (functionKey) {
        functionKey(i + 1, true);
        functionKey(i + 1, false);
      }
    });
    funcButtons[size_t(i)] = b;
    funcBar->addWidget(b);
  }
  addToolBar(Qt::BottomToolBarArea, funcBar);
  funcBar->setVisible(config.ShowFuncKey != 0);
  RefreshFunctionKeys(Qt::NoModifier);

  BuildMenus();
  BuildStatusBar();

  frameHooks.setCaption = [this](const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); };
  frameHooks.onlineChanged = [this](int online) { ApplyOnline(online); };
  HOSTINI::pfnHostMenuChanged = [] {
    if (g_frame) g_frame->RebuildHostMenu();
  };
  LOG::hooks.setMenu = [this](const std::string& text, bool enabled) {
    actLogEnd->setText(QString::fromStdString(text));
    actLogEnd->setEnabled(enabled);
    UpdateStatus();
  };
  HOSTINI::SetHostMenu();
  LOG::SetLogMenu();
  ApplyOnline(fOnline);
  qApp->installEventFilter(this);
}

FRAMEWINDOW::~FRAMEWINDOW() {
  qApp->removeEventFilter(this);
  frameHooks = FRAMEHOOKS();
  LOG::hooks.setMenu = nullptr;
  HOSTINI::pfnHostMenuChanged = nullptr;
  if (g_frame == this) g_frame = nullptr;
}

void FRAMEWINDOW::BuildMenus() {
  QMenu* file = menuBar()->addMenu(U("ファイル(&F)"));
  actHostList = file->addAction(U("ホスト一覧(&H)..."), this, [this] { ShowHostList(); });
  actHostList->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
  hostMenu = file->addMenu(U("接続(&C)"));
  actHangup = file->addAction(U("切断(&D)"), this, [this] {
    if (hangup) hangup();
  });
  file->addSeparator();
  actLogStart = file->addAction(U("ログ開始(&L)..."), this, [] { LOG::StartDialog(); });
  actLogEnd = file->addAction(U("ログ終了(&N)"), this, [] { LOG::End(); });
  file->addAction(U("ログ編集(&E)..."), this, [] { LOG::Edit(); });
  file->addSeparator();
  file->addAction(U("ストックのプロパティ(&P)..."), this, [this] {
    STOCK::PropertyDialog();
    UpdateStatus();
  });
  file->addAction(U("新しいホストの登録(&A)..."), this, [this] {
    HOSTPROPERTY p;
    p.SetDefault();
    EditHostProperty(this, p, true);
  });
  actSettings = file->addAction(U("動作環境(&S)..."), this, [this] {
    if (!RunConfigDialog(this)) return;
    client->ApplyFont();
    funcBar->setVisible(config.ShowFuncKey != 0);
    actShowFuncKey->setChecked(config.ShowFuncKey != 0);
    RefreshFunctionKeys(Qt::NoModifier);
  });
  file->addSeparator();
  file->addAction(U("終了(&X)"), this, [this] { close(); });

  QMenu* view = menuBar()->addMenu(U("表示(&V)"));
  actShowTree = view->addAction(U("ツリー(&T)"));
  actShowTree->setCheckable(true);
  actShowTree->setChecked(config.ShowTree != 0);
  connect(actShowTree, &QAction::toggled, this, [this](bool on) {
    config.ShowTree = on ? 1 : 0;
    treeDock->setVisible(on);
  });
  connect(treeDock, &QDockWidget::visibilityChanged, this, [this](bool) {
    if (!isVisible()) return;
    actShowTree->setChecked(!treeDock->isHidden());
  });
  actShowFuncKey = view->addAction(U("ファンクションキー(&F)"));
  actShowFuncKey->setCheckable(true);
  actShowFuncKey->setChecked(config.ShowFuncKey != 0);
  connect(actShowFuncKey, &QAction::toggled, this, [this](bool on) {
    config.ShowFuncKey = on ? 1 : 0;
    funcBar->setVisible(on);
  });
  QMenu* place = view->addMenu(U("ツリーウィンドウの場所(&T)"));
  auto* group = new QActionGroup(place);
  const char* names[] = {"浮かせる(&F)", "タワー画面(&T)", "ワイド画面(&W)", "反転ワイド画面(&R)"};
  for (int v : {1, 2, 3, 0}) {
    QAction* a = place->addAction(U(names[v]));
    a->setCheckable(true);
    a->setChecked(config.TreeView == v);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, v] {
      config.TreeView = v;
      if (v == 0) {
        treeDock->setFloating(true);
      } else {
        treeDock->setFloating(false);
        addDockWidget(TreeArea(v), treeDock);
      }
    });
  }

  QMenu* help = menuBar()->addMenu(U("ヘルプ(&H)"));
  help->addAction(U("バージョン情報(&A)..."), this, [this] {
    QMessageBox::about(this, U("バージョン情報"),
                       U("Quillnet ") + QCoreApplication::applicationVersion() +
                           U("\n日本語 BBS のための通信端末"));
  });
}

void FRAMEWINDOW::BuildStatusBar() {
  statusLine = new QLabel(this);
  statusLog = new QLabel(this);
  statusStock = new QLabel(this);
  statusBar()->addWidget(statusLine, 1);
  statusBar()->addPermanentWidget(statusLog);
  statusBar()->addPermanentWidget(statusStock);
  UpdateStatus();
}

void FRAMEWINDOW::UpdateStatus() {
  if (!statusLine) return;
  statusLine->setText(fOnline ? U("接続中: ") + QString::fromStdString(jcode::SjisToUtf8(hostprop.szName))
                              : U("オフライン"));
  statusLog->setText(LOG::IsRunning() ? U("ログ記録中") : QString());
  statusStock->setText(STOCK::fTemp ? U("ストック: (一時)")
                                    : U("ストック: ") + QString::fromStdString(STOCK::StockFile));
}

void FRAMEWINDOW::ApplyOnline(int online) {
  const bool on = online != 0;
  hostMenu->setEnabled(!on);
  actHostList->setEnabled(true);  // the list can be edited on line; dialling from it is refused
  actHangup->setEnabled(on);
  UpdateStatus();
}

void FRAMEWINDOW::RebuildHostMenu() {
  hostMenu->clear();
  for (const auto& item : HOSTINI::aHostMenu) {
    const std::string name = item.name;
    hostMenu->addAction(QString::fromStdString(jcode::SjisToUtf8(name)), this, [this, name] { DialByName(name); });
  }
  if (HOSTINI::aHostMenu.empty()) hostMenu->addAction(U("（メニューに載せたホストはありません）"))->setEnabled(false);
  // Ad hoc connections: the number, address or port is asked each time.
  hostMenu->addSeparator();
  for (const char* adHoc : {"(電話をかける)", "(telnet接続)", "(シリアルポートに接続)"}) {
    const std::string name = jcode::Utf8ToSjis(adHoc);
    hostMenu->addAction(U(adHoc), this, [this, name] { DialByName(name); });
  }
}

void FRAMEWINDOW::DialByName(const std::string& sjis) {
  if (fOnline || !dial) return;
  dial(sjis);
  UpdateStatus();
}

void FRAMEWINDOW::ShowHostList() {
  if (!hostList) {
    auto* w = new HostListWindow(this);
    w->onDial = [this](const std::string& sjis) { DialByName(sjis); };
    hostList = w;
  }
  hostList->show();
  hostList->raise();
  hostList->activateWindow();
}

void FRAMEWINDOW::RefreshFunctionKeys(Qt::KeyboardModifiers mods) {
  // Shift and Control show the names of the shifted key sets.
  const int set = (mods & Qt::ShiftModifier) ? 1 : (mods & Qt::ControlModifier) ? 2 : 0;
  const int shown = std::clamp(config.FuncKeyNum, 1, 12);
  for (int i = 0; i < 12; ++i) {
    QToolButton* b = funcButtons[size_t(i)];
    const std::string name = jcode::SjisToUtf8(config.aszFuncName[i]);
    const char* prefix = set == 1 ? "S-" : set == 2 ? "C-" : "";
    b->setText(QString("%1F%2 %3").arg(prefix).arg(i + 1).arg(QString::fromStdString(name)));
    b->setVisible(i < shown);
  }
}

void FRAMEWINDOW::PlaceBySettings() {
  const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                        : QRect(0, 0, 1024, 768);
  if (UseDefaultFramePosition(config.WindowPosX, config.WindowPosY, config.WindowSizeX, config.WindowSizeY,
                              screen.width(), screen.height())) {
    resize(std::min(960, screen.width()), std::min(640, screen.height()));
    return;
  }
  move(config.WindowPosX, config.WindowPosY);
  resize(config.WindowSizeX, config.WindowSizeY);
}

void FRAMEWINDOW::SavePlacement() {
  if (isMaximized() || isMinimized() || isFullScreen()) return;
  const QRect g = geometry();
  config.WindowPosX = g.x();
  config.WindowPosY = g.y();
  config.WindowSizeX = g.width();
  config.WindowSizeY = g.height();
  config.ShowTree = treeDock->isHidden() ? 0 : 1;
  if (treeDock->isFloating()) {
    const QRect t = treeDock->geometry();
    config.TreePosX = t.x();
    config.TreePosY = t.y();
    config.TreeSizeX = t.width();
    config.TreeSizeY = t.height();
  }
  config.TreeActive = treeDock->isAncestorOf(QApplication::focusWidget()) ? 1 : 0;
}

void FRAMEWINDOW::closeEvent(QCloseEvent* e) {
  if (!closing && fOnline) {
    if (!ConfirmExitWhileOnline()) {
      e->ignore();
      return;
    }
    if (hangup) hangup();
  }
  closing = true;
  SavePlacement();
  e->accept();
}

bool FRAMEWINDOW::eventFilter(QObject* watched, QEvent* e) {
  const QEvent::Type t = e->type();
  if (t != QEvent::KeyPress && t != QEvent::KeyRelease) return QMainWindow::eventFilter(watched, e);
  auto* k = static_cast<QKeyEvent*>(e);
  if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != this)
    return QMainWindow::eventFilter(watched, e);
  const int key = k->key();
  if (key == Qt::Key_Shift || key == Qt::Key_Control) {
    Qt::KeyboardModifiers mods = k->modifiers();
    RefreshFunctionKeys(mods);
    return false;
  }
  const bool inClient = QApplication::focusWidget() == client;
  // F1 to F12 without Alt while the terminal has the focus: the function keys.
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12 && !(k->modifiers() & Qt::AltModifier) && inClient) {
    if (functionKey && !k->isAutoRepeat()) functionKey(key - Qt::Key_F1 + 1, t == QEvent::KeyPress);
    return true;
  }
  if (t != QEvent::KeyPress || treeDock->isHidden()) return false;
  auto* pages = treeDock->findChild<QTabWidget*>("TreePages");
  const bool ctrl = k->modifiers() & Qt::ControlModifier;
  // Control+Tab, Control+Shift+Tab, Control+Page Up/Down cycle the tree's pages.
  if (ctrl && pages && pages->count() > 0 &&
      (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
    const bool back = key == Qt::Key_Backtab || key == Qt::Key_PageUp || (k->modifiers() & Qt::ShiftModifier);
    pages->setCurrentIndex((pages->currentIndex() + (back ? pages->count() - 1 : 1)) % pages->count());
    return true;
  }
  // Tab moves between the tree and the terminal; on line it belongs to the host.
  if (key == Qt::Key_Tab && !ctrl && !fOnline) {
    if (inClient && pages && pages->currentWidget()) {
      pages->currentWidget()->setFocus(Qt::TabFocusReason);
    } else {
      client->setFocus(Qt::TabFocusReason);
    }
    return true;
  }
  return false;
}
