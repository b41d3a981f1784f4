// A writer killed at random moments: quillnet-tool stock append is fed lines
// and killed with SIGKILL; afterwards the stock must open, its header must be
// consistent, and its lines must be an unbroken run of what was fed that
// reaches at least the last line the writer reported saved.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <sstream>

#include "stock_fixture.h"
#include "support/process.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

struct Child {
  pid_t pid = -1;
  int in = -1, out = -1;
};

Child Spawn(const std::vector<std::string>& argv) {
  int in[2], out[2];
  Child c;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  c.in = in[1];
  c.out = out[0];
  fcntl(c.out, F_SETFL, O_NONBLOCK);
  return c;
}

// Reads what the child reported so far; returns the highest "saved N".
long long ReadSaved(int fd, std::string& pending, long long saved) {
  char buf[4096];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) break;
    pending.append(buf, size_t(r));
  }
  size_t nl;
  while ((nl = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, nl);
    pending.erase(0, nl + 1);
    if (line.rfind("saved ", 0) == 0) saved = std::max(saved, std::stoll(line.substr(6)));
  }
  return saved;
}

std::map<std::string, long long> ParseInfo(const std::string& text) {
  std::map<std::string, long long> m;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    try {
      m[line.substr(0, colon)] = std::stoll(line.substr(colon + 2));
    } catch (...) {
    }
  }
  return m;
}

std::vector<std::string> SplitLines(const std::string& s) {
  std::vector<std::string> v;
  size_t start = 0, nl;
  while ((nl = s.find('\n', start)) != std::string::npos) {
    v.push_back(s.substr(start, nl - start));
    start = nl + 1;
  }
  return v;
}

TEST_F(StockTest, KilledWriterLeavesAConsistentPrefix) {
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  std::mt19937 rng(20240501);
  int sawSaved = 0, sawWrap = 0;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string path = Path("kill" + std::to_string(round) + ".stk");
    // Even rounds: a small ring that wraps many times; odd rounds: a large
    // one that grows its file while being written.
    const bool small = round % 2 == 0;
    const int capacity = small ? 300 : 100000;
    ASSERT_EQ(RunProcess({kTool, "stock", "create", path, "--lines", std::to_string(capacity), "--columns", "40"}, "")
                  .status,
              0);
    Child c = Spawn({kTool, "stock", "append", path, "--progress"});
    ASSERT_GT(c.pid, 0);

    std::vector<std::string> fed;
    std::string pending;
    long long saved = 0;
    // Most rounds wait for the writer's first save (a slow build may take a
    // while to start) and kill it at a random moment after; every fifth
    // round kills it at a random moment from the start.
    const bool early = round % 5 == 0;
    const auto startedAt = std::chrono::steady_clock::now();
    auto deadline = startedAt + std::chrono::microseconds(2000 + rng() % 40000);
    bool armed = early;
    while (std::chrono::steady_clock::now() < deadline || !armed) {
      if (!armed && (saved > 0 || std::chrono::steady_clock::now() - startedAt > std::chrono::seconds(3))) {
        armed = true;
        deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 30000);
      }
      std::string burst;
      const int n = 1 + int(rng() % 400);
      for (int i = 0; i < n; ++i) {
        std::string line = "r" + std::to_string(round) + " n" + std::to_string(fed.size());
        line.append(rng() % 20, char('a' + rng() % 26));
        fed.push_back(line);
        burst += line + "\n";
      }
      if (write(c.in, burst.data(), burst.size()) != ssize_t(burst.size())) break;
      saved = ReadSaved(c.out, pending, saved);
      // The writer saves when its input pauses: pause after every burst
      // until it has saved once, then now and then.
      if (!armed)
        usleep(2000);
      else if (rng() % 3 == 0)
        usleep(rng() % 2000);
    }
    kill(c.pid, SIGKILL);
    int st = 0;
    waitpid(c.pid, &st, 0);
    saved = ReadSaved(c.out, pending, saved);
    close(c.in);
    close(c.out);
    if (saved > 0) ++sawSaved;

    ProcessResult info = RunProcess({kTool, "stock", "info", path}, "");
    ASSERT_EQ(info.status, 0) << "the stock does not open after the kill";
    auto h = ParseInfo(info.out);
    EXPECT_EQ(h["dwVersion"], 7);
    EXPECT_EQ(h["cItemMaxMax"], capacity);
    EXPECT_GE(h["cItemUsed"], 1);
    EXPECT_LE(h["cItemUsed"], h["cItemMax"]);
    EXPECT_LT(h["iOldest"], h["cItemUsed"]);
    EXPECT_LT(h["iNewest"], h["cItemUsed"]);
    if (h["iOldest"] > 0) ++sawWrap;

    ProcessResult out = RunProcess({kTool, "stock", "export", path}, "");
    ASSERT_EQ(out.status, 0);
    std::vector<std::string> got = SplitLines(out.out);
    if (got.empty()) {
      EXPECT_EQ(saved, 0);
      continue;
    }
    // Where the run starts among the fed lines.
    size_t first = 0;
    while (first < fed.size() && fed[first] != got[0]) ++first;
    if (!small) {
      EXPECT_EQ(first, 0u) << "lines lost at the old end of a ring that never filled";
    }
    ASSERT_LT(first, fed.size()) << "the oldest line was never fed: " << got[0];
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_LT(first + i, fed.size()) << "more lines than were fed";
      const std::string& want = fed[first + i];
      if (i + 1 == got.size() && got[i] != want) {
        // The newest line may have been caught half written.
        EXPECT_EQ(want.compare(0, got[i].size(), got[i]), 0) << got[i];
      } else {
        ASSERT_EQ(got[i], want) << "line " << i << " of " << got.size() << " exported, first " << first << ", saved " << saved << ", fed " << fed.size();
      }
    }
    EXPECT_GE((long long)(first + got.size()), saved) << "a line reported saved is missing";

    // The stock takes new lines after the kill.
    ASSERT_EQ(RunProcess({kTool, "stock", "append", path}, "after the kill\n").status, 0);
    ProcessResult again = RunProcess({kTool, "stock", "export", path}, "");
    ASSERT_EQ(again.status, 0);
    EXPECT_TRUE(again.out.size() >= 15 && again.out.compare(again.out.size() - 15, 15, "after the kill\n") == 0);
  }
  sigaction(SIGPIPE, &old, nullptr);
  // The rounds really exercised saving and wrapping.
  EXPECT_GT(sawSaved, 10);
  EXPECT_GT(sawWrap, 5);
}

}  // namespace
