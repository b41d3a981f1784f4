#include "stock/tagtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "stock/stock_fixture.h"
#include "stock/tagfile_writer.h"
#include "support/process.h"

namespace {

// dump then compile: the bytes of the compiled text.
std::string RoundTrip(const std::string& file, std::string* text = nullptr) {
  TAGFILEDATA d;
  std::string message;
  EXPECT_TRUE(ParseTagFile(file, &d, &message)) << message;
  std::string t = DumpTagText(d);
  if (text) *text = t;
  TAGFILEDATA back;
  std::string error;
  EXPECT_TRUE(CompileTagText(t, &back, &error)) << error << "\n" << t;
  return WriteTagFile(back);
}

}  // namespace

TEST(TagText, CurrentFilesComeBackByteForByte) {
  TagFileContents s;
  s.records = SystemRecords();
  s.records[1].szName[30] = 0x7A;  // a tail in a system record
  TAGPROP a = TagRecord("掲示板", 2, R"(^■ 掲示板 \f\d+: .+\f  （)", "^終");
  CompileTitleTemplate(R"(\1)", a.abTitle, 120);
  PutSjis(a.szLibPattern, 200, R"(^■ 掲示板 \d+: .+  （)");
  a.cPatternLine = 1;
  a.cTitleLine = 0;
  s.records.push_back(a);
  TAGPROP b = TagRecord(" edge %\t", 3, "x\\ny", "");
  b.szName[45] = 1;                            // name tail
  b.szExit[98] = 0x55;                         // exit tail at the very end
  std::memset(b.szPattern, 'p', 200);          // a pattern that fills its field
  b.abTitle[0] = 2, b.abTitle[1] = 1, b.abTitle[2] = 'a', b.abTitle[3] = 2, b.abTitle[4] = 1, b.abTitle[5] = 'b',
  b.abTitle[6] = 14;                           // two literals: no exact text
  b.szLibPattern[0] = char(0x80), b.szLibPattern[1] = char(0xFD), b.szLibPattern[2] = char(0x81),
  b.szLibPattern[3] = char(0x20);              // bytes without a Unicode form
  b.cCover = 3, b.fVariable = 1, b.fAlternative = 1, b.iSpeech = 1, b.abOption[0] = 7, b.abOption[1] = 9;
  b.dwRuntime = 0x01020304;
  b.cTitleLine = 0x33, b.cPatternLine = 0x44;  // derived fields that do not match
  s.records.push_back(b);
  TAGAID aid;
  std::memset(&aid, 0, sizeof aid);
  aid.kind = 1;
  CompileTitleTemplate(R"(\("#\d+"))", aid.abNumber, 50);
  aid.fDate = 1;
  CompileTitleTemplate(R"(\(2,1,14))", aid.abDate, 50);
  aid.abUnused[79] = 0xEE;
  s.aids.push_back(aid);
  INDEXPROP x = IndexRecord("索引", {0, 1, 2, 3, 255});
  x.aTag[19] = 6;
  s.indexes.push_back(x);
  INDEXPROP many = IndexRecord("many", std::vector<int>(20, 4));
  many.cTag = 30;
  s.indexes.push_back(many);
  s.comment = "デモＢＢＳ用\r\n%";
  s.comment = jcode::Utf8ToSjis(s.comment);
  std::string file = BuildTagFile(s);
  file[51] = 'Q';  // the last byte of the magic field, after its NUL
  file[56] = 3;                              // an old-record count a current file does not use
  file += "TRAILING";
  std::string text;
  EXPECT_EQ(RoundTrip(file, &text), file);
  // What the text says, for the parts a reader looks at.
  EXPECT_NE(text.find("pattern = ^■ 掲示板 \\f\\d+: .+\\f  （\n"), std::string::npos) << text;
  EXPECT_NE(text.find("name = %20edge %25%09\n"), std::string::npos) << text;
  EXPECT_NE(text.find("name.tail = "), std::string::npos);
  EXPECT_NE(text.find("title:hex = 0201610201620E\n"), std::string::npos);
  EXPECT_NE(text.find("library = %80%FD%81%20\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tags = 0 1 3 4 256\ntags.tail = 000000000000000000000000000006\n"), std::string::npos) << text;
  EXPECT_NE(text.find("count = 30\n"), std::string::npos);
  EXPECT_NE(text.find("text = デモＢＢＳ用%0D%0A%25\n"), std::string::npos);
  EXPECT_NE(text.find("[system 1]\nname = (sys)カラーの続き\nname.tail = 0000000000000000000000007A\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("[system 0]"), std::string::npos);
  EXPECT_NE(text.find("unused:hex = "), std::string::npos);
  EXPECT_NE(text.find("old-records = 3\n"), std::string::npos);
  // The first rule's derived fields are what compiling derives: not written.
  size_t first = text.find("[rule]"), second = text.find("[rule]", first + 1);
  EXPECT_EQ(text.substr(first, second - first).find("library"), std::string::npos);
  EXPECT_EQ(text.substr(first, second - first).find("pattern-lines"), std::string::npos);
}

TEST(TagText, OlderFilesDumpConvertedAndCompileToTheirLoadedForm) {
  for (uint32_t v : {0x1000u, 0x1002u, 0x1004u, 0x1007u, 0x1009u, 0x100Au}) {
    SCOPED_TRACE(v);
    TagFileContents s;
    s.version = v;
    s.records = SystemRecords();
    TAGPROP r = TagRecord("B", 1, R"(^B \f\d+\f\n.*)");
    r.bOldTitle = 1;
    r.cTitleLine = 0;
    if (v >= 0x1003) {
      std::memset(r.abTitle, 0, 120);
      std::memcpy(r.abTitle, "\\1", 2);
    }
    s.records.push_back(r);
    s.indexes.push_back(IndexRecord("I", {3}));
    std::string file = BuildTagFile(s);
    ui::ScopedRecordingFacade f;
    TAGFILEDATA old;
    std::string message;
    ASSERT_TRUE(ParseTagFile(file, &old, &message));
    std::string upgraded = RoundTrip(file);
    TAGFILEDATA now;
    ASSERT_TRUE(ParseTagFile(upgraded, &now, &message));
    EXPECT_EQ(now.header.dwVersion, TAGFILE_VERSION);
    ASSERT_EQ(now.records.size(), old.records.size());
    for (size_t k = 0; k < old.records.size(); ++k)
      EXPECT_EQ(std::memcmp(&now.records[k], &old.records[k], sizeof(TAGPROP)), 0) << k;
    EXPECT_EQ(now.indexes.size(), old.indexes.size());
    // The upgraded file is current: compiling its dump changes nothing more.
    EXPECT_EQ(RoundTrip(upgraded), upgraded);
  }
}

TEST(TagText, TextsThatDoNotCompileSayWhere) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"version = 0x100B\n", "line 1: "},
      {"quillnet-tag 1\nversion = 0x1005\n", "line 2: version"},
      {"quillnet-tag 1\n[rule]\nname = a\n", "line 2: levelがありません"},
      {"quillnet-tag 1\n[rule]\nlevel = 300\n", "line 3: level"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\ncolour = 2\n", "line 4: 知らないキー colour"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\ntitle = \\(1\n", "line 4: title"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\nname = %4\n", "line 4: name"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\nname = 012345678901234567890123456789012345678901234567890\n", "line 4: name"},
      {"quillnet-tag 1\n[index]\ntags = 2\n", "line 3: tags"},
      {"quillnet-tag 1\n[rules]\n", "line 2: 知らない節"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\n[rule]\ntag = 4\nlevel = 1\n", "line 4: 読み込んだ状態"},
      {"quillnet-tag 1\n[rule]\nlevel = 1\nlevel = 2\n", "line 4: levelが二度"},
  };
  for (auto& c : cases) {
    TAGFILEDATA d;
    std::string error;
    EXPECT_FALSE(CompileTagText(c.text, &d, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " -> " << error;
  }
}

TEST(TagText, ValuesEncodeEveryByte) {
  for (int c = 1; c < 256; ++c) {
    std::string s = "a" + std::string(1, char(c)) + "b";
    std::string back, why;
    ASSERT_TRUE(DecodeTagValue(EncodeTagValue(s), &back, &why)) << c;
    EXPECT_EQ(back, s) << c;
  }
  EXPECT_EQ(EncodeTagValue(jcode::Utf8ToSjis(" ｱ表 ")), "%20ｱ表%20");
}

class TagToolTest : public StockTest {};

TEST_F(TagToolTest, CompileDumpAndCheckThroughTheTool) {
  std::string text = Path("t.txt"), tag = Path("t.tag"), again = Path("again.tag");
  std::ofstream(text) << "quillnet-tag 1\n[rule]\nname = 良い\nlevel = 1\npattern = ^OK\n"
                         "[rule]\nname = 悪い\nlevel = 2\npattern = (ab\nexit = ^E\n";
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "tag", "compile", text, tag}, "").status, 0);
  ProcessResult dump = RunProcess({QUILLNET_TOOL_PATH, "tag", "dump", tag}, "");
  EXPECT_EQ(dump.status, 0);
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "tag", "compile", "-", again}, dump.out).status, 0);
  EXPECT_EQ(ReadWholeFile(again), ReadWholeFile(tag));
  ProcessResult check = RunProcess({QUILLNET_TOOL_PATH, "tag", "check", tag}, "");
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out.rfind("悪い: (ab: ", 0), 0u) << check.out;
  EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 1);
  ProcessResult loaded = RunProcess({QUILLNET_TOOL_PATH, "tag", "dump", tag, "--loaded"}, "");
  EXPECT_EQ(loaded.status, 0);
  EXPECT_NE(loaded.out.find("tag = 5\naftag = 0\nname = 悪い\n"), std::string::npos) << loaded.out;
  EXPECT_EQ(RunProcess({QUILLNET_TOOL_PATH, "tag", "check", Path("none.tag")}, "").status, 2);
}
