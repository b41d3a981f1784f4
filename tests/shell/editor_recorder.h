// A small stand-in for the user's editor: a shell script that writes its
// working directory and then each argument on a line of its own, so tests
// see exactly the argument list the launcher gave it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "support/process.h"
#include "support/temp_dir.h"

class EDITORRECORDER {
 public:
  // Puts the recorder into DIR/"bin dir" (a blank in its path on purpose).
  explicit EDITORRECORDER(const TempDir& dir)
      : program(dir.File("bin dir/record editor")), out(dir.File("bin dir/argv")) {
    MakeDirs(dir.File("bin dir"));
    ok = WriteWholeFile(program, "#!/bin/sh\nout=\"$(dirname \"$0\")/argv\"\n"
                                 "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$out.tmp\"\n"
                                 "mv \"$out.tmp\" \"$out\"\n") &&
         chmod(program.c_str(), 0755) == 0;
  }
  // The command text that starts it, quoted, followed by `rest`.
  std::string Command(const std::string& rest = {}) const {
    return "\"" + program + "\"" + (rest.empty() ? "" : " " + rest);
  }
  // The recorded lines (working directory first) once they are written,
  // waiting at most 10 s; empty when the editor never ran.
  std::vector<std::string> Lines() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (access(out.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::string> lines;
    std::string cur;
    for (char c : ReadWholeFile(out)) {
      if (c == '\n') {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    return lines;
  }
  // Forgets the last run.
  void Clear() const { unlink(out.c_str()); }

  std::string program, out;
  bool ok = false;
};
