// The interpreter's memory of where variables live: statements run again
// and again (loops, recursive calls) must see exactly what the store holds,
// through deletions, other levels and the permanent set's changed flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/var.h"
#include "support/script_peer.h"

namespace {

class VariableMemory : public ::testing::Test {
 protected:
  SCRIPTPEER peer;
};

TEST_F(VariableMemory, RepeatedStatementsSeeTheStore) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> sends;
  } cases[] = {
      {"a numeric variable deleted by 0 and made again",
       "##n = 0\nbeginloop\n##k = ##k + 5\nsend \"k\" + ##k\n##k = 0\n##n = ##n + 1\nif (##n == 3) breakloop\n"
       "endloop\n",
       {"k5", "k5", "k5"}},
      {"a string variable deleted by the empty string and made again",
       "##n = 0\nbeginloop\n#s = #s + \"a\"\nsend #s\nif (##n == 1) #s = \"\"\n##n = ##n + 1\n"
       "if (##n == 4) breakloop\nendloop\n",
       {"a", "aa", "a", "aa"}},
      {"another variable deleted between two readings",
       "#x = \"kept\"\n##n = 0\nbeginloop\nsend #x\n#y = \"\"\n#y = \"1\"\n##n = ##n + 1\nif (##n == 2) breakloop\n"
       "endloop\n",
       {"kept", "kept"}},
      {"each level of a recursive call has its own locals at the same statements",
       "call r\nexit\nr:\n@@d = @@d + 1\n##k = 0\nwhile (##k < 2)\n#mine = \"L\" + @@d\n##k = ##k + 1\nendwhile\n"
       "if (@@d < 3) call r\nsend #mine\n@@d = @@d - 1\nreturn\n",
       {"L3", "L2", "L1"}},
      {"a global and a level's local of the same spelling",
       "@v = \"global\"\n#v = \"local\"\ncall s\nsend @v + \" \" + #v\nexit\n"
       "s:\n#v = \"inner\"\n@v = @v + \"!\"\nsend #v\nreturn\n",
       {"inner", "global! local"}},
      {"an array element beside a plain variable of its stem",
       "##i = 0\nwhile (##i < 3)\n#a[##i] = \"e\" + ##i\n#a = \"plain\" + ##i\n##i = ##i + 1\nendwhile\n"
       "send #a[0] + #a[1] + #a[2] + #a\n",
       {"e0e1e2plain2"}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(peer.RunText(c.text)) << c.what;
    EXPECT_EQ(peer.sends, c.sends) << c.what;
    EXPECT_TRUE(peer.errors.empty()) << c.what;
  }
}

TEST_F(VariableMemory, ReplacingInPlaceMarksThePermanentSetAndNotifies) {
  // The first pass makes %P, the later ones replace it where it lives: each
  // must still mark the permanent set as changed and tell the list.
  std::vector<bool> changed;
  std::vector<int> noticesAtSend;
  int notices = 0;
  VAR::onChange = [&notices] { ++notices; };
  SCRIPT::hooks.send = [&](const std::string&) {
    changed.push_back(VAR::fPermanentChanged);
    noticesAtSend.push_back(notices);
    VAR::fPermanentChanged = false;
  };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("beginloop\n%p = \"v\" + ##n\nsend \"\"\n##n = ##n + 1\n"
                                        "if (##n == 3) breakloop\nendloop\n"));
  EXPECT_TRUE(peer.Run(10000));
  EXPECT_EQ(changed, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(VAR::GetVar("%P"), "v2");
  // One notice for each assignment: %P, then ##N and %P on each later pass.
  EXPECT_EQ(noticesAtSend, (std::vector<int>{1, 3, 5}));
}

}  // namespace
