// The backup offer needs a window: a headless call on a stock that is past
// its backup threshold ends with the stock whole and no backup written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/headless_fixture.h"
#include "support/process.h"
#include "support/tcp_peer.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;
const std::string kDemo = QUILLNET_DEMOHOST_PATH;

class HeadlessBackup : public HeadlessDirs {};

TEST_F(HeadlessBackup, ACallPastTheThresholdOffersAndDeletesNothing) {
  std::filesystem::create_directories(data);
  const std::string stock = data + "/quillnet.stk";
  ASSERT_EQ(RunProcess({kTool, "stock", "create", stock, "--backup-lines", "100"}, "").status, 0);
  std::string older;
  for (int i = 0; i < 300; ++i) older += "older line " + std::to_string(i) + "\n";
  ASSERT_EQ(RunProcess({kTool, "stock", "append", stock}, older).status, 0);
  const std::string before = RunProcess({kTool, "stock", "export", stock}, "").out;

  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({kDemo, "--port", std::to_string(port), "--auto-login", "--tour", "G\\r"}, port, &error))
      << error;
  StoreHost(TelnetHost("デモ BBS", port));
  FullProcessResult r = Quillnet({"デモ BBS"});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;

  // The stock is past its threshold (a window would offer the backup now)...
  const ProcessResult check = RunProcess({kTool, "stock", "backup", stock, "--check"}, "");
  EXPECT_EQ(check.out.substr(0, 9), "reason 1\n") << check.out;
  // ...but the run kept every older line and the call after them, asked
  // nothing and wrote no backup.
  const std::string after = RunProcess({kTool, "stock", "export", stock}, "").out;
  EXPECT_EQ(after.substr(0, before.size() - 1), before.substr(0, before.size() - 1));
  EXPECT_GT(after.size(), before.size());
  EXPECT_EQ(r.err.find("バックアップ"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(data + "/backup"));
}

}  // namespace
