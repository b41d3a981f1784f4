#include "shell/registry.h"

#include <cstring>
#include <memory>

#include "platform/atomicfile.h"
#include "platform/inifile.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/settingsfile.h"
#include "shell/helpers.h"

const char* const kMainKey = "Software\\Tallowood\\Quillnet95\\";

std::string EscapeBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::uint8_t b : bytes) {
    const auto c = static_cast<std::uint8_t>(b + 1);
    // 0x1E would become "^^", which already stands for "^" (the byte 0x5D):
    // it is written as the bare byte instead, which reads back the same way
    // as every other byte written as is.
    if (c < 0x20 && c != 0x1E) {
      out += '^';
      out += static_cast<char>(c + 0x40);
    } else if (c == '^') {
      out += "^^";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool UnescapeBytes(std::string_view text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint8_t>(text[i]);
    if (c == '^') {
      if (++i >= text.size()) return false;
      c = static_cast<std::uint8_t>(text[i]);
      if (c != '^') c = static_cast<std::uint8_t>(c - 0x40);
    }
    bytes.push_back(static_cast<std::uint8_t>(c - 1));
  }
  return true;
}

bool REGISTRY::fError = false;
int REGISTRY::nLineError = 0;

namespace {

std::unique_ptr<SETTINGSFILE> store;
std::string openKey;  // full path of the open key
bool keyOpen = false;
int batchDepth = 0;
std::vector<std::string> unusable;

struct Backup {
  bool open = false, write = false, writeFailed = false;
  std::string path, data, out;
  size_t pos = 0;
  bool havePeek = false, peekOk = false;
  std::string peek;
} backup;

const INIFILE* ini = nullptr;
std::string iniSection;

const size_t kMaxBackupLine = 8191;

std::string FullKey(const std::string& subKey) {
  std::string main = kMainKey;
  if (subKey.empty()) return main.substr(0, main.size() - 1);
  return main + subKey;
}

void ShowDamage() {
  SETTINGSFILE::Report r;
  if (!store->TakeDamageReport(&r)) return;
  MyMessageBox(store->Path() + "\n設定ファイルの " + std::to_string(r.firstBadLine) + " 行目など " +
                   std::to_string(r.badLines) + " 行が読めません。読めない設定には既定値を使います。",
               ui::MB_OK | ui::MB_ICONWARNING);
}

void Refresh() {
  SETTINGSFILE& f = REGISTRY::File();
  f.Refresh();
  ShowDamage();
}

bool FlushNow() {
  if (!store || !store->HasPending()) return true;
  if (store->Flush()) return true;
  ErrorMessage(store->Path() + "\n設定ファイルに書き込めません。" + store->LastError());
  store->Discard();
  return false;
}

// The value of the open key, or null; a value of another type is noted.
const SETTINGSFILE::Value* Find(const char* name, uint32_t type) {
  if (!keyOpen) return nullptr;
  const SETTINGSFILE::Value* v = store->Get(openKey, name);
  if (v && v->type != type) {
    unusable.push_back(name);
    return nullptr;
  }
  return v;
}

void CopyOut(char* buf, size_t size, const char* text) {
  if (!size) return;
  if (text != buf) std::strncpy(buf, text, size - 1);
  buf[size - 1] = 0;
}

// Backup file lines: bytes up to CR LF.  A lone CR or LF, a NUL, a line that
// is too long or a last line without CR LF is a read failure.
bool ReadRawLine(std::string& line) {
  const std::string& d = backup.data;
  if (backup.pos >= d.size()) {
    line = "\x1A";
    return true;
  }
  for (size_t i = backup.pos; i < d.size(); ++i) {
    char c = d[i];
    if (c == '\r') {
      if (i + 1 >= d.size() || d[i + 1] != '\n' || i - backup.pos >= kMaxBackupLine) return false;
      line.assign(d, backup.pos, i - backup.pos);
      backup.pos = i + 2;
      return true;
    }
    if (c == '\n' || c == 0) return false;
  }
  return false;
}

bool Peek() {
  if (!backup.havePeek) {
    backup.peekOk = ReadRawLine(backup.peek);
    backup.havePeek = true;
    ++REGISTRY::nLineError;
  }
  return backup.peekOk;
}

void Consume() { backup.havePeek = false; }

// The rest of the next backup line after "name=", or null (error flag set)
// when the line is something else.  Null without the flag for "Reserved".
const char* BackupValue(const char* name, bool& reserved) {
  reserved = false;
  if (REGISTRY::fError) return nullptr;
  if (!Peek()) {
    REGISTRY::fError = true;
    return nullptr;
  }
  if (backup.peek == "Reserved") {
    Consume();
    reserved = true;
    return nullptr;
  }
  size_t n = std::strlen(name);
  if (backup.peek.size() > n && backup.peek.compare(0, n, name) == 0 && backup.peek[n] == '=')
    return backup.peek.c_str() + n + 1;
  REGISTRY::fError = true;
  return nullptr;
}

void WriteBackup(const char* name, const std::string& value) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) backup.writeFailed = true;
  backup.out += name;
  backup.out += '=';
  backup.out += value;
  backup.out += "\r\n";
}

bool IniValue(const char* name, std::string& value) { return ini->Get(iniSection, name, value); }

}  // namespace

std::string REGISTRY::FilePath() { return ConfigDir() + "/registry.reg"; }

SETTINGSFILE& REGISTRY::File() {
  const std::string path = FilePath();
  if (!store || store->Path() != path) {
    store = std::make_unique<SETTINGSFILE>(path);
    keyOpen = false;
  }
  return *store;
}

bool REGISTRY::OpenKey(const std::string& subKey, bool create) {
  keyOpen = false;
  Refresh();
  std::string full = FullKey(subKey);
  if (!store->KeyExists(full)) {
    if (!create || !store->CreateKey(full)) return false;
  }
  openKey = full;
  keyOpen = true;
  return true;
}

bool REGISTRY::CloseKey() {
  keyOpen = false;
  return batchDepth > 0 || FlushNow();
}

bool REGISTRY::IsKeyOpen() { return keyOpen; }

int REGISTRY::ReadInt(const char* name, int def) {
  if (backup.open && !backup.write) {
    bool reserved;
    const char* p = BackupValue(name, reserved);
    if (!p) return def;
    if (*p < '0' || *p > '9') {
      fError = true;
      return def;
    }
    uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      v = v * 10 + static_cast<uint64_t>(*p - '0');
      if (v > 0xFFFFFFFFu) {
        fError = true;
        return def;
      }
    }
    Consume();
    return static_cast<int>(static_cast<uint32_t>(v));
  }
  if (ini) {
    std::string s;
    if (!IniValue(name, s)) return def;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end || v < INT32_MIN || v > UINT32_MAX) {
      unusable.push_back(name);
      return def;
    }
    return static_cast<int>(static_cast<uint32_t>(v));
  }
  const SETTINGSFILE::Value* v = Find(name, SETTINGSFILE::T_DWORD);
  return v ? static_cast<int>(v->dword) : def;
}

namespace {
// Shared by the text and path reads: `convert` turns the stored UTF-8 into the
// memory form.
void ReadText(const char* name, char* buf, size_t size, const char* def, bool convert) {
  if (backup.open && !backup.write) {
    bool reserved;
    const char* p = BackupValue(name, reserved);
    if (!p) {
      if (!reserved || def != buf) CopyOut(buf, size, def);
      return;
    }
    if (std::strlen(p) >= size) {
      REGISTRY::fError = true;  // never cut: a value that does not fit is a bad line
      CopyOut(buf, size, def);
      return;
    }
    CopyOut(buf, size, p);
    Consume();
    return;
  }
  std::string text;
  bool found = false;
  if (ini) {
    found = IniValue(name, text);
  } else if (const SETTINGSFILE::Value* v = Find(name, SETTINGSFILE::T_SZ)) {
    text = v->data;
    found = true;
  }
  if (found && convert) text = jcode::Utf8ToSjis(text);
  if (found && text.size() >= size) {
    unusable.push_back(name);
    found = false;
  }
  CopyOut(buf, size, found ? text.c_str() : def);
}
}  // namespace

void REGISTRY::ReadString(const char* name, char* buf, size_t size, const char* def) {
  ReadText(name, buf, size, def, true);
}

void REGISTRY::ReadPath(const char* name, char* buf, size_t size, const char* def) {
  ReadText(name, buf, size, def, false);
}

void REGISTRY::ReadPath(const char* name, std::string& out, const std::string& def) {
  std::vector<char> buf(4096);
  ReadText(name, buf.data(), buf.size(), def.c_str(), false);
  out = buf.data();
}

void REGISTRY::ReadBinary(const char* name, std::vector<std::uint8_t>& out) {
  out.clear();
  if (backup.open && !backup.write) {
    bool reserved;
    const char* p = BackupValue(name, reserved);
    if (!p) return;
    if (!UnescapeBytes(p, out)) {
      fError = true;
      out.clear();
      return;
    }
    Consume();
    return;
  }
  if (ini) {
    std::string s;
    if (IniValue(name, s) && !UnescapeBytes(s, out)) {
      unusable.push_back(name);
      out.clear();
    }
    return;
  }
  if (const SETTINGSFILE::Value* v = Find(name, SETTINGSFILE::T_BINARY)) out.assign(v->data.begin(), v->data.end());
}

void REGISTRY::WriteInt(const char* name, int value) {
  if (backup.open && backup.write) {
    WriteBackup(name, std::to_string(static_cast<uint32_t>(value)));
  } else if (!ini && keyOpen) {
    SETTINGSFILE::Value v;
    v.type = SETTINGSFILE::T_DWORD;
    v.dword = static_cast<uint32_t>(value);
    store->Set(openKey, name, v);
  }
}

void REGISTRY::WriteString(const char* name, const char* sjis) {
  if (backup.open && backup.write) {
    WriteBackup(name, sjis);
  } else if (!ini && keyOpen) {
    store->Set(openKey, name, {SETTINGSFILE::T_SZ, 0, jcode::SjisToUtf8(sjis)});
  }
}

void REGISTRY::WritePath(const char* name, const std::string& path) {
  if (backup.open && backup.write) {
    WriteBackup(name, path);
  } else if (!ini && keyOpen) {
    store->Set(openKey, name, {SETTINGSFILE::T_SZ, 0, path});
  }
}

void REGISTRY::WriteBinary(const char* name, const std::vector<std::uint8_t>& bytes) {
  if (backup.open && backup.write) {
    WriteBackup(name, EscapeBytes(bytes));
  } else if (!ini && keyOpen) {
    store->Set(openKey, name, {SETTINGSFILE::T_BINARY, 0, std::string(bytes.begin(), bytes.end())});
  }
}

void REGISTRY::DeleteValue(const char* name) {
  if (!backup.open && !ini && keyOpen) store->DeleteValue(openKey, name);
}

bool REGISTRY::KeyExists(const std::string& subKey) {
  Refresh();
  return store->KeyExists(FullKey(subKey));
}

void REGISTRY::DeleteKey(const std::string& subKey) {
  Refresh();
  store->DeleteKey(FullKey(subKey));
  if (batchDepth == 0 && !keyOpen) FlushNow();
}

std::vector<std::string> REGISTRY::SubKeyNames(const std::string& subKey) {
  Refresh();
  return store->SubKeys(FullKey(subKey));
}

std::vector<std::string> REGISTRY::ValueNames(const std::string& subKey) {
  Refresh();
  return store->ValueNames(FullKey(subKey));
}

void REGISTRY::BeginBatch() {
  if (batchDepth++ == 0) Refresh();
}

bool REGISTRY::EndBatch() {
  if (batchDepth == 0 || --batchDepth > 0) return true;
  keyOpen = false;
  return FlushNow();
}

std::vector<std::string> REGISTRY::TakeUnusableValues() {
  std::vector<std::string> names;
  names.swap(unusable);
  return names;
}

bool REGISTRY::OpenBackupFile(const std::string& path, bool write) {
  backup = Backup();
  backup.path = path;
  backup.write = write;
  fError = false;
  nLineError = 0;
  if (!write && !ReadFileBytes(path, backup.data)) return false;
  backup.open = true;
  return true;
}

bool REGISTRY::CloseBackupFile() {
  if (!backup.open) return false;
  bool ok = true;
  if (backup.write) ok = !backup.writeFailed && ReplaceFileAtomically(backup.path, backup.out, 0644);
  backup = Backup();
  return ok;
}

bool REGISTRY::IsBackupFileOpen() { return backup.open; }

void REGISTRY::RewindBackupFile() {
  backup.pos = 0;
  backup.havePeek = false;
  nLineError = 0;
  fError = false;
}

bool REGISTRY::ReadBackupLine(std::string& line) {
  if (!Peek()) return false;
  line = backup.peek;
  Consume();
  return true;
}

bool REGISTRY::AtBackupEnd() { return Peek() && backup.peek == "\x1A" && backup.pos >= backup.data.size(); }

bool REGISTRY::SkipReservedLine() {
  if (!Peek() || backup.peek != "Reserved") return false;
  Consume();
  return true;
}

void REGISTRY::WriteBackupLine(const std::string& line) {
  if (backup.open && backup.write) backup.out += line + "\r\n";
}

void REGISTRY::OpenIniSection(const INIFILE* file, const std::string& section) {
  ini = file;
  iniSection = section;
}

void REGISTRY::CloseIniSection() { ini = nullptr; }

void REGISTRY::ResetForTest() {
  store.reset();
  keyOpen = false;
  openKey.clear();
  batchDepth = 0;
  unusable.clear();
  backup = Backup();
  ini = nullptr;
  fError = false;
  nLineError = 0;
}
