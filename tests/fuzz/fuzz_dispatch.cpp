// Fuzzes the receive dispatcher: arbitrary bytes go through ProcessPortInput
// into the screen over the in-memory stock, in chunks placed straight into
// the port's receive queue (no line), with the clock moving between passes so
// that the "NO CARRIER", ZMODEM and idle hang-up timings all come into play.
//
// Input layout: [flags: bit 0 RemoveCtrls, bit 1 ModemType 4, bit 2
// AutoZmodem, bit 3 AutoBPLUS, bit 4 a script runs (a ">" ends its wait and
// the pass), bit 5 it hides the
// display, bit 6 idle hang-up after one minute] [chunk length-1] [clock step
// per pass in 16 ms units] then the stream.
//
// After every pass: the dispatcher's states are in range, the timer period is
// in 10..300 ms, the add-in receivers got exactly the bytes taken from the
// queue, and the screen's cursors are live; with RemoveCtrls on, the script
// saw no control code other than CR, LF, TAB, BS and ENQ.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Live(CODEVRAM cv) { return cv.i >= 0 && cv.i < STOCK::cItemUsed && STOCK::Flat(cv) <= STOCK::Flat(cvNewest); }

TICK now = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size < 3) return 0;
  COMPORT::ResetForTest();
  CLIENT::ResetForTest();
  STOCK::ResetForTest();
  MYBITMAP::ResetForTest();
  COLLATE::ResetForTest();
  hostprop.SetDefault();
  config.SetDefault();

  const uint8_t flags = data[0];
  const size_t chunk = 1 + data[1] % COMPORT::RECEIVE_QUEUE;
  const TICK step = TICK(data[2]) * 16;
  data += 3;
  size -= 3;
  hostprop.RemoveCtrls = flags & 1;
  hostprop.ModemType = flags & 2 ? MODEM_AT : MODEM_TELNET;
  hostprop.AutoZmodem = flags & 4 ? 1 : 0;
  hostprop.AutoBPLUS = flags & 8 ? 1 : 0;
  const bool script = flags & 16, hidden = flags & 32;
  CLIENT::secAutoHangup = flags & 64 ? 1 : 0;

  now = 1000000;
  std::string taken, scriptBytes;
  CLIENT::hooks.tick = [] { return now; };
  WAITER::tickSource = [] { return now; };
  CLIENT::hooks.hangup = [] { fOnline = 0; };
  CLIENT::hooks.scriptExecuting = [script] { return script; };
  CLIENT::hooks.scriptHideDisplay = [hidden] { return hidden; };
  CLIENT::hooks.scriptReceive = [&scriptBytes](char c) {
    if (c) scriptBytes += c;
    return c == '>';  // a prompt ends the wait: the pass ends after it
  };
  CLIENT::hooks.receiversReceived = [&taken](const char* p, int n) { taken.append(p, size_t(n)); };
  CLIENT::hooks.autoZmodem = [] { return true; };
  CLIENT::hooks.autoBplus = [] { return true; };
  MYBITMAP::hooks.backlog = [] { return 0; };
  MYBITMAP::hooks.inputResting = [] { return true; };

  STOCK::CreateTempStockFile();
  bitmap.Reset(nullptr, 80, 24);
  CLIENT::Create();
  CLIENT::StartPortAccess();
  fOnline = 1;
  timeAutoHangup = now;

  size_t at = 0;
  std::string queued;  // bytes put into the queue so far
  for (int pass = 0; pass < 100000; ++pass) {
    if (!COMPORT::IsReceived() && at < size) {
      const size_t n = std::min(chunk, size - at);
      COMPORT::cchReceived = COMPORT::iTakeout = 0;
      std::memcpy(COMPORT::szReceived, data + at, n);
      COMPORT::cchReceived = int(n);
      queued.append(reinterpret_cast<const char*>(data + at), n);
      at += n;
    }
    ProcessPortInput();
    now += step;
    fOnline = 1;  // a hang-up ends nothing here: the stream goes on
    Check(autoDetectState >= 0 && autoDetectState <= 2);
    Check(ctrlSkipState >= 0 && ctrlSkipState <= 2);
    Check(msPortTimer >= 10 && msPortTimer <= 300);
    Check(Live(MYBITMAP::cvCur) && Live(bitmap.cvTop));
    Check(MYBITMAP::xchCur >= 0 && MYBITMAP::xchCur <= STOCK::cColumn);
    // The add-in buffer saw every byte taken from the queue, in order (the
    // ZMODEM wait takes bytes itself and hands none on).
    Check(taken.size() <= queued.size());
    if (!COMPORT::IsReceived() && at >= size && autoDetectState == 0) break;
  }
  if (hostprop.RemoveCtrls) {
    for (unsigned char c : scriptBytes) Check(c >= 0x20 || c == 13 || c == 10 || c == 9 || c == 8 || c == 5);
  }
  if (!hostprop.AutoZmodem && !hostprop.AutoBPLUS && hostprop.ModemType != MODEM_AT) Check(taken == queued);
  CLIENT::ResetForTest();
  WAITER::tickSource = nullptr;
  COMPORT::ResetForTest();
  return 0;
}
