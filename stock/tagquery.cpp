// The matcher: tags each logical line with the rule of the open levels that
// recognises it (see stock/tagquery.h for the walk of one line).
#include "stock/tagquery.h"

#include <algorithm>
#include <cstring>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagmatch.h"
#include "stock/tree.h"

TAGQUERYHOOKS tagQueryHooks;

// The candidate list of the level of rule `first` (TAGMAKER::SetJreArray,
// which is private, and the match step share it).
void TagQuerySetCandidates(int first);

int TAGMAKER::fTagQueryActive = 0;
int TAGMAKER::levelCurrent = 1;
int TAGMAKER::tagInterrupted = 0;
JRE2* TAGMAKER::jreExit = nullptr;
char TAGMAKER::aszRecentLine[5][256];
int TAGMAKER::iRecentLine = 0;
std::vector<TAGCANDIDATE> TAGMAKER::aCandidate[8];
int TAGMAKER::cCandidate[8];
std::vector<JRE2> TAGMAKER::aJreTag, TAGMAKER::aJreExit;
int TAGMAKER::fLastWasSpeech = 0;

namespace {

constexpr int kRing = 5;
constexpr int kQueryMax = 254;
constexpr int kMaxPatternLines = 4;
// A pattern that runs into the retry limit on this many lines is switched
// off for the rest of the run.
constexpr int kRetryFailuresMax = 100;

// Per rule from tag 4 on, for the current run.
struct RULERUN {
  std::string literal;     // what a matching line starts with (may be empty)
  std::string exitLiteral; // the same for the rule's exit pattern
  int lines = 1;           // logical lines the pattern spans (1 to 4)
  int retryFailures = 0;
  bool off = false;        // switched off by the retry limit
  // The pattern and the exit pattern for the own matcher, when they lie in
  // its subset (else the engine alone matches them).
  TagMatcher own, ownExit;
};
std::vector<RULERUN> gRules;
// The ring entries' lines: the first slot of the logical line whose query
// text each entry holds (-1: none), and the text's length.
int gRingSlot[kRing];
int gRingLength[kRing];
// Whether the entry's text holds a line feed byte of its own.
bool gRingLF[kRing];
// Whether the entry's text is built (a line that no literal can start gets
// its text only when a pattern over several lines needs it), and whether
// the entry's line is such a line.
bool gRingBuilt[kRing];
bool gRingDull[kRing];
// The first slot after the entry's logical line, -1 when not known.
int gRingNext[kRing];
// The bytes a query text must start with (or hold after a line feed) for
// some rule's literal, exit pattern's literal or quotation prefix to stand
// at a line start: a line whose text starts with none of them and holds no
// line feed is matched without building its text.
bool gAdmit[256];
// Logical lines after a match that the rule still covers.
int gCoverLeft = 0;
// The quotation prefixes of this run.
std::vector<std::string> gQuotes;
// Whether the literal test runs in front of the engine.
bool gPrefilter = true;
// Whether the own matcher answers for the patterns it can take.
bool gOwnMatcher = true;
// Counts the changes of the candidate lists (and of the literal test's
// switch), for what is worked out from them.
unsigned gCandidateGeneration = 0;

void Report(const std::string& text) {
  if (tagQueryHooks.report)
    tagQueryHooks.report(text);
  else
    DebugLogF("colour syntax: %s\n", text.c_str());
}

void ClearRing() {
  for (int k = 0; k < kRing; ++k) {
    gRingSlot[k] = -1;
    gRingLength[k] = 0;
    gRingLF[k] = false;
    gRingBuilt[k] = true;
    gRingDull[k] = false;
    gRingNext[k] = -1;
    TAGMAKER::aszRecentLine[k][0] = 0;
  }
}

void FreeCandidates() {
  ++gCandidateGeneration;
  for (int L = 0; L < 8; ++L) {
    TAGMAKER::aCandidate[L].clear();
    TAGMAKER::cCandidate[L] = 0;
  }
}

// Appends one slot's text to the query text: an empty cell is a blank, the
// input mark goes in front of the byte at its column, and a character that
// does not fit whole is left out.
int AppendSlot(const unsigned char* slot, int column, bool withMark, char* out, int used) {
  const char* text = reinterpret_cast<const char*>(slot + 1);
  const int len = StockTextLength(text, column);
  const int mark = withMark && slot[0] < STOCK_MARK_CONNECT ? slot[0] : -1;
  // No mark inside the text and room for all of it: the bytes as they are,
  // empty cells as blanks (the same as the walk below).
  if ((mark < 0 || mark >= len) && used + len <= kQueryMax) {
    char* to = out + used;
    std::memcpy(to, text, size_t(len));
    for (char* z = to; (z = static_cast<char*>(std::memchr(z, 0, size_t(to + len - z)))) != nullptr;) *z++ = ' ';
    return used + len;
  }
  for (int x = 0; x < len && used < kQueryMax;) {
    if (x == mark) out[used++] = 0x0B;
    if (used >= kQueryMax) break;
    const unsigned char c = static_cast<unsigned char>(text[x]);
    const int width = jcode::IsKanji1(c) && x + 1 < len ? 2 : 1;
    if (used + width > kQueryMax) break;
    out[used++] = c == 0 ? ' ' : char(c);
    if (width == 2) out[used++] = text[x + 1];
    x += width;
  }
  return used;
}

bool SlotEndsLine(const unsigned char* slot, int column) { return slot[column] < 0x20; }

// Whether the query text of the line in these raw slots (as
// BuildQueryTextFromSlots makes it) can start with no byte of gAdmit and
// holds no line feed byte.  Answers only from a look at the first bytes: a
// line it cannot judge cheaply is not dull.
bool SlotsAreDull(const unsigned char* first, const unsigned char* second, int column) {
  const unsigned char* text = first + 1;
  const int mark = first[0] < STOCK_MARK_CONNECT ? first[0] : -1;
  int lead;  // the text's first byte, -1 for an empty text
  if (text[0] >= 0x20) {
    lead = mark == 0 ? 0x0B : text[0];
  } else if (text[0] == 0) {
    if (StockTextLength(reinterpret_cast<const char*>(text), column) > 0)
      lead = mark == 0 ? 0x0B : ' ';
    else if (!second || SlotEndsLine(first, column))
      lead = -1;
    else
      return false;  // the text is the second slot's
  } else {
    return false;
  }
  if (lead >= 0 && gAdmit[lead]) return false;
  // The last byte of a slot that ends its line is the line end's code, not
  // text.
  if (std::memchr(text, '\n', size_t(column - 1))) return false;
  if (second && !SlotEndsLine(first, column)) {
    if (std::memchr(second + 1, '\n', size_t(column - 1))) return false;
  }
  return true;
}

// Whether a rule's pattern matches a text: the own matcher's answer where it
// gives one (`own`, may be null or empty), which is the engine's, else the
// engine's with the retry limit's bookkeeping.
bool RuleMatches(int tag, JRE2* jre, const TagMatcher* own, const char* text, int length) {
  if (!jre || jre->dwSize == 0) return false;
  RULERUN* run = tag >= TAG_FIRST_RULE && size_t(tag - TAG_FIRST_RULE) < gRules.size()
                     ? &gRules[size_t(tag - TAG_FIRST_RULE)]
                     : nullptr;
  if (run && run->off) return false;
  if (gOwnMatcher && own && own->Compiled()) {
    const int r = own->Search(text, length);
    if (r >= 0) return r == 1;
  }
  jre->nStart = 0;
  if (Jre2GetMatchInfo(jre, text, length) == 1) return true;
  if (run && jre->nError == JRE_ERROR_RETRY_LIMIT && ++run->retryFailures >= kRetryFailuresMax) {
    run->off = true;
    const TAGPROP* p = TAGMAKER::GetTagProp(tag);
    Report(jcode::SjisToUtf8(std::string(p->szName, strnlen(p->szName, sizeof p->szName))) +
           ": the pattern needs too much work on too many lines and is off for this run");
  }
  return false;
}

// The cheap test in front of the engine.  A pattern that starts with "^"
// and a literal (and has no "|" outside groups) can only match at a line
// start, the text's own or one after a line feed inside it (the caller
// knows whether it holds one), where the literal stands.
bool LiteralAtALineStart(const std::string& lit, const char* text, int length, bool hasLineFeed) {
  const char* end = text + length;
  for (const char* p = text;;) {
    if (size_t(end - p) >= lit.size() && *p == lit[0] && std::memcmp(p, lit.data(), lit.size()) == 0) return true;
    if (!hasLineFeed) return false;
    const void* lf = std::memchr(p, '\n', size_t(end - p));
    if (!lf) return false;
    p = static_cast<const char*>(lf) + 1;
  }
}

const std::string* LiteralOf(int tag) {
  if (!gPrefilter || size_t(tag - TAG_FIRST_RULE) >= gRules.size()) return nullptr;
  const std::string& lit = gRules[size_t(tag - TAG_FIRST_RULE)].literal;
  return lit.empty() ? nullptr : &lit;
}

bool MayMatch(int tag, const char* text, int length, bool hasLineFeed) {
  const std::string* lit = LiteralOf(tag);
  return !lit || LiteralAtALineStart(*lit, text, length, hasLineFeed);
}

void SetTag(CODEVRAM cv, unsigned char tag) {
  if (cv.i < 0 || size_t(cv.i) >= STOCK::aTag.size()) return;
  unsigned char& t = STOCK::aTag[size_t(cv.i)];
  if (t != TAG_CONNECT) t = tag;
}

// The first slot of the logical line after the one starting at `first`, -1
// at the newest line.
int NextLogicalLine(CODEVRAM first) {
  CODEVRAM cv = first;
  for (int k = 0; k < 10000 && !cv.IsCR() && !cv.IsNewest(); ++k) ++cv;
  if (cv.IsNewest()) return -1;
  ++cv;
  return cv.i;
}

// The slots of the logical line from `first` when a ring entry knows where
// it ends (the re-tagging walk tells), else 0.
int KnownSlots(int first) {
  for (int k = 0; k < kRing; ++k)
    if (gRingSlot[k] == first && gRingNext[k] >= 0) {
      const int n = gRingNext[k] - first;
      return n > 0 ? n : n + STOCK::cItemUsed;
    }
  return 0;
}

// Gives the first slot of a logical line `tag` and its other slots tag 1;
// returns the first slot of the next logical line (or -1 at the newest).
int TagLogicalLine(CODEVRAM first, unsigned char tag) {
  // Known slots are tagged without reading them through the cache.
  if (const int known = KnownSlots(first.i); known > 0) {
    CODEVRAM cv = first;
    SetTag(cv, tag);
    for (int k = 1; k < known; ++k) SetTag(++cv, TAG_CONTINUE);
    if (cv.IsNewest()) return -1;
    ++cv;
    return cv.i;
  }
  CODEVRAM cv = first;
  SetTag(cv, tag);
  for (int k = 0; k < 10000 && !cv.IsCR() && !cv.IsNewest(); ++k) {
    ++cv;
    SetTag(cv, TAG_CONTINUE);
  }
  if (cv.IsNewest()) return -1;
  ++cv;
  return cv.i;
}

bool IsConnectSlot(CODEVRAM cv) {
  return cv.Tag() == TAG_CONNECT || cv.Item()->cInput == STOCK_MARK_CONNECT;
}

// The first slot of the logical line before the one starting at `first`;
// -1 at the oldest line or when that line is a connect line.
int PreviousLogicalLine(CODEVRAM first) {
  if (first.IsOldest()) return -1;
  CODEVRAM cv = first;
  --cv;
  for (int k = 0; k < 10000 && !cv.IsOldest(); ++k) {
    CODEVRAM prev = cv;
    --prev;
    if (prev.IsCR()) break;
    cv = prev;
  }
  if (IsConnectSlot(cv)) return -1;
  return cv.i;
}

// The same, found through the ring when one of its entries is the line
// that ends where `at` begins (the re-tagging walk knows where its lines
// end; connect lines are never in the ring), else through the stock.
int PreviousLineOf(int at) {
  for (int k = 0; k < kRing; ++k)
    if (gRingSlot[k] >= 0 && gRingNext[k] == at) return gRingSlot[k];
  return PreviousLogicalLine(CODEVRAM(at));
}

// Whether the ring holds the line as one whose text was not built because no
// literal can start it.
bool UnbuiltDullLine(int slot) {
  for (int k = 0; k < kRing; ++k)
    if (gRingSlot[k] == slot) return !gRingBuilt[k] && gRingDull[k];
  return false;
}

// The query text of a logical line: from the ring when it holds it, else
// built from the stock into buf (room for 256 bytes).
const char* TextOf(int slot, char* buf, int* length, bool* hasLineFeed) {
  for (int k = 0; k < kRing; ++k)
    if (gRingSlot[k] == slot) {
      if (!gRingBuilt[k]) {
        gRingLength[k] = BuildQueryText(CODEVRAM(slot), TAGMAKER::aszRecentLine[k]);
        gRingLF[k] = std::memchr(TAGMAKER::aszRecentLine[k], '\n', size_t(gRingLength[k])) != nullptr;
        gRingBuilt[k] = true;
      }
      *length = gRingLength[k];
      *hasLineFeed = gRingLF[k];
      return TAGMAKER::aszRecentLine[k];
    }
  *length = BuildQueryText(CODEVRAM(slot), buf);
  *hasLineFeed = std::memchr(buf, '\n', size_t(*length)) != nullptr;
  return buf;
}

bool IsQuotation(const char* text, int length) {
  for (const std::string& q : gQuotes)
    if (!q.empty() && size_t(length) >= q.size() && text[0] == q[0] && std::memcmp(text, q.data(), q.size()) == 0)
      return true;
  return false;
}

// A rule matched on the line starting at `tagLine`; `queried` is the line
// being queried (the same line unless the pattern spans several).
void ApplyMatch(int t, CODEVRAM tagLine, CODEVRAM queried, int level) {
  ++gCandidateGeneration;
  const TAGPROP* p = TAGMAKER::GetTagProp(t);
  int next = TagLogicalLine(tagLine, static_cast<unsigned char>(t));
  // The logical lines the rule covers: those up to the queried line exist
  // already and take tag 1 now, the rest as they are queried.
  int cover = std::max(1, int(p->cCover)) - 1;
  if (tagLine.i != queried.i) {
    while (cover > 0 && next >= 0) {
      const bool last = next == queried.i;
      next = TagLogicalLine(CODEVRAM(next), TAG_CONTINUE);
      --cover;
      if (last) break;
    }
  }
  gCoverLeft = cover;
  TAGMAKER::fLastWasSpeech = afTag[t] & 1;
  auto armExit = [&] {
    if (!TAGMAKER::HaveExit(t)) return false;
    JRE2* exitJre = size_t(t - TAG_FIRST_RULE) < TAGMAKER::aJreExit.size()
                        ? &TAGMAKER::aJreExit[size_t(t - TAG_FIRST_RULE)]
                        : nullptr;
    // An exit pattern that did not compile counts as none.
    if (!exitJre || exitJre->dwSize == 0) return false;
    TAGMAKER::tagInterrupted = t;
    TAGMAKER::jreExit = exitJre;
    return true;
  };
  if (p->fVariable) {
    armExit();
    return;
  }
  for (int up = level + 1; up < 8; ++up) {
    TAGMAKER::aCandidate[up].clear();
    TAGMAKER::cCandidate[up] = 0;
  }
  if (armExit()) {
    TAGMAKER::levelCurrent = level;
    return;
  }
  const int c = TAGMAKER::GotoPrevTag(t) + 1;
  if (c < tagarray.Count() && TAGMAKER::GetTagProp(c)->level == level + 1 && level + 1 <= 7) {
    TAGMAKER::levelCurrent = level + 1;
    TagQuerySetCandidates(c);
  } else {
    TAGMAKER::levelCurrent = level;
  }
}

}  // namespace

// ---------------------------------------------------------------------------

int BuildQueryTextFromSlots(const unsigned char* first, const unsigned char* second, int column, char* out) {
  int used = AppendSlot(first, column, true, out, 0);
  if (second && !SlotEndsLine(first, column)) {
    const bool firstHadMark = first[0] < STOCK_MARK_CONNECT && first[0] < StockTextLength(
                                                                             reinterpret_cast<const char*>(first + 1), column);
    used = AppendSlot(second, column, !firstHadMark, out, used);
  }
  out[used] = 0;
  return used;
}

namespace {
// Copies the slots a logical line's query text is made of into a and b
// (room for STOCK_MAX_COLUMN + 1 bytes each); returns b, or null when the
// line ends in its first slot.
const unsigned char* CopyQuerySlots(CODEVRAM first, int column, unsigned char* a, unsigned char* b) {
  // Copies: reading the second slot may move the first out of the cache.
  std::memcpy(a, first.Item(), size_t(column) + 1);
  if (SlotEndsLine(a, column) || first.IsNewest()) return nullptr;
  CODEVRAM next = first;
  ++next;
  std::memcpy(b, next.Item(), size_t(column) + 1);
  return b;
}
}  // namespace

int BuildQueryText(CODEVRAM first, char* out) {
  const int column = std::min<int>(STOCK::cColumn, STOCK_MAX_COLUMN);
  unsigned char a[STOCK_MAX_COLUMN + 1], b[STOCK_MAX_COLUMN + 1];
  const unsigned char* second = CopyQuerySlots(first, column, a, b);
  return BuildQueryTextFromSlots(a, second, column, out);
}

int LogicalLineSlots(CODEVRAM first) {
  int n = 1;
  CODEVRAM cv = first;
  while (n < 10000 && !cv.IsCR() && !cv.IsNewest()) {
    ++cv;
    ++n;
  }
  return n;
}

std::string LeadingLiteral(const char* pattern) {
  if (pattern[0] != '^') return {};
  // A "|" outside groups and brackets lets other branches match anywhere.
  int depth = 0;
  bool bracket = false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern); *p;) {
    if (jcode::IsKanji1(*p) && p[1]) {
      p += 2;
      continue;
    }
    if (*p == '\\') {
      p += p[1] ? 2 : 1;
      continue;
    }
    if (bracket) {
      if (*p == ']') bracket = false;
    } else if (*p == '[') {
      bracket = true;
    } else if (*p == '(') {
      ++depth;
    } else if (*p == ')') {
      --depth;
    } else if (*p == '|' && depth <= 0) {
      return {};
    }
    ++p;
  }
  std::string lit;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern) + 1;
  size_t lastStart = 0;
  while (*p) {
    if (jcode::IsKanji1(*p)) {
      if (!p[1]) break;
      lastStart = lit.size();
      lit.append(reinterpret_cast<const char*>(p), 2);
      p += 2;
      continue;
    }
    if (std::strchr("\\.[](){}*+?|^$", *p) || *p < 0x20) break;
    lastStart = lit.size();
    lit += char(*p);
    ++p;
  }
  // A quantifier after the literal makes its last character optional.
  if (*p && std::strchr("*?{", *p)) lit.resize(lastStart);
  return lit;
}

void TagQuerySetPrefilter(bool on) {
  gPrefilter = on;
  ++gCandidateGeneration;
}
void TagQuerySetOwnMatcher(bool on) { gOwnMatcher = on; }

void TagQuerySetCandidates(int first) {
  const int count = tagarray.Count();
  if (first < TAG_FIRST_RULE || first >= count) return;
  const int L = TAGMAKER::GetTagProp(first)->level;
  if (L < 1 || L > 7) return;
  std::vector<TAGCANDIDATE>& list = TAGMAKER::aCandidate[L];
  ++gCandidateGeneration;
  list.clear();
  for (int t = first; t < count; ++t) {
    const TAGPROP* p = TAGMAKER::GetTagProp(t);
    if (p->level < L) break;
    if (p->level != L || !p->szLibPattern[0]) continue;
    JRE2* jre = &TAGMAKER::aJreTag[size_t(t - TAG_FIRST_RULE)];
    if (jre->dwSize == 0) continue;  // did not compile: never matches
    list.push_back({t, jre});
  }
  TAGMAKER::cCandidate[L] = int(list.size());
}

void TAGMAKER::SetJreArray(int first) { TagQuerySetCandidates(first); }

int TAGMAKER::StartQuery() {
  if (fTagQueryActive) EndQuery();
  const int count = tagarray.Count();
  if (count <= TAG_FIRST_RULE) return 0;
  ClearRing();
  FreeCandidates();
  tagInterrupted = 0;
  jreExit = nullptr;
  fLastWasSpeech = 0;
  gCoverLeft = 0;
  levelCurrent = 1;
  if (!JreUsable()) return 0;
  aJreTag.clear();
  aJreExit.clear();
  aJreTag.resize(size_t(count - TAG_FIRST_RULE));
  aJreExit.resize(size_t(count - TAG_FIRST_RULE));
  gRules.assign(size_t(count - TAG_FIRST_RULE), RULERUN{});
  for (int t = TAG_FIRST_RULE; t < count; ++t) {
    const TAGPROP* p = GetTagProp(t);
    const size_t k = size_t(t - TAG_FIRST_RULE);
    gRules[k].lines = std::clamp<int>(p->cPatternLine, 1, kMaxPatternLines);
    const std::string name = jcode::SjisToUtf8(std::string(p->szName, strnlen(p->szName, sizeof p->szName)));
    const std::string lib(p->szLibPattern, strnlen(p->szLibPattern, sizeof p->szLibPattern));
    if (!lib.empty()) {
      if (Jre2Open(&aJreTag[k]) && Jre2Compile(&aJreTag[k], lib.c_str())) {
        gRules[k].literal = LeadingLiteral(lib.c_str());
        gRules[k].own.Compile(lib.data(), int(lib.size()));
      } else {
        Report(name + ": " + jcode::SjisToUtf8(lib) + ": " + GetJreMessage(&aJreTag[k]));
        Jre2Close(&aJreTag[k]);
      }
    }
    const std::string exit(p->szExit, strnlen(p->szExit, sizeof p->szExit));
    if (!exit.empty()) {
      if (Jre2Open(&aJreExit[k]) && Jre2Compile(&aJreExit[k], exit.c_str())) {
        gRules[k].exitLiteral = LeadingLiteral(exit.c_str());
        gRules[k].ownExit.Compile(exit.data(), int(exit.size()));
      } else {
        Report(name + ": " + jcode::SjisToUtf8(exit) + ": " + GetJreMessage(&aJreExit[k]));
        Jre2Close(&aJreExit[k]);
      }
    }
  }
  gQuotes = tagQueryHooks.quotePrefixes ? tagQueryHooks.quotePrefixes() : std::vector<std::string>{};
  std::fill(std::begin(gAdmit), std::end(gAdmit), false);
  for (const RULERUN& r : gRules) {
    if (!r.literal.empty()) gAdmit[static_cast<unsigned char>(r.literal[0])] = true;
    if (!r.exitLiteral.empty()) gAdmit[static_cast<unsigned char>(r.exitLiteral[0])] = true;
  }
  for (const std::string& q : gQuotes)
    if (!q.empty()) gAdmit[static_cast<unsigned char>(q[0])] = true;
  SetJreArray(TAG_FIRST_RULE);
  iRecentLine = 0;
  fTagQueryActive = 1;
  return 1;
}

void TAGMAKER::RestartQuery() {
  FreeCandidates();
  ClearRing();
  levelCurrent = 1;
  tagInterrupted = 0;
  jreExit = nullptr;
  fLastWasSpeech = 0;
  gCoverLeft = 0;
  SetJreArray(TAG_FIRST_RULE);
  iRecentLine = 0;
}

int TAGMAKER::Query(CODEVRAM line) {
  if (!fTagQueryActive) return 0;
  const int column = std::min<int>(STOCK::cColumn, STOCK_MAX_COLUMN);
  unsigned char a[STOCK_MAX_COLUMN + 1], b[STOCK_MAX_COLUMN + 1];
  const unsigned char* second = CopyQuerySlots(line, column, a, b);
  return TagQuerySlots(line, a, second);
}

namespace {
// The dull line's pass (SlotsAreDull): 0 when no rule, exit pattern or
// quotation can take the line, -1 when the text must be built and the line
// matched in full after all.  Changes nothing.
int QueryDullLine(CODEVRAM line) {
  if (TAGMAKER::tagInterrupted) {
    const size_t k = size_t(TAGMAKER::tagInterrupted - TAG_FIRST_RULE);
    // An exit pattern without a literal may match any line.
    if (TAGMAKER::jreExit && (k >= gRules.size() || gRules[k].exitLiteral.empty())) return -1;
    // The exit pattern cannot match, so only quotations are looked for,
    // and none starts this line.
    return 0;
  }
  // What the open candidates need of a dull line, worked out once per
  // change of the candidates: a candidate without a literal needs the full
  // pass; those over several lines need a look at the lines before.
  static unsigned planGeneration = ~0u;
  static int planLevel = -1;
  static bool planFull = false;
  static std::vector<std::pair<const std::string*, int>> planMulti;
  if (planGeneration != gCandidateGeneration || planLevel != TAGMAKER::levelCurrent) {
    planGeneration = gCandidateGeneration;
    planLevel = TAGMAKER::levelCurrent;
    planFull = false;
    planMulti.clear();
    for (int L = std::min(TAGMAKER::levelCurrent, 7); L >= 1 && !planFull; --L)
      for (const TAGCANDIDATE& cand : TAGMAKER::aCandidate[L]) {
        const int t = cand.tag;
        const std::string* lit = LiteralOf(t);
        if (!lit) {
          planFull = true;
          break;
        }
        const size_t k = size_t(t - TAG_FIRST_RULE);
        const int n =
            k < gRules.size() ? gRules[k].lines : std::min<int>(TAGMAKER::GetTagProp(t)->cPatternLine, kMaxPatternLines);
        if (n >= 2) planMulti.push_back({lit, n});
      }
  }
  if (planFull) return -1;
  for (const auto& [lit, n] : planMulti) {
    // The lines before this one, as the full pass would join them: the
    // literal must start one of them for the pattern to have a chance.
    int at = line.i;
    int ring = TAGMAKER::iRecentLine;
    for (int count = 1; count < n; ++count) {
      // The ring's previous entry is the line before when it ends right
      // where this one starts (connect lines are never in the ring).
      const int before = (ring + kRing - 1) % kRing;
      if (ring >= 0 && gRingSlot[before] >= 0 && gRingNext[before] == at) {
        ring = before;
        at = gRingSlot[before];
        if (!gRingBuilt[before] && gRingDull[before]) continue;
      } else {
        ring = -1;
        at = PreviousLogicalLine(CODEVRAM(at));
        if (at < 0) break;
        if (UnbuiltDullLine(at)) continue;
      }
      static char built[256];
      int length = 0;
      bool lf = true;
      const char* text = TextOf(at, built, &length, &lf);
      if (LiteralAtALineStart(*lit, text, length, lf)) return -1;
    }
  }
  return 0;
}
}  // namespace

namespace {
// The full pass over a line's query text (steps 2 to 5 of the header's walk
// after the coverage).
int QueryText(CODEVRAM line, unsigned char mark, const char* text, int length, bool hasLineFeed) {
  using T = TAGMAKER;

  bool rules = true;
  if (T::tagInterrupted) {
    const size_t ek = size_t(T::tagInterrupted - TAG_FIRST_RULE);
    const TagMatcher* ownExit = ek < gRules.size() ? &gRules[ek].ownExit : nullptr;
    if (T::jreExit && RuleMatches(0, T::jreExit, ownExit, text, length)) {
      T::tagInterrupted = 0;
      T::jreExit = nullptr;
      T::fLastWasSpeech = 0;
    } else {
      rules = false;
    }
  }

  if (rules) {
    for (int L = std::min(T::levelCurrent, 7); L >= 1; --L) {
      // A match changes the lists; the loop ends with it.
      for (const TAGCANDIDATE& cand : T::aCandidate[L]) {
        const int t = cand.tag;
        const size_t k = size_t(t - TAG_FIRST_RULE);
        const int n = k < gRules.size() ? gRules[k].lines : std::min<int>(T::GetTagProp(t)->cPatternLine, kMaxPatternLines);
        const TagMatcher* own = k < gRules.size() ? &gRules[k].own : nullptr;
        if (n < 2) {
          if (!MayMatch(t, text, length, hasLineFeed) || !RuleMatches(t, cand.jre, own, text, length)) continue;
          ApplyMatch(t, line, line, L);
          return 1;
        }
        // The last n logical lines, never reaching a connect line.
        int lines[kMaxPatternLines] = {line.i};
        int count = 1;
        while (count < n) {
          const int prev = PreviousLineOf(lines[count - 1]);
          if (prev < 0) break;
          lines[count++] = prev;
        }
        // Each line's text, oldest first; the literal must start one of them
        // (or follow a line feed inside one) before they are joined.
        static char built[kMaxPatternLines][256];
        const char* part[kMaxPatternLines];
        int partLength[kMaxPatternLines];
        const std::string* lit = LiteralOf(t);
        if (k < gRules.size() && gRules[k].off) continue;
        // Oldest lines whose text was never built because no literal can
        // start them (and they hold no line feed) are left out while the own
        // matcher can answer: no match can begin in them, and its patterns
        // look at nothing before a match's start but the line feed "^"
        // wants, which the start of the text stands in for.
        const bool trim = lit && gOwnMatcher && own && own->Compiled();
        int skip = 0;
        bool may = lit == nullptr;
        for (int j = 0; j < count; ++j) {
          if (trim && j == skip && UnbuiltDullLine(lines[count - 1 - j])) {
            ++skip;
            continue;
          }
          bool lf = true;
          part[j] = TextOf(lines[count - 1 - j], built[j], &partLength[j], &lf);
          if (!may) may = LiteralAtALineStart(*lit, part[j], partLength[j], lf);
        }
        if (!may) continue;
        static char joined[kMaxPatternLines * 256];
        auto join = [&](int from) {
          int used = 0;
          for (int j = from; j < count; ++j) {
            if (j > from) joined[used++] = '\n';
            std::memcpy(joined + used, part[j], size_t(partLength[j]));
            used += partLength[j];
          }
          return used;
        };
        int matched = -1;
        if (skip > 0) {
          matched = own->Search(joined, join(skip));
          if (matched < 0) {
            // The engine decides, over all the lines.
            for (int j = 0; j < skip; ++j) {
              bool lf = true;
              part[j] = TextOf(lines[count - 1 - j], built[j], &partLength[j], &lf);
            }
          }
        }
        if (matched < 0) matched = RuleMatches(t, cand.jre, own, joined, join(0)) ? 1 : 0;
        if (matched != 1) continue;
        ApplyMatch(t, CODEVRAM(lines[count - 1]), line, L);
        return 1;
      }
    }
  }

  if (!T::fLastWasSpeech) return 0;
  if (mark == STOCK_MARK_NONE && IsQuotation(text, length)) {
    // Every slot of a quotation is a quotation.
    const int known = KnownSlots(line.i);
    CODEVRAM cv = line;
    SetTag(cv, TAG_QUOTE);
    if (known > 0) {
      for (int k = 1; k < known; ++k) SetTag(++cv, TAG_QUOTE);
    } else {
      for (int k = 0; k < 10000 && !cv.IsCR() && !cv.IsNewest(); ++k) {
        ++cv;
        SetTag(cv, TAG_QUOTE);
      }
    }
    return 2;
  }
  return 0;
}
}  // namespace

int TagQuerySlots(CODEVRAM line, const unsigned char* first, const unsigned char* second, int slots) {
  using T = TAGMAKER;
  if (!T::fTagQueryActive) return 0;
  const int column = std::min<int>(STOCK::cColumn, STOCK_MAX_COLUMN);
  T::iRecentLine = (T::iRecentLine + 1) % kRing;
  const int ring = T::iRecentLine;
  char* text = T::aszRecentLine[ring];
  gRingSlot[ring] = line.i;
  gRingNext[ring] = -1;
  if (slots > 0 && !line.IsNewest()) {
    int next = line.i + slots;
    while (next >= STOCK::cItemUsed) next -= STOCK::cItemUsed;
    gRingNext[ring] = next;
  }
  const bool dull = gPrefilter && SlotsAreDull(first, second, column);
  gRingDull[ring] = dull;
  gRingBuilt[ring] = false;
  gRingLength[ring] = 0;
  gRingLF[ring] = false;
  text[0] = 0;

  if (gCoverLeft > 0) {
    --gCoverLeft;
    TagLogicalLine(line, TAG_CONTINUE);
    return 0;
  }
  if (dull && QueryDullLine(line) == 0) return 0;

  const int length = BuildQueryTextFromSlots(first, second, column, text);
  gRingLength[ring] = length;
  const bool hasLineFeed = std::memchr(text, '\n', size_t(length)) != nullptr;
  gRingLF[ring] = hasLineFeed;
  gRingBuilt[ring] = true;
  return QueryText(line, first[0], text, length, hasLineFeed);
}

void TAGMAKER::EndQuery() {
  TREE::NotifyHangup();
  FreeCandidates();
  for (JRE2& j : aJreTag) Jre2Close(&j);
  for (JRE2& j : aJreExit) Jre2Close(&j);
  aJreTag.clear();
  aJreExit.clear();
  gRules.clear();
  jreExit = nullptr;
  tagInterrupted = 0;
  gCoverLeft = 0;
  fTagQueryActive = 0;
}

void TAGMAKER::ClearLowLevelTags() {
  if (!STOCK::fValid) return;
  for (CODEVRAM cv = cvOldest; !cv.IsNewest(); ++cv) {
    const unsigned char t = cv.Tag();
    if (t != TAG_NONE && t != TAG_CONNECT) STOCK::aTag[size_t(cv.i)] = TAG_NONE;
  }
}

int QueryLastCall() {
  if (!STOCK::fValid) return 0;
  const int connect = STOCK::FindNewestConnectLine();
  if (connect < 0) return 0;
  if (!TAGMAKER::fTagQueryActive) {
    if (!TAGMAKER::StartQuery()) return 0;
  } else {
    TAGMAKER::RestartQuery();
  }
  int tagged = 0;
  for (int next = NextLogicalLine(CODEVRAM(connect)); next >= 0;) {
    CODEVRAM first(next);
    const int r = TAGMAKER::Query(first);
    if (r != 0) {
      ++tagged;
      CODEVRAM t = first;
      for (int k = 0; k < 8 && t.Tag() < TAG_QUOTE && !t.IsOldest(); ++k) --t;
      TREE::Add(t, 0);
    }
    next = NextLogicalLine(first);
  }
  return tagged;
}

void InstallTagEngine() {
  TAGMAKER::onSyntaxChanged = [] { FRONTENDCACHE::Clear(); };
  CODEVRAM::speechRule = TagSpeechRule;
  STOCK::hooks.retag = [](int reason) { return TREE::RefreshTagAll(reason) != 0; };
  STOCK::hooks.openSyntax = [](const std::string& path) { return TAGMAKER::Open(path) != 0; };
  STOCK::hooks.emptySyntax = [] { TAGMAKER::Create(); };
}
