// The stock property dialog's window.
#include "stock/stockprop_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/ui.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

StockPropDialog::StockPropDialog(const STOCKPROPDATA& d, QWidget* parent) : QDialog(parent), data(d) {
  setObjectName("StockPropDialog");
  setWindowTitle(QStringLiteral("ストックファイルのプロパティ"));
  auto* top = new QVBoxLayout(this);

  // What the stock holds.
  auto* info = new QFormLayout;
  for (const STOCKPROPROW& row : StockPropSummary(data)) {
    auto* value = new QLabel(Q(row.value));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info->addRow(Q(row.label), value);
  }
  top->addLayout(info);

  // The retention mode and its settings.
  auto* modeBox = new QGroupBox(QStringLiteral("保存方法"));
  auto* grid = new QGridLayout(modeBox);
  modes = new QButtonGroup(this);
  auto* ring = new QRadioButton(QString::fromUtf8(kStockModeRing));
  auto* backup = new QRadioButton(QString::fromUtf8(kStockModeBackup));
  auto* daily = new QRadioButton(QString::fromUtf8(kStockModeDaily));
  ring->setObjectName("modeRing");
  backup->setObjectName("modeBackup");
  daily->setObjectName("modeDaily");
  modes->addButton(ring, int(STOCKMODE::Ring));
  modes->addButton(backup, int(STOCKMODE::Backup));
  modes->addButton(daily, int(STOCKMODE::Daily));

  maxLines = new QLineEdit(Q(data.maxLinesEntry));
  maxLines->setObjectName("maxLines");
  maxLines->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}(\\.[0-9]?)?"), maxLines));
  auto* ringRow = new QHBoxLayout;
  ringRow->addWidget(new QLabel(QStringLiteral("最大行数:")));
  ringRow->addWidget(maxLines);
  ringRow->addWidget(new QLabel(QStringLiteral("万行")));

  monthsOn = new QCheckBox(QStringLiteral("次の月数分溜まったらバックアップする:"));
  monthsOn->setObjectName("monthsOn");
  months = new QSpinBox;
  months->setObjectName("months");
  months->setRange(2, 24);
  months->setSuffix(QStringLiteral("ヶ月"));
  linesOn = new QCheckBox(QStringLiteral("次の行数を超えたらバックアップする:"));
  linesOn->setObjectName("linesOn");
  lines = new QSpinBox;
  lines->setObjectName("lines");
  lines->setRange(1, 400);
  lines->setSuffix(QStringLiteral("万行"));
  monthsOn->setChecked(data.backupMonthsOn);
  months->setValue(data.backupMonths);
  linesOn->setChecked(data.backupLinesOn);
  lines->setValue(data.backupLinesUnits);

  grid->addWidget(ring, 0, 0, 1, 2);
  grid->addLayout(ringRow, 1, 1);
  grid->addWidget(backup, 2, 0, 1, 2);
  grid->addWidget(monthsOn, 3, 1);
  grid->addWidget(months, 3, 2);
  grid->addWidget(linesOn, 4, 1);
  grid->addWidget(lines, 4, 2);
  grid->addWidget(daily, 5, 0, 1, 2);
  grid->setColumnMinimumWidth(0, 20);
  top->addWidget(modeBox);
  if (QAbstractButton* b = modes->button(int(data.mode))) b->setChecked(true);

  // The colour syntax file.
  auto* syntaxRow = new QHBoxLayout;
  syntaxFile = new QLineEdit(Q(data.syntaxFile));
  syntaxFile->setObjectName("syntaxFile");
  syntaxFile->setMaxLength(STOCK_TAGFILE_SIZE - 1);
  auto* browse = new QPushButton(QStringLiteral("参照(&R)..."));
  auto* noSyntax = new QPushButton(QStringLiteral("なし(&N)"));
  syntaxRow->addWidget(new QLabel(QStringLiteral("カラー構文定義ファイル:")));
  syntaxRow->addWidget(syntaxFile, 1);
  syntaxRow->addWidget(browse);
  syntaxRow->addWidget(noSyntax);
  top->addLayout(syntaxRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  top->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(modes, &QButtonGroup::idToggled, this, [this](int, bool) { UpdateEnabled(); });
  connect(monthsOn, &QCheckBox::toggled, this, [this](bool) { UpdateEnabled(); });
  connect(linesOn, &QCheckBox::toggled, this, [this](bool) { UpdateEnabled(); });
  connect(browse, &QPushButton::clicked, this, [this] { ChooseSyntaxFile(); });
  connect(noSyntax, &QPushButton::clicked, this, [this] { syntaxFile->setText(QString::fromUtf8(kNoSyntaxFile)); });
  UpdateEnabled();
}

void StockPropDialog::UpdateEnabled() {
  const int mode = modes->checkedId();
  maxLines->setEnabled(mode == int(STOCKMODE::Ring));
  const bool backup = mode == int(STOCKMODE::Backup);
  monthsOn->setEnabled(backup);
  linesOn->setEnabled(backup);
  months->setEnabled(backup && monthsOn->isChecked());
  lines->setEnabled(backup && linesOn->isChecked());
}

void StockPropDialog::ChooseSyntaxFile() {
  std::string name = ui::Current().ChooseFile("カラー構文定義ファイル", "",
                                              "カラー構文定義ファイル (*.tag);;すべてのファイル (*)", false);
  if (!name.empty()) syntaxFile->setText(Q(name));
}

STOCKPROPDATA StockPropDialog::Result() const {
  STOCKPROPDATA r = data;
  const int mode = modes->checkedId();
  if (mode >= 0) r.mode = STOCKMODE(mode);
  r.maxLinesEntry = maxLines->text().toStdString();
  r.backupMonthsOn = monthsOn->isChecked();
  r.backupMonths = months->value();
  r.backupLinesOn = linesOn->isChecked();
  r.backupLinesUnits = lines->value();
  r.syntaxFile = syntaxFile->text().trimmed().toStdString();
  return r;
}

void InstallStockPropDialog() {
  stockPropHooks.window = [](STOCKPROPDATA& data) {
    StockPropDialog dialog(data, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) return int(ui::IDCANCEL);
    data = dialog.Result();
    return int(ui::IDOK);
  };
}
