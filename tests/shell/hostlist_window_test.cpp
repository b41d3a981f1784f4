// The host list window on the offscreen platform, over a settings file in a
// temporary directory: deletion with confirmation and compaction, moving,
// the menu flag, connecting, backup and restore through the file chooser,
// and the screenshot.
#include "shell/hostlist_window.h"

#include <QImage>
#include <QTreeWidget>
#include <cstring>

#include "settings_fixture.h"
#include "shell/hostprop.h"
#include "support/test_app.h"

namespace {

class HostListTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    for (const std::string& n : hosts) {
      HOSTPROPERTY p;
      std::strcpy(p.szName, n.c_str());
      p.ModemType = MODEM_TELNET;
      std::strcpy(p.DialNo, "bbs.example.jp");
      std::strcpy(p.PortName, "2323");
      ASSERT_TRUE(p.SaveRegistry());
      ASSERT_TRUE(HOSTINI::AppendHost(p.szName, 0));
    }
  }
  std::vector<std::string> Names() {
    std::vector<std::string> n;
    char buf[100];
    for (int i = 0; HOSTINI::GetHostName(i, buf, sizeof buf); ++i) n.push_back(buf);
    return n;
  }
  // Names as the window lists them.
  static std::vector<std::string> Shown(HostListWindow& w) {
    std::vector<std::string> n;
    for (int row = 0; row < w.RowCount(); ++row) {
      w.SelectRow(row);
      n.push_back(w.CurrentName());
    }
    return n;
  }

  TestApp app;
  const std::string a = Sjis("ＡＢＣネット"), b = Sjis("草の根ＢＢＳ"), c = "Telnet Host";
  const std::vector<std::string> hosts = {a, b, c};
};

// The "接続先" column shows a telnet host as ADDRESS:PORT (an IPv6
// address in brackets).
TEST_F(HostListTest, TelnetHostsAreShownAsAddressAndPort) {
  HOSTPROPERTY v6;
  std::strcpy(v6.szName, "V6");
  v6.ModemType = MODEM_TELNET;
  std::strcpy(v6.DialNo, "::1");
  std::strcpy(v6.PortName, "telnet");
  ASSERT_TRUE(v6.SaveRegistry());
  ASSERT_TRUE(HOSTINI::AppendHost(v6.szName, 0));
  HostListWindow w;
  auto* tree = w.findChild<QTreeWidget*>("hostList");
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->topLevelItemCount(), 4);
  EXPECT_EQ(tree->headerItem()->text(3), QStringLiteral("接続先"));
  EXPECT_EQ(tree->topLevelItem(0)->text(3), "bbs.example.jp:2323");
  EXPECT_EQ(tree->topLevelItem(3)->text(3), "[::1]:telnet");
}

TEST_F(HostListTest, DeleteAsksFirstAndCompactsTheList) {
  HostListWindow w;
  ASSERT_EQ(Shown(w), hosts);
  w.SelectRow(1);
  boxes.rec.answers = {ui::IDNO};
  w.DeleteHost();
  EXPECT_EQ(Names(), hosts);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "「草の根ＢＢＳ」を削除します。よろしいですか？");

  boxes.rec.answers = {ui::IDYES};
  w.DeleteHost();
  EXPECT_EQ(Names(), (std::vector<std::string>{a, c}));
  EXPECT_EQ(HOSTINI::GetHostOrder(c.c_str()), 1);
  char buf[100];
  EXPECT_FALSE(HOSTINI::GetHostName(2, buf, sizeof buf));
  EXPECT_FALSE(REGISTRY::KeyExists("Host\\草の根ＢＢＳ"));
  EXPECT_EQ(w.CurrentName(), c);  // the row that moved up is selected
  EXPECT_EQ(Shown(w), (std::vector<std::string>{a, c}));
}

TEST_F(HostListTest, MovingSwapsNeighboursAndStopsAtTheEnds) {
  HostListWindow w;
  struct Step {
    int row;
    int delta;
    std::vector<std::string> after;
  } steps[] = {
      {0, -1, {a, b, c}},  // nothing above the first
      {0, +1, {b, a, c}},
      {1, +1, {b, c, a}},
      {2, +1, {b, c, a}},  // nothing below the last
      {2, -1, {b, a, c}},
  };
  for (const Step& s : steps) {
    w.SelectRow(s.row);
    const std::string moved = w.CurrentName();
    s.delta < 0 ? w.MoveUp() : w.MoveDown();
    EXPECT_EQ(Names(), s.after);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(HOSTINI::GetHostOrder(s.after[size_t(i)].c_str()), i);
    EXPECT_EQ(w.CurrentName(), moved);  // the selection follows the host
  }
  REGISTRY::ResetForTest();  // and the file holds the same
  EXPECT_EQ(Names(), (std::vector<std::string>{b, a, c}));
}

TEST_F(HostListTest, TheMenuFlagTogglesAndRebuildsTheMenu) {
  HostListWindow w;
  w.SelectRow(1);
  w.ToggleMenu();
  EXPECT_EQ(HOSTINI::IsHostInMenu(b.c_str()), 1);
  ASSERT_EQ(HOSTINI::aHostMenu.size(), 1u);
  EXPECT_EQ(HOSTINI::aHostMenu[0].command, HOSTINI::HOSTMENU_BASE + 1);
  EXPECT_EQ(HOSTINI::aHostMenu[0].name, b);
  QCoreApplication::processEvents();
  auto* list = w.findChild<QTreeWidget*>("hostList");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Checked);

  // The check box in the list does the same.
  list->topLevelItem(2)->setCheckState(0, Qt::Checked);
  QCoreApplication::processEvents();
  EXPECT_EQ(HOSTINI::IsHostInMenu(c.c_str()), 1);
  EXPECT_EQ(HOSTINI::aHostMenu.size(), 2u);

  w.SelectRow(1);
  w.ToggleMenu();
  QCoreApplication::processEvents();
  EXPECT_EQ(HOSTINI::IsHostInMenu(b.c_str()), 0);
  ASSERT_EQ(HOSTINI::aHostMenu.size(), 1u);
  EXPECT_EQ(HOSTINI::aHostMenu[0].name, c);
}

TEST_F(HostListTest, ConnectHandsTheNameToTheDiallerAndCloses) {
  HostListWindow w;
  std::vector<std::string> dialled;
  w.onDial = [&](const std::string& name) { dialled.push_back(name); };
  w.show();
  w.SelectRow(1);
  w.Dial();
  EXPECT_FALSE(w.isVisible());
  auto* list = w.findChild<QTreeWidget*>("hostList");
  ASSERT_NE(list, nullptr);
  emit list->itemActivated(list->topLevelItem(2), 1);  // double click or Enter
  EXPECT_EQ(dialled, (std::vector<std::string>{b, c}));
}

TEST_F(HostListTest, BackupAndRestoreGoThroughTheChooser) {
  HostListWindow w;
  const std::string path = dir.File("hosts");
  boxes.rec.files = {path};
  w.Backup();
  ASSERT_EQ(ReadWholeFile(path + ".lst").rfind("Quillnet host list backup version 1\r\n", 0), 0u);

  w.SelectRow(0);
  boxes.rec.answers = {ui::IDYES};
  w.DeleteHost();
  ASSERT_EQ(w.RowCount(), 2);
  boxes.rec.files = {path + ".lst"};
  boxes.rec.answers = {ui::IDYES};
  w.Restore();
  EXPECT_EQ(Names(), hosts);
  EXPECT_EQ(Shown(w), hosts);

  // A damaged file is refused with the line at fault, and the list stays.
  WriteWholeFile(dir.File("bad.lst"), "Quillnet host list backup version 1\r\nHost name=X\r\nnonsense\r\n");
  boxes.rec.boxes.clear();
  boxes.rec.files = {dir.File("bad.lst")};
  boxes.rec.answers = {ui::IDYES};
  w.Restore();
  ASSERT_EQ(boxes.rec.boxes.size(), 2u);
  EXPECT_EQ(boxes.rec.boxes[1].text.rfind("ホスト一覧の復元に失敗しました。エラーのあった位置 = ", 0), 0u);
  EXPECT_EQ(Names(), hosts);
}

TEST_F(HostListTest, RendersAScreenshot) {
  HostListWindow w;
  const std::string png = dir.File("hostlist.png");
  ASSERT_TRUE(SaveHostListScreenshot(w, png, 800, 500));
  QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width() / image.devicePixelRatio(), 800);
  EXPECT_EQ(image.height() / image.devicePixelRatio(), 500);
  // Something was painted: the picture is not one flat colour.
  bool varied = false;
  for (int y = 0; y < image.height() && !varied; y += 7)
    for (int x = 0; x < image.width() && !varied; x += 7) varied = image.pixel(x, y) != image.pixel(0, 0);
  EXPECT_TRUE(varied);
  if (const char* out = std::getenv("QUILLNET_SCREENSHOT_DIR")) {
    EXPECT_TRUE(SaveHostListScreenshot(w, std::string(out) + "/hostlist.png", 800, 500));
  }
}

}  // namespace
