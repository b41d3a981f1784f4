#include "script/script_error_dialog.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/ui.h"
#include "script/script_commands.h"

namespace {

QLabel* Field(const std::string& text, const char* name, QWidget* parent) {
  auto* l = new QLabel(QString::fromStdString(text), parent);
  l->setObjectName(name);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->setWordWrap(true);
  return l;
}

}  // namespace

SCRIPTERRORDIALOG::SCRIPTERRORDIALOG(const SCRIPTERROR& e, QWidget* parent) : QDialog(parent) {
  setObjectName("ScriptError");
  setWindowTitle(QStringLiteral("スクリプト文法エラー"));
  auto* icon = new QLabel(this);
  icon->setObjectName("icon");
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this).pixmap(size, size));
  icon->setAlignment(Qt::AlignTop);

  auto* message = Field(e.message, "message", this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ファイル名:"), Field(e.file, "file", this));
  form->addRow(QStringLiteral("行番号:"), Field(e.line > 0 ? std::to_string(e.line) : std::string(), "line", this));
  form->addRow(QStringLiteral("コマンド:"), Field(e.command, "command", this));

  debug = new QPushButton(QStringLiteral("デバッグ"), this);
  debug->setObjectName("debug");
  debug->setEnabled(!e.file.empty() && e.file != "@memory");
  cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  cancel->setObjectName("cancel");
  cancel->setDefault(true);
  connect(debug, &QPushButton::clicked, this, [this] { done(DEBUG); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* text = new QVBoxLayout;
  text->addWidget(message);
  text->addSpacing(8);
  text->addLayout(form);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(debug);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  setMinimumWidth(420);
}

bool AskScriptError(const SCRIPTERROR& e, QWidget* parent) {
  SCRIPTERRORDIALOG d(e, parent ? parent : QApplication::activeWindow());
  ui::EnterModal();
  const int r = d.exec();
  ui::LeaveModal();
  return r == SCRIPTERRORDIALOG::DEBUG;
}

void InstallScriptErrorDialog(QWidget* parent) {
  QPointer<QWidget> owner(parent);
  SCRIPT::hooks.reportError = [owner](const SCRIPTERROR& e) {
    if (AskScriptError(e, owner.data())) OpenScriptInEditor(e.file, e.line);
  };
}
