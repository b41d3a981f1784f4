// The script commands of the frame's menu and the posting hooks, the logic
// under the script windows (script_list_dialog, script_status_dialog,
// script_error_dialog, script_menu_window).
//
// Menu commands by number: 44 run a script (the file list), 56 stop the
// running script, 57 pause or resume it, 58 the status window, 59 edit a
// script (the file list), 62 stop all scripts; 144 and 145 the speech and the
// comment script.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace scriptcmd {
enum : int {
  EXEC = 44,
  STOP = 56,
  PAUSE = 57,
  STATUS = 58,
  EDIT = 59,
  STOPALL = 62,
  SAY = 144,
  COMMENT = 145,
};
}

// The folder the script lists show and new scripts go to (UTF-8): the
// ScriptPath setting, else HomeDir, else the program's data directory.
std::string ScriptDirectory();

// Whether a file name (a path's last part counts) ends in ".hsc" or ".scr",
// in any case, after at least one character.
bool IsScriptFileName(const std::string& name);

// One script file of the list.
struct SCRIPTFILEENTRY {
  std::string name;  // file name (UTF-8), without the folder
  std::string path;  // full path
  std::time_t mtime = 0;
};

// The ".hsc" and ".scr" files of a folder (the extension in any case),
// sorted by name without regard to ASCII case (byName) or newest first,
// equal times by name.
std::vector<SCRIPTFILEENTRY> ListScriptFiles(const std::string& dir, bool byName);

// The description of a script from the first bytes of its file (Shift_JIS):
// when the first character that is not a blank (space, tab, full-width
// space) is ";", the rest of that line after further blanks, tabs made
// spaces, up to the CR or LF; otherwise empty.  Only the first 119 bytes
// count, a double-byte character is never cut in half, and a lead byte
// without its trail byte is dropped.
std::string ScriptDescription(std::string_view head);
// The same read from a file (UTF-8 path): its first 119 bytes.
std::string ScriptFileDescription(const std::string& path);

// Starts a script file from the menu as a new level on top of any running
// one, and has Process run it soon.  False when it could not start (the
// interpreter has said why).
bool StartScriptFile(const std::string& path);

// Has Process run soon: through the dispatcher's hook when it is
// installed, else as a queued call of the event loop.
void QueueScriptProcess();

// The menu's state: whether a script runs and whether it is paused.
struct SCRIPTMENUSTATE {
  bool running = false;
  bool paused = false;
};
SCRIPTMENUSTATE ScriptMenuState();

// Commands 56, 57 and 62 (the others need windows: script_menu_window).
void RunScriptCommand(int command);

// Opens a script in the editor at a line (0: none) from the script folder.
// A start failure shows the editor command and "エディタの起動に失敗しました。".  A relative path
// is taken from the current directory, where the interpreter found it.
bool OpenScriptInEditor(const std::string& path, int line);

// What the tree and the board windows know about the message at a stock
// line: its level in the comment tree, for each level from 0 to that level
// the title and how many lines that message lies above the newest line, the
// host named in its call's record and, for a comment, the message's lines.
struct SPEECHMESSAGE {
  enum KIND { NOT_A_MESSAGE, NO_HOST_RECORD, MESSAGE } kind = NOT_A_MESSAGE;
  std::string host;                 // Shift_JIS
  int level = 0;
  std::vector<std::string> titles;  // Shift_JIS, index = level, 0..level
  std::vector<int32_t> positions;   // index = level, 0..level
  int32_t lines = 0;                // the comment hook's @@SPEECHLINES
};

struct SPEECHHOOKS {
  // The message at a stock line (numbered from 0 at the oldest; -1: the
  // line the tree has selected, as command 144 asks), for a new posting.
  // Unset: every line counts as no message.
  std::function<SPEECHMESSAGE(int line)> sayMessage;
  // The message the board window has open, for a comment.  Unset: none.
  std::function<SPEECHMESSAGE()> commentMessage;
  // A line that is no message only beeps.  Default: BEL on standard error.
  std::function<void()> beep;
};
extern SPEECHHOOKS speechHooks;

// The posting hooks: set @SPEECHTYPE ("new" / "comment"), @@SPEECHLEVEL,
// @SPEECHTITLE[n] and @@SPEECHPOS[n] for n from the level down to 0 (the
// comment also @@SPEECHLINES), then start the auto-start script of the
// message's host at CREATESPEECHFILE.  Failures are shown as messages.
// True when the script was started.
bool ExecSayScript(int line);
bool ExecCommentScript();
