#include "terminal/log_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/ui.h"
#include "terminal/log.h"

int AskLogLimit(const std::string& text, int msTimeout) {
  QMessageBox box(QApplication::activeWindow());
  box.setObjectName("LogLimit");
  box.setWindowTitle("Quillnet");
  box.setIcon(QMessageBox::Question);
  box.setText(QString::fromStdString(text));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  // Unattended sessions must not stop at the question: it answers itself.
  QTimer::singleShot(msTimeout, &box, [&box] { box.done(QMessageBox::Yes); });
  ui::EnterModal();
  int r = box.exec();
  ui::LeaveModal();
  return r == QMessageBox::No ? ui::IDNO : int(LOG::kLimitContinue);
}

bool AskLogStartOptions(int& kbLimit, int& textLog) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName("LogStartOptions");
  dialog.setWindowTitle("ログ開始");
  auto* limit = new QLineEdit(&dialog);
  limit->setObjectName("limit");
  limit->setValidator(new QIntValidator(0, 99999, limit));
  if (kbLimit >= 1 && kbLimit < LOG::kNoLimit) limit->setText(QString::number(kbLimit));
  auto* plain = new QCheckBox("制御コードを取り除く", &dialog);
  plain->setObjectName("plain");
  plain->setChecked(textLog != 0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout;
  form->addRow("サイズの上限 (KB):", limit);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(plain);
  layout->addWidget(buttons);
  ui::EnterModal();
  int r = dialog.exec();
  ui::LeaveModal();
  if (r != QDialog::Accepted) return false;
  bool ok = false;
  int kb = limit->text().toInt(&ok);
  kbLimit = (!ok || kb < 1 || kb > LOG::kNoLimit) ? int(LOG::kNoLimit) : kb;
  textLog = plain->isChecked() ? 1 : 0;
  return true;
}

void InstallLogDialogs() {
  LOG::hooks.askLimit = [](const std::string& text) { return AskLogLimit(text, LOG::kLimitQuestionMs); };
  LOG::hooks.startOptions = AskLogStartOptions;
}
