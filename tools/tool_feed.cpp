// quillnet-tool feed: standard input through the terminal's receive path.
//
//   feed STOCK [--log FILE] [--log-type N] [--kanji-code N] [--columns C]
//              [--rows R] [--lines N] [--remove-ctrls] [--screen]
//              [--tag FILE.tag] [--connect TITLE [--date "YYYY/MM/DD HH:MM"]]
//              [--no-color-online]
//
// With --connect the input is one call as the dialler makes it: the connect
// line "TITLE - date" first (tag 3, mark 0xFE), the lines matched with the
// colour syntax as they arrive (or all at the end with --no-color-online),
// and the matching ended at the end of the input.
// Standard input is lent to COMPORT as a line, and the receive dispatcher
// runs its passes over it exactly as it does on a call: the host's code is
// converted, every byte goes to the log, the control-code filter and the
// screen, and the screen writes the stock.  A captured session can so be
// imported into an archive.  The transfers that a host can start (ENQ, CAN)
// are off: nothing can answer them here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/fdline.h"
#include "platform/jcode.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "terminal/colorsyntax.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "tools/tool_complain.h"

extern const char* const kFeedUsage;
const char* const kFeedUsage =
    "usage: quillnet-tool feed STOCK [--log FILE] [--log-type N] [--kanji-code N]\n"
    "                          [--columns C] [--rows R] [--lines N] [--remove-ctrls]\n"
    "                          [--screen] [--tag FILE.tag] [--connect TITLE]\n"
    "                          [--date \"YYYY/MM/DD HH:MM\"] [--no-color-online]\n"
    "\n"
    "  push standard input, as a host would send it, through the terminal's\n"
    "  receive path into STOCK (created with C columns, default 80, and N lines,\n"
    "  default 10000, when it does not exist).\n"
    "  --log FILE        also write the log FILE (overwritten)\n"
    "  --log-type N      0 raw log (default), 1 plain-text log\n"
    "  --kanji-code N    the host's code: 0 Shift_JIS (default), 1 JIS, 2 old JIS,\n"
    "                    3 NEC, 4 EUC\n"
    "  --rows R          rows of the screen (default 24)\n"
    "  --remove-ctrls    drop control codes and escape sequences from the screen\n"
    "  --screen          print the final screen, one line per row, as UTF-8\n"
    "  --tag FILE.tag    the colour syntax; it becomes the stock's syntax file\n"
    "  --connect TITLE   the input is one call: a connect line \"TITLE - date\"\n"
    "                    first, its lines tagged as they arrive\n"
    "  --date D          the connect line's date and time (default: now)\n"
    "  --no-color-online tag the call's lines at its end, not as they arrive\n"
    "\n";

namespace {

// A complaint about the arguments: one line and where to look (status 2).
int FeedUsage(const std::string& complaint) {
  return Complain("feed", complaint);
}

bool Number(const std::string& s, long lo, long hi, long* out) {
  if (s.empty() || s.size() > 9) return false;
  long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

// The screen's rows as UTF-8, blanks at the ends of rows removed.
std::string ScreenText() {
  std::string out;
  const int inStock = bitmap.RowsInStock();
  for (int r = 0; r < bitmap.cyLines; ++r) {
    std::string row;
    if (r < inStock) {
      const char* t = bitmap.LineAt(r).Item()->Text();
      for (int x = 0; x < STOCK::cColumn; ++x) {
        const unsigned char c = static_cast<unsigned char>(t[x]);
        // An empty cell, and the filler a double-byte character left at
        // the end of a line when it moved to the next, show as blanks.
        row += (c == 0 || (c == 0x7F && x == STOCK::cColumn - 1)) ? ' ' : static_cast<char>(c);
      }
    }
    row = jcode::SjisToUtf8(row);
    while (!row.empty() && row.back() == ' ') row.pop_back();
    out += row;
    out += '\n';
  }
  return out;
}

}  // namespace

int FeedCommand(const std::vector<std::string>& args) {
  std::string stockPath, logPath;
  long logType = 0, kanji = 0, columns = 80, rows = 24, lines = 10000;
  std::string tagPath, connectTitle, dateText;
  bool screen = false, removeCtrls = false, connect = false, noColorOnline = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](long lo, long hi, long* out) {
      return i + 1 < args.size() && Number(args[++i], lo, hi, out);
    };
    if (a == "--log") {
      if (i + 1 >= args.size()) return FeedUsage("--log needs a FILE");
      // A name given on the command line is relative to the current
      // directory, not to the program's log directory.
      logPath = std::filesystem::absolute(args[++i]).string();
    } else if (a == "--log-type") {
      if (!value(0, 1, &logType)) return FeedUsage("--log-type needs 0 or 1");
    } else if (a == "--kanji-code") {
      if (!value(0, 4, &kanji)) return FeedUsage("--kanji-code needs a number from 0 to 4");
    } else if (a == "--columns") {
      if (!value(40, 250, &columns)) return FeedUsage("--columns needs a number from 40 to 250");
    } else if (a == "--rows") {
      if (!value(1, 200, &rows)) return FeedUsage("--rows needs a number from 1 to 200");
    } else if (a == "--lines") {
      if (!value(100, 10000000, &lines) || lines % 100 != 0)
        return FeedUsage("--lines needs a multiple of 100 from 100 on");
    } else if (a == "--screen") {
      screen = true;
    } else if (a == "--tag") {
      if (i + 1 >= args.size()) return FeedUsage("--tag needs a FILE");
      tagPath = std::filesystem::absolute(args[++i]).lexically_normal().string();
    } else if (a == "--connect") {
      if (i + 1 >= args.size()) return FeedUsage("--connect needs a TITLE");
      connectTitle = args[++i];
      connect = true;
    } else if (a == "--date") {
      if (i + 1 >= args.size()) return FeedUsage("--date needs \"YYYY/MM/DD HH:MM\"");
      dateText = args[++i];
    } else if (a == "--no-color-online") {
      noColorOnline = true;
    } else if (a == "--remove-ctrls") {
      removeCtrls = true;
    } else if (stockPath.empty() && a.rfind("--", 0) != 0) {
      stockPath = a;
    } else {
      return FeedUsage("unexpected argument " + a);
    }
  }
  if (stockPath.empty()) return FeedUsage("feed needs a STOCK file");
  if (!tagPath.empty() && !connect) return FeedUsage("--tag needs --connect (a call to match)");
  SYSTEMTIME date;
  if (!dateText.empty()) {
    int y, mo, d, h, mi;
    char tail;
    if (std::sscanf(dateText.c_str(), "%4d/%2d/%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5 || mo < 1 ||
        mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59)
      return FeedUsage("--date needs \"YYYY/MM/DD HH:MM\"");
    date.wYear = y;
    date.wMonth = mo;
    date.wDay = d;
    date.wHour = h;
    date.wMinute = mi;
    MYBITMAP::hooks.now = [date] { return date; };
  }
  InstallColourSyntax();
  config.NoColorOnline = noColorOnline ? 1 : 0;
  if (!config.QuoteTable[0]) config.ResetQuoteTable();

  hostprop.SetDefault();
  hostprop.KanjiCode = int(kanji);
  hostprop.RemoveCtrls = removeCtrls ? 1 : 0;
  hostprop.ModemType = MODEM_NONE;
  hostprop.AutoBPLUS = 0;
  hostprop.AutoZmodem = 0;

  // The screen's rows are the stock's frame before the stock opens: opening
  // fills the communication buffer with that many of the newest lines, and
  // only lines in that buffer are written back, so a cursor-addressed edit
  // of any screen line reaches the file.
  STOCK::cLineFrame = int(rows);
  struct stat st;
  const bool exists = stat(stockPath.c_str(), &st) == 0;
  if (exists ? !STOCK::Open(stockPath) : !STOCK::Create(stockPath, static_cast<unsigned long>(lines), int(columns), 0, 0, 0))
    return 1;
  if (!STOCK::EnableWrite(1, 1)) {
    STOCK::ResetForTest();
    return 1;
  }
  // The screen paints nothing here; it asks the port for its backlog, which
  // decides only how a window would be painted.
  bitmap.Reset(nullptr, STOCK::cColumn, int(rows));

  if (!logPath.empty() && !LOG::Start(logPath.c_str(), LOGOPEN_OVERWRITE, LOG::kNoLimit, int(logType))) {
    LOG::ReportOpenFailure(LOG::MakePath(logPath));
    // The terminal goes on without its log, as it does on a call.
  }

  CLIENT::Create();
  FDLINE::Options opt;
  opt.ownFds = false;
  // Large reads and a deep hold: the reader is woken to read on once per
  // megabyte taken, not once per 64 KiB, and each wake-up costs both threads
  // a trip through the scheduler.
  opt.readChunk = 1 << 20;
  opt.holdLimit = 4 << 20;
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (!COMPORT::Start(std::make_unique<FDLINE>(0, devnull, opt))) {
    std::fprintf(stderr, "quillnet-tool: cannot start the line\n");
    STOCK::Close();
    return 1;
  }
  fOnline = 1;
  if (!tagPath.empty()) {
    if (!TAGMAKER::Open(tagPath) || !STOCK::fileheader.SetTagFile(tagPath)) {
      COMPORT::Close();
      STOCK::Close();
      return 1;
    }
    FILETIME ft;
    STOCK::fileheader.ftTagFile = STOCK::GetTagFileTimestamp(&ft) ? ft : FILETIME{};
  }
  if (connect) {
    // The connect line as the dialler writes it, then the call's matching.
    if (MYBITMAP::xchCur != 0) bitmap.Input("\r\n");
    const int slot = MYBITMAP::cvCur;
    bitmap.Input(jcode::Utf8ToSjis(connectTitle).c_str());
    bitmap.InputDateTime();
    STOCK::SetConnectTag(slot);
    TAGMAKER::StartQuery();
  }
  CLIENT::StartPortAccess();

  // Passes run back to back while there is data; an empty port waits for the
  // reader.  The input has ended once the line reports closed and neither the
  // reader nor the queue holds anything.
  for (;;) {
    ProcessPortInput();
    if (COMPORT::IsReceived()) continue;
    if (COMPORT::GetInQueueCount() > 0) continue;
    if (COMPORT::GetEvent()) {
      COMPORT::DoReceive();
      if (!COMPORT::IsReceived() && COMPORT::GetInQueueCount() == 0) break;
      continue;
    }
    COMPORT::WaitReceive(100);
  }
  ProcessPortInput();  // a last idle pass flushes the log and the stock
  if (connect) {
    // The end of the call, as at hang-up.
    if (config.NoColorOnline) QueryLastCall();
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
  }
  COMPORT::Close();
  if (devnull >= 0) close(devnull);
  fOnline = 0;
  CLIENT::Destroy();
  LOG::End();

  int status = 0;
  if (screen) {
    const std::string text = ScreenText();
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) status = 1;
  }
  STOCK::Save();
  // The communication buffer keeps the screen's lines after they are
  // written; more than those means lines that did not reach the disk.
  if (STOCK::cItemComm > std::max(1, STOCK::cLineFrame)) status = 1;
  STOCK::Close();
  return status;
}
