// Titles of tagged lines: the call title of a connect line, and the title
// template runner over the compiled form drawn in stock/tagtemplate.h, with
// the pieces behind it (the searches, the title groups' split points) and the
// message rules' number, date and parent for CODEVRAM::GetSpeechInfo.
//
// Texts the runner reads:
//   the rule's lines   (group elements) the query texts of as many logical
//                      lines as the rule's pattern spans, joined by line
//                      feeds: exactly what the pattern matched
//   a line piece       (4, 5, 11, 12) the logical line's cells as shown, an
//                      empty cell a blank, no input mark
//   the tag's lines    (6-8) each logical line with 0x0B at its input
//                      column, from the tag line up to the next line with a
//                      tag of 3 or more, at most 1000 lines
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/jcode.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"

std::string TREE::szTitle;
int TREE::iItemTagTitleCache = -1;

namespace {

constexpr int kTitleMax = 255;
constexpr int kTagLinesMax = 1000;
constexpr int kSlotsMax = 64;

// ---- texts of lines ----

int NextLine(CODEVRAM first) {
  CODEVRAM cv = first;
  for (int k = 0; k < kSlotsMax && !cv.IsCR() && !cv.IsNewest(); ++k) ++cv;
  if (cv.IsNewest()) return -1;
  ++cv;
  return cv.i;
}

int PrevLine(CODEVRAM first) {
  if (first.IsOldest()) return -1;
  CODEVRAM cv = first;
  --cv;
  for (int k = 0; k < kSlotsMax && !cv.IsOldest(); ++k) {
    CODEVRAM prev = cv;
    --prev;
    if (prev.IsCR()) break;
    cv = prev;
  }
  return cv.i;
}

// The logical line's cells (an empty cell a blank); with `marks` 0x0B in
// front of the byte at each slot's input column.
std::string LineText(CODEVRAM first, bool marks) {
  std::string out;
  CODEVRAM cv = first;
  for (int k = 0; k < kSlotsMax; ++k) {
    const STOCKITEM* item = cv.Item();
    const int len = cv.Length();
    const int mark = marks && item->cInput < STOCK_MARK_CONNECT ? item->cInput : -1;
    for (int x = 0; x < len; ++x) {
      if (x == mark) out += '\x0B';
      const char c = item->Text()[x];
      out += c == 0 ? ' ' : c;
    }
    if (cv.IsCR() || cv.IsNewest()) break;
    ++cv;
  }
  return out;
}

// The line `offset` logical lines from `first` (negative: back), -1 when
// there is none.
int LineAt(CODEVRAM first, int offset) {
  int slot = first.i;
  for (int k = 0; k < offset && slot >= 0; ++k) slot = NextLine(CODEVRAM(slot));
  for (int k = 0; k > offset && slot >= 0; --k) slot = PrevLine(CODEVRAM(slot));
  return slot;
}

// Cuts a Shift_JIS text to at most n bytes without splitting a character.
std::string CutWhole(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t p = 0;
  while (p < n) {
    const size_t w = jcode::IsKanji1(static_cast<unsigned char>(s[p])) ? 2 : 1;
    if (p + w > n) break;
    p += w;
  }
  return s.substr(0, p);
}

// The start of the character holding byte x (x itself when it starts one).
size_t CharStart(const std::string& s, size_t x) {
  size_t p = 0, last = 0;
  while (p <= x && p < s.size()) {
    last = p;
    p += jcode::IsKanji1(static_cast<unsigned char>(s[p])) ? 2 : 1;
  }
  return x >= s.size() ? s.size() : last;
}

// Bytes [from, from + n) of s, both ends moved onto whole characters.
std::string Piece(const std::string& s, long from, long n) {
  if (from < 0) from = 0;
  if (n <= 0 || size_t(from) >= s.size()) return {};
  size_t a = CharStart(s, size_t(from));
  if (a < size_t(from)) a += 2;  // a trail byte: start at the next character
  if (a >= s.size()) return {};
  return CutWhole(s.substr(a), size_t(n));
}

// ---- compiled expressions of the templates and groups ----

std::map<std::string, std::unique_ptr<JRE2>>& ExprCache() {
  static std::map<std::string, std::unique_ptr<JRE2>> cache;
  return cache;
}

// Expressions that span a line break (searched over two lines joined).
std::map<const JRE2*, bool>& Spans() {
  static std::map<const JRE2*, bool> spans;
  return spans;
}

JRE2* Expr(const std::string& pattern) {
  auto& cache = ExprCache();
  auto it = cache.find(pattern);
  if (it == cache.end()) {
    auto jre = std::make_unique<JRE2>();
    if (!FRONTENDCACHE::CreateJre(jre.get(), pattern))
      jre.reset();
    else
      Spans()[jre.get()] = CountCR(pattern.c_str()) > 0;
    it = cache.emplace(pattern, std::move(jre)).first;
  }
  return it->second.get();
}

bool First(JRE2* jre, const std::string& text, int start) {
  jre->nStart = start;
  return Jre2GetMatchInfo(jre, text.data(), int(text.size())) == 1;
}

// Copies by mode (0 match to line end, 1 match end to line end, 2 line
// start to match, 3 the match) within [lineStart, lineEnd).
std::string ByMode(const std::string& t, size_t pos, size_t len, int mode, size_t lineStart, size_t lineEnd) {
  switch (mode & 3) {
    case 0: return t.substr(pos, lineEnd > pos ? lineEnd - pos : 0);
    case 1: return t.substr(pos + len, lineEnd > pos + len ? lineEnd - pos - len : 0);
    case 2: return t.substr(lineStart, pos - lineStart);
    default: return t.substr(pos, len);
  }
}

// Fixed text search over Shift_JIS characters; ignoreCase folds ASCII
// letters only.  npos when not found; `last` the last occurrence.
size_t FindFixed(const std::string& hay, const std::string& what, bool ignoreCase, bool last) {
  if (what.empty()) return std::string::npos;
  auto eq = [&](size_t p) {
    if (p + what.size() > hay.size()) return false;
    for (size_t k = 0; k < what.size(); ++k) {
      unsigned char a = static_cast<unsigned char>(hay[p + k]), b = static_cast<unsigned char>(what[k]);
      if (ignoreCase) {
        if (a >= 'a' && a <= 'z') a = a - 'a' + 'A';
        if (b >= 'a' && b <= 'z') b = b - 'a' + 'A';
      }
      if (a != b) return false;
    }
    return true;
  };
  size_t found = std::string::npos;
  for (size_t p = 0; p < hay.size();) {
    if (eq(p)) {
      found = p;
      if (!last) break;
    }
    p += jcode::IsKanji1(static_cast<unsigned char>(hay[p])) ? 2 : 1;
  }
  return found;
}

// ---- the menu line chosen by the user's input (NIF) ----

// The tag's lines: from the tag line to before the next line tagged 3 or
// more.
std::vector<int> TagLines(CODEVRAM tagLine) {
  std::vector<int> lines{tagLine.i};
  int slot = NextLine(tagLine);
  while (slot >= 0 && int(lines.size()) < kTagLinesMax) {
    if (CODEVRAM(slot).Tag() >= TAG_CONNECT) break;
    lines.push_back(slot);
    slot = NextLine(CODEVRAM(slot));
  }
  return lines;
}

std::string LeadingDigits(const std::string& s, size_t from) {
  size_t p = from;
  while (p < s.size() && s[p] == ' ') ++p;
  size_t e = p;
  while (e < s.size() && s[e] >= '0' && s[e] <= '9') ++e;
  return s.substr(p, e - p);
}

// The line that the number the user typed selects, -1 when there is none.
int ChosenMenuLine(CODEVRAM tagLine) {
  static const std::string kPrompt = jcode::Utf8ToSjis("＞");
  const std::vector<int> lines = TagLines(tagLine);
  for (size_t k = 1; k < lines.size(); ++k) {
    CODEVRAM cv(lines[k]);
    const std::string text = LineText(cv, false);
    std::string number;
    const unsigned char mark = cv.Item()->cInput;
    if (mark < STOCK_MARK_CONNECT && mark < text.size()) number = LeadingDigits(text, mark);
    if (number.empty() && text.compare(0, kPrompt.size(), kPrompt) == 0)
      number = LeadingDigits(text, kPrompt.size());
    if (number.empty()) continue;
    for (size_t j = k; j-- > 0;) {
      const std::string earlier = LineText(CODEVRAM(lines[j]), false);
      size_t p = 0;
      while (p < earlier.size() && earlier[p] == ' ') ++p;
      if (earlier.compare(p, number.size(), number) == 0 &&
          (p + number.size() >= earlier.size() || earlier[p + number.size()] < '0' ||
           earlier[p + number.size()] > '9'))
        return lines[j];
    }
    return -1;
  }
  return -1;
}

// ---- the runner ----

struct RUN {
  CODEVRAM tagLine;
  int tag = 0;
  bool nifNone = false;  // a NIF piece found no chosen line: the title is "一覧"
};

// The piece of a line for elements 4, 5, 11 and 12; false when the line
// does not exist.
bool LinePiece(RUN& run, int column, int offset, int length, std::string* out) {
  int slot;
  if (offset == TITLE_NIF) {
    slot = ChosenMenuLine(run.tagLine);
    if (slot < 0) {
      *out = jcode::Utf8ToSjis("会議室一覧");
      run.nifNone = true;
      return true;
    }
  } else {
    slot = LineAt(run.tagLine, offset);
    if (slot < 0) return false;
  }
  const std::string text = LineText(CODEVRAM(slot), false);
  long from = column < 0 ? long(text.size()) + column : column;
  *out = Piece(text, std::max(0L, from), length);
  return true;
}

// The text a group element reads.
std::string RuleLines(CODEVRAM tagLine, int lines) {
  std::string joined;
  int slot = tagLine.i;
  for (int k = 0; k < std::max(1, lines) && slot >= 0; ++k) {
    char buf[256];
    const int n = BuildQueryText(CODEVRAM(slot), buf);
    if (k) joined += '\n';
    joined.append(buf, size_t(n));
    slot = NextLine(CODEVRAM(slot));
  }
  return joined;
}

int MarkCount(const char* pattern);

bool Group(RUN& run, int d, std::string* out) {
  const TAGPROP* p = TAGMAKER::GetTagProp(run.tag);
  const int marks = MarkCount(p->szPattern);
  if (d < 1 || marks < d) return false;
  const std::string text = RuleLines(run.tagLine, p->cPatternLine);
  const int a = FRONTENDCACHE::FindSplit(run.tag, d, text.data(), int(text.size()));
  if (a < 0) return false;
  int b = int(text.size());
  if (marks > d) {
    b = FRONTENDCACHE::FindSplit(run.tag, d + 1, text.data(), int(text.size()));
    if (b < 0) return false;
  }
  if (b < a) return false;
  *out = text.substr(size_t(a), size_t(b - a));
  return true;
}

int Run(RUN& run, const unsigned char* t, int room, int depth, std::string* out, int* used);

// A nested template at t: its result and its length in bytes.
bool Nested(RUN& run, const unsigned char* t, int room, int depth, std::string* result, int* length, int* ok) {
  if (depth >= TITLE_MAX_DEPTH) return false;
  *ok = Run(run, t, room, depth + 1, result, length);
  return *length > 0;
}

int Run(RUN& run, const unsigned char* t, int room, int depth, std::string* out, int* usedOut) {
  int ok = 1;
  int p = 0;
  auto fail = [&] {
    ok = 0;
  };
  while (p < room) {
    const unsigned char e = t[p];
    if (e < TITLE_LITERAL || e == TITLE_END) {
      ++p;
      break;
    }
    const int len = TitleElementLength(t + p, room - p);
    if (len <= 0) {  // unknown or cut short: the end
      ok = 0;
      p = room;
      break;
    }
    const unsigned char* q = t + p + 1;
    auto num = [&](int at) { return int(static_cast<signed char>(q[at])); };
    std::string piece;
    switch (e) {
      case TITLE_LITERAL: out->append(reinterpret_cast<const char*>(q + 1), q[0]); break;
      case TITLE_GROUP:
        if (Group(run, q[0], &piece)) *out += piece; else fail();
        break;
      case TITLE_PIECE:
      case TITLE_PIECE_LENGTH: {
        const int length = e == TITLE_PIECE ? TITLE_DEFAULT_LENGTH : q[2];
        if (LinePiece(run, num(0), num(1), length, &piece)) *out += piece; else fail();
        break;
      }
      case TITLE_SEARCH:
      case TITLE_SEARCH_MODE:
      case TITLE_SEARCH_MAX: {
        const std::string re(reinterpret_cast<const char*>(q + 1), q[0]);
        const int mode = e == TITLE_SEARCH ? 3 : q[1 + q[0]];
        const int max = e == TITLE_SEARCH_MAX ? q[2 + q[0]] : -1;
        JRE2* jre = Expr(re);
        if (jre && FindForGetTitle(run.tagLine, jre, mode, max, &piece)) *out += piece; else fail();
        break;
      }
      case TITLE_RESULT_TEXT:
      case TITLE_RESULT_REGEX: {
        std::string inner;
        int innerLen = 0, innerOk = 1;
        if (!Nested(run, q, room - p - 1, depth, &inner, &innerLen, &innerOk)) {
          ok = 0;
          p = room;
          break;
        }
        const unsigned char* r = q + innerLen;
        const std::string what(reinterpret_cast<const char*>(r + 1), r[0]);
        const int flag = r[1 + r[0]];
        if (!innerOk) ok = 0;
        if (FindForGetTitleSearch1(inner, what, e == TITLE_RESULT_REGEX, flag, &piece)) *out += piece; else fail();
        break;
      }
      case TITLE_LINE_TEXT:
      case TITLE_LINE_REGEX: {
        const std::string what(reinterpret_cast<const char*>(q + 4), q[3]);
        const int flag = q[4 + q[3]];
        std::string line;
        if (LinePiece(run, num(0), num(1), q[2], &line) &&
            FindForGetTitleSearch1(line, what, e == TITLE_LINE_REGEX, flag, &piece))
          *out += piece;
        else
          fail();
        break;
      }
      case TITLE_NESTED_PIECE: {
        std::string inner;
        int innerLen = 0, innerOk = 1;
        if (!Nested(run, q, room - p - 1, depth, &inner, &innerLen, &innerOk)) {
          ok = 0;
          p = room;
          break;
        }
        if (!innerOk) ok = 0;
        const int a = int(static_cast<signed char>(q[innerLen])), b = int(static_cast<signed char>(q[innerLen + 1]));
        const long size = long(inner.size());
        const long from = a < 0 ? size + a : a;
        const long n = b < 0 ? size + b - from : b;
        *out += Piece(inner, from, n);
        break;
      }
      default: fail(); break;
    }
    if (p >= room) break;
    p += len;
    if (out->size() > 4 * kTitleMax) *out = CutWhole(*out, 4 * kTitleMax);
  }
  if (usedOut) *usedOut = std::min(p, room);
  return ok;
}

// ---- title groups ----

// The user's pattern cut at its "\f" marks (walking Shift_JIS characters;
// "\\" is an escaped backslash, no mark).
std::vector<std::string> CutAtMarks(const char* pattern) {
  std::vector<std::string> parts(1);
  for (const unsigned char* s = reinterpret_cast<const unsigned char*>(pattern); *s;) {
    if (jcode::IsKanji1(*s) && s[1]) {
      parts.back().append(reinterpret_cast<const char*>(s), 2);
      s += 2;
    } else if (*s == '\\' && s[1] == 'f') {
      parts.emplace_back();
      s += 2;
    } else if (*s == '\\' && s[1]) {
      parts.back().append(reinterpret_cast<const char*>(s), 2);
      s += 2;
    } else {
      parts.back() += char(*s++);
    }
  }
  return parts;
}

int MarkCount(const char* pattern) { return int(CutAtMarks(pattern).size()) - 1; }

struct SPLITPARTS {
  int tag = 0, group = 0;
  bool frontEmpty = false, backEmpty = false;
  JRE2 front;        // the front part, to find where its first match starts
  JRE2 frontAtEnd;   // the front part ending at the end of the text
  JRE2 back;         // the back part
};

std::vector<std::unique_ptr<SPLITPARTS>>& Splits() {
  static std::vector<std::unique_ptr<SPLITPARTS>> cache;
  return cache;
}
SPLITPARTS* gCurrentSplit = nullptr;

// The title cache of GetTagTitle.
void ClearTitleCache() {
  TREE::iItemTagTitleCache = -1;
  TREE::szTitle.clear();
}

}  // namespace

// ---------------------------------------------------------------------------

bool FRONTENDCACHE::CreateJre(JRE2* jre, const std::string& pattern) {
  if (!Jre2Open(jre) || !Jre2Compile(jre, pattern.c_str(), int(pattern.size()))) {
    Jre2Close(jre);
    return false;
  }
  return true;
}

void FRONTENDCACHE::Clear() {
  for (auto& s : Splits()) {
    Jre2Close(&s->front);
    Jre2Close(&s->frontAtEnd);
    Jre2Close(&s->back);
  }
  Splits().clear();
  gCurrentSplit = nullptr;
  for (auto& e : ExprCache())
    if (e.second) Jre2Close(e.second.get());
  ExprCache().clear();
  Spans().clear();
  ClearTitleCache();
}

void FRONTENDCACHE::SetCurrentCache(int tag, int group) {
  for (auto& s : Splits())
    if (s->tag == tag && s->group == group) {
      gCurrentSplit = s.get();
      return;
    }
  SetCache(tag, group);
}

void FRONTENDCACHE::SetCache(int tag, int group) {
  auto s = std::make_unique<SPLITPARTS>();
  s->tag = tag;
  s->group = group;
  const std::vector<std::string> parts = CutAtMarks(TAGMAKER::GetTagProp(tag)->szPattern);
  std::string front, back;
  for (int k = 0; k < int(parts.size()); ++k) (k < group ? front : back) += parts[size_t(k)];
  s->frontEmpty = front.empty();
  s->backEmpty = back.empty();
  if (!s->frontEmpty) {
    CreateJre(&s->front, front);
    CreateJre(&s->frontAtEnd, "(?:" + front + ")\\z");
  }
  if (!s->backEmpty) CreateJre(&s->back, back);
  gCurrentSplit = s.get();
  Splits().push_back(std::move(s));
}

int FRONTENDCACHE::FindSplit(int tag, int group, const char* text, int length) {
  SetCurrentCache(tag, group);
  SPLITPARTS* s = gCurrentSplit;
  if (!s) return -1;
  if (s->frontEmpty) return 0;
  if (s->front.dwSize == 0 || s->frontAtEnd.dwSize == 0) return -1;
  s->front.nStart = 0;
  if (Jre2GetMatchInfo(&s->front, text, length) != 1) return -1;
  if (s->backEmpty) return length;
  if (s->back.dwSize == 0) return -1;
  int split = -1;
  for (int start = s->front.nPosition; start <= length;) {
    s->back.nStart = start;
    if (Jre2GetMatchInfo(&s->back, text, length) != 1) break;
    const int p = s->back.nPosition;
    s->frontAtEnd.nStart = 0;
    if (Jre2GetMatchInfo(&s->frontAtEnd, text, p) == 1) split = p;
    // Every later start, on whole characters.
    start = p + (p < length && jcode::IsKanji1(static_cast<unsigned char>(text[p])) ? 2 : 1);
  }
  return split;
}

bool FindForGetTitle(CODEVRAM line, JRE2* jre, int mode, int maxLength, std::string* out) {
  if (!jre || jre->dwSize == 0) return false;
  const std::vector<int> lines = TagLines(line);
  // An expression over a line break is matched against two lines joined.
  const auto span = Spans().find(jre);
  const bool two = span != Spans().end() && span->second;
  for (size_t k = 0; k < lines.size(); ++k) {
    std::string text = LineText(CODEVRAM(lines[k]), true);
    const size_t firstEnd = text.size();
    if (two && k + 1 < lines.size()) {
      text += '\n';
      text += LineText(CODEVRAM(lines[k + 1]), true);
    }
    if (!First(jre, text, 0) || size_t(jre->nPosition) > firstEnd) continue;
    const size_t pos = size_t(jre->nPosition), len = size_t(jre->nLength);
    size_t lineEnd = text.find('\n', pos + ((mode & 3) == 1 ? len : 0));
    if (lineEnd == std::string::npos) lineEnd = text.size();
    std::string got = ByMode(text, pos, len, mode, 0, lineEnd);
    *out = maxLength >= 0 ? CutWhole(got, size_t(maxLength)) : got;
    return true;
  }
  return false;
}

bool FindForGetTitleSearch1(const std::string& text, const std::string& what, int regex, int flag, std::string* out) {
  size_t pos = std::string::npos, len = 0;
  if (regex) {
    JRE2* jre = Expr(what);
    if (!jre) return false;
    for (int start = 0; start <= int(text.size()) && First(jre, text, start);) {
      pos = size_t(jre->nPosition);
      len = size_t(jre->nLength);
      if (!(flag & TITLE_FLAG_LAST)) break;
      start = jre->nPosition + std::max(1, jre->nLength);
    }
  } else {
    pos = FindFixed(text, what, flag & TITLE_FLAG_IGNORE_CASE, flag & TITLE_FLAG_LAST);
    len = what.size();
  }
  if (pos == std::string::npos) {
    if (flag & TITLE_FLAG_WHOLE_IF_NONE) {
      *out = text;
      return true;
    }
    return false;
  }
  *out = ByMode(text, pos, len, flag & TITLE_FLAG_MODE, 0, text.size());
  return true;
}

bool FindForGetTitleSearch2(CODEVRAM line, int column, int lineOffset, int length, const std::string& what,
                            int regex, int flag, std::string* out) {
  RUN run;
  run.tagLine = line;
  run.tag = line.Tag();
  std::string piece;
  if (!LinePiece(run, column, lineOffset, length, &piece)) return false;
  return FindForGetTitleSearch1(piece, what, regex, flag, out);
}

int TREE::GetTagTitleSub(CODEVRAM line, const unsigned char* templ, int room, std::string* out) {
  RUN run;
  run.tagLine = line;
  run.tag = line.Tag();
  out->clear();
  const int ok = Run(run, templ, room, 0, out, nullptr);
  if (run.nifNone) *out = jcode::Utf8ToSjis("一覧");
  *out = CutWhole(*out, kTitleMax);
  return ok;
}

const char* TREE::GetTagTitle(CODEVRAM line) {
  if (iItemTagTitleCache == line.i && iItemTagTitleCache >= 0) return szTitle.c_str();
  CODEVRAM cv = line;
  bool found = cv.Tag() >= TAG_CONNECT;
  for (int k = 0; !found && !cv.IsOldest() && k < STOCK::cItemUsed; ++k) {
    --cv;
    found = cv.Tag() >= TAG_CONNECT;
  }
  static std::string result;
  result.clear();
  if (!found) return result.c_str();
  int ok = 1;
  if (cv.Tag() == TAG_CONNECT) {
    result = GetConnectTitle(cv, 0);
  } else {
    const TAGPROP* p = TAGMAKER::GetTagProp(cv.Tag());
    if (p->abTitle[0] < TITLE_LITERAL)
      result.assign(p->szName, strnlen(p->szName, sizeof p->szName));
    else
      ok = GetTagTitleSub(cv, p->abTitle, int(sizeof p->abTitle), &result);
  }
  result.erase(std::remove(result.begin(), result.end(), '\x0B'), result.end());
  if (ok) {
    szTitle = result;
    iItemTagTitleCache = line.i;
  }
  return result.c_str();
}

const char* TREE::GetConnectTitle(CODEVRAM line, int style) {
  static std::string title;
  const std::string text = LineText(line, false);
  const SYSTEMTIME st = DateTimeFromConnectText(line.Item()->Text(), STOCK::cColumn);
  if (text.size() > 19 && st.wYear != 2100) {
    const size_t keep = style == 0 ? 11 : 5;
    title = text.substr(text.size() - keep) + " " + text.substr(0, text.size() - 19);
  } else {
    title = text;
  }
  return title.c_str();
}

// Message rules: the number, date and parent texts of a message line.
bool TagSpeechRule(const CODEVRAM& line, SPEECHRULETEXT* rule) {
  const int tag = line.Tag();
  if (tag < TAG_FIRST_RULE || tag >= tagarray.Count()) return false;
  const TAGPROP* p = TAGMAKER::GetTagProp(tag);
  if (p->iSpeech == 0 || p->iSpeech > aidarray.Count()) return false;
  const TAGAID* aid = aidarray.GetItem(p->iSpeech - 1);
  auto run = [&](const unsigned char* t) {
    std::string s;
    TREE::GetTagTitleSub(line, t, 50, &s);
    s.erase(std::remove(s.begin(), s.end(), '\x0B'), s.end());
    return s;
  };
  rule->kind = aid->kind;
  rule->number = run(aid->abNumber);
  rule->hasDate = aid->fDate != 0;
  if (rule->hasDate) rule->date = run(aid->abDate);
  rule->hasParent = aid->fParent != 0;
  if (rule->hasParent) rule->parent = run(aid->abParent);
  rule->upArrow = aid->fUpArrow != 0;
  return true;
}
