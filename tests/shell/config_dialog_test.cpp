// The settings dialog on the offscreen platform: OK writes exactly the values
// the user changed, port numbers are shown from 1, and a refused value keeps
// the dialog open with nothing applied.
#include "shell/config_dialog.h"

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QTimer>
#include <QFontDatabase>
#include <QListWidget>
#include <QTabWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "platform/jcode.h"
#include "settings_fixture.h"
#include "support/test_app.h"
#include "terminal/terminal_view.h"

namespace {

template <class T>
T& Get(QObject* root, const char* name) {
  if (T* w = root->findChild<T*>(QString::fromLatin1(name))) return *w;
  throw std::runtime_error(std::string("no control named ") + name);
}

class ConfigDialogTest : public SettingsTest {
 protected:
  // The value lines of the settings file.
  std::vector<std::string> StoredValues() {
    std::vector<std::string> lines;
    std::string file = ReadWholeFile(RegPath()), line;
    for (size_t at = 0; at < file.size();) {
      size_t end = file.find('\n', at);
      if (end == std::string::npos) end = file.size();
      line = file.substr(at, end - at);
      if (!line.empty() && line[0] == '"') lines.push_back(line);
      at = end + 1;
    }
    return lines;
  }
  void PressOk(QWidget& dialog) { Get<QPushButton>(&dialog, "ok").click(); }

  TestApp app;
};

TEST_F(ConfigDialogTest, OkWritesOnlyTheChangedValues) {
  // Values the controls cannot show as they are (a check box holding 2, a
  // port beyond the spin box) stay as they are unless the user touches them.
  config.SmoothScroll = 2;
  config.PortNo = 12;
  configBackup = config;
  {
    ConfigDialog dialog;
    dialog.show();
    PressOk(dialog);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(StoredValues().empty());  // nothing changed, nothing written
  }
  struct Case {
    const char* name;
    std::function<void(ConfigDialog&)> change;
    std::string line;
  } cases[] = {
      {"DialTimeout", [](ConfigDialog& d) { Get<QSpinBox>(&d, "DialTimeout").setValue(60); },
       "\"DialTimeout\"=dword:0000003c"},
      {"DialPrefix", [](ConfigDialog& d) { Get<QLineEdit>(&d, "DialPrefix").setText(QStringLiteral("９,")); },
       "\"DialPrefix\"=\"９,\""},
      {"FlowControl",
       [](ConfigDialog& d) {
         auto& box = Get<QComboBox>(&d, "FlowControl");
         box.setCurrentIndex(box.findData(1));
       },
       "\"FlowControl\"=dword:00000001"},
      {"ComDevice3", [](ConfigDialog& d) { Get<QLineEdit>(&d, "ComDevice3").setText("/dev/ttyUSB0"); },
       "\"ComDevice3\"=\"/dev/ttyUSB0\""},
      {"Color01 (the table of the rest)",
       [](ConfigDialog& d) {
         auto& table = Get<QTableWidget>(&d, "rest");
         for (int row = 0; row < table.rowCount(); ++row)
           if (table.item(row, 0)->data(Qt::UserRole).toString() == "Color01") table.item(row, 1)->setText("255");
       },
       "\"Color01\"=dword:000000ff"},
      {"Color16 (the colour page, #RRGGBB)",
       [](ConfigDialog& d) { Get<QLineEdit>(&d, "Color16").setText(" #12a4Fe "); },
       "\"Color16\"=dword:00fea412"},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigDialog dialog;
    dialog.show();
    c.change(dialog);
    PressOk(dialog);
    EXPECT_FALSE(dialog.isVisible());
    expected.push_back(c.line);
    std::vector<std::string> stored = StoredValues();
    std::sort(stored.begin(), stored.end());
    std::vector<std::string> want = expected;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(stored, want);
  }
  EXPECT_EQ(config.SmoothScroll, 2);
  EXPECT_EQ(config.PortNo, 12);
  // And a fresh load sees them.
  REGISTRY::ResetForTest();
  config.LoadRegistry();
  EXPECT_EQ(config.DialTimeout, 60);
  EXPECT_EQ(config.DialPrefix, Sjis("９,"));
  EXPECT_EQ(config.FlowControl, 1);
  EXPECT_EQ(config.ComDevice[2], "/dev/ttyUSB0");
  EXPECT_EQ(config.aColor[1], 255);
  EXPECT_EQ(config.aColor[16], 0xFEA412);
}

TEST_F(ConfigDialogTest, ThePortIsShownFromOneAndStoredFromZero) {
  config.PortNo = 2;
  configBackup = config;
  ConfigDialog dialog;
  QSpinBox& port = Get<QSpinBox>(&dialog, "PortNo");
  EXPECT_EQ(port.value(), 3);
  EXPECT_EQ(port.text(), "COM3");
  port.setValue(1);
  ASSERT_TRUE(dialog.Apply());
  EXPECT_EQ(config.PortNo, 0);
  EXPECT_EQ(StoredValues(), (std::vector<std::string>{"\"PortNo\"=dword:00000000"}));
}

TEST_F(ConfigDialogTest, ARefusedValueKeepsTheDialogOpenAndAppliesNothing) {
  struct Case {
    const char* control;
    QString text;
    std::string message;
  } cases[] = {
      {"DialPrefix", QString(40, QChar('9')), "「外線発信番号」が長すぎます。半角 29文字までにしてください。"},
      {"DialPrefix", QStringLiteral("\u00e9"), "「外線発信番号」に使えない文字が含まれています。"},
      {"Baudrate", QString(), "「通信速度」には数字を指定してください。"},
      {"Color16", QStringLiteral("#12"), "「引用」の色は #RRGGBB の形 (例: #80C880) で指定してください。"},
      {"Color23", QStringLiteral("#GG0000"), "「レベル７」の色は #RRGGBB の形 (例: #80C880) で指定してください。"},
      {"Color17", QStringLiteral("255"), "「レベル１」の色は #RRGGBB の形 (例: #80C880) で指定してください。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    boxes.rec.boxes.clear();
    ConfigDialog dialog;
    dialog.show();
    Get<QSpinBox>(&dialog, "DialTimeout").setValue(30);  // a good change beside the bad one
    if (auto* box = dialog.findChild<QComboBox*>(c.control))
      box->setEditText(c.text);
    else
      Get<QLineEdit>(&dialog, c.control).setText(c.text);
    PressOk(dialog);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(boxes.rec.boxes.size(), 1u);
    EXPECT_EQ(boxes.rec.boxes[0].text, c.message);
    EXPECT_EQ(config.DialTimeout, 90);
    EXPECT_STREQ(config.DialPrefix, "0,");
    EXPECT_TRUE(StoredValues().empty());
  }
}

// One name for the menu item and the dialog; the kinsoku settings sit with
// the terminal and sending; the rest table shows Japanese labels and
// meanings, never the settings' own names.
TEST_F(ConfigDialogTest, PagesAndTheRestTableSpeakJapanese) {
  ConfigDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), "動作環境");
  auto* tabs = dialog.findChild<QTabWidget*>();
  ASSERT_TRUE(tabs);
  auto pageOf = [&](const char* control) {
    QWidget* w = &Get<QWidget>(&dialog, control);
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->widget(i)->isAncestorOf(w)) return tabs->tabText(i);
    return QString();
  };
  for (const char* kinsoku : {"Wordwrap", "Burasage", "TopKinsoku", "BottomKinsoku"})
    EXPECT_EQ(pageOf(kinsoku), "端末・送信") << kinsoku;
  auto& rest = Get<QTableWidget>(&dialog, "rest");
  ASSERT_GT(rest.rowCount(), 100);
  for (int row = 0; row < rest.rowCount(); ++row) {
    const QString name = rest.item(row, 0)->data(Qt::UserRole).toString();
    SCOPED_TRACE(name.toStdString());
    EXPECT_NE(rest.item(row, 0)->text(), name);
    EXPECT_FALSE(rest.item(row, 2)->text().isEmpty());
  }
  // A refused value there is named by its label.
  for (int row = 0; row < rest.rowCount(); ++row)
    if (rest.item(row, 0)->data(Qt::UserRole).toString() == "PFontSize") rest.item(row, 1)->setText("big");
  dialog.show();
  PressOk(dialog);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "「印刷の文字の大きさ」には数字を指定してください。");
}

// The colour page: the terminal's background, text and highlight colours and
// the colour syntax's (quotation, levels 1-7), each shown as #RRGGBB beside
// a button that opens the colour chooser; a chosen colour fills the text.
TEST_F(ConfigDialogTest, TheColourPageShowsAndChoosesColours) {
  config.aColor[19] = 0x336699;  // 0x00BBGGRR
  configBackup = config;
  ConfigDialog dialog;
  dialog.show();
  auto* tabs = dialog.findChild<QTabWidget*>();
  ASSERT_TRUE(tabs);
  auto& level3 = Get<QLineEdit>(&dialog, "Color19");
  QWidget* page = nullptr;
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->isAncestorOf(&level3)) page = tabs->widget(i);
  ASSERT_TRUE(page);
  EXPECT_EQ(tabs->tabText(tabs->indexOf(page)), "色");
  struct Row {
    const char* name;
    const char* label;
  } rows[] = {{"Color00", "背景"},     {"Color07", "文字"},     {"Color15", "強調表示の文字"}, {"Color16", "引用"},
              {"Color17", "レベル１"}, {"Color18", "レベル２"}, {"Color19", "レベル３"},       {"Color20", "レベル４"},
              {"Color21", "レベル５"}, {"Color22", "レベル６"}, {"Color23", "レベル７"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto& edit = Get<QLineEdit>(&dialog, r.name);
    EXPECT_TRUE(page->isAncestorOf(&edit));
    EXPECT_EQ(edit.property("label").toString(), QString::fromUtf8(r.label));
    const int n = std::atoi(r.name + 5);
    const int c = config.aColor[n];
    EXPECT_EQ(edit.text(), QString::asprintf("#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  }
  EXPECT_EQ(level3.text(), "#996633");
  // These are no longer rows of the rest table.
  auto& rest = Get<QTableWidget>(&dialog, "rest");
  for (int row = 0; row < rest.rowCount(); ++row)
    for (const Row& r : rows) EXPECT_NE(rest.item(row, 0)->data(Qt::UserRole).toString(), r.name);

  bool chooserSeen = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* chooser = qobject_cast<QColorDialog*>(w); chooser && chooser->isVisible()) {
        chooserSeen = true;
        EXPECT_EQ(chooser->currentColor(), QColor(0x99, 0x66, 0x33));
        chooser->setCurrentColor(QColor(0x10, 0x20, 0x30));
        chooser->accept();
      }
  });
  Get<QPushButton>(&dialog, "Color19.choose").click();
  EXPECT_TRUE(chooserSeen);
  EXPECT_EQ(level3.text(), "#102030");
  ASSERT_TRUE(dialog.Apply());
  EXPECT_EQ(config.aColor[19], 0x302010);
  EXPECT_EQ(StoredValues(), (std::vector<std::string>{"\"Color19\"=dword:00302010"}));
}

// The font chooser offers the cell fonts only (the CJK dual-width ones too)
// and previews kanji in two cells and half-width kana in one.
TEST_F(ConfigDialogTest, TheFontChooserOffersCellFontsWithAPreview) {
  FontChooser chooser("IPAGothic", 14);
  auto& families = Get<QListWidget>(&chooser, "families");
  ASSERT_GT(families.count(), 0);
  for (int i = 0; i < families.count(); ++i) EXPECT_TRUE(TERMINALVIEW::IsCellFont(families.item(i)->text()));
  if (QFontDatabase::hasFamily("IPAGothic")) {
    EXPECT_EQ(chooser.Family(), "IPAGothic");
    EXPECT_TRUE(families.findItems("IPAPGothic", Qt::MatchFixedString).isEmpty());
  }
  EXPECT_EQ(chooser.Points(), 14);
  // 漢 字 ｶ ﾅ A b 0: nine cells of one width.
  const QImage preview = chooser.Preview();
  ASSERT_FALSE(preview.isNull());
  EXPECT_EQ((preview.width() - 1) % 9, 0);
  const int cx = (preview.width() - 1) / 9;
  // The outline between the two kanji lies two cells in.
  const QColor border = preview.pixelColor(2 * cx, preview.height() / 2);
  const QColor inside = preview.pixelColor(cx, 1);
  EXPECT_NE(border, inside);
  Get<QSpinBox>(&chooser, "size").setValue(20);
  EXPECT_GT(chooser.Preview().width(), preview.width());
}

// The settings' font button opens the chooser; OK there fills the name and size.
TEST_F(ConfigDialogTest, TheFontButtonFillsTheNameAndTheSize) {
  ConfigDialog dialog;
  dialog.show();
  Get<QLineEdit>(&dialog, "FaceName").setText("No Such Font");
  QString offered;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* chooser = dynamic_cast<FontChooser*>(w); chooser && chooser->isVisible()) {
        auto& families = Get<QListWidget>(chooser, "families");
        families.setCurrentRow(families.count() - 1);
        offered = chooser->Family();
        Get<QSpinBox>(chooser, "size").setValue(18);
        chooser->accept();
      }
  });
  Get<QPushButton>(&dialog, "chooseFont").click();
  ASSERT_FALSE(offered.isEmpty());
  EXPECT_EQ(Get<QLineEdit>(&dialog, "FaceName").text(), offered);
  EXPECT_EQ(Get<QSpinBox>(&dialog, "FontPoint").value(), 18);
  ASSERT_TRUE(dialog.Apply());
  EXPECT_EQ(config.FontPoint, 18);
  EXPECT_EQ(QString::fromStdString(jcode::SjisToUtf8(config.FaceName)), offered);
}

// With QUILLNET_SCREENSHOT_DIR set, each page of the dialog is saved there
// as config-N.png and the font chooser as config-font.png.
TEST_F(ConfigDialogTest, PagesCanBeSavedAsPictures) {
  const char* out = std::getenv("QUILLNET_SCREENSHOT_DIR");
  if (!out) GTEST_SKIP() << "QUILLNET_SCREENSHOT_DIR is not set";
  ConfigDialog dialog;
  dialog.setAttribute(Qt::WA_DontShowOnScreen);
  dialog.show();
  auto* tabs = dialog.findChild<QTabWidget*>();
  ASSERT_TRUE(tabs);
  for (int n = 0; n < tabs->count(); ++n) {
    tabs->setCurrentIndex(n);
    EXPECT_TRUE(dialog.grab().save(QString("%1/config-%2.png").arg(out).arg(n + 1), "PNG"));
  }
  FontChooser chooser("IPAGothic", 14);
  chooser.setAttribute(Qt::WA_DontShowOnScreen);
  chooser.show();
  EXPECT_TRUE(chooser.grab().save(QString("%1/config-font.png").arg(out), "PNG"));
}

}  // namespace
