#include "script/transfercmds.h"

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"
#include "script/value.h"

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

// The statements' reading of their arguments, on the running level.
class SCRIPTTRANSFERARGS {
 public:
  static SCRIPTPOS& L() { return SCRIPT::levels_.back(); }
  static const std::vector<uint8_t>& Code() { return L().program->code.Code(); }
  static uint8_t Peek() { return L().pos < Code().size() ? Code()[L().pos] : 0; }
  static bool AtEnd() { return Peek() == atom::LINENO || Peek() == 0; }
  static bool Fail(uint8_t keyword) {
    SCRIPT::ParameterError(keyword);
    return false;
  }
  static bool Text(std::string& out) {
    EVALUATOR e(SCRIPT::EvalContext(), L().pos);
    SCRIPTVALUE v;
    if (!e.GetValue(v)) {
      SCRIPT::ExpressionError(e.errorId, e.errorKeyword);
      return false;
    }
    L().pos = e.Position();
    out = v.Text();
    return true;
  }
  // A bare word (upper case); false when the next atom is none.
  static bool Word(std::string& out) {
    ATOMITERATOR it(Code().data(), Code().size(), L().pos);
    ATOMREF a;
    if (!it.Next(a) || a.atom != atom::WORD) return false;
    out.assign(a.Text());
    L().pos = a.Next();
    return true;
  }
  static void SetResult(int32_t r) { L().result = r; }

  // UPLOAD / DOWNLOAD: [file] [, PROTOCOL [, MODE]].
  static bool Transfer(uint8_t keyword) {
    const bool down = keyword == atom::DOWNLOAD;
    std::string file, word;
    int protocol = -1, mode = scriptxfer::ASK;
    if (!AtEnd() && Peek() != atom::COMMA && Peek() != atom::WORD && !Text(file)) return false;
    if (Peek() == atom::COMMA) ++L().pos;
    if (!AtEnd() && Peek() != atom::COMMA) {
      if (!Word(word) || (protocol = scriptxfer::ProtocolOfWord(word)) == -2) return Fail(keyword);
    }
    if (Peek() == atom::COMMA) {
      ++L().pos;
      if (!down || !Word(word) || (mode = scriptxfer::ModeOfWord(word)) < 0) return Fail(keyword);
    }
    if (!AtEnd()) return Fail(keyword);
    if (!(down ? bool(scriptTransferHooks.download) : bool(scriptTransferHooks.upload))) return NotAvailable(keyword);
    if (file.empty() && !reserved.empty()) {
      file = reserved;
      reserved.clear();
    }
    std::string path;
    if (!file.empty()) {
      // A name Shift_JIS cannot hold is refused, never mangled.
      if (jcode::Utf8ToSjis(jcode::SjisToUtf8(file)) != file) {
        SetResult(0);
        return true;
      }
      path = ScriptNameToPath(file);
    }
    int r;
    {
      SCRIPT::NESTEDLOOP transferring;
      r = down ? scriptTransferHooks.download(path, protocol, mode) : scriptTransferHooks.upload(path, protocol);
    }
    SetResult(r == 1 ? 1 : 0);
    return true;
  }

  static bool SetupDownFile() {
    std::string name;
    if (AtEnd() || !Text(name)) return AtEnd() ? Fail(atom::SETUPDOWNFILE) : false;
    if (!AtEnd()) return Fail(atom::SETUPDOWNFILE);
    reserved = name;
    return true;
  }

  static bool SendWrap() {
    std::string text;
    if (AtEnd()) return Fail(atom::SENDWRAP);
    if (!Text(text)) return false;
    if (!AtEnd()) return Fail(atom::SENDWRAP);
    if (!scriptTransferHooks.sendWrap) return NotAvailable(atom::SENDWRAP);
    int r;
    {
      SCRIPT::NESTEDLOOP sending;
      r = scriptTransferHooks.sendWrap(text + "\n");
    }
    if (r != 1) SetResult(0);
    return true;
  }

  static bool NotAvailable(uint8_t keyword) {
    SCRIPT::Report(scriptmsg::NOT_YET, std::string(atom::Name(keyword)) + " " + scriptmsg::Text(scriptmsg::NOT_YET),
                   atom::Name(keyword));
    return false;
  }
};

bool SCRIPTTRANSFER::Handles(uint8_t a) {
  return a == atom::UPLOAD || a == atom::DOWNLOAD || a == atom::SETUPDOWNFILE || a == atom::SENDWRAP;
}

bool SCRIPTTRANSFER::Run(uint8_t a) {
  ++SCRIPTTRANSFERARGS::L().pos;  // past the keyword
  switch (a) {
    case atom::UPLOAD:
    case atom::DOWNLOAD: return SCRIPTTRANSFERARGS::Transfer(a);
    case atom::SETUPDOWNFILE: return SCRIPTTRANSFERARGS::SetupDownFile();
    case atom::SENDWRAP: return SCRIPTTRANSFERARGS::SendWrap();
    default: return true;
  }
}

const std::string& SCRIPTTRANSFER::Reserved() { return reserved; }

void SCRIPTTRANSFER::Reset() {
  reserved.clear();
  scriptTransferHooks = {};
}
