// The stock creation wizard: the choices give the stock's sizes and mode
// (read back from the file), the size shown, the entry of lines in units of
// 10,000, and the steps around the creation: the question before replacing a
// file, the previous stock remembered, the colour syntax, a failure that
// opens another stock, and the refusal on line.
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <sys/stat.h>

#include <fstream>

#include "settings_fixture.h"
#include "shell/stock_wizard.h"
#include "shell/stock_wizard_dialog.h"
#include "stock/stock.h"
#include "stock/stockheader.h"
#include "support/test_app.h"

namespace {

class StockWizardTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    STOCK::ResetForTest();
    fOnline = 0;
    ASSERT_EQ(STOCK::Create(dir.File("old.stk"), 1000, 80, 0, 0, 0), 1);
    STOCK::StockFile = dir.File("old.stk");
  }
  void TearDown() override {
    fOnline = 0;
    STOCK::ResetForTest();
    SettingsTest::TearDown();
  }
  // The header of a stock file as it is on disk.
  static STOCKFILEHEADER HeaderOf(const std::string& path) {
    STOCKFILEHEADER h;
    std::ifstream in(path, std::ios::binary);
    std::string raw(892, '\0');
    in.read(raw.data(), 892);
    EXPECT_EQ(in.gcount(), 892) << path;
    ReadStockHeader(reinterpret_cast<const unsigned char*>(raw.data()), h);
    return h;
  }
  TestApp app;
};

// Each mode with its fields, through the wizard's own controls.
TEST_F(StockWizardTest, ChoicesGiveTheStocksModeAndSizes) {
  struct Case {
    const char* name;
    int mode;
    const char* lines;
    int columns;
    bool monthsOn;
    int months;
    bool linesOn;
    int linesUnits;
    // expected
    uint32_t maxMax;
    int column;
    uint16_t backupMonths;
    uint32_t backupLines;
    uint16_t daily;
  };
  const Case cases[] = {
      {"ring", 0, "12", 120, false, 6, false, 100, 120000, 120, 0, 0, 0},
      {"ringZero", 0, "0", 80, false, 6, false, 100, 1000, 80, 0, 0, 0},
      {"ringTenth", 0, "0.5", 250, false, 6, false, 100, 5000, 250, 0, 0, 0},
      {"ringMost", 0, "900", 40, false, 6, false, 100, 5000000, 40, 0, 0, 0},
      {"backupBoth", 1, "", 100, true, 9, true, 50, 10000000, 100, 9, 500000, 0},
      {"backupMonths", 1, "", 80, true, 24, false, 50, 10000000, 80, 24, 0, 0},
      {"backupLines", 1, "", 80, false, 6, true, 400, 10000000, 80, 0, 4000000, 0},
      {"daily", 2, "", 80, true, 6, true, 100, 10000000, 80, 0, 0, 1},
  };
  for (const Case& c : cases) {
    STOCKWIZARD w;
    w.findChild<QLineEdit*>("StockName")->setText(QString::fromStdString(dir.File(c.name)));
    w.findChild<QLineEdit*>("StockSyntax")->clear();
    w.findChild<QRadioButton*>(QStringLiteral("StockMode%1").arg(c.mode))->setChecked(true);
    if (c.mode == 0) w.findChild<QLineEdit*>("StockLines")->setText(c.lines);
    w.findChild<QSpinBox*>("StockColumns")->setValue(c.columns);
    w.findChild<QCheckBox*>("StockBackupMonthsOn")->setChecked(c.monthsOn);
    w.findChild<QSpinBox*>("StockBackupMonths")->setValue(c.months);
    w.findChild<QCheckBox*>("StockBackupLinesOn")->setChecked(c.linesOn);
    w.findChild<QSpinBox*>("StockBackupLines")->setValue(c.linesUnits);
    ASSERT_TRUE(w.Complete()) << c.name;
    ASSERT_EQ(CreateStockFromWizard(w.Data()), 1) << c.name;
    const std::string path = dir.File(std::string(c.name) + ".stk");
    EXPECT_EQ(STOCK::szFileName, path) << c.name;
    EXPECT_EQ(STOCK::StockFile, path) << c.name;
    EXPECT_STREQ(config.StockFile, path.c_str()) << c.name;
    const STOCKFILEHEADER h = HeaderOf(path);
    EXPECT_EQ(h.cItemMaxMax, c.maxMax) << c.name;
    EXPECT_EQ(int(h.cColumn), c.column) << c.name;
    EXPECT_EQ(h.cBackupMonths, c.backupMonths) << c.name;
    EXPECT_EQ(h.cBackupLines, c.backupLines) << c.name;
    EXPECT_EQ(h.fClearDaily, c.daily) << c.name;
  }
  // Each creation remembered the stock before it.
  EXPECT_EQ(STOCK::StockFile2, dir.File("backupLines.stk"));
  EXPECT_STREQ(config.StockFile2, dir.File("backupLines.stk").c_str());
  // The names reached the settings file.
  config.SetDefault();
  config.LoadRegistry();
  EXPECT_STREQ(config.StockFile, dir.File("daily.stk").c_str());
}

// The size shown, and the entry of lines: "0" becomes "0.1"; words are no
// number and the wizard cannot finish with them.
TEST_F(StockWizardTest, SizeTextAndLinesEntry) {
  struct Size {
    int columns;
    long lines;
    const char* text;
  };
  // (columns + 2) x lines / 1024 KB, in MB with one decimal; columns 40-250.
  for (const Size& s : {Size{80, 100000, "7.8 MB"}, Size{250, 5000000, "1201.6 MB"}, Size{10, 1000, "0.0 MB"},
                        Size{30, 1000000, "40.1 MB"}, Size{300, 1000000, "240.3 MB"}})
    EXPECT_EQ(StockSizeText(s.columns, s.lines), s.text) << s.columns << " " << s.lines;

  STOCKWIZARD w;
  auto* lines = w.findChild<QLineEdit*>("StockLines");
  w.findChild<QRadioButton*>("StockMode0")->setChecked(true);
  w.findChild<QSpinBox*>("StockColumns")->setValue(80);
  lines->setText("10");
  EXPECT_EQ(w.SizeText(), "7.8 MB");
  EXPECT_TRUE(w.findChild<QLabel*>("StockSize")->text().contains("7.8 MB"));
  lines->setText("0");
  emit lines->editingFinished();
  EXPECT_EQ(lines->text(), "0.1");
  lines->setText("abc");
  EXPECT_FALSE(w.Complete());
  EXPECT_TRUE(w.SizeText().isEmpty());
  // Another mode does not read the entry.
  w.findChild<QRadioButton*>("StockMode2")->setChecked(true);
  EXPECT_TRUE(w.Complete());
  EXPECT_FALSE(lines->isEnabled());
  // A name without an extension gets ".stk".
  EXPECT_EQ(StockWizardPath("/x/new"), "/x/new.stk");
  EXPECT_EQ(StockWizardPath("/x/new.stk"), "/x/new.stk");
}

// An existing file is replaced only after a yes; declined, nothing changes
// and the open stock stays.  A failure opens the previous stock again; on
// line nothing is created.
TEST_F(StockWizardTest, ReplacingFailingAndOnLine) {
  const std::string target = dir.File("keep.stk");
  { std::ofstream(target) << "not a stock"; }
  STOCKWIZARDDATA d;
  d.path = target;
  d.linesEntry = "1";

  boxes.rec.answers.push_back(ui::IDNO);
  EXPECT_EQ(CreateStockFromWizard(d), -1);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, target + "は既に存在しています。上書きしてもいいですか？");
  EXPECT_EQ(STOCK::szFileName, dir.File("old.stk"));
  EXPECT_EQ(STOCK::fValid, 1);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 11);

  boxes.rec.answers.push_back(ui::IDYES);
  EXPECT_EQ(CreateStockFromWizard(d), 1);
  EXPECT_EQ(STOCK::szFileName, target);
  EXPECT_EQ(HeaderOf(target).cItemMaxMax, 10000u);
  EXPECT_EQ(STOCK::StockFile2, dir.File("old.stk"));

  // A directory that does not exist: the message, then the previous stock.
  boxes.rec.boxes.clear();
  d.path = dir.File("missing/dir/x.stk");
  EXPECT_EQ(CreateStockFromWizard(d), 0);
  ASSERT_FALSE(boxes.rec.boxes.empty());
  EXPECT_EQ(boxes.rec.boxes[0].text, d.path + "の作成に失敗しました。");
  EXPECT_EQ(STOCK::fValid, 1);
  EXPECT_EQ(STOCK::szFileName, target);

  boxes.rec.boxes.clear();
  fOnline = 1;
  d.path = dir.File("online.stk");
  EXPECT_EQ(CreateStockFromWizard(d), -1);
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, "オンライン中はこの処理はできません。");
  EXPECT_NE(stat(d.path.c_str(), &st), 0);
  EXPECT_EQ(STOCK::szFileName, target);
}

// The colour syntax named in the wizard goes into the new stock when it can
// be opened; otherwise the stock has none.
TEST_F(StockWizardTest, ColourSyntaxOfTheNewStock) {
  const std::string syntax = QUILLNET_BUILD_DIR "/tools/demo.tag";
  std::vector<std::string> opened;
  STOCK::hooks.openSyntax = [&](const std::string& p) {
    opened.push_back(p);
    struct stat st {};
    return stat(p.c_str(), &st) == 0;
  };
  int emptied = 0;
  STOCK::hooks.emptySyntax = [&] { ++emptied; };
  STOCKWIZARDDATA d;
  d.path = dir.File("with");
  d.syntaxFile = syntax;
  ASSERT_EQ(CreateStockFromWizard(d), 1);
  EXPECT_EQ(HeaderOf(dir.File("with.stk")).TagFile(), syntax);
  EXPECT_EQ(opened, std::vector<std::string>{syntax});

  d.path = dir.File("without");
  d.syntaxFile = dir.File("nothing.tag");
  const int before = emptied;
  ASSERT_EQ(CreateStockFromWizard(d), 1);
  EXPECT_EQ(HeaderOf(dir.File("without.stk")).TagFile(), "");
  EXPECT_GT(emptied, before);
  STOCK::hooks.openSyntax = nullptr;
  STOCK::hooks.emptySyntax = nullptr;
}

}  // namespace
