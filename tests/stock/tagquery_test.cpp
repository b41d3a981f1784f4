// The matcher over short transcripts.  Each case runs twice through the real
// tool: on line (feed --tag --connect, lines matched as they arrive) and by
// re-tagging the same stock (stock retag); both must give the same tags, and
// the tags the case expects.  The same again with --no-color-online.
// In-process cases cover what a transcript cannot carry: the user's input
// mark, an unusable engine, a stopped re-tagging.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/jcode.h"
#include "platform/jre.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

struct Rule {
  std::string name;
  int level;
  std::string pattern;
  std::string exit{};
  int lines = 1;        // lines the pattern spans
  int cover = 1;
  bool alternative = false;
  bool message = false;  // has message rule 1
};

TAGPROP ToRecord(const Rule& r) {
  TAGPROP p = TagRecord(r.name, r.level, r.pattern, r.exit);
  p.cPatternLine = uint8_t(r.lines);
  p.cCover = uint8_t(r.cover);
  p.fAlternative = r.alternative ? 1 : 0;
  p.iSpeech = r.message ? 1 : 0;
  return p;
}

std::string WriteSyntax(const std::string& path, const std::vector<Rule>& rules) {
  TagFileContents contents;
  contents.records = SystemRecords();
  for (const Rule& r : rules) contents.records.push_back(ToRecord(r));
  TAGAID aid;
  std::memset(&aid, 0, sizeof aid);
  aid.kind = 1;
  contents.aids.push_back(aid);
  std::ofstream(path, std::ios::binary) << BuildTagFile(contents);
  return path;
}

struct TagLine {
  int tag;
  std::string text;
  bool operator==(const TagLine&) const = default;
  friend void PrintTo(const TagLine& l, std::ostream* os) { *os << l.tag << " \"" << l.text << "\""; }
};

// `stock tags` split into (tag, text), the connect lines included.
std::vector<TagLine> Tags(const std::string& stock, std::string* raw = nullptr) {
  ProcessResult r = RunProcess({kTool, "stock", "tags", stock}, "");
  EXPECT_EQ(r.status, 0);
  if (raw) *raw = r.out;
  std::vector<TagLine> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    size_t p = 0;
    for (;;) {
      size_t t = line.find('\t', p);
      f.push_back(line.substr(p, t == std::string::npos ? t : t - p));
      if (t == std::string::npos) break;
      p = t + 1;
    }
    if (f.size() < 4) continue;
    out.push_back({std::stoi(f[1]), f[3]});
  }
  // The newest line is the empty one after the last line feed.
  if (!out.empty() && out.back().text.empty() && out.back().tag == 0) out.pop_back();
  return out;
}

struct MatchCase {
  const char* name;
  std::vector<Rule> rules;
  std::vector<std::vector<std::string>> calls;  // each call's lines (UTF-8)
  std::vector<int> expect;                      // the tag of every line after each connect line
  int columns = 80;
};

const std::vector<MatchCase>& Cases() {
  static const std::vector<MatchCase> cases = {
      {"LevelTwoOnlyAfterLevelOne",
       {{"menu", 1, "^MENU"}, {"board", 2, "^BOARD"}},
       {{"BOARD a", "MENU", "BOARD b"}},
       {0, 4, 5}},
      {"ConnectLineRestartsAtLevelOne",
       {{"menu", 1, "^MENU"}, {"board", 2, "^BOARD"}},
       {{"MENU"}, {"BOARD x", "MENU", "BOARD y"}},
       {4, 0, 4, 5}},
      {"DeepestLevelWins",
       {{"x", 1, "^X"}, {"y", 2, "^Y"}, {"z", 3, "^Z"}, {"z1", 1, "^Z"}},
       {{"X", "Y", "Z", "Z"}},
       {4, 5, 6, 6}},
      {"FirstCandidateInRuleOrderWins",
       {{"a", 1, "^SAME"}, {"b", 1, "^SAME"}},
       {{"SAME"}},
       {4}},
      {"ExitPatternSuspendsRulesUntilItMatches",
       {{"list", 1, "^LIST", "end$"}, {"item", 1, "^ITEM"}},
       {{"LIST", "ITEM a", "ITEM end", "ITEM b"}},
       {4, 0, 5, 5}},
      {"QuotationsOnlyInsideMessages",
       {{"msg", 1, "^MSG", "", 1, 1, false, true}, {"note", 1, "^NOTE"}},
       {{"MSG 1", "> quoted", "text", "＞ quoted too", "NOTE", "> not quoted"}},
       {4, 2, 0, 2, 5, 0}},
      {"QuotationsWhileTheExitIsAwaited",
       {{"msg", 1, "^MSG", "^---", 1, 1, false, true}},
       {{"MSG", "> q", "MSG again", "---", "> after"}},
       {4, 2, 0, 0, 0}},
      {"TwoLinePatternTagsThePreviousLine",
       {{"title", 1, "^TITLE.*\\n^BY ", "", 2, 2}},
       {{"TITLE x", "BY y", "z"}},
       {4, 1, 0}},
      {"TwoLinePatternCoveringOneLine",
       {{"title", 1, "^TITLE.*\\n^BY ", "", 2, 1}},
       {{"TITLE x", "BY y", "z"}},
       {4, 0, 0}},
      {"MultiLineNeverReachesTheConnectLine",
       {{"pair", 1, "^.*\\n^FIRST", "", 2, 1}},
       {{"FIRST", "FIRST"}},
       {4, 0}},
      {"WrappedLineMatchedOnItsFirstTwoSlots",
       {{"c", 1, "C$"}, {"a", 1, "^A{80}$"}},
       {{std::string(90, 'A') + "C"}},
       {5},
       40},
      {"RuleCoveringThreeLines",
       {{"head", 1, "^HEAD", "", 1, 3}},
       {{"HEAD", "a", "b", "c"}},
       {4, 1, 1, 0}},
      {"PatternThatDoesNotCompileNeverMatches",
       {{"bad", 1, "^(bad"}, {"good", 1, "^GOOD"}},
       {{"(bad", "GOOD"}},
       {0, 5}},
      {"AlternativeSharesTheChildren",
       {{"a", 1, "^A"}, {"c", 2, "^C"}, {"b", 1, "^B", "", 1, 1, true}},
       {{"B", "C"}},
       {6, 5}},
      {"JapaneseLiteralAfterCaret",
       {{"board", 1, "^■ 掲示板 \\d+"}},
       {{"■ 掲示板 12: 雑談", "■ 掲示板", "掲示板 3"}},
       {4, 0, 0}},
  };
  return cases;
}

class MatchTable : public ::testing::TestWithParam<size_t> {};

std::string Sjis(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += jcode::Utf8ToSjis(l) + "\r\n";
  return s;
}

// Tags after each connect line, connect lines checked and left out.
std::vector<int> CallTags(const std::vector<TagLine>& lines) {
  std::vector<int> out;
  bool inCall = false;
  for (const TagLine& l : lines) {
    if (l.tag == TAG_CONNECT) {
      inCall = true;
      continue;
    }
    if (inCall) out.push_back(l.tag);
  }
  return out;
}

TEST_P(MatchTable, OnLineAndRetagAgree) {
  const MatchCase& c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
  TempDir dir;
  const std::string tag = WriteSyntax(dir.File("case.tag"), c.rules);
  for (bool offline : {false, true}) {
    const std::string stock = dir.File(offline ? "off.stk" : "on.stk");
    for (size_t k = 0; k < c.calls.size(); ++k) {
      std::vector<std::string> args = {kTool, "feed", stock, "--tag", tag, "--connect", "Host", "--date",
                                       "2026/12/10 10:0" + std::to_string(k), "--columns",
                                       std::to_string(c.columns)};
      if (offline) args.push_back("--no-color-online");
      ASSERT_EQ(RunProcess(args, Sjis(c.calls[k])).status, 0);
    }
    const std::vector<TagLine> online = Tags(stock);
    EXPECT_EQ(CallTags(online), c.expect) << (offline ? "at hang-up" : "on line");
    ASSERT_EQ(RunProcess({kTool, "stock", "retag", stock}, "").status, 0);
    const std::vector<TagLine> retagged = Tags(stock);
    EXPECT_EQ(retagged, online) << "re-tagging differs from matching " << (offline ? "at hang-up" : "on line");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MatchTable, ::testing::Range<size_t>(0, Cases().size()),
                         [](const testing::TestParamInfo<size_t>& i) { return std::string(Cases()[i.param].name); });

// ---------------------------------------------------------------------------
// In process

class TagQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    tagQueryHooks = TAGQUERYHOOKS{};
    tagQueryHooks.quotePrefixes = [] { return std::vector<std::string>{">"}; };
    ASSERT_TRUE(STOCK::Create(dir.File("t.stk"), 1000, 80, 0, 0, 0));
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
  void TearDown() override {
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
    JreSetUsable(true);
    tagQueryHooks = TAGQUERYHOOKS{};
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
  }
  // Appends a line; mark is its input column (0xFF none, 0xFE connect).
  static CODEVRAM Line(const std::string& utf8, unsigned char mark = STOCK_MARK_NONE) {
    CODEVRAM cv = cvNewest;
    const std::string s = jcode::Utf8ToSjis(utf8);
    STOCKITEM* item = STOCK::GetItem(cv);
    s.copy(item->Text(), s.size());
    item->cInput = mark;
    if (mark == STOCK_MARK_CONNECT) STOCK::SetConnectTag(cv);
    const CODEVRAM line = cv;
    cv.LineFeed();
    return line;
  }
  void Load(const std::vector<Rule>& rules) { ASSERT_EQ(TAGMAKER::Open(WriteSyntax(dir.File("x.tag"), rules)), 1); }
  TempDir dir;
};

TEST_F(TagQueryTest, QueryTextMarksTheInputColumnAndJoinsTwoSlots) {
  CODEVRAM a = Line("番号: 12", 6);
  char text[256];
  ASSERT_EQ(BuildQueryText(a, text), 9);
  EXPECT_EQ(std::string(text, 9), jcode::Utf8ToSjis("番号: ") + "\x0B" "12");
  // An empty cell inside the text is a blank.
  CODEVRAM b = cvNewest;
  STOCK::GetItem(b)->Text()[0] = 'x';
  STOCK::GetItem(b)->Text()[2] = 'y';
  const CODEVRAM gap = b;
  b.LineFeed();
  EXPECT_EQ(std::string(text, size_t(BuildQueryText(gap, text))), "x y");
}

TEST_F(TagQueryTest, QueryTextIsCutAtAWholeCharacter) {
  // Two 80-column slots of double-byte characters and a third: the cut at
  // 254 bytes may not leave half a character.
  std::string s;
  for (int k = 0; k < 130; ++k) s += "あ";
  TempDir d2;
  STOCK::ResetForTest();
  ASSERT_TRUE(STOCK::Create(d2.File("w.stk"), 1000, 200, 0, 0, 0));
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  CODEVRAM first = cvNewest;
  // 200 bytes in the first slot (continues), 60 in the second.
  const std::string sj = jcode::Utf8ToSjis(s);
  STOCKITEM* item = STOCK::GetItem(first);
  sj.copy(item->Text(), 200);
  CODEVRAM cv = first;
  cv.LineFeed();
  sj.copy(STOCK::GetItem(cv)->Text(), 60, 200);
  cv.LineFeed();
  char text[256];
  const int n = BuildQueryText(first, text);
  EXPECT_EQ(n, 254);
  EXPECT_EQ(std::string(text, size_t(n)), sj.substr(0, 254));
}

TEST_F(TagQueryTest, LineWithTheUsersInputIsNeverAQuotation) {
  Load({{"msg", 1, "^MSG", "", 1, 1, false, true}});
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  ASSERT_EQ(TAGMAKER::StartQuery(), 1);
  EXPECT_EQ(TAGMAKER::Query(Line("MSG 1")), 1);
  CODEVRAM typed = Line("> typed by the user", 0);
  EXPECT_EQ(TAGMAKER::Query(typed), 0);
  EXPECT_EQ(typed.Tag(), TAG_NONE);
  CODEVRAM quoted = Line("> from the host");
  EXPECT_EQ(TAGMAKER::Query(quoted), 2);
  EXPECT_EQ(quoted.Tag(), TAG_QUOTE);
}

TEST_F(TagQueryTest, NoRulesOrNoEngineMeansNoRun) {
  EXPECT_EQ(TAGMAKER::StartQuery(), 0) << "the empty syntax has no rules";
  Load({{"menu", 1, "^MENU"}});
  JreSetUsable(false);
  EXPECT_EQ(TAGMAKER::StartQuery(), 0);
  CODEVRAM c = Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  CODEVRAM m = Line("MENU");
  EXPECT_EQ(TAGMAKER::Query(m), 0);
  ASSERT_EQ(TREE::RefreshTagAll(0), 1);
  EXPECT_EQ(c.Tag(), TAG_CONNECT);
  EXPECT_EQ(m.Tag(), TAG_NONE);
  JreSetUsable(true);
  ASSERT_EQ(TREE::RefreshTagAll(0), 1);
  EXPECT_EQ(m.Tag(), 4);
}

TEST_F(TagQueryTest, RetagLeavesLinesBeforeTheFirstCallUntaggedAndRefusesOnLine) {
  Load({{"menu", 1, "^MENU"}});
  CODEVRAM before = Line("MENU");
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  CODEVRAM after = Line("MENU");
  STOCK::aTag[size_t(before.i)] = 7;
  ASSERT_EQ(TREE::RefreshTagAll(0), 1);
  EXPECT_EQ(before.Tag(), TAG_NONE);
  EXPECT_EQ(after.Tag(), 4);
  ui::ScopedRecordingFacade ui;
  tagQueryHooks.online = [] { return true; };
  EXPECT_EQ(TREE::RefreshTagAll(0), 0);
  ASSERT_EQ(ui.rec.boxes.size(), 1u);
  EXPECT_EQ(ui.rec.boxes[0].text, "オンライン中はこの処理はできません。");
}

TEST_F(TagQueryTest, QuestionsByReasonAndNoDeclines) {
  Load({{"menu", 1, "^MENU"}});
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  CODEVRAM m = Line("MENU");
  ui::ScopedRecordingFacade ui;
  ui.rec.answers = {ui::IDNO, ui::IDNO, ui::IDYES};
  EXPECT_EQ(TREE::RefreshTagAll(1), 0);
  EXPECT_EQ(TREE::RefreshTagAll(4), 0);
  EXPECT_EQ(m.Tag(), TAG_NONE);
  EXPECT_EQ(TREE::RefreshTagAll(2), 1);
  EXPECT_EQ(m.Tag(), 4);
  ASSERT_EQ(ui.rec.boxes.size(), 3u);
  EXPECT_EQ(ui.rec.boxes[0].text, "カラー構文の再計算をしますか？");
  EXPECT_NE(ui.rec.boxes[1].text.find("異常終了した形跡があります。"), std::string::npos);
  EXPECT_NE(ui.rec.boxes[1].text.find("\n\nカラー構文の再計算をしますか？"), std::string::npos);
  EXPECT_EQ(ui.rec.boxes[2].text.rfind("カラー構文定義ファイル（", 0), 0u);
  EXPECT_EQ(ui.rec.boxes[2].text.find("今すぐ読み込み直しして"), std::string::npos);
}

TEST_F(TagQueryTest, StoppedRetagKeepsWhatWasDoneAndReportsIncomplete) {
  Load({{"menu", 1, "^MENU"}});
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  std::vector<CODEVRAM> lines;
  for (int k = 0; k < 500; ++k) lines.push_back(Line("MENU " + std::to_string(k)));
  int steps = 0, begun = 0;
  tagQueryHooks.progressBegin = [&](int n) { begun = n; };
  tagQueryHooks.progressStep = [&](int) { return ++steps < 2; };
  EXPECT_EQ(TREE::RefreshTagAll(0), 0);
  EXPECT_EQ(begun, 3);  // 502 lines, one step per 200
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(lines[100].Tag(), 4) << "done before the stop";
  EXPECT_EQ(lines[450].Tag(), TAG_NONE) << "not reached";
}

TEST_F(TagQueryTest, LeadingLiteral) {
  const struct {
    const char* pattern;
    const char* literal;
  } rows[] = {
      {"^MENU", "MENU"},     {"^MENU+", "MENU"},     {"^AB|CD", ""},       {"^A(B|C)", "A"},
      {"MENU", ""},          {"^[AB]", ""},         {"^A\\d", "A"},       {"^AB?", "A"},
      {"^AB{2}", "A"},       {"^A.B", "A"},         {"^A[|]B", "A"},
  };
  for (const auto& r : rows) EXPECT_EQ(LeadingLiteral(r.pattern), r.literal) << r.pattern;
  // Shift_JIS: a trail byte 0x7C ("|") or 0x5C ("\") is part of its character.
  const std::string hyou = jcode::Utf8ToSjis("^表示");  // 表 is 0x95 0x5C
  EXPECT_EQ(LeadingLiteral(hyou.c_str()), hyou.substr(1));
}

TEST_F(TagQueryTest, ClearLowLevelTagsKeepsConnectLines) {
  CODEVRAM c = Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  CODEVRAM a = Line("a");
  STOCK::aTag[size_t(a.i)] = 5;
  TAGMAKER::ClearLowLevelTags();
  EXPECT_EQ(c.Tag(), TAG_CONNECT);
  EXPECT_EQ(a.Tag(), TAG_NONE);
}

// The literal test in front of the engine decides nothing: the same lines
// give the same tags with it and without it, including a literal made
// optional by a quantifier, literals whose trail byte is "\" or "|", and a
// two-line pattern that matches at the second line's start.
TEST_F(TagQueryTest, LiteralTestChangesNoTag) {
  Load({{"menu", 1, "^MENU"},
        {"optional", 1, "^AB?C"},
        {"trail", 1, "^表示"},  // 表 is 0x95 0x5C
        {"kana", 1, "^ｶﾅ+表"},
        {"pair", 1, "^#[0-9]+ .*\\n^★", "", 2},
        {"second", 1, "^Z\\n?W", "", 2},
        {"either", 1, "^X|^Y"},
        {"group", 1, "^Q(?:ab|cd)$"},
        {"bar", 1, "^ポ"}});  // ポ is 0x83 0x7C
  const struct {
    const char* text;
    int tag;
  } rows[] = {
      {"MENU", 4},      {"MENUS", 4}, {" MENU", 0}, {"ABC", 5},   {"AC", 5},     {"ABBC", 0},
      {"表示", 6},      {"表", 0},     {"ｶﾅﾅ表", 7}, {"ｶ表", 0},   {"#12 title", 8}, {"★x", 0},
      // "ZW" is matched twice: as the second line after "plain" (which
      // takes the tag) and as the first line before "-".
      {"Z", 9},         {"W", 0},      {"plain", 9}, {"ZW", 9},    {"-", 0},      {"X1", 10},
      {"Y1", 10},
      {"Qab", 11},      {"Qcd", 11},   {"Qx", 0},    {"ポイント", 12}, {"|", 0},
  };
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  std::vector<CODEVRAM> lines;
  for (const auto& r : rows) lines.push_back(Line(r.text));
  auto run = [&](bool literalTest) {
    TagQuerySetPrefilter(literalTest);
    TAGMAKER::ClearLowLevelTags();
    EXPECT_EQ(TAGMAKER::StartQuery(), 1);
    for (CODEVRAM cv : lines) TAGMAKER::Query(cv);
    TAGMAKER::EndQuery();
    std::vector<int> tags;
    for (CODEVRAM cv : lines) tags.push_back(cv.Tag());
    return tags;
  };
  const std::vector<int> with = run(true), without = run(false);
  TagQuerySetPrefilter(true);
  std::vector<int> expect;
  for (const auto& r : rows) expect.push_back(r.tag);
  EXPECT_EQ(with, expect);
  EXPECT_EQ(without, with);
}

// Every rule has a literal here, so lines whose first byte starts none of
// them are passed without their text; a two-line pattern must still see
// such a line as its first or second line.
TEST_F(TagQueryTest, LinesNoLiteralCanStartChangeNoTag) {
  Load({{"menu", 1, "^MENU"},
        {"pair", 1, "^#[0-9]+ .*\\n^★", "", 2},
        {"tail", 1, "^x\\n^Z", "", 2},
        {"trail", 1, "^表示"}});
  const struct {
    const char* text;
    int tag;
  } rows[] = {
      {"plain", 0}, {" MENU", 0}, {"MENU", 4},  {"", 0},   {"#12 a", 5}, {"★b", 0},
      {"#3 c", 0},  {"-", 0},     {"x", 6},     {"Z", 0},  {"y", 0},     {"Z", 0},
      {"表示", 7},  {"表", 0},
  };
  Line("Host - 2026/12/10 10:00", STOCK_MARK_CONNECT);
  std::vector<CODEVRAM> lines;
  for (const auto& r : rows) lines.push_back(Line(r.text));
  auto run = [&](bool literalTest) {
    TagQuerySetPrefilter(literalTest);
    TAGMAKER::ClearLowLevelTags();
    EXPECT_EQ(TAGMAKER::StartQuery(), 1);
    for (CODEVRAM cv : lines) TAGMAKER::Query(cv);
    TAGMAKER::EndQuery();
    std::vector<int> tags;
    for (CODEVRAM cv : lines) tags.push_back(cv.Tag());
    return tags;
  };
  const std::vector<int> with = run(true), without = run(false);
  TagQuerySetPrefilter(true);
  std::vector<int> expect;
  for (const auto& r : rows) expect.push_back(r.tag);
  EXPECT_EQ(with, expect);
  EXPECT_EQ(without, with);
}

}  // namespace

namespace {

// Titles: each element over a small stock, the rule given its pattern.
class TagTitleTest : public TagQueryTest {
 protected:
  // Loads one rule and tags `line` with it.
  void Rule4(const std::string& pattern, CODEVRAM line, int lines = 1) {
    Rule r{"rule", 1, pattern};
    r.lines = lines;
    TAGPROP p = ToRecord(r);
    PutSjis(p.szLibPattern, sizeof p.szLibPattern, jcode::SjisToUtf8(RemoveTitleMarks(p.szPattern)));
    TagFileContents contents;
    contents.records = SystemRecords();
    contents.records.push_back(p);
    std::ofstream(dir.File("t.tag"), std::ios::binary) << BuildTagFile(contents);
    ASSERT_EQ(TAGMAKER::Open(dir.File("t.tag")), 1);
    STOCK::aTag[size_t(line.i)] = 4;
  }
  // Runs a template text; *ok the runner's flag.
  std::string Title(CODEVRAM line, const std::string& templ, int* ok = nullptr) {
    unsigned char bytes[120];
    EXPECT_EQ(CompileTitleTemplate(jcode::Utf8ToSjis(templ), bytes, 120), TITLE_COMPILED) << templ;
    std::string out;
    const int r = TREE::GetTagTitleSub(line, bytes, 120, &out);
    if (ok) *ok = r;
    return jcode::SjisToUtf8(out);
  }
};

TEST_F(TagTitleTest, GroupSplitWhereTheBackPartMatchesTwice) {
  CODEVRAM b = Line("BOARD 12: x: y");
  Rule4("^BOARD \\f[0-9]+\\f: ", b);
  int ok = 0;
  EXPECT_EQ(Title(b, "\\1", &ok), "12");
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Title(b, "[\\2]"), "[: x: y]") << "the last group runs to the end of the text";
  EXPECT_EQ(Title(b, "\\3", &ok), "");
  EXPECT_EQ(ok, 0) << "a group beyond the marks fails";
}

TEST_F(TagTitleTest, Elements) {
  CODEVRAM t = Line("■ 掲示板 3: 雑談");
  Line("#0042/0100 97/10/12 23:45");
  Line("★題名 (taro)  97/10/12");
  Line("（#0040 へのコメント）");
  Rule4("^■ 掲示板 \\f\\d+\\f: ", t);
  const struct {
    const char* templ;
    const char* title;
    int ok;
  } rows[] = {
      {"abc", "abc", 1},
      {"\\(0,1,5)", "#0042", 1},
      {"\\(-8,1)", "12 23:45", 1},              // negative column: from the end
      {"\\(0,9)", "", 0},                       // no such line
      {"\\(\"[0-9]+/\")", "0042/", 1},          // mode 3: the match
      {"\\(\"#\",1)", "0042/0100 97/10/12 23:45", 1},  // mode 1: after the match
      {"\\(\"/0100\",2)", "#0042", 1},          // mode 2: line start to the match
      {"\\(\"★\",0,4)", "★題", 1},              // mode 0 cut to 4 bytes
      {"\\(\"nothing\")", "", 0},
      {"\\s(0,3,20,\"#\",1)", "0040 へのコメント", 1},   // the piece is 20 bytes
      {"\\r(0,2,30,\"[a-z]+\",3)", "taro", 1},
      {"\\s(0,2,30,\"TARO\",19)", "taro", 1},   // 16 ignore case + mode 3
      {"\\s(0,2,30,\"9\",9)", "7/10/12", 1},    // 8 the last one, mode 1: after it
      {"\\s(0,2,30,\"zz\",35)", "★題名 (taro)  97/10/12", 1},  // 32 whole when none
      {"\\p(\\(0,1),1,4)", "0042", 1},
      {"\\p(\\(0,1),-5,5)", "23:45", 1},
      {"x\\-y", "x", 1},
  };
  for (const auto& r : rows) {
    int ok = -1;
    EXPECT_EQ(Title(t, r.templ, &ok), r.title) << r.templ;
    EXPECT_EQ(ok, r.ok) << r.templ;
  }
}

TEST_F(TagTitleTest, MenuLineChosenByTheUsersInput) {
  CODEVRAM t = Line("会議室");
  Line(" 1 雑談");
  Line(" 2 技術");
  Line("番号: 2", 6);
  Rule4("^会議室", t);
  EXPECT_EQ(Title(t, "\\(3,NIF)"), "技術");
  CODEVRAM u = Line("会議室");
  STOCK::aTag[size_t(u.i)] = 4;
  Line("no choice");
  EXPECT_EQ(Title(u, "\\(3,NIF)"), "一覧");
}

TEST_F(TagTitleTest, TagTitleConnectTitleAndCache) {
  CODEVRAM c = Line("Host - 2026/12/10 10:05", STOCK_MARK_CONNECT);
  EXPECT_STREQ(TREE::GetConnectTitle(c, 0), "12/10 10:05 Host");
  EXPECT_STREQ(TREE::GetConnectTitle(c, 1), "10:05 Host");
  CODEVRAM b = Line("BOARD 7: news");
  CODEVRAM after = Line("text");
  Rule4("^BOARD \\f[0-9]+\\f: ", b);
  TAGPROP* p = TAGMAKER::GetTagProp(4);
  ASSERT_EQ(CompileTitleTemplate("N\\1", p->abTitle, 120), TITLE_COMPILED);
  EXPECT_STREQ(TREE::GetTagTitle(after), "N7") << "an untagged line belongs to the tag above";
  EXPECT_STREQ(TREE::GetTagTitle(c), "12/10 10:05 Host");
  std::memset(p->abTitle, 0, sizeof p->abTitle);
  EXPECT_STREQ(TREE::GetTagTitle(b), "rule") << "an empty template gives the name";
}

}  // namespace
