#include "script/newscript.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_set>

#include "script/atoms.h"
#include "script/lexer.h"
#include "script/scriptmsg.h"

std::function<void(const NEWSCRIPT::DIAGNOSTIC&)> NEWSCRIPT::reportError;

namespace {

// The text of "loop left open", a warning of the checker only.
const char kLoopOpen[] = "ループが閉じられていません。";

bool EndsWithScr(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".scr";
}

}  // namespace

// The compiler proper: statement forms over the lexer's tokens.
class SCRIPTCOMPILER {
 public:
  // The lines are cut out of one copy of the text (each upper-cased in
  // place when it is reached), not copied one by one.
  SCRIPTCOMPILER(NEWSCRIPT& s, std::string_view text) : s_(s), text_(text) {
    size_t p = 0;
    while (p < text_.size()) {
      size_t lf = text_.find('\n', p);
      if (lf == std::string::npos) {
        lines_.emplace_back(text_.data() + p, text_.size() - p);  // a non-empty tail after the last LF
        break;
      }
      lines_.emplace_back(text_.data() + p, lf - p);
      p = lf + 1;
    }
  }
  SCRIPTCOMPILER(const SCRIPTCOMPILER&) = delete;
  SCRIPTCOMPILER& operator=(const SCRIPTCOMPILER&) = delete;

  bool Run() {
    s_.code_.reserve(4096);
    for (index_ = 0; index_ < lines_.size(); ++index_) {
      UpperCase(index_);
      lexer_ = SCRIPTLEXER(lines_[index_]);
      SCRIPTTOKEN t = NextToken();
      if (t.kind != SCRIPTTOKEN::END && !Statement(t)) return false;
      if (!LineNo()) return false;
    }
    // One more LINENO, with the number of the last one, closes the code.
    const uint16_t n = static_cast<uint16_t>(index_ + 1);
    const uint8_t closing[3] = {atom::LINENO, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    s_.code_.insert(s_.code_.end(), closing, closing + 3);
    for (const LOOP& l : loops_) Warn(l.line, 0, kLoopOpen, l.source);
    if (!any_) return Fail(0, scriptmsg::EMPTY, "");
    return true;
  }

 private:
  struct LOOP {
    uint32_t position;
    uint8_t kind;
    int line;
    std::string source;
  };

  int LineNumber() const { return static_cast<int>(index_) + 1; }
  std::string SourceFrom(size_t start) const {
    std::string_view l = lexer_.Line();
    if (start > l.size()) start = l.size();
    std::string s(l.substr(start));
    while (!s.empty() && static_cast<unsigned char>(s.back()) < 0x21) s.pop_back();
    return s;
  }

  bool Fail(int line, int id, const std::string& source) {
    s_.error.line = line;
    s_.error.id = id;
    s_.error.message = scriptmsg::Text(id);
    s_.error.source = source;
    return false;
  }
  bool FailAt(int id, size_t start) { return Fail(LineNumber(), id, SourceFrom(start)); }
  void Warn(int line, int id, const char* message, const std::string& source) {
    s_.warnings.push_back({line, id, message, source});
  }

  // The next token of the statement; "\" goes on with the next line.
  SCRIPTTOKEN NextToken() {
    SCRIPTTOKEN t = lexer_.Next();
    while (t.kind == SCRIPTTOKEN::CONTINUE) {
      if (index_ + 1 >= lines_.size()) {
        t.kind = SCRIPTTOKEN::END;
        break;
      }
      ++index_;
      UpperCase(index_);
      lexer_ = SCRIPTLEXER(lines_[index_]);
      t = lexer_.Next();
    }
    return t;
  }

  // Room for n more bytes, keeping two LINENO atoms' worth behind them.
  bool Room(size_t n, size_t start) {
    if (s_.code_.size() + n + 6 > NEWSCRIPT::CODE_SIZE) return FailAt(scriptmsg::CODE_BUFFER_FULL, start);
    any_ = true;
    return true;
  }
  bool Emit(uint8_t a, size_t start) {
    if (!Room(1, start)) return false;
    s_.code_.push_back(a);
    return true;
  }
  bool EmitText(uint8_t a, std::string_view text, size_t start) {
    if (!Room(text.size() + 2, start)) return false;
    s_.code_.push_back(a);
    s_.code_.insert(s_.code_.end(), text.begin(), text.end());
    s_.code_.push_back(0);
    return true;
  }
  bool Emit32(uint8_t a, uint32_t v, size_t start) {
    if (!Room(5, start)) return false;
    const uint8_t b[5] = {a, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 24)};
    s_.code_.insert(s_.code_.end(), b, b + 5);
    return true;
  }
  bool LineNo() {
    const uint16_t n = static_cast<uint16_t>(LineNumber() + 1);
    const uint8_t b[3] = {atom::LINENO, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
    s_.code_.insert(s_.code_.end(), b, b + 3);  // Room kept it free
    return true;
  }

  // statement := LABEL ":" [statement] | variable {"[" expr "]"} "=" expr
  //            | keyword arguments
  bool Statement(SCRIPTTOKEN t) {
    if (t.kind == SCRIPTTOKEN::WORD && lexer_.Peek() == ':') return Label(t);
    if (t.kind == SCRIPTTOKEN::VARIABLE) return Assignment(t);
    if (t.kind != SCRIPTTOKEN::WORD) return FailAt(scriptmsg::SYNTAX, t.start);
    const uint8_t kw = atom::StatementKeyword(t.text);
    if (!kw) return FailAt(scriptmsg::SYNTAX, t.start);
    switch (kw) {
      case atom::IF:
      case atom::ELSEIF:
      case atom::WHILE: return Conditional(kw, t);
      case atom::ELSE: return Else(t);
      case atom::CALL:
      case atom::AFTERHANGUP: return RawTarget(kw, t);
      case atom::BEGINLOOP:
      case atom::LOOPSWITCH:
        if (!PushLoop(kw, t)) return false;
        if (!Emit(kw, t.start)) return false;
        return Arguments(NextToken());
      case atom::ENDLOOP:
      case atom::ENDWHILE:
      case atom::LOOPAGAIN: return Closer(kw, t);
      default:
        if (!Emit(kw, t.start)) return false;
        return Arguments(NextToken());
    }
  }

  // label := WORD ":" [statement]
  bool Label(const SCRIPTTOKEN& t) {
    lexer_.Skip();  // the colon
    if (!EmitText(atom::LABEL, t.text, t.start)) return false;
    if (!labelNames_.insert(t.text).second)
      Warn(LineNumber(), scriptmsg::LABEL_TWICE, scriptmsg::Text(scriptmsg::LABEL_TWICE), t.text);
    if (!s_.AddLabel(t.text, static_cast<uint32_t>(s_.code_.size()))) return FailAt(scriptmsg::LABEL_BUFFER_FULL, t.start);
    SCRIPTTOKEN n = NextToken();
    return n.kind == SCRIPTTOKEN::END || Statement(n);
  }

  // assignment := VARIABLE {"[" expr "]"} "=" expr
  bool Assignment(const SCRIPTTOKEN& t) {
    if (!EmitText(atom::ASSIGN, t.text, t.start)) return false;
    SCRIPTTOKEN n = NextToken();
    while (n.kind == SCRIPTTOKEN::OP && n.op == atom::OPENBRACKET) {
      int depth = 0;
      for (;;) {
        if (n.kind == SCRIPTTOKEN::END) return FailAt(scriptmsg::SYNTAX, t.start);
        if (!Operand(n, depth)) return false;
        if (depth == 0) break;
        n = NextToken();
      }
      n = NextToken();
    }
    if (n.kind != SCRIPTTOKEN::OP || n.op != atom::EQ) return FailAt(scriptmsg::SYNTAX, n.start);
    if (!Emit(atom::EQ, n.start)) return false;
    return Arguments(NextToken());
  }

  // conditional := (IF | ELSEIF | WHILE) "(" expr ")" [statement]
  bool Conditional(uint8_t kw, const SCRIPTTOKEN& t) {
    if (kw == atom::WHILE && !PushLoop(kw, t)) return false;
    if (!Emit(kw, t.start)) return false;
    SCRIPTTOKEN n = NextToken();
    if (n.kind != SCRIPTTOKEN::OP || n.op != atom::OPENPAREN) return FailAt(scriptmsg::SYNTAX, n.start);
    int depth = 0;
    for (;;) {
      if (n.kind == SCRIPTTOKEN::END) {
        // Brackets left open are closed at the end of the line.
        for (; depth > 0; --depth)
          if (!Emit(atom::CLOSE, n.start)) return false;
        return true;
      }
      if (!Operand(n, depth)) return false;
      if (depth <= 0) break;
      n = NextToken();
    }
    n = NextToken();
    return n.kind == SCRIPTTOKEN::END || Statement(n);
  }

  // else := ELSE [statement]
  bool Else(const SCRIPTTOKEN& t) {
    if (!Emit(atom::ELSE, t.start)) return false;
    SCRIPTTOKEN n = NextToken();
    return n.kind == SCRIPTTOKEN::END || Statement(n);
  }

  // call := (CALL | AFTERHANGUP) raw-target {"," expr}
  bool RawTarget(uint8_t kw, const SCRIPTTOKEN& t) {
    std::string target = lexer_.Raw();
    if (!EmitText(kw, target, t.start)) return false;
    return Arguments(NextToken());
  }

  bool PushLoop(uint8_t kw, const SCRIPTTOKEN& t) {
    if (loops_.size() >= NEWSCRIPT::MAX_LOOP_NEST) return FailAt(scriptmsg::LOOP_NEST_LIMIT, t.start);
    loops_.push_back({static_cast<uint32_t>(s_.code_.size()), kw, LineNumber(), SourceFrom(t.start)});
    return true;
  }

  // closer := (ENDLOOP | ENDWHILE | LOOPAGAIN), its opener's position
  bool Closer(uint8_t kw, const SCRIPTTOKEN& t) {
    if (loops_.empty()) return FailAt(scriptmsg::NO_LOOP_TO_CLOSE, t.start);
    const LOOP l = loops_.back();
    if (kw != atom::LOOPAGAIN) loops_.pop_back();
    const bool mismatch = (kw == atom::ENDWHILE) != (l.kind == atom::WHILE) && kw != atom::LOOPAGAIN;
    if (mismatch) Warn(LineNumber(), scriptmsg::WHILE_MISMATCH, scriptmsg::Text(scriptmsg::WHILE_MISMATCH), SourceFrom(t.start));
    if (!Emit32(kw, l.position, t.start)) return false;
    return Arguments(NextToken());
  }

  // arguments := the rest of the line as expression atoms
  bool Arguments(SCRIPTTOKEN t) {
    int depth = 0;
    for (; t.kind != SCRIPTTOKEN::END; t = NextToken())
      if (!Operand(t, depth)) return false;
    return true;
  }

  // One expression atom; depth follows the open brackets.
  bool Operand(const SCRIPTTOKEN& t, int& depth) {
    switch (t.kind) {
      case SCRIPTTOKEN::NUMBER: return Emit32(atom::NUMBER, static_cast<uint32_t>(t.number), t.start);
      case SCRIPTTOKEN::STRING: {
        if (t.tooLong) return FailAt(scriptmsg::LITERAL_TOO_LONG, t.start);
        uint32_t offset;
        if (!s_.AddConst(t.text, offset)) return FailAt(scriptmsg::CODE_BUFFER_FULL, t.start);
        return Emit32(atom::STRING, offset, t.start);
      }
      case SCRIPTTOKEN::VARIABLE: return EmitText(atom::VARIABLE, t.text, t.start);
      case SCRIPTTOKEN::WORD: {
        const uint8_t a = atom::ExpressionKeyword(t.text);
        if (!a) return EmitText(atom::WORD, t.text, t.start);
        if (atom::IsFunction(a)) {
          // The function's "(" is implied by its atom.
          SCRIPTTOKEN p = NextToken();
          if (p.kind != SCRIPTTOKEN::OP || p.op != atom::OPENPAREN) return FailAt(scriptmsg::SYNTAX, t.start);
          if (++depth > NEWSCRIPT::MAX_BRACKETS) return FailAt(scriptmsg::BRACKETS, t.start);
        }
        return Emit(a, t.start);
      }
      case SCRIPTTOKEN::OP:
        if (!t.op) return FailAt(scriptmsg::SYNTAX, t.start);
        if (t.op == atom::OPENPAREN || t.op == atom::OPENBRACKET) {
          if (++depth > NEWSCRIPT::MAX_BRACKETS) return FailAt(scriptmsg::BRACKETS, t.start);
        } else if (t.op == atom::CLOSE) {
          --depth;
        }
        return Emit(t.op, t.start);
      default: return FailAt(scriptmsg::SYNTAX, t.start);
    }
  }

  void UpperCase(size_t i) {
    std::string_view l = lines_[i];
    UpperCaseLine(text_.data() + (l.data() - text_.data()), l.size());
  }

  NEWSCRIPT& s_;
  std::string text_;
  std::vector<std::string_view> lines_;
  size_t index_ = 0;
  SCRIPTLEXER lexer_;
  std::vector<LOOP> loops_;
  std::unordered_set<std::string> labelNames_;
  bool any_ = false;  // an atom other than LINENO was written
};

bool NEWSCRIPT::Compile(std::string_view text) {
  SCRIPTCOMPILER c(*this, text);
  if (c.Run()) return true;
  code_.clear();
  labels_.clear();
  consts_.clear();
  if (reportError) reportError(error);
  return false;
}

bool NEWSCRIPT::Load(const std::string& path) {
  Free();
  file_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in && EndsWithScr(path)) {
    std::string alt = path.substr(0, path.size() - 4) + ".hsc";
    in.open(alt, std::ios::binary);
    if (in) file_ = alt;
  }
  if (!in) {
    error = {0, scriptmsg::LOAD_FAILED, std::string(scriptmsg::Text(scriptmsg::LOAD_FAILED)) + path, ""};
    if (reportError) reportError(error);
    return false;
  }
  // One read of the whole file.
  std::string text;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    in.read(text.data(), size);
    text.resize(static_cast<size_t>(in.gcount()));
    if (in.eof() && !in.bad()) in.clear();  // shorter than it was a moment ago: what was read counts
  } else {
    // No size to go by (empty, or not a plain file): read it as a stream.
    in.clear();
    in.seekg(0, std::ios::beg);
    in.clear();
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (in.bad()) {
    error = {0, scriptmsg::FILE_READ, scriptmsg::Text(scriptmsg::FILE_READ), ""};
    if (reportError) reportError(error);
    return false;
  }
  return Compile(text);
}

bool NEWSCRIPT::LoadFromMemory(std::string_view text) {
  Free();
  file_ = "@memory";
  return Compile(text);
}

std::optional<uint32_t> NEWSCRIPT::GetLabelAddress(std::string_view name) const {
  size_t p = 0;
  while (p + 4 < labels_.size()) {
    const uint32_t pos = atom::Get32(reinterpret_cast<const uint8_t*>(labels_.data() + p));
    const size_t nameStart = p + 4;
    size_t nul = labels_.find('\0', nameStart);
    if (nul == std::string::npos) break;
    if (std::string_view(labels_).substr(nameStart, nul - nameStart) == name) return pos;
    p = nul + 1;
  }
  return std::nullopt;
}

bool NEWSCRIPT::AddLabel(std::string_view name, uint32_t position) {
  if (labels_.size() + 4 + name.size() + 1 > LABEL_SIZE) return false;
  for (int i = 0; i < 4; ++i) labels_ += static_cast<char>(position >> (8 * i));
  labels_ += name;
  labels_ += '\0';
  return true;
}

bool NEWSCRIPT::AddConst(std::string_view text, uint32_t& offset) {
  if (text.empty() && !consts_.empty()) {
    offset = static_cast<uint32_t>(consts_.size() - 1);  // the previous entry's NUL
    return true;
  }
  if (consts_.size() + text.size() + 1 > CONST_SIZE) return false;
  offset = static_cast<uint32_t>(consts_.size());
  consts_ += text;
  consts_ += '\0';
  return true;
}

std::string_view NEWSCRIPT::Constant(uint32_t offset) const {
  if (offset >= consts_.size()) return {};
  std::string_view rest = std::string_view(consts_).substr(offset);
  return rest.substr(0, rest.find('\0'));
}

void NEWSCRIPT::Free() {
  code_.clear();
  code_.shrink_to_fit();
  labels_.clear();
  consts_.clear();
  error = {};
  warnings.clear();
}
