// The regular-expression layer: compiled patterns over Shift_JIS bytes.
//
// Oniguruma does the work, with its Shift_JIS encoding and the Ruby syntax
// ("^" and "$" match at line feeds inside the text, "." does not cross
// them, "\v" is the byte 0x0B).  Its header stays inside jre.cpp: it defines
// a `struct re_registers` of its own that clashes with glibc's <regex.h>.
//
// One JRE2 record per compiled pattern:
//   JRE2 r;            Jre2Open(&r);     (sets dwSize)
//   Jre2Compile(&r, pattern)             false: dwSize is 0, nError and
//                                        GetJreMessage(&r) say why
//   r.nStart = 0;  Jre2GetMatchInfo(&r, text, length)
//                                        true: nPosition, nLength and the
//                                        groups hold the first match at or
//                                        after nStart
//   Jre2Close(&r);                       frees the pattern (also after a
//                                        failed compile; a second call is
//                                        harmless)
// A record owns its pattern: it is not copied (copying is deleted), other
// holders keep a pointer to it.
//
// Every match is bounded by a retry limit (about a millisecond of work on
// this machine), so no pattern can hang the program: a text over the limit
// does not match and nError is JRE_ERROR_RETRY_LIMIT.
#pragma once

#include <cstdint>
#include <string>

// Error numbers left in JRE2::nError.
enum : int32_t {
  JRE_ERROR_NONE = 0,
  JRE_ERROR_NOT_OPEN = 1,      // the record was not opened or its compile failed
  JRE_ERROR_SYNTAX = 2,        // the pattern could not be compiled (see szError)
  JRE_ERROR_RETRY_LIMIT = 3,   // a match took more steps than the limit allows
  JRE_ERROR_UNUSABLE = 4,      // the engine is switched off (JreSetUsable)
  JRE_ERROR_ENGINE = 5,        // any other failure the engine reported
};

// Maximum number of groups reported (group 0 is the whole match).
constexpr int JRE_GROUPS = 10;

struct JRE2 {
  uint32_t dwSize = 0;       // 54 once opened and compiled; 0 closed or failed
  int32_t nStart = 0;        // input: the byte offset where the search begins
  int32_t nError = 0;        // output: JRE_ERROR_* of the last call
  int32_t nLength = 0;       // output: match length in bytes
  int32_t nPosition = 0;     // output: match position (byte offset in the text)
  uint16_t wTranslate = 0;   // input before Jre2Compile: 1 fuzzy, 0 regular expression
  int32_t nGroups = 0;       // output: groups reported, group 0 included
  int32_t aGroupPosition[JRE_GROUPS] = {};  // -1 when a group took no part
  int32_t aGroupLength[JRE_GROUPS] = {};
  std::string szError;       // UTF-8 text of the last compile error
  void* regex = nullptr;     // the engine's compiled pattern (owned)
  void* region = nullptr;    // the engine's match region (owned)

  JRE2() = default;
  JRE2(const JRE2&) = delete;
  JRE2& operator=(const JRE2&) = delete;
  JRE2(JRE2&& other) noexcept;
  JRE2& operator=(JRE2&& other) noexcept;
  ~JRE2();
};

// The size the record's first field holds once it is usable.
constexpr uint32_t JRE2_RECORD_SIZE = 54;

// Prepares a record (any previous pattern is closed).  False when the
// engine is switched off.
bool Jre2Open(JRE2* jre);
// Compiles a NUL-terminated Shift_JIS pattern, or `length` bytes of one.
bool Jre2Compile(JRE2* jre, const char* pattern);
bool Jre2Compile(JRE2* jre, const char* pattern, int length);
// Finds the first match at or after jre->nStart in `length` bytes of text
// (the text need not end with a NUL; a NUL inside it is an ordinary byte).
// Returns 1 on a match, 0 otherwise (nError tells a plain miss, 0, from a
// failure).
int Jre2GetMatchInfo(JRE2* jre, const char* text, int length);
// The same on a NUL-terminated text.
int Jre2GetMatchInfo(JRE2* jre, const char* text);
void Jre2Close(JRE2* jre);
// The engine's name and version, for the About box ("Oniguruma 6.9.8").
std::string JreGetVersion();
// The text of the record's last error (UTF-8; empty when none).
std::string GetJreMessage(const JRE2* jre);

// Whether the engine can be used.  Oniguruma is linked, so it always can;
// tests switch it off to see what the program does without one (Jre2Open
// then fails).
bool JreUsable();
void JreSetUsable(bool usable);
// The retry limit per match (steps of the engine's backtracking); tests
// lower it.  JreSetRetryLimit(0) restores the default.
void JreSetRetryLimit(unsigned long limit);
unsigned long JreRetryLimit();
