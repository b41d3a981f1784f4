// The host list window: the hosts in list order, with their menu mark,
// connection kind and destination, and the commands that maintain the list
// (connect, new, edit, copy, delete, move, menu flag, backup and restore).
// Every change goes to the settings store at once and the list is read back.
//
// The window can be shown modelessly (show()) or run modally (exec()).
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class HostListWindow : public QDialog {
 public:
  explicit HostListWindow(QWidget* parent = nullptr);

  // Connects to a host (Shift_JIS name).  The window closes after calling it.
  std::function<void(const std::string& sjisName)> onDial;

  // Reads the list again, keeping the selection on the host named `select`
  // (Shift_JIS), or on the same row when it is empty.
  void Refresh(const std::string& select = {});
  // The selected host (Shift_JIS), or "" when none.
  std::string CurrentName() const;
  int CurrentRow() const;
  void SelectRow(int row);
  int RowCount() const;

  // The commands of the buttons, on the selected host.
  void Dial();
  void NewHost();
  void EditHost();
  void CopyHost();
  void DeleteHost();
  void MoveUp() { Move(-1); }
  void MoveDown() { Move(+1); }
  void ToggleMenu();
  void Backup();
  void Restore();

 private:
  void Move(int delta);
  void SetMenuFlag(int row, bool on);
  void UpdateButtons();

  QTreeWidget* list;
  QPushButton* dial;
  QPushButton* edit;
  QPushButton* copy;
  QPushButton* remove;
  QPushButton* up;
  QPushButton* down;
  QPushButton* menu;
  bool filling = false;
};

// Renders the window into a PNG file at the given size (documentation
// screenshots).  False when the file cannot be written.
bool SaveHostListScreenshot(HostListWindow& window, const std::string& pngPath, int width = 800, int height = 500);
