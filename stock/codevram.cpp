#include "stock/codevram.h"

#include <climits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/jcode.h"
#include "stock/stock.h"

CODEVRAM cvOldest, cvNewest, cvThisTop, cvTreeOldest;
unsigned char CODEVRAM::afTag[256];
std::function<void(void*, unsigned char)> CODEVRAM::selectColors;
std::function<bool(const CODEVRAM&, SPEECHRULETEXT*)> CODEVRAM::speechRule;

int StockTextLength(const char* text, int column) {
  int x = column;
#if defined(__SSE2__)
  // Sixteen cells at a time from the end: the highest cell from 0x20 on
  // (unsigned) is the last flagged byte of max(cell, 0x20) == cell.  Every
  // finished line of a flood passes through here.
  const __m128i space = _mm_set1_epi8(0x20);
  for (; x >= 16; x -= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + x - 16));
    const int shown = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(w, space), w));
    if (shown != 0) {
      const int last = x - 16 + (31 - __builtin_clz(unsigned(shown)));
      return last == column - 1 && static_cast<unsigned char>(text[last]) == 0x7F ? column - 1 : last + 1;
    }
  }
#endif
  for (--x; x >= 0; --x) {
    auto c = static_cast<unsigned char>(text[x]);
    if (c >= 0x20) return x == column - 1 && c == 0x7F ? column - 1 : x + 1;
  }
  return 0;
}

int StockIsKanji2(const char* text, int x) {
  int p = 0;
  while (p < x) p += jcode::IsKanji1(static_cast<unsigned char>(text[p])) ? 2 : 1;
  return p > x ? 1 : 0;
}

CODEVRAM& CODEVRAM::operator++() {
  if (i != cvNewest) i = i + 1 >= STOCK::cItemUsed ? 0 : i + 1;
  return *this;
}

CODEVRAM CODEVRAM::operator++(int) {
  CODEVRAM old = *this;
  ++*this;
  return old;
}

CODEVRAM& CODEVRAM::operator--() {
  if (i != cvOldest) i = i == 0 ? STOCK::cItemUsed - 1 : i - 1;
  return *this;
}

CODEVRAM CODEVRAM::operator--(int) {
  CODEVRAM old = *this;
  --*this;
  return old;
}

void CODEVRAM::GoNewest() { i = cvNewest; }
int CODEVRAM::IsNewest() const { return i == cvNewest; }
int CODEVRAM::IsOldest() const { return i == cvOldest; }

void CODEVRAM::LineFeed() {
  if (i == cvNewest)
    i = STOCK::NewItem();
  else
    i = STOCK::AddIndex(i, 1);
}

STOCKITEM* CODEVRAM::Item() const { return STOCK::GetItem(i); }

int CODEVRAM::Length() const { return StockTextLength(Item()->Text(), STOCK::cColumn); }

int CODEVRAM::IsCR() const { return static_cast<unsigned char>(Item()->Text()[STOCK::cColumn - 1]) < 0x20; }

int CODEVRAM::IsKanji2(int x) const {
  if (x <= 0) return 0;
  // Past the text the walk can only have reached x from the last byte.
  if (x > STOCK::cColumn) x = STOCK::cColumn;
  return StockIsKanji2(Item()->Text(), x);
}

unsigned char CODEVRAM::Tag() const {
  if (i < 0 || size_t(i) >= STOCK::aTag.size()) return 0;
  return STOCK::aTag[size_t(i)];
}

unsigned char CODEVRAM::ColorTag() const {
  CODEVRAM cv = *this;
  while (cv.Tag() == TAG_CONTINUE) {
    if (cv.IsOldest()) return TAG_NONE;
    --cv;
  }
  return cv.Tag();
}

void CODEVRAM::Associate(void* dc) const {
  if (dc && selectColors) selectColors(dc, ColorTag());
}

int CODEVRAM::IsCommentable() const { return afTag[Tag()] & 1; }
int CODEVRAM::IsSpeech() const { return afTag[Tag()] & 1; }
int CODEVRAM::IsSpeechable() const { return (afTag[Tag()] & 3) != 0 ? 1 : 0; }

int CODEVRAM::GetSpeechInfo(SPEECHINFO* p) const {
  p->cDigit = 0;
  SPEECHRULETEXT rule;
  if (Tag() > TAG_CONNECT && speechRule && speechRule(*this, &rule)) {
    if (rule.kind == 1) {
      p->nSpeech = LeadingNumber(rule.number, &p->cDigit);
      p->nDate = rule.hasDate ? SpeechDateNumber(rule.date) : 0;
      if (rule.hasParent) {
        static const std::string kUpArrow = jcode::Utf8ToSjis("↑");
        if (rule.upArrow && rule.parent.compare(0, kUpArrow.size(), kUpArrow) == 0)
          p->nParent = p->nSpeech - 1;
        else
          p->nParent = LeadingNumber(rule.parent);
        return 1;
      }
    } else {
      p->nSpeech = -1;
      p->nDate = 0;
    }
    p->nParent = -1;
    return 1;
  }
  p->nSpeech = -1;
  return 0;
}

int32_t LeadingNumber(const std::string& text, int32_t* digits) {
  int32_t count = 0;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    ++count;
    value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
  }
  if (digits) *digits = count;
  return count == 0 ? -1 : static_cast<int32_t>(value);
}

int32_t SpeechDateNumber(const std::string& text) {
  int64_t value = 0;
  int groups = 0;
  bool inDigits = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (!inDigits) ++groups;
      inDigits = true;
      value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
      continue;
    }
    inDigits = false;
    if (c == '/' || c == ':') continue;
    if (c == ' ' && groups < 3) {
      value = std::min<int64_t>(value * 10, INT32_MAX);
      continue;
    }
    break;
  }
  return static_cast<int32_t>(value);
}
