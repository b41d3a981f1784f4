#include "script/funckey.h"

#include <cstdint>
#include <cstring>

#include "platform/jcode.h"
#include "platform/usermessage.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/varfile.h"
#include "shell/registry.h"

FUNCINI funcini;
FUNCKEYHOOKS funcKeyHooks;

namespace {

const char kBank[] = "FBCD";
const char kKey[] = "123456789ABC";
constexpr char kMissing[] = "\x01";

// A text value, or nothing when the value is missing.
bool ReadText(const std::string& name, std::string& out) {
  char buf[512];
  REGISTRY::ReadString(name.c_str(), buf, sizeof buf, kMissing);
  if (std::strcmp(buf, kMissing) == 0) return false;
  out = buf;
  return true;
}

}  // namespace

std::string FUNCINI::ValueName(int entry, const char* what) {
  std::string s;
  s += kBank[entry / 12];
  s += kKey[entry % 12];
  return s + what;
}

void FUNCINI::GetKeyAssign(int entry) {
  FUNCKEYENTRY e;
  const bool opened = REGISTRY::OpenKey("Config", false);
  if (opened) {
    std::string name, text;
    const bool haveName = ReadText(ValueName(entry, "Name"), name);
    const bool haveText = ReadText(ValueName(entry, "Script"), text);
    // The older names of plain F10-F12.
    if (entry >= 9 && entry < 12) {
      const std::string old = "F" + std::to_string(entry + 1);
      if (!haveName) ReadText(old + "Name", name);
      if (!haveText) ReadText(old + "Script", text);
    }
    e.name = std::string(CutSjis(name, MAX_NAME));
    e.text = std::string(CutSjis(text, MAX_TEXT));
    e.script = REGISTRY::ReadInt(ValueName(entry, "Type").c_str(), 0) == 1;
    REGISTRY::CloseKey();
  }
  entries[static_cast<size_t>(entry)] = e;
}

bool FUNCINI::SaveFuncIni() const {
  REGISTRY::BeginBatch();
  if (REGISTRY::OpenKey("Config", true)) {
    for (int n = 0; n < ENTRIES; ++n) {
      const FUNCKEYENTRY& e = entries[static_cast<size_t>(n)];
      REGISTRY::WriteString(ValueName(n, "Name").c_str(), e.name.c_str());
      REGISTRY::WriteString(ValueName(n, "Script").c_str(), e.text.c_str());
      REGISTRY::WriteInt(ValueName(n, "Type").c_str(), e.script ? 1 : 0);
    }
    REGISTRY::CloseKey();
  }
  return REGISTRY::EndBatch();
}

std::string FUNCINI::Label(int entry) const {
  const FUNCKEYENTRY& e = entries[static_cast<size_t>(entry)];
  if (!e.name.empty()) return e.name;
  return "F" + std::to_string(entry % 12 + 1);
}

KEYTEXT DecodeKeyText(std::string_view s) {
  varfile::CARETS c;
  KEYTEXT k;
  k.bytes = varfile::DecodeCarets(s, SIZE_MAX, &c);
  k.escaped = c.escaped;
  k.crFirst = c.crFirst;
  k.crAt = c.crAt;
  return k;
}

namespace {

void Send(const std::string& bytes) {
  if (funcKeyHooks.send && !bytes.empty()) funcKeyHooks.send(bytes);
}

void ReportCannotRun() {
  SCRIPTERROR e;
  e.id = scriptmsg::CANNOT_RUN;
  e.message = scriptmsg::Text(scriptmsg::CANNOT_RUN);
  if (SCRIPT::hooks.reportError)
    SCRIPT::hooks.reportError(e);
  else
    ErrorMessage(e.message);
}

void RunScriptEntry(const std::string& target) {
  std::string file, label;
  const size_t dot = target.find('.');
  if (dot == std::string::npos) {
    label = target;
  } else if (const size_t colon = target.find(':', dot); colon != std::string::npos) {
    file = target.substr(0, colon);
    label = target.substr(colon + 1);
  } else {
    file = target;
  }
  if (file.empty()) {
    // A bare label runs in the script that is running now.
    const SCRIPTPOS* now = SCRIPT::Current();
    if (!now || now->file == "@memory") {
      ReportCannotRun();
      return;
    }
    file = now->file;
  }
  if (SCRIPT::Execute(jcode::SjisToUtf8(file), label)) SCRIPT::Process();
}

}  // namespace

void ProcessFuncKeyEntry(int entry) {
  if (entry < 0 || entry >= FUNCINI::ENTRIES) return;
  const FUNCKEYENTRY& e = funcini.entries[static_cast<size_t>(entry)];
  if (e.script) {
    if (!e.text.empty()) RunScriptEntry(e.text);
  } else if (!e.text.empty()) {
    const KEYTEXT k = DecodeKeyText(e.text);
    const bool chat = funcKeyHooks.chatOpen && funcKeyHooks.chatOpen();
    const bool local = !chat && funcKeyHooks.localInputOn && funcKeyHooks.localInputOn();
    if (!k.escaped) {
      if (chat && funcKeyHooks.appendChat)
        funcKeyHooks.appendChat(std::string(CutSjis(k.bytes, 255)));
      else if (local && funcKeyHooks.typeLocal)
        funcKeyHooks.typeLocal(k.bytes);
      else
        Send(k.bytes);
    } else if (k.crFirst && (chat || local) && funcKeyHooks.submitLine) {
      // The line is submitted as the ^M is met; the rest of the text, the
      // part before it included, goes to the host afterwards.
      funcKeyHooks.submitLine();
      Send(k.bytes.substr(0, k.crAt) + k.bytes.substr(k.crAt + 1));
    } else {
      Send(k.bytes);
    }
  }
  if (funcKeyHooks.focusBack) funcKeyHooks.focusBack();
}

void ProcessFuncKey(int key, bool shift, bool ctrl) {
  if (key < 0 || key >= 12) return;
  ProcessFuncKeyEntry(FuncKeyEntry(key, shift, ctrl));
}

void SCRIPT::ResetKeyAssign() {
  funcini.LoadAll();
  if (funcKeyHooks.repaint) funcKeyHooks.repaint();
}
