// Start-up pieces that need no window: the command line, the frame's
// default-position rule, the stock opened at start, and the dialling of the
// host names given on the command line.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What the command line asks for.
//
// Switches come first, each "/x" or "-x" (one letter, then spaces):
//   "!!" (the line starts with it) or --create-ini  write the mirror file, exit
//   /*  anti-redial digits       /e  even parity       /3  older shell look
//   /d  debug log                /t  blocking telnet connect
//   /s  the rest of the line is a script file run once the program is up
//   -h  the same as --help
// The first word that is not one starts the host names; switches after it
// are host names.  The long options --help, --version, --headless,
// --exit-after-call, --create-ini, --config-dir DIR and --data-dir DIR (also
// --config-dir=DIR) count anywhere before "--", among the host names too;
// after "--" every word is a host name.  A host name may be a
// telnet://HOST[:PORT][/] URL: an ad hoc telnet call to that address.
struct STARTUPOPTIONS {
  bool createIni = false;
  bool antiRedialProtect = false, evenParity = false, oldShell = false, debugLog = false, syncTelnet = false;
  bool help = false, version = false, headless = false;
  bool exitAfterCall = false;  // a windowed run ends with its call, as a headless one does
  bool hasScript = false;
  std::string script;    // with hasScript: the rest of the line
  std::string configDir, dataDir;
  std::string hostLine;  // the host names, as a command line (words or "quoted text")
  std::string error;     // not empty: the command line is wrong; the text says why
};

// Reads the arguments after the program name.
STARTUPOPTIONS ParseCommandLine(const std::vector<std::string>& args);

// The usage text for --help and for a wrong command line.
extern const char* const kUsage;

// Takes the next host name off the front of `line`: a run without spaces,
// or a text in double quotes (which may hold spaces).  False when nothing
// is left.
bool FeedCmdLine(std::string& line, std::string* name);

// A word as it must appear in a host line so that FeedCmdLine gives it
// back: in double quotes when it holds a space.
std::string QuoteHostName(const std::string& word);

// Whether the frame opens at the default position instead of the saved one:
// nothing saved, a saved size that covers the whole screen from the origin,
// or a saved position 20 pixels or more beyond the screen.
bool UseDefaultFramePosition(int x, int y, int cx, int cy, int cxScreen, int cyScreen);

// Opens the stock named in the settings; when the name is empty, another
// running instance uses the file, or it does not open, any usable stock
// instead (OpenAnyStockFile), and the name reaches the settings.  When no
// stock file exists at all, a first stock of kFirstStockLines lines of 80
// columns is created in the program's directory and used, so that a new
// user's first calls are archived.  1 when a stock file is open, 0 when the
// memory-only stock stands in.
// *created (when given) tells whether the stock was made new just now.
int OpenStartupStock(bool* created = nullptr);
extern const char* const kFirstStockName;
constexpr unsigned long kFirstStockLines = 100000;

// Dials the host names of `line` one after the other: the first one at once;
// when a dial fails, the next one a second later.  `dial` gets each name as
// given (UTF-8) and returns 1 when connected.  `done` is told whether a dial
// succeeded; with no names it is told false at once.  With a
// QCoreApplication the second delay is a timer; without one, a sleep.
void DialHostLine(const std::string& line, std::function<int(const std::string&)> dial,
                  std::function<void(bool connected)> done);
