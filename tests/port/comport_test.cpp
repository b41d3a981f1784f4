// COMPORT over descriptor lines: the receive queue, the send paths and their
// encodings, the writer and pause buffers, and the threads' life cycle.
//
// The port runs over an FDLINE on a socketpair (socket side: telnet encoding)
// or on pipes (the plain side), with the test holding the other end.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fdline.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"

namespace {

using namespace std::chrono_literals;

const std::string kCannotSend = "送信不能";

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::string Pattern(size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
  return s;
}

bool WaitInQueue(int n) {
  return WaitFor([n] { return COMPORT::GetInQueueCount() >= n; });
}

bool WaitDrained() {
  return WaitFor([] { return COMPORT::GetOutQueueCount() == 0; });
}

// What the queue holds unread, without taking it.
std::string QueueContents() {
  return std::string(COMPORT::szReceived + COMPORT::iTakeout, COMPORT::szReceived + COMPORT::cchReceived);
}

int CountBoxes(const ui::RecordingFacade& rec, const std::string& text) {
  int n = 0;
  for (const auto& b : rec.boxes) n += b.text == text;
  return n;
}

// A socket line whose writes can be held inside Write, so a test can act
// while the writer thread has a write in flight.
class GATEDLINE : public FDLINE {
 public:
  explicit GATEDLINE(int fd) : FDLINE(fd, fd, Options{true, true, {}, {}}) {}
  ssize_t Write(const void* buf, size_t n) override {
    {
      std::unique_lock lk(mu);
      ++entered;
      cv.notify_all();
      // Bounded, so a failing test cannot leave the writer stuck for ever.
      cv.wait_for(lk, 10s, [this] { return open; });
    }
    return FDLINE::Write(buf, n);
  }
  bool WaitEntered(int count) {
    std::unique_lock lk(mu);
    return cv.wait_for(lk, 10s, [&] { return entered >= count; });
  }
  void Open() {
    std::lock_guard lk(mu);
    open = true;
    cv.notify_all();
  }

 private:
  std::mutex mu;
  std::condition_variable cv;
  int entered = 0;
  bool open = false;
};

// A pipe line with modem lines and error counters the test sets, and a log of
// the line-control calls the port makes.  The port calls these on the
// user-interface thread only.
class MODEMLINE : public FDLINE {
 public:
  MODEMLINE(int in, int out) : FDLINE(in, out) {}
  int GetCarrier() const override { return carrier; }
  int TakeLineErrors() override { return std::exchange(errors, 0); }
  void SetDtr(bool on) override { log += on ? "D+" : "D-"; }
  void SetBreak(bool on) override { log += on ? "B+" : "B-"; }
  bool SetParams(int baud, int, int flow, int) override {
    log += "P" + std::to_string(baud) + "/" + std::to_string(flow);
    return baud != 14400;
  }
  int carrier = -1;
  int errors = 0;
  std::string log;
};

class ComportTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override { ResetAll(); }
  static void ResetAll() {
    COMPORT::ResetForTest();
    hostprop.SetDefault();
    config.SetDefault();
    fOnline = 0;
  }

  // Opens the port over a fresh line and returns the test's end.
  LinePeer OpenLine(bool socket, FDLINE::Options options = {}) {
    LinePeer peer = MakeLinePeer(socket, options);
    EXPECT_EQ(COMPORT::Start(std::move(peer.line)), 1);
    return peer;
  }

  // Opens the port over a MODEMLINE; *modem stays valid while open.
  LinePeer OpenModem(MODEMLINE** modem) {
    int in[2], out[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    LinePeer peer;
    peer.toPort = UniqueFd(in[1]);
    peer.fromPort = UniqueFd(out[0]);
    auto line = std::make_unique<MODEMLINE>(in[0], out[1]);
    *modem = line.get();
    EXPECT_EQ(COMPORT::Start(std::move(line)), 1);
    return peer;
  }

  // Opens the port over a gated socket line; *gate stays valid while open.
  UniqueFd OpenGated(GATEDLINE** gate) {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    auto line = std::make_unique<GATEDLINE>(sv[0]);
    *gate = line.get();
    EXPECT_EQ(COMPORT::Start(std::move(line)), 1);
    return UniqueFd(sv[1]);
  }
};

// --- receive queue ---------------------------------------------------------------

TEST_F(ComportTest, RefillTakesAtMost512AndOnlyIntoAQueueBelow512) {
  LinePeer peer = OpenLine(false);
  const std::string sent = Pattern(600);
  COMPORT::SetBinaryMode();
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), sent));
  ASSERT_TRUE(WaitInQueue(600));
  ASSERT_EQ(COMPORT::GetInQueueCount(), 600);

  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::cchReceived, 512);
  EXPECT_EQ(COMPORT::GetInQueueCount(), 88);
  // A full half-queue takes nothing more.
  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::cchReceived, 512);
  // One byte taken: the refill tops the queue up to 512 again, no further.
  EXPECT_EQ(COMPORT::Get(), static_cast<unsigned char>(sent[0]));
  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::iTakeout, 0);
  EXPECT_EQ(COMPORT::cchReceived, 512);
  EXPECT_EQ(COMPORT::GetInQueueCount(), 87);

  std::string got = sent.substr(0, 1);
  char buf[1100];
  got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::cchReceived, 87);
  got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
  EXPECT_EQ(got, sent);
  EXPECT_EQ(COMPORT::SuckReceivedCount(), 600);
  EXPECT_EQ(COMPORT::SuckReceivedCount(), 0);
}

TEST_F(ComportTest, TextModeAppliesTheReceiveConversionsAcrossRefills) {
  LinePeer peer = OpenLine(false);
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.ReceiveCROnly = 1;
  // ESC ends one refill and "$B" begins the next; NULs vanish; CR gets an LF.
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({'a', 0, 0x1B})));
  EXPECT_EQ(ReceiveExactly(1), "a");
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({'$', 'B', 0x30, 0x21, 0x1B, '(', 'J', '\r', 'b'})));
  EXPECT_EQ(ReceiveExactly(5), Bytes({0x88, 0x9F, '\r', '\n', 'b'}));
  EXPECT_EQ(COMPORT::SuckReceivedCount(), 12);  // counts line bytes, not queue bytes
}

TEST_F(ComportTest, BinaryModePassesEveryByte) {
  LinePeer peer = OpenLine(false);
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.ReceiveCROnly = 1;
  hostprop.SevenBit = 1;
  COMPORT::SetBinaryMode();
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), all));
  EXPECT_EQ(ReceiveExactly(256), all);
}

TEST_F(ComportTest, ReceiveConversionFillsTheQueueWithinItsArray) {
  // 512 CRs become 1024 queue bytes, and a held ESC pair can add two more.
  LinePeer peer = OpenLine(false);
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.ReceiveCROnly = 1;
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({0x1B, '('})));
  ASSERT_TRUE(WaitInQueue(2));
  COMPORT::DoReceive();
  ASSERT_EQ(COMPORT::cchReceived, 0);  // the escape is held
  // An unknown final byte releases ESC ( with it: three bytes out of one.
  std::string crs = "X" + std::string(511, '\r');
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), crs));
  ASSERT_TRUE(WaitInQueue(512));
  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::cchReceived, 3 + 2 * 511);
  EXPECT_LE(COMPORT::cchReceived, static_cast<int>(sizeof COMPORT::szReceived));
  EXPECT_EQ(QueueContents().substr(0, 5), Bytes({0x1B, '(', 'X', '\r', '\n'}));
  // An over-full queue takes nothing more and echoes nothing.
  hostprop.LocalEcho = 1;
  COMPORT::SendWithEcho('e', 'e');
  EXPECT_EQ(COMPORT::cchReceived, 3 + 2 * 511);
}

TEST_F(ComportTest, InsertAndDeleteShiftTheTailAndStayInsideTheArray) {
  std::memcpy(COMPORT::szReceived, "abcd", 4);
  COMPORT::cchReceived = 4;
  COMPORT::Insert(2, 'X');
  EXPECT_EQ(QueueContents(), "abXcd");
  COMPORT::Insert(5, 'Y');  // at the end
  EXPECT_EQ(QueueContents(), "abXcdY");
  COMPORT::Insert(7, 'Z');  // past the end: ignored
  COMPORT::Insert(-1, 'Z');
  EXPECT_EQ(QueueContents(), "abXcdY");
  COMPORT::Delete(0);
  COMPORT::Delete(4);
  COMPORT::Delete(6);  // outside: ignored
  EXPECT_EQ(QueueContents(), "bXcd");

  COMPORT::cchReceived = static_cast<int>(sizeof COMPORT::szReceived);
  COMPORT::Insert(0, 'Q');
  EXPECT_EQ(COMPORT::cchReceived, static_cast<int>(sizeof COMPORT::szReceived));
  COMPORT::cchReceived = 0;
}

TEST_F(ComportTest, WaitReceiveWakesForDataAndReportsTheReaderState) {
  LinePeer peer = OpenLine(false);
  EXPECT_FALSE(COMPORT::WaitReceive(20));
  EXPECT_EQ(COMPORT::fInQueueResting.load(), 1);
  std::atomic<int> arrivals{0};
  // The callback may only be set while the port is closed; reopen with it.
  COMPORT::Close();
  COMPORT::onDataArrived = [&arrivals] { arrivals.fetch_add(1); };
  peer = OpenLine(false);
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "x"));
  EXPECT_TRUE(COMPORT::WaitReceive(kIoTimeoutMs));
  EXPECT_EQ(COMPORT::cbThreadRead, 1);
  EXPECT_TRUE(WaitFor([&] { return arrivals.load() == 1; }));
  EXPECT_EQ(COMPORT::fInQueueResting.load(), 1);  // it arrived on an empty buffer
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "y"));
  ASSERT_TRUE(WaitInQueue(2));
  EXPECT_EQ(COMPORT::fInQueueResting.load(), 0);  // on top of unconsumed data
  EXPECT_EQ(ReceiveExactly(2), "xy");
  EXPECT_EQ(arrivals.load(), 1);
  COMPORT::Close();
  COMPORT::onDataArrived = nullptr;
}

TEST_F(ComportTest, ReaderHoldsBackAtTheHoldLimitAndResumesWhenDrained) {
  FDLINE::Options opt;
  opt.holdLimit = 4096;
  LinePeer peer = OpenLine(true, opt);
  COMPORT::SetBinaryMode();
  const std::string sent = Pattern(300 * 1024, 3);
  std::thread writer([&] { WriteAll(peer.toPort.Get(), sent, 30000); });
  ASSERT_TRUE(WaitInQueue(4096));
  // Without draining, the reader stays within one read of the limit however
  // long the peer keeps pushing.
  std::this_thread::sleep_for(200ms);
  EXPECT_GE(COMPORT::GetInQueueCount(), 4096);
  EXPECT_LE(COMPORT::GetInQueueCount(), 4096 + 256);
  EXPECT_EQ(ReceiveExactly(sent.size(), 30000), sent);
  writer.join();
}

// Under a flood the room of a held socket reader grows by half of itself at
// each hold (at least 8192 bytes), from the hold limit to 256 KiB, and no
// further.  The consumer here takes the buffer down to half the reader's
// room, which wakes it, and lets it fill that room and be held there; every
// room the reader is seen with must be one of that schedule.
// The reader's block is compacted now and then on the way; every byte
// still arrives once and in order.
TEST_F(ComportTest, AHeldReadersRoomGrowsTo256KiBAndKeepsEveryByte) {
  FDLINE::Options opt;
  opt.holdLimit = FDLINE::SOCKET_HOLD_LIMIT;
  opt.readChunk = 4096;
  LinePeer peer = OpenLine(true, opt);
  COMPORT::SetBinaryMode();
  constexpr int kLargestRoom = 256 * 1024;
  std::vector<int> schedule = {int(FDLINE::SOCKET_HOLD_LIMIT)};
  while (schedule.back() < kLargestRoom)
    schedule.push_back(std::min(schedule.back() + std::max(8192, schedule.back() / 2), kLargestRoom));
  const std::string sent = Pattern(16 * 1024 * 1024, 5);  // more than the test takes before its end
  std::thread writer([&] { WriteAll(peer.toPort.Get(), sent, 60000); });
  // A failed assertion leaves early: the port's close ends the writer.
  struct JOIN {
    std::thread& t;
    ~JOIN() {
      COMPORT::Close();
      if (t.joinable()) t.join();
    }
  } join{writer};
  std::string got;
  int most = 0;
  std::vector<int> seen;
  const auto look = [&] {
    most = std::max(most, COMPORT::GetInQueueCount());
    const int room = int(COMPORT::ReaderRoomForTest());
    if (seen.empty() || seen.back() != room) seen.push_back(room);
    return room;
  };
  const auto takeDownTo = [&](int left) {
    char buf[COMPORT::RECEIVE_QUEUE + COMPORT::RECEIVE_SLACK];
    while (COMPORT::GetInQueueCount() > left) {
      COMPORT::DoReceive();
      got.append(buf, COMPORT::GetBlock(buf, sizeof buf));
      look();
    }
  };
  // Taking the buffer down to half the reader's room first wakes a reader
  // held at any earlier room; the room then changes once it is held again.
  for (int holds = 0; look() < kLargestRoom; ++holds) {
    ASSERT_LT(holds, 20) << "the room did not reach " << kLargestRoom << " bytes";
    const int room = look();
    takeDownTo(room / 2);
    ASSERT_TRUE(WaitFor([&] { return look() != room; })) << "the reader was not held at " << room << " bytes";
  }
  // Once at the largest room, the reader fills it again and is held there.
  takeDownTo(kLargestRoom / 2);
  ASSERT_TRUE(WaitFor([&] { return look(), COMPORT::GetInQueueCount() >= kLargestRoom / 2 + 4096; }));
  for (int room : seen)
    EXPECT_NE(std::find(schedule.begin(), schedule.end(), room), schedule.end()) << "a room of " << room << " bytes";
  EXPECT_EQ(seen.back(), kLargestRoom);
  EXPECT_LE(most, kLargestRoom + 4096);
  got += ReceiveExactly(sent.size() - got.size(), 30000);
  ASSERT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent) << "the bytes differ from byte "
                           << std::mismatch(got.begin(), got.end(), sent.begin()).first - got.begin();
}

TEST_F(ComportTest, ACloseBehindUntakenDataIsAnnouncedAgainOnceTheDataIsTaken) {
  std::atomic<int> arrivals{0};
  COMPORT::onDataArrived = [&arrivals] { arrivals.fetch_add(1); };
  // A socket's close is reported only once every byte before it is taken.
  LinePeer peer = OpenLine(true);
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "last"));
  peer.Hangup();
  // The data, then the close, each announced while the data waits.
  ASSERT_TRUE(WaitFor([&] { return arrivals.load() == 2; }));
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  EXPECT_EQ(ReceiveExactly(4), "last");
  // Taking the last bytes makes the close news: a pass runs to report it.
  EXPECT_EQ(arrivals.load(), 3);
  EXPECT_NE(COMPORT::GetEvent(), 0);
  COMPORT::Close();
  COMPORT::fCdChanged = 0;
  COMPORT::onDataArrived = nullptr;
}

TEST_F(ComportTest, PeerCloseKeepsWhatWasReadAndIsReportedByGetEvent) {
  for (bool socket : {false, true}) {
    SCOPED_TRACE(socket ? "socket" : "pipes");
    LinePeer peer = OpenLine(socket);
    EXPECT_EQ(COMPORT::GetEvent(), 0);
    ASSERT_TRUE(WriteAll(peer.toPort.Get(), "last words"));
    peer.Hangup();
    EXPECT_EQ(ReceiveExactly(10), "last words");
    EXPECT_TRUE(WaitFor([] { return COMPORT::GetEvent() != 0; }));
    COMPORT::Close();
    COMPORT::fCdChanged = 0;
  }
}

TEST_F(ComportTest, CloseWhileThePeerFloodsReturns) {
  // Once with the reader parked at its hold limit, once reading without end.
  for (size_t hold : {size_t{20480}, size_t{0}}) {
    SCOPED_TRACE(hold);
    FDLINE::Options opt;
    opt.holdLimit = hold;
    LinePeer peer = OpenLine(true, opt);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
      const std::string block(65536, 'z');
      while (flooding)
        if (!WriteAll(peer.toPort.Get(), block, 100)) std::this_thread::yield();
    });
    ASSERT_TRUE(WaitInQueue(hold ? static_cast<int>(hold) : 100000));
    auto closing = std::async(std::launch::async, [] { COMPORT::Close(); });
    EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
    flooding = false;
    flood.join();
    closing.wait();
    EXPECT_FALSE(COMPORT::IsOpen());
  }
}

TEST_F(ComportTest, TerminatedReaderLeavesTheWriterRunning) {
  LinePeer peer = OpenLine(false);
  COMPORT::TerminateReadThread();
  COMPORT::SendBinary("w", 1, 1);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), "w");
  auto closing = std::async(std::launch::async, [] { COMPORT::Close(); });
  EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
}

// --- line status and control ---------------------------------------------------

TEST_F(ComportTest, CarrierLossIsReportedOnlyWhenWatched) {
  struct {
    const char* name;
    int cdCheck, online, modemType, carrier, expect;
  } cases[] = {
      {"carrier lost on a modem line", 1, 1, MODEM_AT, 0, 1},
      {"carrier present", 1, 1, MODEM_AT, 1, 0},
      {"no modem lines (unknown)", 1, 1, MODEM_AT, -1, 0},
      {"not watched", 0, 1, MODEM_AT, 0, 0},
      {"off line", 1, 0, MODEM_AT, 0, 0},
      {"direct line", 1, 1, MODEM_DIRECT, 0, 0},
      {"telephony modem", 1, 1, MODEM_TAPI, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAll();
    MODEMLINE* modem;
    LinePeer peer = OpenModem(&modem);
    config.CdCheck = c.cdCheck;
    fOnline = c.online;
    hostprop.ModemType = c.modemType;
    modem->carrier = c.carrier;
    EXPECT_EQ(COMPORT::GetEvent(), c.expect);
    EXPECT_EQ(COMPORT::fCdChanged, c.expect);
  }
}

TEST_F(ComportTest, LineErrorsSetErrorDetectWhenChecked) {
  for (int check : {0, 1}) {
    SCOPED_TRACE(check);
    ResetAll();
    MODEMLINE* modem;
    LinePeer peer = OpenModem(&modem);
    config.CheckCommError = check;
    COMPORT::DoReceive();
    EXPECT_EQ(COMPORT::fErrorDetect, 0);
    modem->errors = 3;
    COMPORT::DoReceive();
    EXPECT_EQ(COMPORT::fErrorDetect, check);
    EXPECT_EQ(modem->errors, 0);  // taken, so the next pass starts clean
  }
}

TEST_F(ComportTest, DtrBreakAndSettingsReachTheLine) {
  MODEMLINE* modem;
  LinePeer peer = OpenModem(&modem);
  EXPECT_EQ(modem->log, "D+");  // opening raises DTR
  modem->log.clear();
  EXPECT_EQ(COMPORT::SetComParam(9600, ONESTOPBIT, FLOW_HARDWARE, 0), 1);
  EXPECT_EQ(COMPORT::SetComParam(14400, ONESTOPBIT, FLOW_NONE, 0), 0);
  EXPECT_EQ(modem->log, "P9600/2D+P14400/0D+");
  modem->log.clear();
  COMPORT::Hangup();
  COMPORT::RestoreHangup();
  EXPECT_EQ(modem->log, "D-D+");
  EXPECT_TRUE(COMPORT::IsOpen());
  modem->log.clear();
  // Without a Qt application the break is held for its time and ended
  // before SendBreak returns; the line errors it caused are dropped.
  modem->errors = 1;
  COMPORT::SendBreak(5);
  EXPECT_EQ(modem->log, "B+B-");
  config.CheckCommError = 1;
  COMPORT::DoReceive();
  EXPECT_EQ(COMPORT::fErrorDetect, 0);
}

// --- send paths ------------------------------------------------------------------

struct EchoCase {
  const char* name;
  int localEcho, receiveCROnly, sendCRLF;
  std::string typed, echoed, sent;
};

TEST_F(ComportTest, LocalEchoAndLineEndRules) {
  const EchoCase cases[] = {
      {"no echo", 0, 0, 0, "a", "", "a"},
      {"echo", 1, 0, 0, "ab", "ab", "ab"},
      {"echo CR", 1, 0, 0, "\r", "\r", "\r"},
      {"echo CR, host sends CR only", 1, 1, 0, "\r", "\r\n", "\r"},
      {"echo CR, send CR LF", 1, 0, 1, "\r", "\r\n", "\r\n"},
      {"no echo, send CR LF", 0, 0, 1, "x\r", "", "x\r\n"},
      {"LF is not doubled", 1, 1, 1, "\n", "\n", "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAll();
    LinePeer peer = OpenLine(false);
    hostprop.LocalEcho = c.localEcho;
    hostprop.ReceiveCROnly = c.receiveCROnly;
    hostprop.SendCRLF = c.sendCRLF;
    COMPORT::Send(c.typed.c_str());
    EXPECT_EQ(QueueContents(), c.echoed);
    COMPORT::SendBinary("M", 1, 1);
    EXPECT_EQ(ReadExactly(peer.ReadFd(), c.sent.size() + 1), c.sent + "M");
  }
}

TEST_F(ComportTest, EchoStopsAtAFullQueue) {
  LinePeer peer = OpenLine(false);
  hostprop.LocalEcho = 1;
  hostprop.ReceiveCROnly = 1;
  for (int i = 0; i < 1023; ++i) COMPORT::SendWithEcho('x', 'x');
  ASSERT_EQ(COMPORT::cchReceived, 1023);
  COMPORT::SendWithEcho('\r', '\r');  // CR fits, its LF does not
  EXPECT_EQ(COMPORT::cchReceived, 1024);
  EXPECT_EQ(COMPORT::szReceived[1023], '\r');
  COMPORT::SendWithEcho('y', 'y');
  EXPECT_EQ(COMPORT::cchReceived, 1024);
  // Everything still went out.
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1025), std::string(1023, 'x') + "\ry");
}

TEST_F(ComportTest, JisHostGetsShiftSequencesAndTheUserSeesShiftJis) {
  LinePeer peer = OpenLine(false);
  hostprop.KanjiCode = KANJI_NEWJIS;
  hostprop.LocalEcho = 1;
  COMPORT::Send(static_cast<char>(0x88));
  COMPORT::Send(static_cast<char>(0x9F));
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 5), Bytes({0x1B, '$', 'B', 0x30, 0x21}));
  EXPECT_EQ(QueueContents(), Bytes({0x88, 0x9F}));
  COMPORT::Send('A');
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 4), Bytes({0x1B, '(', 'J', 'A'}));
  EXPECT_EQ(QueueContents(), Bytes({0x88, 0x9F, 'A'}));
}

TEST_F(ComportTest, HostThatLeavesKanjiWithEscParenHGetsTheSame) {
  LinePeer peer = OpenLine(false);
  hostprop.KanjiCode = KANJI_NEWJIS;
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'H'})));
  EXPECT_EQ(ReceiveExactly(2), Bytes({0x88, 0x9F}));
  COMPORT::Send("\x88\x9F" "A");
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 9), Bytes({0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'H', 'A'}));
}

struct WireCase {
  const char* name;
  bool socket;
  bool binaryMode;
  bool telnetBinary;
  enum { SEND, SEND_BINARY, SEND_BINARY_RAW, PAUSED_SEND_BINARY_RAW, BREAK } op;
  std::string input;
  std::string wire;
};

TEST_F(ComportTest, WireEncodingBySocketAndMode) {
  const WireCase cases[] = {
      {"socket text Send IAC", true, false, false, WireCase::SEND, "\xFF", Bytes({0xFF, 0xFF})},
      {"socket binary Send IAC", true, true, false, WireCase::SEND, "\xFF", Bytes({0xFF, 0xFF})},
      {"pipe Send IAC", false, false, false, WireCase::SEND, "\xFF", Bytes({0xFF})},
      {"pipe binary Send IAC", false, true, false, WireCase::SEND, "\xFF", Bytes({0xFF})},
      {"socket block CR LF", true, false, false, WireCase::SEND_BINARY, "\r\n", Bytes({'\r', 0, '\n'})},
      {"socket block IAC", true, false, false, WireCase::SEND_BINARY, "a\xFF" "b", Bytes({'a', 0xFF, 0xFF, 'b'})},
      {"socket block in telnet binary", true, false, true, WireCase::SEND_BINARY, "\r\n\xFF",
       Bytes({'\r', '\n', 0xFF, 0xFF})},
      {"socket raw block", true, false, false, WireCase::SEND_BINARY_RAW, "\r\n\xFF", "\r\n\xFF"},
      {"socket raw block while paused", true, false, false, WireCase::PAUSED_SEND_BINARY_RAW, "\r\xFF",
       Bytes({'\r', 0, 0xFF, 0xFF})},
      {"pipe block", false, false, false, WireCase::SEND_BINARY, "\r\n\xFF", "\r\n\xFF"},
      {"pipe raw block while paused", false, false, false, WireCase::PAUSED_SEND_BINARY_RAW, "\r\xFF",
       "\r\xFF"},
      {"socket break", true, false, false, WireCase::BREAK, "", Bytes({0xFF, 0xF3})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAll();
    LinePeer peer = OpenLine(c.socket);
    if (c.binaryMode) COMPORT::SetBinaryMode();
    COMPORT::fTelnetBinary = c.telnetBinary;
    switch (c.op) {
      case WireCase::SEND:
        for (char ch : c.input) COMPORT::Send(ch);
        break;
      case WireCase::SEND_BINARY:
        COMPORT::SendBinary(c.input.data(), static_cast<int>(c.input.size()), 0);
        break;
      case WireCase::SEND_BINARY_RAW:
        COMPORT::SendBinary(c.input.data(), static_cast<int>(c.input.size()), 1);
        break;
      case WireCase::PAUSED_SEND_BINARY_RAW:
        COMPORT::PauseTransmit();
        COMPORT::SendBinary(c.input.data(), static_cast<int>(c.input.size()), 1);
        COMPORT::SendSettle();
        break;
      case WireCase::BREAK:
        COMPORT::SendBreak(1000);
        break;
    }
    // A marker behind: the wire must hold exactly the expected bytes before it.
    COMPORT::SendBinary("M", 1, 1);
    EXPECT_EQ(ReadExactly(peer.ReadFd(), c.wire.size() + 1), c.wire + "M");
  }
}

TEST_F(ComportTest, EvenParityOnSevenBitTextOnly) {
  struct {
    int in, out;
  } bits[] = {{'A', 0x41}, {'C', 0xC3}, {0xC1, 0x41}, {0x7F, 0xFF}, {0x01, 0x81}, {0x80, 0x00}};
  LinePeer peer = OpenLine(false);
  COMPORT::fEvenParity = 1;
  hostprop.SevenBit = 1;
  for (auto b : bits) {
    COMPORT::SendSub(static_cast<char>(b.in));
    EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), Bytes({b.out})) << "byte " << b.in;
  }
  // Not on an 8-bit host, and never in binary mode.
  hostprop.SevenBit = 0;
  COMPORT::SendSub('C');
  hostprop.SevenBit = 1;
  COMPORT::SetBinaryMode();
  COMPORT::SendSub('C');
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 2), "CC");
}

// --- writer buffer, pause buffer, flush ------------------------------------------------

TEST_F(ComportTest, BlockTooLargeForTheWriterIsRefusedWhole) {
  ui::ScopedRecordingFacade facade;
  LinePeer peer = OpenLine(false);
  const std::string big = Pattern(4097);
  COMPORT::SendBinary(big.data(), 4097, 0);
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
  COMPORT::SendBinary("M", 1, 0);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), "M");  // nothing of the refused block went out
  ASSERT_TRUE(WaitDrained());
  const std::string fits = Pattern(4096, 1);
  COMPORT::SendBinary(fits.data(), 4096, 0);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 4096), fits);
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
}

TEST_F(ComportTest, SocketBlockIsMeasuredAfterTelnetEncoding) {
  ui::ScopedRecordingFacade facade;
  LinePeer peer = OpenLine(true);
  const std::string tooMany(2049, '\xFF');  // 4098 bytes on the wire
  COMPORT::SendBinary(tooMany.data(), 2049, 0);
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
  const std::string crs(2048, '\r');  // 4096 bytes on the wire: fits exactly
  COMPORT::SendBinary(crs.data(), 2048, 0);
  std::string expect;
  for (int i = 0; i < 2048; ++i) expect += std::string("\r\0", 2);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 4096), expect);
  ASSERT_TRUE(WaitDrained());
  COMPORT::SendBinary("M", 1, 0);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), "M");
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
}

TEST_F(ComportTest, FullWriterBufferRefusesWhatDoesNotFitWhileAWriteIsStuck) {
  ui::ScopedRecordingFacade facade;
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  const std::string first = Pattern(3000, 1);
  COMPORT::SendBinary(first.data(), 3000, 1);
  ASSERT_TRUE(gate->WaitEntered(1));  // the writer holds its copy of the 3000
  const std::string second = Pattern(1097, 2);
  COMPORT::SendBinary(second.data(), 1097, 1);  // 4097 in all: refused
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
  COMPORT::SendBinary(second.data(), 1096, 1);  // 4096: taken
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 4096);
  COMPORT::SendSub('x');  // one byte over: lost, reported
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 2);
  gate->Open();
  EXPECT_EQ(ReadExactly(peer.Get(), 4096), first + second.substr(0, 1096));
  COMPORT::SendSub('y');
  EXPECT_EQ(ReadExactly(peer.Get(), 1), "y");
}

TEST_F(ComportTest, FlushDuringAWriteKeepsTheBytesQueuedAfterIt) {
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  const std::string old(100, 'o');
  COMPORT::SendBinary(old.data(), 100, 1);
  ASSERT_TRUE(gate->WaitEntered(1));  // those 100 are in flight
  COMPORT::Flush();
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 0);
  COMPORT::SendBinary("NEW", 3, 1);
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 3);
  gate->Open();
  // The bytes already handed to the line go out; the new ones must follow
  // and not be counted off against the old write.
  EXPECT_EQ(ReadExactly(peer.Get(), 103), old + "NEW");
  for (int i = 0; i < 200 && COMPORT::GetOutQueueCount() != 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 0);
}

TEST_F(ComportTest, PauseBufferIsNeverWrittenPastItsEnd) {
  ui::ScopedRecordingFacade facade;
  LinePeer peer = OpenLine(false);
  const std::string sent = Pattern(10000, 5);
  COMPORT::PauseTransmit();
  for (char c : sent) COMPORT::SendSub(c);
  EXPECT_LE(COMPORT::cbTransmitSuspending, COMPORT::WRITE_BUFFER);
  COMPORT::SendSettle();
  // The pipe holds all 10000 bytes, so once the writer is idle everything
  // that was accepted is there to read.
  ASSERT_TRUE(WaitDrained());
  const std::string got = ReadExactly(peer.ReadFd(), sent.size(), 200);
  // The pause overflowed twice and went out early in 4096-byte pieces; a
  // piece that met a writer buffer still holding the previous one is refused
  // whole and reported.  Whatever arrived is the sent bytes in order, less
  // exactly the reported pieces.
  const int refused = CountBoxes(facade.rec, kCannotSend);
  const size_t pieces[] = {4096, 4096, 10000 - 8192};
  std::string expect;
  size_t at = 0;
  int missing = 0;
  for (size_t len : pieces) {
    std::string piece = sent.substr(at, len);
    at += len;
    if (got.compare(expect.size(), len, piece) == 0)
      expect += piece;
    else
      ++missing;
  }
  EXPECT_EQ(got, expect);
  EXPECT_EQ(missing, refused);
  EXPECT_LE(refused, 2);
}

// --- the transfers' bulk path: the writer ring ------------------------------------------

// The wire form of a block on a socket line (telnet, not binary): IAC doubled,
// CR followed by NUL.
std::string TelnetForm(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\xFF') out += '\xFF';
    if (c == '\r') out += '\0';
  }
  return out;
}

TEST_F(ComportTest, BulkSendsFillTheWholeRingAndTakeEachBlockWholeOrNotAtAll) {
  ui::ScopedRecordingFacade facade;
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  const std::string first(100, 'o');
  COMPORT::SendBinary(first.data(), 100, 1);
  ASSERT_TRUE(gate->WaitEntered(1));  // those 100 are in flight and still count as used
  std::string wire = first;
  const std::string piece(1000, 'p');
  size_t queued = first.size();
  while (COMPORT::SendBulk(piece.data(), piece.size())) {
    queued += piece.size();
    wire += piece;
  }
  // Refused whole: the free room is what the last piece could not fill.
  EXPECT_EQ(queued, first.size() + (COMPORT::SEND_RING - first.size()) / piece.size() * piece.size());
  const size_t rest = COMPORT::SEND_RING - queued;
  EXPECT_EQ(COMPORT::SendRoom(), rest);
  EXPECT_LT(rest, piece.size());
  const std::string tail(rest, 't');
  ASSERT_TRUE(COMPORT::SendBulk(tail.data(), tail.size()));
  wire += tail;
  EXPECT_EQ(COMPORT::SendRoom(), 0u);
  EXPECT_FALSE(COMPORT::SendBulk("x", 1));
  // The bulk path never reports; the text paths keep their 4096-byte limit.
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 0);
  COMPORT::SendSub('x');
  EXPECT_EQ(CountBoxes(facade.rec, kCannotSend), 1);
  gate->Open();
  EXPECT_EQ(ReadExactly(peer.Get(), wire.size()), wire);
  ASSERT_TRUE(WaitDrained());
  EXPECT_EQ(COMPORT::SendRoom(), COMPORT::SEND_RING);
}

// Blocks that cross the ring's end many times, with a reader on the other
// end and the sender waiting for room as a transfer does: every byte arrives
// once and in order, in the line's form (plain on pipes, telnet on a socket).
TEST_F(ComportTest, BulkStreamCrossesTheRingEndIntact) {
  for (const bool socket : {false, true}) {
    SCOPED_TRACE(socket ? "socket" : "pipes");
    ResetAll();
    LinePeer peer = OpenLine(socket);
    const std::string data = Pattern(3 * COMPORT::SEND_RING + 12345, socket ? 3 : 4);
    const std::string expect = socket ? TelnetForm(data) : data;
    auto got = std::async(std::launch::async, [&] { return ReadExactly(peer.ReadFd(), expect.size(), 20000); });
    size_t at = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (at < data.size() && std::chrono::steady_clock::now() < deadline) {
      const size_t n = std::min<size_t>(7001, data.size() - at);  // 7001: never a divisor of the ring
      if (COMPORT::SendBulk(data.data() + at, n))
        at += n;
      else
        COMPORT::WaitReceiveOrRoom(2 * n, 100);
    }
    EXPECT_EQ(at, data.size());
    const std::string wire = got.get();
    EXPECT_EQ(wire.size(), expect.size());
    EXPECT_TRUE(wire == expect) << "the bytes on the line differ from the sent ones";
  }
}

// A bulk block behind text still queued for the writer waits its turn; with
// nothing queued it goes out at once.  Either way the order on the line is
// the order of the calls.
TEST_F(ComportTest, BulkBlocksKeepTheirPlaceBehindQueuedText) {
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  COMPORT::SendSub('a');
  ASSERT_TRUE(gate->WaitEntered(1));  // 'a' is in flight
  COMPORT::SendSub('b');
  ASSERT_TRUE(COMPORT::SendBulk("CD", 2));
  COMPORT::SendSub('e');
  gate->Open();
  EXPECT_EQ(ReadExactly(peer.Get(), 5), "abCDe");
  ASSERT_TRUE(WaitDrained());
  ASSERT_TRUE(COMPORT::SendBulk("F\xFF", 2));  // straight to the line, still telnet-encoded
  COMPORT::SendSub('g');
  EXPECT_EQ(ReadExactly(peer.Get(), 4), "F\xFF\xFFg");
}

TEST_F(ComportTest, WaitForRoomEndsWhenTheWriterHasFreedIt) {
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  const std::string block(COMPORT::SEND_RING, 'b');
  COMPORT::SendBinary(block.data(), 1, 1);
  ASSERT_TRUE(gate->WaitEntered(1));  // the writer holds the first byte
  ASSERT_TRUE(COMPORT::SendBulk(block.data() + 1, block.size() - 1));
  // Nothing moves while the write is held: the wait ends by its time-out.
  EXPECT_FALSE(COMPORT::WaitReceiveOrRoom(COMPORT::SEND_RING / 2, 20));
  auto drained = std::async(std::launch::async, [&] {
    gate->Open();
    return ReadExactly(peer.Get(), block.size());
  });
  EXPECT_TRUE(COMPORT::WaitReceiveOrRoom(COMPORT::SEND_RING / 2, 10000));
  EXPECT_GE(COMPORT::SendRoom(), COMPORT::SEND_RING / 2);
  EXPECT_EQ(drained.get(), block);
}

TEST_F(ComportTest, DropOutputKeepsTheWriteInFlightAndWhatIsQueuedAfter) {
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  const std::string old(100, 'o');
  COMPORT::SendBinary(old.data(), 100, 1);
  ASSERT_TRUE(gate->WaitEntered(1));
  const std::string stale(5000, 's');
  ASSERT_TRUE(COMPORT::SendBulk(stale.data(), stale.size()));
  COMPORT::DropOutput();
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 0);
  ASSERT_TRUE(COMPORT::SendBulk("NEW", 3));
  // The write in flight keeps its place in the ring until it returns, and
  // with it the dropped bytes behind it (appends only go on past them).
  EXPECT_EQ(COMPORT::SendRoom(), COMPORT::SEND_RING - 5103);
  gate->Open();
  EXPECT_EQ(ReadExactly(peer.Get(), 103), old + "NEW");
  ASSERT_TRUE(WaitDrained());
  EXPECT_EQ(COMPORT::SendRoom(), COMPORT::SEND_RING);
}

TEST_F(ComportTest, PausedBlocksReachTheWriterAsOnePiece) {
  GATEDLINE* gate;
  UniqueFd peer = OpenGated(&gate);
  COMPORT::SendBinary("!", 1, 1);
  ASSERT_TRUE(gate->WaitEntered(1));
  COMPORT::PauseTransmit();
  COMPORT::Send("packet");
  COMPORT::SendBinary("+body", 5, 0);
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 1);  // nothing reached the writer yet
  EXPECT_EQ(COMPORT::cbTransmitSuspending, 11);
  COMPORT::SendSettle();
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 12);
  gate->Open();
  EXPECT_EQ(ReadExactly(peer.Get(), 12), "!packet+body");
}

// --- opening, closing, state across connections --------------------------------------

TEST_F(ComportTest, CodeStateStartsFreshOnEveryConnection) {
  hostprop.KanjiCode = KANJI_NEWJIS;
  {
    LinePeer peer = OpenLine(false);
    // The call ends in kanji mode both ways.
    ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({0x1B, '$', 'B', 0x30, 0x21})));
    EXPECT_EQ(ReceiveExactly(2), Bytes({0x88, 0x9F}));
    COMPORT::Send("\x88\x9F");
    EXPECT_EQ(ReadExactly(peer.ReadFd(), 5), Bytes({0x1B, '$', 'B', 0x30, 0x21}));
    COMPORT::Close();
  }
  LinePeer peer = OpenLine(false);
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "AB"));
  EXPECT_EQ(ReceiveExactly(2), "AB");
  COMPORT::Send('C');
  COMPORT::SendBinary("M", 1, 1);
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 2), "CM");

  // Hanging up resets it too.
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), Bytes({0x1B, '$', 'B'})));
  COMPORT::Send("\x88\x9F");
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 5), Bytes({0x1B, '$', 'B', 0x30, 0x21}));
  ASSERT_TRUE(WaitInQueue(3));
  COMPORT::DoReceive();
  COMPORT::Hangup();
  ASSERT_TRUE(WriteAll(peer.toPort.Get(), "DE"));
  EXPECT_EQ(ReceiveExactly(2), "DE");
  COMPORT::Send('F');
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1), "F");
}

TEST_F(ComportTest, SocketHangupClosesTheLineAndCloseClearsTheKind) {
  LinePeer peer = OpenLine(true);
  EXPECT_EQ(COMPORT::fSocket, 1);
  EXPECT_EQ(COMPORT::GetBaudrate(), -1);
  EXPECT_EQ(COMPORT::SetComParam(9600, ONESTOPBIT, FLOW_NONE, 0), 1);
  COMPORT::Hangup();
  EXPECT_FALSE(COMPORT::IsOpen());
  EXPECT_EQ(COMPORT::fSocket, 1);
  // The peer sees the close.
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 1, 2000), "");
  COMPORT::Close();
  EXPECT_EQ(COMPORT::fSocket, 0);
}

TEST_F(ComportTest, ClosedPortIgnoresEverything) {
  ui::ScopedRecordingFacade facade;
  EXPECT_EQ(COMPORT::DoReceive(), 1);
  EXPECT_EQ(COMPORT::GetInQueueCount(), 0);
  EXPECT_EQ(COMPORT::GetOutQueueCount(), 0);
  EXPECT_EQ(COMPORT::GetBaudrate(), -1);
  EXPECT_EQ(COMPORT::SetComParam(9600, ONESTOPBIT, FLOW_NONE, 0), 0);
  COMPORT::SendSub('x');
  COMPORT::SendBinary("abc", 3, 0);
  COMPORT::SendBreak(10);
  COMPORT::Flush();
  COMPORT::CheckWriteThread();
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  EXPECT_FALSE(COMPORT::WaitReceive(10));
  EXPECT_TRUE(facade.rec.boxes.empty());
  EXPECT_EQ(COMPORT::Start(nullptr), 0);
}

TEST_F(ComportTest, StartRefusesASecondLineWhileOpen) {
  LinePeer first = OpenLine(false);
  LinePeer second = MakeLinePeer(false);
  EXPECT_EQ(COMPORT::Start(std::move(second.line)), 0);
  ASSERT_TRUE(WriteAll(first.toPort.Get(), "still here"));
  EXPECT_EQ(ReceiveExactly(10), "still here");
}

TEST_F(ComportTest, WriteToAVanishedPeerIsReportedNotFatal) {
  LinePeer peer = OpenLine(false);
  peer.fromPort.Reset();  // nobody reads what the port sends; its input stays open
  // SIGPIPE is ignored: the writer gets EPIPE and the line counts as gone.
  EXPECT_EQ(COMPORT::GetEvent(), 0);
  COMPORT::SendBinary("data", 4, 1);
  EXPECT_TRUE(WaitFor([] { return COMPORT::GetEvent() != 0; }));
  // Later sends are dropped rather than piling up.
  COMPORT::SendBinary("more", 4, 1);
  EXPECT_TRUE(WaitDrained());
}

TEST_F(ComportTest, SendSlowSendsEveryCharacterThroughTheTextPath) {
  LinePeer peer = OpenLine(false);
  hostprop.LocalEcho = 1;
  COMPORT::SendSlow("ab\r");
  EXPECT_EQ(ReadExactly(peer.ReadFd(), 3), "ab\r");
  EXPECT_EQ(QueueContents(), "ab\r");
  EXPECT_TRUE(WaitDrained());
}

TEST_F(ComportTest, LocalEchoCanBeSwitchedOffAndBack) {
  hostprop.LocalEcho = 1;
  COMPORT::SetLocalEchoOff();
  EXPECT_EQ(hostprop.LocalEcho, 0);
  COMPORT::RestoreLocalEcho();
  EXPECT_EQ(hostprop.LocalEcho, 1);
}

TEST_F(ComportTest, NoiseMixingDamagesAFewBytes) {
  // About 6 in 32768 bytes change each way; over 256 KiB that is some, and
  // far from all.
  config.NoiseMixing = 1;
  LinePeer peer = OpenLine(false);
  COMPORT::SetBinaryMode();
  const std::string sent = Pattern(256 * 1024, 9);
  std::thread writer([&] { WriteAll(peer.toPort.Get(), sent, 30000); });
  const std::string got = ReceiveExactly(sent.size(), 30000);
  writer.join();
  ASSERT_EQ(got.size(), sent.size());
  size_t changed = 0;
  for (size_t i = 0; i < got.size(); ++i) changed += got[i] != sent[i];
  EXPECT_GT(changed, 0u);
  EXPECT_LT(changed, 400u);
}

}  // namespace
