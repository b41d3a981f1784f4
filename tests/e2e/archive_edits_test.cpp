// Edits of screen lines that were already in the stock when it was opened:
// a second `quillnet-tool feed` into an existing stock, and a second
// headless call, move the cursor back onto lines of the first and write
// there.  The export must show what the screen shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/registry.h"
#include "e2e/headless_fixture.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kProgram = QUILLNET_PATH;
const std::string kTool = QUILLNET_TOOL_PATH;
constexpr int kRunLimitMs = 30000;

std::string Export(const std::string& stock) {
  ProcessResult r = RunProcess({kTool, "stock", "export", stock, "--utf8"}, "");
  EXPECT_EQ(r.status, 0);
  return r.out;
}

struct FeedCase {
  const char* name;
  std::string rows;            // the screen's rows in both feeds
  std::string first, second;   // what each feed sends
  std::string exported;        // how the stock's export begins afterwards
};

TEST(ArchiveEdits, ASecondFeedEditsLinesOfTheFirst) {
  const FeedCase cases[] = {
      {"top row of a screen that is not full", "24", "r0\r\nr1\r\nr2\r\n", "\x1b[1;1HX", "X0\nr1\nr2\n"},
      {"each row of a full screen", "3", "r0\r\nr1\r\nr2\r\nr3\r\n",
       "\x1b[1;2HA\x1b[2;2HB\x1b[3;1HC", "r0\nr1\nrA\nrB\nC\n"},
      {"erased and inserted", "4", "r0\r\nr1\r\nr2\r\nr3\r\n", "\x1b[1;1H\x1b[K\x1b[2;1H\x1b[1P",
       "r0\n\n2\nr3\n"},
  };
  for (const FeedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string stock = dir.File("a.stk");
    ASSERT_EQ(RunProcess({kTool, "feed", stock, "--rows", c.rows}, c.first).status, 0);
    ProcessResult second = RunProcess({kTool, "feed", stock, "--rows", c.rows, "--screen"}, c.second);
    ASSERT_EQ(second.status, 0);
    std::string exported = Export(stock), screen = second.out;
    EXPECT_EQ(exported.substr(0, c.exported.size()), c.exported) << exported;
    // What the screen shows at the end is what the stock keeps (empty rows
    // below the last stored line aside).
    for (std::string* s : {&exported, &screen})
      while (!s->empty() && s->back() == '\n') s->pop_back();
    ASSERT_LE(screen.size(), exported.size());
    EXPECT_EQ(exported.substr(exported.size() - screen.size()), screen) << "screen:\n" << screen;
  }
}

// The headless program, called twice by a host that sends fixed bytes: the
// second call goes back up past its connect line (ESC M twice) onto the
// last line of the first call and writes there.
class ArchiveEditsHeadless : public HeadlessDirs {};

TEST_F(ArchiveEditsHeadless, ASecondCallEditsALineOfTheFirst) {
  const std::string sent = dir.File("sent");
  const int port = FreeLoopbackPort();
  ASSERT_TRUE(WriteWholeFile(sent, "r0\r\nr1\r\nlast"));
  TcpPeer host;
  std::string error;
  // Each connection (the readiness probe too) gets the file's bytes as they
  // are then, and the host closes.
  ASSERT_TRUE(host.Start({"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                          "OPEN:" + sent + ",rdonly"},
                         port, &error))
      << error;
  StoreHost(TelnetHost("FIXED", port));
  const std::vector<std::string> argv = {kProgram, "--headless", "--config-dir", cfg, "--data-dir", data, "FIXED"};

  FullProcessResult r = RunProcessWithin(argv, "", kRunLimitMs);
  ASSERT_FALSE(r.timedOut) << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string before = Export(data + "/quillnet.stk");
  ASSERT_NE(before.find("\nlast\n"), std::string::npos) << before;

  ASSERT_TRUE(WriteWholeFile(sent, "\x1bM\x1bMLAST"));
  r = RunProcessWithin(argv, "", kRunLimitMs);
  ASSERT_FALSE(r.timedOut) << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string after = Export(data + "/quillnet.stk");
  EXPECT_EQ(after.find("\nlast\n"), std::string::npos) << after;
  EXPECT_NE(after.find("\nLAST\n"), std::string::npos) << after;
}

}  // namespace
