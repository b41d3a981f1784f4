// quillnet-tool send and receive through the telnet layer against inetutils
// telnetd on 127.0.0.1, whose "login" is a script running lrzsz's rz or sz,
// or reading typed lines on the pty as a host's editor would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "platform/jcode.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;
constexpr int kLimitMs = 60000;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Polls until the file holds `want` or ms pass; returns what it holds then.
std::string WaitForContent(const std::string& path, const std::string& want, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::string got;
  for (;;) {
    got = ReadWholeFile(path);
    if (got == want || std::chrono::steady_clock::now() >= end) return got;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class TelnetTransfer : public ::testing::Test {
 protected:
  // Starts telnetd running `body` (shell commands, run in the host's directory).
  void Host(const std::string& body) {
    ASSERT_EQ(mkdir(hostDir.c_str(), 0755), 0);
    ASSERT_TRUE(WriteWholeFile(dir.File("host.sh"), "#!/bin/sh\ncd " + hostDir + "\n" + body));
    ASSERT_EQ(chmod(dir.File("host.sh").c_str(), 0755), 0);
    port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    std::string error;
    ASSERT_TRUE(server.StartTelnetd(dir.File("host.sh"), port, &error)) << error;
  }
  FullProcessResult Tool(std::vector<std::string> args) {
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--telnet", "127.0.0.1", std::to_string(port)});
    return RunProcessWithin(argv, "", kLimitMs);
  }

  TempDir dir;
  std::string hostDir = dir.File("host");
  TcpPeer server;
  int port = 0;
};

TEST_F(TelnetTransfer, ReceivesWhatTheHostsSzSends) {
  const std::string data = RandomBytes(200000, 7);
  ASSERT_TRUE(WriteWholeFile(dir.File("data.bin"), data));
  // The host stays on line after sz, as a host going back to its menu does.
  Host("cp " + dir.File("data.bin") + " .\nprintf 'READY\\r\\n'\nsz -q data.bin 2>/dev/null\nsleep 3\n");
  const std::string down = dir.File("down");
  ASSERT_EQ(mkdir(down.c_str(), 0755), 0);
  const FullProcessResult r = Tool({"receive", "--protocol", "zmodem", "--dir", down});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadWholeFile(down + "/data.bin") == data) << "the received file differs";
}

// telnetd discards sz's closing "OO" (sz flushes the pty when it ends,
// telnetd answers with a data mark) and the host hangs up at once: the
// exchange was complete when ZFIN was answered, so this is a success.
TEST_F(TelnetTransfer, AHostHangingUpRightAfterSzIsStillASuccess) {
  const std::string data = RandomBytes(20000, 9);
  ASSERT_TRUE(WriteWholeFile(dir.File("data.bin"), data));
  Host("cp " + dir.File("data.bin") + " .\nsz -q data.bin 2>/dev/null\n");
  const std::string down = dir.File("down");
  ASSERT_EQ(mkdir(down.c_str(), 0755), 0);
  const FullProcessResult r = Tool({"receive", "--protocol", "zmodem", "--dir", down});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadWholeFile(down + "/data.bin") == data);
}

TEST_F(TelnetTransfer, SendsToTheHostsRz) {
  const std::string data = RandomBytes(200000, 8);
  ASSERT_TRUE(WriteWholeFile(dir.File("up.bin"), data));
  Host("rz -q 2>/dev/null\nprintf 'RZ ENDED %s\\r\\n' $?\nsleep 0.3\n");
  const FullProcessResult r = Tool({"send", "--protocol", "zmodem", dir.File("up.bin")});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string got = WaitForContent(hostDir + "/up.bin", data, 10000);
  EXPECT_TRUE(got == data) << "the host's file differs (" << got.size() << " bytes)";
}

TEST_F(TelnetTransfer, TextReachesAHostReadingLinesPacedByItsPrompt) {
  // A host's line editor: the pty echoes what is typed (CR as CR LF) and
  // hands each line on at CR; the host saves it and prompts with ">".  The
  // upload waits for the prompt after every line, the last one too, so the
  // call ends only once the host has the whole text.
  const std::string text = jcode::Utf8ToSjis("一行目です。\nsecond line\n\t三行目\n");
  ASSERT_TRUE(WriteWholeFile(dir.File("up.txt"), text));
  Host("i=0\n"
       "while [ $i -lt 3 ] && IFS= read -r l; do printf '%s\\n' \"$l\" >> got.txt; printf '>'; i=$((i+1)); done\n"
       "sleep 0.3\n");
  const FullProcessResult r = Tool({"send", "--protocol", "text", "--pace", ">", dir.File("up.txt")});
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(jcode::SjisToUtf8(ReadWholeFile(hostDir + "/got.txt")), jcode::SjisToUtf8(text));
}

}  // namespace
