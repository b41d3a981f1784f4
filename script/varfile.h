// The variable file "Variable.txt": the permanent variables ("%" names)
// kept between runs.
//
// One line per variable, NAME=VALUE and CR LF, the name without its leading
// "%".  A name whose first character (the variable's second) is "%" holds a
// secret: every byte of the value becomes two printable characters with
// random bits in them, so the same value is stored differently each time.
// Other values are escaped: 1-26 as "^A".."^Z", other control bytes and a
// lead byte without its trail byte as "^0XX" (upper-case hexadecimal), "^"
// as "^^"; a double-byte character stays whole.  Names are escaped the same
// way, with "=" as "^03D", so that the first "=" ends the name.
//
// Several running instances share the file: a save takes the lock file
// beside it, reads the file again, changes only the lines of the variables
// this instance changed, and replaces the file atomically (mode 0600).  Lines
// the reader cannot use are kept as they are by a save and skipped by a load.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varfile {

constexpr size_t MAX_VALUE = 1024;

std::string EscapeText(std::string_view bytes);

// The one decoder of "^" escapes (the variable file's values, the values
// typed in the variable dialogs, function-key texts): "^" and a letter
// (either case) its control code, "^0" and two hexadecimal digits that byte,
// "^" before any other character that character; a double-byte character
// stays whole, and a "^" at the very end stands for itself.  Stops after
// `limit` bytes (never halving a double-byte character).  With info: whether
// an escape was met, and whether the first one was ^M and where its CR is.
struct CARETS {
  bool escaped = false;
  bool crFirst = false;
  size_t crAt = 0;
};
std::string DecodeCarets(std::string_view text, size_t limit, CARETS* info = nullptr);
inline std::string UnescapeText(std::string_view text, size_t limit = MAX_VALUE) { return DecodeCarets(text, limit); }

// The secret form.  No character of it is 0x7F or a control byte.
std::string EncodeSecret(std::string_view bytes, std::mt19937& random);
std::string DecodeSecret(std::string_view text, size_t limit = MAX_VALUE);

// Whether a stored name (without the leading "%") holds a secret.
inline bool IsSecretName(std::string_view stored) { return !stored.empty() && stored[0] == '%'; }

// One line of the file.  name is the stored name (without "%"), unescaped;
// empty for a line that could not be read (raw keeps it).
struct LINE {
  std::string raw;    // the line without its line end
  std::string name;   // stored name
  std::string value;  // decoded value
  bool good = false;
};

struct REPORT {
  int badLines = 0;
  int firstBadLine = 0;  // 1-based
};

// Every line of a file (CR LF, LF or a last line without an end).  A line is
// bad when it has no "=", an empty name, a name of a numeric variable
// ("#" or "@" first), or an empty value.
std::vector<LINE> Parse(std::string_view text, REPORT* report = nullptr);
// The line of one variable (without the line end).
std::string FormatLine(std::string_view storedName, std::string_view value, std::mt19937& random);

// A change for Apply: a stored name and its new value (nothing: delete).
using CHANGE = std::pair<std::string, std::optional<std::string>>;

// Applies the changes to the file at path under its lock (path + ".lock"):
// a changed variable's line is replaced where it was (its later duplicates
// removed), a new one appended, a deleted one removed; every other line
// stays byte for byte.  False with *error when the file could not be read
// or written (the file is then as it was).
bool Apply(const std::string& path, const std::vector<CHANGE>& changes, std::string* error = nullptr);

// Reads the file (a missing one is empty); the good lines, the first of a
// name winning.  False with *error when it exists but cannot be read.
bool Load(const std::string& path, std::vector<std::pair<std::string, std::string>>& out, REPORT* report = nullptr,
          std::string* error = nullptr);

// DataDir() + "/Variable.txt".
std::string DefaultPath();

}  // namespace varfile
