// Re-tagging the whole stock with the loaded colour syntax.
#include <cstring>

#include "platform/jcode.h"
#include "platform/usermessage.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"

namespace {
constexpr int kProgressStep = 200;
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
  CODEVRAM cv = cvOldest;
  for (;;) {
    const int slots = LogicalLineSlots(cv);
    if (cv.Item()->cInput == STOCK_MARK_CONNECT) {
      anyConnect = true;
      STOCK::aTag[size_t(cv.i)] = TAG_CONNECT;
      CODEVRAM c = cv;
      for (int k = 1; k < slots; ++k) STOCK::aTag[size_t((++c).i)] = TAG_CONTINUE;
      if (!started) {
        started = true;
        TAGMAKER::StartQuery();
      } else if (TAGMAKER::fTagQueryActive) {
        TAGMAKER::RestartQuery();
      }
    } else {
      CODEVRAM c = cv;
      STOCK::aTag[size_t(c.i)] = TAG_NONE;
      for (int k = 1; k < slots; ++k) STOCK::aTag[size_t((++c).i)] = TAG_NONE;
      if (TAGMAKER::fTagQueryActive) TAGMAKER::Query(cv);
    }
    ++logical;
    if (logical % kProgressStep == 0 && tagQueryHooks.progressStep &&
        !tagQueryHooks.progressStep(logical / kProgressStep)) {
      stopped = true;
      break;
    }
    CODEVRAM last = cv;
    for (int k = 1; k < slots; ++k) ++last;
    if (last.IsNewest()) break;
    ++last;
    cv = last;
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
