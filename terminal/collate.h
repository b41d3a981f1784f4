// COLLATE: recognises the host's echo of what the user typed.
//
// The keyboard's send path reports every byte the user types (Typed).  A CR
// typed by the user completes a typed line.  When the screen next finishes a
// logical line with a CR, Collate compares: if the logical line, without
// trailing blanks, ends with the completed typed line, the echo begins where
// that text begins, and the column of that place is written into the mark
// byte of the stored line it lies on (the stock's "column where the user's
// echoed input begins").  Either way the typed line is then used up, so an
// echo is looked for on exactly one line: the first one the host ends after
// the user's CR.
//
// A BS typed removes the last typed character (a double-byte character
// whole); other control bytes are not text.  A typed line longer than
// kTypedMax bytes is never matched.  The connect line's mark is never changed.
// User-interface thread only.
#pragma once

#include <string>

#include "stock/codevram.h"

class COLLATE {
 public:
  static constexpr size_t kTypedMax = 255;

  static void Typed(char c);
  static void Typed(const char* s, size_t n);
  // A logical line of `lines` stored lines from `first` was ended by a CR.
  static void Collate(CODEVRAM first, int lines);
  // Whether a typed line waits for its echo (Collate has work to do).
  static bool Waiting() { return !szCompleted.empty(); }
  static void ResetForTest();

  static std::string szTyping;    // the line being typed
  static std::string szCompleted;  // the last typed line, waiting for its echo
  static bool fTypingTooLong;
};
