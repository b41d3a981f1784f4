// quillnet-tool stock: create, inspect, export and append to stock files.
//
//   stock create FILE [--lines N] [--columns C] [--force]
//   stock info FILE          the header's fields, one "name: value" per line
//   stock export FILE [--utf8]
//   stock append FILE [--progress]
//
// Everything goes through STOCK and the line cursor, exactly as the terminal
// reads and writes the archive.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/jcode.h"
#include "stock/stock.h"
#include "tools/tool_complain.h"

extern const char* const kStockUsage;
const char* const kStockUsage =
    "usage: quillnet-tool stock create FILE [--lines N] [--columns C] [--force]\n"
    "       quillnet-tool stock info FILE\n"
    "       quillnet-tool stock export FILE [--utf8]\n"
    "       quillnet-tool stock append FILE [--progress]\n"
    "       quillnet-tool stock retag FILE [TAGFILE] [--progress]\n"
    "       quillnet-tool stock tags FILE\n"
    "       quillnet-tool stock tree FILE [--style 0|1|2] [--days N] [--calls N] [--all] [--lines]\n"
    "       quillnet-tool stock backup FILE [--format 0|1|2] [--until YYYY-MM | --lines N]\n"
    "                     [--dir DIR] [--name NAME] [--delete] [--force]\n"
    "       quillnet-tool stock backup FILE --check [--today YYYY-MM-DD]\n"
    "       quillnet-tool stock restore BACKUP [--to FILE]\n"
    "       quillnet-tool stock copy FILE LINE|root [--quote] [--info INFO]\n"
    "       quillnet-tool stock paste FILE [--info INFO]\n"
    "       quillnet-tool stock delete FILE LINE|root|past [--before] [--days N] [--calls N]\n"
    "\n"
    "  create   make a new empty stock of N lines (default 10000, at least 100,\n"
    "           a multiple of 100) and C columns (default 80, 40 to 250); an\n"
    "           existing FILE is refused unless --force replaces it\n"
    "  info     print the header's fields\n"
    "  export   print the logical lines, oldest first, wrapped lines joined;\n"
    "           Shift_JIS unless --utf8\n"
    "  append   store each line of standard input (Shift_JIS) as one line,\n"
    "           wrapping at the stock's width as the terminal does; with\n"
    "           --progress print \"saved N\" whenever the first N lines are on disk\n"
    "  retag    re-tag every line with the colour syntax (TAGFILE, made\n"
    "           absolute, becomes the stock's syntax file first); --progress\n"
    "           prints \"retag D/N\" every 200 lines; exit 0 only when complete\n"
    "  tags     print per logical line: first line, tag, mark, text, and for a\n"
    "           rule's line its title and message number/parent/date\n"
    "  tree     print the overall tree (per call, day or week; N calendar days,\n"
    "           at least N calls or groups; --all with the older calls), two\n"
    "           blanks per depth; --lines adds each item's first and last line\n"
    "  backup   write the oldest lines (up to the end of month --until, or N\n"
    "           --lines; default half way to this month) to DIR/NAME.stk (format\n"
    "           0), NAME.txt + NAME.sti (1, default) or NAME.txt (2); --delete\n"
    "           then removes them from the stock; existing files need --force.\n"
    "           --check prints \"reason N\" and the offer's heading\n"
    "  restore  make a stock from a .stk or .txt (+ .sti) backup, in the data\n"
    "           directory under the backup's name unless --to; prints its path\n"
    "  create   also takes --backup-months M, --backup-lines N (backup mode)\n"
    "           and --daily (cleared daily); both modes hold 10000000 lines\n"
    "  copy     print the tree node beginning at LINE (0 = the oldest) as the\n"
    "           clipboard gets it (UTF-8, LF); its info bytes to INFO\n"
    "  paste    paste standard input (UTF-8) as a new call, INFO as its info\n"
    "           bytes (a copied call goes back to its place by date)\n"
    "  delete   remove the node at LINE, the contents (root) or the calls\n"
    "           before the shown window (past); --before: all before LINE\n"
    "\n";

namespace {

// A complaint about the arguments: one line and where to look (status 2).
int StockUsage(const std::string& complaint) {
  return Complain("stock", complaint);
}

bool ParseCount(const std::string& s, unsigned long max, unsigned long* out) {
  if (s.empty() || s.size() > 9) return false;
  unsigned long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + unsigned(c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

bool WriteOut(const std::string& s) { return WriteAll(1, s.data(), s.size()); }

int Create(const std::vector<std::string>& args) {
  std::string file;
  unsigned long lines = 10000, columns = 80;
  bool force = false, daily = false, backupMode = false;
  unsigned long backupMonths = 0, backupLines = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--force") {
      force = true;
    } else if (args[i] == "--daily") {
      daily = true;
    } else if (args[i] == "--backup-months" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], 65535, &backupMonths)) return StockUsage("--backup-months needs 0 to 65535");
      backupMode = true;
    } else if (args[i] == "--backup-lines" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], STOCK_MAX_LINES, &backupLines)) return StockUsage("--backup-lines needs 0 to 10000000");
      backupMode = true;
    } else if (args[i] == "--lines" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], STOCK_MAX_LINES, &lines)) return StockUsage("--lines needs 0 to 10000000");
    } else if (args[i] == "--columns" && i + 1 < args.size()) {
      if (!ParseCount(args[++i], STOCK_MAX_COLUMN, &columns) || columns < STOCK_MIN_COLUMN)
        return StockUsage("--columns needs 40 to 250");
    } else if (file.empty() && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else {
      return StockUsage("unexpected argument " + args[i]);
    }
  }
  if (file.empty()) return StockUsage("create needs a FILE");
  // A stock is an archive: replacing one by accident would lose it.
  struct stat st {};
  if (!force && lstat(file.c_str(), &st) == 0) {
    std::fprintf(stderr, "quillnet-tool: %s already exists; use --force to replace it\n", file.c_str());
    return 2;
  }
  if (daily && backupMode) return StockUsage("--daily excludes --backup-months and --backup-lines");
  // Backup and daily-clear stocks never overwrite old lines.
  if (daily || backupMode) lines = STOCK_MAX_LINES;
  if (!STOCK::Create(file, lines, int(columns), uint16_t(backupMonths), backupLines, daily ? 1 : 0)) return 1;
  STOCK::Close();
  return 0;
}

int Info(const std::string& file) {
  if (!STOCK::Open(file)) return 1;
  // The fields as they are on disk, after the open has checked them.
  unsigned char raw[STOCK_HEADER_SIZE];
  STOCKFILEHEADER h;
  if (pread(STOCK::hfile, raw, sizeof raw, 0) != ssize_t(sizeof raw)) return 1;
  ReadStockHeader(raw, h);
  std::string out;
  auto line = [&](const char* name, long long v) { out += std::string(name) + ": " + std::to_string(v) + "\n"; };
  auto ft = [&](const char* name, FILETIME t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s: %08x%08x\n", name, t.dwHighDateTime, t.dwLowDateTime);
    out += buf;
  };
  out += std::string("szMagic: ") + std::string(h.szMagic, strnlen(h.szMagic, sizeof h.szMagic)) + "\n";
  line("fOnlineFlag", h.fOnlineFlag);
  line("cItemMaxMax", h.cItemMaxMax);
  line("dwVersion", h.dwVersion);
  line("fClearDaily", h.fClearDaily);
  line("cItemUsed", h.cItemUsed);
  line("iOldest", h.iOldest);
  line("iNewest", h.iNewest);
  line("cItemMax", h.cItemMax);
  line("iScrollableTop", h.iScrollableTop);
  line("posSaved.item", h.posSaved.item);
  line("posSaved.level", h.posSaved.level);
  line("cMark", h.cMark);
  for (int i = 0; i < h.cMark && i < STOCK_MAX_MARK; ++i) {
    line(("aMark[" + std::to_string(i) + "].item").c_str(), h.aMark[i].item);
    line(("aMark[" + std::to_string(i) + "].level").c_str(), h.aMark[i].level);
  }
  line("cColumn", h.cColumn);
  line("cIndexProp", h.cIndexProp);
  line("cSearchProp", h.cSearchProp);
  out += "szTagFile: " + h.TagFile() + "\n";
  ft("ftTagFile", h.ftTagFile);
  line("cBackupMonths", h.cBackupMonths);
  line("cBackupLines", h.cBackupLines);
  ft("ftOldestCall", h.ftOldestCall);
  line("usedItems", STOCK::UsedItems());
  STOCK::ResetForTest();  // read only: nothing to save
  return WriteOut(out) ? 0 : 1;
}

int Export(const std::vector<std::string>& args) {
  std::string file;
  bool utf8 = false;
  for (auto& a : args) {
    if (a == "--utf8")
      utf8 = true;
    else if (file.empty() && a.rfind("--", 0) != 0)
      file = a;
    else
      return StockUsage("unexpected argument " + a);
  }
  if (file.empty()) return StockUsage("export needs a FILE");
  if (!STOCK::Open(file)) return 1;
  // Output collects in a buffer of its own, written a megabyte at a time;
  // a plain line is one copy and a line feed, with no size checks between.
  constexpr size_t kOut = size_t(1) << 20;
  std::string out(kOut + size_t(STOCK_MAX_COLUMN) + 2, '\0'), logical;
  size_t used = 0;
  const auto flush = [&] {
    const bool written = WriteAll(1, out.data(), used);
    used = 0;
    return written;
  };
  const auto put = [&](const std::string& piece) {
    if (used + piece.size() + 1 > out.size()) out.resize(used + piece.size() + 1);
    std::memcpy(out.data() + used, piece.data(), piece.size());
    used += piece.size();
    out[used++] = '\n';
  };
  const int column = STOCK::cColumn;
  const size_t sz = size_t(STOCK::sizeSTOCKITEM);
  // Lines are taken in large runs, in ring order, where they lie (the
  // file's pages or the communication buffer), without a copy into a block.
  bool ok = true;
  const int total = STOCK::UsedItems();
  int slot = cvOldest;
  for (int done = 0; ok && done < total;) {
    int n = 0;
    const unsigned char* lines = STOCK::ViewLines(slot, total - done, &n);
    if (!lines || n <= 0) {
      ok = false;
      break;
    }
    for (int k = 0; k < n; ++k) {
      const char* text = reinterpret_cast<const char*>(lines + size_t(k) * sz + 1);
      const int len = StockTextLength(text, column);
      const bool cr = static_cast<unsigned char>(text[column - 1]) < 0x20;
      // The newest line is the one being written: it counts once it has text.
      const bool last = done + k + 1 == total;
      if (!utf8 && logical.empty() && cr && !last) {
        std::memcpy(out.data() + used, text, size_t(len));  // room: kOut + a line is kept free
        used += size_t(len);
        out[used++] = '\n';
      } else {
        logical.append(text, size_t(len));
        if (last ? !logical.empty() : cr) {
          put(utf8 ? jcode::SjisToUtf8(logical) : logical);
          logical.clear();
        }
      }
      if (used >= kOut) {
        ok = flush();
        if (!ok) break;
      }
    }
    done += n;
    if (done < total) slot = STOCK::AddIndex(slot, n);
  }
  if (ok) ok = flush();
  STOCK::ResetForTest();
  return ok ? 0 : 1;
}

// Writes standard input into the stock through the line cursor.
class Appender {
 public:
  void Start() {
    cv_ = cvNewest;
    if (cv_.Length() > 0) cv_.LineFeed();
    Refresh();
  }
  void Byte(unsigned char c) {
    if (c == '\n') {
      cr_ = false;
      cv_.LineFeed();
      Refresh();
      ++ended_;
      return;
    }
    if (cr_) {  // a CR not followed by LF is dropped
      cr_ = false;
    }
    if (c == '\r') {
      cr_ = true;
      return;
    }
    if (c == '\t') {
      do Put(' ');
      while (x_ % 8 != 0);
      return;
    }
    Put(c < 0x20 ? ' ' : c);
  }
  void Finish() {
    if (x_ > 0 || trail_) {
      cv_.LineFeed();
      ++ended_;
    }
    trail_ = false;
    x_ = 0;
  }
  long long Ended() const { return ended_; }
  // A save moves the lines kept in the communication buffer: the current
  // line's address has to be taken again afterwards.
  void Reacquire() { text_ = STOCK::GetItem(cv_)->Text(); }

 private:
  void Refresh() {
    text_ = STOCK::GetItem(cv_)->Text();
    x_ = 0;
    trail_ = false;
  }
  void Wrap() {
    cv_.LineFeed();
    text_ = STOCK::GetItem(cv_)->Text();
    x_ = 0;
  }
  void Put(unsigned char c) {
    const int column = STOCK::cColumn;
    const bool lead = !trail_ && jcode::IsKanji1(c);
    if (lead && x_ == column - 1) {
      // A double-byte character does not fit in the last cell: the cell
      // shows 0x7F and the character starts the next line.
      text_[x_] = 0x7F;
      Wrap();
    }
    text_[x_++] = char(c);
    trail_ = lead;
    if (x_ == column) Wrap();
  }

  CODEVRAM cv_;
  char* text_ = nullptr;
  int x_ = 0;
  bool trail_ = false, cr_ = false;
  long long ended_ = 0;
};

int Append(const std::vector<std::string>& args) {
  std::string file;
  bool progress = false;
  for (auto& a : args) {
    if (a == "--progress")
      progress = true;
    else if (file.empty() && a.rfind("--", 0) != 0)
      file = a;
    else
      return StockUsage("unexpected argument " + a);
  }
  if (file.empty()) return StockUsage("append needs a FILE");
  if (!STOCK::Open(file)) return 1;
  if (!STOCK::EnableWrite(1, 1)) {
    STOCK::ResetForTest();
    return 1;
  }
  STOCK::cLineFrame = 1;
  Appender ap;
  ap.Start();
  long long reported = 0;
  // Whenever the input pauses, the finished lines go to disk, as the
  // terminal saves its buffer on idle passes.
  auto save = [&] {
    STOCK::SaveComm(0);
    ap.Reacquire();
    if (progress && STOCK::cItemComm <= 1 && ap.Ended() > reported) {
      reported = ap.Ended();
      std::string msg = "saved " + std::to_string(reported) + "\n";
      WriteOut(msg);
    }
  };
  std::vector<unsigned char> buf(1 << 16);
  int status = 0;
  for (;;) {
    pollfd p{0, POLLIN, 0};
    if (poll(&p, 1, 0) == 0) save();
    ssize_t r = read(0, buf.data(), buf.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      status = 1;
      break;
    }
    if (r == 0) break;
    for (ssize_t i = 0; i < r; ++i) ap.Byte(buf[size_t(i)]);
  }
  ap.Finish();
  STOCK::Save();
  const bool saved = STOCK::cItemComm <= 1;
  if (progress && saved && ap.Ended() > reported) WriteOut("saved " + std::to_string(ap.Ended()) + "\n");
  STOCK::Close();
  return saved ? status : 1;
}

}  // namespace

// tools/tool_retag.cpp
int RetagStock(const std::vector<std::string>& args);
int TagsOfStock(const std::vector<std::string>& args);
// tools/tool_tree.cpp
int TreeOfStock(const std::vector<std::string>& args);
int CopyOfStock(const std::vector<std::string>& args);
int PasteIntoStock(const std::vector<std::string>& args);
int DeleteFromStock(const std::vector<std::string>& args);
// tools/tool_backup.cpp
int BackupStockCommand(const std::vector<std::string>& args);
int RestoreStockCommand(const std::vector<std::string>& args);

int StockCommand(const std::vector<std::string>& args) {
  if (args.empty()) return StockUsage("no stock command given");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  const std::string& cmd = args[0];
  if (cmd == "create") return Create(rest);
  if (cmd == "info") {
    if (rest.size() != 1) return StockUsage("info needs one FILE");
    return Info(rest[0]);
  }
  if (cmd == "export") return Export(rest);
  if (cmd == "append") return Append(rest);
  if (cmd == "retag") return RetagStock(rest);
  if (cmd == "tags") return TagsOfStock(rest);
  if (cmd == "tree") return TreeOfStock(rest);
  if (cmd == "copy") return CopyOfStock(rest);
  if (cmd == "paste") return PasteIntoStock(rest);
  if (cmd == "delete") return DeleteFromStock(rest);
  if (cmd == "backup") return BackupStockCommand(rest);
  if (cmd == "restore") return RestoreStockCommand(rest);
  return StockUsage("unknown stock command: " + cmd);
}
