// SCRIPTPROGRAMCMDS: the statements about programs and the program itself.
//
//   RUN / RUNSYNC / RUNSYNC2 line [, MAX | MIN]   start a program (no shell)
//   CLOSEQUILLNET                                 end the script and the program
//   GETVERSION var / GETDATE / GETTIME / GETWEEK var / DATETOLINEAR expr, var
//   KEYBOARD / DISPLAY / IME / SOUND / ERRORLOG  ON | OFF
//   TITLE [expr] / WINDOW RESTORE | MAXIMIZE | MINIMIZE / ENDSCROLL / FONT face, points
//   SETHILIGHT, SETHILIGHT1-4 expr / PLAY expr
//   KEYASSIGN RESET | key, name, SCRIPT | STRING | RESET, text
//
// A program's command line is split into words at blanks, double quotes
// grouping (no shell ever runs, so nothing in it is expanded or executed);
// it starts in the directory of the running script, with its output on our
// standard error.  RUN goes on once the program has started (at most 5,000
// ms later); RUNSYNC holds SCRIPT::NESTEDLOOP and runs an event loop until
// the program ends, the window minimised and disabled meanwhile; RUNSYNC2
// puts the level to sleep until the program ends (the event loop goes on).
// A program that cannot be started is message 88.
//
// The window, the input method, the font and the sounds are reached through
// SCRIPTPROGRAMCMDS::hooks, which the windows fill; without them (headless)
// those statements change nothing but the run's own state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/tick.h"

struct SCRIPTPROGRAMHOOKS {
  std::function<void(const std::optional<std::string>& utf8)> title;  // nothing: the normal title
  std::function<void(int state)> window;                              // 0 restore, 1 maximise, 2 minimise
  std::function<void()> endScroll;
  std::function<bool(const std::string& faceUtf8, int points)> font;
  std::function<void(bool open)> ime;
  std::function<void()> beep;  // default: BEL on standard error
  // The program ends with this status (default: the event loop's exit).
  std::function<void(int status)> quit;
  // RUNSYNC: the window minimised and disabled (true) or back (false).
  std::function<void(bool waiting)> runSyncWindow;
  // KEYASSIGN: entry 0-47 (bank x 12 + key), the button text, whether the
  // text names a script, the text as stored; false when it was refused.
  std::function<bool(int entry, const std::string& name, bool script, const std::string& text)> assignKey;
  // KEYASSIGN RESET: one entry (-1: all 48) again from the settings.
  std::function<void(int entry)> resetKey;
  // The terminal's highlight strings changed (repaint).
  std::function<void()> hilightChanged;
};

class SCRIPTPROGRAMCMDS {
 public:
  static constexpr int64_t START_MS = 5000;
  static constexpr size_t MAX_COMMAND = 255;

  static bool Handles(uint8_t atom);
  static bool Run(uint8_t atom);
  // The end of a run: typing and the screen come back, the highlight strings
  // and the key assignments the run changed return to the settings'.
  static void EndRun();

  static SCRIPTPROGRAMHOOKS hooks;
  // Sounds are on (SOUND); every beep of the statements goes through Beep.
  static bool fSoundOn;
  static bool fErrorLog;
  static void Beep();
  // The day number of a YYMMDD date (1 January 1980 is 0).
  static int32_t DateToLinear(int32_t yymmdd);
  // The program's version as a number: major x 100 + the minor digits.
  static int32_t VersionNumber(const std::string& version);
  // The error-log file (UTF-8 path) and one report appended to it.
  static std::string ErrorLogPath();
  // Programs RUN started that still run (tests).
  static int RunningPrograms();
  static void ResetForTest();
};

// KEYSTATE's keys other than Shift, Ctrl and Alt: the frame reports every key
// press and release while a window of ours has focus, and forgets them all
// when it loses it.  Keys are Windows virtual-key numbers, as scripts write
// them ("A" is 65, F1 112, Enter 13).
class SCRIPTKEYSTATE {
 public:
  // The virtual key of a Qt key (Qt::Key), 0 when it has none.
  static int32_t VirtualKey(int qtKey);
  static void Press(int qtKey);
  static void Release(int qtKey);
  static void Clear();
  static bool IsDown(int32_t vk);
  // Shift, Ctrl and Alt in any of their forms (16-18, 160-165).
  static bool IsModifier(int32_t vk);
};
