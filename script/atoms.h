// The compiled script: one byte per atom, some followed by a payload.
//
//   atom        meaning                         payload
//   1-126       statement keyword               -
//   127 LABEL   label definition                name, NUL
//   128 CALL    CALL with its raw target        target, NUL
//   129 AFTERHANGUP (raw target as CALL)        target, NUL
//   130 代入    assignment                      variable name, NUL
//   131 LINENO  end of a source line            16-bit number of the next line (little-endian)
//   132-134     ENDLOOP ENDWHILE LOOPAGAIN      32-bit code offset of the loop's opener
//   136-164     comma, NOT AND OR, comparisons, arithmetic, keyword values
//   165 WORD                                    text, NUL
//   166 STRING                                  32-bit offset into the constants
//   167 NUMBER                                  32-bit signed value
//   168 VARIABLE                                name, NUL
//   169 ) or ]   170 [   171 (
//   172-189     built-in functions (their "(" is implied)
//
// Numbers 0, 135, 162 and 163 are unused.  Every multi-byte payload is
// little-endian.  ATOMITERATOR is the one place that knows the payload sizes:
// the compiler's scans, the interpreter, the listing and the tests all walk
// the stream through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace atom {

enum : uint8_t {
  WAIT = 1, SEND, SENDWRAP, SENDBREAK, MESSAGE, DEBUGINFO, QUESTION, TIMEOUTMESSAGE, TIMEOUTQUESTION, ERROR_,
  SLEEP, LOG, KEYBOARD, EXIT, RETURN, UPLOAD, DOWNLOAD, TIMEOUT_, CHAT, TITLE, PLAY, ENDIF, BEGINLOOP, IF, ELSEIF,
  WHILE, ELSE, HANGUP, SWITCH, LOOPSWITCH, ENDSWITCH, CASE, PAUSE, INPUT, SECRETINPUT, KEYASSIGN, GETLINE, GETCHAR,
  PORT, SETUP, SETPORTNO, MENU, NUMBERMENU, ADDMENU, ADDNUMBERMENU, SHOWMENU, OPENFILE, APPENDFILE, CREATEFILE,
  CREATETEMPFILE, WRITEFILE, READFILE, CLOSEFILE, GETDATE, GETTIME, GETWEEK, SENDCLIPBRD, CONNECT, CLOSEQUILLNET,
  READBUFFER, WRITEBUFFER, WRITEBUFFER2, WRITELOG, SETHILIGHT, SETHILIGHT1, SETHILIGHT2, SETHILIGHT3, SETHILIGHT4,
  DELFILE, MILLISLEEP, MILLITIMEOUT, CHDIR, RESTOREDIR, GETINI, PUTINI, CREATEREG, OPENREG, CLOSEREG, WRITEREGSTR,
  WRITEREGINT, GETREG, RUN, RUNSYNC, RUNSYNC2, GOTO, COPYFILE, RENAMEFILE, SAVEBUFFER, IME, SOUND, ENDSCROLL, WINDOW,
  SETCHAT, GETCHAT, GETWINDIR, GETWINSYSDIR, GETCURRENTDIR, GETQUILLNETDIR, DISPLAY, INPUTFILENAME, SETAUTOHANGUP,
  GETHOSTNAME, WAITCHATINPUT, GETVERSION, CLEARBUFFER, DATETOLINEAR, DDEINITIATE, DDETERMINATE, DDEEXECUTE,
  DDEREQUEST, DDEPOKE, DDESTARTADVICE, DDESTOPADVICE, DDEWAITADVICE, CALLVARLABEL, CHECKLABEL, SETCHATFILTER,
  NOCHATFILTER, BREAKLOOP, FONT, SETUPDOWNFILE, DELETEREG, ERRORLOG, BROWSE, CREATEDIR, EXECEDITOR,
  LABEL,  // 127
  CALL, AFTERHANGUP, ASSIGN, LINENO, ENDLOOP, ENDWHILE, LOOPAGAIN,
  COMMA = 136, NOT, AND, OR,
  EQ, NE, LT, GT, LE, GE,
  ADD, SUB, MUL, DIV, MOD,
  YES, ENTER, NO, ERRORV, TIMEOUTV, CANCEL, ON, OFF, RESULT, LINECOUNT, BAUDRATE,
  WILDCARD = 164, WORD, STRING, NUMBER, VARIABLE, CLOSE, OPENBRACKET, OPENPAREN,
  POSTIDLE, POSTMILLIIDLE, PART, SEARCH, DROP, SEARCHBACK, DROPBACK, TOHANKAKU, TOZENKAKU, TOUPPER, TOLOWER,
  EXISTFILE, LENGTH, VALUE, FILESIZE, KEYSTATE, STATE, FILESIZE2,
};
static_assert(EXECEDITOR == 126 && LABEL == 127 && LOOPAGAIN == 134 && BAUDRATE == 161 && FILESIZE2 == 189);
static_assert(ENDIF == 22 && IF == 24 && CASE == 32 && GOTO == 85 && EXIT == 14 && RETURN == 15);

// Last statement keyword of the command table (CALL and the closers come after).
constexpr uint8_t LAST_STATEMENT = LOOPAGAIN;

// The atom's name as the listing and the status dialog show it (UTF-8);
// "???" for the unused numbers.
const char* Name(uint8_t a);

// Statement keyword spelled exactly `word` (upper case), or 0.  CALL,
// AFTERHANGUP and the closers are statement keywords too; MILISLEEP and
// MILITIMEOUT are other spellings of MILLISLEEP and MILLITIMEOUT.
uint8_t StatementKeyword(std::string_view word);
// Expression atom of a word outside a statement start: NOT AND OR, the
// keyword values, WILDCARD and the functions (POSTMILIIDLE too); 0 for a
// plain word.
uint8_t ExpressionKeyword(std::string_view word);
inline bool IsFunction(uint8_t a) { return a >= POSTIDLE && a <= FILESIZE2; }

inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace atom

// One atom of the stream and its payload.
struct ATOMREF {
  uint32_t offset = 0;         // of the atom byte
  uint8_t atom = 0;
  const uint8_t* payload = nullptr;
  uint32_t payloadSize = 0;    // bytes after the atom byte (a text's NUL included)
  uint32_t Next() const { return offset + 1 + payloadSize; }
  // Text payloads (LABEL, CALL, AFTERHANGUP, 代入, WORD, VARIABLE) without their NUL.
  std::string_view Text() const {
    return payloadSize ? std::string_view(reinterpret_cast<const char*>(payload), payloadSize - 1) : std::string_view();
  }
  int32_t Number() const { return static_cast<int32_t>(atom::Get32(payload)); }  // NUMBER
  uint32_t Offset() const { return atom::Get32(payload); }                        // STRING, closers
  uint16_t Line() const { return atom::Get16(payload); }                          // LINENO
};

// Walks an atom stream from a position.  A payload that runs past the end of
// the stream ends the walk (Next returns false), so a damaged stream is never
// read beyond its bytes.
class ATOMITERATOR {
 public:
  ATOMITERATOR(const uint8_t* code, size_t size, size_t pos = 0) : code_(code), size_(size), pos_(pos) {}
  bool Next(ATOMREF& out);
  size_t Position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }

  // Payload size of the atom at `pos`, or -1 when it runs past the end.
  static long PayloadSize(const uint8_t* code, size_t size, size_t pos);

 private:
  const uint8_t* code_;
  size_t size_;
  size_t pos_;
};
