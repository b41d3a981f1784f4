// COMPORT: the one connection, its worker threads and its send and receive
// paths.
//
// Buffers and who may touch them:
//
//   reader buffer   Grows from 16384 bytes in 8192-byte pieces, as many at
//                   once as a read needs, and is kept at up to four times
//                   what it must hold (see ReaderTail).  Live bytes are
//                   [roff, roff + rcount); the reader thread reads into the
//                   free tail behind them without the lock (nobody else looks
//                   there), then publishes the bytes by raising rcount under
//                   the lock.  DoReceive takes bytes from the front by raising
//                   roff under the lock; only the reader moves or reallocates
//                   the block, so the tail it reads into stays put.
//   writer buffer   A ring of SEND_RING bytes.  The text paths may fill it to
//                   WRITE_BUFFER bytes (beyond that they refuse with
//                   "送信不能"); a transfer's bulk path (SendBulk) may fill all
//                   of it.  The user-interface thread appends under the lock
//                   behind the live bytes; the writer thread notes under the
//                   lock which bytes it writes (busy), writes them straight
//                   from the ring without the lock, and then removes what was
//                   written - unless a Flush came in between (wgen changed),
//                   when those bytes were already dropped.  Bytes being
//                   written count as used until the write returns, so an
//                   append never lands on them.
//   receive queue   szReceived, the pause buffer and every conversion state:
//                   user-interface thread only.
//
// Threads wait in poll() on their line descriptor and their own eventfd.  The
// reader is woken to stop, or to go on after back-pressure (its buffer held
// HoldLimit bytes, and DoReceive has taken some); the writer is woken to stop,
// or when bytes arrive while it is idle.

#include "port/comport.h"

#include <poll.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/debuglog.h"
#include "platform/serialdevice.h"
#include "platform/wakeup.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostprop.h"

COMPORT com;

int COMPORT::fSocket = 0;
TICK COMPORT::tOpen = 0;
std::atomic<int> COMPORT::fInQueueResting{1};
int COMPORT::fBinaryMode = 0;
int COMPORT::fEvenParity = 0;
int COMPORT::fSavedLocalEcho = 0;
int COMPORT::fTransmitPaused = 0;
int COMPORT::cbTransmitSuspending = 0;
int COMPORT::fCdChanged = 0;
int COMPORT::fErrorDetect = 0;
int COMPORT::fTelnetBinary = 0;
int COMPORT::fReceivedVtxBinaryStartup = 0;
int COMPORT::cbThreadRead = 0;
char COMPORT::szReceived[COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK];
int COMPORT::cchReceived = 0;
int COMPORT::iTakeout = 0;
int COMPORT::cchReceivedTotal = 0;
int COMPORT::cSent = 0;
RECEIVEDECODER COMPORT::decoder;
SENDENCODER COMPORT::encoder;
TICK COMPORT::timeAutoHangup = 0;
std::function<void()> COMPORT::onDataArrived;
size_t (*COMPORT::telnetReceiveFilter)(unsigned char* data, size_t n) = nullptr;

// The refill rule (at most 512 bytes, and only into a queue holding fewer than
// 512) must keep the converted queue inside the array.
static_assert(COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK >=
                  static_cast<int>(RECEIVEDECODER::MaxOutput(COMPORT::RECEIVE_REFILL)),
              "receive queue slack too small for one converted refill");

namespace {

constexpr unsigned char LF = 0x0A, CR = 0x0D, IAC = 0xFF, TELNET_BREAK = 0xF3;
constexpr size_t READER_GROWTH = 8192;
constexpr size_t READER_MIN_FREE = 256;
constexpr size_t READER_SLACK = 4;  // see ReaderTail
// The most a held socket reader's room grows to (see ReaderThread).
constexpr size_t HOLD_ROOM_MAX = 256 * 1024;
constexpr int WRITE_WAIT_MS = 60000;
constexpr int BREAK_POLL_MS = 100;
const char kCannotSend[] = "送信不能";

// Everything one open line shares with its two threads.
struct PORTSTATE {
  std::unique_ptr<LINE> line;
  WAKEUP readerWake, writerWake;
  std::thread reader, writer;

  std::atomic<bool> stop{false};             // both threads leave
  std::atomic<bool> readTerminating{false};  // the reader leaves (TerminateReadThread)
  std::atomic<bool> lineClosed{false};       // the reader saw the peer go away
  std::atomic<bool> writeFailed{false};      // the line refuses bytes for good
  std::atomic<bool> breakActive{false};      // the writer holds its data back
  std::atomic<int> ioErrors{0};              // read errors that were not a peer close

  std::mutex mu;
  std::condition_variable dataCv;  // reader buffer became non-empty, or the line closed

  // Reader buffer (see the top of the file).
  unsigned char* rbuf = nullptr;
  size_t rcap = 0, roff = 0, rcount = 0;
  size_t holdLimit = 0;     // the line's HoldLimit (0: none)
  size_t holdRoom = 0;      // where the reader stops now (grows from holdLimit)
  bool readerHeld = false;  // the reader waits for DoReceive (back-pressure)

  // Writer ring (see the top of the file).  Positions count bytes since the
  // line was opened; a byte at position p sits at wbuf[p % SEND_RING].
  std::unique_ptr<unsigned char[]> wbuf{new unsigned char[COMPORT::SEND_RING]};
  std::uint64_t wrd = 0, wwr = 0;  // live bytes: [wrd, wwr)
  std::uint64_t wbusy = 0;         // first byte of the write in flight (while writing)
  bool writing = false;            // the writer is in a write without the lock
  std::uint64_t wgen = 0;          // bumped by Flush: a write in flight then removes nothing
  bool writerIdle = false;         // the writer sleeps until woken
  bool writerWakePosted = false;   // and a wake-up is already on its way
  size_t roomWanted = 0;           // a consumer waits for this much free ring (0: none)

  ~PORTSTATE() { std::free(rbuf); }

  bool ReaderStopping() const { return stop.load() || readTerminating.load(); }

  // Bytes queued and not yet written; mu held.
  size_t Queued() const { return static_cast<size_t>(wwr - wrd); }
  // Bytes an append may take now; mu held.  A write in flight keeps its
  // bytes until it returns, even when a Flush already dropped them.
  size_t Free() const {
    const std::uint64_t low = writing ? std::min(wrd, wbusy) : wrd;
    return COMPORT::SEND_RING - static_cast<size_t>(wwr - low);
  }
  // Appends n bytes (Free() >= n); mu held.
  void Append(const unsigned char* p, size_t n) {
    const size_t at = static_cast<size_t>(wwr % COMPORT::SEND_RING);
    const size_t first = std::min(n, COMPORT::SEND_RING - at);
    std::memcpy(wbuf.get() + at, p, first);
    std::memcpy(wbuf.get(), p + first, n - first);
    wwr += n;
  }
  // Appends one byte (Free() >= 1); mu held.
  void Put(unsigned char c) { wbuf[static_cast<size_t>(wwr++ % COMPORT::SEND_RING)] = c; }

  // Wakes an idle writer; call with mu held.  Returns true when the caller
  // must signal writerWake (after unlocking).
  bool NeedWriterWake() {
    if (wwr > wrd && writerIdle && !writerWakePosted) {
      writerWakePosted = true;
      return true;
    }
    return false;
  }
};

PORTSTATE* port = nullptr;  // the open line, or null when closed (UI thread)
std::unique_ptr<unsigned char[]> pbTransmit;  // pause buffer, allocated on first use
int breakSerial = 0;      // names the running break; a timer for an older one does nothing
std::uint32_t noiseSeed = 1;

// 0..32767, the classic linear congruential sequence.
int NoiseRand() {
  noiseSeed = noiseSeed * 214013u + 2531011u;
  return static_cast<int>((noiseSeed >> 16) & 0x7FFF);
}

bool NoiseHits() { return NoiseRand() < 6; }

unsigned char EvenParity(unsigned char c) {
  c &= 0x7F;
  return (__builtin_popcount(c) & 1) ? static_cast<unsigned char>(c | 0x80) : c;
}

LINECODEPARAM CodeParam() {
  LINECODEPARAM p;
  p.KanjiCode = hostprop.KanjiCode;
  p.AutoJisEuc = hostprop.AutoJisEuc;
  p.SevenBit = hostprop.SevenBit;
  p.ReceiveCROnly = hostprop.ReceiveCROnly;
  return p;
}

int Poll(pollfd* fds, nfds_t n, int ms) {
  int r;
  while ((r = poll(fds, n, ms)) < 0 && errno == EINTR) {
  }
  return r;
}

// --- reader thread -----------------------------------------------------------

// Makes room for `want` bytes behind the live bytes; mu held.  Moves the live
// bytes down when the dead front is at least as large as they are (so every
// byte is moved at most once per byte taken) and the block is at least
// READER_SLACK times what the live bytes and the room need, otherwise grows
// the block in one step by as many 8192-byte pieces as the room needs.  A
// block that only just holds a held reader's room would move the live half
// of it at every wake-up (under a flood, every byte once, with the lock
// held against the consumer); with the slack a move comes once per several
// wake-ups, and the block stays within READER_SLACK times live bytes and
// room (plus a piece).  Null when memory runs out.
unsigned char* ReaderTail(PORTSTATE& ps, size_t want) {
  if (ps.rcount == 0) ps.roff = 0;
  want = std::max(want, READER_MIN_FREE);
  if (ps.rcap - ps.roff - ps.rcount < want && ps.roff > 0 && ps.roff >= ps.rcount &&
      ps.rcap >= READER_SLACK * (ps.rcount + want)) {
    std::memmove(ps.rbuf, ps.rbuf + ps.roff, ps.rcount);
    ps.roff = 0;
  }
  const size_t free = ps.rcap - ps.roff - ps.rcount;
  if (free < want) {
    const size_t pieces = (want - free + READER_GROWTH - 1) / READER_GROWTH;
    auto* grown = static_cast<unsigned char*>(std::realloc(ps.rbuf, ps.rcap + pieces * READER_GROWTH));
    if (!grown) return nullptr;
    ps.rbuf = grown;
    ps.rcap += pieces * READER_GROWTH;
  }
  return ps.rbuf + ps.roff + ps.rcount;
}

// Tells a waiting consumer that the buffer holds data again, or that the
// line closed.
void AnnounceData(PORTSTATE& ps) {
  ps.dataCv.notify_all();
  if (COMPORT::onDataArrived) COMPORT::onDataArrived();
}

void MarkLineClosed(PORTSTATE& ps) {
  {
    std::lock_guard lk(ps.mu);
    ps.lineClosed = true;
  }
  AnnounceData(ps);  // the consumer notices at once
}

// A consumer that found the buffer empty is woken once per burst of reads
// rather than once per read: when the burst ends (a short read) or after
// this many bytes of it.  A wake-up costs both threads a context switch,
// which at 256 bytes a read would cost more than the reading.
constexpr size_t NOTIFY_BATCH = 4096;

void ReaderThread(PORTSTATE* p) {
  PORTSTATE& ps = *p;
  LINE& line = *ps.line;
  const size_t chunk = std::max<size_t>(1, line.ReadChunk());
  const size_t hold = ps.holdLimit;
  // The reader stops at holdRoom bytes.  It starts at the hold limit and
  // grows each time the reader is held, as a buffer that grows whenever it
  // is full and only then waits for the consumer would: by half of itself
  // (at least a buffer step), so that a flood reaches HOLD_ROOM_MAX within
  // eight holds rather than spending its first MiB or two on small rooms.
  // A held reader is woken once the consumer is down to half the room, so
  // under a flood each wake-up brings a larger read, and the consumer has
  // more left to work on while the reader wakes, instead of one wake-up and
  // two context switches per 10 KiB.  (A larger room, 1 MiB, woke the
  // reader a quarter as often but made the receiving thread slower: what
  // the reader wrote had left the caches by the time it was taken.)  The
  // host is still held back by TCP while the reader waits.  (Start sets
  // the first room before the thread runs.)
  COMPORT::fInQueueResting = 1;

  while (!ps.ReaderStopping()) {
    // Back-pressure: leave the bytes in the line (the peer is held back by
    // the driver or by TCP) until DoReceive has taken some.
    bool held;
    {
      std::lock_guard lk(ps.mu);
      if (hold != 0 && ps.rcount >= ps.holdRoom) {
        ps.readerHeld = true;
        ps.holdRoom =
            std::min(ps.holdRoom + std::max(READER_GROWTH, ps.holdRoom / 2), std::max(hold, HOLD_ROOM_MAX));
      }
      held = ps.readerHeld;
    }
    pollfd fds[2] = {{ps.readerWake.Fd(), POLLIN, 0}, {line.Fd(), POLLIN, 0}};
    Poll(fds, held ? 1 : 2, -1);
    if (fds[0].revents) ps.readerWake.Clear();
    if (ps.ReaderStopping()) break;
    if (held || !fds[1].revents) continue;
    const short ev = fds[1].revents;

    // Read while full reads keep coming; back to poll after a short one.
    // Under a hold limit a read takes the whole room left below it (at
    // least a chunk), so a woken reader catches up in one system call.
    const auto readSize = [&] {
      return hold != 0 && ps.rcount < ps.holdRoom ? std::max(chunk, ps.holdRoom - ps.rcount) : chunk;
    };
    unsigned char* tail;
    size_t want;
    {
      std::lock_guard lk(ps.mu);
      want = readSize();
      tail = ReaderTail(ps, want);
      if (!tail) ps.readerHeld = true;
    }
    bool announce = false;  // data came on an empty buffer; the consumer is not told yet
    size_t burst = 0;       // bytes read since the last announcement
    for (;;) {
      if (!tail) {
        DebugLog("Reader buffer cannot grow; waiting for the consumer.\n");
        break;
      }
      const ssize_t got = line.Read(tail, want);
      if (got > 0) {
        bool more = static_cast<size_t>(got) == want && !ps.ReaderStopping();
        {
          std::lock_guard lk(ps.mu);
          const bool wasEmpty = ps.rcount == 0;
          COMPORT::fInQueueResting = wasEmpty ? 1 : 0;
          announce |= wasEmpty;
          ps.rcount += static_cast<size_t>(got);
          if (hold != 0 && ps.rcount >= ps.holdRoom) more = false;
          if (more) {
            want = readSize();
            tail = ReaderTail(ps, want);
            if (!tail) ps.readerHeld = true;
          }
        }
        burst += static_cast<size_t>(got);
        if (announce && (!more || burst >= NOTIFY_BATCH)) {
          AnnounceData(ps);
          announce = false;
          burst = 0;
        }
        if (more) continue;
        break;
      }
      if (announce) AnnounceData(ps);
      announce = false;
      if (got < 0 && errno == EAGAIN) {
        // Nothing there.  A hang-up with nothing left to read is the end.
        if ((ev & (POLLHUP | POLLERR | POLLNVAL)) && !(ev & POLLIN)) {
          MarkLineClosed(ps);
          return;
        }
        break;
      }
      // End of line: the peer closed (0), the pty's other side went away
      // (EIO), or the descriptor failed.  What was read stays in the buffer.
      if (got < 0 && errno != EIO) {
        ps.ioErrors.fetch_add(1);
        DebugLogF("Line read failed: %s\n", std::strerror(errno));
      }
      MarkLineClosed(ps);
      return;
    }
    if (announce) AnnounceData(ps);
  }
}

// --- writer thread -----------------------------------------------------------

void WriterThread(PORTSTATE* p) {
  PORTSTATE& ps = *p;
  LINE& line = *ps.line;
  const int wfd = line.WriteFd() >= 0 ? line.WriteFd() : line.Fd();

  while (!ps.stop) {
    size_t n = 0;
    bool held = false;
    const unsigned char* from = nullptr;
    std::uint64_t gen = 0;
    {
      std::lock_guard lk(ps.mu);
      if (ps.writeFailed) ps.wrd = ps.wwr;  // nothing can go out any more
      n = ps.Queued();
      if (n == 0) {
        ps.writerIdle = true;
      } else if (ps.breakActive) {
        held = true;
      } else {
        // The live bytes up to the ring's end go in one write; what wrapped
        // to the front goes in the next.
        const size_t at = static_cast<size_t>(ps.wrd % COMPORT::SEND_RING);
        n = std::min(n, COMPORT::SEND_RING - at);
        from = ps.wbuf.get() + at;
        ps.writing = true;
        ps.wbusy = ps.wrd;
        gen = ps.wgen;
      }
    }
    if (n == 0) {
      ps.writerWake.Wait(-1);
      std::lock_guard lk(ps.mu);
      ps.writerIdle = false;
      ps.writerWakePosted = false;
      continue;
    }
    if (held) {
      // A break is being held on the line: the data waits for its end.
      ps.writerWake.Wait(BREAK_POLL_MS);
      continue;
    }
    const ssize_t w = line.Write(from, n);
    const int err = errno;
    bool roomNews = false;
    {
      std::lock_guard lk(ps.mu);
      ps.writing = false;
      // Without a Flush only this thread removes bytes, so the written ones
      // are still at the front.
      if (w > 0 && gen == ps.wgen) ps.wrd += static_cast<std::uint64_t>(w);
      roomNews = ps.roomWanted != 0 && ps.Free() >= ps.roomWanted;
    }
    if (roomNews) ps.dataCv.notify_all();
    if (w > 0) continue;
    if (w < 0 && err == EAGAIN) {
      pollfd fds[2] = {{ps.writerWake.Fd(), POLLIN, 0}, {wfd, POLLOUT, 0}};
      if (Poll(fds, 2, WRITE_WAIT_MS) == 0) DebugLog("Write did not complete within 60 seconds.\n");
      if (fds[0].revents) ps.writerWake.Clear();
      continue;
    }
    DebugLogF("Line write failed: %s\n", w < 0 ? std::strerror(err) : "nothing written");
    {
      std::lock_guard lk(ps.mu);
      ps.writeFailed = true;
    }
    ps.dataCv.notify_all();  // a consumer waiting for room learns it at once
  }
}

// --- shared helpers (UI thread) ----------------------------------------------

void IgnoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

// Ends a held break (if any) and makes a pending break timer do nothing.
void EndBreak() {
  ++breakSerial;
  if (port && port->breakActive) {
    port->line->SetBreak(false);
    port->breakActive = false;
    port->writerWake.Signal();
  }
}

// Stops both threads and closes the line.
void ShutDownLine() {
  if (!port) return;
  EndBreak();
  port->stop = true;
  port->readerWake.Signal();
  port->writerWake.Signal();
  if (port->reader.joinable()) port->reader.join();
  if (port->writer.joinable()) port->writer.join();
  delete port;  // closes the line
  port = nullptr;
}

// Puts bytes, already in their line form, into the writer buffer as a whole;
// refuses them all with "送信不能" when they do not fit.
bool QueueBytes(const unsigned char* data, size_t n) {
  if (!port) return false;
  {
    std::lock_guard lk(port->mu);
    if (port->Queued() + n <= static_cast<size_t>(COMPORT::WRITE_BUFFER) && port->Free() >= n) {
      port->Append(data, n);
      if (port->NeedWriterWake()) port->writerWake.Signal();
      return true;
    }
  }
  ErrorMessage(std::string(kCannotSend));
  return false;
}

// Sends what the pause buffer holds, as SendSettle would, and leaves the
// pause on with an empty buffer.
void FlushPauseBuffer() {
  if (COMPORT::cbTransmitSuspending == 0) return;
  const int n = COMPORT::cbTransmitSuspending;
  COMPORT::cbTransmitSuspending = 0;
  COMPORT::cSent += n;
  QueueBytes(pbTransmit.get(), static_cast<size_t>(n));
}

// Adds bytes, already in their line form, to the pause buffer.  A pause that
// would overflow is sent early (the packet then reaches the writer in two
// pieces rather than losing bytes); a block larger than the whole pause
// buffer goes to the writer buffer directly behind it.
void PauseAppend(const unsigned char* data, size_t n) {
  if (static_cast<size_t>(COMPORT::cbTransmitSuspending) + n > static_cast<size_t>(COMPORT::WRITE_BUFFER))
    FlushPauseBuffer();
  if (n > static_cast<size_t>(COMPORT::WRITE_BUFFER)) {
    COMPORT::cSent += static_cast<int>(n);
    QueueBytes(data, n);
    return;
  }
  std::memcpy(pbTransmit.get() + COMPORT::cbTransmitSuspending, data, n);
  COMPORT::cbTransmitSuspending += static_cast<int>(n);
}

// Telnet form of a block: IAC doubled, CR followed by NUL unless binary.
size_t TelnetSize(const unsigned char* data, size_t len) {
  size_t n = len;
  for (size_t i = 0; i < len; ++i)
    if (data[i] == IAC || (data[i] == CR && !COMPORT::fTelnetBinary)) ++n;
  return n;
}

unsigned char* TelnetEncode(const unsigned char* data, size_t len, unsigned char* out) {
  for (size_t i = 0; i < len; ++i) {
    *out++ = data[i];
    if (data[i] == IAC)
      *out++ = IAC;
    else if (data[i] == CR && !COMPORT::fTelnetBinary)
      *out++ = 0;
  }
  return out;
}

// The same into the writer ring (room for the encoded size); mu held.
void TelnetEncodeToRing(PORTSTATE& ps, const unsigned char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    ps.Put(data[i]);
    if (data[i] == IAC)
      ps.Put(IAC);
    else if (data[i] == CR && !COMPORT::fTelnetBinary)
      ps.Put(0);
  }
}

// The text path's sink: shift sequences go out plain, characters with echo.
class PORTSINK : public SENDSINK {
 public:
  void Sub(unsigned char c) override { COMPORT::SendSub(static_cast<char>(c)); }
  void WithEcho(unsigned char send, unsigned char echo) override {
    COMPORT::SendWithEcho(static_cast<char>(send), static_cast<char>(echo));
  }
};

}  // namespace

// --- opening and closing -----------------------------------------------------

bool COMPORT::IsOpen() { return port != nullptr; }

int COMPORT::Open(int portNo) {
  if (port) {
    tOpen = GetTick();
    return 1;
  }
  const std::string path = ComDevicePath(portNo);
  if (path.empty()) return 0;
  return OpenPath(path.c_str());
}

int COMPORT::OpenPath(const char* path) {
  if (port) {
    tOpen = GetTick();
    return 1;
  }
  auto dev = SERIALDEVICE::Open(path);
  if (!dev) {
    DebugLogF("Cannot open %s: %s\n", path ? path : "(null)", std::strerror(errno));
    return 0;
  }
  return Start(std::move(dev));
}

int COMPORT::Start(std::unique_ptr<LINE> line) {
  if (!line || port) return 0;
  IgnoreSigpipeOnce();
  auto ps = std::make_unique<PORTSTATE>();
  if (!ps->readerWake.Valid() || !ps->writerWake.Valid()) {
    DebugLogF("Cannot create the port's wake-up descriptors: %s\n", std::strerror(errno));
    return 0;
  }
  ps->rbuf = static_cast<unsigned char*>(std::malloc(READER_INITIAL));
  if (!ps->rbuf) {
    NotEnoughMemory();
    return 0;
  }
  ps->rcap = READER_INITIAL;
  ps->line = std::move(line);
  ps->holdLimit = ps->line->HoldLimit();
  ps->holdRoom = ps->holdLimit;
  fSocket = ps->line->IsSocket() ? 1 : 0;
  port = ps.release();

  // What OpenSub does: empty queues, DTR up, no stale line status, and fresh
  // code-conversion state so the last call's kanji mode cannot leak into this one.
  Flush();
  RestoreHangup();
  fCdChanged = 0;
  decoder.Reset();
  encoder.Reset();
  cbThreadRead = 0;
  fInQueueResting = 1;
  tOpen = GetTick();

  try {
    port->reader = std::thread(ReaderThread, port);
    port->writer = std::thread(WriterThread, port);
  } catch (const std::system_error& e) {
    DebugLogF("Cannot start the port threads: %s\n", e.what());
    ShutDownLine();
    fSocket = 0;
    return 0;
  }
  return 1;
}

void COMPORT::Close() {
  fBinaryMode = 0;
  ShutDownLine();
  fSocket = 0;
  pbTransmit.reset();
  fTransmitPaused = 0;
  cbTransmitSuspending = 0;
  cbThreadRead = 0;
  iTakeout = 0;
  cchReceived = 0;
  cchReceivedTotal = 0;
}

void COMPORT::Flush() {
  iTakeout = 0;
  cchReceived = 0;
  if (!port) return;
  DropOutput();
  port->line->TakeLineErrors();
  port->ioErrors = 0;
}

void COMPORT::TerminateReadThread() {
  if (!port) return;
  port->readTerminating = true;
  port->readerWake.Signal();
}

void COMPORT::CheckWriteThread() {
  if (!port) return;
  std::lock_guard lk(port->mu);
  if (port->NeedWriterWake()) port->writerWake.Signal();
}

// --- line parameters and signals ---------------------------------------------

int COMPORT::SetComParam(int baud, STOPBIT stop, FLOWCONTROL flow, int parity) {
  if (!port) return 0;
  if (fSocket) return 1;
  const bool ok = port->line->SetParams(baud, stop, flow, parity);
  if (!ok) DebugLogF("Line settings refused (%d bps): %s\n", baud, std::strerror(errno));
  RestoreHangup();
  return ok ? 1 : 0;
}

int COMPORT::GetBaudrate() {
  if (!port || fSocket) return -1;
  return port->line->GetBaudrate();
}

void COMPORT::Hangup() {
  decoder.Reset();
  encoder.Reset();
  if (!port) return;
  if (fSocket) {
    // The socket goes away with its threads; Close later clears fSocket.
    ShutDownLine();
    return;
  }
  port->line->SetDtr(false);
}

void COMPORT::RestoreHangup() {
  if (port && !fSocket) port->line->SetDtr(true);
}

// With a Qt application on this thread the break ends from a single-shot
// timer, so the event loop keeps running while it is held.  Without one (the
// command-line tool, tests without an application) SendBreak holds the break
// for ms by sleeping and ends it before returning.
void COMPORT::SendBreak(int ms) {
  if (!port) return;
  if (fSocket) {
    const unsigned char brk[2] = {IAC, TELNET_BREAK};
    if (fTransmitPaused) {
      PauseAppend(brk, 2);
    } else {
      cSent += 2;
      QueueBytes(brk, 2);
    }
    return;
  }
  port->line->SetBreak(true);
  port->breakActive = true;
  const int serial = ++breakSerial;
  QCoreApplication* app = QCoreApplication::instance();
  if (app && app->thread() == QThread::currentThread()) {
    QTimer::singleShot(std::max(ms, 0), app, [serial] {
      if (serial == breakSerial) StopBreak();
    });
    return;
  }
  SleepMs(static_cast<unsigned>(std::max(ms, 0)));
  if (serial == breakSerial) StopBreak();
}

void COMPORT::StopBreak() {
  const bool wasActive = port && port->breakActive;
  EndBreak();
  if (wasActive) port->line->TakeLineErrors();  // the break itself shows up as line errors
}

int COMPORT::GetEvent() {
  if (port) {
    bool closed = port->lineClosed;
    if (closed && fSocket) {
      // A socket's peer close is reported once every byte it sent before
      // closing has been taken from the reader buffer.
      std::lock_guard lk(port->mu);
      closed = port->rcount == 0;
    }
    if (closed || port->writeFailed) {
      fCdChanged = 1;
    } else if (!fSocket && config.CdCheck && fOnline && hostprop.ModemType != MODEM_DIRECT) {
      // A device without modem lines (a pty) answers -1 and counts as carrier present.
      if (port->line->GetCarrier() == 0) fCdChanged = 1;
    }
  }
  return fCdChanged;
}

// --- receive side ------------------------------------------------------------

int COMPORT::DoReceive() {
  if (!port) return 1;
  CheckWriteThread();
  const int errors = port->line->TakeLineErrors() + port->ioErrors.exchange(0);
  if (errors > 0 && config.CheckCommError) fErrorDetect = 1;

  if (iTakeout != 0) {
    std::memmove(szReceived, szReceived + iTakeout, static_cast<size_t>(cchReceived - iTakeout));
    cchReceived -= iTakeout;
    iTakeout = 0;
  }

  unsigned char in[RECEIVE_REFILL];
  size_t n = 0;
  if (cchReceived < RECEIVE_REFILL) {
    bool wake = false, drainedAfterClose = false;
    {
      std::lock_guard lk(port->mu);
      n = std::min(port->rcount, static_cast<size_t>(RECEIVE_REFILL - cchReceived));
      std::memcpy(in, port->rbuf + port->roff, n);
      port->roff += n;
      port->rcount -= n;
      cbThreadRead = static_cast<int>(port->rcount);
      // A held reader goes on once the buffer is down to half its room
      // (or, when it was held for want of memory, once anything was
      // taken).  Waking it at the first byte below the room would cost a
      // wake-up and a context switch for every small read; half the room
      // still leaves this side enough to work on while the reader wakes.
      if (port->readerHeld && n > 0 && (port->holdLimit == 0 || port->rcount <= port->holdRoom / 2)) {
        port->readerHeld = false;
        wake = true;
      }
      drainedAfterClose = n > 0 && port->rcount == 0 && port->lineClosed;
    }
    if (wake) port->readerWake.Signal();
    // The peer's close was announced while its last bytes still waited
    // here; now that they are taken, it is news again (the next pass
    // reports it instead of waiting for the timer).
    if (drainedAfterClose && onDataArrived) onDataArrived();
  }
  if (n == 0) return 1;

  timeAutoHangup = GetTick();
  cchReceivedTotal += static_cast<int>(n);
  const int start = cchReceived;

  // Telnet commands come out of socket data before anything else sees it.
  if (fSocket && telnetReceiveFilter) n = telnetReceiveFilter(in, n);

  // The videotex framing (VideoTex host property) is not built: such hosts
  // are treated as ordinary text hosts.
  unsigned char* out = reinterpret_cast<unsigned char*>(szReceived) + cchReceived;
  if (fBinaryMode) {
    std::memcpy(out, in, n);
    cchReceived += static_cast<int>(n);
  } else {
    cchReceived += static_cast<int>(decoder.Convert(CodeParam(), in, n, out));
  }

  if (config.NoiseMixing) {
    for (int i = start; i < cchReceived; ++i)
      if (NoiseHits()) szReceived[i] = static_cast<char>(NoiseRand() & 0xFF);
  }
  return 1;
}

size_t COMPORT::GetBlock(void* buf, size_t max) {
  const size_t n = std::min(max, static_cast<size_t>(cchReceived - iTakeout));
  std::memcpy(buf, szReceived + iTakeout, n);
  iTakeout += static_cast<int>(n);
  return n;
}

int COMPORT::GetInQueueCount() {
  if (!port) return 0;
  {
    std::lock_guard lk(port->mu);
    cbThreadRead = static_cast<int>(port->rcount);
  }
  return cbThreadRead + (fSocket ? 0 : port->line->DriverInQueue());
}

int COMPORT::SuckReceivedCount() {
  const int n = cchReceivedTotal;
  cchReceivedTotal = 0;
  return n;
}

// Positions are indexes into szReceived.  An insertion into a full array is
// dropped (the refill rule keeps conversions far from that), as is a
// position outside the queue.
void COMPORT::Insert(int at, char c) {
  if (at < 0 || at > cchReceived || cchReceived >= static_cast<int>(sizeof szReceived)) return;
  std::memmove(szReceived + at + 1, szReceived + at, static_cast<size_t>(cchReceived - at));
  szReceived[at] = c;
  ++cchReceived;
}

void COMPORT::Delete(int at) {
  if (at < 0 || at >= cchReceived) return;
  std::memmove(szReceived + at, szReceived + at + 1, static_cast<size_t>(cchReceived - at - 1));
  --cchReceived;
  if (iTakeout > cchReceived) iTakeout = cchReceived;
}

bool COMPORT::WaitReceive(int ms) { return WaitReceiveOrRoom(0, ms); }

// --- send side -----------------------------------------------------------------

void COMPORT::Send(char c) {
  if (config.NoiseMixing && NoiseHits()) c = static_cast<char>(NoiseRand() & 0xFF);
  if (fBinaryMode) {
    SendSub(c);
    if (fSocket && static_cast<unsigned char>(c) == IAC) SendSub(c);
    return;
  }
  PORTSINK sink;
  encoder.Encode(CodeParam(), decoder.fPrintMiss != 0, static_cast<unsigned char>(c), sink);
}

void COMPORT::Send(const char* s) {
  while (*s) Send(*s++);
}

void COMPORT::SendSub(char c) {
  if (!port) return;
  unsigned char b = static_cast<unsigned char>(c);
  if (!fBinaryMode && hostprop.SevenBit && fEvenParity) b = EvenParity(b);
  if (fTransmitPaused) {
    PauseAppend(&b, 1);
    return;
  }
  ++cSent;
  QueueBytes(&b, 1);
}

void COMPORT::SendSub(const char* s) {
  while (*s) SendSub(*s++);
}

// The encoded size is known before anything is queued, so a block is taken
// whole or refused whole; it is never cut short.
void COMPORT::SendBinary(const void* data, int len, int raw) {
  if (!port || !data || len <= 0) return;
  const auto* src = static_cast<const unsigned char*>(data);
  const size_t n = static_cast<size_t>(len);
  // Collected bytes are written raw by SendSettle, so a socket encodes them
  // now whatever raw says.
  const bool telnet = fSocket && (fTransmitPaused || !raw);
  const size_t size = telnet ? TelnetSize(src, n) : n;

  if (fTransmitPaused) {
    if (!telnet) {
      PauseAppend(src, n);
      return;
    }
    std::unique_ptr<unsigned char[]> enc(new (std::nothrow) unsigned char[size]);
    if (!enc) {
      NotEnoughMemory();
      return;
    }
    TelnetEncode(src, n, enc.get());
    PauseAppend(enc.get(), size);
    return;
  }

  cSent += len;
  {
    std::lock_guard lk(port->mu);
    if (port->Queued() + size <= static_cast<size_t>(WRITE_BUFFER) && port->Free() >= size) {
      if (telnet)
        TelnetEncodeToRing(*port, src, n);
      else
        port->Append(src, n);
      if (port->NeedWriterWake()) port->writerWake.Signal();
      return;
    }
  }
  ErrorMessage(std::string(kCannotSend));
}

void COMPORT::SendWithEcho(char send, char echo) {
  if (hostprop.LocalEcho && cchReceived < RECEIVE_QUEUE) {
    szReceived[cchReceived++] = echo;
    if (static_cast<unsigned char>(echo) == CR && (hostprop.ReceiveCROnly || hostprop.SendCRLF) &&
        cchReceived < RECEIVE_QUEUE)
      szReceived[cchReceived++] = static_cast<char>(LF);
  }
  SendSub(send);
  if (fSocket && static_cast<unsigned char>(send) == IAC) SendSub(send);
  if (static_cast<unsigned char>(send) == CR && hostprop.SendCRLF) SendSub(static_cast<char>(LF));
}

// Waits for a lone byte still on its way out (up to 200 ms) before the next
// one, so a slow host's input buffer sees one character at a time.  The wait
// sleeps a millisecond at a time rather than spinning.
void COMPORT::SendSlow(char c) {
  if (GetOutQueueCount() == 1) {
    const TICK t0 = GetTick();
    while (GetOutQueueCount() != 0 && GetTick() - t0 < 200) SleepMs(1);
  }
  Send(c);
  YieldProcessor();
}

void COMPORT::SendSlow(const char* s) {
  while (*s) SendSlow(*s++);
}

void COMPORT::PauseTransmit() {
  if (fTransmitPaused || hostprop.VideoTex) return;
  if (!pbTransmit) {
    pbTransmit.reset(new (std::nothrow) unsigned char[WRITE_BUFFER]);
    if (!pbTransmit) {
      NotEnoughMemory();
      return;
    }
  }
  cbTransmitSuspending = 0;
  fTransmitPaused = 1;
}

void COMPORT::SendSettle() {
  if (!fTransmitPaused) return;
  fTransmitPaused = 0;
  if (cbTransmitSuspending > 0) {
    const int n = cbTransmitSuspending;
    cbTransmitSuspending = 0;
    SendBinary(pbTransmit.get(), n, 1);
  }
}

int COMPORT::GetOutQueueCount() {
  if (!port) return 0;
  int n;
  {
    std::lock_guard lk(port->mu);
    n = static_cast<int>(port->Queued());
  }
  return n + (fSocket ? 0 : port->line->DriverOutQueue());
}

bool COMPORT::SendBulk(const void* data, size_t len) {
  if (!port) return false;
  if (len == 0) return true;
  const auto* src = static_cast<const unsigned char*>(data);
  size_t size = len;
  if (fSocket) {
    // Encoded once here, so the line form can go out at once or into the ring.
    static std::vector<unsigned char> encoded;  // user-interface thread only
    encoded.resize(TelnetSize(src, len));
    TelnetEncode(src, len, encoded.data());
    src = encoded.data();
    size = encoded.size();
  }
  std::unique_lock lk(port->mu);
  if (port->writeFailed) return true;  // nobody takes it; the caller learns it from GetEvent
  if (port->Free() < size) return false;
  cSent += static_cast<int>(len);
  if (port->Queued() == 0 && !port->writing && !port->breakActive) {
    // Nothing waits and the writer is not writing: this thread writes
    // itself, saving the writer's wake-up on every packet of a protocol that
    // waits for an answer to each.  Only this thread appends, so nothing can
    // be queued meanwhile, and the writer, finding nothing, stays idle.
    lk.unlock();
    const ssize_t w = port->line->Write(src, size);
    lk.lock();
    // A refusal other than a full line is left to the writer, which meets
    // it again and reports it.
    if (w > 0) {
      src += w;
      size -= static_cast<size_t>(w);
    }
    if (size == 0) return true;
  }
  port->Append(src, size);
  if (port->NeedWriterWake()) port->writerWake.Signal();
  return true;
}

size_t COMPORT::SendRoom() {
  if (!port) return 0;
  std::lock_guard lk(port->mu);
  return port->Free();
}

void COMPORT::DropOutput() {
  if (!port) return;
  std::lock_guard lk(port->mu);
  port->wrd = port->wwr;
  ++port->wgen;
}

bool COMPORT::WaitReceiveOrRoom(size_t room, int ms) {
  if (IsReceived()) return true;
  if (!port) return false;
  room = std::min(room, static_cast<size_t>(SEND_RING));
  std::unique_lock lk(port->mu);
  // A wait for room also ends when the line refuses bytes for good (no room
  // will come); a wait for data only does not.
  const auto ready = [room] {
    return port->rcount > 0 || port->lineClosed.load() ||
           (room != 0 && (port->writeFailed.load() || port->Free() >= room));
  };
  if (ready()) {
    cbThreadRead = static_cast<int>(port->rcount);
    return true;
  }
  port->roomWanted = room;
  const bool done = port->dataCv.wait_for(lk, std::chrono::milliseconds(std::max(ms, 0)), ready);
  port->roomWanted = 0;
  cbThreadRead = static_cast<int>(port->rcount);
  return done;
}

void COMPORT::SetLocalEchoOff() {
  fSavedLocalEcho = hostprop.LocalEcho;
  hostprop.LocalEcho = 0;
}

void COMPORT::RestoreLocalEcho() { hostprop.LocalEcho = fSavedLocalEcho; }

size_t COMPORT::ReaderRoomForTest() {
  if (!port) return 0;
  std::lock_guard lk(port->mu);
  return port->holdRoom;
}

void COMPORT::ResetForTest() {
  Close();
  ++breakSerial;
  fSocket = 0;
  tOpen = 0;
  fInQueueResting = 1;
  fBinaryMode = 0;
  fEvenParity = 0;
  fSavedLocalEcho = 0;
  fTransmitPaused = 0;
  cbTransmitSuspending = 0;
  fCdChanged = 0;
  fErrorDetect = 0;
  fTelnetBinary = 0;
  fReceivedVtxBinaryStartup = 0;
  cbThreadRead = 0;
  std::memset(szReceived, 0, sizeof szReceived);
  cchReceived = 0;
  iTakeout = 0;
  cchReceivedTotal = 0;
  cSent = 0;
  decoder.Reset();
  encoder.Reset();
  timeAutoHangup = 0;
  onDataArrived = nullptr;
  noiseSeed = 1;
}
