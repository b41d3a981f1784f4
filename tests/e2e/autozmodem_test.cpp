// The program headless on a telnet call to inetutils telnetd, whose "login"
// is a script that greets, sends files with lrzsz's sz and says goodbye: the
// host's ZMODEM start fetches the files into the download directory by
// itself, the host's words reach the screen and the stock, and no ZMODEM
// header or file data does.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>

#include "e2e/headless_fixture.h"
#include "platform/jcode.h"
#include "shell/hostprop.h"
#include "support/process.h"
#include "support/tcp_peer.h"

namespace {

const std::string kProgram = QUILLNET_PATH;
const std::string kTool = QUILLNET_TOOL_PATH;
constexpr int kRunLimitMs = 60000;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

std::string Sha256(const std::string& path) {
  const std::string out = RunProcess({"sha256sum", path}, "").out;
  return out.substr(0, out.find(' '));
}

class AutoZmodem : public HeadlessDirs {
 protected:
  // Calls a telnetd host that greets, sends data.bin (300000 random bytes)
  // and notes.txt with sz and says goodbye; the program runs headless until
  // the host hangs up.
  void Call() {
    ASSERT_EQ(mkdir(files.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(down.c_str(), 0755), 0);
    // Random bytes hold every ZMODEM control byte, telnet's IAC and CR.
    ASSERT_TRUE(WriteWholeFile(files + "/data.bin", RandomBytes(300000, 16)));
    ASSERT_TRUE(WriteWholeFile(files + "/notes.txt", "one\ntwo\n"));
    ASSERT_TRUE(WriteWholeFile(dir.File("host.sh"),
                               "#!/bin/sh\n"
                               "cd " + files + "\n"
                               "printf 'WELCOME TO THE FILE HOST\\r\\n'\n"
                               "printf 'SENDING TWO FILES\\r\\n'\n"
                               "sz -q data.bin notes.txt 2>/dev/null\n"
                               "printf 'SZ ENDED WITH %s\\r\\n' $?\n"
                               "printf 'GOODBYE\\r\\n'\n"
                               "sleep 0.5\n"));
    ASSERT_EQ(chmod(dir.File("host.sh").c_str(), 0755), 0);
    const int port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    std::string error;
    ASSERT_TRUE(server.StartTelnetd(dir.File("host.sh"), port, &error)) << error;

    HOSTPROPERTY p;
    p.SetDefault();
    std::strcpy(p.szName, "FILE-HOST");
    p.ModemType = MODEM_TELNET;
    std::strcpy(p.DialNo, "127.0.0.1");
    std::snprintf(p.PortName, sizeof p.PortName, "%d", port);
    StoreHost(p);
    ASSERT_EQ(RunProcess({kTool, "config", "set", "DownloadPath", down, "--config-dir", cfg}, "").status, 0);

    r = RunProcessWithin({kProgram, "--headless", "--config-dir", cfg, "--data-dir", data, "FILE-HOST"}, "",
                         kRunLimitMs);
    ASSERT_FALSE(r.timedOut) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    stock = RunProcess({kTool, "stock", "export", data + "/quillnet.stk", "--utf8"}, "").out;
  }

  std::string files = dir.File("host-files"), down = dir.File("down");
  TcpPeer server;
  FullProcessResult r;
  std::string stock;
};

TEST_F(AutoZmodem, AHostsZmodemSendLandsInTheDownloadDirectory) {
  Call();
  // Both files arrived whole, under their names, and nothing else is there.
  EXPECT_EQ(Sha256(down + "/data.bin"), Sha256(files + "/data.bin"));
  EXPECT_EQ(ReadWholeFile(down + "/notes.txt"), "one\ntwo\n");
  EXPECT_EQ(RunProcess({"ls", "-A", down}, "").out, "data.bin\nnotes.txt\n");
  // The stock holds the host's words before the transfer and no ZMODEM
  // header or data.  (The "**" in front of the host's first header reaches
  // the screen: the start is only recognised at the CAN after it.)
  for (const char* said : {"WELCOME TO THE FILE HOST", "SENDING TWO FILES"})
    EXPECT_NE(stock.find(said), std::string::npos) << said << "\n" << stock.substr(0, 3000);
  for (const char* zmodem : {"B00000000", "B0100", "\x18", "data.bin"})
    EXPECT_EQ(stock.find(zmodem), std::string::npos) << "in the stock: " << zmodem << "\n" << stock.substr(0, 3000);
  // The screen is mostly text: the random file did not spill onto it.
  size_t binary = 0;
  for (char c : r.out)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n' && c != '\x1b') ++binary;
  EXPECT_LT(binary, 16u) << r.out.substr(0, 3000);
}

// The host's words right after sz ("SZ ENDED WITH 0", "GOODBYE") follow the
// session's end with no "OO" (telnetd drops it): the receiver takes only an
// "OO" that comes at once and leaves every other byte for the terminal.
TEST_F(AutoZmodem, TheHostsWordsAfterTheTransferReachTheScreenAndTheStock) {
  Call();
  EXPECT_EQ(Sha256(down + "/data.bin"), Sha256(files + "/data.bin"));
  for (const char* said : {"SZ ENDED WITH 0", "GOODBYE"}) {
    EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out.substr(0, 3000) << "\nERR " << r.err;
    EXPECT_NE(stock.find(said), std::string::npos) << said << "\n" << stock.substr(0, 3000);
  }
}

}  // namespace
