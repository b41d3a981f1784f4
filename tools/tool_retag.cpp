// quillnet-tool stock retag / stock tags: the colour syntax over a stock.
//
//   stock retag STOCK [TAGFILE] [--progress]
//       TAGFILE (made absolute) becomes the stock's syntax file with its time
//       stamp, then the whole stock is re-tagged; exit 0 only when that
//       completed.  A TAGFILE that cannot be loaded changes nothing.
//   stock tags STOCK
//       per logical line, TAB-separated: its first stored line (0 = oldest),
//       tag, mark (two hex digits), text as UTF-8; a rule's line (tag 4 or
//       more) adds its title and, for a message rule, number/parent/date.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "shell/config.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "terminal/colorsyntax.h"
#include "tools/tool_complain.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnStop(int) { gStop = 1; }

int RetagUsage(const std::string& complaint) { return Complain("stock", complaint); }

// The logical line's cells as UTF-8 (an empty cell a blank).
std::string LineUtf8(CODEVRAM first) {
  std::string sjis;
  CODEVRAM cv = first;
  for (int k = 0; k < 64; ++k) {
    const int len = cv.Length();
    const char* t = cv.Item()->Text();
    for (int x = 0; x < len; ++x) sjis += t[x] == 0 ? ' ' : t[x];
    if (cv.IsCR() || cv.IsNewest()) break;
    ++cv;
  }
  return jcode::SjisToUtf8(sjis);
}

}  // namespace

int RetagStock(const std::vector<std::string>& args) {
  std::string file, tagFile;
  bool progress = false;
  for (const std::string& a : args) {
    if (a == "--progress")
      progress = true;
    else if (a.rfind("--", 0) == 0)
      return RetagUsage("unexpected argument " + a);
    else if (file.empty())
      file = a;
    else if (tagFile.empty())
      tagFile = a;
    else
      return RetagUsage("unexpected argument " + a);
  }
  if (file.empty()) return RetagUsage("retag needs a STOCK file");
  // The same surroundings as on line: the quotation prefixes of the settings.
  InstallColourSyntax();
  if (!config.QuoteTable[0]) config.ResetQuoteTable();
  tagQueryHooks.report = [](const std::string& text) { std::fprintf(stderr, "quillnet-tool: %s\n", text.c_str()); };
  if (!STOCK::Open(file)) return 1;
  if (!tagFile.empty()) {
    const std::string path = std::filesystem::absolute(tagFile).lexically_normal().string();
    if (!TAGMAKER::Open(path)) {
      STOCK::Close();
      return 1;
    }
    if (!STOCK::fileheader.SetTagFile(path)) {
      std::fprintf(stderr, "quillnet-tool: %s: the path is too long for the stock\n", path.c_str());
      STOCK::Close();
      return 1;
    }
    FILETIME ft;
    STOCK::fileheader.ftTagFile = STOCK::GetTagFileTimestamp(&ft) ? ft : FILETIME{};
  }
  gStop = 0;
  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  int steps = 0;
  tagQueryHooks.progressBegin = [&](int n) { steps = n; };
  tagQueryHooks.progressStep = [&](int done) {
    if (progress) std::printf("retag %d/%d\n", done, steps);
    return gStop == 0;
  };
  const int done = TREE::RefreshTagAll(0);
  tagQueryHooks.progressBegin = nullptr;
  tagQueryHooks.progressStep = nullptr;
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (!done) {
    // The next opening re-tags again.
    if (STOCK::EnableWrite(1, 1)) {
      STOCK::fileheader.ftTagFile.dwHighDateTime = 0xFFFFFFFFu;
      STOCK::Save();
      STOCK::EnableWrite(0, 0);
    }
  } else if (progress) {
    std::printf("retag done\n");
  }
  STOCK::Close();
  return done ? 0 : 1;
}

int TagsOfStock(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) return RetagUsage("tags needs one STOCK file");
  InstallTagEngine();
  if (!STOCK::Open(args[0])) return 1;
  std::string out;
  CODEVRAM cv = cvOldest;
  for (;;) {
    const int tag = cv.Tag();
    char head[64];
    std::snprintf(head, sizeof head, "%d\t%d\t%02X\t", STOCK::Flat(cv), tag, cv.Item()->cInput);
    out += head;
    out += LineUtf8(cv);
    if (tag >= TAG_FIRST_RULE) {
      out += '\t';
      out += jcode::SjisToUtf8(TREE::GetTagTitle(cv));
      SPEECHINFO si;
      if (cv.GetSpeechInfo(&si)) {
        out += '\t' + std::to_string(si.nSpeech) + "/" + std::to_string(si.nParent) + "/" + std::to_string(si.nDate);
      }
    }
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    const int slots = LogicalLineSlots(cv);
    CODEVRAM last = cv;
    for (int k = 1; k < slots; ++k) ++last;
    if (last.IsNewest()) break;
    ++last;
    cv = last;
  }
  const bool ok = std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
  STOCK::Close();
  return ok ? 0 : 1;
}
