// quillnet-tool stock backup / restore: the stock's backups without dialogs.
//
//   stock backup STOCK [--format 0|1|2] [--until YYYY-MM | --lines N] [--dir DIR]
//                      [--name NAME] [--delete] [--force]
//   stock backup STOCK --check [--today YYYY-MM-DD]
//   stock restore BACKUP [--to STOCK]
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "stock/backup.h"
#include "stock/stock.h"
#include "tools/tool_complain.h"

namespace {

int Usage(const std::string& complaint) { return Complain("stock", complaint); }

bool ParseNumber(const std::string& s, size_t digits, int* out) {
  if (s.size() != digits && digits != 0) return false;
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

// "YYYY-MM" or "YYYY-MM-DD".
bool ParseDate(const std::string& s, bool withDay, SYSTEMTIME* st) {
  const size_t want = withDay ? 10 : 7;
  if (s.size() != want || s[4] != '-' || (withDay && s[7] != '-')) return false;
  if (!ParseNumber(s.substr(0, 4), 4, &st->wYear) || !ParseNumber(s.substr(5, 2), 2, &st->wMonth)) return false;
  if (st->wMonth < 1 || st->wMonth > 12) return false;
  if (withDay && (!ParseNumber(s.substr(8, 2), 2, &st->wDay) || st->wDay < 1 || st->wDay > 31)) return false;
  return true;
}

void Say(const std::string& text) { std::fputs(text.c_str(), stdout); }

}  // namespace

int BackupStockCommand(const std::vector<std::string>& args) {
  std::string file, dir, name;
  int format = 1, lines = -1, until = -1;
  bool check = false, del = false, force = false;
  SYSTEMTIME today{};
  bool haveToday = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool more = i + 1 < args.size();
    if (a == "--check") {
      check = true;
    } else if (a == "--delete") {
      del = true;
    } else if (a == "--force") {
      force = true;
    } else if (a == "--format" && more) {
      if (!ParseNumber(args[++i], 1, &format) || format > 2) return Usage("--format needs 0, 1 or 2");
    } else if (a == "--lines" && more) {
      if (!ParseNumber(args[++i], 0, &lines)) return Usage("--lines needs a number");
    } else if (a == "--until" && more) {
      SYSTEMTIME st;
      if (!ParseDate(args[++i], false, &st)) return Usage("--until needs YYYY-MM");
      until = st.wYear * 12 + st.wMonth - 1;
    } else if (a == "--today" && more) {
      if (!ParseDate(args[++i], true, &today)) return Usage("--today needs YYYY-MM-DD");
      haveToday = true;
    } else if (a == "--dir" && more) {
      dir = args[++i];
    } else if (a == "--name" && more) {
      name = args[++i];
    } else if (file.empty() && a.rfind("--", 0) != 0) {
      file = a;
    } else {
      return Usage("unexpected argument " + a);
    }
  }
  if (file.empty()) return Usage("backup needs a STOCK");
  if (name.find('/') != std::string::npos) return Usage("--name is a file name without a directory");
  if (lines >= 0 && until >= 0) return Usage("--until and --lines exclude each other");
  if (!dir.empty()) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "quillnet-tool: %s: %s\n", dir.c_str(),
                   "バックアップ用に指定されたディレクトリが存在しません。");
      return 1;
    }
  }
  if (!STOCK::Open(file)) return 1;
  if (!haveToday) today = BackupToday();
  if (check) {
    const BACKUPCHECK c = CheckBackup(today);
    Say("reason " + std::to_string(c.reason) + "\n");
    if (c.reason) Say(jcode::SjisToUtf8(c.heading) + "\n");
    STOCK::ResetForTest();
    return 0;
  }
  int n = lines;
  if (n < 0) {
    if (until < 0) {
      // The dialog's slider starts halfway between the oldest and this month.
      const BACKUPCHECK c = CheckBackup(today);
      const int oldest = c.oldestMonth ? c.oldestMonth : c.currentMonth;
      until = oldest + (today.wYear * 12 + today.wMonth - 1 - oldest) / 2;
    }
    n = BackupLinesUntilMonth(until);
  }
  BACKUPREQUEST req;
  req.format = format;
  req.dir = dir.empty() ? "." : dir;
  req.name = name.empty() ? jcode::SjisToUtf8(ProposedBackupName()) : name;
  req.lines = n;
  req.replace = force;
  req.deleteAfter = del;
  std::string err;
  int written = 0;
  const int ok = Backup(req, &err, &written);
  if (!ok) {
    std::fprintf(stderr, "quillnet-tool: %s\n", jcode::SjisToUtf8(err).c_str());
    STOCK::ResetForTest();
    return 1;
  }
  Say("lines " + std::to_string(written) + "\n");
  if (del) {
    STOCK::Close();
  } else {
    STOCK::ResetForTest();
  }
  return 0;
}

int RestoreStockCommand(const std::vector<std::string>& args) {
  std::string backup, to;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--to" && i + 1 < args.size())
      to = args[++i];
    else if (backup.empty() && args[i].rfind("--", 0) != 0)
      backup = args[i];
    else
      return Usage("unexpected argument " + args[i]);
  }
  if (backup.empty()) return Usage("restore needs a BACKUP");
  std::string err, out;
  if (!RestoreStock(backup, to, &err, &out)) {
    std::fprintf(stderr, "quillnet-tool: %s\n", jcode::SjisToUtf8(err).c_str());
    return 1;
  }
  Say(out + "\n");
  return 0;
}
