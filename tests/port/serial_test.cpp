// COMPORT over a real serial line: one end of a pty pair published by socat,
// with a peer script behind socat's other end.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "platform/jcode.h"
#include "platform/serialdevice.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/linecode.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/pty_peer.h"

namespace {

using namespace std::chrono_literals;

// The peer waits for the test to create $PEER_DIR/go (at most 10 s), so that
// nothing is sent before the port has the device open.
const std::string kWaitForGo =
    "n=0; while [ ! -e \"$PEER_DIR/go\" ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done\n";

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// About `size` bytes of Shift_JIS text: numbered lines of kanji (JIS rows
// 0x21-0x24 and 0x30-0x4F) and ASCII, CR LF line ends.
std::string ShiftJisText(size_t size) {
  std::string text;
  int row = 0x30, cell = 0x21, line = 0;
  while (text.size() < size) {
    text += "Line " + std::to_string(line++) + ": ";
    for (int i = 0; i < 40; ++i) {
      unsigned char s1, s2;
      jcode::JisToSjis(static_cast<unsigned char>(row), static_cast<unsigned char>(cell), &s1, &s2);
      text.push_back(static_cast<char>(s1));
      text.push_back(static_cast<char>(s2));
      if (++cell > 0x7E) {
        cell = 0x21;
        row = row == 0x24 ? 0x30 : row == 0x4F ? 0x21 : row + 1;
      }
      if (i % 13 == 12) text += " ok ";
    }
    text += "\r\n";
  }
  return text;
}

// Length of the text as the port's encoder puts it on the line.
size_t EncodedLength(const LINECODEPARAM& param, const std::string& text) {
  struct COUNTER : SENDSINK {
    size_t n = 0;
    void Sub(unsigned char) override { ++n; }
    void WithEcho(unsigned char, unsigned char) override { ++n; }
  } counter;
  SENDENCODER enc;
  for (char c : text) enc.Encode(param, false, static_cast<unsigned char>(c), counter);
  return counter.n;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    COMPORT::ResetForTest();
    hostprop.SetDefault();
    config.SetDefault();
    fOnline = 0;
  }

  // Starts a peer and opens the port on its device.
  std::unique_ptr<PtyPeer> OpenPeer(const std::string& script) {
    auto peer = std::make_unique<PtyPeer>(script);
    std::string error;
    if (!peer->Start(&error)) {
      ADD_FAILURE() << error;
      return nullptr;
    }
    if (COMPORT::OpenPath(peer->Device().c_str()) != 1) {
      ADD_FAILURE() << "cannot open " << peer->Device();
      return nullptr;
    }
    return peer;
  }

  static void Go(const PtyPeer& peer) { ASSERT_TRUE(WriteWholeFile(peer.File("go"), "")); }
};

TEST(ComDevicePath, SettingThenEnvironmentThenTtyS) {
  config.SetDefault();
  unsetenv("QUILLNET_COMDEVICE3");
  EXPECT_EQ(ComDevicePath(0), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(8), "/dev/ttyS8");
  EXPECT_EQ(ComDevicePath(-1), "");
  EXPECT_EQ(ComDevicePath(9), "");
  setenv("QUILLNET_COMDEVICE3", "/dev/ttyUSB0", 1);
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyS1");
  config.ComDevice[2] = "/dev/ttyACM1";
  EXPECT_EQ(ComDevicePath(2), "/dev/ttyACM1");
  unsetenv("QUILLNET_COMDEVICE3");
  config.SetDefault();
}

TEST_F(SerialTest, OpenFailsCleanlyOnMissingOrUnsuitableDevices) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("plain"), "not a tty"));
  EXPECT_EQ(COMPORT::OpenPath(dir.File("missing").c_str()), 0);
  EXPECT_EQ(COMPORT::OpenPath(dir.File("plain").c_str()), 0);
  EXPECT_EQ(COMPORT::OpenPath(""), 0);
  config.ComDevice[3] = dir.File("missing");
  EXPECT_EQ(COMPORT::Open(3), 0);
  EXPECT_EQ(COMPORT::Open(9), 0);
  EXPECT_FALSE(COMPORT::IsOpen());
}

TEST_F(SerialTest, BusyDeviceIsRefused) {
  PtyPeer peer("sleep 30\n");
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;
  {
    // Another instance of the program holds it.
    auto holder = SERIALDEVICE::Open(peer.Device().c_str());
    ASSERT_TRUE(holder);
    EXPECT_EQ(SERIALDEVICE::Open(peer.Device().c_str()), nullptr);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(COMPORT::OpenPath(peer.Device().c_str()), 0);
  }
  {
    // Another program that locks the device the usual way.
    UniqueFd fd(open(peer.Device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(fd.Get(), 0);
    ASSERT_EQ(flock(fd.Get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(COMPORT::OpenPath(peer.Device().c_str()), 0);
  }
  EXPECT_EQ(COMPORT::OpenPath(peer.Device().c_str()), 1);
}

TEST_F(SerialTest, OpenByPortNumberAndAgainWhileOpen) {
  PtyPeer peer("sleep 30\n");
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;
  config.ComDevice[0] = peer.Device();
  ASSERT_EQ(COMPORT::Open(0), 1);
  EXPECT_EQ(COMPORT::fSocket, 0);
  const TICK first = COMPORT::tOpen;
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(COMPORT::Open(0), 1);  // already open: only the time is refreshed
  EXPECT_GT(COMPORT::tOpen, first);
  EXPECT_TRUE(COMPORT::IsOpen());
}

// Ptys drop the parity flags, so the frame SetParams asks for is checked on
// its own: none, even and odd parity after eight data bits.
TEST_F(SerialTest, ParityChoicesMakeTheFrame) {
  struct Case {
    int parity;
    bool parenb, parodd;
  } cases[] = {{0, false, false}, {1, true, false}, {2, true, true}};
  for (const auto& c : cases) {
    termios t{};
    t.c_cflag = PARODD | PARENB | CS7;  // what an earlier setting left
    SERIALDEVICE::SetFrame(t, 0, 0, c.parity);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parenb) << c.parity;
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parodd) << c.parity;
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << c.parity;
  }
  PtyPeer peer("sleep 30\n");
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;
  auto dev = SERIALDEVICE::Open(peer.Device().c_str());
  ASSERT_TRUE(dev);
  EXPECT_TRUE(dev->SetParams(9600, 0, 0, 2));
  EXPECT_FALSE(dev->SetParams(9600, 0, 0, 3));
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(SerialTest, LineSettingsReachTheDevice) {
  struct Case {
    int baud, stop, flow, parity;
    bool stopBits2, ixon, crtscts;
  } cases[] = {
      {2400, 0, 0, 0, false, false, false},     {9600, 2, 1, 0, true, true, false},
      {115200, 0, 2, 1, false, false, true},    {38400, 1, 0, 1, true, false, false},
      {4000000, 0, 1, 0, false, true, false},
  };
  PtyPeer peer("sleep 30\n");
  std::string error;
  ASSERT_TRUE(peer.Start(&error)) << error;
  auto dev = SERIALDEVICE::Open(peer.Device().c_str());
  ASSERT_TRUE(dev);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    ASSERT_TRUE(dev->SetParams(c.baud, c.stop, c.flow, c.parity));
    termios t;
    ASSERT_EQ(tcgetattr(dev->Fd(), &t), 0);
    speed_t speed;
    ASSERT_TRUE(SERIALDEVICE::SpeedToConstant(c.baud, &speed));
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(dev->GetBaudrate(), c.baud);
    EXPECT_EQ((t.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits2);
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.ixon);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.ixon);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    // Raw: nothing done to the bytes either way.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    // (Ptys drop PARENB whatever is asked, so parity cannot be seen here.)
  }
  // A speed termios has no name for is refused and changes nothing.
  EXPECT_FALSE(dev->SetParams(14400, 0, 0, 0));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(dev->GetBaudrate(), 4000000);
  // A pty has no modem lines and no error counters.
  EXPECT_EQ(dev->GetCarrier(), -1);
  EXPECT_EQ(dev->TakeLineErrors(), 0);
}

TEST_F(SerialTest, EveryFlowControlSettingCarriesData) {
  auto peer = OpenPeer("exec cat\n");
  ASSERT_TRUE(peer);
  for (FLOWCONTROL flow : {FLOW_NONE, FLOW_XONXOFF, FLOW_HARDWARE}) {
    SCOPED_TRACE(flow);
    ASSERT_EQ(COMPORT::SetComParam(19200, ONESTOPBIT, flow, 0), 1);
    EXPECT_EQ(COMPORT::GetBaudrate(), 19200);
    const std::string msg = "flow " + std::to_string(flow) + "\r";
    COMPORT::Send(msg.c_str());
    EXPECT_EQ(ReceiveExactly(msg.size()), msg);
  }
  EXPECT_EQ(COMPORT::SetComParam(14400, ONESTOPBIT, FLOW_NONE, 0), 0);
  EXPECT_EQ(COMPORT::GetBaudrate(), 19200);
}

TEST_F(SerialTest, OneMebibyteEachWayInBinaryMode) {
  const size_t N = 1 << 20;
  const std::string toPort = RandomBytes(N, 1), fromPort = RandomBytes(N, 2);
  TempDir scratch;
  auto peer = std::make_unique<PtyPeer>(kWaitForGo + "cat \"$PEER_DIR/toport\" &\n" +
                                        "head -c " + std::to_string(N) +
                                        " > \"$PEER_DIR/part\" && mv \"$PEER_DIR/part\" \"$PEER_DIR/fromport\"\n"
                                        "wait\nsleep 30\n");
  std::string error;
  ASSERT_TRUE(peer->Start(&error)) << error;
  ASSERT_TRUE(WriteWholeFile(peer->File("toport"), toPort));
  ASSERT_EQ(COMPORT::OpenPath(peer->Device().c_str()), 1);
  COMPORT::SetBinaryMode();
  Go(*peer);

  std::string got;
  got.reserve(N);
  size_t sent = 0;
  char buf[2048];
  const auto end = std::chrono::steady_clock::now() + 60s;
  while ((sent < N || got.size() < N) && std::chrono::steady_clock::now() < end) {
    bool progress = false;
    if (sent < N && COMPORT::GetOutQueueCount() <= COMPORT::WRITE_BUFFER - 1024) {
      const size_t n = std::min<size_t>(1024, N - sent);
      COMPORT::SendBinary(fromPort.data() + sent, static_cast<int>(n), 1);
      sent += n;
      progress = true;
    }
    COMPORT::DoReceive();
    if (size_t k = COMPORT::GetBlock(buf, sizeof buf)) {
      got.append(buf, k);
      progress = true;
    }
    if (!progress) COMPORT::WaitReceive(1);
  }
  ASSERT_EQ(got.size(), N);
  EXPECT_TRUE(got == toPort) << "received bytes differ";
  ASSERT_TRUE(WaitForFile(peer->File("fromport"), kIoTimeoutMs));
  EXPECT_TRUE(ReadWholeFile(peer->File("fromport")) == fromPort) << "sent bytes differ";
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  EXPECT_EQ(COMPORT::fErrorDetect, 0);
}

TEST_F(SerialTest, JisTextEachWayMatchesTheShiftJisOriginal) {
  const std::string sjis = ShiftJisText(100 * 1024);
  const ProcessResult jis = RunProcess({"nkf", "-S", "-j", "-x"}, sjis);
  ASSERT_EQ(jis.status, 0);
  ASSERT_GT(jis.out.size(), sjis.size());
  hostprop.KanjiCode = KANJI_NEWJIS;
  LINECODEPARAM param;
  param.KanjiCode = KANJI_NEWJIS;
  const size_t encoded = EncodedLength(param, sjis);

  auto peer = std::make_unique<PtyPeer>(kWaitForGo + "cat \"$PEER_DIR/toport\" &\n" +
                                        "head -c " + std::to_string(encoded) +
                                        " > \"$PEER_DIR/part\" && mv \"$PEER_DIR/part\" \"$PEER_DIR/fromport\"\n"
                                        "wait\nsleep 30\n");
  std::string error;
  ASSERT_TRUE(peer->Start(&error)) << error;
  ASSERT_TRUE(WriteWholeFile(peer->File("toport"), jis.out));
  ASSERT_EQ(COMPORT::OpenPath(peer->Device().c_str()), 1);
  Go(*peer);

  std::string got;
  size_t typed = 0;
  char buf[2048];
  const auto end = std::chrono::steady_clock::now() + 60s;
  while ((typed < sjis.size() || got.size() < sjis.size()) && std::chrono::steady_clock::now() < end) {
    bool progress = false;
    // The text path, one character at a time, with room for its longest
    // encoding (shift sequence plus pair).
    while (typed < sjis.size() && COMPORT::GetOutQueueCount() < COMPORT::WRITE_BUFFER - 8) {
      COMPORT::Send(sjis[typed++]);
      progress = true;
      if (typed % 512 == 0) break;
    }
    COMPORT::DoReceive();
    if (size_t k = COMPORT::GetBlock(buf, sizeof buf)) {
      got.append(buf, k);
      progress = true;
    }
    if (!progress) COMPORT::WaitReceive(1);
  }
  ASSERT_EQ(got.size(), sjis.size());
  EXPECT_TRUE(got == sjis) << "decoded text differs from the original";
  ASSERT_TRUE(WaitForFile(peer->File("fromport"), kIoTimeoutMs));
  const std::string wire = ReadWholeFile(peer->File("fromport"));
  const ProcessResult back = RunProcess({"nkf", "-J", "-s", "-x"}, wire);
  ASSERT_EQ(back.status, 0);
  EXPECT_TRUE(back.out == sjis) << "the host would read other text than was typed";
}

TEST_F(SerialTest, PeerGoingAwayIsReportedAfterItsLastBytes) {
  auto peer = OpenPeer(kWaitForGo + "printf 'bye'\n");
  ASSERT_TRUE(peer);
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  Go(*peer);
  EXPECT_EQ(ReceiveExactly(3), "bye");
  EXPECT_TRUE(WaitFor([] { return COMPORT::GetEvent() != 0; }));
  EXPECT_TRUE(peer->WaitExit(kIoTimeoutMs));
}

TEST_F(SerialTest, CloseWhileThePeerFloodsReturns) {
  auto peer = OpenPeer("exec cat /dev/zero\n");
  ASSERT_TRUE(peer);
  COMPORT::SetBinaryMode();
  EXPECT_EQ(ReceiveExactly(100000), std::string(100000, '\0'));
  auto closing = std::async(std::launch::async, [] { COMPORT::Close(); });
  EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
  closing.wait();
  EXPECT_FALSE(COMPORT::IsOpen());
}

TEST_F(SerialTest, PtyWithoutModemLinesCountsAsCarrierPresent) {
  auto peer = OpenPeer("exec cat\n");
  ASSERT_TRUE(peer);
  config.CdCheck = 1;
  config.CheckCommError = 1;
  fOnline = 1;
  hostprop.ModemType = MODEM_AT;
  COMPORT::Send("x");
  EXPECT_EQ(ReceiveExactly(1), "x");
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  EXPECT_EQ(COMPORT::fErrorDetect, 0);
  // Dropping and raising DTR does nothing a pty could refuse.
  COMPORT::Hangup();
  COMPORT::RestoreHangup();
  EXPECT_TRUE(COMPORT::IsOpen());
  COMPORT::Send("y");
  EXPECT_EQ(ReceiveExactly(1), "y");
}

TEST_F(SerialTest, BreakHoldsTheWriterUntilItEnds) {
  auto peer = OpenPeer("exec cat\n");
  ASSERT_TRUE(peer);
  // Without an application the break is held by sleeping; data queued
  // after it flows at once.
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  COMPORT::SendBreak(20);
  COMPORT::Send("a");
  EXPECT_EQ(ReceiveExactly(1), "a");

  // With one, a timer ends it and the event loop runs meanwhile; the writer
  // keeps what is queued until then.
  int argc = 1;
  char name[] = "serial_test";
  char* argv[] = {name, nullptr};
  {
    QCoreApplication app(argc, argv);
    COMPORT::SendBreak(100);
    COMPORT::Send("b");
    std::this_thread::sleep_for(200ms);  // no events processed: the break is still on
    EXPECT_EQ(COMPORT::GetOutQueueCount(), 1);
    EXPECT_TRUE(WaitFor([] {
      QCoreApplication::processEvents();
      return COMPORT::GetOutQueueCount() == 0;
    }));
    EXPECT_EQ(ReceiveExactly(1), "b");
  }
}

}  // namespace
