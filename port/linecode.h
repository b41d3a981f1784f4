// Line-code conversion: what the port does to received text before anyone sees
// it, and what it does to typed text before it goes on the line.
//
// Receive: NUL removal, 7-bit stripping, an LF after every CR for hosts that end
// lines with CR alone, then the JIS/EUC/NEC decoder that turns the host's code
// into Shift_JIS.  The decoder keeps its state between calls, so an escape
// sequence or a JIS pair split across two reads decodes as if it came at once.
//
// Send: the Shift_JIS the user typed becomes the host's code (JIS with its
// shift sequences, EUC, or 7-bit kana with SO/SI); each byte reaches the line
// through a sink that knows whether it carries a local echo.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Length of the run of bytes from 0x20 on at the start of p, at most n: text
// that the receive path can take without a control-code step.  Eight bytes
// are looked at a time: (x - 0x20 in every byte) & ~x has a byte's high bit
// set for a byte below 0x20, and the lowest such flag is exact (a borrow only
// starts at such a byte and only runs upwards).
inline size_t PrintableRun(const char* p, size_t n) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kSpaces = 0x2020202020202020ull, kHighBits = 0x8080808080808080ull;
    for (; i + 8 <= n; i += 8) {
      uint64_t x;
      std::memcpy(&x, p + i, 8);
      const uint64_t below = (x - kSpaces) & ~x & kHighBits;
      if (below != 0) return i + static_cast<size_t>(std::countr_zero(below) / 8);
    }
  }
  while (i < n && static_cast<unsigned char>(p[i]) >= 0x20) ++i;
  return i;
}

// The host properties the conversions read.
struct LINECODEPARAM {
  int KanjiCode = 0;      // 0 Shift_JIS, 1 new JIS, 2 old JIS, 3 NEC, 4 EUC
  int AutoJisEuc = 0;     // accept JIS escapes (and, unless KanjiCode is 0, EUC bytes) whatever KanjiCode says
  int SevenBit = 0;       // strip received bytes to 7 bits; 7-bit kana on send
  int ReceiveCROnly = 0;  // the host ends lines with CR alone
};

class RECEIVEDECODER {
 public:
  RECEIVEDECODER() { Reset(); }
  // Back to single-byte mode with nothing held (port opened, line hung up).
  void Reset();

  // Worst case output for n input bytes: every byte doubled by the CR rule,
  // plus the two bytes of an escape held from the previous call.
  static constexpr size_t MaxOutput(size_t n) { return 2 * n + 2; }

  // Converts n received bytes into out (which holds at least MaxOutput(n)
  // bytes); returns the number of bytes written.  in and out may not overlap.
  size_t Convert(const LINECODEPARAM& param, const unsigned char* in, size_t n, unsigned char* out);

  int escStage;          // 0 none, 1 after ESC, 2 after ESC and one byte
  unsigned char escByte; // the byte after ESC (bit 7 cleared)
  int kanjiStage;        // 0 single-byte, 1 JIS two-byte mode, 2 EUC lead byte held
  unsigned char held;    // EUC lead byte, or first byte of a JIS pair
  int jisPhase;          // 1 while the first byte of a JIS pair is held
  int fShiftOut;         // SO seen: 7-bit bytes are half-width katakana
  int fPrintMiss;        // the host left kanji mode with ESC ( H rather than ESC ( J
};

// Where encoded bytes go.  Sub: a byte with no echo (shift sequences, SO/SI,
// the EUC kana prefix).  WithEcho: a byte sent with `echo` as its local echo.
class SENDSINK {
 public:
  virtual ~SENDSINK() = default;
  virtual void Sub(unsigned char c) = 0;
  virtual void WithEcho(unsigned char send, unsigned char echo) = 0;
};

class SENDENCODER {
 public:
  SENDENCODER() { Reset(); }
  void Reset();
  // Encodes one Shift_JIS byte for the host.  printMiss: end kanji mode with
  // ESC ( H as the host does.
  void Encode(const LINECODEPARAM& param, bool printMiss, unsigned char c, SENDSINK& sink);

  int kanjiSendState;   // 0 single-byte, 1 kanji mode, 2 lead byte held
  unsigned char held;   // the held lead byte
  int fShiftOut;        // SO sent (7-bit kana)
};
