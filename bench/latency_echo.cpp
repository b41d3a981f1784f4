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
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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

  using clock = std::chrono::steady_clock;
  std::vector<double> ms;
  clock::time_point sent;
  bool waiting = false;
  CLIENT::hooks.receiversReceived = [&](const char* bytes, int n) {
    if (!waiting || !std::memchr(bytes, 'x', size_t(n))) return;
    waiting = false;
    ms.push_back(std::chrono::duration<double, std::milli>(clock::now() - sent).count());
    COMPORT::Send('\b');  // keeps the host's input line short
    if (int(ms.size()) >= samples) app.quit();
  };
  // After the host's opening, a key every 150-450 ms, at moments unrelated
  // to the receive timer's phase.
  QTimer next;
  QObject::connect(&next, &QTimer::timeout, [&] {
    if (waiting) return;  // the echo of the last key has not come yet
    std::this_thread::sleep_for(std::chrono::milliseconds(std::rand() % 300));
    waiting = true;
    sent = clock::now();
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
  if (ms.empty()) {
    std::fprintf(stderr, "no echo came back\n");
    return 1;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("samples %zu  median %.2f ms  worst %.2f ms\n", ms.size(), ms[ms.size() / 2], ms.back());
  return 0;
}
