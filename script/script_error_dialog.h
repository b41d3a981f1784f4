// "SCRIPTERROR": the modal report of a script's compile, runtime or
// parameter error, with the message, the file, the line and the command,
// and the buttons "デバッグ" (open the editor at that line) and "ｷｬﾝｾﾙ".
#pragma once

#include <QDialog>

#include "script/script.h"

class QPushButton;
class QWidget;

class SCRIPTERRORDIALOG : public QDialog {
 public:
  explicit SCRIPTERRORDIALOG(const SCRIPTERROR& e, QWidget* parent = nullptr);
  // "デバッグ" is offered only for a script that lives in a file.
  QPushButton* DebugButton() const { return debug; }
  QPushButton* CancelButton() const { return cancel; }
  enum : int { DEBUG = 2 };

 private:
  QPushButton* debug = nullptr;
  QPushButton* cancel = nullptr;
};

// Shows the report modally; true when the user chose "デバッグ".
bool AskScriptError(const SCRIPTERROR& e, QWidget* parent = nullptr);

// Makes the interpreter report errors in this dialog; "デバッグ" opens the
// editor at the error line (OpenScriptInEditor).
void InstallScriptErrorDialog(QWidget* parent);
