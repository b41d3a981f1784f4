// The XMODEM/YMODEM engines: wire bytes against hand-built packets, a sender
// against a receiver in memory (a simulated clock, a line that can lose or
// spoil bytes), and both engines against lrzsz over a pty pair.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/pty_peer.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer/transfer.h"
#include "transfer/xmodem.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace xmodem;

namespace {

struct MemSource : Source {
  std::vector<std::pair<std::string, std::string>> files;  // name, data
  size_t next = 0, pos = 0;
  bool Next(FileInfo* info) override {
    if (next >= files.size()) return false;
    info->name = files[next].first;
    info->length = static_cast<int64_t>(files[next].second.size());
    info->mtime = 1700000000;
    pos = 0;
    ++next;
    return true;
  }
  long Read(char* buf, size_t n) override {
    const std::string& d = files[next - 1].second;
    n = std::min(n, d.size() - pos);
    std::memcpy(buf, d.data() + pos, n);
    pos += n;
    return static_cast<long>(n);
  }
  void Close() override {}
};

struct MemSink : Sink {
  std::vector<std::pair<std::string, std::string>> done;
  std::string name, data;
  int openAnswer = 1;
  int Open(const FileInfo& info) override {
    name = info.name;
    data.clear();
    return openAnswer;
  }
  bool Write(const char* p, size_t n) override {
    data.append(p, n);
    return true;
  }
  bool Close(bool ok) override {
    if (ok) done.emplace_back(name, data);
    return ok;
  }
};

struct Recorder : Events {
  std::vector<std::string> debug;
  int64_t processed = 0;
  void AddProcessed(int64_t n) override { processed += n; }
  void Debug(const std::string& t) override { debug.push_back(t); }
};

std::string Random(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

std::string Take(Engine& e) {
  std::string o = std::move(e.out);
  e.out.clear();
  return o;
}

// Runs a sender against a receiver with a simulated clock.  noise: one byte
// in `noise` on average is spoiled (flipped, dropped or doubled).
struct Loop {
  TICK now = 1000000;
  int rounds = 0;
  void Run(Engine& a, Engine& b, unsigned noise = 0, unsigned seed = 1) {
    std::mt19937 g(seed);
    auto carry = [&](Engine& from, Engine& to) {
      std::string o = Take(from);
      if (noise) {
        std::string n;
        for (char c : o) {
          if (g() % noise == 0) {
            switch (g() % 3) {
              case 0: n.push_back(static_cast<char>(c ^ (1 + g() % 255))); break;
              case 1: break;
              default: n.push_back(c); n.push_back(c); break;
            }
          } else {
            n.push_back(c);
          }
        }
        o = n;
      }
      if (!o.empty()) to.Input(o.data(), o.size());
      return !o.empty();
    };
    for (rounds = 0; rounds < 2000000 && !(a.Finished() && b.Finished()); ++rounds) {
      a.Process(now);
      bool moved = carry(a, b);
      b.Process(now);
      moved = carry(b, a) || moved;
      if (a.Finished() != b.Finished() && !moved) {
        // The survivor sees the line stay silent.
        now += 1000;
      } else if (!moved) {
        now += 100;
      }
    }
  }
};

}  // namespace

TEST(XmodemWire, CrcChecksumAndPackets) {
  EXPECT_EQ(Crc16("123456789", 9), 0x31C3);
  EXPECT_EQ(Checksum("\x01\x02\xFF", 3), 0x02);
  const std::string p = BuildPacket(1, "AB", 2, false);
  ASSERT_EQ(p.size(), 132u);
  EXPECT_EQ(p.substr(0, 5), std::string("\x01\x01\xFE" "AB", 5));
  EXPECT_EQ(p.substr(5, 126), std::string(126, SUB));
  EXPECT_EQ(static_cast<unsigned char>(p[131]), (0x41 + 0x42 + 126 * 0x1A) & 0xFF);
  const std::string q = BuildPacket(255, std::string(1000, 'x').data(), 1000, true);
  ASSERT_EQ(q.size(), 1029u);
  EXPECT_EQ(q.substr(0, 3), std::string("\x02\xFF\x00", 3));
}

TEST(XmodemWire, Block0RoundTrip) {
  FileInfo fi{"\x95\x5C.txt", 1000, 01234567};
  const std::string d = BuildBlock0(fi);
  ASSERT_EQ(d.size(), 128u);
  EXPECT_EQ(d.substr(0, 20), std::string("\x95\x5C.txt\0" "1000 1234567", 19) + '\0');
  FileInfo back = ParseBlock0(d.data(), d.size());
  EXPECT_EQ(back.name, fi.name);
  EXPECT_EQ(back.length, 1000);
  EXPECT_EQ(back.mtime, 01234567);
  // Unterminated name, and a long name needing a 1024-byte block.
  EXPECT_EQ(ParseBlock0("abc", 3).name, "abc");
  EXPECT_EQ(BuildBlock0(FileInfo{std::string(200, 'n'), 5, {}}).size(), 1024u);
}

// A 300-byte XMODEM-1K upload goes as three 128-byte blocks; the last is
// padded.  The checksum sender switches to CRC on "C".
TEST(XmodemSender, BlockSizesAndStartCharacters) {
  struct Row { int protocol; char start; int shown; std::vector<size_t> pieces; bool crc; };
  const Row rows[] = {
      {kXmodem1K, 'C', kXmodem1K, {128, 128, 44}, true},
      {kXmodem1K, 'C', kXmodem1K, {1024, 900}, true},
      {kXmodem, 'C', kXmodemCrc, {128, 1}, true},
      {kXmodemCrc, NAK, kXmodem, {128, 128}, false},
      {kXmodem1K, NAK, kXmodem, {128, 128, 128}, false},
  };
  for (const Row& r : rows) {
    size_t total = 0;
    for (size_t n : r.pieces) total += n;
    MemSource src;
    src.files = {{"f", Random(total, 7)}};
    Events ev;
    Sender s(r.protocol, &src, &ev, false, 0);
    s.Input(&r.start, 1);
    s.Process(1);
    EXPECT_EQ(s.protocol, r.shown);
    size_t off = 0;
    uint8_t seq = 1;
    for (size_t n : r.pieces) {
      EXPECT_EQ(Take(s), BuildPacket(seq, src.files[0].second.data() + off, n, r.crc)) << r.protocol << " " << n;
      off += n;
      ++seq;
      s.Input("\x06", 1);
      s.Process(2);  // takes the ACK
      s.Process(2);  // sends the next block
    }
    EXPECT_EQ(Take(s), "\x04");
    s.Input("\x06", 1);
    EXPECT_EQ(s.Process(3), 0);
    EXPECT_TRUE(s.Succeeded());
  }
}

TEST(XmodemSender, HandshakeFaults) {
  struct Row { int protocol; std::string in; int error; };
  const Row rows[] = {
      {kXmodem1K, "CCC", -1},           // repeats count as one: accepted
      {kXmodem1K, "C\x06", 7},          // not alone
      {kYmodemBatch, "\x15", 7},        // YMODEM will not send checksums
      {kXmodem, "\x18\x18", 4},         // the peer cancelled
      {kXmodem, "\x18" "C", -1},        // a lone CAN is noise
  };
  for (const Row& r : rows) {
    MemSource src;
    src.files = {{"f", "data"}};
    Events ev;
    Sender s(r.protocol, &src, &ev, false, 0);
    s.Input(r.in.data(), r.in.size());
    s.Process(1);
    if (r.error < 0) {
      EXPECT_FALSE(s.Finished()) << r.in;
      EXPECT_EQ(static_cast<unsigned char>(s.out[0]), r.protocol == kXmodem && r.in[0] != 'C' ? SOH : SOH) << r.in;
    } else {
      EXPECT_TRUE(s.Finished()) << r.in;
      EXPECT_EQ(s.error, r.error) << r.in;
    }
  }
  // No answer for 60 s: time-out, eight CANs.
  MemSource src;
  src.files = {{"f", "data"}};
  Events ev;
  Sender s(kXmodemCrc, &src, &ev, false, 0);
  s.Process(kAnswerWaitMs);
  EXPECT_EQ(s.error, 3);
  EXPECT_EQ(s.out, std::string(8, CAN));
}

TEST(XmodemReceiver, EotTwiceRepeatsAndBadBlocks) {
  MemSink sink;
  Recorder ev;
  Receiver r(kXmodemCrc, &sink, &ev, false, 0);
  r.Process(0);
  EXPECT_EQ(Take(r), "C");
  const std::string b1 = BuildPacket(1, std::string(128, 'a').data(), 128, true);
  r.Input(b1.data(), b1.size());
  r.Process(1);
  EXPECT_EQ(Take(r), "\x06");
  r.Input(b1.data(), b1.size());  // its ACK was lost
  r.Process(2);
  EXPECT_EQ(Take(r), "\x06");
  std::string bad = BuildPacket(2, std::string(128, 'b').data(), 128, true);
  bad[10] ^= 1;
  r.Input(bad.data(), bad.size());
  r.Process(3);
  EXPECT_EQ(Take(r), "\x15");
  EXPECT_EQ(ev.debug.back(), "CRC mismatch\n");
  const std::string b3 = BuildPacket(3, std::string(128, 'c').data(), 128, true);
  r.Input(b3.data(), b3.size());
  r.Process(4);
  EXPECT_EQ(Take(r), "\x15");
  EXPECT_EQ(ev.debug.back(), "sequence number mismatch: my seq = 2, packet.seq = 3\n");
  r.Input("\x04", 1);
  r.Process(5);
  EXPECT_EQ(Take(r), "\x15");  // one EOT may be noise
  EXPECT_FALSE(r.Finished());
  r.Input("\x04", 1);
  EXPECT_EQ(r.Process(6), 0);
  EXPECT_EQ(Take(r), "\x06");
  EXPECT_TRUE(r.Succeeded());
  ASSERT_EQ(sink.done.size(), 1u);
  EXPECT_EQ(sink.done[0].second, std::string(128, 'a'));
}

TEST(XmodemReceiver, ThirtyBadBlocksAndTimers) {
  {
    MemSink sink;
    Recorder ev;
    Receiver r(kXmodem, &sink, &ev, false, 0);
    r.Process(0);
    EXPECT_EQ(Take(r), "\x15");
    std::string bad = BuildPacket(1, "x", 1, false);
    bad.back() ^= 1;
    for (int k = 0; k < 30 && !r.Finished(); ++k) {
      r.Input(bad.data(), bad.size());
      r.Process(1 + k);
    }
    EXPECT_EQ(r.error, 5);
    EXPECT_EQ(ev.debug.back(), "checksum mismatch\n");
    EXPECT_TRUE(sink.done.empty());
  }
  {
    // Half a packet: NAK after 10 s, the part dropped; 60 s of silence ends it.
    MemSink sink;
    Events ev;
    Receiver r(kXmodemCrc, &sink, &ev, false, 0);
    r.Process(0);
    Take(r);
    const std::string b1 = BuildPacket(1, "x", 1, true);
    r.Input(b1.data(), 60);
    r.Process(100);
    EXPECT_EQ(Take(r), "");
    r.Process(100 + kPacketWaitMs);
    EXPECT_EQ(Take(r), "\x15");
    r.Input(b1.data(), b1.size());
    r.Process(100 + kPacketWaitMs + 1);
    EXPECT_EQ(Take(r), "\x06");
    r.Process(200 + kPacketWaitMs + kSilenceMs);
    EXPECT_EQ(r.error, 3);
    EXPECT_TRUE(sink.done.empty());
  }
}

// YMODEM: the declared length cuts the padding; STX block 0 with an
// unterminated name; the empty block 0 ends a batch of two.
TEST(YmodemReceiver, DeclaredLengthAndBatchEnd) {
  MemSink sink;
  Events ev;
  Receiver r(kYmodemBatch, &sink, &ev, false, 0);
  r.Process(0);
  EXPECT_EQ(Take(r), "C");
  auto block0 = [](const std::string& d) {
    std::string p = std::string(1, d.size() == 128 ? SOH : STX) + '\0' + '\xFF' + d;
    const uint16_t c = Crc16(d.data(), d.size());
    p.push_back(static_cast<char>(c >> 8));
    p.push_back(static_cast<char>(c));
    return p;
  };
  const std::string data = Random(1024, 3);
  std::string b0 = block0(BuildBlock0(FileInfo{"one", 1000, {}}));
  r.Input(b0.data(), b0.size());
  r.Process(1);
  EXPECT_EQ(Take(r), "\x06" "C");
  std::string b1 = BuildPacket(1, data.data(), 1024, true);
  r.Input(b1.data(), b1.size());
  r.Process(2);
  EXPECT_EQ(Take(r), "\x06");
  r.Input("\x04\x04", 2);
  r.Process(3);
  EXPECT_EQ(Take(r), "\x15\x06" "C");
  std::string name(1024, 'n');  // no NUL at all
  b0 = block0(name);
  r.Input(b0.data(), b0.size());
  r.Process(4);
  EXPECT_EQ(Take(r), "\x06" "C");
  r.Input("\x04\x04", 2);
  r.Process(5);
  Take(r);
  b0 = block0(std::string(128, '\0'));
  r.Input(b0.data(), b0.size());
  EXPECT_EQ(r.Process(6), 0);
  EXPECT_EQ(Take(r), "\x06");
  EXPECT_TRUE(r.Succeeded());
  ASSERT_EQ(sink.done.size(), 2u);
  EXPECT_EQ(sink.done[0].second, data.substr(0, 1000));
  EXPECT_EQ(sink.done[1].first, name);
  EXPECT_EQ(sink.done[1].second, "");
}

TEST(XmodemStop, LocalAbortSendsEightCans) {
  MemSink sink;
  Events ev;
  Receiver r(kXmodem1K, &sink, &ev, false, 0);
  r.Process(0);
  Take(r);
  r.stop = true;
  EXPECT_EQ(r.Process(1), 0);
  EXPECT_EQ(r.out, std::string(8, CAN));
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.Succeeded());
}

// Our sender with our receiver, every variant, flying too, several sizes.
TEST(XmodemLoop, EveryVariantMovesTheFiles) {
  const size_t sizes[] = {0, 1, 128, 300, 1024, 5000};
  const int protocols[] = {kXmodem, kXmodemCrc, kXmodem1K, kYmodem, kYmodemG, kYmodemBatch, kYmodemGBatch};
  for (int p : protocols) {
    for (bool fly : {false, true}) {
      if (fly && !IsXmodem(p)) continue;
      for (size_t n : sizes) {
        if (IsXmodem(p) && n == 0) continue;
        MemSource src;
        src.files = {{"a.bin", Random(n, static_cast<unsigned>(n + p))}};
        if (IsBatch(p)) src.files.push_back({"b.bin", Random(n / 2 + 1, 9)});
        MemSink sink;
        Events e1, e2;
        Sender s(p, &src, &e1, fly, 0);
        Receiver r(p, &sink, &e2, fly, 0);
        Loop loop;
        loop.Run(r, s);
        SCOPED_TRACE(std::string(ProtocolName(p)) + (fly ? " flying " : " ") + std::to_string(n));
        EXPECT_TRUE(s.Succeeded()) << s.error;
        EXPECT_TRUE(r.Succeeded()) << r.error;
        ASSERT_EQ(sink.done.size(), src.files.size());
        for (size_t k = 0; k < src.files.size(); ++k) {
          std::string got = sink.done[k].second;
          if (IsXmodem(p)) {
            EXPECT_EQ(got.size() % 128, 0u);
            EXPECT_EQ(got.substr(0, n), src.files[k].second);
            EXPECT_EQ(got.substr(n), std::string(got.size() - n, SUB));
          } else {
            EXPECT_EQ(sink.done[k].first, src.files[k].first);
            EXPECT_EQ(got, src.files[k].second);
          }
        }
      }
    }
  }
}

// A spoiling line: the retrying forms still deliver identical files; the
// g forms and flying XMODEM end with an error, never a wrong file.
TEST(XmodemLoop, NoiseRetriesOrFailsCleanly) {
  const std::string data = Random(64 * 1024 + 77, 5);
  struct Row { int protocol; bool fly; bool mustSucceed; };
  const Row rows[] = {{kXmodem, false, true},     {kXmodemCrc, false, true}, {kXmodem1K, false, true},
                      {kYmodemBatch, false, true}, {kYmodemGBatch, false, false}, {kXmodem1K, true, false}};
  for (const Row& row : rows) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      MemSource src;
      src.files = {{"n.bin", data}};
      MemSink sink;
      Events e1, e2;
      Sender s(row.protocol, &src, &e1, row.fly, 0);
      Receiver r(row.protocol, &sink, &e2, row.fly, 0);
      Loop loop;
      loop.Run(r, s, 4000, seed);
      SCOPED_TRACE(std::string(ProtocolName(row.protocol)) + (row.fly ? " flying" : "") + " seed " + std::to_string(seed));
      ASSERT_TRUE(r.Finished() && s.Finished());
      if (row.mustSucceed) {
        EXPECT_TRUE(r.Succeeded()) << r.error;
        EXPECT_GT(r.retries + s.retries, 0);
      }
      if (r.Succeeded()) {
        ASSERT_EQ(sink.done.size(), 1u);
        EXPECT_EQ(sink.done[0].second.substr(0, data.size()), data);
      } else {
        EXPECT_NE(r.error, 0);
        EXPECT_TRUE(sink.done.empty());
      }
    }
  }
}

namespace {

// Opens a pty device raw for the pump.
int OpenRaw(const std::string& dev) {
  const int fd = open(dev.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct termios t;
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

std::string Sha(const std::string& path) { return RunProcess({"sha256sum", path}, "").out.substr(0, 64); }

}  // namespace

// lrzsz behind socat on a pty pair, both directions.
TEST(XmodemLrzsz, BothDirections) {
  struct Row { int protocol; bool up; std::string peer; std::vector<size_t> sizes; };
  const std::vector<Row> rows = {
      {kXmodem1K, false, "exec sx -k f0", {200 * 1024}},
      {kXmodemCrc, false, "exec sx f0", {64 * 128}},
      {kXmodem1K, true, "exec rx -c got0", {300 * 1024}},
      {kXmodem, true, "exec rx got0", {20 * 128}},
      {kYmodemBatch, false, "exec sb -k f0 f1 f2", {0, 1, 128 * 100}},
      {kYmodemGBatch, false, "exec sb -k f0 f1 f2", {0, 1, 128 * 100}},
      {kYmodemBatch, true, "mkdir -p got && cd got && exec rb", {0, 1, 128 * 100}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.peer + " " + ProtocolName(row.protocol));
    PtyPeer peer("cd \"$PEER_DIR\" && " + row.peer + " 2>peer.err\n");
    std::vector<std::string> paths;
    for (size_t k = 0; k < row.sizes.size(); ++k) {
      const std::string name = "f" + std::to_string(k);
      ASSERT_TRUE(WriteWholeFile(peer.File(name), Random(row.sizes[k], static_cast<unsigned>(k + 11))));
      paths.push_back(peer.File(name));
    }
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;
    const int fd = OpenRaw(peer.Device());
    ASSERT_GE(fd, 0);
    TempDir down;
    {
      // The engines run inside the transfer framework, as the tool and the
      // program run them.
      FDTRANSFERLINE line(fd, fd);
      TRANSFER t;
      t.protocol = static_cast<PROTOCOL>(row.protocol);
      t.line = &line;
      t.opt.downloadDir = down.Path();
      t.opt.mode = DM_RENAME;
      std::unique_ptr<PROTOCOLENGINE> engine;
      if (row.up) {
        t.files = paths;
        ASSERT_TRUE(t.BeginUpload());
        engine = UploadEngine(row.protocol)(t);
      } else {
        t.BeginDownload();
        if (!ProtocolNamesFile(row.protocol)) {
          ASSERT_EQ(t.ProtocolOpenDownFile({}, -1, false, down.File("x.bin")), OD_OPEN);
        }
        engine = DownloadEngine(row.protocol)(t);
      }
      EXPECT_TRUE(RunTransferLoop(t, *engine)) << TransferOutcome(t);
      EXPECT_EQ(t.history.size(), row.sizes.size());
    }
    close(fd);
    ASSERT_TRUE(peer.WaitExit(20000));
    for (size_t k = 0; k < row.sizes.size(); ++k) {
      const std::string name = "f" + std::to_string(k);
      std::string got = row.up ? (IsXmodem(row.protocol) ? peer.File("got0") : peer.File("got/" + name))
                               : (IsXmodem(row.protocol) ? down.File("x.bin") : down.File(name));
      EXPECT_EQ(Sha(got), Sha(paths[k])) << got;
    }
  }
}
