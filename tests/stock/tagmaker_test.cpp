#include "stock/tagmaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagfile_writer.h"
#include "stock/stock_fixture.h"

namespace {

class TagMakerTest : public StockTest {
 protected:
  void SetUp() override {
    StockTest::SetUp();
    TAGMAKER::ResetForTest();
  }
  void TearDown() override {
    TAGMAKER::ResetForTest();
    StockTest::TearDown();
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string p = Path(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  // Opens a file built from the contents; the boxes shown land in *boxes.
  int Load(const TagFileContents& contents, std::vector<ui::RecordingFacade::Box>* boxes = nullptr,
           std::string* path = nullptr) {
    std::string p = Write("t.tag", BuildTagFile(contents));
    if (path) *path = p;
    ui::ScopedRecordingFacade f;
    int r = TAGMAKER::Open(p);
    if (boxes) *boxes = f.rec.boxes;
    return r;
  }
  static std::string Name(int tag) { return jcode::SjisToUtf8(TAGMAKER::GetTagProp(tag)->szName); }
  static std::string Title(int tag) {
    std::string t;
    DecompileTitleTemplate(TAGMAKER::GetTagProp(tag)->abTitle, 120, &t);
    return t;
  }
};

// Titles: the text form for versions that store one, in abTitle.
void SetTitleText(TAGPROP* r, const std::string& text) {
  std::memset(r->abTitle, 0, sizeof r->abTitle);
  std::memcpy(r->abTitle, text.data(), std::min<size_t>(text.size(), 119));
}

void ExpectEmptySyntax() {
  EXPECT_EQ(tagarray.Count(), 4);
  EXPECT_EQ(TAGMAKER::szTagFile, "");
  EXPECT_EQ(fSpeechPropExist, 0);
  EXPECT_EQ(STOCK::cIndexFromSyntax, 0);
}

}  // namespace

TEST_F(TagMakerTest, CreateMakesTheFourBuiltInRecords) {
  TAGMAKER::Create();
  ASSERT_EQ(tagarray.Count(), 4);
  const char* names[] = {"(sys)何もなし", "(sys)カラーの続き", "(sys)接続開始", "(sys)接続開始"};
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(Name(t), names[t]);
    const TAGPROP* r = TAGMAKER::GetTagProp(t);
    EXPECT_EQ(r->level, 0);
    EXPECT_EQ(r->cCover, 1);
    EXPECT_EQ(r->b355, 0xFF);
    EXPECT_EQ(r->abTitle[0], 0);
  }
  // Tag 3 is the connect record; numbers at or beyond the count read record 0.
  EXPECT_EQ(Name(3), "(sys)接続開始");
  EXPECT_EQ(Name(4), "(sys)何もなし");
  EXPECT_EQ(aidarray.Count(), 0);
  EXPECT_EQ(aidarray.GetItem(0)->kind, 0);  // an empty list gives an empty record
}

TEST_F(TagMakerTest, PropertyArrayInsertDeleteAndGetItem) {
  PROPERTYARRAY a;
  EXPECT_EQ(a.GetItem(0)[0], 0);  // empty: an all-zero record
  a.Initialize(4);
  for (int i = 0; i < 25; ++i) {  // grows past the first 20
    unsigned char rec[4] = {uint8_t(i), 0, 0, 0};
    a.Insert(i, rec);
  }
  unsigned char front[4] = {99, 0, 0, 0};
  a.Insert(0, front);
  ASSERT_EQ(a.Count(), 26);
  EXPECT_EQ(a.GetItem(0)[0], 99);
  EXPECT_EQ(a.GetItem(1)[0], 0);
  EXPECT_EQ(a.GetItem(25)[0], 24);
  EXPECT_EQ(a.GetItem(26)[0], 99);  // at the count: record 0
  a.Delete(0);
  EXPECT_EQ(a.GetItem(0)[0], 0);
  EXPECT_EQ(a.Count(), 25);
  a.Allocate(3, 4);
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a.GetItem(2)[0], 0);
}

// Every version's record form and conversions, on one rule with every field
// set.  The file's rule (file record 4, tag 5):
//   351 = 3, 352 = 2, 353 = 1, 354 = 2, 355 = 0x11, 356 = 1, 357 = 1,
//   358/359 = 0x22/0x33, title text "\(2,1)" (0x1003 on), library "LIB".
TEST_F(TagMakerTest, EveryVersionReadsAndConverts) {
  struct Row {
    uint32_t version;
    int cover, b355, alt, opt0, speech, pattern_lines, title_lines;
    const char* title;
    const char* library;
  } rows[] = {
      {0x1000, 1, 0xFF, 0, 0, 0, 2, 0, R"(\(2,0))", R"(^B \d+\n.*)"},
      {0x1001, 2, 0xFF, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1002, 2, 0x11, 0, 0, 0, 2, 1, R"(\(2,1,3))", R"(^B \d+\n.*)"},
      {0x1003, 2, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1004, 3, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1005, 3, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1006, 3, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1007, 3, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1008, 3, 0x11, 0, 0, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x1009, 3, 0x11, 1, 0x22, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x100A, 3, 0x11, 1, 0x22, 0, 2, 1, R"(\(2,1))", R"(^B \d+\n.*)"},
      {0x100B, 3, 0x11, 1, 0x22, 1, 5, 7, R"(\(2,1))", "LIB"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << row.version);
    TagFileContents s;
    s.version = row.version;
    s.records = SystemRecords();
    s.records.push_back(TagRecord("A", 1, "^MENU"));
    TAGPROP b = TagRecord("B", 2, R"(^B \f\d+\f\n.*)", "^END");
    b.cCover = 3;
    b.bOldTitle = 2;
    b.cTitleLine = row.version == 0x100B ? 7 : 1;
    b.cPatternLine = row.version == 0x100B ? 5 : 2;
    b.b355 = 0x11;
    b.fAlternative = 1;
    b.iSpeech = 1;
    b.abOption[0] = 0x22;
    b.abOption[1] = 0x33;
    PutSjis(b.szLibPattern, sizeof b.szLibPattern, "LIB");
    if (row.version >= 0x1003 && row.version < 0x100B) SetTitleText(&b, R"(\(2,1))");
    if (row.version == 0x100B) CompileTitleTemplate(R"(\(2,1))", b.abTitle, 120);
    s.records.push_back(b);
    TAGAID aid;
    std::memset(&aid, 0, sizeof aid);
    aid.kind = 1;
    s.aids.push_back(aid);
    s.oldRecords = row.version < 0x1005 ? 2 : 0;
    s.oldSearch = row.version < 0x1006 ? 1 : 0;
    s.indexes.push_back(IndexRecord("I", {3}));
    s.comment = "c";
    std::vector<ui::RecordingFacade::Box> boxes;
    std::string path;
    ASSERT_EQ(Load(s, &boxes, &path), 1);
    if (row.version == 0x100A) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, path + "このカラー構文定義ファイルは古いので発言関係の情報が無視されます。");
    } else {
      EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    }
    ASSERT_EQ(tagarray.Count(), 6);
    EXPECT_EQ(Name(2), "(sys)接続開始");  // the quotation slot
    EXPECT_EQ(Name(3), "(sys)接続開始");
    EXPECT_EQ(Name(4), "A");
    EXPECT_EQ(Name(5), "B");
    const TAGPROP* r = TAGMAKER::GetTagProp(5);
    EXPECT_EQ(r->level, 2);
    EXPECT_EQ(r->cCover, row.cover);
    EXPECT_EQ(r->b355, row.b355);
    EXPECT_EQ(r->fAlternative, row.alt);
    EXPECT_EQ(r->abOption[0], row.opt0);
    EXPECT_EQ(r->iSpeech, row.speech);
    EXPECT_EQ(r->cPatternLine, row.pattern_lines);
    EXPECT_EQ(r->cTitleLine, row.title_lines);
    EXPECT_EQ(Title(5), row.title);
    EXPECT_STREQ(r->szLibPattern, row.library);
    EXPECT_STREQ(r->szExit, "^END");
    EXPECT_EQ(aidarray.Count(), row.version == 0x100B ? 1 : 0);
    EXPECT_EQ(fSpeechPropExist, row.version == 0x100B ? 1 : 0);
    EXPECT_EQ(STOCK::cIndexFromSyntax, row.version >= 0x1006 ? 1 : 0);
    EXPECT_EQ(TAGMAKER::szTagFile, path);
    std::string comment;
    EXPECT_TRUE(TAGMAKER::GetCommentText(path, &comment));
    EXPECT_EQ(comment, "c");
  }
}

TEST_F(TagMakerTest, RefusalsLeaveTheEmptySyntax) {
  auto base = [] {
    TagFileContents s;
    s.records = SystemRecords();
    s.records.push_back(TagRecord("A", 1, "^A"));
    s.indexes.push_back(IndexRecord("I", {3}));
    s.comment = "xyz";
    return s;
  };
  const std::string read = "の読み込みに失敗しました。";
  struct Case {
    const char* what;
    std::function<void(TagFileContents*)> change;
    std::string message;
  } cases[] = {
      {"wrong magic", [](TagFileContents* s) { s->magic = "Quillnet Longreach Tag file header"; },
       "はQuillnet用のファイルではありません。"},
      {"0x100C", [](TagFileContents* s) { s->version = 0x100C; }, "のバージョンが新しすぎてこのQuillnetでは扱えません。"},
      {"short header", [](TagFileContents* s) { s->cutTo = 60; }, read},
      {"two records", [](TagFileContents* s) { s->records.resize(2); }, read},
      {"level 0 rule", [](TagFileContents* s) { s->records[3].level = 0; }, read},
      {"level 8 rule", [](TagFileContents* s) { s->records[3].level = 8; }, read},
      {"256 records", [](TagFileContents* s) { s->records.resize(256, TagRecord("R", 1, "x")); }, read},
      {"records beyond the file", [](TagFileContents* s) { s->countRecords = 9; }, read},
      {"indexes beyond the file", [](TagFileContents* s) { s->countIndexes = 40; }, read},
      {"message rules beyond the file", [](TagFileContents* s) { s->countAids = 1; }, read},
      {"comment beyond the file", [](TagFileContents* s) { s->countComment = 4; }, read},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TagFileContents s = base();
    c.change(&s);
    // A loaded syntax first, so the refusal is seen to replace it.
    ASSERT_EQ(Load(base()), 1);
    ASSERT_EQ(STOCK::cIndexFromSyntax, 1);
    std::vector<ui::RecordingFacade::Box> boxes;
    std::string path;
    EXPECT_EQ(Load(s, &boxes, &path), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, path + c.message);
    ExpectEmptySyntax();
  }
  // A file that is not there, and a directory.
  ui::ScopedRecordingFacade f;
  EXPECT_EQ(TAGMAKER::Open(Path("none.tag")), 0);
  EXPECT_EQ(TAGMAKER::Open(dir), 0);
  ASSERT_EQ(f.rec.boxes.size(), 2u);
  EXPECT_EQ(f.rec.boxes[0].text, Path("none.tag") + "は見つかりません。");
  EXPECT_EQ(f.rec.boxes[1].text, dir + "のオープンで何らかのエラーが発生しました。");
  ExpectEmptySyntax();
  // 255 records is the most tag 255 holds.
  TagFileContents most = base();
  most.records.resize(255, TagRecord("R", 1, "x"));
  EXPECT_EQ(Load(most), 1);
  EXPECT_EQ(tagarray.Count(), 256);
}

TEST_F(TagMakerTest, IndexDefinitionsGoAheadOfTheStocksAndAreRenumbered) {
  INDEXPROP own = IndexRecord("own", {4});
  STOCK::aIndexProp.assign(1, std::string(reinterpret_cast<const char*>(&own), sizeof own));
  TagFileContents s;
  s.records = SystemRecords();
  for (int i = 0; i < 4; ++i) s.records.push_back(TagRecord("R" + std::to_string(i), 1, "x"));  // tags 4-7
  s.indexes.push_back(IndexRecord("a", {2, 5}));
  s.indexes.push_back(IndexRecord("b", {0, 1, 6, 7, 200}));  // 7 becomes 8: beyond the rules
  std::vector<int> many(20, 3);
  INDEXPROP c = IndexRecord("c", many);
  c.cTag = 25;  // above 20: cut
  s.indexes.push_back(c);
  ASSERT_EQ(Load(s), 1);
  ASSERT_EQ(indexarray.Count(), 4);
  EXPECT_EQ(indexarray.FromSyntax(), 3);
  INDEXPROP* a = indexarray.GetItem(0);
  EXPECT_STREQ(a->szName, "a");
  ASSERT_EQ(a->cTag, 2);
  EXPECT_EQ(a->aTag[0], 3);
  EXPECT_EQ(a->aTag[1], 6);
  INDEXPROP* b = indexarray.GetItem(1);
  ASSERT_EQ(b->cTag, 3);
  EXPECT_EQ(b->aTag[0], 0);
  EXPECT_EQ(b->aTag[1], 1);
  EXPECT_EQ(b->aTag[2], 7);
  EXPECT_EQ(indexarray.GetItem(2)->cTag, 20);
  EXPECT_EQ(indexarray.GetItem(2)->aTag[19], 4);
  EXPECT_STREQ(indexarray.GetItem(3)->szName, "own");
  // Loading again, or the empty syntax, replaces only the syntax's own.
  ASSERT_EQ(Load(s), 1);
  EXPECT_EQ(indexarray.Count(), 4);
  TAGMAKER::Create();
  ASSERT_EQ(indexarray.Count(), 1);
  EXPECT_STREQ(indexarray.GetItem(0)->szName, "own");
}

// afTag over a tree with alternatives:
//   4 A(1)  5 B(2)  6 C(3, message)  7 D(2, alternative of B)  8 E(3)
//   9 F(1)  10 G(2, message)  11 H(1, alternative of F)  12 K(2, message 5: none)
TEST_F(TagMakerTest, MessageFlagsMarkParentsGrandparentsAndAlternatives) {
  TagFileContents s;
  s.records = SystemRecords();
  auto rule = [&](const char* n, int level, int alt, int speech) {
    TAGPROP r = TagRecord(n, level, "x");
    r.fAlternative = uint8_t(alt);
    r.iSpeech = uint8_t(speech);
    s.records.push_back(r);
  };
  rule("A", 1, 0, 0);
  rule("B", 2, 0, 0);
  rule("C", 3, 0, 1);
  rule("D", 2, 1, 0);
  rule("E", 3, 0, 0);
  rule("F", 1, 0, 0);
  rule("G", 2, 0, 2);
  rule("H", 1, 1, 0);
  rule("K", 2, 0, 5);
  TAGAID aid;
  std::memset(&aid, 0, sizeof aid);
  s.aids = {aid, aid};
  ASSERT_EQ(Load(s), 1);
  const int expect[] = {0, 0, 0, 0, 4, 6, 1, 6, 0, 6, 1, 6, 0};
  for (int t = 0; t <= 12; ++t) EXPECT_EQ(afTag[t], expect[t]) << "tag " << t;
  EXPECT_EQ(CODEVRAM::afTag[6], 1);  // one array with the line cursor's
  EXPECT_EQ(TAGMAKER::GetTagProp(12)->iSpeech, 0);
  EXPECT_EQ(fSpeechPropExist, 1);
  // Navigation: an alternative reports its main rule's children.
  EXPECT_EQ(TAGMAKER::GotoPrevTag(7), 5);
  EXPECT_EQ(TAGMAKER::GotoPrevTag(11), 9);
  EXPECT_EQ(TAGMAKER::GotoPrevTag(6), 6);
  EXPECT_EQ(TAGMAKER::HaveChild(7), 1);
  EXPECT_EQ(TAGMAKER::HaveChild(11), 1);
  EXPECT_EQ(TAGMAKER::HaveChild(6), 0);
  EXPECT_EQ(TAGMAKER::HaveChild(4), 1);
  EXPECT_EQ(TAGMAKER::HaveExit(4), 0);
  // The rule tree model.
  std::vector<TAGTREEITEM> tree;
  EXPECT_EQ(TAGMAKER::InitTagTree(&tree), 0);
  ASSERT_EQ(tree.size(), 10u);
  EXPECT_EQ(tree[0].tag, 3);
  EXPECT_EQ(tree[0].parent, -1);
  const int parent[] = {-1, 0, 1, 2, 1, 4, 0, 6, 0, 8};
  for (size_t i = 0; i < tree.size(); ++i) EXPECT_EQ(tree[i].parent, parent[i]) << i;
  EXPECT_EQ(TAGMAKER::GetTagProp(8)->dwRuntime, 6u);
}

TEST_F(TagMakerTest, OldTitlesThatDoNotConvertAreReplaced) {
  TagFileContents s;
  s.version = 0x1008;
  s.records = SystemRecords();
  TAGPROP bad = TagRecord("bad", 1, "x");
  SetTitleText(&bad, R"(\(1,)");
  TAGPROP big = TagRecord("big", 1, "x");
  std::string grows;  // "a\1" is 3 bytes of text and 5 compiled
  for (int i = 0; i < 39; ++i) grows += "a\\1";
  SetTitleText(&big, grows);
  TAGPROP search = TagRecord("search", 1, "x");
  SetTitleText(&search, R"(\("re"))");
  s.records = {s.records[0], s.records[1], s.records[2], bad, big, search};
  std::vector<ui::RecordingFacade::Box> boxes;
  ASSERT_EQ(Load(s, &boxes), 1);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[0].text.find("\"変換エラー\""), std::string::npos);
  EXPECT_NE(boxes[1].text.find("\"タイトル長すぎ\""), std::string::npos);
  EXPECT_EQ(jcode::SjisToUtf8(Title(4)), "変換エラー");
  EXPECT_EQ(jcode::SjisToUtf8(Title(5)), "タイトル長すぎ");
  EXPECT_EQ(TAGMAKER::GetTagProp(6)->cTitleLine, 0xFF);  // a search: not known in advance
  EXPECT_EQ(TAGMAKER::GetTagProp(4)->cTitleLine, 0);
}

TEST_F(TagMakerTest, CountCRAndTitleMarks) {
  struct Case {
    const char* pattern;
    int count;
    const char* library;
  } cases[] = {
      {"abc", 0, "abc"},
      {R"(a\nb\nc)", 2, R"(a\nb\nc)"},
      {R"([\n]x)", 0, R"([\n]x)"},
      {R"([a[\n]]\n)", 1, R"([a[\n]]\n)"},
      {R"((a\n|b\n\n)c)", 2, R"((a\n|b\n\n)c)"},
      {R"(a\n|b)", 1, R"(a\n|b)"},
      {R"((a(b\n)\n)\n)", 3, R"((a(b\n)\n)\n)"},
      {R"(\\n)", 0, R"(\\n)"},
      {R"(^B \f\d+\f: )", 0, R"(^B \d+: )"},
      {R"(\\f)", 0, R"(\\f)"},
      // ソ (0x83 0x5C) then "n": the trail byte is no escape.
      {"ソn\\n", 1, "ソn\\n"},
      {"表\\f", 0, "表"},
  };
  for (auto& c : cases) {
    std::string p = jcode::Utf8ToSjis(c.pattern);
    EXPECT_EQ(CountCR(p.c_str()), c.count) << c.pattern;
    EXPECT_EQ(jcode::SjisToUtf8(RemoveTitleMarks(p.c_str())), c.library) << c.pattern;
  }
}

// The demo BBS's syntax (built from tools/demohost/demo-tag.txt) against
// lines in the demo host's layout.
TEST_F(TagMakerTest, DemoSyntaxRecognisesTheDemoHostsScreens) {
  ui::ScopedRecordingFacade f;
  ASSERT_EQ(TAGMAKER::Open(QUILLNET_BUILD_DIR "/tools/demo.tag"), 1);
  ASSERT_TRUE(f.rec.boxes.empty());
  struct Case {
    const char* rule;
    std::string text;  // the lines the rule spans, joined by line feeds
  } cases[] = {
      {"メインメニュー", "＝＝＝＝＝＝＝　メインメニュー　＝＝＝＝＝＝＝"},
      // As the host centres it: an odd cell left over becomes a blank.
      {"メインメニュー", "＝＝＝＝＝＝＝＝＝＝ 　メインメニュー　＝＝＝＝＝＝＝＝＝＝ "},
      {"掲示板一覧", "■ 掲示板一覧"},
      {"掲示板", "■ 掲示板 2: パソコン通信よもやま話  （4件）"},
      {"発言一覧", "  No.   日付       時刻   発言者     タイトル"},
      {"発言", "#0002/0005 雑談コーナー\n★Re: はじめまして (QNT00017)  96/03/29 00:12"},
      {"現在のアクセス者", "現在のアクセス者"},
  };
  for (auto& c : cases) {
    int tag = -1;
    for (int t = TAG_FIRST_RULE; t < tagarray.Count(); ++t)
      if (Name(t) == c.rule) tag = t;
    ASSERT_GE(tag, 0) << c.rule;
    const TAGPROP* r = TAGMAKER::GetTagProp(tag);
    EXPECT_EQ(r->cPatternLine, std::count(c.text.begin(), c.text.end(), '\n') + 1) << c.rule;
    JRE2 jre;
    ASSERT_TRUE(Jre2Open(&jre));
    ASSERT_TRUE(Jre2Compile(&jre, r->szLibPattern)) << c.rule << ": " << GetJreMessage(&jre);
    std::string text = jcode::Utf8ToSjis(c.text);
    EXPECT_EQ(Jre2GetMatchInfo(&jre, text.data(), int(text.size())), 1) << c.rule;
    // No other rule of the same level takes the line first.
    for (int t = TAG_FIRST_RULE; t < tag; ++t) {
      const TAGPROP* o = TAGMAKER::GetTagProp(t);
      if (o->level != r->level) continue;
      JRE2 other;
      Jre2Open(&other);
      ASSERT_TRUE(Jre2Compile(&other, o->szLibPattern));
      EXPECT_EQ(Jre2GetMatchInfo(&other, text.data(), int(text.size())), 0) << c.rule << " taken by " << Name(t);
    }
  }
  // The message rule: numbered, with a date and a parent; the exit of the who's-on list.
  ASSERT_EQ(aidarray.Count(), 1);
  EXPECT_EQ(aidarray.GetItem(0)->kind, 1);
  EXPECT_EQ(fSpeechPropExist, 1);
  std::string comment;
  EXPECT_TRUE(TAGMAKER::GetCommentText(QUILLNET_BUILD_DIR "/tools/demo.tag", &comment));
  EXPECT_EQ(jcode::SjisToUtf8(comment), "デモＢＢＳ用\r\n");
}
