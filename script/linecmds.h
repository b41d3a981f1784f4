// SCRIPTLINE: the statements of scripts that drive the line and the call.
//
//   SENDBREAK                      a break of 1000 ms (telnet: IAC BREAK)
//   SENDCLIPBRD                    the clipboard's text, typed
//   SETAUTOHANGUP minutes          the idle hang-up delay, its clock restarted
//   PORT key = value, ...          line settings of the current host, this call
//   SETUP key = value, ...         display and send settings of the current host
//   SETPORTNO n                    not supported: message 117
//   CONNECT host                   dials (RESULT 1 connected, 0 not); on line: message 128
//   HANGUP                         posts the hang-up and ends the scripts
//   AFTERHANGUP target             a script (label, file, file:label) run once after a hang-up
//   GETHOSTNAME var                the current host's name
//
// PORT and SETUP change `hostprop` only (the stored host stays as it was, and
// the next dial reads it again).  Every pair is checked before any is applied,
// so a statement with a bad key or value changes nothing.  Keys that only a
// serial line has (BAUDRATE, STOPBIT, PARITY, FLOWCONTROL) do nothing on
// another connection; on a serial line the port's settings are applied again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct SCRIPTPROGRAM;

struct SCRIPTLINEHOOKS {
  // The clipboard's text (UTF-8).  Empty: nothing is on it.
  std::function<std::string()> clipboardText;
  // Text the user types (Shift_JIS).  Empty: straight to the port, and to
  // the collation of typed text.
  std::function<void(const std::string& sjis)> typed;
  // The break command.  Empty: COMPORT::SendBreak(1000).
  std::function<void()> sendBreak;
  // Posts the hang-up, to run once the statement is over.  Empty: through
  // the event loop when there is one, else at once.
  std::function<void()> postHangup;
};

class SCRIPTLINE {
 public:
  static constexpr int BREAK_MS = 1000;

  // Whether the atom is one of the statements above.
  static bool Handles(uint8_t atom);
  // Runs it at the running level's position: true when the rest of the line
  // is to be skipped, false when the level moved or an error was reported.
  static bool Run(uint8_t atom);

  // The parity PORT chose for this call (0 none, 1 even, 2 odd).
  static int Parity() { return parity_; }
  // Whether an AFTERHANGUP script is registered, and its target as written.
  static bool HangupScriptRegistered();
  static const std::string& HangupScriptTarget();

  // Forgets the registration and the call's parity; the hooks too (tests).
  static void Reset();

  static SCRIPTLINEHOOKS hooks;

 private:
  friend class SCRIPT;
  static bool Port();
  static bool Setup();
  static bool Connect();
  static bool Hangup();
  static bool AfterHangup();
  // The call is over: its parity and a redial count SETUP changed go back.
  static void CallEnded();
  // The registration, taken (and so cleared) by SCRIPT::ExecuteHangupScript.
  struct HANGUPSCRIPT {
    std::string target;  // as written
    std::string file;    // resolved path, or empty for the registering program itself
    std::string label;
    std::shared_ptr<SCRIPTPROGRAM> program;  // a label of a program held in memory
  };
  static std::unique_ptr<HANGUPSCRIPT> hangupScript_;
  static int parity_;
  static std::optional<int> savedMaxRedial_;  // the user's MaxRedial while SETUP's is in force
};
