#include "support/tcp_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}
}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

bool WaitListening(int port, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int OpenFdCount() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n - 1;  // the directory's own descriptor
}

TcpPeer::~TcpPeer() { Stop(); }

bool TcpPeer::Start(const std::vector<std::string>& args, int port, std::string* error) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  const int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    pid = -1;
    *error = "cannot start " + args[0] + ": " + std::strerror(rc);
    return false;
  }
  const auto end = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!WaitListening(port, 20)) {
    if (Reap(false)) {
      *error = args[0] + " exited before listening";
      return false;
    }
    if (Clock::now() >= end) {
      *error = args[0] + " did not listen within the time limit";
      Stop();
      return false;
    }
  }
  return true;
}

bool TcpPeer::StartTelnetd(const std::string& script, int port, std::string* error) {
  return Start({"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                "EXEC:\"/usr/sbin/telnetd -h -E " + script + "\",nofork"},
               port, error);
}

bool TcpPeer::Reap(bool block) {
  if (pid <= 0) return true;
  int st;
  pid_t r;
  while ((r = waitpid(pid, &st, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (r == pid || (r < 0 && errno == ECHILD)) {
    killpg(pid, SIGKILL);  // whatever the leader left behind
    pid = -1;
    return true;
  }
  return false;
}

void TcpPeer::Stop() {
  if (pid <= 0) return;
  killpg(pid, SIGKILL);
  Reap(true);
}
