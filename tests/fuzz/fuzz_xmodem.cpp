// Fuzzes the XMODEM/YMODEM receiver: arbitrary bytes from a sender, in runs
// the input chooses, with time moving on between them.  Checked each time:
// the receiver ends within a bounded number of steps once the line is
// silent; what it wrote never exceeds what arrived; a file is reported whole
// only with no error; its answers are only the bytes of the protocol.
//
// Input layout: [variant] [flying] then the stream.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "transfer/xmodem.h"

namespace {

struct CountSink : xmodem::Sink {
  size_t written = 0;
  int opens = 0;
  int Open(const xmodem::FileInfo&) override { return ++opens, 1; }
  bool Write(const char*, size_t n) override { return written += n, true; }
  bool Close(bool) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const int kVariants[] = {1, 2, 3, 8, 9, 10, 11};
  const int protocol = kVariants[data[0] % 7];
  const bool flying = data[1] & 1;
  CountSink sink;
  xmodem::Events ev;
  TICK now = 0;
  xmodem::Receiver r(protocol, &sink, &ev, flying, now);
  size_t i = 2;
  while (i < size && !r.Finished()) {
    const size_t n = std::min<size_t>(1 + data[i] % 200, size - i);
    r.Input(reinterpret_cast<const char*>(data) + i, n);
    i += n;
    r.Process(now);
    now += data[i - 1] % 4 == 0 ? 11000 : 10;
  }
  // A silent line ends every transfer.
  for (int k = 0; k < 40 && !r.Finished(); ++k) {
    now += 5000;
    r.Process(now);
  }
  if (!r.Finished()) std::abort();
  if (sink.written > size) std::abort();
  if (r.files > 0 && r.error != 0 && r.error != 2 && r.error != 3 && r.error != 4 && r.error != 5 && r.error != 9)
    std::abort();
  for (char c : r.out) {
    if (c != xmodem::ACK && c != xmodem::NAK && c != xmodem::CAN && c != 'C' && c != 'G') std::abort();
  }
  return 0;
}
