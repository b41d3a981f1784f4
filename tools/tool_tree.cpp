// quillnet-tool stock tree: the overall tree of a stock as text.
//
//   stock tree STOCK [--style 0|1|2] [--days N] [--calls N] [--all] [--lines]
//       the root and below, one item per line, two blanks per depth, titles
//       UTF-8, every call expanded; --all also expands "昔の分..."; --lines
//       adds TAB, the item's first line, TAB, the last line of its extent
//       (0 = the oldest line; "-" for items that are no line).
#include <cstdio>
#include <string>
#include <vector>

#include "stock/stock.h"
#include "stock/tree.h"
#include "stock/tagquery.h"
#include "tools/tool_complain.h"

namespace {

bool Number(const std::string& s, int lo, int hi, int* out) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  const int v = std::stoi(s);
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int TreeOfStock(const std::vector<std::string>& args) {
  std::string file;
  bool all = false, lines = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](int lo, int hi, int* out) {
      return i + 1 < args.size() && Number(args[++i], lo, hi, out);
    };
    if (a == "--all") {
      all = true;
    } else if (a == "--lines") {
      lines = true;
    } else if (a == "--style") {
      if (!value(0, 2, &TREE::TreeStyle)) return Complain("stock", "--style takes 0, 1 or 2");
    } else if (a == "--days") {
      if (!value(1, 365, &TREE::TreeDay)) return Complain("stock", "--days takes 1 to 365");
    } else if (a == "--calls") {
      if (!value(1, 1000, &TREE::TreeConnect)) return Complain("stock", "--calls takes 1 to 1000");
    } else if (a.rfind("--", 0) == 0 || !file.empty()) {
      return Complain("stock", "unexpected argument " + a);
    } else {
      file = a;
    }
  }
  if (file.empty()) return Complain("stock", "tree needs a STOCK file");
  InstallTagEngine();
  if (!STOCK::Open(file)) return 1;
  TREE::Initialize(2);
  if (all) TREE::ExpandPastAll();
  const std::string out = TREE::Text(lines);
  std::fwrite(out.data(), 1, out.size(), stdout);
  STOCK::Close();
  return 0;
}

// ---------------------------------------------------------------------------
// quillnet-tool stock copy | paste | delete: the tree's edit operations.
//
//   stock copy STOCK LINE|root [--quote] [--info FILE]
//       the node whose first line is LINE (0 = the oldest) as the clipboard
//       gets it, UTF-8 to standard output; the info bytes to FILE
//   stock paste STOCK [--info FILE]
//       standard input (UTF-8) pasted as a new call, with FILE's bytes as
//       the info (without it, a call "(貼り付け)" dated now)
//   stock delete STOCK LINE|root|past [--before] [--days N] [--calls N]
//       removes the node, the contents (root), the calls before the shown
//       window (past; the window as `stock tree` takes it), or with
//       --before everything before the node, answering yes

#include <fstream>
#include <iostream>
#include <iterator>

#include "platform/jcode.h"
#include "stock/clipboard.h"
#include "stock/tree_model.h"

namespace {

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), {});
  return true;
}

// Opens the stock and builds the whole tree; false (reported) on failure.
bool OpenWithTree(const std::string& file, bool writable) {
  InstallTagEngine();
  if (!STOCK::Open(file)) return false;
  if (writable && !STOCK::EnableWrite(1, 1)) {
    STOCK::Close();
    return false;
  }
  TREE::Initialize(2);
  return true;
}

// The node a LINE|root|past argument names; null (reported) when none.
TREENODE* NodeOf(const std::string& which) {
  if (which == "root") return TREE::hitemRoot;
  if (which == "past") {
    if (!TREE::hitemPast) std::fprintf(stderr, "quillnet-tool: every call is shown; there is no past part\n");
    return TREE::hitemPast;
  }
  int line = 0;
  if (!Number(which, 0, 10000000, &line) || line >= STOCK::UsedItems()) {
    std::fprintf(stderr, "quillnet-tool: %s is not a line of the stock\n", which.c_str());
    return nullptr;
  }
  TREE::ExpandPastAll();
  TREENODE* n = TREE::FindNode(STOCK::AddIndex(cvOldest, line));
  if (!n) std::fprintf(stderr, "quillnet-tool: no node begins at line %s\n", which.c_str());
  return n;
}

}  // namespace

int CopyOfStock(const std::vector<std::string>& args) {
  std::string file, which, infoPath;
  bool quote = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--quote") {
      quote = true;
    } else if (a == "--info") {
      if (i + 1 >= args.size()) return Complain("stock", "--info needs a FILE");
      infoPath = args[++i];
    } else if (a.rfind("--", 0) == 0) {
      return Complain("stock", "unexpected argument " + a);
    } else if (file.empty()) {
      file = a;
    } else if (which.empty()) {
      which = a;
    } else {
      return Complain("stock", "unexpected argument " + a);
    }
  }
  if (which.empty()) return Complain("stock", "copy needs a STOCK file and LINE or root");
  if (!OpenWithTree(file, false)) return 1;
  TREENODE* n = NodeOf(which);
  int status = 1;
  STOCKCLIP clip;
  if (n) {
    TREE::Select(n);
    if (TREE::CopyToClipboard(quote ? 1 : 0) && clipboard::Get(&clip)) status = 0;
  }
  STOCK::Close();
  if (status != 0) return status;
  const std::string utf8 = jcode::SjisToUtf8(clip.sjis);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  if (!infoPath.empty()) {
    std::ofstream f(infoPath, std::ios::binary | std::ios::trunc);
    f.write(clip.info.data(), std::streamsize(clip.info.size()));
    if (!f.flush()) {
      std::fprintf(stderr, "quillnet-tool: cannot write %s\n", infoPath.c_str());
      return 1;
    }
  }
  return 0;
}

int PasteIntoStock(const std::vector<std::string>& args) {
  std::string file, infoPath;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--info") {
      if (i + 1 >= args.size()) return Complain("stock", "--info needs a FILE");
      infoPath = args[++i];
    } else if (a.rfind("--", 0) == 0 || !file.empty()) {
      return Complain("stock", "unexpected argument " + a);
    } else {
      file = a;
    }
  }
  if (file.empty()) return Complain("stock", "paste needs a STOCK file");
  STOCKCLIP clip;
  if (!infoPath.empty()) {
    if (!ReadFile(infoPath, &clip.info)) {
      std::fprintf(stderr, "quillnet-tool: cannot read %s\n", infoPath.c_str());
      return 1;
    }
    clip.hasInfo = true;
  }
  const std::string input(std::istreambuf_iterator<char>(std::cin), {});
  clip.sjis = clipboard::Utf8ToSjisMarked(input);
  if (clip.sjis.empty()) {
    std::fprintf(stderr, "quillnet-tool: nothing to paste\n");
    return 1;
  }
  if (!OpenWithTree(file, true)) return 1;
  const int ok = TREE::PasteClip(clip);
  STOCK::Close();
  return ok ? 0 : 1;
}

int DeleteFromStock(const std::vector<std::string>& args) {
  std::string file, which;
  bool before = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](int lo, int hi, int* out) {
      return i + 1 < args.size() && Number(args[++i], lo, hi, out);
    };
    if (a == "--before") {
      before = true;
    } else if (a == "--days") {
      if (!value(1, 365, &TREE::TreeDay)) return Complain("stock", "--days takes 1 to 365");
    } else if (a == "--calls") {
      if (!value(1, 1000, &TREE::TreeConnect)) return Complain("stock", "--calls takes 1 to 1000");
    } else if (a.rfind("--", 0) == 0) {
      return Complain("stock", "unexpected argument " + a);
    } else if (file.empty()) {
      file = a;
    } else if (which.empty()) {
      which = a;
    } else {
      return Complain("stock", "unexpected argument " + a);
    }
  }
  if (which.empty()) return Complain("stock", "delete needs a STOCK file and LINE, root or past");
  if (before && (which == "root" || which == "past")) return Complain("stock", "--before needs a LINE");
  if (!OpenWithTree(file, true)) return 1;
  TREENODE* n = NodeOf(which);
  int ok = 0;
  if (n) {
    TREE::Select(n);
    ok = TREE::Delete(before ? 1 : 0, 0, 0);
    if (!ok) std::fprintf(stderr, "quillnet-tool: nothing was deleted\n");
  }
  STOCK::Close();
  return ok ? 0 : 1;
}
