// Runs a script file to its end with the real clock and nothing on line, and
// prints the wall time of each run in milliseconds: the interpreter's speed
// on statements that never wait.  The watchdog question is answered "go on".
//   script_run [--vars VARFILE] FILE [RUNS]
// With --vars the permanent variables come from VARFILE and are written back
// to it when each run ends, as the program does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "script/script.h"
#include "script/var.h"

int main(int argc, char** argv) {
  std::string varFile;
  if (argc > 2 && std::string(argv[1]) == "--vars") {
    varFile = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: script_run FILE [RUNS]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "script_run: cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
  int errors = 0;
  for (int r = 0; r < runs; ++r) {
    SCRIPT::Reset();
    VAR::Reset();
    if (!varFile.empty() && !VAR::LoadPermanentVar(varFile)) return 1;
    SCRIPT::hooks.reportError = [&errors](const SCRIPTERROR& e) {
      ++errors;
      std::fprintf(stderr, "%s:%d: %s [%s]\n", e.file.c_str(), e.line, e.message.c_str(), e.command.c_str());
    };
    SCRIPT::hooks.askYes = [](const std::string&) { return false; };
    SCRIPT::hooks.send = [](const std::string&) {};
    SCRIPT::hooks.debugInfo = [](const std::string& s) { std::fprintf(stderr, "%s\n", s.c_str()); };
    const auto start = std::chrono::steady_clock::now();
    if (!SCRIPT::ExecuteFromMemory(text.str())) return 1;
    while (SCRIPT::fExecuting) {
      SCRIPT::Process();
      if (SCRIPT::fExecuting && SCRIPT::DueIn()) SCRIPT::Receive('\0');
    }
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!varFile.empty() && VAR::fPermanentChanged) return 1;  // the end of the run did not save
    std::printf("%.1f\n", ms);
  }
  return errors ? 3 : 0;
}
