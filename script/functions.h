// The script language's built-in functions.
//
// The evaluator reads a call's arguments (ArgumentCount of them, separated by
// commas) and hands them to CallFunction.  Texts are Shift_JIS of at most
// 1024 bytes; searches never start a match on the second byte of a
// double-byte character; PART counts bytes and may split one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct SCRIPTVALUE;
struct EVALCONTEXT;

namespace scriptfn {

// How many arguments the function atom takes (PART 3, the searches 2, the
// others 1).
int ArgumentCount(uint8_t atom);

// Runs the function on its arguments.  false when an argument is out of the
// function's domain (STATE with an unknown name): the caller reports the
// function's parameter error.
bool CallFunction(uint8_t atom, const SCRIPTVALUE* args, const EVALCONTEXT& ctx, SCRIPTVALUE& out);

// The text functions, usable on their own.
//
// `length` bytes of s from byte offset `start` (a negative start counts as
// 0, a negative length as 0).
std::string_view Part(std::string_view s, int32_t start, int32_t length);
// The byte offset of the first / last occurrence of t that starts on a
// character start of s; npos when none (an empty t never matches).
size_t FindFirst(std::string_view s, std::string_view t);
size_t FindLast(std::string_view s, std::string_view t);
// Full-width ASCII-range characters to single bytes and back, ASCII case.
std::string ToHankaku(std::string_view s);
std::string ToZenkaku(std::string_view s);
std::string ToUpper(std::string_view s);
std::string ToLower(std::string_view s);
// The 95 double-byte characters for the codes 0x20-0x7E, two bytes each.
extern const char kZenkakuTable[95 * 2 + 1];

// Files named as scripts name them (Shift_JIS, "\" or "/" separating, a
// drive letter dropped), relative to `dir` (empty: the process's current
// directory); "*" and "?" in the last part match without regard to ASCII
// case.  The size of the first matching regular file, or -1 when none
// matches or the name cannot be a file name.
int64_t FirstMatchSize(std::string_view sjisPath, const std::string& dir);

// Wildcard match of a Shift_JIS name against a pattern: "*" any run of
// characters, "?" one character (a double-byte one whole), ASCII case
// ignored.
bool WildMatch(std::string_view pattern, std::string_view name);
// Whether a Shift_JIS text holds "*" or "?" (never a trail byte).
bool HasWildcard(std::string_view s);

}  // namespace scriptfn
