#include "script/funckey_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "script/varlist_dialog.h"
#include "shell/frame_window.h"
#include "terminal/terminal_view.h"

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }
QString FromSjis(const std::string& s) { return QString::fromStdString(jcode::SjisToUtf8(s)); }
std::string ToSjis(const QString& s) { return jcode::Utf8ToSjis(s.toStdString()); }

}  // namespace

FUNCKEYDIALOG::FUNCKEYDIALOG(QWidget* parent) : QDialog(parent), copy(funcini) {
  setObjectName("FUNCTION");
  setWindowTitle(U("キー割り当て"));
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(U("名前")), 0, 1);
  grid->addWidget(new QLabel(U("文字列 / スクリプト")), 0, 2);
  for (int k = 0; k < 12; ++k) {
    grid->addWidget(new QLabel(QString("F%1").arg(k + 1)), k + 1, 0);
    names[size_t(k)] = new QLineEdit;
    names[size_t(k)]->setObjectName(QString("name%1").arg(k + 1));
    texts[size_t(k)] = new QLineEdit;
    texts[size_t(k)]->setObjectName(QString("text%1").arg(k + 1));
    texts[size_t(k)]->setMinimumWidth(220);
    kinds[size_t(k)] = new QComboBox;
    kinds[size_t(k)]->addItems({U("文字"), U("ｽｸﾘﾌﾟﾄ")});
    grid->addWidget(names[size_t(k)], k + 1, 1);
    grid->addWidget(texts[size_t(k)], k + 1, 2);
    grid->addWidget(kinds[size_t(k)], k + 1, 3);
  }
  shift = new QCheckBox(U("&Shift"));
  ctrl = new QCheckBox(U("&Ctrl"));
  auto bankChanged = [this] {
    if (!StoreBank()) {
      // The rows shown do not fit: the boxes go back to their bank.
      const QSignalBlocker a(shift), b(ctrl);
      shift->setChecked(bank & 1);
      ctrl->setChecked(bank & 2);
      return;
    }
    ShowBank((shift->isChecked() ? 1 : 0) + (ctrl->isChecked() ? 2 : 0));
  };
  connect(shift, &QCheckBox::toggled, this, bankChanged);
  connect(ctrl, &QCheckBox::toggled, this, bankChanged);
  auto* banks = new QHBoxLayout;
  banks->addWidget(shift);
  banks->addWidget(ctrl);
  banks->addStretch();

  auto* ok = new QPushButton(U("&OK"));
  ok->setDefault(true);
  auto* save = new QPushButton(U("保存(&V)"));
  auto* reset = new QPushButton(U("リセット(&R)"));
  auto* cancel = new QPushButton(U("ｷｬﾝｾﾙ"));
  auto* help = new QPushButton(U("ヘルプ"));
  help->setEnabled(false);  // no help file for the dialog yet
  connect(ok, &QPushButton::clicked, this, [this] {
    if (!Collect()) return;
    Apply(false);
    accept();
  });
  connect(save, &QPushButton::clicked, this, [this] {
    if (!Collect()) return;
    Apply(true);
    accept();
  });
  connect(reset, &QPushButton::clicked, this, [this] { ResetAll(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {ok, save, reset, cancel, help}) buttons->addWidget(b);

  auto* all = new QVBoxLayout(this);
  all->addLayout(banks);
  all->addLayout(grid);
  all->addLayout(buttons);
  ShowBank(0);
}

void FUNCKEYDIALOG::ShowBank(int b) {
  bank = b;
  for (int k = 0; k < 12; ++k) {
    const FUNCKEYENTRY& e = copy.entries[size_t(bank * 12 + k)];
    names[size_t(k)]->setText(FromSjis(e.name));
    texts[size_t(k)]->setText(FromSjis(e.text));
    kinds[size_t(k)]->setCurrentIndex(e.script ? 1 : 0);
  }
}

bool FUNCKEYDIALOG::StoreBank() {
  static const char* const kBankName[] = {"", "Shift+", "Ctrl+", "Shift+Ctrl+"};
  for (int k = 0; k < 12; ++k) {
    const std::string name = ToSjis(names[size_t(k)]->text());
    const std::string text = ToSjis(texts[size_t(k)]->text());
    const QString key = U(kBankName[bank]) + QString("F%1").arg(k + 1);
    if (name.size() > FUNCINI::MAX_NAME || text.size() > FUNCINI::MAX_TEXT) {
      const QString why = key + U(name.size() > FUNCINI::MAX_NAME ? " の名前は半角20文字までです。"
                                                                   : " の文字列は半角49文字までです。");
      ui::Current().MessageBox(why.toStdString(), windowTitle().toStdString(), ui::MB_OK | ui::MB_ICONWARNING);
      (name.size() > FUNCINI::MAX_NAME ? names : texts)[size_t(k)]->setFocus();
      return false;
    }
    FUNCKEYENTRY& e = copy.entries[size_t(bank * 12 + k)];
    e.name = name;
    e.text = text;
    e.script = kinds[size_t(k)]->currentIndex() == 1;
  }
  return true;
}

bool FUNCKEYDIALOG::Collect() { return StoreBank(); }

void FUNCKEYDIALOG::Apply(bool save) {
  funcini = copy;
  if (save) saved = funcini.SaveFuncIni();
  if (funcKeyHooks.repaint) funcKeyHooks.repaint();
}

void FUNCKEYDIALOG::ResetAll() {
  for (int e = 0; e < FUNCINI::ENTRIES; ++e) copy.Clear(e);
  ShowBank(bank);
}

bool SetupFuncKey(QWidget* parent) {
  FUNCKEYDIALOG d(parent);
  return d.exec() == QDialog::Accepted;
}

void InstallFunctionKeys(FRAMEWINDOW* frame) {
  funcini.LoadAll();
  frame->functionKeyLabel = [](int entry) { return FromSjis(funcini.Label(entry)); };
  frame->functionKey = [frame](int key, bool down) {
    if (!down) return;
    const Qt::KeyboardModifiers m = frame->FunctionKeyModifiers();
    ProcessFuncKey(key - 1, m & Qt::ShiftModifier, m & Qt::ControlModifier);
  };
  funcKeyHooks.send = [](const std::string& bytes) {
    for (const char c : bytes) COMPORT::Send(c);
  };
  funcKeyHooks.focusBack = [frame] { frame->Client()->setFocus(); };
  funcKeyHooks.repaint = [frame] { frame->RefreshFunctionKeys(QGuiApplication::keyboardModifiers()); };
  funcKeyHooks.repaint();

  // Commands 25 and 64 join the script menu's.
  auto previous = frame->scriptCommand;
  frame->scriptCommand = [frame, previous](int command) {
    if (command == 25)
      SetupFuncKey(frame);
    else if (command == 64)
      ShowVarList(frame);
    else if (previous)
      previous(command);
  };
  if (auto* menu = frame->findChild<QMenu*>("ScriptMenu")) {
    menu->addSeparator();
    menu->addAction(U("キー割り当て(&K)..."), frame, [frame] { frame->scriptCommand(25); });
    menu->addAction(U("変数一覧(&V)..."), frame, [frame] { frame->scriptCommand(64); });
  }
}
