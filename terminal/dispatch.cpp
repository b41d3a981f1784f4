// The receive dispatcher (see dispatch.h).
#include "terminal/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "platform/debuglog.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

int fPortAccess = 0;
int msPortTimer = 300;
TICK timeAutoHangup = 0;
WAITER* pNoCarrierWaiter = nullptr;
WAITER* pZmodemWaiter = nullptr;
int autoDetectState = 0;
TICK timeDetect = 0;
int ctrlSkipState = 0;
int cLineFeedScroll = 0;
int cInQueueCount = 0;
long long cDispatchPasses = 0;

int CLIENT::secAutoHangup = 0;
WAITER* CLIENT::pWaitEvent = nullptr;
DISPATCHHOOKS CLIENT::hooks;

namespace {

constexpr int kTimerSlowest = 300;
constexpr int kTimerStart = 200;
constexpr int kTimerFast = 10;
constexpr int kTimerHalveAbove = 75;
constexpr TICK kDetectMs = 1000;
constexpr int kScrollBarEvery = 16;
// What one pass takes at most while the reader holds more (see DataPass).
constexpr size_t kPassBytes = 131072;
constexpr TICK kPassMs = 8;
constexpr size_t kStreamBytes = 4096;
constexpr int kStreamWaitMs = 1;

const char kNoCarrier[] = "NO CARRIER\r\n";
const char kCRLF[] = "\r\n";

// Timer 1 and the zero-interval timer of the self-posted pass; null without
// a QCoreApplication.
QTimer* timer1 = nullptr;
QTimer* timerNext = nullptr;
// Single shot, for the moment a script's wait or sleep is due.
QTimer* timerDue = nullptr;
// One wake-up call from the reader is queued at a time.
std::atomic<bool> wakeQueued{false};
// The pass is running (Show may let events run; a pass must not start inside
// another).
int fInDispatch = 0;
// What one pass took from the port, for the add-in receivers; filled only
// while receivers are installed.  It grows when a pass takes more than one
// refill.
std::vector<char> addinBuffer;

TICK Now() { return CLIENT::hooks.tick ? CLIENT::hooks.tick() : GetTick(); }

// When an idle pass last committed the stock.
TICK lastCommit = 0;
constexpr TICK kCommitQuietMs = 250;
constexpr TICK kCommitEveryMs = 2000;

// The pass ended because a byte ended the script's wait.
bool scriptWaitEnded = false;
// Passes run back to back for ended waits before the event loop gets a turn.
constexpr int kScriptPassesInARow = 8;

bool ScriptExecuting() { return CLIENT::hooks.scriptExecuting && CLIENT::hooks.scriptExecuting(); }
bool HideDisplay() { return CLIENT::hooks.scriptHideDisplay && CLIENT::hooks.scriptHideDisplay(); }
bool ScriptBusy() { return CLIENT::hooks.scriptBusy && CLIENT::hooks.scriptBusy(); }
// Whether the byte ended the script's wait; the next pass then runs at once.
bool ScriptReceive(char c) {
  if (!CLIENT::hooks.scriptReceive || !CLIENT::hooks.scriptReceive(c)) return false;
  scriptWaitEnded = true;
  return true;
}

// Runs a transfer hook, or notes that the transfer is not built.
void StartTransfer(const std::function<bool()>& hook, const char* notAvailable) {
  if (hook)
    hook();
  else
    DebugLog(notAvailable);
}

void Hangup() {
  if (CLIENT::hooks.hangup) {
    CLIENT::hooks.hangup();
  } else {
    LOG::End();
    COMPORT::Close();
    fOnline = 0;
  }
  CLIENT::ResetReceiveState();
}

void SetTimer1(int ms) {
  if (timer1) timer1->start(ms);
}

// Paints what the pass wrote and puts the caret back.
void Refresh() {
  if (HideDisplay()) return;
  pBitmapCur->Show();
  if (pBitmapCur->painter.caret) pBitmapCur->painter.caret(true);
}

void HideCaret() {
  if (!HideDisplay() && pBitmapCur->painter.caret) pBitmapCur->painter.caret(false);
}

// Bytes gathered for one consumer and handed over in runs: the log appends
// runs of plain text in one step, the screen copies runs of printable bytes
// in one step.
class ByteRun {
 public:
  using Deliver = void (*)(const char* p, size_t n);
  explicit ByteRun(Deliver deliver) : deliver_(deliver) {}
  void Add(char c) {
    if (n_ == sizeof buf_) Flush();
    buf_[n_++] = c;
  }
  // At most one refill at a time.
  void Add(const char* p, size_t n) {
    if (n_ + n > sizeof buf_) Flush();
    std::memcpy(buf_ + n_, p, n);
    n_ += n;
  }
  void Flush() {
    if (n_ > 0) deliver_(buf_, n_);
    n_ = 0;
  }

 private:
  Deliver deliver_;
  char buf_[COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK];
  size_t n_ = 0;
};

// The log still sees every byte before the screen does and before any hook
// the pass calls for a later byte, so its run is handed over before those.
ByteRun logRun([](const char* p, size_t n) { LOG::Put(p, n); });

// Step 7.1: a pass that found nothing to take.
void IdlePass() {
  LOG::FlushCache();
  // Committing the stock's new lines flushes them to disk on this thread.
  // While the host is talking (a byte came within kCommitQuietMs) that is
  // done at most every kCommitEveryMs, so an answer to the next prompt
  // rarely waits behind a flush; once the line is quiet, at once.
  const TICK now = Now();
  if (now - timeAutoHangup >= kCommitQuietMs || now - lastCommit >= kCommitEveryMs) {
    STOCK::SaveComm(0);
    lastCommit = now;
  }
  if (COMPORT::fReceivedVtxBinaryStartup) {
    COMPORT::fReceivedVtxBinaryStartup = 0;
    StartTransfer(CLIENT::hooks.autoVtxBinary, "videotex binary transfer not available\n");
    timeAutoHangup = Now();
    return;
  }
  if (CLIENT::pWaitEvent) {
    if (int r = CLIENT::pWaitEvent->Process('\0'); r > 0 && CLIENT::hooks.playUser) CLIENT::hooks.playUser(r - 1);
  }
  if (msPortTimer < kTimerSlowest) {
    msPortTimer = std::min(msPortTimer * 2, kTimerSlowest);
    SetTimer1(msPortTimer);
  }
  if (ScriptExecuting()) ScriptReceive('\0');
  if (CLIENT::secAutoHangup > 0 && fOnline &&
      Now() - timeAutoHangup > TICK(CLIENT::secAutoHangup) * 60000u) {
    DebugLog("auto-hangup\n");
    Hangup();
  }
  if (CLIENT::hooks.receiversIdled) CLIENT::hooks.receiversIdled();
}

// Step 7.2: a pass with bytes.  Returns when the port is empty or a detection
// ended the pass.
void DataPass() {
  timeAutoHangup = Now();
  if (CLIENT::hooks.received) CLIENT::hooks.received();
  HideCaret();
  cInQueueCount = COMPORT::cbThreadRead;
  if (msPortTimer > kTimerHalveAbove) {
    msPortTimer /= 2;
    SetTimer1(msPortTimer);
  }
  // An AT modem, also kind 0 on this system, reports the lost call as text.
  const bool carrierWatch = (hostprop.ModemType == MODEM_AT || hostprop.ModemType == MODEM_TAPI) && fInQueueMax == 0 &&
                            pNoCarrierWaiter;
  const bool claimed = CLIENT::hooks.addinClaimed && CLIENT::hooks.addinClaimed();
  bool script = ScriptExecuting();
  bool hidden = HideDisplay();
  const bool otherScreen = pBitmapCur != &bitmap;
  // The screen's run is handed over before anything else the pass does that
  // could see the screen, and the log's run before it.
  static ByteRun run([](const char* p, size_t n) {
    logRun.Flush();
    pBitmapCur->Input(p, n);
  });

  // Without an add-in claim, the carrier watch, sound events, a script, a
  // hidden display or another screen, a byte from 0x20 on outside a control
  // sequence only goes to the add-in buffer, the log and the screen: such
  // runs are taken from the queue in one step.
  const bool runsPossible = !claimed && !carrierWatch && !otherScreen;
  // While the reader holds more, the pass takes further refills, up to a
  // budget of bytes and time: a flood then costs one paint and one trip
  // through the event loop per budget instead of per refill.  Only plain
  // reception does this; a script, a hidden display or an add-in gets the
  // stream one refill per pass as before.
  const TICK passStart = Now();
  size_t taken = 0;
  auto refillAgain = [&]() {
    taken += static_cast<size_t>(COMPORT::cchReceived);
    if (!runsPossible || script || hidden || CLIENT::pWaitEvent || !fOnline || !fPortAccess) return false;
    if (autoDetectState != 0 || taken >= kPassBytes || Now() - passStart >= kPassMs) return false;
    // In a stream (this pass has taken a few refills already) the next
    // bytes are usually a moment away: wait that moment here rather than
    // going round the event loop and being woken by the reader.
    if (COMPORT::cbThreadRead <= 0 && (taken < kStreamBytes || !COMPORT::WaitReceive(kStreamWaitMs))) return false;
    COMPORT::DoReceive();
    return COMPORT::IsReceived() != 0;
  };
  while (COMPORT::IsReceived() || refillAgain()) {
    if (runsPossible && ctrlSkipState == 0 && !script && !hidden && !CLIENT::pWaitEvent) {
      const char* p = COMPORT::szReceived + COMPORT::iTakeout;
      const char* end = COMPORT::szReceived + COMPORT::cchReceived;
      const char* q = p + PrintableRun(p, static_cast<size_t>(end - p));
      if (q > p) {
        const size_t k = static_cast<size_t>(q - p);
        if (CLIENT::hooks.receiversReceived) addinBuffer.insert(addinBuffer.end(), p, q);
        logRun.Add(p, k);
        run.Add(p, k);
        COMPORT::iTakeout += static_cast<int>(k);
        continue;
      }
    }
    const unsigned char b = static_cast<unsigned char>(COMPORT::Get());
    if (CLIENT::hooks.receiversReceived) addinBuffer.push_back(static_cast<char>(b));
    if (claimed) continue;

    if (carrierWatch && pNoCarrierWaiter->Process(static_cast<char>(b)) > 0) {
      autoDetectState = 1;
      run.Flush();
      pBitmapCur->Input('\n');
      LOG::Put('\n');
      timeDetect = Now();
      Refresh();
      return;
    }
    if (CLIENT::pWaitEvent) {
      if (int r = CLIENT::pWaitEvent->Process(static_cast<char>(b)); r > 0 && CLIENT::hooks.playUser) {
        logRun.Flush();
        CLIENT::hooks.playUser(r - 1);
      }
    }
    if (hostprop.AutoBPLUS && b == 0x05) {
      run.Flush();
      if (CLIENT::IsAutoBplusOk()) {
        Refresh();
        StartTransfer(CLIENT::hooks.autoBplus, "B Plus transfer not available\n");
        timeAutoHangup = Now();
        return;
      }
    }
    if (hostprop.AutoZmodem && b == 0x18) {
      run.Flush();
      pZmodemWaiter = new (std::nothrow) WAITER(kCRLF, 0);
      if (pZmodemWaiter) pZmodemWaiter->Link("B00");
      autoDetectState = 2;
      timeDetect = Now();
      Refresh();
      return;
    }

    logRun.Add(static_cast<char>(b));
    switch (ctrlSkipState) {
      case 0:
        if (b < 0x20 && hostprop.RemoveCtrls && b != 13 && b != 10 && b != 9 && b != 5 && b != 8) {
          if (b == 0x1B) ctrlSkipState = 1;
          break;
        }
        if (!hidden) {
          if (script || otherScreen) {
            run.Flush();
            pBitmapCur->Input(static_cast<char>(b));
          } else {
            run.Add(static_cast<char>(b));
          }
        }
        if (b == 10 && otherScreen) {
          logRun.Flush();
          if (++cLineFeedScroll >= kScrollBarEvery && !(CLIENT::hooks.leftButtonDown && CLIENT::hooks.leftButtonDown())) {
            cLineFeedScroll = 0;
            if (bitmap.painter.scrollBarChanged) bitmap.painter.scrollBarChanged();
          }
        }
        if (script) {
          logRun.Flush();
          if (ScriptReceive(static_cast<char>(b))) {
            // The wait ended: the statements after it run on the next pass,
            // before the bytes after this one are taken.  The screen is
            // painted after that pass (ProcessPortInput), so an answer to a
            // prompt does not wait for the paint.
            run.Flush();
            LOG::CheckLimit();
            return;
          }
          // The script may have ended or hidden the display.
          script = ScriptExecuting();
          hidden = HideDisplay();
        }
        break;
      case 1:
        ctrlSkipState = b == '[' ? 2 : 0;
        break;
      default:
        if (!(b > 0x20 && !(b >= 0x40 && b <= 0x5A) && !(b >= 0x61 && b <= 0x7A))) ctrlSkipState = 0;
        break;
    }
  }
  run.Flush();
  Refresh();
  LOG::CheckLimit();
}

// Step 8: CAN was seen; CR LF or "B00" decides within a second.
void ZmodemPass() {
  if (Now() - timeDetect < kDetectMs) {
    if (!pZmodemWaiter) return;
    const int r = pZmodemWaiter->Process();
    if (r == 1 || r == 2) {
      delete pZmodemWaiter;
      pZmodemWaiter = nullptr;
      autoDetectState = 0;
      const bool dialog = CLIENT::hooks.dialogOpen ? CLIENT::hooks.dialogOpen() : ui::ModalDepth() > 0;
      if (r == 2 && !dialog) {
        Refresh();
        StartTransfer(CLIENT::hooks.autoZmodem, "ZMODEM transfer not available\n");
        timeAutoHangup = Now();
      }
    }
    return;
  }
  delete pZmodemWaiter;
  pZmodemWaiter = nullptr;
  autoDetectState = 0;
}

// Step 9: "NO CARRIER" was seen; silence for a second hangs up.
void NoCarrierPass() {
  if (COMPORT::IsReceived()) {
    autoDetectState = 0;
    return;
  }
  if (Now() - timeDetect >= kDetectMs) {
    DebugLog("NO CARRIER received\n");
    Hangup();
  }
}

void Pass() {
  if (CLIENT::hooks.ddeWaiting && CLIENT::hooks.ddeWaiting()) {
    DebugLog("ddesub waiting\n");
    return;
  }
  if (!fPortAccess) return;
  if (ScriptExecuting() && CLIENT::hooks.scriptProcess) CLIENT::hooks.scriptProcess();
  // Between two slices of its statements the script takes no bytes: they
  // wait in the port for its next wait.
  if (ScriptExecuting() && ScriptBusy()) return;
  if (!fOnline) {
    if (ScriptExecuting()) ScriptReceive('\0');
    return;
  }
  if (CLIENT::hooks.updateCommStatus) CLIENT::hooks.updateCommStatus();
  if (CLIENT::hooks.timerRefresh) CLIENT::hooks.timerRefresh();
  COMPORT::DoReceive();
  addinBuffer.clear();

  switch (autoDetectState) {
    case 0:
      if (!COMPORT::IsReceived())
        IdlePass();
      else
        DataPass();
      break;
    case 2: ZmodemPass(); break;
    default: NoCarrierPass(); break;
  }

  if (!addinBuffer.empty() && CLIENT::hooks.receiversReceived)
    CLIENT::hooks.receiversReceived(addinBuffer.data(), static_cast<int>(addinBuffer.size()));
  // A backlog is drained by a pass that runs as soon as the events already
  // waiting were handled, not after the timer's period.
  if (COMPORT::cbThreadRead > 0 && timerNext && fPortAccess) timerNext->start();
}

}  // namespace

void ProcessPortInput() {
  // Show may let pending events run while it scrolls line by line; a pass
  // started from there would write into the screen it is painting.
  if (fInDispatch || MYBITMAP::fLettingEventsRun) return;
  fInDispatch = 1;
  // A pass that ended because a byte ended the script's wait is followed at
  // once by the next one, which begins with the statements after the wait
  // (an answer to a prompt goes out without a trip through the event loop).
  // With an event loop, a few such passes run back to back, then the rest
  // waits for the queued pass, behind the events already waiting; without
  // one, the caller runs every pass itself.
  bool paintOwed = false;
  for (int n = 0;; ++n) {
    scriptWaitEnded = false;
    ++cDispatchPasses;
    Pass();
    if (!scriptWaitEnded) break;
    paintOwed = true;
    if (!timerNext || n + 1 >= kScriptPassesInARow) {
      CLIENT::QueuePass();
      break;
    }
  }
  if (paintOwed) Refresh();
  fInDispatch = 0;
}

void CLIENT::StartPortAccess() {
  fPortAccess = 1;
  msPortTimer = kTimerStart;
  SetTimer1(msPortTimer);
}

void CLIENT::SetPortAccessFast() {
  if (!fPortAccess) return;
  msPortTimer = kTimerFast;
  SetTimer1(msPortTimer);
}

void CLIENT::QueuePass() {
  if (timerNext) timerNext->start();
}

void CLIENT::PassIn(int64_t ms) {
  if (!timerDue) return;
  const int in = static_cast<int>(std::clamp<int64_t>(ms, 0, 24 * 3600 * 1000));
  // A pass due sooner stays: the pass it runs arms the next due moment.
  if (timerDue->isActive() && timerDue->remainingTime() <= in) return;
  timerDue->start(in);
}

void CLIENT::StopPortAccess() {
  if (!fPortAccess) return;
  fPortAccess = 0;
  SetTimer1(kTimerSlowest);
}

void CLIENT::BeforeCommand() {
  if (!fPortAccess) return;
  msPortTimer = kTimerSlowest;
  SetTimer1(msPortTimer);
}

void CLIENT::Create() {
  if (!pNoCarrierWaiter) pNoCarrierWaiter = new (std::nothrow) WAITER(kNoCarrier, 0);
  if (QCoreApplication::instance() && !timer1) {
    timer1 = new QTimer();
    QObject::connect(timer1, &QTimer::timeout, [] { ProcessPortInput(); });
    timer1->start(msPortTimer);
    timerNext = new QTimer();
    timerNext->setSingleShot(true);
    timerNext->setInterval(0);
    QObject::connect(timerNext, &QTimer::timeout, [] { ProcessPortInput(); });
    timerDue = new QTimer();
    timerDue->setSingleShot(true);
    timerDue->setTimerType(Qt::PreciseTimer);
    QObject::connect(timerDue, &QTimer::timeout, [] { ProcessPortInput(); });
  }
  // Called by the reader thread when data lands in its empty buffer: one
  // queued call runs a pass at once instead of after up to 300 ms.
  QTimer* target = timer1;
  COMPORT::onDataArrived = [target] {
    if (!target || wakeQueued.exchange(true)) return;
    QMetaObject::invokeMethod(
        target,
        [] {
          wakeQueued = false;
          ProcessPortInput();
        },
        Qt::QueuedConnection);
  };
}

void CLIENT::Destroy() {
  COMPORT::onDataArrived = nullptr;
  delete timer1;
  delete timerNext;
  delete timerDue;
  timer1 = timerNext = timerDue = nullptr;
  wakeQueued = false;
  delete pNoCarrierWaiter;
  pNoCarrierWaiter = nullptr;
  delete pZmodemWaiter;
  pZmodemWaiter = nullptr;
}

void CLIENT::ResetReceiveState() {
  autoDetectState = 0;
  ctrlSkipState = 0;
  delete pZmodemWaiter;
  pZmodemWaiter = nullptr;
  if (pNoCarrierWaiter) pNoCarrierWaiter->Reset(0);
}

bool CLIENT::IsAutoBplusOk() {
  CODEVRAM cv = MYBITMAP::cvCur;
  if (cv.IsOldest()) return false;
  --cv;
  return cv.Item()->Text()[0] != 0;
}

void CLIENT::ResetForTest() {
  Destroy();
  fPortAccess = 0;
  msPortTimer = kTimerSlowest;
  timeAutoHangup = 0;
  timeDetect = 0;
  lastCommit = 0;
  cLineFeedScroll = 0;
  cInQueueCount = 0;
  cDispatchPasses = 0;
  fInDispatch = 0;
  secAutoHangup = 0;
  pWaitEvent = nullptr;
  hooks = DISPATCHHOOKS{};
  addinBuffer.clear();
  ResetReceiveState();
}
