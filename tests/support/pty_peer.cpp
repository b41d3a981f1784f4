#include "support/pty_peer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}
}  // namespace

bool WaitForFile(const std::string& path, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!Exists(path)) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

PtyPeer::PtyPeer(std::string s) : script(std::move(s)) {}

PtyPeer::~PtyPeer() { Stop(); }

bool PtyPeer::Start(std::string* error) {
  if (dir.Path().empty()) {
    *error = "cannot make a temporary directory";
    return false;
  }
  if (!WriteWholeFile(File("peer.sh"), script)) {
    *error = "cannot write the peer script";
    return false;
  }
  // Everything the child needs is built before the spawn.
  std::vector<std::string> args = {"socat", "PTY,link=" + Device() + ",raw,echo=0",
                                   "EXEC:/bin/sh " + File("peer.sh")};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "PEER_DIR=", 9) != 0) env.emplace_back(*e);
  env.push_back("PEER_DIR=" + dir.Path());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  const int rc = posix_spawnp(&pid, "socat", nullptr, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid = -1;
    *error = std::string("cannot start socat: ") + std::strerror(rc);
    return false;
  }
  const auto end = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!Exists(Device())) {
    if (Reap(false)) {
      *error = "socat exited before publishing the pty";
      return false;
    }
    if (Clock::now() >= end) {
      *error = "socat did not publish the pty within the time limit";
      Stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool PtyPeer::Reap(bool block) {
  if (pid <= 0) return true;
  int st;
  pid_t r;
  while ((r = waitpid(pid, &st, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == pid || (r < 0 && errno == ECHILD)) {
    // socat is gone; its children may linger in the group.
    killpg(pid, SIGKILL);
    pid = -1;
    return true;
  }
  return false;
}

bool PtyPeer::WaitExit(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!Reap(false)) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void PtyPeer::Stop() {
  if (pid <= 0) return;
  // A test peer has nothing to save: the whole group goes at once (a gentler
  // SIGTERM only makes socat log its child's death as an error).
  killpg(pid, SIGKILL);
  Reap(true);
}
