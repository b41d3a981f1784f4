// SCRIPTTRANSFER: the transfer statements of scripts.
//
//   UPLOAD [file] [, PROTOCOL]
//   DOWNLOAD [file] [, PROTOCOL [, MODE]]
//   SETUPDOWNFILE name
//   SENDWRAP text
//
// PROTOCOL is one of the words NONE (plain text), XMODEM, XMODEMCRC, XMODEMK,
// BPLUS, QUICKVAN, TRANSIT, ZMODEM, YMODEM, YMODEMG, YMODEMBATCH,
// YMODEMGBATCH, MLINK; without one the host's list decides (or the user).
// MODE answers the question about a file that exists already: OVERWRITE,
// APPEND, RESUME or TEMPFILE (the spare name).  Any other word is the
// statement's parameter error.  RESULT is 1 when the transfer completed,
// else 0.
//
// SETUPDOWNFILE reserves a file name for the next UPLOAD or DOWNLOAD that
// names none.  SENDWRAP sends the text and a line end through the plain-text
// upload path and goes on when it has gone out.
//
// The transfers themselves belong to the layer above (transfer/), which
// installs scriptTransferHooks; until then the statements are "not
// available".  The statement waits meanwhile: it holds SCRIPT::NESTEDLOOP,
// so other starts and stops are held until the transfer ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Protocol numbers as the transfer layer numbers them (-1: not named).
namespace scriptxfer {
enum MODE : int { ASK = 0, OVERWRITE = 1, APPEND = 2, RESUME = 3, TEMPFILE = 4 };
// The protocol number of a statement's word, or -2 for a word that names none.
int ProtocolOfWord(const std::string& upperWord);
int ModeOfWord(const std::string& upperWord);  // -1 for none
}  // namespace scriptxfer

struct SCRIPTTRANSFERHOOKS {
  // file: UTF-8 path (relative: the upload or download directory), empty for
  // none; protocol -1 when not named.  1 when the transfer completed.
  std::function<int(const std::string& file, int protocol)> upload;
  std::function<int(const std::string& file, int protocol, int mode)> download;
  // Shift_JIS text (its line end included); 1 when it has gone out.
  std::function<int(const std::string& sjis)> sendWrap;
};
extern SCRIPTTRANSFERHOOKS scriptTransferHooks;

class SCRIPTTRANSFER {
 public:
  static bool Handles(uint8_t atom);
  // As the interpreter's handlers: true when the rest of the line is to be
  // skipped, false after an error.
  static bool Run(uint8_t atom);
  // The name SETUPDOWNFILE reserved (Shift_JIS), empty when none.
  static const std::string& Reserved();
  static void Reset();
};
