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

class WAITER;

// A compiled program shared by the levels that run the same file, with the
// code offsets of its LINENO atoms for finding a position's line.
struct SCRIPTPROGRAM {
  NEWSCRIPT code;
  std::vector<uint32_t> linenoOffsets;
  std::vector<uint16_t> linenoNumbers;
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
  std::function<void(const SCRIPTERROR&)> reportError;     // the error dialog; default: an error box
  std::function<bool(const std::string& question)> askYes; // default: the facade's question (default Yes)
  std::function<void(const std::string& utf8)> debugInfo;  // DEBUGINFO; default: the debug log
  std::function<void()> queueProcess;                      // run Process again soon (after a 50 ms slice)
  std::function<void(int64_t ms)> armTimer;                // a wait or sleep is due in ms
  std::function<int32_t()> lineCount, baudRate;            // LINECOUNT, BAUDRATE
  std::function<void()> ended;                              // the last level ended
};

class SCRIPT {
 public:
  static constexpr int MAX_NEST = 20;
  static constexpr int64_t WATCHDOG_MS = 30000;
  static constexpr int64_t SLICE_MS = 50;
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

 private:
  static TICK Now() { return tickSource ? tickSource() : GetTick(); }
  static bool Push(SCRIPTPOS level);
  static bool RunStatement();
  static bool Step();
  static void EndWait(int32_t result);
  static void RuntimeError(int id);
  static void ParameterError(uint8_t keyword);
  static void ExpressionError(int id, const std::string& keyword);
  static void Report(int id, const std::string& message, const std::string& command);
  static std::string KeywordOf(const SCRIPTPOS& p);
  static std::shared_ptr<SCRIPTPROGRAM> LoadShared(const std::string& path);

  friend class SCRIPTSTATEMENTS;
  static std::vector<SCRIPTPOS> levels_;
  static bool stopAfterStatement_;
  static bool stepArmed_, stepRequested_;
  static bool inProcess_;
  static bool sliceContinues_;
  static TICK watchdogStart_;
};
