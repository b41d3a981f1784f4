// Script expressions and variables: a table of expressions with their values
// or error messages, and the variable store's names, scopes and limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/atoms.h"
#include "script/newscript.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/var.h"

namespace {

struct Evaluated {
  bool ok;
  SCRIPTVALUE v;
  int errorId;
  std::string keyword;
};

// Compiles "SEND expression" and evaluates the argument.
Evaluated Evaluate(const std::string& expression, int32_t result = 0, int level = 1) {
  NEWSCRIPT s;
  if (!s.LoadFromMemory("send " + expression + "\n")) return {false, {}, -s.error.id, ""};
  EVALCONTEXT ctx;
  ctx.program = &s;
  ctx.level = level;
  ctx.result = result;
  ctx.lineCount = [] { return 25; };
  ctx.baudRate = [] { return 38400; };
  EVALUATOR e(ctx, 1);
  Evaluated r{};
  r.ok = e.GetValue(r.v);
  r.errorId = e.errorId;
  r.keyword = e.errorKeyword;
  if (r.ok && e.Peek() != atom::LINENO) r.ok = false, r.errorId = -1;  // the whole argument must be read
  return r;
}

class ScriptValue : public ::testing::Test {
 protected:
  void SetUp() override { VAR::Reset(); }
  void TearDown() override { VAR::Reset(); }
};

struct Case {
  std::string expression;
  int32_t result;  // RESULT of the level
  bool numeric;
  std::string value;  // the decimal text for a number
  int error;          // message number, 0 for none
};

TEST_F(ScriptValue, Expressions) {
  const std::string kanji2 = "\x8a\xbf\x8e\x9a";
  VAR::SetNumVar("1#M", -1);
  const Case cases[] = {
      // Operators apply left to right with one precedence.
      {"2 + 3 * 4", 0, true, "20", 0},
      {"7 / 0", 0, true, "32767", 0},
      {"7 % 0", 0, true, "0", 0},
      {"-7 / 2", 0, true, "-3", 0},
      {"-7 % 3", 0, true, "-1", 0},
      {"10 - -3", 0, true, "13", 0},
      {"10 + -3", 0, true, "7", 0},
      {"- - 4", 0, true, "4", 0},
      {"(1 + 2) * 3", 0, true, "9", 0},
      {"2 * -3", 0, false, "", scriptmsg::EXPRESSION},
      {"6 / -3", 0, false, "", scriptmsg::EXPRESSION},
      // No traps: 32-bit wrapping, INT_MIN / -1 and INT_MIN % -1.
      {"2147483647 + 1", 0, true, "-2147483648", 0},
      {"65536 * 65536", 0, true, "0", 0},
      {"4294967296 + 5", 0, true, "5", 0},
      {"-2147483648", 0, true, "-2147483648", 0},
      {"-2147483648 / ##M", 0, true, "-2147483648", 0},  // ##M is -1: "/ -1" is message 84
      {"-2147483648 % ##M", 0, true, "0", 0},
      {"-2147483648 / -1", 0, false, "", scriptmsg::EXPRESSION},
      {"-2147483648 - 1", 0, true, "2147483647", 0},
      // Strings: only + joins; the accumulator's 0 is never joined.
      {"\"ab\" + 1", 0, false, "ab1", 0},
      {"1 + \"ab\"", 0, false, "1ab", 0},
      {"\"x\"", 0, false, "x", 0},
      {"\"\" + \"y\"", 0, false, "y", 0},
      {"\"ab\" - 1", 0, false, "", scriptmsg::STRING_ARITHMETIC},
      {"1 * \"ab\"", 0, false, "", scriptmsg::STRING_ARITHMETIC},
      {"-\"ab\"", 0, false, "", scriptmsg::STRING_ARITHMETIC},
      // Comparisons: numbers by value, otherwise bytes.
      {"1 == 1 AND 2 == 3 OR 4 == 4", 0, false, "T", 0},
      {"1 == 1 OR 2 == 2 AND 3 == 4", 0, false, "", 0},
      {"\"10\" < 9", 0, false, "T", 0},
      {"10 < 9", 0, false, "", 0},
      {"-2147483648 < 1", 0, false, "T", 0},
      {"2147483647 > -1", 0, false, "T", 0},
      {"\"1\" = 1", 0, false, "T", 0},
      {"\"ab\" < \"abc\"", 0, false, "T", 0},
      {"\"\x8a\xbf\" > \"z\"", 0, false, "T", 0},
      {"3 != 3", 0, false, "", 0},
      {"3 <= 3 AND 3 >= 4", 0, false, "", 0},
      // NOT negates the term after its comparison, or the bracket right after it.
      {"NOT 1 == 2", 0, false, "T", 0},
      {"NOT (1) == \"T\"", 0, false, "", 0},
      {"NOT \"\"", 0, false, "T", 0},
      // Keyword values read RESULT.
      {"YES", 1, false, "T", 0},
      {"ENTER", 0, false, "", 0},
      {"NO", 0, false, "T", 0},
      {"ERROR", 1, false, "", 0},
      {"TIMEOUT", -1, false, "T", 0},
      {"CANCEL", 0, false, "", 0},
      {"RESULT + 1", -1, true, "0", 0},
      {"ON AND NOT OFF", 0, false, "T", 0},
      {"LINECOUNT", 0, true, "25", 0},
      {"BAUDRATE / 100", 0, true, "384", 0},
      // LENGTH and VALUE.
      {"LENGTH(\"ab\" + 12)", 0, true, "4", 0},
      {"LENGTH(\"" + kanji2 + "\")", 0, true, "4", 0},
      {"LENGTH(-15)", 0, true, "3", 0},
      {"VALUE(\"x-1-2y\")", 0, true, "-1", 0},
      {"VALUE(\"--7\")", 0, true, "7", 0},
      {"VALUE(\"\x81\x7c\x82\x50\x82\x51\")", 0, true, "12", 0},
      {"VALUE(\"-\x82\x50\x82\x51\")", 0, true, "-12", 0},
      {"VALUE(\"none\")", 0, true, "0", 0},
      {"VALUE(\"1\") + \"a\"", 0, false, "1a", 0},
      {"\"a\" + VALUE(\"1\")", 0, false, "", scriptmsg::VALUE_AFTER_STRING},
      {"LENGTH(\"a\", 2)", 0, false, "", scriptmsg::PARAMETER},
      {"PART(\"abc\", 1)", 0, false, "", scriptmsg::PARAMETER},
      // Atoms that cannot stand where they stand.
      {"(1 + 2", 0, false, "", scriptmsg::BRACKETS},
      {"1 2", 0, false, "", scriptmsg::EXPRESSION},
      {"WORD", 0, false, "", scriptmsg::EXPRESSION},
      {"1 +", 0, false, "", scriptmsg::EXPRESSION},
  };
  for (const Case& c : cases) {
    Evaluated r = Evaluate(c.expression, c.result);
    if (c.error) {
      EXPECT_FALSE(r.ok) << c.expression;
      EXPECT_EQ(r.errorId, c.error) << c.expression;
      continue;
    }
    ASSERT_TRUE(r.ok) << c.expression << " error " << r.errorId;
    EXPECT_EQ(r.v.fNum, c.numeric) << c.expression;
    EXPECT_EQ(r.v.Text(), c.value) << c.expression;
    if (c.numeric) {
      EXPECT_EQ(std::to_string(r.v.num), c.value) << c.expression;
    }
  }
  EXPECT_EQ(Evaluate("PART(\"abc\", 1)").keyword, "PART");
  EXPECT_EQ(Evaluate("LENGTH(1, 2)").keyword, "LENGTH");
}

TEST_F(ScriptValue, VariablesInExpressions) {
  VAR::SetVar("1S", "ab");
  VAR::SetVar("2S", "other level");
  VAR::SetNumVar("1#N", 5);
  VAR::SetVar("@T[1[2", "element");
  VAR::SetVar("%P", "kept");
  const Case cases[] = {
      {"#S + ##N", 0, false, "ab5", 0},
      {"##N * 2", 0, true, "10", 0},
      {"#MISSING + 1", 0, false, "1", 0},
      {"##MISSING + 1", 0, true, "1", 0},
      {"@T[1][2]", 0, false, "element", 0},
      {"@T[3 - 2][1 + 1]", 0, false, "element", 0},
      {"%P", 0, false, "kept", 0},
      {"@T[\"a\" - 1]", 0, false, "", scriptmsg::SUBSCRIPT},
  };
  for (const Case& c : cases) {
    Evaluated r = Evaluate(c.expression, c.result);
    if (c.error) {
      EXPECT_EQ(r.errorId, c.error) << c.expression;
      continue;
    }
    ASSERT_TRUE(r.ok) << c.expression << " error " << r.errorId;
    EXPECT_EQ(r.v.Text(), c.value) << c.expression;
    EXPECT_EQ(r.v.fNum, c.numeric) << c.expression;
  }
  EXPECT_EQ(Evaluate("#S", 0, 2).v.Text(), "other level");
}

TEST_F(ScriptValue, JoinedTextIsCutOnAWholeCharacter) {
  VAR::SetVar("1A", std::string(1023, 'a'));
  Evaluated r = Evaluate("#A + \"\x8a\xbf\"");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.v.Text(), std::string(1023, 'a'));
  r = Evaluate("#A + \"bc\"");
  EXPECT_EQ(r.v.Text(), std::string(1023, 'a') + "b");
}

TEST_F(ScriptValue, NamesScopesAndDeletion) {
  // The 40-byte cut applies to the written name and never halves a kanji;
  // subscripts follow it uncut, so elements of a long array never alias.
  const std::string long45 = "@" + std::string(44, 'N');
  EXPECT_EQ(FormVarName(long45, 1), long45.substr(0, 40));
  EXPECT_EQ(FormVarName(long45, 1, "[1"), long45.substr(0, 40) + "[1");
  EXPECT_NE(FormVarName(long45, 1, "[1"), FormVarName(long45, 1, "[2"));
  const std::string kanjiAt39 = "@" + std::string(38, 'K') + "\x8a\xbf" + "Z";
  EXPECT_EQ(FormVarName(kanjiAt39, 1), "@" + std::string(38, 'K'));
  // Locals: "0" + level up to 15, then "A".."E": never "@".
  EXPECT_EQ(FormVarName("#X", 1), "1X");
  EXPECT_EQ(FormVarName("##X", 15), "?#X");
  EXPECT_EQ(FormVarName("#X", 16), "AX");
  EXPECT_EQ(FormVarName("#X", 20), "EX");
  VAR::SetVar(FormVarName("#X", 16), "level 16");
  VAR::SetVar("@G", "global");
  VAR::ClearGlobal();
  EXPECT_EQ(VAR::GetVar("AX"), "level 16");
  EXPECT_EQ(VAR::GetVar("@G"), "");

  // An empty string or a 0 deletes; Clear keeps the permanent strings.
  VAR::Reset();
  int changes = 0;
  VAR::onChange = [&changes] { ++changes; };
  VAR::SetVar("@A", "1");
  VAR::SetNumVar("@#B", 2);
  VAR::SetVar("%P", "p");
  VAR::SetNumVar("%#Q", 3);
  EXPECT_TRUE(VAR::fPermanentChanged);
  EXPECT_EQ(VAR::Count(), 4u);
  VAR::SetVar("@A", "");
  VAR::SetNumVar("@#B", 0);
  EXPECT_EQ(VAR::Count(), 2u);
  EXPECT_EQ(changes, 6);
  VAR::SetVar("1L", "local");
  VAR::Clear();
  std::vector<std::string> left;
  VAR::ForEach([&left](const std::string& n, const std::string& v, bool) { left.push_back(n + "=" + v); });
  EXPECT_EQ(left, std::vector<std::string>{"%P=p"});
}

TEST_F(ScriptValue, OrderOfTheListAndTheStoreLimit) {
  for (const char* n : {"@C", "@A", "@B"}) VAR::SetVar(n, "v");
  VAR::SetVar("@A", "changed");  // a change keeps its place
  std::vector<std::string> names;
  VAR::ForEach([&names](const std::string& n, const std::string&, bool) { names.push_back(n); });
  EXPECT_EQ(names, (std::vector<std::string>{"@C", "@A", "@B"}));
  // Past 64 MiB an assignment fails and changes nothing.
  const std::string value(1024, 'x');
  int made = 0;
  while (VAR::SetVar("@V" + std::to_string(made), value)) ++made;
  EXPECT_GT(made, 50000);
  EXPECT_LT(made, 66000);
  EXPECT_EQ(VAR::GetVar("@V" + std::to_string(made)), "");
  VAR::SetVar("@V0", "");  // room again after a deletion
  EXPECT_TRUE(VAR::SetVar("@V" + std::to_string(made), value));
}

}  // namespace
