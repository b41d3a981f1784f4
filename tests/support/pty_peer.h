// A serial line for tests: socat publishes one end of a pty pair as DIR/tty
// and runs a peer shell script behind its other end.
//
//   socat PTY,link=DIR/tty,raw,echo=0 EXEC:"/bin/sh DIR/peer.sh"
//
// The script talks to the line on its standard input and output (a
// socketpair to socat) and finds the directory in $PEER_DIR, where it can
// leave files for the test.  socat and everything it starts run in their own
// process group, which Stop (and the destructor) end and reap, so a test
// never leaves a peer behind.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/temp_dir.h"

class PtyPeer {
 public:
  static constexpr int kStartTimeoutMs = 10000;

  explicit PtyPeer(std::string script);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // Starts socat and waits (at most kStartTimeoutMs) until the device link
  // exists.  On failure says why in *error.
  bool Start(std::string* error);
  // The pty device for the program to open.
  std::string Device() const { return dir.File("tty"); }
  const std::string& Dir() const { return dir.Path(); }
  std::string File(const std::string& name) const { return dir.File(name); }

  // Waits up to ms for socat to exit by itself; true when it has.
  bool WaitExit(int ms);
  // Ends the whole process group and reaps socat.
  void Stop();
  bool Running() const { return pid > 0; }

 private:
  bool Reap(bool block);
  TempDir dir;
  std::string script;
  pid_t pid = -1;
};

// Waits up to ms for a file to exist; true when it does.
bool WaitForFile(const std::string& path, int ms);
