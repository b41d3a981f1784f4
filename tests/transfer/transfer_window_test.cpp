// The transfer windows on the offscreen platform: the progress window's
// fields from a transfer's figures, its stop button and the keys it passes
// to the terminal; the download question's answers; the history window's
// list, open, delete and delete all; the transfer menu's commands.  With
// QUILLNET_SCREENSHOT_DIR set, the progress and history windows are saved
// there as transfer-progress.png and transfer-history.png.
#include "transfer/transfer_window.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QUrl>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>

#include "platform/ui.h"
#include "shell/config.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "transfer/figures.h"
#include "transfer/history.h"
#include "transfer/updown.h"

namespace {

void Screenshot(QWidget& w, const char* name) {
  if (const char* dir = std::getenv("QUILLNET_SCREENSHOT_DIR")) {
    w.show();
    w.grab().save(QString::fromUtf8(dir) + "/" + name);
  }
}

TEST(TransferWindows, TheProgressWindowShowsEveryFigureAndStops) {
  TestApp app;
  TRANSFER t;
  t.protocol = PROTOCOL_ZMODEM;
  t.stats.fileName = "/home/user/down/表計算.xls";
  t.stats.shortName = "表計算.xls";
  t.stats.total = 100000;
  t.stats.resume = 10000;
  t.stats.startTick = 1000;
  t.stats.counting = true;
  t.stats.firstTick = 1000;
  t.stats.base = 0;
  t.stats.processed = 30000;
  t.stats.retries = 3;
  t.stats.status = PS_RECEIVING;
  TransferProgressWindow w(t);
  TICK now = 11000;  // ten seconds in
  w.clock = [&] { return now; };
  w.outQueue = [] { return 0LL; };
  w.Refresh();
  const TRANSFERFIGURES f = ProtocolFigures(t.stats, now, 0);
  EXPECT_EQ(w.Field("ﾌﾟﾛﾄｺﾙ:"), "ZMODEM");
  EXPECT_EQ(w.Field("ﾌｧｲﾙ:"), "/home/user/down/表計算.xls");
  EXPECT_EQ(w.Field("全ﾊﾞｲﾄ数:").toStdString(), f.total);
  EXPECT_EQ(w.Field("処理済み:").toStdString(), f.processed);
  EXPECT_NE(w.Field("処理済み:").indexOf("(40%)"), -1) << w.Field("処理済み:").toStdString();
  EXPECT_EQ(w.Field("ﾘﾄﾗｲ回数:"), "3");
  EXPECT_EQ(w.Field("時間:"), "00:00:10");
  EXPECT_EQ(w.Field("状態:"), "受信中");
  EXPECT_EQ(w.Field("転送速度:"), "毎秒 3000 ﾊﾞｲﾄ");
  EXPECT_EQ(w.Field("時間予測:").toStdString(), "あと " + f.estimate);
  Screenshot(w, "transfer-progress.png");

  // The time moves on without any other change.
  now = 12500;
  w.Refresh();
  EXPECT_EQ(w.Field("時間:"), "00:00:11");

  // Paging keys on the stop button go to the terminal; others do not.
  std::vector<int> forwarded;
  w.forwardKey = [&](QKeyEvent* k) { forwarded.push_back(k->key()); };
  for (int key : {int(Qt::Key_PageUp), int(Qt::Key_Down), int(Qt::Key_A)}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w.StopButton(), &press);
  }
  EXPECT_EQ(forwarded, (std::vector<int>{Qt::Key_PageUp, Qt::Key_Down}));
  EXPECT_EQ(w.StopButton()->text(), "中断！");
  EXPECT_FALSE(t.fStopProtocol);
  w.StopButton()->click();
  EXPECT_TRUE(t.fStopProtocol);
}

TEST(TransferWindows, TheDownloadQuestionAnswersEachChoice) {
  TestApp app;
  DOWNQUESTION q;
  q.path = "/tmp/down/a.bin";
  q.length = 100;
  q.spare = "TEMP.003";
  for (bool resume : {false, true}) {
    q.offerResume = resume;
    {
      DownloadQuestionDialog d(q);
      EXPECT_EQ(d.objectName(), resume ? "DOWN2RESUME" : "DOWN2");
      EXPECT_EQ(d.Choice(DM_RESUME) != nullptr, resume);
      ASSERT_NE(d.Choice(DM_RENAME), nullptr);
      EXPECT_EQ(d.Choice(DM_RENAME)->text(), "TEMP.003という名前でダウンロードする(&C)");
      EXPECT_TRUE(d.Choice(DM_RENAME)->isChecked());  // the default: nothing is lost
    }
    for (DOWNMODE m : {DM_OVERWRITE, DM_APPEND, DM_RENAME, DM_RESUME}) {
      if (m == DM_RESUME && !resume) continue;
      DownloadQuestionDialog d(q);
      d.Choice(m)->setChecked(true);
      d.accept();
      EXPECT_EQ(d.Answer(), m);
    }
    DownloadQuestionDialog d(q);
    EXPECT_EQ(d.CancelButton()->text(), "ダウンロードを中止する(Esc)");
    d.CancelButton()->click();
    EXPECT_EQ(d.Answer(), DM_CANCEL);
  }
  // No spare name left: overwrite is offered first, the spare name not at all.
  q.spare.clear();
  DownloadQuestionDialog d(q);
  EXPECT_EQ(d.Choice(DM_RENAME), nullptr);
  EXPECT_TRUE(d.Choice(DM_OVERWRITE)->isChecked());
}

TEST(TransferWindows, TheUploadDialogSortsByNameOrDateAndChoosesSeveral) {
  TestApp app;
  TempDir dir;
  // Written in this order, each an hour older than the one before.
  const char* names[] = {"b.txt", "c.lzh", "a.bin"};
  time_t when = 1700000000;
  for (const char* n : names) {
    ASSERT_TRUE(WriteWholeFile(dir.File(n), n));
    const utimbuf times{when, when};
    ASSERT_EQ(utime(dir.File(n).c_str(), &times), 0);
    when -= 3600;
  }
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);  // folders are not offered
  UploadDialog one(dir.Path(), false);
  EXPECT_EQ(one.windowTitle(), "アップロード");
  EXPECT_EQ(one.Shown(), (std::vector<std::string>{"a.bin", "b.txt", "c.lzh"}));
  one.SortByDate(true);
  EXPECT_EQ(one.Shown(), (std::vector<std::string>{"b.txt", "c.lzh", "a.bin"}));
  one.Select({0, 2});  // one file at a time here
  EXPECT_EQ(one.Chosen(), (std::vector<std::string>{dir.File("b.txt")}));

  UploadDialog many(dir.Path(), true);
  many.Select({0, 2});
  EXPECT_EQ(many.Chosen(), (std::vector<std::string>{dir.File("a.bin"), dir.File("c.lzh")}));
}

TEST(TransferWindows, TheHistoryListsOpensAndDeletes) {
  TestApp app;
  ui::ScopedRecordingFacade facade;
  TempDir dir;
  const time_t when = 1700000000;
  ASSERT_TRUE(AppendHistory(dir.Path(), FormatHistoryLine("一.txt", 10, false, when, "ＡＢＣネット", "ZMODEM", 100) +
                                            FormatHistoryLine("two.bin", 2048, true, when, "ＡＢＣネット", "XMODEM-1K", 900) +
                                            FormatHistoryLine("three.lzh", 99999, false, when, "", "YMODEM(batch)", 5000)));
  TransferHistoryWindow w(dir.Path(), "/data/down", "/data/up");
  EXPECT_EQ(w.windowTitle(), "転送履歴");
  ASSERT_EQ(w.List()->topLevelItemCount(), 3);
  EXPECT_EQ(w.List()->topLevelItem(0)->text(0), "一.txt");
  EXPECT_EQ(w.List()->topLevelItem(1)->text(1), "2048B");
  EXPECT_EQ(w.List()->topLevelItem(1)->text(2), "Up");
  EXPECT_EQ(w.List()->topLevelItem(2)->text(5), "YMODEM(batch)");
  Screenshot(w, "transfer-history.png");

  // Open: a downloaded file from the download directory, an uploaded one from
  // the upload directory.
  std::vector<QUrl> opened;
  w.open = [&](const QUrl& u) {
    opened.push_back(u);
    return true;
  };
  w.List()->setCurrentItem(w.List()->topLevelItem(0));
  EXPECT_TRUE(w.OpenSelected());
  w.List()->setCurrentItem(w.List()->topLevelItem(1));
  EXPECT_TRUE(w.OpenSelected());
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].toLocalFile(), "/data/down/一.txt");
  EXPECT_EQ(opened[1].toLocalFile(), "/data/up/two.bin");

  // Delete the middle line: the file keeps the other two.
  EXPECT_TRUE(w.DeleteSelected());
  auto lines = ParseHistory(ReadWholeFile(dir.File("TRANHIST.TXT")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "一.txt");
  EXPECT_EQ(lines[1].name, "three.lzh");
  ASSERT_EQ(w.List()->topLevelItemCount(), 2);

  // Delete all asks first: "no" keeps everything, "yes" empties the file.
  facade.rec.answers = {ui::IDNO};
  EXPECT_FALSE(w.DeleteAll());
  EXPECT_EQ(ParseHistory(ReadWholeFile(dir.File("TRANHIST.TXT"))).size(), 2u);
  facade.rec.answers = {ui::IDYES};
  EXPECT_TRUE(w.DeleteAll());
  EXPECT_TRUE(ParseHistory(ReadWholeFile(dir.File("TRANHIST.TXT"))).empty());
  EXPECT_EQ(w.List()->topLevelItemCount(), 0);
}

TEST(TransferWindows, TheMenuCarriesTheTransferCommands) {
  TestApp app;
  QWidget frame;
  QMenu menu;
  InstallTransferWindows(&frame, &menu);
  std::map<int, QAction*> byCommand;
  for (QAction* a : menu.actions())
    if (!a->isSeparator()) byCommand[a->data().toInt()] = a;
  ASSERT_EQ(byCommand.size(), 5u);
  EXPECT_EQ(byCommand[13]->text(), "アップロード(&U)...");
  EXPECT_EQ(byCommand[14]->text(), "ダウンロード(&D)...");
  EXPECT_EQ(byCommand[121]->text(), "テキスト送信(&T)...");
  EXPECT_EQ(byCommand[78]->text(), "中断！(&S)");
  EXPECT_EQ(byCommand[111]->text(), "転送履歴(&H)...");
  // Off line nothing starts; on line the starts are there, stop only while a
  // transfer runs.
  fOnline = 0;
  emit menu.aboutToShow();
  EXPECT_FALSE(byCommand[13]->isEnabled());
  EXPECT_FALSE(byCommand[78]->isEnabled());
  fOnline = 1;
  emit menu.aboutToShow();
  EXPECT_TRUE(byCommand[13]->isEnabled());
  EXPECT_TRUE(byCommand[121]->isEnabled());
  EXPECT_FALSE(byCommand[78]->isEnabled());
  updownHooks.enableTransferMenu(false);  // a transfer starts
  emit menu.aboutToShow();
  EXPECT_FALSE(byCommand[14]->isEnabled());
  EXPECT_TRUE(byCommand[78]->isEnabled());
  transfer.fStopProtocol = false;
  byCommand[78]->trigger();
  EXPECT_TRUE(transfer.fStopProtocol);
  transfer.fStopProtocol = false;
  fOnline = 0;
  RemoveTransferWindows();
  EXPECT_FALSE(static_cast<bool>(updownHooks.openProgress));
}

}  // namespace
