// The colour syntax selection dialog on the offscreen platform: the ".tag"
// files of the program's directory with their comment texts, choosing one,
// declining, declining without a window (headless), and the stock taking the
// chosen file when its own cannot be opened.
#include "shell/syntax_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/jcode.h"
#include "platform/messagebox_dialog.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/config.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "support/temp_dir.h"
#include "support/test_app.h"

namespace {

const std::string kDemoTag = QUILLNET_BUILD_DIR "/tools/demo.tag";

// Runs `act` on the first visible top-level T once it is up (polled every
// 10 ms); message boxes shown before it are answered with OK and their texts
// kept.  After the deadline every modal window is closed so that nothing
// hangs, and `Seen` stays false.
template <class T>
class WhenShown {
 public:
  explicit WhenShown(std::function<void(T*)> act, int deadlineMs = 10000) {
    clock.start();
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this, act, deadlineMs] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* t = dynamic_cast<T*>(w); t && t->isVisible()) {
          timer.stop();
          seen = true;
          act(t);
          return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
          boxes.push_back(box->text().toStdString());
          box->accept();
          return;
        }
      }
      if (clock.elapsed() > deadlineMs) {
        timer.stop();
        while (QWidget* m = QApplication::activeModalWidget()) m->close();
      }
    });
    timer.start();
  }
  bool Seen() const { return seen; }
  std::vector<std::string> boxes;

 private:
  QTimer timer;
  QElapsedTimer clock;
  bool seen = false;
};

class SyntaxDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config.SetDefault();
    config.HomeDir[0] = 0;
    SetDataDir(dir.Path());
    std::filesystem::copy_file(kDemoTag, dir.File("demo.tag"));
    // An older file with a two-line comment, a file that is no syntax file,
    // a file and a directory that are not listed.
    TagFileContents old;
    old.version = 0x100A;
    old.records = SystemRecords();
    old.records.push_back(TagRecord("menu", 1, "^MENU"));
    old.comment = jcode::Utf8ToSjis("古い構文\r\n二行目\r\n");
    std::ofstream(dir.File("b-old.tag"), std::ios::binary) << BuildTagFile(old);
    std::ofstream(dir.File("broken.tag"), std::ios::binary) << std::string(100, 'x');
    std::ofstream(dir.File("notes.txt")) << "not a syntax\n";
    std::filesystem::create_directory(dir.File("folder.tag"));
  }
  void TearDown() override {
    ui::SetFacade(nullptr);
    ResetDirsForTest();
    config.SetDefault();
  }
  static int RowOf(QListWidget& list, const std::string& path) {
    for (int i = 0; i < list.count(); ++i)
      if (list.item(i)->data(Qt::UserRole).toString().toStdString() == path) return i;
    return -1;
  }

  TestApp app;
  TempDir dir;
};

TEST_F(SyntaxDialogTest, TheProgramDirectoryComesFirstAndItsTagFilesAreListedWithTheirComments) {
  const std::vector<std::string> dirs = SyntaxDirectories();
  ASSERT_FALSE(dirs.empty());
  EXPECT_EQ(dirs[0], std::filesystem::canonical(dir.Path()).string());
  // Run from the build tree (this test is in build/tests), the directory the
  // demo syntax is built into is searched too.
  const std::string built = std::filesystem::canonical(QUILLNET_BUILD_DIR "/tools").string();
  EXPECT_NE(std::find(dirs.begin(), dirs.end(), built), dirs.end());
  const std::vector<SYNTAXFILEENTRY> files = ListSyntaxFiles({dir.Path()});
  struct Want {
    const char* name;
    bool readable;
    const char* comment;
  } want[] = {{"b-old.tag", true, "古い構文\n二行目"}, {"broken.tag", false, nullptr}, {"demo.tag", true, "デモＢＢＳ用"}};
  ASSERT_EQ(files.size(), std::size(want));
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(files[i].path, dir.File(want[i].name));
    EXPECT_EQ(files[i].readable, want[i].readable);
    if (want[i].comment) {
      EXPECT_EQ(files[i].comment, want[i].comment);
    }
  }
  // The refusal says why.
  EXPECT_NE(files[1].comment.find("はQuillnet用のファイルではありません。"), std::string::npos) << files[1].comment;
  // A directory reached twice lists its files once.
  EXPECT_EQ(ListSyntaxFiles({dir.Path(), dir.Path() + "/."}).size(), files.size());
}

TEST_F(SyntaxDialogTest, ChoosingAFileReturnsItsPathAndDecliningReturnsNothing) {
  ui::QtFacade qt;
  ui::SetFacade(&qt);
  QString oldComment, brokenComment;
  bool okForBroken = true;
  WhenShown<SyntaxDialog> choose([&](SyntaxDialog* d) {
    auto* list = d->findChild<QListWidget*>("files");
    auto* comment = d->findChild<QPlainTextEdit*>("comment");
    auto* ok = d->findChild<QPushButton*>("ok");
    ASSERT_TRUE(list && comment && ok);
    list->setCurrentRow(RowOf(*list, dir.File("b-old.tag")));
    oldComment = comment->toPlainText();
    list->setCurrentRow(RowOf(*list, dir.File("broken.tag")));
    brokenComment = comment->toPlainText();
    okForBroken = ok->isEnabled();
    list->setCurrentRow(RowOf(*list, dir.File("demo.tag")));
    ok->click();
  });
  EXPECT_EQ(PickSyntaxFile("/gone/missing.tag"), dir.File("demo.tag"));
  EXPECT_TRUE(choose.Seen());
  EXPECT_TRUE(oldComment.contains(QStringLiteral("古い構文\n二行目"))) << oldComment.toStdString();
  EXPECT_TRUE(brokenComment.contains(QStringLiteral("はQuillnet用のファイルではありません。")));
  EXPECT_FALSE(okForBroken) << "a file that cannot be read is not offered";

  QString why;
  WhenShown<SyntaxDialog> decline([&](SyntaxDialog* d) {
    if (auto* label = d->findChild<QLabel*>("why")) why = label->text();
    d->findChild<QPushButton*>("cancel")->click();
  });
  EXPECT_EQ(PickSyntaxFile("/gone/missing.tag"), "");
  EXPECT_TRUE(decline.Seen());
  EXPECT_TRUE(why.contains(QStringLiteral("/gone/missing.tag")));
}

TEST_F(SyntaxDialogTest, WithoutAWindowItDeclinesWithoutAsking) {
  ui::ScopedRecordingFacade headless;
  EXPECT_FALSE(DialogsCanBeShown());
  // A dialog shown would run the event loop, and this would answer it.
  WhenShown<SyntaxDialog> never([](SyntaxDialog* d) { d->reject(); });
  EXPECT_EQ(PickSyntaxFile("/gone/missing.tag"), "");
  EXPECT_FALSE(never.Seen());
  EXPECT_TRUE(headless.rec.boxes.empty());
}

// A stock whose syntax file has gone: opening it (with the frame up) offers
// the dialog, and the chosen file becomes the stock's syntax, saved with it.
TEST_F(SyntaxDialogTest, AStockWhoseSyntaxIsGoneTakesTheChosenFile) {
  ui::QtFacade qt;
  ui::SetFacade(&qt);
  STOCK::ResetForTest();
  TAGMAKER::ResetForTest();
  InstallTagEngine();
  InstallSyntaxDialog();
  STOCK::hooks.frameExists = [] { return true; };
  const std::string stock = dir.File("s.stk");
  ASSERT_EQ(STOCK::Create(stock, 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  ASSERT_TRUE(STOCK::fileheader.SetTagFile(dir.File("gone.tag")));
  STOCK::Save();
  STOCK::Close();
  WhenShown<SyntaxDialog> choose([&](SyntaxDialog* d) {
    auto* list = d->findChild<QListWidget*>("files");
    list->setCurrentRow(RowOf(*list, dir.File("demo.tag")));
    d->findChild<QPushButton*>("ok")->click();
  });
  ASSERT_EQ(STOCK::Open(stock), 1);
  EXPECT_TRUE(choose.Seen());
  EXPECT_EQ(choose.boxes, std::vector<std::string>{dir.File("gone.tag") + "は見つかりません。"});
  EXPECT_EQ(STOCK::fileheader.TagFile(), dir.File("demo.tag"));
  EXPECT_GT(tagarray.Count(), 4) << "the demo syntax is loaded";
  STOCK::Close();
  // And saved: opening again needs no question.
  STOCK::hooks.pickSyntax = nullptr;
  ASSERT_EQ(STOCK::Open(stock), 1);
  EXPECT_EQ(STOCK::fileheader.TagFile(), dir.File("demo.tag"));
  STOCK::Close();
  STOCK::ResetForTest();
  TAGMAKER::ResetForTest();
}

// A first stock made at start-up is offered a syntax; the chosen file is
// its syntax from then on, with the file's time stamp.  A stock that has one
// is not asked, and nor is anyone without a window.
TEST_F(SyntaxDialogTest, AFirstStockIsOfferedASyntax) {
  ui::QtFacade qt;
  ui::SetFacade(&qt);
  STOCK::ResetForTest();
  TAGMAKER::ResetForTest();
  InstallTagEngine();
  const std::string stock = dir.File("first.stk");
  ASSERT_EQ(STOCK::Create(stock, 1000, 80, 0, 0, 0), 1);
  WhenShown<SyntaxDialog> choose([&](SyntaxDialog* d) {
    auto* list = d->findChild<QListWidget*>("files");
    list->setCurrentRow(RowOf(*list, dir.File("demo.tag")));
    d->findChild<QPushButton*>("ok")->click();
  });
  EXPECT_TRUE(OfferSyntaxForNewStock());
  EXPECT_TRUE(choose.Seen());
  EXPECT_EQ(STOCK::fileheader.TagFile(), dir.File("demo.tag"));
  EXPECT_NE(STOCK::fileheader.ftTagFile, FILETIME{});
  EXPECT_GT(tagarray.Count(), 4);
  // Saved with the stock; asked no more.
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(stock), 1);
  EXPECT_EQ(STOCK::fileheader.TagFile(), dir.File("demo.tag"));
  {
    // A dialog shown would run the event loop, and this would answer it.
    WhenShown<SyntaxDialog> never([](SyntaxDialog* d) { d->reject(); });
    EXPECT_FALSE(OfferSyntaxForNewStock());
    EXPECT_FALSE(never.Seen());
  }
  STOCK::Close();
  // Declined: the stock stays without a syntax.
  ASSERT_EQ(STOCK::Create(dir.File("second.stk"), 1000, 80, 0, 0, 0), 1);
  WhenShown<SyntaxDialog> decline([](SyntaxDialog* d) { d->findChild<QPushButton*>("cancel")->click(); });
  EXPECT_FALSE(OfferSyntaxForNewStock());
  EXPECT_TRUE(decline.Seen());
  EXPECT_EQ(STOCK::fileheader.TagFile(), "");
  STOCK::Close();
  STOCK::ResetForTest();
  TAGMAKER::ResetForTest();
}

}  // namespace
