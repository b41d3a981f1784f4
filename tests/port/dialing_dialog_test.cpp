// The dialler's windows on Qt's offscreen platform, over real calls to the
// demo host's modem: the dialling window with its figures and buttons, the
// number question, the port chooser, the hang-up window and the
// countermeasures dialog.

#include "port/dialing_dialog.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/modem_host.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"

namespace {

QDialog* FindWindow(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name && w->isVisible()) return qobject_cast<QDialog*>(w);
  return nullptr;
}

template <class T>
QString Text(QDialog* d, const char* child) {
  T* w = d->findChild<T*>(child);
  return w ? w->text() : QString("(none)");
}

class DialingWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    ASSERT_EQ(STOCK::Create(dir.File("w.stk"), 1000, 80, 0, 0, 0), 1);
    bitmap.Reset(nullptr, 80, 24);
    InstallDialingWindows();
    std::string error;
    ASSERT_TRUE(modem.Start({"--answers", "BUSY;CONNECT 9600"}, &error)) << error;
    config.ComDevice[0] = modem.Link();
    config.DialPitch = 60;
    HOSTPROPERTY h;
    std::snprintf(h.szName, sizeof h.szName, "DemoBBS");
    h.ModemType = MODEM_AT;
    h.Baudrate = 9600;
    h.ModemInit[0] = 0;
    std::snprintf(h.DialCommand, sizeof h.DialCommand, "ATDT");
    ASSERT_TRUE(h.SaveRegistry());  // no number: it is asked for
  }
  void TearDown() override {
    TAPISUB::Hangup();
    COMPORT::Close();
    ResetAll();
    ResetDirsForTest();
  }
  static void ResetAll() {
    TAPISUB::ResetForTest();
    CLIENT::ResetForTest();
    COMPORT::ResetForTest();
    LOG::ResetForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    REGISTRY::ResetForTest();
    HOSTINI::ResetForTest();
    ResetOnlineForTest();
    hostprop.SetDefault();
    config.SetDefault();
  }
  // Every 20 ms until it returns true: f with the named window, if shown.
  void OnWindow(const char* name, std::function<bool(QDialog*)> f) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, f] {
      if (QDialog* d = FindWindow(name); d && f(d)) {
        timer->stop();
        timer->deleteLater();
      }
    });
    timer->start(20);
  }

  TestApp app;
  TempDir dir;
  ui::ScopedRecordingFacade boxes;
  ModemHost modem;
};

TEST_F(DialingWindowTest, AskForTheNumberThenDialRedialAndHangUp) {
  // The number question: typed, for this call only.
  OnWindow("InputDialNo", [](QDialog* d) {
    d->findChild<QLineEdit*>("number")->setText("0312345678");
    d->accept();
    return true;
  });
  // The dialling window after the BUSY: its figures, then the redial button.
  std::vector<QString> seen;
  OnWindow("Dialing", [&](QDialog* d) {
    if (Text<QLabel>(d, "status") != QString::fromUtf8("話し中")) return false;
    seen = {d->windowTitle(), Text<QLabel>(d, "number"), Text<QLabel>(d, "attempts"), Text<QLabel>(d, "seconds")};
    d->findChild<QPushButton*>("redial")->click();
    return true;
  });
  ASSERT_EQ(TAPISUB::Dial("DemoBBS"), 1);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], QString::fromUtf8("接続"));
  EXPECT_EQ(seen[1], "0312345678");
  EXPECT_EQ(seen[2], QString::fromUtf8("1回目"));
  EXPECT_TRUE(seen[3].endsWith(QString::fromUtf8("秒経過"))) << seen[3].toStdString();
  EXPECT_EQ(hostprop.DialNo[0], 0);  // this call only

  // Hanging up shows its window while DTR is down; line errors bring the
  // countermeasures dialog with the speed preselected.
  config.SmoothScroll = 0;
  config.NoColorOnline = 1;
  QString hangupText;
  OnWindow("Hangup", [&](QDialog* d) {
    hangupText = d->windowTitle() + "/" + d->findChild<QLabel*>()->text();
    return true;
  });
  std::vector<bool> offered;
  OnWindow("CommError", [&](QDialog* d) {
    offered = {d->findChild<QRadioButton*>("smooth") != nullptr, d->findChild<QRadioButton*>("color") != nullptr,
               d->findChild<QRadioButton*>("speed") && d->findChild<QRadioButton*>("speed")->isChecked()};
    d->findChild<QRadioButton*>("nothing")->setChecked(true);
    d->findChild<QCheckBox*>("noMoreCheck")->setChecked(true);
    d->accept();
    return true;
  });
  COMPORT::fErrorDetect = 1;
  TAPISUB::Hangup();
  EXPECT_EQ(fOnline, 0);
  EXPECT_EQ(hangupText, QString::fromUtf8("電話を切る/切断処理中"));
  EXPECT_EQ(offered, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(config.CheckCommError, 0);
  EXPECT_TRUE(boxes.rec.boxes.empty());  // "nothing": the speed was not lowered
}

TEST_F(DialingWindowTest, CancelButtonAndEscapeEndTheDial) {
  HOSTPROPERTY h;
  ASSERT_TRUE(h.GetRegistry("DemoBBS"));
  std::snprintf(h.DialNo, sizeof h.DialNo, "1");
  ASSERT_TRUE(h.SaveRegistry());
  modem.Stop();
  std::string error;
  ASSERT_TRUE(modem.Start({"--answers", "BUSY"}, &error)) << error;
  for (bool escape : {false, true}) {
    SCOPED_TRACE(escape ? "escape" : "button");
    OnWindow("Dialing", [escape](QDialog* d) {
      if (Text<QLabel>(d, "status") != QString::fromUtf8("話し中")) return false;
      if (escape)
        d->reject();
      else
        d->findChild<QPushButton*>("cancel")->click();
      return true;
    });
    EXPECT_EQ(TAPISUB::Dial("DemoBBS"), 0);
    EXPECT_EQ(fOnline, 0);
    EXPECT_FALSE(COMPORT::IsOpen());
  }
}

TEST_F(DialingWindowTest, PortChooserOffersAnotherPort) {
  HOSTPROPERTY h;
  ASSERT_TRUE(h.GetRegistry("DemoBBS"));
  std::snprintf(h.DialNo, sizeof h.DialNo, "1");
  ASSERT_TRUE(h.SaveRegistry());
  config.ComDevice[0] = dir.File("no-such-device");
  config.ComDevice[4] = modem.Link();
  OnWindow("SelectPort", [](QDialog* d) {
    auto* combo = d->findChild<QComboBox*>("port");
    combo->setCurrentIndex(combo->findData(4));
    d->accept();
    return true;
  });
  // The BUSY is redialled by the pitch rule... after 60 s; press redial.
  OnWindow("Dialing", [](QDialog* d) {
    if (Text<QLabel>(d, "status") != QString::fromUtf8("話し中")) return false;
    d->findChild<QPushButton*>("redial")->click();
    return true;
  });
  ASSERT_EQ(TAPISUB::Dial("DemoBBS"), 1);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "COM1 は使えません。他のシリアルポートを指定してください。");
  ASSERT_TRUE(h.GetRegistry("DemoBBS"));
  EXPECT_EQ(h.PortNo, 4);
}

}  // namespace
