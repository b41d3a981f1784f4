// Script values and the expression evaluator.
//
// A value is a signed 32-bit number or a string of at most 1024 bytes; truth
// is "T" or "".  The evaluator walks the expression atoms of a compiled
// program from a position:
//
//   expression := term {(AND | OR) term}          left to right, no short cut
//   term       := [NOT] sum [comparison sum]
//   sum        := ["-"] operand {op ["-"] operand}  + - * / %, left to right
//   operand    := NUMBER | STRING | VARIABLE {"[" expression "]"}
//               | keyword value | function expression {"," expression} ")"
//               | "(" expression ")"
//
// Arithmetic never traps: + - * and negation wrap in 32 bits, x / 0 is
// 32767, x % 0 is 0, INT_MIN / -1 is INT_MIN and INT_MIN % -1 is 0.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class NEWSCRIPT;

struct SCRIPTVALUE {
  bool fNum = true;
  int32_t num = 0;
  std::string text;  // for a number, its decimal text

  static SCRIPTVALUE Number(int32_t n) { return {true, n, std::to_string(n)}; }
  static SCRIPTVALUE String(std::string s) { return {false, 0, std::move(s)}; }
  static SCRIPTVALUE Truth(bool t) { return String(t ? "T" : ""); }
  bool IsTrue() const { return fNum ? num != 0 : !text.empty(); }
  // The value as a number: a string converted by ScriptToNumber.
  int32_t AsNumber() const;
};

// A string as a number: skip to the first ASCII or full-width digit, each
// ASCII "-" passed on the way flipping the sign, then read ASCII or
// full-width digits (wrapping in 32 bits); no digit gives 0.
int32_t ScriptToNumber(std::string_view s);
// The first n bytes of s, ending on a whole character.
std::string_view CutSjis(std::string_view s, size_t n);

// What an expression may ask of the running program.
struct EVALCONTEXT {
  const NEWSCRIPT* program = nullptr;
  int level = 1;           // the nesting level, for "#" names
  int32_t result = 0;      // RESULT of the level
  std::function<int32_t()> lineCount;  // LINECOUNT
  std::function<int32_t()> baudRate;   // BAUDRATE
};

class EVALUATOR {
 public:
  static constexpr int MAX_DEPTH = 64;

  EVALUATOR(const EVALCONTEXT& ctx, size_t pos) : ctx_(ctx), pos_(pos) {}

  // Evaluates the expression at the position; stops before a comma, a
  // closing bracket, the end of the statement or a statement keyword.  false
  // after an error (errorId, and errorKeyword for a function's own message).
  bool GetValue(SCRIPTVALUE& out);
  // Reads the subscripts after a variable's name and forms the stored name
  // (message 99 when a subscript fails).
  bool GetDim(std::string_view written, std::string& name);

  size_t Position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  // The atom at the position (0 at the end of the code).
  uint8_t Peek() const;

  int errorId = 0;
  // For a function's parameter error or a function not built yet: its name.
  std::string errorKeyword;

 private:
  bool Expression(SCRIPTVALUE& v, int depth);
  bool Term(SCRIPTVALUE& v, int depth);
  bool Sum(SCRIPTVALUE& v, int depth, bool negateFirst);
  bool Operand(SCRIPTVALUE& v, int depth);
  bool Function(uint8_t a, SCRIPTVALUE& v, int depth);
  bool Fail(int id) {
    if (!errorId) errorId = id;
    return false;
  }

  const EVALCONTEXT& ctx_;
  size_t pos_;
};

// a op b for the arithmetic atoms, or false with the error message's number.
bool ApplyOperator(uint8_t op, SCRIPTVALUE& acc, const SCRIPTVALUE& b, int& errorId);
