#include "script/script_input_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "script/value.h"
#include "script/var.h"

SCRIPTINPUTDIALOG::SCRIPTINPUTDIALOG(const std::string& text, const std::string& initial, bool secret, bool longPrompt,
                                     QWidget* parent)
    : QDialog(parent) {
  setObjectName(QString::fromLatin1(secret ? "SECRETINPUT" : "INPUT") + (longPrompt ? "2" : ""));
  setWindowTitle(QStringLiteral("Quillnet"));
  prompt = new QLabel(QString::fromUtf8(text.c_str()), this);
  prompt->setObjectName("prompt");
  prompt->setWordWrap(longPrompt);
  prompt->setTextFormat(Qt::PlainText);
  edit = new QLineEdit(QString::fromUtf8(initial.c_str()), this);
  edit->setObjectName("edit");
  edit->setEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
  edit->selectAll();
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(edit);
  layout->addWidget(buttons);
  if (longPrompt) setMinimumWidth(420);
}

std::optional<std::string> AskScriptInput(const std::string& prompt, const std::string& initial, bool secret,
                                          bool longPrompt, QWidget* parent) {
  SCRIPTINPUTDIALOG d(prompt, initial, secret, longPrompt, parent);
  const int r = ui::Current().RunModal([&] { return d.exec(); });
  if (r != QDialog::Accepted) return std::nullopt;
  // At most 1024 bytes as the script holds them, on a whole character.
  const std::string sjis = jcode::Utf8ToSjis(d.Edit()->text().toUtf8().toStdString());
  return jcode::SjisToUtf8(CutSjis(sjis, VAR::MAX_VALUE));
}

int TimedMessageBox(const std::string& text, const std::string& caption, unsigned style, int64_t ms, QWidget* parent,
                    const std::function<void(QMessageBox*)>& made) {
  const bool question = (style & 0xF) == ui::MB_YESNO;
  QMessageBox box(parent ? parent : QApplication::activeWindow());
  box.setObjectName(question ? "TimeoutQuestion" : "TimeoutMessage");
  box.setWindowTitle(QString::fromUtf8(caption.c_str()));
  box.setText(QString::fromUtf8(text.c_str()));
  box.setIcon(question ? QMessageBox::Question : QMessageBox::Information);
  box.setStandardButtons(question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
  const QMessageBox::StandardButton def =
      question ? (ui::DefaultAnswer(style) == ui::IDNO ? QMessageBox::No : QMessageBox::Yes) : QMessageBox::Ok;
  box.setDefaultButton(def);
  // The time's end presses the default button, as the user would.
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &box, [&box] {
    if (QAbstractButton* b = box.defaultButton()) b->click();
  });
  timer.start(static_cast<int>(std::clamp<int64_t>(ms, 0, 24 * 3600 * 1000)));
  if (made) made(&box);
  ui::EnterModal();
  box.exec();
  ui::LeaveModal();
  const QAbstractButton* clicked = box.clickedButton();
  if (question) return clicked == box.button(QMessageBox::No) ? ui::IDNO : clicked ? ui::IDYES : ui::IDNO;
  return ui::IDOK;
}

int ShowScriptMenu(const std::vector<SCRIPTMENUITEM>& items, const QPoint& at, QWidget* parent) {
  QMenu menu(parent);
  menu.setObjectName("ScriptMenu");
  int index = 0;
  for (const SCRIPTMENUITEM& item : items) {
    if (item.text.empty()) {
      menu.addSeparator();
      continue;
    }
    QString label = QString::fromUtf8(item.text.c_str());
    label.replace('&', "&&");
    if (item.number) label = QStringLiteral("&") + QChar(item.number) + QStringLiteral(" ") + label;
    QAction* a = menu.addAction(label);
    a->setData(index++);
  }
  QAction* chosen = nullptr;
  ui::EnterModal();
  chosen = menu.exec(at);
  ui::LeaveModal();
  return chosen ? chosen->data().toInt() : -1;
}
