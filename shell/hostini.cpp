#include "shell/hostini.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "platform/inifile.h"
#include "platform/jcode.h"
#include "shell/helpers.h"
#include "shell/hostprop.h"
#include "shell/registry.h"

const char* const HOSTINI::kBackupHeader = "Quillnet host list backup version 1";
std::vector<HOSTINI::MenuItem> HOSTINI::aHostMenu;
void (*HOSTINI::pfnHostMenuChanged)() = nullptr;
int HOSTINI::nErrorLine = 0;

namespace {

const char* const kPseudoHosts[] = {"(電話をかける)", "(telnet接続)", "(シリアルポートに接続)"};
const size_t kMaxName = 79;

std::string IndexName(int index) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "HostIndex%04d", index);
  return buf;
}

std::string HostKey(const char* name) { return "Host\\" + jcode::SjisToUtf8(name); }

int ReadHostInt(const char* name, const char* value, int def) {
  if (!REGISTRY::OpenKey(HostKey(name), false)) return def;
  int v = REGISTRY::ReadInt(value, def);
  REGISTRY::CloseKey();
  return v;
}

bool WriteHostInt(const char* name, const char* value, int v) {
  if (!REGISTRY::OpenKey(HostKey(name), true)) return false;
  REGISTRY::WriteInt(value, v);
  return REGISTRY::CloseKey();
}

// Every name of the list, in order.
std::vector<std::string> HostNames() {
  std::vector<std::string> names;
  char name[256];
  for (int i = 0; HOSTINI::GetHostName(i, name, sizeof name); ++i) names.push_back(name);
  return names;
}

}  // namespace

bool HOSTINI::GetHostName(int index, char* buf, size_t size) {
  if (size) buf[0] = 0;
  if (index < 0 || index > 9999 || !REGISTRY::OpenKey("Config", false)) return false;
  REGISTRY::ReadString(IndexName(index).c_str(), buf, size, "");
  REGISTRY::CloseKey();
  return size && buf[0] != 0;
}

int HOSTINI::GetHostCount() {
  if (!REGISTRY::OpenKey("Config", false)) return 0;
  int n = 0;
  char name[256];
  for (;; ++n) {
    REGISTRY::ReadString(IndexName(n).c_str(), name, sizeof name, "");
    if (!name[0] || n > 9999) break;
  }
  REGISTRY::CloseKey();
  return n;
}

bool HOSTINI::IsHostExist(const char* name) {
  for (const std::string& n : HostNames())
    if (n == name) return true;
  return false;
}

bool HOSTINI::PutHostOrder(const char* name, int index) {
  REGISTRY::BeginBatch();
  if (REGISTRY::OpenKey("Config", true)) {
    REGISTRY::WriteString(IndexName(index).c_str(), name);
    REGISTRY::CloseKey();
  }
  WriteHostInt(name, "Order", index);
  return REGISTRY::EndBatch();
}

int HOSTINI::GetHostOrder(const char* name) { return ReadHostInt(name, "Order", -1); }

bool HOSTINI::PutHostInMenuFlag(const char* name, int flag) { return WriteHostInt(name, "HostInMenu", flag ? 1 : 0); }

int HOSTINI::IsHostInMenu(const char* name) { return ReadHostInt(name, "HostInMenu", 0) ? 1 : 0; }

bool HOSTINI::DeleteHost(const char* name, bool compact) {
  REGISTRY::BeginBatch();
  std::vector<std::string> names = HostNames();
  REGISTRY::DeleteKey(HostKey(name));
  int at = -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) at = static_cast<int>(i);
  if (compact && at >= 0) {
    const int count = static_cast<int>(names.size());
    for (int j = at + 1; j < count; ++j) PutHostOrder(names[static_cast<size_t>(j)].c_str(), j - 1);
    if (REGISTRY::OpenKey("Config", false)) {
      REGISTRY::DeleteValue(IndexName(count - 1).c_str());
      REGISTRY::CloseKey();
    }
  }
  return REGISTRY::EndBatch();
}

bool HOSTINI::DeleteAllHost() {
  REGISTRY::BeginBatch();
  for (const std::string& key : REGISTRY::SubKeyNames("Host")) REGISTRY::DeleteKey("Host\\" + key);
  // Every index value, also any left after a gap.
  std::vector<std::string> values = REGISTRY::ValueNames("Config");
  if (REGISTRY::OpenKey("Config", false)) {
    for (const std::string& v : values)
      if (v.compare(0, 9, "HostIndex") == 0) REGISTRY::DeleteValue(v.c_str());
    REGISTRY::CloseKey();
  }
  return REGISTRY::EndBatch();
}

bool HOSTINI::AppendHost(const char* name, int inMenu) {
  REGISTRY::BeginBatch();
  PutHostOrder(name, GetHostCount());
  PutHostInMenuFlag(name, inMenu);
  return REGISTRY::EndBatch();
}

void HOSTINI::SetHostMenu() {
  aHostMenu.clear();
  std::vector<std::string> names = HostNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (IsHostInMenu(names[i].c_str())) aHostMenu.push_back({HOSTMENU_BASE + static_cast<int>(i), names[i]});
  if (pfnHostMenuChanged) pfnHostMenuChanged();
}

bool HOSTINI::BackupHostList(const std::string& path) {
  // The records are read before the file is opened: while it is open for
  // writing, the reads still go to the settings store.
  std::vector<std::string> names = HostNames();
  if (!REGISTRY::OpenBackupFile(path, true)) return false;
  REGISTRY::WriteBackupLine(kBackupHeader);
  for (const std::string& name : names) {
    HOSTPROPERTY prop;
    prop.GetRegistry(name.c_str());
    const int inMenu = IsHostInMenu(name.c_str());
    REGISTRY::WriteString("Host name", name.c_str());
    REGISTRY::WriteInt("HostInMenu", inMenu);
    prop.WriteProperty();
    for (int n = 0; n < 20; ++n) REGISTRY::WriteBackupLine("Reserved");
  }
  return REGISTRY::CloseBackupFile();
}

bool HOSTINI::RestoreHostList(const std::string& path) {
  nErrorLine = 0;
  if (!REGISTRY::OpenBackupFile(path, false)) return false;
  struct Entry {
    HOSTPROPERTY prop;
    int inMenu;
  };
  std::vector<Entry> hosts;
  std::set<std::string> seen;
  auto fail = [&](int line) {
    nErrorLine = line;
    REGISTRY::CloseBackupFile();
    return false;
  };
  std::string line;
  if (!REGISTRY::ReadBackupLine(line) || line != kBackupHeader) return fail(REGISTRY::nLineError);
  for (;;) {
    while (REGISTRY::SkipReservedLine()) {
    }
    if (REGISTRY::AtBackupEnd()) break;
    char name[1024];
    REGISTRY::ReadString("Host name", name, sizeof name, "");
    if (REGISTRY::fError) return fail(REGISTRY::nLineError);
    const int nameLine = REGISTRY::nLineError;
    if (!CheckHostName(name, false).empty() || !seen.insert(name).second) return fail(nameLine);
    Entry e;
    e.inMenu = REGISTRY::ReadInt("HostInMenu", 0) ? 1 : 0;
    // Each host starts from the defaults, so a value its connection type does
    // not carry never comes from the host before it.
    e.prop.SetDefault();
    std::strcpy(e.prop.szName, name);
    e.prop.ReadProperty();
    if (REGISTRY::fError) return fail(REGISTRY::nLineError);
    hosts.push_back(std::move(e));
  }
  REGISTRY::CloseBackupFile();
  REGISTRY::BeginBatch();
  DeleteAllHost();
  for (size_t i = 0; i < hosts.size(); ++i) {
    hosts[i].prop.SaveRegistry();
    PutHostOrder(hosts[i].prop.szName, static_cast<int>(i));
    PutHostInMenuFlag(hosts[i].prop.szName, hosts[i].inMenu);
  }
  if (!REGISTRY::EndBatch()) return false;
  SetHostMenu();
  return true;
}

bool HOSTINI::BackupHostListWithMessage(const std::string& path) {
  if (BackupHostList(path)) return true;
  ErrorMessage(std::string("ホスト一覧のバックアップに失敗しました。"));
  return false;
}

bool HOSTINI::RestoreHostListWithMessage(const std::string& path) {
  if (RestoreHostList(path)) return true;
  ErrorMessage("ホスト一覧の復元に失敗しました。エラーのあった位置 = " + std::to_string(nErrorLine));
  return false;
}

void HOSTINI::SaveHostListToQuillnetIni(INIFILE& ini) {
  std::vector<std::string> names = HostNames();
  for (size_t i = 0; i < names.size(); ++i)
    ini.Set("Quillnet", IndexName(static_cast<int>(i)), jcode::SjisToUtf8(names[i]));
}

bool HOSTINI::IsPseudoHost(const char* name) {
  for (const char* p : kPseudoHosts)
    if (jcode::Utf8ToSjis(p) == name) return true;
  return false;
}

std::string HOSTINI::CheckHostName(const char* name, bool mustBeNew) {
  if (!name[0]) return "ホスト名を指定してください。";
  if (IsPseudoHost(name)) return std::string("「") + jcode::SjisToUtf8(name) + "」はホスト名に使えません。";
  if (std::strlen(name) > kMaxName) return "ホスト名が長すぎます。半角 79 文字までにしてください。";
  // The name becomes a key of the settings file: no "\" (outside double-byte
  // characters), no control bytes, and only what converts to UTF-8 and back.
  bool bad = jstrchr(name, '\\') != nullptr || jcode::Utf8ToSjis(jcode::SjisToUtf8(name)) != name;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
    if (*p < 0x20 || *p == 0x7F) bad = true;
  if (bad) return "ホスト名に使えない文字が含まれています。";
  if (mustBeNew && IsHostExist(name)) return "同じ名前のホスト局が既に登録されています。別の名前を指定してください。";
  return "";
}

void HOSTINI::ResetForTest() {
  aHostMenu.clear();
  pfnHostMenuChanged = nullptr;
  nErrorLine = 0;
}
