#include "script/cmdargs.h"

#include "script/atoms.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/config.h"
#include "terminal/waiter.h"

namespace {
// A level sleeping until woken: sleepUntil holds SLEEP_BASE - token, a moment
// no clock reaches.
constexpr TICK SLEEP_BASE = ~TICK(0);
uint64_t nextToken = 1;
}  // namespace

SCRIPTARGS::SCRIPTARGS(uint8_t keyword, bool skipKeyword, BARE bare) : keyword_(keyword), bare_(bare) {
  if (skipKeyword) ++Level().pos;
}

SCRIPTPOS& SCRIPTARGS::Level() { return SCRIPT::levels_.back(); }
const EVALCONTEXT& SCRIPTARGS::Context() { return SCRIPT::EvalContext(); }

uint8_t SCRIPTARGS::Peek() const {
  const std::vector<uint8_t>& c = Level().program->code.Code();
  return Level().pos < c.size() ? c[Level().pos] : 0;
}

std::string SCRIPTARGS::PeekWord() const {
  if (Peek() != atom::WORD) return {};
  const std::vector<uint8_t>& c = Level().program->code.Code();
  ATOMITERATOR it(c.data(), c.size(), Level().pos);
  ATOMREF a;
  if (!it.Next(a)) return {};
  return std::string(a.Text());
}

bool SCRIPTARGS::AtEnd() const { return Peek() == atom::LINENO || Peek() == 0; }

bool SCRIPTARGS::Fail() const {
  SCRIPT::ParameterError(keyword_);
  return false;
}

bool SCRIPTARGS::Value(SCRIPTVALUE& v) {
  if (AtEnd()) return Fail();
  if (bare_ == BARE::REFUSE && (Peek() == atom::COMMA || Peek() == atom::WORD)) return Fail();
  EVALUATOR e(Context(), Level().pos);
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

bool SCRIPTARGS::OnOff(bool& on) {
  if (Peek() != atom::ON && Peek() != atom::OFF) return Fail();
  on = Peek() == atom::ON;
  ++Level().pos;
  return true;
}

bool SCRIPTARGS::OneOf(std::initializer_list<const char*> words, int& index) {
  const std::string w = PeekWord();
  index = 0;
  for (const char* x : words) {
    if (!w.empty() && w == x) {
      const std::vector<uint8_t>& c = Level().program->code.Code();
      ATOMITERATOR it(c.data(), c.size(), Level().pos);
      ATOMREF a;
      it.Next(a);
      Level().pos = a.Next();
      return true;
    }
    ++index;
  }
  return Fail();
}

bool SCRIPTARGS::Comma() {
  if (Peek() != atom::COMMA) return Fail();
  ++Level().pos;
  return true;
}

bool SCRIPTARGS::CommaIfMore() { return AtEnd() ? true : Comma(); }

bool SCRIPTARGS::Equals() {
  if (Peek() != atom::EQ) return Fail();
  ++Level().pos;
  return true;
}

bool SCRIPTARGS::End() const { return AtEnd() ? true : Fail(); }

void SCRIPTARGS::RuntimeError(int id) { SCRIPT::RuntimeError(id); }
void SCRIPTARGS::ParameterError(uint8_t keyword) { SCRIPT::ParameterError(keyword); }
void SCRIPTARGS::ExpressionError(int id, const std::string& keyword) { SCRIPT::ExpressionError(id, keyword); }

void SCRIPTARGS::ReportMessage(int id, const std::string& message) {
  SCRIPT::Report(id, message, SCRIPT::levels_.empty() ? std::string() : SCRIPT::KeywordOf(Level()));
}

void SCRIPTARGS::ReportAndStop(int id, const std::string& message) {
  ReportMessage(id, message);
  SCRIPT::stopAfterStatement_ = false;
  SCRIPT::Stop();
  QueueProcess();
}

TICK SCRIPTARGS::Now() { return SCRIPT::Now(); }

void SCRIPTARGS::RestartWatchdog() { SCRIPT::watchdogStart_ = SCRIPT::Now(); }

void SCRIPTARGS::QueueProcess() {
  if (SCRIPT::hooks.queueProcess) SCRIPT::hooks.queueProcess();
}

namespace {
// Past the statement: the level goes on with the next line when it wakes.
void PastLine(SCRIPTPOS& l) {
  const std::vector<uint8_t>& c = l.program->code.Code();
  ATOMITERATOR it(c.data(), c.size(), l.pos);
  ATOMREF a;
  l.pos = c.size();
  while (it.Next(a)) {
    if (a.atom == atom::LINENO) {
      l.line = a.Line();
      l.pos = a.Next();
      break;
    }
  }
}
}  // namespace

uint64_t SCRIPTARGS::SleepUntilWoken() {
  SCRIPTPOS& l = Level();
  const uint64_t token = nextToken++;
  l.sleeping = true;
  l.yieldOnce = false;
  l.sleepUntil = SLEEP_BASE - token;
  PastLine(l);
  return token;
}

void SCRIPTARGS::SleepFor(int64_t ms) {
  SCRIPTPOS& l = Level();
  l.sleeping = true;
  l.yieldOnce = ms <= 0;
  l.sleepUntil = Now() + static_cast<TICK>(ms > 0 ? ms : 0);
  if (ms > 0 && SCRIPT::hooks.armTimer) SCRIPT::hooks.armTimer(ms);
  PastLine(l);
}

bool SCRIPTARGS::Wake(uint64_t token) {
  for (SCRIPTPOS& l : SCRIPT::levels_) {
    if (l.sleeping && l.sleepUntil == SLEEP_BASE - token) {
      l.sleepUntil = 0;
      RestartWatchdog();
      QueueProcess();
      return true;
    }
  }
  return false;
}

bool SCRIPTARGS::IsRunning(uint64_t token) {
  return !SCRIPT::levels_.empty() && SCRIPT::levels_.back().sleeping &&
         SCRIPT::levels_.back().sleepUntil == SLEEP_BASE - token;
}

struct SCRIPTARGS::DIALOGTIME::IMPL {
  SCRIPT::NESTEDLOOP loop;
};
SCRIPTARGS::DIALOGTIME::DIALOGTIME() : impl_(new IMPL) {}
SCRIPTARGS::DIALOGTIME::~DIALOGTIME() {
  RestartWatchdog();
  delete impl_;
}

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

bool SCRIPTARGS::Assign(const std::string& name, const std::string& text) {
  const bool ok =
      VAR::IsNumeric(name) ? VAR::SetNumVar(name, ScriptToNumber(text)) : VAR::SetVar(name, CutSjis(text, VAR::MAX_VALUE));
  if (!ok) SCRIPT::RuntimeError(scriptmsg::VARIABLE_MEMORY);
  return ok;
}

bool SCRIPTARGS::AssignNumber(const std::string& name, int32_t n) {
  const bool ok = VAR::IsNumeric(name) ? VAR::SetNumVar(name, n) : VAR::SetVar(name, std::to_string(n));
  if (!ok) SCRIPT::RuntimeError(scriptmsg::VARIABLE_MEMORY);
  return ok;
}

void SCRIPTARGS::SetResult(int32_t r) { Level().result = r; }

bool SCRIPTARGS::NotAvailable() const {
  SCRIPT::Report(scriptmsg::NOT_YET, std::string(atom::Name(keyword_)) + " " + scriptmsg::Text(scriptmsg::NOT_YET),
                 atom::Name(keyword_));
  return false;
}
