#include "script/transfercmds.h"

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"

SCRIPTTRANSFERHOOKS scriptTransferHooks;

namespace {

std::string reserved;

}  // namespace

namespace scriptxfer {

int ProtocolOfWord(const std::string& w) {
  static const struct {
    const char* word;
    int protocol;
  } kWords[] = {
      {"NONE", 0},      {"XMODEM", 1},      {"XMODEMCRC", 2},    {"XMODEMK", 3},      {"BPLUS", 4},
      {"QUICKVAN", 5},  {"TRANSIT", 6},     {"ZMODEM", 7},       {"YMODEM", 8},       {"YMODEMG", 9},
      {"YMODEMBATCH", 10}, {"YMODEMGBATCH", 11}, {"MLINK", 14},
  };
  for (const auto& k : kWords)
    if (w == k.word) return k.protocol;
  return -2;
}

int ModeOfWord(const std::string& w) {
  if (w == "OVERWRITE") return OVERWRITE;
  if (w == "APPEND") return APPEND;
  if (w == "RESUME") return RESUME;
  if (w == "TEMPFILE") return TEMPFILE;
  return -1;
}

}  // namespace scriptxfer

namespace {

// UPLOAD / DOWNLOAD: [file] [, PROTOCOL [, MODE]].
bool Transfer(SCRIPTARGS& a) {
  const bool down = a.Keyword() == atom::DOWNLOAD;
  std::string file, word;
  int protocol = -1, mode = scriptxfer::ASK;
  if (!a.AtEnd() && a.Peek() != atom::COMMA && a.Peek() != atom::WORD && !a.Text(file)) return false;
  if (a.Peek() == atom::COMMA) ++SCRIPTARGS::Level().pos;
  if (!a.AtEnd() && a.Peek() != atom::COMMA) {
    if (!a.Word(word) || (protocol = scriptxfer::ProtocolOfWord(word)) == -2) return a.Fail();
  }
  if (a.Peek() == atom::COMMA) {
    ++SCRIPTARGS::Level().pos;
    if (!down || !a.Word(word) || (mode = scriptxfer::ModeOfWord(word)) < 0) return a.Fail();
  }
  if (!a.End()) return false;
  if (!(down ? bool(scriptTransferHooks.download) : bool(scriptTransferHooks.upload))) return a.NotAvailable();
  if (file.empty() && !reserved.empty()) {
    file = reserved;
    reserved.clear();
  }
  std::string path;
  if (!file.empty()) {
    // A name Shift_JIS cannot hold is refused, never mangled.
    if (jcode::Utf8ToSjis(jcode::SjisToUtf8(file)) != file) {
      SCRIPTARGS::SetResult(0);
      return true;
    }
    path = ScriptNameToPath(file);
  }
  int r;
  {
    SCRIPT::NESTEDLOOP transferring;
    r = down ? scriptTransferHooks.download(path, protocol, mode) : scriptTransferHooks.upload(path, protocol);
  }
  SCRIPTARGS::SetResult(r == 1 ? 1 : 0);
  return true;
}

bool SetupDownFile(SCRIPTARGS& a) {
  std::string name;
  if (!a.Text(name) || !a.End()) return false;
  reserved = name;
  return true;
}

bool SendWrap(SCRIPTARGS& a) {
  std::string text;
  if (!a.Text(text) || !a.End()) return false;
  if (!scriptTransferHooks.sendWrap) return a.NotAvailable();
  int r;
  {
    SCRIPT::NESTEDLOOP sending;
    r = scriptTransferHooks.sendWrap(text + "\n");
  }
  if (r != 1) SCRIPTARGS::SetResult(0);
  return true;
}

}  // namespace

bool SCRIPTTRANSFER::Handles(uint8_t a) {
  return a == atom::UPLOAD || a == atom::DOWNLOAD || a == atom::SETUPDOWNFILE || a == atom::SENDWRAP;
}

bool SCRIPTTRANSFER::Run(uint8_t a) {
  SCRIPTARGS args(a);  // past the keyword
  switch (a) {
    case atom::UPLOAD:
    case atom::DOWNLOAD: return Transfer(args);
    case atom::SETUPDOWNFILE: return SetupDownFile(args);
    case atom::SENDWRAP: return SendWrap(args);
    default: return true;
  }
}

const std::string& SCRIPTTRANSFER::Reserved() { return reserved; }

void SCRIPTTRANSFER::Reset() {
  reserved.clear();
  scriptTransferHooks = {};
}
