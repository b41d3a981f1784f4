#include "script/cmdargs.h"

#include "script/atoms.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/config.h"
#include "terminal/waiter.h"

SCRIPTARGS::SCRIPTARGS(uint8_t keyword, bool skipKeyword) : keyword_(keyword) {
  if (skipKeyword) ++Level().pos;
}

SCRIPTPOS& SCRIPTARGS::Level() { return SCRIPT::levels_.back(); }

uint8_t SCRIPTARGS::Peek() const {
  const std::vector<uint8_t>& c = Level().program->code.Code();
  return Level().pos < c.size() ? c[Level().pos] : 0;
}

bool SCRIPTARGS::AtEnd() const { return Peek() == atom::LINENO || Peek() == 0; }

bool SCRIPTARGS::Fail() const {
  SCRIPT::ParameterError(keyword_);
  return false;
}

bool SCRIPTARGS::Value(SCRIPTVALUE& v) {
  if (AtEnd()) return Fail();
  EVALUATOR e(SCRIPT::EvalContext(), Level().pos);
  if (!e.GetValue(v)) {
    SCRIPT::ExpressionError(e.errorId, e.errorKeyword);
    return false;
  }
  Level().pos = e.Position();
  return true;
}

bool SCRIPTARGS::Text(std::string& out) {
  SCRIPTVALUE v;
  if (!Value(v)) return false;
  out = v.Text();
  return true;
}

bool SCRIPTARGS::Number(int32_t& out) {
  SCRIPTVALUE v;
  if (!Value(v)) return false;
  out = v.AsNumber();
  return true;
}

bool SCRIPTARGS::Variable(std::string& name, bool numericToo) {
  const std::vector<uint8_t>& c = Level().program->code.Code();
  ATOMITERATOR it(c.data(), c.size(), Level().pos);
  ATOMREF a;
  if (!it.Next(a) || a.atom != atom::VARIABLE) return Fail();
  EVALUATOR e(SCRIPT::EvalContext(), a.Next());
  if (!e.GetDim(a.Text(), name)) {
    SCRIPT::RuntimeError(e.errorId);
    return false;
  }
  if (!numericToo && VAR::IsNumeric(name)) return Fail();
  Level().pos = e.Position();
  return true;
}

bool SCRIPTARGS::Word(std::string& upper) {
  const std::vector<uint8_t>& c = Level().program->code.Code();
  ATOMITERATOR it(c.data(), c.size(), Level().pos);
  ATOMREF a;
  if (!it.Next(a)) return false;
  std::string text;
  if (a.atom == atom::WORD)
    text = std::string(a.Text());
  else if (a.atom >= atom::YES && a.atom <= atom::BAUDRATE)
    text = atom::Name(a.atom);
  else
    return false;
  const uint8_t after = a.Next() < c.size() ? c[a.Next()] : 0;
  if (after != atom::COMMA && after != atom::EQ && after != atom::LINENO && after != 0) return false;
  for (char& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  upper = std::move(text);
  Level().pos = a.Next();
  return true;
}

bool SCRIPTARGS::Comma() {
  if (Peek() != atom::COMMA) return Fail();
  ++Level().pos;
  return true;
}

bool SCRIPTARGS::Equals() {
  if (Peek() != atom::EQ) return Fail();
  ++Level().pos;
  return true;
}

bool SCRIPTARGS::End() const { return AtEnd() ? true : Fail(); }

void SCRIPTARGS::RuntimeError(int id) { SCRIPT::RuntimeError(id); }
void SCRIPTARGS::ParameterError(uint8_t keyword) { SCRIPT::ParameterError(keyword); }
void SCRIPTARGS::ExpressionError(int id, const std::string& keyword) { SCRIPT::ExpressionError(id, keyword); }

TICK SCRIPTARGS::Now() { return SCRIPT::Now(); }

void SCRIPTARGS::RestartWatchdog() { SCRIPT::watchdogStart_ = SCRIPT::Now(); }

bool SCRIPTARGS::Sleeping(bool on) {
  const bool was = SCRIPT::fPause;
  SCRIPT::fPause = on;
  return was;
}

std::vector<std::string> SCRIPTARGS::ScriptDirs() {
  if (!SCRIPT::searchDirs.empty()) return SCRIPT::searchDirs;
  return {".", config.ScriptPath};
}

bool SCRIPTARGS::Push(SCRIPTPOS level) { return SCRIPT::Push(std::move(level)); }

bool SCRIPTARGS::SetText(const std::string& name, const std::string& value) {
  if (!VAR::SetVar(name, value)) {
    SCRIPT::RuntimeError(scriptmsg::VARIABLE_MEMORY);
    return false;
  }
  return true;
}

void SCRIPTARGS::SetResult(int32_t r) { Level().result = r; }

bool SCRIPTARGS::NotAvailable() const {
  SCRIPT::Report(scriptmsg::NOT_YET, std::string(atom::Name(keyword_)) + " " + scriptmsg::Text(scriptmsg::NOT_YET),
                 atom::Name(keyword_));
  return false;
}
