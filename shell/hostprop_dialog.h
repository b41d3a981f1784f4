// The host property dialog: every field of a host record, on four pages
// (general, line, terminal, transfer).  Fields that the chosen connection kind
// does not use are disabled.  For a telnet host the number field is the
// host name or address (DialNo) and the port field PortName.
//
// OK checks the name (HOSTINI::CheckHostName) and the lengths of the texts,
// and stays open with a message when something is refused.  Otherwise it
// stores the host: a new one is saved and appended to the list; an existing
// one is saved in place, or, when renamed, moved to its new name at the same
// place in the list, all in one write of the settings file.
#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "shell/hostprop.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;

class HostPropDialog : public QDialog {
 public:
  // `prop` is the host as stored (for a new host, the record to start from).
  HostPropDialog(const HOSTPROPERTY& prop, bool isNew, QWidget* parent = nullptr);

  // The record as the controls show it, over the record the dialog started
  // from (fields without a control, such as ModemProp, keep their values).
  // Texts that do not fit their fields are cut here; OK refuses them.
  HOSTPROPERTY Result() const;
  // Whether "in the host menu" is checked.
  bool InMenu() const;
  // The record that OK stored (valid after the dialog was accepted).
  const HOSTPROPERTY& Stored() const { return stored; }

  // Validates and stores; closes only when the host was stored.
  void accept() override;

 private:
  // Why the controls cannot be stored (message shown, control focused), or
  // true when they can.
  bool Validate();
  // The telnet address and port: an address typed with its port is split
  // into the two fields; a port that names no TCP port is refused.
  template <class Refuse>
  bool CheckTelnetAddress(Refuse refuse);
  bool Store(const HOSTPROPERTY& p);
  void UpdateEnabled();
  void UpdateDevice();
  void Browse(QLineEdit* edit, const char* title, const char* filter);

  HOSTPROPERTY original;
  HOSTPROPERTY stored;
  bool isNew;

  QTabWidget* tabs;
  // General.
  QLineEdit* name;
  QComboBox* kind;
  QCheckBox* inMenu;
  QLineEdit* dialNo;
  QLineEdit* dialNo2;
  QLineEdit* portName;
  QLineEdit* rasEntry;
  QLineEdit* scriptFile;
  QLineEdit* stockFile;
  QComboBox* logType;
  QLineEdit* logName;
  QSpinBox* logLimit;
  // Line.
  QSpinBox* portNo;
  QLabel* device;
  QComboBox* baudrate;
  QComboBox* stopBit;
  QComboBox* flowControl;
  QLineEdit* modemInit;
  QLineEdit* modemInit2;
  QLineEdit* dialCommand;
  QLineEdit* modemName;
  QComboBox* maxRate;
  // Terminal.
  QComboBox* kanjiCode;
  QCheckBox* autoJisEuc;
  QCheckBox* localEcho;
  QCheckBox* localEdit;
  QCheckBox* crOnly;
  QCheckBox* sendCrLf;
  QCheckBox* removeCtrls;
  QCheckBox* ctrlKeys;
  QCheckBox* tabKey;
  QComboBox* cursorCode;
  QCheckBox* sevenBit;
  QCheckBox* etx;
  QCheckBox* maskCtrl;
  QCheckBox* collate;
  QCheckBox* fastSend;
  QCheckBox* videoTex;
  // Transfer.
  QCheckBox* upload[12];
  QCheckBox* download[12];
  QCheckBox* autoBplus;
  QCheckBox* autoZmodem;
  QCheckBox* flyingXmodem;
  QCheckBox* saveTimeStamp;
  QSpinBox* qvReceive;
  QSpinBox* qvSend;
  QSpinBox* orikaeshi;
  QSpinBox* margin;
  QCheckBox* hankakuMargin;
  QCheckBox* autoMarginSync;
  QCheckBox* kinsoku;
  QCheckBox* tabToSpace;
  QLineEdit* paceCharacter;
};

// Runs the dialog modally.  True when the host was stored; `prop` then holds
// the stored record.
bool EditHostProperty(QWidget* parent, HOSTPROPERTY& prop, bool isNew);

// A combo box of fixed choices (stored value, UTF-8 label).  A stored value
// that is none of them gets an item of its own, "その他 (n)", so that OK
// keeps it.  The settings dialog uses it too.
QComboBox* ChoiceBox(const std::vector<std::pair<int, const char*>>& choices, int current);
