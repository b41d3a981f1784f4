// TAPISUB: turning "connect to this host" into an open line, and back.
//
// Dial(name) is the single entry for the menu, the host list, the command
// line and scripts.  It loads the host's properties, makes sure the host's
// stock file is open, asks for a missing number, opens the line by the host's
// connection kind and dials, then puts the program on line: the stock's
// online period, the connect line on the screen (tag 3, mark 0xFE), the log,
// the host's script.  Hangup() undoes it and, when line errors were seen,
// offers countermeasures.
//
// Connection kinds (HOSTPROPERTY::ModemType):
//   0  modem of a telephony service.  Linux has none, so it is an AT-command
//      modem on the environment's port, speed and init string, with a dial
//      command from PhoneLine (0 ATDP, 1 ATDT, 2 ATD, 3 AT$D).
//   1  direct serial line: open and set the line, nothing is dialled.
//   2  telnet (TELNET::ConnectSocket); a dial-up entry is not available here.
//   3  no line: only the host's script is started.
//   4  AT-command modem on the host's port, speed and init strings.
//
// The AT dialling is a DIRECTDIAL: a state machine stepped by Tick() from a
// timer (first after 200 ms, then every 100 ms).  The user-interface library
// installs a dialling window (TAPISUB::hooks.dialingWindow) that drives it and
// offers its Redial and Cancel buttons; without one it runs from a QEventLoop
// when a QCoreApplication exists on this thread, and from plain sleeps
// otherwise, so headless runs and tests dial the same way.
//
// DIRECTDIAL states (the state time is the whole seconds since the state
// began; "expect" makes a new wait matcher for the named answers):
//
//   0 start --send "AT\r", expect OK--> 1
//   1 --OK, or >= 1 s and the port open > 2 s--> 2 (ModemInit sent) or 4
//   2 --OK--> 3 (ModemInit2 sent) or 4;  3 --OK--> 4
//   2, 3 --ERROR--> failed;  --3 s without answer--> Retry (to 0) / Cancel
//   4 dial: count the attempt, send command, prefix, number, digit, CR --> 5
//   5 --echoed CR or >= 1 s, expect the results--> 6
//   6 --CONNECT--> connected; --attempts reached MaxRedial--> failed;
//     --ERROR--> failed; --other result--> 8;
//     --DialTimeout--> send CR, state time starts again (a second expiry
//     without any answer counts as an answer other than CONNECT)
//   7 cancelling --"\r\n" or > 2 s--> failed
//   8 wait to redial --> 4 when > 1 s passed and Redial was pressed or the
//     seconds since the dial began reached DialPitch
//
// Everything here runs on the user-interface thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/tick.h"
#include "shell/hostprop.h"

class WAITER;

// What an AT dialling needs, fixed when it starts.  Texts are Shift_JIS.
struct DIALPARAMS {
  std::string hostName;
  std::string dialCommand;  // "ATDT", ...
  std::string prefix;       // the extension-line prefix (InterPhone), else empty
  std::string dialNo, dialNo2;
  std::string modemInit, modemInit2;
  int dialTimeout = 90;  // seconds
  int dialPitch = 0;     // seconds from one dial's start to the next
  int maxRedial = 999;   // attempts
  bool antiRedial = false;
};

class DIRECTDIAL {
 public:
  enum : int { RUNNING = 0, CONNECTED = 1, FAILED = 2 };
  enum : int {
    ST_START = 0, ST_WAIT_OK = 1, ST_INIT = 2, ST_INIT2 = 3, ST_DIAL = 4, ST_ECHO = 5, ST_RESULT = 6,
    ST_CANCELLING = 7, ST_WAIT_REDIAL = 8,
  };
  static constexpr int FIRST_TICK_MS = 200;
  static constexpr int TICK_MS = 100;

  explicit DIRECTDIAL(DIALPARAMS params);
  ~DIRECTDIAL();
  DIRECTDIAL(const DIRECTDIAL&) = delete;
  DIRECTDIAL& operator=(const DIRECTDIAL&) = delete;

  // One timer step.  RUNNING while the dialling goes on, then CONNECTED or
  // FAILED (and the same on every later call).  A call made while another
  // is still inside (a message box's own event loop) does nothing.
  int Tick();
  // The "ｷｬﾝｾﾙ" button: before dialling and while waiting to redial the
  // dialling fails at once; during a dial the modem is told to abandon it.
  void Cancel();
  // The "ﾘﾀﾞｲﾔﾙ(&R)" button: abandons a dial in progress and redials, or
  // redials at once while waiting; otherwise it beeps.
  void Redial();

  const DIALPARAMS& Params() const { return p; }
  int State() const { return state; }
  int Result() const { return result; }
  // The status line (UTF-8): "待機中", "モデム初期化中", "ダイヤル中", ...
  const std::string& Status() const { return status; }
  // The number of the current attempt as dialled (prefix, number, digit).
  const std::string& Number() const { return number; }
  int Attempts() const { return cAttempt; }
  // Whole seconds since the current dial began; -1 before the first dial.
  int SecondsElapsed() const;

 private:
  int Step(TICK now);
  void SetState(int s, TICK now);
  void Expect(std::initializer_list<const char*> patterns);
  int Poll();
  void SendCommand(const std::string& s);
  void Discard();
  int StateSeconds(TICK now) const;

  DIALPARAMS p;
  int state = ST_START;
  int result = RUNNING;
  std::string status;
  std::string number;
  int cAttempt = 0;
  TICK tStart = 0, tState = 0, tDial = 0;
  bool fDialled = false;
  bool fRedialRequested = false;
  bool fTimedOut = false;  // the DialTimeout of this attempt expired once
  bool fInTick = false;
  std::unique_ptr<WAITER> waiter;
};

// The countermeasures offered after line errors (the "文字化け対策" dialog).
struct COMMERRORCHOICE {
  enum : int { SMOOTH = 0, COLOR = 1, SPEED = 2, OTHER = 3, NOTHING = 4 };
  bool offerSmooth = false;  // "なめらかスクロールをOFFにする(&O)"
  bool offerColor = false;   // "電話が切れてからカラー構文を計算する(&B)"
  bool offerSpeed = false;   // "シリアルポートの速度を落とす(&S)"
  int choice = OTHER;        // preselected: the first offered of the three, else OTHER
  bool noMoreCheck = false;  // "今後は文字化けのチェックをしない(&D)"
};

struct TAPISUBHOOKS {
  // Asks for the number (telnet: the host name) of a host that has none.
  // False when cancelled.  *store: keep it in the host, else for this call only.
  std::function<bool(bool telnet, std::string* number, bool* store)> inputDialNo;
  // Runs the dialling window over a dial: it calls Tick from its timer
  // (first after FIRST_TICK_MS, then every TICK_MS), shows the figures after
  // each tick, ends when Tick no longer returns RUNNING and returns that.
  std::function<int(DIRECTDIAL& dial)> dialingWindow;
  // The hang-up window: calls drop(), after ms calls raise(), then closes.
  std::function<void(int ms, const std::function<void()>& drop, const std::function<void()>& raise)>
      hangupWindow;
  // The countermeasures dialog: false when closed without a choice.
  std::function<bool(COMMERRORCHOICE& choice)> commErrorWindow;
  // Chooses another serial port (0-based) after `failed` could not be
  // opened; -1 when cancelled.
  std::function<int(int failed)> selectPort;
  // Starts the host's script (a UTF-8 path).
  std::function<void(const std::string& path)> startScript;
  // Ends every running script: at hang-up, and before a dial the user asked
  // for (not one a script asked for).
  std::function<void()> stopScripts;
  // The redial event sound, the beep of a refused button, the help topic on
  // line errors.
  std::function<void()> playRedialSound, beep, helpOnErrors;
  // The call is up (after the connect line, the log and the script), and
  // the call has ended (after going off line): add-in events, stock backups.
  std::function<void()> connected, hungUp;
  // Last of all at a hang-up, once every script has ended: the script one
  // of them asked to run after the call.
  std::function<void()> hangupScript;
};

class TAPISUB {
 public:
  // Connects to the named host (Shift_JIS).  1 when connected (kind 3: when
  // its script was started), 0 otherwise; a failure leaves the program off
  // line with the port closed and the caption restored.  A telnet:// URL as
  // the name is an ad hoc telnet call to its address, as "(telnet接続)"
  // with that address typed; an address without one (or an ad hoc host) is
  // asked for through hooks.inputDialNo, and a telnet address so given may
  // carry its port (HOST:PORT, [IPV6]:PORT, telnet://HOST:PORT/).
  // A dial the user asks for (the menu, the host list, the command line)
  // first ends every running script; a script's own dial (byScript) does not.
  static int Dial(const char* hostName, bool byScript = false);
  // The record Dial uses for one of the three ad hoc connection names.
  static HOSTPROPERTY AdHocHost(const std::string& sjisName);
  // Ends the connection (also on carrier loss and remote disconnect).  Does
  // nothing unless on line.
  static void Hangup();
  // The status-line poll of the line: a carrier loss or a closed line while
  // on line hangs up.
  static void CheckLine();
  // CLIENT::hooks.hangup becomes Hangup; CLIENT::hooks.updateCommStatus,
  // when nobody else has set it, becomes CheckLine.
  static void Install();

  // The modem's dial command for PhoneLine 0..3 on kind 0.
  static const char* PhoneLineCommand(int phoneLine);
  // The speed rule of the countermeasure: 0 or above 38400 gives 38400, above
  // 19200 19200, above 9600 9600, else 2400.
  static int LowerSpeed(int bps);
  // What the countermeasures dialog offers for the current host and settings.
  static COMMERRORCHOICE CommErrorOffer();
  // Carries out a choice of the dialog (speed: host saved and message).
  static void ApplyCommErrorChoice(const COMMERRORCHOICE& choice);

  // Runs a dialling to its end: the window when installed, else a timer
  // loop.  CONNECTED or FAILED.
  static int RunDirectDial(DIRECTDIAL& dial);

  static void ResetForTest();

  static TAPISUBHOOKS hooks;
  // "/*": each dial appends one more digit, 0..9 and round again.
  static int fAntiRedialProtect;
  static int iAntiRedialDigit;  // the next digit to append
  // The dialling in progress (its window's), else null.
  static DIRECTDIAL* pDirectDial;
  static int fHangingUp;
};
