// TREEWINDOW: the overall tree's main page in the frame's tree dock.
//
// A QTreeView over TREE's node model (stock/tree_model.h), behind a proxy
// that puts the stock list in front of the root at the top level:
// "(ストックファイルの新規作成...)", the other ".stk" files of the program's
// directory (sorted), "(ストックファイルの復元...)", then the root.  Calls
// build their children when first expanded; expanding "昔の分..." moves the
// next older call (or group) into the shown window instead.
//
// Selecting a node sets the terminal's scroll-back area to the node's lines
// (from its line to TREE::GetTagBottom), so the terminal shows that node
// only; the root shows the whole stock at its newest lines.  Space and
// Shift+Space scroll the terminal by a screen less one line within the node,
// then go to the next or previous node.
//
// The stock list rows act when clicked or entered (create, switch, restore);
// moving onto one only selects it (Delete then removes another stock file).
//
// The page carries the tree's own menu (commands 1000 to 1020) in a menu bar
// of its own and as the view's context menu; the shortcuts work while the
// tree has the focus, so the terminal keeps every key for the host.
#pragma once

#include <QFont>
#include <QIdentityProxyModel>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QMenu;
class QMenuBar;
class QTreeView;
class TERMINALVIEW;
class FRAMEWINDOW;
struct TREENODE;

// The stock list in front of TREEMODEL's root.  Its own rows carry no
// internal pointer; every other index carries the TREENODE of the model.
class TREESTOCKLIST : public QIdentityProxyModel {
 public:
  enum Kind { CREATE, FILE, RESTORE };
  struct Entry {
    Kind kind;
    QString text;
    std::string path;  // FILE: the file's path
  };
  static constexpr int KindRole = Qt::UserRole + 1;  // Kind of a stock list row, -1 for nodes

  void SetEntries(std::vector<Entry> entries);
  const std::vector<Entry>& Entries() const { return entries; }
  // The stock list row of an index, null for a node.
  const Entry* EntryOf(const QModelIndex& index) const;
  // The node of an index, null for a stock list row.
  static TREENODE* NodeOf(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QModelIndex mapFromSource(const QModelIndex& source) const override;
  QModelIndex mapToSource(const QModelIndex& proxy) const override;
  // Searches this model itself (the stock list rows have no source).
  QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits,
                        Qt::MatchFlags flags) const override;

 private:
  std::vector<Entry> entries;
};

// The display style dialog "TREEDAY": TreeStyle (per call, day, week),
// TreeDay (1-365) and TreeConnect (1-1000).  Run returns true when the user
// confirmed; the values are then in *style, *days, *calls.
bool RunTreeStyleDialog(QWidget* parent, int* style, int* days, int* calls);

class TREEWINDOW : public QWidget {
 public:
  explicit TREEWINDOW(TERMINALVIEW* terminal, QWidget* parent = nullptr);
  ~TREEWINDOW() override;

  // The window the program runs (null when none, and in headless runs).
  static TREEWINDOW* Instance();
  // Builds the tree page into the frame's dock, hooks the placements and
  // builds the tree from the open stock (when the dock is hidden, once it is
  // first shown).
  static TREEWINDOW* Install(FRAMEWINDOW* frame);

  QTreeView* View() const { return view; }
  TREESTOCKLIST* Proxy() const { return proxy; }
  QMenu* Menu() const { return menu; }
  QMenuBar* MenuBar() const { return menuBar; }
  // The action of a command (1000 to 1020), null for other numbers.
  QAction* Command(int id) const;

  // Takes the tree settings (config.TreeStyle/TreeDay/TreeConnect), lists
  // the stock files and rebuilds the tree (TREE::Initialize(mode)), then
  // selects the root.
  void Rebuild(int mode = 0);
  // Shows a node's lines in the terminal (the scroll-back area).
  void ShowNode(const QModelIndex& index);
  // Space and Shift+Space.
  void NextPage();
  void PreviousPage();
  // The tree font (saved in the settings under "Tree", value "TreeFont").
  void SetTreeFont(const QFont& font);
  QFont TreeFont() const;
  // After another stock was opened: the screen starts on its newest lines
  // and the tree is rebuilt.  TREE's operations reach the window through
  // TREE::hooks, which the window installs (and empties when it goes).
  void StockChanged();
  // Enables the commands that depend on the on-line state and the selection.
  void RefreshCommands();

  // What the commands call that lives elsewhere; unset, the command is
  // disabled.  place: a placement (TreeView 0 floating, 1 tower, 2 wide,
  // 3 reversed wide).  createStock: the stock creation wizard (1 made, 0
  // failed and another stock opened, -1 nothing changed).  edit: the edit
  // commands 1002 to 1008.
  std::function<void(int view)> place;
  std::function<int()> createStock;
  std::function<void(int command)> edit;
  // Asks for a font (default: QFontDialog).
  std::function<bool(QFont* font)> chooseFont;
  // The current placement, for the placement items' check marks.
  std::function<int()> placement;

 protected:
  void contextMenuEvent(QContextMenuEvent* e) override;
  // The terminal's resizing widens the scroll-back range to the newest line:
  // the node's range is put back afterwards.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void BuildCommands();
  void Selected(const QModelIndex& index);
  // A stock list row was clicked or entered: its action.
  void Chosen(const QModelIndex& index);
  void StockListChosen(const TREESTOCKLIST::Entry& entry);
  void ExpandAll(const QModelIndex& index);
  void Expanded(const QModelIndex& index);
  void DisplayStyle();
  void ChooseFont();
  void Help();
  // The edit commands 1002-1008 (the default `edit`).
  void Edit(int command);
  // "(ストックファイルの復元...)": a backup chosen, restored beside the
  // stocks and opened; true when the open stock changed.
  bool RestoreStockFile();
  // The terminal shows lines first..last with `top` at its top row (-1:
  // the first); the whole stock without a top is the live terminal.
  void SetArea(int first, int last, int top);
  // Selects a node TREE chose (a saved position, a rebuild).
  void SelectFromTree(TREENODE* node);
  // The screen back at the newest line of the (new or re-laid) stock.
  void ScreenToNewest();
  void InstallTreeHooks();

  QPointer<TERMINALVIEW> terminal;  // the frame may take it down first
  QTreeView* view = nullptr;
  TREESTOCKLIST* proxy = nullptr;
  QMenuBar* menuBar = nullptr;
  QMenu* menu = nullptr;
  std::map<int, QAction*> commands;
  bool choosing = false;  // a stock list row's action is running
  bool selecting = false;  // SelectFromTree is moving the view's selection
  bool built = false;     // Rebuild ran once (a hidden tree waits until shown)
  // The range a node set (slots), to restore it after a resize; -1 none.
  int nodeTop = -1, nodeBottom = -1;
  void RestoreNodeRange();
};
