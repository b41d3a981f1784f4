// Fuzzes the receive decoder and the send encoder.  The first byte chooses the
// host's code and flags, the second the read size; the rest is the line.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "port/linecode.h"

namespace {
class NullSink : public SENDSINK {
 public:
  void Sub(unsigned char) override { ++count; }
  void WithEcho(unsigned char, unsigned char) override { ++count; }
  size_t count = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  LINECODEPARAM p;
  p.KanjiCode = data[0] % 5;
  p.AutoJisEuc = (data[0] >> 3) & 1;
  p.SevenBit = (data[0] >> 4) & 1;
  p.ReceiveCROnly = (data[0] >> 5) & 1;
  const size_t chunk = 1 + data[1] % 64;
  data += 2;
  size -= 2;

  RECEIVEDECODER dec;
  std::vector<unsigned char> out;
  for (size_t at = 0; at < size; at += chunk) {
    size_t n = size - at < chunk ? size - at : chunk;
    out.assign(RECEIVEDECODER::MaxOutput(n), 0);
    size_t got = dec.Convert(p, data + at, n, out.data());
    if (got > out.size()) std::abort();
    for (size_t i = 0; i < got; ++i)
      if (out[i] == 0) std::abort();  // NULs never come out
  }
  SENDENCODER enc;
  NullSink sink;
  for (size_t i = 0; i < size; ++i) enc.Encode(p, data[0] & 1, data[i], sink);
  if (sink.count > 8 * size + 8) std::abort();
  return 0;
}
