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
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "shell/registry.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/modem_host.h"
#include "support/pty_peer.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "support/program_state.h"
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
    ResetProgramForTest();
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



// The address question of a telnet host that has none, and of an ad hoc
// telnet call: the forms it accepts, what it refuses before OK, and the
// address and port a host keeps when asked to.
class TelnetPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    SetConfigDir(dir.File("config"));
    SetDataDir(dir.File("data"));
    ASSERT_TRUE(MakeDirs(dir.File("data")));
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    ASSERT_EQ(STOCK::Create(dir.File("t.stk"), 1000, 80, 0, 0, 0), 1);
    bitmap.Reset(nullptr, 80, 24);
    InstallDialingWindows();
    port = FreeLoopbackPort();
    std::string error;
    ASSERT_TRUE(demo.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port), "--auto-login"}, port, &error))
        << error;
    CLIENT::Create();
    TAPISUB::Install();
    CLIENT::StartPortAccess();
  }
  void TearDown() override {
    TAPISUB::Hangup();
    CLIENT::StopPortAccess();
    CLIENT::Destroy();
    COMPORT::Close();
    Reset();
    ResetDirsForTest();
  }
  static void Reset() {
    ResetProgramForTest();
  }
  // Answers the question once it is shown: types `text`, notes whether OK
  // is enabled and what the window says, then presses OK (or Cancel when
  // OK is disabled).
  struct Answer {
    bool okEnabled = false;
    QString why;
    bool asked = false;
  };
  void Type(const QString& text, bool keep, Answer* answer) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, keep, answer] {
      QDialog* d = FindWindow("InputHostName");
      if (!d) return;
      timer->stop();
      timer->deleteLater();
      d->findChild<QLineEdit*>("number")->setText(text);
      if (keep) d->findChild<QRadioButton*>("keep")->setChecked(true);
      auto* ok = d->findChild<QPushButton*>("ok");
      answer->asked = true;
      answer->okEnabled = ok && ok->isEnabled();
      answer->why = Text<QLabel>(d, "why");
      if (answer->okEnabled)
        d->accept();
      else
        d->reject();
    });
    timer->start(20);
  }

  TestApp app;
  TempDir dir;
  ui::ScopedRecordingFacade boxes;
  TcpPeer demo;
  int port = 0;
};

TEST_F(TelnetPromptTest, HostPortAndUrlFormsConnectAndAreKeptSplit) {
  const std::string p = std::to_string(port);
  struct Case {
    std::string typed;
    bool keep;
  } cases[] = {
      {"127.0.0.1:" + p, false},
      {"telnet://127.0.0.1:" + p + "/", false},
      {"TELNET://127.0.0.1:" + p, false},
      {"127.0.0.1:" + p, true},  // kept: address and port in their own fields
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    HOSTPROPERTY h;
    std::snprintf(h.szName, sizeof h.szName, "NoAddress");
    h.ModemType = MODEM_TELNET;  // no DialNo: it is asked for
    ASSERT_TRUE(h.SaveRegistry());
    Answer answer;
    Type(QString::fromStdString(c.typed), c.keep, &answer);
    ASSERT_EQ(TAPISUB::Dial("NoAddress"), 1) << ::testing::PrintToString(boxes.rec.boxes.size());
    EXPECT_TRUE(answer.okEnabled);
    EXPECT_EQ(fOnline, 1);  // on the demo host's port: the port was taken from the text
    EXPECT_EQ(std::string(hostprop.PortName), p);
    TAPISUB::Hangup();
    REGISTRY::ResetForTest();
    HOSTPROPERTY back;
    ASSERT_TRUE(back.GetRegistry("NoAddress"));
    EXPECT_STREQ(back.DialNo, c.keep ? "127.0.0.1" : "");
    EXPECT_EQ(std::string(back.PortName), c.keep ? p : "telnet");
  }
}

TEST_F(TelnetPromptTest, AdHocCallTakesABracketedIpv6AddressAndRefusesBadForms) {
  // [::1]:PORT splits into ::1 and the port; the demo host listens on IPv4
  // only, so the connection is refused and the message names ::1.
  const std::string p = std::to_string(port);
  Answer v6;
  Type(QString::fromStdString("[::1]:" + p), false, &v6);
  EXPECT_EQ(TAPISUB::Dial(jcode::Utf8ToSjis("(telnet接続)").c_str()), 0);
  EXPECT_TRUE(v6.okEnabled);
  ASSERT_FALSE(boxes.rec.boxes.empty());
  EXPECT_EQ(boxes.rec.boxes[0].text.rfind("::1 への接続に失敗しました。", 0), 0u) << boxes.rec.boxes[0].text;
  EXPECT_EQ(fOnline, 0);

  // Forms OK refuses, with the reason under the field.
  struct Case {
    std::string typed;
    const char* why;
  } refused[] = {
      {"127.0.0.1:99999", "ポートは 1～65535 の番号か、telnet のようなサービス名で指定してください。"},
      {"[::1:" + p, "IPv6 アドレスの ] がありません。"},
      {"http://127.0.0.1/", "telnet:// 以外の URL には接続できません。"},
      {"127.0.0.1:", "ポートを指定してください。"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.typed);
    Answer a;
    Type(QString::fromStdString(c.typed), false, &a);
    EXPECT_EQ(TAPISUB::Dial(jcode::Utf8ToSjis("(telnet接続)").c_str()), 0);
    EXPECT_TRUE(a.asked);
    EXPECT_FALSE(a.okEnabled);
    EXPECT_EQ(a.why, QString::fromUtf8(c.why));
  }

  // And the ad hoc call to HOST:PORT connects.
  Answer v4;
  Type(QString::fromStdString("127.0.0.1:" + p), false, &v4);
  ASSERT_EQ(TAPISUB::Dial(jcode::Utf8ToSjis("(telnet接続)").c_str()), 1);
  EXPECT_EQ(fOnline, 1);
  TAPISUB::Hangup();
}

}  // namespace
