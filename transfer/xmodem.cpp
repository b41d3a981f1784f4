// XMODEM and YMODEM engines; see xmodem.h for the wire rules.
#include "transfer/xmodem.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace xmodem {

namespace {

constexpr const char* kStInit = "初期処理中";
constexpr const char* kStSend = "送信中";
constexpr const char* kStRecv = "受信中";
constexpr const char* kStAnswer = "応答待ち";
constexpr const char* kStEnd = "終了処理中";

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    t[i] = c;
  }
  return t;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

bool IsXmodem(int p) { return p >= kXmodem && p <= kXmodem1K; }
bool IsYmodem(int p) { return p >= kYmodem && p <= kYmodemGBatch; }
bool IsGForm(int p) { return p == kYmodemG || p == kYmodemGBatch; }
bool IsBatch(int p) { return p == kYmodemBatch || p == kYmodemGBatch; }

const char* ProtocolName(int p) {
  switch (p) {
    case kXmodem: return "XMODEM";
    case kXmodemCrc: return "XMODEM/CRC";
    case kXmodem1K: return "XMODEM-1K";
    case kYmodem: return "YMODEM(non-batch)";
    case kYmodemG: return "YMODEM-g(non-batch)";
    case kYmodemBatch: return "YMODEM(batch)";
    case kYmodemGBatch: return "YMODEM-g(batch)";
  }
  return "";
}

uint16_t Crc16(const void* data, size_t n, uint16_t crc) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ p[i]) & 0xFF]);
  return crc;
}

uint8_t Checksum(const void* data, size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += p[i];
  return static_cast<uint8_t>(sum);
}

std::string BuildPacket(uint8_t seq, const void* data, size_t n, bool crc) {
  const size_t size = n > 128 ? 1024 : 128;
  std::string p;
  p.reserve(size + 5);
  p.push_back(size == 1024 ? STX : SOH);
  p.push_back(static_cast<char>(seq));
  p.push_back(static_cast<char>(255 - seq));
  p.append(static_cast<const char*>(data), n);
  p.append(size - n, SUB);
  if (crc) {
    const uint16_t c = Crc16(p.data() + 3, size);
    p.push_back(static_cast<char>(c >> 8));
    p.push_back(static_cast<char>(c & 0xFF));
  } else {
    p.push_back(static_cast<char>(Checksum(p.data() + 3, size)));
  }
  return p;
}

std::string BuildBlock0(const FileInfo& info) {
  std::string d = info.name;
  d.push_back('\0');
  if (!info.name.empty()) {
    d += std::to_string(info.length < 0 ? 0 : info.length);
    if (info.mtime) {
      char oct[32];
      std::snprintf(oct, sizeof oct, " %llo", static_cast<unsigned long long>(std::max<int64_t>(0, *info.mtime)));
      d += oct;
    }
  }
  const size_t size = d.size() <= 128 ? 128 : 1024;
  if (d.size() > size) d.resize(size);  // a name this long was refused before
  d.append(size - d.size(), '\0');
  return d;
}

FileInfo ParseBlock0(const char* data, size_t n) {
  FileInfo info;
  const char* end = data + n;
  const char* nul = static_cast<const char*>(std::memchr(data, 0, n));
  info.name.assign(data, nul ? nul : end);
  if (!nul || info.name.empty()) return info;
  const char* p = nul + 1;
  int64_t len = 0;
  bool digits = false;
  while (p < end && *p >= '0' && *p <= '9' && len < (int64_t{1} << 56)) {
    len = len * 10 + (*p++ - '0');
    digits = true;
  }
  if (digits) info.length = len;
  if (digits && p < end && *p == ' ') {
    ++p;
    int64_t t = 0;
    bool oct = false;
    while (p < end && *p >= '0' && *p <= '7' && t < (int64_t{1} << 56)) {
      t = t * 8 + (*p++ - '0');
      oct = true;
    }
    if (oct) info.mtime = t;
  }
  return info;
}

// ---------------------------------------------------------------- Engine

Engine::Engine(int p, Events* events) : protocol(p), ev(events) {}

void Engine::Take(size_t n) {
  inPos += n;
  if (inPos == in.size()) {
    in.clear();
    inPos = 0;
  } else if (inPos > 65536) {
    in.erase(0, inPos);
    inPos = 0;
  }
}

int Engine::CancelAtFront() const {
  if (Avail() == 0 || Peek() != static_cast<unsigned char>(CAN)) return 0;
  if (Avail() == 1) return 1;
  return Peek(1) == static_cast<unsigned char>(CAN) ? 2 : 0;
}

void Engine::Abort(int err) {
  out.append(kAbortCans, CAN);
  End(err);
}

void Engine::End(int err) {
  error = err;
  finished = true;
}

void Engine::Status(const char* s) {
  if (lastStatus == s) return;
  lastStatus = s;
  ev->SetStatus(s);
}

void Engine::SetProtocol(int p) {
  if (p == protocol) return;
  protocol = p;
  ev->ChangeProtocol(p);
}

bool Engine::CheckStop() {
  if (!stop && !hangup) return false;
  stopped = stop && !hangup;
  Abort(hangup ? 12 : 0);
  return true;
}

// ---------------------------------------------------------------- Sender

Sender::Sender(int p, Source* source, Events* events, bool fly, TICK now)
    : Engine(p, events), src(source), flying(fly && IsXmodem(p)) {
  blockSize = (p == kXmodem || p == kXmodemCrc) ? 128 : 1024;
  state = IsYmodem(p) ? Y_START : X_START;
  timer = now;
  Status(kStInit);
  if (IsXmodem(p)) {
    if (!src->Next(&cur)) {
      End(6);
      return;
    }
    haveFile = true;
    ev->SetFile(cur.name, cur.length);
  }
}

// The receiver's start character.  It must come alone: repeats of it count
// as one, anything else behind it breaks the handshake.  True once accepted.
bool Sender::StartChar(TICK now, bool ymodemWrapper) {
  while (Avail() > 0) {
    const int cancel = CancelAtFront();
    if (cancel == 2) {
      End(4);
      return false;
    }
    if (cancel == 1) return false;
    const char c = static_cast<char>(Peek());
    if (c != NAK && c != 'C' && c != 'G') {
      Take(1);
      continue;
    }
    size_t k = 1;
    while (k < Avail() && static_cast<char>(Peek(k)) == c) ++k;
    if (k < Avail()) {
      Abort(7);
      return false;
    }
    Drain();
    if (c == NAK) {
      if (ymodemWrapper) {
        Abort(7);
        return false;
      }
      crc = false;
      if (IsXmodem(protocol)) {
        SetProtocol(kXmodem);
        blockSize = 128;
      }
      // A YMODEM receiver asking for checksums in the data phase: 128-byte
      // checksum blocks are all it can take.
      if (IsYmodem(protocol)) blockSize = 128;
    } else {
      crc = true;
      if (IsYmodem(protocol)) {
        const bool batch = IsBatch(protocol);
        SetProtocol(c == 'G' ? (batch ? kYmodemGBatch : kYmodemG) : (batch ? kYmodemBatch : kYmodem));
      } else {
        SetProtocol(blockSize == 128 ? kXmodemCrc : kXmodem1K);
      }
    }
    timer = now;
    return true;
  }
  if (now - timer >= kAnswerWaitMs) Abort(3);
  return false;
}

// Reads the next block into `packet`; false at the end of the file (or on
// a read error, which ends the transfer).
bool Sender::ReadBlock() {
  while (!sourceEnded && ahead.size() < blockSize) {
    char buf[4096];
    const long got = src->Read(buf, sizeof buf);
    if (got < 0) {
      Abort(1);
      return false;
    }
    if (got == 0) sourceEnded = true;
    ahead.append(buf, static_cast<size_t>(got));
  }
  if (ahead.empty()) return false;
  size_t n = std::min(blockSize, ahead.size());
  // A 1024-byte read that yields fewer than 896 bytes goes out as 128-byte
  // blocks; a last piece of 128 bytes or less is one 128-byte block.
  if (blockSize == 1024 && n < 896) n = std::min<size_t>(128, n);
  packet = BuildPacket(seq, ahead.data(), n, crc);
  ahead.erase(0, n);
  sent += static_cast<int64_t>(n);
  ev->AddProcessed(static_cast<int64_t>(n));
  return true;
}

void Sender::SendPacket(TICK now) {
  out += packet;
  Status(kStSend);
  timer = now;
}

void Sender::SendEot(TICK now) {
  Send(EOT);
  Status(kStEnd);
  timer = now;
}

void Sender::FileEnded(TICK now) {
  src->Close();
  haveFile = false;
  ++files;
  ev->FileDone(cur.name, sent);
  if (!IsBatch(protocol)) {
    End(0);
    return;
  }
  state = Y_START;
  timer = now;
  Status(kStInit);
}

int Sender::Process(TICK now) {
  if (finished) return 0;
  if (CheckStop()) return 0;
  switch (state) {
    case Y_START: {
      if (!StartChar(now, true)) break;
      if (!haveFile && !endOfBatch) {
        if (src->Next(&cur)) {
          haveFile = true;
          sent = 0;
          ahead.clear();
          sourceEnded = false;
          ev->SetFile(cur.name, cur.length);
        } else if (files == 0) {
          Abort(6);
          break;
        } else {
          endOfBatch = true;
        }
      }
      FileInfo info = endOfBatch ? FileInfo{} : cur;
      const std::string d = BuildBlock0(info);
      packet = std::string(1, d.size() == 128 ? SOH : STX) + '\0' + static_cast<char>(0xFF) + d;
      const uint16_t c = Crc16(d.data(), d.size());
      packet.push_back(static_cast<char>(c >> 8));
      packet.push_back(static_cast<char>(c & 0xFF));
      SendPacket(now);
      errors = 0;
      seq = 1;
      if (IsGForm(protocol)) {
        if (endOfBatch) End(0);
        else state = X_START;
      } else {
        state = Y_ACK0;
      }
      break;
    }
    case Y_ACK0: {
      while (Avail() > 0) {
        const int cancel = CancelAtFront();
        if (cancel == 2) return End(4), 0;
        if (cancel == 1) return 1;
        const char c = static_cast<char>(Peek());
        if (c == ACK || c == 'G') {
          if (c == ACK) Take(1);  // a "G" stays for the data's start
          if (endOfBatch) return End(0), 0;
          state = X_START;
          timer = now;
          Status(kStInit);
          return 1;
        }
        Take(1);
        if (c == NAK) {
          if (++errors >= kErrorLimit) return Abort(5), 0;
          ++retries;
          ev->IncRetry();
          Drain();
          SendPacket(now);
          return 1;
        }
      }
      if (out.empty() && lineQueued == 0) Status(kStAnswer);
      if (now - timer >= kAnswerWaitMs) Abort(3);
      break;
    }
    case X_START:
      if (!StartChar(now, false)) break;
      state = X_BLOCK;
      [[fallthrough]];
    case X_BLOCK:
      if (!ReadBlock()) {
        if (finished) break;
        errors = 0;
        SendEot(now);
        state = X_EOT;
        break;
      }
      SendPacket(now);
      if (IsGForm(protocol)) {
        state = X_GDRAIN;
      } else if (flying) {
        ++seq;
        // One block ahead: the first goes out with the second behind it.
        if (++outstanding < 2 && ReadBlock()) {
          SendPacket(now);
          ++seq;
          ++outstanding;
        }
        if (!finished) state = X_ANSWER;
      } else {
        state = X_ANSWER;
      }
      break;
    case X_GDRAIN:
      if (CancelAtFront() == 2) return End(4), 0;
      if (Avail() > 0 && CancelAtFront() == 0) Drain();
      if (out.size() + lineQueued <= kGQueueLimit) {
        ++seq;
        state = X_BLOCK;
      }
      break;
    case X_ANSWER: {
      while (Avail() > 0) {
        const int cancel = CancelAtFront();
        if (cancel == 2) return End(4), 0;
        if (cancel == 1) return 1;
        const char c = static_cast<char>(Peek());
        Take(1);
        if (flying) {
          if (c != ACK) return Abort(9), 0;
          --outstanding;
          if (!ReadBlock()) {
            if (finished) return 0;
            errors = 0;
            SendEot(now);
            state = X_EOT;
            return 1;
          }
          SendPacket(now);
          ++seq;
          ++outstanding;
          continue;
        }
        if (c == ACK) {
          errors = 0;
          ++seq;
          state = X_BLOCK;
          return 1;
        }
        if (c == NAK) {
          if (++errors >= kErrorLimit) return Abort(5), 0;
          ++retries;
          ev->IncRetry();
          Drain();  // what came with it answers nothing we sent
          SendPacket(now);
          return 1;
        }
      }
      if (out.empty() && lineQueued == 0) Status(kStAnswer);
      if (!flying && now - timer >= kAnswerWaitMs) Abort(3);
      break;
    }
    case X_EOT: {
      while (Avail() > 0) {
        const int cancel = CancelAtFront();
        if (cancel == 2) return End(4), 0;
        if (cancel == 1) return 1;
        const char c = static_cast<char>(Peek());
        Take(1);
        if (c == ACK) {
          if (flying && outstanding > 0) {
            --outstanding;  // the last block's
            continue;
          }
          FileEnded(now);
          return finished ? 0 : 1;
        }
        if (flying && c != NAK) return Abort(9), 0;
        if (++errors >= kErrorLimit) return Abort(5), 0;
        Drain();
        SendEot(now);
        return 1;
      }
      if (now - timer >= kAnswerWaitMs) Abort(3);
      break;
    }
  }
  if (finished && haveFile) {
    src->Close();
    haveFile = false;
  }
  return finished ? 0 : 1;
}

// ---------------------------------------------------------------- Receiver

Receiver::Receiver(int p, Sink* s, Events* events, bool fly, TICK now)
    : Engine(p, events), sink(s), flying(fly && IsXmodem(p)), crc(p != kXmodem) {
  lastRx = lastPacket = timer = now;
  Status(kStInit);
  if (IsYmodem(p)) {
    state = Y_START;
    starts = 0;
    timer = now - kStartWaitMs;  // the first "C" or "G" goes out at once
  } else {
    const int r = sink->Open(FileInfo{});
    if (r <= 0) {
      stopped = r == 0;
      End(r == 0 ? 0 : 2);
      return;
    }
    fileOpen = true;
    state = X_START;
    timer = now - kStartWaitMs;
  }
}

// Collects the packet whose first byte is at the front; true when whole.
bool Receiver::Collect(TICK now, bool block0) {
  if (packet.empty()) {
    const char h = static_cast<char>(Peek());
    need = (h == STX ? 1024 : 128) + 3 + ((crc || h == STX || block0) ? 2 : 1);
    Status(kStRecv);
    if (flying && !ackAhead && !block0) {
      Send(ACK);
      ackAhead = true;
    }
  }
  const size_t n = std::min(need - packet.size(), Avail());
  packet.append(in, inPos, n);
  Take(n);
  (void)now;
  return packet.size() == need;
}

bool Receiver::PacketTimers(TICK now) {
  if (now - lastRx >= kSilenceMs) {
    Abort(3);
    return true;
  }
  if (now - lastPacket >= kPacketWaitMs) {
    packet.clear();
    Drain();
    if (flying) {
      Abort(9);
      return true;
    }
    if (++errors >= kErrorLimit) {
      Abort(5);
      return true;
    }
    ++retries;
    ev->IncRetry();
    Send(NAK);
    lastPacket = now;
    state = state == Y_BLOCK0 ? Y_START : (state == X_COLLECT ? X_WAIT : state);
  }
  return false;
}

void Receiver::Bad(TICK now, const std::string& why) {
  ev->Debug(why);
  Drain();
  if (flying || IsGForm(protocol)) {
    Abort(9);
    return;
  }
  if (++errors >= kErrorLimit) {
    Abort(5);
    return;
  }
  ++retries;
  ev->IncRetry();
  Send(NAK);
  lastPacket = now;
}

void Receiver::Block0(TICK now) {
  const std::string p = std::move(packet);
  packet.clear();
  const size_t size = p.size() - 5;
  const uint16_t c = Crc16(p.data() + 3, size);
  const bool good = static_cast<unsigned char>(p[p.size() - 2]) == (c >> 8) &&
                    static_cast<unsigned char>(p[p.size() - 1]) == (c & 0xFF);
  if (!good || p[1] != 0 || static_cast<unsigned char>(p[2]) != 0xFF) {
    state = Y_START;
    Bad(now, good ? "block 0 number mismatch\n" : "CRC mismatch\n");
    return;
  }
  lastPacket = now;
  errors = 0;
  FileInfo info = ParseBlock0(p.data() + 3, size);
  if (info.name.empty()) {
    if (!IsGForm(protocol)) Send(ACK);
    End(0);
    return;
  }
  // The path separators of other systems are the last component's business.
  for (size_t i = 0; i < info.name.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(info.name[i]);
    if (((b >= 0x81 && b <= 0x9F) || b >= 0xE0) && i + 1 < info.name.size()) {
      ++i;
      continue;
    }
    if (b == '/') info.name[i] = '\\';
  }
  cur = info;
  ev->SetFile(info.name, info.length);
  const int r = sink->Open(info);
  if (r <= 0) {
    stopped = r == 0;
    Abort(r == 0 ? 0 : 2);
    return;
  }
  fileOpen = true;
  written = 0;
  expect = 1;
  eotSeen = false;
  if (IsGForm(protocol)) {
    Send('G');
    state = X_WAIT;  // the data follows this "G" at once
  } else {
    Send(ACK);
    state = X_START;
    starts = 0;
    timer = now - kStartWaitMs;
  }
}

void Receiver::DataPacket(TICK now) {
  const std::string p = std::move(packet);
  packet.clear();
  const bool big = p[0] == STX;
  const size_t size = big ? 1024 : 128;
  const bool useCrc = crc || big;
  bool good;
  if (useCrc) {
    const uint16_t c = Crc16(p.data() + 3, size);
    good = static_cast<unsigned char>(p[size + 3]) == (c >> 8) && static_cast<unsigned char>(p[size + 4]) == (c & 0xFF);
  } else {
    good = static_cast<unsigned char>(p[size + 3]) == Checksum(p.data() + 3, size);
  }
  const uint8_t s = static_cast<uint8_t>(p[1]);
  const uint8_t cs = static_cast<uint8_t>(p[2]);
  if (!good) return Bad(now, useCrc ? "CRC mismatch\n" : "checksum mismatch\n");
  if (cs != 255 - s) {
    return Bad(now, "compl-seq mismatch: seq = " + std::to_string(expect) + ", cmplseq = " + std::to_string(cs) + "\n");
  }
  eotSeen = false;
  if (s == static_cast<uint8_t>(expect - 1)) {
    // Its ACK was lost: acknowledge again, write nothing.
    lastPacket = now;
    if (flying) ackAhead = false;
    else if (!IsGForm(protocol)) Send(ACK);
    return;
  }
  if (s != expect) {
    return Bad(now, "sequence number mismatch: my seq = " + std::to_string(expect) + ", packet.seq = " +
                        std::to_string(s) + "\n");
  }
  if (IsXmodem(protocol)) SetProtocol(big ? kXmodem1K : (useCrc ? kXmodemCrc : kXmodem));
  size_t n = size;
  if (IsYmodem(protocol) && cur.length >= 0) n = static_cast<size_t>(std::clamp<int64_t>(cur.length - written, 0, size));
  if (n > 0 && !sink->Write(p.data() + 3, n)) {
    Abort(2);
    return;
  }
  written += static_cast<int64_t>(n);
  ev->AddProcessed(static_cast<int64_t>(n));
  ++expect;
  errors = 0;
  lastPacket = now;
  if (flying) ackAhead = false;
  else if (!IsGForm(protocol)) Send(ACK);
}

void Receiver::Eot(TICK now) {
  Take(1);
  lastPacket = now;
  if (!eotSeen) {
    // One EOT may be a noise byte: only a second one ends the file.
    eotSeen = true;
    Send(NAK);
    return;
  }
  Send(ACK);
  fileOpen = false;
  if (!sink->Close(true)) {
    Abort(2);
    return;
  }
  ++files;
  ev->FileDone(cur.name, written);
  if (IsBatch(protocol)) {
    state = Y_START;
    starts = 0;
    timer = now - kStartWaitMs;
    Status(kStInit);
    return;
  }
  End(0);
}

int Receiver::Process(TICK now) {
  if (finished) return 0;
  if (Avail() > 0) lastRx = now;
  if (CheckStop()) {
    if (fileOpen) sink->Close(false);
    fileOpen = false;
    return 0;
  }
  for (int pass = 0; pass < 64 && !finished; ++pass) {
    switch (state) {
      case Y_START:
      case X_START:
        while (Avail() > 0) {
          const int cancel = CancelAtFront();
          if (cancel == 2) {
            End(4);
            break;
          }
          if (cancel == 1) break;
          const char h = static_cast<char>(Peek());
          if (h == SOH || h == STX) {
            state = state == Y_START ? Y_BLOCK0 : X_COLLECT;
            break;
          }
          if (h == EOT) {
            if (state == Y_START) {
              Take(1);
              Send(ACK);
              End(0);
            } else {
              Eot(now);
            }
            break;
          }
          Take(1);
        }
        if (finished || state == Y_BLOCK0 || state == X_COLLECT || (Avail() > 0 && CancelAtFront() != 1)) break;
        if (now - timer >= kStartWaitMs) {
          if (starts >= kStartLimit) {
            Abort(3);
            break;
          }
          ++starts;
          Send(IsYmodem(protocol) ? (state == Y_START && IsGForm(protocol) ? 'G' : 'C') : (crc ? 'C' : NAK));
          Status(kStInit);
          timer = now;
          lastRx = lastPacket = now;
        }
        return finished ? 0 : 1;
      case X_WAIT:
        while (Avail() > 0) {
          const int cancel = CancelAtFront();
          if (cancel == 2) {
            End(4);
            break;
          }
          if (cancel == 1) break;
          const char h = static_cast<char>(Peek());
          if (h == SOH || h == STX) {
            state = X_COLLECT;
            break;
          }
          if (h == EOT) {
            Eot(now);
            break;
          }
          Take(1);
        }
        if (finished || state != X_WAIT || (Avail() > 0 && CancelAtFront() != 1)) break;
        PacketTimers(now);
        return finished ? 0 : 1;
      case Y_BLOCK0:
        if (!Collect(now, true)) {
          PacketTimers(now);
          return finished ? 0 : 1;
        }
        Block0(now);
        if (state == Y_BLOCK0) state = Y_START;
        break;
      case X_COLLECT:
        if (!Collect(now, false)) {
          PacketTimers(now);
          return finished ? 0 : 1;
        }
        DataPacket(now);
        if (!finished) state = X_WAIT;
        break;
    }
    // A start state sends its character in this same pass.
    if ((Avail() == 0 || CancelAtFront() == 1) && state != X_START && state != Y_START) break;
  }
  if (finished && fileOpen) {
    sink->Close(false);
    fileOpen = false;
  }
  return finished ? 0 : 1;
}

}  // namespace xmodem
