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
class VARCACHE;

struct SCRIPTVALUE {
  bool fNum = true;
  int32_t num = 0;

  static SCRIPTVALUE Number(int32_t n) {
    SCRIPTVALUE v;
    v.num = n;
    v.textValid_ = false;
    return v;
  }
  static SCRIPTVALUE String(std::string s) {
    SCRIPTVALUE v;
    v.fNum = false;
    v.text_ = std::move(s);
    return v;
  }
  static SCRIPTVALUE String(std::string_view s) { return String(std::string(s)); }
  static SCRIPTVALUE String(const char* s) { return String(std::string(s)); }
  static SCRIPTVALUE Truth(bool t) { return String(t ? std::string_view("T", 1) : std::string_view()); }
  // The same in place, keeping the text's storage for the next string.
  void SetNumber(int32_t n) {
    fNum = true;
    num = n;
    textValid_ = false;
  }
  void SetString(std::string_view s) {
    fNum = false;
    num = 0;
    text_.assign(s.data(), s.size());
    textValid_ = true;
  }
  void SetTruth(bool t) { SetString(t ? std::string_view("T", 1) : std::string_view()); }
  bool IsTrue() const { return fNum ? num != 0 : !text_.empty(); }
  // The value as a number: a string converted by ScriptToNumber.
  int32_t AsNumber() const;
  // The text: a string's bytes, a number's decimal text (formed when first
  // asked for; arithmetic on numbers never forms it).
  const std::string& Text() const {
    if (!textValid_) FormText();
    return text_;
  }
  // Appends b's text to a string value, cut at `limit` bytes on a whole character.
  void Append(const SCRIPTVALUE& b, size_t limit);

 private:
  void FormText() const;
  mutable std::string text_;
  mutable bool textValid_ = true;  // a default value is the number 0 with an empty text
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
  VARCACHE* vars = nullptr;            // where the program's variables were last found (optional)
  std::function<std::string()> directory;  // base of relative paths in functions; empty: the process's
  std::function<bool(int32_t)> keyDown;    // KEYSTATE: whether the virtual key is held down
  std::function<bool()> active;            // STATE("active"): the main window is in front
};

class EVALUATOR {
 public:
  static constexpr int MAX_DEPTH = 64;

  EVALUATOR(const EVALCONTEXT& ctx, size_t pos);

  // Evaluates the expression at the position; stops before a comma, a
  // closing bracket, the end of the statement or a statement keyword.  false
  // after an error (errorId, and errorKeyword for a function's own message;
  // `out` then holds nothing of use).
  bool GetValue(SCRIPTVALUE& out);
  // Reads the subscripts after a variable's name and forms the stored name
  // (message 99 when a subscript fails).
  bool GetDim(std::string_view written, std::string& name);

  size_t Position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  // The atom at the position (0 at the end of the code).
  uint8_t Peek() const { return pos_ < size_ ? code_[pos_] : 0; }

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

  bool Variable(SCRIPTVALUE& v, int depth);

  const EVALCONTEXT& ctx_;
  const uint8_t* code_;  // the program's atoms
  size_t size_;
  size_t pos_;
};

// a op b for the arithmetic atoms, or false with the error message's number.
bool ApplyOperator(uint8_t op, SCRIPTVALUE& acc, const SCRIPTVALUE& b, int& errorId);
