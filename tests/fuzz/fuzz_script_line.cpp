// Fuzzes the statements for the line, the log and the stock: the first byte
// of the input picks a keyword, the rest up to a NUL is its arguments (and
// any further lines), the bytes after the NUL what the host sends.  The
// statements run off line over a real stock and screen in a scratch
// directory.  Whatever PORT and SETUP accept must leave the current host
// with values its users can take (codes, stop bits, flow control, parity,
// wrap and margin columns in range).  Programs that could name a file
// outside the scratch directory are skipped.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "script/linecmds.h"
#include "script/script.h"
#include "script/var.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

namespace {

const char* const kKeywords[] = {"port ", "setup ", "log ", "writelog ", "writebuffer ", "writebuffer2 ",
                                 "readbuffer ", "afterhangup ", "gethostname ", "setautohangup ", "sendclipbrd ",
                                 "setportno ", "sendbreak "};

bool HostInRange(const HOSTPROPERTY& h) {
  return h.KanjiCode >= 0 && h.KanjiCode <= 4 && h.StopBit >= 0 && h.StopBit <= 2 && h.FlowControl >= 0 &&
         h.FlowControl <= 2 && h.Orikaeshi >= 0 && h.Orikaeshi <= 999 && h.Margin >= 0 && h.Margin <= 999 &&
         (h.SevenBit == 0 || h.SevenBit == 1) && SCRIPTLINE::Parity() >= 0 && SCRIPTLINE::Parity() <= 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Logs and files with relative names land in a directory of this process's own.
  static char scratch[] = "/tmp/quillnet-fuzz-line-XXXXXX";
  static const bool ready = [] {
    if (!::mkdtemp(scratch) || ::chdir(scratch) != 0) return false;
    std::atexit([] {
      LOG::End();
      STOCK::ResetForTest();
      std::error_code ec;
      std::filesystem::remove_all(scratch, ec);
    });
    SetDataDir(scratch);
    std::snprintf(config.LogPath, sizeof config.LogPath, "%s", scratch);
    if (STOCK::Create(std::string(scratch) + "/f.stk", 500, 80, 0, 0, 0) != 1) return false;
    bitmap.Reset(nullptr, 80, 24);
    return true;
  }();
  if (!ready || size == 0) return 0;
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t nul = in.find('\0');
  const std::string program = kKeywords[data[0] % (sizeof kKeywords / sizeof *kKeywords)] + in.substr(0, nul);
  std::string host = nul == std::string::npos ? std::string() : in.substr(nul + 1);
  // LOG takes absolute names as they are: a program that could spell one
  // (a slash, a backslash or a drive, a byte's hex escape, a full-width form
  // turned back) is not run, so nothing is written outside the scratch
  // directory.
  std::string upper = program;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (program.find_first_of("/\\:") != std::string::npos || program.find("^0") != std::string::npos ||
      upper.find("TOHANKAKU") != std::string::npos)
    return 0;
  SCRIPT::Reset();
  VAR::Reset();
  hostprop.SetDefault();
  hostprop.ModemType = data[0] & 0x80 ? MODEM_DIRECT : MODEM_TELNET;
  TICK now = 1000;
  SCRIPT::tickSource = [&now] { return now += 1; };
  WAITER::tickSource = [&now] { return now; };
  SCRIPT::hooks.reportError = [](const SCRIPTERROR&) {};
  SCRIPT::hooks.askYes = [](const std::string&) { return true; };
  SCRIPT::hooks.debugInfo = [](const std::string&) {};
  SCRIPT::searchDirs = {"/nonexistent-script-dir"};
  SCRIPTLINE::hooks.clipboardText = [&host] { return host; };
  SCRIPTLINE::hooks.typed = [](const std::string&) {};
  SCRIPTLINE::hooks.sendBreak = [] {};
  SCRIPTLINE::hooks.postHangup = [] {};
  if (SCRIPT::ExecuteFromMemory(program)) {
    for (int pass = 0; pass < 200 && SCRIPT::fExecuting; ++pass) {
      if (SCRIPT::fPause) SCRIPT::PauseOrResume();
      SCRIPT::Process();
      if (!HostInRange(hostprop)) std::abort();
      now += 700;
      SCRIPT::Receive('\0');
    }
  }
  if (!HostInRange(hostprop)) std::abort();
  SCRIPT::ExecuteHangupScript();  // a registered script, as after a hang-up
  for (int pass = 0; pass < 50 && SCRIPT::fExecuting; ++pass) SCRIPT::Process();
  LOG::End();
  SCRIPT::Reset();
  VAR::Reset();
  WAITER::tickSource = nullptr;
  return 0;
}
