// The demo host's bulletin board: its boards and messages, and one caller's
// session (log-in, main menu, board list, message lists, messages).
//
// All text is kept in Shift_JIS, converted once from the UTF-8 literals in
// bbs.cpp; a session turns it into the caller's code (JIS or EUC) on the way
// out.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace demohost {

struct MESSAGE {
  int number;           // 1-based within its board
  int answers;          // the message it comments on, 0 for none
  std::string author;   // member ID, ASCII
  std::string date;     // "96/04/01 21:15"
  std::string title;    // Shift_JIS
  std::vector<std::string> body;  // Shift_JIS lines
};

struct BOARD {
  std::string name;  // Shift_JIS
  std::vector<MESSAGE> messages;
};

// The boards, built once.
const std::vector<BOARD>& Boards();

// Host codes a caller can be served in.
enum class CODE { SJIS, JIS, EUC };

struct SESSIONOPTIONS {
  CODE code = CODE::SJIS;
  bool autoLogin = false;  // no ID or password asked: the caller is "GUEST"
  // Keys the caller is taken to type right after the opening (a guided tour
  // for runs nobody types into, e.g. "B\r1\rR\rQ\rG\r").
  std::string tour;
  // With autoLogin: this many bytes of message text right after log-in, as
  // fast as the line takes them, and then the host hangs up (load tests).
  size_t floodBytes = 0;
};

// Lines of generated message text (Shift_JIS, 70 columns, an ANSI colour
// on every tenth line, each ending in CR LF) from line *index on, up to
// about maxBytes; *index moves on.
std::string FloodLines(size_t* index, size_t maxBytes);

// One caller's dialogue, independent of the connection: Input takes what the
// caller typed (telnet already removed, Shift_JIS after decoding), Output
// collects what goes back (still Shift_JIS; the connection encodes it).
class SESSION {
 public:
  explicit SESSION(SESSIONOPTIONS options);
  // The opening screen (and, with auto-login, the main menu).
  void Start();
  // One received byte (Shift_JIS).
  void Input(unsigned char c);
  // What the caller learned by negotiation, for the welcome screen.
  void SetTerminal(const std::string& type, int columns, int lines);

  std::string TakeOutput();
  bool Finished() const { return finished; }
  // Code chosen at log-in (an ID of "jis" or "euc" asks for it).
  CODE Code() const { return opt.code; }
  // Whether typed characters are echoed (not while a password is typed).
  bool echo = true;

 private:
  enum class STEP { ID, PASSWORD, MENU, BOARDS, LIST, READ };
  void Opening();                          // the banner, then log-in or the menu
  void Line(const std::string& sjisLine);  // one whole line and CR LF
  void Text(const std::string& utf8);      // fixed text, no line end
  void Say(const std::string& utf8);       // fixed text and CR LF
  void Prompt();
  void Command(const std::string& line);
  void Welcome();
  void ShowMenu();
  void ShowBoards();
  void ShowList();
  void ShowMessage(int board, int number);

  SESSIONOPTIONS opt;
  STEP step = STEP::ID;
  std::string out, line, user;
  std::string termType = "unknown";
  int termColumns = 0, termLines = 0;
  int board = -1, next = 1;
  bool finished = false;
};

}  // namespace demohost
