// CODEVRAM: the line cursor with which every part walks the stock.
//
// A cursor is nothing but a slot index into the stock's ring, copied by value;
// every operation consults the stock's global state (cvOldest, cvNewest,
// STOCK::cItemUsed, STOCK::aTag, STOCK::cColumn).
//
// A stored line is one slot: a mark byte and cColumn text bytes.  Its last
// text byte says how the line ends:
//   below 0x20   the line was ended by a line feed (the CR flag)
//   0x7F         the line continues on the next slot, its last cell empty
//                (a double-byte character did not fit there)
//   other        the line was filled to the width and continues
// A logical line is a run of slots of which only the last has the CR flag.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct STOCKITEM;

// Message number information of one line (GetSpeechInfo).
struct SPEECHINFO {
  int32_t nSpeech = -1;  // message number, -1 when the line carries none
  int32_t nParent = -1;  // number of the message this one comments on, -1 when none
  int32_t nDate = 0;     // date digits as one decimal number (971012), 0 when none
  int32_t cDigit = 0;    // digits of the message number in the text
};

// What the colour syntax knows about a line's message rule, handed to
// GetSpeechInfo by the syntax module (which is not part of the stock).
struct SPEECHRULETEXT {
  int kind = 0;             // 1 numbered messages, other values: no numbers
  std::string number;       // text the number pattern extracted
  bool hasDate = false;
  std::string date;         // text the date pattern extracted
  bool hasParent = false;
  std::string parent;       // text the parent pattern extracted
  bool upArrow = false;     // "↑" in the parent means the message just before
};

class CODEVRAM {
 public:
  int32_t i = 0;  // slot index

  CODEVRAM() = default;
  constexpr CODEVRAM(int32_t slot) : i(slot) {}  // NOLINT: a cursor is its slot
  operator int32_t() const { return i; }

  CODEVRAM& operator++();    // next line; stays at the newest; wraps cItemUsed-1 -> 0
  CODEVRAM operator++(int);
  CODEVRAM& operator--();    // previous line; stays at the oldest; wraps 0 -> cItemUsed-1
  CODEVRAM operator--(int);

  void GoNewest();
  int IsNewest() const;
  int IsOldest() const;
  // At the newest line: append a line and move to it; elsewhere: next line.
  void LineFeed();

  STOCKITEM* Item() const;  // STOCK::GetItem(i)
  int Length() const;
  int IsCR() const;
  int IsKanji2(int x) const;
  unsigned char Tag() const;
  // The tag whose colours this line is drawn in: continuation tags (1) are
  // followed back to the line they continue; a run reaching the oldest line
  // counts as 0.
  unsigned char ColorTag() const;
  // Selects the line's colours into a drawing context through the colour hook.
  void Associate(void* dc) const;
  int GetSpeechInfo(SPEECHINFO* p) const;
  int IsCommentable() const;
  int IsSpeech() const;
  int IsSpeechable() const;

  // Per-tag flags filled when a colour syntax is loaded: bit 0 messages that
  // can be commented on, bit 1 a place where a message can be written.
  static unsigned char afTag[256];

  // Hooks to the parts that draw and that know the syntax rules.  Until the
  // colour syntax is built they do nothing: Associate selects nothing and no
  // tag has a message rule.
  static std::function<void(void* dc, unsigned char colorTag)> selectColors;
  static std::function<bool(const CODEVRAM& line, SPEECHRULETEXT* rule)> speechRule;
};

// Global cursors of the stock: oldest and newest line, first line of the
// current call (-1 once overwritten), first line shown in the tree.
extern CODEVRAM cvOldest, cvNewest, cvThisTop, cvTreeOldest;

// Text-length rules of one slot's text bytes (cColumn of them).
int StockTextLength(const char* text, int column);
// Shift_JIS walk: whether position x is the trail byte of a pair.
int StockIsKanji2(const char* text, int x);

// The leading decimal number of a text, saturating at INT32_MAX; -1 when the
// text does not start with a digit.  *digits gets the count of digits.
int32_t LeadingNumber(const std::string& text, int32_t* digits = nullptr);
// The date number of a message date text: "97/10/12 23:45" gives 971012.
// Saturates at INT32_MAX.
int32_t SpeechDateNumber(const std::string& text);
