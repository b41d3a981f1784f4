#include "shell/headless.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/jcode.h"
#include "terminal/mybitmap.h"

// The shown text of a stored line as UTF-8 at `out`, which has room for
// 3 * length bytes: line ends dropped, control bytes shown as spaces,
// trailing spaces trimmed.  Returns the length.
static size_t MirrorLine(const char* text, int length, char* out) {
  size_t end = size_t(length > 0 ? length : 0);
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  // A space in UTF-8 is only ever the character itself, so trimming after
  // the conversion is the same as trimming before it.
  size_t m = jcode::SjisToUtf8(text, end, out, true);
  while (m > 0 && out[m - 1] == ' ') --m;
  return m;
}

std::string MirrorLineText(const char* text, int length) {
  std::string utf8(size_t(length > 0 ? length : 0) * 3, '\0');
  utf8.resize(MirrorLine(text, length, utf8.data()));
  return utf8;
}

namespace {

// A growing byte buffer that is never cleared byte by byte (a vector
// zero-fills whatever it grows into).
struct BYTES {
  std::unique_ptr<char[]> data;
  size_t size = 0, cap = 0;

  char* Grow(size_t n) {
    if (size + n > cap) {
      const size_t newCap = std::max(cap * 2, size + n);
      std::unique_ptr<char[]> bigger(new char[newCap]);
      if (size > 0) std::memcpy(bigger.get(), data.get(), size);
      data = std::move(bigger);
      cap = newCap;
    }
    char* at = data.get() + size;
    size += n;
    return at;
  }
};

// The mirror's writer thread.  The user-interface thread only copies each
// finished line (a length and the stored bytes) into a batch; the writer
// converts the batches to UTF-8 and writes them, so a flood costs the
// receive path a copy per line.  At most kMaxQueued bytes wait: beyond
// that the receiving side waits for the writer (a slow reader of standard
// output holds the host back instead of filling memory).
class MIRRORWRITER {
 public:
  explicit MIRRORWRITER(FILE* out) : out(out), thread([this] { Run(); }) {}
  ~MIRRORWRITER() {
    {
      std::lock_guard lk(mu);
      stopping = true;
    }
    cv.notify_all();
    thread.join();
  }

  void Add(const char* text, int length) {
    const uint32_t n = uint32_t(length > 0 ? length : 0);
    char* at = batch.Grow(sizeof n + n);
    std::memcpy(at, &n, sizeof n);
    std::memcpy(at + sizeof n, text, n);
    if (batch.size >= kBatch) HandOver(false);
  }

  // Hands the batch to the writer; with `wait`, returns once everything
  // handed over is written and flushed.  The batch itself joins the queue
  // and an emptied buffer the writer gave back becomes the next batch, so
  // handing over copies nothing and the buffers, once grown, are reused.
  void HandOver(bool wait) {
    std::unique_lock lk(mu);
    done.wait(lk, [&] { return queuedBytes < kMaxQueued || stopping; });
    if (batch.size > 0) {
      queuedBytes += batch.size;
      full.push_back(std::move(batch));
      batch = BYTES{};
      if (!spare.empty()) {
        batch = std::move(spare.back());
        spare.pop_back();
      }
    }
    const uint64_t ticket = ++handed;
    cv.notify_all();
    if (wait) done.wait(lk, [&] { return written >= ticket; });
  }

 private:
  static constexpr size_t kBatch = 256 * 1024;
  static constexpr size_t kMaxQueued = 4 * 1024 * 1024;

  void Run() {
    // Background work: when the writer is woken it should not preempt the
    // receiving thread, which is what keeps the line moving.
    const sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
    std::vector<BYTES> work;
    std::vector<char> utf8;
    for (;;) {
      uint64_t ticket;
      {
        std::unique_lock lk(mu);
        // The emptied buffers of the last round go back for reuse.
        for (BYTES& b : work) {
          b.size = 0;
          spare.push_back(std::move(b));
        }
        work.clear();
        cv.wait(lk, [&] { return written < handed || stopping; });
        if (written == handed && stopping) return;
        work.swap(full);
        queuedBytes = 0;
        ticket = handed;
      }
      done.notify_all();  // room for more
      for (const BYTES& b : work) Write(b, utf8);
      std::fflush(out);
      {
        std::lock_guard lk(mu);
        written = ticket;
      }
      done.notify_all();
    }
  }

  // Converts one batch into one buffer and writes it at once (a line of n
  // bytes takes at most 3 * n + 1).
  void Write(const BYTES& b, std::vector<char>& utf8) {
    if (utf8.size() < b.size * 3) utf8.resize(b.size * 3);
    size_t used = 0;
    for (size_t at = 0; at + sizeof(uint32_t) <= b.size;) {
      uint32_t n;
      std::memcpy(&n, b.data.get() + at, sizeof n);
      at += sizeof n;
      used += MirrorLine(b.data.get() + at, int(n), utf8.data() + used);
      utf8[used++] = '\n';
      at += n;
    }
    if (used > 0) std::fwrite(utf8.data(), 1, used, out);
  }

  FILE* out;
  BYTES batch;  // user-interface thread only
  std::mutex mu;
  std::condition_variable cv, done;
  std::vector<BYTES> full, spare;  // handed over, and emptied for reuse
  size_t queuedBytes = 0;
  uint64_t handed = 0, written = 0;
  bool stopping = false;
  std::thread thread;
};

std::unique_ptr<MIRRORWRITER> g_writer;

}  // namespace

void InstallHeadlessMirror(FILE* out) {
  RemoveHeadlessMirror();
  // The writer writes many short lines: a large buffer keeps that to few
  // system calls.
  static char buffer[1 << 16];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  g_writer = std::make_unique<MIRRORWRITER>(out);
  bitmap.hooks.lineToAddins = [](const char* text, int length, bool) {
    if (g_writer) g_writer->Add(text, length);
  };
}

void RemoveHeadlessMirror() {
  if (!g_writer) return;
  g_writer->HandOver(true);
  bitmap.hooks.lineToAddins = nullptr;
  g_writer.reset();
}

void FlushHeadlessMirror() {
  if (g_writer) g_writer->HandOver(false);
}
