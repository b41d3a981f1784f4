// Re-tagging the whole stock with its window on the offscreen platform: the
// question first, the progress window "カラー構文を再計算中" while it runs,
// its stop button really stopping the walk (what was done is kept, the rest
// untouched, the run reported incomplete), and no window where none can be
// shown.
#include "shell/retag_progress_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/jcode.h"
#include "platform/messagebox_dialog.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "support/temp_dir.h"
#include "support/test_app.h"

namespace {

// Looks at the windows at every pass of the event loop, as a user would.
class Robot {
 public:
  explicit Robot(std::function<void()> look) {
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, look);
    timer.start();
  }

 private:
  QTimer timer;
};

template <class T>
T* Visible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = dynamic_cast<T*>(w); t && t->isVisible()) return t;
  return nullptr;
}

class RetagWindowTest : public ::testing::Test {
 protected:
  static constexpr int kLines = 1000;

  void SetUp() override {
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
    tagQueryHooks = TAGQUERYHOOKS{};
    InstallTagEngine();
    InstallRetagProgressDialog([this] { ++runsEnded; });
    ASSERT_EQ(STOCK::Create(dir.File("t.stk"), 5000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    TagFileContents contents;
    contents.records = SystemRecords();
    contents.records.push_back(TagRecord("menu", 1, "^MENU"));
    std::ofstream(dir.File("x.tag"), std::ios::binary) << BuildTagFile(contents);
    ASSERT_EQ(TAGMAKER::Open(dir.File("x.tag")), 1);
    Line("Host - 2026/12/11 10:00", STOCK_MARK_CONNECT);
    // Every line starts with a tag the re-tagging must replace.
    for (int k = 0; k < kLines; ++k) {
      const CODEVRAM cv = Line("MENU " + std::to_string(k), STOCK_MARK_NONE);
      STOCK::aTag[size_t(cv.i)] = TAG_QUOTE;
      lines.push_back(cv);
    }
  }
  void TearDown() override {
    ui::SetFacade(nullptr);
    tagQueryHooks = TAGQUERYHOOKS{};
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
  }
  static CODEVRAM Line(const std::string& text, unsigned char mark) {
    CODEVRAM cv = cvNewest;
    STOCKITEM* item = STOCK::GetItem(cv);
    text.copy(item->Text(), text.size());
    item->cInput = mark;
    if (mark == STOCK_MARK_CONNECT) STOCK::SetConnectTag(cv);
    const CODEVRAM line = cv;
    cv.LineFeed();
    return line;
  }
  int Tagged(int tag) const {
    int n = 0;
    for (const CODEVRAM& cv : lines) n += cv.Tag() == tag;
    return n;
  }

  TestApp app;
  TempDir dir;
  std::vector<CODEVRAM> lines;
  int runsEnded = 0;  // calls of the hook after a run
};

TEST_F(RetagWindowTest, TheQuestionComesFirstThenTheWindowShowsTheRun) {
  ui::QtFacade qt;
  ui::SetFacade(&qt);
  struct Case {
    QMessageBox::StandardButton answer;
    int result;
    bool window;
  } cases[] = {{QMessageBox::No, 0, false}, {QMessageBox::Yes, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer == QMessageBox::Yes ? "yes" : "no");
    std::vector<std::string> questions;
    QString title;
    int maximum = -1, lastValue = -1;
    Robot user([&] {
      if (auto* box = Visible<QMessageBox>()) {
        questions.push_back(box->text().toStdString());
        box->button(c.answer)->click();
      }
      if (auto* w = Visible<RetagProgressDialog>()) {
        title = w->windowTitle();
        auto* bar = w->findChild<QProgressBar*>("bar");
        maximum = bar->maximum();
        lastValue = bar->value();
      }
    });
    EXPECT_EQ(TREE::RefreshTagAll(1), c.result);
    EXPECT_EQ(questions, std::vector<std::string>{"カラー構文の再計算をしますか？"});
    EXPECT_EQ(!title.isEmpty(), c.window);
    EXPECT_EQ(Visible<RetagProgressDialog>(), nullptr) << "the window goes with the run";
    EXPECT_EQ(runsEnded, c.window ? 1 : 0);
    if (c.window) {
      EXPECT_EQ(title, QStringLiteral("カラー構文を再計算中"));
      EXPECT_EQ(maximum, (kLines + 2 + 199) / 200);  // one step per 200 lines
      EXPECT_EQ(lastValue, kLines / 200);
      EXPECT_EQ(Tagged(4), kLines);
    } else {
      EXPECT_EQ(Tagged(TAG_QUOTE), kLines) << "No changes nothing";
    }
  }
}

TEST_F(RetagWindowTest, StoppingEndsTheWalkAndTheRunIsIncomplete) {
  ui::QtFacade qt;
  ui::SetFacade(&qt);
  // Once two steps are shown the user presses stop; then closes the window
  // too, which must not take it away before the run has ended.
  int pressedAt = -1;
  bool stillUpAfterClose = false;
  Robot user([&] {
    auto* w = Visible<RetagProgressDialog>();
    if (!w || pressedAt >= 0) return;
    auto* bar = w->findChild<QProgressBar*>("bar");
    if (bar->value() < 2) return;
    pressedAt = bar->value();
    w->findChild<QPushButton*>("stop")->click();
    w->close();
    stillUpAfterClose = w->isVisible();
  });
  EXPECT_EQ(TREE::RefreshTagAll(0), 0);
  EXPECT_EQ(runsEnded, 1) << "a stopped run has ended too";
  EXPECT_EQ(pressedAt, 2);
  EXPECT_TRUE(stillUpAfterClose);
  EXPECT_EQ(Visible<RetagProgressDialog>(), nullptr);
  // The connect line and 399 lines after it make the 400 walked lines.
  EXPECT_EQ(Tagged(4), 399) << "what was done is kept";
  EXPECT_EQ(Tagged(TAG_QUOTE), kLines - 399) << "the rest is untouched";
  // Through the stock's hook, as the stock's dialog calls it: incomplete.
  int presses = 0;
  Robot again([&] {
    if (auto* w = Visible<RetagProgressDialog>(); w && presses == 0) {
      ++presses;
      w->findChild<QPushButton*>("stop")->click();
    }
  });
  ASSERT_TRUE(STOCK::hooks.retag);
  EXPECT_FALSE(STOCK::hooks.retag(0));
  EXPECT_EQ(presses, 1);
}

TEST_F(RetagWindowTest, WithoutAWindowTheRunGoesOnAlone) {
  ui::ScopedRecordingFacade headless;
  tagQueryHooks.progressBegin(5);
  EXPECT_EQ(Visible<RetagProgressDialog>(), nullptr);
  EXPECT_TRUE(tagQueryHooks.progressStep(1));
  tagQueryHooks.progressEnd();
  EXPECT_EQ(TREE::RefreshTagAll(0), 1);
  EXPECT_EQ(Tagged(4), kLines);
  EXPECT_TRUE(headless.rec.boxes.empty());
}

}  // namespace
