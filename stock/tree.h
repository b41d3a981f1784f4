// TREE: the overall tree of calls, boards and messages.
//
// The node model (stock/tree_model.h) is built here from the stock's lines
// and tags: calls (or day and week groups of calls) under the root, the
// tagged lines of a call nested by level, the older calls in "昔の分...".
// The tree window itself comes later.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stock/codevram.h"
#include "stock/stockheader.h"

struct TREENODE;
class TREEMODEL;
struct STOCKCLIP;

// ---- editing, positions, copy and paste, pages (stock/tree_edit.cpp) ----
// The window shows what these do through TREE::hooks; every hook does
// nothing while empty, so the operations run alone in tests and in
// quillnet-tool.

class QWidget;

// A tree page's procedure (the add-in interface's page procedure).
using TREEPAGEPROC = intptr_t (*)(QWidget* page, unsigned message, uintptr_t wParam, intptr_t lParam);

// Messages to the pages' procedures; wParam is the line slot unless said.
enum : unsigned {
  TREEMSG_ACTIVATE = 0x400,   // wParam 1: the page is shown, 0: hidden
  TREEMSG_OVERWRITE = 0x401,  // a connect line is being overwritten
  TREEMSG_ADDED = 0x402,      // a node was added
  TREEMSG_REBUILT = 0x403,    // the tree was rebuilt
  TREEMSG_CALLBEGAN = 0x404,  // a call began
  TREEMSG_PASTED = 0x405,     // a paste or restore ended
  TREEMSG_PLACE = 0x407,      // lParam: the proposed TREERECT*; non-zero answer: the page placed itself
  TREEMSG_TAGARRAY = 0x408,   // wParam: the tag array's new address
};
// Add-in events sent alongside.
enum : int {
  TREEEVENT_CALLBEGAN = 3,
  TREEEVENT_PASTED = 4,
  TREEEVENT_REBUILT = 5,
  TREEEVENT_OVERWRITE = 10,
  TREEEVENT_ADDED = 13,
  TREEEVENT_TAGARRAY = 15,
};

struct TREERECT {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct TREEPAGE {
  QWidget* hwnd = nullptr;
  void* menu = nullptr;
  TREEPAGEPROC proc = nullptr;
  std::string title;  // UTF-8
};

struct TREEHOOKS {
  // The terminal shows only lines first..last (slots; the whole stock for
  // the root), with `top` at its top row (-1: the first).
  std::function<void(int first, int last, int top)> setScrollableArea;
  // The view selects a node (GoTo, a rebuild); null: none.
  std::function<void(TREENODE* node)> select;
  // The terminal view's top line.  Empty: STOCK::iViewTop.
  std::function<int()> viewTop;
  // The view and the cursor went to the newest line after the lines were
  // re-laid (the window repaints).
  std::function<void()> viewToNewest;
  // The root's question: 1 delete the stock file, 2 clear its contents, 0
  // cancel.  Empty: the contents question as a yes/no box.
  std::function<int(const std::string& stockNameUtf8)> rootChoice;
  // Port access stopped (true) and started again around the forced clear.
  std::function<void(bool pause)> pausePort;
  // An add-in event with its parameter.
  std::function<void(int event, intptr_t param)> addinEvent;
  // The tree dialog's tabs: insert a page's tab (the window becomes a child
  // with the tree's font), remove one, show one page in place of another,
  // the tree's rectangle, and a page given a rectangle.
  std::function<void(QWidget* page, int position, const std::string& titleUtf8)> insertTab;
  std::function<void(int position)> removeTab;
  std::function<void(QWidget* hidden, QWidget* shown, int position)> showPage;
  std::function<TREERECT()> pageRect;
  std::function<void(QWidget* page, const TREERECT& rect)> placePage;
  // Moves a deleted stock file away; false when it could not.  Empty: the
  // desktop trash (QFile::moveToTrash), else the file is removed.
  std::function<bool(const std::string& path)> trash;
  // The list of stock files beside the tree changed.
  std::function<void()> stockListChanged;
  // StockFile and StockFile2 changed (the settings store them).
  std::function<void()> stockNamesChanged;
  // The quotation prefix of a quoted copy (UTF-8).  Empty: "> ".
  std::function<std::string()> quotePrefix;
  // PasteFromFile's progress: begin with the steps (one per 1000 lines),
  // step (false: the user stopped), end.
  std::function<void(int steps)> progressBegin;
  std::function<bool(int done)> progressStep;
  std::function<void()> progressEnd;
};

class TREE {
 public:
  // Re-tags the whole stock for a reason (0 no question, 1 syntax changed,
  // 2/3 the syntax file changed, 4 a call cut short): 1 when it completed.
  static int RefreshTagAll(int reason);

  // Rebuilds the whole tree from the stock (mode 0 also tells the pages,
  // which do not exist yet; 2 rebuilds only the tree).
  static void Initialize(int mode);
  // Adds the node of a newly tagged line (on line).  Not forced, a title
  // that reads lines after its line waits for them.
  static void Add(CODEVRAM line, int force);
  // Builds a call's (not yet built) children.
  static void InitChildItems(TREENODE* call);
  // Move the next older call (day, week) out of "昔の分..." into the shown
  // window; all of them; back to the window Initialize shows.
  static void ExpandPastOne();
  static void ExpandPastAll();
  static void CollapsePast();
  // A line arrived / the call ended: a waiting node is added when its
  // lines are there / in any case.
  static void NotifyNewLine();
  static void NotifyHangup();

  // The tree level of the node a line belongs to (-1 none, 0 a call).
  static int GetLevel(CODEVRAM line);
  // The last line of the node's extent (a connect line ends every extent).
  static int GetTagBottom(CODEVRAM line);

  // The tree as text: one item per line from the root, two blanks per
  // depth, titles UTF-8; with `lines` a TAB, the item's first line, a TAB
  // and the last line of its extent (0 = the oldest; "-" for no line).
  // Calls are built on the way.
  static std::string Text(bool lines);

  static TREEMODEL& Model();
  static TREENODE* hitemRoot;
  static TREENODE* hitemPast;   // null when every call is shown
  static int fPreventAdd;       // adding suspended until the next connect line
  static int cvWaiting;         // a tagged line whose node waits, -1 none

  // Settings: 0 per call, 1 per day, 2 per week; the calendar days shown;
  // the calls (groups) shown at least.
  static int TreeStyle, TreeDay, TreeConnect;

  // The title of the node a line belongs to (Shift_JIS, 0x0B removed; empty
  // when no tagged line is above it).  Kept for repeated calls with the same
  // line.
  static const char* GetTagTitle(CODEVRAM line);
  // Runs a compiled template for the tag on `line` into *out: 1 when every
  // element succeeded, 0 when one failed (the rest is still produced).
  static int GetTagTitleSub(CODEVRAM line, const unsigned char* templ, int room, std::string* out);
  // The title of a call node (style 0 per call, 1 per day, 2 per week).
  static const char* GetConnectTitle(CODEVRAM line, int style);

  static std::string szTitle;           // the last computed title
  static int iItemTagTitleCache;        // the line it belongs to, -1 none

  // ---- editing, positions, copy and paste, pages (stock/tree_edit.cpp) ----
  static TREEHOOKS hooks;
  // The selected node (the window tells through Select), null: none.
  static TREENODE* hitemSelected;
  static int fPreventGoTo;
  static constexpr int kMaxPages = 30;
  static std::vector<TREEPAGE> apage;  // the main tree is the page the window adds first
  static int iPageActive;

  // Fills STOCK::hooks (connectLineOverwritten, tagArrayMoved,
  // takeViewPosition, relaid) and the property dialog's tree rebuild.
  // Idempotent; Initialize calls it.
  static void InstallHooks();
  // A day or week group's title for its count.
  static std::string GroupTitleOf(const TREENODE* group);
  // The end of a build: back to the saved position, the pages told (mode 0).
  static void Rebuilt(int mode);

  // The window's selection changed: the node's lines are shown.
  static void Select(TREENODE* node);
  // The lines of a node: its line to the end of its extent (a group: its
  // calls; "昔の分...": the calls before the shown window; the root:
  // everything).  False for no node or no lines.
  static bool NodeLines(const TREENODE* node, int* first, int* last);
  // The built node of a line slot (calls are built on the way); null: none.
  static TREENODE* FindNode(int line);
  // The node's lines in the terminal (SetScrollableArea of the selected node
  // when `line` is its line, else line .. GetTagBottom(line); -1: all).
  static void SetScrollableArea(int line);

  // The position: the terminal's top line and the selected node's level
  // (-1 none, -2 a call).  SaveCurPos keeps it as the stock's saved one.
  static void GetPos(STOCKPOS* p);
  static void SaveCurPos();
  // Selects the node of a position (refused while fPreventGoTo; a slot
  // before the shown window selects "昔の分..."; a miss the root); with
  // `show` its lines are shown.  1 when the node was found.
  static int GoTo(const STOCKPOS* p, int show);
  // The same page without searching the tree: the lines from the nearest
  // line at or above p->item holding a tag of level at most p->level to the
  // line before the next such line, p->item at the top.
  static int GoToFast(const STOCKPOS* p, int show);

  // Removes the selected node's lines (before: everything before it; the
  // root: the stock file or its contents; "昔の分...": the older calls).
  // Refused on line unless forced; asks first when `ask`.  Forced, it
  // clears the whole contents (the terminal's clear command), and on line
  // writes the call's connect line again and restarts matching.  1 when
  // something was removed.
  static int Delete(int before, int ask, int force);
  // Deletes another stock file (to the trash where there is one); the
  // current one is closed first and another opened.  1 when deleted.
  static int DeleteStockFile(const std::string& path, int ask);
  // A stock file was deleted: the current stock, when that was it, is
  // replaced by another and the tree rebuilt; the stock list is told.
  static void StockFileDeleted(const std::string& path);
  // The oldest line, a connect line, is about to be overwritten.
  static void NotifyOverwrite(CODEVRAM line);

  // The selected node's lines to the clipboard (quote: the quotation prefix
  // before each line); 1 when the clipboard holds them.
  static int CopyToClipboard(int quote);
  // The selected node's lines to a text file (Shift_JIS, CR LF after each
  // logical line); an empty path asks for one.  1 when written.
  static int SaveToTextFile(const std::string& path);
  // Copy, then delete without asking; refused on line; nothing is deleted
  // unless the clipboard holds the text.
  static int Cut();
  // The clipboard's text as a new call at the newest end (off line), its
  // lines matched; a copied call with its date moves to its place among the
  // older calls.  1 when pasted.
  static int Paste();
  static int PasteClip(const STOCKCLIP& clip);
  // Appends a text backup (`text`, its control file `control`: an 892-byte
  // header and one byte per logical line) to the open stock: 0xFE starts a
  // call; stops where the control bytes end.  1 when done, 0 when refused,
  // stopped or unreadable (*error: the message, empty when stopped).
  static int PasteFromFile(const std::string& text, const std::string& control, std::string* error);

  // Switches to another stock file (refused on line); the Sub form does the
  // switch: sharing check, StockFile2, open (falling back to any stock),
  // the name into the settings, rebuild, time stamps.  1 when switched.
  static int ChangeStockFile(const std::string& path);
  static int ChangeStockFileSub(const std::string& path);

  // The tree pages.  InsertPage returns 0 for a 31st page, else 1.
  static int AddPage(QWidget* window, const std::string& titleUtf8, TREEPAGEPROC proc, void* menu);
  static int InsertPage(QWidget* window, int position, const std::string& titleUtf8, TREEPAGEPROC proc,
                        void* menu);
  static int DeletePage(QWidget* window);
  static int SetActivePage(int i);
  // Sends a message to every page's procedure (wParam the line or address).
  static void NotifyToTreePage(unsigned message, uintptr_t param);
  // Tells the pages and the add-ins (each message with its event).
  static void Notify(unsigned message, uintptr_t param);

  // Back to no selection, no pages and empty hooks (tests).
  static void ResetEditForTest();
};
