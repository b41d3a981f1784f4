// The stock creation wizard: the file and its colour syntax on the first
// page; the mode, the lines (in units of 10,000, "万行"), the columns and
// the backup thresholds on the second, with the size the file takes.
// Finishing creates the stock (CreateStockFromWizard, shell/stock_wizard.h).
#pragma once

#include <QWizard>

#include "shell/stock_wizard.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

class STOCKWIZARD : public QWizard {
 public:
  explicit STOCKWIZARD(QWidget* parent = nullptr);
  void SetData(const STOCKWIZARDDATA& d);
  STOCKWIZARDDATA Data() const;
  // The size shown for the current choices ("" outside the ring mode).
  QString SizeText() const;
  // Whether the choices can be taken (a file name; a number of lines).
  bool Complete() const;

 private:
  void Refresh();
  QLineEdit* name = nullptr;
  QLineEdit* syntax = nullptr;
  QRadioButton* modes[3] = {};
  QLineEdit* lines = nullptr;
  QSpinBox* columns = nullptr;
  QCheckBox* monthsOn = nullptr;
  QSpinBox* months = nullptr;
  QCheckBox* backupLinesOn = nullptr;
  QSpinBox* backupLines = nullptr;
  QLabel* size = nullptr;
  class PAGE;
  PAGE* first = nullptr;
  PAGE* second = nullptr;
};

// Runs the wizard and, when finished, creates the stock.  1 created, 0 the
// creation failed (another stock was opened), -1 nothing done.
int RunStockWizard(QWidget* parent);
