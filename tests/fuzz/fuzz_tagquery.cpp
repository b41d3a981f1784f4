// Fuzzes the matcher: random lines and input marks through StartQuery,
// Query, RestartQuery and EndQuery, under the demo syntax or a syntax file
// carried in the input.
//
// Input: one byte of flags, then (flag bit 0) a 2-byte little-endian length
// and that many bytes of a syntax file, then the lines, split at 0x0A.  Each
// line's first byte picks its mark: 0xFE or 0xFD a connect line, below 0x80
// an input column (taken modulo the width), else none; the rest is its text
// (Shift_JIS bytes, wrapped over 40-column slots).
//
// Each input is matched three ways: as a call arrives (each logical line
// queried when its line feed is written and its last slot has no tag, as
// the screen does, later lines not there yet), by a
// walk over the finished stock, and by the same walk with the literal test
// in front of the engine switched off.  The three must give the same tags,
// every connect line keeps tag 3, and no tag names a rule that does not
// exist.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/jre.h"
#include "driver/fuzz_support.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tagtext.h"

#ifndef QUILLNET_DEMO_TAG_TEXT
#error "QUILLNET_DEMO_TAG_TEXT names the demo syntax's text form"
#endif

namespace {

constexpr int kColumns = 40;
constexpr int kStockLines = 1000;
// Slots an input may fill: fewer than the stock holds, so no line is
// dropped while the input is written.
constexpr int kMaxSlots = 600;

void Check(bool ok, const char* what) { fuzzsupport::Check("fuzz_tagquery", ok, what); }

struct INPUTLINE {
  unsigned char mark;
  std::string text;
};

std::string DemoSyntaxFile() { return fuzzsupport::CompiledSyntaxFile("fuzz_tagquery", QUILLNET_DEMO_TAG_TEXT); }

// Writes one logical line at the newest slot as the screen does: a slot
// that fills up wraps into the next one (so a line of exactly the width ends
// with an empty slot), and the line feed ends it.  A filled slot's last cell
// must not read as a line end, so a control byte there becomes a blank.
// Returns the line's first and last slots.
std::pair<CODEVRAM, CODEVRAM> Append(const INPUTLINE& l) {
  const CODEVRAM first = cvNewest;
  CODEVRAM last = first;
  for (size_t at = 0;; at += kColumns) {
    CODEVRAM cv = cvNewest;
    last = cv;
    STOCKITEM* item = STOCK::GetItem(cv);
    const size_t n = std::min(l.text.size() - at, size_t(kColumns));
    std::memcpy(item->Text(), l.text.data() + at, n);
    if (n == size_t(kColumns) && static_cast<unsigned char>(item->Text()[kColumns - 1]) < 0x20)
      item->Text()[kColumns - 1] = ' ';
    item->cInput = at == 0 ? l.mark : static_cast<unsigned char>(STOCK_MARK_NONE);
    if (at == 0 && l.mark == STOCK_MARK_CONNECT) STOCK::SetConnectTag(cv);
    cv.LineFeed();
    if (n < size_t(kColumns)) break;
  }
  return {first, last};
}

bool IsConnect(CODEVRAM cv) { return cv.Item()->cInput == STOCK_MARK_CONNECT; }

// Every slot's tag, oldest first.
std::vector<unsigned char> AllTags() {
  std::vector<unsigned char> tags;
  for (CODEVRAM cv = cvOldest; !cv.IsNewest(); ++cv) tags.push_back(cv.Tag());
  return tags;
}

// The first slot of the logical line after the one starting at `first`, or
// the newest slot.
CODEVRAM NextLine(CODEVRAM first) {
  CODEVRAM cv = first;
  while (!cv.IsCR() && !cv.IsNewest()) ++cv;
  if (!cv.IsNewest()) ++cv;
  return cv;
}

// A walk over the whole stock as re-tagging makes it: connect lines start or
// restart the run, other lines lose their tags and are queried.
void WalkStock() {
  bool started = false;
  for (CODEVRAM cv = cvOldest; !cv.IsNewest(); cv = NextLine(cv)) {
    if (IsConnect(cv)) {
      if (!started) {
        started = TAGMAKER::StartQuery() != 0;
        if (!started) break;
      } else {
        TAGMAKER::RestartQuery();
      }
      continue;
    }
    const CODEVRAM next = NextLine(cv);
    for (CODEVRAM s = cv; s.i != next.i && !s.IsNewest(); ++s)
      if (s.Tag() != TAG_CONNECT) STOCK::aTag[size_t(s.i)] = TAG_NONE;
    if (started) TAGMAKER::Query(cv);
  }
  if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  // In memory where the machine has it: the stock is written on every input.
  static std::string dir = fuzzsupport::ScratchDir("tagquery");
  static const std::string demo = DemoSyntaxFile();
  static bool stockReady = false;
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size < 1 || size > 8192) return 0;

  // Two lines' worth of the retry limit is plenty for 254-byte texts and
  // keeps runaway patterns from slowing the fuzzing down.
  JreSetRetryLimit(5000);
  tagQueryHooks = TAGQUERYHOOKS{};
  tagQueryHooks.quotePrefixes = [] { return std::vector<std::string>{">", jcode::Utf8ToSjis("＞")}; };
  tagQueryHooks.report = [](const std::string&) {};

  size_t at = 1;
  std::string syntax = demo;
  if (data[0] & 1) {
    if (size < 3) return 0;
    const size_t n = size_t(data[1]) | size_t(data[2]) << 8;
    at = 3 + n;
    if (at > size) return 0;
    syntax.assign(reinterpret_cast<const char*>(data) + 3, n);
  }
  std::vector<INPUTLINE> lines;
  int slots = 0;
  while (at <= size && slots < kMaxSlots) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data + at, '\n', size - at));
    const size_t stop = end ? size_t(end - data) : size;
    INPUTLINE l{STOCK_MARK_NONE, {}};
    if (stop > at) {
      const unsigned char m = data[at];
      if (m == 0xFE || m == 0xFD)
        l.mark = STOCK_MARK_CONNECT;
      else if (m < 0x80)
        l.mark = static_cast<unsigned char>(m % kColumns);
      l.text.assign(reinterpret_cast<const char*>(data) + at + 1, stop - at - 1);
    }
    slots += 1 + int(l.text.size()) / kColumns;
    lines.push_back(std::move(l));
    if (!end) break;
    at = stop + 1;
  }

  const std::string tagPath = dir + "/q.tag";
  {
    FILE* f = std::fopen(tagPath.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(syntax.data(), 1, syntax.size(), f);
    std::fclose(f);
  }
  TAGMAKER::ResetForTest();
  InstallTagEngine();
  if (!TAGMAKER::Open(tagPath)) {
    TAGMAKER::ResetForTest();
    return 0;
  }
  if (!stockReady) {
    STOCK::ResetForTest();
    Check(STOCK::Create(dir + "/q.stk", kStockLines, kColumns, 0, 0, 0) && STOCK::EnableWrite(1, 0),
          "cannot make the stock");
    stockReady = true;
  }
  STOCK::Clear();
  const int rules = tagarray.Count();

  // As the call arrives: a connect line starts (or restarts) the run, every
  // other line is queried when its line feed has been written.
  TagQuerySetPrefilter(true);
  bool started = false;
  for (const INPUTLINE& l : lines) {
    const auto [first, last] = Append(l);
    if (l.mark == STOCK_MARK_CONNECT) {
      if (!started) {
        started = TAGMAKER::StartQuery() != 0;
      } else {
        TAGMAKER::RestartQuery();
      }
      continue;
    }
    // The screen asks only about a line whose last slot has no tag yet.
    if (started && last.Tag() == TAG_NONE) {
      const int r = TAGMAKER::Query(first);
      Check(r >= 0 && r <= 2, "Query gave a result outside 0-2");
    }
  }
  if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
  const std::vector<unsigned char> online = AllTags();

  WalkStock();
  const std::vector<unsigned char> walked = AllTags();
  TagQuerySetPrefilter(false);
  WalkStock();
  const std::vector<unsigned char> unfiltered = AllTags();
  TagQuerySetPrefilter(true);

  Check(walked == unfiltered, "the literal test changed a tag");
  Check(online == walked, "matching as lines arrive and walking the stock gave different tags");
  size_t k = 0;
  for (CODEVRAM cv = cvOldest; !cv.IsNewest(); ++cv, ++k) {
    if (IsConnect(cv)) Check(walked[k] == TAG_CONNECT, "a connect line lost tag 3");
    Check(walked[k] == TAG_CONNECT ? IsConnect(cv) : walked[k] < rules || walked[k] <= TAG_QUOTE,
          "a tag names no rule, or a line that is no connect line has tag 3");
  }
  TAGMAKER::ResetForTest();
  JreSetRetryLimit(0);
  return 0;
}
