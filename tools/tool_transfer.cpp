// quillnet-tool send|receive: the program's transfer engines without the
// program.
//
//   send    --protocol WORD [options] FILE...
//   receive --protocol WORD [options] [FILE]
//
// The line is standard input and output (as lrzsz's programs use it), a
// serial device or pty (--line), or a telnet host (--telnet, through the
// telnet layer).  Standard output carries only the line; messages and the
// --progress figures go to standard error.  Exit status: 0 success, the
// result number (1..13) with its text on standard error, 20 stopped or
// declined, 64 a usage error.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/socketline.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "transfer/figures.h"
#include "transfer/names.h"
#include "transfer/textupload.h"
#include "transfer/transfer.h"

extern const char* const kSendUsage;
extern const char* const kReceiveUsage;
const char* const kSendUsage =
    "usage: quillnet-tool send --protocol WORD [options] FILE...\n"
    "\n"
    "  send FILEs to the other end of the line (standard input and output unless\n"
    "  --line or --telnet).  WORD: zmodem, xmodem, xmodemcrc, xmodem1k, ymodem,\n"
    "  ymodemg, ymodembatch, ymodemgbatch, or text.\n";
const char* const kReceiveUsage =
    "usage: quillnet-tool receive --protocol WORD [options] [FILE]\n"
    "\n"
    "  receive files from the other end of the line into --dir (FILE names the\n"
    "  file for the protocols that carry no name).\n";
extern const char* const kTransferOptions;
const char* const kTransferOptions =
    "\n"
    "  --line DEVICE        a serial device or pty as the line\n"
    "  --telnet HOST [PORT] a telnet host as the line\n"
    "  --dir DIR            where received files go (default: the current directory)\n"
    "  --mode MODE          an existing file: overwrite, append, resume or rename\n"
    "                       (default rename: the spare name TEMP.nnn)\n"
    "  --flying             flying XMODEM (no acknowledgements)\n"
    "  --mask-ctrl          ZMODEM: escape every control character\n"
    "  --noise[=SEED]       damage bytes on the line now and then (a test aid)\n"
    "  --timestamps         keep the sender's file times\n"
    "  --history DIR        add TRANHIST.TXT lines in DIR\n"
    "  --progress           the figures on standard error once a second\n"
    "  --debug-log FILE     the protocol trace into FILE\n"
    "\n"
    "  text (send only; defaults as for a new host):\n"
    "  --width N            wrap column, 20 up to the screen's 80 (default 76;\n"
    "                       other values: the screen width)\n"
    "  --margin N           blanks in front of every line (default 0)\n"
    "  --zenkaku-margin     the margin in full-width blanks\n"
    "  --kinsoku 0|1        keep forbidden characters off line starts and ends\n"
    "                       (default 1)\n"
    "  --tab N              a TAB becomes blanks up to a multiple of N (default 0:\n"
    "                       TABs are sent as they are)\n"
    "  --pace C             wait for the character C (or a code: 17, 0x11) after\n"
    "                       each line\n"
    "  --collate            the echo must repeat what was sent (else error 11)\n"
    "  --fast               do not wait for the echo\n"
    "\n"
    "  exit status: 0 done, 1-13 the transfer's error, 20 stopped or declined,\n"
    "  64 usage\n";

namespace {

constexpr int kUsageStatus = 64;
constexpr int kToolScreenWidth = 80;  // the screen a text upload is shaped for

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

int Usage(const char* cmd, const std::string& text) {
  std::fprintf(stderr, "quillnet-tool: %s\nTry 'quillnet-tool %s --help'.\n", text.c_str(), cmd);
  return kUsageStatus;
}

struct ARGS {
  PROTOCOL protocol = PROTOCOL_NONE;
  std::string line, telnetHost;
  int telnetPort = 23;
  TRANSFEROPTIONS opt;
  bool noise = false;
  std::uint32_t seed = 1;
  bool progress = false;
  std::string debugLog;
  std::vector<std::string> files;
  TEXTUPLOAD text;
  bool textOption = false;  // a text-only option was given
};

// The host defaults of a text upload (the configuration's part comes later).
TEXTUPLOAD TextDefaults() {
  TEXTUPLOAD u;
  HOSTPROPERTY h;
  h.SetDefault();
  u.shape.screenWidth = kToolScreenWidth;
  u.shape.orikaeshi = h.Orikaeshi;
  u.shape.margin = h.Margin;
  u.shape.hankakuMargin = h.HankakuMargin != 0;
  u.shape.autoMarginSync = h.AutoMarginSync != 0;
  u.shape.kinsoku = h.Kinsoku != 0;
  u.shape.tabToSpace = h.TabToSpace;
  u.paceCharacter = h.PaceCharacter;
  u.collate = h.Collate != 0;
  u.fastSend = h.FastSend != 0;
  return u;
}

// A whole decimal number in [lo, hi].
bool Number(const std::string& v, int lo, int hi, int* out) {
  if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos) return false;
  const int n = std::atoi(v.c_str());
  if (n < lo || n > hi) return false;
  *out = n;
  return true;
}

// The trace into a file of the user's choice: the debug log writes
// "Debug.log" in a directory, so the file is linked there afterwards.
std::string debugLogTarget, debugLogDir;

int Run(bool upload, const ARGS& a) {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a wait ends at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<TRANSFERLINE> line;
  bool comport = false;
  if (!a.line.empty()) {
    if (a.noise) config.NoiseMixing = 1;
    if (!COMPORT::OpenPath(a.line.c_str())) {
      std::fprintf(stderr, "quillnet-tool: cannot open %s\n", a.line.c_str());
      return PE_PORT;
    }
    comport = true;
  } else if (!a.telnetHost.empty()) {
    if (a.noise) config.NoiseMixing = 1;
    TELNETCONNECT attempt(a.telnetHost, a.telnetPort);
    if (attempt.Wait(TELNET::HEADLESS_CONNECT_LIMIT_MS) != TELNETCONNECT::CONNECTED) {
      std::fprintf(stderr, "quillnet-tool: cannot connect to %s port %d\n", a.telnetHost.c_str(), a.telnetPort);
      return PE_PORT;
    }
    if (!TELNET::Start(std::make_unique<SOCKETLINE>(attempt.TakeSocket()))) {
      std::fprintf(stderr, "quillnet-tool: cannot start the telnet line\n");
      return PE_PORT;
    }
    comport = true;
  }
  if (comport) {
    // Text goes as typed text: the port drops the NULs a telnet host pads
    // with, so the echo compares with what was sent.
    if (a.protocol != PROTOCOL_TEXT) COMPORT::SetBinaryMode();
    line = std::make_unique<COMPORTLINE>();
  } else {
    auto fd = std::make_unique<FDTRANSFERLINE>(0, 1);
    if (a.noise) fd->SetNoise(a.seed);
    line = std::move(fd);
  }

  if (a.protocol == PROTOCOL_TEXT) textUpload = a.text;
  TRANSFER& t = transfer;
  t.protocol = a.protocol;
  t.opt = a.opt;
  t.line = line.get();
  ENGINEFACTORY make = upload ? UploadEngine(a.protocol) : DownloadEngine(a.protocol);
  if (!make) {
    std::fprintf(stderr, "quillnet-tool: %s cannot %s here yet\n", ProtocolDisplayName(a.protocol),
                 upload ? "send" : "receive");
    return kUsageStatus;
  }
  if (upload) {
    t.files = a.files;
    if (!t.BeginUpload()) {
      std::fprintf(stderr, "quillnet-tool: %s\n", ProtocolErrorText(t.protocolerror));
      return t.protocolerror;
    }
  } else {
    t.BeginDownload();
    if (!ProtocolNamesFile(a.protocol)) {
      if (a.files.empty()) return Usage("receive", std::string(ProtocolDisplayName(a.protocol)) + " needs a FILE");
      const OPENDOWN r = t.ProtocolOpenDownFile({}, -1, false, a.files[0]);
      if (r == OD_DECLINED || r == OD_SKIP) return 20;
      if (r == OD_FAILED) {
        std::fprintf(stderr, "quillnet-tool: %s\n", ProtocolErrorText(PE_WRITE));
        return PE_WRITE;
      }
    }
  }
  std::unique_ptr<PROTOCOLENGINE> engine = make(t);
  TICK lastShown = GetTick();
  TRANSFERLOOPHOOKS hooks;
  hooks.afterPass = [&] {
    if (gStop) t.fStopProtocol = true;
    if (a.progress && GetTick() - lastShown >= 1000) {
      lastShown = GetTick();
      const TRANSFERFIGURES f = ProtocolFigures(t.stats, t.Now(), static_cast<long long>(t.line->OutQueue()));
      std::fprintf(stderr, "%s  %s/%s  retries %s  %s  %s B/s  %s\n", t.stats.shortName.c_str(), f.processed.c_str(),
                   f.total.c_str(), f.retries.c_str(), f.time.c_str(), f.rate.empty() ? "-" : f.rate.c_str(),
                   f.estimate.c_str());
    }
  };
  if (comport) hooks.lineLost = [] { return COMPORT::GetEvent() != 0 && !COMPORT::IsReceived(); };
  RunTransferLoop(t, *engine, hooks);
  engine.reset();
  line->Drain(2000);
  const int outcome = TransferOutcome(t);
  if (outcome > 0 && outcome < PROTOCOLERROR_COUNT)
    std::fprintf(stderr, "quillnet-tool: %s\n", ProtocolErrorText(outcome));
  else if (outcome == 20)
    std::fprintf(stderr, "quillnet-tool: %s\n", t.fStopProtocol ? "stopped" : "nothing was transferred");
  t.line = nullptr;
  line.reset();
  if (comport) COMPORT::Close();
  return outcome;
}

int Command(bool upload, const std::vector<std::string>& args) {
  const char* cmd = upload ? "send" : "receive";
  ARGS a;
  a.text = TextDefaults();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (s == "--protocol") {
      if (!value(&v)) return Usage(cmd, "--protocol needs a WORD");
      a.protocol = ProtocolFromWord(v);
      if (a.protocol == PROTOCOL_NONE) return Usage(cmd, "unknown protocol: " + v);
    } else if (s == "--line") {
      if (!value(&a.line)) return Usage(cmd, "--line needs a DEVICE");
    } else if (s == "--telnet") {
      if (!value(&a.telnetHost)) return Usage(cmd, "--telnet needs a HOST");
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' &&
          args[i + 1].find_first_not_of("0123456789") == std::string::npos) {
        a.telnetPort = std::atoi(args[++i].c_str());
        if (a.telnetPort < 1 || a.telnetPort > 65535) return Usage(cmd, "bad telnet port");
      }
    } else if (s == "--dir") {
      if (!value(&a.opt.downloadDir)) return Usage(cmd, "--dir needs a DIR");
    } else if (s == "--mode") {
      if (!value(&v)) return Usage(cmd, "--mode needs a MODE");
      if (v == "overwrite") a.opt.mode = DM_OVERWRITE;
      else if (v == "append") a.opt.mode = DM_APPEND;
      else if (v == "resume") a.opt.mode = DM_RESUME;
      else if (v == "rename") a.opt.mode = DM_RENAME;
      else return Usage(cmd, "unknown mode: " + v);
    } else if (s == "--flying") {
      a.opt.flying = true;
    } else if (s == "--mask-ctrl") {
      a.opt.maskCtrl = true;
    } else if (s == "--noise" || s.rfind("--noise=", 0) == 0) {
      a.noise = true;
      if (s.size() > 8) a.seed = static_cast<std::uint32_t>(std::strtoul(s.c_str() + 8, nullptr, 10));
    } else if (s == "--timestamps") {
      a.opt.saveTimeStamp = true;
    } else if (s == "--history") {
      if (!value(&a.opt.historyDir)) return Usage(cmd, "--history needs a DIR");
    } else if (s == "--progress") {
      a.progress = true;
    } else if (s == "--debug-log") {
      if (!value(&a.debugLog)) return Usage(cmd, "--debug-log needs a FILE");
    } else if (s == "--width" || s == "--margin" || s == "--tab" || s == "--kinsoku") {
      int n = 0;
      const int hi = s == "--kinsoku" ? 1 : 999;
      if (!value(&v) || !Number(v, 0, hi, &n)) return Usage(cmd, s + " needs a number" + (hi == 1 ? " (0 or 1)" : ""));
      if (s == "--width") a.text.shape.orikaeshi = n;
      else if (s == "--margin") a.text.shape.margin = n;
      else if (s == "--tab") a.text.shape.tabToSpace = n;
      else a.text.shape.kinsoku = n != 0;
      a.textOption = true;
    } else if (s == "--zenkaku-margin") {
      a.text.shape.hankakuMargin = false;
      a.textOption = true;
    } else if (s == "--pace") {
      if (!value(&v) || v.empty()) return Usage(cmd, "--pace needs a character");
      int code = static_cast<unsigned char>(v[0]);
      if (v.size() > 1) {
        char* end = nullptr;
        const long l = std::strtol(v.c_str(), &end, 0);
        if (*end != 0 || l < 1 || l > 255) return Usage(cmd, "--pace needs one character or a code 1-255");
        code = static_cast<int>(l);
      }
      a.text.paceCharacter = static_cast<std::uint8_t>(code);
      a.textOption = true;
    } else if (s == "--collate") {
      a.text.collate = true;
      a.textOption = true;
    } else if (s == "--fast") {
      a.text.fastSend = true;
      a.textOption = true;
    } else if (s == "--") {
      a.files.insert(a.files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (!s.empty() && s[0] == '-' && s != "-") {
      return Usage(cmd, "unknown option " + s);
    } else {
      a.files.push_back(s);
    }
  }
  if (a.protocol == PROTOCOL_NONE) return Usage(cmd, "--protocol WORD is needed");
  if (a.textOption && (a.protocol != PROTOCOL_TEXT || !upload))
    return Usage(cmd, "the text options belong to send --protocol text");
  if (a.text.paceCharacter && a.text.fastSend)
    return Usage(cmd, "--pace and --fast exclude each other");
  if (a.protocol == PROTOCOL_TEXT) {
    // Word wrap, hanging punctuation and the kinsoku tables are the
    // configuration's.
    config.LoadRegistry();
    a.text.shape.wordwrap = config.Wordwrap != 0;
    a.text.shape.burasage = config.Burasage != 0;
    a.text.shape.topKinsoku = config.TopKinsoku;
    a.text.shape.bottomKinsoku = config.BottomKinsoku;
  }
  if (!a.line.empty() && !a.telnetHost.empty()) return Usage(cmd, "--line and --telnet exclude each other");
  if (upload && a.files.empty()) return Usage(cmd, "no FILE to send");
  if (!upload && a.files.size() > 1) return Usage(cmd, "at most one FILE");
  if (a.opt.mode == DM_ASK) a.opt.mode = DM_RENAME;
  if (a.opt.downloadDir.empty()) a.opt.downloadDir.assign(1, '.');
  if (!a.debugLog.empty()) {
    // The trace goes to Debug.log of a private directory, linked to FILE.
    const std::filesystem::path target = std::filesystem::absolute(a.debugLog);
    const std::string dir = target.parent_path().string();
    if (!StartDebugLogFile(dir)) return Usage(cmd, "cannot write the debug log in " + dir);
    debugLogDir = dir;
    debugLogTarget = target.string();
  }
  const int status = Run(upload, a);
  if (!debugLogTarget.empty()) {
    StopDebugLogFile();
    const std::string made = debugLogDir + "/Debug.log";
    if (made != debugLogTarget) std::rename(made.c_str(), debugLogTarget.c_str());
  }
  return status;
}

}  // namespace

int SendCommand(const std::vector<std::string>& args) { return Command(true, args); }
int ReceiveCommand(const std::vector<std::string>& args) { return Command(false, args); }
