#include "port/dialing_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <string>

#include "platform/jcode.h"
#include "platform/serialdevice.h"
#include "port/tapisub.h"
#include "shell/hostprop.h"

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
QString FromSjis(const std::string& sjis) { return QString::fromStdString(jcode::SjisToUtf8(sjis)); }

// The dialling window.  Escape and the window's close button act as the
// cancel button: the dialling decides when it is over.
class DIALINGWINDOW : public QDialog {
 public:
  explicit DIALINGWINDOW(DIRECTDIAL& d) : QDialog(QApplication::activeWindow()), dial(d) {
    setObjectName("Dialing");
    setWindowTitle(Q("接続"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    host = new QLabel(FromSjis(dial.Params().hostName));
    number = new QLabel;
    number->setObjectName("number");
    form->addRow(Q("接続先:"), host);
    form->addRow(Q("電話番号:"), number);
    layout->addLayout(form);
    auto* figures = new QHBoxLayout;
    attempts = new QLabel;
    attempts->setObjectName("attempts");
    seconds = new QLabel;
    seconds->setObjectName("seconds");
    figures->addWidget(attempts);
    figures->addWidget(seconds);
    layout->addLayout(figures);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(new QLabel(Q("状態")));
    status = new QLabel;
    status->setObjectName("status");
    statusRow->addWidget(status, 1);
    layout->addLayout(statusRow);
    auto* buttons = new QHBoxLayout;
    auto* redial = new QPushButton(Q("ﾘﾀﾞｲﾔﾙ(&R)"));
    redial->setObjectName("redial");
    redial->setAutoDefault(false);
    auto* cancel = new QPushButton(Q("ｷｬﾝｾﾙ"));
    cancel->setObjectName("cancel");
    cancel->setAutoDefault(false);
    buttons->addWidget(redial);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(redial, &QPushButton::clicked, this, [this] {
      dial.Redial();
      Show();
    });
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    connect(&timer, &QTimer::timeout, this, [this] {
      const int r = dial.Tick();
      if (timer.interval() != DIRECTDIAL::TICK_MS) timer.setInterval(DIRECTDIAL::TICK_MS);
      Show();
      if (r != DIRECTDIAL::RUNNING) Finish(r);
    });
    Show();
    timer.start(DIRECTDIAL::FIRST_TICK_MS);
  }

  void reject() override {
    dial.Cancel();
    Show();
    if (dial.Result() != DIRECTDIAL::RUNNING) Finish(dial.Result());
  }

 private:
  void Show() {
    const std::string& n = dial.Number();
    number->setText(FromSjis(n.empty() ? dial.Params().prefix + dial.Params().dialNo : n));
    attempts->setText(dial.Attempts() > 0 ? QString::number(dial.Attempts()) + Q("回目") : QString());
    const int s = dial.SecondsElapsed();
    seconds->setText(s >= 0 ? QString::number(s) + Q("秒経過") : QString());
    status->setText(QString::fromStdString(dial.Status()));
  }
  void Finish(int r) {
    timer.stop();
    done(r);
  }

  DIRECTDIAL& dial;
  QTimer timer;
  QLabel *host, *number, *attempts, *seconds, *status;
};

int RunDialingWindow(DIRECTDIAL& dial) {
  DIALINGWINDOW w(dial);
  const int r = w.exec();
  return r == DIRECTDIAL::CONNECTED ? DIRECTDIAL::CONNECTED : DIRECTDIAL::FAILED;
}

// The hang-up window: DTR is down while it shows.  Escape does not close
// it, since DTR has to come up again.
class HANGUPWINDOW : public QDialog {
 public:
  using QDialog::QDialog;
  void reject() override {}
};

void RunHangupWindow(int ms, const std::function<void()>& drop, const std::function<void()>& raise) {
  HANGUPWINDOW dlg(QApplication::activeWindow());
  dlg.setObjectName("Hangup");
  dlg.setWindowTitle(Q("電話を切る"));
  dlg.setModal(true);
  dlg.setWindowFlag(Qt::WindowCloseButtonHint, false);
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(new QLabel(Q("切断処理中")));
  drop();
  QTimer::singleShot(ms, &dlg, [&] {
    raise();
    dlg.done(0);
  });
  dlg.exec();
}

// The countermeasures dialog.
bool RunCommErrorWindow(COMMERRORCHOICE& choice) {
  QDialog dlg(QApplication::activeWindow());
  dlg.setObjectName("CommError");
  dlg.setWindowTitle(Q("文字化け対策"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* text = new QLabel(Q("Quillnetは通信中に文字化けと思われるエラーを発見しました。対処方法を指示してください。"));
  text->setWordWrap(true);
  layout->addWidget(text);
  QButtonGroup group(&dlg);
  auto add = [&](const char* label, int id, bool offered, const char* name) {
    if (!offered) return;
    auto* b = new QRadioButton(Q(label));
    b->setObjectName(name);
    group.addButton(b, id);
    layout->addWidget(b);
    if (id == choice.choice) b->setChecked(true);
  };
  add("なめらかスクロールをOFFにする(&O)", COMMERRORCHOICE::SMOOTH, choice.offerSmooth, "smooth");
  add("電話が切れてからカラー構文を計算する(&B)", COMMERRORCHOICE::COLOR, choice.offerColor, "color");
  add("シリアルポートの速度を落とす(&S)", COMMERRORCHOICE::SPEED, choice.offerSpeed, "speed");
  add("その他の対処方法(&T)", COMMERRORCHOICE::OTHER, true, "other");
  add("特に何もしなくていい(&N)", COMMERRORCHOICE::NOTHING, true, "nothing");
  auto* noMore = new QCheckBox(Q("今後は文字化けのチェックをしない(&D)"));
  noMore->setObjectName("noMoreCheck");
  noMore->setChecked(choice.noMoreCheck);
  layout->addWidget(noMore);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok);
  layout->addWidget(box);
  QObject::connect(box, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  if (dlg.exec() != QDialog::Accepted) return false;
  choice.choice = group.checkedId() >= 0 ? group.checkedId() : COMMERRORCHOICE::NOTHING;
  choice.noMoreCheck = noMore->isChecked();
  return true;
}

// The number (telnet: host name) of a host that has none, for this call or
// kept in the host.  A telnet address may carry its port (HOST:PORT,
// [IPV6]:PORT, telnet://HOST:PORT/); OK stays disabled, with the reason
// shown under the field, until the text splits into a usable address and port.
bool RunInputDialNo(bool telnet, std::string* number, bool* store) {
  QDialog dlg(QApplication::activeWindow());
  dlg.setObjectName(telnet ? "InputHostName" : "InputDialNo");
  dlg.setWindowTitle(telnet ? Q("ホスト名の入力") : Q("電話番号の入力"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* form = new QFormLayout;
  auto* edit = new QLineEdit;
  edit->setObjectName("number");
  // The stored address holds 49 bytes of Shift_JIS; a telnet text may add a
  // port (39 bytes) and the URL's decoration.
  edit->setMaxLength(telnet ? 100 : 49);
  if (telnet) edit->setPlaceholderText(Q("ホスト名[:ポート] または telnet://ホスト名[:ポート]/"));
  form->addRow(telnet ? Q("ホスト名/アドレス(&A):") : Q("電話番号:"), edit);
  layout->addLayout(form);
  auto* why = new QLabel;
  why->setObjectName("why");
  why->setWordWrap(true);
  layout->addWidget(why);
  auto* once = new QRadioButton(Q("今回だけ使う(&O)"));
  once->setObjectName("once");
  once->setChecked(true);
  auto* keep = new QRadioButton(Q("ホストに登録する(&S)"));
  keep->setObjectName("keep");
  layout->addWidget(once);
  layout->addWidget(keep);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(box);
  auto* ok = box->button(QDialogButtonBox::Ok);
  ok->setObjectName("ok");
  auto check = [edit, ok, why, telnet] {
    const std::string sjis = jcode::Utf8ToSjis(edit->text().trimmed().toStdString());
    std::string reason;
    if (telnet && !sjis.empty()) {
      std::string address, port;
      // A text that does not split gets its reason from the split itself.
      if (SplitTelnetAddress(sjis, &address, &port, &reason)) {
        if (address.size() >= 50)
          reason = "ホスト名またはアドレスが長すぎます。半角 49文字までにしてください。";
        else if (port.size() >= sizeof hostprop.PortName)
          reason = "ポートが長すぎます。";
      }
    } else if (sjis.size() >= 50) {
      reason = "電話番号が長すぎます。半角 49文字までにしてください。";
    }
    why->setText(Q(reason.c_str()));
    ok->setEnabled(!sjis.empty() && reason.empty());
  };
  QObject::connect(edit, &QLineEdit::textChanged, &dlg, check);
  check();
  QObject::connect(box, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (dlg.exec() != QDialog::Accepted) return false;
  *number = jcode::Utf8ToSjis(edit->text().trimmed().toStdString());
  *store = keep->isChecked();
  return !number->empty();
}

// Another serial port after `failed` could not be opened.
int RunSelectPort(int failed) {
  QDialog dlg(QApplication::activeWindow());
  dlg.setObjectName("SelectPort");
  dlg.setWindowTitle(Q("シリアルポートの選択"));
  auto* layout = new QVBoxLayout(&dlg);
  auto* combo = new QComboBox;
  combo->setObjectName("port");
  for (int n = 0; n < 9; ++n)
    combo->addItem(QString("COM%1 (%2)").arg(n + 1).arg(QString::fromStdString(ComDevicePath(n))), n);
  combo->setCurrentIndex(failed >= 0 && failed < 8 ? failed + 1 : 0);
  layout->addWidget(combo);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(box);
  QObject::connect(box, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (dlg.exec() != QDialog::Accepted) return -1;
  return combo->currentData().toInt();
}

}  // namespace

void InstallDialingWindows() {
  TAPISUB::hooks.dialingWindow = &RunDialingWindow;
  TAPISUB::hooks.hangupWindow = &RunHangupWindow;
  TAPISUB::hooks.commErrorWindow = &RunCommErrorWindow;
  TAPISUB::hooks.inputDialNo = &RunInputDialNo;
  TAPISUB::hooks.selectPort = &RunSelectPort;
  TAPISUB::hooks.beep = [] { QApplication::beep(); };
}
