#include "stock/stockheader.h"

#include <cstring>

const char kStockMagic[] = "Quillnet Longreach Stock Header";

namespace {

uint16_t Get16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t GetI32(const unsigned char* p) { return static_cast<int32_t>(Get32(p)); }
void Put16(unsigned char* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
void PutI32(unsigned char* p, int32_t v) { Put32(p, static_cast<uint32_t>(v)); }

FILETIME GetFt(const unsigned char* p) { return {Get32(p), Get32(p + 4)}; }
void PutFt(unsigned char* p, FILETIME ft) {
  Put32(p, ft.dwLowDateTime);
  Put32(p + 4, ft.dwHighDateTime);
}
STOCKPOS GetPos(const unsigned char* p) { return {GetI32(p), GetI32(p + 4)}; }
void PutPos(unsigned char* p, STOCKPOS pos) {
  PutI32(p, pos.item);
  PutI32(p + 4, pos.level);
}

}  // namespace

void STOCKFILEHEADER::Reset() {
  *this = STOCKFILEHEADER();
  posSaved = {0, 0};
  for (auto& m : aMark) m = {0, 0};
  std::memcpy(szMagic, kStockMagic, sizeof kStockMagic);
}

bool STOCKFILEHEADER::HasMagic() const {
  // Compared as a C string: what follows the NUL does not matter.
  return std::memchr(szMagic, 0, sizeof szMagic) != nullptr && std::strcmp(szMagic, kStockMagic) == 0;
}

std::string STOCKFILEHEADER::TagFile() const {
  const void* nul = std::memchr(szTagFile, 0, sizeof szTagFile);
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - szTagFile) : sizeof szTagFile;
  return std::string(szTagFile, n);
}

bool STOCKFILEHEADER::SetTagFile(const std::string& path) {
  if (path.size() >= sizeof szTagFile || path.find('\0') != std::string::npos) return false;
  std::memset(szTagFile, 0, sizeof szTagFile);
  std::memcpy(szTagFile, path.data(), path.size());
  return true;
}

void ReadStockHeader(const unsigned char* p, STOCKFILEHEADER& h) {
  using namespace stockoff;
  std::memcpy(h.szMagic, p + szMagic, sizeof h.szMagic);
  h.fOnlineFlag = Get32(p + fOnlineFlag);
  h.cItemMaxMax = GetI32(p + cItemMaxMax);
  h.dwVersion = Get32(p + dwVersion);
  h.reserved1 = Get16(p + reserved1);
  h.fClearDaily = Get16(p + fClearDaily);
  h.cItemUsed = GetI32(p + cItemUsed);
  h.iOldest = GetI32(p + iOldest);
  h.iNewest = GetI32(p + iNewest);
  h.cItemMax = GetI32(p + cItemMax);
  h.iScrollableTop = GetI32(p + iScrollableTop);
  h.posSaved = GetPos(p + posSaved);
  for (int i = 0; i < STOCK_MAX_MARK; ++i) h.aMark[i] = GetPos(p + aMark + 8 * size_t(i));
  h.cMark = GetI32(p + cMark);
  h.cColumn = GetI32(p + cColumn);
  h.cIndexProp = Get16(p + cIndexProp);
  h.cSearchProp = Get16(p + cSearchProp);
  std::memcpy(h.szTagFile, p + szTagFile, sizeof h.szTagFile);
  h.ftTagFile = GetFt(p + ftTagFile);
  std::memcpy(h.reserved2, p + reserved2, sizeof h.reserved2);
  h.cBackupMonths = Get16(p + cBackupMonths);
  h.cBackupLines = Get32(p + cBackupLines);
  h.ftOldestCall = GetFt(p + ftOldestCall);
  std::memcpy(h.reserved3, p + reserved3, sizeof h.reserved3);
}

void WriteStockHeader(const STOCKFILEHEADER& h, unsigned char* p) {
  using namespace stockoff;
  std::memcpy(p + szMagic, h.szMagic, sizeof h.szMagic);
  Put32(p + fOnlineFlag, h.fOnlineFlag);
  PutI32(p + cItemMaxMax, h.cItemMaxMax);
  Put32(p + dwVersion, h.dwVersion);
  Put16(p + reserved1, h.reserved1);
  Put16(p + fClearDaily, h.fClearDaily);
  PutI32(p + cItemUsed, h.cItemUsed);
  PutI32(p + iOldest, h.iOldest);
  PutI32(p + iNewest, h.iNewest);
  PutI32(p + cItemMax, h.cItemMax);
  PutI32(p + iScrollableTop, h.iScrollableTop);
  PutPos(p + posSaved, h.posSaved);
  for (int i = 0; i < STOCK_MAX_MARK; ++i) PutPos(p + aMark + 8 * size_t(i), h.aMark[i]);
  PutI32(p + cMark, h.cMark);
  PutI32(p + cColumn, h.cColumn);
  Put16(p + cIndexProp, h.cIndexProp);
  Put16(p + cSearchProp, h.cSearchProp);
  std::memcpy(p + szTagFile, h.szTagFile, sizeof h.szTagFile);
  PutFt(p + ftTagFile, h.ftTagFile);
  std::memcpy(p + reserved2, h.reserved2, sizeof h.reserved2);
  Put16(p + cBackupMonths, h.cBackupMonths);
  Put32(p + cBackupLines, h.cBackupLines);
  PutFt(p + ftOldestCall, h.ftOldestCall);
  std::memcpy(p + reserved3, h.reserved3, sizeof h.reserved3);
}

StockHeaderCheck CheckStockHeader(const STOCKFILEHEADER& h, uint64_t fileLength) {
  if (fileLength < STOCK_HEADER_SIZE || !h.HasMagic()) return StockHeaderCheck::Foreign;
  if (h.dwVersion == 0) return StockHeaderCheck::TooOld;
  if (h.dwVersion > STOCK_VERSION) return StockHeaderCheck::TooNew;

  const int column = h.EffectiveColumn();
  // A line mark holds a text column, and 0xFE/0xFF are reserved marks: the
  // width has to stay well below them.
  if (column < STOCK_MIN_COLUMN || column > STOCK_MAX_COLUMN) return StockHeaderCheck::Damaged;
  if (h.cItemMax < 1 || h.cItemMax > STOCK_MAX_LINES) return StockHeaderCheck::Damaged;
  const int32_t maxMax = h.cItemMaxMax == 0 ? h.cItemMax : h.cItemMaxMax;
  if (maxMax < h.cItemMax || maxMax > STOCK_MAX_LINES) return StockHeaderCheck::Damaged;
  if (h.cItemUsed < 1 || h.cItemUsed > h.cItemMax) return StockHeaderCheck::Damaged;
  auto inRing = [&](int32_t i) { return i >= 0 && i < h.cItemUsed; };
  if (!inRing(h.iOldest) || !inRing(h.iNewest)) return StockHeaderCheck::Damaged;
  if (h.cMark < 0 || h.cMark > STOCK_MAX_MARK) return StockHeaderCheck::Damaged;
  for (int i = 0; i < h.cMark; ++i)
    if (!inRing(h.aMark[i].item)) return StockHeaderCheck::Damaged;
  // The saved position and the scroll-back top may be unset (-1).
  if (h.posSaved.item < -1 || h.posSaved.item >= h.cItemUsed) return StockHeaderCheck::Damaged;
  if (h.iScrollableTop < -1 || h.iScrollableTop >= h.cItemUsed) return StockHeaderCheck::Damaged;

  StockLayout layout{column, h.cItemMax};
  if (fileLength < layout.TagOffset()) return StockHeaderCheck::Damaged;
  return StockHeaderCheck::Ok;
}
