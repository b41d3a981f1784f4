// SCRIPTLOG: the statements of scripts for the log and the stock.
//
//   LOG file {, APPEND | CREATE | BACKUP | BACKUPn | CONTROLCODE | NOCONTROLCODE | limit}
//   LOG / LOG OFF / LOG PAUSE / LOG RESUME
//   WRITELOG text                  the text into the log
//   WRITEBUFFER2 text              the text onto the screen and into the stock, as if received
//   WRITEBUFFER text               the same, and into the log
//   READBUFFER n, var              the stock line n lines above the newest one
//   SAVEBUFFER / CLEARBUFFER       accepted; they do nothing
//
// LOG's file is written as script names are ("\" separates, a drive letter
// is dropped); a relative one goes under the LogPath setting.  Its mode:
// APPEND (the default) adds to the file, CREATE starts it empty, BACKUP and
// BACKUP1-BACKUP9 keep that many older files (".BK1" the newest).  Without
// CONTROLCODE or NOCONTROLCODE the host's RemoveCtrls decides whether the
// log is plain text; a limit of 1-9999 KB (9999: none, the default) starts a
// fresh file when reached.  A start that fails is message 43.
#pragma once

#include <cstdint>
#include <functional>

struct SCRIPTLOGHOOKS {
  // WRITEBUFFER and WRITEBUFFER2 leave the screen's back-scroll first.
  // Empty: MYBITMAP::LeaveScrollMode.
  std::function<void()> leaveBackScroll;
};

class SCRIPTLOG {
 public:
  // Whether the atom is one of the statements above.
  static bool Handles(uint8_t atom);
  // Runs it at the running level's position: true when the rest of the line
  // is to be skipped, false after an error.
  static bool Run(uint8_t atom);

  static SCRIPTLOGHOOKS hooks;

 private:
  static bool Log();
  static bool WriteBuffer(uint8_t atom);
};
