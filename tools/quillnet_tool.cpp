// quillnet-tool: the command-line companion of Quillnet.
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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/atomicfile.h"
#include "platform/fdline.h"
#include "platform/tick.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "shell/hostprop.h"
#include "tools/tool_hosts.h"

namespace {

const char* const kUsage =
    "usage: quillnet-tool COMMAND [options]\n"
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
    "            (quillnet-tool stock with no arguments lists them)\n"
    "  feed      push standard input through the terminal's receive path into\n"
    "            a stock (and a log), as if a host had sent it\n"
    "            (quillnet-tool feed with no arguments explains it)\n"
    "\n"
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
    "\n"
    "  --help           show this text\n"
    "\n"
    "settings and hosts:\n";

int Usage(const char* complaint) {
  if (complaint) std::fprintf(stderr, "quillnet-tool: %s\n\n", complaint);
  std::fputs(kUsage, complaint ? stderr : stdout);
  std::fputs(kHostsUsage, complaint ? stderr : stdout);
  return complaint ? 2 : 0;
}

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
  if (const char* e = ParseLineOptions(args, lo)) return Usage(e);
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
  if (const char* e = ParseLineOptions(args, lo)) return Usage(e);
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
// tools/tool_feed.cpp
int FeedCommand(const std::vector<std::string>& args);

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  const std::string cmd = args[0];
  args.erase(args.begin());
  for (auto& a : args)
    if (a == "--help") return Usage(nullptr);
  static ui::RecordingFacade quiet(true);  // messages go to standard error
  ui::SetFacade(&quiet);
  if (cmd == "--help" || cmd == "help") return Usage(nullptr);
  if (cmd == "decode") return Decode(args);
  if (cmd == "encode") return Encode(args);
  if (cmd == "hosts") return HostsCommand(args);
  if (cmd == "config") return ConfigCommand(args);
  if (cmd == "stock") return StockCommand(args);
  if (cmd == "feed") return FeedCommand(args);
  return Usage(("unknown command " + cmd).c_str());
}
