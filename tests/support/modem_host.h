// The demo host in modem mode for tests: started in its own process group
// on a pty linked in a temporary directory, ended and reaped afterwards.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

class ModemHost {
 public:
  ~ModemHost() { Stop(); }
  // Where the modem's device appears.
  std::string Link() const { return dir.File("modem"); }
  // Starts the demo host with --modem Link() and the extra arguments, and
  // waits for the link.
  bool Start(const std::vector<std::string>& extra, std::string* error);
  // Sends SIGTERM and waits up to ms for the host to exit; true when it did.
  bool Terminate(int ms);
  // Terminates, and kills what is left after three seconds.
  void Stop();

 private:
  TempDir dir;
  pid_t pid = -1;
};
