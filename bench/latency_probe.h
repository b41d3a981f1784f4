// Shared by the latency benchmarks: times a byte sent at a random moment
// until the receive pass that takes what answers it, sample by sample.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

class LATENCYPROBE {
 public:
  explicit LATENCYPROBE(int samples) : samples(samples) {}

  // Waits 0-300 ms (a moment unrelated to the receive timer's phase), then
  // starts the clock; the caller sends the byte right after.
  void Start() {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::rand() % 300));
    waiting = true;
    sent = clock::now();
  }
  bool Waiting() const { return waiting; }
  // The answer was taken: records the time.  True once enough samples are in.
  bool Taken() {
    if (!waiting) return false;
    waiting = false;
    ms.push_back(std::chrono::duration<double, std::milli>(clock::now() - sent).count());
    return int(ms.size()) >= samples;
  }
  // Prints "samples N  median M ms  worst W ms" and `more`; false (and
  // a message) when no sample came.
  bool Report(const std::string& more = "") {
    if (ms.empty()) {
      std::fprintf(stderr, "no answer came back\n");
      return false;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("samples %zu  median %.2f ms  worst %.2f ms%s\n", ms.size(), ms[ms.size() / 2], ms.back(), more.c_str());
    return true;
  }

 private:
  using clock = std::chrono::steady_clock;
  int samples;
  std::vector<double> ms;
  clock::time_point sent;
  bool waiting = false;
};
