// The host property dialog's window.
#include "shell/hostprop_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/jcode.h"
#include "platform/serialdevice.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/registry.h"

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
QString FromSjis(const char* sjis) { return Q(jcode::SjisToUtf8(sjis)); }
std::string ToSjis(const QString& s) { return jcode::Utf8ToSjis(s.toStdString()); }

template <size_t N>
void Put(char (&buf)[N], const std::string& bytes) {
  std::strncpy(buf, bytes.c_str(), N - 1);
  buf[N - 1] = 0;
}

using Choice = std::pair<int, const char*>;

QComboBox* Choices(std::initializer_list<Choice> choices, int current) {
  return ChoiceBox(std::vector<Choice>(choices), current);
}

int Value(const QComboBox* box) { return box->currentData().toInt(); }

QCheckBox* Check(const char* label, int value) {
  auto* box = new QCheckBox(QString::fromUtf8(label));
  box->setChecked(value != 0);
  return box;
}

QSpinBox* Spin(int lo, int hi, int value) {
  auto* box = new QSpinBox;
  box->setRange(lo, hi);
  box->setValue(value);
  return box;
}

// Adds a labelled row and remembers the label with the field, so that
// SetOn can grey both.
void Row(QFormLayout* form, const char* label, QWidget* field) {
  auto* l = new QLabel(QString::fromUtf8(label));
  l->setBuddy(field);
  field->setProperty("rowLabel", QVariant::fromValue(static_cast<QObject*>(l)));
  form->addRow(l, field);
}

void SetOn(QWidget* field, bool on) {
  field->setEnabled(on);
  if (auto* l = qobject_cast<QLabel*>(field->property("rowLabel").value<QObject*>())) l->setEnabled(on);
}

// A line edit with a button that chooses a file for it.
QWidget* WithBrowse(QLineEdit* edit, QPushButton*& button) {
  auto* w = new QWidget;
  auto* h = new QHBoxLayout(w);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(edit);
  button = new QPushButton(QStringLiteral("参照..."));
  h->addWidget(button);
  edit->setProperty("browseButton", QVariant::fromValue(static_cast<QObject*>(button)));
  return w;
}

// The pace character as shown: nothing for none, the character when it is
// printable, else its code in hexadecimal.
QString PaceText(std::uint8_t c) {
  if (c == 0) return {};
  if (c > 0x20 && c < 0x7F) return QString(QChar(c));
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", c);
  return QString::fromLatin1(buf);
}

// The reverse; false when the text is neither.
bool ParsePace(const QString& text, std::uint8_t& out) {
  QString t = text.trimmed();
  if (t.isEmpty()) {
    out = 0;
    return true;
  }
  if (t.size() == 1 && t[0].unicode() > 0x20 && t[0].unicode() < 0x7F) {
    out = static_cast<std::uint8_t>(t[0].unicode());
    return true;
  }
  bool ok = false;
  int v = t.toInt(&ok, 0);
  if (!ok || v < 0 || v > 255) return false;
  out = static_cast<std::uint8_t>(v);
  return true;
}

const char* const kProtocolLabel[12] = {"XMODEM",   "XMODEM/CRC",     "XMODEM-1K",   "B Plus",
                                        "QuickVAN", "TransIt",        "ZMODEM",      "YMODEM",
                                        "YMODEM-g", "YMODEM (バッチ)", "YMODEM-g (バッチ)", "M-Link"};

int ListIndex(const char* name) {
  char buf[256];
  for (int i = 0; HOSTINI::GetHostName(i, buf, sizeof buf); ++i)
    if (std::strcmp(buf, name) == 0) return i;
  return -1;
}

}  // namespace

HostPropDialog::HostPropDialog(const HOSTPROPERTY& prop, bool isNewHost, QWidget* parent)
    : QDialog(parent), original(prop), stored(prop), isNew(isNewHost) {
  setObjectName("HostPropDialog");
  setWindowTitle(isNew ? QStringLiteral("新しいホストの登録") : QStringLiteral("ホストのプロパティ"));
  const HOSTPROPERTY& p = prop;
  auto* top = new QVBoxLayout(this);
  tabs = new QTabWidget;
  tabs->setObjectName("pages");
  top->addWidget(tabs);

  // General: what the host is called, how it is reached, what runs with it.
  auto* general = new QWidget;
  auto* gForm = new QFormLayout(general);
  name = new QLineEdit(FromSjis(p.szName));
  kind = Choices({{MODEM_TAPI, "電話 (環境設定のモデム)"},
                  {MODEM_DIRECT, "シリアルポート直結"},
                  {MODEM_TELNET, "telnet"},
                  {MODEM_AT, "モデム (ATコマンド)"}},
                 p.ModemType);
  inMenu = new QCheckBox(QStringLiteral("ホストメニューに表示する"));
  inMenu->setChecked(!isNew && HOSTINI::IsHostInMenu(p.szName));
  dialNo = new QLineEdit(FromSjis(p.DialNo));
  dialNo2 = new QLineEdit(FromSjis(p.DialNo2));
  portName = new QLineEdit(FromSjis(p.PortName));
  rasEntry = new QLineEdit(FromSjis(p.RasEntry));
  scriptFile = new QLineEdit(Q(p.ScriptFile));
  stockFile = new QLineEdit(Q(p.StockFile));
  logType = Choices({{0, "取らない"}, {1, "ログ名のファイル"}, {2, "月ごとのファイル"}, {3, "日ごとのファイル"}},
                    p.LogType);
  logName = new QLineEdit(Q(p.LogName));
  logLimit = Spin(0, 99999999, p.LogLimit);
  logLimit->setSuffix(QStringLiteral(" KB"));
  QPushButton *scriptBrowse, *stockBrowse;
  Row(gForm, "ホスト名(&N):", name);
  Row(gForm, "接続方法(&K):", kind);
  gForm->addRow(QString(), inMenu);
  Row(gForm, "電話番号(&D):", dialNo);
  Row(gForm, "第２電話番号:", dialNo2);
  Row(gForm, "ポート(&P):", portName);
  Row(gForm, "ダイヤルアップ接続:", rasEntry);
  Row(gForm, "自動起動スクリプト(&S):", WithBrowse(scriptFile, scriptBrowse));
  Row(gForm, "ストックファイル(&F):", WithBrowse(stockFile, stockBrowse));
  Row(gForm, "ログ(&L):", logType);
  Row(gForm, "ログ名:", logName);
  Row(gForm, "ログの上限:", logLimit);
  tabs->addTab(general, QStringLiteral("全般"));

  // Line: the serial port and the modem.
  auto* line = new QWidget;
  auto* lForm = new QFormLayout(line);
  portNo = Spin(1, 9, p.PortNo + 1);
  portNo->setPrefix(QStringLiteral("COM"));
  device = new QLabel;
  auto* portRow = new QWidget;
  auto* portH = new QHBoxLayout(portRow);
  portH->setContentsMargins(0, 0, 0, 0);
  portH->addWidget(portNo);
  portH->addWidget(device, 1);
  portRow->setProperty("field", QVariant::fromValue(static_cast<QObject*>(portNo)));
  baudrate = new QComboBox;
  baudrate->setEditable(true);
  for (int b : {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400}) baudrate->addItem(QString::number(b));
  baudrate->setValidator(new QIntValidator(1, 99999999, baudrate));
  baudrate->setEditText(QString::number(p.Baudrate));
  stopBit = Choices({{0, "1"}, {1, "1.5"}, {2, "2"}}, p.StopBit);
  flowControl = Choices({{0, "なし"}, {1, "XON/XOFF"}, {2, "RTS/CTS (ハードウェア)"}}, p.FlowControl);
  modemInit = new QLineEdit(FromSjis(p.ModemInit));
  modemInit2 = new QLineEdit(FromSjis(p.ModemInit2));
  dialCommand = new QLineEdit(FromSjis(p.DialCommand));
  modemName = new QLineEdit(FromSjis(p.ModemName));
  maxRate = new QComboBox;
  maxRate->setEditable(true);
  for (int b : {0, 2400, 9600, 14400, 28800, 33600, 57600}) maxRate->addItem(QString::number(b));
  maxRate->setValidator(new QIntValidator(0, 99999999, maxRate));
  maxRate->setEditText(QString::number(p.MaxRate));
  Row(lForm, "シリアルポート(&P):", portRow);
  Row(lForm, "通信速度(&B):", baudrate);
  Row(lForm, "ストップビット:", stopBit);
  Row(lForm, "フロー制御(&F):", flowControl);
  Row(lForm, "モデム初期化(&I):", modemInit);
  Row(lForm, "モデム初期化２:", modemInit2);
  Row(lForm, "ダイヤルコマンド:", dialCommand);
  Row(lForm, "モデム名(&M):", modemName);
  Row(lForm, "最大速度 (0: 指定なし):", maxRate);
  tabs->addTab(line, QStringLiteral("回線"));

  // Terminal: codes and line conventions.
  auto* term = new QWidget;
  auto* tV = new QVBoxLayout(term);
  auto* tForm = new QFormLayout;
  kanjiCode = Choices({{KANJI_SJIS, "シフトJIS"},
                       {KANJI_NEWJIS, "新JIS"},
                       {KANJI_OLDJIS, "旧JIS"},
                       {KANJI_NEC, "NEC漢字"},
                       {KANJI_EUC, "EUC"}},
                      p.KanjiCode);
  cursorCode = Choices({{0, "画面のスクロールに使う"}, {1, "カーソルコードを送信する"}, {2, "VT100 のカーソルキー"}},
                       p.CursorCode);
  Row(tForm, "漢字コード(&J):", kanjiCode);
  Row(tForm, "カーソルキー(&U):", cursorCode);
  tV->addLayout(tForm);
  auto* tGrid = new QGridLayout;
  autoJisEuc = Check("JIS/EUCを自動判別する", p.AutoJisEuc);
  autoJisEuc->setToolTip(QStringLiteral(
      "漢字コードがシフトJISのときは、JISのエスケープシーケンス (ESC $ B、ESC $ @、"
      "ESC ( J/H/B、SO/SI) だけを判別します。EUCはシフトJISと1バイトずつでは区別できない"
      "ため、EUCのホストは漢字コードをEUCにしてください。"));
  localEcho = Check("ローカルエコー(&E)", p.LocalEcho);
  localEdit = Check("ローカル編集(&O)", p.LocalEdit);
  crOnly = Check("受信したCRで改行する", p.ReceiveCROnly);
  sendCrLf = Check("改行をCR+LFで送信する", p.SendCRLF);
  removeCtrls = Check("制御コードを表示しない", p.RemoveCtrls);
  ctrlKeys = Check("Ctrl+A～Zで制御コード発生", p.ControlKey & 1);
  tabKey = Check("TABキーでTABコードを送信する", p.ControlKey & 2);
  sevenBit = Check("7ビットで受信する", p.SevenBit);
  etx = Check("改行をETXで送信する", p.ETX);
  maskCtrl = Check("制御文字を2ﾊﾞｲﾄに変換して送信(&C)", p.MaskCtrlCode);
  collate = Check("送信した文字のエコーを照合する", p.Collate);
  fastSend = Check("テキストを高速に送信する", p.FastSend);
  videoTex = Check("ビデオテックス", p.VideoTex);
  QCheckBox* boxes[] = {autoJisEuc, localEcho, localEdit, crOnly,   sendCrLf, removeCtrls, ctrlKeys,
                        tabKey,     sevenBit,  etx,       maskCtrl, collate,  fastSend,    videoTex};
  for (int i = 0; i < int(std::size(boxes)); ++i) tGrid->addWidget(boxes[i], i / 2, i % 2);
  tV->addLayout(tGrid);
  tV->addStretch(1);
  tabs->addTab(term, QStringLiteral("端末"));

  // Transfer: the protocols offered, automatic starts, text sending.
  auto* xfer = new QWidget;
  auto* xH = new QHBoxLayout(xfer);
  auto* protoBox = new QGroupBox(QStringLiteral("使うプロトコル"));
  auto* pGrid = new QGridLayout(protoBox);
  pGrid->addWidget(new QLabel(QStringLiteral("送信")), 0, 1);
  pGrid->addWidget(new QLabel(QStringLiteral("受信")), 0, 2);
  for (int n = 0; n < 12; ++n) {
    pGrid->addWidget(new QLabel(QString::fromUtf8(kProtocolLabel[n])), n + 1, 0);
    upload[n] = new QCheckBox;
    download[n] = new QCheckBox;
    upload[n]->setObjectName(QStringLiteral("up_") + HOSTPROPERTY::aszProtocolName[n]);
    download[n]->setObjectName(QStringLiteral("down_") + HOSTPROPERTY::aszProtocolName[n]);
    upload[n]->setChecked(p.abProtocol[1 + n] != 0);
    download[n]->setChecked(p.abProtocol[13 + n] != 0);
    pGrid->addWidget(upload[n], n + 1, 1, Qt::AlignHCenter);
    pGrid->addWidget(download[n], n + 1, 2, Qt::AlignHCenter);
  }
  pGrid->setRowStretch(13, 1);
  xH->addWidget(protoBox);
  auto* xRight = new QVBoxLayout;
  auto* autoBox = new QGroupBox(QStringLiteral("ファイル転送"));
  auto* aForm = new QFormLayout(autoBox);
  autoBplus = Check("B Plus を自動で開始する", p.AutoBPLUS);
  autoZmodem = Check("ZMODEM を自動で開始する", p.AutoZmodem);
  flyingXmodem = Check("フライングXMODEM", p.FlyingXmodem);
  saveTimeStamp = Check("タイムスタンプを保存する", p.SaveTimeStamp);
  auto qvWindow = [](int v) { return v >= 1 && v <= 99 ? v : 7; };
  qvReceive = Spin(1, 99, qvWindow(p.QuickVANWindowReceive));
  qvSend = Spin(1, 99, qvWindow(p.QuickVANWindowSend));
  for (QCheckBox* b : {autoBplus, autoZmodem, flyingXmodem, saveTimeStamp}) aForm->addRow(b);
  Row(aForm, "QuickVAN 受信ウィンドウ:", qvReceive);
  Row(aForm, "QuickVAN 送信ウィンドウ:", qvSend);
  xRight->addWidget(autoBox);
  auto* textBox = new QGroupBox(QStringLiteral("テキスト送信"));
  auto* sForm = new QFormLayout(textBox);
  orikaeshi = Spin(0, 999, p.Orikaeshi);
  margin = Spin(0, 999, p.Margin);
  hankakuMargin = Check("余白を半角で入れる", p.HankakuMargin);
  autoMarginSync = Check("字下げを折り返した行にも付ける", p.AutoMarginSync);
  kinsoku = Check("禁則処理をする", p.Kinsoku);
  tabToSpace = Check("TABを空白に変換する", p.TabToSpace);
  paceCharacter = new QLineEdit(PaceText(p.PaceCharacter));
  paceCharacter->setMaxLength(4);
  paceCharacter->setPlaceholderText(QStringLiteral("なし"));
  Row(sForm, "折り返し桁(&W):", orikaeshi);
  Row(sForm, "左余白:", margin);
  for (QCheckBox* b : {hankakuMargin, autoMarginSync, kinsoku, tabToSpace}) sForm->addRow(b);
  Row(sForm, "行送りの待ち文字:", paceCharacter);
  xRight->addWidget(textBox);
  xRight->addStretch(1);
  xH->addLayout(xRight);
  tabs->addTab(xfer, QStringLiteral("ファイル転送"));

  // Object names for tests and scripts of the window: the stored value names.
  const std::pair<QWidget*, const char*> names[] = {
      {name, "szName"},           {kind, "ModemType"},          {inMenu, "HostInMenu"},
      {dialNo, "DialNo"},         {dialNo2, "DialNo2"},         {portName, "PortName"},
      {rasEntry, "RasEntry"},     {scriptFile, "ScriptFile"},   {stockFile, "StockFile"},
      {logType, "LogType"},       {logName, "LogName"},         {logLimit, "LogLimit"},
      {portNo, "PortNo"},         {device, "Device"},           {baudrate, "Baudrate"},
      {stopBit, "StopBit"},       {flowControl, "FlowControl"}, {modemInit, "ModemInit"},
      {modemInit2, "ModemInit2"}, {dialCommand, "DialCommand"}, {modemName, "ModemName"},
      {maxRate, "MaxRate"},       {kanjiCode, "KanjiCode"},     {autoJisEuc, "AutoJisEuc"},
      {localEcho, "LocalEcho"},   {localEdit, "LocalEdit"},     {crOnly, "ReceiveCROnly"},
      {sendCrLf, "SendCRLF"},     {removeCtrls, "RemoveCtrls"}, {ctrlKeys, "ControlKey"},
      {tabKey, "ControlKeyTab"},  {cursorCode, "CursorCode"},   {sevenBit, "7bit"},
      {etx, "ETX"},               {maskCtrl, "MaskCtrlCode"},   {collate, "Collate"},
      {fastSend, "FastSend"},     {videoTex, "VideoTex"},       {autoBplus, "AutoBPLUS"},
      {autoZmodem, "AutoZmodem"}, {flyingXmodem, "FlyingXmodem"}, {saveTimeStamp, "SaveTimeStamp"},
      {qvReceive, "QuickVANWindowReceive"}, {qvSend, "QuickVANWindowSend"}, {orikaeshi, "Orikaeshi"},
      {margin, "Margin"},         {hankakuMargin, "HankakuMargin"}, {autoMarginSync, "AutoMarginSync"},
      {kinsoku, "Kinsoku"},       {tabToSpace, "TabToSpace"},   {paceCharacter, "PaceCharacter"}};
  for (const auto& [w, n] : names) w->setObjectName(QString::fromLatin1(n));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &HostPropDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &HostPropDialog::reject);

  connect(kind, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
  connect(logType, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
  connect(portNo, &QSpinBox::valueChanged, this, [this] { UpdateDevice(); });
  connect(scriptBrowse, &QPushButton::clicked, this,
          [this] { Browse(scriptFile, "自動起動スクリプト", "スクリプト (*.hsc *.scr);;すべてのファイル (*)"); });
  connect(stockBrowse, &QPushButton::clicked, this,
          [this] { Browse(stockFile, "ストックファイル", "すべてのファイル (*)"); });
  UpdateEnabled();
  UpdateDevice();
  name->setFocus();
}

void HostPropDialog::UpdateEnabled() {
  const int k = Value(kind);
  const bool phone = k == MODEM_TAPI || k == MODEM_AT, serial = k == MODEM_DIRECT || k == MODEM_AT;
  // A telnet host's address is DialNo too: the same field, labelled for it.
  SetOn(dialNo, phone || k == MODEM_TELNET);
  SetOn(dialNo2, phone);
  if (auto* l = qobject_cast<QLabel*>(dialNo->property("rowLabel").value<QObject*>()))
    l->setText(k == MODEM_TELNET ? QStringLiteral("ホスト名/アドレス(&A):") : QStringLiteral("電話番号(&D):"));
  for (QWidget* w : {portName, rasEntry}) SetOn(w, k == MODEM_TELNET);
  for (QWidget* w : {static_cast<QWidget*>(modemName), static_cast<QWidget*>(maxRate)}) SetOn(w, k == MODEM_TAPI);
  SetOn(portNo->parentWidget(), serial);
  for (QWidget* w : {baudrate, stopBit, flowControl}) SetOn(w, serial);
  for (QWidget* w : {modemInit, modemInit2, dialCommand}) SetOn(w, k == MODEM_AT);
  const bool log = Value(logType) != 0;
  SetOn(logName, log);
  SetOn(logLimit, log);
}

void HostPropDialog::UpdateDevice() {
  std::string path = ComDevicePath(portNo->value() - 1);
  device->setText(path.empty() ? QString() : QStringLiteral("→ ") + Q(path));
}

void HostPropDialog::Browse(QLineEdit* edit, const char* title, const char* filter) {
  std::string dir = edit->text().isEmpty() ? std::string(config.ScriptPath) : edit->text().toStdString();
  std::string path = ui::Current().ChooseFile(title, dir, filter, false);
  if (!path.empty()) edit->setText(Q(path));
}

HOSTPROPERTY HostPropDialog::Result() const {
  HOSTPROPERTY p = original;
  Put(p.szName, ToSjis(name->text()));
  p.ModemType = Value(kind);
  Put(p.DialNo, ToSjis(dialNo->text()));
  Put(p.DialNo2, ToSjis(dialNo2->text()));
  Put(p.PortName, ToSjis(portName->text()));
  Put(p.RasEntry, ToSjis(rasEntry->text()));
  Put(p.ScriptFile, scriptFile->text().toStdString());
  Put(p.StockFile, stockFile->text().toStdString());
  p.LogType = Value(logType);
  Put(p.LogName, logName->text().toStdString());
  p.LogLimit = logLimit->value();

  p.PortNo = portNo->value() - 1;
  bool ok = false;
  int b = baudrate->currentText().toInt(&ok);
  if (ok && b > 0) p.Baudrate = b;
  p.StopBit = Value(stopBit);
  p.FlowControl = Value(flowControl);
  Put(p.ModemInit, ToSjis(modemInit->text()));
  Put(p.ModemInit2, ToSjis(modemInit2->text()));
  Put(p.DialCommand, ToSjis(dialCommand->text()));
  Put(p.ModemName, ToSjis(modemName->text()));
  int m = maxRate->currentText().toInt(&ok);
  if (ok && m >= 0) p.MaxRate = m;

  p.KanjiCode = Value(kanjiCode);
  p.AutoJisEuc = autoJisEuc->isChecked();
  p.LocalEcho = localEcho->isChecked();
  p.LocalEdit = localEdit->isChecked();
  p.ReceiveCROnly = crOnly->isChecked();
  p.SendCRLF = sendCrLf->isChecked();
  p.RemoveCtrls = removeCtrls->isChecked();
  // Bits other than the two shown keep their values.
  p.ControlKey = (original.ControlKey & ~3) | (ctrlKeys->isChecked() ? 1 : 0) | (tabKey->isChecked() ? 2 : 0);
  p.CursorCode = Value(cursorCode);
  p.SevenBit = sevenBit->isChecked();
  p.ETX = etx->isChecked();
  p.MaskCtrlCode = maskCtrl->isChecked();
  p.Collate = collate->isChecked();
  p.FastSend = fastSend->isChecked();
  p.VideoTex = videoTex->isChecked();

  for (int n = 0; n < 12; ++n) {
    p.abProtocol[1 + n] = upload[n]->isChecked();
    p.abProtocol[13 + n] = download[n]->isChecked();
  }
  p.AutoBPLUS = autoBplus->isChecked();
  p.AutoZmodem = autoZmodem->isChecked();
  p.FlyingXmodem = flyingXmodem->isChecked();
  p.SaveTimeStamp = saveTimeStamp->isChecked();
  p.QuickVANWindowReceive = qvReceive->value();
  p.QuickVANWindowSend = qvSend->value();
  p.Orikaeshi = orikaeshi->value();
  p.Margin = margin->value();
  p.HankakuMargin = hankakuMargin->isChecked();
  p.AutoMarginSync = autoMarginSync->isChecked();
  p.Kinsoku = kinsoku->isChecked();
  p.TabToSpace = tabToSpace->isChecked();
  std::uint8_t pace = 0;
  if (ParsePace(paceCharacter->text(), pace)) p.PaceCharacter = pace;
  return p;
}

bool HostPropDialog::InMenu() const { return inMenu->isChecked(); }

bool HostPropDialog::Validate() {
  auto refuse = [this](QWidget* w, const std::string& message) {
    for (QWidget* page = w; page; page = page->parentWidget())
      if (tabs->indexOf(page) >= 0) tabs->setCurrentWidget(page);
    w->setFocus();
    MyMessageBox(message, ui::MB_OK | ui::MB_ICONWARNING);
    return false;
  };
  // Texts: Shift_JIS ones must convert and fit; file names (UTF-8) must fit.
  struct Text {
    QLineEdit* edit;
    size_t size;
    bool path;
    const char* label;
  };
  const Text texts[] = {{name, sizeof original.szName, false, "ホスト名"},
                        {dialNo, sizeof original.DialNo, false,
                         Value(kind) == MODEM_TELNET ? "ホスト名/アドレス" : "電話番号"},
                        {dialNo2, sizeof original.DialNo2, false, "第２電話番号"},
                        {portName, sizeof original.PortName, false, "ポート"},
                        {rasEntry, sizeof original.RasEntry, false, "ダイヤルアップ接続"},
                        {scriptFile, sizeof original.ScriptFile, true, "自動起動スクリプト"},
                        {stockFile, sizeof original.StockFile, true, "ストックファイル"},
                        {logName, sizeof original.LogName, true, "ログ名"},
                        {modemInit, sizeof original.ModemInit, false, "モデム初期化"},
                        {modemInit2, sizeof original.ModemInit2, false, "モデム初期化２"},
                        {dialCommand, sizeof original.DialCommand, false, "ダイヤルコマンド"},
                        {modemName, sizeof original.ModemName, false, "モデム名"}};
  for (const Text& t : texts) {
    const std::string utf8 = t.edit->text().toStdString();
    const std::string bytes = t.path ? utf8 : jcode::Utf8ToSjis(utf8);
    if (!t.path && jcode::SjisToUtf8(bytes) != utf8)
      return refuse(t.edit, std::string("「") + t.label + "」に使えない文字が含まれています。");
    if (bytes.size() >= t.size)
      return refuse(t.edit, std::string("「") + t.label + "」が長すぎます。半角 " + std::to_string(t.size - 1) +
                                "文字までにしてください。");
  }
  if (Value(kind) == MODEM_TELNET && !CheckTelnetAddress(refuse)) return false;
  const std::string sjisName = ToSjis(name->text());
  const bool renamed = !isNew && sjisName != original.szName;
  if (std::string m = HOSTINI::CheckHostName(sjisName.c_str(), isNew || renamed); !m.empty())
    return refuse(name, m);
  bool ok = false;
  if (int b = baudrate->currentText().toInt(&ok); !ok || b <= 0)
    return refuse(baudrate, "通信速度を数字で指定してください。");
  if (int m = maxRate->currentText().toInt(&ok); !ok || m < 0)
    return refuse(maxRate, "最大速度を数字で指定してください。");
  std::uint8_t pace;
  if (!ParsePace(paceCharacter->text(), pace))
    return refuse(paceCharacter, "行送りの待ち文字は、１文字か 0x0D のような文字コードで指定してください。");
  return true;
}

template <class Refuse>
bool HostPropDialog::CheckTelnetAddress(Refuse refuse) {
  // An address typed with its port ("host:2323", "[::1]:23", a telnet://
  // URL) is split into the two fields.  An empty address is asked for at
  // each call.
  const std::string typed = ToSjis(dialNo->text().trimmed());
  if (!typed.empty()) {
    std::string address, port, why;
    if (!SplitTelnetAddress(typed, &address, &port, &why)) return refuse(dialNo, why);
    if (address.size() >= sizeof original.DialNo)
      return refuse(dialNo, "「ホスト名/アドレス」が長すぎます。半角 " + std::to_string(sizeof original.DialNo - 1) +
                                "文字までにしてください。");
    dialNo->setText(FromSjis(address.c_str()));
    if (!port.empty()) portName->setText(FromSjis(port.c_str()));
  }
  const std::string port = ToSjis(portName->text().trimmed());
  if (TelnetPortNumber(port) == 0)
    return refuse(portName, "ポート「" + jcode::SjisToUtf8(port) +
                                "」は使えません。1～65535 の番号か、telnet のようなサービス名で指定してください。");
  portName->setText(FromSjis(port.c_str()));
  return true;
}

bool HostPropDialog::Store(const HOSTPROPERTY& p) {
  const int menu = InMenu() ? 1 : 0;
  // One write of the settings file: the host is either stored completely
  // (under its new name, at its old place) or not at all.
  REGISTRY::BeginBatch();
  if (isNew) {
    p.SaveRegistry();
    HOSTINI::AppendHost(p.szName, menu);
  } else if (std::strcmp(p.szName, original.szName) != 0) {
    const int at = ListIndex(original.szName);
    p.SaveRegistry();
    if (at >= 0)
      HOSTINI::PutHostOrder(p.szName, at);
    else
      HOSTINI::AppendHost(p.szName, menu);
    HOSTINI::PutHostInMenuFlag(p.szName, menu);
    REGISTRY::DeleteKey("Host\\" + jcode::SjisToUtf8(original.szName));
  } else {
    p.SaveRegistry();
    HOSTINI::PutHostInMenuFlag(p.szName, menu);
  }
  if (!REGISTRY::EndBatch()) return false;
  HOSTINI::SetHostMenu();
  return true;
}

void HostPropDialog::accept() {
  if (!Validate()) return;
  HOSTPROPERTY p = Result();
  if (!Store(p)) return;
  stored = p;
  QDialog::accept();
}

bool EditHostProperty(QWidget* parent, HOSTPROPERTY& prop, bool isNew) {
  HostPropDialog dialog(prop, isNew, parent);
  if (ui::Current().RunModal([&] { return dialog.exec(); }) != QDialog::Accepted) return false;
  prop = dialog.Stored();
  return true;
}

QComboBox* ChoiceBox(const std::vector<std::pair<int, const char*>>& choices, int current) {
  auto* box = new QComboBox;
  for (const auto& c : choices) box->addItem(QString::fromUtf8(c.second), c.first);
  int at = box->findData(current);
  if (at < 0) {
    box->addItem(QStringLiteral("その他 (%1)").arg(current), current);
    at = box->count() - 1;
  }
  box->setCurrentIndex(at);
  return box;
}
