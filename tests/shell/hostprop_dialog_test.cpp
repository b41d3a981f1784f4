// The host property dialog on the offscreen platform, against a settings
// file in a temporary directory: the controls are set as a user would set
// them, OK is pressed, and the host is read back from the file.
#include "shell/hostprop_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/paths.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "port/telnet.h"
#include "settings_fixture.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/tcp_peer.h"
#include "support/test_app.h"
#include "support/program_state.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"

namespace {

template <class T>
T& Get(QObject* root, const char* name) {
  if (T* w = root->findChild<T*>(QString::fromLatin1(name))) return *w;
  throw std::runtime_error(std::string("no control named ") + name);
}

void Choose(QComboBox& box, int value) {
  const int at = box.findData(value);
  if (at < 0) throw std::runtime_error("no such choice");
  box.setCurrentIndex(at);
}

void PressOk(QWidget& dialog) { Get<QPushButton>(&dialog, "ok").click(); }

class HostPropDialogTest : public SettingsTest {
 protected:
  void Store(const std::string& sjisName, int kind, int inMenu = 0) {
    HOSTPROPERTY p;
    std::strcpy(p.szName, sjisName.c_str());
    p.ModemType = kind;
    std::strcpy(p.DialNo, "03-1234-5678");
    ASSERT_TRUE(p.SaveRegistry());
    ASSERT_TRUE(HOSTINI::AppendHost(p.szName, inMenu));
  }
  std::vector<std::string> Names() {
    std::vector<std::string> n;
    char buf[100];
    for (int i = 0; HOSTINI::GetHostName(i, buf, sizeof buf); ++i) n.push_back(buf);
    return n;
  }
  // Forgets what the process holds, so the next read comes from the file.
  void Reread() { REGISTRY::ResetForTest(); }

  TestApp app;
};

TEST_F(HostPropDialogTest, NewTelnetHostIsStoredAppendedAndReadBackFromTheFile) {
  Store("First", MODEM_DIRECT);
  HostPropDialog dialog(HOSTPROPERTY(), true);
  dialog.show();
  Get<QLineEdit>(&dialog, "szName").setText(QStringLiteral("草の根ネット"));
  Choose(Get<QComboBox>(&dialog, "ModemType"), MODEM_TELNET);
  Get<QCheckBox>(&dialog, "HostInMenu").setChecked(true);
  // The address typed with its port is stored split.
  Get<QLineEdit>(&dialog, "DialNo").setText("bbs.example.jp:2323");
  Get<QLineEdit>(&dialog, "ScriptFile").setText(QStringLiteral("/home/u/ログイン.hsc"));
  Choose(Get<QComboBox>(&dialog, "LogType"), 2);
  Get<QLineEdit>(&dialog, "LogName").setText("bbs");
  Choose(Get<QComboBox>(&dialog, "KanjiCode"), KANJI_EUC);
  Get<QCheckBox>(&dialog, "LocalEcho").setChecked(true);
  Get<QCheckBox>(&dialog, "ControlKey").setChecked(true);
  Get<QCheckBox>(&dialog, "up_zmodem").setChecked(false);
  Get<QCheckBox>(&dialog, "down_bplus").setChecked(false);
  Get<QCheckBox>(&dialog, "AutoZmodem").setChecked(false);
  Get<QSpinBox>(&dialog, "Orikaeshi").setValue(72);
  Get<QLineEdit>(&dialog, "PaceCharacter").setText(">");
  PressOk(dialog);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(boxes.rec.boxes.empty());

  Reread();
  const std::string name = Sjis("草の根ネット");
  EXPECT_EQ(Names(), (std::vector<std::string>{"First", name}));
  EXPECT_EQ(HOSTINI::IsHostInMenu(name.c_str()), 1);
  ASSERT_EQ(HOSTINI::aHostMenu.size(), 1u);  // the menu was rebuilt
  EXPECT_EQ(HOSTINI::aHostMenu[0].command, HOSTINI::HOSTMENU_BASE + 1);
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry(name.c_str()));
  EXPECT_EQ(p.ModemType, MODEM_TELNET);
  EXPECT_STREQ(p.DialNo, "bbs.example.jp");
  EXPECT_STREQ(p.PortName, "2323");
  EXPECT_EQ(std::string(p.ScriptFile), "/home/u/ログイン.hsc");  // paths stay UTF-8
  EXPECT_EQ(p.LogType, 2);
  EXPECT_STREQ(p.LogName, "bbs");
  EXPECT_EQ(p.KanjiCode, KANJI_EUC);
  EXPECT_EQ(p.LocalEcho, 1);
  EXPECT_EQ(p.ControlKey, 1);
  EXPECT_EQ(p.GetUseUpload().find("zmodem "), std::string::npos);
  EXPECT_NE(p.GetUseUpload().find("bplus "), std::string::npos);
  EXPECT_EQ(p.GetUseDownload().find("bplus "), std::string::npos);
  EXPECT_EQ(p.AutoZmodem, 0);
  EXPECT_EQ(p.Orikaeshi, 72);
  EXPECT_EQ(p.PaceCharacter, '>');
  const std::string file = ReadWholeFile(RegPath());
  EXPECT_NE(file.find("[Software\\Tallowood\\Quillnet95\\Host\\草の根ネット]"), std::string::npos);
  EXPECT_NE(file.find("\"DialNo\"=\"bbs.example.jp\""), std::string::npos);
  EXPECT_NE(file.find("\"PortName\"=\"2323\""), std::string::npos);
}

// A telnet host as a new user adds it: address and port in their own
// fields, stored, shown again when the dialog is reopened from the file,
// and called: the demo host on 127.0.0.1 answers.
TEST_F(HostPropDialogTest, TelnetHostWithAddressAndPortIsStoredReopenedAndCalled) {
  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port), "--auto-login"}, port, &error))
      << error;
  {
    HostPropDialog dialog(HOSTPROPERTY(), true);
    dialog.show();
    Get<QLineEdit>(&dialog, "szName").setText(QStringLiteral("デモ局"));
    Choose(Get<QComboBox>(&dialog, "ModemType"), MODEM_TELNET);
    QLineEdit& address = Get<QLineEdit>(&dialog, "DialNo");
    EXPECT_TRUE(address.isEnabled());
    auto* label = qobject_cast<QLabel*>(address.property("rowLabel").value<QObject*>());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("ホスト名/アドレス(&A):"));
    address.setText("127.0.0.1");
    Get<QLineEdit>(&dialog, "PortName").setText(QString::number(port));
    PressOk(dialog);
    ASSERT_FALSE(dialog.isVisible()) << ::testing::PrintToString(boxes.rec.boxes.size());
  }
  Reread();
  const std::string name = Sjis("デモ局");
  HOSTPROPERTY stored;
  ASSERT_TRUE(stored.GetRegistry(name.c_str()));
  {
    HostPropDialog again(stored, false);
    again.show();
    EXPECT_EQ(Get<QLineEdit>(&again, "DialNo").text(), "127.0.0.1");
    EXPECT_EQ(Get<QLineEdit>(&again, "PortName").text(), QString::number(port));
    EXPECT_EQ(Get<QComboBox>(&again, "ModemType").currentData().toInt(), MODEM_TELNET);
    PressOk(again);  // unchanged, stored again as it was
    ASSERT_FALSE(again.isVisible());
  }
  Reread();
  ASSERT_TRUE(stored.GetRegistry(name.c_str()));
  EXPECT_STREQ(stored.DialNo, "127.0.0.1");
  EXPECT_EQ(std::string(stored.PortName), std::to_string(port));

  // The call, through the dialler, into a stock of the test's own; the
  // port, the stock and the dialler start over afterwards however it went.
  struct CallState {
    ~CallState() {
      TAPISUB::Hangup();
      CLIENT::StopPortAccess();
      CLIENT::Destroy();
      COMPORT::Close();
      ResetProgramForTest();
    }
  } callState;
  MYBITMAP::hooks.backlog = [] { return 0; };
  MYBITMAP::hooks.inputResting = [] { return true; };
  ASSERT_TRUE(MakeDirs(dir.File("data")));
  ASSERT_EQ(STOCK::Create(dir.File("data/t.stk"), 1000, 80, 0, 0, 0), 1);
  bitmap.Reset(nullptr, 80, 24);
  CLIENT::Create();
  TAPISUB::Install();
  CLIENT::StartPortAccess();
  EXPECT_EQ(TAPISUB::Dial(name.c_str()), 1);
  EXPECT_EQ(fOnline, 1);
  EXPECT_EQ(COMPORT::fSocket, 1);
  auto stockHas = [](const char* utf8) {
    for (CODEVRAM cv = cvOldest;; ++cv) {
      const char* t = STOCK::GetItem(cv)->Text();
      if (jcode::SjisToUtf8(std::string(t, strnlen(t, size_t(STOCK::cColumn)))).find(utf8) != std::string::npos)
        return true;
      if (cv == cvNewest) return false;
    }
  };
  EXPECT_TRUE(WaitFor(
      [&] {
        ProcessPortInput();
        return stockHas("(B,W,G,?) > ");
      },
      8000));
  TAPISUB::Hangup();
  EXPECT_EQ(fOnline, 0);
}

// A port that names no TCP port is refused with the reason, the dialog
// stays open on the port field, and nothing is stored.
TEST_F(HostPropDialogTest, AnUnusablePortOrAddressIsRefused) {
  const std::string badPort = "」は使えません。1～65535 の番号か、telnet のようなサービス名で指定してください。";
  struct Case {
    const char* address;
    const char* port;
    std::string message;
    const char* focused;
  } cases[] = {
      {"bbs.example.jp", "0", "ポート「0" + badPort, "PortName"},
      {"bbs.example.jp", "65536", "ポート「65536" + badPort, "PortName"},
      {"bbs.example.jp", "no-such-service", "ポート「no-such-service" + badPort, "PortName"},
      {"bbs.example.jp", "", "ポート「" + badPort, "PortName"},
      {"bbs.example.jp:99999", "telnet", "ポートは 1～65535 の番号か、telnet のようなサービス名で指定してください。",
       "DialNo"},
      {"[::1", "telnet", "IPv6 アドレスの ] がありません。", "DialNo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + c.port);
    boxes.rec.boxes.clear();
    HostPropDialog dialog(HOSTPROPERTY(), true);
    dialog.show();
    Get<QLineEdit>(&dialog, "szName").setText("Telnet");
    Choose(Get<QComboBox>(&dialog, "ModemType"), MODEM_TELNET);
    Get<QLineEdit>(&dialog, "DialNo").setText(c.address);
    Get<QLineEdit>(&dialog, "PortName").setText(c.port);
    PressOk(dialog);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(boxes.rec.boxes.size(), 1u);
    EXPECT_EQ(boxes.rec.boxes[0].text, c.message);
    EXPECT_EQ(dialog.focusWidget() ? dialog.focusWidget()->objectName().toStdString() : "", c.focused);
    Reread();
    EXPECT_TRUE(Names().empty());
  }
  // The automatic detection's box says what it does on a Shift_JIS host.
  HostPropDialog dialog(HOSTPROPERTY(), true);
  EXPECT_NE(Get<QCheckBox>(&dialog, "AutoJisEuc").toolTip().indexOf(QStringLiteral("ESC $ B")), -1);
}

TEST_F(HostPropDialogTest, RefusedNamesShowTheMessageAndKeepTheDialogOpen) {
  Store("Existing", MODEM_TELNET);
  Store("Other", MODEM_TELNET);
  const std::string duplicate = "同じ名前のホスト局が既に登録されています。別の名前を指定してください。";
  struct Case {
    bool isNew;
    const char* start;  // the host edited, for an existing one
    QString typed;
    std::string message;
  } cases[] = {
      {true, "", "", "ホスト名を指定してください。"},
      {true, "", "Existing", duplicate},
      {false, "Other", "Existing", duplicate},  // renaming onto another host
      {true, "", QStringLiteral("(telnet接続)"), "「(telnet接続)」はホスト名に使えません。"},
      {true, "", QStringLiteral("back\\slash"), "ホスト名に使えない文字が含まれています。"},
      {true, "", QStringLiteral("Ωの\u00e9"), "「ホスト名」に使えない文字が含まれています。"},  // é has no Shift_JIS form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    boxes.rec.boxes.clear();
    HOSTPROPERTY start;
    if (!c.isNew) start.GetRegistry(c.start);
    HostPropDialog dialog(start, c.isNew);
    dialog.show();
    Get<QLineEdit>(&dialog, "szName").setText(c.typed);
    PressOk(dialog);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(boxes.rec.boxes.size(), 1u);
    EXPECT_EQ(boxes.rec.boxes[0].text, c.message);
    Reread();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Existing", "Other"}));
  }
}

TEST_F(HostPropDialogTest, ASerialPortIsShownFromOneAndStoredFromZero) {
  HOSTPROPERTY p;
  std::strcpy(p.szName, "Line");
  p.ModemType = MODEM_DIRECT;
  p.PortNo = 2;
  ASSERT_TRUE(p.SaveRegistry());
  ASSERT_TRUE(HOSTINI::AppendHost("Line", 0));

  HostPropDialog dialog(p, false);
  dialog.show();
  QSpinBox& port = Get<QSpinBox>(&dialog, "PortNo");
  EXPECT_EQ(port.value(), 3);
  EXPECT_EQ(port.text(), "COM3");
  EXPECT_TRUE(Get<QLabel>(&dialog, "Device").text().endsWith("/dev/ttyS2"));
  port.setValue(5);
  Get<QComboBox>(&dialog, "Baudrate").setEditText("38400");
  Choose(Get<QComboBox>(&dialog, "StopBit"), 2);
  Choose(Get<QComboBox>(&dialog, "FlowControl"), 1);
  PressOk(dialog);
  ASSERT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Stored().PortNo, 4);

  Reread();
  EXPECT_NE(ReadWholeFile(RegPath()).find("\"PortNo\"=dword:00000004"), std::string::npos);
  HOSTPROPERTY back;
  ASSERT_TRUE(back.GetRegistry("Line"));
  EXPECT_EQ(back.PortNo, 4);
  EXPECT_EQ(back.Baudrate, 38400);
  EXPECT_EQ(back.StopBit, 2);
  EXPECT_EQ(back.FlowControl, 1);

  HostPropDialog fresh(HOSTPROPERTY(), true);
  EXPECT_EQ(Get<QSpinBox>(&fresh, "PortNo").value(), 1);  // the default port 0 is COM1
}

TEST_F(HostPropDialogTest, ARenamedHostKeepsItsPlaceAndValuesAndLosesItsOldKey) {
  Store("A", MODEM_TELNET);
  Store("B", MODEM_AT, 1);
  Store("C", MODEM_TELNET);
  HOSTPROPERTY b;
  ASSERT_TRUE(b.GetRegistry("B"));
  HostPropDialog dialog(b, false);
  dialog.show();
  EXPECT_TRUE(Get<QCheckBox>(&dialog, "HostInMenu").isChecked());
  Get<QLineEdit>(&dialog, "szName").setText(QStringLiteral("Ｂ局"));
  PressOk(dialog);
  ASSERT_FALSE(dialog.isVisible());

  Reread();
  const std::string renamed = Sjis("Ｂ局");
  EXPECT_EQ(Names(), (std::vector<std::string>{"A", renamed, "C"}));
  EXPECT_EQ(HOSTINI::GetHostOrder(renamed.c_str()), 1);
  EXPECT_EQ(HOSTINI::IsHostInMenu(renamed.c_str()), 1);
  EXPECT_FALSE(REGISTRY::KeyExists("Host\\B"));
  HOSTPROPERTY back;
  ASSERT_TRUE(back.GetRegistry(renamed.c_str()));
  EXPECT_STREQ(back.DialNo, "03-1234-5678");
  EXPECT_EQ(back.ModemType, MODEM_AT);
}

TEST_F(HostPropDialogTest, OnlyTheFieldsOfTheChosenKindAreEnabled) {
  HostPropDialog dialog(HOSTPROPERTY(), true);
  const char* const fields[] = {"DialNo", "PortName", "RasEntry", "ModemName", "MaxRate", "Baudrate", "ModemInit"};
  struct Case {
    int kind;
    std::vector<bool> on;  // in the order of `fields`
  } cases[] = {
      {MODEM_TAPI, {true, false, false, true, true, false, false}},
      {MODEM_DIRECT, {false, false, false, false, false, true, false}},
      {MODEM_TELNET, {true, true, true, false, false, false, false}},
      {MODEM_AT, {true, false, false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    Choose(Get<QComboBox>(&dialog, "ModemType"), c.kind);
    for (size_t i = 0; i < std::size(fields); ++i)
      EXPECT_EQ(Get<QWidget>(&dialog, fields[i]).isEnabled(), c.on[i]) << "kind " << c.kind << " " << fields[i];
    EXPECT_EQ(Get<QSpinBox>(&dialog, "PortNo").isEnabledTo(&dialog), c.on[5]) << "kind " << c.kind;
  }
  Choose(Get<QComboBox>(&dialog, "LogType"), 0);
  EXPECT_FALSE(Get<QLineEdit>(&dialog, "LogName").isEnabled());
  Choose(Get<QComboBox>(&dialog, "LogType"), 1);
  EXPECT_TRUE(Get<QLineEdit>(&dialog, "LogName").isEnabled());
}

// With QUILLNET_SCREENSHOT_DIR set, each page of the dialog is saved there
// as hostprop-N.png (documentation pictures).
TEST_F(HostPropDialogTest, PagesCanBeSavedAsPictures) {
  const char* out = std::getenv("QUILLNET_SCREENSHOT_DIR");
  if (!out) GTEST_SKIP() << "QUILLNET_SCREENSHOT_DIR is not set";
  HOSTPROPERTY p;
  std::strcpy(p.szName, Sjis("草の根ネット").c_str());
  p.ModemType = MODEM_TELNET;
  std::strcpy(p.DialNo, "bbs.example.jp");
  std::strcpy(p.PortName, "2323");
  HostPropDialog dialog(p, false);
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  dialog.show();
  auto& tabs = Get<QTabWidget>(&dialog, "pages");
  for (int n = 0; n < tabs.count(); ++n) {
    tabs.setCurrentIndex(n);
    EXPECT_TRUE(dialog.grab().save(QString("%1/hostprop-%2.png").arg(out).arg(n + 1), "PNG"));
  }
}

TEST_F(HostPropDialogTest, EditHostPropertyRunsModallyAndHandsBackTheStoredRecord) {
  Store("Host", MODEM_TELNET);
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry("Host"));
  // Presses the buttons once the modal dialog is up.
  auto pressWhenShown = [](const char* button, const char* dialNo) {
    QTimer::singleShot(0, [button, dialNo] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "HostPropDialog" && w->isVisible()) {
          Get<QLineEdit>(w, "DialNo").setText(dialNo);
          Get<QPushButton>(w, button).click();
        }
    });
  };
  pressWhenShown("cancel", "never.example");
  EXPECT_FALSE(EditHostProperty(nullptr, p, false));
  EXPECT_STREQ(p.DialNo, "03-1234-5678");
  pressWhenShown("ok", "new.example");
  EXPECT_TRUE(EditHostProperty(nullptr, p, false));
  EXPECT_STREQ(p.DialNo, "new.example");
  Reread();
  HOSTPROPERTY back;
  ASSERT_TRUE(back.GetRegistry("Host"));
  EXPECT_STREQ(back.DialNo, "new.example");
}

}  // namespace
