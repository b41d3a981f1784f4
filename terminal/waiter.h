// WAITER and WILDCARDWAITER: chained matchers over the received byte stream.
//
// A matcher is fed one byte at a time and watches for its pattern, optionally
// followed by a stretch of silence (msQuiet milliseconds without a byte).
// Matchers form a chain through pNext; the head's Process returns 0 while
// nothing matched, else k + 1 where k is the position (0 = head) of the first
// matcher from the head that completed on this byte.  Matchers behind the one
// that reports do not see that byte.
//
// Matching is byte-wise and Shift_JIS aware: after a mismatch a pattern never
// starts over on the second byte of a double-byte character (fSkipTrail).
//
// Life of one matcher:
//
//     matching --(pattern complete, msQuiet == 0)--> report 1, matching again
//        |  ^
//        |  +---(a byte breaks the silence: the byte is matched anew)---+
//        v                                                             |
//     quiet wait (fTiming) --(msQuiet ms pass, on the next call)--> report 1,
//                                                    matching again from the start
//
// An empty pattern with msQuiet > 0 is always in the quiet wait: it reports
// after msQuiet ms without bytes, every byte restarts the wait, and after a
// report the wait starts again from that moment.  An empty pattern with
// msQuiet == 0 never matches.
//
// The wildcard matcher understands "?" (any one byte) and "*" (any run of
// bytes, none included).  The stars cut the pattern into segments matched one
// after another; a segment once matched is not given back.  A star counts as
// a star only when the match position reaches it after a matched byte, so a
// star at the very start of the pattern, or the second of two stars, is an
// ordinary byte.
//
// Nothing is allocated while matching; the fallback after a mismatch scans at
// most the matched part of the pattern.  User-interface thread only.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/tick.h"

class WAITER {
 public:
  // Copies pattern (null counts as empty).  When the copy cannot be allocated
  // the error message is shown and the matcher never matches.
  WAITER(const char* pattern, TICK msQuiet);
  virtual ~WAITER();
  WAITER(const WAITER&) = delete;
  WAITER& operator=(const WAITER&) = delete;

  // Feeds one byte to this matcher and, unless it reports, to the rest of the
  // chain.  c == 0 is an idle tick (nothing received).  0: no match; k + 1:
  // the k-th matcher of the chain from here matched.
  virtual int Process(char c);
  // Resets the n-th matcher of the chain from here (0 = this one) to the
  // state it had when it was made.
  virtual void Reset(int n);

  // Called on the chain's head: lets the port take in data, then feeds the
  // received bytes one at a time until one gives a result other than 0 (the
  // bytes after it stay in the port's queue).  With nothing received, feeds
  // an idle tick.
  int Process();

  // Appends a new matcher at the end of the chain.  Nothing is appended when
  // the matcher itself cannot be allocated.  A matcher whose pattern copy
  // failed is appended all the same (it never matches), so that the matchers
  // after it keep their numbers in the chain's results.
  void Link(const char* pattern, TICK msQuiet, int fWildcard);
  void Link(const char* pattern) { Link(pattern, 0, 0); }

  // Feeds c to the successor: its result + 1 when it reports, else 0.
  int NextLinkProcess(char c);

  // The earliest moment at which a matcher of the chain from here, now in
  // its quiet wait, reports on an idle tick; false when none is waiting.
  bool QuietDue(TICK& due) const;

  char* szPattern;          // owned copy of the pattern; null only after an allocation failure
  char* pchNext;            // next pattern byte to match
  WAITER* pNext;            // owned successor in the chain, or null
  TICK msQuiet;             // silence required after the pattern in ms, 0 = none
  TICK timeMatched;         // while fTiming: when the pattern completed (or the silence began)
  int fTiming;              // the quiet wait is running
  int fSkipTrail;           // the next byte is a trail byte and is passed over

  // Clock of the quiet waits; tests install a fake one.  Empty: GetTick.
  static std::function<TICK()> tickSource;
  // Called by Process() after the port took in data, to refresh the status line.
  static std::function<void()> refreshStatus;
  // Allocator of the pattern and segment buffers (new (nothrow) char[n]);
  // tests install one that fails.
  static char* (*pfnAllocBytes)(std::size_t n);

 protected:
  static TICK Now();
  // Back to matching from the pattern start; an empty pattern with a quiet
  // time starts its silence at `now`.
  void StartOver(TICK now);
  // The quiet-wait step shared by both kinds, while fTiming is set.
  enum class Quiet { Reported, PassOn, Rematch };
  // Reported: the silence lasted msQuiet, the matcher started over and the
  // byte (if any) is consumed.  PassOn: a tick during the wait, or a byte on an
  // empty pattern (the silence restarts); give c to the successor.  Rematch: a
  // byte broke the silence after a pattern; match it anew from the start.
  Quiet QuietWait(char c);
};

class WILDCARDWAITER : public WAITER {
 public:
  WILDCARDWAITER(const char* pattern, TICK msQuiet);
  ~WILDCARDWAITER() override;

  int Process(char c) override;
  void Reset(int n) override;
  using WAITER::Process;

  // Whether the n received bytes at `bytes` fit the first n bytes of the
  // pattern segment at `segment`, where "?" fits any byte.  1 or 0.
  static int WildcardComp(const char* segment, const char* bytes, std::size_t n);

  char* szSegmentBytes;  // owned: strlen(pattern) + 1 bytes received for the current segment
  char* pchSegment;      // start of the segment being matched (after the last consumed "*")
  std::size_t cbSegmentBytes;  // size of szSegmentBytes
};
