// The statements that ask the user, through the recording facade and the
// dialog hooks: the answers and RESULT, what a headless run gets, the menus'
// counting, the level sleeping (a nested loop held, the watchdog started
// afresh), the editor hand-off with a real program as the editor, and the
// real timed box and input dialog offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "script/dialogcmds.h"
#include "script/programcmds.h"
#include "script/script.h"
#include "script/script_input_dialog.h"
#include "script/var.h"
#include "shell/config.h"
#include "support/process.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"

namespace fs = std::filesystem;

namespace {

class DialogCommands : public ::testing::Test {
 protected:
  DialogCommands() { SCRIPTDIALOGCMDS::ResetForTest(); }
  ~DialogCommands() override {
    SCRIPTDIALOGCMDS::ResetForTest();
    SCRIPTPROGRAMCMDS::ResetForTest();
  }
  ui::ScopedRecordingFacade facade;
  SCRIPTPEER peer;
  // Scripts are Shift_JIS; the texts here are written in UTF-8.
  bool RunScript(const std::string& text) {
    if (!SCRIPT::ExecuteFromMemory(jcode::Utf8ToSjis(text))) return false;
    return peer.Run(60000);
  }
};

TEST_F(DialogCommands, BoxesAndTheirResults) {
  struct CASE {
    const char* script;
    std::deque<int> answers;
    unsigned style;
    const char* sent;
  };
  const std::vector<CASE> cases = {
      {"question \"q\"\nmessage \"hello\"", {}, ui::MB_OK | ui::MB_ICONINFORMATION, "0 no"},  // after a Yes
      {"question \"go?\"", {}, ui::MB_YESNO | ui::MB_ICONQUESTION, "1 yes"},  // the default: Yes
      {"question \"go?\"", {ui::IDNO}, ui::MB_YESNO | ui::MB_ICONQUESTION, "0 no"},
      {"timeoutquestion \"go?\", 5", {}, ui::MB_YESNO | ui::MB_ICONQUESTION, "1 yes"},
      {"timeoutquestion \"go?\", 5", {ui::IDNO}, ui::MB_YESNO | ui::MB_ICONQUESTION, "0 no"},
      {"question \"q\"\ntimeoutmessage \"wait\", 0", {}, ui::MB_OK | ui::MB_ICONINFORMATION, "0 no"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.script);
    facade.rec.boxes.clear();
    facade.rec.answers = c.answers;
    peer.sends.clear();
    ASSERT_TRUE(RunScript(std::string(c.script) +
                          "\nif (yes)\nsend \"\" + result + \" yes\"\nelseif (no)\nsend \"\" + result + \" no\"\n"
                          "else\nsend \"\" + result\nendif\n"));
    EXPECT_TRUE(peer.errors.empty());
    ASSERT_FALSE(facade.rec.boxes.empty());
    EXPECT_EQ(facade.rec.boxes.back().caption, "Quillnet");
    EXPECT_EQ(facade.rec.boxes.back().style, c.style);
    EXPECT_EQ(peer.sends, std::vector<std::string>{c.sent});
  }
}

TEST_F(DialogCommands, TimedBoxesGetTheirTime) {
  std::vector<int64_t> times;
  SCRIPTDIALOGCMDS::hooks.timedBox = [&](const std::string& text, const std::string&, unsigned style, int64_t ms) {
    times.push_back(ms);
    EXPECT_EQ(text, "待って");
    return ui::DefaultAnswer(style);
  };
  ASSERT_TRUE(RunScript("timeoutmessage \"待って\", 3\ntimeoutquestion \"待って\", -2\nsend \"r\" + result\n"));
  EXPECT_TRUE(facade.rec.boxes.empty());
  EXPECT_EQ(times, (std::vector<int64_t>{3000, 0}));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r1"});
}

TEST_F(DialogCommands, ErrorEndsTheScript) {
  int beeps = 0;
  SCRIPTPROGRAMCMDS::hooks.beep = [&] { ++beeps; };
  // Without windows the run records it as its error (a headless run fails).
  ASSERT_TRUE(RunScript("error \"回線が切れました\"\nsend \"after\"\n"));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].message, "回線が切れました");
  EXPECT_EQ(peer.errors[0].command, "ERROR");
  EXPECT_TRUE(peer.sends.empty());
  EXPECT_TRUE(facade.rec.boxes.empty());
  // With windows: the error box, and the script just ends.
  peer.errors.clear();
  SCRIPTDIALOGCMDS::hooks.windowed = true;
  ASSERT_TRUE(RunScript("error \"回線が切れました\"\nsend \"after\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].style, ui::MB_OK | ui::MB_ICONERROR);
  EXPECT_TRUE(peer.sends.empty());
  EXPECT_EQ(beeps, 2);
}

TEST_F(DialogCommands, Input) {
  struct ASKED {
    std::string prompt, initial;
    bool secret, longPrompt;
  };
  std::vector<ASKED> asked;
  std::optional<std::string> answer;
  SCRIPTDIALOGHOOKS& h = SCRIPTDIALOGCMDS::hooks;
  h.input = [&](const std::string& p, const std::string& i, bool s, bool l) {
    asked.push_back({p, i, s, l});
    return answer;
  };
  struct CASE {
    std::string script;
    std::optional<std::string> answer;
    std::string sent;
  };
  const std::string long51(51, 'p');
  const std::vector<CASE> cases = {
      {"@v = \"old\"\ninput \"名前\", @v\nsend \"\" + result + @v", std::string("ｶﾀｶﾅ漢字"), "1" + jcode::Utf8ToSjis("ｶﾀｶﾅ漢字")},
      {"@v = \"old\"\ninput \"名前\", @v, \"init\"\nsend \"\" + result + @v", std::nullopt, "-1old"},
      {"##n = 7\nsecretinput \"pw\", ##n\nsend \"\" + result + \",\" + (##n + 1)", std::string("12ab"), "1,13"},
      {"input \"" + long51 + "\", @v\nsend @v", std::string(1100, 'x'), std::string(1024, 'x')},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.script);
    peer.sends.clear();
    answer = c.answer;
    ASSERT_TRUE(RunScript(c.script + "\n"));
    EXPECT_TRUE(peer.errors.empty());
    EXPECT_EQ(peer.sends, std::vector<std::string>{c.sent});
  }
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[0].prompt, "名前");
  EXPECT_FALSE(asked[0].secret);
  EXPECT_FALSE(asked[0].longPrompt);
  EXPECT_EQ(asked[1].initial, "init");
  EXPECT_TRUE(asked[2].secret);
  EXPECT_TRUE(asked[3].longPrompt);
  // A missing variable is INPUT's parameter error for both.
  for (const char* s : {"input \"x\"", "secretinput \"x\"", "secretinput \"x\", 5"}) {
    SCOPED_TRACE(s);
    peer.errors.clear();
    ASSERT_TRUE(RunScript(std::string(s) + "\n"));
    ASSERT_EQ(peer.errors.size(), 1u);
    EXPECT_EQ(peer.errors[0].message, "INPUTのパラメタがおかしいです。");
  }
  // Headless: cancelled.
  h.input = nullptr;
  peer.sends.clear();
  ASSERT_TRUE(RunScript("input \"x\", @v\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r-1"});
}

TEST_F(DialogCommands, Menus) {
  std::vector<std::vector<SCRIPTMENUITEM>> shown;
  int choice = -1;
  SCRIPTDIALOGCMDS::hooks.menu = [&](const std::vector<SCRIPTMENUITEM>& items, bool) {
    shown.push_back(items);
    return choice;
  };
  auto texts = [](const std::vector<SCRIPTMENUITEM>& items) {
    std::string s;
    for (const SCRIPTMENUITEM& i : items) s += (i.number ? std::string(1, i.number) + ":" : std::string()) + i.text + "|";
    return s;
  };
  choice = 2;
  ASSERT_TRUE(RunScript("menu \"a\", \"\", \"b\"\naddmenu \"c\"\nshowmenu\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r2"});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(texts(shown[0]), "a||b|c|");  // the separator is neither counted nor numbered
  EXPECT_TRUE(SCRIPTDIALOGCMDS::Menu().empty());

  // Numbers: 1-9, then A...; separators skipped.
  std::string items;
  for (int i = 0; i < 11; ++i) items += ", \"i" + std::to_string(i) + "\"" + (i == 3 ? ", \"\"" : "");
  choice = -1;
  peer.sends.clear();
  ASSERT_TRUE(RunScript("numbermenu" + items.substr(1) + "\naddmenu \"plain\"\naddnumbermenu \"more\"\nshowmenu\n"
                        "send \"r\" + result\n"));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(texts(shown[1]), "1:i0|2:i1|3:i2|4:i3||5:i4|6:i5|7:i6|8:i7|9:i8|A:i9|B:i10|plain|D:more|");
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r-1"});

  // An empty menu, and no menu window at all (headless): -1.
  peer.sends.clear();
  ASSERT_TRUE(RunScript("menu\nshowmenu\nsend \"r\" + result\n"));
  SCRIPTDIALOGCMDS::hooks.menu = nullptr;
  ASSERT_TRUE(RunScript("menu \"a\"\nshowmenu\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"r-1", "r-1"}));
  EXPECT_EQ(shown.size(), 2u);
  ASSERT_TRUE(RunScript("addmenu\n"));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].message, "ADDMENUのパラメタがおかしいです。");
}

TEST_F(DialogCommands, InputFileName) {
  TempDir dir;
  const std::string chosen = dir.File("ログ 1.txt");
  facade.rec.files = {chosen, "", "/tmp/\xC3\xA9t\xC3\xA9.txt"};  // the last: no Shift_JIS form
  ASSERT_TRUE(RunScript("@f = \"kept\"\ninputfilename \"開く\", @f\nsend \"\" + result + \" \" + @f\n"
                        "inputfilename \"開く\", @f, \"x.log\"\nsend \"\" + result + \" \" + @f\n"
                        "inputfilename \"開く\", @f\nsend \"\" + result + \" \" + @f\n"));
  EXPECT_TRUE(peer.errors.empty());
  const std::string sj = jcode::Utf8ToSjis(chosen);
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"1 " + sj, "-1 " + sj, "-1 " + sj}));
  for (const char* s : {"inputfilename \"開く\", ##n", "inputfilename \"123456789012345678901234567890123456789012345678901\", @f"}) {
    SCOPED_TRACE(s);
    peer.errors.clear();
    ASSERT_TRUE(RunScript(std::string(s) + "\n"));
    ASSERT_EQ(peer.errors.size(), 1u);
    EXPECT_EQ(peer.errors[0].message, "INPUTFILENAMEのパラメタがおかしいです。");
  }
}

TEST_F(DialogCommands, DialogTimeIsSleepTime) {
  // Forty seconds in a dialog: no watchdog question after it, and a start
  // asked for meanwhile waits for the statement.
  bool nested = false, queued = false;
  SCRIPTDIALOGCMDS::hooks.input = [&](const std::string&, const std::string&, bool, bool) {
    nested = SCRIPT::InNestedLoop();
    SCRIPT::ExecuteFromMemory("send \"second\"\n");
    queued = SCRIPT::StartQueued();
    peer.now += 40000;
    return std::optional<std::string>("x");
  };
  ASSERT_TRUE(RunScript("input \"x\", @v\n##i = 0\nwhile (##i < 100)\n##i = ##i + 1\nendwhile\nsend \"first\"\n"));
  EXPECT_TRUE(nested);
  EXPECT_TRUE(queued);
  EXPECT_EQ(peer.watchdogQuestions, 0);
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"second", "first"}));
}

TEST_F(DialogCommands, ExecEditorWithARealEditor) {
  TempDir dir;
  // The editor is a real program: it leaves a mark beside the file it opens.
  std::snprintf(config.Editor, sizeof config.Editor, "touch {file}.L{line}C{column}");
  std::vector<std::string> clipboard;
  SCRIPTDIALOGCMDS::hooks.setClipboard = [&](const std::string& t) {
    clipboard.push_back(t);
    return true;
  };
  const std::string file = dir.File("new.txt");
  ASSERT_TRUE(RunScript("@l[0] = \"一行目\"\n@l[1] = \"\"\n@l[2] = \"three\"\nexeceditor \"" + file +
                        "\", @l, 3, 5, 2\nsend \"r\" + result\n"
                        "execeditor \"" + file + "\", @l, 0\nsend \"r\" + result\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"r1", "r0"}));
  ASSERT_EQ(clipboard, std::vector<std::string>{"一行目\r\n\r\nthree"});
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, "貼り付ける文字列をクリップボードに置きました。エディタで貼り付けてください。");
  EXPECT_TRUE(fs::exists(file));  // made empty for the editor
  EXPECT_EQ(ReadWholeFile(file), "");
  QElapsedTimer t;
  t.start();
  while (!fs::exists(file + ".L5C2") && t.elapsed() < 10000) QThread::msleep(5);
  EXPECT_TRUE(fs::exists(file + ".L5C2"));

  // An editor that cannot start: RESULT 0 and the editor's failure box.
  std::snprintf(config.Editor, sizeof config.Editor, "quillnet-no-such-editor {file}");
  facade.rec.boxes.clear();
  peer.sends.clear();
  ASSERT_TRUE(RunScript("execeditor \"" + file + "\"\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0"});
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_NE(facade.rec.boxes[0].text.find("エディタの起動に失敗しました。"), std::string::npos);
  config.Editor[0] = 0;
}

// The real windows, offscreen.
TEST(ScriptDialogWindows, TimedQuestionPressesItsDefault) {
  TestApp app;
  struct CASE {
    unsigned style;
    bool clickNo;
    int answer;
  };
  const std::vector<CASE> cases = {
      {ui::MB_YESNO | ui::MB_ICONQUESTION, false, ui::IDYES},                     // the timer presses Yes
      {ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2, false, ui::IDNO},  // ... or the default No
      {ui::MB_YESNO | ui::MB_ICONQUESTION, true, ui::IDNO},                       // the user was quicker
      {ui::MB_OK | ui::MB_ICONINFORMATION, false, ui::IDOK},
  };
  for (const CASE& c : cases) {
    bool shown = false;
    const int r = TimedMessageBox("待って", "Quillnet", c.style, c.clickNo ? 60000 : 50, nullptr, [&](QMessageBox* box) {
      EXPECT_EQ(box->text(), QStringLiteral("待って"));
      QTimer::singleShot(0, box, [box, &shown, click = c.clickNo] {
        shown = box->isVisible();
        if (click) box->button(QMessageBox::No)->click();
      });
    });
    EXPECT_TRUE(shown);
    EXPECT_EQ(r, c.answer);
  }
}

TEST(ScriptDialogWindows, InputDialogForms) {
  TestApp app;
  const std::string long51(51, 'p');
  struct CASE {
    std::string prompt;
    bool secret;
    const char* name;
  };
  const std::vector<CASE> cases = {
      {"名前", false, "INPUT"}, {long51, false, "INPUT2"}, {"pw", true, "SECRETINPUT"}, {"a\nb", true, "SECRETINPUT2"}};
  for (const CASE& c : cases) {
    const bool longPrompt = c.prompt.size() > 50 || c.prompt.find('\n') != std::string::npos;
    SCRIPTINPUTDIALOG d(c.prompt, "init", c.secret, longPrompt);
    EXPECT_EQ(d.objectName(), QString::fromLatin1(c.name));
    EXPECT_EQ(d.Edit()->echoMode(), c.secret ? QLineEdit::Password : QLineEdit::Normal);
    EXPECT_EQ(d.Edit()->text(), QStringLiteral("init"));
  }
  // Typed and accepted; then cancelled.
  QTimer::singleShot(0, [] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    d->findChild<QLineEdit*>("edit")->setText(QStringLiteral("入力した"));
    d->accept();
  });
  EXPECT_EQ(AskScriptInput("名前", "", false, false), std::optional<std::string>("入力した"));
  QTimer::singleShot(0, [] {
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  EXPECT_EQ(AskScriptInput("名前", "x", false, false), std::nullopt);
}

}  // namespace

#include "script/script_menu_window.h"
#include "port/tapisub.h"
#include "shell/frame_window.h"
#include "terminal/terminal_view.h"

namespace {

// Key events on the offscreen frame: KEYSTATE sees a held key, and typing
// into the terminal beeps instead while a script has forbidden it.
TEST(ScriptFrameHooks, KeysOnTheFrame) {
  TestApp app;
  SCRIPTPEER peer;
  FRAMEWINDOW frame;
  int dialerBeeps = 0;
  TAPISUB::hooks.beep = [&] { ++dialerBeeps; };
  InstallScriptWindows(&frame);
  int beeps = 0;
  SCRIPTPROGRAMCMDS::hooks.beep = [&] { ++beeps; };
  // SOUND OFF mutes the dialler's beep as well.
  TAPISUB::hooks.beep();
  SCRIPTPROGRAMCMDS::fSoundOn = false;
  TAPISUB::hooks.beep();
  SCRIPTPROGRAMCMDS::fSoundOn = true;
  EXPECT_EQ(dialerBeeps, 1);
  QWidget* view = frame.Client();
  auto key = [&](QEvent::Type t, int k, const QString& text) {
    QKeyEvent e(t, k, Qt::NoModifier, text);
    QApplication::sendEvent(view, &e);
  };
  key(QEvent::KeyPress, Qt::Key_A, "a");
  EXPECT_TRUE(SCRIPT::hooks.keyDown(65));
  EXPECT_FALSE(SCRIPT::hooks.keyDown(66));
  key(QEvent::KeyRelease, Qt::Key_A, "a");
  EXPECT_FALSE(SCRIPT::hooks.keyDown(65));
  EXPECT_EQ(beeps, 0);  // no script: typing is free

  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("keyboard off\nwait \"never\"\n"));
  peer.Pass();
  ASSERT_TRUE(SCRIPT::fExecuting);
  key(QEvent::KeyPress, Qt::Key_X, "x");
  key(QEvent::KeyRelease, Qt::Key_X, "x");
  key(QEvent::KeyPress, Qt::Key_PageUp, "");  // the back-scroll still moves
  EXPECT_EQ(beeps, 1);
  SCRIPT::StopAll();
  EXPECT_TRUE(SCRIPT::fKeyboardOn);
  key(QEvent::KeyPress, Qt::Key_X, "x");
  EXPECT_EQ(beeps, 1);
  SCRIPTPROGRAMCMDS::ResetForTest();
  SCRIPTDIALOGCMDS::ResetForTest();
  TAPISUB::hooks.beep = nullptr;
}

// The whole way of TIMEOUTQUESTION in a window: the real box, its timer
// pressing Yes, RESULT 1; and TITLE on the frame.
TEST(ScriptFrameHooks, TimedQuestionAndTitleOnTheFrame) {
  TestApp app;
  SCRIPTPEER peer;
  FRAMEWINDOW frame;
  InstallScriptWindows(&frame);
  const QString normal = frame.windowTitle();
  QString during;
  SCRIPT::hooks.send = [&](const std::string& s) {
    peer.sends.push_back(s);
    during = frame.windowTitle();
  };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory(
      jcode::Utf8ToSjis("title \"接続中\"\ntimeoutquestion \"続けますか\", 0\nsend \"r\" + result\ntitle\n")));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r1"});
  EXPECT_EQ(during, QStringLiteral("接続中"));
  EXPECT_EQ(frame.windowTitle(), normal);
  SCRIPTPROGRAMCMDS::ResetForTest();
  SCRIPTDIALOGCMDS::ResetForTest();
}

}  // namespace
