#include "platform/serialdevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

struct Speed {
  int baud;
  speed_t constant;
};
constexpr Speed kSpeeds[] = {
    {50, B50},          {75, B75},          {110, B110},        {134, B134},        {150, B150},
    {200, B200},        {300, B300},        {600, B600},        {1200, B1200},      {1800, B1800},
    {2400, B2400},      {4800, B4800},      {9600, B9600},      {19200, B19200},    {38400, B38400},
    {57600, B57600},    {115200, B115200},  {230400, B230400},  {460800, B460800},  {500000, B500000},
    {576000, B576000},  {921600, B921600},  {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

int TcSetAttr(int fd, const termios& t) {
  int r;
  do {
    r = tcsetattr(fd, TCSANOW, &t);
  } while (r < 0 && errno == EINTR);
  return r;
}

// The sum of the counters that mean a damaged or lost byte.
bool ErrorCount(int fd, long* sum) {
  serial_icounter_struct ic{};
  if (Ioctl(fd, TIOCGICOUNT, &ic) < 0) return false;
  *sum = static_cast<long>(ic.overrun) + ic.buf_overrun + ic.parity + ic.frame;
  return true;
}

ComDeviceSettingFn comDeviceSetting = nullptr;

}  // namespace

void SetComDeviceSetting(ComDeviceSettingFn lookup) { comDeviceSetting = lookup; }

std::string ComDevicePath(int port) {
  if (port < 0 || port >= kComDevicePorts) return {};
  if (comDeviceSetting) {
    std::string set = comDeviceSetting(port);
    if (!set.empty()) return set;
  }
  const std::string var = "QUILLNET_COMDEVICE" + std::to_string(port + 1);
  if (const char* env = std::getenv(var.c_str()); env && *env) return env;
  return "/dev/ttyS" + std::to_string(port);
}

bool SERIALDEVICE::SpeedToConstant(int baud, speed_t* out) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) {
      *out = s.constant;
      return true;
    }
  }
  return false;
}

int SERIALDEVICE::ConstantToSpeed(speed_t constant) {
  for (const Speed& s : kSpeeds)
    if (s.constant == constant) return s.baud;
  return -1;
}

std::unique_ptr<SERIALDEVICE> SERIALDEVICE::Open(const char* path) {
  if (!path || !*path) {
    errno = ENOENT;
    return nullptr;
  }
  int fd;
  do {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  auto fail = [fd](int err) -> std::unique_ptr<SERIALDEVICE> {
    close(fd);
    errno = err;
    return nullptr;
  };
  termios saved;
  if (tcgetattr(fd, &saved) < 0) return fail(ENOTTY);
  // TIOCEXCL keeps other openers out (except a privileged one); the flock is
  // what two cooperating programs, or two instances of this one, both see.
  if (flock(fd, LOCK_EX | LOCK_NB) < 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (Ioctl(fd, TIOCEXCL, nullptr) < 0) return fail(errno);

  termios t = saved;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;  // carrier is watched through TIOCMGET, not by the driver
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (TcSetAttr(fd, t) < 0) return fail(errno);

  std::unique_ptr<SERIALDEVICE> dev(new SERIALDEVICE(fd, saved));
  return dev;
}

SERIALDEVICE::SERIALDEVICE(int fd_, const termios& saved_) : fd(fd_), saved(saved_) {
  haveCounters = ErrorCount(fd, &errorBase);
}

SERIALDEVICE::~SERIALDEVICE() {
  // Put the device back as we found it; a device whose other end is gone may
  // refuse, which does not matter any more.
  TcSetAttr(fd, saved);
  int zero = 0;
  Ioctl(fd, TIOCNXCL, &zero);
  close(fd);  // also releases the flock
}

ssize_t SERIALDEVICE::Read(void* buf, size_t n) {
  ssize_t r;
  do {
    r = read(fd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

ssize_t SERIALDEVICE::Write(const void* buf, size_t n) {
  ssize_t r;
  do {
    r = write(fd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

void SERIALDEVICE::SetFrame(termios& t, int stop, int flow, int parity) {
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  if (parity == 1 || parity == 2) t.c_cflag |= PARENB;
  if (parity == 2) t.c_cflag |= PARODD;
  if (stop != 0) t.c_cflag |= CSTOPB;
  // Received parity is not checked: bytes with a bad parity bit pass as they
  // are, and NUL bytes are kept (the receive path removes them itself).
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  if (flow == 1) t.c_iflag |= IXON | IXOFF;
  if (flow == 2) t.c_cflag |= CRTSCTS;
}

bool SERIALDEVICE::SetParams(int baud, int stop, int flow, int parity) {
  speed_t speed;
  if (!SpeedToConstant(baud, &speed) || stop < 0 || stop > 2 || flow < 0 || flow > 2 || parity < 0 || parity > 2) {
    errno = EINVAL;
    return false;
  }
  termios t;
  if (tcgetattr(fd, &t) < 0) return false;
  cfsetspeed(&t, speed);
  SetFrame(t, stop, flow, parity);
  if (TcSetAttr(fd, t) < 0) return false;
  // tcsetattr succeeds when any one change was made; check that the speed
  // took, since that is the one a driver may refuse.
  termios now;
  if (tcgetattr(fd, &now) < 0) return false;
  if (cfgetospeed(&now) != speed) {
    errno = EINVAL;
    return false;
  }
  SetDtr(true);
  return true;
}

int SERIALDEVICE::GetBaudrate() const {
  termios t;
  if (tcgetattr(fd, &t) < 0) return -1;
  return ConstantToSpeed(cfgetospeed(&t));
}

void SERIALDEVICE::SetDtr(bool on) {
  int bits = TIOCM_DTR;
  Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);  // ptys have no DTR: ENOTTY, ignored
}

void SERIALDEVICE::SetBreak(bool on) { Ioctl(fd, on ? TIOCSBRK : TIOCCBRK, nullptr); }

int SERIALDEVICE::GetCarrier() const {
  int bits = 0;
  if (Ioctl(fd, TIOCMGET, &bits) < 0) return -1;  // ENOTTY/EINVAL: no modem lines (a pty)
  return (bits & TIOCM_CD) ? 1 : 0;
}

int SERIALDEVICE::TakeLineErrors() {
  if (!haveCounters) return 0;
  long sum;
  if (!ErrorCount(fd, &sum)) return 0;
  long delta = sum - errorBase;
  errorBase = sum;
  return delta > 0 ? static_cast<int>(delta) : 0;
}

int SERIALDEVICE::DriverInQueue() const {
  int n = 0;
  return Ioctl(fd, FIONREAD, &n) < 0 ? 0 : n;
}

int SERIALDEVICE::DriverOutQueue() const {
  int n = 0;
  return Ioctl(fd, TIOCOUTQ, &n) < 0 ? 0 : n;
}

void SERIALDEVICE::DriverFlush() {
  while (tcflush(fd, TCIOFLUSH) < 0 && errno == EINTR) {
  }
}
