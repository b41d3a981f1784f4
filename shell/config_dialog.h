// The settings dialog: the program's settings (CONFIG) on pages by topic,
// and every remaining value in a table on the last page.
//
// Each control remembers the value it showed; OK sets only the values whose
// controls changed (through CONFIG::SetValue, so texts are checked against
// their fields), and only when all of them are acceptable, then saves.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QTableWidget;
class QTabWidget;

class ConfigDialog : public QDialog {
 public:
  explicit ConfigDialog(QWidget* parent = nullptr);

  // Sets the changed values in `config` and saves it.  False, with a message
  // and the control at fault shown, when a value is refused or the settings
  // cannot be written; `config` is then unchanged.
  bool Apply();
  void accept() override;

 private:
  // One control and the value (as CONFIG::GetValue/SetValue text) it started with.
  struct Binding {
    std::string name;
    std::string initial;
    std::function<std::string()> value;
    QWidget* widget;
  };
  QWidget* AddPage(const char* title, const std::vector<const char*>& names);
  QWidget* MakeControl(const std::string& name);
  void AddRestTable();

  QTabWidget* tabs;
  QTableWidget* rest = nullptr;
  std::vector<Binding> bindings;
};

// Runs the dialog modally.  True when settings were applied.
bool RunConfigDialog(QWidget* parent);
