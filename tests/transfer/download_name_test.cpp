// The name question when a received file cannot be created: the framework
// asks its hook for another name (in real directories where the first name
// is blocked by a directory of the same name), declines on an empty answer,
// fails as before without a hook; the window "DOWNFILENAME" on the
// offscreen platform.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLineEdit>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "transfer/transfer.h"
#include "transfer/transfer_window.h"
#include "transfer/zmodem.h"

namespace {

struct Case {
  const char* what;
  std::vector<std::string> blocked;  // names whose ".part" is made a directory
  std::vector<std::string> answers;  // the hook's answers in turn ("" declines); none: no hook
  bool hook;
  OPENDOWN want;
  std::string wantFile;  // the name the file opened under
  int wantAsks;
  PROTOCOLERROR wantError;
};

}  // namespace

TEST(DownloadName, ABlockedNameIsAskedForAgain) {
  const Case cases[] = {
      {"another name", {"a.txt"}, {"b.txt"}, true, OD_OPEN, "b.txt", 1, PE_OK},
      {"declined", {"a.txt"}, {""}, true, OD_DECLINED, "", 1, PE_OK},
      {"headless: the failure as before", {"a.txt"}, {}, false, OD_FAILED, "", 0, PE_WRITE},
      {"a second blocked answer", {"a.txt", "c.txt"}, {"c.txt", "d.txt"}, true, OD_OPEN, "d.txt", 2, PE_OK},
      {"always blocked: a bounded number of questions", {"a.txt"},
       {"a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt", "a.txt"}, true,
       OD_FAILED, "", 8, PE_WRITE},
      {"not blocked: no question", {}, {"never.txt"}, true, OD_OPEN, "a.txt", 0, PE_OK},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const std::string& b : c.blocked) ASSERT_EQ(mkdir(dir.File(b + ".part").c_str(), 0755), 0);
    TRANSFER t;
    t.protocol = PROTOCOL_ZMODEM;
    t.opt.downloadDir = dir.Path();
    t.opt.mode = DM_RENAME;
    t.BeginDownload();
    std::vector<std::string> asked;
    if (c.hook) {
      t.askFileName = [&](const std::string& failed) {
        asked.push_back(failed);
        return asked.size() <= c.answers.size() ? c.answers[asked.size() - 1] : std::string("x");
      };
    }
    const OPENDOWN r = t.ProtocolOpenDownFile("a.txt", 5, true);
    EXPECT_EQ(r, c.want) << c.what;
    EXPECT_EQ(static_cast<int>(asked.size()), c.wantAsks) << c.what;
    if (!asked.empty()) {
      EXPECT_EQ(asked[0], dir.File("a.txt")) << c.what;
    }
    EXPECT_EQ(t.protocolerror, c.wantError) << c.what;
    if (r == OD_OPEN) {
      EXPECT_EQ(t.down.finalPath, dir.File(c.wantFile)) << c.what;
      ASSERT_TRUE(t.ProtocolWriteDown("hello", 5)) << c.what;
      ASSERT_TRUE(t.ProtocolFinishDownFile()) << c.what;
      EXPECT_EQ(ReadWholeFile(dir.File(c.wantFile)), "hello") << c.what;
    }
  }
}

TEST(DownloadName, ANameWithNoRoomForThePartSuffixIsAskedForOrTakesTheSpareName) {
  const std::string longName(252, 'n');
  for (bool hook : {true, false}) {
    TempDir dir;
    TRANSFER t;
    t.protocol = PROTOCOL_ZMODEM;
    t.opt.downloadDir = dir.Path();
    t.opt.mode = DM_RENAME;
    t.BeginDownload();
    std::string asked;
    if (hook) {
      t.askFileName = [&](const std::string& failed) {
        asked = failed;
        return std::string("short.bin");
      };
    }
    ASSERT_EQ(t.ProtocolOpenDownFile(longName, -1, true), OD_OPEN) << hook;
    EXPECT_EQ(asked, hook ? dir.File(longName) : "");
    EXPECT_EQ(t.down.finalPath, dir.File(hook ? "short.bin" : "TEMP.000"));
  }
}

TEST(DownloadName, AZmodemFileLandsUnderTheNameGivenOrIsSkipped) {
  for (const std::string answer : {"other.bin", ""}) {
    TempDir dir;
    const std::string down = dir.File("down");
    ASSERT_EQ(mkdir(down.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((down + "/up.bin.part").c_str(), 0755), 0);
    ASSERT_TRUE(WriteWholeFile(dir.File("up.bin"), "the file's bytes"));
    auto [a, b] = MEMORYLINE::MakePair(65536);
    a->UseManualClock();
    TRANSFER up, rx;
    up.protocol = rx.protocol = PROTOCOL_ZMODEM;
    up.line = a.get();
    rx.line = b.get();
    up.files = {dir.File("up.bin")};
    rx.opt.downloadDir = down;
    rx.opt.mode = DM_RENAME;
    rx.askFileName = [&](const std::string&) { return answer; };
    rx.BeginDownload();
    ASSERT_TRUE(up.BeginUpload());
    auto sender = MakeZmodemUpload(up);
    auto receiver = MakeZmodemDownload(rx);
    bool upDone = false, rxDone = false;
    for (int i = 0; i < 200000 && !(upDone && rxDone); ++i) {
      STEPRESULT r1 = STEP_DONE, r2 = STEP_DONE;
      if (!upDone) upDone = (r1 = sender->Step()) == STEP_DONE;
      if (!rxDone) rxDone = (r2 = receiver->Step()) == STEP_DONE;
      if (r1 != STEP_BUSY && r2 != STEP_BUSY) a->Advance(5);
    }
    ASSERT_TRUE(upDone && rxDone) << answer;
    if (answer.empty()) {
      // Declined: skipped, nothing written, never a success.
      EXPECT_NE(TransferOutcome(rx), 0);
      EXPECT_EQ(RunProcess({"ls", "-A", down}, "").out, "up.bin.part\n");
    } else {
      EXPECT_EQ(TransferOutcome(rx), 0);
      EXPECT_EQ(ReadWholeFile(down + "/other.bin"), "the file's bytes");
    }
  }
}

TEST(DownloadName, TheWindowOffersTheFailedNameAndAnswersTheTypedOne) {
  TestApp app;
  {
    DownloadNameDialog d("/tmp/down/a.txt");
    EXPECT_EQ(d.objectName(), "DOWNFILENAME");
    EXPECT_EQ(d.windowTitle(), "ファイル作成エラー");
    EXPECT_EQ(d.Edit()->text(), "a.txt");
    d.Edit()->setText(" 表.txt ");
    d.accept();
    EXPECT_EQ(d.Name(), "表.txt");
  }
  {
    DownloadNameDialog d("/tmp/down/a.txt");
    d.reject();
    EXPECT_EQ(d.Name(), "");
  }
}
