// Byte-to-screen latency on an idle line: the receive dispatcher runs from
// its timer in a Qt event loop over a pipe line; after the line has been
// quiet long enough for the timer to slow to 300 ms, one byte is written and
// the time until the pass that puts it on the screen ends is measured.
//   latency_idle_line [samples]   prints the median and the worst case
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/latency_probe.h"
#include "platform/fdline.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "stock/stock.h"
#include "terminal/dispatch.h"
#include "terminal/mybitmap.h"

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::atoi(argv[1]) : 30;
  QCoreApplication app(argc, argv);
  static ui::RecordingFacade quiet(true);
  ui::SetFacade(&quiet);
  char dir[] = "/tmp/quillnet-latency-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string stk = std::string(dir) + "/l.stk";
  if (!STOCK::Create(stk, 1000, 80, 0, 0, 0) || !STOCK::EnableWrite(1, 1)) return 1;
  bitmap.Reset(nullptr, 80, 24);
  int fds[2];
  if (pipe(fds) != 0) return 1;
  const int devnull = open("/dev/null", O_WRONLY);
  CLIENT::Create();
  FDLINE::Options opt;
  opt.ownFds = false;
  if (!COMPORT::Start(std::make_unique<FDLINE>(fds[0], devnull, opt))) return 1;
  fOnline = 1;
  CLIENT::StartPortAccess();

  LATENCYPROBE probe(samples);
  CLIENT::hooks.receiversReceived = [&](const char*, int) {
    if (probe.Taken()) app.quit();
  };
  // Every 700 ms (the line idle long enough for the timer to reach 300 ms),
  // one byte at a moment unrelated to the timer's phase.
  QTimer next;
  QObject::connect(&next, &QTimer::timeout, [&] {
    probe.Start();
    if (write(fds[1], "x", 1) != 1) app.quit();
  });
  next.start(700);
  app.exec();
  COMPORT::Close();
  CLIENT::Destroy();
  STOCK::ResetForTest();
  const bool answered = probe.Report("  timer period at the end " + std::to_string(msPortTimer) + " ms");
  std::string rm = std::string("rm -rf ") + dir;
  return std::system(rm.c_str()) == 0 && answered ? 0 : 1;
}
