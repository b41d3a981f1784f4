// Driver for bench/pty_throughput.sh: takes a byte stream from a serial
// device through COMPORT in binary mode, the way a transfer protocol does
// (DoReceive, then the queue in blocks), and reports the rate.
//
//   bench_pty_driver DEVICE BYTES GOFILE [CHUNK]
//                                          open DEVICE, create GOFILE (the
//                                          peer starts sending then), take
//                                          BYTES bytes, print the rate and
//                                          a checksum of what came; CHUNK
//                                          overrides the serial device's
//                                          bytes per read (256)
//   bench_pty_driver --sum FILE            the same checksum of a file
//
// The clock runs from the moment GOFILE is created to the last byte.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/serialdevice.h"
#include "port/comport.h"

namespace {

// Position-weighted sum: cheap enough not to be what is measured, and a
// lost, doubled or reordered block changes it.
struct Checksum {
  std::uint64_t a = 1, b = 0;
  void Add(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      a += p[i];
      b += a;
    }
  }
  std::uint64_t Value() const { return (b << 32) ^ a; }
};

int SumFile(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(path);
    return 1;
  }
  Checksum sum;
  unsigned char buf[1 << 16];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) sum.Add(buf, static_cast<size_t>(n));
  close(fd);
  std::printf("sum=%016llx\n", static_cast<unsigned long long>(sum.Value()));
  return n < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--sum") == 0) return SumFile(argv[2]);
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s DEVICE BYTES GOFILE [CHUNK] | --sum FILE\n", argv[0]);
    return 2;
  }
  const unsigned long long total = std::strtoull(argv[2], nullptr, 10);
  auto dev = SERIALDEVICE::Open(argv[1]);
  if (!dev) {
    std::perror(argv[1]);
    return 1;
  }
  if (argc == 5) dev->SetReadChunk(std::strtoul(argv[4], nullptr, 10));
  if (COMPORT::Start(std::move(dev)) != 1) {
    std::fprintf(stderr, "cannot start the port on %s\n", argv[1]);
    return 1;
  }
  COMPORT::SetBinaryMode();

  int go = open(argv[3], O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (go < 0) {
    std::perror(argv[3]);
    return 1;
  }
  close(go);
  const auto t0 = std::chrono::steady_clock::now();

  Checksum sum;
  unsigned long long got = 0;
  unsigned char buf[COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK];
  int idle = 0;
  while (got < total) {
    COMPORT::DoReceive();
    const size_t n = COMPORT::GetBlock(buf, sizeof buf);
    if (n) {
      sum.Add(buf, n);
      got += n;
      idle = 0;
      continue;
    }
    if (!COMPORT::WaitReceive(100) && ++idle > 100) break;  // 10 s without a byte
    if (COMPORT::GetEvent() && COMPORT::GetInQueueCount() == 0) break;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  COMPORT::Close();
  std::printf("bytes=%llu seconds=%.3f mib_per_s=%.1f sum=%016llx\n", got, secs, got / 1048576.0 / secs,
              static_cast<unsigned long long>(sum.Value()));
  return got == total ? 0 : 1;
}
