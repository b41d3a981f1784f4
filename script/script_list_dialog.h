// "EXECSCRIPT" and "EDITSCRIPT": the list of the script folder's ".hsc" and
// ".scr" files, sorted by name or by date (the SortByName setting, changed
// by the two radio buttons), with the description of the selected file
// (its first line when that starts with ";").  The run form starts the
// chosen file; the edit form opens it in the editor and offers
// "新規作成(&N)" for a new file.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

class SCRIPTLISTDIALOG : public QDialog {
 public:
  enum MODE { RUN, EDIT };
  SCRIPTLISTDIALOG(MODE mode, QWidget* parent = nullptr, const std::string& dir = {});

  // The listed file names, in the order shown.
  QStringList Names() const;
  // Selects a file by name; false when it is not listed.
  bool Select(const QString& name);
  // The selected file's full path (UTF-8), empty when none.
  std::string SelectedPath() const;
  QString Description() const;
  // Sorts by name (true) or by date, as the radio buttons do.
  void SortByName(bool byName);
  // The run form starts the selected file; the edit form opens it.
  void Choose();
  // "新規作成(&N)": asks for a name, creates the file empty when it is new
  // (".hsc" added to a name without a script extension) and opens it.
  void CreateNew();

 private:
  void Fill(const QString& keep);
  void ShowDescription();

  MODE mode;
  std::string dir;
  QListWidget* list;
  QRadioButton *byName, *byDate;
  QLabel* description;
  QPushButton* ok;
};

// Commands 44 and 59.
void ExecScriptDialog(QWidget* parent);
void EditScriptDialog(QWidget* parent);
