// SERIALDEVICE: a LINE over a termios serial device (or a pty standing in
// for one).
//
// The device is opened exclusive (TIOCEXCL, and an flock that another holder
// of the same device would hold too, so a busy device fails to open), in raw
// mode with 8 data bits, and non-blocking: the port's reader waits in poll().
// Ptys have no modem lines and count no line errors; the queries answer
// "unknown" (carrier) or nothing (errors) there instead of failing.
#pragma once

#include <termios.h>

#include <memory>
#include <string>

#include "platform/line.h"

// Serial port numbers run 0..8 (COM1 to COM9).
constexpr int kComDevicePorts = 9;

// Device path of port number `port` (0-based, 0..8): the ComDevice<port+1>
// setting when set, else the environment variable QUILLNET_COMDEVICE<port+1>
// when set, else /dev/ttyS<port>.  Empty for a port number out of range.
std::string ComDevicePath(int port);

// Where ComDevicePath reads the ComDevice<n> settings: the settings
// (shell/config) install a lookup that returns the path set for a port number
// (0..8), empty when none is set.  Without one (a program that keeps no
// settings) only the environment and /dev/ttyS<n> count.
using ComDeviceSettingFn = std::string (*)(int port);
void SetComDeviceSetting(ComDeviceSettingFn lookup);

class SERIALDEVICE : public LINE {
 public:
  // Opens an existing device.  Null on failure with errno set (EBUSY when
  // another holder has it, ENOTTY when the path is not a terminal).
  static std::unique_ptr<SERIALDEVICE> Open(const char* path);
  ~SERIALDEVICE() override;
  SERIALDEVICE(const SERIALDEVICE&) = delete;
  SERIALDEVICE& operator=(const SERIALDEVICE&) = delete;

  int Fd() const override { return fd; }
  ssize_t Read(void* buf, size_t n) override;
  ssize_t Write(const void* buf, size_t n) override;
  // Bytes per read call.  4096: the reader still loops at once while full
  // reads arrive, but a fast line costs one read (and, on a pty, one kernel
  // work item) per 4 KiB rather than per 256 bytes.  The pty benchmark
  // compares sizes through SetReadChunk.
  size_t ReadChunk() const override { return readChunk; }
  void SetReadChunk(size_t n) { readChunk = n ? n : 1; }

  // baud: bits per second, one of the speeds termios names (B50..B4000000);
  // another speed fails with EINVAL and leaves the line as it was.
  // stop: 0 one stop bit, 1 (one and a half; Linux has none: two) and 2 two.
  // flow: 0 none, 1 XON/XOFF both ways, 2 RTS/CTS.  parity: 0 none, 1 even,
  // 2 odd (a parity bit after eight data bits; another value fails with EINVAL).
  bool SetParams(int baud, int stop, int flow, int parity) override;
  // The frame, flow control and raw input flags SetParams gives a line.
  static void SetFrame(termios& t, int stop, int flow, int parity);
  int GetBaudrate() const override;
  void SetDtr(bool on) override;
  void SetBreak(bool on) override;
  int GetCarrier() const override;
  int TakeLineErrors() override;
  int DriverInQueue() const override;
  int DriverOutQueue() const override;
  void DriverFlush() override;

  // The termios constant for a speed in bits per second; false when none.
  static bool SpeedToConstant(int baud, speed_t* out);
  // Bits per second for a termios constant; -1 when unknown.
  static int ConstantToSpeed(speed_t constant);

 private:
  explicit SERIALDEVICE(int fd, const termios& saved);
  int fd;
  termios saved;         // the device's settings before we took it, put back at close
  bool haveCounters;     // TIOCGICOUNT works on this device
  size_t readChunk = 4096;
  long errorBase = 0;    // error counter sum already reported
};
