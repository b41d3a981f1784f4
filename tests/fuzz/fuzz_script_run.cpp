// Fuzzes the interpreter: the input up to its first NUL is a program, the
// rest the bytes the host sends.  The program runs on fake time, a pass at a
// time as the dispatcher runs it, with a bounded number of passes; the
// interpreter must never crash, and the level count must stay within 0-20.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "script/script.h"
#include "script/var.h"
#include "shell/config.h"
#include "terminal/waiter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Programs may hold file statements: relative names land in a directory
  // of this process's own, never among the build's files.
  static char scratch[] = "/tmp/quillnet-fuzz-script-XXXXXX";
  static const bool inScratch = [] {
    if (!::mkdtemp(scratch) || ::chdir(scratch) != 0) return false;
    // Logs (LOG) and the settings a dial reads (CONNECT) stay there too.
    std::snprintf(config.LogPath, sizeof config.LogPath, "%s", scratch);
    SetConfigDir(std::string(scratch) + "/config");
    SetDataDir(std::string(scratch) + "/data");
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(scratch, ec);
    });
    return true;
  }();
  (void)inScratch;
  const std::string in(reinterpret_cast<const char*>(data), size);
  const size_t nul = in.find('\0');
  const std::string program = in.substr(0, nul);
  std::string host = nul == std::string::npos ? std::string() : in.substr(nul + 1);
  SCRIPT::Reset();
  VAR::Reset();
  TICK now = 1000;
  SCRIPT::tickSource = [&now] { return now += 1; };
  WAITER::tickSource = [&now] { return now; };
  SCRIPT::hooks.reportError = [](const SCRIPTERROR&) {};
  SCRIPT::hooks.askYes = [](const std::string&) { return true; };
  // A sent text beginning with "!" stands for a statement that runs an event
  // loop of its own: inside it each following letter asks for a start ("e"),
  // a start of a broken script ("b"), a stop ("s") or a stop of all ("a").
  SCRIPT::hooks.send = [](const std::string& s) {
    if (s.empty() || s[0] != '!') return;
    SCRIPT::NESTEDLOOP loop;
    for (char c : s.substr(1)) {
      if (c == 'e') SCRIPT::ExecuteFromMemory("send \"queued\"\nmillisleep 5\n");
      if (c == 'b') SCRIPT::ExecuteFromMemory("endloop\n");
      if (c == 's') SCRIPT::Stop();
      if (c == 'a') SCRIPT::StopAll();
    }
  };
  SCRIPT::hooks.debugInfo = [](const std::string&) {};
  SCRIPT::searchDirs = {"/nonexistent-script-dir"};
  if (SCRIPT::ExecuteFromMemory(program)) {
    for (int pass = 0; pass < 2000 && SCRIPT::fExecuting; ++pass) {
      if (SCRIPT::fPause) SCRIPT::PauseOrResume();
      SCRIPT::Process();
      if (SCRIPT::cNest() < 0 || SCRIPT::cNest() > SCRIPT::MAX_NEST) std::abort();
      // Whatever was asked for inside a statement's own loop has been carried
      // out once the statement returned.
      if (SCRIPT::StartQueued() || SCRIPT::InNestedLoop()) std::abort();
      if (!host.empty()) {
        while (!host.empty()) {
          const char c = host[0];
          host.erase(0, 1);
          if (SCRIPT::Receive(c)) break;
        }
      } else {
        now += 700;
        SCRIPT::Receive('\0');
      }
    }
  }
  SCRIPT::Reset();
  VAR::Reset();
  WAITER::tickSource = nullptr;
  return 0;
}
