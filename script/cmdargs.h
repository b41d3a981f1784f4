// SCRIPTARGS: how a statement outside the interpreter's own switch reads its
// arguments, and the few parts of the interpreter such a statement needs
// (its level, its reports, the clock, the watchdog, starting a level).
//
// A statement makes one SCRIPTARGS for its keyword; the level's position is
// then just behind the keyword.  Every reader reports the keyword's parameter
// error ("<KEYWORD>のパラメタがおかしいです。") itself and returns false, so a
// handler can chain them: `if (!a.Text(s) || !a.Comma() || ...) return false;`
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/tick.h"

struct SCRIPTPOS;
struct SCRIPTVALUE;
struct EVALCONTEXT;

class SCRIPTARGS {
 public:
  // What an expression reader does with an item that cannot start an
  // expression (a comma, a bare word): EVALUATE leaves it to the evaluator's
  // report, REFUSE reports the keyword's parameter error.
  enum class BARE : uint8_t { EVALUATE, REFUSE };

  // skipKeyword: the position is on the keyword's atom and moves past it
  // (a keyword with a payload of its own is read first and passes false).
  explicit SCRIPTARGS(uint8_t keyword, bool skipKeyword = true, BARE bare = BARE::EVALUATE);

  // The running level, and the context its expressions are evaluated in.
  static SCRIPTPOS& Level();
  static const EVALCONTEXT& Context();
  uint8_t Keyword() const { return keyword_; }

  // The atom at the position, and whether the statement ends there.
  uint8_t Peek() const;
  // The text of a WORD atom at the position ("" for anything else).
  std::string PeekWord() const;
  bool AtEnd() const;
  // The parameter error of the keyword; false.
  bool Fail() const;

  // An expression (there must be one).
  bool Value(SCRIPTVALUE& v);
  bool Text(std::string& out);
  bool Number(int32_t& out);
  // A variable that receives a value: its stored name (subscripts read).
  // A numeric variable is refused unless numericToo.
  bool Variable(std::string& name, bool numericToo = false);
  // A bare word standing alone as an item (a WORD, or a keyword value such as
  // ON, OFF or BAUDRATE, followed by a comma, "=" or the statement's end):
  // its upper-case text, and the position moves past it.  False, nothing
  // moved and nothing reported, when the item is something else.
  bool Word(std::string& upper);
  // ON or OFF.
  bool OnOff(bool& on);
  // One of the words (a WORD atom, upper case): its index, else the
  // parameter error.
  bool OneOf(std::initializer_list<const char*> words, int& index);
  // "," / "=" / the statement's end.
  bool Comma();
  bool CommaIfMore();  // a comma when anything follows; true at the end
  bool Equals();
  bool End() const;

  // The interpreter's reports (the running statement's keyword as command).
  static void RuntimeError(int id);
  static void ParameterError(uint8_t keyword);
  static void ExpressionError(int id, const std::string& keyword);
  static void ReportMessage(int id, const std::string& message);
  // The same outside a statement (a program's start that failed later): the
  // running level ends.
  static void ReportAndStop(int id, const std::string& message);

  // The interpreter's clock, and the watchdog counted again from now (after a
  // statement that waited for the user or the line).
  static TICK Now();
  static void RestartWatchdog();
  // Has Process run soon.
  static void QueueProcess();
  // Puts the running level to sleep until Wake(token) (it goes on with the
  // next line), and returns the token.
  static uint64_t SleepUntilWoken();
  // Puts the running level to sleep for ms, 0: one yield (it goes on with
  // the next line).
  static void SleepFor(int64_t ms);
  // Ends such a sleep; false when the level sleeping on it is gone.
  static bool Wake(uint64_t token);
  // Whether the level sleeping on the token is the running one.
  static bool IsRunning(uint64_t token);
  // While a statement runs an event loop of its own the level counts as
  // sleeping; Sleeping(true) returns the previous state for Sleeping(old).
  static bool Sleeping(bool on);
  // Where a relative script name is looked for.
  static std::vector<std::string> ScriptDirs();
  // Pushes a level as Execute would (message 40 past the limit).
  static bool Push(SCRIPTPOS level);
  // Assign a statement's result to a variable, a text converted to a number
  // for a numeric one; false after message 100 (the store is full).
  static bool Assign(const std::string& name, const std::string& text);
  static bool AssignNumber(const std::string& name, int32_t n);
  // The running level's RESULT.
  static void SetResult(int32_t r);
  // The statement cannot run yet ("<KEYWORD> " and message NOT_YET); false.
  bool NotAvailable() const;

  // Held while a statement shows a dialog: the level counts as sleeping
  // (SCRIPT::NESTEDLOOP) and the watchdog starts afresh afterwards, so the
  // user's think-time never counts as a loop.
  class DIALOGTIME {
   public:
    DIALOGTIME();
    ~DIALOGTIME();
    DIALOGTIME(const DIALOGTIME&) = delete;
    DIALOGTIME& operator=(const DIALOGTIME&) = delete;

   private:
    struct IMPL;
    IMPL* impl_;
  };

 private:
  uint8_t keyword_;
  BARE bare_;
};
