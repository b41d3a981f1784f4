#include "script/lexer.h"

#include "platform/jcode.h"
#include "script/atoms.h"

namespace {

bool IsWordStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || c == '_' || c == '`' || c == '~' || c >= 0x81; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

SCRIPTLEXER::SCRIPTLEXER(std::string_view line) : line_(line) {
  // A NUL ends the line.
  if (size_t nul = line_.find('\0'); nul != std::string_view::npos) line_ = line_.substr(0, nul);
}

bool SCRIPTLEXER::IsFullWidthSpace(size_t p) const {
  return p + 1 < line_.size() && static_cast<unsigned char>(line_[p]) == 0x81 &&
         static_cast<unsigned char>(line_[p + 1]) == 0x40;
}

void SCRIPTLEXER::SkipBlanks() {
  while (pos_ < line_.size()) {
    if (static_cast<unsigned char>(line_[pos_]) < 0x21)
      ++pos_;
    else if (IsFullWidthSpace(pos_))
      pos_ += 2;
    else
      break;
  }
}

void SCRIPTLEXER::TakeChar(std::string& out) {
  out += line_[pos_];
  if (jcode::IsKanji1(static_cast<unsigned char>(line_[pos_])) && pos_ + 1 < line_.size()) {
    out += line_[pos_ + 1];
    pos_ += 2;
  } else {
    ++pos_;
  }
}

SCRIPTTOKEN SCRIPTLEXER::Next() {
  SkipBlanks();
  SCRIPTTOKEN t;
  t.start = pos_;
  if (pos_ >= line_.size() || line_[pos_] == ';') {
    pos_ = line_.size();
    t.kind = SCRIPTTOKEN::END;
    return t;
  }
  const unsigned char c = Peek();
  if (c == '\\') {
    pos_ = line_.size();
    t.kind = SCRIPTTOKEN::CONTINUE;
    return t;
  }
  if (IsDigit(c)) {
    uint32_t v = 0;
    while (IsDigit(Peek())) {
      v = v * 10 + (Peek() - '0');
      ++pos_;
    }
    t.number = static_cast<int32_t>(v);
    if (Peek() == '.' && pos_ + 1 < line_.size() && IsDigit(static_cast<unsigned char>(line_[pos_ + 1]))) {
      // 1.5 is a word: the integer's value, the point and the digits after it.
      t.kind = SCRIPTTOKEN::WORD;
      t.text = std::to_string(t.number);
      t.text += '.';
      ++pos_;
      while (IsDigit(Peek())) t.text += line_[pos_++];
      return t;
    }
    t.kind = SCRIPTTOKEN::NUMBER;
    return t;
  }
  if (IsWordStart(c)) {
    t.kind = SCRIPTTOKEN::WORD;
    bool dotSeen = false;
    while (pos_ < line_.size()) {
      const unsigned char b = Peek();
      if (IsFullWidthSpace(pos_)) break;
      if (IsWordStart(b) || IsDigit(b)) {
        TakeChar(t.text);
      } else if (b == '.' || (b == ':' && dotSeen)) {
        dotSeen = true;
        t.text += static_cast<char>(b);
        ++pos_;
      } else {
        break;
      }
    }
    return t;
  }
  if (c == '#' || c == '@' || (c == '%' && pos_ + 1 < line_.size() && static_cast<unsigned char>(line_[pos_ + 1]) > 0x20)) {
    t.kind = SCRIPTTOKEN::VARIABLE;
    t.text += static_cast<char>(c);
    ++pos_;
    while (pos_ < line_.size()) {
      const unsigned char b = Peek();
      if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || IsDigit(b) || b == '_' || b == '`' || b == '~' ||
          b == '#' || b == '@' || b == '%') {
        t.text += static_cast<char>(b);
        ++pos_;
      } else if (jcode::IsKanji1(b) && !IsFullWidthSpace(pos_)) {
        TakeChar(t.text);
      } else {
        break;
      }
    }
    return t;
  }
  if (c == '"') {
    t.kind = SCRIPTTOKEN::STRING;
    ++pos_;
    while (pos_ < line_.size() && Peek() != '"') {
      if (Peek() == '^' && pos_ + 1 < line_.size()) {
        ++pos_;
        const unsigned char e = Peek();
        if ((e >= 'A' && e <= 'Z') || (e >= 'a' && e <= 'z')) {
          t.text += static_cast<char>(e & 0x1F);
          ++pos_;
        } else if (e == '0' && pos_ + 2 < line_.size() && HexValue(static_cast<unsigned char>(line_[pos_ + 1])) >= 0 &&
                   HexValue(static_cast<unsigned char>(line_[pos_ + 2])) >= 0) {
          t.text += static_cast<char>(HexValue(static_cast<unsigned char>(line_[pos_ + 1])) * 16 +
                                      HexValue(static_cast<unsigned char>(line_[pos_ + 2])));
          pos_ += 3;
        } else {
          TakeChar(t.text);
        }
      } else {
        TakeChar(t.text);
      }
    }
    if (pos_ < line_.size()) ++pos_;  // the closing quote
    if (t.text.size() > MAX_LITERAL) t.tooLong = true;
    return t;
  }
  t.kind = SCRIPTTOKEN::OP;
  t.text = static_cast<char>(c);
  ++pos_;
  const bool eqFollows = Peek() == '=';
  switch (c) {
    case '=': t.op = atom::EQ; break;
    case '!': t.op = eqFollows ? atom::NE : 0; break;
    case '<': t.op = eqFollows ? atom::LE : atom::LT; break;
    case '>': t.op = eqFollows ? atom::GE : atom::GT; break;
    case '+': t.op = atom::ADD; break;
    case '-': t.op = atom::SUB; break;
    case '*': t.op = atom::MUL; break;
    case '/': t.op = atom::DIV; break;
    case '%': t.op = atom::MOD; break;
    case ',': t.op = atom::COMMA; break;
    case '(': t.op = atom::OPENPAREN; break;
    case '[': t.op = atom::OPENBRACKET; break;
    case ')':
    case ']': t.op = atom::CLOSE; break;
    default: break;
  }
  if (eqFollows && (c == '=' || c == '!' || c == '<' || c == '>')) {
    t.text += '=';
    ++pos_;
  }
  if (!t.op && jcode::IsKanji1(c) && pos_ < line_.size()) t.text += line_[pos_++];
  return t;
}

std::string SCRIPTLEXER::Raw() {
  SkipBlanks();
  std::string out;
  if (Peek() == '"') {
    ++pos_;
    while (pos_ < line_.size() && Peek() != '"') TakeChar(out);
    if (pos_ < line_.size()) ++pos_;
    return out;
  }
  while (pos_ < line_.size()) {
    const unsigned char b = Peek();
    if (b < 0x21 || b == ',' || b == '"' || b == ';' || IsFullWidthSpace(pos_)) break;
    TakeChar(out);
  }
  return out;
}

void UpperCaseLine(std::string& line) { UpperCaseLine(line.data(), line.size()); }

void UpperCaseLine(char* line, size_t size) {
  bool inString = false;
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (jcode::IsKanji1(c)) {
      ++i;  // the trail byte stays as it is
    } else if (c == '"') {
      inString = !inString;
    } else if (inString) {
      if (c == '^' && i + 1 < size) {
        ++i;
        if (jcode::IsKanji1(static_cast<unsigned char>(line[i]))) ++i;
      }
    } else if (c >= 'a' && c <= 'z') {
      line[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
}
