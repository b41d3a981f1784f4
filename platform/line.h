// LINE: one open connection's byte channel under COMPORT.
//
// A serial device and a socket are two implementations of this small
// interface, so the reader and writer threads, the receive queue and the
// conversions are written once.  A line is a file descriptor that poll() can
// wait on, plus the few operations whose meaning differs per kind.
#pragma once

#include <sys/types.h>

#include <cstddef>

class LINE {
 public:
  virtual ~LINE() = default;
  // Descriptor to poll for reading (and, when WriteFd is -1, for writing).
  virtual int Fd() const = 0;
  // Descriptor to write to when it differs from Fd (a pipe pair); else -1.
  virtual int WriteFd() const { return -1; }
  // Reads what is there without blocking: >0 bytes, 0 end of line (peer
  // closed), -1 with errno (EAGAIN when nothing is there).
  virtual ssize_t Read(void* buf, size_t n) = 0;
  // Writes without blocking: bytes written, or -1 with errno.
  virtual ssize_t Write(const void* buf, size_t n) = 0;
  virtual bool IsSocket() const { return false; }
  // Bytes read per read call (the serial reader takes 256 at a time).
  virtual size_t ReadChunk() const { return 256; }
  // The reader stops reading while its buffer holds this many bytes (0: never;
  // sockets hold the host back through TCP flow control at 20480).
  virtual size_t HoldLimit() const { return 0; }

  // Serial line control; no effect elsewhere.
  virtual bool SetParams(int /*baud*/, int /*stop*/, int /*flow*/, int /*parity*/) { return true; }
  virtual int GetBaudrate() const { return -1; }
  virtual void SetDtr(bool /*on*/) {}
  virtual void SetBreak(bool /*on*/) {}
  // Carrier detect: 1 present, 0 lost, -1 unknown (ptys have no modem lines).
  virtual int GetCarrier() const { return -1; }
  // New line errors (overrun, parity, framing, I/O) since the last call.
  virtual int TakeLineErrors() { return 0; }
  // Bytes waiting in the driver's input and output queues.
  virtual int DriverInQueue() const { return 0; }
  virtual int DriverOutQueue() const { return 0; }
  // Discards what the driver holds in both directions.
  virtual void DriverFlush() {}
};
