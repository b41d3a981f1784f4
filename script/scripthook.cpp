#include "script/scripthook.h"

#include <algorithm>
#include <optional>

#include "port/comport.h"
#include "port/tapisub.h"
#include "script/script.h"
#include "terminal/dispatch.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

namespace {

// Whether the running level's matcher has completed a pattern and is in the
// quiet time that must follow it (then it is due at that time's end).
bool QuietTimeRunning() {
  const SCRIPTPOS* l = SCRIPT::Current();
  if (!l || !l->waiting) return false;
  for (const WAITER* w = l->waiter.get(); w; w = w->pNext)
    if (w->fTiming) return true;
  return false;
}

}  // namespace

void ArmScriptDue() {
  if (const std::optional<int64_t> in = SCRIPT::DueIn()) CLIENT::PassIn(*in);
}

void InstallScriptHooks() {
  CLIENT::hooks.scriptExecuting = [] { return SCRIPT::fExecuting; };
  CLIENT::hooks.scriptHideDisplay = [] { return SCRIPT::fHideDisplay; };
  CLIENT::hooks.scriptBusy = [] { return SCRIPT::SliceCut(); };
  CLIENT::hooks.scriptProcess = [] {
    SCRIPT::Process();
    ArmScriptDue();
  };
  CLIENT::hooks.scriptReceive = [](char c) {
    const bool ended = SCRIPT::Receive(c);
    // A pattern completed with a quiet time to follow is due at its end.
    if (!ended && c != 0 && QuietTimeRunning()) ArmScriptDue();
    return ended;
  };

  SCRIPT::hooks.send = [](const std::string& sjis) { COMPORT::Send(sjis.c_str()); };
  SCRIPT::hooks.queueProcess = [] { CLIENT::QueuePass(); };
  SCRIPT::hooks.armTimer = [](int64_t) { ArmScriptDue(); };
  SCRIPT::hooks.lineCount = [] { return static_cast<int32_t>(pBitmapCur->cyLines); };
  SCRIPT::hooks.baudRate = [] { return static_cast<int32_t>(COMPORT::GetBaudrate()); };

  TAPISUB::hooks.startScript = [](const std::string& path) {
    if (SCRIPT::Execute(path)) CLIENT::QueuePass();
  };
  TAPISUB::hooks.stopScripts = [] { SCRIPT::StopAll(); };
  TAPISUB::hooks.hangupScript = [] {
    if (SCRIPT::ExecuteHangupScript()) CLIENT::QueuePass();
  };
}

std::string HeadlessErrorLine(const SCRIPTERROR& e) {
  std::string line = e.file + ":" + std::to_string(e.line) + ": " + e.message;
  if (!e.command.empty()) line += " [" + e.command + "]";
  return line;
}

// Writes text as one line: its own line breaks become spaces.
static void PrintOneLine(FILE* out, std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::fprintf(out, "%s\n", text.c_str());
  std::fflush(out);
}

void InstallHeadlessScriptReports(FILE* err, bool* failed) {
  SCRIPT::hooks.reportError = [err, failed](const SCRIPTERROR& e) {
    if (failed) *failed = true;
    PrintOneLine(err, HeadlessErrorLine(e));
  };
  SCRIPT::hooks.debugInfo = [err](const std::string& utf8) { PrintOneLine(err, utf8); };
}
