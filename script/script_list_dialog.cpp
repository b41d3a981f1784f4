#include "script/script_list_dialog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cerrno>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "script/script_commands.h"
#include "shell/config.h"
#include "shell/helpers.h"

namespace {

constexpr int kPathRole = Qt::UserRole;

}  // namespace

SCRIPTLISTDIALOG::SCRIPTLISTDIALOG(MODE m, QWidget* parent, const std::string& folder)
    : QDialog(parent), mode(m), dir(folder.empty() ? ScriptDirectory() : folder) {
  setObjectName(m == RUN ? "ExecScript" : "EditScript");
  setWindowTitle(m == RUN ? QStringLiteral("スクリプトの実行") : QStringLiteral("スクリプトの編集"));

  list = new QListWidget(this);
  list->setObjectName("scriptList");
  auto* listLabel = new QLabel(QStringLiteral("スクリプト一覧(&L):"), this);
  listLabel->setBuddy(list);
  byName = new QRadioButton(QStringLiteral("名前順(&A)"), this);
  byName->setObjectName("byName");
  byDate = new QRadioButton(QStringLiteral("日付順(&S)"), this);
  byDate->setObjectName("byDate");
  (config.SortByName ? byName : byDate)->setChecked(true);
  description = new QLabel(this);
  description->setObjectName("description");
  description->setFrameShape(QFrame::StyledPanel);
  description->setMinimumHeight(description->fontMetrics().height() + 8);
  description->setTextFormat(Qt::PlainText);

  auto* buttons = new QDialogButtonBox(this);
  ok = buttons->addButton(m == RUN ? QStringLiteral("実行(&X)") : QStringLiteral("編集(&E)"),
                          QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  if (m == EDIT) {
    QPushButton* create = buttons->addButton(QStringLiteral("新規作成(&N)"), QDialogButtonBox::ActionRole);
    create->setObjectName("new");
    connect(create, &QPushButton::clicked, this, [this] { CreateNew(); });
  }
  QPushButton* cancel = buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");
  connect(ok, &QPushButton::clicked, this, [this] { Choose(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(list, &QListWidget::itemActivated, this, [this] { Choose(); });
  connect(list, &QListWidget::currentRowChanged, this, [this] { ShowDescription(); });
  connect(byName, &QRadioButton::toggled, this, [this](bool on) { SortByName(on); });

  auto* sort = new QHBoxLayout;
  sort->addWidget(byName);
  sort->addWidget(byDate);
  sort->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(listLabel);
  layout->addWidget(list, 1);
  layout->addLayout(sort);
  layout->addWidget(description);
  layout->addWidget(buttons);
  resize(460, 360);
  Fill({});
}

void SCRIPTLISTDIALOG::Fill(const QString& keep) {
  list->clear();
  for (const SCRIPTFILEENTRY& f : ListScriptFiles(dir, config.SortByName != 0)) {
    auto* item = new QListWidgetItem(QString::fromUtf8(f.name.c_str()), list);
    item->setData(kPathRole, QString::fromUtf8(f.path.c_str()));
  }
  if (!keep.isEmpty() && Select(keep)) return;
  if (list->count() > 0) list->setCurrentRow(0);
  ok->setEnabled(list->count() > 0);
  ShowDescription();
}

QStringList SCRIPTLISTDIALOG::Names() const {
  QStringList n;
  for (int i = 0; i < list->count(); ++i) n << list->item(i)->text();
  return n;
}

bool SCRIPTLISTDIALOG::Select(const QString& name) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->item(i)->text() == name) {
      list->setCurrentRow(i);
      return true;
    }
  }
  return false;
}

std::string SCRIPTLISTDIALOG::SelectedPath() const {
  const QListWidgetItem* item = list->currentItem();
  return item ? item->data(kPathRole).toString().toStdString() : std::string();
}

QString SCRIPTLISTDIALOG::Description() const { return description->text(); }

void SCRIPTLISTDIALOG::ShowDescription() {
  const std::string path = SelectedPath();
  description->setText(path.empty() ? QString()
                                    : QString::fromUtf8(jcode::SjisToUtf8(ScriptFileDescription(path)).c_str()));
}

void SCRIPTLISTDIALOG::SortByName(bool on) {
  config.SortByName = on ? 1 : 0;
  if (byName->isChecked() != on) (on ? byName : byDate)->setChecked(true);
  const QListWidgetItem* item = list->currentItem();
  Fill(item ? item->text() : QString());
}

void SCRIPTLISTDIALOG::Choose() {
  const std::string path = SelectedPath();
  if (path.empty()) return;
  accept();
  if (mode == RUN)
    StartScriptFile(path);
  else
    OpenScriptInEditor(path, 0);
}

void SCRIPTLISTDIALOG::CreateNew() {
  std::string path = ui::Current().ChooseFile("スクリプトの新規作成", dir, "スクリプト (*.hsc *.scr)", true);
  if (path.empty()) return;
  if (path[0] != '/') path = dir + "/" + path;
  if (!IsScriptFileName(path)) path += ".hsc";
  // O_EXCL: an existing script is opened as it is, never emptied.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
  } else if (errno != EEXIST) {
    ErrorMessage(path + "\nファイルを作成できません。");
    return;
  }
  accept();
  OpenScriptInEditor(path, 0);
}

void ExecScriptDialog(QWidget* parent) {
  SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::RUN, parent);
  ui::EnterModal();
  d.exec();
  ui::LeaveModal();
}

void EditScriptDialog(QWidget* parent) {
  SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::EDIT, parent);
  ui::EnterModal();
  d.exec();
  ui::LeaveModal();
}
