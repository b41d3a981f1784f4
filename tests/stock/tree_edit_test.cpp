// Editing through the overall tree: copy and paste between two stocks, each
// kind of delete and the refusals on line, a wrapping ring overwriting its
// oldest call, a saved position found again, and the tree pages.
#include <gtest/gtest.h>

#include <QMimeData>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "stock/backup.h"
#include "stock/clipboard.h"
#include "stock/stock.h"
#include "stock/stockprop.h"
#include "stock/tagfile_writer.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tagtemplate.h"
#include "stock/tree.h"
#include "stock/tree_model.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

enum : int { BOARD = 4, MSG };

// One line of a stock as the tests compare it: text (UTF-8), mark and tag.
struct LINE {
  std::string text;
  int mark, tag;
  bool operator==(const LINE&) const = default;
};
std::ostream& operator<<(std::ostream& o, const LINE& l) {
  return o << "{" << l.text << ", " << l.mark << ", " << l.tag << "}";
}

class TreeEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
    TREE::ResetEditForTest();
    InstallTagEngine();
    online = 0;
    savedOnline = pfnStockOnline;
    pfnStockOnline = [] { return online; };
    STOCK::hooks.now = [] {
      SYSTEMTIME st;
      st.wYear = 2026, st.wMonth = 12, st.wDay = 11, st.wHour = 9, st.wMinute = 5;
      return st;
    };
    TagFileContents contents;
    contents.records = SystemRecords();
    for (auto [name, level, pattern] : {std::tuple{"board", 1, "^Board "}, std::tuple{"msg", 2, "^Msg "}}) {
      TAGPROP p = TagRecord(name, level, pattern);
      EXPECT_EQ(CompileTitleTemplate(jcode::Utf8ToSjis("\\(0,0)"), p.abTitle, 120), TITLE_COMPILED);
      contents.records.push_back(p);
    }
    TAGAID aid;
    std::memset(&aid, 0, sizeof aid);
    aid.kind = 1;
    contents.aids.push_back(aid);
    std::ofstream(dir.File("t.tag"), std::ios::binary) << BuildTagFile(contents);
    TREE::TreeStyle = 0;
    TREE::TreeDay = 365;
    TREE::TreeConnect = 1000;
  }
  void TearDown() override {
    pfnStockOnline = savedOnline;
    // The hooks first: a test's hooks hold references to its own locals,
    // which are gone by now, and the rebuild below would call them.
    TREE::ResetEditForTest();
    TREE::Initialize(2);
    TREE::ResetEditForTest();
    clipboardHooks = CLIPBOARDHOOKS();
    STOCK::ResetForTest();
    TAGMAKER::ResetForTest();
  }

 public:
  static int online;
  int (*savedOnline)() = nullptr;

  void NewStock(const std::string& name, int lines = 10000) {
    STOCK::Close();
    ASSERT_TRUE(STOCK::Create(dir.File(name), lines, 80, 0, 0, 0));
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    // A new stock starts with the empty syntax; it gets the test's.
    ASSERT_EQ(TAGMAKER::Open(dir.File("t.tag")), 1);
    ASSERT_TRUE(STOCK::fileheader.SetTagFile(dir.File("t.tag")));
  }
  // Appends a logical line as received, matched when `match` (tag 3 lines
  // and marks as given).
  static CODEVRAM Line(const std::string& utf8, int mark = STOCK_MARK_NONE, bool connect = false) {
    CODEVRAM cv = cvNewest;
    const std::string s = jcode::Utf8ToSjis(utf8);
    STOCKITEM* item = STOCK::GetItem(cv);
    s.copy(item->Text(), s.size());
    item->cInput = (unsigned char)mark;
    if (connect) {
      STOCK::SetConnectTag(cv);
      if (TAGMAKER::fTagQueryActive)
        TAGMAKER::RestartQuery();
      else
        TAGMAKER::StartQuery();
    } else if (TAGMAKER::fTagQueryActive) {
      TAGMAKER::Query(cv);
    }
    const CODEVRAM line = cv;
    cv.LineFeed();
    return line;
  }
  static CODEVRAM Call(const std::string& date) { return Line("Host - " + date, STOCK_MARK_CONNECT, true); }
  // A call with a board of two messages; one message line carries input.
  static CODEVRAM FullCall(const std::string& date, const std::string& tag) {
    const CODEVRAM c = Call(date);
    Line("Welcome " + tag);
    Line("Board " + tag);
    Line("Msg one " + tag);
    Line(" text of one");
    Line("Msg two " + tag);
    Line("> reply " + tag, 2);
    return c;
  }
  static void EndMatching() {
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
  }
  static std::vector<LINE> Lines(int from = -1, int to = -1) {
    std::vector<LINE> out;
    CODEVRAM cv = from < 0 ? cvOldest : CODEVRAM(from);
    for (;;) {
      const STOCKITEM* it = cv.Item();
      if (!(cv.IsNewest() && cv.Length() == 0 && to < 0))
        out.push_back({jcode::SjisToUtf8(std::string(it->Text(), size_t(cv.Length()))), it->cInput, cv.Tag()});
      if (cv.IsNewest() || cv.i == to) break;
      ++cv;
    }
    return out;
  }
  static std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const LINE& l : Lines()) t.push_back(l.text);
    return t;
  }
  static TREENODE* Node(int line) {
    TREENODE* n = TREE::FindNode(line);
    EXPECT_NE(n, nullptr) << "no node for line " << line;
    return n;
  }
  ui::ScopedRecordingFacade facade;
  TempDir dir;
};
int TreeEditTest::online = 0;

// ---- copy and paste between two stocks ----

TEST_F(TreeEditTest, CopiedCallPastedBackLandsBeforeNewerCallsWithItsTextMarksAndTags) {
  NewStock("a.stk");
  FullCall("2026/04/01 10:00", "A");
  const CODEVRAM middle = FullCall("2026/04/02 10:00", "B");
  FullCall("2026/04/03 10:00", "C");
  EndMatching();
  TREE::Initialize(2);
  TREE::Select(Node(middle));
  ASSERT_EQ(TREE::CopyToClipboard(0), 1);
  STOCKCLIP clip;
  ASSERT_TRUE(clipboard::Get(&clip));
  ASSERT_EQ(clip.info.size(), 7u);
  EXPECT_EQ((unsigned char)clip.info[0], 0xFE);
  EXPECT_EQ((unsigned char)clip.info[6], 2);
  const std::vector<LINE> copied = Lines(middle, middle + 6);
  ASSERT_EQ(copied[2].tag, BOARD);
  ASSERT_EQ(copied[3].tag, MSG);

  NewStock("b.stk");
  FullCall("2026/04/01 10:00", "A");
  FullCall("2026/04/03 10:00", "C");
  EndMatching();
  TREE::Initialize(2);
  ASSERT_EQ(TREE::Paste(), 1);
  const std::vector<LINE> all = Lines();
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(std::vector<LINE>(all.begin() + 7, all.begin() + 14), copied);
  EXPECT_EQ(all[14].text, "Host - 2026/04/03 10:00");
  EXPECT_EQ(TREE::Text(false),
            "b.stk\n  04/01 10:00 Host\n    Board A\n      Msg one A\n      Msg two A\n"
            "  04/02 10:00 Host\n    Board B\n      Msg one B\n      Msg two B\n"
            "  04/03 10:00 Host\n    Board C\n      Msg one C\n      Msg two C\n");
  // The cursor line stays the newest, empty one; the pasted call is selected.
  EXPECT_EQ(CODEVRAM(cvNewest).Length(), 0);
  ASSERT_NE(TREE::hitemSelected, nullptr);
  EXPECT_EQ(TREE::hitemSelected->line, STOCK::AddIndex(cvOldest, 7));
  // ...and the saved position names it after reopening.
  STOCK::Close();
  ASSERT_TRUE(STOCK::Open(dir.File("b.stk")));
  TREE::Initialize(2);
  ASSERT_NE(TREE::hitemSelected, nullptr);
  EXPECT_EQ(TREE::hitemSelected->title, TREE::GetConnectTitle(STOCK::AddIndex(cvOldest, 7), 0));
}

struct PasteCase {
  const char* name;
  std::string text;  // UTF-8 as the clipboard holds it
  bool hasInfo;
  std::string info;
  std::vector<LINE> expected;  // after the connect line
};

std::vector<PasteCase> PasteCases() {
  return {
      {"NoInfoGetsItsOwnCall", "Board X\r\nMsg a\rplain\n", false, "",
       {{"Board X", 255, BOARD}, {"Msg a", 255, MSG}, {"plain", 255, 0}}},
      {"InfoShorterThanTextCountsAs0xFF", "Board X\nMsg a\nplain", true, std::string("\x06", 1),
       {{"Board X", 6, BOARD}, {"Msg a", 255, MSG}, {"plain", 255, 0}}},
      {"InfoLongerThanTextIsIgnored", "one\ntwo\n", true, std::string("\xFF\x01\x05\x05\x05", 5),
       {{"one", 255, 0}, {"two", 1, 0}}},
      {"InputColumnBeyondTheLineIsDropped", "ab\n", true, std::string("\x09", 1), {{"ab", 255, 0}}},
      {"EscapesAndControlsAreText", "\x1b[2J\x1b[1;1Hab\x07\tc\nMsg z", false, "",
       {{" [2J [1;1Hab  c", 255, 0}, {"Msg z", 255, 0}}},
      {"CharactersShiftJisCannotHold", "a\xF0\x9F\x98\x80 b", false, "", {{"a〓 b", 255, 0}}},
      {"ASecondConnectLineStartsACall", "x\nHost - 2026/05/05 05:05\nBoard Y", true, std::string("\xFF\xFE\xFF", 3),
       {{"x", 255, 0}, {"Host - 2026/05/05 05:05", 0xFE, TAG_CONNECT}, {"Board Y", 255, BOARD}}},
  };
}

class TreePasteTest : public TreeEditTest, public ::testing::WithParamInterface<PasteCase> {};

TEST_P(TreePasteTest, LinesArriveAsPlainLinesAfterANewCall) {
  const PasteCase& c = GetParam();
  NewStock("p.stk");
  FullCall("2026/04/01 10:00", "A");
  EndMatching();
  const std::vector<LINE> before = Lines();
  TREE::Initialize(2);
  auto data = std::make_unique<QMimeData>();
  data->setText(QString::fromUtf8(c.text.data(), qsizetype(c.text.size())));
  if (c.hasInfo) data->setData(kStockInfoMime, QByteArray(c.info.data(), qsizetype(c.info.size())));
  clipboardHooks.get = [&] { return data.get(); };
  ASSERT_EQ(TREE::Paste(), 1);
  const std::vector<LINE> all = Lines();
  ASSERT_EQ(all.size(), before.size() + 1 + c.expected.size());
  EXPECT_EQ(std::vector<LINE>(all.begin(), all.begin() + long(before.size())), before);
  EXPECT_EQ(all[before.size()], (LINE{"(貼り付け) - 2026/12/11 09:05", 0xFE, TAG_CONNECT}));
  EXPECT_EQ(std::vector<LINE>(all.begin() + long(before.size()) + 1, all.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TreePasteTest, ::testing::ValuesIn(PasteCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TreeEditTest, LongLinesWrapAtTheWidthAndCopyBackWhole) {
  NewStock("w.stk");
  Call("2026/04/01 10:00");
  EndMatching();
  TREE::Initialize(2);
  // 79 ASCII then a double-byte character that cannot start in the last cell.
  const std::string longLine = std::string(79, 'x') + "漢字" + std::string(90, 'y');
  const std::string text = longLine + "\n" + std::string(80, 'z') + "\nend\n";
  STOCKCLIP in;
  in.sjis = jcode::Utf8ToSjis(text);
  ASSERT_EQ(TREE::PasteClip(in), 1);
  const int pasted = STOCK::AddIndex(cvOldest, 2);
  TREE::Select(Node(STOCK::AddIndex(cvOldest, 1)));
  ASSERT_EQ(TREE::CopyToClipboard(0), 1);
  STOCKCLIP out;
  ASSERT_TRUE(clipboard::Get(&out));
  EXPECT_EQ(jcode::SjisToUtf8(out.sjis), "(貼り付け) - 2026/12/11 09:05\n" + text);
  EXPECT_EQ(out.info.size(), 4u);
  // The first line took three slots, the 80 z's two (the second empty).
  EXPECT_EQ(CODEVRAM(pasted).Item()->Text()[79], 0x7F);
  EXPECT_EQ(STOCK::UsedItems(), 2 + 3 + 2 + 1 + 1);
}

TEST_F(TreeEditTest, QuotedCopyPrefixesEveryLine) {
  NewStock("q.stk");
  const CODEVRAM c = FullCall("2026/04/01 10:00", "A");
  EndMatching();
  TREE::Initialize(2);
  TREE::hooks.quotePrefix = [] { return std::string("＞"); };
  TREE::Select(Node(c + 2));  // the board
  ASSERT_EQ(TREE::CopyToClipboard(1), 1);
  STOCKCLIP out;
  ASSERT_TRUE(clipboard::Get(&out));
  EXPECT_EQ(jcode::SjisToUtf8(out.sjis), "＞Board A\n＞Msg one A\n＞ text of one\n＞Msg two A\n＞> reply A\n");
  // The input column counts after the two-byte prefix.
  EXPECT_EQ(out.info, std::string("\xFF\xFF\xFF\xFF\x04", 5));
}

TEST_F(TreeEditTest, CutDeletesOnlyWhatTheClipboardHolds) {
  NewStock("c.stk");
  FullCall("2026/04/01 10:00", "A");
  const CODEVRAM b = FullCall("2026/04/02 10:00", "B");
  EndMatching();
  TREE::Initialize(2);
  const std::vector<std::string> before = Texts();
  struct Failure {
    const char* name;
    std::function<bool(std::unique_ptr<QMimeData>)> put;
  };
  QMimeData other;
  other.setText("something else");
  for (const Failure& f : {Failure{"ClipboardRefuses", [](std::unique_ptr<QMimeData>) { return false; }},
                           Failure{"ClipboardHoldsOtherText", [](std::unique_ptr<QMimeData>) { return true; }}}) {
    SCOPED_TRACE(f.name);
    clipboardHooks.put = f.put;
    clipboardHooks.get = [&] { return &other; };
    TREE::Select(Node(b));
    EXPECT_EQ(TREE::Cut(), 0);
    EXPECT_EQ(Texts(), before);
  }
  clipboardHooks = CLIPBOARDHOOKS();
  TREE::Select(Node(b));
  ASSERT_EQ(TREE::Cut(), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>(before.begin(), before.begin() + 7));
  STOCKCLIP held;
  ASSERT_TRUE(clipboard::Get(&held));
  EXPECT_EQ(jcode::SjisToUtf8(held.sjis).substr(0, 24), "Host - 2026/04/02 10:00\n");
  EXPECT_TRUE(facade.rec.boxes.empty());  // a cut does not ask
}

// ---- deleting ----

struct DeleteCase {
  const char* name;
  int selectLine;  // offset from the oldest line of the node to select; -1 the root, -2 "昔の分..."
  int before;
  std::vector<int> kept;  // offsets of the lines that stay
  const char* question;
};

// Three calls of 7 lines each: 0-6, 7-13, 14-20.
std::vector<int> Range(int a, int b) {
  std::vector<int> v;
  for (int i = a; i <= b; ++i) v.push_back(i);
  return v;
}
std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(TreeEditTest, EachDeleteKindRemovesItsLinesAfterAsking) {
  const DeleteCase cases[] = {
      {"Message", 10, 0, Join(Range(0, 9), Range(12, 20)), "Msg one Bを削除してもいいですか？"},
      {"Board", 9, 0, Join(Range(0, 8), Range(14, 20)), "Board Bを削除してもいいですか？"},
      {"Call", 7, 0, Join(Range(0, 6), Range(14, 20)), "04/02 10:00 Hostを削除してもいいですか？"},
      {"LastCallUpToTheCursorLine", 14, 0, Range(0, 13), "04/03 10:00 Hostを削除してもいいですか？"},
      {"BeforeANode", 9, 1, Range(9, 20), "Board Bより前の部分を削除してもいいですか？"},
      {"Past", -2, 0, Range(14, 20), "「昔の分」を削除してもいいですか？"},
      {"RootClearsTheContents", -1, 0, {},
       "全体（の中身だけ）をクリアしてもいいですか？（ストックファイル自体は削除しません）"},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.name);
    NewStock(std::string(c.name) + ".stk");
    for (const char* d : {"A", "B", "C"}) FullCall(std::string("2026/04/0") + char('1' + (d[0] - 'A')) + " 10:00", d);
    EndMatching();
    const std::vector<std::string> all = Texts();
    TREE::TreeConnect = 1;
    TREE::TreeDay = 1;
    TREE::Initialize(2);
    if (c.selectLine == -2) {
      ASSERT_NE(TREE::hitemPast, nullptr);
      TREE::Select(TREE::hitemPast);
    } else if (c.selectLine == -1) {
      TREE::Select(TREE::hitemRoot);
    } else {
      TREE::ExpandPastAll();
      TREE::Select(Node(STOCK::AddIndex(cvOldest, c.selectLine)));
    }
    facade.rec.boxes.clear();
    facade.rec.answers = {ui::IDNO};
    EXPECT_EQ(TREE::Delete(c.before, 1, 0), 0);
    EXPECT_EQ(Texts(), all);
    facade.rec.answers = {ui::IDYES};
    ASSERT_EQ(TREE::Delete(c.before, 1, 0), 1);
    std::vector<std::string> kept;
    for (int k : c.kept) kept.push_back(all[size_t(k)]);
    EXPECT_EQ(Texts(), kept);
    ASSERT_EQ(facade.rec.boxes.size(), 2u);
    EXPECT_EQ(facade.rec.boxes[1].text, c.question);
    // The cursor line is empty and newest; the file says the same.
    EXPECT_EQ(CODEVRAM(cvNewest).Length(), 0);
    STOCK::Close();
    ASSERT_TRUE(STOCK::Open(dir.File(std::string(c.name) + ".stk")));
    EXPECT_EQ(Texts(), kept);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
}

TEST_F(TreeEditTest, OnLineEditsAreRefusedAndTheForcedClearKeepsTheCall) {
  NewStock("o.stk");
  FullCall("2026/04/01 10:00", "A");
  const CODEVRAM b = FullCall("2026/04/02 10:00", "B");
  TREE::Initialize(2);
  const std::vector<std::string> before = Texts();
  online = 1;
  TREE::Select(Node(b + 2));
  const std::string refusal = "オンライン中はこの処理はできません。";
  struct Op {
    const char* name;
    std::function<int()> run;
  };
  for (const Op& op : {Op{"Delete", [] { return TREE::Delete(0, 0, 0); }},
                       Op{"DeleteBefore", [] { return TREE::Delete(1, 0, 0); }},
                       Op{"Cut", [] { return TREE::Cut(); }}, Op{"Paste", [] { return TREE::Paste(); }}}) {
    SCOPED_TRACE(op.name);
    facade.rec.boxes.clear();
    EXPECT_EQ(op.run(), 0);
    ASSERT_EQ(facade.rec.boxes.size(), 1u);
    EXPECT_EQ(facade.rec.boxes[0].text, refusal);
    EXPECT_EQ(Texts(), before);
  }
  // The terminal's clear: everything goes, the call's connect line comes back
  // first and the call goes on being matched.
  facade.rec.boxes.clear();
  facade.rec.answers = {ui::IDYES};
  ASSERT_EQ(TREE::Delete(0, 1, 1), 1);
  EXPECT_EQ(Lines(), (std::vector<LINE>{{"Host - 2026/04/02 10:00", 0xFE, TAG_CONNECT}}));
  Line("Board again");
  Line("Msg again");
  EndMatching();
  EXPECT_EQ(Lines()[1].tag, BOARD);
  EXPECT_EQ(Lines()[2].tag, MSG);
  EXPECT_EQ(TREE::Text(false), "o.stk\n  04/02 10:00 Host\n    Board again\n      Msg again\n");
  online = 0;
}

// ---- a wrapping ring ----

TEST_F(TreeEditTest, OverwrittenCallsLeaveTheTreeAsARebuildWouldShowIt) {
  for (int style : {0, 1}) {
    SCOPED_TRACE(style);
    NewStock("ring" + std::to_string(style) + ".stk", 1000);
    TREE::TreeStyle = style;
    TREE::TreeConnect = 2;
    TREE::TreeDay = 1;
    std::vector<int> calls;
    for (int k = 0; k < 4; ++k) {
      calls.push_back(Call("2026/04/0" + std::to_string(k < 2 ? 1 : k) + " 1" + std::to_string(k) + ":00"));
      Line("Board " + std::to_string(k));
      for (int i = 0; i < 200; ++i) Line("line " + std::to_string(i));
    }
    EndMatching();
    TREE::Initialize(2);
    ASSERT_NE(TREE::hitemPast, nullptr);
    TREE::ExpandPastAll();
    int overwritten = 0;
    STOCK::hooks.connectLineOverwritten = [&](int slot) {
      ++overwritten;
      TREE::NotifyOverwrite(slot);
    };
    // Past the first two calls' connect lines: they go, one at a time.
    while (overwritten < 2) Line("filler");
    const std::string live = TREE::Text(true);
    TREE::Initialize(2);
    TREE::ExpandPastAll();
    EXPECT_EQ(live, TREE::Text(true));
    EXPECT_EQ(TREE::fPreventAdd, 0);
    STOCK::hooks.connectLineOverwritten = nullptr;
  }
}

TEST_F(TreeEditTest, TheLastCallOverwrittenStopsAddingUntilTheNextCall) {
  NewStock("r.stk", 1000);
  Call("2026/04/01 10:00");
  TREE::Initialize(2);
  TREE::InstallHooks();
  for (int i = 0; i < 1000; ++i) Line("line " + std::to_string(i));
  EXPECT_EQ(TREE::Text(false), "r.stk\n");
  EXPECT_EQ(TREE::fPreventAdd, 1);
  Line("Board lost");
  TREE::Add(STOCK::AddIndex(cvNewest, -1), 1);
  EXPECT_EQ(TREE::Text(false), "r.stk\n");
  const CODEVRAM next = Call("2026/04/02 10:00");
  TREE::Add(next, 1);
  EXPECT_EQ(TREE::fPreventAdd, 0);
  EXPECT_EQ(TREE::Text(false), "r.stk\n  04/02 10:00 Host\n");
  EndMatching();
}

// ---- positions ----

TEST_F(TreeEditTest, ASavedPositionIsFoundAgainAfterReopening) {
  struct PosCase {
    const char* name;
    int offset;  // of the selected node from the second call
    int style;
  };
  for (const PosCase& c : {PosCase{"Message", 5, 0}, PosCase{"Board", 2, 0}, PosCase{"Call", 0, 0},
                           PosCase{"CallInADayGroup", 0, 1}, PosCase{"MessageInADayGroup", 3, 1}}) {
    SCOPED_TRACE(c.name);
    NewStock(std::string(c.name) + ".stk");
    FullCall("2026/04/01 10:00", "A");
    const CODEVRAM b = FullCall("2026/04/01 12:00", "B");
    FullCall("2026/04/03 10:00", "C");
    EndMatching();
    TREE::TreeStyle = c.style;
    TREE::Initialize(2);
    TREENODE* n = Node(STOCK::AddIndex(b, c.offset));
    TREE::Select(n);
    const std::string title = n->title;
    const TREENODE::Kind kind = n->kind;
    STOCK::Save();
    STOCK::Close();
    ASSERT_TRUE(STOCK::Open(dir.File(std::string(c.name) + ".stk")));
    TREE::Initialize(2);
    ASSERT_NE(TREE::hitemSelected, nullptr);
    EXPECT_EQ(TREE::hitemSelected->line, STOCK::AddIndex(b, c.offset));
    EXPECT_EQ(TREE::hitemSelected->kind, kind);
    EXPECT_EQ(TREE::hitemSelected->title, title);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
}

TEST_F(TreeEditTest, SelectingANodeShowsExactlyItsLines) {
  NewStock("s.stk");
  const CODEVRAM a = FullCall("2026/04/01 10:00", "A");
  const CODEVRAM b = FullCall("2026/04/02 10:00", "B");
  EndMatching();
  TREE::Initialize(2);
  int first = -2, last = -2, top = -2;
  TREE::hooks.setScrollableArea = [&](int f, int l, int t) { first = f, last = l, top = t; };
  struct AreaCase {
    int line;
    int first, last;
  };
  for (const AreaCase& c : {AreaCase{a, a, a + 6}, AreaCase{a + 2, a + 2, a + 6}, AreaCase{a + 3, a + 3, a + 4},
                            AreaCase{b + 5, b + 5, int(cvNewest)}}) {
    TREE::Select(Node(c.line));
    EXPECT_EQ(first, c.first) << c.line;
    EXPECT_EQ(last, c.last) << c.line;
  }
  TREE::Select(TREE::hitemRoot);
  EXPECT_EQ(first, int(cvOldest));
  EXPECT_EQ(last, int(cvNewest));
  // The same page without the tree: the board's lines, a message line at the top.
  const STOCKPOS p{a + 4, 1};
  ASSERT_EQ(TREE::GoToFast(&p, 1), 1);
  EXPECT_EQ(first, a + 2);
  EXPECT_EQ(last, a + 6);
  EXPECT_EQ(top, a + 4);
}

// ---- pages ----

struct PageLog {
  static std::vector<std::tuple<QWidget*, unsigned, uintptr_t>> calls;
  static intptr_t Proc(QWidget* w, unsigned m, uintptr_t wp, intptr_t lp) {
    calls.emplace_back(w, m, wp);
    if (m == TREEMSG_PLACE) reinterpret_cast<TREERECT*>(lp)->left = 7;
    return 0;
  }
};
std::vector<std::tuple<QWidget*, unsigned, uintptr_t>> PageLog::calls;

TEST_F(TreeEditTest, PagesAreActivatedToldAndLimitedToThirty) {
  auto* main = reinterpret_cast<QWidget*>(0x1000);
  auto* index = reinterpret_cast<QWidget*>(0x2000);
  std::vector<int> placed;
  TREE::hooks.placePage = [&](QWidget*, const TREERECT& r) { placed.push_back(r.left); };
  std::vector<std::pair<int, intptr_t>> events;
  TREE::hooks.addinEvent = [&](int e, intptr_t p) { events.emplace_back(e, p); };
  PageLog::calls.clear();
  ASSERT_EQ(TREE::AddPage(main, "全体図", nullptr, nullptr), 1);
  ASSERT_EQ(TREE::AddPage(index, "インデックス", &PageLog::Proc, nullptr), 1);
  EXPECT_EQ(placed, (std::vector<int>{0, 7}));  // the page answered 0: it takes the rectangle
  ASSERT_EQ(TREE::SetActivePage(1), 1);
  ASSERT_EQ(TREE::SetActivePage(0), 1);
  using C = std::tuple<QWidget*, unsigned, uintptr_t>;
  EXPECT_EQ(PageLog::calls, (std::vector<C>{{index, TREEMSG_PLACE, 0}, {index, TREEMSG_ACTIVATE, 1},
                                            {index, TREEMSG_ACTIVATE, 0}}));
  // The tag array growing tells the pages and the add-ins its new address.
  NewStock("g.stk");
  TREE::Initialize(2);
  PageLog::calls.clear();
  events.clear();
  while (STOCK::cItemMax == 1000) Line("x");
  ASSERT_EQ(PageLog::calls.size(), 1u);
  EXPECT_EQ(std::get<1>(PageLog::calls[0]), TREEMSG_TAGARRAY);
  EXPECT_EQ(std::get<2>(PageLog::calls[0]), uintptr_t(STOCK::aTag.data()));
  EXPECT_EQ(events, (std::vector<std::pair<int, intptr_t>>{{TREEEVENT_TAGARRAY, intptr_t(STOCK::aTag.data())}}));
  for (int k = 2; k < TREE::kMaxPages; ++k) ASSERT_EQ(TREE::AddPage(nullptr, "p", nullptr, nullptr), 1);
  EXPECT_EQ(TREE::AddPage(nullptr, "one too many", nullptr, nullptr), 0);
  ASSERT_EQ(TREE::SetActivePage(1), 1);
  ASSERT_EQ(TREE::DeletePage(index), 1);
  EXPECT_EQ(TREE::iPageActive, 0);
  EXPECT_EQ(int(TREE::apage.size()), TREE::kMaxPages - 1);
}

}  // namespace

namespace {

// The real tool over calls the demo syntax matched as they arrived.
TEST(TreeEditTool, CopyPasteAndDeleteBetweenTwoStocks) {
  TempDir dir;
  const std::string tool = QUILLNET_TOOL_PATH;
  const std::string call = jcode::Utf8ToSjis(
      "＝＝　メインメニュー　＝＝\r\nhello\r\n■ 掲示板一覧\r\n■ 掲示板 1: 雑談  （x）\r\n  No.   日付\r\n"
      "#0002/0003 a\r\n★taro (x\r\n現在のアクセス者\r\nbob\r\n\r\nafter\r\n");
  auto feed = [&](const std::string& stock, const std::vector<std::string>& dates) {
    for (const std::string& d : dates)
      ASSERT_EQ(RunProcess({tool, "feed", stock, "--tag", QUILLNET_BUILD_DIR "/tools/demo.tag", "--connect", "Demo",
                            "--date", d},
                           call)
                    .status,
                0);
  };
  const std::string a = dir.File("a.stk"), b = dir.File("b.stk"), info = dir.File("info");
  feed(a, {"2026/04/01 10:00", "2026/04/02 10:00", "2026/04/03 10:00"});
  feed(b, {"2026/04/01 10:00", "2026/04/03 10:00"});
  auto run = [&](std::vector<std::string> argv, const std::string& in = "") {
    argv.insert(argv.begin(), tool);
    return RunProcess(argv, in);
  };
  const std::string treeB = run({"stock", "tree", b, "--style", "0", "--lines"}).out;

  // The second call of a (lines 12 to 23) goes into b between its two.
  const ProcessResult copied = run({"stock", "copy", a, "12", "--info", info});
  ASSERT_EQ(copied.status, 0);
  EXPECT_EQ(copied.out.substr(0, 24), "Demo - 2026/04/02 10:00\n");
  std::ifstream f(info, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(bytes, "\xFE" + std::string(11, '\xFF'));
  ASSERT_EQ(run({"stock", "paste", b, "--info", info}, copied.out).status, 0);
  EXPECT_EQ(run({"stock", "tags", b}).out, run({"stock", "tags", a}).out);
  auto below = [](const std::string& tree) { return tree.substr(tree.find('\n')); };  // the roots' names differ
  EXPECT_EQ(below(run({"stock", "tree", b, "--style", "0", "--lines"}).out),
            below(run({"stock", "tree", a, "--style", "0", "--lines"}).out));

  // Deleting it again gives b back; the other kinds as tables of what stays.
  ASSERT_EQ(run({"stock", "delete", b, "12"}).status, 0);
  EXPECT_EQ(run({"stock", "tree", b, "--style", "0", "--lines"}).out, treeB);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string tree;
  };
  const Case cases[] = {
      {{"99"}, 1, ""},
      {{"2"}, 1, ""},  // no node begins at "hello"
      {{"past", "--days", "1", "--calls", "1"}, 0,
       "c.stk\t-\t-\n  4月 3日 ( 1回)\t0\t12\n    10:00 Demo\t0\t12\n      メインメニュー\t1\t2\n      掲示板一覧\t3\t7\n"
       "        1: 雑談\t4\t7\n          発言一覧\t5\t5\n          0002 taro\t6\t7\n      現在のアクセス者\t8\t12\n"},
      {{"3", "--before"}, 0, ""},
      {{"root"}, 0, "c.stk\t-\t-\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const std::string stock = dir.File("c.stk");
    std::filesystem::copy_file(b, stock, std::filesystem::copy_options::overwrite_existing);
    const std::string before = run({"stock", "export", stock}).out;
    std::vector<std::string> argv = {"stock", "delete", stock};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run(argv).status, c.status);
    if (c.status != 0) {
      EXPECT_EQ(run({"stock", "export", stock}).out, before);
    } else if (c.args[0] == "3") {
      // Everything before the first call's board list: its lines 3 to 11 and
      // the second call stay.
      const std::string kept = run({"stock", "export", stock}).out;
      EXPECT_EQ(kept, before.substr(before.find(jcode::Utf8ToSjis("■ 掲示板一覧"))));
    } else {
      EXPECT_EQ(run({"stock", "tree", stock, "--lines"}).out, c.tree);
    }
  }
}

}  // namespace

namespace {

TEST_F(TreeEditTest, SavedTextIsShiftJisWithCrLfAfterEachLine) {
  NewStock("t.stk");
  Call("2026/04/01 10:00");
  Line("漢字の行");
  Line(std::string(80, 'w'));  // fills its slot: the empty cursor line ends it
  EndMatching();
  TREE::Initialize(2);
  TREE::Select(TREE::hitemRoot);
  const std::string out = dir.File("out.txt");
  ASSERT_EQ(TREE::SaveToTextFile(out), 1);
  std::ifstream f(out, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(got, jcode::Utf8ToSjis("Host - 2026/04/01 10:00\r\n漢字の行\r\n") + std::string(80, 'w') + "\r\n");
  // A directory that is not there: reported, nothing left behind.
  EXPECT_EQ(TREE::SaveToTextFile(dir.File("none/out.txt")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
  ASSERT_FALSE(facade.rec.boxes.empty());
}

TEST_F(TreeEditTest, ReLaysStartedElsewhereRebuildTheTree) {
  NewStock("x.stk");
  FullCall("2026/04/01 10:00", "A");
  const CODEVRAM b = FullCall("2026/04/02 10:00", "B");
  EndMatching();
  TREE::Initialize(2);
  TREE::Select(Node(b + 2));
  // The back-scroll view's line delete, for one: the first call goes.
  STOCK::Delete(cvOldest, 7);
  EXPECT_EQ(TREE::Text(true),
            "x.stk\t-\t-\n  04/02 10:00 Host\t0\t7\n    Board B\t2\t7\n      Msg one B\t3\t4\n      Msg two B\t5\t7\n");
}

TEST_F(TreeEditTest, ATextBackupIsAppendedUntilItsControlBytesEnd) {
  NewStock("f.stk");
  Call("2026/04/01 10:00");
  Line("old");
  EndMatching();
  TREE::Initialize(2);
  const std::string text = dir.File("b.txt"), sti = dir.File("b.sti");
  std::ofstream(text, std::ios::binary) << "Host - 2026/03/01 10:00\r\nBoard Q\r\nMsg q\r\nHost - 2026/03/02 10:00\r\nnot taken\r\n";
  std::string header(STOCK_HEADER_SIZE, '\0');
  std::memcpy(header.data(), kBackupInfoMagic, std::strlen(kBackupInfoMagic));
  std::ofstream(sti, std::ios::binary) << header << "\xFE\xFF\x01\xFE";
  std::vector<std::pair<unsigned, uintptr_t>> messages;
  static std::vector<std::pair<unsigned, uintptr_t>>* log;
  log = &messages;
  TREE::AddPage(nullptr, "p", [](QWidget*, unsigned m, uintptr_t w, intptr_t) -> intptr_t {
    log->emplace_back(m, w);
    return 0;
  }, nullptr);
  messages.clear();
  std::string error;
  ASSERT_EQ(TREE::PasteFromFile(text, sti, &error), 1) << error;
  EXPECT_EQ(Lines(STOCK::AddIndex(cvOldest, 2), -1),
            (std::vector<LINE>{{"Host - 2026/03/01 10:00", 0xFE, TAG_CONNECT},
                               {"Board Q", 255, BOARD},
                               {"Msg q", 1, 0},
                               {"Host - 2026/03/02 10:00", 0xFE, TAG_CONNECT}}));
  const int first = STOCK::AddIndex(cvOldest, 2);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.front(), (std::pair<unsigned, uintptr_t>{TREEMSG_CALLBEGAN, uintptr_t(first)}));
  EXPECT_EQ(messages[1].first, TREEMSG_PASTED);
  // A control file that is not one: refused, nothing appended.
  std::ofstream(sti, std::ios::binary) << "short";
  const int used = STOCK::UsedItems();
  EXPECT_EQ(TREE::PasteFromFile(text, sti, &error), 0);
  EXPECT_EQ(error, "制御情報ファイルが読めません。");
  EXPECT_EQ(TREE::PasteFromFile(text, dir.File("missing.sti"), &error), 0);
  EXPECT_EQ(error, "制御情報ファイル（.sti）が見つからないので復元できません。");
  EXPECT_EQ(STOCK::UsedItems(), used);
}

}  // namespace

namespace {

TEST_F(TreeEditTest, DeletedStockFilesGoToTheTrashAndTheCurrentOneIsReplaced) {
  std::vector<std::string> trashed;
  TREE::hooks.trash = [&](const std::string& path) {
    trashed.push_back(path);
    return std::rename(path.c_str(), (path + ".trashed").c_str()) == 0;
  };
  int listChanged = 0;
  TREE::hooks.stockListChanged = [&] { ++listChanged; };
  // Another stock is looked for in the current directory: this test's own.
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.File(""));
  struct Back {
    std::filesystem::path to;
    ~Back() { std::filesystem::current_path(to); }
  } back{cwd};
  NewStock("other.stk");
  STOCK::Close();
  NewStock("current.stk");
  Call("2026/04/01 10:00");
  EndMatching();
  TREE::Initialize(2);
  STOCK::StockFile2 = dir.File("other.stk");
  // Another stock: asked, trashed, the current one stays open.
  facade.rec.answers = {ui::IDNO, ui::IDYES};
  EXPECT_EQ(TREE::DeleteStockFile(dir.File("other.stk"), 1), 0);
  EXPECT_TRUE(trashed.empty());
  ASSERT_EQ(TREE::DeleteStockFile(dir.File("other.stk"), 1), 1);
  EXPECT_EQ(facade.rec.boxes[1].text, "other.stk のストックファイルを削除してもいいですか？");
  EXPECT_EQ(trashed, std::vector<std::string>{dir.File("other.stk")});
  EXPECT_EQ(STOCK::szFileName, dir.File("current.stk"));
  EXPECT_EQ(Texts(), std::vector<std::string>{"Host - 2026/04/01 10:00"});
  // The root's choice "delete the stock file": the current one goes, and
  // with no other stock the temporary one takes over.
  TREE::hooks.rootChoice = [](const std::string& name) { return name == "current.stk" ? 1 : 0; };
  TREE::Select(TREE::hitemRoot);
  ASSERT_EQ(TREE::Delete(0, 1, 0), 1);
  EXPECT_EQ(trashed.back(), dir.File("current.stk"));
  EXPECT_TRUE(STOCK::fValid);
  EXPECT_TRUE(STOCK::fTemp);
  EXPECT_EQ(listChanged, 2);
  // A trash that refuses: the stock is kept and open.
  NewStock("kept.stk");
  TREE::hooks.trash = [](const std::string&) { return false; };
  EXPECT_EQ(TREE::DeleteStockFile(dir.File("kept.stk"), 0), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("kept.stk")));
  EXPECT_EQ(STOCK::szFileName, dir.File("kept.stk"));
  EXPECT_TRUE(STOCK::fValid);
}

}  // namespace

namespace {

TEST_F(TreeEditTest, SwitchingStocksRemembersThePreviousOneAndRebuilds) {
  NewStock("one.stk");
  Call("2026/04/01 10:00");
  STOCK::Close();
  NewStock("two.stk");
  Call("2026/04/02 10:00");
  EndMatching();
  STOCK::StockFile = dir.File("two.stk");
  TREE::Initialize(2);
  int namesChanged = 0;
  TREE::hooks.stockNamesChanged = [&] { ++namesChanged; };
  online = 1;
  EXPECT_EQ(TREE::ChangeStockFile(dir.File("one.stk")), 0);
  EXPECT_EQ(facade.rec.boxes.back().text, "オンライン中はこの処理はできません。");
  EXPECT_EQ(STOCK::szFileName, dir.File("two.stk"));
  online = 0;
  ASSERT_EQ(TREE::ChangeStockFile(dir.File("one.stk")), 1);
  EXPECT_EQ(STOCK::szFileName, dir.File("one.stk"));
  EXPECT_EQ(STOCK::StockFile, dir.File("one.stk"));
  EXPECT_EQ(STOCK::StockFile2, dir.File("two.stk"));
  EXPECT_EQ(namesChanged, 1);
  EXPECT_EQ(TREE::Text(false), "one.stk\n  04/01 10:00 Host\n");
  // A file that does not open: the stock just left comes back.
  std::ofstream(dir.File("bad.stk"), std::ios::binary) << "not a stock";
  EXPECT_EQ(TREE::ChangeStockFile(dir.File("bad.stk")), 0);
  EXPECT_EQ(STOCK::szFileName, dir.File("one.stk"));
  EXPECT_EQ(TREE::Text(false), "one.stk\n  04/01 10:00 Host\n");
}

}  // namespace
