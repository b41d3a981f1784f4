// The stock file: see stock.h for the layout, the invariants and the states.
#include "stock/stock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/usermessage.h"

STOCK stock;

STOCKFILEHEADER STOCK::fileheader;
int STOCK::hfile = -1;
std::string STOCK::szFileName;
int STOCK::fValid = 0, STOCK::fTemp = 0, STOCK::fWriteEnabled = 0;
int STOCK::cColumn = STOCK_DEFAULT_COLUMN, STOCK::sizeSTOCKITEM = STOCK_DEFAULT_COLUMN + 1;
int STOCK::cItemMax = 0, STOCK::cItemMaxMax = 0, STOCK::cItemUsed = 0;
std::vector<unsigned char> STOCK::aTag;
std::vector<unsigned char> STOCK::memComm;
int STOCK::cItemComm = 0, STOCK::iItemComm = 0, STOCK::cItemCommAlloc = 0, STOCK::iCommAccessDiff = 0;
std::vector<unsigned char> STOCK::memCache;
int STOCK::cItemCache = 0, STOCK::iItemCache = 0;
int STOCK::fSingleCacheMode = 0, STOCK::fDownOnlyCacheMode = 0;
int STOCK::fCheckTurn = 1;
int STOCK::fDisableNewItemScroll = 0;
int STOCK::cItemMaxSaved = 0;
std::vector<std::string> STOCK::aIndexProp, STOCK::aSearchProp;
int STOCK::cIndexFromSyntax = 0;
int STOCK::cLineFrame = 1;
int STOCK::fMinimized = 0;
int STOCK::iViewTop = 0;
STOCKHOOKS STOCK::hooks;
std::string STOCK::StockFile, STOCK::StockFile2;

namespace {

// Fixed texts (each follows the file's path).
const char kNotFound[] = "は見つかりません。";
const char kOpenError[] = "のオープンで何らかのエラーが発生しました。";
const char kForeign[] = "はQuillnet用のファイルではありません。";
const char kTooOld[] = "のバージョンが古いので扱うことができません。";
const char kTooNew[] = "のバージョンが新しすぎて扱うことができません。";
const char kCreateFailed[] = "の作成に失敗しました。";
const char kWriteRefused[] = "は現在他のアプリケーションが参照しているので書き込みできません。";
const char kInUse[] = "は他のQuillnetが使用中です。";
const char kWriteFailed[] = "への書き込みに失敗しました。";
const char kTempName[] = "(ストックファイル無し)";

constexpr int kCommInitial = 500;
constexpr int kCommGrow = 200;
constexpr int kCommSaveAt = 8000;
constexpr int kCacheLines = 250;
constexpr int kCacheStep = 125;
constexpr int kForwardLines = 20;
constexpr int kGrowSlots = 10000;
constexpr int kInitialSlots = 1000;
constexpr int kTempLines = 10000;
constexpr int kBlockLines = 200;

}  // namespace

// State that only this file sees: what the header on disk says, and the
// marks of changes that need a new file.
struct StockInternals {
  static STOCKFILEHEADER disk;  // the header as last written to (or read from) the file
  static bool fNeedRebuild;     // Clear moved every line: the next commit writes a new file
  static bool fDefsDirty;       // the definitions changed: the next save writes a new file
  static bool fWriteFailReported;

  struct Segment {
    int flat, count;  // a run of live lines, by distance from the oldest
  };

  static bool ReadAt(int fd, uint64_t off, void* buf, size_t n);
  static bool WriteAt(int fd, uint64_t off, const void* buf, size_t n);
  static bool WriteHeaderTo(int fd, const STOCKFILEHEADER& h);
  static bool Sync(int fd) { return fdatasync(fd) == 0 || errno == EINVAL; }
  static bool Lock(int fd, short type);
  static void WriteFailed();

  static StockLayout Layout(int itemMax) { return StockLayout{STOCK::cColumn, itemMax}; }
  static bool IsLive(int slot);
  static int SlotOfFlat(int64_t f);
  static int KeepCount();
  static int SaveThreshold();
  static unsigned char* CommLine(int k);
  static bool ReadFlat(int f, int n, unsigned char* buf);
  static bool CommitLines();
  static bool Rebuild(const std::vector<Segment>& order, int capacity, int maxMax, bool keepMarks);
  static STOCKFILEHEADER HeaderForDisk();
  static void RemoveMarksAt(int slot);
  static void ClearMarks();
  static int OpenLocked(const std::string& path, bool report);
  static int Install(const std::string& path, int fd, bool startUp);
};

STOCKFILEHEADER StockInternals::disk;
bool StockInternals::fNeedRebuild = false;
bool StockInternals::fDefsDirty = false;
bool StockInternals::fWriteFailReported = false;

using SI = StockInternals;

// ---------------------------------------------------------------------------
// Raw file access

bool SI::ReadAt(int fd, uint64_t off, void* buf, size_t n) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t r = pread(fd, p, n, static_cast<off_t>(off));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    off += static_cast<uint64_t>(r);
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool SI::WriteAt(int fd, uint64_t off, const void* buf, size_t n) {
  auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t w = pwrite(fd, p, n, static_cast<off_t>(off));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    off += static_cast<uint64_t>(w);
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool SI::WriteHeaderTo(int fd, const STOCKFILEHEADER& h) {
  unsigned char raw[STOCK_HEADER_SIZE];
  WriteStockHeader(h, raw);
  return WriteAt(fd, 0, raw, sizeof raw);
}

// Open file description locks: held per open file, released when it is
// closed, and converted between shared and exclusive atomically.
bool SI::Lock(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void SI::WriteFailed() {
  if (fWriteFailReported) return;
  fWriteFailReported = true;
  ErrorMessage(STOCK::szFileName + kWriteFailed);
}

// ---------------------------------------------------------------------------
// Ring arithmetic

bool SI::IsLive(int slot) {
  if (slot < 0 || slot >= STOCK::cItemUsed) return false;
  int o = cvOldest, n = cvNewest;
  return o <= n ? (slot >= o && slot <= n) : (slot >= o || slot <= n);
}

int SI::SlotOfFlat(int64_t f) {
  int64_t s = cvOldest.i + f;
  if (s >= STOCK::cItemUsed) s -= STOCK::cItemUsed;
  return static_cast<int>(s);
}

int STOCK::Flat(int slot) { return slot - cvOldest + (slot < cvOldest ? cItemUsed : 0); }

int STOCK::UsedItems() { return Flat(cvNewest) + 1; }

int STOCK::AddIndex(int slot, int delta) {
  if (!SI::IsLive(slot)) {
    ErrorMessage(std::string("Internal error at AddIndex."));
    return slot;
  }
  int64_t f = int64_t(Flat(slot)) + delta;
  f = std::clamp<int64_t>(f, 0, UsedItems() - 1);
  return SI::SlotOfFlat(f);
}

// Lines the communication buffer keeps after a save: the screen's lines, but
// never more than a quarter of the ring, so that what a save overwrites can
// always be dropped from the header first (invariant 3).
int SI::KeepCount() {
  int keep = STOCK::fMinimized ? 1 : std::max(1, STOCK::cLineFrame);
  return std::min(keep, std::max(1, STOCK::cItemMaxMax / 4));
}

// The buffer is written out before it holds three quarters of the ring.
// Each commit of a wrapping ring costs two flushes to disk (the pre-commit
// and the lines), so the larger the batch the fewer of them a long stream
// of lines pays for.  With at most a quarter kept after a save, the lines a
// commit overwrites never reach the lines the disk still needs: the new
// oldest line is always one the disk holds (invariant 3).
int SI::SaveThreshold() { return std::min(kCommSaveAt, std::max(1, STOCK::cItemMaxMax / 4 * 3)); }

unsigned char* SI::CommLine(int k) {
  // k and the offset are each below the room, so one subtraction wraps
  // (no division on this path, which every line access takes).
  size_t idx = size_t(k) + size_t(STOCK::iCommAccessDiff);
  if (idx >= size_t(STOCK::cItemCommAlloc)) idx -= size_t(STOCK::cItemCommAlloc);
  if (idx >= size_t(STOCK::cItemCommAlloc)) idx %= size_t(STOCK::cItemCommAlloc);
  return STOCK::memComm.data() + idx * size_t(STOCK::sizeSTOCKITEM);
}

// Reads n lines from distance f on, wrapping at cItemUsed.
bool SI::ReadFlat(int f, int n, unsigned char* buf) {
  if (STOCK::hfile < 0) return false;
  const StockLayout lay = Layout(STOCK::cItemMax);
  int slot = SlotOfFlat(f);
  while (n > 0) {
    int run = std::min(n, STOCK::cItemUsed - slot);
    if (!ReadAt(STOCK::hfile, lay.SlotOffset(slot), buf, size_t(run) * lay.SlotSize())) return false;
    buf += size_t(run) * lay.SlotSize();
    n -= run;
    slot = 0;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Bookmarks

void SI::RemoveMarksAt(int slot) {
  auto& h = STOCK::fileheader;
  int out = 0;
  for (int i = 0; i < h.cMark; ++i)
    if (h.aMark[i].item != slot) h.aMark[out++] = h.aMark[i];
  for (int i = out; i < h.cMark; ++i) h.aMark[i] = {0, 0};
  h.cMark = out;
}

void SI::ClearMarks() {
  STOCK::fileheader.cMark = 0;
  for (auto& m : STOCK::fileheader.aMark) m = {0, 0};
}

void STOCK::AddMark(STOCKPOS pos) {
  auto& h = fileheader;
  if (h.cMark == STOCK_MAX_MARK) {
    std::move(h.aMark + 1, h.aMark + STOCK_MAX_MARK, h.aMark);
    --h.cMark;
  }
  h.aMark[h.cMark++] = pos;
}

// ---------------------------------------------------------------------------
// Appending and reading lines

int STOCK::NewItem() {
  if (!fValid) return cvNewest;
  // 1. Write out a long buffer.
  if (!fTemp && cItemComm > SI::SaveThreshold()) SaveComm(0);
  // 2. Grow the buffer while it is full and smaller than the ring, by half
  // its size (at least 200 lines): a buffer filling up to its save
  // threshold is copied a few times, not once every 200 lines.
  if (cItemComm == cItemCommAlloc && cItemComm < cItemMaxMax) {
    int room = std::min(cItemCommAlloc + std::max(kCommGrow, cItemCommAlloc / 2), cItemMaxMax);
    std::vector<unsigned char> grown(size_t(room) * size_t(sizeSTOCKITEM));
    for (int k = 0; k < cItemComm; ++k)
      std::memcpy(grown.data() + size_t(k) * size_t(sizeSTOCKITEM), SI::CommLine(k), size_t(sizeSTOCKITEM));
    memComm.swap(grown);
    cItemCommAlloc = room;
    iCommAccessDiff = 0;
  }
  // 3. Grow the ring (the file follows at the next save).  The step is at
  // least 10,000 slots and a quarter of the ring, so that a growing stock
  // pays for few growths (each costs two flushes to disk), and large enough
  // that the new tag array and definitions lie beyond the old ones, so the
  // file can grow in place (invariant 4).  The slots not yet used are holes
  // in the file and take no disk space.
  if (cvNewest + 1 == cItemMax && cItemMax < cItemMaxMax) {
    const int64_t tail = int64_t(cItemMax) + int64_t(aIndexProp.size()) * STOCK_INDEXPROP_SIZE +
                         int64_t(aSearchProp.size()) * STOCK_SEARCHPROP_SIZE;
    const int64_t step = std::max<int64_t>({kGrowSlots, cItemMax / 4, (tail + sizeSTOCKITEM - 1) / sizeSTOCKITEM});
    cItemMax = int(std::min<int64_t>(int64_t(cItemMax) + step, cItemMaxMax));
    aTag.resize(size_t(cItemMax), 0);
    if (hooks.tagArrayMoved) hooks.tagArrayMoved(aTag.data());
  }
  // 4. The oldest line is about to be overwritten.
  const bool full = cvNewest + 1 == cvOldest || (cvNewest + 1 == cItemMaxMax && cvOldest == 0);
  if (full) {
    const int old = cvOldest;
    if (cItemCache > 0 && iItemCache == old) cItemCache = 0;
    if (aTag[size_t(old)] == TAG_CONNECT && hooks.connectLineOverwritten) hooks.connectLineOverwritten(old);
    if (!fDisableNewItemScroll) {
      int next = AddIndex(old, 1);
      if (iViewTop == old) iViewTop = next;
      if (fileheader.iScrollableTop == old) fileheader.iScrollableTop = next;
      if (cvTreeOldest == old) cvTreeOldest = next;
      if (hooks.oldestOverwritten) hooks.oldestOverwritten(old);
    }
    if (cvThisTop == old) cvThisTop = -1;
    SI::RemoveMarksAt(old);
  }
  // 7. Advance newest (and oldest when the ring is full).
  int newest = cvNewest + 1;
  if (newest == cItemUsed) {
    if (cItemUsed == cItemMaxMax)
      newest = 0;
    else
      ++cItemUsed;
  }
  if (newest == cvOldest) cvOldest = cvOldest + 1 == cItemUsed ? 0 : cvOldest + 1;
  cvNewest = newest;
  // 5. Room in the communication buffer.
  if (cItemComm == 0) {
    iItemComm = newest;
    iCommAccessDiff = 0;
    cItemComm = 1;
  } else if (cItemComm >= cItemMaxMax) {
    iItemComm = iItemComm + 1 == cItemUsed ? 0 : iItemComm + 1;
    iCommAccessDiff = (iCommAccessDiff + 1) % cItemCommAlloc;
  } else {
    ++cItemComm;
  }
  // 6. An empty ordinary line.
  unsigned char* line = SI::CommLine(cItemComm - 1);
  line[0] = STOCK_MARK_NONE;
  std::memset(line + 1, 0, size_t(cColumn));
  // 8.
  aTag[size_t(newest)] = TAG_NONE;
  return newest;
}

STOCKITEM* STOCK::GetItem(int slot) {
  static std::vector<unsigned char> blank;
  auto asItem = [](unsigned char* p) { return reinterpret_cast<STOCKITEM*>(p); };
  if (!fValid || !SI::IsLive(slot)) {
    blank.assign(size_t(sizeSTOCKITEM), 0);
    blank[0] = STOCK_MARK_NONE;
    return asItem(blank.data());
  }
  const int f = Flat(slot);
  // 1. The communication buffer.
  if (cItemComm > 0) {
    int fc = Flat(iItemComm);
    if (f >= fc) return asItem(SI::CommLine(f - fc));
  }
  // 2. The read cache, limited to the lines before the buffer.
  const int limit = UsedItems() - cItemComm;
  const size_t sz = size_t(sizeSTOCKITEM);
  if (memCache.size() < size_t(kCacheLines) * sz) memCache.assign(size_t(kCacheLines) * sz, 0);
  // 3. Hit.
  int cf = cItemCache > 0 ? Flat(iItemCache) : 0;
  if (cItemCache > 0 && f >= cf && f < cf + cItemCache) return asItem(memCache.data() + size_t(f - cf) * sz);
  bool ok = true;
  const bool normal = !fSingleCacheMode && !fDownOnlyCacheMode;
  // 4. Slide a nearby cache.
  if (normal && cItemCache > 0 && f < cf && cf - f <= kCacheLines) {
    int n = std::min(std::max(cf - f, kCacheStep), cf);
    int start = cf - n;
    int kept = std::min(cItemCache, kCacheLines - n);
    std::memmove(memCache.data() + size_t(n) * sz, memCache.data(), size_t(kept) * sz);
    ok = SI::ReadFlat(start, n, memCache.data());
    iItemCache = SI::SlotOfFlat(start);
    cItemCache = n + kept;
  } else if (normal && cItemCache > 0 && f >= cf + cItemCache && f < cf + cItemCache + kCacheLines - 1) {
    int end = cf + cItemCache;
    int n = std::min(std::max(f - end + 1, kCacheStep), limit - end);
    int total = cItemCache + n;
    int drop = std::max(0, total - kCacheLines);
    std::memmove(memCache.data(), memCache.data() + size_t(drop) * sz, size_t(cItemCache - drop) * sz);
    ok = SI::ReadFlat(end, n, memCache.data() + size_t(cItemCache - drop) * sz);
    iItemCache = SI::SlotOfFlat(cf + drop);
    cItemCache = total - drop;
  } else {
    // 5. Reload.
    int start = f, n = 1;
    if (fDownOnlyCacheMode) {
      n = kForwardLines;
    } else if (!fSingleCacheMode) {
      start = std::max(0, f - kCacheStep);
      n = kCacheLines;
    }
    n = std::max(1, std::min(n, limit - start));
    ok = SI::ReadFlat(start, n, memCache.data());
    iItemCache = SI::SlotOfFlat(start);
    cItemCache = n;
  }
  if (!ok) {
    // A line that cannot be read shows empty; the error is reported once.
    cItemCache = 0;
    SI::WriteFailed();
    blank.assign(sz, 0);
    blank[0] = STOCK_MARK_NONE;
    return asItem(blank.data());
  }
  cf = Flat(iItemCache);
  return asItem(memCache.data() + size_t(f - cf) * sz);
}

int STOCK::ReadLines(int slot, int count, unsigned char* out) {
  if (!fValid || !SI::IsLive(slot) || count <= 0) return 0;
  const int f = Flat(slot);
  count = std::min(count, UsedItems() - f);
  const size_t sz = size_t(sizeSTOCKITEM);
  const int fc = cItemComm > 0 ? Flat(iItemComm) : UsedItems();
  // The part on disk, then the part in the communication buffer.
  const int fromDisk = std::max(0, std::min(count, fc - f));
  if (fromDisk > 0 && !SI::ReadFlat(f, fromDisk, out)) {
    SI::WriteFailed();
    return 0;
  }
  for (int k = fromDisk; k < count; ++k) std::memcpy(out + size_t(k) * sz, SI::CommLine(f + k - fc), sz);
  return count;
}

namespace {

// The file window ViewLines last mapped (read only), unmapped by the next
// call and when the stock is closed.
void* viewMap = nullptr;
size_t viewMapLength = 0;

void UnmapView() {
  if (viewMap) munmap(viewMap, viewMapLength);
  viewMap = nullptr;
  viewMapLength = 0;
}

// Lines mapped per call: large enough that mapping costs little per line,
// small enough that a window stays a few megabytes.
constexpr int kViewLines = 65536;

}  // namespace

const unsigned char* STOCK::ViewLines(int slot, int count, int* got) {
  *got = 0;
  UnmapView();
  if (!fValid || !SI::IsLive(slot) || count <= 0) return nullptr;
  const int f = Flat(slot);
  count = std::min(count, UsedItems() - f);
  const size_t sz = size_t(sizeSTOCKITEM);
  const int fc = cItemComm > 0 ? Flat(iItemComm) : UsedItems();
  if (f >= fc) {
    // In the communication buffer: up to where its ring wraps.
    const size_t idx = size_t(SI::CommLine(f - fc) - memComm.data()) / sz;
    *got = int(std::min<size_t>(size_t(count), size_t(cItemCommAlloc) - idx));
    return memComm.data() + idx * sz;
  }
  // On disk: up to the communication buffer, the end of the ring's slots
  // or the window's size.  The mapping shares the page cache, so the lines
  // are not copied out of it as a read would.
  const int first = SI::SlotOfFlat(f);
  const int n = std::min({count, fc - f, cItemUsed - first, kViewLines});
  const StockLayout lay = SI::Layout(cItemMax);
  const uint64_t at = lay.SlotOffset(first);
  const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
  const uint64_t start = at / page * page;
  const size_t length = size_t(at - start + uint64_t(n) * sz);
  void* m = hfile < 0 ? MAP_FAILED : mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, hfile, off_t(start));
  if (m == MAP_FAILED) {
    SI::WriteFailed();
    return nullptr;
  }
  madvise(m, length, MADV_SEQUENTIAL);
  viewMap = m;
  viewMapLength = length;
  *got = n;
  return static_cast<const unsigned char*>(m) + (at - start);
}

void STOCK::SetCacheMode(STOCKFILECACHEMODE mode) {
  fSingleCacheMode = mode == STOCKCACHE_SINGLE;
  fDownOnlyCacheMode = mode == STOCKCACHE_DOWNONLY;
}

void STOCK::InitializeCaches() {
  if (!fValid && !fTemp && hfile < 0) return;
  const size_t sz = size_t(sizeSTOCKITEM);
  if (fTemp) {
    if (cItemCommAlloc != kTempLines || memComm.size() != size_t(kTempLines) * sz) {
      memComm.assign(size_t(kTempLines) * sz, 0);
      cItemCommAlloc = kTempLines;
    }
  }
  int want = std::max(1, std::min(SI::KeepCount(), UsedItems()));
  if (fTemp) want = 1;
  if (cItemCommAlloc < want || memComm.size() != size_t(cItemCommAlloc) * sz) {
    cItemCommAlloc = std::max(fTemp ? kTempLines : kCommInitial, want);
    memComm.assign(size_t(cItemCommAlloc) * sz, 0);
  }
  cItemComm = want;
  iItemComm = AddIndex(cvNewest, 1 - want);
  iCommAccessDiff = 0;
  if (!fTemp && !SI::ReadFlat(Flat(iItemComm), want, memComm.data())) {
    // Unreadable lines show as empty ones.
    for (int k = 0; k < want; ++k) {
      unsigned char* p = memComm.data() + size_t(k) * sz;
      std::memset(p, 0, sz);
      p[0] = STOCK_MARK_NONE;
    }
  }
  memCache.assign(size_t(kCacheLines) * sz, 0);
  cItemCache = 0;
  iItemCache = 0;
}

void STOCK::FrameSizeChanged() {
  if (!fValid) return;
  if (!fTemp && std::min(SI::KeepCount(), UsedItems()) > cItemComm) {
    FlushComm();
    if (!fWriteEnabled && !EnableWrite(1, 0)) return;  // lines stay in memory
    InitializeCaches();
  }
  // The cache never reaches into the buffer.
  if (cItemCache > 0 && cItemComm > 0) {
    int limit = UsedItems() - cItemComm;
    int cf = Flat(iItemCache);
    if (cf + cItemCache > limit) cItemCache = std::max(0, limit - cf);
  }
}

// ---------------------------------------------------------------------------
// Writing

// Makes the file hold every live line: the lines of the communication
// buffer go to their slots with their tags, then the header.  Returns false
// (nothing dropped from memory) when a write failed.
bool SI::CommitLines() {
  if (STOCK::fTemp || !STOCK::fValid) return true;
  if (!STOCK::fWriteEnabled) return false;
  const int fd = STOCK::hfile;
  STOCKFILEHEADER d = disk;
  if (fNeedRebuild || d.dwVersion != STOCK_VERSION || fDefsDirty || STOCK::cItemMaxMax != d.cItemMaxMax)
    return Rebuild({{0, STOCK::UsedItems()}}, STOCK::cItemMax, STOCK::cItemMaxMax, true);

  // Grow the file in place when the new tail lies beyond the old one.
  if (STOCK::cItemMax > d.cItemMax) {
    const StockLayout oldLay = Layout(d.cItemMax), newLay = Layout(STOCK::cItemMax);
    const uint64_t oldEnd = oldLay.IndexOffset() + uint64_t(d.cIndexProp) * STOCK_INDEXPROP_SIZE +
                            uint64_t(d.cSearchProp) * STOCK_SEARCHPROP_SIZE;
    if (newLay.TagOffset() < oldEnd)
      return Rebuild({{0, STOCK::UsedItems()}}, STOCK::cItemMax, STOCK::cItemMaxMax, true);
    std::string tail;
    for (int i = STOCK::cIndexFromSyntax; i < int(STOCK::aIndexProp.size()); ++i) tail += STOCK::aIndexProp[size_t(i)];
    for (auto& s : STOCK::aSearchProp) tail += s;
    if (!WriteAt(fd, newLay.TagOffset(), STOCK::aTag.data(), STOCK::aTag.size()) ||
        !WriteAt(fd, newLay.IndexOffset(), tail.data(), tail.size()) || !Sync(fd))
      return false;
    d.cItemMax = STOCK::cItemMax;
    if (!WriteHeaderTo(fd, d) || !Sync(fd)) return false;
    disk = d;
  }
  const StockLayout lay = Layout(d.cItemMax);

  // Pre-commit: the header stops calling live the lines about to be
  // overwritten.  The new oldest must still be a line the disk holds.
  if (cvOldest != d.iOldest) {
    auto flatOnDisk = [&](int s) { return s - d.iOldest + (s < d.iOldest ? d.cItemUsed : 0); };
    bool onDisk = cvOldest < d.cItemUsed && flatOnDisk(cvOldest) <= flatOnDisk(d.iNewest);
    if (!onDisk) return Rebuild({{0, STOCK::UsedItems()}}, STOCK::cItemMax, STOCK::cItemMaxMax, true);
    d.iOldest = cvOldest;
    if (!WriteHeaderTo(fd, d) || !Sync(fd)) return false;
    disk = d;
  }


  // The buffer's lines and their tags, in runs contiguous both in the file
  // and in memory.
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  int k = 0;
  int slot = STOCK::iItemComm;
  while (k < STOCK::cItemComm) {
    const int mem = (k + STOCK::iCommAccessDiff) % STOCK::cItemCommAlloc;
    int run = std::min({STOCK::cItemComm - k, STOCK::cItemUsed - slot, STOCK::cItemCommAlloc - mem});
    if (!WriteAt(fd, lay.SlotOffset(slot), STOCK::memComm.data() + size_t(mem) * sz, size_t(run) * sz) ||
        !WriteAt(fd, lay.TagOffset() + uint64_t(slot), STOCK::aTag.data() + slot, size_t(run))) {
      WriteFailed();
      return false;
    }
    k += run;
    slot += run;
    if (slot == STOCK::cItemUsed) slot = 0;
  }
  if (!Sync(fd)) {
    WriteFailed();
    return false;
  }
  d.cItemUsed = STOCK::cItemUsed;
  d.iOldest = cvOldest;
  d.iNewest = cvNewest;
  d.cItemMax = STOCK::cItemMax;
  d.cItemMaxMax = STOCK::cItemMaxMax;
  if (!WriteHeaderTo(fd, d)) {
    WriteFailed();
    return false;
  }
  disk = d;
  return true;
}

// The header as a full save writes it: the view position (its bottom line),
// the counters and the sizes of this moment.
STOCKFILEHEADER SI::HeaderForDisk() {
  STOCKPOS pos = STOCK::hooks.takeViewPosition ? STOCK::hooks.takeViewPosition()
                                               : STOCKPOS{STOCK::iViewTop, STOCK::fileheader.posSaved.level};
  STOCK::fileheader.posSaved = pos;
  STOCKFILEHEADER h = STOCK::fileheader;
  const int b = STOCK::fMinimized ? 0 : std::max(0, STOCK::cLineFrame - 1);
  h.posSaved.item = IsLive(pos.item) ? STOCK::AddIndex(pos.item, b) : -1;
  if (!IsLive(h.iScrollableTop)) h.iScrollableTop = -1;
  h.dwVersion = STOCK_VERSION;
  h.cItemUsed = STOCK::cItemUsed;
  h.iOldest = cvOldest;
  h.iNewest = cvNewest;
  h.cItemMax = STOCK::cItemMax;
  h.cItemMaxMax = STOCK::cItemMaxMax;
  h.cColumn = STOCK::cColumn;
  h.cIndexProp = uint16_t(std::max<int>(0, int(STOCK::aIndexProp.size()) - STOCK::cIndexFromSyntax));
  h.cSearchProp = uint16_t(STOCK::aSearchProp.size());
  return h;
}

// Writes the live lines, in the order the segments give, into a new file
// that replaces the stock file by rename; the ring then starts at slot 0.
// Bookmarks and positions follow their lines (dropped when their line is
// not kept, or when keepMarks is false).
bool SI::Rebuild(const std::vector<Segment>& order, int capacity, int maxMax, bool keepMarks) {
  int n = 0;
  for (auto& s : order) n += s.count;
  if (n < 1) return false;
  capacity = std::max({capacity, n, 1});
  maxMax = std::max(maxMax, capacity);

  auto mapSlot = [&](int slot) -> int {
    if (!IsLive(slot)) return -1;
    int f = STOCK::Flat(slot), base = 0;
    for (auto& s : order) {
      if (f >= s.flat && f < s.flat + s.count) return base + f - s.flat;
      base += s.count;
    }
    return -1;
  };

  STOCKFILEHEADER h = HeaderForDisk();
  h.posSaved.item = mapSlot(h.posSaved.item);
  h.iScrollableTop = mapSlot(h.iScrollableTop);
  {
    int out = 0;
    for (int i = 0; i < h.cMark; ++i) {
      int m = keepMarks ? mapSlot(h.aMark[i].item) : -1;
      if (m >= 0) h.aMark[out++] = {m, h.aMark[i].level};
    }
    for (int i = out; i < STOCK_MAX_MARK; ++i) h.aMark[i] = {0, 0};
    h.cMark = out;
  }
  h.cItemUsed = n;
  h.iOldest = 0;
  h.iNewest = n - 1;
  h.cItemMax = capacity;
  h.cItemMaxMax = maxMax;

  const std::string& path = STOCK::szFileName;
  const size_t cut = path.rfind('/');
  const std::string dir = cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
  const std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
  std::string tmpl = dir + "/." + base + ".XXXXXX";
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) {
    WriteFailed();
    return false;
  }
  auto fail = [&] {
    close(fd);
    unlink(tmpl.c_str());
    WriteFailed();
    return false;
  };
  struct stat st {};
  if (fstat(STOCK::hfile, &st) == 0) fchmod(fd, st.st_mode & 07777);
  if (!Lock(fd, F_WRLCK)) return fail();

  const StockLayout lay = Layout(capacity);
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  std::vector<unsigned char> block(size_t(kBlockLines) * sz);
  std::vector<unsigned char> tags(size_t(capacity), 0);
  int out = 0;
  for (auto& s : order) {
    for (int done = 0; done < s.count;) {
      int run = std::min(kBlockLines, s.count - done);
      for (int j = 0; j < run; ++j) {
        int slot = SlotOfFlat(s.flat + done + j);
        std::memcpy(block.data() + size_t(j) * sz, STOCK::GetItem(slot), sz);
        tags[size_t(out + j)] = STOCK::aTag[size_t(slot)];
      }
      if (!WriteAt(fd, lay.SlotOffset(out), block.data(), size_t(run) * sz)) return fail();
      out += run;
      done += run;
    }
  }
  std::string tail;
  for (int i = STOCK::cIndexFromSyntax; i < int(STOCK::aIndexProp.size()); ++i) tail += STOCK::aIndexProp[size_t(i)];
  for (auto& s : STOCK::aSearchProp) tail += s;
  if (ftruncate(fd, static_cast<off_t>(lay.TagOffset())) != 0 ||
      !WriteAt(fd, lay.TagOffset(), tags.data(), tags.size()) ||
      !WriteAt(fd, lay.IndexOffset(), tail.data(), tail.size()) || !WriteHeaderTo(fd, h) || fsync(fd) != 0)
    return fail();
  if (rename(tmpl.c_str(), path.c_str()) != 0) return fail();
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }

  // The new file is the stock now.
  const int viewTop = mapSlot(STOCK::iViewTop), thisTop = mapSlot(cvThisTop), treeOldest = mapSlot(cvTreeOldest);
  const STOCKPOS topPos{mapSlot(STOCK::fileheader.posSaved.item), STOCK::fileheader.posSaved.level};
  close(STOCK::hfile);
  STOCK::hfile = fd;
  STOCK::fWriteEnabled = 1;
  STOCK::aTag.swap(tags);
  STOCK::cItemUsed = n;
  STOCK::cItemMax = capacity;
  STOCK::cItemMaxMax = maxMax;
  cvOldest = 0;
  cvNewest = n - 1;
  STOCK::iViewTop = viewTop >= 0 ? viewTop : n - 1;
  cvThisTop = thisTop;
  cvTreeOldest = treeOldest >= 0 ? treeOldest : 0;
  auto& mem = STOCK::fileheader;
  mem = h;
  mem.posSaved = topPos;
  mem.iScrollableTop = h.iScrollableTop >= 0 ? h.iScrollableTop : 0;
  disk = h;
  fNeedRebuild = false;
  fDefsDirty = false;
  STOCK::cItemMaxSaved = capacity;
  STOCK::cItemComm = 0;
  STOCK::InitializeCaches();
  if (STOCK::hooks.tagArrayMoved) STOCK::hooks.tagArrayMoved(STOCK::aTag.data());
  if (STOCK::hooks.relaid) STOCK::hooks.relaid();
  return true;
}

void STOCK::SaveComm(int force) {
  if (!fValid || fTemp) return;
  const int keep = SI::KeepCount();
  if (cItemComm - keep <= 0) return;
  if (force == 0) {
    // Lines leave memory only once they are on disk.
    if (!fWriteEnabled || !SI::CommitLines()) return;
    if (cItemComm - keep <= 0) return;  // a new file was written and the buffer rebuilt
  }
  const size_t sz = size_t(sizeSTOCKITEM);
  const int drop = cItemComm - keep;
  std::vector<unsigned char> kept(size_t(keep) * sz);
  for (int k = 0; k < keep; ++k) std::memcpy(kept.data() + size_t(k) * sz, SI::CommLine(drop + k), sz);
  std::memcpy(memComm.data(), kept.data(), kept.size());
  iCommAccessDiff = 0;
  cItemComm = keep;
  iItemComm = AddIndex(cvNewest, 1 - keep);
}

void STOCK::FlushComm() {
  if (!fValid || fTemp || !fWriteEnabled || cItemComm == 0) return;
  if (SI::CommitLines()) SaveComm(1);
}

void STOCK::Save() {
  if (!fValid || fTemp) return;
  if (!fWriteEnabled && !EnableWrite(1, 1)) return;
  FlushComm();
  STOCKFILEHEADER h = SI::HeaderForDisk();
  STOCKFILEHEADER& d = SI::disk;
  const int fd = hfile;
  if (SI::fNeedRebuild || SI::fDefsDirty || d.dwVersion != STOCK_VERSION || d.cItemMax != cItemMax ||
      d.cIndexProp != h.cIndexProp || d.cSearchProp != h.cSearchProp) {
    if (!SI::Rebuild({{0, UsedItems()}}, cItemMax, cItemMaxMax, true)) return;
  } else {
    // The tag array is rewritten under the dirty mark (invariant 5).
    const StockLayout lay = SI::Layout(cItemMax);
    const uint64_t end = lay.IndexOffset() + uint64_t(h.cIndexProp) * STOCK_INDEXPROP_SIZE +
                         uint64_t(h.cSearchProp) * STOCK_SEARCHPROP_SIZE;
    if (!d.fOnlineFlag) {
      STOCKFILEHEADER dirty = d;
      dirty.fOnlineFlag = 1;
      if (!SI::WriteHeaderTo(fd, dirty) || !SI::Sync(fd)) return SI::WriteFailed();
      d = dirty;
    }
    if (!SI::WriteAt(fd, lay.TagOffset(), aTag.data(), aTag.size()) ||
        ftruncate(fd, static_cast<off_t>(end)) != 0 || !SI::Sync(fd) || !SI::WriteHeaderTo(fd, h) ||
        !SI::Sync(fd))
      return SI::WriteFailed();
    d = h;
  }
  cItemMaxSaved = cItemMax;
  EnableWrite(0, 0);
}

void STOCK::SaveCurPosToStock() {
  if (!fValid || fTemp || hfile < 0) return;
  const int was = fWriteEnabled;
  if (!EnableWrite(1, 0)) return;
  STOCKFILEHEADER h = SI::HeaderForDisk();
  STOCKFILEHEADER d = SI::disk;
  d.posSaved = h.posSaved;
  if (d.posSaved.item >= d.cItemUsed) d.posSaved.item = -1;
  d.iScrollableTop = h.iScrollableTop < d.cItemUsed ? h.iScrollableTop : -1;
  if (SI::WriteHeaderTo(hfile, d))
    SI::disk = d;
  else
    SI::WriteFailed();
  if (!was) EnableWrite(0, 0);
}

void STOCK::EndOnline() {
  if (!fValid) return;
  if (fTemp) {
    SI::HeaderForDisk();
    return;
  }
  fileheader.fOnlineFlag = 0;
  if (!fWriteEnabled && !EnableWrite(1, 1)) return;
  const STOCKFILEHEADER& d = SI::disk;
  if (cItemMax == cItemMaxSaved && d.dwVersion == STOCK_VERSION && !SI::fNeedRebuild && !SI::fDefsDirty &&
      d.cItemMaxMax == cItemMaxMax) {
    FlushComm();
    if (SI::disk.cItemUsed != cItemUsed || SI::disk.iNewest != cvNewest) return;  // the write failed
    // Only the tags that the call could have changed.
    const StockLayout lay = SI::Layout(cItemMax);
    int from = FindNewestConnectLine();
    if (from < 0) from = cvOldest;
    bool ok = true;
    if (from <= cvNewest) {
      ok = SI::WriteAt(hfile, lay.TagOffset() + uint64_t(from), aTag.data() + from, size_t(cvNewest - from + 1));
    } else {
      ok = SI::WriteAt(hfile, lay.TagOffset(), aTag.data(), size_t(cvNewest + 1)) &&
           SI::WriteAt(hfile, lay.TagOffset() + uint64_t(from), aTag.data() + from, size_t(cItemUsed - from));
    }
    STOCKFILEHEADER h = SI::HeaderForDisk();
    if (!ok || !SI::Sync(hfile) || !SI::WriteHeaderTo(hfile, h) || !SI::Sync(hfile)) return SI::WriteFailed();
    SI::disk = h;
  } else {
    Save();
  }
  EnableWrite(0, 0);
}

void STOCK::SetOnlineFlag() {
  fileheader.fOnlineFlag = 1;
  if (fTemp || !fValid || !fWriteEnabled) return;
  STOCKFILEHEADER d = SI::disk;
  d.fOnlineFlag = 1;
  if (!SI::WriteHeaderTo(hfile, d) || !SI::Sync(hfile)) return SI::WriteFailed();
  SI::disk = d;
}

void STOCK::SetConnectTag(int slot) {
  if (!fValid || !SI::IsLive(slot)) return;
  aTag[size_t(slot)] = TAG_CONNECT;
  STOCKITEM* item = GetItem(slot);
  item->cInput = STOCK_MARK_CONNECT;
  // A line of the read cache is on disk: write it back now.  A line of the
  // communication buffer goes with the buffer.
  const bool inComm = cItemComm > 0 && Flat(slot) >= Flat(iItemComm);
  if (!fTemp && fWriteEnabled && !inComm && slot < SI::disk.cItemUsed) {
    if (!SI::WriteAt(hfile, SI::Layout(cItemMax).SlotOffset(slot), item, size_t(sizeSTOCKITEM))) SI::WriteFailed();
  }
}

// ---------------------------------------------------------------------------
// Clearing and relayouts

void STOCK::Clear() {
  cItemUsed = 1;
  cvOldest = 0;
  cvNewest = 0;
  cvThisTop = 0;
  cvTreeOldest = 0;
  cItemMax = fTemp ? cItemMaxMax : std::min(kInitialSlots, cItemMaxMax);
  aTag.assign(size_t(cItemMax), 0);
  if (hooks.tagArrayMoved) hooks.tagArrayMoved(aTag.data());
  fileheader.posSaved = {-1, -1};
  SI::ClearMarks();
  iViewTop = 0;
  fileheader.iScrollableTop = 0;
  if (!fTemp) SI::fNeedRebuild = true;
  cItemComm = 0;
  InitializeCaches();
  unsigned char* line = SI::CommLine(0);
  line[0] = STOCK_MARK_NONE;
  std::memset(line + 1, 0, size_t(cColumn));
  aTag[0] = TAG_NONE;
  if (hooks.relaid) hooks.relaid();
}

void STOCK::Delete(int first, int count) {
  if (!fValid || count <= 0 || !SI::IsLive(first)) return;
  const int used = UsedItems();
  const int ff = Flat(first);
  count = std::min(count, used - ff);
  if (count == used) {
    Clear();
    fileheader.ftOldestCall = {};
    return;
  }
  if (fTemp) return;
  const int was = fWriteEnabled;
  if (!was && !EnableWrite(1, 1)) return;
  cItemCache = 0;
  const int remain = used - count;
  const int capacity =
      cItemMax == cItemMaxMax ? cItemMax : std::min(cItemMax, ((remain - 1 + kInitialSlots) / kInitialSlots) * kInitialSlots);
  std::vector<SI::Segment> order;
  if (ff > 0) order.push_back({0, ff});
  if (ff + count < used) order.push_back({ff + count, used - ff - count});
  SI::ClearMarks();
  if (SI::Rebuild(order, capacity, cItemMaxMax, false)) CalcOldestDateTime();
  if (!was) EnableWrite(0, 0);
}

void STOCK::Move(int target, int source) {
  if (!fValid || fTemp || !SI::IsLive(target) || !SI::IsLive(source)) return;
  const int used = UsedItems();
  const int fa = Flat(target), fb = Flat(source);
  if (fa >= fb) return;
  const int was = fWriteEnabled;
  if (!was && !EnableWrite(1, 1)) return;
  std::vector<SI::Segment> order;
  if (fa > 0) order.push_back({0, fa});
  order.push_back({fb, used - fb});
  order.push_back({fa, fb - fa});
  SI::Rebuild(order, cItemMax, cItemMaxMax, true);
  if (!was) EnableWrite(0, 0);
}

int STOCK::Resize(int newMax) {
  if (!fValid || fTemp) return 0;
  newMax = std::clamp(newMax / 100 * 100, 100, int(STOCK_MAX_LINES));
  if (newMax == cItemMaxMax) return 1;
  const int was = fWriteEnabled;
  if (!was && !EnableWrite(1, 1)) return 0;
  int result = 1;
  if (cvOldest <= cvNewest && newMax >= cItemMax) {
    cItemMaxMax = newMax;  // the file grows later, 10,000 slots at a time
    Save();
  } else {
    const int used = UsedItems();
    const int keep = std::min(used, newMax);
    SI::ClearMarks();
    result = SI::Rebuild({{used - keep, keep}}, newMax, newMax, false) ? 1 : 0;
  }
  if (!was) EnableWrite(0, 0);
  return result;
}

void STOCK::SetIndexProps(const std::vector<std::string>& records, int fromSyntax) {
  aIndexProp = records;
  for (auto& r : aIndexProp) r.resize(STOCK_INDEXPROP_SIZE, '\0');
  cIndexFromSyntax = std::clamp(fromSyntax, 0, int(aIndexProp.size()));
  SI::fDefsDirty = true;
}

void STOCK::SetSearchProps(const std::vector<std::string>& records) {
  aSearchProp = records;
  for (auto& r : aSearchProp) r.resize(STOCK_SEARCHPROP_SIZE, '\0');
  SI::fDefsDirty = true;
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

int STOCK::EnableWrite(int enable, int report) {
  if (fTemp) return 1;
  if ((enable != 0) == (fWriteEnabled != 0)) return 1;
  if (hfile < 0) return 0;
  if (enable) {
    if (SI::Lock(hfile, F_WRLCK)) {
      fWriteEnabled = 1;
      SI::fWriteFailReported = false;
      return 1;
    }
    if (report) ErrorMessage(szFileName + kWriteRefused);
    return 0;
  }
  if (!SI::Lock(hfile, F_RDLCK)) {
    ErrorMessage(std::string("Internal error: EnableWrite()"));
    return 0;
  }
  fWriteEnabled = 0;
  return 1;
}

// Opens a stock file read-write where the file allows it (read-only
// otherwise) under a shared lock.  -1 after reporting.
int SI::OpenLocked(const std::string& path, bool report) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (report) ErrorMessage(path + (errno == ENOENT || errno == ENOTDIR ? kNotFound : kOpenError));
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    if (report) ErrorMessage(path + kOpenError);
    return -1;
  }
  if (!Lock(fd, F_RDLCK)) {
    close(fd);
    if (report) ErrorMessage(path + kInUse);
    return -1;
  }
  return fd;
}

// Reads and checks everything of an opened file before the stock in memory
// is replaced; on failure the current stock stays as it was.
int SI::Install(const std::string& path, int fd, bool startUp) {
  struct stat st {};
  unsigned char raw[STOCK_HEADER_SIZE];
  STOCKFILEHEADER h;
  const bool readOk = fstat(fd, &st) == 0 && st.st_size >= STOCK_HEADER_SIZE && ReadAt(fd, 0, raw, sizeof raw);
  StockHeaderCheck check = StockHeaderCheck::Foreign;
  if (readOk) {
    ReadStockHeader(raw, h);
    check = CheckStockHeader(h, uint64_t(st.st_size));
  }
  if (check != StockHeaderCheck::Ok) {
    close(fd);
    const char* text = check == StockHeaderCheck::Foreign  ? kForeign
                       : check == StockHeaderCheck::TooOld ? kTooOld
                       : check == StockHeaderCheck::TooNew ? kTooNew
                                                           : kOpenError;
    ErrorMessage(path + text);
    return 0;
  }
  const STOCKFILEHEADER onDisk = h;
  const uint32_t version = h.dwVersion;

  // Upgrades of older versions.
  if (version < 3) h.cIndexProp = h.cSearchProp = 0;
  if (h.cItemMaxMax == 0) h.cItemMaxMax = h.cItemMax;
  const int column = h.EffectiveColumn();
  const StockLayout lay{column, h.cItemMax};
  std::vector<unsigned char> tags(size_t(h.cItemMax), 0);
  if (!ReadAt(fd, lay.TagOffset(), tags.data(), tags.size())) {
    std::fill(tags.begin(), tags.end(), 0);
    h.fOnlineFlag = 1;  // re-tagged after opening
  }
  if (version < 5)  // tag 2 (quotation) came in with version 5
    for (auto& t : tags)
      if (t > 1 && t < 255) ++t;
  std::vector<std::string> index, search;
  {
    std::string buf(size_t(h.cIndexProp) * STOCK_INDEXPROP_SIZE, '\0');
    if (ReadAt(fd, lay.IndexOffset(), buf.data(), buf.size())) {
      for (size_t i = 0; i < h.cIndexProp; ++i) {
        std::string rec = buf.substr(i * STOCK_INDEXPROP_SIZE, STOCK_INDEXPROP_SIZE);
        if (version < 6) {  // syntax numbers shifted by the quotation tag too
          int cnt = std::min<int>(static_cast<unsigned char>(rec[40]), STOCK_INDEXPROP_SIZE - 41);
          for (int j = 0; j < cnt; ++j) {
            auto& c = reinterpret_cast<unsigned char&>(rec[size_t(41 + j)]);
            if (c < 255) ++c;
          }
        }
        index.push_back(std::move(rec));
      }
    } else {
      h.cIndexProp = 0;
    }
    std::string sbuf(size_t(h.cSearchProp) * STOCK_SEARCHPROP_SIZE, '\0');
    const uint64_t soff = lay.IndexOffset() + uint64_t(version < 3 ? 0 : onDisk.cIndexProp) * STOCK_INDEXPROP_SIZE;
    if (ReadAt(fd, soff, sbuf.data(), sbuf.size())) {
      for (size_t i = 0; i < h.cSearchProp; ++i)
        search.push_back(sbuf.substr(i * STOCK_SEARCHPROP_SIZE, STOCK_SEARCHPROP_SIZE));
    } else {
      h.cSearchProp = 0;
    }
  }

  // Everything checked: this file becomes the stock.
  if (STOCK::fValid) STOCK::Close();
  STOCK::hfile = fd;
  STOCK::szFileName = path;
  STOCK::fTemp = 0;
  STOCK::fWriteEnabled = 0;
  STOCK::fileheader = h;
  disk = onDisk;
  STOCK::cColumn = column;
  STOCK::sizeSTOCKITEM = column + 1;
  STOCK::cItemMax = h.cItemMax;
  STOCK::cItemMaxMax = h.cItemMaxMax;
  STOCK::cItemUsed = h.cItemUsed;
  STOCK::aTag.swap(tags);
  STOCK::aIndexProp.swap(index);
  STOCK::cIndexFromSyntax = 0;
  STOCK::aSearchProp.swap(search);
  cvOldest = h.iOldest;
  cvNewest = h.iNewest;
  cvThisTop = h.iNewest;
  cvTreeOldest = h.iOldest;
  fNeedRebuild = false;
  fDefsDirty = false;
  fWriteFailReported = false;
  STOCK::cItemMaxSaved = h.cItemMax;
  STOCK::fCheckTurn = 1;
  STOCK::cItemComm = 0;
  STOCK::cItemCache = 0;
  STOCK::memComm.clear();
  STOCK::cItemCommAlloc = 0;

  // The view: the saved bottom line gives the top line.
  {
    const int rows = std::max(1, STOCK::cLineFrame);
    int top = IsLive(h.posSaved.item) ? STOCK::AddIndex(h.posSaved.item, 1 - rows) : int(cvNewest);
    if (!STOCK::fMinimized) {
      if (IsLive(h.iScrollableTop) && STOCK::Flat(top) < STOCK::Flat(h.iScrollableTop)) top = h.iScrollableTop;
      if (STOCK::Flat(cvNewest) - STOCK::Flat(top) + 1 < rows) top = STOCK::AddIndex(cvNewest, 1 - rows);
    }
    STOCK::iViewTop = top;
    STOCK::fileheader.posSaved.item = top;
  }

  // The colour syntax.
  int result = 1;
  bool picked = false;
  const std::string tagFile = h.TagFile();
  auto& hk = STOCK::hooks;
  if (tagFile.empty()) {
    if (hk.emptySyntax) hk.emptySyntax();
  } else {
    bool ok = hk.openSyntax ? hk.openSyntax(tagFile) : access(tagFile.c_str(), R_OK) == 0;
    if (!ok) {
      std::string other = startUp || !hk.pickSyntax ? std::string() : hk.pickSyntax(tagFile);
      if (startUp) result = 2;
      if (!other.empty() && (hk.openSyntax ? hk.openSyntax(other) : access(other.c_str(), R_OK) == 0) &&
          STOCK::fileheader.SetTagFile(other)) {
        picked = true;
      } else if (hk.emptySyntax) {
        hk.emptySyntax();
      }
    }
  }

  STOCK::fValid = 1;
  STOCK::InitializeCaches();

  // Old versions get their connect marks and are saved as version 7.
  if ((version < STOCK_VERSION || picked) && STOCK::EnableWrite(1, 0)) {
    if (version < STOCK_VERSION)
      for (int f = 0, n = STOCK::UsedItems(); f < n; ++f) {
        int slot = SlotOfFlat(f);
        if (STOCK::aTag[size_t(slot)] == TAG_CONNECT) STOCK::SetConnectTag(slot);
      }
    STOCK::Save();
    STOCK::EnableWrite(0, 0);
  }

  // Daily-clear mode: keep the stock only when its last call is from today.
  if (STOCK::fileheader.fClearDaily && STOCK::UsedItems() > 1) {
    int c = STOCK::FindNewestConnectLine();
    SYSTEMTIME now = hk.now ? hk.now() : SYSTEMTIME{};
    if (!hk.now) {
      time_t t = time(nullptr);
      struct tm tmv {};
      localtime_r(&t, &tmv);
      now.wYear = tmv.tm_year + 1900;
      now.wMonth = tmv.tm_mon + 1;
      now.wDay = tmv.tm_mday;
      now.wHour = tmv.tm_hour;
      now.wMinute = tmv.tm_min;
    }
    if (c < 0 || STOCK::DailyClearDue(GetDateTimeFromStock(c), now)) STOCK::Clear();
  }
  return result;
}

int STOCK::Open(const std::string& path) {
  int fd = SI::OpenLocked(path, true);
  if (fd < 0) return 0;
  const bool startUp = !hooks.frameExists || !hooks.frameExists();
  return SI::Install(path, fd, startUp);
}

int STOCK::Create(const std::string& path, unsigned long lines, int columns, uint16_t backupMonths,
                  unsigned long backupLines, int daily) {
  const int maxMax = int(std::clamp<unsigned long>(lines / 100 * 100, 100, STOCK_MAX_LINES));
  const int column = std::clamp(columns, int(STOCK_MIN_COLUMN), int(STOCK_MAX_COLUMN));
  STOCKFILEHEADER h;
  h.Reset();
  h.cItemMax = std::min(kInitialSlots, maxMax);
  h.cItemMaxMax = maxMax;
  h.dwVersion = STOCK_VERSION;
  h.cBackupMonths = backupMonths;
  h.cBackupLines = uint32_t(backupLines);
  h.fClearDaily = daily ? 1 : 0;
  h.cColumn = column;
  h.cItemUsed = 1;
  h.iOldest = h.iNewest = 0;
  h.posSaved = {-1, -1};
  h.iScrollableTop = 0;

  // The new file is written beside the old one and renamed over it, so a
  // failure leaves whatever was there.
  const size_t cut = path.rfind('/');
  const std::string dir = cut == std::string::npos ? "." : (cut == 0 ? "/" : path.substr(0, cut));
  const std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
  std::string tmpl = dir + "/." + base + ".XXXXXX";
  int fd = base.empty() ? -1 : mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) {
    ErrorMessage(path + kCreateFailed);
    return 0;
  }
  fchmod(fd, 0644);
  const StockLayout lay{column, h.cItemMax};
  std::vector<unsigned char> first(size_t(column) + 1, 0);
  first[0] = STOCK_MARK_NONE;
  bool ok = SI::Lock(fd, F_WRLCK) && SI::WriteHeaderTo(fd, h) && SI::WriteAt(fd, lay.SlotOffset(0), first.data(), first.size()) &&
            ftruncate(fd, static_cast<off_t>(lay.IndexOffset())) == 0 && fsync(fd) == 0 &&
            rename(tmpl.c_str(), path.c_str()) == 0;
  if (!ok) {
    close(fd);
    unlink(tmpl.c_str());
    ErrorMessage(path + kCreateFailed);
    return 0;
  }
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  SI::Lock(fd, F_RDLCK);
  fTemp = 0;
  return SI::Install(path, fd, true) ? 1 : 0;
}

int STOCK::Close() {
  if (fValid && !fTemp && hfile >= 0) {
    // Lines not yet on disk are written when the file can be written.
    if (EnableWrite(1, 0)) {
      FlushComm();
      SaveCurPosToStock();
    }
  }
  UnmapView();
  if (hfile >= 0) close(hfile);
  hfile = -1;
  fValid = 0;
  fTemp = 0;
  fWriteEnabled = 0;
  memComm.clear();
  memComm.shrink_to_fit();
  memCache.clear();
  memCache.shrink_to_fit();
  aTag.clear();
  aTag.shrink_to_fit();
  cItemComm = cItemCache = cItemCommAlloc = iCommAccessDiff = 0;
  return 1;
}

void STOCK::CreateTempStockFile() {
  if (fValid) Close();
  szFileName = kTempName;
  fTemp = 1;
  hfile = -1;
  fWriteEnabled = 0;
  cItemMaxMax = cItemMax = kTempLines;
  cColumn = STOCK_DEFAULT_COLUMN;
  sizeSTOCKITEM = cColumn + 1;
  fileheader = STOCKFILEHEADER();
  aTag.assign(size_t(kTempLines), 0);
  aIndexProp.clear();
  aSearchProp.clear();
  cIndexFromSyntax = 0;
  memComm.assign(size_t(kTempLines) * size_t(sizeSTOCKITEM), 0);
  cItemCommAlloc = kTempLines;
  Clear();
  fValid = 1;
  if (hooks.emptySyntax) hooks.emptySyntax();
}

int STOCK::IsOtherQuillnetSharing(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat a {}, b {};
  if (hfile >= 0 && fstat(fd, &a) == 0 && fstat(hfile, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
    close(fd);
    return 0;  // our own stock
  }
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  int r = fcntl(fd, F_OFD_GETLK, &fl);
  close(fd);
  return r == 0 && fl.l_type != F_UNLCK ? 1 : 0;
}

int OpenAnyStockFile() {
  const std::string previous = STOCK::StockFile2;
  STOCK::StockFile.clear();
  if (!previous.empty() && access(previous.c_str(), F_OK) == 0 && !STOCK::IsOtherQuillnetSharing(previous)) {
    STOCK::StockFile = previous;
    STOCK::StockFile2.clear();
    if (STOCK::Open(previous)) return 1;
    STOCK::StockFile.clear();
  }
  if (DIR* d = opendir(".")) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() < 5) continue;
      std::string ext = name.substr(name.size() - 4);
      for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
      if (ext != ".stk" || STOCK::IsOtherQuillnetSharing(name)) continue;
      if (STOCK::Open(name)) {
        STOCK::StockFile = name;
        closedir(d);
        return 1;
      }
    }
    closedir(d);
  }
  STOCK::CreateTempStockFile();
  return 0;
}

// ---------------------------------------------------------------------------
// Colour syntax time stamps and connect lines

namespace {
constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
bool Retag(int reason) { return STOCK::hooks.retag ? STOCK::hooks.retag(reason) : true; }
}  // namespace

int STOCK::GetTagFileTimestamp(FILETIME* ft) {
  const std::string path = fileheader.TagFile();
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return 0;
  uint64_t v = kUnixEpochAsFiletime + uint64_t(st.st_mtim.tv_sec) * 10000000ULL + uint64_t(st.st_mtim.tv_nsec) / 100;
  *ft = FILETIME::FromValue(v);
  return 1;
}

void STOCK::CheckOpeningTimeStamp() {
  if (fileheader.ftTagFile.dwHighDateTime == 0xFFFFFFFFu) {
    fileheader.ftTagFile = {};
    Retag(2);
  }
  CheckTagTimeStamp(1);
}

void STOCK::CheckTagTimeStamp(int opening) {
  FILETIME now;
  const int have = GetTagFileTimestamp(&now);
  const FILETIME stored = fileheader.ftTagFile;
  const bool wasZero = stored == FILETIME{};
  bool retaggedAtOpening = false;
  if (!wasZero && stored.dwHighDateTime != 0xFFFFFFFFu && have && !(now == stored)) {
    fileheader.ftTagFile = now;
    if (!Retag(3 - opening))
      fileheader.ftTagFile.dwHighDateTime = 0xFFFFFFFFu;
    else
      retaggedAtOpening = opening != 0;
  }
  if ((wasZero || retaggedAtOpening) && have) fileheader.ftTagFile = now;
  if (fileheader.fOnlineFlag) {
    fileheader.fOnlineFlag = 0;
    Retag(4);
  }
}

int STOCK::FindNewestConnectLine() {
  if (!fValid) return -1;
  for (int f = UsedItems() - 1; f >= 0; --f) {
    int slot = SI::SlotOfFlat(f);
    if (aTag[size_t(slot)] == TAG_CONNECT) return slot;
  }
  return -1;
}

void STOCK::CalcOldestDateTime() {
  for (int f = 0, n = UsedItems(); f < n; ++f) {
    int slot = SI::SlotOfFlat(f);
    if (aTag[size_t(slot)] == TAG_CONNECT) {
      fileheader.ftOldestCall = GetTimeFromStock(slot);
      return;
    }
  }
  fileheader.ftOldestCall.dwHighDateTime = 0;
}

bool STOCK::DailyClearDue(const SYSTEMTIME& lastCall, const SYSTEMTIME& now) {
  // The year is not compared.
  const bool keep = lastCall.wDay == now.wDay && lastCall.wMonth == now.wMonth && now.wHour - lastCall.wHour < 13;
  return !keep;
}

namespace {
// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
}  // namespace

FILETIME SystemTimeToFileTime(const SYSTEMTIME& st) {
  // Months and days out of range are taken at their nearest valid value.
  const unsigned m = unsigned(std::clamp(st.wMonth, 1, 12));
  const unsigned d = unsigned(std::clamp(st.wDay, 1, 31));
  const int64_t days = DaysFromCivil(std::max(st.wYear, 1601), m, d) - DaysFromCivil(1601, 1, 1);
  const int64_t secs = days * 86400 + int64_t(st.wHour) * 3600 + int64_t(st.wMinute) * 60 + st.wSecond;
  return FILETIME::FromValue(uint64_t(secs) * 10000000ULL + uint64_t(st.wMilliseconds) * 10000ULL);
}

SYSTEMTIME FileTimeToSystemTime(FILETIME ft) {
  const uint64_t v = ft.Value();
  int64_t secs = int64_t(v / 10000000ULL);
  int64_t days = secs / 86400 + DaysFromCivil(1601, 1, 1);
  int64_t rem = secs % 86400;
  SYSTEMTIME st;
  // Civil date from days since 1970-01-01.
  int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  st.wDay = int(doy - (153 * mp + 2) / 5 + 1);
  st.wMonth = int(mp < 10 ? mp + 3 : mp - 9);
  st.wYear = int(int64_t(yoe) + era * 400 + (st.wMonth <= 2));
  st.wDayOfWeek = int(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  st.wHour = int(rem / 3600);
  st.wMinute = int(rem / 60 % 60);
  st.wSecond = int(rem % 60);
  st.wMilliseconds = int(v / 10000ULL % 1000);
  return st;
}

SYSTEMTIME DateTimeFromConnectText(const char* text, int column) {
  SYSTEMTIME st;
  st.wYear = 2100;
  const int len = StockTextLength(text, column);
  if (len < 14 || len >= column) return st;  // the pattern must be followed by a byte below 0x20
  const char* p = text + len - 14;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  static const char kShape[] = "99/99/99 99:99";
  for (int i = 0; i < 14; ++i) {
    if (kShape[i] == '9' ? !digit(p[i]) : p[i] != kShape[i]) return st;
  }
  auto two = [&](int at) { return (p[at] - '0') * 10 + (p[at + 1] - '0'); };
  st.wYear = 1900 + two(0);
  if (len >= 16 && p[-2] == '2' && p[-1] == '0') st.wYear += 100;
  st.wMonth = two(3);
  st.wDay = two(6);
  st.wHour = two(9);
  st.wMinute = two(12);
  return st;
}

SYSTEMTIME GetDateTimeFromStock(const CODEVRAM& cv) {
  STOCKITEM* item = STOCK::GetItem(cv);
  return DateTimeFromConnectText(item->Text(), STOCK::cColumn);
}

FILETIME GetTimeFromStock(const CODEVRAM& cv) { return SystemTimeToFileTime(GetDateTimeFromStock(cv)); }

void STOCK::ResetForTest() {
  UnmapView();
  if (hfile >= 0) close(hfile);
  hfile = -1;
  fileheader = STOCKFILEHEADER();
  szFileName.clear();
  fValid = fTemp = fWriteEnabled = 0;
  cColumn = STOCK_DEFAULT_COLUMN;
  sizeSTOCKITEM = cColumn + 1;
  cItemMax = cItemMaxMax = cItemUsed = 0;
  aTag.clear();
  memComm.clear();
  memCache.clear();
  cItemComm = iItemComm = cItemCommAlloc = iCommAccessDiff = 0;
  cItemCache = iItemCache = 0;
  fSingleCacheMode = fDownOnlyCacheMode = 0;
  fCheckTurn = 1;
  fDisableNewItemScroll = 0;
  cItemMaxSaved = 0;
  aIndexProp.clear();
  aSearchProp.clear();
  cIndexFromSyntax = 0;
  cLineFrame = 1;
  fMinimized = 0;
  iViewTop = 0;
  hooks = STOCKHOOKS();
  StockFile.clear();
  StockFile2.clear();
  cvOldest = cvNewest = cvThisTop = cvTreeOldest = 0;
  SI::disk = STOCKFILEHEADER();
  SI::fNeedRebuild = SI::fDefsDirty = SI::fWriteFailReported = false;
}
