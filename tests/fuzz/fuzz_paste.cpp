// Fuzzes pasting clipboard contents into a stock under the demo syntax.
//
// Input: a flag byte (bit 0: the info format is there), a length byte n,
// n info bytes, then the clipboard's text (bytes taken as UTF-8, so invalid
// sequences occur too).
//
// The stock holds two dated calls before each paste, so a copied call with a
// date between them moves.  After the paste the pasted call, copied back,
// must give exactly the lines that went in (control bytes as blanks,
// characters Shift_JIS cannot hold as "〓"), one info byte per line with
// 0xFE at connect lines, the cursor line must be empty and newest, and the
// tree must hold every connect line once.  A paste that does not fit is
// refused and leaves the stock as it was.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "stock/clipboard.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tagtext.h"
#include "stock/tree.h"
#include "stock/tree_model.h"

#ifndef QUILLNET_DEMO_TAG_TEXT
#error "QUILLNET_DEMO_TAG_TEXT names the demo syntax's text form"
#endif

namespace {

constexpr int kColumns = 40;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_paste: %s\n", what);
    std::abort();
  }
}

std::string DemoSyntaxFile() {
  std::ifstream in(QUILLNET_DEMO_TAG_TEXT, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TAGFILEDATA file;
  std::string error;
  Check(CompileTagText(text, &file, &error), "the demo syntax does not compile");
  return WriteTagFile(file);
}

void Append(const std::string& text, bool connect) {
  CODEVRAM cv = cvNewest;
  STOCKITEM* item = STOCK::GetItem(cv);
  text.copy(item->Text(), text.size());
  item->cInput = connect ? STOCK_MARK_CONNECT : STOCK_MARK_NONE;
  if (connect) STOCK::SetConnectTag(cv);
  cv.LineFeed();
}

std::string Export() {
  std::string out;
  for (CODEVRAM cv = cvOldest;; ++cv) {
    out.append(reinterpret_cast<const char*>(cv.Item()), size_t(STOCK::sizeSTOCKITEM));
    out.push_back(char(cv.Tag()));
    if (cv.IsNewest()) break;
  }
  return out;
}

int CountCalls(const TREENODE* n) {
  if (n->kind == TREENODE::CALL && !n->built) TREE::InitChildItems(const_cast<TREENODE*>(n));
  int calls = n->kind == TREENODE::CALL ? 1 : 0;
  for (const auto& c : n->children) calls += CountCalls(c.get());
  return calls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  static std::string dir = [] {
    char shm[] = "/dev/shm/quillnet-fuzz-paste-XXXXXX";
    char tmp[] = "/tmp/quillnet-fuzz-paste-XXXXXX";
    const char* d = mkdtemp(shm);
    if (!d) d = mkdtemp(tmp);
    Check(d != nullptr, "cannot make a temporary directory");
    return std::string(d);
  }();
  static bool ready = false;
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size < 2 || size > 4096) return 0;
  if (!ready) {
    const std::string tagPath = dir + "/t.tag";
    std::ofstream(tagPath, std::ios::binary) << DemoSyntaxFile();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    STOCK::ResetForTest();
    Check(STOCK::Create(dir + "/t.stk", 1000, kColumns, 0, 0, 0) && STOCK::EnableWrite(1, 0), "cannot make the stock");
    Check(TAGMAKER::Open(tagPath) == 1, "the demo syntax does not load");
    STOCK::hooks.now = [] {
      SYSTEMTIME st;
      st.wYear = 2026, st.wMonth = 4, st.wDay = 5, st.wHour = 12, st.wMinute = 0;
      return st;
    };
    ready = true;
  }
  STOCK::Delete(cvOldest, STOCK::UsedItems());
  Append("Host - 2026/04/01 10:00", true);
  Append("first", false);
  Append("Host - 2026/04/03 10:00", true);
  Append("second", false);
  TREE::TreeStyle = data[0] >> 1 & 3 ? 1 : 0;
  TREE::Initialize(2);

  const size_t n = std::min<size_t>(data[1], size - 2);
  STOCKCLIP clip;
  clip.hasInfo = data[0] & 1;
  if (clip.hasInfo) clip.info.assign(reinterpret_cast<const char*>(data + 2), n);
  const std::string utf8(reinterpret_cast<const char*>(data + 2 + n), size - 2 - n);
  clip.sjis = clipboard::Utf8ToSjisMarked(utf8);
  const std::vector<clipboard::PLAINLINE> lines = clipboard::SplitLines(clip.sjis);
  const bool ownCall = clip.hasInfo && !clip.info.empty() && (unsigned char)clip.info[0] == STOCK_MARK_CONNECT;
  int need = 1;  // the cursor line
  for (const auto& l : lines) need += clipboard::SlotsOfLine(l.text, kColumns);
  const std::string pasteCall = clipboard::Utf8ToSjisMarked("(貼り付け) - 2026/04/05 12:00");
  if (!ownCall) need += clipboard::SlotsOfLine(pasteCall, kColumns);

  const std::string before = Export();
  const int ok = TREE::PasteClip(clip);
  if (lines.empty() || need + 1 > STOCK::cItemMaxMax) {
    Check(ok == 0, "a paste that cannot be held was taken");
    Check(Export() == before, "a refused paste changed the stock");
    return 0;
  }
  Check(ok == 1, "the paste failed");
  CODEVRAM cursor = cvNewest;
  Check(cursor.Length() == 0 && cursor.Tag() == TAG_NONE, "the cursor line is not empty");
  Check(TREE::hitemSelected && CODEVRAM(TREE::hitemSelected->line).Tag() == TAG_CONNECT,
        "the pasted call is not selected");

  // The pasted lines copied back.
  std::string expected = ownCall ? "" : pasteCall + "\n";
  for (const auto& l : lines) expected += l.text + "\n";
  const int call = TREE::hitemSelected->line;
  const int slotsOfCall = need - 1;  // without the cursor line
  const STOCKCLIP back = clipboard::CopyLines(call, STOCK::AddIndex(call, slotsOfCall - 1), 0, -1, "");
  Check(back.sjis == expected, "the pasted text does not copy back");
  const size_t count = lines.size() + (ownCall ? 0 : 1);
  Check(back.info.size() == count, "not one info byte per line");
  Check((unsigned char)back.info[0] == STOCK_MARK_CONNECT, "the call's line is no connect line");
  for (size_t k = 1; k < count; ++k) {
    const size_t at = k - (ownCall ? 0 : 1);
    const unsigned char given = at < clip.info.size() ? (unsigned char)clip.info[at] : 0xFF;
    const unsigned char got = (unsigned char)back.info[k];
    if (given == STOCK_MARK_CONNECT)
      Check(got == STOCK_MARK_CONNECT, "a 0xFE line is no connect line");
    else
      Check(got == given || got == STOCK_MARK_NONE, "an input column that was not given");
  }

  int connects = 0;
  for (CODEVRAM cv = cvOldest;; ++cv) {
    if (cv.Tag() == TAG_CONNECT) ++connects;
    if (cv.IsNewest()) break;
  }
  TREE::ExpandPastAll();
  Check(CountCalls(TREE::hitemRoot) == connects, "not every connect line is one call");
  return 0;
}
