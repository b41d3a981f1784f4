// The demo host's modem: a Hayes-style command interpreter in front of the
// BBS, for a caller on a serial line (a pty) instead of telnet.
//
// In command mode it echoes what is typed (ATE1, the default; ATE0 stops it)
// and answers "AT" command lines with "\r\nOK\r\n" or "\r\nERROR\r\n".  ATD
// dials: after a short delay it answers with the next result of a cycling
// sequence ("CONNECT 9600" by default).  "-" in the sequence means no answer
// at all, so that a dialler's time-out can be tried; a character typed while
// dialling abandons the call with NO CARRIER, as a modem does.  After CONNECT
// the BBS session runs on the line; "+++" between guard times (S12, in 1/50 s)
// goes back to command mode, ATO goes back on line, ATH hangs up.  When the
// caller logs off the modem says NO CARRIER and takes commands again.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/linecode.h"
#include "tools/demohost/bbs.h"

namespace demohost {

struct MODEMOPTIONS {
  SESSIONOPTIONS session;
  std::vector<std::string> answers{"CONNECT 9600"};  // "-" is silence
  int dialDelayMs = 300;
};

class MODEM {
 public:
  using CLOCK = std::chrono::steady_clock;
  // write takes the bytes that go out on the line.
  MODEM(MODEMOPTIONS options, std::function<void(const std::string&)> write);
  ~MODEM();

  // Bytes that came in from the line at `now`.
  void Received(const unsigned char* p, size_t n, CLOCK::time_point now);
  // Runs the timers (the dial answer, the escape guard time).
  void Tick(CLOCK::time_point now);
  // How long until the next timer, in ms; -1 when none is running.
  int NextTimerMs(CLOCK::time_point now) const;
  // The caller closed the line (DTR dropped): hang up, back to the defaults.
  void LineDropped();

  bool Online() const { return mode == MODE::ONLINE; }
  // Counts the BBS calls that have ended.
  int CallsEnded() const { return callsEnded; }

 private:
  enum class MODE { COMMAND, DIALLING, ONLINE };
  void CommandByte(unsigned char c);
  void CommandLine(const std::string& line);
  bool Execute(const std::string& cmds);  // false for ERROR; may start a dial
  void Result(const std::string& text) { write("\r\n" + text + "\r\n"); }
  void Reset();
  void Connect(CLOCK::time_point now);
  LINECODEPARAM Param() const;
  void HangUp();
  void SessionByte(unsigned char c);
  void Flush();
  // The session ended (the caller logged off): NO CARRIER, command mode.
  void EndIfFinished();
  CLOCK::duration Guard() const { return std::chrono::milliseconds(regs[12] * 20); }

  MODEMOPTIONS opt;
  std::function<void(const std::string&)> write;
  MODE mode = MODE::COMMAND;
  bool echo = true;
  int regs[32] = {};
  std::string line;        // the command line being typed
  size_t nextAnswer = 0;
  bool dialPending = false;  // set by ATD, started once the line is done
  CLOCK::time_point dialAt;
  bool answerSilent = false;
  bool goOnline = false;      // set by ATO
  std::string connectText = "CONNECT 9600";
  // On line: the escape, and the BBS.
  CLOCK::time_point lastByte;
  int pluses = 0;
  std::unique_ptr<SESSION> session;
  SENDENCODER encoder;
  RECEIVEDECODER decoder;
  bool lastCr = false;
  int callsEnded = 0;
};

// Splits a --answers value at ";" or ",": "BUSY;CONNECT 9600".  A "\," or
// "\;" keeps the character.
std::vector<std::string> SplitAnswers(const std::string& list);

// Opens a tty device once and sets it raw (no echo, no line editing).
void MakeRaw(const std::string& device);

}  // namespace demohost
