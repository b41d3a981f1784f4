// The script windows on the offscreen platform, over real script files in a
// temporary folder and the real interpreter: the file lists of the run and
// edit commands (sorting, descriptions, "新規作成(&N)"), the error report
// and its "デバッグ" through the editor launcher, the status window (its
// fields, its refresh limit, pause and step), the frame's script menu, and
// the posting hooks.  Screenshots of the three dialogs are written when
// QUILLNET_SCREENSHOT_DIR names a folder.
#include <sys/stat.h>
#include <utime.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstring>
#include <functional>

#include "editor_recorder.h"
#include "script/script.h"
#include "script/script_commands.h"
#include "script/script_error_dialog.h"
#include "script/script_list_dialog.h"
#include "script/script_menu_window.h"
#include "script/script_status_dialog.h"
#include "script/var.h"
#include "settings_fixture.h"
#include "shell/frame_window.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "support/test_app.h"
#include "terminal/mybitmap.h"

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

class ScriptWindows : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    SCRIPT::Reset();
    VAR::Reset();
    speechHooks = {};
    scripts = dir.File("scripts");
    ASSERT_TRUE(MakeDirs(scripts));
    std::snprintf(config.ScriptPath, sizeof config.ScriptPath, "%s", scripts.c_str());
    SCRIPT::searchDirs = {scripts};
    SCRIPT::hooks.send = [this](const std::string& s) { sends.push_back(s); };
    ASSERT_TRUE(recorder.ok);
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    SCRIPT::Reset();
    VAR::Reset();
    speechHooks = {};
    SettingsTest::TearDown();
  }
  std::string Script(const std::string& name, const std::string& text) {
    const std::string path = scripts + "/" + name;
    EXPECT_TRUE(WriteWholeFile(path, text));
    return path;
  }
  // Runs the event loop until the condition holds or 10 s have gone by.
  static bool Pump(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > 10000) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }
  // Calls f with the top-level widget named `name` once it is shown (as a
  // modal dialog's exec() runs), polling from the event loop.
  static void WhenShown(const char* name, std::function<void(QWidget*)> f) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, f] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name && w->isVisible()) {
          poll->stop();
          poll->deleteLater();
          f(w);
          return;
        }
      }
    });
    poll->start(5);
  }
  static QString Text(QWidget* w, const char* name) {
    auto* l = w->findChild<QLabel*>(name);
    return l ? l->text() : QStringLiteral("<none>");
  }
  static bool Screenshot(QWidget& w, const char* file, const std::string& tmp) {
    w.resize(w.size().expandedTo(w.sizeHint()));
    const QImage image = w.grab().toImage();
    if (image.isNull()) return false;
    bool varied = false;
    for (int y = 0; y < image.height() && !varied; y += 5)
      for (int x = 0; x < image.width() && !varied; x += 5) varied = image.pixel(x, y) != image.pixel(0, 0);
    if (!varied || !image.save(QString::fromStdString(tmp + "/" + file))) return false;
    if (const char* out = std::getenv("QUILLNET_SCREENSHOT_DIR"))
      return image.save(QString::fromStdString(std::string(out) + "/" + file));
    return true;
  }

  TestApp app;
  EDITORRECORDER recorder{dir};
  std::string scripts;
  std::vector<std::string> sends;
};

TEST(ScriptDescriptionText, FirstLineAfterASemicolon) {
  const std::string sp = "\x81\x40";  // the full-width space
  const std::string kanji = jcode::Utf8ToSjis("自動ログイン");
  struct Case {
    const char* what;
    std::string head, want;
  } cases[] = {
      {"plain", "; log in to the BBS\r\nwait \"x\"\n", "log in to the BBS"},
      {"blanks before and after the semicolon", " \t;  \t kanji " + kanji + "\n", "kanji " + kanji},
      {"full-width spaces are blanks", sp + sp + ";" + sp + kanji + "\r\n", kanji},
      {"tabs inside become spaces", ";a\tb\t\tc\n", "a b  c"},
      {"ends at a lone LF", ";first\nsecond\n", "first"},
      {"ends at a lone CR", ";first\rsecond", "first"},
      {"no line end within the head", ";whole", "whole"},
      {"a statement first: nothing", "send \"x\" ; not a description\n", ""},
      {"an empty first line: nothing", "\r\n; later\r\n", ""},
      {"only blanks", "  \t ", ""},
      {"empty", "", ""},
      {"the semicolon alone", ";\r\n", ""},
      {"a lead byte before the line end is dropped, the line end kept", ";ab\x88\r\nsend\n", "ab"},
      {"a lead byte before a tab is dropped, the tab a space", ";a\x88\tb\n", "a b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ScriptDescription(c.head), c.want);
  }
  // Only the first 119 bytes count, and a double-byte character across the
  // 119th byte is left out whole.
  const std::string long1 = ";" + std::string(117, 'a') + kanji.substr(0, 2) + "zz\n";
  EXPECT_EQ(ScriptDescription(long1), std::string(117, 'a'));
  const std::string long2 = ";" + std::string(116, 'a') + kanji.substr(0, 2) + "zz\n";
  EXPECT_EQ(ScriptDescription(long2), std::string(116, 'a') + kanji.substr(0, 2));
}

TEST_F(ScriptWindows, FilesAreListedByNameOrNewestFirst) {
  const struct {
    const char* name;
    time_t mtime;
  } files[] = {{"b.hsc", 3000}, {"A.SCR", 1000}, {"c.Hsc", 2000}, {"notes.txt", 4000}, {"d.hsc.bak", 5000}};
  for (const auto& f : files) {
    const std::string p = Script(f.name, "send \"x\"\n");
    struct utimbuf t{f.mtime, f.mtime};
    ASSERT_EQ(utime(p.c_str(), &t), 0);
  }
  ASSERT_TRUE(MakeDirs(scripts + "/dir.hsc"));  // a folder is not a script
  auto names = [](const std::vector<SCRIPTFILEENTRY>& v) {
    std::vector<std::string> n;
    for (const SCRIPTFILEENTRY& e : v) n.push_back(e.name);
    return n;
  };
  EXPECT_EQ(names(ListScriptFiles(scripts, true)), (std::vector<std::string>{"A.SCR", "b.hsc", "c.Hsc"}));
  EXPECT_EQ(names(ListScriptFiles(scripts, false)), (std::vector<std::string>{"b.hsc", "c.Hsc", "A.SCR"}));
  EXPECT_TRUE(ListScriptFiles(dir.File("missing"), true).empty());
}

TEST_F(ScriptWindows, TheRunListSortsDescribesAndStartsTheChosenFile) {
  const std::string a = Script("alpha.hsc", Sjis("; 最初のスクリプト\r\nsend \"from alpha\"\r\n"));
  Script("beta.hsc", "send \"from beta\"\n");
  struct utimbuf old{1000, 1000};
  ASSERT_EQ(utime(a.c_str(), &old), 0);
  config.SortByName = 0;
  SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::RUN);
  EXPECT_EQ(d.windowTitle(), Q("スクリプトの実行"));
  EXPECT_EQ(d.Names(), (QStringList{"beta.hsc", "alpha.hsc"}));
  EXPECT_TRUE(d.findChild<QRadioButton*>("byDate")->isChecked());
  EXPECT_EQ(d.findChild<QPushButton*>("new"), nullptr);  // only the edit form creates files
  // The radio button changes the order and the setting; the selection stays.
  ASSERT_TRUE(d.Select("alpha.hsc"));
  EXPECT_EQ(d.Description(), Q("最初のスクリプト"));
  d.findChild<QRadioButton*>("byName")->click();
  EXPECT_EQ(config.SortByName, 1);
  EXPECT_EQ(d.Names(), (QStringList{"alpha.hsc", "beta.hsc"}));
  EXPECT_EQ(d.SelectedPath(), a);
  ASSERT_TRUE(d.Select("beta.hsc"));
  EXPECT_EQ(d.Description(), QString());
  ASSERT_TRUE(d.Select("alpha.hsc"));
  d.Choose();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  ASSERT_TRUE(SCRIPT::fExecuting);
  EXPECT_EQ(SCRIPT::Current()->file, a);
  ASSERT_TRUE(Pump([&] { return !SCRIPT::fExecuting; }));
  EXPECT_EQ(sends, (std::vector<std::string>{"from alpha"}));
  EXPECT_TRUE(Screenshot(d, "script-list.png", dir.Path()));
}

TEST_F(ScriptWindows, TheEditListOpensTheFileAndCreatesNewOnes) {
  const std::string a = Script("alpha.hsc", "send \"a\"\n");
  std::snprintf(config.Editor, sizeof config.Editor, "%s", recorder.Command().c_str());
  {
    SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::EDIT);
    EXPECT_EQ(d.windowTitle(), Q("スクリプトの編集"));
    ASSERT_NE(d.findChild<QPushButton*>("new"), nullptr);
    EXPECT_EQ(d.findChild<QPushButton*>("new")->text(), Q("新規作成(&N)"));
    ASSERT_TRUE(d.Select("alpha.hsc"));
    d.Choose();
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{scripts, a}));
    EXPECT_FALSE(SCRIPT::fExecuting);  // editing never runs it
  }
  struct Case {
    const char* typed;
    const char* file;
    std::string before, after;
  } cases[] = {
      {"fresh", "fresh.hsc", "", ""},            // the extension added, an empty file made
      {"other.scr", "other.scr", "", ""},        // a script extension kept
      {"alpha.hsc", "alpha.hsc", "send \"a\"\n", "send \"a\"\n"},  // an existing file is never emptied
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    recorder.Clear();
    SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::EDIT);
    boxes.rec.files = {c.typed};
    d.CreateNew();
    const std::string path = scripts + "/" + c.file;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(ReadWholeFile(path), c.after);
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{scripts, path}));
  }
  // Cancelled: nothing made, nothing opened.
  SCRIPTLISTDIALOG d(SCRIPTLISTDIALOG::EDIT);
  const QStringList before = d.Names();
  boxes.rec.files.clear();
  d.CreateNew();
  EXPECT_NE(d.result(), QDialog::Accepted);
  EXPECT_EQ(SCRIPTLISTDIALOG(SCRIPTLISTDIALOG::EDIT).Names(), before);
}

TEST_F(ScriptWindows, TheErrorReportShowsItsFieldsAndDebugOpensTheLine) {
  SCRIPTERROR mem{"@memory", 3, 48, "gotoまたはcallでの行き先が見つかりません。", "GOTO"};
  {
    SCRIPTERRORDIALOG d(mem);
    EXPECT_EQ(d.windowTitle(), Q("スクリプト文法エラー"));
    EXPECT_EQ(Text(&d, "message"), Q("gotoまたはcallでの行き先が見つかりません。"));
    EXPECT_EQ(Text(&d, "file"), Q("@memory"));
    EXPECT_EQ(Text(&d, "line"), Q("3"));
    EXPECT_EQ(Text(&d, "command"), Q("GOTO"));
    EXPECT_EQ(d.DebugButton()->text(), Q("デバッグ"));
    EXPECT_EQ(d.CancelButton()->text(), Q("ｷｬﾝｾﾙ"));
    EXPECT_FALSE(d.DebugButton()->isEnabled());  // text in memory has no file to open
  }
  // Cancel: no editor, the script ends.
  InstallScriptErrorDialog(nullptr);
  const std::string bad = Script("bad one; x.hsc", "send \"before\"\ngoto nowhere\nsend \"after\"\n");
  WhenShown("ScriptError", [](QWidget* w) { static_cast<SCRIPTERRORDIALOG*>(w)->CancelButton()->click(); });
  ASSERT_TRUE(SCRIPT::Execute(bad));
  SCRIPT::Process();
  EXPECT_FALSE(SCRIPT::fExecuting);
  EXPECT_EQ(sends, (std::vector<std::string>{"before"}));

  // Debug: the editor opens the file at the error line, from the script folder.
  std::snprintf(config.Editor, sizeof config.Editor, "%s", recorder.Command("+{line} {file}").c_str());
  QString shownFile, shownLine, shownCommand;
  WhenShown("ScriptError", [&](QWidget* w) {
    shownFile = Text(w, "file");
    shownLine = Text(w, "line");
    shownCommand = Text(w, "command");
    auto* d = static_cast<SCRIPTERRORDIALOG*>(w);
    EXPECT_TRUE(d->DebugButton()->isEnabled());
    EXPECT_TRUE(Screenshot(*d, "script-error.png", dir.Path()));
    d->DebugButton()->click();
  });
  ASSERT_TRUE(SCRIPT::Execute(bad));
  SCRIPT::Process();
  EXPECT_FALSE(SCRIPT::fExecuting);
  EXPECT_EQ(shownFile, QString::fromStdString(bad));
  EXPECT_EQ(shownLine, Q("2"));
  EXPECT_EQ(shownCommand, Q("GOTO"));
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{scripts, "+2", bad}));
}

TEST_F(ScriptWindows, TheStatusWindowFollowsTheLevels) {
  const std::string first = Script("first.hsc", "send \"a\"\nwait \"never\"\n");
  const std::string second = Script("second.hsc", "here: wait \"x\"\n");
  int64_t now = 1000;
  SCRIPTSTATUSDIALOG d;
  d.clock = [&] { return now; };
  EXPECT_EQ(d.windowTitle(), Q("スクリプトの状態"));
  EXPECT_FALSE(d.Shown().running);
  EXPECT_FALSE(d.findChild<QPushButton*>("pause")->isEnabled());
  EXPECT_FALSE(d.findChild<QPushButton*>("step")->isEnabled());

  ASSERT_TRUE(SCRIPT::Execute(first));
  SCRIPT::Process();
  now += 100;
  d.Tick();
  EXPECT_EQ(Text(&d, "file"), QString::fromStdString(first));
  EXPECT_EQ(Text(&d, "line"), Q("2"));
  EXPECT_EQ(Text(&d, "command"), Q("WAIT"));
  EXPECT_EQ(Text(&d, "keyboard"), Q("許可"));
  EXPECT_EQ(Text(&d, "waiting"), Q("0"));

  SCRIPT::fKeyboardOn = false;
  ASSERT_TRUE(SCRIPT::Execute(second));
  SCRIPT::Process();
  now += 100;
  d.Tick();
  EXPECT_EQ(Text(&d, "file"), QString::fromStdString(second));
  EXPECT_EQ(Text(&d, "line"), Q("1"));
  EXPECT_EQ(Text(&d, "command"), Q("WAIT"));  // past the label
  EXPECT_EQ(Text(&d, "keyboard"), Q("禁止"));
  EXPECT_EQ(Text(&d, "waiting"), Q("1"));

  auto* pause = d.findChild<QPushButton*>("pause");
  pause->click();
  EXPECT_TRUE(SCRIPT::fPause);
  EXPECT_EQ(pause->text(), Q("再開"));
  pause->click();
  EXPECT_FALSE(SCRIPT::fPause);
  EXPECT_EQ(pause->text(), Q("ポーズ"));
  EXPECT_TRUE(Screenshot(d, "script-status.png", dir.Path()));

  SCRIPT::StopAll();
  now += 100;
  d.Tick();
  EXPECT_FALSE(d.Shown().running);
  EXPECT_EQ(Text(&d, "waiting"), Q("0"));
}

TEST_F(ScriptWindows, TheStatusWindowChangesAtMostTwentyTimesASecond) {
  int64_t now = 5000;
  SCRIPTSTATUSDIALOG d;
  d.clock = [&] { return now; };
  const int base = d.Refreshes();
  // Each step: ms later, whether the interpreter's state changed, and how
  // many refreshes there have been since the window opened.
  const struct {
    int64_t ms;
    bool change;
    int refreshes;
  } steps[] = {
      {0, false, 0},   // nothing changed: nothing to show
      {10, true, 1},   // the first change shows at once (at 5010)
      {10, true, 1},   // 10 ms after it: held back
      {39, false, 1},  // 49 ms
      {1, false, 2},   // 50 ms: the change held back shows
      {50, false, 2},  // nothing changed since: nothing to show
      {20, true, 3},   // 70 ms after the last one: at once (5130)
      {49, true, 3},   // 5179
      {0, false, 3},
      {1, false, 4},   // 5180
      {50, true, 5},   // 5230, at once
      {10, true, 5},   // 5240: held back
      {10, true, 5},   // 5250: back to what is shown
      {30, false, 5},  // 5280: nothing new to show
  };
  for (const auto& s : steps) {
    now += s.ms;
    if (s.change) SCRIPT::fKeyboardOn = !SCRIPT::fKeyboardOn;
    d.Tick();
    EXPECT_EQ(d.Refreshes() - base, s.refreshes) << "at " << now;
  }
  // Whatever the clock says, a quick run of changes gives one refresh per
  // 50 ms: 1000 changes over one second of 1 ms steps.
  const int before = d.Refreshes();
  for (int i = 0; i < 1000; ++i) {
    now += 1;
    SCRIPT::fKeyboardOn = !SCRIPT::fKeyboardOn;
    d.Tick();
  }
  EXPECT_LE(d.Refreshes() - before, 20);
  EXPECT_GE(d.Refreshes() - before, 19);
}

TEST_F(ScriptWindows, StepRunsOneStatementThenPausesAgain) {
  const std::string p = Script("steps.hsc", "send \"1\"\n@x = 2\nsend \"3\"\n");
  ASSERT_TRUE(SCRIPT::Execute(p));
  SCRIPT::PauseOrResume();
  int64_t now = 0;
  SCRIPTSTATUSDIALOG d;
  d.clock = [&] { return now; };
  auto* step = d.findChild<QPushButton*>("step");
  ASSERT_TRUE(step->isEnabled());
  EXPECT_EQ(Text(&d, "line"), Q("1"));
  EXPECT_EQ(Text(&d, "command"), Q("SEND"));
  // Each click runs one statement; the window then shows the next one.
  const struct {
    size_t sends;
    int x;
    const char* line;
    const char* command;
  } steps[] = {{1, 0, "2", "代入"}, {1, 2, "3", "SEND"}};
  for (const auto& st : steps) {
    SCOPED_TRACE(st.line);
    step->click();
    ASSERT_TRUE(Pump([&] { return SCRIPT::fPause && SCRIPT::Current() && SCRIPT::Current()->line == std::stoi(st.line); }));
    QApplication::processEvents();
    EXPECT_EQ(sends.size(), st.sends);
    EXPECT_EQ(VAR::GetVar("@X"), st.x ? std::to_string(st.x) : std::string());
    now += 100;
    d.Tick();
    EXPECT_EQ(Text(&d, "line"), Q(st.line));
    EXPECT_EQ(Text(&d, "command"), Q(st.command));
    EXPECT_EQ(d.findChild<QPushButton*>("pause")->text(), Q("再開"));
  }
  EXPECT_TRUE(SCRIPT::fExecuting);
  d.findChild<QPushButton*>("pause")->click();  // resume
  ASSERT_TRUE(Pump([&] { return !SCRIPT::fExecuting; }));
  EXPECT_EQ(sends, (std::vector<std::string>{"1", "3"}));
}

class ScriptMenu : public ScriptWindows {
 protected:
  void SetUp() override {
    ScriptWindows::SetUp();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    ResetOnlineForTest();
    hostprop.SetDefault();
    ASSERT_EQ(STOCK::Create(dir.File("menu.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    STOCK::StockFile = dir.File("menu.stk");
  }
  void TearDown() override {
    ResetOnlineForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    hostprop.SetDefault();
    ScriptWindows::TearDown();
  }
  static QAction* Action(FRAMEWINDOW& f, const char* text) {
    for (QAction* a : f.menuBar()->findChildren<QAction*>())
      if (a->text() == Q(text)) return a;
    return nullptr;
  }
};

TEST_F(ScriptMenu, CommandsFollowTheRunningScript) {
  const std::string waits = Script("waits.hsc", "wait \"never\"\n");
  Script("starts.hsc", "send \"started\"\nwait \"never\"\n");
  FRAMEWINDOW frame;
  const char* items[] = {"実行(&X)...", "中断(&S)", "ポーズ(&P)", "全中断(&A)", "状態表示(&T)", "ｽｸﾘﾌﾟﾄ編集(&E)..."};
  for (const char* t : items) {
    ASSERT_NE(Action(frame, t), nullptr) << t;
    EXPECT_FALSE(Action(frame, t)->isEnabled()) << t << " without the script windows";
  }
  InstallScriptWindows(&frame);
  EXPECT_TRUE(Action(frame, "実行(&X)...")->isEnabled());
  EXPECT_TRUE(Action(frame, "ｽｸﾘﾌﾟﾄ編集(&E)...")->isEnabled());
  EXPECT_FALSE(Action(frame, "中断(&S)")->isEnabled());
  EXPECT_FALSE(Action(frame, "ポーズ(&P)")->isEnabled());

  // 44: the run list, a file chosen in it.
  WhenShown("ExecScript", [](QWidget* w) {
    auto* d = static_cast<SCRIPTLISTDIALOG*>(w);
    ASSERT_TRUE(d->Select("starts.hsc"));
    d->Choose();
  });
  Action(frame, "実行(&X)...")->trigger();
  ASSERT_TRUE(Pump([&] { return !sends.empty(); }));
  EXPECT_EQ(sends, (std::vector<std::string>{"started"}));
  ASSERT_TRUE(SCRIPT::Execute(waits));  // a second level on top
  SCRIPT::Process();
  ASSERT_EQ(SCRIPT::cNest(), 2);
  frame.RefreshScriptMenu();
  EXPECT_TRUE(Action(frame, "中断(&S)")->isEnabled());

  // 57: pause, and the item says resume.
  Action(frame, "ポーズ(&P)")->trigger();
  EXPECT_TRUE(SCRIPT::fPause);
  ASSERT_NE(Action(frame, "再開(&R)"), nullptr);
  Action(frame, "再開(&R)")->trigger();
  EXPECT_FALSE(SCRIPT::fPause);
  EXPECT_NE(Action(frame, "ポーズ(&P)"), nullptr);

  // 58: the status window, modeless.
  Action(frame, "状態表示(&T)")->trigger();
  auto* status = frame.findChild<SCRIPTSTATUSDIALOG*>();
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(status->isVisible());
  EXPECT_FALSE(status->isModal());
  EXPECT_EQ(status->Shown().waiting, Q("1"));

  // 56 ends the top level only; 62 ends them all.
  Action(frame, "中断(&S)")->trigger();
  EXPECT_EQ(SCRIPT::cNest(), 1);
  EXPECT_TRUE(Action(frame, "全中断(&A)")->isEnabled());
  Action(frame, "全中断(&A)")->trigger();
  EXPECT_EQ(SCRIPT::cNest(), 0);
  EXPECT_FALSE(SCRIPT::fExecuting);
  EXPECT_FALSE(Action(frame, "中断(&S)")->isEnabled());
  EXPECT_FALSE(Action(frame, "全中断(&A)")->isEnabled());
}

class Speech : public ScriptWindows {
 protected:
  void AddHost(const std::string& sjisName, const std::string& scriptFile) {
    HOSTPROPERTY p;
    p.SetDefault();
    std::snprintf(p.szName, sizeof p.szName, "%s", sjisName.c_str());
    std::snprintf(p.ScriptFile, sizeof p.ScriptFile, "%s", scriptFile.c_str());
    p.ModemType = MODEM_TELNET;
    ASSERT_TRUE(p.SaveRegistry());
    ASSERT_TRUE(HOSTINI::AppendHost(p.szName, 0));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& b : boxes.rec.boxes) t.push_back(b.text);
    return t;
  }
  const std::string host = Sjis("草の根ＢＢＳ");
};

TEST_F(Speech, FailuresAreShownAndALineThatIsNoMessageBeeps) {
  int beeps = 0;
  speechHooks.beep = [&] { ++beeps; };
  // No hooks yet (the tree and the board fill them): a beep.
  EXPECT_FALSE(ExecSayScript(10));
  EXPECT_FALSE(ExecCommentScript());
  EXPECT_EQ(beeps, 2);
  EXPECT_TRUE(boxes.rec.boxes.empty());

  AddHost(host, "");
  AddHost(Sjis("ログイン"), "login.hsc");
  AddHost(Sjis("消えた"), "gone.hsc");
  Script("login.hsc", "send \"log in\"\n");
  SPEECHMESSAGE m;
  speechHooks.sayMessage = [&](int) { return m; };
  const struct {
    const char* what;
    SPEECHMESSAGE::KIND kind;
    std::string host;
    std::string box;  // empty: a beep
  } cases[] = {
      {"not a message", SPEECHMESSAGE::NOT_A_MESSAGE, host, ""},
      {"a record too short for a host", SPEECHMESSAGE::NO_HOST_RECORD, "", "なんかおかしい？？？"},
      {"not in the host list", SPEECHMESSAGE::MESSAGE, Sjis("知らない"),
       "知らない というホストがホスト一覧に登録されていません。"},
      {"no auto-start script", SPEECHMESSAGE::MESSAGE, host, "草の根ＢＢＳ のホストには自動起動するスクリプトが指定されていません。"},
      {"no CreateSpeechFile label", SPEECHMESSAGE::MESSAGE, Sjis("ログイン"),
       "login.hsc にはCreateSpeechFileサブルーチンが用意されていません。発言ファイルの生成をするにはホストプロパティに"
       "登録されているスクリプトに発言ファイルの生成処理が用意されている必要があります。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.rec.boxes.clear();
    beeps = 0;
    m = {};
    m.kind = c.kind;
    m.host = c.host;
    EXPECT_FALSE(ExecSayScript(3));
    EXPECT_FALSE(SCRIPT::fExecuting);
    if (c.box.empty()) {
      EXPECT_EQ(beeps, 1);
      EXPECT_TRUE(boxes.rec.boxes.empty());
    } else {
      EXPECT_EQ(beeps, 0);
      EXPECT_EQ(Texts(), std::vector<std::string>{c.box});
    }
    EXPECT_EQ(VAR::GetVar("@SPEECHTYPE"), "");  // nothing left behind
  }
  // A script file that cannot be loaded is the interpreter's report, not
  // the missing-label message.
  boxes.rec.boxes.clear();
  m.kind = SPEECHMESSAGE::MESSAGE;
  m.host = Sjis("消えた");
  EXPECT_FALSE(ExecSayScript(3));
  ASSERT_FALSE(boxes.rec.boxes.empty());
  for (const std::string& t : Texts()) EXPECT_EQ(t.find("CreateSpeechFile"), std::string::npos) << t;
}

TEST_F(Speech, TheHostScriptWritesThePostingFromTheMessage) {
  AddHost(host, "poster.hsc");
  Script("poster.hsc",
         "send \"logging in\"\nexit\n"
         "createspeechfile:\n"
         "send @speechtype\nsend \"level \" + @@speechlevel\n"
         "send @speechtitle[0]\nsend @speechtitle[1]\nsend @speechtitle[2]\n"
         "send \"pos \" + @@speechpos[0] + \" \" + @@speechpos[1] + \" \" + @@speechpos[2]\n"
         "send \"lines \" + @@speechlines\n");
  SPEECHMESSAGE m;
  m.kind = SPEECHMESSAGE::MESSAGE;
  m.host = host;
  m.level = 2;
  m.titles = {Sjis("雑談ボード"), Sjis("春の話題"), Sjis("Re: 春の話題")};
  m.positions = {120, 40, 7};
  m.lines = 12;
  int askedLine = -2;
  speechHooks.sayMessage = [&](int line) {
    askedLine = line;
    return m;
  };
  speechHooks.commentMessage = [&] { return m; };
  ASSERT_TRUE(ExecSayScript(345));
  EXPECT_EQ(askedLine, 345);
  ASSERT_TRUE(Pump([&] { return !SCRIPT::fExecuting; }));
  EXPECT_EQ(sends, (std::vector<std::string>{"new", "level 2", Sjis("雑談ボード"), Sjis("春の話題"),
                                             Sjis("Re: 春の話題"), "pos 120 40 7", "lines 0"}));
  EXPECT_TRUE(boxes.rec.boxes.empty());

  sends.clear();
  ASSERT_TRUE(ExecCommentScript());
  ASSERT_TRUE(Pump([&] { return !SCRIPT::fExecuting; }));
  EXPECT_EQ(sends, (std::vector<std::string>{"comment", "level 2", Sjis("雑談ボード"), Sjis("春の話題"),
                                             Sjis("Re: 春の話題"), "pos 120 40 7", "lines 12"}));
  EXPECT_EQ(VAR::GetVar("@SPEECHTYPE"), "");  // the script's end cleared its globals
}

}  // namespace
