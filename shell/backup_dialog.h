// The backup dialog "バックアップ方法" and the offer that opens it.
//
// After a call has ended (and after the last level of a script, once off
// line) the frame asks CheckBackup whether the stock in backup mode has grown
// past its line count or its months; with a reason the dialog opens.  Its
// choices: back the oldest part up and delete it, delete it only, or
// postpone (line count +10,000 or months +1).  The manual backup from the
// stock menu offers "back up only" in place of postponing.  A month slider
// picks how far the range reaches; format, directory and file name apply to
// the backup choices only.  Without a window nothing is offered: a headless
// run never changes the stock this way (`quillnet-tool stock backup` is the
// tool for it).  The hooks that reach the dialler and the interpreter are
// installed from above (script/backup_offer_window).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "stock/backup.h"

class QAction;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;

// The directory backups go to when BackupPath is empty: "backup" in the data
// directory (made when the first backup is written there).
std::string DefaultBackupDir();

class BackupDialog : public QDialog {
 public:
  enum Choice { BackupAndDelete = 0, DeleteOnly = 1, PostponeOrKeep = 2 };

  // `check` is CheckBackup's answer (reason 0: the manual backup).
  BackupDialog(const BACKUPCHECK& check, const SYSTEMTIME& today, QWidget* parent = nullptr);

  int Reason() const { return check.reason; }
  Choice Chosen() const;
  // The month the range reaches to (year * 12 + month - 1) and its lines.
  int ChosenMonth() const;
  int ChosenLines() const;
  QString RangeText() const;
  QString Heading() const;
  // The backup as the dialog stands: format, directory (a trailing "/"
  // removed; empty: DefaultBackupDir()), name, lines, whether the lines
  // are deleted afterwards, and whether a call is up.
  BACKUPREQUEST Request() const;

  // Called after lines were deleted from the stock (the tree and the
  // terminal take the new layout).
  std::function<void()> afterDelete;
  // A call is up: the range stops before it, and only "back up only" (the
  // manual backup) or postponing can be chosen.
  void SetOnline(bool on);
  bool Online() const { return online; }

 protected:
  // OK: carries the choice out; the dialog stays when it could not be.
  void accept() override;

 private:
  void UpdateRange();
  void UpdateEnabled();
  void Browse();
  bool RunBackup();

  BACKUPCHECK check;
  SYSTEMTIME today;
  QLabel* heading = nullptr;
  QButtonGroup* choices = nullptr;
  QSlider* months = nullptr;
  QLabel* oldestLabel = nullptr;
  QLabel* todayLabel = nullptr;
  QLabel* range = nullptr;
  QButtonGroup* formats = nullptr;
  QLineEdit* dir = nullptr;
  QPushButton* browse = nullptr;
  QLineEdit* name = nullptr;
  bool online = false;
};

// Asks CheckBackup and, with a reason, opens the dialog over `window`
// (window-modal, not waited for).  Null when nothing is offered (no window,
// no reason, a dialog already open).
BackupDialog* OfferBackup(QWidget* window, const SYSTEMTIME& today);
// The manual backup: the dialog without a reason.  Null without a stock or
// while another backup dialog is open.
BackupDialog* ManualBackup(QWidget* window, const SYSTEMTIME& today);

// What the dialogs opened by OfferBackup and ManualBackup call after lines
// were deleted (the installer sets it: the terminal and the tree take the new
// layout).
void SetBackupAfterDelete(std::function<void()> afterDelete);
// Adds the manual backup "ストックのバックアップ(&K)..." to `menu`, below
// "ストックのプロパティ" when the menu has it; null without a window or menu.
QAction* AddManualBackupCommand(QWidget* window, QMenu* menu);
// Posts the offer: from the event loop, off line, OfferBackup over `window`.
void OfferBackupLater(QWidget* window);
