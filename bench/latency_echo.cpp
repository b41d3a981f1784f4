// Keystroke-to-echo latency over telnet: a key goes out through the send
// path (COMPORT::Send) to a host on loopback that echoes what is typed, and
// the time until the receive pass that takes the echo is measured, with the
// dispatcher running from its timer in a Qt event loop as in the program.
//   latency_echo PORT [samples]   (a host echoing on 127.0.0.1:PORT, e.g.
//                                  quillnet-demohost --auto-login)
// Prints the median and the worst case.
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/latency_probe.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/dispatch.h"
#include "terminal/mybitmap.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: latency_echo PORT [samples]\n");
    return 2;
  }
  const int samples = argc > 2 ? std::atoi(argv[2]) : 50;
  QCoreApplication app(argc, argv);
  static ui::RecordingFacade quiet(true);
  ui::SetFacade(&quiet);
  char dir[] = "/tmp/quillnet-echo-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  if (!STOCK::Create(std::string(dir) + "/e.stk", 1000, 80, 0, 0, 0) || !STOCK::EnableWrite(1, 1)) return 1;
  bitmap.Reset(nullptr, 80, 24);
  hostprop.SetDefault();
  hostprop.ModemType = MODEM_TELNET;
  std::strcpy(hostprop.DialNo, "127.0.0.1");
  std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%s", argv[1]);
  fSyncTelnet = 1;
  CLIENT::Create();
  if (!TELNET::ConnectSocket()) return 1;
  fOnline = 1;
  CLIENT::StartPortAccess();

  LATENCYPROBE probe(samples);
  CLIENT::hooks.receiversReceived = [&](const char* bytes, int n) {
    if (!probe.Waiting() || !std::memchr(bytes, 'x', size_t(n))) return;
    const bool enough = probe.Taken();
    COMPORT::Send('\b');  // keeps the host's input line short
    if (enough) app.quit();
  };
  // After the host's opening, a key every 150-450 ms.
  QTimer next;
  QObject::connect(&next, &QTimer::timeout, [&] {
    if (probe.Waiting()) return;  // the echo of the last key has not come yet
    probe.Start();
    COMPORT::Send('x');
  });
  QTimer::singleShot(2500, [&] { next.start(150); });
  QTimer::singleShot(60000, [&] { app.quit(); });
  app.exec();
  COMPORT::Close();
  CLIENT::Destroy();
  STOCK::ResetForTest();
  std::string rm = std::string("rm -rf ") + dir;
  if (std::system(rm.c_str()) != 0) return 1;
  if (!probe.Report()) return 1;
  return 0;
}
