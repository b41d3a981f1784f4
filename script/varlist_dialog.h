// "VARLIST" (title "変数一覧"): every script variable with its value, the
// value escaped as the variable file writes it ("???" for a secret, a name
// starting "%%"), numbers in decimal.  A click on a column header sorts by
// name, or by value with the numbers (by value) before the strings.  The
// list follows every change of a variable while it is open.
//
//   "修正(&M)..."  "MODIFYVAR" ("変数の修正"): the name shown, the value
//                 editable ("^" escapes; a secret's value stays masked)
//   "新規(&N)..."  "NEWVAR" ("変数の新規作成"): name, value and kind
//                 "永久的変数" (a "%" name, preselected) or "一時的変数" (a
//                 "#" name of the running level, level 0 with none); a name
//                 whose second character is "#" or "@" is a number
//   "削除(&D)"    deletes the selected variable
//   "閉じる(&C)"
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;
class QLineEdit;
class QRadioButton;

class VARLISTDIALOG : public QDialog {
 public:
  explicit VARLISTDIALOG(QWidget* parent = nullptr);
  ~VARLISTDIALOG() override;

  void Refresh();
  QTreeWidget* List() const { return list; }
  // The stored name (Shift_JIS) of the selected row, empty with none.
  std::string Selected() const;
  void DeleteSelected();
  // Test hooks: the sub-dialogs run through these when set (the dialog made
  // and filled in by the test instead of by a user).
  std::function<int(QDialog&)> runSubDialog;

 private:
  void Modify();
  void New();
  QTreeWidget* list;
  std::function<void()> previousOnChange;
};

// "MODIFYVAR".
class MODIFYVARDIALOG : public QDialog {
 public:
  MODIFYVARDIALOG(const std::string& name, QWidget* parent = nullptr);
  QLineEdit* ValueEdit() const { return value; }
  // Assigns the edited value; false when the store refused it.
  bool Apply() const;

 private:
  std::string name;
  QLineEdit* value;
};

// "NEWVAR".
class NEWVARDIALOG : public QDialog {
 public:
  explicit NEWVARDIALOG(QWidget* parent = nullptr);
  QLineEdit* NameEdit() const { return name; }
  QLineEdit* ValueEdit() const { return value; }
  QRadioButton* Permanent() const { return permanent; }
  QRadioButton* Temporary() const { return temporary; }
  // The stored name the fields make (empty when the name is empty).
  std::string StoredName() const;
  bool Apply() const;

 private:
  QLineEdit *name, *value;
  QRadioButton *permanent, *temporary;
};

// Text of a variable's value as the list shows it.
QString VarListValue(const std::string& name, const std::string& value, bool numeric);

// Runs the dialog (command 64).
void ShowVarList(QWidget* parent);
