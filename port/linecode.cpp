#include "port/linecode.h"

#include <cstring>

#include "platform/jcode.h"

namespace {
constexpr unsigned char NUL = 0x00, LF = 0x0A, CR = 0x0D, SO = 0x0E, SI = 0x0F, ESC = 0x1B;
}

void RECEIVEDECODER::Reset() {
  escStage = 0;
  escByte = 0;
  kanjiStage = 0;
  held = 0;
  jisPhase = 0;
  fShiftOut = 0;
  fPrintMiss = 0;
}

size_t RECEIVEDECODER::Convert(const LINECODEPARAM& param, const unsigned char* in, size_t n, unsigned char* out) {
  unsigned char* o = out;
  // A Shift_JIS host runs the decoder only with automatic detection, and
  // then for the JIS shifts alone (ESC $ B, ESC $ @, ESC ( J/H/B, SO/SI),
  // which Shift_JIS text never holds: its bytes from 0x80 on stay as they
  // are, since EUC cannot be told from Shift_JIS byte by byte.
  const bool sjisHost = param.KanjiCode == 0;
  const bool decode = !sjisHost || param.AutoJisEuc;
  const bool shiftOutRule = !(param.KanjiCode == 4 && !param.AutoJisEuc);
  const bool escRule = param.KanjiCode != 4 || param.AutoJisEuc;
  const bool eucLead = param.KanjiCode == 4 || (param.AutoJisEuc && !sjisHost);
  const bool nec = param.KanjiCode == 3;
  // Bytes that single-byte mode writes as they are, in runs: 0x20 to 0x7E,
  // and on a Shift_JIS host everything from 0x20 on.
  const unsigned char runTop = sjisHost ? 0xFF : 0x7E;

  // One byte through the decoder.  Dropping a byte is simply not writing it.
  auto feed = [&](unsigned char b) {
    if (!decode) {
      *o++ = b;
      return;
    }
    if (shiftOutRule) {
      if (b == SO) {
        fShiftOut = 1;
        return;
      }
      if (b == SI) {
        fShiftOut = 0;
        return;
      }
      if (fShiftOut && escStage == 0 && b >= 0x21) {
        *o++ = static_cast<unsigned char>(b | 0x80);
        return;
      }
    }
    if (b == ESC && escRule) {
      // A new ESC ends an escape in progress: what it held goes out first.
      if (escStage >= 1) *o++ = ESC;
      if (escStage == 2) *o++ = escByte;
      escStage = 1;
      return;
    }
    if (escStage == 0 || b < 0x21) {
      if (sjisHost && (b & 0x80)) {
        *o++ = b;  // Shift_JIS text, in whatever mode a JIS shift left
        return;
      }
      if (kanjiStage == 0 || b < 0x21) {
        if ((b & 0x80) && eucLead) {
          held = b;
          kanjiStage = 2;
        } else {
          *o++ = b;
        }
      } else if (kanjiStage == 2) {
        if (held == 0x8E) {
          *o++ = b;  // single-shift 2: the half-width katakana byte itself
        } else {
          jcode::JisToSjis(held & 0x7F, b & 0x7F, o, o + 1);
          o += 2;
        }
        kanjiStage = 0;
      } else if (jisPhase == 0) {
        held = b;
        jisPhase = 1;
      } else {
        jcode::JisToSjis(held & 0x7F, b & 0x7F, o, o + 1);
        o += 2;
        jisPhase = 0;
      }
      return;
    }
    if (escStage == 1) {
      // A Shift_JIS byte after ESC is no JIS shift.
      escByte = sjisHost ? b : b & 0x7F;
      if (nec) {
        escStage = 0;
        if (escByte == 'K') {
          kanjiStage = 1;
          jisPhase = 0;
        } else if (escByte == 'H') {
          kanjiStage = 0;
          jisPhase = 0;
        } else {
          *o++ = ESC;
          *o++ = b;
        }
      } else if (escByte == '$' || escByte == '(') {
        escStage = 2;
      } else {
        *o++ = ESC;
        *o++ = b;
        escStage = 0;
      }
      return;
    }
    // escStage == 2: the final byte.
    escStage = 0;
    if (escByte == '$' && (b == '@' || b == 'B')) {
      kanjiStage = 1;
      jisPhase = 0;
    } else if (escByte == '(' && (b == 'J' || b == 'H' || b == 'B')) {
      kanjiStage = 0;
      jisPhase = 0;
      fPrintMiss = b == 'H';
    } else {
      *o++ = ESC;
      *o++ = escByte;
      *o++ = b;
    }
  };

  // A Shift_JIS host on an 8-bit line without the CR rule: the bytes go out
  // as they came, less the NULs, so the runs between NULs are copied whole.
  if (!decode && !param.SevenBit && !param.ReceiveCROnly) {
    const unsigned char* p = in;
    const unsigned char* const end = in + n;
    while (p < end) {
      const void* nul = std::memchr(p, NUL, static_cast<size_t>(end - p));
      const unsigned char* stop = nul ? static_cast<const unsigned char*>(nul) : end;
      std::memcpy(o, p, static_cast<size_t>(stop - p));
      o += stop - p;
      p = stop + (nul ? 1 : 0);
    }
    return static_cast<size_t>(o - out);
  }

  const unsigned char mask = param.SevenBit ? 0x7F : 0xFF;
  for (size_t i = 0; i < n; ++i) {
    // In single-byte mode with no escape or shift in progress, bytes from
    // 0x20 to 0x7E are written as they are: such runs skip the byte steps.
    if (decode && escStage == 0 && kanjiStage == 0 && !(fShiftOut && shiftOutRule)) {
      size_t j = i;
      if (mask == 0xFF && runTop == 0xFF) {
        j += PrintableRun(reinterpret_cast<const char*>(in) + i, n - i);
        std::memcpy(o, in + i, j - i);
        o += j - i;
      } else {
        while (j < n) {
          const unsigned char c = in[j] & mask;
          if (c < 0x20 || c > runTop) break;
          *o++ = c;
          ++j;
        }
      }
      if (j == n) break;
      i = j;
    }
    unsigned char b = in[i];
    // Stripping comes before NUL removal so that a parity-only byte (0x80) on
    // a 7-bit line cannot turn into a NUL behind the removal.
    if (param.SevenBit) b &= 0x7F;
    if (b == NUL) continue;
    feed(b);
    if (b == CR && param.ReceiveCROnly) feed(LF);
  }
  return static_cast<size_t>(o - out);
}

void SENDENCODER::Reset() {
  kanjiSendState = 0;
  held = 0;
  fShiftOut = 0;
}

void SENDENCODER::Encode(const LINECODEPARAM& param, bool printMiss, unsigned char c, SENDSINK& sink) {
  const int code = param.KanjiCode;
  if (code == 4) {
    if (kanjiSendState == 2) {
      unsigned char j1, j2;
      jcode::SjisToJis(held, c, &j1, &j2);
      sink.WithEcho(static_cast<unsigned char>(j1 | 0x80), held);
      sink.WithEcho(static_cast<unsigned char>(j2 | 0x80), c);
      kanjiSendState = 0;
    } else if (jcode::IsKanji1(c)) {
      held = c;
      kanjiSendState = 2;
    } else if (c >= 0x80) {
      sink.Sub(0x8E);
      sink.WithEcho(c, c);
    } else {
      sink.WithEcho(c, c);
    }
    return;
  }
  if (code >= 1 && code <= 3) {
    if (kanjiSendState == 2) {
      unsigned char j1, j2;
      jcode::SjisToJis(held, c, &j1, &j2);
      sink.WithEcho(j1, held);
      sink.WithEcho(j2, c);
      kanjiSendState = 1;
      return;
    }
    if (kanjiSendState == 1) {
      if (jcode::IsKanji1(c)) {
        held = c;
        kanjiSendState = 2;
        return;
      }
      sink.Sub(ESC);
      if (code == 3) {
        sink.Sub('H');
      } else {
        sink.Sub('(');
        sink.Sub(printMiss ? 'H' : 'J');
      }
      kanjiSendState = 0;
      // The byte goes on as in single-byte mode, so a 7-bit line still gets
      // its half-width kana framed by SO/SI.
    }
    if (jcode::IsKanji1(c)) {
      if (fShiftOut) {
        sink.Sub(SI);
        fShiftOut = 0;
      }
      sink.Sub(ESC);
      if (code == 3) {
        sink.Sub('K');
      } else {
        sink.Sub('$');
        sink.Sub(code == 1 ? 'B' : '@');
      }
      held = c;
      kanjiSendState = 2;
      return;
    }
    if (param.SevenBit) {
      if (c >= 0x80) {
        if (!fShiftOut) {
          sink.Sub(SO);
          fShiftOut = 1;
        }
        sink.WithEcho(static_cast<unsigned char>(c & 0x7F), c);
        return;
      }
      if (fShiftOut) {
        sink.Sub(SI);
        fShiftOut = 0;
      }
    }
    sink.WithEcho(c, c);
    return;
  }
  sink.WithEcho(c, c);
}
