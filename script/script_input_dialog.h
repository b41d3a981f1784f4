// The windows of the script statements that ask the user: the "INPUT"
// family, the box whose default button a timer presses, and the pop-up menu.
//
// "INPUT" (a prompt up to 50 bytes on one line) and "INPUT2" (a longer or
// several-line prompt), and "SECRETINPUT"/"SECRETINPUT2" with the text
// hidden: the prompt, one edit field (1024 bytes at most) and OK / ｷｬﾝｾﾙ.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "script/dialogcmds.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QWidget;

class SCRIPTINPUTDIALOG : public QDialog {
 public:
  SCRIPTINPUTDIALOG(const std::string& prompt, const std::string& initial, bool secret, bool longPrompt,
                    QWidget* parent = nullptr);
  QLineEdit* Edit() const { return edit; }
  QLabel* Prompt() const { return prompt; }

 private:
  QLabel* prompt = nullptr;
  QLineEdit* edit = nullptr;
};

// Runs the input dialog modally: the text entered (UTF-8), or nothing.
std::optional<std::string> AskScriptInput(const std::string& prompt, const std::string& initial, bool secret,
                                          bool longPrompt, QWidget* parent = nullptr);

// A message box (classic style bits, as the facade takes them) whose
// default button a timer presses after ms; the answer (IDOK, IDYES, ...).
// `made`, when given, sees the box before it is shown (tests).
int TimedMessageBox(const std::string& text, const std::string& caption, unsigned style, int64_t ms,
                    QWidget* parent = nullptr, const std::function<void(QMessageBox*)>& made = {});

// The pop-up menu of SHOWMENU at a global position: the chosen item counted
// over the items that are not separators, or -1.
int ShowScriptMenu(const std::vector<SCRIPTMENUITEM>& items, const QPoint& at, QWidget* parent = nullptr);
