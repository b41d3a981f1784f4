// The interpreter over a scripted peer on fake time: waits and time-outs,
// captures, calls and levels, control flow, errors, the watchdog, pause and
// step.
#include <gtest/gtest.h>

#include <string>

#include "script/scriptmsg.h"
#include "script/var.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace {

class Interpreter : public ::testing::Test {
 protected:
  SCRIPTPEER peer;
  bool Start(const std::string& text) { return SCRIPT::ExecuteFromMemory(text); }
};

TEST_F(Interpreter, LogInAgainstThePeer) {
  peer.On("guest\r", "Password: ");
  peer.On("secret\r", "Welcome\r\nMAIN> ");
  peer.Host("\r\nlogin: ");
  ASSERT_TRUE(Start(
      "wait \"login:\"\nsend \"guest^M\"\nwait \"Password:\"\nsend \"secret^M\"\n"
      "wait \"MAIN>\", \"Bad\"\n@r = result\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"guest\r", "secret\r"}));
  EXPECT_TRUE(peer.errors.empty());
}

TEST_F(Interpreter, TwoPromptsInOneReadAndTheSecondOfThreeStrings) {
  // Both prompts arrive at once: the second WAIT sees the second one.
  peer.Host("A> B> ");
  ASSERT_TRUE(Start("wait \"A>\"\nsend \"1\"\nwait \"x\", \"B>\", \"y\"\nsend \"r\" + result\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"1", "r2"}));
}

TEST_F(Interpreter, TimeOutsAndSleepsEndOnTime) {
  ASSERT_TRUE(Start("timeout 5\nwait \"never\"\nsend \"r\" + result\nmillisleep 250\nsend \"slept\"\n"
                    "millitimeout 1500\ngetline #l\nsend \"g\" + result\n"));
  const TICK start = peer.now;
  ASSERT_TRUE(peer.Run(60000));
  ASSERT_EQ(peer.timedSends.size(), 3u);
  EXPECT_EQ(peer.timedSends[0].second, "r-1");
  EXPECT_EQ(peer.timedSends[0].first - start, 5000u);
  EXPECT_EQ(peer.timedSends[1].first - peer.timedSends[0].first, 250u);
  EXPECT_EQ(peer.timedSends[2].second, "g-1");
  EXPECT_EQ(peer.timedSends[2].first - peer.timedSends[1].first, 1500u);
}

TEST_F(Interpreter, NoTimeOutWaitsForeverAndSleepZeroYieldsOnce) {
  ASSERT_TRUE(Start("sleep 0\nsend \"a\"\ntimeout 0\nwait \"z\"\n"));
  SCRIPT::Process();
  EXPECT_TRUE(peer.sends.empty());  // the yield
  EXPECT_FALSE(peer.Run(1000000));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"a"});
  EXPECT_TRUE(SCRIPT::fExecuting);
  peer.Host("z");
  EXPECT_TRUE(peer.Run(1000));
}

TEST_F(Interpreter, Captures) {
  // GETLINE keeps 1024 bytes of a longer line and drops the pair's CR;
  // GETCHAR takes a double-byte character whole.
  peer.Host(std::string(1500, 'x') + "\r\nshort\r\n\x8a\xbf" "b");
  ASSERT_TRUE(Start("getline @a\ngetline @b\ngetchar @c\ngetchar @d\n"
                    "send length(@a) + \",\" + @b + \",\" + @c + \",\" + @d\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"1024,short,\x8a\xbf,b"});
}

TEST_F(Interpreter, CallsArgumentsAndLevels) {
  // Arguments are evaluated in the caller; #RETURN comes back to it; locals
  // belong to their level; globals are shared and end with the run, the
  // permanent ones stay.
  ASSERT_TRUE(Start("#x = \"caller\"\n@g = \"global\"\n%p = \"kept\"\ncall sub, #x + \"!\", 2\n"
                    "send #x + \"/\" + #return + \"/\" + @g\nexit\n"
                    "sub:\nsend #1 + #2 + #x\n@g = \"changed\"\nreturn \"back\"\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"caller!2", "caller/back/changed"}));
  EXPECT_EQ(VAR::GetVar("@G"), "");
  EXPECT_EQ(VAR::GetVar("%P"), "kept");
  EXPECT_EQ(VAR::GetVar("1X"), "");
}

TEST_F(Interpreter, EndsOfCalledLevels) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> sends;
  } cases[] = {
      {"EXIT in a subroutine ends its caller", "call s\nsend \"after\"\nexit\ns:\nexit\n", {}},
      {"RETURN at the top ends the script", "return\nsend \"x\"\n", {}},
      {"running off the end inside a call ends the caller", "call s\nsend \"after\"\ns:\nsend \"in\"\n", {"in"}},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    ASSERT_TRUE(Start(c.text)) << c.what;
    EXPECT_TRUE(peer.Run(10000)) << c.what;
    EXPECT_EQ(peer.sends, c.sends) << c.what;
    EXPECT_EQ(SCRIPT::cNest(), 0) << c.what;
  }
}

TEST_F(Interpreter, CalledFilesShareNothingButGlobals) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("Sub.HSC"), "send \"file \" + #1\n#1 = \"mine\"\nreturn #1\n"));
  SCRIPT::searchDirs = {dir.Path()};
  ASSERT_TRUE(Start("#1 = \"top\"\ncall sub.scr, \"arg\"\nsend #1 + \" \" + #return\ncall none.hsc\n"));
  EXPECT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"file arg", "top mine"}));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::NO_CALL_FILE);
  EXPECT_EQ(peer.errors[0].line, 4);
  EXPECT_EQ(peer.errors[0].command, "CALL");
}

TEST_F(Interpreter, ControlFlow) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> sends;
  } cases[] = {
      {"one-line IF with GOTO, ELSE on the next line",
       "##n = 1\nif (##n == 2) goto two\nelse send \"else\"\nsend \"next\"\nexit\ntwo:\nsend \"two\"\n",
       {"else", "next"}},
      {"one-line IF true skips the ELSE line", "if (1) send \"a\"\nelse send \"b\"\nsend \"c\"\n", {"a", "c"}},
      {"block IF, ELSEIF, ELSE, nested",
       "##n = 2\nif (##n == 1)\nsend \"one\"\nelseif (##n == 2)\nif (0)\nsend \"no\"\nendif\nsend \"two\"\n"
       "else\nsend \"other\"\nendif\nsend \"end\"\n",
       {"two", "end"}},
      {"block ELSE", "if (0)\nsend \"a\"\nelse\nsend \"b\"\nendif\n", {"b"}},
      {"WHILE counts; BREAKLOOP leaves BEGINLOOP",
       "##i = 0\nwhile (##i < 3)\n##i = ##i + 1\nsend \"w\" + ##i\nendwhile\n"
       "beginloop\n##i = ##i - 1\nif (##i == 1) breakloop\nloopagain\nendloop\nsend \"i\" + ##i\n",
       {"w1", "w2", "w3", "i1"}},
      {"GOTO to a computed label that is not there goes on", "goto \"no\" + \"where\"\nsend \"on\"\n", {"on"}},
      {"GOTO a keyword-named label", "goto timeout\nsend \"skipped\"\ntimeout:\nsend \"there\"\n", {"there"}},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.errors.clear();
    ASSERT_TRUE(Start(c.text)) << c.what;
    EXPECT_TRUE(peer.Run(10000)) << c.what;
    EXPECT_EQ(peer.sends, c.sends) << c.what;
    EXPECT_TRUE(peer.errors.empty()) << c.what << ": " << (peer.errors.empty() ? "" : peer.errors[0].message);
  }
}

TEST_F(Interpreter, RuntimeErrors) {
  struct Case {
    std::string text;
    std::string message;
    int line;
    std::string command;
  } cases[] = {
      {"send 1\ngoto nowhere\nsend 2\n", "gotoまたはcallでの行き先が見つかりません。", 2, "GOTO"},
      {"if (0)\nsend 1\n", "endifが見つかりません。", 1, "IF"},
      {"breakloop\n", "breakloopしようとするループが見つかりません。", 1, "BREAKLOOP"},
      {"timeout -1\n", "TIMEOUTのパラメタがおかしいです。", 1, "TIMEOUT"},
      {"wait\n", "WAITのパラメタがおかしいです。", 1, "WAIT"},
      {"send 2 * -3\n", "式がおかしいです。", 1, "SEND"},
      {"setchat \"hi\"\n", "SETCHAT は、この版ではまだ使えません。", 1, "SETCHAT"},
      {"send state(\"nothing\")\n", "STATEのパラメタがおかしいです。", 1, "SEND"},
      {"#a = 1 2\n", "式がおかしいです。", 1, "代入"},
      {"getline \"x\"\n", "GETLINEのパラメタがおかしいです。", 1, "GETLINE"},
  };
  for (const Case& c : cases) {
    peer.errors.clear();
    peer.sends.clear();
    ASSERT_TRUE(Start(c.text)) << c.text;
    EXPECT_TRUE(peer.Run(10000)) << c.text;
    ASSERT_EQ(peer.errors.size(), 1u) << c.text;
    EXPECT_EQ(peer.errors[0].message, c.message) << c.text;
    EXPECT_EQ(peer.errors[0].line, c.line) << c.text;
    EXPECT_EQ(peer.errors[0].command, c.command) << c.text;
    EXPECT_EQ(peer.errors[0].file, "@memory");
  }
  EXPECT_TRUE(peer.sends.empty());
}

TEST_F(Interpreter, TwentyOneNestedCallsFail) {
  ASSERT_TRUE(Start("##d = 0\ns:\n##d = ##d + 1\ncall s\n"));
  EXPECT_TRUE(peer.Run(10000));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::NEST_LIMIT);
}

TEST_F(Interpreter, Watchdog) {
  peer.autoAdvance = 1;  // every reading of the clock is a millisecond later
  peer.answerWatchdog = true;
  ASSERT_TRUE(Start("beginloop\nendloop\n"));
  EXPECT_TRUE(peer.Run(200000));
  EXPECT_EQ(peer.watchdogQuestions, 1);
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::WATCHDOG_STOP);
  // "No" goes on: the next question comes 30 s later.
  peer.errors.clear();
  peer.watchdogQuestions = 0;
  peer.answerWatchdog = false;
  ASSERT_TRUE(Start("beginloop\nendloop\n"));
  EXPECT_FALSE(peer.Run(95000));
  EXPECT_EQ(peer.watchdogQuestions, 3);
  EXPECT_TRUE(peer.errors.empty());
  SCRIPT::StopAll();
  // A script that waits in between never meets it.
  peer.autoAdvance = 0;
  peer.watchdogQuestions = 0;
  ASSERT_TRUE(Start("beginloop\nmillisleep 1000\nendloop\n"));
  EXPECT_FALSE(peer.Run(120000));
  EXPECT_EQ(peer.watchdogQuestions, 0);
}

TEST_F(Interpreter, PauseStepStopAndDebugInfo) {
  ASSERT_TRUE(Start("send \"1\"\npause\nsend \"2\"\nsend \"3\"\nsend \"4\"\n"));
  EXPECT_FALSE(peer.Run(1000));
  EXPECT_TRUE(SCRIPT::fPause);
  EXPECT_EQ(peer.sends, std::vector<std::string>{"1"});
  SCRIPT::SingleStep();
  SCRIPT::Process();
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"1", "2"}));
  EXPECT_TRUE(SCRIPT::fPause);
  SCRIPT::PauseOrResume();
  EXPECT_TRUE(peer.Run(1000));
  EXPECT_EQ(peer.sends.size(), 4u);

  // Stop ends the running level and its callers; StopAll every level.
  ASSERT_TRUE(Start("wait \"x\"\n"));
  ASSERT_TRUE(Start("call s\ns:\nwait \"y\"\n"));
  peer.Pass();
  EXPECT_EQ(SCRIPT::cNest(), 3);
  SCRIPT::Stop();
  EXPECT_EQ(SCRIPT::cNest(), 1);
  SCRIPT::StopAll();
  EXPECT_FALSE(SCRIPT::fExecuting);

  ASSERT_TRUE(Start("debuginfo \"off\"\ndebuginfo on\ndebuginfo \"\x8a\xbf \" + 1\ndebuginfo off\ndebuginfo \"no\"\n"));
  EXPECT_TRUE(peer.Run(1000));
  EXPECT_EQ(peer.debug, std::vector<std::string>{"漢 1"});
}

TEST_F(Interpreter, ResultAndTimeOutBelongToTheLevel) {
  peer.Host("ab");
  ASSERT_TRUE(Start("timeout 1\nwait \"x\", \"a\"\ncall s\nsend \"top\" + result\nexit\n"
                    "s:\nsend \"sub\" + result\nwait \"b\"\nreturn\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"sub0", "top2"}));
}

}  // namespace
