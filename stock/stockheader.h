// The 892-byte header at the start of every stock file, and the fixed records
// it is made of.
//
// Every field is read and written one by one, little-endian, at its own
// offset: the two FILETIME fields sit at offsets that are not 8-byte aligned,
// so the header is never overlaid with a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A line slot and a tree level (-1 none, -2 the connect-line level, 0-7 a
// syntax level).
struct STOCKPOS {
  int32_t item = -1;
  int32_t level = -1;
  bool operator==(const STOCKPOS&) const = default;
};

// 100-nanosecond intervals since 1601-01-01, split in two 32-bit halves.
struct FILETIME {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
  bool operator==(const FILETIME&) const = default;
  uint64_t Value() const { return (uint64_t(dwHighDateTime) << 32) | dwLowDateTime; }
  static FILETIME FromValue(uint64_t v) { return {uint32_t(v), uint32_t(v >> 32)}; }
};

enum : int {
  STOCK_HEADER_SIZE = 892,
  STOCK_MAGIC_SIZE = 244,
  STOCK_TAGFILE_SIZE = 256,
  STOCK_MAX_MARK = 10,
  STOCK_VERSION = 7,
  STOCK_INDEXPROP_SIZE = 61,
  STOCK_SEARCHPROP_SIZE = 154,
  STOCK_MIN_COLUMN = 40,
  STOCK_MAX_COLUMN = 250,
  STOCK_DEFAULT_COLUMN = 80,
  STOCK_MAX_LINES = 10000000,  // backup and daily-clear modes
};

extern const char kStockMagic[];  // "Quillnet Longreach Stock Header"

// Field offsets inside the header.
namespace stockoff {
enum : size_t {
  szMagic = 0,
  fOnlineFlag = 244,
  cItemMaxMax = 248,
  dwVersion = 252,
  reserved1 = 256,
  fClearDaily = 258,
  cItemUsed = 260,
  iOldest = 264,
  iNewest = 268,
  cItemMax = 272,
  iScrollableTop = 276,
  posSaved = 280,
  aMark = 288,
  cMark = 368,
  cColumn = 372,
  cIndexProp = 376,
  cSearchProp = 378,
  szTagFile = 380,
  ftTagFile = 636,
  reserved2 = 644,
  cBackupMonths = 654,
  cBackupLines = 656,
  ftOldestCall = 660,
  reserved3 = 668,
};
}  // namespace stockoff

struct STOCKFILEHEADER {
  char szMagic[STOCK_MAGIC_SIZE] = {};
  uint32_t fOnlineFlag = 0;
  int32_t cItemMaxMax = 0;
  uint32_t dwVersion = 0;
  uint16_t reserved1 = 0;
  uint16_t fClearDaily = 0;
  int32_t cItemUsed = 0;
  int32_t iOldest = 0;
  int32_t iNewest = 0;
  int32_t cItemMax = 0;
  int32_t iScrollableTop = 0;
  STOCKPOS posSaved;
  STOCKPOS aMark[STOCK_MAX_MARK];
  int32_t cMark = 0;
  int32_t cColumn = 0;
  uint16_t cIndexProp = 0;
  uint16_t cSearchProp = 0;
  char szTagFile[STOCK_TAGFILE_SIZE] = {};
  FILETIME ftTagFile;
  unsigned char reserved2[10] = {};
  uint16_t cBackupMonths = 0;
  uint32_t cBackupLines = 0;
  FILETIME ftOldestCall;
  unsigned char reserved3[224] = {};

  // Zeroes every field and sets the magic.
  void Reset();
  bool HasMagic() const;
  // Text width with 0 read as 80.
  int EffectiveColumn() const { return cColumn == 0 ? STOCK_DEFAULT_COLUMN : cColumn; }
  std::string TagFile() const;
  // Stores a path; false (nothing stored) when it does not fit with its NUL.
  bool SetTagFile(const std::string& path);
};

// Decodes 892 bytes into a header.
void ReadStockHeader(const unsigned char* p, STOCKFILEHEADER& h);
// Encodes a header into 892 bytes.
void WriteStockHeader(const STOCKFILEHEADER& h, unsigned char* p);

// What a header says about a file, checked before anything else is trusted.
enum class StockHeaderCheck {
  Ok,
  Foreign,    // wrong magic, or too short to hold a header
  TooOld,     // version 0
  TooNew,     // version 8 or more
  Damaged,    // sizes or slots that do not fit together or do not fit the file
};

// Checks a header (of any readable version) against the file's length.  The
// file may be longer than the header needs (an interrupted growth leaves a
// tail that the next save cuts); it may not end inside the slot area.  The tag
// array and the definition lists may be cut short: opening degrades those.
StockHeaderCheck CheckStockHeader(const STOCKFILEHEADER& h, uint64_t fileLength);

// Byte offsets of the parts of a stock file for a given layout.
struct StockLayout {
  int column;    // effective text width
  int itemMax;   // slots present
  uint64_t SlotSize() const { return uint64_t(column) + 1; }
  uint64_t SlotOffset(int64_t i) const { return STOCK_HEADER_SIZE + uint64_t(i) * SlotSize(); }
  uint64_t TagOffset() const { return SlotOffset(itemMax); }
  uint64_t IndexOffset() const { return TagOffset() + uint64_t(itemMax); }
};
