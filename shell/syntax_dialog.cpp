// The colour syntax selection dialog's window.
#include "shell/syntax_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include <unistd.h>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

// The stored comment is Shift_JIS text with CR LF line breaks, perhaps with
// NULs at its end.
std::string CommentForDisplay(const std::string& sjis) {
  std::string text = jcode::SjisToUtf8(sjis.substr(0, sjis.find('\0')));
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

SYNTAXFILEENTRY EntryOf(const std::string& path) {
  SYNTAXFILEENTRY e;
  e.path = path;
  int fd = -1;
  std::string message;
  STOCKTAGFILEHEADER header;
  if (!TAGMAKER::OpenSub(path, &fd, &message, &header)) {
    e.readable = false;
    e.comment = message.empty() ? std::string() : path + message;
    return e;
  }
  ::close(fd);
  std::string sjis;
  if (TAGMAKER::GetCommentText(path, &sjis)) e.comment = CommentForDisplay(sjis);
  return e;
}

}  // namespace

std::vector<std::string> SyntaxDirectories() {
  std::vector<std::string> candidates;
  candidates.push_back(config.HomeDir[0] ? std::string(config.HomeDir) : DataDir());
  if (QCoreApplication::instance()) {
    const std::string bin = QCoreApplication::applicationDirPath().toStdString();
    candidates.push_back(bin + "/../share/quillnet");
    candidates.push_back(bin + "/../tools");
  }
  std::vector<std::string> dirs;
  std::set<std::string> seen;
  for (const std::string& d : candidates) {
    std::error_code ec;
    if (!std::filesystem::is_directory(d, ec)) continue;
    const std::string canonical = std::filesystem::weakly_canonical(d, ec).string();
    if (ec || !seen.insert(canonical).second) continue;
    dirs.push_back(canonical);
  }
  return dirs;
}

std::vector<SYNTAXFILEENTRY> ListSyntaxFiles(const std::vector<std::string>& dirs) {
  std::vector<SYNTAXFILEENTRY> out;
  std::set<std::string> seen;
  for (const std::string& dir : dirs) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::filesystem::path& p = it->path();
      std::error_code ec2;
      if (p.extension() != ".tag" || !it->is_regular_file(ec2)) continue;
      names.push_back(p.string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& path : names) {
      std::error_code ec3;
      const std::string canonical = std::filesystem::weakly_canonical(path, ec3).string();
      if (!seen.insert(ec3 ? path : canonical).second) continue;
      out.push_back(EntryOf(path));
    }
  }
  return out;
}

bool DialogsCanBeShown() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  return dynamic_cast<ui::RecordingFacade*>(&ui::Current()) == nullptr;
}

SyntaxDialog::SyntaxDialog(const std::string& failedPath, std::vector<SYNTAXFILEENTRY> entries, QWidget* parent)
    : QDialog(parent) {
  setObjectName("SyntaxDialog");
  setWindowTitle(QStringLiteral("カラー構文定義ファイルの選択"));
  auto* top = new QVBoxLayout(this);
  auto* why = new QLabel;
  why->setObjectName("why");
  why->setWordWrap(true);
  why->setText(failedPath.empty()
                   ? QStringLiteral("使うカラー構文定義ファイルを選んでください。")
                   : QStringLiteral("カラー構文定義ファイル（%1）を開けません。代わりに使うファイルを選んでください。")
                         .arg(Q(failedPath)));
  top->addWidget(why);
  auto* row = new QHBoxLayout;
  list = new QListWidget;
  list->setObjectName("files");
  row->addWidget(list, 1);
  comment = new QPlainTextEdit;
  comment->setObjectName("comment");
  comment->setReadOnly(true);
  row->addWidget(comment, 2);
  top->addLayout(row, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  ok = buttons->button(QDialogButtonBox::Ok);
  ok->setObjectName("ok");
  auto* cancel = buttons->button(QDialogButtonBox::Cancel);
  cancel->setObjectName("cancel");
  cancel->setText(QStringLiteral("カラー構文なし"));
  auto* browse = buttons->addButton(QStringLiteral("参照(&B)..."), QDialogButtonBox::ActionRole);
  browse->setObjectName("browse");
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  connect(list, &QListWidget::currentRowChanged, this, [this] { ShowComment(); });
  connect(list, &QListWidget::itemDoubleClicked, this, [this] {
    if (ok->isEnabled()) accept();
  });
  for (const SYNTAXFILEENTRY& e : entries) AddFile(e);
  if (list->count() > 0) list->setCurrentRow(0);
  ShowComment();
  resize(620, 360);
}

void SyntaxDialog::AddFile(const SYNTAXFILEENTRY& entry) {
  files.push_back(entry);
  auto* item = new QListWidgetItem(QFileInfo(Q(entry.path)).fileName());
  item->setToolTip(Q(entry.path));
  item->setData(Qt::UserRole, Q(entry.path));
  if (!entry.readable) item->setForeground(Qt::gray);
  list->addItem(item);
}

void SyntaxDialog::ShowComment() {
  const int row = list->currentRow();
  if (row < 0 || size_t(row) >= files.size()) {
    comment->setPlainText(list->count() == 0 ? QStringLiteral("カラー構文定義ファイル (*.tag) が見つかりません。")
                                             : QString());
    ok->setEnabled(false);
    return;
  }
  const SYNTAXFILEENTRY& e = files[size_t(row)];
  QString text = Q(e.path) + QStringLiteral("\n\n");
  text += e.comment.empty() ? QStringLiteral("（説明はありません）") : Q(e.comment);
  comment->setPlainText(text);
  ok->setEnabled(e.readable);
}

void SyntaxDialog::Browse() {
  const int row = list->currentRow();
  const std::string dir =
      row >= 0 && size_t(row) < files.size() ? QFileInfo(Q(files[size_t(row)].path)).absolutePath().toStdString()
                                             : std::string();
  const std::string path =
      ui::Current().ChooseFile("カラー構文定義ファイルの選択", dir, "カラー構文定義ファイル (*.tag)", false);
  if (path.empty()) return;
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i].path == path) {
      list->setCurrentRow(int(i));
      return;
    }
  AddFile(EntryOf(path));
  list->setCurrentRow(list->count() - 1);
}

std::string SyntaxDialog::Chosen() const {
  const int row = list->currentRow();
  if (row < 0 || size_t(row) >= files.size() || !files[size_t(row)].readable) return std::string();
  return files[size_t(row)].path;
}

std::string PickSyntaxFile(const std::string& failedPath) {
  if (!DialogsCanBeShown()) return std::string();
  SyntaxDialog dialog(failedPath, ListSyntaxFiles(SyntaxDirectories()), QApplication::activeWindow());
  if (ui::Current().RunModal([&] { return dialog.exec(); }) != QDialog::Accepted) return std::string();
  return dialog.Chosen();
}

void InstallSyntaxDialog() { STOCK::hooks.pickSyntax = PickSyntaxFile; }

bool OfferSyntaxForNewStock() {
  if (!STOCK::fValid || !STOCK::fileheader.TagFile().empty() || !DialogsCanBeShown()) return false;
  const std::string path = PickSyntaxFile(std::string());
  if (path.empty()) return false;
  const auto& hk = STOCK::hooks;
  if (!(hk.openSyntax ? hk.openSyntax(path) : TAGMAKER::Open(path) != 0)) {
    if (hk.emptySyntax) hk.emptySyntax();
    return false;
  }
  if (!STOCK::EnableWrite(1, 1)) return false;
  const bool taken = STOCK::fileheader.SetTagFile(path);
  if (taken) {
    FILETIME ft;
    STOCK::fileheader.ftTagFile = STOCK::GetTagFileTimestamp(&ft) ? ft : FILETIME{};
    STOCK::Save();
  }
  STOCK::EnableWrite(0, 0);
  return taken;
}
