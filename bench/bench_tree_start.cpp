// The tree's part of start-up: TREE::Initialize on the open stock and a
// view's first fill of the model (every item reachable without expanding a
// call: its index, row count, children and text), on an empty stock and on
// the stock named by QUILLNET_TREE_STOCK (bench/tree_backup.sh makes one of
// 1,000,000 lines and 3,000 calls).  The stock is opened once, outside the
// measured loop, as the program opens it before the window is built.
//
//   QUILLNET_TREE_STOCK=FILE build/bench/bench_tree_start [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ui.h"
#include "stock/stock.h"
#include "stock/tagquery.h"
#include "stock/tree.h"
#include "stock/tree_model.h"

namespace {

ui::RecordingFacade& Quiet() {
  static ui::RecordingFacade quiet(true);
  return quiet;
}

// What a view asks for when it first shows the model.
long Fill(const TREEMODEL& m, const QModelIndex& parent) {
  long items = 0;
  const int rows = m.rowCount(parent);
  for (int r = 0; r < rows; ++r) {
    const QModelIndex i = m.index(r, 0, parent);
    benchmark::DoNotOptimize(m.data(i, Qt::DisplayRole));
    ++items;
    if (m.hasChildren(i) && !m.canFetchMore(i)) items += Fill(m, i);
  }
  return items;
}

void Run(benchmark::State& state, const std::string& path) {
  ui::SetFacade(&Quiet());
  InstallTagEngine();
  if (STOCK::Open(path) != 1) {
    state.SkipWithError("the stock could not be opened");
    return;
  }
  long items = 0;
  for (auto _ : state) {
    TREE::Initialize(0);
    items = Fill(TREE::Model(), QModelIndex());
  }
  state.counters["items"] = double(items);
  state.counters["lines"] = double(STOCK::UsedItems());
  STOCK::Close();
}

void BM_TreeStartEmpty(benchmark::State& state) {
  char tmpl[] = "/tmp/quillnet-bench-tree-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/empty.stk";
  ui::SetFacade(&Quiet());
  if (STOCK::Create(path, STOCK_MAX_LINES, 80, 0, 0, 0) != 1) {
    state.SkipWithError("no empty stock");
    return;
  }
  STOCK::Close();
  Run(state, path);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TreeStartEmpty)->Unit(benchmark::kMillisecond);

void BM_TreeStartStock(benchmark::State& state) {
  const char* path = std::getenv("QUILLNET_TREE_STOCK");
  if (!path || !*path) {
    state.SkipWithError("QUILLNET_TREE_STOCK names no stock");
    return;
  }
  Run(state, path);
}
BENCHMARK(BM_TreeStartStock)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
