// TRANSFERLINE: the byte channel a protocol engine pumps.
//
// An engine never touches COMPORT directly: it reads what arrived, queues
// whole packets and asks how much still waits to go out.  Three lines stand
// behind the interface:
//
//   COMPORTLINE   the program's port (binary mode), also the tool's --line
//                 and --telnet;
//   FDTRANSFERLINE standard input and output of quillnet-tool (or any pair of
//                 descriptors), with its own output buffer;
//   MEMORYLINE    two ends joined in memory, so a sender and a receiver run
//                 against each other in one thread (tests, fuzzing).
//
// Write takes a packet whole or not at all: when there is no room the engine
// keeps the packet and tries again on a later step, so nothing is ever cut and
// "送信不能" never shows during a transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/tick.h"

class TRANSFERLINE {
 public:
  virtual ~TRANSFERLINE() = default;
  // Takes up to max received bytes into buf; 0 when nothing is there now.
  virtual size_t Read(unsigned char* buf, size_t max) = 0;
  // Queues the n bytes whole; false (nothing queued) when there is no room now.
  virtual bool Write(const void* data, size_t n) = 0;
  // Room for one Write now (bytes).
  virtual size_t Room() = 0;
  // Bytes queued and not yet handed to the line.
  virtual size_t OutQueue() = 0;
  // Drops what waits in both directions (a cancel).
  virtual void Purge() = 0;
  // Drops what waits to be sent and has not reached the line yet (a ZMODEM
  // restart: stale data would only bury the new position's header).
  virtual void DropOutput() {}
  // The line went away (peer closed, carrier lost).  Bytes already received
  // are still readable.
  virtual bool Lost() = 0;
  // Waits up to ms for received bytes, room to write or the line's loss; an
  // idle engine step costs no processor time this way.
  virtual void Wait(int ms) = 0;
  // Hands queued bytes on (where the line buffers itself); true when all went.
  virtual bool Drain(int ms) { (void)ms; return OutQueue() == 0; }
  // The clock of this line's transfer.
  virtual TICK Now() { return GetTick(); }
  // Puts n bytes taken by Read back in front of what is still unread, so the
  // next reader (the terminal, once a transfer ends) gets them in order.
  // Returns how many it kept, counted from the front of data (a line may
  // have room for fewer).
  virtual size_t Unread(const unsigned char* data, size_t n) { (void)data; (void)n; return 0; }
};

// The program's port.  The port must be open; binary mode is set by the
// framework (BeginUpload/BeginDownload), not here.  Packets go straight into
// the port's send ring (COMPORT::SendBulk, up to COMPORT::SEND_RING bytes
// queued); an idle Wait with output queued sleeps until a quarter of the
// ring has gone out or data comes.
class COMPORTLINE : public TRANSFERLINE {
 public:
  size_t Read(unsigned char* buf, size_t max) override;
  bool Write(const void* data, size_t n) override;
  size_t Room() override;
  size_t OutQueue() override;
  void Purge() override;
  void DropOutput() override;
  bool Lost() override;
  void Wait(int ms) override;
  bool Drain(int ms) override;
  size_t Unread(const unsigned char* data, size_t n) override;

 private:
  bool lost = false;
};

// Two descriptors (the tool's standard input and output).  Bytes to send
// collect in an output buffer of `room` bytes and are written whenever the
// descriptor takes them; Read returns what one non-blocking read gives.
// With a noise seed, received and sent bytes are each replaced by a
// pseudo-random byte with probability 6 in 32768 (the port's NoiseMixing).
class FDTRANSFERLINE : public TRANSFERLINE {
 public:
  FDTRANSFERLINE(int readFd, int writeFd, size_t room = 262144);
  ~FDTRANSFERLINE() override;
  void SetNoise(std::uint32_t seed) { noise = true; noiseState = seed ? seed : 1; }
  size_t Read(unsigned char* buf, size_t max) override;
  bool Write(const void* data, size_t n) override;
  size_t Room() override;
  size_t OutQueue() override;
  void Purge() override;
  void DropOutput() override;
  bool Lost() override { return lost; }
  void Wait(int ms) override;
  bool Drain(int ms) override;

 private:
  void Flush();  // writes what the descriptor takes without blocking
  bool NoiseHit();
  int rfd, wfd;
  int rflags, wflags;
  std::vector<unsigned char> out;
  size_t outStart = 0;
  size_t room;
  bool lost = false, eof = false;
  bool noise = false;
  std::uint32_t noiseState = 1;
};

// One end of a pair joined in memory.  MakePair gives both ends; bytes
// written on one are read on the other.  `room` bounds each direction's
// queue, so a fast sender is held back as by a real line.  Cut() makes both
// ends lost (a killed peer).  Time is a counter the test advances, or the
// real clock.
class MEMORYLINE : public TRANSFERLINE {
 public:
  struct SHARED;
  static std::pair<std::unique_ptr<MEMORYLINE>, std::unique_ptr<MEMORYLINE>> MakePair(size_t room = 16384);
  ~MEMORYLINE() override;
  size_t Read(unsigned char* buf, size_t max) override;
  bool Write(const void* data, size_t n) override;
  size_t Room() override;
  size_t OutQueue() override;
  void Purge() override;
  bool Lost() override;
  void Wait(int ms) override;
  TICK Now() override;
  size_t Unread(const unsigned char* data, size_t n) override;
  // Both ends: the line is cut.
  void Cut();
  // Both ends: a manual clock (starts at 0), advanced by Advance or by Wait.
  void UseManualClock();
  void Advance(TICK ms);
  // Damages bytes this end sends: fn may change each byte (noise tests).
  void SetDamage(std::uint8_t (*fn)(std::uint8_t c, std::uint64_t index));

 private:
  MEMORYLINE(std::shared_ptr<SHARED> s, int side) : shared(std::move(s)), side(side) {}
  std::shared_ptr<SHARED> shared;
  int side;
  std::uint8_t (*damage)(std::uint8_t, std::uint64_t) = nullptr;
  std::uint64_t sentIndex = 0;
};
