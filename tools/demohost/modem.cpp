// The demo host's modem: command mode, dialling, on line with the BBS.
#include "tools/demohost/modem.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace demohost {

MODEM::MODEM(MODEMOPTIONS options, std::function<void(const std::string&)> write)
    : opt(std::move(options)), write(std::move(write)) {
  if (opt.answers.empty()) opt.answers.push_back("CONNECT 9600");
  Reset();
}

MODEM::~MODEM() = default;

void MODEM::Reset() {
  echo = true;
  for (int& r : regs) r = 0;
  regs[2] = '+';  // the escape character
  regs[3] = '\r';
  regs[4] = '\n';
  regs[5] = '\b';
  regs[7] = 50;   // seconds to wait for carrier (kept only to be read back)
  regs[12] = 50;  // escape guard time in 1/50 s: one second
}

void MODEM::Received(const unsigned char* p, size_t n, CLOCK::time_point now) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    switch (mode) {
      case MODE::COMMAND:
        CommandByte(c);
        if (dialPending) {
          dialPending = false;
          mode = MODE::DIALLING;
          dialAt = now + std::chrono::milliseconds(opt.dialDelayMs);
          answerSilent = false;
        } else if (mode == MODE::ONLINE) {
          lastByte = now;  // back on line by ATO: the guard time starts again
        }
        break;
      case MODE::DIALLING:
        // Any key abandons the call, as on a real modem.
        Result("NO CARRIER");
        mode = MODE::COMMAND;
        break;
      case MODE::ONLINE: {
        const bool quick = now - lastByte < Guard();
        if (c == regs[2] && ((pluses == 0 && !quick) || (pluses > 0 && pluses < 3 && quick))) {
          ++pluses;  // held back until the escape succeeds or fails
        } else {
          const int held = pluses;
          pluses = 0;
          for (int k = 0; k < held && session; ++k) SessionByte(static_cast<unsigned char>(regs[2]));
          if (session) SessionByte(c);
        }
        lastByte = now;
        break;
      }
    }
  }
}

void MODEM::Tick(CLOCK::time_point now) {
  if (mode == MODE::DIALLING && !answerSilent && now >= dialAt) {
    const std::string answer = opt.answers[nextAnswer++ % opt.answers.size()];
    if (answer == "-") {
      answerSilent = true;  // no answer at all: the caller has to give up
      return;
    }
    Result(answer);
    if (answer.rfind("CONNECT", 0) == 0) {
      connectText = answer;
      Connect(now);
    } else {
      mode = MODE::COMMAND;
    }
  }
  if (mode == MODE::ONLINE && pluses > 0 && now - lastByte >= Guard()) {
    const int held = pluses;
    pluses = 0;
    if (held == 3) {
      mode = MODE::COMMAND;  // the call stays up until ATH
      Result("OK");
    } else {
      for (int k = 0; k < held && session; ++k) SessionByte(static_cast<unsigned char>(regs[2]));
    }
  }
}

int MODEM::NextTimerMs(CLOCK::time_point now) const {
  CLOCK::time_point at;
  if (mode == MODE::DIALLING && !answerSilent)
    at = dialAt;
  else if (mode == MODE::ONLINE && pluses > 0)
    at = lastByte + Guard();
  else
    return -1;
  if (at <= now) return 0;
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count()) + 1;
}

void MODEM::LineDropped() {
  HangUp();
  Reset();
  line.clear();
  pluses = 0;
  mode = MODE::COMMAND;
}

void MODEM::CommandByte(unsigned char c) {
  if (echo) write(std::string(1, static_cast<char>(c)));
  if (c == '\r') {
    const std::string l = line;
    line.clear();
    CommandLine(l);
  } else if (c == 0x08 || c == 0x7F) {
    if (!line.empty()) line.pop_back();
  } else if (c >= 0x20 && line.size() < 80) {
    line.push_back(static_cast<char>(c));
  }
}

void MODEM::CommandLine(const std::string& l) {
  // Whatever comes before "AT" is noise; a line without it gets no answer.
  size_t at = std::string::npos;
  for (size_t i = 0; i + 1 < l.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(l[i])) == 'A' &&
        std::toupper(static_cast<unsigned char>(l[i + 1])) == 'T') {
      at = i;
      break;
    }
  }
  if (at == std::string::npos) return;
  std::string cmds;
  for (char c : l.substr(at + 2)) cmds.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  goOnline = false;
  if (!Execute(cmds)) {
    dialPending = false;
    Result("ERROR");
  } else if (goOnline) {
    Result(connectText);
    mode = MODE::ONLINE;
    pluses = 0;
  } else if (!dialPending) {
    Result("OK");
  }
}

bool MODEM::Execute(const std::string& s) {
  size_t i = 0;
  auto number = [&](int* v) {
    *v = 0;
    bool any = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      *v = *v * 10 + (s[i++] - '0');
      if (*v > 999) *v = 999;
      any = true;
    }
    return any;
  };
  int v;
  while (i < s.size()) {
    const char c = s[i++];
    switch (c) {
      case ' ':
        break;
      case 'E':
        number(&v);
        if (v > 1) return false;
        echo = v == 1;
        break;
      case 'Z':
        number(&v);
        HangUp();
        Reset();
        break;
      case 'H':
        number(&v);
        if (v > 1) return false;
        HangUp();
        break;
      case 'O':
        number(&v);
        if (!session) return false;
        goOnline = true;
        break;
      case 'D':
        // The rest of the line is the number (T, P, digits, commas...).
        if (session) return false;
        dialPending = true;
        return true;
      case 'S': {
        int reg;
        if (!number(&reg) || reg >= 32) return false;
        if (i < s.size() && s[i] == '=') {
          ++i;
          number(&v);
          if (v > 255) return false;
          regs[reg] = v;
        } else if (i < s.size() && s[i] == '?') {
          ++i;
          char buf[8];
          std::snprintf(buf, sizeof buf, "%03d", regs[reg]);
          Result(buf);
        }
        break;
      }
      case '&':
        if (i >= s.size() || !std::isupper(static_cast<unsigned char>(s[i]))) return false;
        if (s[i++] == 'F') Reset();
        number(&v);
        break;
      case 'B': case 'C': case 'I': case 'L': case 'M': case 'N':
      case 'P': case 'Q': case 'T': case 'V': case 'W': case 'X':
        number(&v);  // accepted and ignored: the pty has no speaker, no modulation
        break;
      default:
        return false;
    }
  }
  return true;
}

void MODEM::Connect(CLOCK::time_point now) {
  session = std::make_unique<SESSION>(opt.session);
  encoder.Reset();
  decoder.Reset();
  lastCr = false;
  pluses = 0;
  lastByte = now;
  mode = MODE::ONLINE;
  session->Start();
  Flush();
  EndIfFinished();
}

void MODEM::HangUp() {
  if (session) {
    session.reset();
    ++callsEnded;
  }
  if (mode != MODE::COMMAND) mode = MODE::COMMAND;
}

LINECODEPARAM MODEM::Param() const {
  LINECODEPARAM p;
  const CODE code = session ? session->Code() : opt.session.code;
  p.KanjiCode = code == CODE::JIS ? 1 : code == CODE::EUC ? 4 : 0;
  return p;
}

void MODEM::SessionByte(unsigned char c) {
  // CR LF and CR NUL end one line, as CR alone does.
  if (lastCr && (c == '\n' || c == 0)) {
    lastCr = false;
    return;
  }
  lastCr = c == '\r';
  unsigned char out[RECEIVEDECODER::MaxOutput(1)];
  const size_t n = decoder.Convert(Param(), &c, 1, out);
  for (size_t k = 0; k < n; ++k) session->Input(out[k]);
  Flush();
  EndIfFinished();
}

void MODEM::EndIfFinished() {
  if (session && session->Finished()) {
    // The host hung up: the carrier is gone.
    session.reset();
    ++callsEnded;
    mode = MODE::COMMAND;
    pluses = 0;
    Result("NO CARRIER");
  }
}

// Sends the session's output in the caller's code.
void MODEM::Flush() {
  if (!session) return;
  const std::string text = session->TakeOutput();
  if (text.empty()) return;
  struct SINK : SENDSINK {
    std::string bytes;
    void Sub(unsigned char c) override { bytes.push_back(static_cast<char>(c)); }
    void WithEcho(unsigned char c, unsigned char) override { bytes.push_back(static_cast<char>(c)); }
  } sink;
  const LINECODEPARAM p = Param();
  for (char c : text) encoder.Encode(p, false, static_cast<unsigned char>(c), sink);
  write(sink.bytes);
}

std::vector<std::string> SplitAnswers(const std::string& list) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (c == '\\' && i + 1 < list.size()) {
      cur.push_back(list[++i]);
    } else if (c == ';' || c == ',') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.push_back(cur);
  std::vector<std::string> kept;
  for (std::string& a : out) {
    while (!a.empty() && a.front() == ' ') a.erase(a.begin());
    while (!a.empty() && a.back() == ' ') a.pop_back();
    if (!a.empty()) kept.push_back(a);
  }
  return kept;
}

void MakeRaw(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  close(fd);
}

}  // namespace demohost
