// Text upload: the line shaping and the pacing engine (see textupload.h).
#include "transfer/textupload.h"

#include <algorithm>
#include <cstring>

TEXTUPLOAD textUpload;

namespace {

constexpr int kLookAhead = 6;       // columns the buffer holds beyond a screen line
constexpr int kMaxScreen = 4096;    // a screen wider than this is taken as this wide
constexpr int kHangWidthBelow = 78; // hanging punctuation only on lines narrower than this
constexpr int kHangMost = 2;

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || c >= 0xE0; }

// One character each: Shift_JIS pairs stay together.
std::vector<std::string> SplitChars(const std::string& sjis) {
  std::vector<std::string> out;
  for (size_t i = 0; i < sjis.size();) {
    const size_t n = IsLead(static_cast<unsigned char>(sjis[i])) && i + 1 < sjis.size() ? 2 : 1;
    out.push_back(sjis.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

// ---- TEXTSHAPER ------------------------------------------------------------------

TEXTSHAPER::TEXTSHAPER(const TEXTSHAPE& shape, SOURCE source) : s(shape), source(std::move(source)) {
  s.screenWidth = std::clamp(s.screenWidth, 2, kMaxScreen);
  // A margin wider than the screen would only push every line off it.
  s.margin = std::clamp(s.margin, 0, s.screenWidth);
  if (s.tabToSpace < 0) s.tabToSpace = 0;
  top = SplitChars(s.topKinsoku);
  bottom = SplitChars(s.bottomKinsoku);
}

bool TEXTSHAPER::CutsShort() const { return s.orikaeshi >= 20 && s.orikaeshi < s.screenWidth; }

bool TEXTSHAPER::SourceByte(size_t ahead, unsigned char* c) {
  while (srcPos + ahead >= src.size()) {
    if (srcEnd) return false;
    if (srcPos > 0) {
      src.erase(0, srcPos);
      srcPos = 0;
    }
    char buf[4096];
    const long r = source ? source(buf, sizeof buf) : 0;
    if (r <= 0) {
      if (r < 0) readError = true;
      srcEnd = true;
      return false;
    }
    src.append(buf, static_cast<size_t>(r));
  }
  *c = static_cast<unsigned char>(src[srcPos + ahead]);
  return true;
}

int TEXTSHAPER::UnitWidth(const UNIT& u, int column, int width) const {
  if (u.n == 0) return 0;
  if (u.tab) {
    // Stops every 8 columns for a TAB sent as it is; with TabToSpace, every
    // TabToSpace columns, never more than the line is wide.
    const int stop = s.tabToSpace > 0 ? std::min(s.tabToSpace, width) : 8;
    return stop - column % stop;
  }
  return u.n;
}

int TEXTSHAPER::Columns(size_t upTo, int width) const {
  int col = 0;
  for (size_t i = 0; i < upTo && i < units.size(); ++i) col += UnitWidth(units[i], col, width);
  return col;
}

void TEXTSHAPER::Fill(int width) {
  if (!units.empty() && units.back().n == 0) return;  // the line end is there
  int col = Columns(units.size(), width);
  const int cap = s.screenWidth + kLookAhead;
  for (;;) {
    unsigned char c;
    if (!SourceByte(0, &c)) break;
    if (c == 0x1A) {  // the end of the text
      srcEnd = true;
      src.resize(srcPos);
      break;
    }
    if (c == '\r' || c == 0) {
      ++dropped;
      ++srcPos;
      continue;
    }
    UNIT u{};
    if (c == '\n') {
      u.n = 0;
      u.source = 1 + dropped;
      dropped = 0;
      ++srcPos;
      units.push_back(u);
      break;
    }
    u.b[0] = static_cast<char>(c);
    u.n = 1;
    if (c == '\t') {
      u.tab = true;
    } else if (IsLead(c)) {
      unsigned char d;
      if (SourceByte(1, &d) && d >= 0x40) {
        u.b[1] = static_cast<char>(d);
        u.n = 2;
      }
    }
    const int w = UnitWidth(u, col, width);
    if (!units.empty() && col + w > cap) break;  // waits for the next line
    u.source = u.n + dropped;
    dropped = 0;
    srcPos += u.n;
    units.push_back(u);
    col += w;
  }
}

bool TEXTSHAPER::IsTop(const UNIT& u) const {
  if (u.n == 0 || u.tab) return false;
  const std::string c(u.b, u.n);
  return std::find(top.begin(), top.end(), c) != top.end();
}

bool TEXTSHAPER::IsBottom(const UNIT& u) const {
  if (u.n == 0 || u.tab) return false;
  const std::string c(u.b, u.n);
  return std::find(bottom.begin(), bottom.end(), c) != bottom.end();
}

namespace {

bool IsHanging(const char* b, int n) {
  if (n == 1) return b[0] == '.' || b[0] == ',';
  // "、" "。" "，" "．"
  return n == 2 && static_cast<unsigned char>(b[0]) == 0x81 && b[1] >= 0x41 && b[1] <= 0x44;
}

bool IsWordByte(const char* b, int n, bool tab) {
  if (n != 1 || tab) return false;
  const auto c = static_cast<unsigned char>(b[0]);
  return c >= 0x21 && c <= 0x7E;
}

}  // namespace

size_t TEXTSHAPER::Break(int width) const {
  const bool hasEnd = !units.empty() && units.back().n == 0;
  const size_t textEnd = hasEnd ? units.size() - 1 : units.size();
  // The most characters that fit; a character wider than the line goes alone.
  size_t b = 0;
  int col = 0;
  while (b < textEnd) {
    const int w = UnitWidth(units[b], col, width);
    if (col + w > width) break;
    col += w;
    ++b;
  }
  if (b == 0) b = 1;
  if (!s.kinsoku && !s.wordwrap) return b;
  if (s.kinsoku && s.burasage && width < kHangWidthBelow)
    for (int h = 0; h < kHangMost && b < textEnd && IsHanging(units[b].b, units[b].n); ++h) ++b;

  auto okKinsoku = [&](size_t p) {
    return (p >= textEnd || !IsTop(units[p])) && !IsBottom(units[p - 1]);
  };
  auto okWord = [&](size_t p) {
    if (!s.wordwrap || p >= textEnd) return true;
    const UNIT& a = units[p - 1];
    const UNIT& z = units[p];
    return !(IsWordByte(a.b, a.n, a.tab) && IsWordByte(z.b, z.n, z.tab));
  };
  if (s.kinsoku) {
    const int quarter = width - width / 4;  // the last quarter of the line begins here
    for (size_t p = b; p >= 1 && Columns(p, width) >= quarter; --p)
      if (okKinsoku(p) && okWord(p)) return p;
  }
  if (s.wordwrap) {
    const int third = width / 3;
    for (size_t p = b; p >= 1 && Columns(p, width) >= third; --p)
      if (okWord(p)) return p;
  }
  return b;
}

bool TEXTSHAPER::Next(std::string* line, long long* consumed) {
  line->clear();
  *consumed = 0;
  // The width of this line: at least two columns, leaving off the
  // indentation and then the margin when they would leave less.
  const int marginColumns = s.hankakuMargin ? s.margin : 2 * s.margin;
  bool useMargin = s.margin > 0, useIndent = !indent.empty();
  int width = s.screenWidth;
  if (s.orikaeshi >= 20 && s.orikaeshi <= s.screenWidth) {
    width = s.orikaeshi - indentColumns - marginColumns;
    if (width < 2) {
      useIndent = false;
      width = s.orikaeshi - marginColumns;
    }
    if (width < 2) {
      useMargin = false;
      width = s.orikaeshi;
    }
  }

  Fill(width);
  if (units.empty()) return false;
  const size_t n = units.size();
  const bool hasEnd = units.back().n == 0;
  const size_t textEnd = hasEnd ? n - 1 : n;
  size_t p;
  bool endsCR;
  if (Columns(textEnd, width) <= width && (hasEnd || srcEnd)) {
    p = n;
    endsCR = hasEnd;
  } else {
    p = Break(width);
    endsCR = p < n && units[p].n == 0;
    if (endsCR) ++p;
  }

  if (useMargin) {
    for (int i = 0; i < s.margin; ++i) line->append(s.hankakuMargin ? " " : "\x81\x40");
  }
  if (useIndent) line->append(indent);
  int col = 0;
  std::string leading;  // this line's leading blanks, as sent
  int leadingColumns = 0;
  bool inLeading = true;
  for (size_t i = 0; i < p; ++i) {
    const UNIT& u = units[i];
    *consumed += u.source;
    if (u.n == 0) {
      line->push_back('\r');
      continue;
    }
    const int w = UnitWidth(u, col, width);
    std::string bytes;
    if (u.tab && s.tabToSpace > 0) bytes.assign(static_cast<size_t>(w), ' ');
    else bytes.assign(u.b, u.n);
    const bool blank = (u.tab && s.tabToSpace > 0) || (u.n == 1 && u.b[0] == ' ') ||
                       (u.n == 2 && static_cast<unsigned char>(u.b[0]) == 0x81 && u.b[1] == 0x40);
    if (inLeading && blank) {
      leading += bytes;
      leadingColumns += w;
    } else {
      inLeading = false;
    }
    line->append(bytes);
    col += w;
  }
  const bool last = !endsCR && p == n && srcEnd;
  if (!endsCR && !last) line->push_back('\r');
  units.erase(units.begin(), units.begin() + static_cast<long>(p));
  if (units.empty() && srcEnd) {
    *consumed += dropped;
    dropped = 0;
  }

  if (endsCR || last) {
    indent.clear();
    indentColumns = 0;
    prevCR = true;
  } else {
    // A paragraph's first line, wrapped: its leading blanks are repeated on
    // the lines it continues on.
    if (prevCR && s.autoMarginSync) {
      indent = leading;
      indentColumns = leadingColumns;
    }
    prevCR = false;
  }
  return true;
}

std::vector<std::string> ShapeText(const TEXTSHAPE& shape, const std::string& text) {
  size_t at = 0;
  TEXTSHAPER shaper(shape, [&](char* buf, size_t max) {
    const size_t n = std::min(max, text.size() - at);
    std::memcpy(buf, text.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
  std::vector<std::string> lines;
  std::string line;
  long long consumed = 0;
  while (shaper.Next(&line, &consumed)) lines.push_back(line);
  return lines;
}

// ---- NOPROTOCOL ------------------------------------------------------------------

namespace {

class NOPROTOCOL : public PROTOCOLENGINE {
 public:
  NOPROTOCOL(TRANSFER& t, TEXTUPLOAD settings)
      : PROTOCOLENGINE(t), u(std::move(settings)), shaper(u.shape, Source()) {
    t.ProtocolSetStatus(PS_SENDING);
    lastActivity = t.Now();
  }

  STEPRESULT Step() override {
    if (t.fStopProtocol || t.fHangupOnProtocol) return End(PE_OK);
    // The echo is taken while waiting for it (up to its line end) and for
    // the pace character (up to it); what follows stays for the next state,
    // so a prompt right behind the echo still releases the next line.
    if ((state == ECHO && !sawLF) || state == PACE) {
      if (held.empty()) {
        char buf[4096];
        held.assign(buf, t.line->Read(reinterpret_cast<unsigned char*>(buf), sizeof buf));
      }
      if (!held.empty()) {
        const size_t used = Received(held.data(), held.size());
        if (used == kMismatch) return End(PE_COLLATE);
        held.erase(0, used);
      }
    }
    switch (state) {
      case SEND: return Send();
      case ECHO: return Echo();
      case AFTERLINE:
        if (t.line->OutQueue() > 0 && t.ProtocolPassedTime() < static_cast<TICK>(kTextEchoWaitMs)) return STEP_IDLE;
        t.ProtocolBeginTimer();
        state = PACE;
        return STEP_BUSY;
      case PACE:
        if (!u.paceCharacter || t.ProtocolPassedTime() >= static_cast<TICK>(kTextEchoWaitMs)) {
          state = SEND;
          return STEP_BUSY;
        }
        Status(PS_WAITPACE);
        return STEP_IDLE;
    }
    return STEP_IDLE;
  }

 private:
  enum STATE { SEND, ECHO, AFTERLINE, PACE };

  TEXTSHAPER::SOURCE Source() {
    if (u.text) {
      return [this](char* buf, size_t max) {
        const size_t n = std::min(max, u.text->size() - textAt);
        std::memcpy(buf, u.text->data() + textAt, n);
        textAt += n;
        return static_cast<long>(n);
      };
    }
    return [this](char* buf, size_t max) { return t.ProtocolReadUp(buf, max); };
  }

  STEPRESULT End(PROTOCOLERROR e) {
    if (e != PE_OK) t.protocolerror = e;
    // What was read and not looked at is still the host's to show.
    if (!held.empty() && u.echo) u.echo(held.data(), held.size());
    held.clear();
    t.ProtocolExitProtocol();
    return STEP_DONE;
  }

  void Status(int id) {
    if (id == status) return;
    status = id;
    t.ProtocolSetStatus(id);
  }

  size_t Put(const char* data, size_t n) {
    if (u.send) return u.send(data, n);
    const size_t k = std::min(n, t.line->Room());
    return k > 0 && t.line->Write(data, k) ? k : 0;
  }

  // The echo: collated, handed on, and watched for the line end and the pace
  // character, where taking stops.  The bytes taken, or kMismatch when the
  // echo differs from what was sent.
  static constexpr size_t kMismatch = static_cast<size_t>(-1);
  size_t Received(const char* data, size_t n) {
    size_t i = 0;
    while (i < n) {
      const char c = data[i++];
      if (!Collate(c)) {
        if (u.echo) u.echo(data, i);
        return kMismatch;
      }
      lastActivity = t.Now();
      if (state == ECHO && c == '\n' && !u.fastSend) {
        sawLF = true;
        break;
      }
      if (state == PACE && u.paceCharacter) {
        t.ProtocolBeginTimer();
        if (static_cast<unsigned char>(c) == u.paceCharacter) {
          state = SEND;
          break;
        }
      }
    }
    if (u.echo) u.echo(data, i);
    return i;
  }

  bool Collate(char c) {
    if (!u.collate || c == '\r' || c == '\n') return true;
    if (collateHead >= collate.size() || collate[collateHead] != c) return false;
    if (++collateHead == collate.size()) {
      collate.clear();
      collateHead = 0;
    }
    return true;
  }

  STEPRESULT Send() {
    if (pending.empty()) {
      if (!shaper.Next(&pending, &consumed)) {
        if (shaper.ReadError()) return End(PE_READ);
        t.ProtocolUploadFileDone();
        return End(PE_OK);
      }
      sent = 0;
      if (u.collate) {
        // The host stopped echoing long ago: the echo cannot match any more.
        const size_t add = static_cast<size_t>(
            std::count_if(pending.begin(), pending.end(), [](char c) { return c != '\r' && c != '\n'; }));
        if (collate.size() - collateHead + add > kTextCollateMax) return End(PE_COLLATE);
      }
    }
    Status(PS_SENDING);
    while (sent < pending.size()) {
      const size_t k = Put(pending.data() + sent, pending.size() - sent);
      if (k == 0) return STEP_IDLE;
      if (u.collate) {
        for (size_t i = sent; i < sent + k; ++i) {
          if (pending[i] != '\r' && pending[i] != '\n') collate.push_back(pending[i]);
        }
      }
      sent += k;
    }
    t.ProtocolAddProcessedBytes(consumed);
    pending.clear();
    sent = 0;
    t.ProtocolBeginTimer();
    lastActivity = t.Now();
    sawLF = false;
    newestMark = u.newestLine ? u.newestLine() : 0;
    state = ECHO;
    return STEP_BUSY;
  }

  STEPRESULT Echo() {
    if (u.fastSend) {
      if (t.line->OutQueue() >= kTextFastQueue) return STEP_IDLE;
      state = SEND;
      return STEP_BUSY;
    }
    if (t.line->OutQueue() > 0) return STEP_IDLE;
    if (sawLF) {
      firstLine = false;
      t.ProtocolBeginTimer();
      state = AFTERLINE;
      return STEP_BUSY;
    }
    if (firstLine && !u.paceCharacter && t.ProtocolPassedTime() >= static_cast<TICK>(kTextFirstLineMs)) {
      firstLine = false;
      state = SEND;
      return STEP_BUSY;
    }
    Status(PS_WAITCRECHO);
    if (t.Now() - lastActivity >= static_cast<TICK>(kTextEchoWaitMs)) {
      firstLine = false;
      state = SEND;
      return STEP_BUSY;
    }
    if (u.newestLine && u.newestLine() != newestMark && !shaper.CutsShort()) {
      firstLine = false;
      t.ProtocolBeginTimer();
      state = PACE;
      return STEP_BUSY;
    }
    return STEP_IDLE;
  }

  TEXTUPLOAD u;
  size_t textAt = 0;
  TEXTSHAPER shaper;
  std::string pending;  // the line being sent
  size_t sent = 0;
  long long consumed = 0;
  std::string held;     // read from the line, not yet taken
  std::string collate;  // sent and not yet echoed
  size_t collateHead = 0;
  STATE state = SEND;
  int status = PS_SENDING;
  bool firstLine = true;
  bool sawLF = false;
  TICK lastActivity = 0;
  long long newestMark = 0;
};

}  // namespace

std::unique_ptr<PROTOCOLENGINE> MakeTextUpload(TRANSFER& t) { return std::make_unique<NOPROTOCOL>(t, textUpload); }
