// STOCK: the ring, opening every version, damaged files, relayouts, sharing
// between processes, the read cache and the temporary stock.
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "stock_fixture.h"
#include "support/process.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;

void Put32(std::string& f, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[off + size_t(i)] = char(v >> (8 * i));
}
void Put16(std::string& f, size_t off, uint16_t v) {
  f[off] = char(v);
  f[off + 1] = char(v >> 8);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A stock file made by hand, field by field at its offsets: `lines` lines
// "old i" in an 80-column ring of `slots` slots with the given tags.
std::string HandMadeStock(uint32_t version, int slots, const std::vector<unsigned char>& tags,
                          const std::vector<std::string>& index, uint32_t maxMax) {
  const int lines = int(tags.size());
  std::string f(892 + size_t(slots) * 81, '\0');
  std::memcpy(f.data(), "Quillnet Longreach Stock Header", 31);
  Put32(f, 248, maxMax);
  Put32(f, 252, version);
  Put32(f, 260, uint32_t(lines));
  Put32(f, 264, 0);
  Put32(f, 268, uint32_t(lines - 1));
  Put32(f, 272, uint32_t(slots));
  Put32(f, 280, uint32_t(-1));
  Put32(f, 284, uint32_t(-1));
  Put32(f, 372, 0);  // width 0 reads as 80
  Put16(f, 376, uint16_t(index.size()));
  for (int i = 0; i < lines; ++i) {
    size_t at = 892 + size_t(i) * 81;
    f[at] = char(0xFF);
    std::string t = "old " + std::to_string(i);
    f.replace(at + 1, t.size(), t);
  }
  std::string tagArray(size_t(slots), '\0');
  for (int i = 0; i < lines; ++i) tagArray[size_t(i)] = char(tags[size_t(i)]);
  f += tagArray;
  for (auto& rec : index) f += rec;
  return f;
}

TEST_F(StockTest, OneLineStock) {
  ASSERT_EQ(STOCK::Create(Path("a.stk"), 10000, 80, 0, 0, 0), 1);
  EXPECT_EQ(STOCK::UsedItems(), 1);
  EXPECT_EQ(cvOldest, 0);
  EXPECT_EQ(cvNewest, 0);
  CODEVRAM cv = 0;
  EXPECT_EQ((++cv).i, 0);
  EXPECT_EQ((--cv).i, 0);
  EXPECT_EQ(STOCK::AddIndex(0, 5), 0);
  EXPECT_EQ(STOCK::AddIndex(0, -5), 0);
}

TEST_F(StockTest, CreateRoundsTheCapacity) {
  struct Case {
    unsigned long lines;
    int columns;
    int maxMax, itemMax, column;
  } cases[] = {{0, 80, 100, 100, 80},           {99, 80, 100, 100, 80},        {1050, 20, 1000, 1000, 40},
               {123456, 300, 123400, 1000, 250}, {20000000, 80, 10000000, 1000, 80}};
  for (auto& c : cases) {
    ASSERT_EQ(STOCK::Create(Path("c.stk"), c.lines, c.columns, 0, 0, 0), 1);
    EXPECT_EQ(STOCK::cItemMaxMax, c.maxMax) << c.lines;
    EXPECT_EQ(STOCK::cItemMax, c.itemMax) << c.lines;
    EXPECT_EQ(STOCK::cColumn, c.column) << c.columns;
    STOCK::Close();
  }
}

TEST_F(StockTest, RingWrapsAndKeepsOrderOnDisk) {
  ASSERT_EQ(STOCK::Create(Path("r.stk"), 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 999));  // fills slots 0..998, newest 999 is empty
  EXPECT_EQ(cvNewest, 999);
  EXPECT_EQ(cvOldest, 0);
  AppendLines({"line 999"});  // line 1001 overwrites slot 0
  EXPECT_EQ(cvNewest, 0);
  EXPECT_EQ(cvOldest, 1);
  EXPECT_EQ(STOCK::cItemUsed, 1000);
  EXPECT_EQ(STOCK::UsedItems(), 1000);
  EXPECT_EQ(STOCK::AddIndex(999, 1), 0);
  EXPECT_EQ(STOCK::AddIndex(0, -1), 999);
  EXPECT_EQ(STOCK::AddIndex(998, 10), 0);   // clamped at newest, in ring order
  EXPECT_EQ(STOCK::AddIndex(5, -100), 1);   // clamped at oldest
  EXPECT_EQ(STOCK::Flat(0), 999);
  CODEVRAM cv = 999;
  EXPECT_EQ((++cv).i, 0);
  EXPECT_EQ((++cv).i, 0);  // stays at the newest
  cv = 1;
  EXPECT_EQ((--cv).i, 1);  // stays at the oldest
  cv = 0;
  EXPECT_EQ((--cv).i, 999);
  auto expect = Numbered(1, 999);
  EXPECT_EQ(Lines(), expect);
  STOCK::Save();
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(Path("r.stk")), 1);
  EXPECT_EQ(Lines(), expect);
  EXPECT_EQ(cvOldest, 1);
}

TEST_F(StockTest, GrowingTheFileKeepsEveryLine) {
  ASSERT_EQ(STOCK::Create(Path("g.stk"), 100000, 40, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  STOCK::SetSearchProps({std::string(154, 's')});
  STOCK::Save();
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  auto lines = Numbered(0, 25000);
  AppendLines(lines);
  EXPECT_EQ(STOCK::cItemMax, 31000);
  STOCK::Save();
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(Path("g.stk")), 1);
  EXPECT_EQ(STOCK::cItemMax, 31000);
  EXPECT_EQ(Lines(), lines);
  ASSERT_EQ(STOCK::aSearchProp.size(), 1u);
  EXPECT_EQ(STOCK::aSearchProp[0], std::string(154, 's'));
  EXPECT_EQ(std::filesystem::file_size(Path("g.stk")), 892u + 31000u * 41 + 31000 + 154);
}

TEST_F(StockTest, OverwritingTheOldestLineMovesCursorsAndDropsItsBookmarks) {
  ASSERT_EQ(STOCK::Create(Path("o.stk"), 100, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  std::vector<int> overwritten;
  STOCK::hooks.connectLineOverwritten = [&](int slot) { overwritten.push_back(slot); };
  AppendLines({"Host - 2024/05/01 12:34"});
  STOCK::SetConnectTag(0);
  AppendLines(Numbered(1, 98));
  STOCK::AddMark({0, -2});
  STOCK::AddMark({50, 1});
  cvThisTop = 0;
  EXPECT_EQ(STOCK::UsedItems(), 100);
  AppendLines({"one more"});
  EXPECT_EQ(overwritten, std::vector<int>{0});
  EXPECT_EQ(cvThisTop, -1);
  ASSERT_EQ(STOCK::fileheader.cMark, 1);
  EXPECT_EQ(STOCK::fileheader.aMark[0].item, 50);
  AppendLines({"and another"});
  EXPECT_EQ(overwritten.size(), 1u);  // an ordinary line: no notice
}

TEST_F(StockTest, OpensEveryOlderVersionWithItsUpgrades) {
  // Tags as stored: 3 marks a connect line in every version, but before
  // version 5 numbers from 2 on meant what 3 and up mean now.
  const std::vector<unsigned char> stored = {0, 1, 2, 3, 5};
  std::string def(61, '\0');
  def.replace(0, 5, "index");
  def[40] = 2;
  def[41] = 4;
  def[42] = 7;
  for (uint32_t version = 1; version <= 7; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string path = Path("v" + std::to_string(version) + ".stk");
    WriteFile(path, HandMadeStock(version, 1000, stored, {def}, version == 2 ? 0 : 1000));
    ASSERT_EQ(STOCK::Open(path), 1);
    EXPECT_EQ(STOCK::cColumn, 80);
    EXPECT_EQ(STOCK::cItemMaxMax, 1000);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"old 0", "old 1", "old 2", "old 3", "old 4"}));
    std::vector<unsigned char> tags(STOCK::aTag.begin(), STOCK::aTag.begin() + 5);
    const std::vector<unsigned char> expectTags =
        version < 5 ? std::vector<unsigned char>{0, 1, 3, 4, 6} : stored;
    EXPECT_EQ(tags, expectTags);
    if (version < 3) {
      EXPECT_TRUE(STOCK::aIndexProp.empty());
    } else {
      ASSERT_EQ(STOCK::aIndexProp.size(), 1u);
      EXPECT_EQ(STOCK::aIndexProp[0][41], version < 6 ? 5 : 4);
      EXPECT_EQ(STOCK::aIndexProp[0][42], version < 6 ? 8 : 7);
    }
    // Connect lines get their mark, and the file is saved as version 7.
    for (int slot = 0; slot < 5; ++slot) {
      unsigned char mark = STOCK::GetItem(slot)->cInput;
      bool connect = STOCK::aTag[size_t(slot)] == TAG_CONNECT;
      EXPECT_EQ(mark, connect && version < 7 ? STOCK_MARK_CONNECT : STOCK_MARK_NONE) << slot;
    }
    STOCK::Close();
    std::string after = ReadWholeFile(path);
    EXPECT_EQ(uint8_t(after[252]), 7);
    // Reopening changes nothing more.
    ASSERT_EQ(STOCK::Open(path), 1);
    EXPECT_EQ(std::vector<unsigned char>(STOCK::aTag.begin(), STOCK::aTag.begin() + 5), expectTags);
    STOCK::Close();
  }
}

TEST_F(StockTest, DamagedFilesAreReportedAndLeftAlone) {
  // A good stock to damage in several ways.
  ASSERT_EQ(STOCK::Create(Path("good.stk"), 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 20));
  STOCK::Save();
  STOCK::Close();
  const std::string good = ReadWholeFile(Path("good.stk"));
  ASSERT_EQ(good.size(), 892u + 1000 * 81 + 1000);

  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  std::string magic = good, v8 = good, beyond = good, v0 = good, width = good;
  magic[10] ^= 0x20;
  Put32(v8, 252, 8);
  Put32(v0, 252, 0);
  Put32(beyond, 272, 2000);
  Put32(beyond, 248, 2000);
  Put32(width, 372, 300);
  Case cases[] = {
      {"truncated", good.substr(0, 892 + 500 * 81 + 30), "のオープンで何らかのエラーが発生しました。"},
      {"magic", magic, "はQuillnet用のファイルではありません。"},
      {"short", good.substr(0, 400), "はQuillnet用のファイルではありません。"},
      {"v8", v8, "のバージョンが新しすぎて扱うことができません。"},
      {"v0", v0, "のバージョンが古いので扱うことができません。"},
      {"beyond", beyond, "のオープンで何らかのエラーが発生しました。"},
      {"width", width, "のオープンで何らかのエラーが発生しました。"},
  };
  // The stock that is open stays open and unchanged when another fails.
  ASSERT_EQ(STOCK::Open(Path("good.stk")), 1);
  for (auto& c : cases) {
    const std::string path = Path(std::string(c.name) + ".stk");
    WriteFile(path, c.bytes);
    facade.rec.boxes.clear();
    EXPECT_EQ(STOCK::Open(path), 0) << c.name;
    ASSERT_EQ(facade.rec.boxes.size(), 1u) << c.name;
    EXPECT_EQ(facade.rec.boxes[0].text, path + c.message);
    EXPECT_TRUE(ReadWholeFile(path) == c.bytes) << c.name << " was changed";
    EXPECT_EQ(STOCK::szFileName, Path("good.stk"));
    EXPECT_EQ(Lines(), Numbered(0, 20));
  }
  STOCK::Close();
  facade.rec.boxes.clear();
  EXPECT_EQ(STOCK::Open(Path("missing.stk")), 0);
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, Path("missing.stk") + "は見つかりません。");
}

TEST_F(StockTest, ResizeKeepsTheOrder) {
  ASSERT_EQ(STOCK::Create(Path("z.stk"), 1000, 40, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 1500));  // wrapped: the last 999 lines and an empty newest
  ASSERT_GT(cvOldest, cvNewest);
  STOCK::AddMark({cvOldest, 0});
  std::vector<std::string> expect = Numbered(501, 999);
  EXPECT_EQ(Lines(), expect);
  struct Step {
    int newMax;
    int keep;  // lines kept (the oldest beyond the new size are dropped)
  } steps[] = {{2000, 999}, {1000, 999}, {500, 499}, {5000, 499}};
  for (auto& s : steps) {
    SCOPED_TRACE(s.newMax);
    ASSERT_EQ(STOCK::Resize(s.newMax), 1);
    EXPECT_EQ(STOCK::cItemMaxMax, s.newMax);
    expect.erase(expect.begin(), expect.end() - s.keep);
    EXPECT_EQ(Lines(), expect);
    EXPECT_EQ(STOCK::fileheader.cMark, 0);
    // New lines keep going at the newest end, and the file holds them all.
    AppendLines({"after " + std::to_string(s.newMax)});
    expect.push_back("after " + std::to_string(s.newMax));
    if (int(expect.size()) >= s.newMax) expect.erase(expect.begin());
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    STOCK::Save();
    STOCK::Close();
    ASSERT_EQ(STOCK::Open(Path("z.stk")), 1);
    EXPECT_EQ(Lines(), expect);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  }
}

TEST_F(StockTest, DeleteAndMoveKeepTheOtherLinesInOrder) {
  ASSERT_EQ(STOCK::Create(Path("d.stk"), 100, 40, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 130));  // wrapped ring of 100
  std::vector<std::string> expect = Numbered(31, 99);
  ASSERT_EQ(Lines(), expect);
  // Delete 10 lines from the middle of the wrapped ring.
  STOCK::Delete(STOCK::AddIndex(cvOldest, 20), 10);
  expect.erase(expect.begin() + 20, expect.begin() + 30);
  EXPECT_EQ(Lines(), expect);
  // Move the last three lines (and the empty newest) to the front.
  const int used = STOCK::UsedItems();
  STOCK::Move(cvOldest, STOCK::AddIndex(cvOldest, used - 4));
  std::vector<std::string> moved(expect.end() - 3, expect.end());
  moved.push_back("");  // the empty newest moved with them
  moved.insert(moved.end(), expect.begin(), expect.end() - 3);
  EXPECT_EQ(Lines(), moved);
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(Path("d.stk")), 1);
  EXPECT_EQ(Lines(), moved);
  // Deleting everything leaves one empty line, on disk as well.
  STOCK::Delete(cvOldest, STOCK::UsedItems());
  EXPECT_EQ(STOCK::UsedItems(), 1);
  STOCK::Save();
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(Path("d.stk")), 1);
  EXPECT_EQ(STOCK::UsedItems(), 1);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(StockTest, CacheModesServeEveryLine) {
  ASSERT_EQ(STOCK::Create(Path("k.stk"), 10000, 40, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 3000));
  STOCK::Save();
  STOCK::Close();
  STOCK::cLineFrame = 30;
  ASSERT_EQ(STOCK::Open(Path("k.stk")), 1);
  EXPECT_EQ(STOCK::cItemComm, 30);
  auto textAt = [](int slot) { return std::string(STOCK::GetItem(slot)->Text()); };
  for (auto mode : {STOCKCACHE_NORMAL, STOCKCACHE_SINGLE, STOCKCACHE_DOWNONLY}) {
    SCOPED_TRACE(int(mode));
    STOCK::SetCacheMode(mode);
    for (int i = 0; i < 3000; i += 7) ASSERT_EQ(textAt(i), "line " + std::to_string(i));
    for (int i = 2999; i >= 0; i -= 3) ASSERT_EQ(textAt(i), "line " + std::to_string(i));
    std::mt19937 rng{unsigned(mode)};
    for (int k = 0; k < 2000; ++k) {
      int i = int(rng() % 3000);
      ASSERT_EQ(textAt(i), "line " + std::to_string(i));
      EXPECT_LE(STOCK::cItemCache, 250);
    }
    // The cache never reaches into the communication buffer.
    if (STOCK::cItemCache > 0) {
      EXPECT_LE(STOCK::Flat(STOCK::iItemCache) + STOCK::cItemCache, STOCK::UsedItems() - STOCK::cItemComm);
    }
  }
  STOCK::SetCacheMode(STOCKCACHE_SINGLE);
  textAt(100);
  EXPECT_EQ(STOCK::cItemCache, 1);
  STOCK::SetCacheMode(STOCKCACHE_DOWNONLY);
  textAt(200);
  EXPECT_EQ(STOCK::cItemCache, 20);
  EXPECT_EQ(STOCK::iItemCache, 200);
}

// ViewLines shows every line once, in ring order, whether the lines are on
// disk (through the mapping) or still in the communication buffer, across
// the ring's wrap, whatever the run length asked for.
TEST_F(StockTest, ViewLinesShowsEveryLineInRingOrder) {
  ASSERT_EQ(STOCK::Create(Path("v.stk"), 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 1400));  // wraps: the oldest lines were overwritten
  STOCK::Save();
  AppendLines(Numbered(1400, 150));  // these stay in the communication buffer
  ASSERT_GT(STOCK::cItemComm, 100);
  const std::vector<std::string> want = Lines();
  for (int ask : {1, 7, 400, 100000}) {
    SCOPED_TRACE(ask);
    std::vector<std::string> got;
    int slot = cvOldest;
    for (int done = 0; done < STOCK::UsedItems();) {
      int n = 0;
      const unsigned char* p = STOCK::ViewLines(slot, ask, &n);
      ASSERT_NE(p, nullptr);
      ASSERT_GE(n, 1);
      ASSERT_LE(n, ask);
      for (int k = 0; k < n; ++k) {
        const char* text = reinterpret_cast<const char*>(p + size_t(k) * STOCK::sizeSTOCKITEM + 1);
        got.emplace_back(text, size_t(StockTextLength(text, STOCK::cColumn)));
      }
      done += n;
      slot = STOCK::AddIndex(slot, n);
    }
    ASSERT_EQ(got.size(), size_t(STOCK::UsedItems()));
    EXPECT_EQ(got.back(), "");  // the newest line, not written yet
    got.pop_back();
    EXPECT_EQ(got, want);
  }
  int n = 0;
  EXPECT_EQ(STOCK::ViewLines(-1, 5, &n), nullptr);
  EXPECT_EQ(n, 0);
}

TEST_F(StockTest, TemporaryStockWrapsInMemory) {
  STOCK::CreateTempStockFile();
  EXPECT_EQ(STOCK::szFileName, "(ストックファイル無し)");
  AppendLines(Numbered(0, 10500));
  EXPECT_EQ(STOCK::UsedItems(), 10000);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 9999u);
  EXPECT_EQ(lines.front(), "line 501");
  EXPECT_EQ(lines.back(), "line 10499");
  STOCK::Save();
  STOCK::EndOnline();
  EXPECT_EQ(STOCK::Resize(20000), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST_F(StockTest, TwoProcessesShareOneStock) {
  const std::string path = Path("s.stk");
  ASSERT_EQ(STOCK::Create(path, 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines({"first"});
  STOCK::Save();  // back to shared reading
  const std::string before = ReadWholeFile(path);

  // While this process reads it, another can read but not write.
  ProcessResult exported = RunProcess({kTool, "stock", "export", path}, "");
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out, "first\n");
  ProcessResult refused = RunProcess({kTool, "stock", "append", path}, "second\n");
  EXPECT_NE(refused.status, 0);
  EXPECT_TRUE(ReadWholeFile(path) == before);
  EXPECT_EQ(STOCK::IsOtherQuillnetSharing(path), 0);

  // While this process writes it, another cannot even open it.
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  EXPECT_NE(RunProcess({kTool, "stock", "export", path}, "").status, 0);
  STOCK::Close();

  // Another process on line: this one sees it and cannot switch to it.
  FILE* child = popen((kTool + " stock append " + path + " >/dev/null").c_str(), "w");
  ASSERT_NE(child, nullptr);
  int waited = 0;
  while (!STOCK::IsOtherQuillnetSharing(path) && waited++ < 1000) usleep(10000);
  EXPECT_EQ(STOCK::IsOtherQuillnetSharing(path), 1);
  facade.rec.boxes.clear();
  EXPECT_EQ(STOCK::Open(path), 0);
  ASSERT_EQ(facade.rec.boxes.size(), 1u);
  EXPECT_EQ(facade.rec.boxes[0].text, path + "は他のQuillnetが使用中です。");
  fputs("second\n", child);
  EXPECT_EQ(pclose(child), 0);
  EXPECT_EQ(STOCK::IsOtherQuillnetSharing(path), 0);
  ASSERT_EQ(STOCK::Open(path), 1);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(StockTest, ClearedStockReachesTheDiskAtTheNextSave) {
  ASSERT_EQ(STOCK::Create(Path("c.stk"), 100000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines(Numbered(0, 12000));
  STOCK::Save();
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  STOCK::Clear();
  AppendLines({"after clear"});
  STOCK::SaveComm(0);
  STOCK::Close();
  ASSERT_EQ(STOCK::Open(Path("c.stk")), 1);
  EXPECT_EQ(Lines(), std::vector<std::string>{"after clear"});
  EXPECT_EQ(STOCK::cItemMax, 1000);
}

TEST_F(StockTest, OnlineCallEndsWithTheCallsTags) {
  ASSERT_EQ(STOCK::Create(Path("on.stk"), 10000, 80, 0, 0, 0), 1);
  STOCK::Save();
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  STOCK::SetOnlineFlag();
  EXPECT_EQ(ReadWholeFile(Path("on.stk"))[244], 1);
  AppendLines({"Host - 2024/05/01 12:34"});
  STOCK::SetConnectTag(STOCK::AddIndex(cvNewest, -1));
  AppendLines({"text"});
  STOCK::aTag[size_t(STOCK::AddIndex(cvNewest, -1))] = 7;
  STOCK::EndOnline();
  EXPECT_EQ(STOCK::fWriteEnabled, 0);
  const std::string file = ReadWholeFile(Path("on.stk"));
  EXPECT_EQ(file[244], 0);
  const size_t tags = 892 + 1000 * 81;
  EXPECT_EQ(file[tags + 0], TAG_CONNECT);
  EXPECT_EQ(file[tags + 1], 7);
  EXPECT_EQ(uint8_t(file[892]), STOCK_MARK_CONNECT);
  STOCK::CalcOldestDateTime();
  SYSTEMTIME st = FileTimeToSystemTime(STOCK::fileheader.ftOldestCall);
  EXPECT_EQ(st.wYear, 2024);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 12);
  EXPECT_EQ(st.wMinute, 34);
}

TEST_F(StockTest, OnlineFlagFoundAtOpeningRetags) {
  ASSERT_EQ(STOCK::Create(Path("f.stk"), 1000, 80, 0, 0, 0), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  STOCK::SetOnlineFlag();
  STOCK::ResetForTest();  // the call is cut short
  std::vector<int> reasons;
  STOCK::hooks.retag = [&](int reason) {
    reasons.push_back(reason);
    return true;
  };
  ASSERT_EQ(STOCK::Open(Path("f.stk")), 1);
  STOCK::CheckOpeningTimeStamp();
  EXPECT_EQ(reasons, std::vector<int>{4});
  EXPECT_EQ(STOCK::fileheader.fOnlineFlag, 0u);
}

TEST_F(StockTest, DailyClearRule) {
  struct Case {
    int callDay, callHour, nowDay, nowHour;
    bool cleared;
  } cases[] = {{9, 23, 10, 8, true}, {10, 1, 10, 13, false}, {10, 1, 10, 14, true}, {10, 0, 10, 12, false}};
  for (auto& c : cases) {
    SYSTEMTIME call, now;
    call.wYear = 2024;
    now.wYear = 2024;
    call.wMonth = now.wMonth = 3;
    call.wDay = c.callDay;
    call.wHour = c.callHour;
    now.wDay = c.nowDay;
    now.wHour = c.nowHour;
    EXPECT_EQ(STOCK::DailyClearDue(call, now), c.cleared) << c.callDay << " " << c.callHour << " -> " << c.nowHour;
  }
}

TEST_F(StockTest, DailyClearModeClearsAtOpening) {
  const std::string path = Path("daily.stk");
  ASSERT_EQ(STOCK::Create(path, 10000, 80, 0, 0, 1), 1);
  ASSERT_TRUE(STOCK::EnableWrite(1, 1));
  AppendLines({"Host - 2024/03/09 23:00", "text"});
  STOCK::SetConnectTag(0);
  STOCK::Save();
  STOCK::Close();
  SYSTEMTIME now;
  now.wYear = 2024;
  now.wMonth = 3;
  now.wDay = 9;
  now.wHour = 23;
  STOCK::hooks.now = [&] { return now; };
  ASSERT_EQ(STOCK::Open(path), 1);
  EXPECT_EQ(Lines().size(), 2u);
  STOCK::Close();
  now.wDay = 10;
  now.wHour = 8;
  ASSERT_EQ(STOCK::Open(path), 1);
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
