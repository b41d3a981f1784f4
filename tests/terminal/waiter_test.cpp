// The wait matchers: plain and wildcard patterns, Shift_JIS trail bytes, quiet
// times on a fake clock, chains, resets, allocation failures, and random
// streams checked against a straightforward reference.
#include "terminal/waiter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fdline.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/helpers.h"

namespace {

// Installs a clock the test moves by hand, and a recording message facade.
class WaiterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    now = 1'000'000;  // arbitrary; nothing may treat any tick value as special
    WAITER::tickSource = [this] { return now; };
  }
  void TearDown() override { WAITER::tickSource = nullptr; }

  TICK now = 0;
  ui::ScopedRecordingFacade facade;
};

// Feeds the bytes one at a time; returns each call's result.
std::vector<int> Feed(WAITER& w, std::string_view bytes) {
  std::vector<int> r;
  for (char c : bytes) r.push_back(w.Process(c));
  return r;
}

// Index of the first byte with a non-zero result and that result; {-1, 0} when none.
std::pair<int, int> FirstReport(WAITER& w, std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if (int r = w.Process(bytes[i])) return {static_cast<int>(i), r};
  return {-1, 0};
}

std::unique_ptr<WAITER> Make(const char* pattern, bool wildcard, TICK msQuiet = 0) {
  if (wildcard) return std::make_unique<WILDCARDWAITER>(pattern, msQuiet);
  return std::make_unique<WAITER>(pattern, msQuiet);
}

// --- single patterns without quiet time ----------------------------------------

struct MatchCase {
  const char* name;
  const char* pattern;
  bool wildcard;
  std::string stream;
  int at;  // index of the byte that completes the pattern, -1 for none
};

const MatchCase kMatchCases[] = {
    // The fallback after a mismatch keeps the longest surviving part.
    {"fallback keeps aa", "aab", false, "aaab", 3},
    {"fallback over a border", "abab", false, "abaabab", 6},
    {"plain match", "NO CARRIER", false, "\r\nNO CARRIER\r\n", 11},
    {"no match", "login:", false, "logon:", -1},
    // A lead byte takes the next byte with it: 'a' is its trail, 'b' alone is no match.
    {"lead byte hides the a", "ab", false, "\x82\x61\x62", -1},
    {"match after the skipped trail", "ab", false, "\x82\x61\x61\x62", 3},
    // A lead byte that breaks a partial match also takes its trail.
    {"lead byte after a partial match", "ab", false, "a\x82\x61\x62", -1},
    // The matched part ends on a lead byte, so the mismatching byte is its trail
    // and is not a lead byte of its own: the next byte is matched normally.
    {"trail byte in lead range", "\x88\x9f" "A", false, "\x88\x95\x88\x9f" "A", 4},
    {"double-byte pattern", "\x83\x65\x83\x58", false, "xx\x83\x65\x83\x58", 5},
    {"empty pattern never matches", "", false, "abc", -1},

    {"star between segments", "con*ted", true, "connected", 8},
    {"question mark", "a?c", true, "abc", 2},
    {"question mark takes a lead byte alone", "a?c", true, "a\x82" "c", 2},
    {"question mark takes one byte only", "a?c", true, "a\x82\x82" "c", -1},
    // The second 0x82 above is the trail of the first: the 'a' after it is a
    // real 'a' and starts a match.
    {"trail taken by ? is no lead", "a?c", true, "a\x82\x82" "abc", 5},
    {"segment fallback", "x*aab", true, "xaaab", 4},
    {"segment fallback with ?", "x*a?b", true, "xaacb", 4},
    {"star at the end", "ab*", true, "zab", 2},
    {"leading star is a byte", "*ab", true, "xab", -1},
    {"leading star matched literally", "*ab", true, "x*ab", 3},
    {"second star is a byte", "a**b", true, "axb", -1},
    {"second star matched literally", "a**b", true, "ax*b", 3},
    {"segments in order", "a*b*c", true, "cba", -1},
    {"segments across noise", "a*b*c", true, "xxaxxbxxc", 8},
    {"lead byte skipped in a segment", "x*ab", true, "x\x82" "ab", -1},
    {"empty wildcard never matches", "", true, "abc", -1},
};

void PrintTo(const MatchCase& c, std::ostream* os) { *os << c.name; }

class MatchTable : public WaiterTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchTable, ReportsAtTheCompletingByte) {
  const MatchCase& tc = GetParam();
  auto w = Make(tc.pattern, tc.wildcard);
  auto [at, r] = FirstReport(*w, tc.stream);
  EXPECT_EQ(at, tc.at);
  if (tc.at >= 0) {
    EXPECT_EQ(r, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Waiter, MatchTable, ::testing::ValuesIn(kMatchCases), [](const auto& info) {
  std::string n = info.param.name;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

TEST_F(WaiterTest, PlainAndWildcardMatchAgainAfterAReport) {
  for (bool wildcard : {false, true}) {
    auto w = Make(wildcard ? "o?" : "ok", wildcard);
    EXPECT_EQ(Feed(*w, "okok.ok"), (std::vector<int>{0, 1, 0, 1, 0, 0, 1})) << wildcard;
  }
}

TEST_F(WaiterTest, IdleTicksChangeNothingWithoutQuietTime) {
  for (bool wildcard : {false, true}) {
    auto w = Make("abc", wildcard);
    EXPECT_EQ(Feed(*w, std::string("a\0b\0\0c", 6)), (std::vector<int>{0, 0, 0, 0, 0, 1})) << wildcard;
  }
}

TEST_F(WaiterTest, WildcardComparesWithQuestionMarks) {
  struct {
    const char* segment;
    const char* bytes;
    size_t n;
    int fits;
  } cases[] = {
      {"abc", "abc", 3, 1}, {"abc", "abd", 3, 0}, {"a?c", "axc", 3, 1}, {"a?c", "axd", 3, 0},
      {"???", "\x82\x82\x82", 3, 1}, {"abc", "abX", 2, 1}, {"x", "y", 0, 1},
  };
  for (auto& c : cases)
    EXPECT_EQ(WILDCARDWAITER::WildcardComp(c.segment, c.bytes, c.n), c.fits) << c.segment << " " << c.bytes;
}

// --- quiet times -----------------------------------------------------------------

TEST_F(WaiterTest, QuietTimeBrokenByTextThenReportedAfterSilence) {
  for (bool wildcard : {false, true}) {
    SCOPED_TRACE(wildcard);
    auto w = Make("OK", wildcard, 1000);
    EXPECT_EQ(Feed(*w, "OK"), (std::vector<int>{0, 0}));
    now += 500;
    EXPECT_EQ(w->Process('x'), 0);  // more text within the second
    now += 5000;
    EXPECT_EQ(w->Process(0), 0);    // the silence was broken: nothing pending
    EXPECT_EQ(Feed(*w, "OK"), (std::vector<int>{0, 0}));
    now += 999;
    EXPECT_EQ(w->Process(0), 0);
    now += 1;
    EXPECT_EQ(w->Process(0), 1);    // one second of silence, reported on an idle tick
    now += 10000;
    EXPECT_EQ(w->Process(0), 0);    // reported once, not on every later call
    EXPECT_EQ(Feed(*w, "OK"), (std::vector<int>{0, 0}));
    now += 1000;
    EXPECT_EQ(w->Process(0), 1);    // and ready to match again
  }
}

TEST_F(WaiterTest, QuietTimesPastSixteenBitsAreKeptWhole) {
  // Two minutes, a day and a POSTIDLE of the largest 32-bit second count:
  // none may be cut to 65,535 ms or wrap.
  const TICK cases[] = {65536, 120000, 86400000, TICK(2147483647) * 1000};
  for (bool wildcard : {false, true}) {
    for (TICK quiet : cases) {
      SCOPED_TRACE(std::to_string(quiet) + (wildcard ? " wildcard" : ""));
      auto w = Make("OK", wildcard, quiet);
      EXPECT_EQ(w->msQuiet, quiet);
      Feed(*w, "OK");
      now += 65535;
      EXPECT_EQ(w->Process(0), 0);
      now += quiet - 65535 - 1;
      EXPECT_EQ(w->Process(0), 0);  // one millisecond short
      now += 1;
      EXPECT_EQ(w->Process(0), 1);
      auto silence = Make("", wildcard, quiet);
      now += quiet - 1;
      EXPECT_EQ(silence->Process(0), 0);
      now += 1;
      EXPECT_EQ(silence->Process(0), 1);
    }
  }
}

TEST_F(WaiterTest, QuietDueIsTheEarliestPendingReportOfTheChain) {
  WAITER w("ab", 5000);
  w.Link("cd", 2000, 0);
  w.Link("", 90000, 1);  // silence alone: due from the start, restarted by every byte
  TICK due = 0;
  const TICK t0 = now;
  ASSERT_TRUE(w.QuietDue(due));
  EXPECT_EQ(due, t0 + 90000);
  now += 100;
  Feed(w, "ab");  // the silence restarts at each byte; "ab" waits 5 s from here
  ASSERT_TRUE(w.QuietDue(due));
  EXPECT_EQ(due, now + 5000);
  now += 1000;
  Feed(w, "cd");  // "cd" is due sooner; "ab" was broken by these bytes
  ASSERT_TRUE(w.QuietDue(due));
  EXPECT_EQ(due, now + 2000);
  now += 2000;
  EXPECT_EQ(w.Process(0), 2);
  ASSERT_TRUE(w.QuietDue(due));
  EXPECT_EQ(due, now - 2000 + 90000);  // only the silence is left
  WAITER plain("ab", 0);
  EXPECT_FALSE(plain.QuietDue(due));
}

TEST_F(WaiterTest, ByteBreakingTheSilenceIsMatchedFromTheStart) {
  for (bool wildcard : {false, true}) {
    SCOPED_TRACE(wildcard);
    // "aa" then one more 'a': the third 'a' begins a new match, it does not
    // keep the old one alive.
    auto w = Make("aa", wildcard, 100);
    Feed(*w, "aaa");
    now += 1000;
    EXPECT_EQ(w->Process(0), 0);
    EXPECT_EQ(w->Process('a'), 0);  // completes "aa" with the earlier 'a'
    now += 100;
    EXPECT_EQ(w->Process(0), 1);
  }
}

TEST_F(WaiterTest, EmptyPatternWaitsForSilenceOnly) {
  WAITER w("", 3000);
  now += 2999;
  EXPECT_EQ(w.Process(0), 0);
  now += 1;
  EXPECT_EQ(w.Process(0), 1);  // three seconds without a byte
  now += 2999;
  EXPECT_EQ(w.Process(0), 0);  // the silence restarted at the report
  now += 1;
  EXPECT_EQ(w.Process(0), 1);
  for (int i = 0; i < 5; ++i) {  // every byte restarts the three seconds
    now += 2000;
    EXPECT_EQ(w.Process('z'), 0);
  }
  now += 2999;
  EXPECT_EQ(w.Process(0), 0);
  now += 1;
  EXPECT_EQ(w.Process(0), 1);
}

TEST_F(WaiterTest, ByteAfterTheSilenceIsConsumedByTheReport) {
  WAITER w("OK", 1000);
  w.Link("X");
  Feed(w, "OK");
  now += 1000;
  EXPECT_EQ(w.Process('X'), 1);  // the head reports; the 'X' goes no further
  EXPECT_EQ(w.Process('X'), 2);
}

TEST_F(WaiterTest, LeadByteConsumedByTheReportTakesItsTrail) {
  WAITER w("ab", 100);
  Feed(w, "ab");
  now += 100;
  EXPECT_EQ(w.Process('\x82'), 1);
  // 'a' is the trail byte of 0x82 and cannot begin "ab".
  Feed(w, "ab");
  now += 1000;
  EXPECT_EQ(w.Process(0), 0);
}

TEST_F(WaiterTest, WildcardStartsOverAtThePatternStartAfterAQuietReport) {
  WILDCARDWAITER w("a*c", 1000);
  Feed(w, "abc");
  now += 1000;
  EXPECT_EQ(w.Process(0), 1);
  // The whole pattern, from its first byte, matches again at once.
  Feed(w, "abc");
  now += 1000;
  EXPECT_EQ(w.Process(0), 1);
  // Had the matcher stayed in the last segment, this 'c' would complete it.
  EXPECT_EQ(w.Process('c'), 0);
  now += 5000;
  EXPECT_EQ(w.Process(0), 0);
  // Same after a byte breaks the silence: a 'c' does not complete anything,
  // an 'a' begins the pattern anew.
  Feed(w, "abc");
  now += 10;
  EXPECT_EQ(w.Process('c'), 0);
  now += 5000;
  EXPECT_EQ(w.Process(0), 0);
  Feed(w, "abc");
  now += 10;
  Feed(w, "abc");
  now += 1000;
  EXPECT_EQ(w.Process(0), 1);
}

TEST_F(WaiterTest, QuietPatternPassesTheCompletingByteOn) {
  // While the head waits for silence, the byte that completed it still
  // reaches the rest of the chain.
  WAITER w("K", 1000);
  w.Link("OK");
  EXPECT_EQ(Feed(w, "OK"), (std::vector<int>{0, 2}));
}

// --- chains ------------------------------------------------------------------------

TEST_F(WaiterTest, ChainReportsTheFirstMatcherThatCompletes) {
  struct {
    const char* stream;
    int at, result;
  } cases[] = {
      {"xB00", 3, 2},
      {"x\r\nB00", 2, 1},  // the line feed completes the head first
  };
  for (auto& c : cases) {
    WAITER w("\r\n", 0);
    w.Link("B00");
    EXPECT_EQ(FirstReport(w, c.stream), std::make_pair(c.at, c.result)) << c.stream;
  }
}

TEST_F(WaiterTest, ChainOfSeveralPatterns) {
  WAITER w("abc", 0);
  w.Link("bc");
  w.Link("c*f", 0, 1);
  w.Link("c");
  EXPECT_EQ(FirstReport(w, "abc"), std::make_pair(2, 1));  // the head wins the shared 'c'
  EXPECT_EQ(FirstReport(w, "xbc"), std::make_pair(2, 2));
  // The 'c' completes the wildcard's first segment only, so it goes on to the last matcher.
  EXPECT_EQ(FirstReport(w, "zc"), std::make_pair(1, 4));
  EXPECT_EQ(FirstReport(w, "f"), std::make_pair(0, 3));
  EXPECT_EQ(FirstReport(w, "xyz"), std::make_pair(-1, 0));
}

TEST_F(WaiterTest, MatchersBehindTheReportDoNotSeeTheByte) {
  WAITER w("ab", 0);
  w.Link("bb");
  // The first 'b' goes to the head's report only, so "bb" completes one byte later.
  EXPECT_EQ(Feed(w, "abbb"), (std::vector<int>{0, 1, 0, 2}));
}

TEST_F(WaiterTest, ResetTouchesOnlyTheNthMatcher) {
  // Three matchers each one byte short of completion; Reset(n) must undo
  // exactly the n-th.  Beyond the end of the chain it does nothing.
  const char* patterns[] = {"abc", "abd", "a*e"};
  const char last[] = {'c', 'd', 'e'};
  for (int n = 0; n <= 3; ++n) {
    for (int j = 0; j < 3; ++j) {
      WAITER w(patterns[0], 0);
      w.Link(patterns[1]);
      w.Link(patterns[2], 0, 1);
      Feed(w, "ab");
      w.Reset(n);
      EXPECT_EQ(w.Process(last[j]), j == n ? 0 : j + 1) << "Reset(" << n << ") then " << last[j];
    }
  }
}

TEST_F(WaiterTest, ResetClearsTheTrailSkipAndRestartsSilence) {
  WAITER w("ab", 0);
  w.Process('\x82');
  w.Reset(0);
  EXPECT_EQ(Feed(w, "ab"), (std::vector<int>{0, 1}));

  WAITER quiet("", 3000);
  now += 2000;
  quiet.Reset(0);
  now += 1000;
  EXPECT_EQ(quiet.Process(0), 0);
  now += 2000;
  EXPECT_EQ(quiet.Process(0), 1);

  WILDCARDWAITER wild("a*c", 0);
  Feed(wild, "ab");
  wild.Reset(0);
  EXPECT_EQ(Feed(wild, "abc"), (std::vector<int>{0, 0, 1}));

  WAITER timing("ab", 1000);
  Feed(timing, "ab");
  timing.Reset(0);
  now += 5000;
  EXPECT_EQ(timing.Process(0), 0);
}

// --- allocation failures ---------------------------------------------------------

class AllocFailure : public WaiterTest {
 protected:
  void SetUp() override {
    WaiterTest::SetUp();
    saved = WAITER::pfnAllocBytes;
    failAfter = 0;
    WAITER::pfnAllocBytes = [](size_t n) -> char* {
      if (failAfter-- <= 0) return nullptr;
      return new char[n];
    };
  }
  void TearDown() override {
    WAITER::pfnAllocBytes = saved;
    WaiterTest::TearDown();
  }
  static inline int failAfter = 0;  // allocations that still succeed
  char* (*saved)(size_t) = nullptr;
};

TEST_F(AllocFailure, PatternCopyShowsTheMessageAndNeverMatches) {
  for (bool wildcard : {false, true}) {
    for (int succeed : {0, 1}) {  // the pattern copy fails, or (wildcard) the segment buffer
      if (!wildcard && succeed) continue;
      facade.rec.boxes.clear();
      failAfter = succeed;
      auto w = Make("ab", wildcard, 0);
      auto quiet = Make("", wildcard, 10);
      ASSERT_EQ(facade.rec.boxes.size(), 2u);
      EXPECT_EQ(facade.rec.boxes[0].text, GetStringResource(IDS_NOT_ENOUGH_MEMORY));
      EXPECT_EQ(facade.rec.boxes[0].text, "メモリ不足のため処理を続行できません。");
      EXPECT_EQ(Feed(*w, "abab"), (std::vector<int>{0, 0, 0, 0}));
      now += 100;
      EXPECT_EQ(quiet->Process(0), 0);
      w->Reset(0);
      EXPECT_EQ(w->Process('b'), 0);
    }
  }
}

TEST_F(AllocFailure, LinkKeepsTheNumbersOfLaterMatchers) {
  failAfter = 1;
  WAITER w("x", 0);  // takes the one allocation that succeeds
  w.Link("ab");      // its pattern copy fails
  failAfter = 100;
  w.Link("cd", 0, 1);
  EXPECT_EQ(FirstReport(w, "abcd"), std::make_pair(3, 3));
}

// --- random streams against a reference ------------------------------------------

// Whether `s` contains the segments of `pattern` one after another, each at its
// earliest end, with the last one ending exactly at the end of s.  Plain
// patterns are one literal segment; wildcard patterns split at "*" and "?"
// stands for any byte.  Patterns here never start with "*" nor hold "**".
bool CompletesAtEnd(const std::string& pattern, bool wildcard, const std::string& s) {
  std::vector<std::string> segments;
  if (!wildcard) {
    segments.push_back(pattern);
  } else {
    size_t from = 0;
    for (size_t star; (star = pattern.find('*', from)) != std::string::npos; from = star + 1)
      segments.push_back(pattern.substr(from, star - from));
    segments.push_back(pattern.substr(from));
  }
  auto fits = [&](const std::string& seg, size_t at) {
    for (size_t i = 0; i < seg.size(); ++i)
      if (!(wildcard && seg[i] == '?') && seg[i] != s[at + i]) return false;
    return true;
  };
  size_t pos = 0;
  for (const std::string& seg : segments) {
    size_t end = pos + seg.size();
    while (end <= s.size() && !fits(seg, end - seg.size())) ++end;
    if (end > s.size()) return false;
    pos = end;
  }
  return pos == s.size();
}

std::string RandomPattern(std::mt19937& rng, bool wildcard) {
  const char* alphabet = wildcard ? "ab?*" : "ab";
  size_t n = 1 + rng() % 6;
  std::string p;
  while (p.size() < n) {
    char c = alphabet[rng() % std::strlen(alphabet)];
    if (c == '*' && (p.empty() || p.back() == '*')) continue;
    p += c;
  }
  return p;
}

TEST_F(WaiterTest, RandomAsciiStreamsMatchTheReference) {
  // Without lead bytes the matchers report exactly where the bytes received
  // since the last report first complete the pattern: the fallback after a
  // mismatch recomputes the longest matched prefix, as a string-search
  // automaton would.  Occurrences overlapping a reported one are not
  // reported, because a report starts over at the pattern's beginning.
  std::mt19937 rng(20240611);
  for (int round = 0; round < 3000; ++round) {
    bool wildcard = round & 1;
    std::string pattern = RandomPattern(rng, wildcard);
    auto w = Make(pattern.c_str(), wildcard);
    std::string since;
    for (int i = 0; i < 60; ++i) {
      char c = "abc"[rng() % 3];
      since += c;
      bool expect = CompletesAtEnd(pattern, wildcard, since);
      ASSERT_EQ(w->Process(c), expect ? 1 : 0)
          << (wildcard ? "wildcard " : "plain ") << pattern << " after \"" << since << "\"";
      if (expect) since.clear();
    }
  }
}

TEST_F(WaiterTest, LiteralWildcardPatternBehavesAsPlainOverShiftJis) {
  // A wildcard pattern without "?" and "*" is one literal segment: over any
  // bytes, lead bytes included, it must agree with the plain matcher byte for
  // byte, quiet times and trail skipping included.
  std::mt19937 rng(77);
  const char alphabet[] = {'a', 'b', '\x82', '\x88', '\x9f', '\0'};
  for (int round = 0; round < 2000; ++round) {
    std::string pattern;
    for (size_t n = 1 + rng() % 5; pattern.size() < n;) pattern += alphabet[rng() % 5];
    unsigned short quiet = (round % 3 == 0) ? 20 : 0;
    WAITER plain(pattern.c_str(), quiet);
    WILDCARDWAITER wild(pattern.c_str(), quiet);
    for (int i = 0; i < 80; ++i) {
      char c = alphabet[rng() % 6];
      now += rng() % 15;
      ASSERT_EQ(wild.Process(c), plain.Process(c)) << "round " << round << " byte " << i;
    }
  }
}

// --- polling the port -------------------------------------------------------------

// The chain's Process() against the real port: a pipe carries the host's
// bytes into COMPORT through its reader thread.
class WaiterOnPort : public WaiterTest {
 protected:
  void SetUp() override {
    WaiterTest::SetUp();
    COMPORT::ResetForTest();
    ASSERT_EQ(pipe(toPort), 0);
    ASSERT_EQ(pipe(fromPort), 0);
    ASSERT_EQ(COMPORT::Start(std::make_unique<FDLINE>(toPort[0], fromPort[1])), 1);
    WAITER::refreshStatus = [this] { ++refreshes; };
  }
  void TearDown() override {
    WAITER::refreshStatus = nullptr;
    COMPORT::ResetForTest();  // closes the line and with it toPort[0], fromPort[1]
    close(toPort[1]);
    close(fromPort[0]);
    WaiterTest::TearDown();
  }
  void HostSends(std::string_view s) { ASSERT_EQ(write(toPort[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  // Polls the chain until it reports, waiting for the reader between polls;
  // gives up (returning 0) after about ten seconds.
  int PollUntilReport(WAITER& w) {
    for (int i = 0; i < 1000; ++i) {
      if (int r = w.Process()) return r;
      COMPORT::WaitReceive(10);
    }
    return 0;
  }
  // Everything left in the receive queue once `n` bytes are there (or ten seconds passed).
  std::string TakeQueued(size_t n) {
    std::string s;
    for (int i = 0; i < 1000 && s.size() < n; ++i) {
      while (COMPORT::IsReceived()) s += static_cast<char>(COMPORT::Get());
      if (s.size() < n && COMPORT::WaitReceive(10)) COMPORT::DoReceive();
    }
    return s;
  }

  int toPort[2] = {-1, -1}, fromPort[2] = {-1, -1};
  int refreshes = 0;
};

TEST_F(WaiterOnPort, ReportsTheFirstMatchAndLeavesTheRestQueued) {
  WAITER w("login:", 0);
  w.Link("password:");
  HostSends("Welcome to the host  login: guest");
  EXPECT_EQ(PollUntilReport(w), 1);
  EXPECT_GT(refreshes, 0);
  EXPECT_EQ(TakeQueued(6), " guest");

  HostSends("password: ");
  EXPECT_EQ(PollUntilReport(w), 2);
  EXPECT_EQ(TakeQueued(1), " ");
}

TEST_F(WaiterOnPort, NothingReceivedFeedsAnIdleTick) {
  WAITER w("OK", 0);
  w.Link("", 3000, 0);
  EXPECT_EQ(w.Process(), 0);
  now += 3000;
  // The pipe is empty, so only the idle tick can let the silence report.
  EXPECT_EQ(w.Process(), 2);
  EXPECT_EQ(refreshes, 2);
}

}  // namespace
