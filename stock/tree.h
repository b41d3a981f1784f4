// TREE: the overall tree of calls, boards and messages.
//
// The node model (stock/tree_model.h) is built here from the stock's lines
// and tags: calls (or day and week groups of calls) under the root, the
// tagged lines of a call nested by level, the older calls in "昔の分...".
// The tree window itself comes later.
#pragma once

#include <string>

#include "stock/codevram.h"

struct TREENODE;
class TREEMODEL;

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
};
