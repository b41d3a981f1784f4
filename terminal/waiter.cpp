#include "terminal/waiter.h"

#include <cstring>
#include <new>

#include "platform/jcode.h"
#include "port/comport.h"
#include "shell/helpers.h"

std::function<TICK()> WAITER::tickSource;
std::function<void()> WAITER::refreshStatus;
char* (*WAITER::pfnAllocBytes)(std::size_t n) = [](std::size_t n) -> char* { return new (std::nothrow) char[n]; };

namespace {

bool IsLead(char c) { return jcode::IsKanji1(static_cast<unsigned char>(c)); }

}  // namespace

TICK WAITER::Now() { return tickSource ? tickSource() : GetTick(); }

WAITER::WAITER(const char* pattern, TICK msQuiet)
    : szPattern(nullptr), pchNext(nullptr), pNext(nullptr), msQuiet(msQuiet), timeMatched(0), fTiming(0),
      fSkipTrail(0) {
  if (!pattern) pattern = "";
  std::size_t cb = std::strlen(pattern) + 1;
  szPattern = pfnAllocBytes(cb);
  if (!szPattern) {
    ErrorMessage(IDS_NOT_ENOUGH_MEMORY);
    return;
  }
  std::memcpy(szPattern, pattern, cb);
  StartOver(Now());
}

WAITER::~WAITER() {
  delete[] szPattern;
  // Unlink the rest of the chain first so that a long chain is freed in a
  // loop rather than by one destructor call per link on the stack.
  WAITER* p = pNext;
  pNext = nullptr;
  while (p) {
    WAITER* next = p->pNext;
    p->pNext = nullptr;
    delete p;
    p = next;
  }
}

void WAITER::StartOver(TICK now) {
  fTiming = 0;
  pchNext = szPattern;
  if (szPattern && !*szPattern && msQuiet > 0) {
    // Silence alone is awaited: it starts now.
    fTiming = 1;
    timeMatched = now;
  }
}

WAITER::Quiet WAITER::QuietWait(char c) {
  TICK now = Now();
  // A clock that steps back (only a test's can) counts as no time passed.
  if (now >= timeMatched && now - timeMatched >= msQuiet) {
    StartOver(now);
    // The report consumes this byte; if it is a lead byte, its trail byte
    // must not start a new match.
    if (c && *szPattern && IsLead(c)) fSkipTrail = 1;
    return Quiet::Reported;
  }
  if (c == 0) return Quiet::PassOn;
  if (*szPattern) {
    fTiming = 0;
    pchNext = szPattern;
    return Quiet::Rematch;
  }
  timeMatched = now;  // empty pattern: a byte restarts the silence
  return Quiet::PassOn;
}

bool WAITER::QuietDue(TICK& due) const {
  bool any = false;
  for (const WAITER* w = this; w; w = w->pNext) {
    if (!w->szPattern || !w->fTiming) continue;
    const TICK d = w->timeMatched + w->msQuiet;
    if (!any || d < due) due = d;
    any = true;
  }
  return any;
}

int WAITER::NextLinkProcess(char c) {
  if (!pNext) return 0;
  int r = pNext->Process(c);
  return r > 0 ? r + 1 : 0;
}

int WAITER::Process(char c) {
  if (!szPattern) return NextLinkProcess(c);
  if (fTiming) {
    switch (QuietWait(c)) {
      case Quiet::Reported: return 1;
      case Quiet::PassOn: return NextLinkProcess(c);
      case Quiet::Rematch: break;
    }
  }
  if (c == 0) return NextLinkProcess(0);
  if (fSkipTrail) {
    fSkipTrail = 0;
    return NextLinkProcess(c);
  }

  // pchNext stands inside the pattern here: a completed pattern either
  // reported (and went back to the start) or is in the quiet wait.  For an
  // empty pattern *pchNext is the terminator, which no byte equals.
  if (c == *pchNext) {
    ++pchNext;
    if (!*pchNext) {
      if (msQuiet > 0) {
        fTiming = 1;
        timeMatched = Now();
      } else {
        pchNext = szPattern;
        return 1;
      }
    }
    return NextLinkProcess(c);
  }

  // Mismatch after k matched bytes (szPattern[0..k-1]).
  std::size_t k = static_cast<std::size_t>(pchNext - szPattern);
  if (k == 0) {
    if (IsLead(c)) fSkipTrail = 1;
    return NextLinkProcess(c);
  }
  // The longest len < k whose last len matched bytes are the pattern's first
  // len bytes and whose next pattern byte is c: then len + 1 bytes stand
  // matched.  len + 1 <= k, so this never completes the pattern.
  for (std::size_t len = k; len-- > 0;) {
    if (szPattern[len] == c && std::memcmp(szPattern + (k - len), szPattern, len) == 0) {
      pchNext = szPattern + len + 1;
      return NextLinkProcess(c);
    }
  }
  // Nothing survives.  If c is a lead byte (and not itself the trail of a
  // double-byte character the matched part ended in), skip its trail.
  if (!jcode::IsKanji2String(szPattern, pchNext) && IsLead(c)) fSkipTrail = 1;
  pchNext = szPattern;
  return NextLinkProcess(c);
}

int WAITER::Process() {
  COMPORT::DoReceive();
  if (refreshStatus) refreshStatus();
  if (!COMPORT::IsReceived()) return Process('\0');
  // Stop at the first result: the bytes after it stay in the queue for
  // whoever reads the port next.
  while (COMPORT::IsReceived())
    if (int r = Process(static_cast<char>(COMPORT::Get()))) return r;
  return 0;
}

void WAITER::Reset(int n) {
  if (n > 0) {
    if (pNext) pNext->Reset(n - 1);
    return;
  }
  StartOver(Now());
  fSkipTrail = 0;
}

void WAITER::Link(const char* pattern, TICK ms, int fWildcard) {
  WAITER* last = this;
  while (last->pNext) last = last->pNext;
  WAITER* w = fWildcard ? static_cast<WAITER*>(new (std::nothrow) WILDCARDWAITER(pattern, ms))
                        : new (std::nothrow) WAITER(pattern, ms);
  last->pNext = w;  // stays null when the matcher could not be allocated
}

// --- WILDCARDWAITER ----------------------------------------------------------

WILDCARDWAITER::WILDCARDWAITER(const char* pattern, TICK msQuiet)
    : WAITER(pattern, msQuiet), szSegmentBytes(nullptr), pchSegment(nullptr), cbSegmentBytes(0) {
  if (!szPattern) return;  // the base already said so
  std::size_t cb = std::strlen(szPattern) + 1;
  szSegmentBytes = pfnAllocBytes(cb);
  if (!szSegmentBytes) {
    ErrorMessage(IDS_NOT_ENOUGH_MEMORY);
    // Without its buffer the matcher cannot work: make it one that never matches.
    delete[] szPattern;
    szPattern = pchNext = nullptr;
    fTiming = 0;
    return;
  }
  std::memset(szSegmentBytes, 0, cb);
  cbSegmentBytes = cb;
  pchSegment = szPattern;
}

WILDCARDWAITER::~WILDCARDWAITER() { delete[] szSegmentBytes; }

int WILDCARDWAITER::WildcardComp(const char* segment, const char* bytes, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (segment[i] != '?' && segment[i] != bytes[i]) return 0;
  return 1;
}

int WILDCARDWAITER::Process(char c) {
  if (!szPattern) return NextLinkProcess(c);
  if (fTiming) {
    switch (QuietWait(c)) {
      case Quiet::Reported: pchSegment = szPattern; return 1;
      case Quiet::PassOn: return NextLinkProcess(c);
      case Quiet::Rematch: pchSegment = szPattern; break;
    }
  }
  if (c == 0) return NextLinkProcess(0);
  if (fSkipTrail) {
    fSkipTrail = 0;
    return NextLinkProcess(c);
  }

  // Bytes of this segment matched so far.  The segment buffer has room for
  // the whole pattern plus one, and k + 1 never exceeds the pattern's
  // length; should that ever fail, start over rather than write past it.
  std::size_t k = static_cast<std::size_t>(pchNext - pchSegment);
  if (k >= cbSegmentBytes) {
    pchNext = pchSegment = szPattern;
    return NextLinkProcess(c);
  }

  if (*pchNext == c || *pchNext == '?') {  // never true on the terminator: c != 0
    szSegmentBytes[k] = c;
    ++pchNext;
    if (*pchNext == '*') {
      // A star reached after a matched byte ends the segment; what matched
      // stays matched.
      ++pchNext;
      pchSegment = pchNext;
    }
    if (!*pchNext) {
      if (msQuiet > 0) {
        fTiming = 1;
        timeMatched = Now();
      } else {
        pchNext = pchSegment = szPattern;
        return 1;
      }
    }
    return NextLinkProcess(c);
  }

  if (k == 0) {
    if (IsLead(c)) fSkipTrail = 1;
    return NextLinkProcess(c);
  }
  // Mismatch: the segment's received bytes are now szSegmentBytes[0..k].
  // Keep the longest tail of them (c included) that fits the start of the
  // segment.
  szSegmentBytes[k] = c;
  for (std::size_t n = k; n >= 1; --n) {
    const char* tail = szSegmentBytes + (k + 1 - n);
    if (WildcardComp(pchSegment, tail, n)) {
      std::memmove(szSegmentBytes, tail, n);
      pchNext = pchSegment + n;
      return NextLinkProcess(c);
    }
  }
  // Nothing fits.  Whether c is a trail byte is read from the bytes actually
  // received: where a "?" took a lead byte, the pattern alone cannot tell.
  if (!jcode::IsKanji2String(szSegmentBytes, szSegmentBytes + k) && IsLead(c)) fSkipTrail = 1;
  pchNext = pchSegment;
  return NextLinkProcess(c);
}

void WILDCARDWAITER::Reset(int n) {
  WAITER::Reset(n);
  if (n == 0 && szPattern) pchSegment = szPattern;
}
