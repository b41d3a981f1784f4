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
#include <string>
#include <vector>

#include "platform/tick.h"

struct SCRIPTPOS;
struct SCRIPTVALUE;

class SCRIPTARGS {
 public:
  // skipKeyword: the position is on the keyword's atom and moves past it
  // (a keyword with a payload of its own is read first and passes false).
  explicit SCRIPTARGS(uint8_t keyword, bool skipKeyword = true);

  // The running level.
  static SCRIPTPOS& Level();
  uint8_t Keyword() const { return keyword_; }

  // The atom at the position, and whether the statement ends there.
  uint8_t Peek() const;
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
  // "," / "=" / the statement's end.
  bool Comma();
  bool Equals();
  bool End() const;

  // The interpreter's reports (the running statement's keyword as command).
  static void RuntimeError(int id);
  static void ParameterError(uint8_t keyword);
  static void ExpressionError(int id, const std::string& keyword);

  // The interpreter's clock, and the watchdog counted again from now (after a
  // statement that waited for the user or the line).
  static TICK Now();
  static void RestartWatchdog();
  // While a statement runs an event loop of its own the level counts as
  // sleeping; Sleeping(true) returns the previous state for Sleeping(old).
  static bool Sleeping(bool on);
  // Where a relative script name is looked for.
  static std::vector<std::string> ScriptDirs();
  // Pushes a level as Execute would (message 40 past the limit).
  static bool Push(SCRIPTPOS level);
  // Assigns a text (message 100 when the store is full).
  static bool SetText(const std::string& name, const std::string& value);
  // The running level's RESULT.
  static void SetResult(int32_t r);
  // The statement cannot run yet ("<KEYWORD> " and message NOT_YET); false.
  bool NotAvailable() const;

 private:
  uint8_t keyword_;
};
