// File names across the line.
//
// A received name becomes a plain name inside the download directory: the
// last component after "/" or "\\" (a "\\" that is the second byte of a
// double-byte character does not count), Shift_JIS converted to UTF-8 (a name
// that is not Shift_JIS is kept when it is valid UTF-8, else each bad byte is
// "_"), control bytes "_"; an empty name, "." and ".." give an empty result
// (the caller takes the spare name).  A sent name is the file's base name in
// Shift_JIS, case kept; a name CP932 cannot hold is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The plain UTF-8 name for a received name; empty when none is left.
std::string ReceivedNameToFile(std::string_view wire);
// The Shift_JIS name to send for a UTF-8 path; false when the base name has a
// character CP932 cannot hold (then *out is left empty).
bool SendNameForPath(const std::string& path, std::string* out);
// The first spare name "TEMP.000" .. "TEMP.999" that exists neither as such
// nor as ".part" in dir; empty when all are taken.
std::string SpareName(const std::string& dir);
// Gives a received file the sender's modification time (seconds since 1970,
// UTC); its access time stays.  False when the file system refuses.
bool ApplyReceivedTime(const std::string& path, long long mtime);
// A ZMODEM name list: split at blanks outside double quotes (the quotes are
// dropped).
std::vector<std::string> SplitNameList(std::string_view list);
