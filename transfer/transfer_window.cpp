// The transfer windows (see transfer_window.h).
#include "transfer/transfer_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <fstream>
#include <iterator>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "shell/config.h"
#include "terminal/dispatch.h"
#include "transfer/figures.h"
#include "transfer/history.h"
#include "transfer/updown.h"

namespace {

QString U(const std::string& utf8) { return QString::fromStdString(utf8); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// ---- progress ----------------------------------------------------------------------

TransferProgressWindow::TransferProgressWindow(TRANSFER& transfer, QWidget* parent) : QDialog(parent), t(transfer) {
  setObjectName("UPLOADING");
  setWindowTitle(U(ProtocolDisplayName(t.protocol)));
  setModal(false);
  auto* grid = new QGridLayout;
  const char* labels[] = {"ﾌﾟﾛﾄｺﾙ:", "ﾌｧｲﾙ:", "全ﾊﾞｲﾄ数:", "処理済み:", "ﾘﾄﾗｲ回数:", "時間:", "状態:", "転送速度:", "時間予測:"};
  int row = 0;
  for (const char* l : labels) {
    auto* value = new QLabel;
    value->setMinimumWidth(260);
    grid->addWidget(new QLabel(QString::fromUtf8(l)), row, 0);
    grid->addWidget(value, row, 1);
    fields[QString::fromUtf8(l)] = value;
    ++row;
  }
  stop = new QPushButton(QStringLiteral("中断！"));
  stop->installEventFilter(this);
  connect(stop, &QPushButton::clicked, this, [this] { t.fStopProtocol = true; });
  auto* box = new QVBoxLayout(this);
  box->addLayout(grid);
  box->addWidget(stop, 0, Qt::AlignHCenter);
  tick = new QTimer(this);
  connect(tick, &QTimer::timeout, this, [this] { Refresh(); });
  tick->start(250);
  Refresh();
}

void TransferProgressWindow::Refresh() {
  const TICK now = clock ? clock() : t.Now();
  const long long queued = outQueue ? outQueue() : (t.line ? static_cast<long long>(t.line->OutQueue()) : 0);
  const TRANSFERFIGURES f = ProtocolFigures(t.stats, now, t.stats.upload ? queued : 0);
  auto set = [&](const char* label, const QString& text) {
    QLabel* l = fields[QString::fromUtf8(label)];
    if (l->text() != text) l->setText(text);
  };
  set("ﾌﾟﾛﾄｺﾙ:", U(ProtocolDisplayName(t.protocol)));
  set("ﾌｧｲﾙ:", U(t.stats.fileName));
  set("全ﾊﾞｲﾄ数:", U(f.total));
  set("処理済み:", U(f.processed));
  set("ﾘﾄﾗｲ回数:", U(f.retries));
  set("時間:", U(f.time));
  set("状態:", t.stats.status ? U(ProtocolStatusText(t.stats.status)) : U(t.stats.statusText));
  set("転送速度:", f.rate.empty() ? QString() : QStringLiteral("毎秒 %1 ﾊﾞｲﾄ").arg(U(f.rate)));
  set("時間予測:", f.estimate.empty() ? QString() : QStringLiteral("あと %1").arg(U(f.estimate)));
}

QString TransferProgressWindow::Field(const QString& label) const {
  auto it = fields.find(label);
  return it == fields.end() ? QString() : it->second->text();
}

bool TransferProgressWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == stop && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    switch (k->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_Left:
      case Qt::Key_Right:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Home:
      case Qt::Key_End:
        // The user scrolls the terminal while the transfer runs.
        if (forwardKey) forwardKey(k);
        return true;
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, e);
}

// ---- the file question -------------------------------------------------------------

DownloadQuestionDialog::DownloadQuestionDialog(const DOWNQUESTION& q, QWidget* parent) : QDialog(parent) {
  setObjectName(q.offerResume ? "DOWN2RESUME" : "DOWN2");
  setWindowTitle(QStringLiteral("ダウンロード"));
  auto* box = new QVBoxLayout(this);
  box->addWidget(new QLabel(U(q.path)));
  box->addWidget(new QLabel(QStringLiteral("同じ名前のファイルが存在します。")));
  auto add = [&](DOWNMODE m, const QString& text) {
    auto* b = new QRadioButton(text);
    box->addWidget(b);
    choices[m] = b;
  };
  add(DM_OVERWRITE, QStringLiteral("上書きしてしまう(&O)"));
  if (q.offerResume) add(DM_RESUME, QStringLiteral("続きの部分だけダウンロードする(&R)"));
  add(DM_APPEND, QStringLiteral("既存のファイルの後ろに追加する(&A)"));
  if (!q.spare.empty()) add(DM_RENAME, U(q.spare) + QStringLiteral("という名前でダウンロードする(&C)"));
  choices[q.spare.empty() ? DM_OVERWRITE : DM_RENAME]->setChecked(true);
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  cancel = buttons->addButton(QStringLiteral("ダウンロードを中止する(Esc)"), QDialogButtonBox::RejectRole);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { cancelled = true; });
  box->addWidget(buttons);
}

DOWNMODE DownloadQuestionDialog::Answer() const {
  if (cancelled || result() != QDialog::Accepted) return DM_CANCEL;
  for (const auto& [mode, b] : choices)
    if (b->isChecked()) return static_cast<DOWNMODE>(mode);
  return DM_CANCEL;
}

QRadioButton* DownloadQuestionDialog::Choice(DOWNMODE m) const {
  auto it = choices.find(m);
  return it == choices.end() ? nullptr : it->second;
}

// ---- the name question --------------------------------------------------------------

DownloadNameDialog::DownloadNameDialog(const std::string& failedPath, QWidget* parent) : QDialog(parent) {
  setObjectName("DOWNFILENAME");
  setWindowTitle(QStringLiteral("ファイル作成エラー"));
  auto* box = new QVBoxLayout(this);
  box->addWidget(new QLabel(QStringLiteral("ファイルの作成でエラーが発生しました。新しいファイル名を入力してください。")));
  box->addWidget(new QLabel(U(failedPath)));
  const size_t slash = failedPath.rfind('/');
  edit = new QLineEdit(U(slash == std::string::npos ? failedPath : failedPath.substr(slash + 1)));
  edit->selectAll();
  box->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  box->addWidget(buttons);
}

std::string DownloadNameDialog::Name() const {
  if (result() != QDialog::Accepted) return {};
  return edit->text().trimmed().toStdString();
}

// ---- the upload dialog ----------------------------------------------------------------

UploadDialog::UploadDialog(const std::string& d, bool several, QWidget* parent) : QDialog(parent), dir(d) {
  setWindowTitle(QStringLiteral("アップロード"));
  list = new QTreeWidget;
  list->setRootIsDecorated(false);
  list->setHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("サイズ"), QStringLiteral("日時")});
  list->setSelectionMode(several ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
  byName = new QRadioButton(QStringLiteral("名前順(&A)"));
  byTime = new QRadioButton(QStringLiteral("日付順(&S)"));
  byName->setChecked(true);
  connect(byTime, &QRadioButton::toggled, this, [this](bool on) { SortByDate(on); });
  connect(list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
  auto* sort = new QHBoxLayout;
  sort->addWidget(byName);
  sort->addWidget(byTime);
  sort->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* box = new QVBoxLayout(this);
  box->addWidget(new QLabel(U(dir)));
  box->addWidget(list);
  box->addLayout(sort);
  box->addWidget(buttons);
  resize(520, 360);
  Fill();
}

void UploadDialog::SortByDate(bool on) {
  byDate = on;
  if (byTime->isChecked() != on) (on ? byTime : byName)->setChecked(true);
  Fill();
}

void UploadDialog::Fill() {
  list->clear();
  QDir d(U(dir));
  // By date: the newest first, what a user looks for.
  const QFileInfoList files = d.entryInfoList(QDir::Files | QDir::Hidden, byDate ? QDir::Time : QDir::Name);
  for (const QFileInfo& f : files)
    list->addTopLevelItem(new QTreeWidgetItem(
        {f.fileName(), QString::number(f.size()), f.lastModified().toString(QStringLiteral("yyyy.MM.dd HH:mm"))}));
  for (int c = 0; c < list->columnCount(); ++c) list->resizeColumnToContents(c);
}

std::vector<std::string> UploadDialog::Shown() const {
  std::vector<std::string> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out.push_back(list->topLevelItem(i)->text(0).toStdString());
  return out;
}

void UploadDialog::Select(const std::vector<int>& rows) {
  list->clearSelection();
  for (int r : rows) {
    QTreeWidgetItem* item = list->topLevelItem(r);
    if (!item) continue;
    item->setSelected(true);
    // One file at a time where the protocol takes one.
    if (list->selectionMode() == QAbstractItemView::SingleSelection) break;
  }
}

std::vector<std::string> UploadDialog::Chosen() const {
  std::vector<std::string> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) out.push_back(dir + "/" + list->topLevelItem(i)->text(0).toStdString());
  return out;
}

// ---- history -----------------------------------------------------------------------

TransferHistoryWindow::TransferHistoryWindow(std::string d, std::string down, std::string up, QWidget* parent)
    : QDialog(parent), dir(std::move(d)), downloadDir(std::move(down)), uploadDir(std::move(up)) {
  setObjectName("TRANSHIST");
  setWindowTitle(QStringLiteral("転送履歴"));
  list = new QTreeWidget;
  list->setRootIsDecorated(false);
  list->setHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("サイズ"), QStringLiteral("方向"),
                         QStringLiteral("日時"), QStringLiteral("ホスト"), QStringLiteral("プロトコル"),
                         QStringLiteral("転送速度")});
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelected(); });
  auto* openB = new QPushButton(QStringLiteral("開く(&O)"));
  auto* delB = new QPushButton(QStringLiteral("削除(&D)"));
  auto* allB = new QPushButton(QStringLiteral("全て削除(&A)"));
  auto* closeB = new QPushButton(QStringLiteral("閉じる"));
  connect(openB, &QPushButton::clicked, this, [this] { OpenSelected(); });
  connect(delB, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(allB, &QPushButton::clicked, this, [this] { DeleteAll(); });
  connect(closeB, &QPushButton::clicked, this, &QDialog::close);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {openB, delB, allB, closeB}) buttons->addWidget(b);
  auto* box = new QVBoxLayout(this);
  box->addWidget(list);
  box->addLayout(buttons);
  resize(720, 320);
  Reload();
}

void TransferHistoryWindow::Reload() {
  list->clear();
  const std::string text = ReadAll(dir + "/TRANHIST.TXT");
  for (const HISTORYLINE& h : ParseHistory(text)) {
    auto* item = new QTreeWidgetItem(
        {U(h.name), U(h.bytes), U(h.direction), U(h.when), U(h.host), U(h.protocol), U(h.rate)});
    list->addTopLevelItem(item);
  }
  for (int c = 0; c < list->columnCount(); ++c) list->resizeColumnToContents(c);
  if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
}

bool TransferHistoryWindow::OpenSelected() {
  QTreeWidgetItem* item = list->currentItem();
  if (!item) return false;
  const std::string& base = item->text(2) == QStringLiteral("Down") ? downloadDir : uploadDir;
  const QUrl url = QUrl::fromLocalFile(U(base + "/") + item->text(0));
  return open ? open(url) : QDesktopServices::openUrl(url);
}

bool TransferHistoryWindow::DeleteSelected() {
  QTreeWidgetItem* item = list->currentItem();
  if (!item) return false;
  const size_t row = static_cast<size_t>(list->indexOfTopLevelItem(item));
  const bool ok = DeleteHistoryLines(dir, {row}, false);
  Reload();
  return ok;
}

bool TransferHistoryWindow::DeleteAll() {
  if (list->topLevelItemCount() == 0) return false;
  if (MyMessageBox("転送履歴を全て削除します。よろしいですか？", ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2,
                   "転送履歴") != ui::IDYES)
    return false;
  const bool ok = DeleteHistoryLines(dir, {}, true);
  Reload();
  return ok;
}

// ---- the menu and the hooks ----------------------------------------------------------

namespace {

struct TRANSFERUI {
  QPointer<QWidget> frame;
  QPointer<QWidget> terminal;
  QPointer<TransferProgressWindow> progress;
  QPointer<TransferHistoryWindow> history;
  bool running = false;
};
TRANSFERUI ui_;

}  // namespace

void InstallTransferWindows(QWidget* frame, QMenu* menu, QWidget* terminal) {
  ui_.frame = frame;
  ui_.terminal = terminal;
  updownHooks.choose = [](const std::vector<int>& allowed, bool upload) {
    QStringList names;
    for (int p : allowed) names << U(ProtocolDisplayName(p));
    bool ok = false;
    const QString got = QInputDialog::getItem(ui_.frame, QStringLiteral("PROTOCOL"),
                                              upload ? QStringLiteral("ﾌﾟﾛﾄｺﾙ:") : QStringLiteral("ﾌﾟﾛﾄｺﾙ:"), names, 0,
                                              false, &ok);
    if (!ok) return -1;
    const int i = static_cast<int>(names.indexOf(got));
    return i < 0 ? -1 : allowed[static_cast<size_t>(i)];
  };
  updownHooks.chooseUpload = [](const std::string& dir, bool several) {
    UploadDialog d(dir, several, ui_.frame);
    const int r = ui::Current().RunModal([&] { return d.exec(); });
    return r == QDialog::Accepted ? d.Chosen() : std::vector<std::string>{};
  };
  updownHooks.chooseDownload = [](const std::string& dir) {
    return ui::Current().ChooseFile("ダウンロード", dir, "", true);
  };
  updownHooks.askDownload = [](const DOWNQUESTION& q) {
    DownloadQuestionDialog d(q, ui_.frame);
    ui::Current().RunModal([&] { return d.exec(); });
    return d.Answer();
  };
  updownHooks.askFileName = [](const std::string& failedPath) {
    DownloadNameDialog d(failedPath, ui_.frame);
    ui::Current().RunModal([&] { return d.exec(); });
    return d.Name();
  };
  updownHooks.openProgress = [](TRANSFER& t) {
    ui_.progress = new TransferProgressWindow(t, ui_.frame);
    ui_.progress->setAttribute(Qt::WA_DeleteOnClose);
    ui_.progress->forwardKey = [](QKeyEvent* k) {
      if (ui_.terminal) {
        QKeyEvent copy(k->type(), k->key(), k->modifiers(), k->text());
        QApplication::sendEvent(ui_.terminal, &copy);
      }
    };
    ui_.progress->show();
  };
  updownHooks.refreshProgress = [](TRANSFER&) {
    if (ui_.progress) ui_.progress->Refresh();
  };
  updownHooks.closeProgress = [] {
    if (ui_.progress) ui_.progress->close();
    ui_.progress = nullptr;
  };
  updownHooks.enableTransferMenu = [](bool enabled) { ui_.running = !enabled; };
  updownHooks.clipboardText = []() -> std::optional<std::string> {
    const QClipboard* c = QGuiApplication::clipboard();
    if (!c) return std::nullopt;
    const QString text = c->text();
    if (text.isEmpty()) return std::nullopt;
    return jcode::Utf8ToSjis(text.toStdString());
  };
  if (!menu) return;
  QAction* up = menu->addAction(QStringLiteral("アップロード(&U)..."), [] { ProcessUpload("", -1); });
  QAction* down = menu->addAction(QStringLiteral("ダウンロード(&D)..."), [] { ProcessDownload("", -1); });
  QAction* text = menu->addAction(QStringLiteral("テキスト送信(&T)..."), [] { ProcessUpload("", PROTOCOL_TEXT); });
  QAction* stop = menu->addAction(QStringLiteral("中断！(&S)"), [] { transfer.fStopProtocol = true; });
  menu->addSeparator();
  QAction* hist = menu->addAction(QStringLiteral("転送履歴(&H)..."), [] {
    if (!ui_.history) {
      ui_.history =
          new TransferHistoryWindow(TransferProgramDir(), TransferDownloadDir(), TransferUploadDir(), ui_.frame);
      ui_.history->setAttribute(Qt::WA_DeleteOnClose);
    } else {
      ui_.history->Reload();
    }
    ui_.history->show();
    ui_.history->raise();
  });
  up->setData(13);
  down->setData(14);
  text->setData(121);
  stop->setData(78);
  hist->setData(111);
  QObject::connect(menu, &QMenu::aboutToShow, menu, [up, down, text, stop] {
    const bool start = fOnline && !ui_.running;
    up->setEnabled(start);
    down->setEnabled(start);
    text->setEnabled(start);
    stop->setEnabled(ui_.running);
  });
}

void RemoveTransferWindows() {
  updownHooks = UPDOWNHOOKS{};
  if (ui_.progress) ui_.progress->close();
  ui_ = TRANSFERUI{};
}
