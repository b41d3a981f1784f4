#include "script/scriptname.h"

#include <filesystem>
#include <system_error>

#include "platform/jcode.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// The file `name` in dir: exactly, else the first entry equal without regard
// to ASCII case.
std::string InDirectory(const fs::path& dir, const std::string& name) {
  const fs::path exact = dir / name;
  if (IsFile(exact)) return exact.string();
  std::error_code ec;
  const std::string want = Lower(name);
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (Lower(it->path().filename().string()) == want && IsFile(it->path())) return (dir / it->path().filename()).string();
  }
  return {};
}

std::string WithAlternative(const fs::path& dir, const std::string& name) {
  std::string found = InDirectory(dir, name);
  if (found.empty() && name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".scr")
    found = InDirectory(dir, name.substr(0, name.size() - 4) + ".hsc");
  return found;
}

}  // namespace

std::string ScriptNameToPath(std::string_view s) {
  std::string bytes;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (jcode::IsKanji1(c) && i + 1 < s.size()) {
      bytes += s.substr(i, 2);
      ++i;
    } else {
      bytes += c == '\\' ? '/' : static_cast<char>(c);
    }
  }
  if (bytes.size() >= 2 && bytes[1] == ':' &&
      ((bytes[0] >= 'A' && bytes[0] <= 'Z') || (bytes[0] >= 'a' && bytes[0] <= 'z')))
    bytes.erase(0, 2);
  return jcode::SjisToUtf8(bytes);
}

std::string FindScriptPath(const std::string& path, const std::vector<std::string>& dirs) {
  if (path.empty()) return {};
  const fs::path p(path);
  const std::string name = p.filename().string();
  if (p.is_absolute()) return WithAlternative(p.parent_path(), name);
  for (const std::string& d : dirs) {
    if (d.empty()) continue;
    std::string found = WithAlternative(fs::path(d) / p.parent_path(), name);
    if (!found.empty()) return found;
  }
  return {};
}

std::string FindScriptFile(std::string_view sjisName, const std::vector<std::string>& dirs) {
  return FindScriptPath(ScriptNameToPath(sjisName), dirs);
}

CALLTARGET SplitCallTarget(const std::string& target) {
  if (target.find('.') == std::string::npos) return {{}, target};
  const size_t colon = target.find(':', target.find('.'));
  if (colon == std::string::npos) return {target, {}};
  return {target.substr(0, colon), target.substr(colon + 1)};
}
