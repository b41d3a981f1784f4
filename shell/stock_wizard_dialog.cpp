#include "shell/stock_wizard_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWizardPage>
#include <functional>

#include "platform/ui.h"
#include "stock/stock.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A name for the new stock that no file of the directory has yet.
QString FreeStockName() {
  for (int k = 2;; ++k) {
    const QString n = QStringLiteral("quillnet%1.stk").arg(k);
    if (!QFileInfo::exists(n)) return n;
  }
}

}  // namespace

class STOCKWIZARD::PAGE : public QWizardPage {
 public:
  explicit PAGE(std::function<bool()> done) : complete(std::move(done)) {}
  bool isComplete() const override { return complete(); }
  void Changed() { emit completeChanged(); }

 private:
  std::function<bool()> complete;
};

STOCKWIZARD::STOCKWIZARD(QWidget* parent) : QWizard(parent) {
  setObjectName("StockWizard");
  setWindowTitle(U("ストックファイルの新規作成"));
  setWizardStyle(QWizard::ClassicStyle);

  first = new PAGE([this] { return !name->text().trimmed().isEmpty(); });
  first->setTitle(U("ストックファイルの名前"));
  first->setSubTitle(U("通信の記録を保存するファイルの名前と、使うカラー構文を決めます。"));
  {
    auto* form = new QFormLayout(first);
    name = new QLineEdit(first);
    name->setObjectName("StockName");
    form->addRow(U("ファイル名(&N):"), name);
    auto* row = new QHBoxLayout;
    syntax = new QLineEdit(first);
    syntax->setObjectName("StockSyntax");
    syntax->setPlaceholderText(QString::fromUtf8(kNoSyntaxFile));
    auto* browse = new QPushButton(U("参照(&B)..."), first);
    row->addWidget(syntax);
    row->addWidget(browse);
    form->addRow(U("カラー構文ファイル(&S):"), row);
    connect(browse, &QPushButton::clicked, this, [this] {
      const QString f = QFileDialog::getOpenFileName(this, U("カラー構文ファイル"), syntax->text(),
                                                     U("カラー構文ファイル (*.tag);;すべてのファイル (*)"));
      if (!f.isEmpty()) syntax->setText(f);
    });
    connect(name, &QLineEdit::textChanged, first, [this] { first->Changed(); });
  }
  addPage(first);

  second = new PAGE([this] { return Complete(); });
  second->setTitle(U("保存のしかた"));
  second->setSubTitle(U("ファイルに溜める行数と、古い分の扱い方を決めます。"));
  {
    auto* box = new QVBoxLayout(second);
    const char* labels[] = {kStockModeRing, kStockModeBackup, kStockModeDaily};
    for (int k = 0; k < 3; ++k) {
      modes[k] = new QRadioButton(QString::fromUtf8(labels[k]), second);
      modes[k]->setObjectName(QStringLiteral("StockMode%1").arg(k));
      box->addWidget(modes[k]);
      connect(modes[k], &QRadioButton::toggled, this, [this] { Refresh(); });
    }
    auto* form = new QFormLayout;
    lines = new QLineEdit(second);
    lines->setObjectName("StockLines");
    form->addRow(U("最大行数(&L) (万行):"), lines);
    columns = new QSpinBox(second);
    columns->setObjectName("StockColumns");
    columns->setRange(40, 250);
    form->addRow(U("1行の桁数(&W):"), columns);
    auto* monthRow = new QHBoxLayout;
    monthsOn = new QCheckBox(U("通信結果が溜まったら(&M):"), second);
    monthsOn->setObjectName("StockBackupMonthsOn");
    months = new QSpinBox(second);
    months->setObjectName("StockBackupMonths");
    months->setRange(2, 24);
    months->setSuffix(U(" ヶ月分"));
    monthRow->addWidget(monthsOn);
    monthRow->addWidget(months);
    form->addRow(U("バックアップの時期:"), monthRow);
    auto* lineRow = new QHBoxLayout;
    backupLinesOn = new QCheckBox(U("行数がこれを超えたら(&O):"), second);
    backupLinesOn->setObjectName("StockBackupLinesOn");
    backupLines = new QSpinBox(second);
    backupLines->setObjectName("StockBackupLines");
    backupLines->setRange(1, 400);
    backupLines->setSuffix(U(" 万行"));
    lineRow->addWidget(backupLinesOn);
    lineRow->addWidget(backupLines);
    form->addRow(QString(), lineRow);
    box->addLayout(form);
    size = new QLabel(second);
    size->setObjectName("StockSize");
    box->addWidget(size);
    connect(lines, &QLineEdit::textChanged, this, [this] { Refresh(); });
    // An entry below one unit shows as "0.x" ("0" becomes "0.1").
    connect(lines, &QLineEdit::editingFinished, this, [this] {
      const std::optional<int> n = ParseMaxLinesEntry(lines->text().toStdString());
      if (n && *n < 10000) lines->setText(QString::fromStdString(FormatMaxLinesEntry(*n)));
    });
    connect(columns, &QSpinBox::valueChanged, this, [this] { Refresh(); });
    for (QCheckBox* c : {monthsOn, backupLinesOn}) connect(c, &QCheckBox::toggled, this, [this] { Refresh(); });
  }
  addPage(second);

  STOCKWIZARDDATA d;
  d.path = FreeStockName().toStdString();
  d.syntaxFile = STOCK::fValid ? STOCK::fileheader.TagFile() : std::string();
  SetData(d);
}

void STOCKWIZARD::SetData(const STOCKWIZARDDATA& d) {
  name->setText(QString::fromStdString(d.path));
  syntax->setText(QString::fromStdString(d.syntaxFile));
  modes[int(d.mode)]->setChecked(true);
  lines->setText(QString::fromStdString(d.linesEntry));
  columns->setValue(d.columns);
  monthsOn->setChecked(d.backupMonthsOn);
  months->setValue(d.backupMonths);
  backupLinesOn->setChecked(d.backupLinesOn);
  backupLines->setValue(d.backupLinesUnits);
  Refresh();
}

STOCKWIZARDDATA STOCKWIZARD::Data() const {
  STOCKWIZARDDATA d;
  d.path = name->text().trimmed().toStdString();
  d.syntaxFile = syntax->text().trimmed().toStdString();
  d.mode = modes[1]->isChecked() ? STOCKMODE::Backup : modes[2]->isChecked() ? STOCKMODE::Daily : STOCKMODE::Ring;
  d.linesEntry = lines->text().toStdString();
  d.columns = columns->value();
  d.backupMonthsOn = monthsOn->isChecked();
  d.backupMonths = months->value();
  d.backupLinesOn = backupLinesOn->isChecked();
  d.backupLinesUnits = backupLines->value();
  return d;
}

QString STOCKWIZARD::SizeText() const {
  if (!modes[0]->isChecked()) return {};
  const std::optional<int> n = ParseMaxLinesEntry(lines->text().toStdString());
  if (!n) return {};
  return QString::fromStdString(StockSizeText(columns->value(), *n));
}

bool STOCKWIZARD::Complete() const {
  return !name->text().trimmed().isEmpty() && StockCreateArgs(Data()).has_value();
}

void STOCKWIZARD::Refresh() {
  const bool ring = modes[0]->isChecked(), backup = modes[1]->isChecked();
  lines->setEnabled(ring);
  for (QWidget* w : {static_cast<QWidget*>(monthsOn), static_cast<QWidget*>(backupLinesOn)}) w->setEnabled(backup);
  months->setEnabled(backup && monthsOn->isChecked());
  backupLines->setEnabled(backup && backupLinesOn->isChecked());
  const QString s = SizeText();
  if (ring)
    size->setText(s.isEmpty() ? U("最大行数は 0.1 から 500 までの数で入れてください。") : U("ファイルの大きさ: 約 ") + s);
  else
    size->setText(U("ファイルは行数に応じて大きくなります。"));
  if (second) second->Changed();
}

int RunStockWizard(QWidget* parent) {
  STOCKWIZARD w(parent);
  const int result = ui::Current().RunModal([&] { return w.exec(); });
  if (result != QDialog::Accepted) return -1;
  return CreateStockFromWizard(w.Data());
}
