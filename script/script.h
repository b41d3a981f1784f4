// SCRIPT: the interpreter.  It runs compiled programs statement by statement
// on the user-interface thread and never blocks it.
//
// Up to 20 nesting levels (SCRIPTPOS); the top one runs.  A statement that
// waits for the host installs a wait on its level and returns; the receive
// dispatcher feeds every received byte to Receive, which reports whether the
// byte ended a wait, and calls Process at the start of every pass, which goes
// on with the statements after it.
//
//   idle --Execute--> running --WAIT/GETLINE/GETCHAR--> waiting --match (Receive)
//                      |  ^                                 |      or time-out (Process)--> running
//                      |  +--------- SLEEP ends ------ sleeping
//                      +--PAUSE / PauseOrResume--> paused --PauseOrResume--> running
//   running --EXIT / RETURN at the top / end of code / error / Stop--> the level ends:
//                      the level below goes on, or idle
//
// Every clock is SCRIPT::tickSource; everything the interpreter asks of the
// rest of the program goes through SCRIPT::hooks, so tests run it over a
// scripted peer on fake time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "script/newscript.h"
#include "script/var.h"

struct EVALCONTEXT;

class WAITER;

// A compiled program shared by the levels that run the same file, with the
// code offsets of its LINENO atoms for finding a position's line.
struct SCRIPTPROGRAM {
  NEWSCRIPT code;
  std::vector<uint32_t> linenoOffsets;
  std::vector<uint16_t> linenoNumbers;
  VARCACHE vars;  // where its statements last found their variables
  void IndexLines();
  // The source line of the statement at a code offset.
  int LineAt(size_t offset) const;
};

// One nesting level.
struct SCRIPTPOS {
  std::string file;   // resolved path, or "@memory"
  std::string label;  // label it was started at
  std::shared_ptr<SCRIPTPROGRAM> program;
  size_t pos = 0;        // current code position
  size_t stmtStart = 0;  // where the current statement began
  int line = 1;
  bool called = false;   // entered by CALL: its end ends the caller too

  // Waiting: a matcher, or a character capture (GETCHAR).
  std::unique_ptr<WAITER> waiter;
  bool waiting = false;
  bool captureChar = false;
  TICK quietArmed = 0;  // the matcher's quiet due a timer was last asked for (0: none)
  TICK waitStart = 0;
  int64_t waitMs = 0;  // 0: no time-out
  // Capture (GETLINE, GETCHAR): the target and what was received.
  bool capture = false;
  bool captureLine = false;
  std::string captureName;
  std::string captureBuf;
  // Sleeping: until sleepUntil, or one yield.
  bool sleeping = false;
  bool yieldOnce = false;
  TICK sleepUntil = 0;

  int64_t timeoutMs = 0;  // TIMEOUT / MILLITIMEOUT: 0 waits forever
  int32_t result = 0;     // RESULT

  // A SWITCH or LOOPSWITCH waiting: each CASE's body and how many strings
  // it listed (CASE TIMEOUT: none, timeoutCase), and the statement after the
  // closer (where a time-out without CASE TIMEOUT goes on).
  struct SWITCHCASE {
    size_t body = 0;
    int strings = 0;
    bool timeoutCase = false;
  };
  bool switchWait = false;
  std::vector<SWITCHCASE> switchCases;
  size_t switchAfter = 0;
};

// An error report: compile errors carry the source from the error on as the
// command, runtime errors the statement's keyword.
struct SCRIPTERROR {
  std::string file;
  int line = 0;
  int id = 0;
  std::string message;  // UTF-8
  std::string command;  // UTF-8
};

struct SCRIPTHOOKS {
  std::function<void(const std::string& sjis)> send;        // SEND
  std::function<void(const std::string& sjis)> sentToAddins;  // SEND: told to the add-ins first
  std::function<void(const SCRIPTERROR&)> reportError;     // the error dialog; default: an error box
  std::function<bool(const std::string& question)> askYes; // default: the facade's question (default Yes)
  std::function<void(const std::string& utf8)> debugInfo;  // DEBUGINFO; default: the debug log
  std::function<void()> queueProcess;                      // run Process again soon (after a 50 ms slice)
  std::function<void(int64_t ms)> armTimer;                // a wait or sleep is due in ms
  std::function<int32_t()> lineCount, baudRate;            // LINECOUNT, BAUDRATE
  std::function<void()> ended;                              // the last level ended
  std::function<bool(int32_t vk)> keyDown;                  // KEYSTATE; default: every key up
  std::function<bool()> active;                             // STATE("active"); default: not in front
  std::function<std::string()> directory;                   // base of relative paths; default: the process's
};

class SCRIPT {
 public:
  static constexpr int MAX_NEST = 20;
  static constexpr int64_t WATCHDOG_MS = 30000;
  static constexpr int64_t SLICE_MS = 50;
  static constexpr unsigned CLOCK_EVERY = 16;
  static constexpr size_t CAPTURE_SIZE = 1024;

  // Starts a script file (UTF-8 name, found in dirs as CALL finds it; empty
  // dirs: the start directory, then ScriptPath), optionally at a label.
  static bool Execute(const std::string& file, const std::string& label = {}, bool silent = false);
  static bool ExecuteFromMemory(const std::string& text);
  static void Process();
  // Feeds one received byte (0: an idle tick) to the running level's wait;
  // true when it ended the wait (Process then goes on with the statements).
  static bool Receive(char c);
  static void Stop();
  static void StopAll();
  static void PauseOrResume();
  // Asks for one statement and a pause after it.
  static void SingleStep();
  static void SyntaxError(const NEWSCRIPT::DIAGNOSTIC& d);
  // Starts the editor (EXECEDITOR, and add-ins): on a file (UTF-8 path; a
  // missing one is made empty) at a line and column (0: not given), with
  // text (Shift_JIS) to paste, which is put on the clipboard for the user.
  // True when the editor was started.
  static bool ExecEditor(const std::string& file, const std::string& text, int line, int column);
  // Reloads the 48 function-key entries from the settings and repaints the
  // button row (script/funckey).
  static void ResetKeyAssign();

  static bool fExecuting;
  static bool fPause;
  static bool fDebugInfo;
  static bool fKeyboardOn;
  static bool fHideDisplay;
  static int cNest() { return static_cast<int>(levels_.size()); }
  static const SCRIPTPOS* Current() { return levels_.empty() ? nullptr : &levels_.back(); }
  // Milliseconds until the running level's wait or sleep is due, if it has a
  // due time: its time-out, its sleep's end, or the end of a quiet time its
  // matcher is in.
  static std::optional<int64_t> DueIn();
  // Process stopped at the end of a time slice with statements still to run
  // (it goes on from the queued call; received bytes wait until then).
  static bool SliceCut() { return sliceContinues_; }

  static SCRIPTHOOKS hooks;
  static std::function<TICK()> tickSource;
  // Directories a relative script name is looked for in (empty: the start
  // directory, then ScriptPath).
  static std::vector<std::string> searchDirs;

  static void Reset();

  // Held by a statement (or the interpreter) while it runs an event loop of
  // its own: a dialog, dialling, a program it waits for, a transfer.  Until
  // the statement returns, a start asked for meanwhile (a host's script at a
  // dial, a function key, an add-in) is queued, one at a time (a second gets
  // message 40), and Stop / StopAll are held; they take effect when the
  // statement returns, the stops first.  A StopAll drops a start queued
  // before it.  Meanwhile Process runs no statements and Receive matches
  // nothing.
  class NESTEDLOOP {
   public:
    NESTEDLOOP() { ++loopDepth_; }
    ~NESTEDLOOP() {
      if (--loopDepth_ == 0) Ended();
    }
    NESTEDLOOP(const NESTEDLOOP&) = delete;
    NESTEDLOOP& operator=(const NESTEDLOOP&) = delete;

   private:
    // Outside a statement, an Execute and Process, the held requests run here.
    static void Ended();
  };
  // Whether such a loop is running now.
  static bool InNestedLoop() { return loopDepth_ > 0; }
  // Whether a start is queued.
  static bool StartQueued() { return queued_.has_value(); }

  // Runs the script an AFTERHANGUP registered, once (the registration is
  // used up); called after the line was hung up.  True when it started.
  // (script/linecmds holds the registration.)
  static bool ExecuteHangupScript();

 private:
  static TICK Now() { return tickSource ? tickSource() : GetTick(); }
  static bool Push(SCRIPTPOS level);
  static bool RunStatement();
  static bool Step();
  static void EndWait(int32_t result);
  static void ArmQuietTimer(SCRIPTPOS& l);
  static void RuntimeError(int id);
  static void ParameterError(uint8_t keyword);
  static void ExpressionError(int id, const std::string& keyword);
  static void Report(int id, const std::string& message, const std::string& command);
  static std::string KeywordOf(const SCRIPTPOS& p);
  static std::shared_ptr<SCRIPTPROGRAM> LoadShared(const std::string& path);
  static bool ExecuteNow(const std::string& file, const std::string& label, bool silent);
  static bool ExecuteFromMemoryNow(const std::string& text);
  static void StopNow();
  // A start or stop that arrived during a nested loop.
  static bool Queue(bool fromMemory, const std::string& fileOrText, const std::string& label, bool silent);
  // Carries out the held stops and the queued start, when no statement and
  // no nested loop is under way.
  static void RunQueued();
  static bool AnythingHeld() { return queued_ || heldStops_ > 0 || heldStopAll_; }

  friend class SCRIPTSTATEMENTS;
  friend class SCRIPTFILE;
  friend class SCRIPTARGS;
  // The running level's view for the evaluator, shared by every statement
  // that reads an expression.
  static const EVALCONTEXT& EvalContext();
  static std::vector<SCRIPTPOS> levels_;
  static bool stopAfterStatement_;
  static bool stepArmed_, stepRequested_;
  static bool inProcess_;
  static bool sliceContinues_;
  static TICK watchdogStart_;

  struct QUEUEDSTART {
    bool fromMemory = false;
    std::string fileOrText, label;
    bool silent = false;
  };
  static int loopDepth_;
  static bool inStatement_;
  static std::optional<QUEUEDSTART> queued_;
  static int heldStops_;
  static bool heldStopAll_;
};
