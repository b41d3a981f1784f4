#include "terminal/tree_window.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "shell/config.h"
#include "shell/frame_window.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "shell/stock_wizard_dialog.h"
#include "stock/backup.h"
#include "stock/clipboard.h"
#include "stock/stock.h"
#include "stock/stockprop.h"
#include "stock/tree.h"
#include "stock/tree_model.h"
#include "terminal/mybitmap.h"
#include "terminal/terminal_view.h"

namespace {

TREEWINDOW* g_tree = nullptr;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

constexpr char kFontKey[] = "Tree";
// The placement commands by TreeView: floating, wide (above), reversed wide
// (below), tower (beside).
constexpr std::pair<int, int> kPlacements[] = {{1013, 0}, {1014, 2}, {1015, 3}, {1016, 1}};
constexpr char kFontValue[] = "TreeFont";

// The stock files of the program's directory other than the open one.
std::vector<TREESTOCKLIST::Entry> StockList() {
  std::vector<TREESTOCKLIST::Entry> list;
  list.push_back({TREESTOCKLIST::CREATE, U("(ストックファイルの新規作成...)"), {}});
  const QString current = STOCK::szFileName.empty()
                              ? QString()
                              : QFileInfo(QString::fromStdString(STOCK::szFileName)).absoluteFilePath();
  QDir dir = QDir::current();
  const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.stk")}, QDir::Files, QDir::Name);
  for (const QFileInfo& f : files) {
    if (f.absoluteFilePath() == current) continue;
    list.push_back({TREESTOCKLIST::FILE, f.fileName(), f.absoluteFilePath().toStdString()});
  }
  list.push_back({TREESTOCKLIST::RESTORE, U("(ストックファイルの復元...)"), {}});
  return list;
}

}  // namespace

// ---------------------------------------------------------------------------
// The stock list in front of the root

void TREESTOCKLIST::SetEntries(std::vector<Entry> list) {
  beginResetModel();
  entries = std::move(list);
  endResetModel();
}

const TREESTOCKLIST::Entry* TREESTOCKLIST::EntryOf(const QModelIndex& i) const {
  if (!i.isValid() || i.model() != this || i.internalPointer() || i.row() >= int(entries.size())) return nullptr;
  return &entries[size_t(i.row())];
}

TREENODE* TREESTOCKLIST::NodeOf(const QModelIndex& i) {
  return i.isValid() ? static_cast<TREENODE*>(i.internalPointer()) : nullptr;
}

QModelIndex TREESTOCKLIST::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || !sourceModel()) return {};
  const int n = int(entries.size());
  if (!parent.isValid()) {
    if (row < n) return createIndex(row, column, nullptr);
    return mapFromSource(sourceModel()->index(row - n, column));
  }
  if (!parent.internalPointer()) return {};  // stock list rows have no children
  return mapFromSource(sourceModel()->index(row, column, mapToSource(parent)));
}

QModelIndex TREESTOCKLIST::parent(const QModelIndex& child) const {
  if (!child.isValid() || !child.internalPointer() || !sourceModel()) return {};
  return mapFromSource(sourceModel()->parent(mapToSource(child)));
}

QModelIndex TREESTOCKLIST::sibling(int row, int column, const QModelIndex& i) const {
  return i.isValid() ? index(row, column, parent(i)) : QModelIndex();
}

int TREESTOCKLIST::rowCount(const QModelIndex& parent) const {
  if (!sourceModel()) return 0;
  if (!parent.isValid()) return int(entries.size()) + sourceModel()->rowCount();
  if (!parent.internalPointer()) return 0;
  return sourceModel()->rowCount(mapToSource(parent));
}

bool TREESTOCKLIST::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return rowCount() > 0;
  if (!parent.internalPointer()) return false;
  return sourceModel()->hasChildren(mapToSource(parent));
}

QVariant TREESTOCKLIST::data(const QModelIndex& i, int role) const {
  if (const Entry* e = EntryOf(i)) {
    if (role == Qt::DisplayRole) return e->text;
    if (role == TREEMODEL::LineRole) return -1;
    if (role == KindRole) return int(e->kind);
    return {};
  }
  if (role == KindRole) return -1;
  return QIdentityProxyModel::data(i, role);
}

Qt::ItemFlags TREESTOCKLIST::flags(const QModelIndex& i) const {
  if (EntryOf(i)) return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  return i.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool TREESTOCKLIST::canFetchMore(const QModelIndex& parent) const {
  if (!parent.isValid() || !parent.internalPointer()) return false;
  return sourceModel()->canFetchMore(mapToSource(parent));
}

void TREESTOCKLIST::fetchMore(const QModelIndex& parent) {
  if (!parent.isValid() || !parent.internalPointer()) return;
  sourceModel()->fetchMore(mapToSource(parent));
}

QModelIndex TREESTOCKLIST::mapFromSource(const QModelIndex& source) const {
  if (!source.isValid()) return {};
  const int offset = source.parent().isValid() ? 0 : int(entries.size());
  return createIndex(source.row() + offset, source.column(), source.internalPointer());
}

QModelIndex TREESTOCKLIST::mapToSource(const QModelIndex& proxyIndex) const {
  if (!proxyIndex.isValid() || !proxyIndex.internalPointer()) return {};
  const auto* model = static_cast<const TREEMODEL*>(sourceModel());
  return model->IndexOf(static_cast<const TREENODE*>(proxyIndex.internalPointer()));
}

QModelIndexList TREESTOCKLIST::match(const QModelIndex& start, int role, const QVariant& value, int hits,
                                     Qt::MatchFlags flags) const {
  return QAbstractItemModel::match(start, role, value, hits, flags);
}

// ---------------------------------------------------------------------------
// The display style dialog

bool RunTreeStyleDialog(QWidget* parent, int* style, int* days, int* calls) {
  QDialog dlg(parent);
  dlg.setObjectName("TREEDAY");
  dlg.setWindowTitle(U("表示スタイル"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* box = new QGroupBox(U("通信のまとめ方"), &dlg);
  auto* boxLayout = new QVBoxLayout(box);
  auto* group = new QButtonGroup(&dlg);
  const char* names[] = {"通信ごと(&C)", "日ごと(&D)", "週ごと(&W)"};
  for (int k = 0; k < 3; ++k) {
    auto* b = new QRadioButton(U(names[k]), box);
    b->setObjectName(QStringLiteral("TreeStyle%1").arg(k));
    group->addButton(b, k);
    boxLayout->addWidget(b);
  }
  layout->addWidget(box);
  if (QAbstractButton* b = group->button(std::clamp(*style, 0, 2))) b->setChecked(true);
  auto* form = new QFormLayout;
  auto* daySpin = new QSpinBox(&dlg);
  daySpin->setObjectName("TreeDay");
  daySpin->setRange(1, 365);
  daySpin->setSuffix(U(" 日"));
  daySpin->setValue(std::clamp(*days, 1, 365));
  form->addRow(U("表示する日数(&N):"), daySpin);
  auto* callSpin = new QSpinBox(&dlg);
  callSpin->setObjectName("TreeConnect");
  callSpin->setRange(1, 1000);
  callSpin->setSuffix(U(" 回"));
  callSpin->setValue(std::clamp(*calls, 1, 1000));
  form->addRow(U("少なくとも表示する回数(&M):"), callSpin);
  layout->addLayout(form);
  auto* note = new QLabel(U("表示する日数より前の通信は「昔の分...」に入ります。"), &dlg);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  layout->addWidget(buttons);
  const int result = ui::Current().RunModal([&] { return dlg.exec(); });
  if (result != QDialog::Accepted) return false;
  *style = std::max(0, group->checkedId());
  *days = daySpin->value();
  *calls = callSpin->value();
  return true;
}

// ---------------------------------------------------------------------------
// The window

TREEWINDOW* TREEWINDOW::Instance() { return g_tree; }

TREEWINDOW::TREEWINDOW(TERMINALVIEW* term, QWidget* parent) : QWidget(parent), terminal(term) {
  g_tree = this;
  setObjectName("TreeWindow");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  menuBar = new QMenuBar(this);
  menuBar->setNativeMenuBar(false);
  layout->setMenuBar(menuBar);
  view = new QTreeView(this);
  view->setObjectName("TreeView");
  view->setHeaderHidden(true);
  view->setUniformRowHeights(true);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setContextMenuPolicy(Qt::DefaultContextMenu);
  layout->addWidget(view);
  setFocusProxy(view);
  if (terminal) terminal->installEventFilter(this);
  proxy = new TREESTOCKLIST;
  proxy->setParent(this);
  proxy->setSourceModel(&TREE::Model());
  view->setModel(proxy);
  connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& now, const QModelIndex&) { Selected(now); });
  connect(view, &QTreeView::expanded, this, [this](const QModelIndex& i) { Expanded(i); });
  // A stock list row acts when it is chosen: a left click, or Enter.
  // Moving onto it with the keys (or a right click for its menu) only
  // selects it, so that another stock file can be deleted from the menu.
  connect(view, &QTreeView::pressed, this, [this](const QModelIndex& i) {
    if (QGuiApplication::mouseButtons() & Qt::LeftButton) Chosen(i);
  });
  connect(view, &QTreeView::activated, this, [this](const QModelIndex& i) {
    if (QGuiApplication::mouseButtons() == Qt::NoButton) Chosen(i);
  });
  chooseFont = [this](QFont* font) {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, *font, this, U("ツリーウィンドウのフォント"));
    if (ok) *font = chosen;
    return ok;
  };

  // The saved tree font.
  if (REGISTRY::OpenKey(kFontKey, false)) {
    char buf[256];
    REGISTRY::ReadString(kFontValue, buf, sizeof buf, "");
    REGISTRY::CloseKey();
    QFont f;
    if (buf[0] && f.fromString(QString::fromStdString(jcode::SjisToUtf8(buf)))) view->setFont(f);
  }
  edit = [this](int command) { Edit(command); };
  InstallTreeHooks();
  BuildCommands();
  RefreshCommands();
}

TREEWINDOW::~TREEWINDOW() {
  if (g_tree == this) {
    g_tree = nullptr;
    TREE::hooks = TREEHOOKS();
    clipboardHooks = CLIPBOARDHOOKS();
  }
  TREE::DeletePage(this);
  if (terminal) terminal->removeEventFilter(this);
  view->setModel(nullptr);
}

QAction* TREEWINDOW::Command(int id) const {
  auto it = commands.find(id);
  return it == commands.end() ? nullptr : it->second;
}

void TREEWINDOW::BuildCommands() {
  struct Def {
    int id;
    const char* text;
    QKeySequence key;
  };
  const Def defs[] = {
      {1000, "すべて展開(&X)\tCtrl+Shift+→", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right)},
      {1001, "すべて折りたたみ(&O)\tCtrl+Shift+←", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left)},
      {1002, "...より過去を削除(&L)", {}},
      {1003, "削除(&D)\tDelete", QKeySequence(Qt::Key_Delete)},
      {1004, "切り取り(&T)\tCtrl+X", QKeySequence(Qt::CTRL | Qt::Key_X)},
      {1005, "貼り付け(&P)\tCtrl+V", QKeySequence(Qt::CTRL | Qt::Key_V)},
      {1006, "ファイルに保存(&S)...", {}},
      {1007, "コピー(&C)...\tCtrl+C", QKeySequence(Qt::CTRL | Qt::Key_C)},
      {1008, "引用付きコピー(&Q)...\tCtrl+Q", QKeySequence(Qt::CTRL | Qt::Key_Q)},
      {1009, "ツリーウィンドウのフォント(&F)...", {}},
      {1010, "のﾌﾟﾛﾊﾟﾃｨ(&R)...\tAlt+Enter", QKeySequence(Qt::ALT | Qt::Key_Return)},
      {1011, "表示スタイル(&A)...", {}},
      {1012, "「全体図」のヘルプ(&H)", {}},
      {1013, "浮かせる(&F)", {}},
      {1014, "ワイド画面(&W)", {}},
      {1015, "反転ワイド画面(&R)", {}},
      {1016, "タワー画面(&T)", {}},
      {1017, "次のページ\tSpace", QKeySequence(Qt::Key_Space)},
      {1018, "前のページ\tShift+Space", QKeySequence(Qt::SHIFT | Qt::Key_Space)},
      {1019, "新規発言する(&W)\tCtrl+N", QKeySequence(Qt::CTRL | Qt::Key_N)},
      {1020, "コメント発言する(&R)\tCtrl+R", QKeySequence(Qt::CTRL | Qt::Key_R)},
  };
  for (const Def& d : defs) {
    auto* a = new QAction(U(d.text), this);
    a->setObjectName(QStringLiteral("TreeCommand%1").arg(d.id));
    a->setData(d.id);
    if (!d.key.isEmpty()) {
      a->setShortcut(d.key);
      // Only while the tree has the focus: the terminal's keys are the host's.
      a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      addAction(a);
    }
    commands[d.id] = a;
  }
  auto* placeGroup = new QActionGroup(this);
  for (const auto& [id, where] : kPlacements) {
    QAction* a = commands[id];
    a->setCheckable(true);
    placeGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, where] {
      if (place) place(where);
    });
  }

  connect(commands[1000], &QAction::triggered, this, [this] {
    QModelIndex i = view->currentIndex();
    if (!i.isValid() || proxy->EntryOf(i)) i = proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot));
    ExpandAll(i);
  });
  connect(commands[1001], &QAction::triggered, this, [this] {
    view->collapseAll();
    if (TREE::hitemRoot) view->expand(proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot)));
  });
  for (int id = 1002; id <= 1008; ++id) {
    connect(commands[id], &QAction::triggered, this, [this, id] {
      if (edit) edit(id);
      RefreshCommands();
    });
  }
  connect(commands[1009], &QAction::triggered, this, [this] { ChooseFont(); });
  connect(commands[1010], &QAction::triggered, this, [this] {
    STOCK::PropertyDialog();
    RefreshCommands();
  });
  connect(commands[1011], &QAction::triggered, this, [this] { DisplayStyle(); });
  connect(commands[1012], &QAction::triggered, this, [this] { Help(); });
  connect(commands[1017], &QAction::triggered, this, [this] { NextPage(); });
  connect(commands[1018], &QAction::triggered, this, [this] { PreviousPage(); });

  // The menu: the same in the page's menu bar and as the context menu.
  menu = new QMenu(U("全体図(&G)"), this);
  menu->addAction(commands[1000]);
  menu->addAction(commands[1001]);
  menu->addSeparator();
  QMenu* editMenu = menu->addMenu(U("編集(&E)"));
  for (int id : {1004, 1007, 1008, 1005}) editMenu->addAction(commands[id]);
  editMenu->addSeparator();
  for (int id : {1003, 1002}) editMenu->addAction(commands[id]);
  menu->addAction(commands[1006]);
  menu->addSeparator();
  menu->addAction(commands[1017]);
  menu->addAction(commands[1018]);
  menu->addSeparator();
  menu->addAction(commands[1019]);
  menu->addAction(commands[1020]);
  menu->addSeparator();
  menu->addAction(commands[1011]);
  menu->addAction(commands[1009]);
  QMenu* placeMenu = menu->addMenu(U("ツリーウィンドウの場所(&T)"));
  for (int id : {1016, 1014, 1015, 1013}) placeMenu->addAction(commands[id]);
  menu->addAction(commands[1010]);
  menu->addSeparator();
  menu->addAction(commands[1012]);
  connect(menu, &QMenu::aboutToShow, this, [this] { RefreshCommands(); });
  connect(placeMenu, &QMenu::aboutToShow, this, [this] { RefreshCommands(); });
  menuBar->addMenu(menu);
}

void TREEWINDOW::RefreshCommands() {
  const QModelIndex cur = view->currentIndex();
  const bool onNode = cur.isValid() && !proxy->EntryOf(cur);
  const bool onFile = proxy->EntryOf(cur) && proxy->EntryOf(cur)->kind == TREESTOCKLIST::FILE;
  const bool editing = bool(edit) && STOCK::fValid;
  // Delete takes a node or another stock file; the others a node.
  commands[1003]->setEnabled(editing && (onNode || onFile));
  for (int id : {1002, 1004, 1006, 1007, 1008}) commands[id]->setEnabled(editing && onNode);
  commands[1005]->setEnabled(editing);
  // New messages and comments run scripts for a page's first line: not yet.
  commands[1019]->setEnabled(false);
  commands[1020]->setEnabled(false);
  commands[1010]->setText(QFileInfo(QString::fromStdString(STOCK::szFileName)).fileName() +
                          U("のﾌﾟﾛﾊﾟﾃｨ(&R)...\tAlt+Enter"));
  commands[1010]->setEnabled(STOCK::fValid && !fOnline);
  for (int id = 1013; id <= 1016; ++id) commands[id]->setEnabled(bool(place));
  if (placement) {
    const int where = placement();
    for (const auto& [id, w] : kPlacements) commands[id]->setChecked(w == where);
  }
}

void TREEWINDOW::contextMenuEvent(QContextMenuEvent* e) {
  menu->exec(e->globalPos());
  e->accept();
}

void TREEWINDOW::Rebuild(int mode) {
  built = true;
  nodeTop = nodeBottom = -1;
  TREE::TreeStyle = config.TreeStyle;
  TREE::TreeDay = config.TreeDay;
  TREE::TreeConnect = config.TreeConnect;
  choosing = true;  // no stock list action while the rows change
  proxy->SetEntries(StockList());
  // The build goes back to the stock's saved position (TREE::hooks.select),
  // else to the root.
  if (STOCK::fValid) TREE::Initialize(mode);
  choosing = false;
  if (TREE::hitemRoot) {
    const QModelIndex root = proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot));
    view->expand(root);
    if (!view->currentIndex().isValid() || !TREE::hitemSelected) {
      view->setCurrentIndex(root);
      ShowNode(root);
    }
  }
  RefreshCommands();
}

void TREEWINDOW::Selected(const QModelIndex& index) {
  if (choosing) return;
  if (!proxy->EntryOf(index) && !selecting) ShowNode(index);
  RefreshCommands();
}

void TREEWINDOW::Chosen(const QModelIndex& index) {
  const TREESTOCKLIST::Entry* e = proxy->EntryOf(index);
  if (!e || choosing) return;
  const TREESTOCKLIST::Entry entry = *e;
  // After the click or key has been handled: the action may rebuild the model.
  QTimer::singleShot(0, this, [this, entry] { StockListChosen(entry); });
}

void TREEWINDOW::StockListChosen(const TREESTOCKLIST::Entry& entry) {
  if (choosing) return;
  choosing = true;
  bool changed = false;
  switch (entry.kind) {
    case TREESTOCKLIST::CREATE:
      changed = createStock && createStock() >= 0;
      break;
    case TREESTOCKLIST::FILE:
      // Refused on line and for a stock another instance uses (with a message).
      changed = TREE::ChangeStockFile(entry.path) != 0;
      break;
    case TREESTOCKLIST::RESTORE:
      changed = RestoreStockFile();
      break;
  }
  choosing = false;
  if (changed) {
    StockChanged();
  } else if (TREE::hitemRoot) {
    TREENODE* back = TREE::hitemSelected ? TREE::hitemSelected : TREE::hitemRoot;
    view->setCurrentIndex(proxy->mapFromSource(TREE::Model().IndexOf(back)));
  }
}

bool TREEWINDOW::RestoreStockFile() {
  const std::string backup = ui::Current().ChooseFile("ストックファイルの復元", QDir::currentPath().toStdString(),
                                                      "ｽﾄｯｸﾌｧｲﾙのﾊﾞｯｸｱｯﾌﾟ(*.stk;*.txt)", false);
  if (backup.empty()) return false;
  if (fOnline) {
    ErrorMessage("オンライン中はこの処理はできません。");
    return false;
  }
  // The restored stock is the backup's name with ".stk" in the program's
  // directory; an existing one is replaced only when the user agrees.
  const std::string target =
      QDir::current().absoluteFilePath(QFileInfo(QString::fromStdString(backup)).completeBaseName() + ".stk")
          .toStdString();
  if (QFileInfo::exists(QString::fromStdString(target))) {
    if (target == QFileInfo(QString::fromStdString(backup)).absoluteFilePath().toStdString()) {
      ErrorMessage(target + "は復元先と同じファイルなので復元できません。");
      return false;
    }
    if (MyMessageBox("同じ名前のストックファイルが既に存在します。上書きしてもいいですか？",
                     ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) != ui::IDYES)
      return false;
    if (target == STOCK::szFileName) {
      ErrorMessage(target + "は使用中なので上書きできません。");
      return false;
    }
  }
  std::string error, written;
  if (!RestoreStock(backup, target, &error, &written)) {
    if (!error.empty()) ErrorMessage(error);
    return false;
  }
  return TREE::ChangeStockFile(written.empty() ? target : written) != 0;
}

void TREEWINDOW::Edit(int command) {
  const TREESTOCKLIST::Entry* e = proxy->EntryOf(view->currentIndex());
  switch (command) {
    case 1002: TREE::Delete(1, 1, 0); break;
    case 1003:
      if (e && e->kind == TREESTOCKLIST::FILE)
        TREE::DeleteStockFile(e->path, 1);
      else
        TREE::Delete(0, 1, 0);
      break;
    case 1004: TREE::Cut(); break;
    case 1005: TREE::Paste(); break;
    case 1006: TREE::SaveToTextFile(""); break;
    case 1007: TREE::CopyToClipboard(0); break;
    case 1008: TREE::CopyToClipboard(1); break;
    default: break;
  }
}

void TREEWINDOW::ScreenToNewest() {
  if (!terminal || !STOCK::fValid) return;
  MYBITMAP* s = terminal->Screen();
  nodeTop = nodeBottom = -1;
  if (s->fScrollView && !s->fView) s->LeaveScrollMode();
  MYBITMAP::cLineScrollable = 0;  // the range starts over at the oldest line
  s->Reset(s->hwndPaint, s->cxChars, s->cyLines);
}

void TREEWINDOW::StockChanged() {
  ScreenToNewest();
  Rebuild(0);
}

void TREEWINDOW::ShowNode(const QModelIndex& index) {
  TREENODE* n = TREESTOCKLIST::NodeOf(index);
  if (!n || !STOCK::fValid) return;
  // TREE shows the node's lines through hooks.setScrollableArea (SetArea).
  TREE::Select(n);
}

void TREEWINDOW::SetArea(int first, int last, int top) {
  if (!STOCK::fValid || !terminal) return;
  MYBITMAP* s = terminal->Screen();
  MYBITMAP::cvScrollableTop = first;
  MYBITMAP::cvScrollableBottom = last;
  MYBITMAP::cLineScrollable = STOCK::Flat(last) - STOCK::Flat(first) + 1;
  nodeTop = nodeBottom = -1;
  if (first == cvOldest && last == cvNewest && top < 0) {
    // The whole stock, at its newest lines (the live terminal).
    s->cvTop = STOCK::AddIndex(cvNewest, -(s->cyLines - 1));
    if (s->fScrollView && !s->fView) s->LeaveScrollMode();
  } else {
    const int lastTop = std::max(STOCK::Flat(first), STOCK::Flat(last) - s->cyLines + 1);
    const int want = top < 0 ? STOCK::Flat(first) : std::clamp(STOCK::Flat(top), STOCK::Flat(first), lastTop);
    s->cvTop = STOCK::AddIndex(first, want - STOCK::Flat(first));
    if (!s->fScrollView) s->EnterScrollMode();
    nodeTop = first;
    nodeBottom = last;
  }
  s->CopyRect();
  if (s->painter.scrollBarChanged) s->painter.scrollBarChanged();
}

void TREEWINDOW::SelectFromTree(TREENODE* node) {
  if (!node) return;
  const QModelIndex i = proxy->mapFromSource(TREE::Model().IndexOf(node));
  if (!i.isValid()) return;
  selecting = true;
  for (QModelIndex p = i.parent(); p.isValid(); p = p.parent()) view->expand(p);
  view->setCurrentIndex(i);
  view->scrollTo(i);
  selecting = false;
}

void TREEWINDOW::InstallTreeHooks() {
  TREEHOOKS& h = TREE::hooks;
  h.setScrollableArea = [this](int first, int last, int top) { SetArea(first, last, top); };
  h.select = [this](TREENODE* n) { SelectFromTree(n); };
  h.viewTop = [this] { return terminal ? int(terminal->Screen()->cvTop) : STOCK::iViewTop; };
  h.viewToNewest = [this] { ScreenToNewest(); };
  h.stockListChanged = [this] {
    std::vector<TREESTOCKLIST::Entry> list = StockList();
    if (list.size() == proxy->Entries().size() &&
        std::equal(list.begin(), list.end(), proxy->Entries().begin(),
                   [](const auto& a, const auto& b) { return a.kind == b.kind && a.path == b.path; }))
      return;
    choosing = true;
    proxy->SetEntries(std::move(list));
    if (TREE::hitemRoot) view->expand(proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot)));
    SelectFromTree(TREE::hitemSelected ? TREE::hitemSelected : TREE::hitemRoot);
    choosing = false;
  };
  h.stockNamesChanged = [] { StockNamesToSettings(); };
  h.quotePrefix = [] { return jcode::SjisToUtf8(config.Quote); };
  h.rootChoice = [this](const std::string& name) {
    QMessageBox box(QMessageBox::Question, U("全体の削除"),
                    QString::fromStdString(name) + U(" をどうしますか？"), QMessageBox::NoButton, this);
    QPushButton* del = box.addButton(U("ストックファイルを削除(&D)"), QMessageBox::DestructiveRole);
    QPushButton* clear = box.addButton(U("中身だけクリア(&C)"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    ui::Current().RunModal([&] { return box.exec(); });
    if (box.clickedButton() == del) return 1;
    if (box.clickedButton() == clear) return 2;
    return 0;
  };
  clipboardHooks.put = [](std::unique_ptr<QMimeData> data) {
    QClipboard* c = QGuiApplication::clipboard();
    if (!c) return false;
    c->setMimeData(data.release());
    return true;
  };
  clipboardHooks.get = []() -> const QMimeData* {
    QClipboard* c = QGuiApplication::clipboard();
    return c ? c->mimeData() : nullptr;
  };
}

bool TREEWINDOW::eventFilter(QObject* watched, QEvent* e) {
  if (terminal && watched == terminal && e->type() == QEvent::Resize && nodeTop >= 0)
    QTimer::singleShot(0, this, [this] { RestoreNodeRange(); });
  return QWidget::eventFilter(watched, e);
}

void TREEWINDOW::RestoreNodeRange() {
  if (nodeTop < 0 || !STOCK::fValid || !terminal) return;
  if (!terminal->Screen()->fScrollView) {  // back at the live terminal: the node is left
    nodeTop = nodeBottom = -1;
    return;
  }
  if (MYBITMAP::cvScrollableTop == nodeTop && MYBITMAP::cvScrollableBottom == nodeBottom) return;
  SetArea(nodeTop, nodeBottom, terminal->Screen()->cvTop);
}

void TREEWINDOW::NextPage() {
  if (!STOCK::fValid || !terminal) return;
  MYBITMAP* s = terminal->Screen();
  const int step = std::max(1, s->cyLines - 1);
  const int shownBottom = STOCK::Flat(s->cvTop) + s->cyLines - 1;
  if (shownBottom < STOCK::Flat(MYBITMAP::cvScrollableBottom)) {
    terminal->ScrollLines(step);
    return;
  }
  const QModelIndex below = view->indexBelow(view->currentIndex());
  if (below.isValid()) view->setCurrentIndex(below);
}

void TREEWINDOW::PreviousPage() {
  if (!STOCK::fValid || !terminal) return;
  MYBITMAP* s = terminal->Screen();
  const int step = std::max(1, s->cyLines - 1);
  if (STOCK::Flat(s->cvTop) > STOCK::Flat(MYBITMAP::cvScrollableTop)) {
    terminal->ScrollLines(-step);
    return;
  }
  const QModelIndex above = view->indexAbove(view->currentIndex());
  if (!above.isValid() || proxy->EntryOf(above)) return;
  view->setCurrentIndex(above);
  // Reading backwards: the previous node from its last screen.
  if (TREESTOCKLIST::NodeOf(above)->kind != TREENODE::ROOT) terminal->ScrollLines(MYBITMAP::cLineScrollable);
}

void TREEWINDOW::ExpandAll(const QModelIndex& index) {
  const TREENODE* n = TREESTOCKLIST::NodeOf(index);
  if (!n || n->kind == TREENODE::PAST) return;
  if (proxy->canFetchMore(index)) proxy->fetchMore(index);
  view->expand(index);
  const int rows = proxy->rowCount(index);
  for (int r = 0; r < rows; ++r) ExpandAll(proxy->index(r, 0, index));
}

void TREEWINDOW::Expanded(const QModelIndex& index) {
  const TREENODE* n = TREESTOCKLIST::NodeOf(index);
  if (!n || n->kind != TREENODE::PAST) return;
  // "昔の分..." opens by moving the next older call (day, week) out of it.
  QTimer::singleShot(0, this, [this] {
    if (!TREE::hitemPast) return;
    view->collapse(proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemPast)));
    const int row = TREE::hitemPast->Row();
    TREE::ExpandPastOne();
    const int at = TREE::hitemPast ? row + 1 : row;
    if (at < int(TREE::hitemRoot->children.size()))
      view->setCurrentIndex(proxy->mapFromSource(TREE::Model().IndexOf(TREE::hitemRoot->children[size_t(at)].get())));
  });
}

void TREEWINDOW::SetTreeFont(const QFont& font) {
  view->setFont(font);
  if (REGISTRY::OpenKey(kFontKey, true)) {
    REGISTRY::WriteString(kFontValue, jcode::Utf8ToSjis(font.toString().toStdString()).c_str());
    REGISTRY::CloseKey();
  }
}

QFont TREEWINDOW::TreeFont() const { return view->font(); }

void TREEWINDOW::ChooseFont() {
  QFont f = view->font();
  if (chooseFont && chooseFont(&f)) SetTreeFont(f);
}

void TREEWINDOW::DisplayStyle() {
  int style = config.TreeStyle, days = config.TreeDay, calls = config.TreeConnect;
  if (!RunTreeStyleDialog(this, &style, &days, &calls)) return;
  config.TreeStyle = style;
  config.TreeDay = days;
  config.TreeConnect = calls;
  config.SaveRegistry();
  Rebuild(0);
}

void TREEWINDOW::Help() {
  MyMessageBox(
      "「全体図」には通信の記録が通信ごと（または日ごと、週ごと）に並び、その下に"
      "カラー構文が見つけた掲示板や発言が並びます。\n\n"
      "項目を選ぶと、その部分だけがターミナルに表示されます。Space で次のページ、"
      "Shift+Space で前のページへ進み、項目の終わりで次の項目に移ります。\n\n"
      "「昔の分...」を開くと、もっと古い通信が一つずつ並びます。表示スタイルで、"
      "まとめ方と表示する日数、少なくとも表示する回数を変えられます。\n\n"
      "一番上の項目でストックファイルを新しく作れます。",
      ui::MB_OK | ui::MB_ICONINFORMATION, "「全体図」のヘルプ");
}

TREEWINDOW* TREEWINDOW::Install(FRAMEWINDOW* frame) {
  auto* tree = new TREEWINDOW(frame->Client());
  // The dock's tabs are the tree's pages; the main tree is the first.
  auto* pages = frame->TreeDock()->findChild<QTabWidget*>("TreePages");
  TREEHOOKS& h = TREE::hooks;
  h.insertTab = [frame, pages, tree](QWidget* page, int position, const std::string& title) {
    if (page == tree) {
      frame->SetTreePage(page, QString::fromStdString(title));
      return;
    }
    page->setFont(tree->TreeFont());
    if (pages) pages->insertTab(position, page, QString::fromStdString(title));
  };
  h.removeTab = [pages](int position) {
    if (pages) pages->removeTab(position);
  };
  h.showPage = [pages](QWidget*, QWidget*, int position) {
    if (pages) pages->setCurrentIndex(position);
  };
  h.pageRect = [pages] {
    TREERECT r;
    if (pages && pages->currentWidget()) {
      const QRect g = pages->currentWidget()->geometry();
      r = {g.left(), g.top(), g.right() + 1, g.bottom() + 1};
    }
    return r;
  };
  if (pages)
    QObject::connect(pages, &QTabWidget::currentChanged, tree, [](int i) {
      if (i >= 0) TREE::SetActivePage(i);
    });
  TREE::AddPage(tree, "全体", nullptr, nullptr);
  tree->place = [frame](int where) { frame->PlaceTree(where); };
  tree->placement = [] { return config.TreeView; };
  tree->createStock = [frame] { return RunStockWizard(frame); };
  stockPropHooks.rebuildTree = [] {
    if (g_tree) g_tree->Rebuild(0);
  };
  // A hidden tree costs nothing: it is built when it is first shown.
  QDockWidget* dock = frame->TreeDock();
  if (!dock->isHidden()) {
    tree->Rebuild(0);
  } else {
    QObject::connect(dock, &QDockWidget::visibilityChanged, tree, [tree](bool shown) {
      if (shown && !tree->built) tree->Rebuild(0);
    });
  }
  return tree;
}
