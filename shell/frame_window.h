// The frame: the program's main window.
//
// The terminal view is the central widget; the tree sits in a dock (beside,
// above or below the terminal, or floating, by the TreeView setting); the
// function-key bar runs along the bottom when ShowFuncKey is set; the status
// bar shows the host and its connection, the host's kanji code, the call
// timer, the log file, the back-scroll view and the stock, refreshed once a
// second by a timer (never per received byte).  The frame installs itself into
// FRAMEHOOKS (caption, on-line state), HOSTINI (host menu) and the log's menu
// hook, and filters the application's events for the function keys and the
// focus moves between the tree and the terminal.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;
class QTimer;
class QToolButton;
class TERMINALVIEW;

// The program's icon from the bundled resources (16 to 256 pixels, drawn
// from app/quillnet.svg at build time).  The frame sets it on itself and as
// the application's icon, so dialogs and the task bar show it too.
QIcon QuillnetIcon();

class FRAMEWINDOW : public QMainWindow {
 public:
  explicit FRAMEWINDOW(bool oldShell = false);
  ~FRAMEWINDOW() override;

  TERMINALVIEW* Client() const { return client; }
  QDockWidget* TreeDock() const { return treeDock; }
  QToolBar* FunctionKeyBar() const { return funcBar; }

  // What the frame's commands call.  dial gets a host name (Shift_JIS) and
  // returns 1 when connected; hangup ends the call.
  std::function<int(const std::string& sjisName)> dial;
  std::function<void()> hangup;
  // A function key (1 to 12) was pressed or released while the terminal had
  // the focus, or its button was clicked (pressed and released over the same
  // button: a press and a release at once).  FunctionKeyModifiers() gives
  // the Shift and Ctrl state of that moment.
  std::function<void(int key, bool down)> functionKey;
  Qt::KeyboardModifiers FunctionKeyModifiers() const { return functionKeyMods; }
  // The text of a function key's button for an entry (bank * 12 + key, banks
  // 0 plain, 1 Shift, 2 Ctrl, 3 both).  Unset: the settings' F1Name..F12Name
  // for every bank.
  std::function<QString(int entry)> functionKeyLabel;
  // The script menu's commands by number (44 run, 56 stop, 57 pause or
  // resume, 58 status, 59 edit, 62 stop all) and its state, asked each time
  // the menu opens: whether a script runs, whether it is paused.  Unset: the
  // menu's items are disabled.
  std::function<void(int command)> scriptCommand;
  std::function<std::pair<bool, bool>()> scriptState;
  // Opens a document for the help menu (the script guide); unset: the
  // desktop's viewer.  False when it could not be opened.
  std::function<bool(const QString& path)> openDocument;
  // Where the script guide SCRIPTS.md is: the installed documentation
  // beside the program, else the source tree's docs beside a build; empty
  // when neither exists.
  static QString ScriptGuidePath();
  // Brings the script menu's items up to date (the menu does so as it opens).
  void RefreshScriptMenu();

  // Places the frame by the saved position and size (or the default).
  void PlaceBySettings();
  // Stores the frame's place in the settings (saved with them at exit).
  void SavePlacement();
  // The connection commands enabled offline, the line commands online.
  void ApplyOnline(int online);
  // The host menu from HOSTINI::aHostMenu.
  void RebuildHostMenu();
  // The function-key labels, as Shift and Control change them.
  void RefreshFunctionKeys(Qt::KeyboardModifiers mods);
  // The bank the bar shows now (0-3).
  int FunctionKeyBank() const { return shownBank; }
  // Opens (or raises) the host list window.
  void ShowHostList();
  // Whether closing asks nothing more (set once the close was decided).
  bool Closing() const { return closing; }
  // Refreshes the status bar now (the timer does so every second).
  void UpdateStatus();
  // The status bar's connection text for the current host: ADDRESS:PORT for
  // telnet, the serial device and its speed for the serial kinds.
  static QString ConnectionText();
  // The status bar's name of the host's kanji code.
  static QString KanjiCodeText();
  // hh:mm:ss of a call that has lasted `ms` milliseconds.
  static QString CallTimeText(int64_t ms);
  // The clock of the call timer (monotonic milliseconds); tests set their own.
  std::function<int64_t()> clock;

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  // A font the settings name but the system lacks: a line in the status bar.
  void ShowFontNote();
  void DialByName(const std::string& sjis);

  TERMINALVIEW* client = nullptr;
  QDockWidget* treeDock = nullptr;
  QToolBar* funcBar = nullptr;
  std::array<QToolButton*, 12> funcButtons{};
  Qt::KeyboardModifiers functionKeyMods = Qt::NoModifier;
  int shownBank = 0;
  QMenu* hostMenu = nullptr;
  QAction* actHostList = nullptr;
  QAction* actHangup = nullptr;
  QAction* actLogStart = nullptr;
  QAction* actLogEnd = nullptr;
  QAction* actSettings = nullptr;
  QAction* actShowTree = nullptr;
  QAction* actShowFuncKey = nullptr;
  QAction* actStockProperty = nullptr;
  QAction* actScriptExec = nullptr;
  QAction* actScriptStop = nullptr;
  QAction* actScriptPause = nullptr;
  QAction* actScriptStatus = nullptr;
  QAction* actScriptEdit = nullptr;
  QAction* actScriptStopAll = nullptr;
  QLabel* statusLine = nullptr;
  QLabel* statusConnection = nullptr;
  QLabel* statusCode = nullptr;
  QLabel* statusTimer = nullptr;
  QLabel* statusLog = nullptr;
  QLabel* statusScroll = nullptr;
  QLabel* statusStock = nullptr;
  QTimer* statusTimerTick = nullptr;
  bool callTimed = false;    // on line, onlineSince holds the start
  int64_t onlineSince = 0;  // clock() when the call went on line
  QWidget* hostList = nullptr;
  bool closing = false;
};
