// Stock benchmarks: appending a million 80-column lines through the line
// cursor, and opening a million-line stock.
//
//   build/bench/bench_stock [--benchmark_filter=...]
//
// The files live in $TMPDIR (default /tmp).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/ui.h"
#include "stock/stock.h"

namespace {

constexpr int kLines = 1000000;

std::string TempDir() {
  static std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quillnet-bench-stock-XXXXXX";
    return std::string(mkdtemp(tmpl.data()));
  }();
  return dir;
}

ui::RecordingFacade& Quiet() {
  static ui::RecordingFacade quiet(true);
  return quiet;
}

// 79 bytes of text and a line end: one slot of an 80-column stock per line.
void AppendLines(int count) {
  char text[80];
  CODEVRAM cv = cvNewest;
  for (int i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "%09d", i);
    std::memset(text + 9, 'a' + i % 26, 70);
    std::memcpy(STOCK::GetItem(cv)->Text(), text, 79);
    cv.LineFeed();
  }
}

void BM_AppendMillionLines(benchmark::State& state) {
  ui::SetFacade(&Quiet());
  const std::string path = TempDir() + "/append.stk";
  for (auto _ : state) {
    state.PauseTiming();
    STOCK::ResetForTest();
    if (!STOCK::Create(path, kLines, 80, 0, 0, 0) || !STOCK::EnableWrite(1, 1)) state.SkipWithError("create");
    STOCK::cLineFrame = 24;
    state.ResumeTiming();
    AppendLines(kLines);
    STOCK::Save();  // every line on disk
    state.PauseTiming();
    STOCK::Close();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AppendMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

long ResidentKb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long size = 0, rss = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &size, &rss) != 2) rss = 0;
    std::fclose(f);
  }
  return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_OpenMillionLineStock(benchmark::State& state) {
  ui::SetFacade(&Quiet());
  const std::string path = TempDir() + "/open.stk";
  STOCK::ResetForTest();
  if (!STOCK::Create(path, kLines, 80, 0, 0, 0) || !STOCK::EnableWrite(1, 1)) state.SkipWithError("create");
  AppendLines(kLines + 5);  // wrapped
  STOCK::Save();
  STOCK::ResetForTest();
  STOCK::cLineFrame = 24;
  long grown = 0;
  for (auto _ : state) {
    long before = ResidentKb();
    if (STOCK::Open(path) != 1) state.SkipWithError("open");
    benchmark::DoNotOptimize(STOCK::GetItem(cvNewest));
    grown = std::max(grown, ResidentKb() - before);
    state.PauseTiming();
    STOCK::ResetForTest();
    STOCK::cLineFrame = 24;
    state.ResumeTiming();
  }
  state.counters["resident_growth_MB"] = double(grown) / 1024.0;
}
BENCHMARK(BM_OpenMillionLineStock)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  STOCK::ResetForTest();
  std::filesystem::remove_all(TempDir());
  return 0;
}
