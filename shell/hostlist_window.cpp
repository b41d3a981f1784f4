// The host list window.
#include "shell/hostlist_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/hostprop_dialog.h"
#include "shell/registry.h"

namespace {

enum Column { COL_MENU, COL_NAME, COL_KIND, COL_TARGET, COL_COUNT };
const int kNameRole = Qt::UserRole;

QString FromSjis(const std::string& sjis) { return QString::fromStdString(jcode::SjisToUtf8(sjis)); }

QString KindText(int kind) {
  switch (kind) {
    case MODEM_TAPI: return QStringLiteral("電話");
    case MODEM_DIRECT: return QStringLiteral("シリアル直結");
    case MODEM_TELNET: return QStringLiteral("telnet");
    case MODEM_AT: return QStringLiteral("モデム");
    default: return QStringLiteral("(%1)").arg(kind);
  }
}

// Where the host is reached: its number, address or port.
QString TargetText(const HOSTPROPERTY& p) {
  const QString com = QStringLiteral("COM%1 %2bps").arg(p.PortNo + 1).arg(p.Baudrate);
  switch (p.ModemType) {
    case MODEM_TAPI: return FromSjis(p.DialNo);
    case MODEM_DIRECT: return com;
    case MODEM_TELNET: return FromSjis(TelnetAddressText(p.DialNo, p.PortName));
    case MODEM_AT: return FromSjis(p.DialNo) + QStringLiteral("  (") + com + QStringLiteral(")");
    default: return {};
  }
}

std::string ItemName(const QTreeWidgetItem* item) {
  return item ? item->data(COL_NAME, kNameRole).toByteArray().toStdString() : std::string();
}

}  // namespace

HostListWindow::HostListWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("HostListWindow");
  setWindowTitle(QStringLiteral("ホスト一覧"));
  auto* top = new QHBoxLayout(this);

  list = new QTreeWidget;
  list->setObjectName("hostList");
  list->setColumnCount(COL_COUNT);
  list->setHeaderLabels({QStringLiteral("メニュー"), QStringLiteral("ホスト名"), QStringLiteral("接続方法"),
                         QStringLiteral("接続先")});
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setAllColumnsShowFocus(true);
  list->header()->setStretchLastSection(true);
  list->header()->setSectionResizeMode(COL_MENU, QHeaderView::ResizeToContents);
  top->addWidget(list, 1);

  auto* side = new QVBoxLayout;
  auto button = [&](const char* objectName, const char* text, void (HostListWindow::*cmd)()) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    b->setObjectName(objectName);
    // Enter in the list connects by itself; no button takes it as well.
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, cmd] { (this->*cmd)(); });
    side->addWidget(b);
    return b;
  };
  dial = button("dial", "接続(&C)", &HostListWindow::Dial);
  side->addSpacing(8);
  button("new", "新規(&N)...", &HostListWindow::NewHost);
  edit = button("edit", "編集(&E)...", &HostListWindow::EditHost);
  copy = button("copy", "コピー(&Y)...", &HostListWindow::CopyHost);
  remove = button("delete", "削除(&D)", &HostListWindow::DeleteHost);
  side->addSpacing(8);
  up = button("up", "上へ(&U)", &HostListWindow::MoveUp);
  down = button("down", "下へ(&W)", &HostListWindow::MoveDown);
  menu = button("menu", "メニューに表示(&M)", &HostListWindow::ToggleMenu);
  side->addSpacing(8);
  button("backup", "バックアップ(&B)...", &HostListWindow::Backup);
  button("restore", "復元(&R)...", &HostListWindow::Restore);
  side->addStretch(1);
  auto* closeButton = new QPushButton(QStringLiteral("閉じる"));
  closeButton->setObjectName("close");
  closeButton->setAutoDefault(false);
  connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
  side->addWidget(closeButton);
  top->addLayout(side);

  connect(list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    list->setCurrentItem(item);
    Dial();
  });
  connect(list, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
  connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling || column != COL_MENU) return;
    SetMenuFlag(list->indexOfTopLevelItem(item), item->checkState(COL_MENU) == Qt::Checked);
  });
  auto* del = new QShortcut(QKeySequence::Delete, list);
  del->setContext(Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, [this] { DeleteHost(); });

  resize(640, 400);
  Refresh();
}

void HostListWindow::Refresh(const std::string& select) {
  const int oldRow = CurrentRow();
  filling = true;
  list->clear();
  QTreeWidgetItem* chosen = nullptr;
  char name[256];
  HOSTPROPERTY p;
  for (int i = 0; HOSTINI::GetHostName(i, name, sizeof name); ++i) {
    p.GetRegistry(name);
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(COL_MENU, HOSTINI::IsHostInMenu(name) ? Qt::Checked : Qt::Unchecked);
    item->setText(COL_NAME, FromSjis(name));
    item->setData(COL_NAME, kNameRole, QByteArray(name));
    item->setText(COL_KIND, KindText(p.ModemType));
    item->setText(COL_TARGET, TargetText(p));
    list->addTopLevelItem(item);
    if (!select.empty() && select == name) chosen = item;
  }
  // Room between the columns, which their contents alone would not leave.
  for (int c = COL_NAME; c < COL_TARGET; ++c) {
    list->resizeColumnToContents(c);
    list->setColumnWidth(c, list->columnWidth(c) + 16);
  }
  filling = false;
  if (chosen)
    list->setCurrentItem(chosen);
  else if (RowCount() > 0)
    SelectRow(std::min(std::max(oldRow, 0), RowCount() - 1));
  UpdateButtons();
}

std::string HostListWindow::CurrentName() const { return ItemName(list->currentItem()); }

int HostListWindow::CurrentRow() const {
  return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
}

void HostListWindow::SelectRow(int row) {
  if (QTreeWidgetItem* item = list->topLevelItem(row)) list->setCurrentItem(item);
}

int HostListWindow::RowCount() const { return list->topLevelItemCount(); }

void HostListWindow::UpdateButtons() {
  const int row = CurrentRow();
  for (QPushButton* b : {dial, edit, copy, remove, menu}) b->setEnabled(row >= 0);
  up->setEnabled(row > 0);
  down->setEnabled(row >= 0 && row + 1 < RowCount());
}

void HostListWindow::Dial() {
  const std::string name = CurrentName();
  if (name.empty()) return;
  if (onDial) onDial(name);
  close();
}

void HostListWindow::NewHost() {
  HOSTPROPERTY p;
  if (EditHostProperty(this, p, true)) Refresh(p.szName);
}

void HostListWindow::EditHost() {
  const std::string name = CurrentName();
  if (name.empty()) return;
  HOSTPROPERTY p;
  p.GetRegistry(name.c_str());
  if (EditHostProperty(this, p, false)) Refresh(p.szName);
}

void HostListWindow::CopyHost() {
  const std::string name = CurrentName();
  if (name.empty()) return;
  HOSTPROPERTY p;
  p.GetRegistry(name.c_str());
  // A free name to start from; the dialog checks whatever the user makes of it.
  const std::string base = name + jcode::Utf8ToSjis(" のコピー");
  std::string candidate = base;
  for (int n = 2; HOSTINI::IsHostExist(candidate.c_str()) && n < 100; ++n) candidate = base + std::to_string(n);
  std::strncpy(p.szName, candidate.c_str(), sizeof p.szName - 1);
  p.szName[sizeof p.szName - 1] = 0;
  if (jcode::IsKanji2String(p.szName, p.szName + std::strlen(p.szName))) p.szName[std::strlen(p.szName) - 1] = 0;
  if (EditHostProperty(this, p, true)) Refresh(p.szName);
}

void HostListWindow::DeleteHost() {
  const std::string name = CurrentName();
  if (name.empty()) return;
  const std::string question = "「" + jcode::SjisToUtf8(name) + "」を削除します。よろしいですか？";
  if (MyMessageBox(question, ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) != ui::IDYES) return;
  HOSTINI::DeleteHost(name.c_str(), true);
  HOSTINI::SetHostMenu();
  Refresh();
}

void HostListWindow::Move(int delta) {
  const int row = CurrentRow(), other = row + delta;
  if (row < 0 || other < 0 || other >= RowCount()) return;
  const std::string a = ItemName(list->topLevelItem(row)), b = ItemName(list->topLevelItem(other));
  // Both places change in the same write, or neither does.
  REGISTRY::BeginBatch();
  HOSTINI::PutHostOrder(a.c_str(), other);
  HOSTINI::PutHostOrder(b.c_str(), row);
  REGISTRY::EndBatch();
  HOSTINI::SetHostMenu();
  Refresh(a);
}

void HostListWindow::ToggleMenu() {
  if (QTreeWidgetItem* item = list->currentItem())
    SetMenuFlag(CurrentRow(), item->checkState(COL_MENU) != Qt::Checked);
}

void HostListWindow::SetMenuFlag(int row, bool on) {
  const std::string name = ItemName(list->topLevelItem(row));
  if (name.empty()) return;
  HOSTINI::PutHostInMenuFlag(name.c_str(), on ? 1 : 0);
  HOSTINI::SetHostMenu();
  // Read back after the current signal has finished with the item.
  QMetaObject::invokeMethod(this, [this, name] { Refresh(name); }, Qt::QueuedConnection);
}

void HostListWindow::Backup() {
  std::string path = ui::Current().ChooseFile("ホスト一覧のバックアップ", config.HomeDir, "ホスト一覧 (*.lst)", true);
  if (path.empty()) return;
  const size_t slash = path.rfind('/');
  if (path.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos) path += ".lst";
  HOSTINI::BackupHostListWithMessage(path);
}

void HostListWindow::Restore() {
  const std::string path = ui::Current().ChooseFile("ホスト一覧の復元", config.HomeDir, "ホスト一覧 (*.lst)", false);
  if (path.empty()) return;
  if (MyMessageBox("今のホスト一覧は、ファイルの内容で置き換えられます。よろしいですか？",
                   ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) != ui::IDYES)
    return;
  HOSTINI::RestoreHostListWithMessage(path);
  Refresh();
}

bool SaveHostListScreenshot(HostListWindow& window, const std::string& pngPath, int width, int height) {
  window.resize(width, height);
  const bool wasVisible = window.isVisible();
  if (!wasVisible) {
    // Laid out and painted as on screen, without appearing there.
    window.setAttribute(Qt::WA_DontShowOnScreen, true);
    window.show();
  }
  const QPixmap picture = window.grab();
  if (!wasVisible) {
    window.hide();
    window.setAttribute(Qt::WA_DontShowOnScreen, false);
  }
  return picture.save(QString::fromStdString(pngPath), "PNG");
}
