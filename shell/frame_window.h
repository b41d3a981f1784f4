// The frame: the program's main window.
//
// The terminal view is the central widget; the tree sits in a dock (beside,
// above or below the terminal, or floating, by the TreeView setting); the
// function-key bar runs along the bottom when ShowFuncKey is set; the status
// bar shows the line, the log and the stock.  The frame installs itself into
// FRAMEHOOKS (caption, on-line state), HOSTINI (host menu) and the log's menu
// hook, and filters the application's events for the function keys and the
// focus moves between the tree and the terminal.
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <string>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class TERMINALVIEW;

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
  // the focus.
  std::function<void(int key, bool down)> functionKey;

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
  // Opens (or raises) the host list window.
  void ShowHostList();
  // Whether closing asks nothing more (set once the close was decided).
  bool Closing() const { return closing; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void UpdateStatus();
  void DialByName(const std::string& sjis);

  TERMINALVIEW* client = nullptr;
  QDockWidget* treeDock = nullptr;
  QToolBar* funcBar = nullptr;
  std::array<QToolButton*, 12> funcButtons{};
  QMenu* hostMenu = nullptr;
  QAction* actHostList = nullptr;
  QAction* actHangup = nullptr;
  QAction* actLogStart = nullptr;
  QAction* actLogEnd = nullptr;
  QAction* actSettings = nullptr;
  QAction* actShowTree = nullptr;
  QAction* actShowFuncKey = nullptr;
  QLabel* statusLine = nullptr;
  QLabel* statusLog = nullptr;
  QLabel* statusStock = nullptr;
  QWidget* hostList = nullptr;
  bool closing = false;
};
