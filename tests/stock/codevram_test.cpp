// CODEVRAM: line lengths, continued lines and the 0x7F cell, Shift_JIS
// positions, colours of continuation tags, connect-line dates and message
// numbers.
#include <climits>
#include <cstring>

#include "platform/jcode.h"

#include "stock_fixture.h"
#include "support/process.h"

namespace {

// Sets a slot's text bytes (the rest zero).
void SetText(int slot, const std::string& bytes) {
  char* t = STOCK::GetItem(slot)->Text();
  std::memset(t, 0, size_t(STOCK::cColumn));
  bytes.copy(t, std::min<size_t>(bytes.size(), size_t(STOCK::cColumn)));
}

class CodevramTest : public StockTest {
 protected:
  void SetUp() override {
    StockTest::SetUp();
    STOCK::CreateTempStockFile();  // 80 columns, all in memory
    for (int i = 0; i < 5; ++i) STOCK::NewItem();
  }
};

TEST_F(CodevramTest, LengthAndLineEnds) {
  const std::string full(80, 'x');
  std::string full7F(79, 'y');
  full7F += '\x7F';
  struct Case {
    const char* what;
    std::string bytes;
    int length;
    int cr;
  } cases[] = {
      {"empty", "", 0, 1},
      {"spaces only", "    ", 4, 1},
      {"text then spaces", "ab  ", 4, 1},
      {"control bytes are padding", std::string("ab\x01\x02", 4), 2, 1},
      {"full width, continues", full, 80, 0},
      {"continues, last cell empty", full7F, 79, 0},
      {"0x7F inside the line is text", "a\x7F" "b", 3, 1},
  };
  for (auto& c : cases) {
    SetText(1, c.bytes);
    CODEVRAM cv = 1;
    EXPECT_EQ(cv.Length(), c.length) << c.what;
    EXPECT_EQ(cv.IsCR(), c.cr) << c.what;
  }
}

// The length is found many cells at a time; the rule is the cell-by-cell
// one: the last cell from 0x20 on ends the text, except a 0x7F filler in
// the last column.  Every width from 1 to 250 columns, the last shown cell
// at every position (and none), with the byte values at the edges of the
// rule there and padding bytes (0x00-0x1F) behind it.
TEST(StockTextLengthRule, EveryWidthAndEndPosition) {
  const auto byCell = [](const std::string& t, int column) {
    for (int x = column - 1; x >= 0; --x) {
      const auto c = static_cast<unsigned char>(t[size_t(x)]);
      if (c >= 0x20) return x == column - 1 && c == 0x7F ? column - 1 : x + 1;
    }
    return 0;
  };
  const unsigned char ends[] = {0x20, 0x7F, 0x80, 0x9F, 0xFF, 'a'};
  const unsigned char pads[] = {0x00, 0x01, 0x1F};
  int checked = 0;
  for (int column = 1; column <= 250; ++column) {
    for (int last = -1; last < column; ++last) {
      for (unsigned char end : ends) {
        for (unsigned char pad : pads) {
          std::string t(size_t(column) + 16, 'z');  // cells past the width are never looked at
          for (int x = 0; x < column; ++x) t[size_t(x)] = x < last ? 'x' : char(pad);
          if (last >= 0) t[size_t(last)] = char(end);
          const int want = byCell(t, column);
          ASSERT_EQ(StockTextLength(t.data(), column), want)
              << "column " << column << ", last shown cell " << last << ", byte " << int(end) << ", padding "
              << int(pad);
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 500000);
}

TEST_F(CodevramTest, SecondByteOfADoubleByteCharacter) {
  // "aあb" and a lead byte in the last cell.
  std::string bytes = "a\x82\xA0" "b";
  bytes.resize(79, ' ');
  bytes += '\x88';
  SetText(2, bytes);
  CODEVRAM cv = 2;
  struct Case {
    int x, expect;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 0}, {4, 0}, {79, 0}, {80, 1}};
  for (auto& c : cases) EXPECT_EQ(cv.IsKanji2(c.x), c.expect) << c.x;
}

TEST_F(CodevramTest, ContinuationTagsTakeTheColoursOfTheirLine) {
  std::vector<unsigned char> seen;
  CODEVRAM::selectColors = [&](void*, unsigned char tag) { seen.push_back(tag); };
  // Slots 0..5: tags 1 1 2 1 5 1
  const unsigned char tags[] = {1, 1, 2, 1, 5, 1};
  for (int i = 0; i < 6; ++i) STOCK::aTag[size_t(i)] = tags[i];
  int dc = 0;
  for (int i = 0; i < 6; ++i) CODEVRAM(i).Associate(&dc);
  EXPECT_EQ(seen, (std::vector<unsigned char>{0, 0, 2, 2, 5, 5}));
  CODEVRAM(3).Associate(nullptr);  // no context, nothing selected
  EXPECT_EQ(seen.size(), 6u);
  CODEVRAM::selectColors = nullptr;
}

TEST_F(CodevramTest, DateOfAConnectLine) {
  struct Case {
    std::string text;
    int year, month, day, hour, minute;
  } cases[] = {
      {"Quillnet - NIFTY - 2024/05/01 12:34", 2024, 5, 1, 12, 34},
      {"Host - 1997/10/12 23:45", 1997, 10, 12, 23, 45},
      {"97/10/12 23:45", 1997, 10, 12, 23, 45},
      {"x2003/01/02 03:04", 2003, 1, 2, 3, 4},
      {"Host - 2024/05/01 12:34 ", 2100, 0, 0, 0, 0},  // not at the end
      {"Host - 2024/05/01 12-34", 2100, 0, 0, 0, 0},
      {"Host - 2024/5/01 12:34", 2100, 0, 0, 0, 0},
      {"", 2100, 0, 0, 0, 0},
      {std::string(66, 'x') + "24/05/01 12:34", 2100, 0, 0, 0, 0},  // fills the line: no end byte
  };
  for (auto& c : cases) {
    SetText(3, c.text);
    SYSTEMTIME st = GetDateTimeFromStock(3);
    EXPECT_EQ(st.wYear, c.year) << c.text;
    EXPECT_EQ(st.wMonth, c.month) << c.text;
    EXPECT_EQ(st.wDay, c.day) << c.text;
    EXPECT_EQ(st.wHour, c.hour) << c.text;
    EXPECT_EQ(st.wMinute, c.minute) << c.text;
    EXPECT_EQ(st.wSecond, 0);
  }
  SetText(3, "Host - 2024/05/01 12:34");
  SYSTEMTIME back = FileTimeToSystemTime(GetTimeFromStock(3));
  EXPECT_EQ(back.wYear, 2024);
  EXPECT_EQ(back.wMonth, 5);
  EXPECT_EQ(back.wDay, 1);
  EXPECT_EQ(back.wHour, 12);
  EXPECT_EQ(back.wMinute, 34);
  EXPECT_EQ(back.wDayOfWeek, 3);  // a Wednesday
  EXPECT_EQ(GetTimeFromStock(3).Value(), 133590404400000000ULL);
}

TEST(SpeechNumbers, DateNumbers) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"97/10/12 23:45", 971012}, {" 9/ 1/ 5", 90105},    {"", 0},
               {"1997/10/12", 19971012},    {"97-10-12", 97},       {"12:34", 1234},
               {"99999999999999", INT32_MAX}};
  for (auto& c : cases) EXPECT_EQ(SpeechDateNumber(c.text), c.value) << c.text;
}

TEST(SpeechNumbers, LeadingNumbersSaturate) {
  struct Case {
    const char* text;
    int32_t value, digits;
  } cases[] = {{"123abc", 123, 3}, {"abc", -1, 0}, {"", -1, 0}, {"0042", 42, 4}, {"98765432109876", INT32_MAX, 14}};
  for (auto& c : cases) {
    int32_t digits = -5;
    EXPECT_EQ(LeadingNumber(c.text, &digits), c.value) << c.text;
    EXPECT_EQ(digits, c.digits) << c.text;
  }
}

TEST_F(CodevramTest, SpeechInfoFromTheSyntaxRule) {
  SPEECHRULETEXT rule;
  CODEVRAM::speechRule = [&](const CODEVRAM&, SPEECHRULETEXT* r) {
    *r = rule;
    return true;
  };
  SPEECHINFO si;
  STOCK::aTag[2] = 3;  // connect lines never carry numbers
  EXPECT_EQ(CODEVRAM(2).GetSpeechInfo(&si), 0);
  EXPECT_EQ(si.nSpeech, -1);

  STOCK::aTag[2] = 9;
  rule.kind = 1;
  rule.number = "0123 title";
  rule.hasDate = true;
  rule.date = "97/10/12 23:45";
  rule.hasParent = true;
  rule.parent = "0100";
  EXPECT_EQ(CODEVRAM(2).GetSpeechInfo(&si), 1);
  EXPECT_EQ(si.nSpeech, 123);
  EXPECT_EQ(si.cDigit, 4);
  EXPECT_EQ(si.nDate, 971012);
  EXPECT_EQ(si.nParent, 100);

  rule.upArrow = true;
  rule.parent = jcode::Utf8ToSjis("↑");
  EXPECT_EQ(CODEVRAM(2).GetSpeechInfo(&si), 1);
  EXPECT_EQ(si.nParent, 122);

  rule.kind = 2;
  EXPECT_EQ(CODEVRAM(2).GetSpeechInfo(&si), 1);
  EXPECT_EQ(si.nSpeech, -1);
  EXPECT_EQ(si.nParent, -1);
  EXPECT_EQ(si.nDate, 0);
  CODEVRAM::speechRule = nullptr;
}

TEST_F(CodevramTest, TagFlags) {
  CODEVRAM::afTag[6] = 1;
  CODEVRAM::afTag[7] = 2;
  STOCK::aTag[1] = 6;
  STOCK::aTag[2] = 7;
  EXPECT_EQ(CODEVRAM(1).IsCommentable(), 1);
  EXPECT_EQ(CODEVRAM(1).IsSpeechable(), 1);
  EXPECT_EQ(CODEVRAM(2).IsSpeech(), 0);
  EXPECT_EQ(CODEVRAM(2).IsSpeechable(), 1);
  EXPECT_EQ(CODEVRAM(3).IsSpeechable(), 0);
  CODEVRAM::afTag[6] = CODEVRAM::afTag[7] = 0;
}

// The tool's append wraps as the screen does; export joins the slots back.
TEST_F(StockTest, AppendWrapsAtTheWidthAndExportJoins) {
  const std::string tool = QUILLNET_TOOL_PATH;
  const std::string path = Path("w.stk");
  ASSERT_EQ(RunProcess({tool, "stock", "create", path, "--columns", "40"}, "").status, 0);
  const std::string kanji = "\x88\x9F";  // one double-byte character
  std::string exactly40(40, 'e');
  std::string leadAtLast = std::string(39, 'k') + kanji + "tail";
  std::string longer = std::string(100, 'l');
  std::string input = "short\n" + exactly40 + "\n" + leadAtLast + "\n" + longer + "\n\nlast without newline";
  ProcessResult r = RunProcess({tool, "stock", "append", path}, input);
  ASSERT_EQ(r.status, 0);
  ProcessResult out = RunProcess({tool, "stock", "export", path}, "");
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.out, "short\n" + exactly40 + "\n" + leadAtLast + "\n" + longer + "\n\nlast without newline\n");

  ASSERT_EQ(STOCK::Open(path), 1);
  // The slots as the screen leaves them.
  CODEVRAM cv = cvOldest;
  std::vector<std::pair<int, int>> shape;  // (length, CR) per slot
  for (;; ++cv) {
    shape.push_back({cv.Length(), cv.IsCR()});
    if (cv.IsNewest()) break;
  }
  std::vector<std::pair<int, int>> expect = {
      {5, 1},                    // short
      {40, 0}, {0, 1},           // exactly the width: wraps at once, then the line end
      {39, 0}, {6, 1},           // the character did not fit: 0x7F in the last cell
      {40, 0}, {40, 0}, {20, 1}, // 100 bytes
      {0, 1},                    // an empty line
      {20, 1},                   // the last line, ended at the end of the input
      {0, 1},                    // the newest line, being written
  };
  EXPECT_EQ(shape, expect);
  EXPECT_EQ(STOCK::GetItem(3)->Text()[39], '\x7F');
  STOCK::Close();

  // UTF-8 out.
  ProcessResult utf8 = RunProcess({tool, "stock", "export", path, "--utf8"}, "");
  EXPECT_NE(utf8.out.find("kkk\xe4\xba\x9c" "tail\n"), std::string::npos);
}

TEST_F(StockTest, InfoPrintsTheHeader) {
  const std::string tool = QUILLNET_TOOL_PATH;
  const std::string path = Path("i.stk");
  ASSERT_EQ(RunProcess({tool, "stock", "create", path, "--lines", "2050", "--columns", "100"}, "").status, 0);
  ASSERT_EQ(RunProcess({tool, "stock", "append", path}, "a\nb\nc\n").status, 0);
  ProcessResult r = RunProcess({tool, "stock", "info", path}, "");
  ASSERT_EQ(r.status, 0);
  for (const char* want : {"szMagic: Quillnet Longreach Stock Header\n", "dwVersion: 7\n", "cItemMaxMax: 2000\n",
                           "cItemMax: 1000\n", "cColumn: 100\n", "cItemUsed: 4\n", "iOldest: 0\n", "iNewest: 3\n",
                           "fOnlineFlag: 0\n", "usedItems: 4\n"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << " in\n" << r.out;
  EXPECT_NE(RunProcess({tool, "stock", "info", Path("none.stk")}, "").status, 0);
  EXPECT_NE(RunProcess({tool, "stock", "create", path, "--columns", "30"}, "").status, 0);
}

}  // namespace
