#include "shell/stock_wizard.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/usermessage.h"
#include "shell/config.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "stock/stockheader.h"

namespace {

constexpr int kUnitLines = 10000;

}  // namespace

std::string StockWizardPath(const std::string& entered) {
  std::filesystem::path p(entered);
  if (!p.has_extension()) p += ".stk";
  return p.string();
}

std::optional<STOCKCREATEARGS> StockCreateArgs(const STOCKWIZARDDATA& d) {
  STOCKCREATEARGS a;
  a.path = StockWizardPath(d.path);
  a.columns = std::clamp(d.columns, 40, 250);
  switch (d.mode) {
    case STOCKMODE::Ring: {
      const std::optional<int> lines = ParseMaxLinesEntry(d.linesEntry);
      if (!lines) return std::nullopt;
      a.lines = (unsigned long)(*lines);
      break;
    }
    case STOCKMODE::Backup:
      a.lines = STOCK_MAX_LINES;
      a.backupMonths = d.backupMonthsOn ? uint16_t(std::clamp(d.backupMonths, 2, 24)) : 0;
      a.backupLines = d.backupLinesOn ? (unsigned long)(std::clamp(d.backupLinesUnits, 1, 400)) * kUnitLines : 0;
      break;
    case STOCKMODE::Daily:
      a.lines = STOCK_MAX_LINES;
      a.daily = 1;
      break;
  }
  return a;
}

std::string StockSizeText(int columns, long lines) {
  const long long kb = (long long)(std::clamp(columns, 40, 250) + 2) * lines / 1024;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f MB", double(kb) / 1024.0);
  return buf;
}

int CreateStockFromWizard(const STOCKWIZARDDATA& d) {
  const std::optional<STOCKCREATEARGS> args = StockCreateArgs(d);
  if (!args || d.path.empty()) return -1;
  // The call writes into the open stock: it stays until the call ends.
  if (fOnline) {
    ErrorMessage("オンライン中はこの処理はできません。");
    return -1;
  }
  struct stat st {};
  if (stat(args->path.c_str(), &st) == 0) {
    if (STOCK::IsOtherQuillnetSharing(args->path)) {
      ErrorMessage(args->path + "は他のQuillnetが使用中です。");
      return -1;
    }
    if (MyMessageBox(args->path + "は既に存在しています。上書きしてもいいですか？",
                     ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) != ui::IDYES)
      return -1;
  }
  const std::string previous = STOCK::fValid && !STOCK::fTemp ? STOCK::szFileName : STOCK::StockFile;
  STOCK::Close();
  if (!previous.empty()) STOCK::StockFile2 = previous;
  if (!STOCK::Create(args->path, args->lines, args->columns, args->backupMonths, args->backupLines, args->daily)) {
    OpenAnyStockFile();
    StockNamesToSettings();
    return 0;
  }
  STOCK::StockFile = args->path;
  bool syntax = false;
  if (!d.syntaxFile.empty() && STOCK::fileheader.SetTagFile(d.syntaxFile)) {
    syntax = STOCK::hooks.openSyntax ? STOCK::hooks.openSyntax(d.syntaxFile) : false;
    if (syntax) {
      FILETIME ft;
      if (STOCK::GetTagFileTimestamp(&ft)) STOCK::fileheader.ftTagFile = ft;
    }
  }
  if (!syntax) {
    STOCK::fileheader.SetTagFile("");
    if (STOCK::hooks.emptySyntax) STOCK::hooks.emptySyntax();
  }
  STOCK::Save();
  StockNamesToSettings();
  return 1;
}
