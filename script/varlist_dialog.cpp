#include "script/varlist_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>

#include "platform/jcode.h"
#include "script/script.h"
#include "script/value.h"
#include "script/var.h"
#include "script/varfile.h"

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }
QString FromSjis(const std::string& s) { return QString::fromStdString(jcode::SjisToUtf8(s)); }
std::string ToSjis(const QString& s) { return jcode::Utf8ToSjis(s.toStdString()); }

bool Secret(const std::string& name) { return name.size() >= 2 && name[0] == '%' && name[1] == '%'; }

constexpr int kNameRole = Qt::UserRole;
constexpr int kNumericRole = Qt::UserRole + 1;
constexpr int kNumberRole = Qt::UserRole + 2;

// Rows sort by name, or by value with numbers first (by value), then strings.
class VARITEM : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& o) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    const std::string a = data(0, kNameRole).toByteArray().toStdString();
    const std::string b = o.data(0, kNameRole).toByteArray().toStdString();
    if (column == 1) {
      const bool na = data(0, kNumericRole).toBool(), nb = o.data(0, kNumericRole).toBool();
      if (na != nb) return na;
      if (na) return data(0, kNumberRole).toInt() < o.data(0, kNumberRole).toInt();
      return text(1) < o.text(1);
    }
    return a < b;
  }
};

}  // namespace

QString VarListValue(const std::string& name, const std::string& value, bool numeric) {
  if (numeric) return QString::fromStdString(value);
  if (Secret(name)) return QStringLiteral("???");
  return FromSjis(varfile::EscapeText(value));
}

VARLISTDIALOG::VARLISTDIALOG(QWidget* parent) : QDialog(parent) {
  setObjectName("VARLIST");
  setWindowTitle(U("変数一覧"));
  list = new QTreeWidget;
  list->setColumnCount(2);
  list->setHeaderLabels({U("変数名"), U("値")});
  list->setRootIsDecorated(false);
  list->setSortingEnabled(true);
  list->sortByColumn(0, Qt::AscendingOrder);
  list->setMinimumSize(420, 260);
  auto* modify = new QPushButton(U("修正(&M)..."));
  auto* add = new QPushButton(U("新規(&N)..."));
  auto* del = new QPushButton(U("削除(&D)"));
  auto* close = new QPushButton(U("閉じる(&C)"));
  connect(modify, &QPushButton::clicked, this, [this] { Modify(); });
  connect(add, &QPushButton::clicked, this, [this] { New(); });
  connect(del, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { Modify(); });
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {modify, add, del, close}) buttons->addWidget(b);
  buttons->addStretch();
  auto* row = new QHBoxLayout;
  row->addWidget(list);
  row->addLayout(buttons);
  auto* all = new QVBoxLayout(this);
  all->addLayout(row);
  all->addWidget(new QLabel(U("%で始まる変数は永久的変数です。")));
  Refresh();
  previousOnChange = VAR::onChange;
  VAR::onChange = [this] {
    if (previousOnChange) previousOnChange();
    Refresh();
  };
}

VARLISTDIALOG::~VARLISTDIALOG() { VAR::onChange = previousOnChange; }

void VARLISTDIALOG::Refresh() {
  const std::string keep = Selected();
  list->setSortingEnabled(false);
  list->clear();
  VAR::ForEach([&](const std::string& name, const std::string& value, bool numeric) {
    auto* item = new VARITEM(list);
    item->setText(0, FromSjis(name));
    item->setText(1, VarListValue(name, value, numeric));
    item->setData(0, kNameRole, QByteArray::fromStdString(name));
    item->setData(0, kNumericRole, numeric);
    item->setData(0, kNumberRole, numeric ? std::atoi(value.c_str()) : 0);
    if (name == keep) item->setSelected(true);
  });
  list->setSortingEnabled(true);
  if (list->selectedItems().isEmpty() && list->topLevelItemCount() > 0)
    list->setCurrentItem(list->topLevelItem(0));
}

std::string VARLISTDIALOG::Selected() const {
  const QList<QTreeWidgetItem*> s = list->selectedItems();
  QTreeWidgetItem* item = s.isEmpty() ? list->currentItem() : s.first();
  return item ? item->data(0, kNameRole).toByteArray().toStdString() : std::string();
}

void VARLISTDIALOG::DeleteSelected() {
  const std::string name = Selected();
  if (name.empty()) return;
  if (VAR::IsNumeric(name))
    VAR::SetNumVar(name, 0);
  else
    VAR::SetVar(name, "");
}

void VARLISTDIALOG::Modify() {
  const std::string name = Selected();
  if (name.empty()) return;
  MODIFYVARDIALOG d(name, this);
  if ((runSubDialog ? runSubDialog(d) : d.exec()) == QDialog::Accepted) d.Apply();
}

void VARLISTDIALOG::New() {
  NEWVARDIALOG d(this);
  if ((runSubDialog ? runSubDialog(d) : d.exec()) == QDialog::Accepted) d.Apply();
}

MODIFYVARDIALOG::MODIFYVARDIALOG(const std::string& n, QWidget* parent) : QDialog(parent), name(n) {
  setObjectName("MODIFYVAR");
  setWindowTitle(U("変数の修正"));
  value = new QLineEdit;
  value->setObjectName("value");
  value->setMinimumWidth(320);
  const bool numeric = VAR::IsNumeric(name);
  if (numeric) {
    value->setText(QString::number(VAR::GetNumVar(name)));
  } else {
    value->setText(FromSjis(varfile::EscapeText(VAR::GetVar(name))));
    // A secret is never shown, not even while it is edited.
    if (Secret(name)) value->setEchoMode(QLineEdit::Password);
  }
  auto* form = new QFormLayout(this);
  form->addRow(U("変数名:"), new QLabel(FromSjis(name)));
  form->addRow(U("値:"), value);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(box);
}

bool MODIFYVARDIALOG::Apply() const {
  const std::string text = ToSjis(value->text());
  if (VAR::IsNumeric(name)) return VAR::SetNumVar(name, static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)));
  return VAR::SetVar(name, varfile::UnescapeText(text));
}

NEWVARDIALOG::NEWVARDIALOG(QWidget* parent) : QDialog(parent) {
  setObjectName("NEWVAR");
  setWindowTitle(U("変数の新規作成"));
  name = new QLineEdit;
  name->setObjectName("name");
  name->setMaxLength(40);
  value = new QLineEdit;
  value->setObjectName("value");
  value->setMinimumWidth(320);
  permanent = new QRadioButton(U("永久的変数"));
  temporary = new QRadioButton(U("一時的変数"));
  permanent->setChecked(true);
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(permanent);
  kinds->addWidget(temporary);
  auto* form = new QFormLayout(this);
  form->addRow(U("変数名:"), name);
  form->addRow(U("値:"), value);
  form->addRow(kinds);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(box);
}

std::string NEWVARDIALOG::StoredName() const {
  std::string n = ToSjis(name->text());
  if (n.empty()) return n;
  // Scripts name their variables in upper case (the compiler makes them so).
  ToUpper(n.data());
  const char lead = permanent->isChecked() ? '%' : '#';
  if (n[0] == '%' || n[0] == '#')
    n[0] = lead;
  else
    n.insert(n.begin(), lead);
  if (n.size() == 1) return {};
  return FormVarName(n, SCRIPT::cNest());
}

bool NEWVARDIALOG::Apply() const {
  const std::string n = StoredName();
  if (n.empty()) return false;
  const std::string v = varfile::UnescapeText(ToSjis(value->text()));
  if (VAR::IsNumeric(n)) return VAR::SetNumVar(n, static_cast<int32_t>(std::strtol(v.c_str(), nullptr, 10)));
  return VAR::SetVar(n, v);
}

void ShowVarList(QWidget* parent) {
  VARLISTDIALOG d(parent);
  d.exec();
}
