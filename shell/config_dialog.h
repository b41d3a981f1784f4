// The settings dialog (動作環境): the program's settings (CONFIG) on pages by
// topic, and every remaining value in a table on the last page ("その他"),
// each with a Japanese label and what it means.
//
// Each control remembers the value it showed; OK sets only the values whose
// controls changed (through CONFIG::SetValue, so texts are checked against
// their fields), and only when all of them are acceptable, then saves.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QSpinBox;
class QTableWidget;
class QTabWidget;

// The terminal's font: a family among the cell fonts only (every half-width
// character one cell; the CJK "dual" fonts count, which Qt's own font dialog
// leaves out of its fixed-pitch list) and a size, with a preview of 漢字 in
// two cells each and ｶﾅ in one.
class FontChooser : public QDialog {
 public:
  FontChooser(const QString& family, int points, QWidget* parent = nullptr);
  QString Family() const;
  int Points() const;
  // The preview as drawn now (cells outlined).
  QImage Preview() const;

 private:
  void UpdatePreview();
  QListWidget* families;
  QSpinBox* size;
  QLabel* preview;
};

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
  std::map<std::string, std::string> restLabels;  // "その他" rows: name -> label
};

// Runs the dialog modally.  True when settings were applied.
bool RunConfigDialog(QWidget* parent);
