#include "script/atoms.h"

#include <unordered_map>

namespace atom {
namespace {

// Statement keywords in atom order, from 1.
const char* const kStatements[] = {
    "WAIT", "SEND", "SENDWRAP", "SENDBREAK", "MESSAGE", "DEBUGINFO", "QUESTION", "TIMEOUTMESSAGE",
    "TIMEOUTQUESTION", "ERROR", "SLEEP", "LOG", "KEYBOARD", "EXIT", "RETURN", "UPLOAD", "DOWNLOAD", "TIMEOUT",
    "CHAT", "TITLE", "PLAY", "ENDIF", "BEGINLOOP", "IF", "ELSEIF", "WHILE", "ELSE", "HANGUP", "SWITCH",
    "LOOPSWITCH", "ENDSWITCH", "CASE", "PAUSE", "INPUT", "SECRETINPUT", "KEYASSIGN", "GETLINE", "GETCHAR", "PORT",
    "SETUP", "SETPORTNO", "MENU", "NUMBERMENU", "ADDMENU", "ADDNUMBERMENU", "SHOWMENU", "OPENFILE", "APPENDFILE",
    "CREATEFILE", "CREATETEMPFILE", "WRITEFILE", "READFILE", "CLOSEFILE", "GETDATE", "GETTIME", "GETWEEK",
    "SENDCLIPBRD", "CONNECT", "CLOSEQUILLNET", "READBUFFER", "WRITEBUFFER", "WRITEBUFFER2", "WRITELOG", "SETHILIGHT",
    "SETHILIGHT1", "SETHILIGHT2", "SETHILIGHT3", "SETHILIGHT4", "DELFILE", "MILLISLEEP", "MILLITIMEOUT", "CHDIR",
    "RESTOREDIR", "GETINI", "PUTINI", "CREATEREG", "OPENREG", "CLOSEREG", "WRITEREGSTR", "WRITEREGINT", "GETREG",
    "RUN", "RUNSYNC", "RUNSYNC2", "GOTO", "COPYFILE", "RENAMEFILE", "SAVEBUFFER", "IME", "SOUND", "ENDSCROLL",
    "WINDOW", "SETCHAT", "GETCHAT", "GETWINDIR", "GETWINSYSDIR", "GETCURRENTDIR", "GETQUILLNETDIR", "DISPLAY",
    "INPUTFILENAME", "SETAUTOHANGUP", "GETHOSTNAME", "WAITCHATINPUT", "GETVERSION", "CLEARBUFFER", "DATETOLINEAR",
    "DDEINITIATE", "DDETERMINATE", "DDEEXECUTE", "DDEREQUEST", "DDEPOKE", "DDESTARTADVICE", "DDESTOPADVICE",
    "DDEWAITADVICE", "CALLVARLABEL", "CHECKLABEL", "SETCHATFILTER", "NOCHATFILTER", "BREAKLOOP", "FONT",
    "SETUPDOWNFILE", "DELETEREG", "ERRORLOG", "BROWSE", "CREATEDIR", "EXECEDITOR",
    // 127-134
    "LABEL", "CALL", "AFTERHANGUP", "代入", "LINENO", "ENDLOOP", "ENDWHILE", "LOOPAGAIN"};
static_assert(sizeof kStatements / sizeof *kStatements == LOOPAGAIN);

// Expression atoms from 135.
const char* const kExpressions[] = {
    "???", ",", "NOT", "AND", "OR", "==", "!=", "<", ">", "<=", ">=", "+", "-", "*", "/", "%", "YES", "ENTER",
    "NO", "ERROR", "TIMEOUT", "CANCEL", "ON", "OFF", "RESULT", "LINECOUNT", "BAUDRATE", "???", "???", "WILDCARD",
    "WORD", "STRING", "NUMBER", "VARIABLE", ")", "[", "(", "POSTIDLE", "POSTMILLIIDLE", "PART", "SEARCH", "DROP",
    "SEARCHBACK", "DROPBACK", "TOHANKAKU", "TOZENKAKU", "TOUPPER", "TOLOWER", "EXISTFILE", "LENGTH", "VALUE",
    "FILESIZE", "KEYSTATE", "STATE", "FILESIZE2"};
static_assert(sizeof kExpressions / sizeof *kExpressions == FILESIZE2 - 135 + 1);

}  // namespace

const char* Name(uint8_t a) {
  if (a >= 1 && a <= LOOPAGAIN) return kStatements[a - 1];
  if (a >= 135 && a <= FILESIZE2) return kExpressions[a - 135];
  return "???";
}

uint8_t StatementKeyword(std::string_view word) {
  static const std::unordered_map<std::string_view, uint8_t> table = [] {
    std::unordered_map<std::string_view, uint8_t> t;
    for (uint8_t a = 1; a <= LOOPAGAIN; ++a)
      if (a != LABEL && a != ASSIGN && a != LINENO) t.emplace(kStatements[a - 1], a);
    t.emplace("MILISLEEP", MILLISLEEP);
    t.emplace("MILITIMEOUT", MILLITIMEOUT);
    return t;
  }();
  auto it = table.find(word);
  return it == table.end() ? 0 : it->second;
}

uint8_t ExpressionKeyword(std::string_view word) {
  static const std::unordered_map<std::string_view, uint8_t> table = [] {
    std::unordered_map<std::string_view, uint8_t> t;
    for (unsigned a = NOT; a <= FILESIZE2; ++a) {
      if ((a >= EQ && a <= MOD) || (a >= WORD && a <= OPENPAREN) || a == 162 || a == 163) continue;
      t.emplace(kExpressions[a - 135], static_cast<uint8_t>(a));
    }
    t.emplace("POSTMILIIDLE", POSTMILLIIDLE);
    return t;
  }();
  auto it = table.find(word);
  return it == table.end() ? 0 : it->second;
}

}  // namespace atom

long ATOMITERATOR::PayloadSize(const uint8_t* code, size_t size, size_t pos) {
  if (pos >= size) return -1;
  const size_t rest = size - pos - 1;
  auto fixed = [rest](size_t n) { return rest >= n ? static_cast<long>(n) : -1L; };
  switch (code[pos]) {
    case atom::LABEL:
    case atom::CALL:
    case atom::AFTERHANGUP:
    case atom::ASSIGN:
    case atom::WORD:
    case atom::VARIABLE: {
      for (size_t i = pos + 1; i < size; ++i)
        if (code[i] == 0) return static_cast<long>(i - pos);
      return -1;
    }
    case atom::LINENO: return fixed(2);
    case atom::ENDLOOP:
    case atom::ENDWHILE:
    case atom::LOOPAGAIN:
    case atom::STRING:
    case atom::NUMBER: return fixed(4);
    default: return 0;
  }
}

bool ATOMITERATOR::Next(ATOMREF& out) {
  const long n = PayloadSize(code_, size_, pos_);
  if (n < 0) return false;
  out.offset = static_cast<uint32_t>(pos_);
  out.atom = code_[pos_];
  out.payload = code_ + pos_ + 1;
  out.payloadSize = static_cast<uint32_t>(n);
  pos_ += 1 + static_cast<size_t>(n);
  return true;
}
