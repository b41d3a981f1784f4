// The facade's default answers, the recording facade, the shared message
// helpers and the debug log files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/debuglog.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "support/process.h"

namespace fs = std::filesystem;

TEST(UiFacade, DefaultAnswerIsTheDefaultButton) {
  using namespace ui;
  struct Case {
    unsigned style;
    int answer;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_OKCANCEL, IDOK},
      {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
      {MB_YESNO, IDYES},
      {MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_RETRYCANCEL, IDRETRY},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
  };
  for (auto c : cases) EXPECT_EQ(DefaultAnswer(c.style), c.answer) << std::hex << c.style;
}

TEST(UiFacade, RecordingFacadeAnswersQueuedThenDefault) {
  ui::ScopedRecordingFacade scope;
  scope.rec.answers.push_back(ui::IDNO);
  EXPECT_EQ(MyMessageBox("続けますか", ui::MB_YESNO), ui::IDNO);
  EXPECT_EQ(MyMessageBox("続けますか", ui::MB_YESNO), ui::IDYES);
  ASSERT_EQ(scope.rec.boxes.size(), 2u);
  EXPECT_EQ(scope.rec.boxes[0].text, "続けますか");
  EXPECT_EQ(scope.rec.boxes[0].answer, ui::IDNO);
}

TEST(UiFacade, SharedMessagesCarryTheirFixedTexts) {
  ui::ScopedRecordingFacade scope;
  ErrorMessage(IDS_NOT_ENOUGH_MEMORY);
  NotEnoughMemory();
  ErrorMessage("/tmp/x.stk\nこのファイルは開けません。");
  ASSERT_EQ(scope.rec.boxes.size(), 3u);
  EXPECT_EQ(scope.rec.boxes[0].text, "メモリ不足のため処理を続行できません。");
  EXPECT_EQ(scope.rec.boxes[1].text, "内部エラー: メモリ不足です");
  EXPECT_EQ(scope.rec.boxes[2].text, "/tmp/x.stk\nこのファイルは開けません。");
  EXPECT_EQ(scope.rec.boxes[0].style & 0xF0, ui::MB_ICONERROR);
}

TEST(UiFacade, RunModalTracksDepth) {
  ui::ScopedRecordingFacade scope;
  int seen = -1;
  int r = ui::Current().RunModal([&] {
    seen = ui::ModalDepth();
    return 42;
  });
  EXPECT_EQ(r, 42);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(ui::ModalDepth(), 0);
}

TEST(DebugLogFile, StartingKeepsThePreviousLogAsOld) {
  fs::path dir = fs::temp_directory_path() / ("quillnet-debuglog-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  ASSERT_TRUE(StartDebugLogFile(dir.string()));
  DebugLog("first run\n");
  ASSERT_TRUE(StartDebugLogFile(dir.string()));
  DebugLogTime("second run\n");
  StopDebugLogFile();
  EXPECT_EQ(ReadWholeFile((dir / "Debug.old").string()), "first run\n");
  std::string now = ReadWholeFile((dir / "Debug.log").string());
  // "<seconds>.<milliseconds> text"
  EXPECT_TRUE(now.size() > 12 && now.find('.') < now.find(' ') && now.ends_with(" second run\n")) << now;
  EXPECT_FALSE(IsDebugLogFileOpen());
  EXPECT_FALSE(StartDebugLogFile((dir / "missing" / "deeper").string()));
  fs::remove_all(dir);
}
