// The backup dialog, its progress box and the offer after a call.
#include "shell/backup_dialog.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "shell/config.h"
#include "stock/stock.h"

namespace {

QString U(const std::string& sjis) { return QString::fromStdString(jcode::SjisToUtf8(sjis)); }

QString DateText(int year, int month, int day) {
  return QStringLiteral("%1年%2月%3日").arg(year).arg(month).arg(day);
}

bool IsDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}


// "バックアップ処理中": a bar and a stop button while the files are written.
class BackupProgress : public QDialog {
 public:
  explicit BackupProgress(QWidget* parent) : QDialog(parent) {
    setObjectName("BackupProgress");
    setWindowTitle(QStringLiteral("バックアップ処理中"));
    setWindowModality(Qt::ApplicationModal);
    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(QStringLiteral("バックアップ処理中")));
    bar = new QProgressBar;
    bar->setObjectName("bar");
    top->addWidget(bar);
    stop = new QPushButton(QStringLiteral("中止"));
    stop->setObjectName("stop");
    top->addWidget(stop, 0, Qt::AlignHCenter);
    connect(stop, &QPushButton::clicked, this, [this] { reject(); });
    setMinimumWidth(320);
  }
  bool Step(int done, int total) {
    bar->setRange(0, std::max(1, total));
    bar->setValue(done);
    QCoreApplication::processEvents();
    return !stopped;
  }
  void reject() override {
    stopped = true;
    stop->setEnabled(false);
  }

 private:
  QProgressBar* bar;
  QPushButton* stop;
  bool stopped = false;
};

QPointer<BackupDialog> g_open;  // the dialog last opened, if not yet deleted

// Whether a backup dialog is up (a closed one may wait for its deletion).
bool DialogUp() { return g_open && g_open->isVisible(); }

}  // namespace

std::string DefaultBackupDir() { return DataDir() + "/backup"; }

BackupDialog::BackupDialog(const BACKUPCHECK& c, const SYSTEMTIME& t, QWidget* parent)
    : QDialog(parent), check(c), today(t) {
  setObjectName("BackupDialog");
  setWindowTitle(QStringLiteral("バックアップ方法"));
  auto* top = new QVBoxLayout(this);

  heading = new QLabel(U(check.heading));
  heading->setObjectName("heading");
  heading->setVisible(check.reason != 0);
  top->addWidget(heading);

  choices = new QButtonGroup(this);
  const char* third = check.reason ? "バックアップを延期する(&E)" : "古い方をバックアップするだけで削除しない(&E)";
  const char* texts[] = {"古い方をバックアップして削除する(&B)", "古い方を削除する(&D)", third};
  const char* names[] = {"backupAndDelete", "deleteOnly", check.reason ? "postpone" : "backupOnly"};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QRadioButton(QString::fromUtf8(texts[i]));
    b->setObjectName(names[i]);
    choices->addButton(b, i);
    top->addWidget(b);
  }
  choices->button(BackupAndDelete)->setChecked(true);

  // The month slider: from the oldest call's month to this month, starting
  // half way.
  auto* span = new QGroupBox(QStringLiteral("対象の期間"));
  auto* grid = new QGridLayout(span);
  const int current = today.wYear * 12 + today.wMonth - 1;
  const int oldest = check.oldestMonth ? std::min(check.oldestMonth, current) : current;
  months = new QSlider(Qt::Horizontal);
  months->setObjectName("months");
  months->setRange(oldest, current);
  months->setPageStep(1);
  months->setValue(oldest + (current - oldest) / 2);
  SYSTEMTIME first{};
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime) first = FileTimeToSystemTime(STOCK::fileheader.ftOldestCall);
  oldestLabel = new QLabel(first.wYear ? DateText(first.wYear, first.wMonth, first.wDay) : QString());
  oldestLabel->setObjectName("oldestLabel");
  todayLabel = new QLabel(DateText(today.wYear, today.wMonth, today.wDay));
  todayLabel->setObjectName("todayLabel");
  range = new QLabel;
  range->setObjectName("range");
  grid->addWidget(months, 0, 0, 1, 2);
  grid->addWidget(oldestLabel, 1, 0, Qt::AlignLeft);
  grid->addWidget(todayLabel, 1, 1, Qt::AlignRight);
  grid->addWidget(range, 2, 0, 1, 2, Qt::AlignHCenter);
  top->addWidget(span);

  auto* form = new QGroupBox(QStringLiteral("バックアップの形式"));
  auto* formLayout = new QVBoxLayout(form);
  formats = new QButtonGroup(this);
  const char* formatTexts[] = {"ストックファイル形式(&S)", "テキストファイル＋制御情報ファイル(&M)",
                               "テキストファイルのみ(&T)"};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QRadioButton(QString::fromUtf8(formatTexts[i]));
    b->setObjectName(QStringLiteral("format%1").arg(i));
    formats->addButton(b, i);
    formLayout->addWidget(b);
  }
  formats->button(std::clamp(config.BackupFormat, 0, 2))->setChecked(true);
  top->addWidget(form);

  auto* where = new QGridLayout;
  where->addWidget(new QLabel(QStringLiteral("ディレクトリ:")), 0, 0);
  dir = new QLineEdit(QString::fromStdString(config.BackupPath));
  dir->setObjectName("dir");
  dir->setMaxLength(259);
  dir->setPlaceholderText(QString::fromStdString(DefaultBackupDir()));
  where->addWidget(dir, 0, 1);
  browse = new QPushButton(QStringLiteral("..."));
  browse->setObjectName("browse");
  where->addWidget(browse, 0, 2);
  where->addWidget(new QLabel(QStringLiteral("ファイル名:")), 1, 0);
  name = new QLineEdit(STOCK::fValid ? U(ProposedBackupName()) : QString());
  name->setObjectName("name");
  where->addWidget(name, 1, 1, 1, 2);
  top->addLayout(where);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &BackupDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &BackupDialog::reject);
  top->addWidget(buttons);

  connect(months, &QSlider::valueChanged, this, [this] { UpdateRange(); });
  connect(choices, &QButtonGroup::idToggled, this, [this] { UpdateEnabled(); });
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  UpdateRange();
  UpdateEnabled();
}

BackupDialog::Choice BackupDialog::Chosen() const { return Choice(std::max(0, choices->checkedId())); }
int BackupDialog::ChosenMonth() const { return months->value(); }
int BackupDialog::ChosenLines() const { return STOCK::fValid ? BackupLinesUntilMonth(months->value()) : 0; }
QString BackupDialog::RangeText() const { return range->text(); }
QString BackupDialog::Heading() const { return heading->isVisibleTo(this) ? heading->text() : QString(); }

void BackupDialog::UpdateRange() {
  const int m = months->value();
  const int lines = ChosenLines();
  const int all = STOCK::fValid ? STOCK::UsedItems() : 0;
  const int percent = all > 0 ? int((int64_t(lines) * 100 + all / 2) / all) : 0;
  range->setText(QStringLiteral("%1年%2月分まで（%3万行,%4%）")
                     .arg(m / 12)
                     .arg(m % 12 + 1)
                     .arg((lines + 5000) / 10000)
                     .arg(percent));
}

void BackupDialog::UpdateEnabled() {
  const Choice c = Chosen();
  const bool writes = c == BackupAndDelete || (c == PostponeOrKeep && check.reason == 0);
  for (QAbstractButton* b : formats->buttons()) b->setEnabled(writes);
  dir->setEnabled(writes);
  browse->setEnabled(writes);
  name->setEnabled(writes);
  months->setEnabled(c != PostponeOrKeep || check.reason == 0);
}

void BackupDialog::SetOnline(bool on) {
  online = on;
  // During a call the screen's lines are in use: the stock is backed up but
  // nothing is deleted until the call has ended.
  choices->button(BackupAndDelete)->setEnabled(!on);
  choices->button(DeleteOnly)->setEnabled(!on);
  if (on && check.reason == 0) choices->button(PostponeOrKeep)->setChecked(true);
  UpdateEnabled();
}

void BackupDialog::Browse() {
  const std::string start = dir->text().isEmpty() ? DefaultBackupDir() : dir->text().toStdString();
  const std::string chosen = ui::Current().ChooseFile("バックアップ用ディレクトリの指定", start,
                                                      "ﾊﾞｯｸｱｯﾌﾟ等 (*.stk *.txt *.inf)", true);
  if (chosen.empty()) return;
  const size_t cut = chosen.rfind('/');
  dir->setText(QString::fromStdString(cut == std::string::npos ? std::string(".")
                                                                : (cut == 0 ? std::string("/") : chosen.substr(0, cut))));
}

BACKUPREQUEST BackupDialog::Request() const {
  BACKUPREQUEST r;
  r.format = std::max(0, formats->checkedId());
  std::string d = dir->text().toStdString();
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  r.dir = d.empty() ? DefaultBackupDir() : d;
  r.name = name->text().toStdString();
  r.lines = ChosenLines();
  r.online = online;
  r.deleteAfter = Chosen() == BackupAndDelete;
  return r;
}

bool BackupDialog::RunBackup() {
  BACKUPREQUEST r = Request();
  if (r.name.empty() || r.name.find('/') != std::string::npos) {
    MyMessageBox("バックアップファイルの名前が正しくありません。", ui::MB_OK | ui::MB_ICONWARNING);
    return false;
  }
  // The default directory is made on first use; one the user named must
  // already exist.
  if (dir->text().trimmed().isEmpty() && !IsDir(r.dir)) mkdir(r.dir.c_str(), 0755);
  if (!IsDir(r.dir)) {
    MyMessageBox("バックアップ用に指定されたディレクトリが存在しません。", ui::MB_OK | ui::MB_ICONWARNING);
    return false;
  }
  config.BackupFormat = r.format;
  const std::string keep = dir->text().toStdString();
  if (keep.size() < sizeof config.BackupPath) std::strcpy(config.BackupPath, keep.c_str());
  // An existing file of that name is asked about before anything is written.
  const std::string base = r.dir + "/" + r.name;
  std::string existing;
  for (const std::string& p : {base + (r.format == 0 ? ".stk" : ".txt"), r.format == 1 ? base + ".sti" : std::string()}) {
    struct stat st {};
    if (!p.empty() && lstat(p.c_str(), &st) == 0) existing += (existing.empty() ? "" : "\n") + p;
  }
  if (!existing.empty()) {
    if (MyMessageBox(existing + "\nは既にあります。置き換えますか？", ui::MB_YESNO | ui::MB_ICONQUESTION) != ui::IDYES)
      return false;
    r.replace = true;
  }
  BackupProgress progress(this);
  progress.show();
  r.progress = [&progress](int done, int total) { return progress.Step(done, total); };
  std::string err;
  const int before = STOCK::UsedItems();
  const int ok = Backup(r, &err);
  progress.hide();
  if (!ok) {
    if (!err.empty()) MyMessageBox(jcode::SjisToUtf8(err), ui::MB_OK | ui::MB_ICONWARNING);
    return false;
  }
  if (r.deleteAfter && STOCK::UsedItems() != before && afterDelete) afterDelete();
  return true;
}

void BackupDialog::accept() {
  const Choice c = Chosen();
  if (c == PostponeOrKeep && check.reason != 0) {
    PostponeBackup(check.reason);
  } else if (c == DeleteOnly) {
    const int n = ChosenLines();  // never on line: the choice is disabled then
    if (n > 0) {
      STOCK::Delete(cvOldest, n);
      STOCK::Save();
      if (afterDelete) afterDelete();
    }
  } else if (!RunBackup()) {
    return;  // the dialog stays
  }
  QDialog::accept();
}

namespace {

BackupDialog* Open(QWidget* window, const BACKUPCHECK& c, const SYSTEMTIME& today,
                   const std::function<void()>& afterDelete) {
  auto* d = new BackupDialog(c, today, window);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::WindowModal);
  d->SetOnline(fOnline != 0);
  d->afterDelete = afterDelete;
  g_open = d;
  d->open();
  return d;
}

std::function<void()> g_afterDelete;

}  // namespace

BackupDialog* OfferBackup(QWidget* window, const SYSTEMTIME& today) {
  if (!window || DialogUp() || !STOCK::fValid || STOCK::fTemp) return nullptr;
  const BACKUPCHECK c = CheckBackup(today);
  if (c.reason == 0) return nullptr;
  return Open(window, c, today, g_afterDelete);
}

BackupDialog* ManualBackup(QWidget* window, const SYSTEMTIME& today) {
  if (DialogUp() || !STOCK::fValid || STOCK::fTemp) return nullptr;
  // Any stock can be backed up by hand, in backup mode or not.
  BACKUPCHECK c;
  c.currentMonth = today.wYear * 12 + today.wMonth - 1;
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime == 0) STOCK::CalcOldestDateTime();
  if (STOCK::fileheader.ftOldestCall.dwHighDateTime) {
    const SYSTEMTIME oldest = FileTimeToSystemTime(STOCK::fileheader.ftOldestCall);
    c.oldestMonth = oldest.wYear * 12 + oldest.wMonth - 1;
  }
  return Open(window, c, today, g_afterDelete);
}

void SetBackupAfterDelete(std::function<void()> afterDelete) { g_afterDelete = std::move(afterDelete); }

QAction* AddManualBackupCommand(QWidget* window, QMenu* menu) {
  if (!window || !menu) return nullptr;
  // Beside the stock's properties when the menu has them.
  QAction* after = nullptr;
  const QList<QAction*> items = menu->actions();
  for (int i = 0; i + 1 < items.size(); ++i)
    if (items[i]->text().startsWith(QStringLiteral("ストックのプロパティ"))) after = items[i + 1];
  auto* a = new QAction(QStringLiteral("ストックのバックアップ(&K)..."), menu);
  menu->insertAction(after, a);
  a->setObjectName("actManualBackup");
  QPointer<QWidget> w(window);
  QObject::connect(a, &QAction::triggered, window, [w] {
    if (w) ManualBackup(w, BackupToday());
  });
  return a;
}

void OfferBackupLater(QWidget* window) {
  if (!window) return;
  // From the event loop, not from inside the hang-up or the script's end,
  // and only off line.
  QPointer<QWidget> w(window);
  QTimer::singleShot(0, window, [w] {
    if (w && !fOnline) OfferBackup(w, BackupToday());
  });
}
