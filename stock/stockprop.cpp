// The stock property dialog's logic: see stockprop.h.
#include "stock/stockprop.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include <unistd.h>

#include "platform/usermessage.h"

const char kStockModeRing[] = "最大行数を固定して古い方から上書きしていくモード(&F)";
const char kStockModeBackup[] = "定期的に古い分をバックアップするモード(&B)";
const char kStockModeDaily[] = "毎日中身をクリアするモード(&E)";
const char kNoSyntaxFile[] = "(カラー構文なし)";

STOCKPROPHOOKS stockPropHooks;
int (*pfnStockOnline)() = nullptr;

namespace {

const char kTemporary[] = "現在のストックファイルは一時的な物です。";
const char kBackupClears[] =
    "このストックファイルを定期バックアップモードに変更すると現在の内容が消去されます。かまいませんか？";
const char kNameTooLong[] = "はファイル名が長すぎるので使えません。";

// Ring mode holds at most this many lines; the other modes never overwrite
// and take the largest maximum.
constexpr int kRingMaxLines = 5000000;
constexpr int kUnitLines = 10000;
constexpr int kDefaultBackupUnits = 100;
constexpr int kDefaultBackupMonths = 6;

STOCKMODE CurrentMode() {
  if (STOCK::cItemMaxMax <= kRingMaxLines) return STOCKMODE::Ring;
  return STOCK::fileheader.fClearDaily ? STOCKMODE::Daily : STOCKMODE::Backup;
}

SYSTEMTIME Today() {
  if (STOCK::hooks.now) return STOCK::hooks.now();
  time_t t = time(nullptr);
  struct tm tmv {};
  localtime_r(&t, &tmv);
  SYSTEMTIME now;
  now.wYear = tmv.tm_year + 1900;
  now.wMonth = tmv.tm_mon + 1;
  now.wDay = tmv.tm_mday;
  now.wHour = tmv.tm_hour;
  now.wMinute = tmv.tm_min;
  return now;
}

// Whole days from the date of a to the date of b (times of day ignored).
int64_t DaysBetween(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  auto day = [](SYSTEMTIME t) {
    t.wHour = t.wMinute = t.wSecond = t.wMilliseconds = 0;
    return int64_t(SystemTimeToFileTime(t).Value() / (86400ULL * 10000000ULL));
  };
  return day(b) - day(a);
}

std::string FormatDateTime(const SYSTEMTIME& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
  return buf;
}

// A connect line without a readable date gives the year 2100.
bool IsDated(const SYSTEMTIME& t) { return t.wYear != 2100 && t.wMonth >= 1; }

}  // namespace

// ---------------------------------------------------------------------------
// The maximum-lines entry

std::optional<int> ParseMaxLinesEntry(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  const std::string t = text.substr(b, e - b);
  const size_t dot = t.find('.');
  const std::string whole = t.substr(0, dot);
  const std::string frac = dot == std::string::npos ? std::string() : t.substr(dot + 1);
  auto digits = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((whole.empty() && frac.empty()) || !digits(whole) || !digits(frac)) return std::nullopt;
  const std::string units = whole.substr(std::min(whole.find_first_not_of('0'), whole.size()));
  if (units.empty()) {
    // "0" and "0.0" mean 0.1; "0.x" means x thousand lines.
    const int x = frac.empty() ? 0 : frac[0] - '0';
    return std::max(1, x) * 1000;
  }
  if (units.size() > 3) return kRingMaxLines;  // anything above 500 units
  return std::clamp(std::stoi(units), 1, kRingMaxLines / kUnitLines) * kUnitLines;
}

std::string FormatMaxLinesEntry(int lines) {
  if (lines < kUnitLines) return "0." + std::to_string(std::clamp(lines / 1000, 1, 9));
  return std::to_string(lines / kUnitLines);
}

// ---------------------------------------------------------------------------
// Tags and statistics

void ClearLowLevelStockTags() {
  if (!STOCK::fValid) return;
  for (CODEVRAM cv = cvOldest; !cv.IsNewest(); ++cv) {
    unsigned char& t = STOCK::aTag[size_t(cv.i)];
    if (t != TAG_CONNECT) t = TAG_NONE;
  }
}

STOCKSTATS ComputeStockStats(const SYSTEMTIME& now) {
  STOCKSTATS s;
  if (!STOCK::fValid) return s;
  const int single = STOCK::fSingleCacheMode, down = STOCK::fDownOnlyCacheMode;
  STOCK::SetCacheMode(STOCKCACHE_SINGLE);
  const int used = STOCK::UsedItems();
  int firstFlat = -1;
  for (int f = 0; f < used; ++f) {
    const int slot = STOCK::AddIndex(cvOldest, f);
    if (STOCK::aTag[size_t(slot)] != TAG_CONNECT) continue;
    ++s.calls;
    if (firstFlat < 0) firstFlat = f;
    const SYSTEMTIME t = GetDateTimeFromStock(slot);
    if (!IsDated(t)) continue;
    if (!s.haveDates) s.firstCall = t;
    s.lastCall = t;
    s.haveDates = true;
  }
  STOCK::fSingleCacheMode = single;
  STOCK::fDownOnlyCacheMode = down;
  if (s.calls == 0) return s;
  s.callLines = used - firstFlat;
  s.linesPerCall = double(s.callLines) / s.calls;
  if (!s.haveDates) return s;
  s.daysHeld = int(std::max<int64_t>(1, DaysBetween(s.firstCall, now) + 1));
  s.callsPerDay = double(s.calls) / s.daysHeld;
  s.linesPerDay = double(s.callLines) / s.daysHeld;
  int limit = 0;
  switch (CurrentMode()) {
    case STOCKMODE::Ring: limit = STOCK::cItemMaxMax; break;
    case STOCKMODE::Backup: limit = int(STOCK::fileheader.cBackupLines); break;
    case STOCKMODE::Daily: break;
  }
  if (limit > 0 && s.linesPerDay > 0) {
    s.daysUntilLimit = int(std::max(0, limit - used) / s.linesPerDay);
    s.daysInLimit = int(limit / s.linesPerDay);
  }
  return s;
}

namespace {

// 1234567 -> "1,234,567".
std::string Grouped(int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string OneDecimal(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

}  // namespace

std::vector<STOCKPROPROW> StockPropSummary(const STOCKPROPDATA& d) {
  const STOCKSTATS& s = d.stats;
  const std::string none = "-";
  std::vector<STOCKPROPROW> rows = {
      {"ファイル", d.fileName},
      {"桁数", std::to_string(d.column) + "桁"},
      {"使用行数", Grouped(d.usedLines) + "行 / " + Grouped(d.maxLines) + "行 (" + std::to_string(d.percentUsed) + "%)"},
      {"カラー構文", d.syntaxFile.empty() ? std::string(kNoSyntaxFile) : d.syntaxFile},
      {"最も古い通信", d.oldestCall.empty() ? std::string("不明") : d.oldestCall},
      {"通信回数", Grouped(s.calls) + "回"},
      {"保存期間", s.haveDates ? Grouped(s.daysHeld) + "日" : none},
      {"1回の通信の平均行数", s.calls ? OneDecimal(s.linesPerCall) + "行" : none},
      {"1日の平均通信回数", s.haveDates ? OneDecimal(s.callsPerDay) + "回" : none},
      {"1日の平均行数", s.haveDates ? OneDecimal(s.linesPerDay) + "行" : none},
  };
  auto days = [&](int n) { return n < 0 ? none : "約" + Grouped(n) + "日"; };
  if (d.maxLines <= kRingMaxLines) {
    rows.push_back({"上書きが始まるまで", days(s.daysUntilLimit)});
    rows.push_back({"最大行数で保存できる期間", days(s.daysInLimit)});
  } else if (s.daysInLimit >= 0) {
    rows.push_back({"バックアップの行数に達するまで", days(s.daysUntilLimit)});
  }
  return rows;
}

// ---------------------------------------------------------------------------
// The dialog

void STOCK::InitStockPropDlg(STOCKPROPDATA* d) {
  *d = STOCKPROPDATA();
  if (!fValid) return;
  const STOCKFILEHEADER& h = fileheader;
  d->fileName = szFileName;
  d->column = cColumn;
  d->usedLines = UsedItems();
  d->maxLines = cItemMaxMax;
  d->percentUsed = cItemMaxMax > 0 ? int(int64_t(d->usedLines) * 100 / cItemMaxMax) : 0;
  d->stats = ComputeStockStats(Today());
  // The header's date is the one the backup check goes by; a stock that has
  // not recorded one shows its oldest dated connect line.
  if (h.ftOldestCall.dwHighDateTime != 0)
    d->oldestCall = FormatDateTime(FileTimeToSystemTime(h.ftOldestCall));
  else if (d->stats.haveDates)
    d->oldestCall = FormatDateTime(d->stats.firstCall);

  d->mode = CurrentMode();
  d->maxLinesEntry = FormatMaxLinesEntry(d->mode == STOCKMODE::Ring ? cItemMaxMax : kDefaultBackupUnits * kUnitLines);
  d->maxLinesEntryShown = d->maxLinesEntry;
  d->backupMonthsOn = h.cBackupMonths != 0;
  d->backupMonths = h.cBackupMonths ? h.cBackupMonths : kDefaultBackupMonths;
  d->backupLinesOn = h.cBackupLines != 0;
  d->backupLinesUnits = h.cBackupLines ? int(std::max<uint32_t>(1, h.cBackupLines / kUnitLines)) : kDefaultBackupUnits;
  const std::string tag = h.TagFile();
  d->syntaxFile = tag.empty() ? kNoSyntaxFile : tag;
}

namespace {
bool Online() { return pfnStockOnline && pfnStockOnline(); }
}  // namespace

int STOCK::StockPropDlgOK(const STOCKPROPDATA& d) {
  if (Online() || !fValid || fTemp) return 0;
  if (!EnableWrite(1, 1)) return 0;
  STOCKFILEHEADER& h = fileheader;
  bool changed = false;
  bool cancelled = false;

  switch (d.mode) {
    case STOCKMODE::Ring: {
      // An unchanged entry keeps the maximum, even one it cannot express.
      std::optional<int> entered = ParseMaxLinesEntry(d.maxLinesEntry);
      int want = cItemMaxMax;
      if (CurrentMode() != STOCKMODE::Ring || d.maxLinesEntry != d.maxLinesEntryShown)
        want = entered ? *entered : std::min(cItemMaxMax, kRingMaxLines);
      if (want != cItemMaxMax) {
        // The oldest lines beyond the new maximum go first.
        if (UsedItems() > want) Delete(cvOldest, UsedItems() - want);
        Resize(want);
        changed = true;
      }
      if (h.fClearDaily) {
        h.fClearDaily = 0;
        changed = true;
      }
      break;
    }
    case STOCKMODE::Backup:
    case STOCKMODE::Daily: {
      const bool backup = d.mode == STOCKMODE::Backup;
      if (backup && CurrentMode() != STOCKMODE::Backup && cvOldest > cvNewest) {
        // A ring that has wrapped cannot simply stop overwriting.
        if (MyMessageBox(kBackupClears, ui::MB_YESNO | ui::MB_ICONQUESTION) != ui::IDYES) {
          cancelled = true;
          break;
        }
        Delete(cvOldest, UsedItems());
        changed = true;
      }
      if (cItemMaxMax != STOCK_MAX_LINES) {
        // Resizing lays the lines out again from slot 0 (oldest becomes 0).
        Resize(STOCK_MAX_LINES);
        changed = true;
      }
      const uint16_t months = backup && d.backupMonthsOn ? uint16_t(std::clamp(d.backupMonths, 2, 24)) : 0;
      const uint32_t lines =
          backup && d.backupLinesOn ? uint32_t(std::clamp(d.backupLinesUnits, 1, 400)) * kUnitLines : 0;
      const uint16_t daily = backup ? 0 : 1;
      if (h.cBackupMonths != months || h.cBackupLines != lines || h.fClearDaily != daily) changed = true;
      h.cBackupMonths = months;
      h.cBackupLines = lines;
      h.fClearDaily = daily;
      break;
    }
  }

  if (!cancelled) {
    const std::string want = d.syntaxFile == kNoSyntaxFile ? std::string() : d.syntaxFile;
    if (want != h.TagFile()) {
      if (!h.SetTagFile(want)) {
        ErrorMessage(want + kNameTooLong);
      } else {
        const bool opened =
            !want.empty() && (hooks.openSyntax ? hooks.openSyntax(want) : access(want.c_str(), R_OK) == 0);
        if (!opened && hooks.emptySyntax) hooks.emptySyntax();
        if (stockPropHooks.clearLowLevelTags)
          stockPropHooks.clearLowLevelTags();
        else
          ClearLowLevelStockTags();
        FILETIME ft;
        h.ftTagFile = GetTagFileTimestamp(&ft) ? ft : FILETIME{};
        // An unfinished re-tagging is marked so that the next opening
        // re-tags again.
        if (hooks.retag && !hooks.retag(1)) h.ftTagFile.dwHighDateTime = 0xFFFFFFFFu;
        changed = true;
      }
    }
  }

  if (changed) {
    iViewTop = AddIndex(cvNewest, 1 - std::max(1, cLineFrame));
    h.posSaved.item = iViewTop;
    if (stockPropHooks.rebuildTree) stockPropHooks.rebuildTree();
  }
  Save();
  EnableWrite(0, 0);
  return cancelled ? 0 : 1;
}

int STOCK::PropertyDialog() {
  if (!fValid || Online()) return 0;
  if (fTemp) {
    MyMessageBox(kTemporary, ui::MB_OK | ui::MB_ICONINFORMATION);
    return 0;
  }
  STOCKPROPDATA data;
  InitStockPropDlg(&data);
  const int r = ui::Current().RunModal(
      [&data] { return stockPropHooks.window ? stockPropHooks.window(data) : int(ui::IDCANCEL); });
  if (r != ui::IDOK) return 0;
  return StockPropDlgOK(data);
}
