// quillnet-tool: the command-line companion of Quillnet.
//
//   quillnet-tool [--config-dir DIR] [--data-dir DIR] COMMAND [options]
//
// The directory options count before or after the command's name;
// COMMAND --help prints that command's usage (status 0); a command that needs
// arguments and got none prints its usage to standard error (status 2); every
// complaint is one line starting "quillnet-tool:" (status 2).
//
//   quillnet-tool decode [options]   host bytes (stdin) -> Shift_JIS (stdout)
//   quillnet-tool encode [options]   Shift_JIS (stdin) -> host bytes (stdout)
//
// Both run the bytes through the port itself: the line is standard input and
// output lent to COMPORT, so what comes out is exactly what the terminal would
// receive or what would go on the line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/fdline.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/hostprop.h"
#include "tools/tool_complain.h"
#include "tools/tool_hosts.h"

namespace {

const char* const kUsage =
    "usage: quillnet-tool [--config-dir DIR] [--data-dir DIR] COMMAND [options]\n"
    "       quillnet-tool COMMAND --help\n"
    "\n"
    "commands:\n"
    "  decode    read bytes as a host sends them from standard input and write\n"
    "            what the terminal receives (Shift_JIS) to standard output:\n"
    "            NUL removal, the 7-bit rule, an LF after every CR for CR-only\n"
    "            hosts, and JIS/EUC/NEC to Shift_JIS\n"
    "  encode    read Shift_JIS text from standard input and write it as the\n"
    "            text send path puts it on the line: the host's code with its\n"
    "            shift sequences, SO/SI kana on 7-bit lines, CR LF, IAC doubling\n"
    "  stock     create, inspect, export and append to stock files\n"
    "  feed      push standard input through the terminal's receive path into\n"
    "            a stock (and a log), as if a host had sent it\n"
    "  hosts     list, back up, restore and add hosts\n"
    "  config    read and change settings\n"
    "  tag       read, write and check colour syntax files\n"
    "  script    check a script file, or list what it compiles to\n"
    "  send      send files over the line with a transfer protocol\n"
    "  receive   receive files over the line with a transfer protocol\n"
    "  vars      list and change the scripts' permanent variables\n"
    "\n";

const char* const kLineOptions =
    "options of decode and encode:\n"
    "  --kanji-code N   the host's code: 0 Shift_JIS (default), 1 JIS (ESC $ B),\n"
    "                   2 old JIS (ESC $ @), 3 NEC (ESC K), 4 EUC\n"
    "  --auto-jis-euc   accept JIS escapes whatever the code, and EUC bytes\n"
    "                   unless the code is 0 (Shift_JIS bytes stay as they are)\n"
    "  --7bit           strip received bytes to 7 bits; send half-width kana\n"
    "                   with SO/SI\n"
    "  --cr-only        the host ends lines with CR alone: add LF after CR\n"
    "  --send-crlf      send CR LF for every CR\n"
    "  --socket         the line is a telnet socket: 0xFF goes out doubled\n"
    "\n";

const char* const kGlobalOptions =
    "options of every command (before or after the command's name):\n"
    "  --config-dir DIR  the settings directory (default $XDG_CONFIG_HOME/quillnet)\n"
    "  --data-dir DIR    the data directory (default $XDG_DATA_HOME/quillnet)\n"
    "  -h, --help        show the usage (of the command, after its name) and exit\n";

// The general usage: to standard output for --help (status 0), to standard
// error without a command (status 2).
int Usage(FILE* out) {
  std::fputs(kUsage, out);
  std::fputs(kLineOptions, out);
  std::fputs("settings and hosts:\n", out);
  std::fputs(kHostsCommands, out);
  std::fputs(kConfigCommands, out);
  std::fputs("\n", out);
  std::fputs(kGlobalOptions, out);
  return out == stderr ? 2 : 0;
}

// Message boxes of the shared code, as lines on standard error in the
// tool's own voice.
class ToolFacade : public ui::RecordingFacade {
 public:
  ToolFacade() : RecordingFacade(false) {}
  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
    std::fprintf(stderr, "quillnet-tool: %s\n", text.c_str());
    return RecordingFacade::MessageBox(text, caption, style);
  }
};

struct LineOptions {
  bool socket = false;
};

// Parses the options shared by decode and encode into hostprop.  Returns an
// error text, or null.
const char* ParseLineOptions(const std::vector<std::string>& args, LineOptions& line) {
  hostprop.SetDefault();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--kanji-code") {
      if (i + 1 >= args.size()) return "--kanji-code needs a number from 0 to 4";
      const std::string& v = args[++i];
      if (v.size() != 1 || v[0] < '0' || v[0] > '4') return "--kanji-code needs a number from 0 to 4";
      hostprop.KanjiCode = v[0] - '0';
    } else if (a == "--auto-jis-euc") {
      hostprop.AutoJisEuc = 1;
    } else if (a == "--7bit") {
      hostprop.SevenBit = 1;
    } else if (a == "--cr-only") {
      hostprop.ReceiveCROnly = 1;
    } else if (a == "--send-crlf") {
      hostprop.SendCRLF = 1;
    } else if (a == "--socket") {
      line.socket = true;
    } else {
      static std::string complaint;
      complaint = "unknown option " + a;
      return complaint.c_str();
    }
  }
  return nullptr;
}

int Decode(const std::vector<std::string>& args) {
  LineOptions lo;
  if (const char* e = ParseLineOptions(args, lo)) return Complain("decode", e);
  FDLINE::Options opt;
  opt.socket = lo.socket;
  opt.ownFds = false;
  opt.readChunk = 65536;
  opt.holdLimit = 1 << 20;
  // The line's write side is unused; /dev/null keeps it harmless.
  int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (!COMPORT::Start(std::make_unique<FDLINE>(0, devnull, opt))) {
    std::fprintf(stderr, "quillnet-tool: cannot start the line\n");
    return 1;
  }
  std::vector<char> out(8192);
  int status = 0;
  for (;;) {
    COMPORT::DoReceive();
    size_t n = COMPORT::GetBlock(out.data(), out.size());
    if (n > 0) {
      if (!WriteAll(1, out.data(), n)) {
        status = 1;
        break;
      }
      continue;
    }
    // Nothing queued: finished once the input has ended and the reader holds
    // nothing more; otherwise wait for it.
    if (COMPORT::GetEvent() && COMPORT::GetInQueueCount() == 0) {
      COMPORT::DoReceive();
      if (!COMPORT::IsReceived()) break;
      continue;
    }
    COMPORT::WaitReceive(100);
  }
  COMPORT::Close();
  close(devnull);
  return status;
}

int Encode(const std::vector<std::string>& args) {
  LineOptions lo;
  if (const char* e = ParseLineOptions(args, lo)) return Complain("encode", e);
  // The line reads from a pipe that never carries anything and writes to
  // standard output; the text is read here and handed to Send byte by byte.
  int idle[2];
  if (pipe(idle) != 0) return 1;
  FDLINE::Options opt;
  opt.socket = lo.socket;
  opt.ownFds = false;
  if (!COMPORT::Start(std::make_unique<FDLINE>(idle[0], 1, opt))) {
    std::fprintf(stderr, "quillnet-tool: cannot start the line\n");
    return 1;
  }
  // Keep well below the writer buffer so that no byte is ever refused: a
  // doubled byte, a shift sequence and CR LF together stay under 16 bytes.
  auto waitForRoom = [] {
    while (COMPORT::GetOutQueueCount() > COMPORT::WRITE_BUFFER - 16) {
      COMPORT::CheckWriteThread();
      SleepMs(1);
    }
  };
  std::vector<char> in(65536);
  int status = 0;
  for (;;) {
    ssize_t r = read(0, in.data(), in.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      status = 1;
      break;
    }
    if (r == 0) break;
    for (ssize_t i = 0; i < r; ++i) {
      waitForRoom();
      COMPORT::Send(in[static_cast<size_t>(i)]);
    }
    COMPORT::CheckWriteThread();
  }
  // Let the writer finish before the line closes.
  TICK start = GetTick();
  while (COMPORT::GetOutQueueCount() > 0 && GetTick() - start < 30000) {
    COMPORT::CheckWriteThread();
    SleepMs(1);
  }
  if (COMPORT::GetOutQueueCount() > 0) status = 1;
  COMPORT::Close();
  close(idle[0]);
  close(idle[1]);
  return status;
}

}  // namespace

// tools/tool_stock.cpp
int StockCommand(const std::vector<std::string>& args);
extern const char* const kStockUsage;
// tools/tool_feed.cpp
int FeedCommand(const std::vector<std::string>& args);
extern const char* const kFeedUsage;
// tools/tool_tag.cpp
int TagCommand(const std::vector<std::string>& args);
extern const char* const kTagUsage;
// tools/tool_script.cpp
int ScriptCommand(const std::vector<std::string>& args);
extern const char* const kScriptUsage;
// tools/tool_transfer.cpp
int SendCommand(const std::vector<std::string>& args);
int ReceiveCommand(const std::vector<std::string>& args);
extern const char* const kSendUsage;
extern const char* const kReceiveUsage;
extern const char* const kTransferOptions;
// tools/tool_vars.cpp
int VarsCommand(const std::vector<std::string>& args);
extern const char* const kVarsUsage;

namespace {

struct COMMAND {
  const char* name;
  std::function<int(std::vector<std::string>)> run;
  std::function<void(FILE*)> usage;
  bool needsArguments;  // with none, the usage goes to standard error (status 2)
};

const std::vector<COMMAND>& Commands() {
  auto lineUsage = [](const char* name) {
    return [name](FILE* out) {
      std::fprintf(out, "usage: quillnet-tool %s [options] < INPUT > OUTPUT\n\n", name);
      std::fputs(kLineOptions, out);
      std::fputs(kGlobalOptions, out);
    };
  };
  auto text = [](const char* usage, const char* commands) {
    return [usage, commands](FILE* out) {
      std::fputs(usage, out);
      if (commands) {
        std::fputs(commands, out);
        std::fputs("\n", out);
      }
      std::fputs(kGlobalOptions, out);
    };
  };
  static const std::vector<COMMAND> commands = {
      {"decode", [](std::vector<std::string> a) { return Decode(a); }, lineUsage("decode"), false},
      {"encode", [](std::vector<std::string> a) { return Encode(a); }, lineUsage("encode"), false},
      {"stock", [](std::vector<std::string> a) { return StockCommand(a); }, text(kStockUsage, nullptr), true},
      {"feed", [](std::vector<std::string> a) { return FeedCommand(a); }, text(kFeedUsage, nullptr), true},
      {"hosts", [](std::vector<std::string> a) { return HostsCommand(std::move(a)); }, text(kHostsUsage, kHostsCommands),
       true},
      {"config", [](std::vector<std::string> a) { return ConfigCommand(std::move(a)); },
       text(kConfigUsage, kConfigCommands), true},
      {"tag", [](std::vector<std::string> a) { return TagCommand(a); }, text(kTagUsage, nullptr), true},
      {"script", [](std::vector<std::string> a) { return ScriptCommand(a); }, text(kScriptUsage, nullptr), true},
      {"send", [](std::vector<std::string> a) { return SendCommand(a); }, text(kSendUsage, kTransferOptions), true},
      {"receive", [](std::vector<std::string> a) { return ReceiveCommand(a); }, text(kReceiveUsage, kTransferOptions),
       true},
      {"vars", [](std::vector<std::string> a) { return VarsCommand(a); }, text(kVarsUsage, nullptr), true},
  };
  return commands;
}

// Takes --config-dir and --data-dir (with the directory as the next word or
// after "=") out of args, wherever they stand before a "--".  Returns a
// complaint, or empty.
std::string TakeDirectories(std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") break;
    for (const char* option : {"--config-dir", "--data-dir"}) {
      const std::string o = option;
      std::string dir;
      size_t words;
      if (args[i] == o) {
        if (i + 1 >= args.size() || args[i + 1].empty()) return o + " needs a directory";
        dir = args[i + 1];
        words = 2;
      } else if (args[i].rfind(o + "=", 0) == 0) {
        dir = args[i].substr(o.size() + 1);
        if (dir.empty()) return o + " needs a directory";
        words = 1;
      } else {
        continue;
      }
      dir = std::filesystem::absolute(dir).string();
      if (o == "--config-dir")
        SetConfigDir(dir);
      else
        SetDataDir(dir);
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i + words));
      --i;
      break;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (const std::string e = TakeDirectories(args); !e.empty()) return Complain("", e);
  if (args.empty()) return Usage(stderr);  // no command: the usage, status 2
  const std::string cmd = args[0];
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") return Usage(stdout);
  static ToolFacade quiet;  // messages go to standard error
  ui::SetFacade(&quiet);
  for (const COMMAND& c : Commands()) {
    if (cmd != c.name) continue;
    for (const std::string& a : args) {
      if (a == "--") break;
      if (a == "--help" || a == "-h") {
        c.usage(stdout);
        return 0;
      }
    }
    if (args.empty() && c.needsArguments) {
      c.usage(stderr);
      return 2;
    }
    return c.run(std::move(args));
  }
  if (cmd.rfind("-", 0) == 0) return Complain("", "unknown option " + cmd);
  return Complain("", "unknown command: " + cmd);
}
