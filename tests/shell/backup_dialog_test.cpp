// The backup dialog on the offscreen platform: what its headings, slider and
// fields show for a stock of three calls, what each choice does to the stock
// and the backup directory when OK is pressed (the dialog staying open when
// it cannot be carried out), postponing, and the offer after a hang-up or a
// script's end, made only where there is a window.
#include "shell/backup_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "port/tapisub.h"
#include "script/backup_offer_window.h"
#include "script/script.h"
#include "shell/config.h"
#include "stock/stock_fixture.h"
#include "support/process.h"
#include "support/test_app.h"

namespace {

SYSTEMTIME Date(int y, int mo, int d) {
  SYSTEMTIME t;
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = 9;
  return t;
}

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> v;
  if (!std::filesystem::exists(dir)) return v;
  for (auto& e : std::filesystem::directory_iterator(dir)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

// Runs the event loop until `done` holds or five seconds have passed.
bool PollUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Lets every zero-time timer posted so far run: a marker posted after them
// fires after them.
void RunPosted() {
  bool marker = false;
  QTimer::singleShot(0, [&] { marker = true; });
  ASSERT_TRUE(PollUntil([&] { return marker; }));
}

BackupDialog* OpenDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = dynamic_cast<BackupDialog*>(w); d && d->isVisible()) return d;
  return nullptr;
}

class BackupDialogTest : public StockTest {
 protected:
  void SetUp() override {
    StockTest::SetUp();
    out = Path("out");
    std::filesystem::create_directory(out);
    config.BackupFormat = 1;
    config.BackupPath[0] = 0;
    fOnline = 0;
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) delete w;
    TAPISUB::hooks = TAPISUBHOOKS{};
    SCRIPT::hooks = SCRIPTHOOKS{};
    STOCK::hooks.now = nullptr;
    fOnline = 0;
    StockTest::TearDown();
  }
  // A backup-mode stock of 40 columns: calls on 2026-01-15 (4 lines),
  // 2026-02-03 (6 lines) and 2026-03-20 (10 lines), and the empty newest
  // line: 21 lines.
  void Make(uint16_t months, unsigned long backupLines) {
    path = Path("main.stk");
    ASSERT_EQ(STOCK::Create(path, STOCK_MAX_LINES, 40, months, backupLines, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    Call("2026/01/15 09:30", 3);
    Call("2026/02/03 22:05", 5);
    Call("2026/03/20 08:00", 9);
    STOCK::Save();
    ASSERT_EQ(STOCK::UsedItems(), 21);
  }
  static void Call(const char* date, int after) {
    const int slot = cvNewest;
    AppendLines({std::string("Host - ") + date});
    STOCK::SetConnectTag(slot);
    AppendLines(Numbered(0, after));
  }
  // Presses OK as the user would.
  static void Ok(BackupDialog& d) {
    auto* box = d.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    box->button(QDialogButtonBox::Ok)->click();
  }
  static void Choose(BackupDialog& d, const char* button) {
    auto* b = d.findChild<QRadioButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    b->setChecked(true);
  }

  TestApp app;
  std::string path, out;
};

TEST_F(BackupDialogTest, ShowsTheReasonTheRangeAndTheProposedName) {
  Make(2, 0);
  const SYSTEMTIME today = Date(2026, 4, 10);
  const BACKUPCHECK c = CheckBackup(today);
  ASSERT_EQ(c.reason, 2);
  BackupDialog d(c, today);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("バックアップ方法"));
  EXPECT_EQ(d.Heading(), QStringLiteral("ストックファイルに2ヶ月分の通信結果が溜まりました。"));
  EXPECT_EQ(d.findChild<QRadioButton*>("postpone")->text(), QStringLiteral("バックアップを延期する(&E)"));
  EXPECT_EQ(d.findChild<QLabel*>("oldestLabel")->text(), QStringLiteral("2026年1月15日"));
  EXPECT_EQ(d.findChild<QLabel*>("todayLabel")->text(), QStringLiteral("2026年4月10日"));
  EXPECT_EQ(d.findChild<QLineEdit*>("name")->text(), QStringLiteral("main - 2026年1月15日～"));
  // January to April, starting half way (February): two calls, 10 of 21 lines.
  auto* slider = d.findChild<QSlider*>("months");
  EXPECT_EQ(slider->minimum(), 2026 * 12 + 0);
  EXPECT_EQ(slider->maximum(), 2026 * 12 + 3);
  struct Step {
    int month;  // 1-based, 2026
    const char* text;
    int lines;
  } steps[] = {{2, "2026年2月分まで（0万行,48%）", 10},
               {1, "2026年1月分まで（0万行,19%）", 4},
               {3, "2026年3月分まで（0万行,100%）", 21},
               {4, "2026年4月分まで（0万行,100%）", 21}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.month);
    slider->setValue(2026 * 12 + s.month - 1);
    EXPECT_EQ(d.RangeText(), QString::fromUtf8(s.text));
    EXPECT_EQ(d.ChosenLines(), s.lines);
  }
  // The line count reason names the lines in units of 10,000.
  STOCK::fileheader.cBackupLines = 10;
  const BACKUPCHECK lines = CheckBackup(today);
  BackupDialog byLines(lines, today);
  EXPECT_EQ(byLines.Heading(), QStringLiteral("ストックファイルの行数が0万行になりました。"));
  // The manual backup has no heading and offers to keep the lines.
  BACKUPCHECK manual = c;
  manual.reason = 0;
  BackupDialog m(manual, today);
  EXPECT_EQ(m.Heading(), QString());
  EXPECT_EQ(m.findChild<QRadioButton*>("backupOnly")->text(),
            QStringLiteral("古い方をバックアップするだけで削除しない(&E)"));
}

TEST_F(BackupDialogTest, EachChoiceDoesWhatItSaysWhenOkIsPressed) {
  const SYSTEMTIME today = Date(2026, 4, 10);
  struct Case {
    const char* name;
    int reason;  // 0: the manual variant
    const char* choice;
    const char* format;
    bool fieldsEnabled;
    std::vector<std::string> files;
    int linesLeft;
    int backupMonths;
  } cases[] = {
      {"back up and delete, text with control file", 2, "backupAndDelete", "format1", true,
       {"bk.sti", "bk.txt"}, 11, 2},
      {"back up and delete, stock file", 2, "backupAndDelete", "format0", true, {"bk.stk"}, 11, 2},
      {"delete only", 2, "deleteOnly", "format1", false, {}, 11, 2},
      {"postpone one month", 2, "postpone", "format1", false, {}, 21, 3},
      {"manual: back up only, text only", 0, "backupOnly", "format2", true, {"bk.txt"}, 21, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    STOCK::ResetForTest();
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    Make(2, 0);
    BACKUPCHECK check = CheckBackup(today);
    check.reason = c.reason;
    BackupDialog d(check, today);
    int deleted = 0;
    d.afterDelete = [&] { ++deleted; };
    Choose(d, c.choice);
    Choose(d, c.format);
    d.findChild<QLineEdit*>("dir")->setText(QString::fromStdString(out + "/"));  // a trailing "/" is dropped
    d.findChild<QLineEdit*>("name")->setText("bk");
    EXPECT_EQ(d.findChild<QLineEdit*>("dir")->isEnabled(), c.fieldsEnabled);
    EXPECT_EQ(d.findChild<QRadioButton*>("format0")->isEnabled(), c.fieldsEnabled);
    const BACKUPREQUEST r = d.Request();
    EXPECT_EQ(r.dir, out);
    EXPECT_EQ(r.lines, 10);  // up to February
    EXPECT_EQ(r.deleteAfter, std::string(c.choice) == "backupAndDelete");
    d.show();
    Ok(d);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(DirEntries(out), c.files);
    EXPECT_EQ(STOCK::UsedItems(), c.linesLeft);
    EXPECT_EQ(deleted, c.linesLeft == 21 ? 0 : 1);
    if (!c.files.empty()) {
      EXPECT_EQ(config.BackupFormat, c.format[6] - '0');
    }
    // What the stock holds on disk after the dialog.
    STOCK::ResetForTest();
    ASSERT_EQ(STOCK::Open(path), 1);
    EXPECT_EQ(STOCK::UsedItems(), c.linesLeft);
    EXPECT_EQ(STOCK::fileheader.cBackupMonths, c.backupMonths);
    if (c.linesLeft == 11) {
      EXPECT_EQ(Lines().front(), "Host - 2026/03/20 08:00");
    }
  }
  // Postponing the line count reason raises it by 10,000.
  STOCK::ResetForTest();
  Make(0, 10);
  BackupDialog d(CheckBackup(today), today);
  ASSERT_EQ(d.Reason(), 1);
  Choose(d, "postpone");
  Ok(d);
  STOCK::ResetForTest();
  ASSERT_EQ(STOCK::Open(path), 1);
  EXPECT_EQ(STOCK::fileheader.cBackupLines, 10010u);
  EXPECT_EQ(STOCK::UsedItems(), 21);
}

TEST_F(BackupDialogTest, OkStaysOpenWhenTheBackupCannotBeMade) {
  Make(2, 0);
  const SYSTEMTIME today = Date(2026, 4, 10);
  BackupDialog d(CheckBackup(today), today);
  auto* dir = d.findChild<QLineEdit*>("dir");
  d.findChild<QLineEdit*>("name")->setText("bk");
  d.show();
  // A directory that does not exist.
  dir->setText(QString::fromStdString(out + "/missing"));
  Ok(d);
  EXPECT_TRUE(d.isVisible());
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, "バックアップ用に指定されたディレクトリが存在しません。");
  // An existing name is asked about first: No keeps the old file and the
  // lines, Yes replaces it and deletes them.
  dir->setText(QString::fromStdString(out));
  std::ofstream(out + "/bk.txt") << "older backup";
  facade.rec.answers.push_back(ui::IDNO);
  Ok(d);
  EXPECT_TRUE(d.isVisible());
  ASSERT_EQ(facade.rec.boxes.size(), 2u);
  EXPECT_NE(facade.rec.boxes[1].text.find(out + "/bk.txt"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(out + "/bk.txt"), "older backup");
  EXPECT_EQ(DirEntries(out), std::vector<std::string>{"bk.txt"});
  EXPECT_EQ(STOCK::UsedItems(), 21);
  facade.rec.answers.push_back(ui::IDYES);
  Ok(d);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(ReadWholeFile(out + "/bk.txt").substr(0, 25), "Host - 2026/01/15 09:30\r\n");
  EXPECT_EQ(DirEntries(out), (std::vector<std::string>{"bk.sti", "bk.txt"}));
  EXPECT_EQ(STOCK::UsedItems(), 11);
}

TEST_F(BackupDialogTest, EmptyDirectoryMeansTheDefaultUnderTheDataDirectory) {
  const std::string data = Path("data");
  std::filesystem::create_directory(data);
  SetDataDir(data);
  Make(2, 0);
  const SYSTEMTIME today = Date(2026, 4, 10);
  BackupDialog d(CheckBackup(today), today);
  Choose(d, "format2");
  d.findChild<QLineEdit*>("name")->setText("bk");
  EXPECT_EQ(d.Request().dir, data + "/backup");
  d.show();
  Ok(d);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(DirEntries(data + "/backup"), std::vector<std::string>{"bk.txt"});
}

TEST_F(BackupDialogTest, OnLineNothingIsDeleted) {
  Make(2, 0);
  const SYSTEMTIME today = Date(2026, 4, 10);
  BACKUPCHECK manual = CheckBackup(today);
  manual.reason = 0;
  BackupDialog d(manual, today);
  d.SetOnline(true);
  EXPECT_FALSE(d.findChild<QRadioButton*>("backupAndDelete")->isEnabled());
  EXPECT_FALSE(d.findChild<QRadioButton*>("deleteOnly")->isEnabled());
  EXPECT_TRUE(d.findChild<QRadioButton*>("backupOnly")->isChecked());
  EXPECT_FALSE(d.Request().deleteAfter);
  EXPECT_TRUE(d.Request().online);
}

TEST_F(BackupDialogTest, TheOfferComesAfterAHangUpOrAScriptOnlyWithAWindow) {
  Make(2, 0);
  STOCK::hooks.now = [] { return Date(2026, 4, 10); };
  // Without a window nothing is installed: a headless run's hang-up and
  // script end reach no dialog.
  InstallBackupOffer(nullptr, nullptr);
  EXPECT_FALSE(TAPISUB::hooks.hungUp);
  EXPECT_FALSE(SCRIPT::hooks.ended);

  QWidget window;
  window.show();
  int earlier = 0;
  TAPISUB::hooks.hungUp = [&] { ++earlier; };
  InstallBackupOffer(&window, nullptr);
  ASSERT_TRUE(TAPISUB::hooks.hungUp);
  TAPISUB::hooks.hungUp();
  EXPECT_EQ(earlier, 1) << "the hook set before is still called";
  ASSERT_TRUE(PollUntil([] { return OpenDialog() != nullptr; }));
  BackupDialog* d = OpenDialog();
  EXPECT_EQ(d->parentWidget(), &window);
  EXPECT_EQ(d->Reason(), 2);
  // While it is open, no second one.
  TAPISUB::hooks.hungUp();
  RunPosted();
  int open = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) open += dynamic_cast<BackupDialog*>(w) && w->isVisible();
  EXPECT_EQ(open, 1);
  d->reject();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() == nullptr; }));

  // A script's end on line offers nothing; off line it does.
  fOnline = 1;
  SCRIPT::hooks.ended();
  RunPosted();
  EXPECT_EQ(OpenDialog(), nullptr);
  fOnline = 0;
  SCRIPT::hooks.ended();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() != nullptr; }));
  OpenDialog()->reject();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() == nullptr; }));

  // A hang-up while a script still runs leaves the offer to the script's end.
  SCRIPT::fExecuting = true;
  TAPISUB::hooks.hungUp();
  RunPosted();
  SCRIPT::fExecuting = false;
  EXPECT_EQ(OpenDialog(), nullptr);

  // Below both thresholds: nothing.
  STOCK::fileheader.cBackupMonths = 6;
  TAPISUB::hooks.hungUp();
  RunPosted();
  EXPECT_EQ(OpenDialog(), nullptr);
}

TEST_F(BackupDialogTest, TheManualBackupSitsBesideTheStockProperties) {
  Make(0, 0);  // far below any threshold: the manual backup needs no reason
  STOCK::hooks.now = [] { return Date(2026, 4, 10); };
  QWidget window;
  window.show();
  QMenu file;
  file.addAction("ストックのプロパティ(&P)...");
  file.addAction("新しいホストの登録(&A)...");
  InstallBackupOffer(&window, &file);
  const QList<QAction*> items = file.actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[1]->objectName(), "actManualBackup");
  items[1]->trigger();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() != nullptr; }));
  BackupDialog* d = OpenDialog();
  EXPECT_EQ(d->Reason(), 0);
  EXPECT_NE(d->findChild<QRadioButton*>("backupOnly"), nullptr);
  d->reject();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() == nullptr; }));
  // A stock without a dated call: the name alone, the slider on this month
  // only, every line in the range.
  STOCK::ResetForTest();
  STOCK::hooks.now = [] { return Date(2026, 4, 10); };
  ASSERT_EQ(STOCK::Create(Path("plain.stk"), 1000, 40, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 5));
  items[1]->trigger();
  ASSERT_TRUE(PollUntil([] { return OpenDialog() != nullptr; }));
  d = OpenDialog();
  EXPECT_EQ(d->findChild<QLineEdit*>("name")->text(), QStringLiteral("plain"));
  EXPECT_EQ(d->findChild<QSlider*>("months")->minimum(), 2026 * 12 + 3);
  EXPECT_EQ(d->findChild<QSlider*>("months")->maximum(), 2026 * 12 + 3);
  EXPECT_EQ(d->ChosenLines(), 6);
}

}  // namespace
