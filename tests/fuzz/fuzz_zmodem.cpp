// Fuzzes the ZMODEM receiver: the input is what a host sends (headers of
// both forms, subpackets, file information), fed in pieces whose sizes come
// from the input itself, on a manual clock.  The receiver must never write
// outside its download directory, and must end by itself once the line goes
// quiet (its time-outs), within a bounded number of steps.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/names.h"
#include "transfer/transfer.h"
#include "transfer/zmodem.h"

namespace {

std::string Dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/fuzz_zmodem.XXXXXX";
    const char* d = mkdtemp(tmpl);
    return std::string(d ? d : "/tmp");
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [host, us] = MEMORYLINE::MakePair(1 << 20);
  host->UseManualClock();
  TRANSFER t;
  t.line = us.get();
  t.opt.downloadDir = Dir();
  t.opt.mode = (size & 1) ? DM_OVERWRITE : DM_RESUME;
  t.BeginDownload();
  auto engine = (size & 2) ? MakeZmodemAutoDownload(t) : MakeZmodemDownload(t);
  size_t at = 0;
  int steps = 0;
  bool done = false;
  while (!done && steps < 200000) {
    if (at < size) {
      const size_t piece = 1 + data[at] % 64;
      const size_t n = std::min(piece, size - at);
      host->Write(data + at, n);
      at += n;
    }
    done = engine->Step() == STEP_DONE;
    unsigned char sink[4096];
    while (host->Read(sink, sizeof sink) > 0) {
    }
    host->Advance(at < size ? 1 : 1000);
    ++steps;
  }
  if (!done) abort();  // a receiver that never ends on a silent line
  (void)ReceivedNameToFile(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
