// "FUNCTION" (title "キー割り当て"): the 48 function-key entries edited on a
// copy.  Twelve rows (name, text, "文字" or "ｽｸﾘﾌﾟﾄ") show the bank that the
// check boxes "&Shift" and "&Ctrl" select; the rows shown are stored back
// before the bank changes.  "&OK" applies the copy for this run, "保存(&V)"
// applies and saves it to the settings, "リセット(&R)" empties all 48 entries
// of the copy, "ｷｬﾝｾﾙ" discards it.  A name over 20 bytes or a text over 49
// bytes (Shift_JIS) is refused with a message naming the key.
//
// InstallFunctionKeys hooks the keys into the frame: the keys and the bar's
// buttons act through ProcessFuncKey, the bar shows the entries' names, the
// script menu gets "キー割り当て(&K)..." (command 25) and "変数一覧(&V)..."
// (command 64), and text goes to the host through the port.
#pragma once

#include <QDialog>
#include <QString>
#include <array>

#include "script/funckey.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class FRAMEWINDOW;

class FUNCKEYDIALOG : public QDialog {
 public:
  explicit FUNCKEYDIALOG(QWidget* parent = nullptr);

  // The copy being edited, with the rows shown stored back first; false
  // (after a message) when a row does not fit.
  bool Collect();
  const FUNCINI& Copy() const { return copy; }
  int Bank() const { return bank; }
  QCheckBox* ShiftBox() const { return shift; }
  QCheckBox* CtrlBox() const { return ctrl; }
  QLineEdit* NameEdit(int key) const { return names[size_t(key)]; }
  QLineEdit* TextEdit(int key) const { return texts[size_t(key)]; }
  QComboBox* KindBox(int key) const { return kinds[size_t(key)]; }
  // What the last press of "保存(&V)" wrote (tests).
  bool Saved() const { return saved; }

  // Applies the copy (OK), and saves it (保存).
  void Apply(bool save);
  void ResetAll();

 private:
  void ShowBank(int b);
  bool StoreBank();

  FUNCINI copy;
  int bank = 0;
  bool saved = false;
  QCheckBox *shift, *ctrl;
  std::array<QLineEdit*, 12> names{}, texts{};
  std::array<QComboBox*, 12> kinds{};
};

// Runs the dialog; true when it ended with OK or 保存 (the bar is repainted).
bool SetupFuncKey(QWidget* parent);

void InstallFunctionKeys(FRAMEWINDOW* frame);
