// The program's text upload (ProcessUpload with protocol 0) over the real
// port to a host on the other end of a pipe pair that echoes what it gets,
// CR as CR LF: the text leaves in the host's code (JIS here) with the host's
// wrap column, the echo is collated and reaches the screen, and the history
// has the upload.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "transfer/updown.h"

namespace {

class ProgramTextUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    ui::SetFacade(&quiet);
    ASSERT_EQ(STOCK::Create(dir.File("d.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    bitmap.Reset(nullptr, 80, 24);
    CLIENT::Create();
    peer = MakeLinePeer(false);
    ASSERT_EQ(COMPORT::Start(std::move(peer.line)), 1);
    fOnline = 1;
    CLIENT::StartPortAccess();
    std::snprintf(config.HomeDir, sizeof config.HomeDir, "%s", dir.Path().c_str());
    std::snprintf(config.UploadPath, sizeof config.UploadPath, "%s", dir.Path().c_str());
  }
  void TearDown() override {
    stop = true;
    if (host.joinable()) host.join();
    COMPORT::Close();
    ResetAll();
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
  // The host: takes what the port sends and echoes it, CR as CR LF.
  void StartEchoingHost() {
    host = std::thread([this] {
      const int in = peer.ReadFd(), out = peer.toPort.Get();
      while (!stop) {
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n <= 0) break;
        std::string echo;
        for (ssize_t i = 0; i < n; ++i) {
          echo += buf[i];
          if (buf[i] == '\r') echo += '\n';
        }
        wire.append(buf, static_cast<size_t>(n));
        WriteAll(out, echo);
      }
    });
  }
  static std::string Screen() {
    std::string all;
    for (int r = 0; r < bitmap.RowsInStock(); ++r) {
      const char* t = bitmap.LineAt(r).Item()->Text();
      int n = STOCK::cColumn;
      while (n > 0 && t[n - 1] == 0) --n;
      all += std::string(t, size_t(n)) + "\n";
    }
    return all;
  }

  ui::RecordingFacade quiet{false};
  TempDir dir;
  LinePeer peer;
  std::thread host;
  std::atomic<bool> stop{false};
  std::string wire;  // written by the host thread until it is joined
};

TEST_F(ProgramTextUpload, TextGoesInTheHostsCodeAndTheEchoIsShown) {
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.Orikaeshi = 20;
  hostprop.Collate = 1;
  std::snprintf(hostprop.szName, sizeof hostprop.szName, "ECHO-HOST");
  const std::string text = jcode::Utf8ToSjis("漢字の行です、十二文字もある。\nabc\n");
  ASSERT_TRUE(WriteWholeFile(dir.File("up.txt"), text));
  ASSERT_EQ(LOG::Start(dir.File("d.log").c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, 0), 1);
  StartEchoingHost();

  EXPECT_EQ(ProcessUpload("up.txt", PROTOCOL_TEXT), 1) << (quiet.boxes.empty() ? "" : quiet.boxes.back().text);
  EXPECT_EQ(COMPORT::fBinaryMode, 0);
  stop = true;
  host.join();

  // On the wire: JIS, wrapped at 20 columns (the first line has 30).
  const std::string sjisWire = RunProcess({"nkf", "-s", "-J"}, wire).out;
  EXPECT_EQ(jcode::SjisToUtf8(sjisWire), "漢字の行です、十二文\r字もある。\rabc\r");
  EXPECT_NE(wire.find("\x1b$B"), std::string::npos);
  // The echo is on the screen, line by line.
  const std::string screen = jcode::SjisToUtf8(Screen());
  for (const char* line : {"漢字の行です、十二文\n", "字もある。\n", "abc\n"})
    EXPECT_NE(screen.find(line), std::string::npos) << line << "\n" << screen;
  // And in the log, as it came back.
  LOG::FlushCache();
  EXPECT_EQ(jcode::SjisToUtf8(ReadWholeFile(dir.File("d.log"))), "漢字の行です、十二文\r\n字もある。\r\nabc\r\n");
  // The history has the upload.
  const std::string hist = ReadWholeFile(dir.File("TRANHIST.TXT"));
  EXPECT_EQ(hist.rfind("up.txt\t" + std::to_string(text.size()) + "B\tUp\t", 0), 0u) << hist;
  EXPECT_NE(hist.find("\tECHO-HOST\tテキスト送信\t"), std::string::npos) << hist;
}

TEST_F(ProgramTextUpload, TheClipboardGoesOutWithoutAHistoryLineAndTooMuchIsRefused) {
  static std::string clip;
  updownHooks.clipboardText = []() -> std::optional<std::string> { return clip; };
  StartEchoingHost();
  // 65536 bytes or more: error 7, nothing sent.
  clip.assign(kClipboardMax, 'x');
  EXPECT_EQ(ProcessClipboardUpload(), 0);
  ASSERT_FALSE(quiet.boxes.empty());
  EXPECT_EQ(quiet.boxes.back().text, "未知のエラーが発生しました。");
  // Then a clipboard text that fits; the host's capture holds only it, so
  // the refused one sent nothing before it.
  clip = jcode::Utf8ToSjis("貼り付け\n");
  EXPECT_EQ(ProcessClipboardUpload(), 1);
  stop = true;
  host.join();
  EXPECT_EQ(jcode::SjisToUtf8(wire), "貼り付け\r");
  EXPECT_EQ(ReadWholeFile(dir.File("TRANHIST.TXT")), "");
  updownHooks = UPDOWNHOOKS{};
}

}  // namespace
