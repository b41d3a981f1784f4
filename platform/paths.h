// Where the program keeps its files.
//
// The configuration directory holds the settings file and its mirror; the data
// directory is the program's own directory (stock files, logs, downloads,
// scripts, "Debug.log").  Both follow the XDG base directories unless the
// command line sets them (--config-dir, --data-dir).  Paths are UTF-8 and have
// no trailing slash (except "/" itself).
#pragma once

#include <string>

// $XDG_CONFIG_HOME/quillnet, else ~/.config/quillnet, unless overridden.
std::string ConfigDir();
// $XDG_DATA_HOME/quillnet, else ~/.local/share/quillnet, unless overridden.
std::string DataDir();
// Overrides; an empty path returns to the XDG default.
void SetConfigDir(const std::string& dir);
void SetDataDir(const std::string& dir);
// Forgets both overrides (tests).
void ResetDirsForTest();

// Creates a directory and its missing parents (mode 0700 for new ones).
// True when it exists afterwards.
bool MakeDirs(const std::string& dir);
// The directory part of a path: "/a/b" -> "/a", "/a" -> "/", "a" -> ".".
std::string DirName(const std::string& path);
