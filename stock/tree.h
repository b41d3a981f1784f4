// TREE: the overall tree of calls, boards and messages.
//
// Only what the colour syntax needs is here so far: titles, re-tagging and
// the notices the matcher sends.  The tree window itself comes later; until
// then Add, NotifyNewLine and NotifyHangup do nothing.
#pragma once

#include <string>

#include "stock/codevram.h"

class TREE {
 public:
  // Re-tags the whole stock for a reason (0 no question, 1 syntax changed,
  // 2/3 the syntax file changed, 4 a call cut short): 1 when it completed.
  static int RefreshTagAll(int reason);
  static void Add(CODEVRAM line, int force);
  static void NotifyNewLine();
  static void NotifyHangup();

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
