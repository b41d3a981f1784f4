// The overall tree built from small stocks: the shown window and its groups
// per style, the nodes under a call, levels and extents, titles that wait
// for their lines, and the older calls moved into the window.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <cstring>
#include <fstream>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tagtemplate.h"
#include "stock/tree.h"
#include "stock/tree_model.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

struct TreeRule {
  std::string name;
  int level;
  bool variable = false;
  std::string exit{};
  std::string title = "\\(0,0)";  // the line's own text
  int titleLines = 0;             // byte 353
};

enum : int { LIST = 4, BOARD, HIDDEN, MSG, WHO, VAR, WAIT2, WAITANY };

const std::vector<TreeRule> kRules = {
    {"list", 1},
    {"board", 2},
    {"hidden", 2, false, "", "\\-"},
    {"msg", 3},
    {"who", 1, false, "^$"},
    {"var", 1, true},
    {"wait2", 1, false, "", "\\(0,2)", 2},
    {"waitany", 1, false, "", "\\(0,1)", 0xFF},
};

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
    InstallTagEngine();
    ASSERT_TRUE(STOCK::Create(dir.File("t.stk"), 1000, 80, 0, 0, 0));
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    TagFileContents contents;
    contents.records = SystemRecords();
    for (const TreeRule& r : kRules) {
      TAGPROP p = TagRecord(r.name, r.level, "^never matched$", r.exit);
      p.fVariable = r.variable ? 1 : 0;
      ASSERT_EQ(CompileTitleTemplate(jcode::Utf8ToSjis(r.title), p.abTitle, 120), TITLE_COMPILED);
      p.cTitleLine = uint8_t(r.titleLines);
      contents.records.push_back(p);
    }
    std::ofstream(dir.File("t.tag"), std::ios::binary) << BuildTagFile(contents);
    ASSERT_EQ(TAGMAKER::Open(dir.File("t.tag")), 1);
    TREE::TreeStyle = 0;
    TREE::TreeDay = 7;
    TREE::TreeConnect = 15;
  }
  void TearDown() override {
    TREE::Initialize(2);
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
  }

 public:
  // Appends a line with a tag (connect lines: the mark and tag 3).
  static CODEVRAM Line(const std::string& utf8, int tag = 0) {
    CODEVRAM cv = cvNewest;
    const std::string s = jcode::Utf8ToSjis(utf8);
    STOCKITEM* item = STOCK::GetItem(cv);
    s.copy(item->Text(), s.size());
    if (tag == TAG_CONNECT) {
      item->cInput = STOCK_MARK_CONNECT;
      STOCK::SetConnectTag(cv);
    } else {
      STOCK::aTag[size_t(cv.i)] = uint8_t(tag);
    }
    const CODEVRAM line = cv;
    cv.LineFeed();
    return line;
  }
  static CODEVRAM Call(const std::string& date) {
    return Line(date.empty() ? "Plain" : "Host - " + date, TAG_CONNECT);
  }
  static std::string Built(int style, int days, int calls, bool all = false, bool lines = false) {
    TREE::TreeStyle = style;
    TREE::TreeDay = days;
    TREE::TreeConnect = calls;
    TREE::Initialize(2);
    if (all) TREE::ExpandPastAll();
    return TREE::Text(lines);
  }
  ui::ScopedRecordingFacade facade;
  TempDir dir;
};

// Calls from oldest to newest: one without a date, then dates across a year
// end, a Wednesday, a Friday with two calls and the next Wednesday.
void EightCalls() {
  for (const char* d : {"", "2025/04/03 07:00", "2025/12/31 23:00", "2026/01/01 08:00", "2026/04/01 10:00",
                        "2026/04/03 09:00", "2026/04/03 21:00", "2026/04/08 12:00"})
    TreeTest::Call(d);
}

struct WindowCase {
  const char* name;
  int style, days, calls;
  bool all;
  const char* expected;
};

const WindowCase kWindows[] = {
    {"PerCallOneDayThreeCalls", 0, 1, 3, false,
     "t.stk\n  昔の分...\n  04/03 09:00 Host\n  04/03 21:00 Host\n  04/08 12:00 Host\n"},
    {"PerCallDaysReachBack", 0, 8, 1, false,
     "t.stk\n  昔の分...\n  04/01 10:00 Host\n  04/03 09:00 Host\n  04/03 21:00 Host\n  04/08 12:00 Host\n"},
    {"PerDayOneDayThreeGroups", 1, 1, 3, false,
     "t.stk\n  昔の分...\n  4月 1日 ( 1回)\n    10:00 Host\n  4月 3日 ( 2回)\n    09:00 Host\n    21:00 Host\n"
     "  4月 8日 ( 1回)\n    12:00 Host\n"},
    {"PerDaySixDays", 1, 6, 1, false,
     "t.stk\n  昔の分...\n  4月 3日 ( 2回)\n    09:00 Host\n    21:00 Host\n  4月 8日 ( 1回)\n    12:00 Host\n"},
    // The week from Sunday 3/29 reaches back past the limit (4/2) and is
    // shown whole, not split.
    {"PerWeekGroupNotSplit", 2, 7, 1, false,
     "t.stk\n  昔の分...\n  3月29日～ ( 3回)\n    10:00 Host\n    09:00 Host\n    21:00 Host\n"
     "  4月 5日～ ( 1回)\n    12:00 Host\n"},
    {"PerDayAllYearsApart", 1, 1, 1, true,
     "t.stk\n  日付不明\n    Plain\n  4月 3日 ( 1回)\n    07:00 Host\n  12月31日 ( 1回)\n    23:00 Host\n"
     "  1月 1日 ( 1回)\n    08:00 Host\n  4月 1日 ( 1回)\n    10:00 Host\n  4月 3日 ( 2回)\n    09:00 Host\n"
     "    21:00 Host\n  4月 8日 ( 1回)\n    12:00 Host\n"},
    // A Wednesday and the Thursday after it share the week across the year end.
    {"PerWeekAll", 2, 1, 1, true,
     "t.stk\n  日付不明\n    Plain\n  3月30日～ ( 1回)\n    07:00 Host\n  12月28日～ ( 2回)\n    23:00 Host\n"
     "    08:00 Host\n  3月29日～ ( 3回)\n    10:00 Host\n    09:00 Host\n    21:00 Host\n  4月 5日～ ( 1回)\n"
     "    12:00 Host\n"},
    {"PerCallAll", 0, 1, 1, true,
     "t.stk\n  Plain\n  04/03 07:00 Host\n  12/31 23:00 Host\n  01/01 08:00 Host\n  04/01 10:00 Host\n"
     "  04/03 09:00 Host\n  04/03 21:00 Host\n  04/08 12:00 Host\n"},
};

class TreeWindow : public TreeTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(TreeWindow, ShowsTheCallsOfTheWindow) {
  EightCalls();
  const WindowCase& c = GetParam();
  EXPECT_EQ(Built(c.style, c.days, c.calls, c.all), c.expected);
  if (c.all) {
    EXPECT_EQ(TREE::hitemPast, nullptr);
    EXPECT_EQ(cvTreeOldest.i, cvOldest.i);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TreeWindow, ::testing::ValuesIn(kWindows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeTest, ExpandPastOneMovesTheNextOlderDay) {
  EightCalls();
  Built(1, 1, 1);
  ASSERT_NE(TREE::hitemPast, nullptr);
  const int newest = STOCK::FindNewestConnectLine();
  EXPECT_EQ(cvTreeOldest.i, newest);
  TREE::ExpandPastOne();
  EXPECT_EQ(TREE::Text(false),
            "t.stk\n  昔の分...\n  4月 3日 ( 2回)\n    09:00 Host\n    21:00 Host\n  4月 8日 ( 1回)\n    12:00 Host\n");
  EXPECT_EQ(STOCK::Flat(cvTreeOldest), 5) << "the first call of the moved day";
  TREE::CollapsePast();
  EXPECT_EQ(cvTreeOldest.i, newest);
}

// The nodes under a call: fixed levels, a rule without a node, variable
// levels after rules with and without an exit pattern; a connect line ends
// every extent.
TEST_F(TreeTest, NodesLevelsAndExtentsOfACall) {
  const CODEVRAM before = Line("before any call");
  Call("2026/04/08 12:00");       // 1
  Line("LIST", LIST);             // 2
  Line("B1", BOARD);              // 3
  Line("M1", MSG);                // 4
  Line("HIDDEN", HIDDEN);         // 5
  Line("M2", MSG);                // 6
  Line("WHO", WHO);               // 7
  const CODEVRAM v1 = Line("V1", VAR);  // 8
  Line("LIST2", LIST);            // 9
  Line("V2", VAR);                // 10
  Line("V3", VAR);                // 11
  const CODEVRAM plain = Line("plain");  // 12
  Call("2026/04/08 13:00");       // 13
  Line("LIST", LIST);             // 14
  EXPECT_EQ(Built(0, 7, 15, false, true),
            "t.stk\t-\t-\n"
            "  04/08 12:00 Host\t1\t12\n"
            "    LIST\t2\t6\n"
            "      B1\t3\t4\n"
            "        M1\t4\t4\n"
            "      M2\t6\t6\n"
            "    WHO\t7\t7\n"
            "    V1\t8\t8\n"
            "    LIST2\t9\t12\n"
            "      V2\t10\t10\n"
            "      V3\t11\t11\n"
            "  04/08 13:00 Host\t13\t15\n"
            "    LIST\t14\t15\n");
  struct LevelCase {
    CODEVRAM line;
    int level;
  };
  for (const LevelCase& c : {LevelCase{before, -1}, {CODEVRAM(STOCK::FindNewestConnectLine()), 0}, {v1, 1},
                             {plain, 2}})
    EXPECT_EQ(TREE::GetLevel(c.line), c.level) << STOCK::Flat(c.line);
}

TEST_F(TreeTest, ModelAgreesWithItsNodesWhileCallsAreBuiltAndAdded) {
  EightCalls();
  Line("LIST", LIST);
  Line("B1", BOARD);
  TREE::TreeStyle = 1;
  TREE::TreeDay = 1;
  TREE::TreeConnect = 1;
  TREE::Initialize(2);
  TREEMODEL& m = TREE::Model();
  const QModelIndex root = m.index(0, 0);
  ASSERT_EQ(m.data(root).toString().toStdString(), "t.stk");
  ASSERT_EQ(m.rowCount(root), 2);
  const QModelIndex group = m.index(1, 0, root);
  const QModelIndex call = m.index(0, 0, group);
  EXPECT_TRUE(m.hasChildren(call));
  EXPECT_TRUE(m.canFetchMore(call)) << "a call's nodes are built when it is first expanded";
  EXPECT_EQ(m.rowCount(call), 0);
  // The tester walks (and so builds) the whole model and checks every change.
  QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
  if (m.canFetchMore(call)) m.fetchMore(call);
  ASSERT_EQ(m.rowCount(call), 1);
  EXPECT_EQ(m.data(m.index(0, 0, call)).toString().toStdString(), "LIST");
  EXPECT_EQ(m.data(m.index(0, 0, call), TREEMODEL::LineRole).toInt(), STOCK::Flat(cvNewest) - 2);
  // On line: a new call of another day makes a group; its line joins it.
  TREE::Add(Call("2026/04/09 08:00"), 0);
  TREE::Add(Line("LIST3", LIST), 1);
  TREE::ExpandPastAll();
  EXPECT_EQ(m.rowCount(root), 8) << "seven days and the calls without a date";
  EXPECT_EQ(TREE::Text(false).substr(TREE::Text(false).find("  4月 9日")), "  4月 9日 ( 1回)\n    08:00 Host\n      LIST3\n");
}

// A title that reads two lines after its own waits for them; one whose
// reach is unknown waits for the next node or the hang-up.
TEST_F(TreeTest, TitlesWaitForTheirLines) {
  Built(0, 7, 15);
  TREE::Add(Call("2026/04/08 12:00"), 0);
  const CODEVRAM w = Line("W", WAIT2);
  TREE::Add(w, 0);
  const std::string empty = "t.stk\n  04/08 12:00 Host\n";
  EXPECT_EQ(TREE::Text(false), empty);
  Line("first");
  TREE::NotifyNewLine();
  EXPECT_EQ(TREE::Text(false), empty) << "one of two lines";
  Line("second");
  TREE::NotifyNewLine();
  EXPECT_EQ(TREE::Text(false), empty + "    second\n");

  TREE::Add(Line("ANY", WAITANY), 0);
  Line("its line");
  TREE::NotifyNewLine();
  EXPECT_EQ(TREE::Text(false), empty + "    second\n") << "an unknown reach waits";
  TREE::NotifyHangup();
  EXPECT_EQ(TREE::Text(false), empty + "    second\n    its line\n");

  // The next node completes a waiting one first.
  TREE::Add(Line("ANY2", WAITANY), 0);
  Line("then");
  TREE::Add(Line("LIST", LIST), 0);
  EXPECT_EQ(TREE::Text(false), empty + "    second\n    its line\n    then\n    LIST\n");
}

TEST_F(TreeTest, AddingSuspendedUntilTheNextConnectLine) {
  Built(0, 7, 15);
  TREE::Add(Call("2026/04/08 12:00"), 0);
  TREE::fPreventAdd = 1;
  TREE::Add(Line("LIST", LIST), 1);
  EXPECT_EQ(TREE::Text(false), "t.stk\n  04/08 12:00 Host\n");
  const CODEVRAM c = Call("2026/04/08 13:00");
  TREE::Add(c, 0);
  TREE::Add(Line("LIST2", LIST), 1);
  EXPECT_EQ(TREE::fPreventAdd, 0);
  EXPECT_EQ(cvTreeOldest.i, c.i);
  EXPECT_EQ(TREE::Text(false), "t.stk\n  04/08 12:00 Host\n  04/08 13:00 Host\n    LIST2\n");
}

// The real tool over calls matched by the demo syntax as they arrive.
TEST(TreeTool, PrintsTheDemoCallsWithTheirExtents) {
  TempDir dir;
  const std::string tool = QUILLNET_TOOL_PATH;
  const std::string stock = dir.File("demo.stk");
  const std::string call = jcode::Utf8ToSjis(
      "＝＝　メインメニュー　＝＝\r\nhello\r\n■ 掲示板一覧\r\n■ 掲示板 1: 雑談  （x）\r\n  No.   日付\r\n"
      "#0002/0003 a\r\n★taro (x\r\n現在のアクセス者\r\nbob\r\n\r\nafter\r\n");
  for (const char* date : {"2026/04/01 10:00", "2026/04/03 09:00"}) {
    ASSERT_EQ(RunProcess({tool, "feed", stock, "--tag", QUILLNET_BUILD_DIR "/tools/demo.tag", "--connect", "Demo",
                          "--date", date},
                         call)
                  .status,
              0);
  }
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::string second =
      "    09:00 Demo\t12\t24\n      メインメニュー\t13\t14\n      掲示板一覧\t15\t19\n        1: 雑談\t16\t19\n"
      "          発言一覧\t17\t17\n          0002 taro\t18\t19\n      現在のアクセス者\t20\t24\n";
  const Case cases[] = {
      {{"--style", "1", "--days", "1", "--calls", "1", "--lines"},
       "demo.stk\t-\t-\n  昔の分...\t-\t-\n  4月 3日 ( 1回)\t12\t24\n" + second},
      {{"--style", "1", "--days", "1", "--calls", "1", "--lines", "--all"},
       "demo.stk\t-\t-\n  4月 1日 ( 1回)\t0\t11\n    10:00 Demo\t0\t11\n      メインメニュー\t1\t2\n"
       "      掲示板一覧\t3\t7\n        1: 雑談\t4\t7\n          発言一覧\t5\t5\n          0002 taro\t6\t7\n"
       "      現在のアクセス者\t8\t11\n  4月 3日 ( 1回)\t12\t24\n" + second},
      {{"--style", "0", "--days", "3"},
       "demo.stk\n  04/01 10:00 Demo\n    メインメニュー\n    掲示板一覧\n      1: 雑談\n        発言一覧\n"
       "        0002 taro\n    現在のアクセス者\n  04/03 09:00 Demo\n    メインメニュー\n    掲示板一覧\n"
       "      1: 雑談\n        発言一覧\n        0002 taro\n    現在のアクセス者\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {tool, "stock", "tree", stock};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult r = RunProcess(argv, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.expected) << c.args.size();
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--style", "3"}, {"--days", "0"}, {"--calls"}})
  {
    std::vector<std::string> argv = {tool, "stock", "tree", stock};
    argv.insert(argv.end(), bad.begin(), bad.end());
    EXPECT_NE(RunProcess(argv, "").status, 0) << bad[0];
  }
}

}  // namespace
