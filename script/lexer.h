// The script lexer: tokens of one source line (Shift_JIS, already upper-cased
// outside its strings by UpperCaseLine).
//
// It never reads past the line's end: a lead byte or a caret in the last
// byte stands alone, and a NUL ends the line as ";" does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct SCRIPTTOKEN {
  enum KIND { END, CONTINUE, NUMBER, WORD, VARIABLE, STRING, OP } kind = END;
  size_t start = 0;      // offset of the token in the line
  int32_t number = 0;    // NUMBER (digits wrap in 32 bits)
  std::string text;      // WORD, VARIABLE, STRING (escapes decoded), OP (its characters)
  uint8_t op = 0;        // OP: its atom, 0 for a character that is no operator
  bool tooLong = false;  // STRING over 1024 bytes
};

class SCRIPTLEXER {
 public:
  static constexpr size_t MAX_LITERAL = 1024;

  explicit SCRIPTLEXER(std::string_view line = {});
  SCRIPTTOKEN Next();
  // The byte at the current position, or 0 at the end.
  unsigned char Peek() const { return pos_ < line_.size() ? static_cast<unsigned char>(line_[pos_]) : 0; }
  void Skip() { if (pos_ < line_.size()) ++pos_; }
  size_t Position() const { return pos_; }
  std::string_view Line() const { return line_; }
  // The raw target of CALL and AFTERHANGUP: after blanks, a quoted text up to
  // its closing quote, or the bytes up to a blank, comma, quote or ";".
  std::string Raw();

 private:
  void SkipBlanks();
  bool IsFullWidthSpace(size_t p) const;
  // Appends the character at pos_ (a double-byte one whole) and steps over it.
  void TakeChar(std::string& out);

  std::string_view line_;
  size_t pos_ = 0;
};

// Upper-cases the ASCII letters of a source line outside double-quoted
// strings (inside one, a caret protects the next character); double-byte
// characters are kept whole.
void UpperCaseLine(std::string& line);
void UpperCaseLine(char* line, size_t size);
