// TELNET: a host reached over TCP with the telnet protocol.
//
// ConnectSocket opens the connection for the current host (hostprop.DialNo,
// hostprop.PortName) behind the cancellable connecting dialog and hands the
// socket to COMPORT as a SOCKETLINE.  From then on COMPORT::DoReceive passes
// every refill through ProcessTelnetConvert, which removes telnet commands
// from the data and answers option negotiation through COMPORT::SendSub; the
// port's own send paths double IAC and add NUL after CR (platform side).
//
// Negotiation follows the usual loop-preventing scheme: per option, four
// bits of this side's view (state WILL, wanted WILL, state DO, wanted DO) and
// two counters of replies still owed by the host (WILL/WONT and DO/DONT).
// The table is cleared for every connection; the counters carry over.
//
// Everything here runs on the user-interface thread, except the connect
// attempt's own worker (name lookup and the non-blocking connect).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/line.h"

// Set by the "/t" start-up switch: connect with a blocking connect, without
// the connecting dialog.
extern int fSyncTelnet;

// One connect attempt: the name lookup and a non-blocking connect to each
// address the lookup gave (IPv6 and IPv4, in the resolver's order), on a
// worker thread so that the user-interface thread stays free and Cancel
// takes effect at once.  A dotted (or IPv6) address is used without a lookup.
class TELNETCONNECT {
 public:
  enum STATE { PENDING, CONNECTED, FAILED };
  // Why an attempt failed (FAILED).
  enum FAILURE { NONE, UNKNOWN_HOST, UNKNOWN_SERVICE, CONNECT_ERROR, CANCELED, NO_RESOURCES };

  // Starts the attempt.  port is a TCP port number (1..65535).
  TELNETCONNECT(std::string host, int port);
  // Cancels a running attempt and closes a socket nobody took.
  ~TELNETCONNECT();
  TELNETCONNECT(const TELNETCONNECT&) = delete;
  TELNETCONNECT& operator=(const TELNETCONNECT&) = delete;

  // Readable (poll POLLIN) once the attempt has ended.
  int NotifyFd() const;
  STATE State() const;
  FAILURE Failure() const;
  // Waits up to ms (-1: without end) for the attempt to end; returns State().
  STATE Wait(int ms);
  // Ends a pending attempt as CANCELED; its socket is closed.
  void Cancel();
  // The connected socket (blocking mode), once; -1 unless CONNECTED.
  int TakeSocket();
  const std::string& Host() const;

  // Turns a failed attempt into its state directly (unknown service, no
  // socket): the dialog then ends at once like any failure.
  static std::unique_ptr<TELNETCONNECT> Failed(std::string host, FAILURE why);

  struct SHARED;

 private:
  TELNETCONNECT() = default;
  std::shared_ptr<SHARED> s;
};

class TELNET {
 public:
  // Option codes and commands.
  enum : unsigned char {
    TELOPT_BINARY = 0, TELOPT_ECHO = 1, TELOPT_SGA = 3, TELOPT_TM = 6, TELOPT_TTYPE = 24,
    TELOPT_NAWS = 31, TELOPT_TSPEED = 32, TELOPT_LFLOW = 33, TELOPT_ENVIRON = 36,
  };
  enum : unsigned char {
    SE = 240, NOP = 241, DM = 242, BREAK = 243, GA = 249, SB = 250,
    WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255,
  };
  // Bits of the option table ("my" is this side).
  enum : unsigned char { MY_STATE_WILL = 0x01, MY_WANT_WILL = 0x02, MY_STATE_DO = 0x04, MY_WANT_DO = 0x08 };
  // Receive states.
  enum TELRCVSTATE : int {
    TS_DATA, TS_IAC, TS_WILL, TS_WONT, TS_DO, TS_DONT, TS_CR, TS_SB, TS_SE,
  };
  static constexpr char TERMINAL_TYPE[] = "vt100";
  static constexpr char TERMINAL_SPEED[] = "38400,38400";
  // The subnegotiation buffer keeps at most this many bytes plus a terminator.
  static constexpr int SUB_MAX = 255;

  // Connects to hostprop.DialNo at hostprop.PortName behind the connecting
  // dialog and starts the port on the socket.  1 when connected, 0 otherwise
  // (nothing is left open).
  static int ConnectSocket();
  // The TCP port named by a PortName value: a decimal number, else a service
  // name looked up for "tcp".  0 when it names none.
  static int PortNumber(const char* portName);
  // Runs the connecting dialog over an attempt: 1 connected, 2 failed or
  // cancelled.  Uses dialingWindow when one is installed, else waits for the
  // attempt (at most HEADLESS_CONNECT_LIMIT_MS) without a window.
  static int TelnetDialingDlgProc(TELNETCONNECT& attempt);
  // The connecting window, installed by the user-interface library
  // (InstallTelnetDialingWindow in port/telnet_dialog.cpp); it shows the
  // attempt with a cancel button and returns 1 or 2.  Null without a screen.
  static int (*dialingWindow)(TELNETCONNECT& attempt);
  static constexpr int HEADLESS_CONNECT_LIMIT_MS = 75000;

  // Puts the port on a connected telnet line: fresh option table, receive
  // state data, the command filter installed, the port's threads started.
  // 1 on success; on failure the line is closed.
  static int Start(std::unique_ptr<LINE> line);

  // The command filter of DoReceive: removes telnet commands from the n
  // bytes of one refill in place, acts on them, and returns the bytes left.
  static size_t ProcessTelnetConvert(unsigned char* data, size_t n);

  // Sends the window size (IAC SB NAWS w w h h IAC SE) when this side has
  // agreed to NAWS.  Call it whenever the terminal frame changes size.
  static void NotifyWindowSize();
  // Where the window size comes from: the screen installs its own; while
  // null, the stock's column count (80 without a stock) and 24 lines.
  static void (*windowSizeSource)(int* columns, int* lines);

  static void send_do(int option, int init);
  static void send_dont(int option, int init);
  static void send_will(int option, int init);
  static void send_wont(int option, int init);
  static void willoption(int option);
  static void wontoption(int option);
  static void dooption(int option);
  static void dontoption(int option);
  static void suboption();

  // The message box after a failed connect: DialNo and the fixed text, with
  // Retry/Cancel.  Returns the answer (ui::IDRETRY or ui::IDCANCEL).
  static int ReportConnectFailure();

  // Back to the state of a program that never connected (tests).
  static void ResetForTest();

  // --- state -------------------------------------------------------------
  static unsigned char options[256];        // MY_* bits per option
  static unsigned char willwont_resp[256];  // WILL/WONT replies the host still owes
  static unsigned char dodont_resp[256];    // DO/DONT replies the host still owes
  static TELRCVSTATE telrcvState;
  static unsigned char szSub[SUB_MAX + 1];
  static int cchSub;
};
