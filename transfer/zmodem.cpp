// ZMODEM: the download (receiver) and upload (sender) engines.
//
// CRC-16 frames only (this side never offers CANFC32, so a peer answers with
// 16-bit CRCs); data goes in 1024-byte subpackets streamed with ZCRCG.  The
// engines are byte pumps over their TRANSFER's line: each Step() takes what
// arrived, runs the small readers over it (ZGETHEX inside ZGETHEADER,
// ZGETDATA) and sends what is due.
//
// Receiver (ZDOWNLOAD, with ZRECEIVEFILE for one file's data):
//
//   HEADER --ZRQINIT/other--> send ZRINIT, HEADER
//   HEADER --ZFILE--> FILEINFO --bad--> ZNAK, HEADER
//                     FILEINFO --declined/skip--> ZSKIP, HEADER
//                     FILEINFO --opened--> ZRPOS(pos), FILE
//   FILE: GET_HEADER --ZDATA at pos--> GET_DATA --ZCRCE/W--> GET_HEADER
//         GET_HEADER --ZEOF at pos--> file whole, ZRINIT, HEADER
//         a bad subpacket, ZDATA/ZEOF elsewhere: recovery, ZRPOS(pos),
//         repeated after 10 s; 20 recoveries without progress end it (5)
//   HEADER --ZFIN--> ZFIN, read "OO", done
//   any error or cancel --> FINISH: collect the host's text for 500 ms of
//   silence, show it, end.
//
// Sender (ZUPLOAD): ZRQINIT, WAIT_ZRINIT --ZRINIT--> ZFILE --ZRPOS--> SENDING
//   --last piece--> ZEOF, WAIT_AFTER_EOF --ZRINIT--> next file's ZFILE or
//   ZFIN, WAIT_ZFIN_ACK --ZFIN--> "OO", done.  A ZRPOS anywhere restarts the
//   data at its position; ZSKIP skips the file (the transfer then ends 4).
#include "transfer/zmodem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debuglog.h"
#include "transfer/crc.h"
#include "transfer/names.h"

namespace {

// ---- wire constants ------------------------------------------------------------------

constexpr std::uint8_t ZPAD = '*';
constexpr std::uint8_t ZDLE = 0x18;
constexpr std::uint8_t ZBIN = 'A';
constexpr std::uint8_t ZHEX = 'B';
constexpr std::uint8_t ZBIN32 = 'C';
constexpr std::uint8_t XON = 0x11;
constexpr std::uint8_t XOFF = 0x13;
constexpr std::uint8_t CAN = 0x18;

enum FRAMETYPE : int {
  ZRQINIT = 0, ZRINIT = 1, ZSINIT = 2, ZACK = 3, ZFILE = 4, ZSKIP = 5, ZNAK = 6, ZABORT = 7,
  ZFIN = 8, ZRPOS = 9, ZDATA = 10, ZEOF = 11, ZFERR = 12, ZCRC = 13, ZCHALLENGE = 14,
  ZCOMPL = 15, ZCAN = 16, ZFREECNT = 17, ZCOMMAND = 18, ZSTDERR = 19,
};

constexpr std::uint8_t ZCRCE = 'h', ZCRCG = 'i', ZCRCQ = 'j', ZCRCW = 'k', ZRUB0 = 'l', ZRUB1 = 'm';

// ZRINIT capability bits (ZF0).
constexpr std::uint8_t CANFDX = 0x01, CANOVIO = 0x02, CANBRK = 0x04, ESCCTL = 0x40;
// ZSINIT flag: the sender wants control characters escaped.
constexpr std::uint8_t TESCCTL = 0x40;

constexpr TICK kReadTimeout = 60000;     // silence inside a header or subpacket
constexpr TICK kHandshakeTimeout = 120000;
constexpr TICK kFirstHeaderMs = 1000;    // no header yet: behave as if ZRQINIT came
constexpr TICK kRecoveryRepeat = 10000;  // a ZRPOS in recovery is repeated
constexpr TICK kResendMs = 10000;        // sender: a handshake frame is repeated
constexpr TICK kFinishQuiet = 500;       // end of the host's text after an abort
constexpr TICK kOoWaitMs = 1000;         // the sender's "OO" after ZFIN
constexpr TICK kOoFirstMs = 250;         // ... when not even its first "O" came
constexpr int kMaxRecoveries = 20;
constexpr size_t kBlock = 1024;           // data per subpacket sent
constexpr size_t kDataBuffer = 8192;      // largest subpacket taken (peers may send 8 KiB)
constexpr size_t kReadChunk = 65536;
constexpr int kStepBytes = 262144;        // received bytes one step handles at most
constexpr size_t kHeldMax = 65536;        // received data written in one piece

const char* FrameName(int t) {
  static const char* const names[] = {"ZRQINIT", "ZRINIT", "ZSINIT", "ZACK", "ZFILE", "ZSKIP", "ZNAK",
                                      "ZABORT", "ZFIN", "ZRPOS", "ZDATA", "ZEOF", "ZFERR", "ZCRC",
                                      "ZCHALLENGE", "ZCOMPL", "ZCAN", "ZFREECNT", "ZCOMMAND", "ZSTDERR"};
  return t >= 0 && t < 20 ? names[t] : "UNKNOWN";
}

long long Pos(const std::uint8_t d[4]) {
  return static_cast<long long>(d[0]) | static_cast<long long>(d[1]) << 8 | static_cast<long long>(d[2]) << 16 |
         static_cast<long long>(d[3]) << 24;
}

void PutPos(std::uint8_t d[4], long long pos) {
  d[0] = static_cast<std::uint8_t>(pos);
  d[1] = static_cast<std::uint8_t>(pos >> 8);
  d[2] = static_cast<std::uint8_t>(pos >> 16);
  d[3] = static_cast<std::uint8_t>(pos >> 24);
}

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ---- the shared reading and sending state (ZIO) --------------------------------------

// What every reader shares: the received bytes, the CAN count, the last
// byte, the error-finish flag, and the sender's escaping.
struct ZIO {
  explicit ZIO(TRANSFER& t) : t(t) { in.resize(kReadChunk); }
  TRANSFER& t;
  std::vector<std::uint8_t> in;
  size_t head = 0, tail = 0;
  int cCan = 0;
  bool fErrorFinish = false;
  TICK lastByte = 0;
  int budget = 0;  // bytes still allowed in this step
  // Sending.
  bool escCtl = false;      // MaskCtrlCode, or the peer asked (ESCCTL, TESCCTL)
  std::uint8_t escape[256] = {};
  std::uint8_t lastSent = 0;
  std::vector<std::uint8_t> out;  // one frame being built
  std::vector<std::uint8_t> pending;  // a frame the line did not take yet

  void Init() {
    lastByte = t.Now();
    SetEscapes(t.opt.maskCtrl);
  }
  void SetEscapes(bool ctl) {
    escCtl = ctl;
    std::memset(escape, 0, sizeof escape);
    for (std::uint8_t c : {ZDLE, static_cast<std::uint8_t>(0x10), XON, XOFF, static_cast<std::uint8_t>(0x90),
                           static_cast<std::uint8_t>(0x91), static_cast<std::uint8_t>(0x93)})
      escape[c] = 1;
    escape[0x0D] = escape[0x8D] = 2;  // only after '@'
    if (ctl)
      for (int c = 0; c < 256; ++c)
        if ((c & 0x7F) < 0x20) escape[c] = 1;
  }

  bool Fill() {
    if (head < tail) return true;
    if (budget <= 0) return false;
    head = 0;
    tail = t.line->Read(in.data(), std::min(in.size(), static_cast<size_t>(budget)));
    if (tail == 0) return false;
    budget -= static_cast<int>(tail);
    lastByte = t.Now();
    return true;
  }
  // GetAndCheckCancel: one byte, -1 when none is there.  Five CANs in a row
  // end the transfer (4); XON and XOFF (with or without bit 7) are skipped.
  int Get() {
    for (;;) {
      if (!Fill()) return -1;
      const std::uint8_t c = in[head++];
      if (c == CAN) {
        if (++cCan >= 5) {
          DebugLog("GetAndCheckCancel: CAN received\r\n");
          Fail(PE_CANCELLED, false);
          return -1;
        }
      } else {
        cCan = 0;
      }
      if ((c & 0x7F) == XON || (c & 0x7F) == XOFF) continue;
      return c;
    }
  }
  bool Silent(TICK ms) { return t.Now() - lastByte >= ms; }

  void Fail(PROTOCOLERROR e, bool abort) {
    if (fErrorFinish) return;
    if (t.protocolerror == PE_OK) t.protocolerror = e;
    fErrorFinish = true;
    if (abort) SendAbort();
  }

  // ---- output ----
  bool Flush() {
    if (pending.empty()) return true;
    if (!t.line->Write(pending.data(), pending.size())) return false;
    pending.clear();
    return true;
  }
  // Queues the frame in `out` (after any pending one).  The caller checks
  // CanSend first on the data path; control frames may wait in `pending`.
  void Emit() {
    if (pending.empty() && t.line->Write(out.data(), out.size())) {
      out.clear();
      return;
    }
    pending.insert(pending.end(), out.begin(), out.end());
    out.clear();
  }
  void SendAbort() {
    static const std::uint8_t seq[16] = {CAN, CAN, CAN, CAN, CAN, CAN, CAN, CAN, 8, 8, 8, 8, 8, 8, 8, 8};
    pending.clear();
    out.assign(seq, seq + 16);
    Emit();
  }
  void PutEsc(std::uint8_t c) {
    const std::uint8_t e = escape[c];
    if (e == 1 || (e == 2 && (lastSent & 0x7F) == '@')) {
      out.push_back(ZDLE);
      out.push_back(c ^ 0x40);
    } else {
      out.push_back(c);
    }
    lastSent = c;
  }
  void HexByte(std::uint8_t b) {
    static const char digits[] = "0123456789abcdef";
    out.push_back(static_cast<std::uint8_t>(digits[b >> 4]));
    out.push_back(static_cast<std::uint8_t>(digits[b & 15]));
  }
  void SendHex(int type, const std::uint8_t d[4]) {
    DebugLogF("Send Hex: %s\r\n", FrameName(type));
    out.insert(out.end(), {ZPAD, ZPAD, ZDLE, ZHEX});
    std::uint16_t crc = Crc16Update(0, static_cast<std::uint8_t>(type));
    HexByte(static_cast<std::uint8_t>(type));
    for (int i = 0; i < 4; ++i) {
      HexByte(d[i]);
      crc = Crc16Update(crc, d[i]);
    }
    HexByte(static_cast<std::uint8_t>(crc >> 8));
    HexByte(static_cast<std::uint8_t>(crc));
    out.push_back(0x0D);
    out.push_back(0x0A);
    if (type != ZFIN && type != ZACK) out.push_back(XON);
    lastSent = 0;
    Emit();
  }
  void SendHex(int type, long long pos = 0) {
    std::uint8_t d[4];
    PutPos(d, pos);
    SendHex(type, d);
  }
  void SendBinary(int type, const std::uint8_t d[4]) {
    DebugLogF("Send Binary: %s\r\n", FrameName(type));
    out.insert(out.end(), {ZPAD, ZDLE, ZBIN});
    std::uint16_t crc = Crc16Update(0, static_cast<std::uint8_t>(type));
    PutEsc(static_cast<std::uint8_t>(type));
    for (int i = 0; i < 4; ++i) {
      PutEsc(d[i]);
      crc = Crc16Update(crc, d[i]);
    }
    PutEsc(static_cast<std::uint8_t>(crc >> 8));
    PutEsc(static_cast<std::uint8_t>(crc));
    Emit();
  }
  void SendBinary(int type, long long pos = 0) {
    std::uint8_t d[4];
    PutPos(d, pos);
    SendBinary(type, d);
  }
  // A data subpacket into `out` (not yet emitted).
  void BuildData(const std::uint8_t* p, size_t n, std::uint8_t end) {
    out.reserve(out.size() + n * 2 + 16);
    std::uint16_t crc = 0;
    std::uint8_t last = lastSent;
    for (size_t i = 0; i < n; ++i) {
      const std::uint8_t c = p[i];
      crc = Crc16Update(crc, c);
      const std::uint8_t e = escape[c];
      if (e == 0) {
        out.push_back(c);
      } else if (e == 1 || (last & 0x7F) == '@') {
        out.push_back(ZDLE);
        out.push_back(c ^ 0x40);
      } else {
        out.push_back(c);
      }
      last = c;
    }
    lastSent = last;
    out.push_back(ZDLE);
    out.push_back(end);
    crc = Crc16Update(crc, end);
    PutEsc(static_cast<std::uint8_t>(crc >> 8));
    PutEsc(static_cast<std::uint8_t>(crc));
    if (end == ZCRCW) out.push_back(XON);
  }
  void SendData(const std::uint8_t* p, size_t n, std::uint8_t end) {
    BuildData(p, n, end);
    Emit();
  }
};

// ---- ZGETHEX: count bytes written as pairs of lower-case hex digits --------------------

struct ZGETHEX {
  std::uint8_t* dest = nullptr;
  int count = 0, got = 0, high = -1;
  void Start(std::uint8_t* d, int n) { dest = d; count = n; got = 0; high = -1; }
  // 1 still working, 0 done, -1 a bad digit.
  int Process(ZIO& io) {
    while (got < count) {
      const int c = io.Get();
      if (c < 0) return 1;
      const int v = HexValue(static_cast<std::uint8_t>(c));
      if (v < 0) {
        if (high >= 0) DebugLog("ZGETHEX: mode == MODE_WAIT_1のときに0～f以外の文字を受信しました。\r\n");
        return -1;
      }
      if (high < 0) {
        high = v;
      } else {
        dest[got++] = static_cast<std::uint8_t>(high << 4 | v);
        high = -1;
      }
    }
    return 0;
  }
};

// ---- ZGETHEADER -----------------------------------------------------------------------------

struct ZGETHEADER {
  enum MODE { MODE_WAIT_PAD, MODE_AFTER_PAD, MODE_AFTER_ZDLE, MODE_WAIT_HEX, MODE_WAIT_BINARY };
  MODE mode = MODE_WAIT_PAD;
  std::uint8_t raw[7] = {};
  int got = 0;
  bool esc = false;
  ZGETHEX hex;
  int type = -1;
  std::uint8_t data[4] = {};
  int badCrc = 0;  // headers dropped for a bad CRC

  void Restart() { mode = MODE_WAIT_PAD; }
  void StartAfterZdle() { mode = MODE_AFTER_ZDLE; }
  // 1 working, 0 a header is in type/data.
  int Process(ZIO& io) {
    for (;;) {
      if (io.fErrorFinish) return 1;
      switch (mode) {
        case MODE_WAIT_PAD: {
          // Skip to the next '*' in one scan of the buffer (the common case
          // of junk between frames).
          int c;
          do {
            c = io.Get();
            if (c < 0) return 1;
          } while (c != ZPAD);
          mode = MODE_AFTER_PAD;
          break;
        }
        case MODE_AFTER_PAD: {
          const int c = io.Get();
          if (c < 0) return 1;
          if (c == ZPAD) break;
          if (c == ZDLE) {
            mode = MODE_AFTER_ZDLE;
          } else {
            DebugLog("ZGETHEADER: ZDLEを待っている最中に変な文字を受信しました。\r\n");
            mode = MODE_WAIT_PAD;
          }
          break;
        }
        case MODE_AFTER_ZDLE: {
          const int c = io.Get();
          if (c < 0) return 1;
          if (c == ZBIN) {
            mode = MODE_WAIT_BINARY;
            got = 0;
            esc = false;
          } else if (c == ZHEX) {
            mode = MODE_WAIT_HEX;
            hex.Start(raw, 7);
          } else if (c == ZDLE) {
            // a second ZDLE: still after ZDLE
          } else if (c == ZPAD) {
            mode = MODE_AFTER_PAD;
          } else {
            DebugLogF("GETHEADER: Received unknown character after ZDLE: %02x\r\n", c);
            (void)ZBIN32;
            mode = MODE_WAIT_PAD;
          }
          break;
        }
        case MODE_WAIT_HEX: {
          const int r = hex.Process(io);
          if (r == 1) return 1;
          mode = MODE_WAIT_PAD;
          if (r < 0) break;
          if (Crc16(raw, 7) != 0) {
            DebugLog("ZGETHEADER: MODE_WAIT_HEXでCRCエラーが起きました。\r\n");
            ++badCrc;
            io.t.ProtocolIncRetryCount();
            break;
          }
          return Done("(hex)\r\n");
        }
        case MODE_WAIT_BINARY: {
          while (got < 7) {
            const int c = io.Get();
            if (c < 0) return 1;
            if (esc) {
              esc = false;
              if (c == ZRUB0) raw[got++] = 0x7F;
              else if (c == ZRUB1) raw[got++] = 0xFF;
              else if ((c & 0x60) == 0x40) raw[got++] = static_cast<std::uint8_t>(c ^ 0x40);
              else {
                got = -1;
                break;
              }
            } else if (c == ZDLE) {
              esc = true;
            } else {
              raw[got++] = static_cast<std::uint8_t>(c);
            }
          }
          mode = MODE_WAIT_PAD;
          if (got < 0) break;
          if (Crc16(raw, 7) != 0) {
            DebugLog("ZGETHEADER: MODE_WAIT_BINARYでCRCエラーが起きました。\r\n");
            ++badCrc;
            io.t.ProtocolIncRetryCount();
            break;
          }
          return Done("(binary)\r\n");
        }
      }
    }
  }
  int Done(const char* form) {
    type = raw[0];
    std::memcpy(data, raw + 1, 4);
    DebugLogF("ZGETHEADER: %s %02x %02x %02x %02x %s", FrameName(type), data[0], data[1], data[2], data[3], form);
    mode = MODE_WAIT_PAD;
    return 0;
  }
};

// ---- ZGETDATA: one data subpacket --------------------------------------------------------------

struct ZGETDATA {
  std::vector<std::uint8_t> buf = std::vector<std::uint8_t>(kDataBuffer);
  size_t count = 0;
  int frameEnd = 0;
  bool crcError = false;
  bool overrun = false;
  // A subpacket whose end was spoiled on the line runs on into whatever the
  // sender says next, and a sender that waits for an answer only repeats its
  // header: the subpacket would never end.  So the raw bytes after "*" ZDLE
  // "A" or "*" ZDLE "B" are also read as a header; when that header is whole
  // with a good CRC, the subpacket ends as spoiled and the header is kept
  // here for the caller.
  bool embedded = false;
  int embeddedType = -1;
  std::uint8_t embeddedData[4] = {};
  // state
  int phase = 0;  // 0 data, 1 CRC bytes
  bool esc = false;
  std::uint16_t crc = 0;
  std::uint8_t crcBytes[2] = {};
  int crcGot = 0;
  std::uint8_t lastRaw = 0;      // the raw byte before the current one
  bool starBeforeZdle = false;   // the ZDLE being unescaped followed a "*"
  int probe = 0;                 // 0, or ZBIN / ZHEX: a header may be running
  std::uint8_t probeRaw[7] = {};
  int probeGot = 0, probeHigh = -1;
  bool probeEsc = false;

  void Start() {
    count = 0;
    frameEnd = 0;
    crcError = overrun = false;
    embedded = false;
    phase = 0;
    esc = false;
    crc = 0;
    crcGot = 0;
    lastRaw = 0;
    starBeforeZdle = false;
    probe = 0;
  }

  void StartProbe(int form) {
    probe = form;
    probeGot = 0;
    probeHigh = -1;
    probeEsc = false;
  }
  // One raw byte for the header that may be running; true when it is whole
  // and good.
  bool Probe(std::uint8_t c) {
    if (probe == ZBIN) {
      if (probeEsc) {
        probeEsc = false;
        probeRaw[probeGot++] = c == ZRUB0 ? 0x7F : c == ZRUB1 ? 0xFF : static_cast<std::uint8_t>(c ^ 0x40);
      } else if (c == ZDLE) {
        probeEsc = true;
      } else {
        probeRaw[probeGot++] = c;
      }
    } else {
      const int v = HexValue(c);
      if (v < 0) {
        probe = 0;
        return false;
      }
      if (probeHigh < 0) {
        probeHigh = v;
      } else {
        probeRaw[probeGot++] = static_cast<std::uint8_t>(probeHigh << 4 | v);
        probeHigh = -1;
      }
    }
    if (probeGot < 7) return false;
    probe = 0;
    if (probeRaw[0] > ZSTDERR || Crc16(probeRaw, 7) != 0) return false;
    embedded = true;
    embeddedType = probeRaw[0];
    std::memcpy(embeddedData, probeRaw + 1, 4);
    return true;
  }
  // 1 working, 0 done (count, frameEnd, crcError).
  int Process(ZIO& io) {
    while (!io.fErrorFinish) {
      if (phase == 0) {
        // The fast path: plain bytes straight from the receive buffer.
        if (!esc && !probe && io.head < io.tail) {
          // The running state lives in locals here: stores through the byte
          // pointer could alias the members, which would make the compiler
          // reload and store them for every byte.
          const std::uint8_t* p = io.in.data() + io.head;
          const std::uint8_t* e = io.in.data() + io.tail;
          std::uint16_t c16 = crc;
          size_t n = count;
          std::uint8_t* const dst = buf.data();
          const size_t cap = buf.size();
          bool over = false;
          while (p < e) {
            const std::uint8_t c = *p;
            if (c == ZDLE || (c & 0x7F) == XON || (c & 0x7F) == XOFF) break;
            c16 = Crc16Update(c16, c);
            if (n < cap) dst[n++] = c;
            else over = true;
            ++p;
          }
          crc = c16;
          count = n;
          if (over) overrun = true;
          if (p != io.in.data() + io.head) {
            io.cCan = 0;
            lastRaw = p[-1];
          }
          io.head = static_cast<size_t>(p - io.in.data());
        }
        const int c = io.Get();
        if (c < 0) return 1;
        const std::uint8_t raw = static_cast<std::uint8_t>(c);
        const std::uint8_t before = lastRaw;
        lastRaw = raw;
        if (probe && !(esc && c >= ZCRCE && c <= ZCRCW) && Probe(raw)) {
          DebugLogF("ZGETDATA: header %s inside the data\r\n", FrameName(embeddedType));
          crcError = true;
          return 0;
        }
        if (esc) {
          esc = false;
          int v;
          if (c >= ZCRCE && c <= ZCRCW) {
            frameEnd = c;
            crc = Crc16Update(crc, static_cast<std::uint8_t>(c));
            phase = 1;
            probe = 0;
            continue;
          }
          if ((c == ZBIN || c == ZHEX) && starBeforeZdle && !probe) StartProbe(c);
          if (c == ZRUB0) v = 0x7F;
          else if (c == ZRUB1) v = 0xFF;
          else if ((c & 0x60) == 0x40) v = c ^ 0x40;
          else {
            DebugLog("ZGETDATA: Bad Escape\r\n");
            v = c;
          }
          crc = Crc16Update(crc, static_cast<std::uint8_t>(v));
          if (count < buf.size()) buf[count++] = static_cast<std::uint8_t>(v);
          else overrun = true;
        } else if (c == ZDLE) {
          esc = true;
          starBeforeZdle = before == ZPAD;
        } else {
          crc = Crc16Update(crc, static_cast<std::uint8_t>(c));
          if (count < buf.size()) buf[count++] = static_cast<std::uint8_t>(c);
          else overrun = true;
        }
      } else {
        const int c = io.Get();
        if (c < 0) return 1;
        if (esc) {
          esc = false;
          int v;
          if (c == ZRUB0) v = 0x7F;
          else if (c == ZRUB1) v = 0xFF;
          else v = c ^ 0x40;
          crcBytes[crcGot++] = static_cast<std::uint8_t>(v);
        } else if (c == ZDLE) {
          esc = true;
          continue;
        } else {
          crcBytes[crcGot++] = static_cast<std::uint8_t>(c);
        }
        if (crcGot == 2) {
          crc = Crc16Update(crc, crcBytes[0]);
          crc = Crc16Update(crc, crcBytes[1]);
          if (overrun) DebugLog("ZGETDATA: overrun\r\n");
          crcError = crc != 0 || overrun;
          if (crcError) DebugLog("ZGETDATA: crc error\r\n");
          return 0;
        }
      }
    }
    return 1;
  }
};

// ---- the receiver ----------------------------------------------------------------------------------

class ZDOWNLOAD : public PROTOCOLENGINE {
 public:
  ZDOWNLOAD(TRANSFER& t, bool autoStart) : PROTOCOLENGINE(t), io(t), fAutoZmodem(autoStart) {}

  STEPRESULT Step() override {
    if (t.fEnd) return STEP_DONE;
    if (!started) Begin();
    if (phase == FINISH) return Finish();
    if ((t.fStopProtocol || t.fHangupOnProtocol) && !io.fErrorFinish) {
      io.SendAbort();
      io.fErrorFinish = true;
    }
    if (io.fErrorFinish) return EnterFinish();
    io.budget = kStepBytes;
    if (!io.Flush()) return STEP_IDLE;
    const int before = io.budget;
    bool progressed = false;
    for (int i = 0; i < 64 && !io.fErrorFinish && phase != DONE; ++i) {
      const int r = Process();
      if (r == 0) progressed = true;
      else break;
    }
    // What this step received goes to the file now, so a broken transfer
    // leaves it all in NAME.part for a resume.
    if (!WriteHeld()) io.Fail(PE_WRITE, true);
    if (phase == DONE) {
      t.ProtocolExitProtocol();
      return STEP_DONE;
    }
    if (io.fErrorFinish) return EnterFinish();
    return progressed || io.budget != before ? STEP_BUSY : STEP_IDLE;
  }

 private:
  enum PHASE { HEADER, FILEINFO, FILE_HEADER, FILE_DATA, WAIT_OO, DONE, FINISH };

  void Begin() {
    started = true;
    io.Init();
    t.ProtocolSetStatus(PS_HANDSHAKE);
    tStart = t.Now();
    phase = HEADER;
    if (fAutoZmodem) {
      // The host's first header already went to the start detection: answer
      // it now and read on from the next '*'.
      SendZrinit();
      answered = true;
    }
  }

  void SendZrinit() {
    const std::uint8_t d[4] = {0, 0, 0, CANFDX | CANOVIO | CANBRK};
    io.SendHex(ZRINIT, d);
  }

  // 0: a state change happened (call again), 1: waiting.
  int Process() {
    switch (phase) {
      case HEADER: {
        const int r = hdr.Process(io);
        if (r == 1) {
          if (!answered && t.Now() - tStart >= kFirstHeaderMs) {
            SendZrinit();
            answered = true;
            tLastSend = t.Now();
          } else if (io.Silent(kReadTimeout)) {
            DebugLog("ZGETHEADER: timeout\r\n");
            io.Fail(PE_TIMEOUT, true);
          } else if (answered && t.Now() - tLastSend >= kResendMs && io.Silent(kResendMs)) {
            // A lost ZRINIT (noise): say it again.
            SendZrinit();
            tLastSend = t.Now();
          }
          return 1;
        }
        answered = true;
        switch (hdr.type) {
          case ZFILE:
            phase = FILEINFO;
            sub.Start();
            return 0;
          case ZSINIT:
            // The sender's options, with an attention string in a subpacket.
            if (hdr.data[3] & TESCCTL) io.SetEscapes(true);
            phase = FILEINFO;
            sinit = true;
            sub.Start();
            return 0;
          case ZFIN:
            io.SendHex(ZFIN);
            // The session is over for both sides now: a host hanging up
            // from here on does not undo it.
            t.fExchangeDone = true;
            phase = WAIT_OO;
            tStart = t.Now();
            oCount = 0;
            lineEnd = 0;
            return 0;
          case ZCOMMAND:
            // Commands are never run: refuse with a completed, failed status.
            io.SendHex(ZCOMPL, 1);
            return 0;
          default:
            SendZrinit();
            tLastSend = t.Now();
            return 0;
        }
      }
      case FILEINFO: {
        const int r = sub.Process(io);
        if (r == 1) {
          if (io.Silent(kReadTimeout)) {
            DebugLog("ZGETDATA: timeout\r\n");
            io.Fail(PE_TIMEOUT, true);
          }
          return 1;
        }
        if (sub.frameEnd != ZCRCW || sub.crcError) {
          DebugLog("ZFILE PARAM error. send ZNAK.\r\n");
          io.SendHex(ZNAK);
          sinit = false;
          phase = HEADER;
          return 0;
        }
        if (sinit) {
          sinit = false;
          io.SendHex(ZACK);
          phase = HEADER;
          return 0;
        }
        OpenFile();
        return 0;
      }
      case FILE_HEADER:
        return FileHeader();
      case FILE_DATA:
        return FileData();
      case WAIT_OO:
        return WaitOo();
      default:
        return 1;
    }
  }

  // The sender's "OO" comes as the very next bytes after its ZFIN header's
  // line end, or not at all (telnetd drops it when sz flushes its pty on
  // exit).  Bytes are taken from the line one at a time, so the host's text
  // after the transfer stays unread; any byte that is not part of "OO" goes
  // back to the line with the rest of the block, for the terminal.
  int WaitOo() {
    for (;;) {
      std::uint8_t c;
      if (io.head < io.tail) {
        c = io.in[io.head++];
      } else if (t.line->Read(&c, 1) == 1) {
        io.lastByte = t.Now();
      } else {
        break;
      }
      // The ZFIN header's line end, once: CR, the NUL a telnet line may put
      // after it, LF (bit 7 set or not).  A second CR or LF is the host's.
      if (oCount == 0 && lineEnd < 3) {
        const int b = c & 0x7F;
        if (b == 0x0D && lineEnd == 0) {
          lineEnd = 1;
          continue;
        }
        if (c == 0 && lineEnd == 1) {
          lineEnd = 2;
          continue;
        }
        if (b == 0x0A) {
          lineEnd = 3;
          continue;
        }
      }
      lineEnd = 3;
      if (c == 'O') {
        if (++oCount == 2) {
          GiveBackAfterOo(nullptr, 0);
          return 0;
        }
        continue;
      }
      GiveBackAfterOo(&c, 1);
      return 0;
    }
    // A second at most, and only a quarter of that when none of it has come
    // (a sender that closes a pty at once loses its "OO" there).
    const TICK waited = t.Now() - tStart;
    if (waited >= kOoWaitMs || (oCount == 0 && waited >= kOoFirstMs) || t.line->Lost()) {
      GiveBackAfterOo(nullptr, 0);
      return 0;
    }
    return 1;
  }

  // Ends the session: a lone 'O', the byte c and what is left of the read
  // block go back to the line (what it cannot hold is shown as host text).
  void GiveBackAfterOo(const std::uint8_t* c, size_t n) {
    std::string back(oCount == 1 ? "O" : "");
    back.append(reinterpret_cast<const char*>(c), n);
    back.append(reinterpret_cast<const char*>(io.in.data() + io.head), io.tail - io.head);
    io.head = io.tail = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(back.data());
    const size_t kept = back.empty() ? 0 : t.line->Unread(p, back.size());
    if (kept < back.size()) {
      const std::string rest = back.substr(kept);
      if (t.showText) t.showText(rest);
      else DebugLogF("ZMODEM: host text after the session: %s\n", rest.c_str());
    }
    t.line->Drain(1000);
    phase = DONE;
  }

  void OpenFile() {
    // name NUL length [blank mtime-octal [blank mode ...]] NUL
    const std::uint8_t* p = sub.buf.data();
    const size_t n = sub.count;
    size_t nameEnd = 0;
    while (nameEnd < n && p[nameEnd]) ++nameEnd;
    std::string name(reinterpret_cast<const char*>(p), std::min<size_t>(nameEnd, 519));
    long long length = -1;
    long long mtime = -1;
    if (nameEnd + 1 < n) {
      std::string rest(reinterpret_cast<const char*>(p + nameEnd + 1), n - nameEnd - 1);
      if (const size_t nul = rest.find('\0'); nul != std::string::npos) rest.resize(nul);
      size_t i = 0;
      if (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') {
        length = 0;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && length < (1LL << 50))
          length = length * 10 + (rest[i++] - '0');
      }
      if (i < rest.size() && rest[i] == ' ') {
        ++i;
        if (i < rest.size() && rest[i] >= '0' && rest[i] <= '7') {
          mtime = 0;
          while (i < rest.size() && rest[i] >= '0' && rest[i] <= '7' && mtime < (1LL << 50))
            mtime = mtime * 8 + (rest[i++] - '0');
        }
      }
    }
    t.ProtocolClear();
    const OPENDOWN r = t.ProtocolOpenDownFile(name, length, true);
    if (r == OD_FAILED) {
      io.Fail(PE_WRITE, true);
      return;
    }
    if (r != OD_OPEN) {
      // Declined or already whole: ZSKIP moves the sender to its next file
      // (a ZRINIT would make it send this ZFILE again for ever).
      DebugLog(r == OD_SKIP ? "ZDOWNLOAD: already whole, ZSKIP\r\n" : "ZDOWNLOAD: declined, ZSKIP\r\n");
      io.SendHex(ZSKIP);
      phase = HEADER;
      return;
    }
    if (mtime > 0) t.down.mtime = static_cast<time_t>(mtime);
    if (length >= 0) t.ProtocolSetTotalBytes(length);
    // Resume continues after what is there; an append writes the sender's
    // bytes from 0 behind the old end; everything else starts at 0.
    pos = t.down.mode == DM_RESUME ? t.down.startLength : 0;
    t.ProtocolSetResumeBytes(pos);
    recovering = false;
    recoveries = 0;
    io.SendHex(ZRPOS, pos);
    tRecovery = t.Now();
    t.ProtocolSetStatus(PS_RECEIVING);
    phase = FILE_HEADER;
  }

  void EnterRecovery() {
    // Already asked: what arrives now is mostly what the sender had sent
    // before our ZRPOS reached it.  Asking again for each piece would make
    // it restart again and again; the question is repeated after 10 s.
    if (recovering && t.Now() - tRecovery < kRecoveryRepeat) return;
    if (!recovering) t.ProtocolIncRetryCount();
    recovering = true;
    if (++recoveries > kMaxRecoveries) {
      io.Fail(PE_MANYERRORS, true);
      return;
    }
    io.SendHex(ZRPOS, pos);
    tRecovery = t.Now();
  }

  int FileHeader() {
    const int badBefore = hdr.badCrc;
    const int r = hdr.Process(io);
    if (hdr.badCrc != badBefore && !recovering) EnterRecovery();
    if (r == 1) {
      if (recovering && t.Now() - tRecovery >= kRecoveryRepeat) {
        io.SendHex(ZRPOS, pos);
        tRecovery = t.Now();
        if (++recoveries > kMaxRecoveries) io.Fail(PE_MANYERRORS, true);
      } else if (io.Silent(kReadTimeout)) {
        DebugLog("ZGETHEADER: timeout\r\n");
        io.Fail(PE_TIMEOUT, true);
      }
      return 1;
    }
    return OnFileHeader();
  }

  // A header between subpackets (or found inside a spoiled one).
  int OnFileHeader() {
    const long long off = Pos(hdr.data);
    switch (hdr.type) {
      case ZDATA:
        DebugLogF("ZRECEIVEFILE: received ZDATA fileoffset = %lld\r\n", off);
        if (off != pos) {
          // Beyond the position would leave a gap, below it would rewrite
          // what is there: ask again for the position.
          EnterRecovery();
          skipping = true;
        } else {
          recovering = false;
          skipping = false;
        }
        sub.Start();
        phase = FILE_DATA;
        return 0;
      case ZEOF:
        if (off != pos) {
          EnterRecovery();
          return 0;
        }
        DebugLog("ZRECEIVEFILE: received ZEOF\r\n");
        if (!WriteHeld() || !t.ProtocolFinishDownFile()) {
          io.Fail(PE_WRITE, true);
          return 0;
        }
        SendZrinit();
        tLastSend = t.Now();
        t.ProtocolSetStatus(PS_HANDSHAKE);
        phase = HEADER;
        return 0;
      case ZFILE:
        // The sender did not see our ZRPOS and sent the file information
        // again: read it past, and its ZCRCW gets the ZRPOS once more.
        skipping = true;
        sub.Start();
        phase = FILE_DATA;
        return 0;
      default:
        DebugLog("ZRECEIVEFILE: MODE_GET_HEADERでframetypeが異常でした\r\n");
        EnterRecovery();
        return 0;
    }
  }

  int FileData() {
    const int r = sub.Process(io);
    if (r == 1) {
      if (io.Silent(kReadTimeout)) {
        DebugLog("ZGETDATA: timeout\r\n");
        io.Fail(PE_TIMEOUT, true);
      }
      return 1;
    }
    if (sub.crcError) {
      if (!skipping) EnterRecovery();
      skipping = true;
      phase = FILE_HEADER;
      if (sub.embedded) {
        // The spoiled subpacket ran into the sender's next header.
        hdr.type = sub.embeddedType;
        std::memcpy(hdr.data, sub.embeddedData, 4);
        return OnFileHeader();
      }
      return 0;
    }
    if (!skipping) {
      held.insert(held.end(), sub.buf.begin(), sub.buf.begin() + static_cast<long>(sub.count));
      if (held.size() >= kHeldMax && !WriteHeld()) {
        io.Fail(PE_WRITE, true);
        return 0;
      }
      pos += static_cast<long long>(sub.count);
      t.ProtocolAddProcessedBytes(static_cast<long long>(sub.count));
      if (sub.count > 0) recoveries = 0;
    }
    switch (sub.frameEnd) {
      case ZCRCE:
        phase = FILE_HEADER;
        break;
      case ZCRCG:
        sub.Start();
        break;
      case ZCRCQ:
        if (skipping) io.SendHex(ZRPOS, pos);
        else io.SendHex(ZACK, pos);
        sub.Start();
        break;
      case ZCRCW:
        if (skipping) io.SendHex(ZRPOS, pos);
        else io.SendHex(ZACK, pos);
        phase = FILE_HEADER;
        break;
      default:
        DebugLog("ZGETHEADER: MODE_GET_DATAで未知のパケットを受信しました。\r\n");
        io.Fail(PE_UNKNOWN, true);
        break;
    }
    return 0;
  }

  // The finish phase: the host's text after an abort, until 500 ms of silence.
  // Received data is written in large pieces rather than one system call
  // per subpacket.  False (protocolerror 2) when the write fails.
  bool WriteHeld() {
    if (held.empty()) return true;
    const bool ok = t.down.fd >= 0 && t.ProtocolWriteDown(held.data(), held.size());
    held.clear();
    return ok;
  }

  STEPRESULT EnterFinish() {
    if (!WriteHeld() && t.protocolerror == PE_OK) t.protocolerror = PE_WRITE;
    phase = FINISH;
    t.ProtocolSetStatus(PS_FINISHING);
    io.lastByte = t.Now();
    text.clear();
    return Finish();
  }

  STEPRESULT Finish() {
    io.Flush();
    io.budget = kStepBytes;
    bool got = false;
    while (io.Fill()) {
      const std::uint8_t c = io.in[io.head++];
      got = true;
      if (c < 0x20 && c != '\r' && c != '\n') {
        text.clear();
      } else if (c == '\r' || c == '\n') {
        if (!text.empty()) shown += text + "\r\n";
        text.clear();
      } else {
        if (text.size() >= 80) text.clear();
        text += static_cast<char>(c);
      }
    }
    if (!got && (io.Silent(kFinishQuiet) || t.line->Lost())) {
      if (!text.empty()) shown += text;
      if (!shown.empty()) {
        if (t.showText) t.showText(shown);
        else DebugLogF("ZMODEM: host text after the abort: %s\n", shown.c_str());
      }
      t.line->Drain(1000);
      t.ProtocolExitProtocol();
      return STEP_DONE;
    }
    return STEP_IDLE;
  }

  ZIO io;
  bool fAutoZmodem;
  bool started = false;
  bool answered = false;
  bool sinit = false;
  PHASE phase = HEADER;
  ZGETHEADER hdr;
  ZGETDATA sub;
  TICK tStart = 0, tLastSend = 0, tRecovery = 0;
  long long pos = 0;
  bool recovering = false, skipping = false;
  int recoveries = 0;
  int oCount = 0;
  int lineEnd = 0;  // the ZFIN header's line end: 0 none yet, 1 CR, 2 CR NUL, 3 over
  std::string text, shown;
  std::vector<std::uint8_t> held;  // received data not yet written
};

// ---- the sender -------------------------------------------------------------------------------------

class ZUPLOAD : public PROTOCOLENGINE {
 public:
  explicit ZUPLOAD(TRANSFER& t) : PROTOCOLENGINE(t), io(t) { block.resize(kBlock); }

  STEPRESULT Step() override {
    if (t.fEnd) return STEP_DONE;
    if (!started) Begin();
    if (t.fStopProtocol || t.fHangupOnProtocol) {
      t.line->Purge();
      io.SendAbort();
      t.line->Drain(1000);
      t.ProtocolExitProtocol();
      return STEP_DONE;
    }
    if (io.fErrorFinish) return End();
    io.budget = kStepBytes;
    bool busy = false;
    if (!io.Flush()) return STEP_IDLE;
    // Headers from the receiver first (ZRPOS while sending).
    for (int i = 0; i < 16 && !io.fErrorFinish && mode != M_DONE; ++i) {
      if (hdr.Process(io) == 1) break;
      busy = true;
      OnHeader();
    }
    if (io.fErrorFinish) return End();
    if (mode == M_DONE) {
      t.line->Drain(2000);
      t.ProtocolExitProtocol();
      return STEP_DONE;
    }
    if (mode == M_SENDING) busy = SendSome() || busy;
    else CheckTimeouts();
    if (io.fErrorFinish) return End();
    return busy ? STEP_BUSY : STEP_IDLE;
  }

 private:
  enum MODE { M_WAIT_ZRINIT, M_WAIT_ZRPOS, M_SENDING, M_WAIT_WINDOW, M_WAIT_AFTER_EOF, M_WAIT_ZFIN_ACK, M_DONE };

  void Begin() {
    started = true;
    io.Init();
    t.ProtocolSetStatus(PS_HANDSHAKE);
    // "rz\r" starts a receiver on a host that waits for a command; the
    // ZRQINIT that follows is what a ZMODEM receiver answers.
    static const std::uint8_t rz[] = {'r', 'z', '\r'};
    io.out.assign(rz, rz + 3);
    io.Emit();
    io.SendHex(ZRQINIT);
    mode = M_WAIT_ZRINIT;
    t.ProtocolBeginTimer();
    tSent = t.Now();
  }

  STEPRESULT End() {
    t.line->Drain(1000);
    t.ProtocolExitProtocol();
    return STEP_DONE;
  }

  void SendFileInfo() {
    std::string info = t.UploadWireName();
    info.push_back('\0');
    char rest[64];
    std::snprintf(rest, sizeof rest, "%lld %llo", t.UploadLength(), static_cast<long long>(t.UploadMtime()));
    info += rest;
    info.push_back('\0');
    io.SendBinary(ZFILE);
    io.SendData(reinterpret_cast<const std::uint8_t*>(info.data()), info.size(), ZCRCW);
    mode = M_WAIT_ZRPOS;
    restarted = false;
    t.ProtocolBeginTimer();
    tSent = t.Now();
  }

  void Restart(long long at) {
    if (at < 0 || at > t.UploadLength()) at = t.UploadLength();
    if (!restarted && at > 0 && mode == M_WAIT_ZRPOS) t.ProtocolSetResumeBytes(at);
    if (mode == M_SENDING || mode == M_WAIT_WINDOW || mode == M_WAIT_AFTER_EOF) t.ProtocolIncRetryCount();
    restarted = true;
    offset = at;
    // What is still queued belongs to the old position.
    io.pending.clear();
    t.line->DropOutput();
    if (!t.ProtocolSeekUp(at)) {
      io.Fail(PE_READ, true);
      return;
    }
    t.ProtocolBeginTimer();
    tSent = t.Now();
    if (at < t.UploadLength()) {
      DebugLogF("Upload restarted. offset = %lld\r\n", at);
      io.SendBinary(ZDATA, at);
      t.ProtocolSetStatus(PS_SENDING);
      sinceAck = 0;
      mode = M_SENDING;
    } else {
      io.SendBinary(ZEOF, t.UploadLength());
      mode = M_WAIT_AFTER_EOF;
    }
  }

  // The current file is done (acknowledged or skipped): the next one or ZFIN.
  void NextFile() {
    if (t.iFile + 1 < t.files.size()) {
      if (!t.OpenUploadFile(t.iFile + 1)) {
        io.Fail(t.protocolerror == PE_OK ? PE_READ : t.protocolerror, true);
        return;
      }
      highest = 0;
      SendFileInfo();
    } else {
      t.ProtocolSetStatus(PS_FINISHING);
      io.SendBinary(ZFIN);
      DebugLog("mode = MODE_WAIT_ZFIN_ACK\r\n");
      mode = M_WAIT_ZFIN_ACK;
      t.ProtocolBeginTimer();
      tSent = t.Now();
    }
  }

  void OnHeader() {
    const int type = hdr.type;
    const long long at = Pos(hdr.data);
    if (type == ZRPOS && mode != M_WAIT_ZRINIT && mode != M_WAIT_ZFIN_ACK) {
      Restart(at);
      return;
    }
    switch (mode) {
      case M_WAIT_ZRINIT:
        if (type == ZRINIT) {
          rxBufLen = hdr.data[0] | hdr.data[1] << 8;
          if (hdr.data[3] & ESCCTL) io.SetEscapes(true);
          SendFileInfo();
        } else if (type == ZRQINIT || type == ZNAK || type == ZACK || type == ZFIN) {
          // The receiver is starting up (or the end of an earlier exchange
          // is still on the line); wait for its ZRINIT.
        } else {
          io.Fail(PE_UNKNOWN, true);
        }
        return;
      case M_WAIT_ZRPOS:
        if (type == ZNAK) {
          SendFileInfo();
        } else if (type == ZRINIT) {
          // An answer to an earlier ZRQINIT: the ZFILE is on its way (it is
          // sent again after 10 s without an answer).
        } else if (type == ZSKIP) {
          DebugLog("ZUPLOAD: the receiver skipped the file\r\n");
          skipped = true;
          NextFile();
        } else if (type == ZACK) {
        } else {
          io.Fail(PE_UNKNOWN, true);
        }
        return;
      case M_SENDING:
      case M_WAIT_WINDOW:
        if (type == ZACK) {
          if (mode == M_WAIT_WINDOW) {
            sinceAck = 0;
            mode = M_SENDING;
          }
        } else if (type == ZSKIP) {
          skipped = true;
          NextFile();
        } else if (type == ZRINIT) {
          // A ZRINIT here can only be a receiver that restarted; ignore it.
        } else {
          DebugLog("received non ZRPOS frame at MODE_SENDING\r\n");
          io.Fail(PE_UNKNOWN, true);
        }
        return;
      case M_WAIT_AFTER_EOF:
        if (type == ZRINIT) {
          t.ProtocolUploadFileDone();
          NextFile();
        } else if (type == ZSKIP) {
          skipped = true;
          NextFile();
        } else if (type == ZACK) {
        } else {
          DebugLog("received non ZRINIT frame at MODE_WAIT_ZRINIT_FOR_END\r\n");
          io.Fail(PE_UNKNOWN, true);
        }
        return;
      case M_WAIT_ZFIN_ACK:
        if (type == ZFIN) {
          static const std::uint8_t oo[] = {'O', 'O'};
          io.out.assign(oo, oo + 2);
          io.Emit();
          if (skipped && t.protocolerror == PE_OK) t.protocolerror = PE_CANCELLED;
          mode = M_DONE;
        } else if (type == ZRINIT || type == ZACK || type == ZRPOS) {
          // A late answer to the last ZEOF: ZFIN again.
          if (t.Now() - tSent >= 1000) {
            io.SendBinary(ZFIN);
            tSent = t.Now();
          }
        } else {
          DebugLog("received non ZFIN frame at MODE_WAIT_ZFIN_ACK\r\n");
          io.Fail(PE_UNKNOWN, true);
        }
        return;
      default:
        return;
    }
  }

  void CheckTimeouts() {
    const TICK idle = t.Now() - tSent;
    if (t.ProtocolPassedTime() >= kHandshakeTimeout) {
      if (mode == M_WAIT_AFTER_EOF) DebugLog("timedout at WAIT_ZRINIT_FOR_END\r\n");
      if (mode == M_WAIT_ZFIN_ACK) DebugLog("timedout at WAIT_ZFIN_ACK\r\n");
      io.Fail(PE_TIMEOUT, true);
      return;
    }
    if (idle < kResendMs || !io.Silent(kResendMs)) return;
    // Nothing came for a while: the frame we wait an answer to may have been
    // lost on a noisy line.
    tSent = t.Now();
    switch (mode) {
      case M_WAIT_ZRINIT: io.SendHex(ZRQINIT); break;
      case M_WAIT_ZRPOS: SendFileInfoAgain(); break;
      case M_WAIT_AFTER_EOF: io.SendBinary(ZEOF, t.UploadLength()); break;
      case M_WAIT_ZFIN_ACK: io.SendBinary(ZFIN); break;
      case M_WAIT_WINDOW: io.SendBinary(ZDATA, offset); mode = M_SENDING; sinceAck = 0; break;
      default: break;
    }
  }
  void SendFileInfoAgain() {
    const TICK keep = t.ProtocolPassedTime();
    SendFileInfo();
    (void)keep;
  }

  // Streams subpackets while the line has room.  True when something went.
  bool SendSome() {
    bool sent = false;
    const size_t maxFrame = kBlock * 2 + 16;
    for (int n = 0; n < 256 && mode == M_SENDING; ++n) {
      if (!io.pending.empty() || t.line->Room() < maxFrame) break;
      size_t want = kBlock;
      if (rxBufLen > 0) want = std::min<size_t>(want, static_cast<size_t>(rxBufLen) - std::min<size_t>(sinceAck, rxBufLen));
      const long got = t.ProtocolReadUp(block.data(), want);
      if (got < 0) {
        io.Fail(PE_READ, true);
        return sent;
      }
      const long long before = offset;
      offset += got;
      const bool last = offset >= t.UploadLength() || got == 0;
      sinceAck += static_cast<size_t>(got);
      const bool window = rxBufLen > 0 && sinceAck >= static_cast<size_t>(rxBufLen) && !last;
      std::uint8_t end = last ? ZCRCE : window ? ZCRCW : ZCRCG;
      io.SendData(block.data(), static_cast<size_t>(got), end);
      sent = true;
      if (offset > highest) {
        t.ProtocolAddProcessedBytes(offset - std::max(before, highest));
        highest = offset;
      }
      if (last) {
        io.SendBinary(ZEOF, t.UploadLength());
        mode = M_WAIT_AFTER_EOF;
        t.ProtocolBeginTimer();
        tSent = t.Now();
      } else if (window) {
        mode = M_WAIT_WINDOW;
        tSent = t.Now();
        t.ProtocolBeginTimer();
      }
    }
    return sent;
  }

  ZIO io;
  ZGETHEADER hdr;
  bool started = false;
  bool restarted = false;
  bool skipped = false;
  MODE mode = M_WAIT_ZRINIT;
  std::vector<std::uint8_t> block;
  long long offset = 0, highest = 0;
  int rxBufLen = 0;
  size_t sinceAck = 0;
  TICK tSent = 0;
};

}  // namespace

std::unique_ptr<PROTOCOLENGINE> MakeZmodemDownload(TRANSFER& t) { return std::make_unique<ZDOWNLOAD>(t, false); }
std::unique_ptr<PROTOCOLENGINE> MakeZmodemAutoDownload(TRANSFER& t) { return std::make_unique<ZDOWNLOAD>(t, true); }
std::unique_ptr<PROTOCOLENGINE> MakeZmodemUpload(TRANSFER& t) { return std::make_unique<ZUPLOAD>(t); }
