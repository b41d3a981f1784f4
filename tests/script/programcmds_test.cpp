// The program statements: real programs started without a shell (touch,
// sleep, false) in the script's directory, the waits of RUN, RUNSYNC and
// RUNSYNC2 on a real event loop, the date and version numbers, the run's
// own state (typing, the screen, highlight strings, key assignments) given
// back when it ends, and the parameter errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "script/dialogcmds.h"
#include "script/funckey.h"
#include "script/programcmds.h"
#include "script/script.h"
#include "script/settingcmds.h"
#include "script/var.h"
#include "shell/config.h"
#include "support/process.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"

namespace fs = std::filesystem;

namespace {

// Scripts on the real clock and the real event loop: each round lets Qt
// deliver what is due (a program's start or end) and runs Process.
class RealRun {
 public:
  RealRun() {
    SCRIPT::Reset();
    VAR::Reset();
    SCRIPTPROGRAMCMDS::ResetForTest();
    SCRIPTDIALOGCMDS::ResetForTest();
    SCRIPT::hooks.send = [this](const std::string& s) { sends.push_back(s); };
    SCRIPT::hooks.reportError = [this](const SCRIPTERROR& e) { errors.push_back(e); };
    tick.start(5);
  }
  ~RealRun() {
    SCRIPT::Reset();
    VAR::Reset();
    SCRIPTPROGRAMCMDS::ResetForTest();
  }
  // Rounds until no script runs or the deadline passes; true when it ended.
  bool Run(int ms, const std::function<void()>& eachRound = {}) {
    QElapsedTimer t;
    t.start();
    while (SCRIPT::fExecuting && t.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      SCRIPT::Process();
      if (eachRound) eachRound();
    }
    return !SCRIPT::fExecuting;
  }
  // Polls a condition on the event loop until a deadline.
  static bool Until(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
  }
  std::vector<std::string> sends;
  std::vector<SCRIPTERROR> errors;

 private:
  QTimer tick;
};

class ProgramCommands : public ::testing::Test {
 protected:
  TestApp app;
  TempDir dir;
  RealRun run;
  // A script file in the temporary directory, started.
  bool Start(const std::string& text, const std::string& name = "p.hsc") {
    if (!WriteWholeFile(dir.File(name), text)) return false;
    return SCRIPT::Execute(dir.File(name));
  }
};

TEST_F(ProgramCommands, ProgramsStartInTheScriptDirectoryWithoutAShell) {
  // Words split at blanks; ";", "$(...)" and ">" are plain characters of
  // the arguments, never a shell's.
  // Double quotes (written ^" in a script's text) keep blanks in one word.
  ASSERT_TRUE(Start("runsync2 \"touch one two;three $(four) >five ^\"six seven^\"\"\nsend \"after\"\n"));
  ASSERT_TRUE(run.Run(10000));
  EXPECT_TRUE(run.errors.empty());
  for (const char* name : {"one", "two;three", "$(four)", ">five", "six seven"})
    EXPECT_TRUE(fs::exists(dir.File(name))) << name;
  EXPECT_FALSE(fs::exists(dir.File("six")));
  EXPECT_FALSE(fs::exists(dir.File("five")));
  EXPECT_EQ(run.sends, std::vector<std::string>{"after"});
}

TEST_F(ProgramCommands, AProgramsOutputGoesToOurStandardError) {
  // Our standard output is the headless screen's: a program's output must
  // not land there.
  const std::string out = dir.File("stdout"), err = dir.File("stderr");
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = ::dup(1), savedErr = ::dup(2);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(o, 0);
  ASSERT_GE(e, 0);
  ::dup2(o, 1);
  ::dup2(e, 2);
  const bool started = Start("runsync2 \"sh -c ^\"echo to-out; echo to-err >&2^\"\"\n");
  const bool ended = started && run.Run(10000);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  ::close(o);
  ::close(e);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(run.errors.empty());
  EXPECT_EQ(ReadWholeFile(out), "");
  const std::string got = ReadWholeFile(err);
  EXPECT_NE(got.find("to-out\n"), std::string::npos) << got;
  EXPECT_NE(got.find("to-err\n"), std::string::npos) << got;
}

TEST_F(ProgramCommands, EachFormWaitsAsItShould) {
  struct CASE {
    const char* statement;
    bool fileBeforeNextLine;  // the program has ended when the next line runs
  };
  const std::vector<CASE> cases = {
      {"runsync2", true},  // the level sleeps until the program ends
      {"runsync", true},   // an event loop of its own until it ends
      {"run", false},      // goes on once the program has started
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.statement);
    const std::string marker = dir.File(std::string(c.statement) + ".done");
    const std::string s = std::string(c.statement) + " \"touch " + marker + "\"\nif (existfile(\"" + marker +
                          "\"))\nsend \"there\"\nelse\nsend \"not yet\"\nendif\n";
    ASSERT_TRUE(Start(s, std::string(c.statement) + ".hsc"));
    ASSERT_TRUE(run.Run(10000));
    EXPECT_TRUE(run.errors.empty());
    ASSERT_EQ(run.sends.size(), 1u);
    if (c.fileBeforeNextLine) {
      EXPECT_EQ(run.sends.back(), "there");
    }
    // Whatever the form, the program ran.
    EXPECT_TRUE(RealRun::Until([&] { return fs::exists(marker); }, 10000));
    // And it is forgotten once it has ended.
    EXPECT_TRUE(RealRun::Until([] { return SCRIPTPROGRAMCMDS::RunningPrograms() == 0; }, 10000));
    run.sends.clear();
  }
}

TEST_F(ProgramCommands, RunSync2SleepsWhileTheProgramRuns) {
  ASSERT_TRUE(Start("runsync2 \"sleep 0.3\"\nsend \"ended\"\n"));
  bool sawSleeping = false, sawNestedLoop = false;
  ASSERT_TRUE(run.Run(10000, [&] {
    if (const SCRIPTPOS* l = SCRIPT::Current(); l && l->sleeping) sawSleeping = true;
    if (SCRIPT::InNestedLoop()) sawNestedLoop = true;
  }));
  EXPECT_TRUE(sawSleeping);
  EXPECT_FALSE(sawNestedLoop);  // the program's wait is the level's, not a loop of its own
  EXPECT_EQ(run.sends, std::vector<std::string>{"ended"});
  EXPECT_EQ(SCRIPTPROGRAMCMDS::RunningPrograms(), 0);
}

TEST_F(ProgramCommands, RunSyncHoldsTheWindowAndANestedLoop) {
  std::vector<std::pair<bool, bool>> window;  // (waiting, in a nested loop)
  SCRIPTPROGRAMCMDS::hooks.runSyncWindow = [&](bool waiting) { window.emplace_back(waiting, SCRIPT::InNestedLoop()); };
  ASSERT_TRUE(Start("runsync \"false\"\nsend \"r\" + result\n"));
  ASSERT_TRUE(run.Run(10000));
  // A program's failing exit status is no error of the script.
  EXPECT_TRUE(run.errors.empty());
  EXPECT_EQ(run.sends, std::vector<std::string>{"r0"});
  EXPECT_EQ(window, (std::vector<std::pair<bool, bool>>{{true, true}, {false, true}}));
}

TEST_F(ProgramCommands, AProgramThatCannotStartIsMessage88) {
  for (const char* statement : {"run", "runsync", "runsync2"}) {
    SCOPED_TRACE(statement);
    run.errors.clear();
    run.sends.clear();
    ASSERT_TRUE(Start(std::string("send \"a\"\n") + statement + " \"quillnet-no-such-program-here x\"\nsend \"b\"\n"));
    ASSERT_TRUE(run.Run(10000));
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0].id, 88);
    EXPECT_EQ(run.errors[0].message, "runコマンドで指定されたコマンドの実行に失敗しました。");
    EXPECT_EQ(run.errors[0].line, 2);
    EXPECT_EQ(run.sends, std::vector<std::string>{"a"});  // the script ended there
  }
}

TEST_F(ProgramCommands, ParameterErrors) {
  struct CASE {
    const char* script;
    const char* message;
  };
  const std::vector<CASE> cases = {
      {"run \"true\", BIG", "RUNのパラメタがおかしいです。"},
      {"run", "RUNのパラメタがおかしいです。"},
      {"runsync2 \"true\", \"x\"", "RUNSYNC2のパラメタがおかしいです。"},
      {"gettime ##t", "GETDATEのパラメタがおかしいです。"},
      {"getweek @@w", "GETDATEのパラメタがおかしいです。"},
      {"getdate", "GETDATEのパラメタがおかしいです。"},
      {"datetolinear 800101", "DATETOLINEARのパラメタがおかしいです。"},
      {"keyboard 1", "KEYBOARDのパラメタがおかしいです。"},
      {"display", "DISPLAYのパラメタがおかしいです。"},
      {"window LARGE", "WINDOWのパラメタがおかしいです。"},
      {"font \"Mono\"", "FONTのパラメタがおかしいです。"},
      {"font \"Mono\", 200", "FONTのパラメタがおかしいです。"},
      {"sethilight", "SETHILIGHTのパラメタがおかしいです。"},
      {"closequillnet 1", "CLOSEQUILLNETのパラメタがおかしいです。"},
      {"keyassign", "KEYASSIGNのパラメタがおかしいです。"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.script);
    run.errors.clear();
    run.sends.clear();
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(std::string(c.script) + "\nsend \"went on\"\n"));
    ASSERT_TRUE(run.Run(5000));
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0].message, c.message);
    EXPECT_TRUE(run.sends.empty());
  }
}

TEST(ProgramNumbers, DateToLinear) {
  struct CASE {
    int32_t yymmdd;
    int32_t day;
  };
  const std::vector<CASE> cases = {
      {800101, 0},       {810101, 366},  // 1980 is a leap year
      {800229, 59},      {800301, 60},   {801231, 365},
      {50101, 9132},     // written 050101: 2005; 25 years, 7 of them leap years
      {791231, 36524},   // below 80: 2079
      {800230, 60},      // a day past the month's end runs into the next
      {801332, 365},     // the month clamped to 12, the day to 31
      {800100, 0},       {800001, 0},  // day and month 0 count as 1
      {-800101, 0},      // the digits of a negative number
      {1800101, 0},      // six digits only
  };
  for (const CASE& c : cases) EXPECT_EQ(SCRIPTPROGRAMCMDS::DateToLinear(c.yymmdd), c.day) << c.yymmdd;
}

TEST(ProgramNumbers, VersionNumber) {
  EXPECT_EQ(SCRIPTPROGRAMCMDS::VersionNumber("0.1.0"), 1);
  EXPECT_EQ(SCRIPTPROGRAMCMDS::VersionNumber("2.31"), 231);
  EXPECT_EQ(SCRIPTPROGRAMCMDS::VersionNumber("3"), 300);
  EXPECT_EQ(SCRIPTPROGRAMCMDS::VersionNumber(""), 0);
}

TEST(ProgramState, DateTimeWeekAndVersionStatements) {
  SCRIPTPEER peer;
  // Before and after, in case the clock passes a second (or midnight) meanwhile.
  auto now = [] {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    static const char* const days[7] = {"日", "月", "火", "水", "木", "金", "土"};
    std::strftime(buf, sizeof buf, "%y%m%d %H%M%S ", &tm);
    return std::string(buf) + jcode::Utf8ToSjis(days[tm.tm_wday]);
  };
  const std::string before = now();
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory(
      "getdate @d\ngettime @t\ngetweek @w\ngetversion ##v\ngetversion @v\ndatetolinear 810101, ##n\n"
      "datetolinear \"050101\", @n\nsend @d + \" \" + @t + \" \" + @w\nsend \"\" + ##v + \",\" + @v + \",\" + ##n + \",\" + @n\n"));
  ASSERT_TRUE(peer.Run(1000));
  ASSERT_TRUE(peer.errors.empty());
  const std::string after = now();
  ASSERT_EQ(peer.sends.size(), 2u);
  EXPECT_TRUE(peer.sends[0] == before || peer.sends[0] == after) << peer.sends[0];
  EXPECT_EQ(peer.sends[1], "1,1,366,9132");
}

TEST(ProgramState, TheRunsOwnStateEndsWithIt) {
  SCRIPTPEER peer;
  std::snprintf(config.aszHilight[2], sizeof config.aszHilight[2], "%s", "kept");
  std::snprintf(config.aszHilight[0], sizeof config.aszHilight[0], "%s", "zero");
  int repaints = 0;
  SCRIPTPROGRAMCMDS::hooks.hilightChanged = [&] { ++repaints; };
  bool keyboardDuring = true, hiddenDuring = false;
  std::string slot2During, slot0During;
  SCRIPT::hooks.send = [&](const std::string&) {
    keyboardDuring = SCRIPT::fKeyboardOn;
    hiddenDuring = SCRIPT::fHideDisplay;
    slot2During = config.aszHilight[2];
    slot0During = config.aszHilight[0];
  };
  // 30 bytes of double-byte text: cut to 28 on a whole character.
  std::string kana;
  for (int i = 0; i < 15; ++i) kana += "\x82\xa0";
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("keyboard off\ndisplay off\nsethilight2 \"" + kana +
                                        "\"\nsethilight \"x\"\nsend \"now\"\n"));
  ASSERT_TRUE(peer.Run(1000));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_FALSE(keyboardDuring);
  EXPECT_TRUE(hiddenDuring);
  EXPECT_EQ(slot2During, kana.substr(0, 28));
  EXPECT_EQ(slot0During, "x");
  // Given back when the run ended.
  EXPECT_TRUE(SCRIPT::fKeyboardOn);
  EXPECT_FALSE(SCRIPT::fHideDisplay);
  EXPECT_STREQ(config.aszHilight[2], "kept");
  EXPECT_STREQ(config.aszHilight[0], "zero");
  EXPECT_EQ(repaints, 3);
  SCRIPTPROGRAMCMDS::ResetForTest();
}

TEST(ProgramState, WindowStatementsReachTheirHooks) {
  SCRIPTPEER peer;
  std::vector<std::string> calls;
  SCRIPTPROGRAMHOOKS& h = SCRIPTPROGRAMCMDS::hooks;
  h.title = [&](const std::optional<std::string>& t) { calls.push_back(t ? "title " + *t : "title normal"); };
  h.window = [&](int s) { calls.push_back("window " + std::to_string(s)); };
  h.endScroll = [&] { calls.push_back("endscroll"); };
  h.font = [&](const std::string& face, int points) {
    calls.push_back("font " + face + " " + std::to_string(points) + " " + config.FaceName);
    return true;
  };
  h.ime = [&](bool on) { calls.push_back(on ? "ime on" : "ime off"); };
  h.beep = [&] { calls.push_back("beep"); };
  h.quit = [&](int status) { calls.push_back("quit " + std::to_string(status)); };
  const std::string face = jcode::Utf8ToSjis("ＭＳ ゴシック");
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory(jcode::Utf8ToSjis("title \"接続中\"\ntitle\nwindow maximize\nwindow RESTORE\nwindow minimize\n"
                                        "endscroll\nfont \"ＭＳ ゴシック\", 12\nime on\nime off\nplay \"cde\"\n"
                                        "sound off\nplay \"cde\"\nsound on\nplay \"c\"\ncloseQuillnet\nsend \"not sent\"\n")));
  ASSERT_TRUE(peer.Run(1000));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_TRUE(peer.sends.empty());
  const std::vector<std::string> want = {
      "title 接続中", "title normal", "window 1", "window 0", "window 2", "endscroll",
      "font ＭＳ ゴシック 12 " + face, "ime on", "ime off", "beep", "beep", "quit 0"};
  EXPECT_EQ(calls, want);
  SCRIPTPROGRAMCMDS::ResetForTest();
}

TEST(ProgramState, KeyAssign) {
  TempDir dir;
  struct ASSIGNED {
    int entry;
    std::string name;
    bool script;
    std::string text;
    bool operator==(const ASSIGNED&) const = default;
  };
  struct CASE {
    std::string statement;
    std::vector<ASSIGNED> assigned;  // empty with error: a parameter error
    bool error;
  };
  // A script's literal decodes caret escapes itself: "^^" is one caret.
  const std::string carets24(48, '^');
  const std::string scriptPath = dir.File("keys.hsc");
  const std::vector<CASE> cases = {
      {"keyassign F1, \"Log in\", STRING, \"ab^^M\"", {{0, "Log in", false, "ab^^M"}}, false},
      {"keyassign b12, \"\", string, \"x\"", {{23, "", false, "x"}}, false},
      {"keyassign \"c1\", \"c\", STRING, \"x\"", {{24, "c", false, "x"}}, false},
      {"keyassign D12, \"dc\", SCRIPT, \"other.hsc:start\"", {{47, "dc", true, "other.hsc:start"}}, false},
      {"keyassign F3, \"lbl\", SCRIPT, \"menu\"", {{2, "lbl", true, "keys.hsc:menu"}}, false},
      // 24 carets doubled and one byte: 49 bytes fit; one more does not.
      {"keyassign F2, \"n\", STRING, \"" + carets24 + "a\"", {{1, "n", false, std::string(48, '^') + "a"}}, false},
      {"keyassign F2, \"n\", STRING, \"" + carets24 + "ab\"", {}, true},
      {"keyassign F2, \"123456789012345678901\", STRING, \"x\"", {}, true},  // 21 bytes of name
      {"keyassign F2, \"n\", SCRIPT, \"" + std::string(45, 'f') + ".hsc\"", {}, true},  // 49 bytes
      {"keyassign F13, \"n\", STRING, \"x\"", {}, true},
      {"keyassign F0, \"n\", STRING, \"x\"", {}, true},
      {"keyassign E1, \"n\", STRING, \"x\"", {}, true},
      {"keyassign F1, \"n\", MACRO, \"x\"", {}, true},
      {"keyassign F1, \"n\", STRING", {}, true},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.statement);
    SCRIPTPEER peer;
    std::snprintf(config.ScriptPath, sizeof config.ScriptPath, "%s", dir.Path().c_str());
    std::vector<ASSIGNED> assigned;
    std::vector<int> resets;
    SCRIPTPROGRAMCMDS::hooks.assignKey = [&](int e, const std::string& n, bool s, const std::string& t) {
      assigned.push_back({e, n, s, t});
      return true;
    };
    SCRIPTPROGRAMCMDS::hooks.resetKey = [&](int e) { resets.push_back(e); };
    ASSERT_TRUE(WriteWholeFile(scriptPath, c.statement + "\n"));
    ASSERT_TRUE(SCRIPT::Execute(scriptPath));
    ASSERT_TRUE(peer.Run(1000));
    if (c.error) {
      ASSERT_EQ(peer.errors.size(), 1u);
      EXPECT_EQ(peer.errors[0].message, "KEYASSIGNのパラメタがおかしいです。");
      EXPECT_TRUE(assigned.empty());
    } else {
      EXPECT_TRUE(peer.errors.empty());
      EXPECT_EQ(assigned, c.assigned);
      // The run's assignments end with it.
      EXPECT_EQ(resets, std::vector<int>{-1});
    }
    SCRIPTPROGRAMCMDS::ResetForTest();
  }
  config.ScriptPath[0] = 0;
  // RESET alone, and one key's RESET.
  SCRIPTPEER peer;
  std::vector<int> resets;
  SCRIPTPROGRAMCMDS::hooks.resetKey = [&](int e) { resets.push_back(e); };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("keyassign reset\nkeyassign c5, \"\", RESET, \"\"\nkeyassign F1, \"x\", reset\n"));
  ASSERT_TRUE(peer.Run(1000));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(resets, (std::vector<int>{-1, 28, 0}));
  SCRIPTPROGRAMCMDS::ResetForTest();
}

// Without a window's own hooks, an assignment lands in the function-key
// table for the run and the settings' entry comes back when it ends.
TEST(ProgramState, KeyAssignChangesTheKeyTableForTheRun) {
  SCRIPTPROGRAMCMDS::ResetForTest();
  funcini.LoadAll();
  const FUNCKEYENTRY before = funcini.entries[1];
  std::vector<FUNCKEYENTRY> shown;
  funcKeyHooks.repaint = [&] { shown.push_back(funcini.entries[1]); };
  SCRIPTPEER peer;
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("keyassign F2, \"n\", STRING, \"a^^b\"\n"));
  ASSERT_TRUE(peer.Run(1000));
  EXPECT_TRUE(peer.errors.empty());
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], (FUNCKEYENTRY{false, "n", "a^^b"}));
  EXPECT_EQ(shown[1], before);
  EXPECT_EQ(funcini.entries[1], before);
  funcKeyHooks.repaint = nullptr;
}

TEST(ProgramState, ErrorLogAppendsEveryReport) {
  TempDir dir;
  SetDataDir(dir.Path());
  SCRIPTPEER peer;
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("errorlog on\nwindow nowhere\n"));
  ASSERT_TRUE(peer.Run(1000));
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("errorlog on\nerrorlog off\nwindow nowhere\n"));
  ASSERT_TRUE(peer.Run(1000));
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("errorlog on\nrun\n"));
  ASSERT_TRUE(peer.Run(1000));
  // Every error is still reported; the log has the two made while it was on.
  EXPECT_EQ(peer.errors.size(), 3u);
  const std::string log = ReadWholeFile(dir.File("ScriptError.log"));
  EXPECT_NE(log.find("@memory:2: WINDOWのパラメタがおかしいです。 [WINDOW]\n"), std::string::npos) << log;
  EXPECT_NE(log.find("@memory:2: RUNのパラメタがおかしいです。 [RUN]\n"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
  EXPECT_FALSE(SCRIPTPROGRAMCMDS::fErrorLog);
  ResetDirsForTest();
}

TEST(ProgramKeys, VirtualKeysOfQtKeys) {
  struct CASE {
    int qt;
    int32_t vk;
  };
  const std::vector<CASE> cases = {{Qt::Key_A, 65},     {Qt::Key_Z, 90},      {Qt::Key_0, 48},   {Qt::Key_9, 57},
                                   {Qt::Key_F1, 112},   {Qt::Key_F12, 123},   {Qt::Key_Return, 13},
                                   {Qt::Key_Enter, 13}, {Qt::Key_Escape, 27}, {Qt::Key_Space, 32},
                                   {Qt::Key_Left, 37},  {Qt::Key_Down, 40},   {Qt::Key_Shift, 0}};
  for (const CASE& c : cases) EXPECT_EQ(SCRIPTKEYSTATE::VirtualKey(c.qt), c.vk) << c.qt;
  SCRIPTKEYSTATE::Clear();
  SCRIPTKEYSTATE::Press(Qt::Key_A);
  SCRIPTKEYSTATE::Press(Qt::Key_F5);
  SCRIPTKEYSTATE::Release(Qt::Key_A);
  EXPECT_FALSE(SCRIPTKEYSTATE::IsDown(65));
  EXPECT_TRUE(SCRIPTKEYSTATE::IsDown(116));
  SCRIPTKEYSTATE::Clear();
  EXPECT_FALSE(SCRIPTKEYSTATE::IsDown(116));
}

}  // namespace
