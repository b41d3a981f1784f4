#include "script/settingcmds.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <strings.h>

#include "platform/atomicfile.h"
#include "platform/debuglog.h"
#include "platform/inifile.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/settingsfile.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/filecmds.h"
#include "script/programcmds.h"
#include "script/script.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int NO_OPEN_KEY = 113;
const char* const kNoOpenKey = "レジストリがオープンされてないのにwritereg/getregが使われました。";
constexpr size_t MAX_INI_FILE = 99, MAX_INI_NAME = 49;

std::string openKey;
bool keyIsOpen = false;

const char* const kRoots[4] = {"CLASSESROOT", "CURRENTUSER", "LOCALMACHINE", "USERS"};
const char* const kRootTrees[4] = {"HKEY_CLASSES_ROOT", "", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

bool Failed(uint8_t a, const std::string& what, const std::string& why) {
  DebugLogF("script: %s %s: %s\n", atom::Name(a), what.c_str(), why.c_str());
  SCRIPTARGS::SetResult(0);
  return true;
}

bool IsQuillnetIni(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return strcasecmp(name.c_str(), "Quillnet.ini") == 0;
}

// Whether Shift_JIS bytes make UTF-8 and back unchanged.
bool SjisRoundTrips(const std::string& s) { return jcode::Utf8ToSjis(jcode::SjisToUtf8(s)) == s; }

bool Trimmed(std::string_view line, std::string_view& out) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  out = line;
  return !line.empty();
}

bool SameAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

const std::string& SCRIPTSETTINGCMDS::OpenKey() {
  static const std::string none;
  return keyIsOpen ? openKey : none;
}

void SCRIPTSETTINGCMDS::ResetForTest() {
  openKey.clear();
  keyIsOpen = false;
}

std::string SCRIPTSETTINGCMDS::IniPath(const std::string& sjis) {
  if (sjis.empty()) return {};
  if (sjis.find('\\') == std::string::npos && sjis.find('/') == std::string::npos &&
      !(sjis.size() >= 2 && sjis[1] == ':')) {
    if (!SjisRoundTrips(sjis)) return {};
    const std::string name = jcode::SjisToUtf8(sjis);
    std::string path = ConfigDir() + "/" + name;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      // A file that is there under another case ("quillnet.ini") is the one.
      for (fs::directory_iterator it(ConfigDir(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string found = it->path().filename().string();
        if (SameAscii(found, name)) return it->path().string();
      }
    }
    return path;
  }
  return SCRIPTFILE::Resolve(sjis, true).value_or(std::string());
}

std::string SCRIPTSETTINGCMDS::StorePath(int root, const std::string& utf8Key) {
  std::string key = utf8Key;
  for (char& c : key)
    if (c == '/') c = '\\';
  while (!key.empty() && key.front() == '\\') key.erase(0, 1);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  const std::string tree = kRootTrees[root];
  if (tree.empty()) return key;
  return key.empty() ? tree : tree + "\\" + key;
}

std::string SCRIPTSETTINGCMDS::SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                                           const std::string& value) {
  const std::string eol = text.find("\r\n") != std::string::npos || text.empty() ? "\r\n" : "\n";
  // Lines as [start, end of content, end with its line end).
  struct LINE {
    size_t start, end, next;
  };
  std::vector<LINE> lines;
  // A byte-order mark at the start is no part of the first line.
  const size_t first = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (size_t pos = first; pos < text.size();) {
    size_t nl = text.find('\n', pos);
    const size_t next = nl == std::string::npos ? text.size() : nl + 1;
    size_t end = nl == std::string::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  auto content = [&](const LINE& l) { return std::string_view(text).substr(l.start, l.end - l.start); };
  bool inSection = false, found = false;
  size_t insertAt = std::string::npos;  // after the section's last line with content
  for (const LINE& l : lines) {
    std::string_view t;
    if (!Trimmed(content(l), t)) continue;
    if (t.front() == '[' && t.back() == ']') {
      if (inSection) break;
      // The name between the brackets as it stands, as the reader takes it.
      if (SameAscii(t.substr(1, t.size() - 2), section)) {
        inSection = found = true;
        insertAt = l.next;
      }
      continue;
    }
    if (!inSection) continue;
    insertAt = l.next;
    const size_t eq = t.find('=');
    if (t.front() == ';' || eq == std::string_view::npos) continue;
    std::string_view k;
    Trimmed(t.substr(0, eq), k);
    if (SameAscii(k, key)) {
      // This line: its key as written, the new value, its own line end.
      const size_t keyAt = l.start + static_cast<size_t>(content(l).find('=')) ;
      return text.substr(0, keyAt + 1) + value + text.substr(l.end);
    }
  }
  const std::string line = key + "=" + value + eol;
  if (found) {
    std::string head = text.substr(0, insertAt);
    if (!head.empty() && head.back() != '\n') head += eol;
    return head + line + text.substr(insertAt);
  }
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += eol;
  if (!out.empty()) out += eol;
  return out + "[" + section + "]" + eol + line;
}

bool SCRIPTSETTINGCMDS::Handles(uint8_t a) {
  switch (a) {
    case atom::GETINI:
    case atom::PUTINI:
    case atom::CREATEREG:
    case atom::OPENREG:
    case atom::CLOSEREG:
    case atom::DELETEREG:
    case atom::WRITEREGSTR:
    case atom::WRITEREGINT:
    case atom::GETREG:
    case atom::DDEINITIATE:
    case atom::DDETERMINATE:
    case atom::DDEEXECUTE:
    case atom::DDEREQUEST:
    case atom::DDEPOKE:
    case atom::DDESTARTADVICE:
    case atom::DDESTOPADVICE:
    case atom::DDEWAITADVICE: return true;
    default: return false;
  }
}

bool SCRIPTSETTINGCMDS::Run(uint8_t a) {
  SCRIPTARGS args(a, true, SCRIPTARGS::BARE::REFUSE);
  std::string file, section, key, value, var;
  switch (a) {
    case atom::GETINI:
    case atom::PUTINI: {
      if (!args.Text(file) || !args.Comma() || !args.Text(section) || !args.Comma() || !args.Text(key) || !args.Comma())
        return false;
      if (a == atom::GETINI ? !args.Variable(var, true) : !args.Text(value)) return false;
      if (!args.End()) return false;
      if (file.size() > MAX_INI_FILE || section.size() > MAX_INI_NAME || key.size() > MAX_INI_NAME || key.empty() ||
          section.find_first_of("\r\n") != std::string::npos || key.find_first_of("\r\n=") != std::string::npos)
        return args.Fail();
      const std::string path = IniPath(file);
      if (path.empty()) return Failed(a, jcode::SjisToUtf8(file), "empty, or not a Shift_JIS path");
      const bool utf8 = IsQuillnetIni(path);
      const std::string s = utf8 ? jcode::SjisToUtf8(section) : section;
      const std::string k = utf8 ? jcode::SjisToUtf8(key) : key;
      if (a == atom::GETINI) {
        std::string text;
        bool missing = false;
        if (!ReadFileBytes(path, text, &missing) && !missing) Failed(a, path, std::strerror(errno));
        std::string got;
        INIFILE::Parse(text).Get(s, k, got);
        if (utf8) got = jcode::Utf8ToSjis(got);
        return SCRIPTARGS::Assign(var, std::string(CutSjis(got, VAR::MAX_VALUE)));
      }
      if (value.find_first_of("\r\n") != std::string::npos) return args.Fail();
      const std::string v = utf8 ? jcode::SjisToUtf8(value) : value;
      if (utf8 && (!SjisRoundTrips(section) || !SjisRoundTrips(key) || !SjisRoundTrips(value)))
        return Failed(a, path, "text that is not Shift_JIS");
      MakeDirs(DirName(path));
      FileLock lock(ConfigDir() + "/.ini.lock");
      std::string text;
      bool missing = false;
      if (!ReadFileBytes(path, text, &missing) && !missing) return Failed(a, path, std::strerror(errno));
      struct stat st {};
      const unsigned mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
      std::string error;
      if (!ReplaceFileAtomically(path, SetIniValue(text, s, k, v), mode, &error)) return Failed(a, path, error);
      return true;
    }
    case atom::CREATEREG:
    case atom::OPENREG:
    case atom::DELETEREG: {
      int root;
      if (!args.OneOf({kRoots[0], kRoots[1], kRoots[2], kRoots[3]}, root) || !args.Comma() || !args.Text(key) ||
          !args.End())
        return false;
      if (!SjisRoundTrips(key)) return Failed(a, jcode::SjisToUtf8(key), "not Shift_JIS");
      const std::string path = StorePath(root, jcode::SjisToUtf8(key));
      SETTINGSFILE& store = REGISTRY::File();
      store.Refresh();
      if (a == atom::DELETEREG) {
        if (path.empty()) return Failed(a, path, "a root itself is not deleted");
        if (!store.KeyExists(path)) return Failed(a, path, "no such key");
        store.DeleteKey(path);
        if (!store.Flush()) return Failed(a, path, store.LastError());
        if (keyIsOpen && (openKey == path || openKey.starts_with(path + "\\"))) keyIsOpen = false;
        return true;
      }
      keyIsOpen = false;
      if (!path.empty() && !store.KeyExists(path)) {
        if (a == atom::OPENREG) return Failed(a, path, "no such key");
        if (!store.CreateKey(path)) return Failed(a, path, "not a key name");
        if (!store.Flush()) return Failed(a, path, store.LastError());
      }
      openKey = path;
      keyIsOpen = true;
      return true;
    }
    case atom::CLOSEREG: {
      if (!args.End()) return false;
      keyIsOpen = false;
      return true;
    }
    case atom::WRITEREGSTR:
    case atom::WRITEREGINT:
    case atom::GETREG: {
      if (!args.Text(key) || !args.Comma()) return false;
      int32_t n = 0;
      if (a == atom::WRITEREGSTR ? !args.Text(value) : a == atom::WRITEREGINT ? !args.Number(n) : !args.Variable(var, true))
        return false;
      if (!args.End()) return false;
      if (!keyIsOpen) {
        SCRIPTARGS::ReportMessage(NO_OPEN_KEY, kNoOpenKey);
        return false;
      }
      if (!SjisRoundTrips(key)) return Failed(a, jcode::SjisToUtf8(key), "not Shift_JIS");
      const std::string name = jcode::SjisToUtf8(key);
      SETTINGSFILE& store = REGISTRY::File();
      store.Refresh();
      if (a == atom::GETREG) {
        const SETTINGSFILE::Value* v = store.Get(openKey, name);
        if (!v) return Failed(a, openKey + "\\" + name, "no such value");
        if (v->type == SETTINGSFILE::T_DWORD)
          return SCRIPTARGS::AssignNumber(var, static_cast<int32_t>(v->dword));
        if (v->type == SETTINGSFILE::T_SZ) return SCRIPTARGS::Assign(var, jcode::Utf8ToSjis(v->data));
        return SCRIPTARGS::Assign(var, v->data);
      }
      SETTINGSFILE::Value v;
      if (a == atom::WRITEREGINT) {
        v.type = SETTINGSFILE::T_DWORD;
        v.dword = static_cast<uint32_t>(n);
      } else {
        if (!SjisRoundTrips(value)) return Failed(a, openKey + "\\" + name, "text that is not Shift_JIS");
        v.data = jcode::SjisToUtf8(value);
      }
      if (!store.KeyExists(openKey) && !openKey.empty() && !store.CreateKey(openKey))
        return Failed(a, openKey, "not a key name");
      if (!store.Set(openKey, name, v)) return Failed(a, openKey + "\\" + name, "not a value name");
      if (!store.Flush()) return Failed(a, openKey + "\\" + name, store.LastError());
      return true;
    }
    case atom::DDEINITIATE:
    case atom::DDEPOKE:
      if (!args.Text(key) || !args.Comma() || !args.Text(value) || !args.End()) return false;
      if (a == atom::DDEINITIATE) SCRIPTARGS::SetResult(0);
      return true;
    case atom::DDETERMINATE:
    case atom::DDESTOPADVICE: return args.End();
    case atom::DDEEXECUTE: return args.Text(value) && args.End();
    case atom::DDEREQUEST:
    case atom::DDESTARTADVICE:
      if (!args.Text(key) || !args.Comma() || !args.Variable(var, true) || !args.End()) return false;
      SCRIPTARGS::SetResult(0);
      if (a == atom::DDEREQUEST) return SCRIPTARGS::Assign(var, std::string());
      return true;
    case atom::DDEWAITADVICE: {
      SCRIPTVALUE ms;
      if (!args.Value(ms) || !args.End()) return false;
      if (!ms.fNum || ms.num < 0) return args.Fail();
      // Nothing ever arrives: the whole time passes, then RESULT -1.
      SCRIPTARGS::SetResult(-1);
      SCRIPTARGS::SleepFor(ms.num == 0 ? 1 : ms.num);
      return false;
    }
    default: return true;
  }
}
