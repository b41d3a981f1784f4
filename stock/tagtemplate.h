// Title templates: how a tree title (or a message number, date or parent) is
// cut out of the received lines, in a compiled byte form and a text form.
//
// Compiled form: a sequence of elements, each an element byte and its
// operands, closed by the end element 14.  Numbers are one signed byte
// (-127..127, -128 = NIF); a text is a length byte and that many bytes; T is
// a nested template ending with its own 14.
//
//   2  len text                  literal text
//   3  d                         match group d (1-9) of the rule's pattern
//   4  c n                       line piece: column c of line n, to its end
//   5  c n len                   line piece of at most len bytes
//   6  len re                    search the rule's lines, mode 3 (the match)
//   7  len re m                  the same with mode m
//   8  len re m max              the same, cut to max bytes
//   9  T len text flag           search T's result for a fixed text
//  10  T len re flag             search T's result for a regular expression
//  11  c n len len text flag     search a line piece for a fixed text
//  12  c n len len re flag       search a line piece for a regular expression
//  13  T a b                     the piece of T's result from a, b bytes long
//  14                            end
//  below 2                       end as well (an empty field is all zero)
//
// Text form (Shift_JIS bytes; a backslash escapes the next character):
//   \1 .. \9                     3
//   \(c,n)  \(c,n,len)           4, 5
//   \("re")  \("re",m)  \("re",m,max)        6, 7, 8
//   \s(c,n,len,"t",flag)  \s(T,"t",flag)     11, 9
//   \r(c,n,len,"re",flag) \r(T,"re",flag)    12, 10
//   \p(T,a,b)                    13
//   \-                           14 (the end of the title)
//   anything else                literal text (2)
// Numbers are decimal from -127 to 127, or NIF (-128).  In a quoted text
// \" is a double quote and \v the input-column mark (byte 0x0B); any other
// backslash stays with the character after it.  Inside a nested T an
// unescaped "," ends it.  The text is walked by Shift_JIS characters, so a
// trail byte 0x5C is never an escape.
#pragma once

#include <cstdint>
#include <string>

enum TITLEELEMENT : unsigned char {
  TITLE_LITERAL = 2,
  TITLE_GROUP = 3,
  TITLE_PIECE = 4,
  TITLE_PIECE_LENGTH = 5,
  TITLE_SEARCH = 6,
  TITLE_SEARCH_MODE = 7,
  TITLE_SEARCH_MAX = 8,
  TITLE_RESULT_TEXT = 9,
  TITLE_RESULT_REGEX = 10,
  TITLE_LINE_TEXT = 11,
  TITLE_LINE_REGEX = 12,
  TITLE_NESTED_PIECE = 13,
  TITLE_END = 14,
};

// The number that stands for "the menu line the user's input chose".
constexpr int TITLE_NIF = -128;
// Length of a line piece written without one.
constexpr int TITLE_DEFAULT_LENGTH = 250;
// Flag bits of elements 9 to 12 (bits 0 and 1 are the copy mode 0-3).
enum : unsigned char {
  TITLE_FLAG_MODE = 0x03,
  TITLE_FLAG_LAST = 0x08,        // take the last occurrence
  TITLE_FLAG_IGNORE_CASE = 0x10, // fixed text: ASCII letters in either case
  TITLE_FLAG_WHOLE_IF_NONE = 0x20,  // nothing found: copy the whole result
};
// Nesting depth the compiler accepts (and a runner needs to follow).
constexpr int TITLE_MAX_DEPTH = 8;

// Result of compiling a template text.
enum TITLECOMPILE {
  TITLE_COMPILED = 0,
  TITLE_SYNTAX_ERROR = 1,  // the text is not a template
  TITLE_TOO_LONG = 2,      // the compiled form does not fit the room
};

// Compiles a template text into `out` (room bytes; the rest of the room is
// zeroed).  An empty text compiles to nothing (all zero).  *used gets the
// bytes written, *error a short UTF-8 reason on failure.
TITLECOMPILE CompileTitleTemplate(const std::string& text, unsigned char* out, int room, int* used = nullptr,
                                  std::string* error = nullptr);
// The compiled length of a text (elements and the closing 14), -1 when it
// does not compile.  No room limit.
int CompiledTitleLength(const std::string& text);
// The text form of compiled bytes (read up to the first end element, at most
// room bytes).  False when the bytes are not a well-formed template; *text
// then holds what could be read.  A template whose text compiles back to
// other bytes is reported by DecompilesExactly.
bool DecompileTitleTemplate(const unsigned char* bytes, int room, std::string* text);
// Whether `room` bytes are exactly what their text form compiles to (the
// rest of the room zero).
bool DecompilesExactly(const unsigned char* bytes, int room);
// The largest line offset the template reads (byte 353 of a rule): 0..127;
// -1 when it searches (elements 6-8, 11, 12) or reads a negative offset
// (NIF included); -2 when an unknown element is met.
int TitleLineReach(const unsigned char* bytes, int room);
// The length of one element with its operands starting at bytes[0] (nested
// templates included), 0 when it does not fit in room or is unknown.  The
// end element is 1 byte long.
int TitleElementLength(const unsigned char* bytes, int room);
