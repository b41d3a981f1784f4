#include "script/linecmds.h"

#include <QCoreApplication>
#include <QTimer>

#include <optional>
#include <vector>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"
#include "script/value.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "terminal/collate.h"
#include "terminal/dispatch.h"
#include "terminal/waiter.h"

SCRIPTLINEHOOKS SCRIPTLINE::hooks;
std::unique_ptr<SCRIPTLINE::HANGUPSCRIPT> SCRIPTLINE::hangupScript_;
int SCRIPTLINE::parity_ = 0;
std::optional<int> SCRIPTLINE::savedMaxRedial_;

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The value of one "key = value" pair: a bare word (EUC, ON, 1.5) or an
// expression's value.
struct PAIRVALUE {
  bool word = false;
  std::string text;  // the word, upper case; or the expression's text
  SCRIPTVALUE value;

  // A whole number: a numeric value, or a text of ASCII digits.
  bool Integer(int32_t& out) const {
    if (!word && value.fNum) {
      out = value.num;
      return true;
    }
    if (text.empty() || text.size() > 9) return false;
    int32_t n = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      n = n * 10 + (c - '0');
    }
    out = n;
    return true;
  }
  // ON or OFF, or 1 or 0.
  bool Switch(int& out) const {
    const std::string u = Upper(text);
    if (u == "ON" || u == "OFF") {
      out = u == "ON" ? 1 : 0;
      return true;
    }
    int32_t n;
    if (!Integer(n) || (n != 0 && n != 1)) return false;
    out = n;
    return true;
  }
  // A word of a list (a string expression counts as its text).
  int OneOf(std::initializer_list<const char*> words) const {
    if (!word && value.fNum) return -1;
    const std::string u = Upper(text);
    int i = 0;
    for (const char* w : words) {
      if (u == w) return i;
      ++i;
    }
    return -1;
  }
};

// Reads "key = value {, key = value}" to the statement's end.
bool ReadPairs(SCRIPTARGS& a, std::vector<std::pair<std::string, PAIRVALUE>>& pairs) {
  if (a.AtEnd()) return a.Fail();
  for (;;) {
    std::string key;
    if (!a.Word(key)) return a.Fail();
    if (!a.Equals()) return false;
    PAIRVALUE v;
    if (a.Word(v.text)) {
      v.word = true;
    } else {
      if (!a.Value(v.value)) return false;
      v.text = v.value.Text();
    }
    pairs.emplace_back(std::move(key), std::move(v));
    if (a.AtEnd()) return true;
    if (!a.Comma()) return false;
  }
}

bool SerialKind(int kind) { return kind == MODEM_DIRECT || kind == MODEM_AT || kind == MODEM_TAPI; }

// The default typing path: to the port and to the collation of typed text.
void TypeToPort(const std::string& sjis) {
  if (sjis.empty() || !COMPORT::IsOpen()) return;
  for (char c : sjis) COMPORT::Send(c);
  COLLATE::Typed(sjis.data(), sjis.size());
}

}  // namespace

bool SCRIPTLINE::Handles(uint8_t a) {
  switch (a) {
    case atom::SENDBREAK:
    case atom::SENDCLIPBRD:
    case atom::SETAUTOHANGUP:
    case atom::PORT:
    case atom::SETUP:
    case atom::SETPORTNO:
    case atom::CONNECT:
    case atom::HANGUP:
    case atom::AFTERHANGUP:
    case atom::GETHOSTNAME: return true;
    default: return false;
  }
}

bool SCRIPTLINE::Run(uint8_t a) {
  switch (a) {
    case atom::PORT: return Port();
    case atom::SETUP: return Setup();
    case atom::CONNECT: return Connect();
    case atom::HANGUP: return Hangup();
    case atom::AFTERHANGUP: return AfterHangup();
    case atom::SETPORTNO:
      SCRIPTARGS::RuntimeError(scriptmsg::NO_SETPORTNO);
      return false;
    default: break;
  }
  SCRIPTARGS args(a);
  switch (a) {
    case atom::SENDBREAK: {
      if (!args.End()) return false;
      if (hooks.sendBreak)
        hooks.sendBreak();
      else
        COMPORT::SendBreak(BREAK_MS);
      return true;
    }
    case atom::SENDCLIPBRD: {
      if (!args.End()) return false;
      const std::string text = hooks.clipboardText ? hooks.clipboardText() : std::string();
      // Typed text ends its lines with CR, as the Enter key does.
      std::string sjis;
      const std::string converted = jcode::Utf8ToSjis(text);
      for (size_t i = 0; i < converted.size(); ++i) {
        const char c = converted[i];
        if (c == '\r' && i + 1 < converted.size() && converted[i + 1] == '\n') continue;
        sjis.push_back(c == '\n' ? '\r' : c);
      }
      if (sjis.empty()) return true;
      if (hooks.typed)
        hooks.typed(sjis);
      else
        TypeToPort(sjis);
      return true;
    }
    case atom::SETAUTOHANGUP: {
      int32_t minutes;
      if (!args.Number(minutes) || !args.End()) return false;
      if (minutes < 0) return args.Fail();
      CLIENT::secAutoHangup = minutes;
      timeAutoHangup = CLIENT::hooks.tick ? CLIENT::hooks.tick() : GetTick();
      return true;
    }
    case atom::GETHOSTNAME: {
      std::string var;
      if (!args.Variable(var) || !args.End()) return false;
      return SCRIPTARGS::Assign(var, hostprop.szName);
    }
    default: return true;
  }
}

bool SCRIPTLINE::Port() {
  SCRIPTARGS a(atom::PORT);
  std::vector<std::pair<std::string, PAIRVALUE>> pairs;
  if (!ReadPairs(a, pairs)) return false;
  HOSTPROPERTY h = hostprop;
  int parity = parity_;
  const bool serial = SerialKind(h.ModemType);
  bool serialChanged = false;
  for (const auto& [key, v] : pairs) {
    int sw = 0, i = -1;
    int32_t n = 0;
    if (key == "BAUDRATE") {
      if (!v.Integer(n) || n <= 0) return a.Fail();
      if (serial) {
        h.Baudrate = n;
        serialChanged = true;
      }
    } else if (key == "STOPBIT") {
      if ((i = v.OneOf({"1", "1.5", "2"})) < 0) {
        if (!v.Integer(n) || (n != 1 && n != 2)) return a.Fail();
        i = n == 1 ? ONESTOPBIT : TWOSTOPBITS;
      }
      if (serial) {
        h.StopBit = i;
        serialChanged = true;
      }
    } else if (key == "PARITY") {
      if ((i = v.OneOf({"NONE", "EVEN", "ODD"})) < 0) return a.Fail();
      if (serial) {
        parity = i;
        serialChanged = true;
      }
    } else if (key == "DATA") {
      if (!v.Integer(n) || (n != 7 && n != 8)) return a.Fail();
      h.SevenBit = n == 7 ? 1 : 0;
    } else if (key == "KANJICODE") {
      if ((i = v.OneOf({"SHIFTJIS", "NEWJIS", "OLDJIS", "NEC", "EUC"})) < 0) return a.Fail();
      h.KanjiCode = i;
    } else if (key == "FLOWCONTROL") {
      if ((i = v.OneOf({"NONE", "X", "HARDWARE", "ON"})) < 0) return a.Fail();
      if (serial) {
        h.FlowControl = i == 3 ? int(FLOW_XONXOFF) : i;
        serialChanged = true;
      }
    } else if (key == "SISO") {
      if (!v.Switch(sw)) return a.Fail();  // accepted; 7-bit kana follow DATA
    } else {
      int HOSTPROPERTY::*field = key == "LOCALECHO"     ? &HOSTPROPERTY::LocalEcho
                                 : key == "LOCALEDIT"   ? &HOSTPROPERTY::LocalEdit
                                 : key == "SENDCRLF"    ? &HOSTPROPERTY::SendCRLF
                                 : key == "SENDETX"     ? &HOSTPROPERTY::ETX
                                 : key == "RECEIVECRLF" ? &HOSTPROPERTY::ReceiveCROnly
                                 : key == "AUTOBPLUS"   ? &HOSTPROPERTY::AutoBPLUS
                                 : key == "AUTOZMODEM"  ? &HOSTPROPERTY::AutoZmodem
                                 : key == "REMOVECTRLS" ? &HOSTPROPERTY::RemoveCtrls
                                                        : nullptr;
      if (!field || !v.Switch(sw)) return a.Fail();
      h.*field = sw;
    }
  }
  hostprop = h;
  parity_ = parity;
  if (serialChanged && COMPORT::IsOpen() && !COMPORT::fSocket &&
      !COMPORT::SetComParam(h.Baudrate, static_cast<STOPBIT>(h.StopBit), static_cast<FLOWCONTROL>(h.FlowControl),
                            parity))
    DebugLogF("script: PORT: the line refused %d bps\n", h.Baudrate);
  return true;
}

bool SCRIPTLINE::Setup() {
  SCRIPTARGS a(atom::SETUP);
  std::vector<std::pair<std::string, PAIRVALUE>> pairs;
  if (!ReadPairs(a, pairs)) return false;
  HOSTPROPERTY h = hostprop;
  std::optional<int> maxRedial;
  for (const auto& [key, v] : pairs) {
    int32_t n = 0;
    int i;
    // Numbers, or ON (1) and OFF (0).
    auto number = [&v](int32_t& out, int32_t hi) {
      int sw;
      if (v.Switch(sw)) {
        out = sw;
        return true;
      }
      return v.Integer(out) && out >= 0 && out <= hi;
    };
    if (key == "ORIKAESHI" || key == "MARGIN") {
      if (!v.Integer(n) || n < 0 || n > 999) return a.Fail();
      (key == "MARGIN" ? h.Margin : h.Orikaeshi) = n;
    } else if (key == "MARGINTYPE") {
      if ((i = v.OneOf({"ZENKAKU", "HANKAKU"})) < 0) return a.Fail();
      h.HankakuMargin = i;
    } else if (key == "MAXREDIAL") {
      if (!number(n, 9999)) return a.Fail();
      maxRedial = n;
    } else if (key == "PACECHARACTER") {
      h.PaceCharacter = v.text.empty() ? 0 : static_cast<uint8_t>(v.text[0]);
    } else {
      int HOSTPROPERTY::*field = key == "KINSOKU"        ? &HOSTPROPERTY::Kinsoku
                                 : key == "FASTSEND"     ? &HOSTPROPERTY::FastSend
                                 : key == "COLLATION"    ? &HOSTPROPERTY::Collate
                                 : key == "TABTOSPACE"   ? &HOSTPROPERTY::TabToSpace
                                 : key == "FLYINGXMODEM" ? &HOSTPROPERTY::FlyingXmodem
                                 : key == "MARGINSYNC"   ? &HOSTPROPERTY::AutoMarginSync
                                                         : nullptr;
      if (!field || !number(n, INT32_MAX)) return a.Fail();
      h.*field = n ? 1 : 0;
    }
  }
  hostprop = h;
  if (maxRedial) {
    // The redial count is a setting of the program, not of the host: the
    // user's own value comes back when the call ends.
    if (!savedMaxRedial_) savedMaxRedial_ = config.MaxRedial;
    config.MaxRedial = *maxRedial;
  }
  return true;
}

bool SCRIPTLINE::Connect() {
  SCRIPTARGS a(atom::CONNECT);
  std::string host;
  if (!a.Text(host) || !a.End()) return false;
  if (fOnline) {
    SCRIPTARGS::RuntimeError(scriptmsg::CONNECT_ONLINE);
    return false;
  }
  int connected;
  {
    // The dial runs event loops of its own (the connection window, message
    // boxes); the script sleeps meanwhile and what is asked of it waits.
    const bool was = SCRIPTARGS::Sleeping(true);
    SCRIPT::NESTEDLOOP dialling;
    connected = TAPISUB::Dial(host.c_str(), true);
    SCRIPTARGS::Sleeping(was);
  }
  SCRIPTARGS::RestartWatchdog();
  SCRIPTARGS::Level().result = connected ? 1 : 0;
  return true;
}

bool SCRIPTLINE::Hangup() {
  SCRIPTARGS a(atom::HANGUP);
  if (!a.End()) return false;
  if (hooks.postHangup) {
    hooks.postHangup();
  } else if (QCoreApplication* app = QCoreApplication::instance()) {
    QTimer::singleShot(0, app, [] { TAPISUB::Hangup(); });
  } else {
    SCRIPT::StopAll();
    TAPISUB::Hangup();
    return false;
  }
  SCRIPT::StopAll();
  return false;
}

bool SCRIPTLINE::AfterHangup() {
  SCRIPTPOS& l = SCRIPTARGS::Level();
  const std::vector<uint8_t>& c = l.program->code.Code();
  ATOMITERATOR it(c.data(), c.size(), l.pos);
  ATOMREF t;
  if (!it.Next(t)) {
    SCRIPTARGS::RuntimeError(scriptmsg::SYNTAX);
    return false;
  }
  const std::string target(t.Text());
  l.pos = t.Next();
  SCRIPTARGS a(atom::AFTERHANGUP, false);
  if (!a.End()) return false;
  if (target.empty()) {
    SCRIPTARGS::RuntimeError(scriptmsg::NO_LABEL);
    return false;
  }
  auto h = std::make_unique<HANGUPSCRIPT>();
  h->target = target;
  const auto [file, label] = SplitCallTarget(target);
  h->label = label;
  if (!file.empty()) {
    h->file = FindScriptFile(file, SCRIPTARGS::ScriptDirs());
    if (h->file.empty()) {
      SCRIPTARGS::RuntimeError(scriptmsg::NO_CALL_FILE);
      return false;
    }
  } else {
    if (!l.program->code.GetLabelAddress(Upper(h->label))) {
      SCRIPTARGS::RuntimeError(scriptmsg::NO_LABEL);
      return false;
    }
    if (l.file == "@memory")
      h->program = l.program;
    else
      h->file = l.file;
  }
  hangupScript_ = std::move(h);
  return true;
}

bool SCRIPTLINE::HangupScriptRegistered() { return hangupScript_ != nullptr; }

const std::string& SCRIPTLINE::HangupScriptTarget() {
  static const std::string none;
  return hangupScript_ ? hangupScript_->target : none;
}

void SCRIPTLINE::CallEnded() {
  parity_ = 0;
  if (savedMaxRedial_) config.MaxRedial = *savedMaxRedial_;
  savedMaxRedial_.reset();
}

void SCRIPTLINE::Reset() {
  hooks = {};
  hangupScript_.reset();
  parity_ = 0;
  savedMaxRedial_.reset();
}

// The registration lives with the statement that makes it (above).
bool SCRIPT::ExecuteHangupScript() {
  SCRIPTLINE::CallEnded();
  if (!SCRIPTLINE::hangupScript_) return false;
  const std::unique_ptr<SCRIPTLINE::HANGUPSCRIPT> h = std::move(SCRIPTLINE::hangupScript_);
  if (!h->file.empty()) return Execute(h->file, h->label);
  // A label of a script that was given as text: its program is kept.
  if (loopDepth_ > 0) {
    DebugLogF("script: the hang-up script %s cannot start during another window\n", h->target.c_str());
    return false;
  }
  const std::optional<uint32_t> to = h->program->code.GetLabelAddress(Upper(h->label));
  if (!to) return false;
  SCRIPTPOS l;
  l.file = "@memory";
  l.program = h->program;
  l.pos = *to;
  l.line = l.program->LineAt(*to);
  l.label = h->label;
  return Push(std::move(l));
}
