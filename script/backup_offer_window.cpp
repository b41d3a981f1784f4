// The backup offer's hooks into the dialler, the interpreter and the screen.
#include "script/backup_offer_window.h"

#include <QPointer>
#include <QWidget>

#include "port/tapisub.h"
#include "script/script.h"
#include "shell/backup_dialog.h"
#include "stock/tree.h"
#include "terminal/mybitmap.h"

void ShowNewestAfterDelete() {
  // The lines have new slots.  Only off line (nothing is deleted during a
  // call), so no host state on the screen is lost.
  if (bitmap.fScrollView) bitmap.LeaveScrollMode();
  MYBITMAP::cvScrollableTop = cvOldest;
  MYBITMAP::cLineScrollable = 0;
  bitmap.Reset(bitmap.hwndPaint, bitmap.cxChars, bitmap.cyLines);
  if (TREE::hitemRoot) TREE::Initialize(0);
}

void InstallBackupOffer(QWidget* window, QMenu* stockMenu) {
  if (!window) return;
  SetBackupAfterDelete(ShowNewestAfterDelete);
  QPointer<QWidget> w(window);
  auto hungUp = TAPISUB::hooks.hungUp;
  TAPISUB::hooks.hungUp = [hungUp, w] {
    if (hungUp) hungUp();
    if (w && !SCRIPT::fExecuting) OfferBackupLater(w);
  };
  auto ended = SCRIPT::hooks.ended;
  SCRIPT::hooks.ended = [ended, w] {
    if (ended) ended();
    if (w) OfferBackupLater(w);  // on line it offers nothing: the hang-up will
  };
  AddManualBackupCommand(window, stockMenu);
}
