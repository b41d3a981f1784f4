// The connecting window: closes itself with 1 once the attempt has connected,
// with 2 as soon as it has failed, and with 2 when the user cancels.
#include "port/telnet_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "port/telnet.h"

namespace {

int RunTelnetDialingWindow(TELNETCONNECT& attempt) {
  QDialog dlg(QApplication::activeWindow());
  dlg.setObjectName("TelnetDialing");
  dlg.setWindowTitle(QString::fromUtf8("telnet接続中"));
  dlg.setModal(true);

  auto* layout = new QVBoxLayout(&dlg);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QString::fromUtf8("ドメイン名:")));
  row->addWidget(new QLabel(QString::fromStdString(jcode::SjisToUtf8(attempt.Host()))), 1);
  layout->addLayout(row);
  auto* cancel = new QPushButton(QString::fromUtf8("ｷｬﾝｾﾙ"));
  cancel->setObjectName("cancel");
  layout->addWidget(cancel, 0, Qt::AlignHCenter);

  auto finish = [&dlg, &attempt] {
    const TELNETCONNECT::STATE st = attempt.State();
    if (st != TELNETCONNECT::PENDING) dlg.done(st == TELNETCONNECT::CONNECTED ? 1 : 2);
  };
  QSocketNotifier notifier(attempt.NotifyFd(), QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &dlg, finish);
  QObject::connect(cancel, &QPushButton::clicked, &dlg, [&dlg, &attempt] {
    DebugLog("canceled by user\n");
    attempt.Cancel();
    dlg.done(2);
  });
  // Escape and the window's close button cancel too.
  QObject::connect(&dlg, &QDialog::rejected, &dlg, [&attempt] { attempt.Cancel(); });
  QTimer::singleShot(0, &dlg, finish);  // an attempt that ended before the window opened

  const int r = dlg.exec();
  return r == 1 ? 1 : 2;
}

}  // namespace

void InstallTelnetDialingWindow() { TELNET::dialingWindow = &RunTelnetDialingWindow; }
