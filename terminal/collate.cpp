#include "terminal/collate.h"

#include <utility>
#include <vector>

#include "platform/jcode.h"
#include "stock/stock.h"

std::string COLLATE::szTyping;
std::string COLLATE::szCompleted;
bool COLLATE::fTypingTooLong = false;

void COLLATE::Typed(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c == '\r') {
    if (!fTypingTooLong) szCompleted = szTyping;
    szTyping.clear();
    fTypingTooLong = false;
    return;
  }
  if (c == '\b') {
    if (szTyping.empty()) return;
    // Remove the last whole character: a trail byte goes with its lead byte.
    const char* begin = szTyping.data();
    const char* last = begin + szTyping.size() - 1;
    size_t cut = szTyping.size() - 1;
    if (cut > 0 && jcode::IsKanji2String(begin, last)) --cut;
    szTyping.resize(cut);
    return;
  }
  if (c < 0x20) return;
  if (szTyping.size() >= kTypedMax) {
    fTypingTooLong = true;
    return;
  }
  szTyping += static_cast<char>(c);
}

void COLLATE::Typed(const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) Typed(s[i]);
}

void COLLATE::Collate(CODEVRAM first, int lines) {
  if (szCompleted.empty() || lines <= 0) {
    szCompleted.clear();
    return;
  }
  const std::string typed = std::move(szCompleted);
  szCompleted.clear();
  // The logical line's text, and for every byte the stored line and column
  // it came from.  A 0x7F left in the last cell by a moved double-byte
  // character is not text.
  std::string text;
  std::vector<std::pair<int, int>> where;
  CODEVRAM cv = first;
  for (int k = 0; k < lines; ++k) {
    const char* t = cv.Item()->Text();
    int n = k + 1 < lines ? STOCK::cColumn : cv.Length();
    if (k + 1 < lines && static_cast<unsigned char>(t[n - 1]) == 0x7F) --n;
    for (int x = 0; x < n; ++x) {
      text += t[x] ? t[x] : ' ';
      where.emplace_back(k, x);
    }
    ++cv;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() < typed.size() || text.compare(text.size() - typed.size(), typed.size(), typed) != 0) return;
  const size_t start = text.size() - typed.size();
  // The echo cannot begin on the second byte of a double-byte character.
  if (start > 0 && jcode::IsKanji2String(text.data(), text.data() + start)) return;
  const auto [line, column] = where[start];
  STOCKITEM* item = STOCK::GetItem(STOCK::AddIndex(first, line));
  if (item->cInput == STOCK_MARK_CONNECT || column >= STOCK_MARK_CONNECT) return;
  item->cInput = static_cast<unsigned char>(column);
}

void COLLATE::ResetForTest() {
  szTyping.clear();
  szCompleted.clear();
  fTypingTooLong = false;
}
