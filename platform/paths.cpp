#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace {
std::string configOverride, dataOverride;

std::string Trimmed(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// $VAR/quillnet when VAR is an absolute path (the XDG rule: relative values
// are ignored), else $HOME/fallback/quillnet.
std::string XdgDir(const char* var, const char* fallback) {
  const char* v = std::getenv(var);
  if (v && v[0] == '/') return Trimmed(std::string(v)) + "/quillnet";
  const char* home = std::getenv("HOME");
  std::string h = home && *home ? Trimmed(home) : std::string("/tmp");
  if (h == "/") h.clear();
  return h + "/" + fallback + "/quillnet";
}
}  // namespace

std::string ConfigDir() { return configOverride.empty() ? XdgDir("XDG_CONFIG_HOME", ".config") : configOverride; }

std::string DataDir() { return dataOverride.empty() ? XdgDir("XDG_DATA_HOME", ".local/share") : dataOverride; }

void SetConfigDir(const std::string& dir) { configOverride = dir.empty() ? dir : Trimmed(dir); }

void SetDataDir(const std::string& dir) { dataOverride = dir.empty() ? dir : Trimmed(dir); }

void ResetDirsForTest() {
  configOverride.clear();
  dataOverride.clear();
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = DirName(dir);
  if (parent != dir && !MakeDirs(parent)) return false;
  if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return false;
}

std::string DirName(const std::string& path) {
  std::string p = Trimmed(path);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}
