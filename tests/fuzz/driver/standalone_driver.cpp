// Runs a fuzz target without libFuzzer: every file of the corpus folder given
// on the command line, then FUZZ_RUNS (default 20000) inputs made from a fixed
// seed: random bytes, and corpus files with bytes flipped, inserted and cut.
// Any crash or sanitizer report fails the test.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::string> corpus;
  if (argc > 1 && std::filesystem::is_directory(argv[1])) {
    for (auto& e : std::filesystem::directory_iterator(argv[1])) {
      std::ifstream f(e.path(), std::ios::binary);
      corpus.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
  }
  for (auto& c : corpus) LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(c.data()), c.size());

  long runs = 20000;
  if (const char* r = std::getenv("FUZZ_RUNS")) runs = std::atol(r);
  std::mt19937 rng(12345);
  std::string buf;
  for (long i = 0; i < runs; ++i) {
    if (!corpus.empty() && (i & 1)) {
      buf = corpus[rng() % corpus.size()];
      int edits = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < edits; ++k) {
        switch (rng() % 3) {
          case 0:
            if (!buf.empty()) buf[rng() % buf.size()] = static_cast<char>(rng());
            break;
          case 1: buf.insert(buf.begin() + (buf.empty() ? 0 : rng() % buf.size()), static_cast<char>(rng())); break;
          case 2:
            if (!buf.empty()) buf.erase(buf.begin() + rng() % buf.size());
            break;
        }
      }
    } else {
      buf.resize(rng() % 2048);
      for (auto& ch : buf) ch = static_cast<char>(rng() % 4 == 0 ? "\x1b$(BJ@H\x0e\x0f\x8e\r\n"[rng() % 13] : rng());
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(buf.data()), buf.size());
  }
  std::printf("%zu corpus inputs and %ld generated inputs ran clean\n", corpus.size(), runs);
  return 0;
}
