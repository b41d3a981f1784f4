// The header codec at its fixed offsets, and the checks made before a
// header is trusted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stock/stockheader.h"

namespace {

uint32_t At32(const unsigned char* p, size_t off) {
  return uint32_t(p[off]) | uint32_t(p[off + 1]) << 8 | uint32_t(p[off + 2]) << 16 | uint32_t(p[off + 3]) << 24;
}
uint16_t At16(const unsigned char* p, size_t off) { return uint16_t(p[off] | p[off + 1] << 8); }

STOCKFILEHEADER Sample() {
  STOCKFILEHEADER h;
  h.Reset();
  h.fOnlineFlag = 1;
  h.cItemMaxMax = 123400;
  h.dwVersion = 7;
  h.fClearDaily = 1;
  h.cItemUsed = 5000;
  h.iOldest = 17;
  h.iNewest = 16;
  h.cItemMax = 20000;
  h.iScrollableTop = 4000;
  h.posSaved = {4100, -2};
  for (int i = 0; i < STOCK_MAX_MARK; ++i) h.aMark[i] = {100 + i, i - 1};
  h.cMark = 10;
  h.cColumn = 132;
  h.cIndexProp = 0x0102;
  h.cSearchProp = 0x0304;
  h.SetTagFile("/home/u/hosts/\xe3\x81\x82.tag");
  h.ftTagFile = {0x89ABCDEF, 0x01D2F3A4};
  h.cBackupMonths = 24;
  h.cBackupLines = 4000000;
  h.ftOldestCall = {0x11223344, 0x55667788};
  return h;
}

TEST(StockHeader, FieldsSitAtTheirOffsetsLittleEndian) {
  STOCKFILEHEADER h = Sample();
  unsigned char raw[STOCK_HEADER_SIZE];
  std::memset(raw, 0xAA, sizeof raw);
  WriteStockHeader(h, raw);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw)), "Quillnet Longreach Stock Header");
  for (size_t i = 31; i < 244; ++i) ASSERT_EQ(raw[i], 0) << i;
  EXPECT_EQ(At32(raw, 244), 1u);
  EXPECT_EQ(At32(raw, 248), 123400u);
  EXPECT_EQ(At32(raw, 252), 7u);
  EXPECT_EQ(At16(raw, 256), 0u);
  EXPECT_EQ(At16(raw, 258), 1u);
  EXPECT_EQ(At32(raw, 260), 5000u);
  EXPECT_EQ(At32(raw, 264), 17u);
  EXPECT_EQ(At32(raw, 268), 16u);
  EXPECT_EQ(At32(raw, 272), 20000u);
  EXPECT_EQ(At32(raw, 276), 4000u);
  EXPECT_EQ(At32(raw, 280), 4100u);
  EXPECT_EQ(At32(raw, 284), uint32_t(-2));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(At32(raw, 288 + 8 * size_t(i)), uint32_t(100 + i));
    EXPECT_EQ(At32(raw, 292 + 8 * size_t(i)), uint32_t(i - 1));
  }
  EXPECT_EQ(At32(raw, 368), 10u);
  EXPECT_EQ(At32(raw, 372), 132u);
  EXPECT_EQ(At16(raw, 376), 0x0102u);
  EXPECT_EQ(At16(raw, 378), 0x0304u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw + 380)), "/home/u/hosts/\xe3\x81\x82.tag");
  // The FILETIMEs are not 8-byte aligned: 636 and 660.
  EXPECT_EQ(At32(raw, 636), 0x89ABCDEFu);
  EXPECT_EQ(At32(raw, 640), 0x01D2F3A4u);
  for (size_t i = 644; i < 654; ++i) EXPECT_EQ(raw[i], 0) << i;
  EXPECT_EQ(At16(raw, 654), 24u);
  EXPECT_EQ(At32(raw, 656), 4000000u);
  EXPECT_EQ(At32(raw, 660), 0x11223344u);
  EXPECT_EQ(At32(raw, 664), 0x55667788u);
  for (size_t i = 668; i < 892; ++i) ASSERT_EQ(raw[i], 0) << i;

  // And back, byte for byte, reserved bytes included.
  raw[650] = 0x5A;
  raw[700] = 0xA5;
  STOCKFILEHEADER back;
  ReadStockHeader(raw, back);
  unsigned char again[STOCK_HEADER_SIZE];
  WriteStockHeader(back, again);
  EXPECT_EQ(std::memcmp(raw, again, sizeof raw), 0);
  EXPECT_EQ(back.posSaved, h.posSaved);
  EXPECT_EQ(back.ftOldestCall, h.ftOldestCall);
  EXPECT_EQ(back.TagFile(), h.TagFile());
}

TEST(StockHeader, TagFileThatDoesNotFitIsRefused) {
  STOCKFILEHEADER h;
  h.Reset();
  EXPECT_TRUE(h.SetTagFile(std::string(255, 'a')));
  EXPECT_FALSE(h.SetTagFile(std::string(256, 'b')));
  EXPECT_EQ(h.TagFile(), std::string(255, 'a'));
}

TEST(StockHeader, ChecksBeforeTrusting) {
  // A good header of 1000 slots of 81 bytes, oldest 5, newest 4.
  auto good = [] {
    STOCKFILEHEADER h;
    h.Reset();
    h.dwVersion = 7;
    h.cItemMax = h.cItemMaxMax = h.cItemUsed = 1000;
    h.iOldest = 5;
    h.iNewest = 4;
    h.cColumn = 80;
    return h;
  };
  const uint64_t fits = 892 + 1000 * 81 + 1000;
  struct Case {
    const char* what;
    void (*change)(STOCKFILEHEADER&);
    uint64_t length;
    StockHeaderCheck expect;
  } cases[] = {
      {"good", [](STOCKFILEHEADER&) {}, fits, StockHeaderCheck::Ok},
      {"longer file (an interrupted growth)", [](STOCKFILEHEADER&) {}, fits + 5000, StockHeaderCheck::Ok},
      {"tags cut short", [](STOCKFILEHEADER&) {}, fits - 10, StockHeaderCheck::Ok},
      {"truncated inside the slots", [](STOCKFILEHEADER&) {}, 892 + 999 * 81 + 40, StockHeaderCheck::Damaged},
      {"shorter than a header", [](STOCKFILEHEADER&) {}, 891, StockHeaderCheck::Foreign},
      {"magic differs by one byte", [](STOCKFILEHEADER& h) { h.szMagic[9] = 'l'; }, fits, StockHeaderCheck::Foreign},
      {"version 0", [](STOCKFILEHEADER& h) { h.dwVersion = 0; }, fits, StockHeaderCheck::TooOld},
      {"version 8", [](STOCKFILEHEADER& h) { h.dwVersion = 8; }, fits, StockHeaderCheck::TooNew},
      {"version 1", [](STOCKFILEHEADER& h) { h.dwVersion = 1; }, fits, StockHeaderCheck::Ok},
      {"width 0 reads as 80", [](STOCKFILEHEADER& h) { h.cColumn = 0; }, fits, StockHeaderCheck::Ok},
      {"width 39", [](STOCKFILEHEADER& h) { h.cColumn = 39; }, fits, StockHeaderCheck::Damaged},
      {"width 251", [](STOCKFILEHEADER& h) { h.cColumn = 251; }, uint64_t(1) << 40, StockHeaderCheck::Damaged},
      {"cItemMax beyond the file", [](STOCKFILEHEADER& h) { h.cItemMax = h.cItemMaxMax = 2000; }, fits,
       StockHeaderCheck::Damaged},
      {"cItemMax negative", [](STOCKFILEHEADER& h) { h.cItemMax = -1; }, fits, StockHeaderCheck::Damaged},
      {"cItemMaxMax 0 means cItemMax", [](STOCKFILEHEADER& h) { h.cItemMaxMax = 0; }, fits, StockHeaderCheck::Ok},
      {"cItemMaxMax below cItemMax", [](STOCKFILEHEADER& h) { h.cItemMaxMax = 900; }, fits,
       StockHeaderCheck::Damaged},
      {"cItemUsed beyond cItemMax", [](STOCKFILEHEADER& h) { h.cItemUsed = 1001; }, fits, StockHeaderCheck::Damaged},
      {"cItemUsed 0", [](STOCKFILEHEADER& h) { h.cItemUsed = 0; }, fits, StockHeaderCheck::Damaged},
      {"newest outside the ring", [](STOCKFILEHEADER& h) { h.iNewest = 1000; }, fits, StockHeaderCheck::Damaged},
      {"oldest negative", [](STOCKFILEHEADER& h) { h.iOldest = -1; }, fits, StockHeaderCheck::Damaged},
      {"11 bookmarks", [](STOCKFILEHEADER& h) { h.cMark = 11; }, fits, StockHeaderCheck::Damaged},
      {"bookmark outside the ring",
       [](STOCKFILEHEADER& h) {
         h.cMark = 1;
         h.aMark[0].item = 5000;
       },
       fits, StockHeaderCheck::Damaged},
      {"saved position outside the ring", [](STOCKFILEHEADER& h) { h.posSaved.item = 1000; }, fits,
       StockHeaderCheck::Damaged},
      {"scroll-back top outside the ring", [](STOCKFILEHEADER& h) { h.iScrollableTop = -7; }, fits,
       StockHeaderCheck::Damaged},
  };
  for (auto& c : cases) {
    STOCKFILEHEADER h = good();
    c.change(h);
    EXPECT_EQ(CheckStockHeader(h, c.length), c.expect) << c.what;
  }
}

}  // namespace
