// SWITCH, LOOPSWITCH and CASE on the scripted peer: which body runs for
// which string, time-outs with and without CASE TIMEOUT, nesting, the
// waits a LOOPSWITCH begins again, and the structure errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/scriptmsg.h"
#include "script/var.h"
#include "support/script_peer.h"

namespace {

class Switch : public ::testing::Test {
 protected:
  SCRIPTPEER peer;
  bool Start(const std::string& text) { return SCRIPT::ExecuteFromMemory(text); }
};

// One string, then two strings, then TIMEOUT.
const char kThreeCases[] =
    "timeout 2\n"
    "switch\n"
    "case \"one\"\n"
    "  send \"body1 \" + result\n"
    "case \"two\", \"three\"\n"
    "  send \"body2 \" + result\n"
    "case timeout\n"
    "  send \"body3 \" + result\n"
    "endswitch\n"
    "send \"after\"\n";

TEST_F(Switch, TheCaseHoldingTheMatchedStringRuns) {
  struct Case {
    std::string host;
    std::vector<std::string> sends;
  } cases[] = {
      {"xx one", {"body1 1", "after"}},
      {"two", {"body2 2", "after"}},
      {"... three", {"body2 3", "after"}},
      {"nothing", {"body3 -1", "after"}},
  };
  for (const Case& c : cases) {
    peer.sends.clear();
    peer.Host(c.host);
    ASSERT_TRUE(Start(kThreeCases)) << c.host;
    EXPECT_TRUE(peer.Run(10000)) << c.host;
    EXPECT_EQ(peer.sends, c.sends) << c.host;
    EXPECT_TRUE(peer.errors.empty()) << c.host << ": " << (peer.errors.empty() ? "" : peer.errors[0].message);
    peer.pending.clear();
  }
}

TEST_F(Switch, TheTimeOutComesWhenTheLevelSaysAndWithoutCaseTimeoutGoesOnAfterTheCloser) {
  ASSERT_TRUE(Start("millitimeout 700\nswitch\ncase \"a\"\nsend \"a\"\nendswitch\nsend \"on \" + result\n"
                    "loopswitch\ncase \"b\"\nsend \"b\"\nendloop\nsend \"left \" + result\n"));
  const TICK start = peer.now;
  ASSERT_TRUE(peer.Run(10000));
  ASSERT_EQ(peer.timedSends.size(), 2u);
  EXPECT_EQ(peer.timedSends[0].second, "on -1");
  EXPECT_EQ(peer.timedSends[0].first - start, 700u);
  EXPECT_EQ(peer.timedSends[1].second, "left -1");
  EXPECT_EQ(peer.timedSends[1].first - start, 1400u);
  EXPECT_TRUE(peer.errors.empty());
}

TEST_F(Switch, LoopSwitchAnswersEveryPromptAndTwoPromptsInOneReadAreBothSeen) {
  // The menu prompt is answered each time it comes; two prompts in one read
  // are two matches (the second wait sees the second prompt); BREAKLOOP
  // inside a body leaves the loop.
  peer.On("W\r", "who>menu> ");
  peer.On("G\r", "bye\r\n");
  peer.Host("menu> ");
  ASSERT_TRUE(Start("##n = 0\n"
                    "loopswitch\n"
                    "case \"menu>\"\n"
                    "  ##n = ##n + 1\n"
                    "  if (##n < 3) send \"W^M\"\n"
                    "  else send \"G^M\"\n"
                    "case \"who>\"\n"
                    "  send \"who\"\n"
                    "case \"bye\"\n"
                    "  breakloop\n"
                    "endloop\n"
                    "send \"done \" + ##n\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"W\r", "who", "W\r", "who", "G\r", "done 3"}));
  EXPECT_TRUE(peer.errors.empty());
}

TEST_F(Switch, CaseStringsAreEvaluatedAgainAtEveryWait) {
  peer.Host("p1 p2 p3 ");
  ASSERT_TRUE(Start("##i = 1\nloopswitch\ncase \"p\" + ##i\n  send \"got \" + ##i\n  ##i = ##i + 1\n"
                    "  if (##i > 3) breakloop\nendloop\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"got 1", "got 2", "got 3"}));
}

TEST_F(Switch, NestedSwitchesAndLoopsInsideBodiesAreSkipped) {
  // The outer switch waits for "a" and "c" only: "inner" belongs to the
  // nested switch, whose ENDSWITCH does not end the outer one.
  peer.Host("inner c x");
  ASSERT_TRUE(Start("switch\n"
                    "case \"a\"\n"
                    "  switch\n"
                    "  case \"inner\"\n"
                    "    send \"wrong\"\n"
                    "  endswitch\n"
                    "  beginloop\n"
                    "  endloop\n"
                    "case \"c\"\n"
                    "  send \"c \" + result\n"
                    "  switch\n"
                    "  case \"x\"\n"
                    "    send \"x \" + result\n"
                    "  endswitch\n"
                    "  send \"in c\"\n"
                    "endswitch\n"
                    "send \"out\"\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"c 2", "x 1", "in c", "out"}));
  EXPECT_TRUE(peer.errors.empty()) << (peer.errors.empty() ? "" : peer.errors[0].message);
}

TEST_F(Switch, ItemModifiersAndCommentsAndBlankLinesBeforeTheFirstCase) {
  // WILDCARD on the first item of a CASE, POSTMILLIIDLE on a later one; a
  // comment line and a blank line after the opener are not statements.
  peer.Host("user42: ");
  ASSERT_TRUE(Start("switch\n; which prompt\n\ncase wildcard \"user*:\", postmilliidle(300) \"never\"\n"
                    "  send \"w\" + result\nendswitch\n"));
  ASSERT_TRUE(peer.Run(10000));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"w1"});
  EXPECT_TRUE(peer.errors.empty()) << (peer.errors.empty() ? "" : peer.errors[0].message);

  // A quiet time on a CASE item: the match is reported once the line has
  // been quiet that long.
  peer.sends.clear();
  peer.timedSends.clear();
  peer.Host("ready");
  const TICK start = peer.now;
  ASSERT_TRUE(Start("switch\ncase postmilliidle(400) \"ready\"\n  send \"r\"\nendswitch\n"));
  ASSERT_TRUE(peer.Run(10000));
  ASSERT_EQ(peer.timedSends.size(), 1u);
  EXPECT_GE(peer.timedSends[0].first - start, 400u);
  EXPECT_LT(peer.timedSends[0].first - start, 500u);
}

TEST_F(Switch, StructureErrors) {
  struct Case {
    std::string text;
    int id;
    int line;
    std::string command;
  } cases[] = {
      {"switch\nsend \"x\"\ncase \"a\"\nendswitch\n", scriptmsg::EXTRA_BEFORE_CASE, 2, "SWITCH"},
      {"switch\ncase timeout\nsend \"t\"\nendswitch\n", scriptmsg::NO_CASE, 1, "SWITCH"},
      {"switch\nendswitch\n", scriptmsg::NO_CASE, 1, "SWITCH"},
      {"send 1\nswitch\ncase \"a\"\n", scriptmsg::NO_ENDSWITCH, 2, "SWITCH"},
      // An enclosing loop's closer is not the switch's.
      {"beginloop\nswitch\ncase \"a\"\nendloop\n", scriptmsg::NO_ENDSWITCH, 2, "SWITCH"},
      {"switch\ncase \"a\", \n endswitch\n", scriptmsg::PARAMETER, 2, "SWITCH"},
      {"switch 1\ncase \"a\"\nendswitch\n", scriptmsg::PARAMETER, 1, "SWITCH"},
      // A CASE met in normal flow with no closer after it.
      {"goto b\nswitch\nb:\ncase \"a\"\n", scriptmsg::NO_ENDSWITCH, 4, "CASE"},
  };
  for (const Case& c : cases) {
    peer.errors.clear();
    peer.sends.clear();
    ASSERT_TRUE(Start(c.text)) << c.text;
    EXPECT_TRUE(peer.Run(10000)) << c.text;
    ASSERT_EQ(peer.errors.size(), 1u) << c.text;
    EXPECT_EQ(peer.errors[0].id, c.id) << c.text << ": " << peer.errors[0].message;
    EXPECT_EQ(peer.errors[0].line, c.line) << c.text;
    EXPECT_EQ(peer.errors[0].command, c.command) << c.text;
  }
}

TEST_F(Switch, CaseParameterErrorNamesTheCase) {
  ASSERT_TRUE(Start("switch\ncase \"a\"\ncase postidle(\"x\") \"b\"\nendswitch\n"));
  EXPECT_TRUE(peer.Run(10000));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].message, "POSTIDLEのパラメタがおかしいです。");
  EXPECT_EQ(peer.errors[0].line, 3);
}

}  // namespace
