// quillnet-tool vars: the permanent variables in the data directory's
// "Variable.txt", as scripts see them.
//
//   vars list [--secrets]   one line per variable: %NAME=VALUE (UTF-8, the
//                           value "^"-escaped as in the file; a secret's
//                           value as "???" unless --secrets)
//   vars set NAME VALUE     VALUE with "^" escapes (^M, ^0XX, ^^) decoded; an
//                           empty VALUE deletes
//   vars delete NAME        status 1 when there is no such variable
//
// NAME may be written with or without its "%"; its letters are upper-cased
// as the script compiler does.  Changes are merged into the file under its
// lock, so a running program's own changes are kept.
#include <algorithm>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "script/varfile.h"
#include "tools/tool_complain.h"

extern const char* const kVarsUsage;
const char* const kVarsUsage =
    "usage: quillnet-tool [--data-dir DIR] vars list [--secrets]\n"
    "       quillnet-tool [--data-dir DIR] vars set NAME VALUE\n"
    "       quillnet-tool [--data-dir DIR] vars delete NAME\n"
    "\n"
    "  list     print the permanent variables of Variable.txt as %NAME=VALUE;\n"
    "           secret ones (%%NAME) show ??? unless --secrets is given\n"
    "  set      give NAME the VALUE (\"^\" escapes decoded; empty deletes)\n"
    "  delete   remove NAME (status 1 when it does not exist)\n"
    "\n";

namespace {

int Usage(const std::string& complaint) { return Complain("vars", complaint); }

size_t Count(const std::string& s, char c) { return static_cast<size_t>(std::count(s.begin(), s.end(), c)); }

// The stored name (without the leading "%") of a name the user typed, or
// empty after a complaint.
bool StoredName(const std::string& utf8, std::string& stored) {
  std::string name = jcode::Utf8ToSjis(utf8);
  if (Count(name, '?') > Count(utf8, '?')) return Usage("the name " + utf8 + " has characters Shift_JIS lacks"), false;
  if (!name.empty() && name[0] == '%') name.erase(0, 1);
  if (name.empty()) return Usage("a variable needs a name"), false;
  if (name[0] == '#' || name[0] == '@') return Usage("%" + utf8 + " is a number variable, which is never kept"), false;
  if (name.size() + 1 > 40) return Usage("the name " + utf8 + " is longer than 40 bytes"), false;
  ToUpper(name.data());
  stored = name;
  return true;
}

int List(const std::vector<std::string>& args) {
  bool secrets = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--secrets")
      secrets = true;
    else
      return Usage("unknown option " + args[i]);
  }
  std::vector<std::pair<std::string, std::string>> vars;
  varfile::REPORT report;
  std::string error;
  if (!varfile::Load(varfile::DefaultPath(), vars, &report, &error)) {
    std::fprintf(stderr, "quillnet-tool: %s\n", error.c_str());
    return 1;
  }
  if (report.badLines)
    std::fprintf(stderr, "quillnet-tool: %s: %d lines skipped, the first at line %d\n",
                 varfile::DefaultPath().c_str(), report.badLines, report.firstBadLine);
  for (const auto& [name, value] : vars) {
    const std::string shown = varfile::IsSecretName(name) && !secrets ? "???" : varfile::EscapeText(value);
    std::printf("%%%s=%s\n", jcode::SjisToUtf8(name).c_str(), jcode::SjisToUtf8(shown).c_str());
  }
  return 0;
}

int Change(const std::string& stored, const std::optional<std::string>& value) {
  std::string error;
  if (!varfile::Apply(varfile::DefaultPath(), {{stored, value}}, &error)) {
    std::fprintf(stderr, "quillnet-tool: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int VarsCommand(const std::vector<std::string>& args) {
  const std::string& sub = args[0];
  if (sub == "list") return List(args);
  if (sub == "set") {
    if (args.size() != 3) return Usage("vars set needs NAME and VALUE");
    std::string stored;
    if (!StoredName(args[1], stored)) return 2;
    const std::string sjis = jcode::Utf8ToSjis(args[2]);
    if (Count(sjis, '?') > Count(args[2], '?')) return Usage("the value has characters Shift_JIS lacks");
    return Change(stored, varfile::UnescapeText(sjis));
  }
  if (sub == "delete") {
    if (args.size() != 2) return Usage("vars delete needs NAME");
    std::string stored;
    if (!StoredName(args[1], stored)) return 2;
    std::vector<std::pair<std::string, std::string>> vars;
    std::string error;
    if (!varfile::Load(varfile::DefaultPath(), vars, nullptr, &error)) {
      std::fprintf(stderr, "quillnet-tool: %s\n", error.c_str());
      return 1;
    }
    if (std::none_of(vars.begin(), vars.end(), [&](const auto& v) { return v.first == stored; })) {
      std::fprintf(stderr, "quillnet-tool: no variable %%%s\n", jcode::SjisToUtf8(stored).c_str());
      return 1;
    }
    return Change(stored, std::nullopt);
  }
  return Usage("unknown vars command: " + sub);
}
