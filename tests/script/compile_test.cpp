// The script compiler: sources against their expected atom listings, and
// every compile message with the line it names.
#include <gtest/gtest.h>

#include <string>

#include "script/atoms.h"
#include "script/listing.h"
#include "script/newscript.h"
#include "script/scriptmsg.h"
#include "support/temp_dir.h"

namespace {

std::string Listing(const std::string& source) {
  NEWSCRIPT s;
  if (!s.LoadFromMemory(source))
    return "error " + std::to_string(s.error.id) + " line " + std::to_string(s.error.line);
  return ListProgram(s);
}

struct ListingCase {
  const char* what;
  std::string source;
  std::string listing;
};

TEST(ScriptCompile, Listings) {
  const ListingCase cases[] = {
      {"lower case keyword, comment after the string", "send \"Hi\" ; a comment \"x\n",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"Hi\"\n"
       "000006 131 LINENO 2\n"
       "000009 131 LINENO 2\n"
       "const 000000 \"Hi\"\n"},
      {"a backslash joins the next line; the tail without LF is a line", "send \"a\", \\\n \"b\"\nwait \"x\"",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"a\"\n"
       "000006 136 ,\n"
       "000007 166 STRING 000002 \"b\"\n"
       "00000c 131 LINENO 3\n"
       "00000f 001 WAIT\n"
       "000010 166 STRING 000004 \"x\"\n"
       "000015 131 LINENO 4\n"
       "000018 131 LINENO 4\n"
       "const 000000 \"a\"\n"
       "const 000002 \"b\"\n"
       "const 000004 \"x\"\n"},
      {"1.5 and NAME.EXT:LABEL are words; CALL takes its target raw", "port stopbit = 01.5\ncall sub.hsc:start, 3\n",
       "000000 039 PORT\n"
       "000001 165 WORD \"STOPBIT\"\n"
       "00000a 140 ==\n"
       "00000b 165 WORD \"1.5\"\n"
       "000010 131 LINENO 2\n"
       "000013 128 CALL \"SUB.HSC:START\"\n"
       "000022 136 ,\n"
       "000023 167 NUMBER 3\n"
       "000028 131 LINENO 3\n"
       "00002b 131 LINENO 3\n"},
      {"labels, alone and before a statement; GOTO's target is a word", "start: send \"a\"\nloop:\ngoto start\n",
       "000000 127 LABEL \"START\"\n"
       "000007 002 SEND\n"
       "000008 166 STRING 000000 \"a\"\n"
       "00000d 131 LINENO 2\n"
       "000010 127 LABEL \"LOOP\"\n"
       "000016 131 LINENO 3\n"
       "000019 085 GOTO\n"
       "00001a 165 WORD \"START\"\n"
       "000021 131 LINENO 4\n"
       "000024 131 LINENO 4\n"
       "label 000007 \"START\"\n"
       "label 000016 \"LOOP\"\n"
       "const 000000 \"a\"\n"},
      {"every caret escape; a string open at the line end", "send \"^M^j^^^\"^041^01B^0G^[x^\"",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"^M^J^^^\"A^01B0G[x^\"\"\n"
       "000006 131 LINENO 2\n"
       "000009 131 LINENO 2\n"
       "const 000000 \"^M^J^^^\"A^01B0G[x^\"\"\n"},
      {"a trailing caret stands alone", "send \"ab^",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"ab^^\"\n"
       "000006 131 LINENO 2\n"
       "000009 131 LINENO 2\n"
       "const 000000 \"ab^^\"\n"},
      {"the empty literal reuses the previous NUL", "send \"x\"\nsend \"\"\n",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"x\"\n"
       "000006 131 LINENO 2\n"
       "000009 002 SEND\n"
       "00000a 166 STRING 000001 \"\"\n"
       "00000f 131 LINENO 3\n"
       "000012 131 LINENO 3\n"
       "const 000000 \"x\"\n"},
      {"% before a blank is the remainder, before a letter a variable", "##a = 10 % 3\n%p = %q\n",
       "000000 130 代入 \"##A\"\n"
       "000005 140 ==\n"
       "000006 167 NUMBER 10\n"
       "00000b 150 %\n"
       "00000c 167 NUMBER 3\n"
       "000011 131 LINENO 2\n"
       "000014 130 代入 \"%P\"\n"
       "000018 140 ==\n"
       "000019 168 VARIABLE \"%Q\"\n"
       "00001d 131 LINENO 3\n"
       "000020 131 LINENO 3\n"},
      {"full-width space separates; kanji words, labels and strings keep their bytes",
       "send\x81\x40\"\x8a\xbf\"\n\x8a\xbf\x8e\x9a:\ngoto \x8a\xbf\x8e\x9a\n",
       "000000 002 SEND\n"
       "000001 166 STRING 000000 \"漢\"\n"
       "000006 131 LINENO 2\n"
       "000009 127 LABEL \"漢字\"\n"
       "00000f 131 LINENO 3\n"
       "000012 085 GOTO\n"
       "000013 165 WORD \"漢字\"\n"
       "000019 131 LINENO 4\n"
       "00001c 131 LINENO 4\n"
       "label 00000f \"漢字\"\n"
       "const 000000 \"漢\"\n"},
      {"loop closers carry their opener's offset", "beginloop\nwhile (#a)\nloopagain\nendwhile\nendloop\n",
       "000000 023 BEGINLOOP\n"
       "000001 131 LINENO 2\n"
       "000004 026 WHILE\n"
       "000005 171 (\n"
       "000006 168 VARIABLE \"#A\"\n"
       "00000a 169 )\n"
       "00000b 131 LINENO 3\n"
       "00000e 134 LOOPAGAIN 000004\n"
       "000013 131 LINENO 4\n"
       "000016 133 ENDWHILE 000004\n"
       "00001b 131 LINENO 5\n"
       "00001e 132 ENDLOOP 000000\n"
       "000023 131 LINENO 6\n"
       "000026 131 LINENO 6\n"},
      {"a statement after a condition and after ELSE; open brackets closed at the line end",
       "if (yes) exit\nelse if ((1\n",
       "000000 024 IF\n"
       "000001 171 (\n"
       "000002 151 YES\n"
       "000003 169 )\n"
       "000004 014 EXIT\n"
       "000005 131 LINENO 2\n"
       "000008 027 ELSE\n"
       "000009 024 IF\n"
       "00000a 171 (\n"
       "00000b 171 (\n"
       "00000c 167 NUMBER 1\n"
       "000011 169 )\n"
       "000012 169 )\n"
       "000013 131 LINENO 3\n"
       "000016 131 LINENO 3\n"},
      {"keyword values, functions without their bracket, statement words as words",
       "timeout 5\n#n[1] = length(\"ab\") + value(#s) - -2\nwait wildcard postmilliidle(10) \"x\", timeout, error\n",
       "000000 018 TIMEOUT\n"
       "000001 167 NUMBER 5\n"
       "000006 131 LINENO 2\n"
       "000009 130 代入 \"#N\"\n"
       "00000d 170 [\n"
       "00000e 167 NUMBER 1\n"
       "000013 169 )\n"
       "000014 140 ==\n"
       "000015 184 LENGTH\n"
       "000016 166 STRING 000000 \"ab\"\n"
       "00001b 169 )\n"
       "00001c 146 +\n"
       "00001d 185 VALUE\n"
       "00001e 168 VARIABLE \"#S\"\n"
       "000022 169 )\n"
       "000023 147 -\n"
       "000024 147 -\n"
       "000025 167 NUMBER 2\n"
       "00002a 131 LINENO 3\n"
       "00002d 001 WAIT\n"
       "00002e 164 WILDCARD\n"
       "00002f 173 POSTMILLIIDLE\n"
       "000030 167 NUMBER 10\n"
       "000035 169 )\n"
       "000036 166 STRING 000003 \"x\"\n"
       "00003b 136 ,\n"
       "00003c 155 TIMEOUT\n"
       "00003d 136 ,\n"
       "00003e 154 ERROR\n"
       "00003f 131 LINENO 4\n"
       "000042 131 LINENO 4\n"
       "const 000000 \"ab\"\n"
       "const 000003 \"x\"\n"},
      {"other spellings; a number-word keeps the wrapped value; digits wrap",
       "milisleep 4294967297\nmilitimeout 4294967297.25\nsend postmiliidle(1)\n",
       "000000 070 MILLISLEEP\n"
       "000001 167 NUMBER 1\n"
       "000006 131 LINENO 2\n"
       "000009 071 MILLITIMEOUT\n"
       "00000a 165 WORD \"1.25\"\n"
       "000010 131 LINENO 3\n"
       "000013 002 SEND\n"
       "000014 173 POSTMILLIIDLE\n"
       "000015 167 NUMBER 1\n"
       "00001a 169 )\n"
       "00001b 131 LINENO 4\n"
       "00001e 131 LINENO 4\n"},
  };
  for (const ListingCase& c : cases) EXPECT_EQ(Listing(c.source), c.listing) << c.what;
}

struct ErrorCase {
  const char* what;
  std::string source;
  int id;
  int line;
  std::string source_at;  // the source text from the error on
};

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ScriptCompile, EveryMessageWithItsLine) {
  const ErrorCase cases[] = {
      {"not a keyword", "send 1\nfoo bar\n", scriptmsg::SYNTAX, 2, "FOO BAR"},
      {"a string cannot start a statement", "\"x\"\n", scriptmsg::SYNTAX, 1, "\"x\""},
      {"NOT is no statement", "not 1\n", scriptmsg::SYNTAX, 1, "NOT 1"},
      {"IF needs a bracket", "\n\nif yes exit\n", scriptmsg::SYNTAX, 3, "YES EXIT"},
      {"an assignment needs =", "#a 1\n", scriptmsg::SYNTAX, 1, "1"},
      {"a subscript left open", "#a[1 = 2\n", scriptmsg::SYNTAX, 1, "#A[1 = 2"},
      {"a function needs its bracket", "send length 3\n", scriptmsg::SYNTAX, 1, "LENGTH 3"},
      {"no such operator", "send 1 $ 2\n", scriptmsg::SYNTAX, 1, "$ 2"},
      {"continued lines report the later line", "send \"a\", \\\n  \\\n  ! 1\n", scriptmsg::SYNTAX, 3, "! 1"},
      {"empty file", "", scriptmsg::EMPTY, 0, ""},
      {"comments and blanks only", "; nothing\n   \n\t; more\n", scriptmsg::EMPTY, 0, ""},
      {"a closer without a loop", "send 1\nendloop\n", scriptmsg::NO_LOOP_TO_CLOSE, 2, "ENDLOOP"},
      {"LOOPAGAIN without a loop", "loopagain\n", scriptmsg::NO_LOOP_TO_CLOSE, 1, "LOOPAGAIN"},
      {"a 21st loop", Repeat("beginloop\n", 20) + "while (1)\n", scriptmsg::LOOP_NEST_LIMIT, 21, "WHILE (1)"},
      {"65 brackets", "send " + Repeat("(", 65) + "1\n", scriptmsg::BRACKETS, 1, "(1"},
      {"a literal over 1024 bytes", "send \"" + Repeat("a", 1025) + "\"\n", scriptmsg::LITERAL_TOO_LONG, 1,
       "\"" + Repeat("a", 1025) + "\""},
      {"code buffer full", Repeat("send 1,1,1,1,1,1,1,1,1,1\n", 3200), scriptmsg::CODE_BUFFER_FULL, 3121, ""},
      {"label buffer full", [] {
         std::string s;
         for (int i = 0; i < 2000; ++i) s += "L" + std::to_string(100000 + i) + Repeat("X", 23) + ":\n";
         return s;
       }(),
       scriptmsg::LABEL_BUFFER_FULL, 1873, ""},
  };
  for (const ErrorCase& c : cases) {
    NEWSCRIPT s;
    EXPECT_FALSE(s.LoadFromMemory(c.source)) << c.what;
    EXPECT_EQ(s.error.id, c.id) << c.what;
    EXPECT_EQ(s.error.line, c.line) << c.what;
    EXPECT_EQ(s.error.message, scriptmsg::Text(c.id)) << c.what;
    if (!c.source_at.empty()) {
      EXPECT_EQ(s.error.source, c.source_at) << c.what;
    }
    EXPECT_TRUE(s.Code().empty() && s.Labels().empty() && s.Constants().empty()) << c.what;
  }
}

TEST(ScriptCompile, TwentyLoopsAndLongLinesAreFine) {
  NEWSCRIPT s;
  EXPECT_TRUE(s.LoadFromMemory(Repeat("beginloop\n", 20) + Repeat("endloop\n", 20)));
  EXPECT_TRUE(s.warnings.empty());
  // A line of any length compiles; a literal of exactly 1024 bytes too.
  EXPECT_TRUE(s.LoadFromMemory("send " + Repeat("1+", 5000) + "\"" + Repeat("b", 1024) + "\"\n"));
  EXPECT_TRUE(s.LoadFromMemory("send " + Repeat("(", 64) + "1" + Repeat(")", 64)));
}

TEST(ScriptCompile, WarningsOfTheChecker) {
  NEWSCRIPT s;
  ASSERT_TRUE(s.LoadFromMemory("a:\nsend 1\na: send 2\nwhile (1)\nendloop\nbeginloop\nendwhile\nbeginloop\n"));
  ASSERT_EQ(s.warnings.size(), 4u);
  EXPECT_EQ(s.warnings[0].id, scriptmsg::LABEL_TWICE);
  EXPECT_EQ(s.warnings[0].line, 3);
  EXPECT_EQ(s.warnings[1].id, scriptmsg::WHILE_MISMATCH);
  EXPECT_EQ(s.warnings[1].line, 5);
  EXPECT_EQ(s.warnings[2].id, scriptmsg::WHILE_MISMATCH);
  EXPECT_EQ(s.warnings[2].line, 7);
  EXPECT_EQ(s.warnings[3].line, 8);  // the loop left open, at its opener
  // Labels resolve to their first definition.
  EXPECT_EQ(s.GetLabelAddress("A"), 3u);
  EXPECT_FALSE(s.GetLabelAddress("a").has_value());
}

TEST(ScriptCompile, FilesAndTheScrAlternative) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("only.hsc"), "send 1\r\nsend 2\r\n"));
  NEWSCRIPT s;
  ASSERT_TRUE(s.Load(dir.File("only.scr")));  // .scr missing: the .hsc is read
  EXPECT_EQ(s.FileName(), dir.File("only.hsc"));
  // CR before LF is a blank.
  EXPECT_EQ(ListProgram(s),
            "000000 002 SEND\n000001 167 NUMBER 1\n000006 131 LINENO 2\n"
            "000009 002 SEND\n00000a 167 NUMBER 2\n00000f 131 LINENO 3\n000012 131 LINENO 3\n");
  EXPECT_FALSE(s.Load(dir.File("none.hsc")));
  EXPECT_EQ(s.error.id, scriptmsg::LOAD_FAILED);
  EXPECT_EQ(s.error.message, std::string(scriptmsg::Text(scriptmsg::LOAD_FAILED)) + dir.File("none.hsc"));
}

TEST(ScriptCompile, IteratorStopsAtATruncatedPayload) {
  const uint8_t code[] = {atom::SEND, atom::NUMBER, 1, 2, 3, 4, atom::WORD, 'A', 'B'};
  ATOMITERATOR it(code, sizeof code);
  ATOMREF a;
  ASSERT_TRUE(it.Next(a));
  EXPECT_EQ(a.atom, atom::SEND);
  ASSERT_TRUE(it.Next(a));
  EXPECT_EQ(a.Number(), 0x04030201);
  EXPECT_FALSE(it.Next(a));  // the word has no NUL inside the stream
}

}  // namespace
