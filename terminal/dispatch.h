// The receive dispatcher: ProcessPortInput and the CLIENT port-access
// operations.
//
// ProcessPortInput is the one place where received bytes are taken on the
// user-interface thread.  Each pass pulls what the port has gathered
// (COMPORT::DoReceive, at most one take-out buffer) and gives every byte, in
// this order, to: the add-in buffer, the carrier-loss watch ("NO CARRIER"),
// the sound-event matchers, the B Plus (ENQ) and ZMODEM (CAN, then "B00")
// start detection, the log, the control-code filter, the screen (pBitmapCur,
// which writes the stock) and the running script.  The screen is painted
// once per pass, after the loop.  Idle passes flush the log and the stock,
// slow the timer down and hang up an idle line.
//
// Pacing.  Timer 1 (a QTimer owned here) runs the pass every msPortTimer ms:
// the period halves on a pass with data while above 75 ms and doubles on an
// idle pass up to 300 ms.  While the reader still holds bytes after a pass, a
// queued zero-interval timer runs the next pass as soon as the events already
// waiting (input, paints) have been handled.  To keep an idle line quick, the
// port reader calls COMPORT::onDataArrived when data lands in its empty
// buffer, and that queues one call of the pass into the user-interface
// thread.  Without a QCoreApplication (quillnet-tool, tests) there is no
// timer: the caller runs passes itself.
//
// autoDetectState:
//
//     0 normal --"NO CARRIER\r\n" (ModemType 4)--> 1 --1000 ms silence--> hang up
//       ^  ^                                       |
//       |  +------------- any received byte -------+
//       |
//       +---- CR LF, "B00" (starts ZMODEM) or 1000 ms ---- 2 <--CAN (AutoZmodem)-- 0
//
// ctrlSkipState (RemoveCtrls): 0 --ESC--> 1 --"["--> 2 --letter, "@", space
// or control--> 0; 1 --anything else--> 0.  Both states are reset when a call
// begins and at hang-up (CLIENT::ResetReceiveState).
//
// The parts the pass calls that belong to other subsystems are reached
// through CLIENT::hooks.  Until those exist, the defaults are small
// stand-ins: no script runs, the transfers are reported as not available, no
// add-in claims the stream, and hanging up closes the port.
//
// User-interface thread only, apart from COMPORT::onDataArrived, which only
// queues a call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/tick.h"

class WAITER;

struct DISPATCHHOOKS {
  // Clock of the pass (auto-hangup, the detection timeouts).  Empty: GetTick.
  std::function<TICK()> tick;
  // A DDE conversation waits for an answer: the pass returns at once.
  std::function<bool()> ddeWaiting;
  // The status line and the call timer display, refreshed every online pass.
  std::function<void()> updateCommStatus, timerRefresh;
  // The running script: whether one runs, whether it hid the display, one
  // step of it, and a received byte (0: a tick without a byte).  Empty: no
  // script runs.  scriptReceive returns whether the byte ended a wait: the
  // pass then ends after that byte and the next one runs at once, beginning
  // with scriptProcess, so the statements after a match run before the next
  // byte is seen.  scriptBusy: the script stopped in the middle of its
  // statements (a time slice ended) and takes no bytes until it goes on.
  std::function<bool()> scriptExecuting, scriptHideDisplay, scriptBusy;
  std::function<void()> scriptProcess;
  std::function<bool(char c)> scriptReceive;
  // Transfers started by the host.  Each returns whether it ran.  Empty:
  // the transfer is not available (a debug-log line says so).
  std::function<bool()> autoBplus, autoZmodem, autoVtxBinary;
  // The n-th sound-event trigger matched.
  std::function<void(int n)> playUser;
  // Add-in receivers: whether one claimed the received stream, the bytes of
  // a pass for the raw receivers, and an idle pass.
  std::function<bool()> addinClaimed;
  std::function<void(const char* bytes, int n)> receiversReceived;
  std::function<void()> receiversIdled;
  // Hangs the line up (the dialler's hang-up).  Empty: ends the log, closes
  // the port and goes offline.
  std::function<void()> hangup;
  // A dialog is open over the frame window (ZMODEM does not start then).
  // Empty: a modal dialog of the facade is running.
  std::function<bool()> dialogOpen;
  // The left mouse button is down (the main screen's scroll bar is then not
  // refreshed).  Empty: not down.
  std::function<bool()> leftButtonDown;
  // The screen received data on this pass (the view's received-data mark).
  std::function<void()> received;
};

class CLIENT {
 public:
  // ---- port access ----------------------------------------------------------
  // The terminal takes received data: fPortAccess = 1, timer 1 at 200 ms.
  static void StartPortAccess();
  // A script wants its output followed closely: timer 1 at 10 ms.
  static void SetPortAccessFast();
  // A transfer, the dialler or a modal question takes the port: fPortAccess
  // = 0 and timer 1 at 300 ms (msPortTimer keeps its value).
  static void StopPortAccess();
  // Every command of the client window runs this first: timer 1 at 300 ms.
  static void BeforeCommand();
  // A pass as soon as the events already waiting have run (a script's wait
  // ended, or its time slice did).  Without a QCoreApplication: nothing.
  static void QueuePass();
  // A pass in ms milliseconds (a script's time-out, sleep or quiet time is
  // due then), unless one is already due sooner.
  static void PassIn(int64_t ms);

  // The client window was created: makes the "NO CARRIER" matcher, installs
  // COMPORT::onDataArrived (call it while the port is closed) and, when a
  // QCoreApplication exists, timer 1.
  static void Create();
  // Stops the timer, removes the wake-up and frees the matchers.
  static void Destroy();

  // The carrier-loss and ZMODEM detection and the control-code filter back
  // to normal; for a new call and at hang-up.
  static void ResetReceiveState();
  // Whether ENQ may start B Plus: the stock line before the cursor line has a
  // character in its first cell.
  static bool IsAutoBplusOk();

  // Back to the state before Create (tests).  Also empties the hooks.
  static void ResetForTest();

  static int secAutoHangup;  // idle minutes before hang-up, 0 = never
  static WAITER* pWaitEvent; // sound-event matchers, or null
  static DISPATCHHOOKS hooks;
};

// One pass of the dispatcher.
void ProcessPortInput();

// Passes that ran since the start (tests, benchmarks).
extern long long cDispatchPasses;

extern int fPortAccess;        // the terminal owns received data
extern int msPortTimer;        // period of timer 1, 10 to 300 ms
extern TICK timeAutoHangup;    // last received byte or transfer
extern WAITER* pNoCarrierWaiter;
extern WAITER* pZmodemWaiter;
extern int autoDetectState;    // 0 normal, 1 "NO CARRIER" seen, 2 ZMODEM suspected
extern TICK timeDetect;        // when state 1 or 2 began
extern int ctrlSkipState;      // 0 normal, 1 after ESC, 2 inside ESC [
extern int cLineFeedScroll;    // line feeds while another screen is current
extern int cInQueueCount;      // the reader's pending bytes at the last pass with data
