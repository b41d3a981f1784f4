#include "stock/tagtemplate.h"

#include <cstring>

#include "platform/jcode.h"

namespace {

// Bytes of the Shift_JIS character at s[i] (1 or 2; a lead byte at the end
// of the text counts as one).
size_t CharBytes(const std::string& s, size_t i) {
  return (jcode::IsKanji1(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---- compiler: recursive descent over the text ----
//
//   template := { literal | "\" digit | "\(" args ")" | "\s(" sub ")"
//                 | "\r(" sub ")" | "\p(" nested "," num "," num ")" | "\-" }
//   args     := num "," num [ "," num ] | quoted [ "," num [ "," num ] ]
//   sub      := num "," num "," num "," quoted "," num | nested "," quoted "," num
//   nested   := template up to an unescaped "," (not consumed)
class Compiler {
 public:
  explicit Compiler(const std::string& text) : s(text) {}

  bool Run(std::string* out) {
    if (!Template(false, 0, out)) return false;
    if (pos != s.size()) return Fail("余分な文字があります");
    return true;
  }
  std::string error;

 private:
  const std::string& s;
  size_t pos = 0;

  bool Fail(const char* why) {
    if (error.empty()) error = why;
    return false;
  }

  static void FlushLiteral(std::string* literal, std::string* out) {
    size_t i = 0;
    while (i < literal->size()) {
      // Chunks of at most 255 bytes, never ending inside a two-byte character.
      size_t n = 0;
      while (i + n < literal->size()) {
        size_t b = CharBytes(*literal, i + n);
        if (n + b > 255) break;
        n += b;
      }
      out->push_back(char(TITLE_LITERAL));
      out->push_back(char(n));
      out->append(*literal, i, n);
      i += n;
    }
    literal->clear();
  }

  void SkipBlanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }

  bool Expect(char c) {
    SkipBlanks();
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
  }

  // A number from lo to hi, or NIF (-128) when allowed.
  bool Number(int lo, int hi, bool nif, int* value) {
    SkipBlanks();
    if (nif && s.compare(pos, 3, "NIF") == 0) {
      pos += 3;
      *value = TITLE_NIF;
      return true;
    }
    size_t p = pos;
    bool neg = false;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) neg = s[p++] == '-';
    if (p >= s.size() || !IsDigit(s[p])) return Fail("数字がありません");
    long v = 0;
    while (p < s.size() && IsDigit(s[p])) {
      v = v * 10 + (s[p++] - '0');
      if (v > 1000) return Fail("数字が大きすぎます");
    }
    if (neg) v = -v;
    if (v < lo || v > hi) return Fail("数字が範囲外です");
    pos = p;
    *value = int(v);
    return true;
  }

  bool LooksLikeNumber() {
    size_t p = pos;
    while (p < s.size() && s[p] == ' ') ++p;
    if (s.compare(p, 3, "NIF") == 0) return true;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) ++p;
    return p < s.size() && IsDigit(s[p]);
  }

  // A quoted text: \" a quote, \v the byte 0x0B, any other backslash kept
  // with the character after it.
  bool Quoted(std::string* text) {
    SkipBlanks();
    if (pos >= s.size() || s[pos] != '"') return Fail("\"がありません");
    ++pos;
    text->clear();
    while (pos < s.size() && s[pos] != '"') {
      if (s[pos] == '\\' && pos + 1 < s.size()) {
        char n = s[pos + 1];
        if (n == '"') {
          text->push_back('"');
          pos += 2;
        } else if (n == 'v') {
          text->push_back('\x0B');
          pos += 2;
        } else {
          size_t b = 1 + CharBytes(s, pos + 1);
          text->append(s, pos, b);
          pos += b;
        }
        continue;
      }
      size_t b = CharBytes(s, pos);
      text->append(s, pos, b);
      pos += b;
    }
    if (pos >= s.size()) return Fail("\"が閉じていません");
    ++pos;
    if (text->size() > 255) return Fail("文字列が長すぎます");
    return true;
  }

  static void PushText(const std::string& text, std::string* out) {
    out->push_back(char(text.size()));
    *out += text;
  }

  // "\(" ... ")" after the "(".
  bool Piece(std::string* out) {
    SkipBlanks();
    if (pos < s.size() && s[pos] == '"') {
      std::string re;
      if (!Quoted(&re)) return false;
      int m = 0, max = 0, given = 0;
      if (Expect(',')) {
        if (!Number(-127, 127, false, &m)) return false;
        given = 1;
        if (Expect(',')) {
          if (!Number(-127, 127, false, &max)) return false;
          given = 2;
        }
      }
      if (!Expect(')')) return Fail(")がありません");
      out->push_back(char(given == 0 ? TITLE_SEARCH : given == 1 ? TITLE_SEARCH_MODE : TITLE_SEARCH_MAX));
      PushText(re, out);
      if (given >= 1) out->push_back(char(m));
      if (given == 2) out->push_back(char(max));
      return true;
    }
    int c = 0, n = 0, len = 0;
    if (!Number(-127, 127, true, &c) || !Expect(',') || !Number(-127, 127, true, &n)) return Fail("\\(の書式が違います");
    bool hasLen = false;
    if (Expect(',')) {
      if (!Number(-127, 127, true, &len)) return false;
      hasLen = true;
    }
    if (!Expect(')')) return Fail(")がありません");
    out->push_back(char(hasLen ? TITLE_PIECE_LENGTH : TITLE_PIECE));
    out->push_back(char(c));
    out->push_back(char(n));
    if (hasLen) out->push_back(char(len));
    return true;
  }

  // Whether the arguments at pos are "num , num , num , quote".
  bool PieceFormAhead() {
    size_t save = pos;
    std::string keep = error;
    int v = 0;
    bool ok = Number(-127, 127, true, &v) && Expect(',') && Number(-127, 127, true, &v) && Expect(',') &&
              Number(-127, 127, true, &v) && Expect(',');
    if (ok) {
      SkipBlanks();
      ok = pos < s.size() && s[pos] == '"';
    }
    pos = save;
    error = keep;
    return ok;
  }

  // "\s(" / "\r(" ... ")" after the "(".
  bool Sub(bool regex, int depth, std::string* out) {
    std::string what;
    int flag = 0;
    if (PieceFormAhead()) {
      int c = 0, n = 0, len = 0;
      Number(-127, 127, true, &c);
      Expect(',');
      Number(-127, 127, true, &n);
      Expect(',');
      Number(-127, 127, true, &len);
      Expect(',');
      if (!Quoted(&what) || !Expect(',') || !Number(0, 255, false, &flag) || !Expect(')'))
        return Fail("\\s(または\\r(の書式が違います");
      out->push_back(char(regex ? TITLE_LINE_REGEX : TITLE_LINE_TEXT));
      out->push_back(char(c));
      out->push_back(char(n));
      out->push_back(char(len));
      PushText(what, out);
      out->push_back(char(flag));
      return true;
    }
    std::string nested;
    if (!Template(true, depth + 1, &nested)) return false;
    if (!Expect(',') || !Quoted(&what) || !Expect(',') || !Number(0, 255, false, &flag) || !Expect(')'))
      return Fail("\\s(または\\r(の書式が違います");
    out->push_back(char(regex ? TITLE_RESULT_REGEX : TITLE_RESULT_TEXT));
    *out += nested;
    PushText(what, out);
    out->push_back(char(flag));
    return true;
  }

  // "\p(" ... ")" after the "(".
  bool NestedPiece(int depth, std::string* out) {
    std::string nested;
    int a = 0, b = 0;
    if (!Template(true, depth + 1, &nested)) return false;
    if (!Expect(',') || !Number(-127, 127, false, &a) || !Expect(',') || !Number(-127, 127, false, &b) ||
        !Expect(')'))
      return Fail("\\p(の書式が違います");
    out->push_back(char(TITLE_NESTED_PIECE));
    *out += nested;
    out->push_back(char(a));
    out->push_back(char(b));
    return true;
  }

  // Elements up to the end of the text (top level) or an unescaped ","
  // (nested), then the end element.
  bool Template(bool nested, int depth, std::string* out) {
    if (depth > TITLE_MAX_DEPTH) return Fail("入れ子が深すぎます");
    std::string literal;
    bool lastWasEnd = false;
    while (pos < s.size()) {
      char c = s[pos];
      if (nested && c == ',') break;
      if (c != '\\') {
        size_t b = CharBytes(s, pos);
        literal.append(s, pos, b);
        pos += b;
        lastWasEnd = false;
        continue;
      }
      if (pos + 1 >= s.size()) return Fail("\\で終わっています");
      char n = s[pos + 1];
      bool paren = pos + 2 < s.size() && s[pos + 2] == '(';
      if (n >= '1' && n <= '9') {
        FlushLiteral(&literal, out);
        out->push_back(char(TITLE_GROUP));
        out->push_back(char(n - '0'));
        pos += 2;
      } else if (n == '(') {
        FlushLiteral(&literal, out);
        pos += 2;
        if (!Piece(out)) return false;
      } else if ((n == 's' || n == 'r') && paren) {
        FlushLiteral(&literal, out);
        pos += 3;
        if (!Sub(n == 'r', depth, out)) return false;
      } else if (n == 'p' && paren) {
        FlushLiteral(&literal, out);
        pos += 3;
        if (!NestedPiece(depth, out)) return false;
      } else if (n == '-') {
        // In a nested template the end element closes it: anything after
        // it up to the "," would be read as the outer template's operands.
        if (nested && pos + 2 < s.size() && s[pos + 2] != ',') return Fail("入れ子の中の\\-は,の直前にだけ書けます");
        FlushLiteral(&literal, out);
        out->push_back(char(TITLE_END));
        pos += 2;
        lastWasEnd = true;
        continue;
      } else {
        size_t b = CharBytes(s, pos + 1);
        literal.append(s, pos + 1, b);
        pos += 1 + b;
      }
      lastWasEnd = false;
    }
    if (nested && pos >= s.size()) return Fail(",がありません");
    FlushLiteral(&literal, out);
    if (!lastWasEnd) out->push_back(char(TITLE_END));
    return true;
  }
};

// ---- reading compiled bytes ----

int TemplateLength(const unsigned char* b, int room, int depth) {
  if (depth > TITLE_MAX_DEPTH) return 0;
  int p = 0;
  while (p < room) {
    if (b[p] == TITLE_END) return p + 1;
    if (b[p] < TITLE_LITERAL) return 0;  // a nested template must end with its own 14
    int n = 0;
    // Nested elements are measured with the depth counted.
    unsigned char e = b[p];
    if (e == TITLE_RESULT_TEXT || e == TITLE_RESULT_REGEX || e == TITLE_NESTED_PIECE) {
      int t = TemplateLength(b + p + 1, room - p - 1, depth + 1);
      if (t == 0) return 0;
      int rest = 1 + t;
      if (e == TITLE_NESTED_PIECE) {
        rest += 2;
      } else {
        if (p + rest >= room) return 0;
        rest += 1 + b[p + rest] + 1;
      }
      n = rest;
    } else {
      n = TitleElementLength(b + p, room - p);
    }
    if (n == 0 || p + n > room) return 0;
    p += n;
  }
  return 0;
}

std::string NumberText(unsigned char b) {
  int v = static_cast<signed char>(b);
  return v == TITLE_NIF ? std::string("NIF") : std::to_string(v);
}

void LiteralText(const unsigned char* b, int n, bool nested, std::string* out) {
  std::string s(reinterpret_cast<const char*>(b), size_t(n));
  size_t i = 0;
  while (i < s.size()) {
    size_t k = CharBytes(s, i);
    if (k == 1 && (s[i] == '\\' || (nested && s[i] == ','))) out->push_back('\\');
    out->append(s, i, k);
    i += k;
  }
}

void QuotedText(const unsigned char* b, int n, std::string* out) {
  std::string s(reinterpret_cast<const char*>(b), size_t(n));
  out->push_back('"');
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '"') {
      *out += "\\\"";
      ++i;
    } else if (s[i] == '\x0B') {
      *out += "\\v";
      ++i;
    } else if (s[i] == '\\' && i + 1 < s.size()) {
      size_t k = 1 + CharBytes(s, i + 1);
      out->append(s, i, k);
      i += k;
    } else {
      size_t k = CharBytes(s, i);
      out->append(s, i, k);
      i += k;
    }
  }
  out->push_back('"');
}

// Decompiles elements up to their end element; *length gets the bytes read
// (the end element included).
bool Decompile(const unsigned char* b, int room, bool nested, int depth, std::string* out, int* length) {
  if (depth > TITLE_MAX_DEPTH) return false;
  int p = 0;
  while (p < room) {
    unsigned char e = b[p];
    if (e < TITLE_LITERAL || e == TITLE_END) {
      if (e == TITLE_END && p == 0 && !nested) *out += "\\-";
      *length = p + (e == TITLE_END ? 1 : 0);
      return e == TITLE_END || !nested;
    }
    switch (e) {
      case TITLE_LITERAL:
        if (p + 2 > room || p + 2 + b[p + 1] > room) return false;
        LiteralText(b + p + 2, b[p + 1], nested, out);
        p += 2 + b[p + 1];
        break;
      case TITLE_GROUP:
        if (p + 2 > room) return false;
        if (b[p + 1] < 1 || b[p + 1] > 9) return false;
        *out += "\\";
        out->push_back(char('0' + b[p + 1]));
        p += 2;
        break;
      case TITLE_PIECE:
      case TITLE_PIECE_LENGTH: {
        int n = e == TITLE_PIECE ? 3 : 4;
        if (p + n > room) return false;
        *out += "\\(" + NumberText(b[p + 1]) + "," + NumberText(b[p + 2]);
        if (n == 4) *out += "," + NumberText(b[p + 3]);
        *out += ")";
        p += n;
        break;
      }
      case TITLE_SEARCH:
      case TITLE_SEARCH_MODE:
      case TITLE_SEARCH_MAX: {
        int extra = e - TITLE_SEARCH;
        if (p + 2 > room || p + 2 + b[p + 1] + extra > room) return false;
        *out += "\\(";
        QuotedText(b + p + 2, b[p + 1], out);
        int q = p + 2 + b[p + 1];
        for (int k = 0; k < extra; ++k) *out += "," + NumberText(b[q + k]);
        *out += ")";
        p = q + extra;
        break;
      }
      case TITLE_RESULT_TEXT:
      case TITLE_RESULT_REGEX:
      case TITLE_NESTED_PIECE: {
        *out += e == TITLE_RESULT_TEXT ? "\\s(" : e == TITLE_RESULT_REGEX ? "\\r(" : "\\p(";
        int t = 0;
        std::string inner;
        if (!Decompile(b + p + 1, room - p - 1, true, depth + 1, &inner, &t)) return false;
        *out += inner;
        int q = p + 1 + t;
        if (e == TITLE_NESTED_PIECE) {
          if (q + 2 > room) return false;
          *out += "," + NumberText(b[q]) + "," + NumberText(b[q + 1]) + ")";
          p = q + 2;
        } else {
          if (q + 1 > room || q + 1 + b[q] + 1 > room) return false;
          *out += ",";
          QuotedText(b + q + 1, b[q], out);
          *out += "," + std::to_string(b[q + 1 + b[q]]) + ")";
          p = q + 1 + b[q] + 1;
        }
        break;
      }
      case TITLE_LINE_TEXT:
      case TITLE_LINE_REGEX: {
        if (p + 5 > room || p + 5 + b[p + 4] + 1 > room) return false;
        *out += e == TITLE_LINE_TEXT ? "\\s(" : "\\r(";
        *out += NumberText(b[p + 1]) + "," + NumberText(b[p + 2]) + "," + NumberText(b[p + 3]) + ",";
        QuotedText(b + p + 5, b[p + 4], out);
        *out += "," + std::to_string(b[p + 5 + b[p + 4]]) + ")";
        p += 5 + b[p + 4] + 1;
        break;
      }
      default:
        return false;
    }
  }
  *length = p;
  return !nested;
}

int Reach(const unsigned char* b, int room, int depth) {
  if (depth > TITLE_MAX_DEPTH) return -2;
  int p = 0, reach = 0;
  bool unknown = false;
  while (p < room) {
    unsigned char e = b[p];
    if (e < TITLE_LITERAL || e == TITLE_END) break;
    if (e > TITLE_END) return -2;
    int len = TitleElementLength(b + p, room - p);
    if (len == 0) return -2;
    switch (e) {
      case TITLE_PIECE:
      case TITLE_PIECE_LENGTH: {
        int n = static_cast<signed char>(b[p + 2]);
        if (n < 0) reach = -1;
        else if (reach >= 0 && n > reach) reach = n;
        break;
      }
      case TITLE_SEARCH:
      case TITLE_SEARCH_MODE:
      case TITLE_SEARCH_MAX:
      case TITLE_LINE_TEXT:
      case TITLE_LINE_REGEX:
        reach = -1;
        break;
      case TITLE_RESULT_TEXT:
      case TITLE_RESULT_REGEX:
      case TITLE_NESTED_PIECE: {
        int r = Reach(b + p + 1, room - p - 1, depth + 1);
        if (r == -2) unknown = true;
        else if (r < 0) reach = -1;
        else if (reach >= 0 && r > reach) reach = r;
        break;
      }
      default:
        break;
    }
    p += len;
  }
  return unknown ? -2 : reach;
}

}  // namespace

int TitleElementLength(const unsigned char* b, int room) {
  if (room < 1) return 0;
  auto text = [&](int at, int before) -> int {  // element bytes when a text's length byte is at `at`
    if (at >= room) return 0;
    int n = at + 1 + b[at] + before;
    return n <= room ? n : 0;
  };
  switch (b[0]) {
    case TITLE_LITERAL: return text(1, 0);
    case TITLE_GROUP: return room >= 2 ? 2 : 0;
    case TITLE_PIECE: return room >= 3 ? 3 : 0;
    case TITLE_PIECE_LENGTH: return room >= 4 ? 4 : 0;
    case TITLE_SEARCH: return text(1, 0);
    case TITLE_SEARCH_MODE: return text(1, 1);
    case TITLE_SEARCH_MAX: return text(1, 2);
    case TITLE_LINE_TEXT:
    case TITLE_LINE_REGEX: return text(4, 1);
    case TITLE_RESULT_TEXT:
    case TITLE_RESULT_REGEX:
    case TITLE_NESTED_PIECE: {
      int t = TemplateLength(b + 1, room - 1, 1);
      if (t == 0) return 0;
      if (b[0] == TITLE_NESTED_PIECE) return 1 + t + 2 <= room ? 1 + t + 2 : 0;
      return text(1 + t, 1);
    }
    case TITLE_END: return 1;
    default: return 0;
  }
}

TITLECOMPILE CompileTitleTemplate(const std::string& text, unsigned char* out, int room, int* used,
                                  std::string* error) {
  if (room > 0) std::memset(out, 0, size_t(room));
  if (used) *used = 0;
  if (text.empty()) return TITLE_COMPILED;
  Compiler c(text);
  std::string bytes;
  if (!c.Run(&bytes)) {
    if (error) *error = c.error;
    return TITLE_SYNTAX_ERROR;
  }
  if (int(bytes.size()) > room) {
    if (error) *error = "大きすぎます";
    return TITLE_TOO_LONG;
  }
  std::memcpy(out, bytes.data(), bytes.size());
  if (used) *used = int(bytes.size());
  return TITLE_COMPILED;
}

int CompiledTitleLength(const std::string& text) {
  if (text.empty()) return 0;
  Compiler c(text);
  std::string bytes;
  return c.Run(&bytes) ? int(bytes.size()) : -1;
}

bool DecompileTitleTemplate(const unsigned char* bytes, int room, std::string* text) {
  text->clear();
  int length = 0;
  return Decompile(bytes, room, false, 0, text, &length);
}

bool DecompilesExactly(const unsigned char* bytes, int room) {
  std::string text;
  if (!DecompileTitleTemplate(bytes, room, &text)) return false;
  std::string again(size_t(room > 0 ? room : 0), '\0');
  if (CompileTitleTemplate(text, reinterpret_cast<unsigned char*>(again.data()), room) != TITLE_COMPILED)
    return false;
  return std::memcmp(again.data(), bytes, size_t(room)) == 0;
}

int TitleLineReach(const unsigned char* bytes, int room) { return Reach(bytes, room, 0); }
