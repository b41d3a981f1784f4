// The end of a ZMODEM download: after the receiver answers the sender's ZFIN
// it takes only an "OO" that comes at once, leaves every other byte on the
// line for the terminal, and a hang-up from then on is no failure.  The
// sender is a script of byte-exact frames written on a memory line; the
// receiver runs in the real transfer loop on a manual clock.
#include <gtest/gtest.h>

#include <string>

#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer/crc.h"
#include "transfer/transfer.h"
#include "transfer/zmodem.h"

namespace {

constexpr int kZrqinit = 0, kZfile = 4, kZfin = 8, kZdata = 10, kZeof = 11;
constexpr char kZdle = 0x18;

// A hex header as lrzsz's sz writes it: CR, LF with bit 7, and XON except
// after ZFIN.
std::string Hex(int type, long long pos) {
  const unsigned char raw[5] = {static_cast<unsigned char>(type), static_cast<unsigned char>(pos),
                                static_cast<unsigned char>(pos >> 8), static_cast<unsigned char>(pos >> 16),
                                static_cast<unsigned char>(pos >> 24)};
  const std::uint16_t crc = Crc16(raw, 5);
  static const char digits[] = "0123456789abcdef";
  std::string s = "**\x18" "B";
  auto put = [&](unsigned char b) {
    s += digits[b >> 4];
    s += digits[b & 15];
  };
  for (unsigned char b : raw) put(b);
  put(static_cast<unsigned char>(crc >> 8));
  put(static_cast<unsigned char>(crc));
  s += "\r\x8a";
  if (type != kZfin) s += '\x11';
  return s;
}

// A byte as sz escapes it.
void PutEscaped(std::string& s, unsigned char c) {
  switch (c) {
    case 0x18: case 0x10: case 0x11: case 0x13: case 0x90: case 0x91: case 0x93:
      s += kZdle;
      s += static_cast<char>(c ^ 0x40);
      break;
    default:
      s += static_cast<char>(c);
  }
}

// A binary header with a 16-bit CRC, as sz sends ZFILE and ZDATA.
std::string Bin(int type, long long pos) {
  const unsigned char raw[5] = {static_cast<unsigned char>(type), static_cast<unsigned char>(pos),
                                static_cast<unsigned char>(pos >> 8), static_cast<unsigned char>(pos >> 16),
                                static_cast<unsigned char>(pos >> 24)};
  const std::uint16_t crc = Crc16(raw, 5);
  std::string s = "*\x18" "A";
  for (unsigned char b : raw) PutEscaped(s, b);
  PutEscaped(s, static_cast<unsigned char>(crc >> 8));
  PutEscaped(s, static_cast<unsigned char>(crc));
  return s;
}

// A data subpacket ending with `end` (ZCRCE 'h', ZCRCW 'k').
std::string Sub(const std::string& data, char end) {
  std::uint16_t crc = Crc16(data.data(), data.size());
  crc = Crc16Update(crc, static_cast<std::uint8_t>(end));
  std::string s;
  auto put = [&](unsigned char c) { PutEscaped(s, c); };
  for (char c : data) put(static_cast<unsigned char>(c));
  s += kZdle;
  s += end;
  put(static_cast<unsigned char>(crc >> 8));
  put(static_cast<unsigned char>(crc));
  return s;
}

// One file "a.txt" holding "hello", then (with fin) ZFIN.
std::string Session(bool fin) {
  std::string s = Hex(kZrqinit, 0) + Bin(kZfile, 0) + Sub(std::string("a.txt\0" "5 0 0\0", 12), 'k') +
                  Bin(kZdata, 0) + Sub("hello", 'h') + Hex(kZeof, 5);
  if (fin) s += Hex(kZfin, 0);
  return s;
}

std::string ReadAll(MEMORYLINE& line) {
  std::string got;
  unsigned char buf[256];
  while (size_t n = line.Read(buf, sizeof buf)) got.append(reinterpret_cast<char*>(buf), n);
  return got;
}

enum class AFTER { AT_ONCE, LATER, HANG_UP };

struct RUN {
  int outcome = -1;
  std::string left;  // what the receiver left on the line
  std::string file;
};

// Runs the receiver against the scripted session; `after` follows the
// sender's ZFIN in the same write, or once the receiver has answered it, or
// the line is cut then.
RUN Receive(const std::string& session, const std::string& after, AFTER when) {
  TempDir dir;
  auto [host, us] = MEMORYLINE::MakePair(65536);
  host->UseManualClock();
  TRANSFER t;
  t.protocol = PROTOCOL_ZMODEM;
  t.line = us.get();
  t.opt.downloadDir = dir.Path();
  t.opt.mode = DM_RENAME;
  t.BeginDownload();
  auto engine = MakeZmodemDownload(t);
  EXPECT_TRUE(host->Write(session.data(), session.size()));
  if (when == AFTER::AT_ONCE) {
    EXPECT_TRUE(host->Write(after.data(), after.size()));
  }
  std::string said;
  bool acted = when == AFTER::AT_ONCE;
  TRANSFERLOOPHOOKS hooks;
  hooks.afterPass = [&] {
    said += ReadAll(*host);
    // The receiver's ZFIN: a hex header of type 8, position 0.
    if (!acted && said.find("B0800000000") != std::string::npos) {
      acted = true;
      if (when == AFTER::HANG_UP) {
        host->Cut();
      } else {
        EXPECT_TRUE(host->Write(after.data(), after.size()));
      }
    }
    // No ZFIN in the session: the line goes once the file is whole.
    if (!acted && t.fMovedFile && session.find(Hex(kZfin, 0)) == std::string::npos) {
      acted = true;
      host->Cut();
    }
  };
  RUN r;
  RunTransferLoop(t, *engine, hooks);
  r.outcome = TransferOutcome(t);
  r.left = ReadAll(*us);
  r.file = ReadWholeFile(dir.File("a.txt"));
  return r;
}

TEST(ZmodemSessionEnd, OnlyAnOoThatComesAtOnceIsTakenAndTheRestStaysOnTheLine) {
  const struct {
    std::string after, left;
  } cases[] = {
      {"OO", ""},
      {"OOSZ ENDED WITH 0\r\n", "SZ ENDED WITH 0\r\n"},
      {"OOGOODBYE\r\n", "GOODBYE\r\n"},
      // No "OO" at all (telnetd dropped it): the host's words are whole.
      {"SZ ENDED WITH 0\r\nGOODBYE\r\n", "SZ ENDED WITH 0\r\nGOODBYE\r\n"},
      {"GOODBYE", "GOODBYE"},
      // One 'O' that is the host's: it stays too.
      {"OK\r\n", "OK\r\n"},
      // The host's own line end after the header's is kept.
      {"\r\nMENU", "\r\nMENU"},
      {"OO\r\nMENU", "\r\nMENU"},
      // Silence: the session ends a second later with nothing left over.
      {"", ""},
  };
  for (AFTER when : {AFTER::AT_ONCE, AFTER::LATER}) {
    for (const auto& c : cases) {
      const RUN r = Receive(Session(true), c.after, when);
      const char* form = when == AFTER::AT_ONCE ? "at once" : "later";
      EXPECT_EQ(r.outcome, 0) << form << ": " << c.after;
      EXPECT_EQ(r.file, "hello") << form << ": " << c.after;
      EXPECT_EQ(r.left, c.left) << form << ": " << c.after;
    }
  }
}

TEST(ZmodemSessionEnd, AHangUpAfterZfinIsASuccessAndOneBeforeItIsNot) {
  const RUN after = Receive(Session(true), "", AFTER::HANG_UP);
  EXPECT_EQ(after.outcome, 0);
  EXPECT_EQ(after.file, "hello");
  // The file went through whole but the sender never said the session was
  // over: the line's loss is error 12.
  const RUN before = Receive(Session(false), "", AFTER::HANG_UP);
  EXPECT_EQ(before.outcome, 12);
}

}  // namespace
