// XMODEM and YMODEM: one sender and one receiver for every variant.
//
// Both are byte pumps over an object that holds all their state.  The driver
// hands received bytes to Input(), calls Process(now) until it returns 0, and
// writes what the engine leaves in `out` to the line.  Time comes in as an
// argument, so a sender and a receiver run against each other in memory with
// a simulated clock, and the same objects run against lrzsz over a pty.
//
// The variants are the transfer protocol numbers:
//   1 XMODEM (checksum)   2 XMODEM/CRC   3 XMODEM-1K
//   8 YMODEM   9 YMODEM-g   10 YMODEM batch   11 YMODEM-g batch
// The sender may move between them in the start-up handshake (NAK asks for
// checksums, "C" for CRC, "G" for the streaming g form); `protocol` holds the
// variant in use and Events::ChangeProtocol reports each change.
//
// Wire rules kept by both sides:
//   - a peer's cancel is two CANs in a row; a local abort (stop, hang-up,
//     time-out, fatal error) sends eight;
//   - the receiver answers the first EOT with NAK and accepts the second, so
//     a noise byte 0x04 between blocks never ends a file early;
//   - the receiver NAKs after 10 s without a whole packet (the part is
//     dropped and what is queued is drained) and gives up after 60 s of
//     silence; a bad packet is NAKed after the queue behind it is drained;
//   - a last piece of 128 bytes or less always goes as one 128-byte block, and
//     a 1024-byte read that yields fewer than 896 bytes goes out as 128-byte
//     blocks;
//   - YMODEM block 0 may come as STX and its name need not be terminated;
//   - both YMODEM-g forms take the data right after the "G" that acknowledges
//     block 0 (no further start character is sent).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/tick.h"

namespace xmodem {

enum : int {
  kXmodem = 1,
  kXmodemCrc = 2,
  kXmodem1K = 3,
  kYmodem = 8,
  kYmodemG = 9,
  kYmodemBatch = 10,
  kYmodemGBatch = 11,
};

constexpr char SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18, SUB = 0x1A;

constexpr int kErrorLimit = 30;         // bad answers or packets in a row
constexpr int kStartLimit = 10;         // start characters a receiver sends
constexpr TICK kStartWaitMs = 3000;     // after each start character
constexpr TICK kAnswerWaitMs = 60000;   // sender: for the receiver's answer
constexpr TICK kSilenceMs = 60000;      // receiver: nothing at all arrives
constexpr TICK kPacketWaitMs = 10000;   // receiver: no whole packet, NAK
constexpr size_t kGQueueLimit = 16384;  // g form: next block once this little is queued (the line never idles)
constexpr int kAbortCans = 8;

bool IsXmodem(int protocol);   // 1 to 3
bool IsYmodem(int protocol);   // 8 to 11
bool IsGForm(int protocol);    // 9, 11
bool IsBatch(int protocol);    // 10, 11
const char* ProtocolName(int protocol);  // "XMODEM", "YMODEM-g(batch)", ...

// The XMODEM CRC-16 (polynomial 0x1021, initial value 0).
uint16_t Crc16(const void* data, size_t n, uint16_t crc = 0);
// The 8-bit sum of the bytes.
uint8_t Checksum(const void* data, size_t n);
// SOH (128 data bytes) or STX (1024), number, complement, data, check.
std::string BuildPacket(uint8_t seq, const void* data, size_t n, bool crc);

// YMODEM block 0 contents: name, NUL, decimal length, blank, octal time.
struct FileInfo {
  std::string name;                 // as on the wire (Shift_JIS)
  int64_t length = -1;              // -1 when not given
  std::optional<int64_t> mtime;     // seconds since 1970 (UTC)
};
// The data of block 0 for a file: 128 bytes, or 1024 when the name needs it.
std::string BuildBlock0(const FileInfo& info);
// Reads block 0's data.  An empty name ends a batch.
FileInfo ParseBlock0(const char* data, size_t n);

// What the engines tell the transfer's display and history.
class Events {
 public:
  virtual ~Events() = default;
  virtual void SetStatus(const char* /*utf8*/) {}
  virtual void AddProcessed(int64_t /*n*/) {}
  virtual void IncRetry() {}
  virtual void ChangeProtocol(int /*protocol*/) {}
  virtual void SetFile(const std::string& /*sjisName*/, int64_t /*total*/) {}
  // One file of the transfer is whole (a history line).
  virtual void FileDone(const std::string& /*sjisName*/, int64_t /*bytes*/) {}
  virtual void Debug(const std::string& /*text*/) {}
};

// The files a sender reads.
class Source {
 public:
  virtual ~Source() = default;
  // Opens the next file: false when there is none.  For the XMODEM variants
  // the first call names the one file; the name is the base name in Shift_JIS.
  virtual bool Next(FileInfo* info) = 0;
  // Reads up to n bytes: the count, 0 at the end, -1 on a read error.
  virtual long Read(char* buf, size_t n) = 0;
  virtual void Close() = 0;
};

// Where a receiver writes.
class Sink {
 public:
  virtual ~Sink() = default;
  // A file begins.  For YMODEM the announced name, length and time; for
  // XMODEM an empty name (the driver chose the file).  1 open, 0 declined by
  // the user, -1 the file cannot be opened.
  virtual int Open(const FileInfo& info) = 0;
  virtual bool Write(const char* data, size_t n) = 0;
  // The file ends: whole (ok) or not.  False when finishing it failed.
  virtual bool Close(bool ok) = 0;
};

// The part both engines share: the queues, the outcome, the abort.
class Engine {
 public:
  virtual ~Engine() = default;
  // Received bytes.
  void Input(const char* data, size_t n) { in.append(data, n); }
  // One bounded step; 0 once the transfer has ended.
  virtual int Process(TICK now) = 0;
  // The state the engine is in (a driver sees whether a step moved it).
  virtual int Phase() const = 0;
  bool Finished() const { return finished; }
  // Received bytes not yet taken.
  size_t Pending() const { return Avail(); }

  // Bytes to send; the driver takes them (and erases what it took).
  std::string out;
  // Bytes the driver still holds for the line besides `out` (g-form pacing).
  size_t lineQueued = 0;
  // Set by the driver: the user stopped, or the line went off.
  bool stop = false;
  bool hangup = false;

  int protocol = 0;
  int error = 0;        // the transfer error number, 0 none
  bool stopped = false; // ended by the user, or a file question declined
  int files = 0;        // files moved whole
  int retries = 0;
  std::string lastStatus;

  // Success: no error, not stopped, and at least one file moved.
  bool Succeeded() const { return finished && error == 0 && !stopped && files > 0; }

 protected:
  Engine(int protocol, Events* events);
  size_t Avail() const { return in.size() - inPos; }
  unsigned char Peek(size_t k = 0) const { return static_cast<unsigned char>(in[inPos + k]); }
  void Take(size_t n);
  void Drain() { Take(Avail()); }
  // 2: CAN CAN at the front (the peer cancelled); 1: a lone CAN is the last
  // byte queued (wait for the next); 0: no cancel at the front.
  int CancelAtFront() const;
  void Send(char c) { out.push_back(c); }
  void Abort(int err);       // eight CANs, end with err
  void End(int err);
  void Status(const char* s);
  void SetProtocol(int p);
  bool CheckStop();          // stop or hang-up: abort; true when ended

  Events* ev;
  std::string in;
  size_t inPos = 0;
  bool finished = false;
  TICK timer = 0;
};

class Sender : public Engine {
 public:
  // flying: overlapping acknowledgements (XMODEM variants only).
  Sender(int protocol, Source* source, Events* events, bool flying, TICK now);
  int Process(TICK now) override;
  int Phase() const override { return state; }

 private:
  enum State {
    Y_START,     // wait for "C" or "G" before block 0
    Y_ACK0,      // wait for block 0's ACK
    X_START,     // wait for the start character of the data
    X_BLOCK,     // read and send the next block
    X_ANSWER,    // wait for ACK or NAK
    X_GDRAIN,    // g form: wait until the line has taken the block
    X_EOT,       // wait for the ACK of EOT
  };
  bool StartChar(TICK now, bool ymodemWrapper);
  bool ReadBlock();
  void SendPacket(TICK now);
  void SendEot(TICK now);
  void FileEnded(TICK now);

  Source* src;
  bool flying;
  bool crc = false;
  bool endOfBatch = false;
  bool haveFile = false;
  State state;
  size_t blockSize;
  uint8_t seq = 1;
  int errors = 0;
  int outstanding = 0;       // flying: blocks sent, not yet acknowledged
  std::string packet;        // the packet last sent (resent on NAK)
  std::string ahead;         // bytes read from the file, not yet sent
  bool sourceEnded = false;
  FileInfo cur;
  int64_t sent = 0;          // data bytes of the current file
};

class Receiver : public Engine {
 public:
  Receiver(int protocol, Sink* sink, Events* events, bool flying, TICK now);
  int Process(TICK now) override;
  int Phase() const override { return state; }

 private:
  enum State {
    Y_START,     // send "C"/"G", wait for block 0
    Y_BLOCK0,    // collect block 0
    X_START,     // send the start character, wait for the first packet
    X_WAIT,      // wait for the next packet
    X_COLLECT,   // collect a data packet
  };
  void StartFile();
  bool Collect(TICK now, bool block0);
  void Block0(TICK now);
  void DataPacket(TICK now);
  void Eot(TICK now);
  void Bad(TICK now, const std::string& why);
  bool PacketTimers(TICK now);

  Sink* sink;
  bool flying;
  bool crc;
  State state;
  int starts = 0;
  int errors = 0;
  uint8_t expect = 1;
  bool ackAhead = false;     // flying: the early ACK is out
  bool eotSeen = false;
  bool fileOpen = false;
  std::string packet;        // the packet being collected
  size_t need = 0;           // its full length
  TICK lastRx = 0;           // last byte received
  TICK lastPacket = 0;       // last whole packet, or last NAK
  FileInfo cur;
  int64_t written = 0;       // data bytes of the current file
};

}  // namespace xmodem
