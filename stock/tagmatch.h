// A small matcher for the patterns colour syntax files are made of, used in
// front of the regular-expression engine (platform/jre.h) where it can
// answer: whether a Shift_JIS text holds a match at all, nothing more.
//
// It takes the common subset of the engine's syntax (Ruby syntax over
// Shift_JIS, as the engine is set up): literal characters (one or two
// bytes); "."; "[...]" and "[^...]" with ASCII and two-byte characters,
// ranges between two characters of one width, and "\d"; "\d" outside
// classes; the escapes "\n" "\t" "\v" "\r" "\f" and an escaped ASCII
// punctuation mark; "^" and "$" at line feeds ("^" never at the text's
// end); groups "(...)" and "(?:...)"; "|"; and "*", "+", "?" (also lazy:
// "*?", "+?", "??") and "{m}", "{m,}", "{m,n}" after a character, class or
// group that cannot match the empty text and holds no quantifier itself.
// Compile refuses everything else, and such a pattern stays with the
// engine.
//
// Search is a backtracking run over the compiled program that counts its
// retries.  The engine gives up on a text after JreRetryLimit() retries
// (that text then does not match); the matcher stops at a quarter of that
// and answers "cannot tell" (-1), so the caller asks the engine, and an
// answer it does give is one the engine would give as well.  Loops it runs
// without backtracking entries count a retry per character all the same.
// It also says "cannot tell" where it meets bytes it does not read as the
// engine does (a lead byte without its trail byte, the bytes 0xFD-0xFF, a
// line feed right after a byte that may lead a two-byte character).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TagMatcher {
 public:
  // Compiles `length` bytes of a Shift_JIS pattern; false (and empty) when
  // the pattern lies outside the subset above.  The caller compiles it with
  // the engine as well: a pattern the engine refuses is never searched.
  bool Compile(const char* pattern, int length);
  bool Compiled() const { return !prog_.empty(); }
  // 1: the text holds a match; 0: it holds none; -1: cannot tell.
  int Search(const char* text, int length) const;

 private:
  // kRun is a loop over the one consuming instruction after it, as many
  // times as it matches, the rest of the pattern after that.
  enum Op : uint8_t { kChar, kAny, kClass, kBol, kEol, kSplit, kJmp, kMatch, kRun };
  enum RunKind : uint32_t {
    kRunGreedy,    // backtracks over every length
    kRunWhole,     // what follows cannot start with what the loop takes:
                   // only the longest run can be followed
    kRunFindTail,  // "." loop, then literal characters, then the end of the
                   // pattern: a search for them on the rest of the line
  };
  struct Inst {
    Op op;
    uint32_t x;  // kChar: the character's code; kClass: class number; kSplit/kJmp: target; kRun: RunKind
    uint32_t y;  // kSplit: the other target (tried second)
  };
  struct Class {
    bool negated = false;
    std::vector<uint32_t> ranges;  // pairs of inclusive code bounds
    uint64_t ascii[2] = {0, 0};    // the answer for codes below 0x80, negation applied
  };
  struct Node;
  friend struct TagMatchParser;
  void Emit(const Node& n);
  bool ClassHas(const Class& c, uint32_t code) const;
  bool Takes(const Inst& in, uint32_t code) const;
  void PlanRuns();
  bool CannotFollow(const Inst& body, size_t from) const;
  int MatchAt(const unsigned char* text, int length, int start, long* budget) const;

  std::vector<Inst> prog_;
  std::vector<Class> classes_;
  std::vector<std::string> tails_;  // kRunFindTail: the literal's bytes, by kRun position
  std::vector<int> tailOf_;          // index into tails_ per instruction, -1 none
  bool anchored_ = false;  // the program begins with "^"
};
