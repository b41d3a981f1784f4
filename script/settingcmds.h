// SCRIPTSETTINGCMDS: profile (INI) files, the settings store and the DDE
// statements.
//
//   GETINI file, section, key, var        the value ("" when absent), at most 1024 bytes
//   PUTINI file, section, key, value      the line replaced or added; every other byte kept
//   CREATEREG / OPENREG / DELETEREG root, key     root: CLASSESROOT CURRENTUSER LOCALMACHINE USERS
//   CLOSEREG
//   WRITEREGSTR / WRITEREGINT name, value  /  GETREG name, var
//   DDEINITIATE, DDETERMINATE, DDEEXECUTE, DDEREQUEST, DDEPOKE,
//   DDESTARTADVICE, DDESTOPADVICE, DDEWAITADVICE
//
// A bare INI name (no "\" or "/") is a file in the settings directory;
// other names are paths as the file statements take them.  "Quillnet.ini"
// is UTF-8 on disk and Shift_JIS in scripts; other INI files hold the bytes
// as written.  PUTINI replaces the file atomically under a lock, so a kill
// leaves the old or the new file and two writers keep both changes.
//
// Registry keys live in the settings store: CURRENTUSER keys are the
// store's own keys ("Software\Tallowood\Quillnet95\Config" is the program's
// settings), the other roots are separate trees in it ("HKEY_USERS\...").
// An open key is only a remembered path; every value statement reads or
// changes the store at once.  A value statement without an open key is
// message 113.  Failures set RESULT 0 and leave the reason in the debug log.
//
// There is no DDE on this system: DDEINITIATE, DDEREQUEST (its variable
// emptied) and DDESTARTADVICE give RESULT 0, DDEWAITADVICE waits its time and
// gives -1, the others do nothing.
#pragma once

#include <cstdint>
#include <string>

class SCRIPTSETTINGCMDS {
 public:
  static bool Handles(uint8_t atom);
  static bool Run(uint8_t atom);

  // The UTF-8 path an INI name names, or "" when it cannot be a path.
  static std::string IniPath(const std::string& sjis);
  // The store path of a registry key under a root (0-3 as listed above).
  static std::string StorePath(int root, const std::string& utf8Key);
  // PUTINI's edit of a file's text: the key's line replaced (its line end
  // kept) or added at the end of its section, the section added at the end
  // when it is missing; every other byte as it was.
  static std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                                 const std::string& value);
  // The open key's store path ("" when none).
  static const std::string& OpenKey();
  static void ResetForTest();
};
