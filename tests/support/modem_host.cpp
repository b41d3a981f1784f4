#include "support/modem_host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/line_peer.h"
#include "support/pty_peer.h"

bool ModemHost::Start(const std::vector<std::string>& extra, std::string* error) {
  if (dir.Path().empty()) {
    *error = "no temporary directory";
    return false;
  }
  std::vector<std::string> args = {QUILLNET_DEMOHOST_PATH, "--modem", Link()};
  args.insert(args.end(), extra.begin(), extra.end());
  pid = fork();
  if (pid < 0) {
    *error = "fork failed";
    return false;
  }
  if (pid == 0) {
    setpgid(0, 0);
    const int out = open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  if (!WaitForFile(Link(), 10000)) {
    *error = "the modem's link did not appear";
    return false;
  }
  return true;
}

bool ModemHost::Terminate(int ms) {
  if (pid <= 0) return true;
  kill(-pid, SIGTERM);
  const bool gone = WaitFor([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, ms);
  if (gone) pid = -1;
  return gone;
}

void ModemHost::Stop() {
  if (pid <= 0) return;
  if (!Terminate(3000)) {
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
}

