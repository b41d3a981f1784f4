// The settings dialog's window.
#include "shell/config_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostprop_dialog.h"
#include "terminal/terminal_view.h"

namespace {

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

using Choice = std::pair<int, const char*>;

// How a value is shown.  Values without an entry get a control by their kind.
struct Look {
  enum Type { CHECK, NUMBER, CHOICE, SPEED, TEXT, DIR, FILE, PORT, FONT, COLOUR };
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
      {"FaceName", {Look::FONT, "フォント"}},
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
      {"BunKin", {Look::TEXT, "分離禁止文字"}},
      // Colours of the terminal and of the colour syntax.
      {"Color00", {Look::COLOUR, "背景"}},
      {"Color07", {Look::COLOUR, "文字"}},
      {"Color15", {Look::COLOUR, "強調表示の文字"}},
      {"Color16", {Look::COLOUR, "引用"}},
      {"Color17", {Look::COLOUR, "レベル１"}},
      {"Color18", {Look::COLOUR, "レベル２"}},
      {"Color19", {Look::COLOUR, "レベル３"}},
      {"Color20", {Look::COLOUR, "レベル４"}},
      {"Color21", {Look::COLOUR, "レベル５"}},
      {"Color22", {Look::COLOUR, "レベル６"}},
      {"Color23", {Look::COLOUR, "レベル７"}},
  };
  return looks;
}

// The values of the "その他" page: a Japanese label and what the value means.
struct Meaning {
  const char* label;
  const char* meaning;
};

const std::map<std::string, Meaning>& Meanings() {
  static const std::map<std::string, Meaning> meanings = {
      {"LRBrowser", {"ブラウザの左右分割", "1: ボードブラウザを左右に分けて表示する"}},
      {"BrowseArea", {"ブラウザの表示範囲", "ボードブラウザが表示する範囲の種類"}},
      {"QuoteTable", {"引用符の一覧", "引用とみなす行頭の文字列 (タブ区切り、空欄で標準の一覧)"}},
      {"LowerCase", {"小文字で表示", "1: 英字を小文字にして表示する"}},
      {"UseIni", {"Quillnet.ini を使う", "1: 設定の写しを Quillnet.ini に書き、他のプログラムからのホスト登録を受け付ける"}},
      {"NoColorOnline", {"接続中はカラー構文を計算しない", "1: 電話が切れてからカラー構文を計算する"}},
      {"EditorType", {"エディタの種類", "0: 標準のエディタ、1: 「その他のエディタ」を使う"}},
      {"OtherEditor", {"その他のエディタ", "エディタの種類が 1 のとき起動するプログラム"}},
      {"GoLineEndKey", {"行末へ移動するキー", "エディタで行末へ移動するキーのコード (0: なし)"}},
      {"GoFileEndKey", {"ファイルの末尾へ移動するキー", "エディタでファイルの末尾へ移動するキーのコード"}},
      {"PasteKey", {"貼り付けのキー", "エディタへ貼り付けるキーのコード"}},
      {"PasteFix", {"貼り付けの補正", "1: 貼り付けた文字列の行末を補正する"}},
      {"ReduceVert", {"行間を詰める", "1: 画面の行間を詰めて表示する"}},
      {"LineFeed", {"改行の扱い", "受信した改行コードの扱い (0: そのまま)"}},
      {"FuncKeyWrap", {"ファンクションキーを折り返す", "1: ファンクションキーが並びきらないとき2段にする"}},
      {"SetScroll", {"スクロール範囲の指定", "1: ホストが指定したスクロール範囲を使う"}},
      {"BoardShowAll", {"ボードをすべて表示", "1: ボードブラウザで既読の発言も表示する"}},
      {"UnreadOnly", {"未読だけ表示", "1: 未読の発言だけを表示する"}},
      {"ShowSpeechNo", {"発言番号を表示", "1: ツリーに発言番号を表示する"}},
      {"IconType", {"アイコンの種類", "ウィンドウのアイコンの番号"}},
      {"WindowPosX", {"ウィンドウの位置 (横)", "終了時のメインウィンドウの左端 (ドット)"}},
      {"WindowPosY", {"ウィンドウの位置 (縦)", "終了時のメインウィンドウの上端 (ドット)"}},
      {"WindowSizeX", {"ウィンドウの幅", "終了時のメインウィンドウの幅 (ドット、0: 標準)"}},
      {"WindowSizeY", {"ウィンドウの高さ", "終了時のメインウィンドウの高さ (ドット、0: 標準)"}},
      {"ReducedPosX", {"縮小時の位置", "縮小表示したときのウィンドウの左端 (ドット)"}},
      {"ReducedSizeX", {"縮小時の幅", "縮小表示したときのウィンドウの幅 (ドット)"}},
      {"ShowTree", {"ツリーを表示", "1: ツリーウィンドウを表示する"}},
      {"TreeView", {"ツリーウィンドウの場所", "0: 浮かせる、1: タワー画面、2: ワイド画面、3: 反転ワイド画面"}},
      {"SentenceX", {"短文ウィンドウの位置 (横)", "短文ウィンドウの左端 (ドット)"}},
      {"SentenceY", {"短文ウィンドウの位置 (縦)", "短文ウィンドウの上端 (ドット)"}},
      {"SubSizeY", {"サブウィンドウの高さ", "バックスクロール中に接続画面を映すウィンドウの高さ (ドット)"}},
      {"UpDownPosX", {"転送ウィンドウの位置 (横)", "ファイル転送ウィンドウの左端 (ドット)"}},
      {"UpDownPosY", {"転送ウィンドウの位置 (縦)", "ファイル転送ウィンドウの上端 (ドット)"}},
      {"SortByName", {"名前順に並べる", "1: 一覧を名前の順に並べる"}},
      {"SortByName2", {"名前順に並べる (2)", "1: 二つめの一覧を名前の順に並べる"}},
      {"SortByName3", {"名前順に並べる (3)", "1: 三つめの一覧を名前の順に並べる"}},
      {"TreePosX", {"ツリーの位置 (横)", "浮かせたツリーウィンドウの左端 (ドット)"}},
      {"TreePosY", {"ツリーの位置 (縦)", "浮かせたツリーウィンドウの上端 (ドット)"}},
      {"TreeSizeX", {"ツリーの幅", "浮かせたツリーウィンドウの幅 (ドット)"}},
      {"TreeSizeY", {"ツリーの高さ", "浮かせたツリーウィンドウの高さ (ドット)"}},
      {"TreeTower", {"タワー画面のツリーの幅", "端末の横に置いたツリーの幅 (ドット)"}},
      {"TreeActive", {"ツリーにフォーカス", "1: 起動時にツリーへフォーカスを置く (終了時の状態)"}},
      {"EnvPage", {"動作環境の最後のページ", "動作環境を開いたときに出すページの番号"}},
      {"ChatMode", {"チャットモード", "1: チャットモードで起動する"}},
      {"SearchType", {"検索の種類", "前回の検索で選んだ種類"}},
      {"SearchArea", {"検索の範囲", "前回の検索で選んだ範囲"}},
      {"ScriptFile", {"最後に実行したスクリプト", "実行(&X) が最初に示すスクリプトファイル"}},
      {"NoiseMixing", {"送信に雑音を混ぜる", "1: 試験用に送信データへ雑音を混ぜる (通常は 0)"}},
      {"PColor", {"カラー印刷", "1: 色付きで印刷する"}},
      {"PFont", {"印刷のフォント", "印刷に使うフォント名"}},
      {"PFontSize", {"印刷の文字の大きさ", "印刷するフォントのポイント数"}},
      {"PLeftMargin", {"印刷の左余白", "用紙の左の余白 (mm)"}},
      {"PTopMargin", {"印刷の上余白", "用紙の上の余白 (mm)"}},
      {"PBottomMargin", {"印刷の下余白", "用紙の下の余白 (mm)"}},
      {"PSpace", {"印刷の行間", "印刷する行の間隔 (ポイント)"}},
      {"PPrinterName", {"プリンタ名", "印刷に使うプリンタ (空欄: 標準のプリンタ)"}},
      {"Plate", {"印刷の飾り", "1: 用紙の上下に見出しを付けて印刷する"}},
      {"Print", {"印刷の範囲", "前回の印刷で選んだ範囲"}},
  };
  return meanings;
}

// The label and meaning of a value of the "その他" page, numbered families
// (search history, highlights, colours, styles, function keys) included.
Meaning RestMeaning(const std::string& name, std::string& labelBuf, std::string& meaningBuf) {
  auto found = Meanings().find(name);
  if (found != Meanings().end()) return found->second;
  auto numbered = [&](const char* prefix, const char* suffix, int base) {
    const size_t p = std::strlen(prefix), s = std::strlen(suffix);
    if (name.size() <= p + s || name.compare(0, p, prefix) != 0 || name.compare(name.size() - s, s, suffix) != 0)
      return -1;
    const std::string digits = name.substr(p, name.size() - p - s);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::atoi(digits.c_str()) + base;
  };
  int n;
  if ((n = numbered("Search", " ", 0)) >= 0) {
    labelBuf = "検索履歴 " + std::to_string(n);
    meaningBuf = "検索で使った文字列 (新しい順)";
  } else if ((n = numbered("Hilight", "", 1)) >= 0) {
    labelBuf = "強調表示文字列 " + std::to_string(n);
    meaningBuf = "画面で強調して表示する文字列";
  } else if ((n = numbered("Color", "", 0)) >= 0) {
    labelBuf = "色 " + std::to_string(n);
    meaningBuf = "画面の色 " + std::to_string(n) + " (0xBBGGRR)";
  } else if ((n = numbered("Style", "", 0)) >= 0) {
    labelBuf = "文字飾り " + std::to_string(n);
    meaningBuf = "色 " + std::to_string(n) + " の文字飾り (1: 太字、2: 斜体、4: 下線)";
  } else if ((n = numbered("F", "Name", 0)) >= 0) {
    labelBuf = "F" + std::to_string(n) + " の名前";
    meaningBuf = "ファンクションキーのボタンに出す名前";
  } else if ((n = numbered("F", "Script", 0)) >= 0) {
    labelBuf = "F" + std::to_string(n) + " の割り当て";
    meaningBuf = "ファンクションキーを押したときに実行する内容";
  } else {
    labelBuf = name;
    meaningBuf = "";
  }
  return {labelBuf.c_str(), meaningBuf.c_str()};
}

// Colours are stored as 0x00BBGGRR and shown as "#RRGGBB".
QString ColourText(int bgr) {
  return QStringLiteral("#%1%2%3")
      .arg(bgr & 0xFF, 2, 16, QLatin1Char('0'))
      .arg((bgr >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
      .arg((bgr >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
      .toUpper();
}
// -1 when the text is not "#RRGGBB" (blanks around it allowed).
int ColourValue(const QString& text) {
  const QString t = text.trimmed();
  if (t.size() != 7 || t[0] != QLatin1Char('#')) return -1;
  bool ok = false;
  const uint rgb = t.mid(1).toUInt(&ok, 16);
  if (!ok) return -1;
  return int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}
QIcon Swatch(int bgr) {
  QPixmap pm(28, 16);
  pm.fill(QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF));
  QPainter p(&pm);
  p.setPen(Qt::gray);
  p.drawRect(0, 0, pm.width() - 1, pm.height() - 1);
  return QIcon(pm);
}

CONFIG::Field* FindField(std::vector<CONFIG::Field>& fields, const std::string& name) {
  for (CONFIG::Field& f : fields)
    if (f.name == name) return &f;
  return nullptr;
}

}  // namespace

FontChooser::FontChooser(const QString& family, int points, QWidget* parent) : QDialog(parent) {
  setObjectName("FontChooser");
  setWindowTitle(QStringLiteral("フォントの選択"));
  auto* top = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  families = new QListWidget;
  families->setObjectName("families");
  for (const QString& f : QFontDatabase::families())
    if (TERMINALVIEW::IsCellFont(f)) families->addItem(f);
  auto matches = families->findItems(family, Qt::MatchFixedString);
  if (!matches.isEmpty()) families->setCurrentItem(matches.first());
  else if (families->count() > 0) families->setCurrentRow(0);
  row->addWidget(families, 1);
  auto* sizeForm = new QFormLayout;
  size = new QSpinBox;
  size->setObjectName("size");
  size->setRange(6, 72);
  size->setValue(points > 0 ? points : CONFIG::AutoFontPoint(1024));
  sizeForm->addRow(QStringLiteral("大きさ(&S):"), size);
  row->addLayout(sizeForm);
  top->addLayout(row);
  preview = new QLabel;
  preview->setObjectName("preview");
  preview->setMinimumHeight(60);
  top->addWidget(preview);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(families, &QListWidget::currentRowChanged, this, [this] { UpdatePreview(); });
  connect(size, &QSpinBox::valueChanged, this, [this] { UpdatePreview(); });
  UpdatePreview();
}

QString FontChooser::Family() const { return families->currentItem() ? families->currentItem()->text() : QString(); }

int FontChooser::Points() const { return size->value(); }

QImage FontChooser::Preview() const { return preview->pixmap().toImage(); }

void FontChooser::UpdatePreview() {
  // As the terminal draws: the cell is the half-width advance (widened when
  // a kanji would not fit in two), each character centred in its cells.
  QFont f(Family());
  f.setPointSize(Points());
  const QFontMetricsF fm(f);
  const int cx = std::max({1, int(std::ceil(fm.horizontalAdvance(QLatin1Char('0')))),
                           int(std::ceil(fm.horizontalAdvance(QString::fromUtf8("漢")) / 2))});
  const int cy = std::max(1, int(std::ceil(fm.height())));
  struct Cell {
    const char* text;
    int cells;
  };
  const Cell sample[] = {{"漢", 2}, {"字", 2}, {"ｶ", 1}, {"ﾅ", 1}, {"A", 1}, {"b", 1}, {"0", 1}};
  int columns = 0;
  for (const Cell& c : sample) columns += c.cells;
  QImage img(cx * columns + 1, cy + 1, QImage::Format_RGB32);
  img.fill(Qt::black);
  QPainter p(&img);
  p.setFont(f);
  int x = 0;
  for (const Cell& c : sample) {
    const QRect box(x, 0, cx * c.cells, cy);
    p.setPen(QColor(70, 70, 70));
    p.drawRect(box);
    p.setPen(QColor(230, 230, 230));
    p.drawText(box, Qt::AlignCenter, QString::fromUtf8(c.text));
    x += box.width();
  }
  p.end();
  preview->setPixmap(QPixmap::fromImage(img));
}

ConfigDialog::ConfigDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigDialog");
  setWindowTitle(QStringLiteral("動作環境"));
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
  AddPage("端末・送信", {"Wordwrap", "Burasage", "TopKinsoku", "BottomKinsoku", "BunKin"});
  AddPage("ファイル転送", {"MinimizeUpload", "MinimizeDownload", "MinimizeBplus", "MinimizeZmodem"});
  // The terminal's colours and the colour syntax's: quotations and the
  // lines of each level of a syntax's rules (on the background above).
  AddPage("色", {"Color00", "Color07", "Color15", "Color16", "Color17", "Color18", "Color19", "Color20",
                 "Color21", "Color22", "Color23"});
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
    case Look::FONT: {
      // Chosen from the cell fonts; the name can still be typed.
      auto* edit = new QLineEdit(Q(text));
      value = [edit] { return edit->text().toStdString(); };
      control = edit;
      auto* row = new QWidget;
      auto* h = new QHBoxLayout(row);
      h->setContentsMargins(0, 0, 0, 0);
      h->addWidget(edit);
      auto* choose = new QPushButton(QStringLiteral("選択(&O)..."));
      choose->setObjectName("chooseFont");
      h->addWidget(choose);
      connect(choose, &QPushButton::clicked, this, [this, edit] {
        auto* spin = findChild<QSpinBox*>("FontPoint");
        FontChooser chooser(edit->text(), spin ? spin->value() : 0, this);
        if (ui::Current().RunModal([&] { return chooser.exec(); }) != QDialog::Accepted) return;
        edit->setText(chooser.Family());
        if (spin) spin->setValue(chooser.Points());
      });
      shown = row;
      break;
    }
    case Look::COLOUR: {
      // Typed as #RRGGBB or chosen; the button shows the colour.
      auto* edit = new QLineEdit(ColourText(number));
      // Untouched, the stored value stays as it is (bits above the colour too).
      value = [edit, shownFirst = edit->text(), text] {
        if (edit->text() == shownFirst) return text;
        const int c = ColourValue(edit->text());
        return c < 0 ? edit->text().trimmed().toStdString() : std::to_string(c);
      };
      control = edit;
      auto* row = new QWidget;
      auto* h = new QHBoxLayout(row);
      h->setContentsMargins(0, 0, 0, 0);
      auto* choose = new QPushButton;
      choose->setObjectName(Q(name + ".choose"));
      choose->setIcon(Swatch(number));
      choose->setIconSize(QSize(28, 16));
      choose->setToolTip(QStringLiteral("色の選択"));
      h->addWidget(choose);
      h->addWidget(edit, 1);
      connect(edit, &QLineEdit::textChanged, choose, [choose](const QString& t) {
        const int c = ColourValue(t);
        if (c >= 0) choose->setIcon(Swatch(c));
      });
      connect(choose, &QPushButton::clicked, this, [this, edit, look] {
        const int now = std::max(0, ColourValue(edit->text()));
        QColor chosen;
        ui::Current().RunModal([&] {
          chosen = QColorDialog::getColor(QColor(now & 0xFF, (now >> 8) & 0xFF, (now >> 16) & 0xFF), this,
                                          QString::fromUtf8(look.label));
          return chosen.isValid() ? 1 : 0;
        });
        if (chosen.isValid())
          edit->setText(ColourText(chosen.red() | chosen.green() << 8 | chosen.blue() << 16));
      });
      shown = row;
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
  rest->setColumnCount(3);
  rest->setHorizontalHeaderLabels({QStringLiteral("項目"), QStringLiteral("値"), QStringLiteral("意味")});
  rest->verticalHeader()->hide();
  rest->horizontalHeader()->setStretchLastSection(true);
  for (const CONFIG::Field& f : config.Fields()) {
    if (shown.count(f.name)) continue;
    std::string text;
    config.GetValue(f.name, text);
    const int row = rest->rowCount();
    rest->insertRow(row);
    std::string labelBuf, meaningBuf;
    const Meaning m = RestMeaning(f.name, labelBuf, meaningBuf);
    // The label is shown; the setting's own name stays with the row (and in
    // the tooltip, for those who edit the settings file).
    auto* key = new QTableWidgetItem(Q(m.label));
    key->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    key->setData(Qt::UserRole, Q(f.name));
    key->setToolTip(Q(f.name));
    rest->setItem(row, 0, key);
    auto* item = new QTableWidgetItem(Q(text));
    rest->setItem(row, 1, item);
    auto* meaning = new QTableWidgetItem(Q(m.meaning));
    meaning->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    rest->setItem(row, 2, meaning);
    QTableWidget* table = rest;
    bindings.push_back({f.name, text, [table, row] { return table->item(row, 1)->text().toStdString(); }, nullptr});
    restLabels[f.name] = m.label;
  }
  // Labels in full, values in a column of their own width, meanings in the rest.
  rest->resizeColumnToContents(0);
  rest->setColumnWidth(1, 150);
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
          if (rest->item(row, 0)->data(Qt::UserRole).toString().toStdString() == b.name) rest->setCurrentCell(row, 1);
      }
      MyMessageBox(why, ui::MB_OK | ui::MB_ICONWARNING);
      return false;
    };
    QString label = b.widget ? b.widget->property("label").toString() : QString();
    if (!b.widget && restLabels.count(b.name)) label = Q(restLabels[b.name]);
    const std::string what = "「" + (label.isEmpty() ? b.name : label.toStdString()) + "」";
    const CONFIG::Field* f = FindField(fields, b.name);
    if (!f) return refuse(what + "という設定はありません。");
    auto look = Looks().find(b.name);
    if (look != Looks().end() && look->second.type == Look::COLOUR) {
      auto* edit = qobject_cast<QLineEdit*>(b.widget);
      if (!edit || ColourValue(edit->text()) < 0)
        return refuse(what + "の色は #RRGGBB の形 (例: #80C880) で指定してください。");
    }
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
