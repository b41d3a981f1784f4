#include "terminal/colorsyntax.h"

#include <cstring>
#include <string>
#include <vector>

#include "shell/config.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "terminal/mybitmap.h"

namespace {

std::vector<std::string> QuotePrefixes() {
  std::vector<std::string> out;
  const std::string table(config.QuoteTable, strnlen(config.QuoteTable, sizeof config.QuoteTable));
  size_t p = 0;
  while (p <= table.size()) {
    const size_t tab = table.find('\t', p);
    const std::string item = table.substr(p, tab == std::string::npos ? std::string::npos : tab - p);
    if (!item.empty()) out.push_back(item);
    if (tab == std::string::npos) break;
    p = tab + 1;
  }
  return out;
}

}  // namespace

void InstallColourSyntax() {
  InstallTagEngine();
  tagQueryHooks.quotePrefixes = QuotePrefixes;
  tagQueryHooks.online = [] { return fOnline != 0; };
  MYBITMAP::hooks.newLine = [] { TREE::NotifyNewLine(); };
  MYBITMAP::hooks.classify = [](CODEVRAM first, int lines) {
    const int r = TAGMAKER::Query(first);
    if (r == 0 && first.Tag() != TAG_NONE) {
      // A line the last rule still covers: drawn in its colours, no new node.
      CODEVRAM cv = first;
      for (int k = 0; k < lines; ++k, ++cv) MYBITMAP::AddUpdateChar(cv, 0, STOCK::cColumn);
    }
    return r != 0;
  };
  MYBITMAP::hooks.treeAdd = [](CODEVRAM tagged) { TREE::Add(tagged, 0); };
}
