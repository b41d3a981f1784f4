// The scripts' transfer statements through the program's own transfers, over
// the serial port to lrzsz on the other end of a socat pty pair: ZMODEM both
// ways, XMODEM up, and DOWNLOAD's mode word for a file that exists.  Files
// are compared byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "port/comport.h"
#include "script/script.h"
#include "script/transfercmds.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "support/process.h"
#include "support/pty_peer.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "transfer/updown.h"

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

class ScriptTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    ui::SetFacade(&quiet);
    ASSERT_EQ(STOCK::Create(dir.File("d.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    bitmap.Reset(nullptr, 80, 24);
    CLIENT::Create();
    std::snprintf(config.HomeDir, sizeof config.HomeDir, "%s", dir.Path().c_str());
    std::snprintf(config.DownloadPath, sizeof config.DownloadPath, "%s", down.Path().c_str());
    std::snprintf(config.UploadPath, sizeof config.UploadPath, "%s", dir.Path().c_str());
    InstallScriptTransfers();
  }
  void TearDown() override {
    if (peer) peer->Stop();
    COMPORT::Close();
    ResetAll();
    SCRIPTTRANSFER::Reset();
    ui::SetFacade(nullptr);
  }
  static void ResetAll() {
    COMPORT::ResetForTest();
    CLIENT::ResetForTest();
    LOG::ResetForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    COLLATE::ResetForTest();
    hostprop.SetDefault();
    config.SetDefault();
    fOnline = 0;
  }
  // lrzsz behind the pty, in its own directory; the port opened on line.
  bool Connect(const std::string& command) {
    peer = std::make_unique<PtyPeer>("cd \"$PEER_DIR\" && exec " + command + " 2>peer.err\n");
    std::string error;
    if (!peer->Start(&error)) {
      ADD_FAILURE() << error;
      return false;
    }
    if (COMPORT::OpenPath(peer->Device().c_str()) != 1) return false;
    fOnline = 1;
    CLIENT::StartPortAccess();
    return true;
  }
  // Runs the script to its end and gives what it sent with SEND.
  std::vector<std::string> Run(const std::string& script) {
    SCRIPTPEER s;
    EXPECT_TRUE(SCRIPT::ExecuteFromMemory(script));
    EXPECT_TRUE(s.Run(60000));
    for (const SCRIPTERROR& e : s.errors) ADD_FAILURE() << e.message;
    return s.sends;
  }

  ui::RecordingFacade quiet{false};
  TempDir dir, down;
  std::unique_ptr<PtyPeer> peer;
};

TEST_F(ScriptTransfers, ZmodemDownloadFromSz) {
  const std::string data = RandomBytes(200000, 1);
  ASSERT_TRUE(Connect("sz -q got.bin"));
  ASSERT_TRUE(WriteWholeFile(peer->File("got.bin"), data));
  EXPECT_EQ(Run("download , zmodem\nsend \"r\" + result\n"), std::vector<std::string>{"r1"});
  EXPECT_EQ(ReadWholeFile(down.File("got.bin")), data);
}

TEST_F(ScriptTransfers, ZmodemUploadToRz) {
  const std::string data = RandomBytes(150000, 2);
  ASSERT_TRUE(WriteWholeFile(dir.File("up.bin"), data));
  ASSERT_TRUE(Connect("rz -q"));
  EXPECT_EQ(Run("upload \"up.bin\", zmodem\nsend \"r\" + result\n"), std::vector<std::string>{"r1"});
  ASSERT_TRUE(peer->WaitExit(10000));
  EXPECT_EQ(ReadWholeFile(peer->File("up.bin")), data);
}

TEST_F(ScriptTransfers, XmodemUploadToRxAndAMissingFile) {
  const std::string data = RandomBytes(1000, 3);
  ASSERT_TRUE(WriteWholeFile(dir.File("x.bin"), data));
  ASSERT_TRUE(Connect("rx -q -c got.bin"));
  EXPECT_EQ(Run("upload \"x.bin\", xmodemcrc\nsend \"r\" + result\nupload \"none.bin\", xmodemcrc\n"
                "send \"r\" + result\n"),
            (std::vector<std::string>{"r1", "r0"}));
  ASSERT_TRUE(peer->WaitExit(10000));
  // XMODEM fills the last block with Ctrl-Z.
  EXPECT_EQ(ReadWholeFile(peer->File("got.bin")), data + std::string(24, '\x1a'));
}

TEST_F(ScriptTransfers, TheModeWordAnswersForAFileThatExists) {
  const std::string data = RandomBytes(5000, 4);
  ASSERT_TRUE(WriteWholeFile(down.File("got.bin"), "old"));
  ASSERT_TRUE(Connect("sz -q got.bin"));
  ASSERT_TRUE(WriteWholeFile(peer->File("got.bin"), data));
  EXPECT_EQ(Run("download , zmodem, tempfile\nsend \"r\" + result\n"), std::vector<std::string>{"r1"});
  EXPECT_EQ(ReadWholeFile(down.File("got.bin")), "old");  // kept
  EXPECT_EQ(ReadWholeFile(down.File("TEMP.000")), data);
}

}  // namespace
