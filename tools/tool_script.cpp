// quillnet-tool script: compile a script without running it.
//
//   script check FILE   errors "FILE:LINE: MESSAGE [SOURCE]", warnings
//                       "FILE:LINE: warning: MESSAGE [SOURCE]"; status 0, 1
//                       after an error, 2 for a usage error
//   script list FILE    the compiled atoms, labels and constants
//
// FILE is found as a script's CALL finds it: as given, else in the script
// folder (ScriptPath), without regard to ASCII case, ".scr" trying ".hsc".
#include <cstdio>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "script/listing.h"
#include "script/newscript.h"
#include "script/scriptname.h"
#include "shell/config.h"
#include "tools/tool_complain.h"

extern const char* const kScriptUsage;
const char* const kScriptUsage =
    "usage: quillnet-tool [--config-dir DIR] script check FILE\n"
    "       quillnet-tool [--config-dir DIR] script list FILE\n"
    "\n"
    "  check   compile FILE and report its errors and warnings (status 1 after\n"
    "          an error)\n"
    "  list    compile FILE and print its atoms, labels and constants\n"
    "\n";

namespace {

std::string Where(const std::string& file, int line) {
  return line > 0 ? file + ":" + std::to_string(line) + ": " : file + ": ";
}

void Print(const std::string& file, const NEWSCRIPT::DIAGNOSTIC& d, bool warning) {
  std::string s = Where(file, d.line) + (warning ? "warning: " : "") + d.message;
  if (!d.source.empty()) s += " [" + jcode::SjisToUtf8(d.source) + "]";
  std::fprintf(warning ? stdout : stderr, "%s\n", s.c_str());
}

}  // namespace

int ScriptCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "check" && args[0] != "list")) {
    if (!args.empty() && args[0] != "check" && args[0] != "list")
      return Complain("script", "unknown script command: " + args[0]);
    return Complain("script", "wrong arguments for script " + (args.empty() ? std::string() : args[0]));
  }
  const std::string& name = args[1];
  config.LoadRegistry();
  std::string path = FindScriptPath(name, {"."});
  if (path.empty()) path = FindScriptPath(name, {config.ScriptPath});
  if (path.empty()) path = name;  // Load reports it as not readable
  NEWSCRIPT program;
  const bool ok = program.Load(path);
  if (!ok) {
    Print(name, program.error, false);
    return 1;
  }
  if (args[0] == "list") {
    const std::string listing = ListProgram(program);
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  for (const NEWSCRIPT::DIAGNOSTIC& w : program.warnings) Print(name, w, true);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
