// The transfer history "TRANHIST.TXT": one line per file that went through,
// tab-separated: short name, bytes + "B", "Up"/"Down", local date and time as
// "YYYY.MM.DD(曜) HH:MM", host name, protocol name, rate + "Byte/秒", CR LF.
// The file is UTF-8 (names are paths); a line that is not valid UTF-8 is read
// as CP932 (files written by older programs).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct HISTORYLINE {
  std::string name, bytes, direction, when, host, protocol, rate;  // UTF-8 fields
};

// One line (with its CR LF) for the given values; `when` is local time.
std::string FormatHistoryLine(const std::string& shortName, long long bytes, bool upload, time_t when,
                              const std::string& host, const std::string& protocolName, long long rate);
// Appends lines to dir/TRANHIST.TXT: a 0x1A in the last three bytes is
// overwritten and CR LF added first when the file does not end with LF.
// False (and "転送履歴ファイルのオープンに失敗しました。" through the facade) when
// the file cannot be opened.
bool AppendHistory(const std::string& dir, const std::string& lines);
// Reads a history file's text into lines (fields split at tabs).
std::vector<HISTORYLINE> ParseHistory(std::string_view text);
// Rewrites dir/TRANHIST.TXT without the lines whose index is in `drop`
// (sorted); an empty `drop` with all = true removes every line.
bool DeleteHistoryLines(const std::string& dir, const std::vector<size_t>& drop, bool all);
