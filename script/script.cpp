#include "script/script.h"

#include <algorithm>
#include <filesystem>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "script/atoms.h"
#include "script/dialogcmds.h"
#include "script/filecmds.h"
#include "script/linecmds.h"
#include "script/logcmds.h"
#include "script/programcmds.h"
#include "script/settingcmds.h"
#include "script/transfercmds.h"
#include "script/scriptmsg.h"
#include "script/scriptname.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/config.h"
#include "terminal/waiter.h"

bool SCRIPT::fExecuting = false;
bool SCRIPT::fPause = false;
bool SCRIPT::fDebugInfo = false;
bool SCRIPT::fKeyboardOn = true;
bool SCRIPT::fHideDisplay = false;
SCRIPTHOOKS SCRIPT::hooks;
std::function<TICK()> SCRIPT::tickSource;
std::vector<std::string> SCRIPT::searchDirs;
std::vector<SCRIPTPOS> SCRIPT::levels_;
bool SCRIPT::stopAfterStatement_ = false;
bool SCRIPT::stepArmed_ = false;
bool SCRIPT::stepRequested_ = false;
bool SCRIPT::inProcess_ = false;
bool SCRIPT::sliceContinues_ = false;
TICK SCRIPT::watchdogStart_ = 0;
int SCRIPT::loopDepth_ = 0;
bool SCRIPT::inStatement_ = false;
std::optional<SCRIPT::QUEUEDSTART> SCRIPT::queued_;
int SCRIPT::heldStops_ = 0;
bool SCRIPT::heldStopAll_ = false;

namespace {
bool inExecute = false;
}

void SCRIPTPROGRAM::IndexLines() {
  linenoOffsets.clear();
  linenoNumbers.clear();
  const std::vector<uint8_t>& c = code.Code();
  ATOMITERATOR it(c.data(), c.size());
  ATOMREF a;
  while (it.Next(a)) {
    if (a.atom != atom::LINENO) continue;
    linenoOffsets.push_back(a.offset);
    linenoNumbers.push_back(a.Line());
  }
}

int SCRIPTPROGRAM::LineAt(size_t offset) const {
  auto it = std::upper_bound(linenoOffsets.begin(), linenoOffsets.end(), offset);
  if (it == linenoOffsets.begin()) return 1;
  // The statement after a LINENO is on the line that atom names; an offset
  // on a LINENO itself still belongs to the line it ends.
  size_t i = static_cast<size_t>(it - linenoOffsets.begin()) - 1;
  if (linenoOffsets[i] == offset) return i == 0 ? 1 : linenoNumbers[i - 1];
  return linenoNumbers[i];
}

namespace {

const std::vector<uint8_t>& CodeOf(const SCRIPTPOS& p) { return p.program->code.Code(); }

uint8_t AtomAt(const SCRIPTPOS& p, size_t pos) {
  const std::vector<uint8_t>& c = CodeOf(p);
  return pos < c.size() ? c[pos] : 0;
}

ATOMREF Read(const SCRIPTPOS& p, size_t pos) {
  const std::vector<uint8_t>& c = CodeOf(p);
  ATOMITERATOR it(c.data(), c.size(), pos);
  ATOMREF a;
  if (!it.Next(a)) a = ATOMREF{static_cast<uint32_t>(pos), 0, nullptr, 0};
  return a;
}

// Position after the next LINENO at or after pos (the code size at the end).
size_t AfterLine(const SCRIPTPOS& p, size_t pos, int* line) {
  const std::vector<uint8_t>& c = CodeOf(p);
  ATOMITERATOR it(c.data(), c.size(), pos);
  ATOMREF a;
  while (it.Next(a)) {
    if (a.atom == atom::LINENO) {
      if (line) *line = a.Line();
      return a.Next();
    }
  }
  return c.size();
}

// The first atom of the statement at a line start, past its labels.
size_t PastLabels(const SCRIPTPOS& p, size_t pos) {
  while (AtomAt(p, pos) == atom::LABEL) pos = Read(p, pos).Next();
  return pos;
}

// Position after a condition "(...)" starting at pos.
size_t PastCondition(const SCRIPTPOS& p, size_t pos) {
  int depth = 0;
  const std::vector<uint8_t>& c = CodeOf(p);
  ATOMITERATOR it(c.data(), c.size(), pos);
  ATOMREF a;
  while (it.Next(a)) {
    if (a.atom == atom::LINENO) return a.offset;
    if (a.atom == atom::OPENPAREN || a.atom == atom::OPENBRACKET || atom::IsFunction(a.atom))
      ++depth;
    else if (a.atom == atom::CLOSE && --depth <= 0)
      return a.Next();
  }
  return c.size();
}

// Whether the IF/ELSEIF at pos is a block (nothing after its condition).
bool IsBlockIf(const SCRIPTPOS& p, size_t pos) { return AtomAt(p, PastCondition(p, pos + 1)) == atom::LINENO; }
bool IsBlockElse(const SCRIPTPOS& p, size_t pos) { return AtomAt(p, pos + 1) == atom::LINENO; }

std::string UpperAscii(std::string s) {
  ToUpper(s.data());
  return s;
}

// Where a relative script name is looked for.
std::vector<std::string> ScriptDirs() {
  if (!SCRIPT::searchDirs.empty()) return SCRIPT::searchDirs;
  return {".", config.ScriptPath};
}


// How a line starting with `a` changes the nesting of switches and loops:
// +1 for an opener, -1 for a closer, else 0.
int NestingStep(uint8_t a) {
  switch (a) {
    case atom::SWITCH:
    case atom::LOOPSWITCH:
    case atom::BEGINLOOP:
    case atom::WHILE: return 1;
    case atom::ENDSWITCH:
    case atom::ENDLOOP:
    case atom::ENDWHILE: return -1;
    default: return 0;
  }
}

// The end of a SWITCH/LOOPSWITCH wait: the body of the CASE that listed the
// RESULT-th string, or on a time-out the CASE TIMEOUT body; a time-out
// without one goes on after the closer.
void DispatchSwitch(SCRIPTPOS& l) {
  l.switchWait = false;
  size_t to = l.switchAfter;
  int r = l.result;
  for (const SCRIPTPOS::SWITCHCASE& c : l.switchCases) {
    if (r < 0 ? c.timeoutCase : r >= 1 && r <= c.strings) {
      to = c.body;
      break;
    }
    if (r > 0) r -= c.strings;
  }
  l.switchCases.clear();
  l.pos = to;
  l.line = l.program->LineAt(to);
}

}  // namespace

// The statement handlers.  Each returns true when the rest of the line is to
// be skipped, false when it positioned the level itself or installed a wait.
class SCRIPTSTATEMENTS {
 public:
  static SCRIPTPOS& L() { return SCRIPT::levels_.back(); }
  // The running level's view for the evaluator.  One context serves every
  // statement: only the program, the level and RESULT change, and the screen
  // and line hooks are read when an expression asks for them.
  static const EVALCONTEXT& Context() { return SCRIPT::EvalContext(); }
  // Evaluates the expression at the level's position and moves past it.
  static bool Value(SCRIPTVALUE& v) {
    const EVALCONTEXT& c = Context();
    EVALUATOR e(c, L().pos);
    if (!e.GetValue(v)) {
      SCRIPT::ExpressionError(e.errorId, e.errorKeyword);
      return false;
    }
    L().pos = e.Position();
    return true;
  }
  static uint8_t Peek() { return AtomAt(L(), L().pos); }
  static bool AtEnd() { return Peek() == atom::LINENO || L().pos >= CodeOf(L()).size(); }

  static bool Run(uint8_t a) {
    switch (a) {
      case atom::LABEL: L().pos = Read(L(), L().pos).Next(); return false;
      case atom::ASSIGN: return Assign();
      case atom::WAIT: return Wait();
      case atom::SEND: return Send();
      case atom::TIMEOUT_:
      case atom::MILLITIMEOUT: return Timeout(a);
      case atom::SLEEP:
      case atom::MILLISLEEP: return Sleep(a);
      case atom::GETLINE:
      case atom::GETCHAR: return Capture(a);
      case atom::DEBUGINFO: return DebugInfo();
      case atom::PAUSE: SCRIPT::fPause = true; return true;
      case atom::EXIT: SCRIPT::Stop(); return false;
      case atom::RETURN: return Return();
      case atom::GOTO: return Goto();
      case atom::CALL: return Call();
      case atom::CALLVARLABEL: return CallVarLabel();
      case atom::CHECKLABEL: return CheckLabel();
      case atom::IF: return If(false);
      case atom::ELSEIF:
      case atom::ELSE: return SkipBranch(a);
      case atom::ENDIF:
      case atom::BEGINLOOP: return true;
      case atom::WHILE: return While();
      case atom::ENDLOOP:
      case atom::ENDWHILE:
      case atom::LOOPAGAIN: {
        const std::vector<uint8_t>& c = CodeOf(L());
        if (L().pos + 5 > c.size()) return true;  // a damaged closer: the next line
        L().pos = atom::Get32(c.data() + L().pos + 1);
        return false;
      }
      case atom::BREAKLOOP: return BreakLoop();
      case atom::SWITCH:
      case atom::LOOPSWITCH: return Switch(a);
      case atom::CASE: return CaseEnd();
      case atom::ENDSWITCH: return true;
      default:
        if (SCRIPTFILE::Handles(a)) return SCRIPTFILE::Run(a);
        if (SCRIPTLINE::Handles(a)) return SCRIPTLINE::Run(a);
        if (SCRIPTLOG::Handles(a)) return SCRIPTLOG::Run(a);
        if (SCRIPTPROGRAMCMDS::Handles(a)) return SCRIPTPROGRAMCMDS::Run(a);
        if (SCRIPTDIALOGCMDS::Handles(a)) return SCRIPTDIALOGCMDS::Run(a);
        if (SCRIPTSETTINGCMDS::Handles(a)) return SCRIPTSETTINGCMDS::Run(a);
        if (SCRIPTTRANSFER::Handles(a)) return SCRIPTTRANSFER::Run(a);
        SCRIPT::Report(scriptmsg::NOT_YET, std::string(atom::Name(a)) + " " + scriptmsg::Text(scriptmsg::NOT_YET),
                       atom::Name(a));
        return false;
    }
  }

  // 代入: NAME {"[" expr "]"} "=" expr
  static bool Assign() {
    const size_t at = L().pos;
    ATOMREF a;
    {
      // The target's name, up to its NUL (a plain scan: names are short).
      const std::vector<uint8_t>& code = CodeOf(L());
      size_t nul = at + 1;
      while (nul < code.size() && code[nul]) ++nul;
      if (nul >= code.size()) {
        SCRIPT::RuntimeError(scriptmsg::SYNTAX);
        return false;
      }
      a = ATOMREF{static_cast<uint32_t>(at), atom::ASSIGN, code.data() + at + 1, static_cast<uint32_t>(nul - at)};
    }
    const EVALCONTEXT& c = Context();
    EVALUATOR e(c, a.Next());
    std::string name;
    const bool plain = e.Peek() != atom::OPENBRACKET;
    if (!plain && !e.GetDim(a.Text(), name)) {
      SCRIPT::RuntimeError(e.errorId);
      return false;
    }
    if (e.Peek() != atom::EQ) {
      SCRIPT::RuntimeError(scriptmsg::SYNTAX);
      return false;
    }
    L().pos = e.Position() + 1;
    SCRIPTVALUE v;
    if (!Value(v)) return false;
    if (!AtEnd()) {
      SCRIPT::RuntimeError(scriptmsg::SYNTAX);
      return false;
    }
    if (plain) {
      // A variable without subscripts that exists is replaced where it was
      // last found; making and deleting go the long way.
      const std::string_view written = a.Text();
      const int level = SCRIPT::cNest();
      auto form = [&] {
        FormVarNameInto(name, written, level);
        return std::string_view(name);
      };
      VARCACHE& cache = L().program->vars;
      if (VAR::IsNumeric(written)) {
        if (const int32_t n = v.AsNumber()) {
          if (int32_t* slot = cache.Find<int32_t>(at, level, [&] { return VAR::FindNumber(form()); })) {
            VAR::ReplaceNumber(slot, n);
            return true;
          }
        }
      } else if (const std::string& t = v.Text(); !t.empty()) {
        if (std::string* slot = cache.Find<std::string>(at, level, [&] { return VAR::FindString(form()); })) {
          const bool ok = VAR::ReplaceString(slot, t, written[0] == '%');
          if (!ok) SCRIPT::RuntimeError(scriptmsg::VARIABLE_MEMORY);
          return ok;
        }
      }
      if (name.empty()) form();
    }
    const bool ok = VAR::IsNumeric(name) ? VAR::SetNumVar(name, v.AsNumber()) : VAR::SetVar(name, v.Text());
    if (!ok) SCRIPT::RuntimeError(scriptmsg::VARIABLE_MEMORY);
    return ok;
  }

  static void StartWait(std::unique_ptr<WAITER> w) {
    L().waiter = std::move(w);
    L().waiting = true;
    L().waitStart = SCRIPT::Now();
    L().waitMs = L().timeoutMs;
    L().quietArmed = 0;
    if (L().waitMs > 0 && SCRIPT::hooks.armTimer) SCRIPT::hooks.armTimer(L().waitMs);
    SCRIPT::ArmQuietTimer(L());  // a silence alone is awaited from now
  }

  // WAIT item {"," item}; item := [WILDCARD] [POSTIDLE(n) | POSTMILLIIDLE(n)] expr
  static bool Wait() {
    ++L().pos;
    std::unique_ptr<WAITER> w;
    int count = 0;
    if (!AddItems(atom::WAIT, w, count)) return false;
    StartWait(std::move(w));
    return false;
  }

  // Adds the items from the level's position to the end of the statement to
  // one matcher (made by the first item; `keyword` names the statement in a
  // parameter error).  count: items added.
  static bool AddItems(uint8_t keyword, std::unique_ptr<WAITER>& w, int& count) {
    for (;;) {
      bool wildcard = false;
      int64_t quiet = 0;
      if (Peek() == atom::WILDCARD) {
        wildcard = true;
        ++L().pos;
      }
      if (Peek() == atom::POSTIDLE || Peek() == atom::POSTMILLIIDLE) {
        const uint8_t m = Peek();
        ++L().pos;
        SCRIPTVALUE n;
        if (!Value(n)) return false;
        if (!n.fNum || n.num < 0 || Peek() != atom::CLOSE) {
          SCRIPT::ParameterError(m);
          return false;
        }
        ++L().pos;
        quiet = m == atom::POSTIDLE ? int64_t(n.num) * 1000 : n.num;
      }
      SCRIPTVALUE s;
      if (AtEnd()) {
        SCRIPT::ParameterError(keyword);
        return false;
      }
      if (!Value(s)) return false;
      const auto q = static_cast<TICK>(quiet);
      if (!w) {
        if (wildcard)
          w = std::make_unique<WILDCARDWAITER>(s.Text().c_str(), q);
        else
          w = std::make_unique<WAITER>(s.Text().c_str(), q);
      } else {
        w->Link(s.Text().c_str(), q, wildcard);
      }
      ++count;
      if (Peek() == atom::COMMA) {
        ++L().pos;
        continue;
      }
      if (!AtEnd()) {
        SCRIPT::ParameterError(keyword);
        return false;
      }
      return true;
    }
  }

  // SWITCH / LOOPSWITCH: one wait on the strings of every CASE line up to
  // the closer (CASE lines of nested switches and loops are not theirs).
  // The wait's end picks the body (SCRIPT::EndWait, DispatchSwitch).
  static bool Switch(uint8_t a) {
    SCRIPTPOS& l = L();
    const size_t opener = l.pos;
    const int openerLine = l.line;
    if (AtomAt(l, opener + 1) != atom::LINENO) {
      SCRIPT::ParameterError(a);
      return false;
    }
    std::unique_ptr<WAITER> w;
    std::vector<SCRIPTPOS::SWITCHCASE> cases;
    int strings = 0;
    int depth = 0;
    bool closed = false;
    size_t after = 0;
    const size_t end = CodeOf(l).size();
    for (size_t p = AfterLine(l, opener, nullptr); p < end;) {
      const size_t first = PastLabels(l, p);
      const uint8_t b = AtomAt(l, first);
      const int step = NestingStep(b);
      if (step > 0) {
        ++depth;
      } else if (step < 0) {
        if (depth-- == 0) {
          // The closer of this switch: ENDSWITCH for SWITCH, its loop's closer for LOOPSWITCH.
          closed = a == atom::SWITCH ? b == atom::ENDSWITCH : b != atom::ENDSWITCH && Read(l, first).Offset() == opener;
          after = AfterLine(l, first, nullptr);
          break;
        }
      } else if (depth == 0 && b == atom::CASE) {
        SCRIPTPOS::SWITCHCASE c;
        c.body = AfterLine(l, first, nullptr);
        l.pos = first + 1;
        l.line = l.program->LineAt(first);
        if (Peek() == atom::TIMEOUTV && AtomAt(l, l.pos + 1) == atom::LINENO) {
          c.timeoutCase = true;
        } else if (!AddItems(atom::CASE, w, c.strings)) {
          return false;
        }
        strings += c.strings;
        cases.push_back(c);
      } else if (depth == 0 && cases.empty() && b != atom::LINENO && first < end) {
        l.line = l.program->LineAt(first);
        SCRIPT::RuntimeError(scriptmsg::EXTRA_BEFORE_CASE);
        return false;
      }
      p = AfterLine(l, first, nullptr);
    }
    l.pos = opener;
    l.line = openerLine;
    if (!closed) {
      SCRIPT::RuntimeError(scriptmsg::NO_ENDSWITCH);
      return false;
    }
    if (strings == 0) {
      SCRIPT::RuntimeError(scriptmsg::NO_CASE);
      return false;
    }
    l.switchWait = true;
    l.switchCases = std::move(cases);
    l.switchAfter = after;
    StartWait(std::move(w));
    return false;
  }

  // CASE reached in normal flow: the body before it has run, so the switch
  // ends: to its closer (ENDSWITCH goes on after itself, the ENDLOOP of a
  // LOOPSWITCH waits again).
  static bool CaseEnd() {
    SCRIPTPOS& l = L();
    int depth = 0;
    const size_t end = CodeOf(l).size();
    for (size_t p = AfterLine(l, l.pos, nullptr); p < end;) {
      const size_t first = PastLabels(l, p);
      const int step = NestingStep(AtomAt(l, first));
      if (step > 0) {
        ++depth;
      } else if (step < 0 && depth-- == 0) {
        l.pos = first;
        l.line = l.program->LineAt(first);
        return false;
      }
      p = AfterLine(l, first, nullptr);
    }
    SCRIPT::RuntimeError(scriptmsg::NO_ENDSWITCH);
    return false;
  }

  static bool Send() {
    ++L().pos;
    SCRIPTVALUE v;
    if (AtEnd()) {
      SCRIPT::ParameterError(atom::SEND);
      return false;
    }
    if (!Value(v)) return false;
    if (!AtEnd()) {
      SCRIPT::ParameterError(atom::SEND);
      return false;
    }
    if (SCRIPT::hooks.sentToAddins) SCRIPT::hooks.sentToAddins(v.Text());
    if (SCRIPT::hooks.send) SCRIPT::hooks.send(v.Text());
    return true;
  }

  static bool Number(uint8_t keyword, int64_t& out) {
    ++L().pos;
    SCRIPTVALUE v;
    if (AtEnd()) {
      SCRIPT::ParameterError(keyword);
      return false;
    }
    if (!Value(v)) return false;
    out = v.AsNumber();
    if (out < 0 || !AtEnd()) {
      SCRIPT::ParameterError(keyword);
      return false;
    }
    return true;
  }

  static bool Timeout(uint8_t a) {
    int64_t n;
    if (!Number(a, n)) return false;
    L().timeoutMs = a == atom::TIMEOUT_ ? n * 1000 : n;
    return true;
  }

  static bool Sleep(uint8_t a) {
    int64_t n;
    if (!Number(a, n)) return false;
    const int64_t ms = a == atom::SLEEP ? n * 1000 : n;
    L().sleeping = true;
    L().yieldOnce = ms == 0;
    L().sleepUntil = SCRIPT::Now() + static_cast<TICK>(ms);
    if (ms > 0 && SCRIPT::hooks.armTimer) SCRIPT::hooks.armTimer(ms);
    L().pos = AfterLine(L(), L().pos, &L().line);
    return false;
  }

  // GETLINE var / GETCHAR var
  static bool Capture(uint8_t a) {
    ++L().pos;
    ATOMREF v = Read(L(), L().pos);
    if (v.atom != atom::VARIABLE) {
      SCRIPT::ParameterError(a);
      return false;
    }
    const EVALCONTEXT& c = Context();
    EVALUATOR e(c, v.Next());
    std::string name;
    if (!e.GetDim(v.Text(), name)) {
      SCRIPT::RuntimeError(e.errorId);
      return false;
    }
    L().pos = e.Position();
    if (!AtEnd()) {
      SCRIPT::ParameterError(a);
      return false;
    }
    L().capture = true;
    L().captureLine = a == atom::GETLINE;
    L().captureName = name;
    L().captureBuf.clear();
    if (a == atom::GETLINE) {
      StartWait(std::make_unique<WAITER>("\r\n", 0));
    } else {
      L().captureChar = true;
      StartWait(nullptr);
    }
    return false;
  }

  static bool DebugInfo() {
    ++L().pos;
    const uint8_t a = Peek();
    if ((a == atom::ON || a == atom::OFF) && AtomAt(L(), L().pos + 1) == atom::LINENO) {
      SCRIPT::fDebugInfo = a == atom::ON;
      return true;
    }
    SCRIPTVALUE v;
    if (AtEnd()) {
      SCRIPT::ParameterError(atom::DEBUGINFO);
      return false;
    }
    if (!Value(v)) return false;
    if (SCRIPT::fDebugInfo) {
      const std::string u = jcode::SjisToUtf8(v.Text());
      if (SCRIPT::hooks.debugInfo)
        SCRIPT::hooks.debugInfo(u);
      else
        DebugLog(u.c_str());
    }
    return true;
  }

  // RETURN [expr]
  static bool Return() {
    ++L().pos;
    SCRIPTVALUE v;
    bool hasValue = !AtEnd();
    if (hasValue && !Value(v)) return false;
    if (!L().called || SCRIPT::levels_.size() < 2) {
      SCRIPT::Stop();
      return false;
    }
    const int caller = SCRIPT::cNest() - 1;
    const std::string name = FormVarName("#RETURN", caller);
    VAR::SetVar(name, hasValue ? v.Text() : std::string());
    // End this level alone; the caller goes on after its CALL.
    VAR::ClearLocal(LocalPrefix(SCRIPT::cNest()));
    SCRIPT::levels_.pop_back();
    L().pos = AfterLine(L(), L().pos, &L().line);
    return false;
  }

  // GOTO word | GOTO expr
  static bool Goto() {
    ++L().pos;
    ATOMREF t = Read(L(), L().pos);
    std::string target;
    const bool bare = t.atom == atom::WORD || (t.atom >= atom::YES && t.atom <= atom::WILDCARD);
    if (t.atom == atom::WORD)
      target = std::string(t.Text());
    else if (bare)
      target = atom::Name(t.atom);
    else {
      SCRIPTVALUE v;
      if (AtEnd()) {
        SCRIPT::ParameterError(atom::GOTO);
        return false;
      }
      if (!Value(v)) return false;
      target = UpperAscii(v.Text());
    }
    std::optional<uint32_t> to = L().program->code.GetLabelAddress(target);
    if (!to) {
      if (bare) {
        SCRIPT::RuntimeError(scriptmsg::NO_LABEL);
        return false;
      }
      return true;  // a computed target that is not there: the next line
    }
    L().pos = *to;
    L().line = L().program->LineAt(*to);
    return false;
  }

  // CALL target {"," expr}: target := label | file | file ":" label
  static bool Call() {
    ATOMREF t = Read(L(), L().pos);
    std::string target(t.Text());
    L().pos = t.Next();
    std::vector<std::string> args;
    if (!Arguments(atom::CALL, args)) return false;
    return SCRIPT::levels_.size() >= SCRIPT::MAX_NEST ? (SCRIPT::RuntimeError(scriptmsg::NEST_LIMIT), false)
                                                      : CallTarget(target, args);
  }

  // {"," expr} to the end of the statement, evaluated here in the caller.
  static bool Arguments(uint8_t keyword, std::vector<std::string>& args) {
    while (Peek() == atom::COMMA) {
      ++L().pos;
      SCRIPTVALUE v;
      if (!Value(v)) return false;
      args.push_back(v.Text());
    }
    if (!AtEnd()) {
      SCRIPT::ParameterError(keyword);
      return false;
    }
    return true;
  }

  // CALLVARLABEL expr {"," expr}: CALL with the target computed.
  static bool CallVarLabel() {
    ++L().pos;
    if (AtEnd()) {
      SCRIPT::ParameterError(atom::CALLVARLABEL);
      return false;
    }
    SCRIPTVALUE t;
    if (!Value(t)) return false;
    std::vector<std::string> args;
    if (!Arguments(atom::CALLVARLABEL, args)) return false;
    // An empty target would otherwise call the running file from its start.
    if (t.Text().empty()) {
      SCRIPT::RuntimeError(scriptmsg::NO_LABEL);
      return false;
    }
    if (SCRIPT::levels_.size() >= SCRIPT::MAX_NEST) {
      SCRIPT::RuntimeError(scriptmsg::NEST_LIMIT);
      return false;
    }
    return CallTarget(t.Text(), args);
  }

  // CHECKLABEL label | file | file ":" label, as a bare word or an
  // expression: RESULT 1 when the label (or, for a file alone, the file) is
  // there, otherwise 0.
  static bool CheckLabel() {
    ++L().pos;
    if (AtEnd()) {
      SCRIPT::RuntimeError(scriptmsg::NO_LABEL);
      return false;
    }
    std::string target;
    const ATOMREF t = Read(L(), L().pos);
    const bool alone = AtomAt(L(), t.Next()) == atom::LINENO;
    if (alone && t.atom == atom::WORD) {
      target = std::string(t.Text());
      L().pos = t.Next();
    } else if (alone && t.atom >= atom::YES && t.atom <= atom::WILDCARD) {
      target = atom::Name(t.atom);  // a label named like a keyword value
      L().pos = t.Next();
    } else {
      SCRIPTVALUE v;
      if (!Value(v)) return false;
      if (!AtEnd()) {
        SCRIPT::ParameterError(atom::CHECKLABEL);
        return false;
      }
      target = v.Text();
    }
    if (target.empty()) {
      SCRIPT::RuntimeError(scriptmsg::NO_LABEL);
      return false;
    }
    L().result = LabelExists(target) ? 1 : 0;
    return true;
  }

  // Whether a CALL of the target would find its label (a file alone: the
  // file).  A file that does not compile has no labels; nothing is reported.
  static bool LabelExists(const std::string& target) {
    const auto [file, label] = SplitCallTarget(target);
    if (file.empty()) return L().program->code.GetLabelAddress(UpperAscii(label)).has_value();
    const std::string path = FindScriptFile(file, ScriptDirs());
    if (path.empty()) return false;
    if (label.empty()) return true;
    for (const SCRIPTPOS& l : SCRIPT::levels_)
      if (l.file == path) return l.program->code.GetLabelAddress(UpperAscii(label)).has_value();
    NEWSCRIPT code;
    auto saved = NEWSCRIPT::reportError;
    NEWSCRIPT::reportError = nullptr;
    const bool ok = code.Load(path);
    NEWSCRIPT::reportError = saved;
    return ok && code.GetLabelAddress(UpperAscii(label)).has_value();
  }

  static bool CallTarget(const std::string& target, const std::vector<std::string>& args) {
    SCRIPTPOS next;
    const auto [file, label] = SplitCallTarget(target);
    if (!file.empty()) {
      const std::string path = FindScriptFile(file, ScriptDirs());
      if (path.empty()) {
        SCRIPT::RuntimeError(scriptmsg::NO_CALL_FILE);
        return false;
      }
      next.file = path;
      next.program = SCRIPT::LoadShared(path);
      if (!next.program) {
        SCRIPT::stopAfterStatement_ = true;
        return false;
      }
    } else {
      next.file = L().file;
      next.program = L().program;
    }
    if (!label.empty()) {
      std::optional<uint32_t> to = next.program->code.GetLabelAddress(UpperAscii(label));
      if (!to) {
        SCRIPT::RuntimeError(scriptmsg::NO_LABEL);
        return false;
      }
      next.pos = *to;
      next.line = next.program->LineAt(*to);
      next.label = label;
    }
    next.called = true;
    next.timeoutMs = 0;
    SCRIPT::levels_.push_back(std::move(next));
    for (size_t i = 0; i < args.size(); ++i)
      VAR::SetVar(FormVarName("#" + std::to_string(i + 1), SCRIPT::cNest()), args[i]);
    return false;
  }

  // Evaluates the condition of an IF/ELSEIF/WHILE at the level's position.
  static bool Condition(bool& truth) {
    ++L().pos;
    SCRIPTVALUE v;
    if (!Value(v)) return false;
    truth = v.IsTrue();
    return true;
  }

  // IF (c) [statement]; also an ELSEIF reached while looking for the branch.
  static bool If(bool) {
    const size_t at = L().pos;
    const bool block = IsBlockIf(L(), at);
    bool truth;
    if (!Condition(truth)) return false;
    if (!block) {
      if (truth) return false;  // the statement after the condition runs
      // False: the next line; an ELSEIF there is a continuation, an ELSE runs what follows it.
      int line;
      size_t next = AfterLine(L(), L().pos, &line);
      L().pos = next;
      L().line = line;
      const size_t first = PastLabels(L(), next);
      const uint8_t a = AtomAt(L(), first);
      if (a == atom::ELSEIF) {
        L().pos = first;
        return If(true);
      }
      if (a == atom::ELSE) L().pos = first + 1;
      return false;
    }
    if (truth) return true;
    return FindBranch(at);
  }

  // From a false block IF at `at`: to the ELSEIF that holds, the ELSE or the ENDIF.
  static bool FindBranch(size_t at) {
    int depth = 1;
    size_t p = AfterLine(L(), L().pos, nullptr);
    const size_t end = CodeOf(L()).size();
    while (p < end) {
      const size_t first = PastLabels(L(), p);
      const uint8_t a = AtomAt(L(), first);
      if (a == atom::IF && IsBlockIf(L(), first)) {
        ++depth;
      } else if (a == atom::ENDIF) {
        if (--depth == 0) {
          L().pos = AfterLine(L(), first, &L().line);
          return false;
        }
      } else if (depth == 1 && a == atom::ELSEIF) {
        L().pos = first;
        L().line = L().program->LineAt(first);
        return If(true);
      } else if (depth == 1 && a == atom::ELSE) {
        L().pos = first + 1;
        L().line = L().program->LineAt(first);
        return false;
      }
      p = AfterLine(L(), first, nullptr);
    }
    L().pos = at;
    L().line = L().program->LineAt(at);
    SCRIPT::RuntimeError(scriptmsg::NO_ENDIF);
    return false;
  }

  // ELSEIF or ELSE in normal flow: a branch has run.
  static bool SkipBranch(uint8_t a) {
    const size_t at = L().pos;
    const bool block = a == atom::ELSE ? IsBlockElse(L(), at) : IsBlockIf(L(), at);
    if (!block) return true;
    int depth = 1;
    size_t p = AfterLine(L(), at, nullptr);
    const size_t end = CodeOf(L()).size();
    while (p < end) {
      const size_t first = PastLabels(L(), p);
      const uint8_t b = AtomAt(L(), first);
      if (b == atom::IF && IsBlockIf(L(), first))
        ++depth;
      else if (b == atom::ENDIF && --depth == 0) {
        L().pos = AfterLine(L(), first, &L().line);
        return false;
      }
      p = AfterLine(L(), first, nullptr);
    }
    SCRIPT::RuntimeError(scriptmsg::NO_ENDIF);
    return false;
  }

  static bool While() {
    bool truth;
    if (!Condition(truth)) return false;
    if (truth) {
      if (AtEnd()) return true;
      return false;  // a statement on the WHILE's own line
    }
    return BreakLoop();
  }

  // To after the closer of the loop the level is in.
  static bool BreakLoop() {
    int depth = 0;
    const std::vector<uint8_t>& c = CodeOf(L());
    ATOMITERATOR it(c.data(), c.size(), Read(L(), L().stmtStart).Next());
    ATOMREF a;
    while (it.Next(a)) {
      if (a.atom == atom::BEGINLOOP || a.atom == atom::WHILE || a.atom == atom::LOOPSWITCH) {
        ++depth;
      } else if (a.atom == atom::ENDLOOP || a.atom == atom::ENDWHILE) {
        if (depth-- == 0) {
          L().pos = AfterLine(L(), a.Next(), &L().line);
          return false;
        }
      }
    }
    SCRIPT::RuntimeError(scriptmsg::NO_LOOP_TO_BREAK);
    return false;
  }
};

std::shared_ptr<SCRIPTPROGRAM> SCRIPT::LoadShared(const std::string& path) {
  for (const SCRIPTPOS& l : levels_)
    if (l.file == path) return l.program;
  auto p = std::make_shared<SCRIPTPROGRAM>();
  auto saved = NEWSCRIPT::reportError;
  NEWSCRIPT::reportError = [path](const NEWSCRIPT::DIAGNOSTIC& d) {
    SCRIPTERROR e{path, d.line, d.id, d.message, jcode::SjisToUtf8(d.source)};
    NESTEDLOOP dialog;
    if (hooks.reportError)
      hooks.reportError(e);
    else
      ErrorMessage(d.message);
  };
  const bool ok = p->code.Load(path);
  NEWSCRIPT::reportError = saved;
  if (!ok) return nullptr;
  p->IndexLines();
  return p;
}

bool SCRIPT::Push(SCRIPTPOS level) {
  if (levels_.size() >= MAX_NEST) {
    Report(scriptmsg::NEST_LIMIT, scriptmsg::Text(scriptmsg::NEST_LIMIT), "");
    stopAfterStatement_ = false;
    return false;
  }
  levels_.push_back(std::move(level));
  fExecuting = true;
  return true;
}

bool SCRIPT::Queue(bool fromMemory, const std::string& fileOrText, const std::string& label, bool silent) {
  if (queued_) {
    // Only one start waits for the statement; this one is refused.
    const bool stopping = stopAfterStatement_;
    Report(scriptmsg::NEST_LIMIT, scriptmsg::Text(scriptmsg::NEST_LIMIT), "");
    stopAfterStatement_ = stopping;
    return false;
  }
  queued_ = QUEUEDSTART{fromMemory, fileOrText, label, silent};
  return true;
}

void SCRIPT::RunQueued() {
  if (loopDepth_ > 0 || inStatement_) return;
  if (heldStopAll_) {
    heldStopAll_ = false;
    heldStops_ = 0;
    while (!levels_.empty()) StopNow();
  }
  for (; heldStops_ > 0; --heldStops_)
    if (!levels_.empty()) StopNow();
  if (!queued_) return;
  QUEUEDSTART q = std::move(*queued_);
  queued_.reset();
  if (q.fromMemory)
    ExecuteFromMemory(q.fileOrText);
  else
    Execute(q.fileOrText, q.label, q.silent);
}

bool SCRIPT::Execute(const std::string& file, const std::string& label, bool silent) {
  if (loopDepth_ > 0) return Queue(false, file, label, silent);
  const bool outer = !inExecute;
  inExecute = true;
  const bool ok = ExecuteNow(file, label, silent);
  if (outer) {
    inExecute = false;
    RunQueued();
  }
  return ok;
}

bool SCRIPT::ExecuteFromMemory(const std::string& text) {
  if (loopDepth_ > 0) return Queue(true, text, {}, false);
  const bool outer = !inExecute;
  inExecute = true;
  const bool ok = ExecuteFromMemoryNow(text);
  if (outer) {
    inExecute = false;
    RunQueued();
  }
  return ok;
}

void SCRIPT::NESTEDLOOP::Ended() {
  if (!inStatement_ && !inProcess_ && !inExecute) RunQueued();
}

bool SCRIPT::ExecuteNow(const std::string& file, const std::string& label, bool silent) {
  if (levels_.size() >= MAX_NEST) {
    Report(scriptmsg::NEST_LIMIT, scriptmsg::Text(scriptmsg::NEST_LIMIT), "");
    return false;
  }
  std::string path = FindScriptPath(file, ScriptDirs());
  if (path.empty()) path = file;  // Load reports it
  SCRIPTPOS l;
  l.file = path;
  l.program = LoadShared(path);
  if (!l.program) return false;
  if (!label.empty()) {
    std::optional<uint32_t> to = l.program->code.GetLabelAddress(UpperAscii(label.substr(0, 31)));
    if (!to) {
      if (!silent) {
        levels_.push_back(std::move(l));
        RuntimeError(scriptmsg::NO_LABEL);
        stopAfterStatement_ = false;
        levels_.pop_back();
        if (levels_.empty()) fExecuting = false;
      }
      return false;
    }
    l.pos = *to;
    l.line = l.program->LineAt(*to);
    l.label = label;
  }
  return Push(std::move(l));
}

bool SCRIPT::ExecuteFromMemoryNow(const std::string& text) {
  auto p = std::make_shared<SCRIPTPROGRAM>();
  auto saved = NEWSCRIPT::reportError;
  NEWSCRIPT::reportError = [](const NEWSCRIPT::DIAGNOSTIC& d) { SyntaxError(d); };
  const bool ok = p->code.LoadFromMemory(text);
  NEWSCRIPT::reportError = saved;
  if (!ok) return false;
  p->IndexLines();
  SCRIPTPOS l;
  l.file = "@memory";
  l.program = p;
  return Push(std::move(l));
}

void SCRIPT::SyntaxError(const NEWSCRIPT::DIAGNOSTIC& d) {
  SCRIPTERROR e{"@memory", d.line, d.id, d.message, jcode::SjisToUtf8(d.source)};
  NESTEDLOOP dialog;
  if (hooks.reportError)
    hooks.reportError(e);
  else
    ErrorMessage(d.message);
}

std::string SCRIPT::KeywordOf(const SCRIPTPOS& p) {
  const uint8_t a = AtomAt(p, PastLabels(p, p.stmtStart));
  return a >= 1 && a <= atom::LAST_STATEMENT && a != atom::LINENO ? atom::Name(a) : "???";
}

void SCRIPT::Report(int id, const std::string& message, const std::string& command) {
  SCRIPTERROR e;
  if (!levels_.empty()) {
    e.file = levels_.back().file;
    e.line = levels_.back().line;
  }
  e.id = id;
  e.message = message;
  e.command = command;
  // The level counts as sleeping while the report is up.
  const bool wasPaused = fPause;
  fPause = true;
  {
    NESTEDLOOP dialog;
    if (hooks.reportError)
      hooks.reportError(e);
    else
      ErrorMessage(message);
  }
  fPause = wasPaused;
  stopAfterStatement_ = true;
}

void SCRIPT::RuntimeError(int id) {
  Report(id, scriptmsg::Text(id), levels_.empty() ? std::string() : KeywordOf(levels_.back()));
}

void SCRIPT::ParameterError(uint8_t keyword) {
  Report(scriptmsg::PARAMETER, std::string(atom::Name(keyword)) + scriptmsg::Text(scriptmsg::PARAMETER),
         levels_.empty() ? std::string() : KeywordOf(levels_.back()));
}

void SCRIPT::ExpressionError(int id, const std::string& keyword) {
  std::string message = scriptmsg::Text(id);
  if (id == scriptmsg::NOT_YET) message = keyword + " " + message;
  if (id == scriptmsg::PARAMETER) message = keyword + message;
  Report(id, message, levels_.empty() ? std::string() : KeywordOf(levels_.back()));
}

bool SCRIPT::Step() {
  SCRIPTPOS& l = levels_.back();
  const std::vector<uint8_t>& c = CodeOf(l);
  if (l.pos + 3 <= c.size() && c[l.pos] == atom::LINENO) {
    // The usual case: a statement that read its whole line stands on its LINENO.
    l.line = atom::Get16(c.data() + l.pos + 1);
    l.pos += 3;
    return l.pos < c.size();
  }
  l.pos = AfterLine(l, l.pos, &l.line);
  return l.pos < CodeOf(l).size();
}

void SCRIPT::EndWait(int32_t result) {
  SCRIPTPOS& l = levels_.back();
  l.waiter.reset();
  l.waiting = false;
  l.captureChar = false;
  l.result = result;
  if (l.capture) {
    std::string text = l.captureBuf;
    if (l.captureLine && !text.empty() && text.back() == '\r') text.pop_back();  // the pair's CR
    text = std::string(CutSjis(text, CAPTURE_SIZE));
    if (VAR::IsNumeric(l.captureName))
      VAR::SetNumVar(l.captureName, ScriptToNumber(text));
    else
      VAR::SetVar(l.captureName, text);
    l.capture = false;
  }
  l.pos = AfterLine(l, l.pos, &l.line);
  if (l.switchWait) DispatchSwitch(l);
}

bool SCRIPT::Receive(char c) {
  if (levels_.empty() || fPause || loopDepth_ > 0) return false;
  SCRIPTPOS& l = levels_.back();
  if (!l.waiting) return false;
  if (l.captureChar) {
    if (c == 0) return false;
    l.captureBuf += c;
    if (l.captureBuf.size() == 1 && jcode::IsKanji1(static_cast<unsigned char>(c))) return false;
    EndWait(1);
    return true;
  }
  if (!l.waiter) return false;
  const int r = l.waiter->Process(c);
  if (r == 0) {
    if (l.capture && c != 0 && l.captureBuf.size() < CAPTURE_SIZE) l.captureBuf += c;
    ArmQuietTimer(l);
    return false;
  }
  EndWait(r);
  return true;
}

void SCRIPT::ArmQuietTimer(SCRIPTPOS& l) {
  // A pattern that completed with a quiet time reports on the first idle
  // tick after it: ask for one at that moment rather than at the next pass.
  TICK due;
  if (!l.waiter || !l.waiter->QuietDue(due) || due == l.quietArmed) return;
  l.quietArmed = due;
  const TICK now = Now();
  if (hooks.armTimer) hooks.armTimer(due > now ? static_cast<int64_t>(due - now) : 0);
}

const EVALCONTEXT& SCRIPT::EvalContext() {
  static EVALCONTEXT c = [] {
    EVALCONTEXT init;
    init.lineCount = [] { return SCRIPT::hooks.lineCount ? SCRIPT::hooks.lineCount() : 0; };
    init.baudRate = [] { return SCRIPT::hooks.baudRate ? SCRIPT::hooks.baudRate() : 0; };
    init.keyDown = [](int32_t vk) { return SCRIPT::hooks.keyDown && SCRIPT::hooks.keyDown(vk); };
    init.active = [] { return SCRIPT::hooks.active && SCRIPT::hooks.active(); };
    // Relative names in functions are taken from the run's directory (CHDIR).
    init.directory = [] { return SCRIPT::hooks.directory ? SCRIPT::hooks.directory() : SCRIPTFILE::CurrentDir(); };
    return init;
  }();
  c.program = &levels_.back().program->code;
  c.level = SCRIPT::cNest();
  c.result = levels_.back().result;
  c.vars = &levels_.back().program->vars;
  return c;
}

std::optional<int64_t> SCRIPT::DueIn() {
  if (levels_.empty()) return std::nullopt;
  const SCRIPTPOS& l = levels_.back();
  const TICK now = Now();
  if (l.waiting) {
    // The time-out or a matcher's quiet time, whichever comes first.
    std::optional<TICK> due;
    if (l.waitMs > 0) due = l.waitStart + static_cast<TICK>(l.waitMs);
    TICK quiet;
    if (l.waiter && l.waiter->QuietDue(quiet) && (!due || quiet < *due)) due = quiet;
    if (!due) return std::nullopt;
    return *due > now ? static_cast<int64_t>(*due - now) : 0;
  }
  if (l.sleeping && !l.yieldOnce) return l.sleepUntil > now ? static_cast<int64_t>(l.sleepUntil - now) : 0;
  return std::nullopt;
}

void SCRIPT::Process() {
  if (inProcess_ || levels_.empty() || fPause || loopDepth_ > 0) return;
  inProcess_ = true;
  const TICK sliceStart = Now();
  if (!sliceContinues_) watchdogStart_ = sliceStart;
  sliceContinues_ = false;
  // Reading the clock costs more than a simple statement: the watchdog and
  // the slice look at it before every CLOCK_EVERY-th statement.
  TICK now = sliceStart;
  unsigned untilClock = 0;
  while (!levels_.empty() && !fPause) {
    SCRIPTPOS& l = levels_.back();
    if (l.waiting) {
      if (l.waitMs == 0 || Now() - l.waitStart < static_cast<TICK>(l.waitMs)) break;
      EndWait(-1);  // the time-out: RESULT -1, the rest of the statement skipped
      if (l.pos >= CodeOf(l).size()) Stop();
      watchdogStart_ = Now();
      continue;
    }
    if (l.sleeping) {
      if (l.yieldOnce) {
        l.yieldOnce = false;
        l.sleeping = false;
        break;  // one yield: the rest runs on the next call
      }
      if (Now() < l.sleepUntil) break;
      l.sleeping = false;
      watchdogStart_ = Now();
      if (l.pos >= CodeOf(l).size()) {
        Stop();
        continue;
      }
    }
    if (untilClock-- == 0) {
      now = Now();
      untilClock = CLOCK_EVERY - 1;
    }
    if (now > watchdogStart_ && now - watchdogStart_ > static_cast<TICK>(WATCHDOG_MS)) {
      const std::string q = scriptmsg::Text(scriptmsg::WATCHDOG_ASK);
      bool yes;
      {
        NESTEDLOOP question;
        yes = hooks.askYes ? hooks.askYes(q)
                           : ui::Current().MessageBox(q, "Quillnet", ui::MB_YESNO | ui::MB_ICONQUESTION) == ui::IDYES;
      }
      if (heldStops_ > 0 || heldStopAll_) {
        // Stopped during the question: the stop ends the loop, whatever the answer.
        RunQueued();
        watchdogStart_ = Now();
        continue;
      }
      if (yes) {
        RuntimeError(scriptmsg::WATCHDOG_STOP);
        stopAfterStatement_ = false;
        Stop();
        RunQueued();
        continue;
      }
      watchdogStart_ = Now();
      RunQueued();  // a start asked for during the question
      continue;
    }
    if (now - sliceStart >= static_cast<TICK>(SLICE_MS)) {
      sliceContinues_ = true;
      if (hooks.queueProcess) hooks.queueProcess();
      break;
    }
    if (!RunStatement()) continue;
  }
  inProcess_ = false;
  if (AnythingHeld()) {
    // Asked for during a report that ended the last level.
    RunQueued();
    if (fExecuting && hooks.queueProcess) hooks.queueProcess();
  }
}

// Runs the statement at the top level's position.  false when the level
// changed under it (ended, called, jumped).
bool SCRIPT::RunStatement() {
  SCRIPTPOS& l = levels_.back();
  const std::vector<uint8_t>& code = CodeOf(l);
  if (l.pos >= code.size()) {
    Stop();
    return false;
  }
  const uint8_t a = code[l.pos];
  if (a == atom::LINENO) {
    Step();
    return true;
  }
  l.stmtStart = l.pos;
  if (stepArmed_) {
    stepArmed_ = false;
    fPause = true;
    return false;
  }
  inStatement_ = true;
  if (a > atom::LAST_STATEMENT || a == 0) {
    RuntimeError(scriptmsg::SYNTAX);
  } else {
    const size_t before = levels_.size();
    const bool skip = SCRIPTSTATEMENTS::Run(a);
    if (skip && !stopAfterStatement_ && levels_.size() == before && !levels_.empty()) {
      if (!Step()) Stop();
    }
  }
  if (stopAfterStatement_) {
    stopAfterStatement_ = false;
    Stop();
  }
  if (stepRequested_) {
    stepRequested_ = false;
    stepArmed_ = true;
  }
  inStatement_ = false;
  if (AnythingHeld()) RunQueued();
  return true;
}

void SCRIPT::Stop() {
  if (loopDepth_ > 0) {
    ++heldStops_;
    return;
  }
  StopNow();
}

void SCRIPT::StopNow() {
  while (!levels_.empty()) {
    const bool called = levels_.back().called;
    VAR::ClearLocal(LocalPrefix(cNest()));
    levels_.pop_back();
    if (!called) break;
  }
  if (levels_.empty()) {
    VAR::ClearGlobal();
    SCRIPTFILE::EndRun();
    SCRIPTPROGRAMCMDS::EndRun();
    VAR::SavePermanentVar();
    fExecuting = false;
    fPause = false;
    fHideDisplay = false;
    stepArmed_ = stepRequested_ = false;
    if (hooks.ended) hooks.ended();
  } else {
    // The level below goes on; its time-out and sleep count from now.
    SCRIPTPOS& l = levels_.back();
    l.waitStart = Now();
  }
}

void SCRIPT::StopAll() {
  if (loopDepth_ > 0) {
    heldStopAll_ = true;
    queued_.reset();  // whatever was to start would start on a line being hung up
    return;
  }
  while (!levels_.empty()) StopNow();
}

void SCRIPT::PauseOrResume() { fPause = !fPause; }

void SCRIPT::SingleStep() {
  stepRequested_ = true;
  fPause = false;
}

void SCRIPT::Reset() {
  levels_.clear();
  SCRIPTFILE::EndRun();
  SCRIPTLINE::Reset();
  SCRIPTPROGRAMCMDS::EndRun();
  fExecuting = fPause = fDebugInfo = fHideDisplay = false;
  fKeyboardOn = true;
  hooks = {};
  tickSource = nullptr;
  searchDirs.clear();
  stopAfterStatement_ = stepArmed_ = stepRequested_ = inProcess_ = sliceContinues_ = false;
  watchdogStart_ = 0;
  loopDepth_ = 0;
  inStatement_ = false;
  queued_.reset();
  heldStops_ = 0;
  heldStopAll_ = false;
  inExecute = false;
}
