// Fuzzes building the overall tree over random tags and marks under the demo
// syntax.
//
// Input: one byte of settings (style, days, calls), then two bytes per line:
// a kind byte (0xF0 and up: a connect line whose date comes from the second
// byte, sometimes impossible; else an ordinary line) and a tag byte (taken
// modulo the rule count plus two, so tags beyond the rule list occur too).
//
// Each input builds the tree twice: node by node as the lines arrive (Add,
// NotifyNewLine, NotifyHangup) and from the finished stock (Initialize, then
// every older call moved in).  Both must have the same shape, every connect
// line must be exactly one call, every item's extent must lie inside its
// parent's, and siblings must follow each other in line order.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/fuzz_support.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tagtemplate.h"
#include "stock/tagtext.h"
#include "stock/tree.h"
#include "stock/tree_model.h"

#ifndef QUILLNET_DEMO_TAG_TEXT
#error "QUILLNET_DEMO_TAG_TEXT names the demo syntax's text form"
#endif

namespace {

constexpr int kColumns = 40;

void Check(bool ok, const char* what) { fuzzsupport::Check("fuzz_tree", ok, what); }

// The shape of a tree: kind, line and depth of every node in order.
void Shape(const TREENODE* n, int depth, std::vector<long long>* out) {
  if (n->kind == TREENODE::CALL && !n->built) TREE::InitChildItems(const_cast<TREENODE*>(n));
  out->push_back((long long)(n->kind) << 48 | (long long)(depth) << 40 | (long long)(n->line + 1));
  for (const auto& c : n->children) Shape(c.get(), depth + 1, out);
}

// Extents nest and siblings are in line order; counts the calls.
void Nesting(const TREENODE* n, int first, int last, int* calls) {
  int previous = -1;
  for (const auto& c : n->children) {
    if (c->kind == TREENODE::PAST) continue;
    const int f = STOCK::Flat(c->line);
    const int bottomOf = c->kind == TREENODE::GROUP ? c->children.back()->line : c->line;
    const int l = STOCK::Flat(TREE::GetTagBottom(bottomOf));
    Check(f <= l, "an extent ends before it begins");
    Check(f >= first && l <= last, "an extent reaches out of its parent's");
    Check(f > previous, "siblings out of line order");
    previous = f;
    if (c->kind == TREENODE::CALL) {
      Check(CODEVRAM(c->line).Tag() == TAG_CONNECT, "a call that is no connect line");
      ++*calls;
    }
    Nesting(c.get(), c->kind == TREENODE::GROUP ? f : f + 1, l, calls);
  }
}

std::string DemoSyntaxFile() { return fuzzsupport::CompiledSyntaxFile("fuzz_tree", QUILLNET_DEMO_TAG_TEXT); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  static std::string dir = fuzzsupport::ScratchDir("tree");
  static bool ready = false;
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size < 1 || size > 1201) return 0;
  if (!ready) {
    const std::string tagPath = dir + "/t.tag";
    std::ofstream(tagPath, std::ios::binary) << DemoSyntaxFile();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    Check(TAGMAKER::Open(tagPath) == 1, "the demo syntax does not load");
    STOCK::ResetForTest();
    Check(STOCK::Create(dir + "/t.stk", 1000, kColumns, 0, 0, 0) && STOCK::EnableWrite(1, 0), "cannot make the stock");
    ready = true;
  }
  STOCK::Clear();
  TREE::TreeStyle = data[0] % 3;
  TREE::TreeDay = 1 + (data[0] >> 2) % 8;
  TREE::TreeConnect = 1 + (data[0] >> 5);
  const int rules = tagarray.Count();

  // As the lines arrive.
  TREE::Initialize(2);
  for (size_t at = 1; at + 1 < size; at += 2) {
    const unsigned char kind = data[at], b = data[at + 1];
    CODEVRAM cv = cvNewest;
    STOCKITEM* item = STOCK::GetItem(cv);
    if (kind >= 0xF0) {
      char text[48];
      // Months 1-14 and days 1-32: some dates are impossible and count as none.
      std::snprintf(text, sizeof text, "Host - 20%02d/%02d/%02d %02d:00", 20 + (kind & 7), 1 + b % 14, 1 + (b >> 3),
                    b % 24);
      std::string(text).copy(item->Text(), std::string(text).size());
      item->cInput = STOCK_MARK_CONNECT;
      STOCK::SetConnectTag(cv);
    } else {
      std::string text = "L" + std::to_string(at);
      text.copy(item->Text(), text.size());
      item->cInput = STOCK_MARK_NONE;
      int tag = b % (rules + 2);
      if (tag == TAG_CONNECT) tag = 0;
      STOCK::aTag[size_t(cv.i)] = uint8_t(tag);
    }
    const CODEVRAM line = cv;
    cv.LineFeed();
    TREE::Add(line, 0);
    TREE::NotifyNewLine();
  }
  TREE::NotifyHangup();
  std::vector<long long> live, built;
  Check(TREE::hitemPast == nullptr, "a past item while adding");
  Shape(TREE::hitemRoot, 0, &live);

  // From the finished stock.
  TREE::Initialize(2);
  int shownCalls = 0;
  Nesting(TREE::hitemRoot, 0, STOCK::Flat(cvNewest), &shownCalls);
  TREE::ExpandPastAll();
  Check(TREE::hitemPast == nullptr && cvTreeOldest.i == cvOldest.i, "older calls left over");
  Shape(TREE::hitemRoot, 0, &built);
  int calls = 0;
  Nesting(TREE::hitemRoot, 0, STOCK::Flat(cvNewest), &calls);
  int connects = 0;
  for (CODEVRAM cv = cvOldest;; ++cv) {
    if (cv.Tag() == TAG_CONNECT) ++connects;
    if (cv.IsNewest()) break;
  }
  Check(calls == connects, "not every connect line is one call");
  Check(shownCalls <= calls && (connects == 0 || shownCalls >= std::min(connects, 1)), "the window shows no call");
  Check(live == built, "the tree added on line differs from the one built");
  (void)TREE::Text(true);
  return 0;
}
