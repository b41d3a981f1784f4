// CALLVARLABEL and CHECKLABEL, quiet times past 65 seconds, and starts and
// stops asked for while a statement runs an event loop of its own, over the
// scripted peer on fake time.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "script/scriptmsg.h"
#include "script/var.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace {

class LabelStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteWholeFile(dir.File("Sub.HSC"),
                               "send \"sub \" + #1\nreturn \"s\"\ntwo:\nsend \"two \" + #1 + #2\nreturn \"t\"\n"));
    // Does not compile (a closer without a loop): it has no labels to find.
    ASSERT_TRUE(WriteWholeFile(dir.File("bad.hsc"), "x:\nendloop\n"));
    SCRIPT::searchDirs = {dir.Path()};
  }
  TempDir dir;
  SCRIPTPEER peer;
};

TEST_F(LabelStatements, CallVarLabelCallsTheComputedTarget) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> sends;
  } cases[] = {
      {"a label from a variable, arguments evaluated in the caller",
       "#t = \"here\"\n#x = \"a\"\ncallvarlabel #t, #x + 1\nsend \"back \" + #return\nexit\n"
       "here:\nsend \"in \" + #1 + #x\nreturn \"r\"\n",
       {"in a1", "back r"}},
      {"a label written in lower case", "callvarlabel \"he\" + \"re\"\nexit\nhere:\nsend \"found\"\n", {"found"}},
      {"a file, found as CALL finds it (.scr tries .hsc)",
       "callvarlabel \"sub.scr\", \"f\"\nsend \"back \" + #return\n", {"sub f", "back s"}},
      {"a file and a label", "callvarlabel \"SUB.hsc:two\", 1, 2\nsend \"back \" + #return\n",
       {"two 12", "back t"}},
      {"EXIT in the called label ends the caller too", "callvarlabel \"s\"\nsend \"after\"\nexit\ns:\nexit\n", {}},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.errors.clear();
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(c.text)) << c.what;
    EXPECT_TRUE(peer.Run(10000)) << c.what;
    EXPECT_EQ(peer.sends, c.sends) << c.what;
    EXPECT_TRUE(peer.errors.empty()) << c.what << ": " << (peer.errors.empty() ? "" : peer.errors[0].message);
  }
}

TEST_F(LabelStatements, CallVarLabelErrors) {
  struct Case {
    std::string text;
    int id;
    std::string message;
  } cases[] = {
      {"send 1\ncallvarlabel \"nowhere\"\nsend 2\n", scriptmsg::NO_LABEL, "gotoまたはcallでの行き先が見つかりません。"},
      {"send 1\ncallvarlabel \"sub.hsc:nowhere\"\nsend 2\n", scriptmsg::NO_LABEL,
       "gotoまたはcallでの行き先が見つかりません。"},
      {"send 1\ncallvarlabel \"none.hsc\"\nsend 2\n", scriptmsg::NO_CALL_FILE,
       "callで指定されたスクリプトファイルが見つかりません。"},
      // An empty target is no label (it must not call the script from its start).
      {"send 1\ncallvarlabel \"\"\nsend 2\n", scriptmsg::NO_LABEL, "gotoまたはcallでの行き先が見つかりません。"},
      {"send 1\ncallvarlabel\nsend 2\n", scriptmsg::PARAMETER, "CALLVARLABELのパラメタがおかしいです。"},
      {"send 1\ncallvarlabel \"s\" 2\nsend 2\ns:\n", scriptmsg::EXPRESSION, "式がおかしいです。"},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.errors.clear();
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(c.text)) << c.text;
    EXPECT_TRUE(peer.Run(10000)) << c.text;
    EXPECT_EQ(peer.sends, std::vector<std::string>{"1"}) << c.text;
    ASSERT_EQ(peer.errors.size(), 1u) << c.text;
    EXPECT_EQ(peer.errors[0].id, c.id) << c.text;
    EXPECT_EQ(peer.errors[0].message, c.message) << c.text;
    EXPECT_EQ(peer.errors[0].line, 2) << c.text;
    EXPECT_EQ(peer.errors[0].command, "CALLVARLABEL") << c.text;
  }
}

TEST_F(LabelStatements, CallVarLabelPastTwentyLevelsFails) {
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("s:\ncallvarlabel \"s\"\n"));
  EXPECT_TRUE(peer.Run(10000));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::NEST_LIMIT);
}

TEST_F(LabelStatements, CheckLabelSetsResult) {
  struct Case {
    const char* argument;
    int result;
  } cases[] = {
      {"here", 1},
      {"nowhere", 0},
      {"\"he\" + \"re\"", 1},   // an expression, upper-cased like a label
      {"timeout", 1},           // a bare word that is otherwise a keyword value
      {"sub.hsc", 1},           // a file alone: whether it is there
      {"SUB.SCR", 1},           // ".scr" tries ".hsc"
      {"none.hsc", 0},
      {"sub.hsc:two", 1},
      {"\"sub.hsc:\" + \"TWO\"", 1},
      {"sub.hsc:three", 0},
      {"none.hsc:two", 0},
      {"bad.hsc:x", 0},         // a file that does not compile: no label, no report
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.errors.clear();
    // RESULT starts at a value neither answer has.
    const std::string text = std::string("timeout 1\nwait \"never\"\nchecklabel ") + c.argument +
                             "\nsend \"r\" + result\nexit\nhere:\ntimeout:\n";
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(text)) << c.argument;
    EXPECT_TRUE(peer.Run(10000)) << c.argument;
    EXPECT_EQ(peer.sends, std::vector<std::string>{"r" + std::to_string(c.result)}) << c.argument;
    EXPECT_TRUE(peer.errors.empty()) << c.argument << ": " << (peer.errors.empty() ? "" : peer.errors[0].message);
  }
}

TEST_F(LabelStatements, CheckLabelErrors) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"checklabel\n", "gotoまたはcallでの行き先が見つかりません。"},
      {"checklabel \"\"\n", "gotoまたはcallでの行き先が見つかりません。"},
      {"checklabel \"a\", \"b\"\n", "CHECKLABELのパラメタがおかしいです。"},
  };
  for (const Case& c : cases) {
    peer.errors.clear();
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(c.text + "send \"after\"\n")) << c.text;
    EXPECT_TRUE(peer.Run(10000)) << c.text;
    ASSERT_EQ(peer.errors.size(), 1u) << c.text;
    EXPECT_EQ(peer.errors[0].message, c.message) << c.text;
    EXPECT_EQ(peer.errors[0].command, "CHECKLABEL") << c.text;
  }
  EXPECT_TRUE(peer.sends.empty());
}

TEST_F(LabelStatements, QuietTimesPastSixtyFiveSeconds) {
  // The quiet time is due before the level's two-hour time-out: the match
  // reports at its own moment, and a timer is asked for that moment.
  struct Case {
    const char* modifier;
    TICK quietMs;
  } cases[] = {
      {"postidle(70)", 70000},
      {"postmilliidle(100000)", 100000},
      {"postidle(3600)", 3600000},
  };
  std::vector<int64_t> timers;
  SCRIPT::hooks.armTimer = [&timers](int64_t ms) { timers.push_back(ms); };
  for (const Case& c : cases) {
    peer.timedSends.clear();
    timers.clear();
    peer.Host("x");
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(std::string("timeout 7200\nwait ") + c.modifier +
                                          " \"x\"\nsend \"r\" + result\n"));
    const TICK start = peer.now;
    EXPECT_TRUE(peer.Run(int64_t(c.quietMs) + 60000)) << c.modifier;
    ASSERT_EQ(peer.timedSends.size(), 1u) << c.modifier;
    EXPECT_EQ(peer.timedSends[0].second, "r1") << c.modifier;
    EXPECT_EQ(peer.timedSends[0].first - start, c.quietMs) << c.modifier;
    EXPECT_EQ(timers, (std::vector<int64_t>{7200000, int64_t(c.quietMs)})) << c.modifier;
  }
}

TEST_F(LabelStatements, ASilenceAloneIsTimedFromTheWaitsStart) {
  std::vector<int64_t> timers;
  SCRIPT::hooks.armTimer = [&timers](int64_t ms) { timers.push_back(ms); };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait postidle(90) \"\", \"never\"\nsend \"r\" + result\n"));
  const TICK start = peer.now;
  EXPECT_TRUE(peer.Run(200000));
  ASSERT_EQ(peer.timedSends.size(), 1u);
  EXPECT_EQ(peer.timedSends[0].second, "r1");
  EXPECT_EQ(peer.timedSends[0].first - start, 90000u);
  EXPECT_EQ(timers, std::vector<int64_t>{90000});
}

// --- starts and stops during a statement's own event loop ---------------------

class NestedLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    // SEND "loop" stands for a statement that runs an event loop of its own
    // (a dialog, a dial): `during` runs inside it.
    auto record = SCRIPT::hooks.send;
    SCRIPT::hooks.send = [this, record](const std::string& s) {
      record(s);
      if (s != "loop" || !during) return;
      SCRIPT::NESTEDLOOP loop;
      const int nest = SCRIPT::cNest();
      during();
      EXPECT_EQ(SCRIPT::cNest(), nest);  // nothing started or ended inside the loop
      EXPECT_TRUE(SCRIPT::fExecuting);
    };
  }
  SCRIPTPEER peer;
  std::function<void()> during;
};

TEST_F(NestedLoop, StartsQueueAndStopsWaitForTheStatement) {
  struct Case {
    const char* what;
    std::string text;
    std::function<void()> during;
    std::vector<std::string> sends;
    size_t refused;  // message 40 reports
  } cases[] = {
      {"one start is queued and runs after the statement; a second is refused",
       "send \"loop\"\nsend \"next\"\n",
       [] {
         EXPECT_TRUE(SCRIPT::ExecuteFromMemory("send \"queued\"\n"));
         EXPECT_TRUE(SCRIPT::StartQueued());
         EXPECT_FALSE(SCRIPT::ExecuteFromMemory("send \"refused\"\n"));
       },
       {"loop", "queued", "next"},
       1},
      {"a stop takes effect when the statement returns", "send \"loop\"\nsend \"next\"\n", [] { SCRIPT::Stop(); },
       {"loop"}, 0},
      {"a stop ends the whole chain of calls", "call s\nsend \"top\"\nexit\ns:\nsend \"loop\"\nsend \"sub\"\n",
       [] { SCRIPT::Stop(); }, {"loop"}, 0},
      {"a start after a stop runs once the stop took effect", "send \"loop\"\nsend \"next\"\n",
       [] {
         SCRIPT::Stop();
         EXPECT_TRUE(SCRIPT::ExecuteFromMemory("send \"new\"\n"));
       },
       {"loop", "new"},
       0},
      {"StopAll drops a start queued before it, not one after",
       "send \"loop\"\nsend \"next\"\n",
       [] {
         EXPECT_TRUE(SCRIPT::ExecuteFromMemory("send \"dropped\"\n"));
         SCRIPT::StopAll();
         EXPECT_FALSE(SCRIPT::StartQueued());
         EXPECT_TRUE(SCRIPT::ExecuteFromMemory("send \"after\"\n"));
       },
       {"loop", "after"},
       0},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.errors.clear();
    during = c.during;
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory(c.text)) << c.what;
    EXPECT_TRUE(peer.Run(10000)) << c.what;
    EXPECT_EQ(peer.sends, c.sends) << c.what;
    EXPECT_EQ(peer.errors.size(), c.refused) << c.what;
    for (const SCRIPTERROR& e : peer.errors) EXPECT_EQ(e.id, scriptmsg::NEST_LIMIT) << c.what;
    EXPECT_FALSE(SCRIPT::StartQueued()) << c.what;
  }
}

TEST_F(NestedLoop, AQueuedFileStartsAtItsLabel) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("host.hsc"), "send \"top\"\nexit\nlogin:\nsend \"at login\"\n"));
  SCRIPT::searchDirs = {dir.Path()};
  during = [] { EXPECT_TRUE(SCRIPT::Execute("host.hsc", "login")); };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("send \"loop\"\nsend \"next\"\n"));
  EXPECT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"loop", "at login", "next"}));
}

TEST_F(NestedLoop, TheErrorDialogAndTheWatchdogQuestionAreLoopsToo) {
  // A start asked for while an error is shown runs after the failing script
  // ended, as the only level.
  int reports = 0;
  SCRIPT::hooks.reportError = [&](const SCRIPTERROR& e) {
    peer.errors.push_back(e);
    if (reports++ == 0) {
      EXPECT_TRUE(SCRIPT::ExecuteFromMemory("send \"after error\"\nwait \"y\"\n"));
    }
  };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("send 1\nsetchat \"x\"\nsend 2\n"));
  EXPECT_FALSE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"1", "after error"}));
  EXPECT_EQ(SCRIPT::cNest(), 1);
  SCRIPT::StopAll();

  // A stop asked for while an error is shown ends the level below the failing one.
  peer.errors.clear();
  SCRIPT::hooks.reportError = [&](const SCRIPTERROR& e) {
    peer.errors.push_back(e);
    SCRIPT::Stop();
  };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"never\"\n"));
  peer.Pass();
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("setchat \"x\"\n"));
  EXPECT_EQ(SCRIPT::cNest(), 2);
  EXPECT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(SCRIPT::cNest(), 0);

  // A stop during the watchdog question ends the loop though the answer was "go on".
  peer.autoAdvance = 1;
  peer.errors.clear();
  SCRIPT::hooks.askYes = [&](const std::string&) {
    ++peer.watchdogQuestions;
    SCRIPT::Stop();
    return false;
  };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("beginloop\nendloop\n"));
  EXPECT_TRUE(peer.Run(200000));
  EXPECT_EQ(peer.watchdogQuestions, 1);
  EXPECT_TRUE(peer.errors.empty());
}

}  // namespace
