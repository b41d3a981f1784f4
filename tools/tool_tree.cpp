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
