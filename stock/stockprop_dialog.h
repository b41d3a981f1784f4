// The stock property dialog's window: fills its controls from a
// STOCKPROPDATA and writes the user's choices back into it.  The logic
// (what is shown, what a confirmation does) is in stock/stockprop.h.
#pragma once

#include <QDialog>

#include "stock/stockprop.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QSpinBox;

class StockPropDialog : public QDialog {
 public:
  explicit StockPropDialog(const STOCKPROPDATA& data, QWidget* parent = nullptr);
  // The user's choices (mode, maximum, backup thresholds, syntax file) over
  // the data the dialog was filled from.
  STOCKPROPDATA Result() const;

 private:
  void UpdateEnabled();
  void ChooseSyntaxFile();

  STOCKPROPDATA data;
  QButtonGroup* modes;
  QLineEdit* maxLines;
  QCheckBox* monthsOn;
  QSpinBox* months;
  QCheckBox* linesOn;
  QSpinBox* lines;
  QLineEdit* syntaxFile;
};

// Makes STOCK::PropertyDialog show this window (the frame calls it once at
// start-up).
void InstallStockPropDialog();
