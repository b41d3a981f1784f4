#include "script/value.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "platform/jcode.h"
#include "script/atoms.h"
#include "script/functions.h"
#include "script/newscript.h"
#include "script/scriptmsg.h"
#include "script/var.h"

namespace {

constexpr size_t kMaxText = 1024;

int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

bool IsStop(uint8_t a) { return a == 0 || a == atom::COMMA || a == atom::CLOSE || a <= atom::LAST_STATEMENT; }

}  // namespace

std::string_view CutSjis(std::string_view s, size_t n) {
  if (s.size() <= n) return s;
  size_t cut = 0;
  while (cut < s.size()) {
    const size_t w = jcode::IsKanji1(static_cast<unsigned char>(s[cut])) && cut + 1 < s.size() ? 2 : 1;
    if (cut + w > n) break;
    cut += w;
  }
  return s.substr(0, cut);
}

int32_t ScriptToNumber(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  auto digitAt = [&s](size_t p, int& d, size_t& width) {
    const unsigned char c = static_cast<unsigned char>(s[p]);
    if (c >= '0' && c <= '9') {
      d = c - '0';
      width = 1;
      return true;
    }
    if (c == 0x82 && p + 1 < s.size()) {
      const unsigned char t = static_cast<unsigned char>(s[p + 1]);
      if (t >= 0x4F && t <= 0x58) {  // full-width 0 to 9
        d = t - 0x4F;
        width = 2;
        return true;
      }
    }
    return false;
  };
  int d;
  size_t w;
  while (i < s.size() && !digitAt(i, d, w)) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '-') negative = !negative;
    i += jcode::IsKanji1(c) && i + 1 < s.size() ? 2 : 1;
  }
  uint32_t v = 0;
  while (i < s.size() && digitAt(i, d, w)) {
    v = v * 10 + static_cast<uint32_t>(d);
    i += w;
  }
  return negative ? static_cast<int32_t>(0u - v) : static_cast<int32_t>(v);
}

int32_t SCRIPTVALUE::AsNumber() const { return fNum ? num : ScriptToNumber(text_); }

void SCRIPTVALUE::FormText() const {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, num);
  text_.assign(buf, r.ptr);
  textValid_ = true;
}

void SCRIPTVALUE::Append(const SCRIPTVALUE& b, size_t limit) {
  const std::string& t = b.Text();
  if (text_.size() + t.size() <= limit) {
    text_ += t;
  } else {
    std::string joined = text_ + t;
    text_.assign(CutSjis(joined, limit));
  }
  fNum = false;
  num = 0;
  textValid_ = true;
}

bool ApplyOperator(uint8_t op, SCRIPTVALUE& acc, const SCRIPTVALUE& b, int& errorId) {
  if (acc.fNum && b.fNum) {
    const int64_t x = acc.num, y = b.num;
    int32_t r = 0;
    switch (op) {
      case atom::ADD: r = Wrap(x + y); break;
      case atom::SUB: r = Wrap(x - y); break;
      case atom::MUL: r = Wrap(x * y); break;
      case atom::DIV: r = y == 0 ? 32767 : Wrap(x / y); break;  // INT_MIN / -1 wraps to INT_MIN
      case atom::MOD: r = y == 0 || y == -1 ? 0 : static_cast<int32_t>(x % y); break;
      default: errorId = scriptmsg::EXPRESSION; return false;
    }
    acc.SetNumber(r);
    return true;
  }
  if (op != atom::ADD) {
    errorId = scriptmsg::STRING_ARITHMETIC;
    return false;
  }
  if (acc.fNum) acc = SCRIPTVALUE::String(acc.Text());
  acc.Append(b, kMaxText);
  return true;
}

EVALUATOR::EVALUATOR(const EVALCONTEXT& ctx, size_t pos)
    : ctx_(ctx), code_(ctx.program->Code().data()), size_(ctx.program->Code().size()), pos_(pos) {}

bool EVALUATOR::GetValue(SCRIPTVALUE& out) {
  errorId = 0;
  if (!errorKeyword.empty()) errorKeyword.clear();
  if (!Expression(out, 0)) return false;
  if (!IsStop(Peek())) return Fail(scriptmsg::EXPRESSION);
  return true;
}

bool EVALUATOR::Expression(SCRIPTVALUE& v, int depth) {
  if (!Term(v, depth)) return false;
  while (Peek() == atom::AND || Peek() == atom::OR) {
    const uint8_t op = Peek();
    ++pos_;
    SCRIPTVALUE b;
    if (!Term(b, depth)) return false;
    v.SetTruth(op == atom::AND ? v.IsTrue() && b.IsTrue() : v.IsTrue() || b.IsTrue());
  }
  return true;
}

bool EVALUATOR::Term(SCRIPTVALUE& v, int depth) {
  bool negateTerm = false, negateFirst = false;
  while (Peek() == atom::NOT) {
    ++pos_;
    if (Peek() == atom::OPENPAREN)
      negateFirst = !negateFirst;
    else
      negateTerm = !negateTerm;
  }
  if (!Sum(v, depth, negateFirst)) return false;
  const uint8_t cmp = Peek();
  if (cmp >= atom::EQ && cmp <= atom::GE) {
    ++pos_;
    SCRIPTVALUE b;
    if (!Sum(b, depth, false)) return false;
    int c;
    if (v.fNum && b.fNum) {
      c = v.num < b.num ? -1 : v.num > b.num ? 1 : 0;  // by value, never by an overflowing subtraction
    } else {
      const std::string& x = v.Text();
      const std::string& y = b.Text();
      const size_t n = std::min(x.size(), y.size());
      c = n ? std::memcmp(x.data(), y.data(), n) : 0;
      if (c == 0) c = x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    }
    bool r = false;
    switch (cmp) {
      case atom::EQ: r = c == 0; break;
      case atom::NE: r = c != 0; break;
      case atom::LT: r = c < 0; break;
      case atom::GT: r = c > 0; break;
      case atom::LE: r = c <= 0; break;
      case atom::GE: r = c >= 0; break;
    }
    v.SetTruth(r);
  }
  if (negateTerm) v.SetTruth(!v.IsTrue());
  return true;
}

bool EVALUATOR::Sum(SCRIPTVALUE& v, int depth, bool negateFirst) {
  uint8_t op = atom::ADD;
  bool first = true;
  SCRIPTVALUE x;  // the operands after the first, one at a time
  for (;;) {
    // Signs before the operand: "-" after "+" or "-" flips it.
    while (Peek() == atom::SUB) {
      if (op == atom::ADD)
        op = atom::SUB;
      else if (op == atom::SUB)
        op = atom::ADD;
      else
        return Fail(scriptmsg::EXPRESSION);  // 2 * -3
      ++pos_;
    }
    const bool isValue = Peek() == atom::VALUE;
    if (first) {
      // The first operand is the accumulator; its initial 0 is never joined
      // to a string.
      if (!Operand(v, depth)) return false;
      if (negateFirst) v.SetTruth(!v.IsTrue());
      if (op == atom::SUB) {
        if (!v.fNum) return Fail(scriptmsg::STRING_ARITHMETIC);
        v.SetNumber(Wrap(-static_cast<int64_t>(v.num)));
      }
      first = false;
    } else {
      if (!Operand(x, depth)) return false;
      if (isValue && !v.fNum) return Fail(scriptmsg::VALUE_AFTER_STRING);
      int id = 0;
      if (!ApplyOperator(op, v, x, id)) return Fail(id);
    }
    const uint8_t next = Peek();
    if (next < atom::ADD || next > atom::MOD) return true;
    op = next;
    ++pos_;
  }
}

bool EVALUATOR::Operand(SCRIPTVALUE& v, int depth) {
  // The operands of nearly every expression, decoded in place.
  if (pos_ < size_) {
    const uint8_t first = code_[pos_];
    if (first == atom::NUMBER && size_ - pos_ >= 5) {
      v.SetNumber(static_cast<int32_t>(atom::Get32(code_ + pos_ + 1)));
      pos_ += 5;
      return true;
    }
    if (first == atom::VARIABLE) return Variable(v, depth);
    if (first == atom::STRING && size_ - pos_ >= 5) {
      v.SetString(ctx_.program->Constant(atom::Get32(code_ + pos_ + 1)));
      pos_ += 5;
      return true;
    }
  }
  ATOMITERATOR it(code_, size_, pos_);
  ATOMREF a;
  if (!it.Next(a)) return Fail(scriptmsg::EXPRESSION);
  const int32_t result = ctx_.result;
  switch (a.atom) {
    case atom::NUMBER: v = SCRIPTVALUE::Number(a.Number()); break;
    case atom::STRING: v = SCRIPTVALUE::String(ctx_.program->Constant(a.Offset())); break;
    case atom::YES:
    case atom::ENTER: v = SCRIPTVALUE::Truth(result == 1); break;
    case atom::NO:
    case atom::ERRORV: v = SCRIPTVALUE::Truth(result == 0); break;
    case atom::TIMEOUTV:
    case atom::CANCEL: v = SCRIPTVALUE::Truth(result == -1); break;
    case atom::ON: v = SCRIPTVALUE::Truth(true); break;
    case atom::OFF: v = SCRIPTVALUE::Truth(false); break;
    case atom::RESULT: v = SCRIPTVALUE::Number(result); break;
    case atom::LINECOUNT: v = SCRIPTVALUE::Number(ctx_.lineCount ? ctx_.lineCount() : 0); break;
    case atom::BAUDRATE: v = SCRIPTVALUE::Number(ctx_.baudRate ? ctx_.baudRate() : 0); break;
    case atom::OPENPAREN: {
      if (depth >= MAX_DEPTH) return Fail(scriptmsg::BRACKETS);
      pos_ = a.Next();
      if (!Expression(v, depth + 1)) return false;
      if (Peek() != atom::CLOSE) return Fail(scriptmsg::BRACKETS);
      ++pos_;
      return true;
    }
    default:
      if (atom::IsFunction(a.atom) && a.atom != atom::POSTIDLE && a.atom != atom::POSTMILLIIDLE) {
        pos_ = a.Next();
        return Function(a.atom, v, depth);
      }
      return Fail(scriptmsg::EXPRESSION);
  }
  pos_ = a.Next();
  return true;
}

bool EVALUATOR::Function(uint8_t a, SCRIPTVALUE& v, int depth) {
  if (depth >= MAX_DEPTH) return Fail(scriptmsg::BRACKETS);
  auto parameterError = [&] {
    errorKeyword = atom::Name(a);
    return Fail(scriptmsg::PARAMETER);
  };
  SCRIPTVALUE args[3];
  const int n = scriptfn::ArgumentCount(a);
  for (int i = 0; i < n; ++i) {
    if (i > 0) {
      if (Peek() != atom::COMMA) return parameterError();
      ++pos_;
    }
    if (Peek() == atom::COMMA || Peek() == atom::CLOSE) return parameterError();  // a missing argument
    if (!Expression(args[i], depth + 1)) return false;
  }
  if (Peek() != atom::CLOSE) return parameterError();
  ++pos_;
  if (!scriptfn::CallFunction(a, args, ctx_, v)) return parameterError();
  return true;
}

// VARIABLE name {"[" expression "]"}: its value.
bool EVALUATOR::Variable(SCRIPTVALUE& v, int) {
  const uint32_t key = static_cast<uint32_t>(pos_);
  const uint8_t* start = code_ + pos_ + 1;
  const uint8_t* end = code_ + size_;
  const uint8_t* nul = start;
  while (nul < end && *nul) ++nul;  // names are short: a plain scan beats memchr's call
  if (nul == end) return Fail(scriptmsg::EXPRESSION);
  const std::string_view written(reinterpret_cast<const char*>(start), static_cast<size_t>(nul - start));
  pos_ += 1 + written.size() + 1;
  if (Peek() != atom::OPENBRACKET) {
    // No subscripts: the stored name is formed on the stack.
    char buf[VAR::MAX_NAME];
    auto form = [&] {
      const size_t n = VarNameLength(written);
      std::memcpy(buf, written.data(), n);
      if (n && buf[0] == '#') buf[0] = LocalPrefix(ctx_.level);
      return std::string_view(buf, n);
    };
    // The formed name differs from the written one in its first byte at most.
    const bool numeric = VAR::IsNumeric(written);
    if (ctx_.vars) {
      if (numeric) {
        const int32_t* n = ctx_.vars->Find<int32_t>(key, ctx_.level, [&] { return VAR::FindNumber(form()); });
        v.SetNumber(n ? *n : 0);
      } else {
        const std::string* t = ctx_.vars->Find<std::string>(key, ctx_.level, [&] { return VAR::FindString(form()); });
        v.SetString(t ? std::string_view(*t) : std::string_view());
      }
      return true;
    }
    const std::string_view name = form();
    v = numeric ? SCRIPTVALUE::Number(VAR::GetNumVar(name)) : SCRIPTVALUE::String(VAR::GetVar(name));
    return true;
  }
  std::string name;
  if (!GetDim(written, name)) return false;
  v = VAR::IsNumeric(name) ? SCRIPTVALUE::Number(VAR::GetNumVar(name)) : SCRIPTVALUE::String(VAR::GetVar(name));
  return true;
}

bool EVALUATOR::GetDim(std::string_view written, std::string& name) {
  // The written name's part first; each subscript then adds "[" and its text.
  FormVarNameInto(name, written, ctx_.level);
  SCRIPTVALUE s;
  while (Peek() == atom::OPENBRACKET) {
    ++pos_;
    if (!Expression(s, 1) || Peek() != atom::CLOSE) {
      errorId = scriptmsg::SUBSCRIPT;
      return false;
    }
    ++pos_;
    name += '[';
    name += s.Text();
  }
  return true;
}
