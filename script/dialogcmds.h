// SCRIPTDIALOGCMDS: the statements that ask the user.
//
//   MESSAGE / QUESTION expr                       RESULT 0 / 1 Yes, 0 No
//   TIMEOUTMESSAGE / TIMEOUTQUESTION expr, seconds   the default button after the time
//   ERROR expr                                    the error box, then the script ends
//   INPUT / SECRETINPUT prompt, var [, initial]   RESULT 1 (var set) or -1
//   MENU / NUMBERMENU [items]  ADDMENU / ADDNUMBERMENU items  SHOWMENU
//   INPUTFILENAME title, var [, initial file]     RESULT 1 (var set) or -1
//   EXECEDITOR [file [, array var, count [, line [, column]]]]   RESULT 1 / 0
//
// Every box goes through the facade (platform/ui.h) while the level counts
// as sleeping (SCRIPTARGS::DIALOGTIME: SCRIPT::NESTEDLOOP held, the
// watchdog started afresh after it).  The dialogs the facade has no form for
// (the input boxes, the timed box, the pop-up menu, the clipboard) are
// SCRIPTDIALOGCMDS::hooks, filled by the windows (InstallScriptDialogs).
// Without them, as in a headless run: an input, a menu and a file choice are
// cancelled, a timed box ends at once with its default, and ERROR is
// reported as an error of the run (so a headless run ends with status 3).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct SCRIPTMENUITEM {
  std::string text;   // UTF-8; empty: a separator
  char number = 0;    // '1'-'9', 'A'...: shown before the text (0: none)
};

struct SCRIPTDIALOGHOOKS {
  // The windows are there (the hooks below are theirs).
  bool windowed = false;
  // The "INPUT" family: prompt and initial text UTF-8; the text entered, or
  // nothing when cancelled.  longPrompt picks the form for prompts over 50
  // bytes or with a line break.
  std::function<std::optional<std::string>(const std::string& prompt, const std::string& initial, bool secret,
                                           bool longPrompt)>
      input;
  // A message box whose default button is pressed after ms.
  std::function<int(const std::string& text, const std::string& caption, unsigned style, int64_t ms)> timedBox;
  // The pop-up menu at the caret (atCaret) or the window's centre: the
  // chosen item counted over the items that are not separators, or -1.
  std::function<int(const std::vector<SCRIPTMENUITEM>& items, bool atCaret)> menu;
  // Text put on the clipboard; false when it could not be.
  std::function<bool(const std::string& utf8)> setClipboard;
  // The editor started on a file at a line and column; false when it
  // could not be (default: the editor launcher).
  std::function<bool(const std::string& path, int line, int column, const std::string& workDir)> launchEditor;
};

class SCRIPTDIALOGCMDS {
 public:
  static constexpr size_t SHORT_PROMPT = 50;
  static constexpr int MAX_PASTE_LINES = 1000;

  static bool Handles(uint8_t atom);
  static bool Run(uint8_t atom);

  static SCRIPTDIALOGHOOKS hooks;
  // The menu being built (tests).
  static const std::vector<SCRIPTMENUITEM>& Menu();
  // The number shown before the n-th numbered item (0: '1').
  static char MenuNumber(int n);
  static void ResetForTest();
};
