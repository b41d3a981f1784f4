#include "shell/quillnetini.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/inifile.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/registry.h"

namespace {
const char kNewHost[] = "_NewHost";

// Another program writes the file without our lock; ours still keeps two
// instances of this program from importing the same names twice.
std::string LockPath() { return QuillnetIniPath() + ".lock"; }

bool WriteIni(const INIFILE& ini) {
  std::string error;
  if (!MakeDirs(ConfigDir()) || !ReplaceFileAtomically(QuillnetIniPath(), ini.Format(), 0644, &error)) {
    ErrorMessage(QuillnetIniPath() + "\nファイルに書き込めません。" + error);
    return false;
  }
  return true;
}
}  // namespace

std::string QuillnetIniPath() { return ConfigDir() + "/Quillnet.ini"; }

bool CreateQuillnetIni() {
  INIFILE ini;
  config.SaveToQuillnetIni(ini);
  HOSTINI::SaveHostListToQuillnetIni(ini);
  FileLock lock(LockPath());
  return WriteIni(ini);
}

void CheckQuillnetIniUpdate() {
  if (!config.UseIni) return;
  struct stat st;
  if (stat(QuillnetIniPath().c_str(), &st) != 0) {
    CreateQuillnetIni();
    return;
  }
  FileLock lock(LockPath());
  std::string text;
  if (!ReadFileBytes(QuillnetIniPath(), text)) return;
  INIFILE ini = INIFILE::Parse(text);
  std::vector<std::string> imported, messages;
  bool added = false;
  REGISTRY::BeginBatch();
  for (const std::string& key : ini.Keys(kNewHost)) {
    const std::string name = jcode::Utf8ToSjis(key);
    std::string why = HOSTINI::CheckHostName(name.c_str(), false);
    if (why.empty() && (strcasecmp(key.c_str(), "Quillnet") == 0 || strcasecmp(key.c_str(), kNewHost) == 0)) why = "ホスト名に使えない文字が含まれています。";
    if (!why.empty()) {
      messages.push_back(QuillnetIniPath() + " [" + kNewHost + "] " + key + "\n" + why);
      continue;
    }
    HOSTPROPERTY prop;
    prop.GetIni(ini, name.c_str());
    const bool existed = HOSTINI::IsHostExist(name.c_str());
    prop.SaveRegistry();
    if (!existed) {
      std::string flag;
      ini.Get(kNewHost, key, flag);
      HOSTINI::AppendHost(name.c_str(), std::atoi(flag.c_str()) != 0);
      messages.push_back("新しいホストとして「" + key + "」が登録されました。");
      added = true;
    } else {
      messages.push_back(key + " のホストプロパティが変更されました。");
    }
    imported.push_back(key);
  }
  if (!REGISTRY::EndBatch()) return;  // nothing imported: the names stay for the next start
  for (const std::string& m : messages) MyMessageBox(m, ui::MB_OK | ui::MB_ICONINFORMATION);
  if (added) HOSTINI::SetHostMenu();
  if (imported.empty()) return;
  // Read the file again: names added since are kept.
  if (!ReadFileBytes(QuillnetIniPath(), text)) return;
  ini = INIFILE::Parse(text);
  for (const std::string& key : imported) {
    ini.Remove(kNewHost, key);
    ini.RemoveSection(key);
  }
  if (ini.Keys(kNewHost).empty()) ini.RemoveSection(kNewHost);
  WriteIni(ini);
}
