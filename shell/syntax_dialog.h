// The colour syntax selection dialog: offered when a stock's colour syntax
// file cannot be opened (STOCK::hooks.pickSyntax).  It lists the ".tag" files
// of the program's directory and of the directory the program's own syntax
// files are installed in, each with the comment text stored in the file, and
// returns the chosen file's path, or "" when the user declines.  Where no
// window can be shown (a headless run) it declines without asking.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// One syntax file: its path, its name as listed, and its comment text
// (UTF-8, line breaks as "\n"; empty when it has none).  `readable` is false
// for a ".tag" file that is not a colour syntax file this program reads.
struct SYNTAXFILEENTRY {
  std::string path;
  std::string comment;
  bool readable = true;
};

// Where syntax files are looked for, in this order, each directory once and
// only when it exists: the program's directory (HomeDir, else the data
// directory), the installed data directory beside the program
// (BIN/../share/quillnet) and, in a build tree, the directory the demo syntax
// is built into (BIN/../tools).
std::vector<std::string> SyntaxDirectories();
// The ".tag" files of `dirs` (sorted by name within each directory; a file
// reached twice is listed once) with their comment texts.
std::vector<SYNTAXFILEENTRY> ListSyntaxFiles(const std::vector<std::string>& dirs);

// Whether dialogs can be shown: a widget application with the window facade
// (not the recording one of headless runs and tools).
bool DialogsCanBeShown();

class SyntaxDialog : public QDialog {
 public:
  // failedPath: the file that could not be opened (shown in the text above
  // the list; may be empty).
  SyntaxDialog(const std::string& failedPath, std::vector<SYNTAXFILEENTRY> files, QWidget* parent = nullptr);
  // The path of the file chosen; empty when none is selected.
  std::string Chosen() const;

 private:
  void ShowComment();
  void Browse();
  void AddFile(const SYNTAXFILEENTRY& entry);

  std::vector<SYNTAXFILEENTRY> files;
  QListWidget* list;
  QPlainTextEdit* comment;
  QPushButton* ok;
};

// Asks for a syntax file in place of `failedPath`: the chosen path, or ""
// when the user declines or no dialog can be shown.
std::string PickSyntaxFile(const std::string& failedPath);
// Fills STOCK::hooks.pickSyntax with PickSyntaxFile.
void InstallSyntaxDialog();
// A stock made new at start-up has no colour syntax yet: offers the dialog,
// and the file chosen becomes the stock's syntax (loaded, with its time
// stamp, saved).  Nothing when the stock has a syntax file or no dialog can
// be shown.  True when a syntax was taken.
bool OfferSyntaxForNewStock();
