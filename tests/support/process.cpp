#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input) {
  // Ten minutes: a limit only a hung program reaches.
  FullProcessResult r = RunProcessWithin(argv, input, 600000);
  // What the program said on standard error goes to the test's log.
  if (!r.err.empty()) std::fwrite(r.err.data(), 1, r.err.size(), stderr);
  ProcessResult plain;
  plain.status = r.status;
  plain.out = std::move(r.out);
  return plain;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

FullProcessResult RunProcessWithin(const std::vector<std::string>& argv, const std::string& input, int timeoutMs) {
  FullProcessResult result;
  char inName[] = "/tmp/quillnet-input-XXXXXX", errName[] = "/tmp/quillnet-err-XXXXXX";
  const int in = mkstemp(inName), err = mkstemp(errName);
  if (in >= 0) unlink(inName);
  if (err >= 0) unlink(errName);
  int out[2];
  if (in < 0 || err < 0 || pipe(out) != 0) {
    if (in >= 0) close(in);
    if (err >= 0) close(err);
    return result;
  }
  if (write(in, input.data(), input.size()) != ssize_t(input.size())) {
    close(in);
    close(err);
    close(out[0]);
    close(out[1]);
    return result;
  }
  lseek(in, 0, SEEK_SET);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(err, 2);
    close(in);
    close(out[0]);
    close(out[1]);
    close(err);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in);
  close(out[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    const int r = poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  result.status = !result.timedOut && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  lseek(err, 0, SEEK_SET);
  for (;;) {
    const ssize_t n = read(err, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.err.append(buf, static_cast<size_t>(n));
  }
  close(err);
  return result;
}
