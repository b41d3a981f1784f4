// The settings dialog's window.
#include "shell/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostprop_dialog.h"

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

using Choice = std::pair<int, const char*>;

// How a value is shown.  Values without an entry get a control by their kind.
struct Look {
  enum Type { CHECK, NUMBER, CHOICE, SPEED, TEXT, DIR, FILE, PORT };
  Look() = default;
  Look(Type t, const char* l, int low = 0, int high = INT_MAX, const char* sp = nullptr, std::vector<Choice> ch = {})
      : type(t), label(l), lo(low), hi(high), special(sp), choices(std::move(ch)) {}
  Type type = TEXT;
  const char* label = "";
  int lo = 0, hi = INT_MAX;
  const char* special = nullptr;  // NUMBER: text shown for the lowest value
  std::vector<Choice> choices;    // CHOICE
};

const std::map<std::string, Look>& Looks() {
  static const std::map<std::string, Look> looks = {
      // Folders and programs.
      {"HomeDir", {Look::DIR, "ホームフォルダ"}},
      {"ScriptPath", {Look::DIR, "スクリプトのフォルダ"}},
      {"DownloadPath", {Look::DIR, "ダウンロードのフォルダ"}},
      {"UploadPath", {Look::DIR, "アップロードのフォルダ"}},
      {"LogPath", {Look::DIR, "ログのフォルダ"}},
      {"BackupPath", {Look::DIR, "ストックのバックアップ先"}},
      {"CopyToFilePath", {Look::DIR, "ファイルへのコピーの保存先"}},
      {"Editor", {Look::FILE, "エディタ"}},
      {"Browser", {Look::FILE, "ブラウザ"}},
      // Stock and quoting.
      {"LineBuffer", {Look::NUMBER, "画面のバックスクロール行数", 1000, 10000000}},
      {"StockFile", {Look::FILE, "ストックファイル"}},
      {"StockFile2", {Look::FILE, "ストックファイル２"}},
      {"BackupFormat", {Look::NUMBER, "バックアップの形式", 0, 99}},
      {"Quote", {Look::TEXT, "引用符"}},
      {"TreeDay", {Look::NUMBER, "ツリーに出す日数", 0, 9999}},
      {"TreeConnect", {Look::NUMBER, "ツリーに出す接続回数", 0, 9999}},
      {"CommentTree", {Look::CHECK, "コメントツリーを使う"}},
      {"BoardDay", {Look::NUMBER, "ボードに出す日数", 0, 9999}},
      {"BoardConnect", {Look::NUMBER, "ボードに出す接続回数", 0, 9999}},
      {"UnreadDay", {Look::NUMBER, "未読とする日数", 0, 9999}},
      {"UnreadConnect", {Look::NUMBER, "未読とする接続回数", 0, 9999}},
      // Screen.
      {"FaceName", {Look::TEXT, "フォント"}},
      {"FontPoint", {Look::NUMBER, "フォントの大きさ", 0, 72, "自動"}},
      {"SmoothScroll", {Look::CHECK, "スムーズスクロール"}},
      {"SmoothBackScroll", {Look::CHECK, "バックスクロールもスムーズに"}},
      {"AutoSmooth", {Look::CHECK, "受信が多いときはスムーズスクロールをやめる"}},
      {"SmoothCount", {Look::NUMBER, "スムーズスクロールの段数", 1, 99}},
      {"SmoothCount2", {Look::NUMBER, "バックスクロールの段数", 1, 99}},
      {"FastScroll", {Look::CHECK, "高速スクロール"}},
      {"VertScroll", {Look::CHECK, "縦スクロールバーを出す"}},
      {"HorzScroll", {Look::CHECK, "横スクロールバーを出す"}},
      {"LeftSpace", {Look::NUMBER, "左の余白 (ドット)", 0, 999}},
      {"ShowFuncKey", {Look::CHECK, "ファンクションキーを表示する"}},
      {"FuncKeyNum", {Look::NUMBER, "ファンクションキーの数", 1, 12}},
      {"TreeStyle", {Look::NUMBER, "ツリーの表示形式", 0, 99}},
      {"BackScroll", {Look::NUMBER, "バックスクロール", 0, 99}},
      // Dialling.
      {"DialTimeout", {Look::NUMBER, "ダイヤルのタイムアウト (秒)", 1, 9999}},
      {"DialPitch", {Look::NUMBER, "リダイヤルの間隔 (秒)", 0, 9999}},
      {"MaxRedial", {Look::NUMBER, "リダイヤルの回数", 0, 9999}},
      {"HangupTimeout", {Look::NUMBER, "回線切断のタイムアウト (秒)", 1, 9999}},
      {"HangupNoError", {Look::CHECK, "回線切断時のエラーを表示しない"}},
      {"CdCheck", {Look::CHECK, "キャリア検出 (CD) 信号を監視する"}},
      {"CheckCommError", {Look::CHECK, "通信エラーを検出する"}},
      {"InterPhone", {Look::CHECK, "内線から発信する"}},
      {"DialPrefix", {Look::TEXT, "外線発信番号"}},
      {"PhoneLine", {Look::CHOICE, "回線の種類", 0, 0, nullptr, {{0, "パルス"}, {1, "トーン"}, {2, "指定しない"}, {3, "トーン ($)"}}}},
      {"AutoDialupHangup", {Look::CHECK, "切断時にダイヤルアップ接続も切る"}},
      {"ExitDialupHangup", {Look::CHECK, "終了時にダイヤルアップ接続を切る"}},
      // The environment's modem.
      {"ModemName", {Look::TEXT, "モデム名"}},
      {"PortNo", {Look::PORT, "シリアルポート"}},
      {"Baudrate", {Look::SPEED, "通信速度"}},
      {"FlowControl", {Look::CHOICE, "フロー制御", 0, 0, nullptr, {{0, "なし"}, {1, "XON/XOFF"}, {2, "RTS/CTS (ハードウェア)"}}}},
      {"ModemInit", {Look::TEXT, "モデム初期化"}},
      // Transfers and sending.
      {"MinimizeUpload", {Look::CHECK, "アップロード中はウィンドウを最小化する"}},
      {"MinimizeDownload", {Look::CHECK, "ダウンロード中はウィンドウを最小化する"}},
      {"MinimizeBplus", {Look::CHECK, "B Plus の転送中はウィンドウを最小化する"}},
      {"MinimizeZmodem", {Look::CHECK, "ZMODEM の転送中はウィンドウを最小化する"}},
      {"Wordwrap", {Look::CHECK, "英単語の途中で折り返さない"}},
      {"Burasage", {Look::CHECK, "ぶら下げ禁則をする"}},
      {"TopKinsoku", {Look::TEXT, "行頭禁則文字"}},
      {"BottomKinsoku", {Look::TEXT, "行末禁則文字"}},
  };
  return looks;
}

CONFIG::Field* FindField(std::vector<CONFIG::Field>& fields, const std::string& name) {
  for (CONFIG::Field& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

}  // namespace

ConfigDialog::ConfigDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigDialog");
  setWindowTitle(QStringLiteral("環境設定"));
  auto* top = new QVBoxLayout(this);
  tabs = new QTabWidget;
  top->addWidget(tabs);

  AddPage("フォルダ", {"HomeDir", "ScriptPath", "DownloadPath", "UploadPath", "LogPath", "BackupPath",
                       "CopyToFilePath", "Editor", "Browser"});
  AddPage("ストック", {"StockFile", "StockFile2", "LineBuffer", "BackupFormat", "Quote", "TreeDay", "TreeConnect",
                       "CommentTree", "BoardDay", "BoardConnect", "UnreadDay", "UnreadConnect"});
  AddPage("画面", {"FaceName", "FontPoint", "SmoothScroll", "SmoothBackScroll", "AutoSmooth", "SmoothCount",
                   "SmoothCount2", "FastScroll", "VertScroll", "HorzScroll", "LeftSpace", "ShowFuncKey", "FuncKeyNum",
                   "TreeStyle", "BackScroll"});
  AddPage("ダイヤル", {"DialTimeout", "DialPitch", "MaxRedial", "HangupTimeout", "HangupNoError", "CdCheck",
                       "CheckCommError", "InterPhone", "DialPrefix", "PhoneLine", "AutoDialupHangup",
                       "ExitDialupHangup"});
  QWidget* modem = AddPage("モデム", {"ModemName", "PortNo", "Baudrate", "FlowControl", "ModemInit"});
  // The serial devices behind the port numbers.
  auto* devices = new QGroupBox(QStringLiteral("シリアルポートのデバイス (空欄: /dev/ttyS0 ～ /dev/ttyS8)"));
  auto* dForm = new QFormLayout(devices);
  for (int n = 1; n <= 9; ++n) {
    const std::string name = "ComDevice" + std::to_string(n);
    QWidget* w = MakeControl(name);
    if (auto* edit = w->findChild<QLineEdit*>(Q(name)); edit)
      edit->setPlaceholderText(QStringLiteral("/dev/ttyS%1").arg(n - 1));
    dForm->addRow(QStringLiteral("COM%1:").arg(n), w);
  }
  qobject_cast<QVBoxLayout*>(modem->layout())->insertWidget(1, devices);
  AddPage("ファイル転送", {"MinimizeUpload", "MinimizeDownload", "MinimizeBplus", "MinimizeZmodem", "Wordwrap",
                           "Burasage", "TopKinsoku", "BottomKinsoku"});
  AddRestTable();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigDialog::reject);
  resize(640, 520);
}

QWidget* ConfigDialog::AddPage(const char* title, const std::vector<const char*>& names) {
  auto* page = new QWidget;
  auto* v = new QVBoxLayout(page);
  auto* form = new QFormLayout;
  for (const char* name : names) {
    QWidget* w = MakeControl(name);
    auto look = Looks().find(name);
    if (look != Looks().end() && look->second.type == Look::CHECK)
      form->addRow(w);
    else
      form->addRow(QString::fromUtf8(look != Looks().end() ? look->second.label : name) + QStringLiteral(":"), w);
  }
  v->addLayout(form);
  v->addStretch(1);
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(page);
  tabs->addTab(scroll, QString::fromUtf8(title));
  return page;
}

QWidget* ConfigDialog::MakeControl(const std::string& name) {
  std::string text;
  config.GetValue(name, text);
  const int number = std::atoi(text.c_str());
  const QString objectName = Q(name);
  auto found = Looks().find(name);
  Look look;
  if (found != Looks().end()) {
    look = found->second;
  } else {
    std::vector<CONFIG::Field> fields = config.Fields();
    const CONFIG::Field* f = FindField(fields, name);
    look.type = f && f->kind == CONFIG::Field::INT ? Look::NUMBER : f && f->kind != CONFIG::Field::TEXT ? Look::FILE : Look::TEXT;
    look.lo = INT_MIN;
  }

  QWidget* control = nullptr;  // what carries the object name
  QWidget* shown = nullptr;    // what goes into the page
  std::function<std::string()> value;
  switch (look.type) {
    case Look::CHECK: {
      auto* box = new QCheckBox(QString::fromUtf8(look.label));
      box->setChecked(number != 0);
      value = [box] { return std::string(box->isChecked() ? "1" : "0"); };
      control = box;
      break;
    }
    case Look::NUMBER: {
      auto* spin = new QSpinBox;
      spin->setRange(look.lo, look.hi);
      if (look.special) spin->setSpecialValueText(QString::fromUtf8(look.special));
      spin->setValue(number);
      value = [spin] { return std::to_string(spin->value()); };
      control = spin;
      break;
    }
    case Look::PORT: {
      // Port numbers are stored from 0 and shown from 1.
      auto* spin = new QSpinBox;
      spin->setRange(1, 9);
      spin->setPrefix(QStringLiteral("COM"));
      spin->setValue(number + 1);
      value = [spin] { return std::to_string(spin->value() - 1); };
      control = spin;
      break;
    }
    case Look::CHOICE: {
      auto* box = ChoiceBox(look.choices, number);
      value = [box] { return std::to_string(box->currentData().toInt()); };
      control = box;
      break;
    }
    case Look::SPEED: {
      auto* box = new QComboBox;
      box->setEditable(true);
      for (int b : {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400}) box->addItem(QString::number(b));
      box->setValidator(new QIntValidator(1, INT_MAX, box));
      box->setEditText(Q(text));
      value = [box] { return box->currentText().trimmed().toStdString(); };
      control = box;
      break;
    }
    case Look::TEXT:
    case Look::DIR:
    case Look::FILE: {
      auto* edit = new QLineEdit(Q(text));
      value = [edit] { return edit->text().toStdString(); };
      control = edit;
      if (look.type == Look::TEXT) break;
      auto* row = new QWidget;
      auto* h = new QHBoxLayout(row);
      h->setContentsMargins(0, 0, 0, 0);
      h->addWidget(edit);
      auto* browse = new QPushButton(QStringLiteral("参照..."));
      h->addWidget(browse);
      const bool dir = look.type == Look::DIR;
      connect(browse, &QPushButton::clicked, this, [this, edit, dir] {
        std::string chosen;
        if (dir)
          chosen = QFileDialog::getExistingDirectory(this, QString(), edit->text()).toStdString();
        else
          chosen = ui::Current().ChooseFile("ファイルの選択", edit->text().toStdString(), "すべてのファイル (*)", false);
        if (!chosen.empty()) edit->setText(Q(chosen));
      });
      shown = row;
      break;
    }
  }
  control->setObjectName(objectName);
  control->setProperty("label", QString::fromUtf8(look.label));
  bindings.push_back({name, value(), value, control});
  return shown ? shown : control;
}

void ConfigDialog::AddRestTable() {
  std::set<std::string> shown;
  for (const Binding& b : bindings) shown.insert(b.name);
  rest = new QTableWidget;
  rest->setObjectName("rest");
  rest->setColumnCount(2);
  rest->setHorizontalHeaderLabels({QStringLiteral("名前"), QStringLiteral("値")});
  rest->verticalHeader()->hide();
  rest->horizontalHeader()->setStretchLastSection(true);
  for (const CONFIG::Field& f : config.Fields()) {
    if (shown.count(f.name)) continue;
    std::string text;
    config.GetValue(f.name, text);
    const int row = rest->rowCount();
    rest->insertRow(row);
    auto* key = new QTableWidgetItem(Q(f.name));
    key->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    rest->setItem(row, 0, key);
    auto* item = new QTableWidgetItem(Q(text));
    rest->setItem(row, 1, item);
    QTableWidget* table = rest;
    bindings.push_back({f.name, text, [table, row] { return table->item(row, 1)->text().toStdString(); }, nullptr});
  }
  rest->resizeColumnToContents(0);
  tabs->addTab(rest, QStringLiteral("その他"));
}

bool ConfigDialog::Apply() {
  auto next = std::make_unique<CONFIG>(config);
  std::vector<CONFIG::Field> fields = next->Fields();
  for (const Binding& b : bindings) {
    const std::string v = b.value();
    if (v == b.initial) continue;
    // Show the control at fault before telling why.
    auto refuse = [&](const std::string& why) {
      if (b.widget) {
        for (QWidget* w = b.widget; w; w = w->parentWidget())
          if (auto* scroll = qobject_cast<QScrollArea*>(w)) tabs->setCurrentWidget(scroll);
        b.widget->setFocus();
      } else {
        tabs->setCurrentWidget(rest);
        for (int row = 0; row < rest->rowCount(); ++row)
          if (rest->item(row, 0)->text().toStdString() == b.name) rest->setCurrentCell(row, 1);
      }
      MyMessageBox(why, ui::MB_OK | ui::MB_ICONWARNING);
      return false;
    };
    QString label = b.widget ? b.widget->property("label").toString() : QString();
    const std::string what = "「" + (label.isEmpty() ? b.name : label.toStdString()) + "」";
    const CONFIG::Field* f = FindField(fields, b.name);
    if (!f) return refuse(what + "という設定はありません。");
    if (f->kind == CONFIG::Field::INT) {
      char* end = nullptr;
      errno = 0;
      long long n = std::strtoll(v.c_str(), &end, 0);
      if (v.empty() || *end || errno || n < INT_MIN || n > UINT_MAX) return refuse(what + "には数字を指定してください。");
    } else if (f->kind == CONFIG::Field::TEXT || f->kind == CONFIG::Field::PATH) {
      const std::string bytes = f->kind == CONFIG::Field::TEXT ? jcode::Utf8ToSjis(v) : v;
      if (f->kind == CONFIG::Field::TEXT && jcode::SjisToUtf8(bytes) != v)
        return refuse(what + "に使えない文字が含まれています。");
      if (bytes.size() >= f->size)
        return refuse(what + "が長すぎます。半角 " + std::to_string(f->size - 1) + "文字までにしてください。");
    }
    std::string error;
    if (!next->SetValue(b.name, v, &error)) return refuse(what + ": " + error);
  }
  auto before = std::make_unique<CONFIG>(config);
  config = *next;
  if (!config.SaveRegistry()) {
    config = *before;
    return false;
  }
  return true;
}

void ConfigDialog::accept() {
  if (Apply()) QDialog::accept();
}

bool RunConfigDialog(QWidget* parent) {
  ConfigDialog dialog(parent);
  return ui::Current().RunModal([&] { return dialog.exec(); }) == QDialog::Accepted;
}
