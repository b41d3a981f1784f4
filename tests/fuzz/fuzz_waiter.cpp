// Fuzzes the wait matchers: the input makes a chain of one to four plain or
// wildcard patterns with quiet times, then a byte stream that is fed to it on a
// clock moving a fixed step per byte.  Every result must name a matcher of the
// chain, and every matcher's positions must stay inside its pattern.
//
// Input layout: [count-1 & 3] [ms per byte] then per pattern [flags] [length]
// [pattern bytes...], and the rest is the stream.  flags bit 0: wildcard;
// bits 1-2: quiet time 0, 1, 40 or 3000 ms.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "terminal/waiter.h"

namespace {

TICK now;

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

void CheckChain(const WAITER* head, int count, int result) {
  if (result < 0 || result > count) std::abort();
  for (const WAITER* w = head; w; w = w->pNext) {
    if (!w->szPattern) std::abort();  // no allocation fails here
    const char* end = w->szPattern + std::strlen(w->szPattern);
    if (w->pchNext < w->szPattern || w->pchNext > end) std::abort();
    if (auto* wild = dynamic_cast<const WILDCARDWAITER*>(w)) {
      if (wild->pchSegment < wild->szPattern || wild->pchSegment > wild->pchNext) std::abort();
      if (wild->cbSegmentBytes != std::strlen(wild->szPattern) + 1) std::abort();
    }
    if (w->fSkipTrail != 0 && w->fSkipTrail != 1) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const unsigned short kQuiet[] = {0, 1, 40, 3000};
  Reader in{data, size};
  now = 0;
  WAITER::tickSource = [] { return now; };

  int count = 1 + (in.Byte() & 3);
  TICK step = in.Byte();
  std::unique_ptr<WAITER> head;
  for (int i = 0; i < count; ++i) {
    uint8_t flags = in.Byte();
    size_t len = in.Byte() % 24;
    std::string pattern;
    while (len-- && in.n) pattern += static_cast<char>(in.Byte());
    unsigned short quiet = kQuiet[(flags >> 1) & 3];
    bool wildcard = flags & 1;
    if (!head) {
      if (wildcard)
        head = std::make_unique<WILDCARDWAITER>(pattern.c_str(), quiet);
      else
        head = std::make_unique<WAITER>(pattern.c_str(), quiet);
    } else {
      head->Link(pattern.c_str(), quiet, wildcard);
    }
  }

  const uint8_t* stream = in.p;
  size_t cb = in.n;
  for (size_t i = 0; i < cb; ++i) {
    now += step;
    CheckChain(head.get(), count, head->Process(static_cast<char>(stream[i])));
  }
  // Reset each matcher in turn and feed the stream again, with idle ticks
  // between the bytes.
  for (int k = 0; k <= count; ++k) {
    head->Reset(k);
    CheckChain(head.get(), count, 0);
  }
  for (size_t i = 0; i < cb; ++i) {
    now += step;
    CheckChain(head.get(), count, head->Process(static_cast<char>(stream[i])));
    now += 1000;
    CheckChain(head.get(), count, head->Process(0));
  }
  head.reset();
  WAITER::tickSource = nullptr;
  return 0;
}
