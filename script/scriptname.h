// Script names as scripts, settings and host properties write them, made into
// paths of existing files.
//
// "\" outside double-byte characters separates folders, a drive letter is
// dropped, a relative name is looked for in each directory in turn, a name
// that is not there is matched without regard to ASCII case, and a missing
// ".scr" file is tried as ".hsc".  Shift_JIS becomes UTF-8 only here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The name (Shift_JIS) as a UTF-8 path, separators and drive letter mended.
std::string ScriptNameToPath(std::string_view sjisName);
// The existing file a UTF-8 path names, looked for in dirs when relative;
// empty when there is none.
std::string FindScriptPath(const std::string& path, const std::vector<std::string>& dirs);
// Both of the above.
std::string FindScriptFile(std::string_view sjisName, const std::vector<std::string>& dirs);

// A CALL target: a label, a file (it holds a "."), or a file, ":" and a
// label.  The part that is not given is empty.
struct CALLTARGET {
  std::string file, label;
};
CALLTARGET SplitCallTarget(const std::string& target);
