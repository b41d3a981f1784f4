// The transfer windows: the progress window of a running transfer, the
// question about a download's existing file, the transfer history, and the
// transfer menu of the frame.  InstallTransferWindows puts them into
// UPDOWNHOOKS, so the program's transfers (transfer/updown) show them.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "transfer/transfer.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;
class QKeyEvent;
class QUrl;

// "UPLOADING": the modeless progress window.  Every field is refreshed from
// the transfer's statistics (the same figures as the tool's --progress line);
// the time also when only the second changes.  "中断！" stops the transfer;
// cursor and paging keys pressed on it go to the terminal.
class TransferProgressWindow : public QDialog {
 public:
  TransferProgressWindow(TRANSFER& t, QWidget* parent = nullptr);
  void Refresh();
  // The text of a field by its label ("全ﾊﾞｲﾄ数:", "処理済み:", "ﾘﾄﾗｲ回数:",
  // "時間:", "状態:", "転送速度:", "時間予測:", "ﾌﾟﾛﾄｺﾙ:", "ﾌｧｲﾙ:").
  QString Field(const QString& label) const;
  QPushButton* StopButton() const { return stop; }
  // Where keys for the terminal go.  Empty: dropped.
  std::function<void(QKeyEvent*)> forwardKey;
  // The clock and the port's output queue the figures use (tests set them).
  std::function<TICK()> clock;
  std::function<long long()> outQueue;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  TRANSFER& t;
  std::map<QString, QLabel*> fields;
  QPushButton* stop = nullptr;
  QTimer* tick = nullptr;
};

// "DOWN2" / "DOWN2RESUME": what to do with an existing file of a download's
// name.  Exec() answers the DOWNMODE; Esc or "ダウンロードを中止する(Esc)"
// cancel.
class DownloadQuestionDialog : public QDialog {
 public:
  DownloadQuestionDialog(const DOWNQUESTION& q, QWidget* parent = nullptr);
  DOWNMODE Answer() const;
  // The choice as a button (tests pick one and accept).
  QRadioButton* Choice(DOWNMODE m) const;
  QPushButton* CancelButton() const { return cancel; }

 private:
  std::map<int, QRadioButton*> choices;
  QPushButton* cancel = nullptr;
  bool cancelled = false;
};

// "DOWNFILENAME": a received file could not be created; the user types
// another name (prefilled with the failed one's last component).  Name()
// is empty when cancelled.
class DownloadNameDialog : public QDialog {
 public:
  DownloadNameDialog(const std::string& failedPath, QWidget* parent = nullptr);
  std::string Name() const;
  QLineEdit* Edit() const { return edit; }

 private:
  QLineEdit* edit = nullptr;
};

// "アップロード": the files of the upload directory, sorted by name or by
// date (newest first), one or (for the protocols that take several) many
// chosen.
class UploadDialog : public QDialog {
 public:
  UploadDialog(const std::string& dir, bool several, QWidget* parent = nullptr);
  // The names in the order shown.
  std::vector<std::string> Shown() const;
  void SortByDate(bool byDate);
  // Selects the shown rows (tests) and answers the chosen paths.
  void Select(const std::vector<int>& rows);
  std::vector<std::string> Chosen() const;

 private:
  void Fill();
  std::string dir;
  bool byDate = false;
  QTreeWidget* list = nullptr;
  QRadioButton* byName = nullptr;
  QRadioButton* byTime = nullptr;
};

// "TRANSHIST" ("転送履歴"): the lines of TRANHIST.TXT in `dir`, newest last,
// with open (the file, through the desktop), delete and delete all.
class TransferHistoryWindow : public QDialog {
 public:
  // downloadDir and uploadDir are where the files of "Down" and "Up" lines
  // are looked for.
  TransferHistoryWindow(std::string dir, std::string downloadDir, std::string uploadDir,
                        QWidget* parent = nullptr);
  void Reload();
  QTreeWidget* List() const { return list; }
  // The selected line: opened, deleted; all deleted (after a question).
  bool OpenSelected();
  bool DeleteSelected();
  bool DeleteAll();
  // Opens a file.  Empty: QDesktopServices.
  std::function<bool(const QUrl&)> open;

 private:
  std::string dir, downloadDir, uploadDir;
  QTreeWidget* list = nullptr;
};

// The frame's transfer menu ("転送(&F)": upload 13, download 14, text
// upload 121, stop 78, history 111) and the windows in UPDOWNHOOKS.  Items
// that start a transfer are enabled on line when none runs; stop only while
// one runs.  Paging keys pressed in the progress window go to `terminal`.
void InstallTransferWindows(QWidget* frame, QMenu* menu, QWidget* terminal = nullptr);
// Undoes InstallTransferWindows' hooks (tests).
void RemoveTransferWindows();
