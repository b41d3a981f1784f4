// "SCRIPTSTATUS": the modeless window that follows the running script: its
// file, the line, the command being executed ("???" past the statement
// keywords), whether the keyboard reaches the host ("許可"/"禁止") and how
// many levels wait below the running one, with the buttons "ポーズ"/"再開"
// and "ステップ".
//
// The interpreter runs statements far faster than anyone can read, so the
// window does not follow each one: a timer looks at the interpreter's state
// and the fields change at most 20 times a second, whatever the script does.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTimer;

// What the window shows, read from the interpreter.
struct SCRIPTSTATUSVIEW {
  bool running = false;
  bool paused = false;
  QString file, line, command, keyboard, waiting;
  bool operator==(const SCRIPTSTATUSVIEW&) const = default;
  static SCRIPTSTATUSVIEW Now();
};

class SCRIPTSTATUSDIALOG : public QDialog {
 public:
  static constexpr int64_t kMinRefreshMs = 50;  // at most 20 refreshes a second

  explicit SCRIPTSTATUSDIALOG(QWidget* parent = nullptr);

  // Looks at the interpreter and shows what changed, unless the last change
  // shown is less than kMinRefreshMs old (the timer calls it).
  void Tick();
  // How many times the fields were changed (tests).
  int Refreshes() const { return refreshes; }
  // The clock Tick measures with (monotonic ms); tests set their own.
  std::function<int64_t()> clock;
  const SCRIPTSTATUSVIEW& Shown() const { return shown; }

 private:
  void Show(const SCRIPTSTATUSVIEW& v);

  QLabel *file, *line, *command, *keyboard, *waiting;
  QPushButton *pause, *step;
  QTimer* timer;
  SCRIPTSTATUSVIEW shown;
  std::optional<int64_t> refreshedAt;  // clock() at the last change shown by Tick
  int refreshes = 0;
};

// Opens the window, or raises it when it is open already (command 58).
SCRIPTSTATUSDIALOG* ShowScriptStatus(QWidget* parent);
