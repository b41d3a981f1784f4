#include "shell/frame_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

#include "platform/jcode.h"
#include "platform/serialdevice.h"
#include "platform/tick.h"
#include "platform/ui.h"
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
#include "terminal/mybitmap.h"
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

QIcon QuillnetIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/%1x%1/quillnet.png").arg(size), QSize(size, size));
  return icon;
}

FRAMEWINDOW::FRAMEWINDOW(bool oldShell) {
  g_frame = this;
  clock = [] { return int64_t(GetTick()); };
  setObjectName("QuillnetFrame");
  setWindowTitle(U(kProgramName));
  const QIcon icon = QuillnetIcon();
  setWindowIcon(icon);
  if (qApp->windowIcon().isNull()) qApp->setWindowIcon(icon);

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
    b->setObjectName(QString("FunctionKey%1").arg(i + 1));
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(b, &QToolButton::clicked, this, [this, i] {
      functionKeyMods = QGuiApplication::keyboardModifiers();
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
  ShowFontNote();

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
  hostMenu = file->addMenu(U("接続(&C)"));
  actHangup = file->addAction(U("切断(&D)"), this, [this] {
    if (hangup) hangup();
  });
  file->addSeparator();
  actLogStart = file->addAction(U("ログ開始(&L)..."), this, [] { LOG::StartDialog(); });
  actLogEnd = file->addAction(U("ログ終了(&N)"), this, [] { LOG::End(); });
  file->addAction(U("ログ編集(&E)..."), this, [] { LOG::Edit(); });
  file->addSeparator();
  // The stock's properties change only off line (the call holds the stock).
  actStockProperty = file->addAction(U("ストックのプロパティ(&P)..."), this, [this] {
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
    ShowFontNote();
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

  QMenu* script = menuBar()->addMenu(U("スクリプト(&S)"));
  script->setObjectName("ScriptMenu");
  auto scriptAction = [this, script](const char* text, int command) {
    return script->addAction(U(text), this, [this, command] {
      if (scriptCommand) scriptCommand(command);
      RefreshScriptMenu();
    });
  };
  actScriptExec = scriptAction("実行(&X)...", 44);
  actScriptStop = scriptAction("中断(&S)", 56);
  actScriptPause = scriptAction("ポーズ(&P)", 57);
  actScriptStopAll = scriptAction("全中断(&A)", 62);
  script->addSeparator();
  actScriptStatus = scriptAction("状態表示(&T)", 58);
  actScriptEdit = scriptAction("ｽｸﾘﾌﾟﾄ編集(&E)...", 59);
  connect(script, &QMenu::aboutToShow, this, [this] { RefreshScriptMenu(); });
  RefreshScriptMenu();

  QMenu* help = menuBar()->addMenu(U("ヘルプ(&H)"));
  help->addAction(U("スクリプトの文法(&S)"), this, [this] {
    const QString path = ScriptGuidePath();
    const bool opened = !path.isEmpty() && (openDocument ? openDocument(path)
                                                         : QDesktopServices::openUrl(QUrl::fromLocalFile(path)));
    if (!opened)
      ui::Current().MessageBox("スクリプトの文法の説明 (SCRIPTS.md) を開けません。", kProgramName,
                               ui::MB_OK | ui::MB_ICONWARNING);
  });
  help->addAction(U("バージョン情報(&A)..."), this, [this] {
    QMessageBox::about(this, U("バージョン情報"),
                       U("Quillnet ") + QCoreApplication::applicationVersion() +
                           U("\n日本語 BBS のための通信端末"));
  });
}

QString FRAMEWINDOW::ScriptGuidePath() {
  const QString app = QCoreApplication::applicationDirPath();
  for (const QString& p : {app + "/../share/doc/Quillnet/SCRIPTS.md", app + "/../../docs/SCRIPTS.md"}) {
    const QFileInfo f(p);
    if (f.isFile()) return f.canonicalFilePath();
  }
  return {};
}

void FRAMEWINDOW::RefreshScriptMenu() {
  const bool hooked = bool(scriptCommand);
  const auto [running, paused] = scriptState ? scriptState() : std::pair<bool, bool>(false, false);
  for (QAction* a : {actScriptExec, actScriptStatus, actScriptEdit}) a->setEnabled(hooked);
  for (QAction* a : {actScriptStop, actScriptPause, actScriptStopAll}) a->setEnabled(hooked && running);
  actScriptPause->setText(U(running && paused ? "再開(&R)" : "ポーズ(&P)"));
}

void FRAMEWINDOW::BuildStatusBar() {
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setContentsMargins(6, 0, 6, 0);
    return l;
  };
  statusLine = label("statusLine");
  statusConnection = label("statusConnection");
  statusCode = label("statusCode");
  statusTimer = label("statusTimer");
  statusLog = label("statusLog");
  statusScroll = label("statusScroll");
  statusStock = label("statusStock");
  statusBar()->addWidget(statusLine, 1);
  for (QLabel* l : {statusConnection, statusCode, statusTimer, statusLog, statusScroll, statusStock})
    statusBar()->addPermanentWidget(l);
  // Once a second is enough for the call timer and cheap whatever the line
  // carries; state changes (on line, the log) refresh it at once as well.
  statusTimerTick = new QTimer(this);
  statusTimerTick->setInterval(1000);
  connect(statusTimerTick, &QTimer::timeout, this, [this] { UpdateStatus(); });
  statusTimerTick->start();
  UpdateStatus();
}

void FRAMEWINDOW::ShowFontNote() {
  if (!client->FontNote().isEmpty()) statusBar()->showMessage(client->FontNote(), 30000);
}

QString FRAMEWINDOW::ConnectionText() {
  auto serial = [](int port, int speed) {
    return QString::fromStdString(ComDevicePath(port)) + QStringLiteral(" %1bps").arg(speed);
  };
  switch (hostprop.ModemType) {
    case MODEM_TELNET:
      // A host without a port calls the telnet service.
      return QString::fromStdString(
          jcode::SjisToUtf8(TelnetAddressText(hostprop.DialNo, hostprop.PortName[0] ? hostprop.PortName : "telnet")));
    case MODEM_DIRECT:
    case MODEM_AT: return serial(hostprop.PortNo, hostprop.Baudrate);
    case MODEM_TAPI: {
      int speed = config.Baudrate;
      if (hostprop.MaxRate > 0 && (speed <= 0 || hostprop.MaxRate < speed)) speed = hostprop.MaxRate;
      return serial(config.PortNo, speed);
    }
    default: return QString();
  }
}

QString FRAMEWINDOW::KanjiCodeText() {
  static const char* const names[] = {"シフトJIS", "新JIS", "旧JIS", "NEC漢字", "EUC"};
  const int code = hostprop.KanjiCode;
  QString text = code >= 0 && code < 5 ? U(names[code]) : QString::number(code);
  if (hostprop.AutoJisEuc) text += U(" (自動判別)");
  return text;
}

QString FRAMEWINDOW::CallTimeText(int64_t ms) {
  const int64_t s = std::max<int64_t>(0, ms) / 1000;
  return QString::asprintf("%02lld:%02lld:%02lld", (long long)(s / 3600), (long long)(s / 60 % 60),
                           (long long)(s % 60));
}

void FRAMEWINDOW::UpdateStatus() {
  if (!statusLine) return;
  // QLabel ignores a text it already shows, so a quiet second costs nothing.
  const bool on = fOnline != 0;
  statusLine->setText(on ? U("接続中: ") + QString::fromStdString(jcode::SjisToUtf8(hostprop.szName))
                         : U("オフライン"));
  statusConnection->setText(on ? ConnectionText() : QString());
  statusCode->setText(on ? KanjiCodeText() : QString());
  statusTimer->setText(on ? CallTimeText(clock() - onlineSince) : QString());
  const std::string& log = LOG::szLogPath;
  statusLog->setText(LOG::IsRunning() ? U("ログ: ") + QString::fromStdString(log.substr(log.rfind('/') + 1))
                                      : QString());
  statusScroll->setText(bitmap.fScrollView ? U("バックスクロール中") : QString());
  // The stock by its file name; the whole path in the tooltip.
  const std::string& stock = STOCK::StockFile;
  statusStock->setText(STOCK::fTemp ? U("ストック: (一時)")
                                    : U("ストック: ") + QString::fromStdString(stock.substr(stock.rfind('/') + 1)));
  statusStock->setToolTip(STOCK::fTemp ? QString() : QString::fromStdString(stock));
  for (QLabel* l : {statusConnection, statusCode, statusTimer, statusLog, statusScroll})
    l->setVisible(!l->text().isEmpty());
}

void FRAMEWINDOW::ApplyOnline(int online) {
  const bool on = online != 0;
  if (on && !callTimed) onlineSince = clock();
  callTimed = on;
  hostMenu->setEnabled(!on);
  actHostList->setEnabled(true);  // the list can be edited on line; dialling from it is refused
  // Ctrl+H is the host's backspace while on line: the list's key works off line only.
  actHostList->setShortcut(on ? QKeySequence() : QKeySequence(Qt::CTRL | Qt::Key_H));
  actHangup->setEnabled(on);
  actStockProperty->setEnabled(!on);
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
  // Shift, Control and both show the names of their key sets.
  const bool shift = mods & Qt::ShiftModifier, ctrl = mods & Qt::ControlModifier;
  shownBank = (shift ? 1 : 0) + (ctrl ? 2 : 0);
  const int shown = std::clamp(config.FuncKeyNum, 1, 12);
  const char* prefix = shownBank == 1 ? "S-" : shownBank == 2 ? "C-" : shownBank == 3 ? "SC-" : "";
  for (int i = 0; i < 12; ++i) {
    QToolButton* b = funcButtons[size_t(i)];
    if (functionKeyLabel) {
      b->setText(QString("%1%2").arg(prefix, functionKeyLabel(shownBank * 12 + i)));
    } else {
      const std::string name = jcode::SjisToUtf8(config.aszFuncName[i]);
      b->setText(QString("%1F%2 %3").arg(prefix).arg(i + 1).arg(QString::fromStdString(name)));
    }
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
  // On line every key the terminal sends to the host (control keys, Tab,
  // the cursor and editing keys, F1-F12, text) belongs to the terminal: no
  // shortcut of the frame or a dialog may take it.  Keys with Alt or Meta
  // stay with the menus.  Accepting the override delivers the key press.
  if (t == QEvent::ShortcutOverride && fOnline && watched == client) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (!(k->modifiers() & (Qt::AltModifier | Qt::MetaModifier))) {
      e->accept();
      return true;
    }
    return false;
  }
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
    functionKeyMods = k->modifiers();
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
