// The progress window of re-tagging the whole stock ("カラー構文を再計算中"):
// a bar with one step per 200 logical lines and a stop button.  Stopping ends
// the walk at the next step; the re-tagging then keeps what it did and
// reports itself incomplete (TREE::RefreshTagAll).
#pragma once

#include <QDialog>
#include <functional>

class QProgressBar;
class QPushButton;

class RetagProgressDialog : public QDialog {
 public:
  explicit RetagProgressDialog(int steps, QWidget* parent = nullptr);
  // Shows `done` steps and lets pending events run (so the stop button can
  // be pressed); false once the user has stopped.
  bool Step(int done);
  bool Stopped() const { return stopped; }

 protected:
  // Closing the window or Escape stops as the button does.
  void reject() override;

 private:
  QProgressBar* bar;
  QPushButton* stop;
  bool stopped = false;
};

// Fills tagQueryHooks.progressBegin/Step/End with the window (shown only
// where dialogs can be shown; elsewhere the re-tagging runs without one).
// `afterRun` (may be empty) is called when a re-tagging has ended: the
// program draws the screen again in the new tags' colours.
void InstallRetagProgressDialog(std::function<void()> afterRun = {});
