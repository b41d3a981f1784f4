// The transfer statements' arguments: protocol and mode words, the file,
// the name SETUPDOWNFILE reserves, RESULT, and the nested loop held while a
// transfer runs.  The transfers themselves are recorded here; the program's
// own, against lrzsz, are in tests/transfer/script_transfer_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/scriptmsg.h"
#include "script/transfercmds.h"
#include "support/script_peer.h"

namespace {

struct CALL {
  std::string what, file;
  int protocol = -1, mode = 0;
  bool operator==(const CALL&) const = default;
};

class TransferStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    SCRIPTTRANSFER::Reset();
    scriptTransferHooks.upload = [this](const std::string& f, int p) {
      calls.push_back({"up", f, p, 0});
      held = held && SCRIPT::InNestedLoop();
      return answer;
    };
    scriptTransferHooks.download = [this](const std::string& f, int p, int m) {
      calls.push_back({"down", f, p, m});
      held = held && SCRIPT::InNestedLoop();
      return answer;
    };
    scriptTransferHooks.sendWrap = [this](const std::string& t) {
      calls.push_back({"wrap", t, -1, 0});
      held = held && SCRIPT::InNestedLoop();
      return answer;
    };
  }
  void TearDown() override { SCRIPTTRANSFER::Reset(); }
  bool Run(const std::string& text) { return SCRIPT::ExecuteFromMemory(text) && peer.Run(10000); }
  SCRIPTPEER peer;
  std::vector<CALL> calls;
  int answer = 1;
  bool held = true;
};

TEST_F(TransferStatements, WordsAndFilesReachTheTransfer) {
  struct {
    const char* statement;
    CALL call;
  } cases[] = {
      {"upload \"a.txt\", zmodem", {"up", "a.txt", 7, 0}},
      {"upload \"dir\\a.txt\", xmodemk", {"up", "dir/a.txt", 3, 0}},
      {"upload \"a.txt\"", {"up", "a.txt", -1, 0}},
      {"upload none", {"up", "", 0, 0}},
      {"upload , ymodemgbatch", {"up", "", 11, 0}},
      {"download", {"down", "", -1, 0}},
      {"download , zmodem, resume", {"down", "", 7, 3}},
      {"download \"x.bin\", xmodemcrc, overwrite", {"down", "x.bin", 2, 1}},
      {"download \"x.bin\", xmodem, append", {"down", "x.bin", 1, 2}},
      {"download , ymodem, tempfile", {"down", "", 8, 4}},
      {"download , mlink", {"down", "", 14, 0}},
      {"sendwrap \"line\"", {"wrap", "line\n", -1, 0}},
  };
  for (const auto& c : cases) {
    calls.clear();
    peer.sends.clear();
    ASSERT_TRUE(Run(std::string("checklabel here\nhere:\n") + c.statement + "\nsend \"r\" + result\n")) << c.statement;
    EXPECT_EQ(calls, std::vector<CALL>{c.call}) << c.statement;
    EXPECT_EQ(peer.sends, std::vector<std::string>{"r1"}) << c.statement;
  }
  EXPECT_TRUE(held);
  EXPECT_TRUE(peer.errors.empty());
}

TEST_F(TransferStatements, UnknownWordsAreParameterErrors) {
  struct {
    const char* statement;
    const char* message;
  } cases[] = {
      {"upload \"a\", kermit", "UPLOADのパラメタがおかしいです。"},
      {"upload \"a\", zmodem, resume", "UPLOADのパラメタがおかしいです。"},  // no mode for uploads
      {"download , zmodem, later", "DOWNLOADのパラメタがおかしいです。"},
      {"download , zmodem, resume, more", "DOWNLOADのパラメタがおかしいです。"},
      {"download , \"zmodem\"", "DOWNLOADのパラメタがおかしいです。"},  // a word, not a text
      {"setupdownfile", "SETUPDOWNFILEのパラメタがおかしいです。"},
      {"sendwrap", "SENDWRAPのパラメタがおかしいです。"},
  };
  for (const auto& c : cases) {
    calls.clear();
    peer.errors.clear();
    peer.sends.clear();
    ASSERT_TRUE(Run(std::string(c.statement) + "\nsend \"after\"\n")) << c.statement;
    EXPECT_TRUE(calls.empty()) << c.statement;
    ASSERT_EQ(peer.errors.size(), 1u) << c.statement;
    EXPECT_EQ(peer.errors[0].id, scriptmsg::PARAMETER);
    EXPECT_EQ(peer.errors[0].message, c.message);
    EXPECT_TRUE(peer.sends.empty()) << c.statement;  // the script stopped
  }
}

TEST_F(TransferStatements, AFailedTransferIsResultZeroAndAReservedNameIsUsedOnce) {
  answer = 0;
  ASSERT_TRUE(Run("checklabel here\nhere:\ndownload , zmodem\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0"});
  answer = 1;
  calls.clear();
  ASSERT_TRUE(Run("setupdownfile \"got.bin\"\ndownload , xmodem\ndownload , xmodem\nupload \"mine\", zmodem\n"));
  EXPECT_EQ(calls, (std::vector<CALL>{{"down", "got.bin", 1, 0}, {"down", "", 1, 0}, {"up", "mine", 7, 0}}));
  EXPECT_TRUE(SCRIPTTRANSFER::Reserved().empty());
  // A name Shift_JIS cannot hold never reaches the transfer.
  calls.clear();
  peer.sends.clear();
  ASSERT_TRUE(Run("checklabel here\nhere:\nupload \"\xff\xfe\", zmodem\nsend \"r\" + result\n"));
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0"});
}

TEST_F(TransferStatements, WithoutTheTransferLayerTheyAreNotAvailable) {
  SCRIPTTRANSFER::Reset();
  ASSERT_TRUE(Run("upload \"a\", zmodem\nsend \"after\"\n"));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::NOT_YET);
  EXPECT_TRUE(peer.sends.empty());
}

}  // namespace
