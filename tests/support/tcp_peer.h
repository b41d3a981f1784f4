// A TCP server for tests on 127.0.0.1: a program started in its own process
// group (socat in front of inetutils telnetd, the demo host), ended and
// reaped with the whole group when the test is done.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call
// (bound to port 0 and released).  0 when none could be had.
int FreeLoopbackPort();
// True once a connection to 127.0.0.1:port is accepted (tried every 10 ms,
// at most ms); the probe connection is closed at once.
bool WaitListening(int port, int ms);
// Number of open descriptors of this process.
int OpenFdCount();

class TcpPeer {
 public:
  static constexpr int kStartTimeoutMs = 10000;

  TcpPeer() = default;
  ~TcpPeer();
  TcpPeer(const TcpPeer&) = delete;
  TcpPeer& operator=(const TcpPeer&) = delete;

  // Starts argv (looked up in PATH) and waits until it listens on port.
  bool Start(const std::vector<std::string>& argv, int port, std::string* error);
  // Starts inetutils telnetd behind socat on port, running script (a shell
  // script's path) for each connection instead of a login.
  bool StartTelnetd(const std::string& script, int port, std::string* error);
  // Ends the process group and reaps its leader.
  void Stop();
  bool Running() const { return pid > 0; }

 private:
  bool Reap(bool block);
  pid_t pid = -1;
};
