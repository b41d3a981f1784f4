// A host floods the line while the real frame window shows the call: the
// event loop keeps running (no gap of half a second between timer ticks,
// so the window answers input), and the stock holds every line the host
// sent, in order.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "shell/config.h"
#include "shell/frame_window.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "stock/codevram.h"
#include "stock/stock.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "terminal/dispatch.h"
#include "terminal/mybitmap.h"

namespace {

constexpr int kFloodMiB = 8;
constexpr int kLimitMs = 60000;
constexpr int kTickMs = 20;
constexpr qint64 kMaxGapMs = 500;

TEST(FloodWindow, TheWindowKeepsRunningAndTheStockKeepsEveryLine) {
  TestApp app;
  TempDir dir;
  ui::ScopedRecordingFacade boxes;
  REGISTRY::ResetForTest();
  HOSTINI::ResetForTest();
  STOCK::ResetForTest();
  MYBITMAP::ResetForTest();
  COMPORT::ResetForTest();
  CLIENT::ResetForTest();
  TAPISUB::ResetForTest();
  ResetOnlineForTest();
  SetConfigDir(dir.File("config"));
  SetDataDir(dir.File("data"));
  config.SetDefault();
  configBackup = config;
  ASSERT_TRUE(MakeDirs(dir.File("data")));

  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port), "--flood",
                          std::to_string(kFloodMiB)},
                         port, &error))
      << error;
  HOSTPROPERTY p;
  p.SetDefault();
  std::strcpy(p.szName, "FLOOD");
  p.ModemType = MODEM_TELNET;
  std::strcpy(p.DialNo, "127.0.0.1");
  std::snprintf(p.PortName, sizeof p.PortName, "%d", port);
  ASSERT_TRUE(p.SaveRegistry());
  ASSERT_TRUE(HOSTINI::AppendHost(p.szName, 1));

  // Room for every line of the flood (about 72 bytes each).
  const unsigned long lines = (unsigned long)(kFloodMiB) * 1024 * 1024 / 72 / 100 * 100 + 20000;
  ASSERT_EQ(STOCK::Create(dir.File("data/flood.stk"), lines, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));

  bool wasOnline = false, ended = false;
  {
    FRAMEWINDOW frame;
    frame.resize(900, 600);
    frame.show();
    auto frameOnline = frameHooks.onlineChanged;
    frameHooks.onlineChanged = [&](int online) {
      frameOnline(online);
      if (online) wasOnline = true;
      if (!online && wasOnline) ended = true;
    };
    CLIENT::Create();
    CLIENT::StartPortAccess();
    TAPISUB::Install();

    QElapsedTimer clock, sinceTick;
    clock.start();
    sinceTick.start();
    qint64 maxGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      if (wasOnline && !ended) maxGap = std::max(maxGap, sinceTick.elapsed());
      sinceTick.restart();
    });
    tick.start(kTickMs);
    QTimer::singleShot(0, [] { TAPISUB::Dial("FLOOD"); });
    while (!ended && clock.elapsed() < kLimitMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(wasOnline) << (boxes.rec.boxes.empty() ? "" : boxes.rec.boxes.back().text);
    ASSERT_TRUE(ended) << "the call did not end within the limit";
    EXPECT_LT(maxGap, kMaxGapMs) << "the event loop stood still during the flood";
    RecordProperty("maxGapMs", int(maxGap));
    CLIENT::Destroy();
  }

  // Every numbered line, in order, from the first on.
  STOCK::Save();
  int count = 0, last = -1, outOfOrder = 0;
  CODEVRAM cv = cvOldest;
  for (;;) {
    const char* t = cv.Item()->Text();
    const std::string text(t, strnlen(t, size_t(STOCK::cColumn)));
    const size_t at = text.find("BBS-");
    if (at != std::string::npos && at + 10 <= text.size()) {
      const int n = std::atoi(text.c_str() + at + 4);
      if (n != last + 1) ++outOfOrder;
      last = n;
      ++count;
    }
    if (cv.IsNewest()) break;
    ++cv;
  }
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_GT(count, kFloodMiB * 1024 * 1024 / 80);
  EXPECT_EQ(count, last + 1);
  STOCK::ResetForTest();
  MYBITMAP::ResetForTest();
  TAPISUB::ResetForTest();
  ResetOnlineForTest();
  ResetDirsForTest();
}

}  // namespace
