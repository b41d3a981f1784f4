#include "shell/startup.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "platform/paths.h"
#include "shell/config.h"
#include "shell/online.h"
#include "stock/stock.h"

const char* const kFirstStockName = "quillnet.stk";

const char* const kUsage =
    "usage: quillnet [options] [switches] [HOST...] [options]\n"
    "       quillnet [options] telnet://HOST[:PORT][/]\n"
    "\n"
    "  Starts the terminal and calls the first HOST of the host list that\n"
    "  connects (a name with spaces in quotes).  A telnet://HOST[:PORT] URL\n"
    "  instead of a name calls that address without registering it.\n"
    "\n"
    "options (anywhere before \"--\", also after the host names):\n"
    "  -h, --help         show this text and exit\n"
    "  --version          show the version and the licence and exit\n"
    "  --headless         run without a window: received lines go to standard\n"
    "                     output as UTF-8, questions to standard error with their\n"
    "                     default answers; exits when the call ends (with /s:\n"
    "                     when the script ends: 0, 1 not started, 3 an error)\n"
    "  --exit-after-call  with a window too: exit when the call ends (0), or when\n"
    "                     no host could be called (1)\n"
    "  --config-dir DIR   settings and host list in DIR\n"
    "                     (default $XDG_CONFIG_HOME/quillnet)\n"
    "  --data-dir DIR     stock, logs and downloads in DIR\n"
    "                     (default $XDG_DATA_HOME/quillnet)\n"
    "  --create-ini       write the settings' mirror file Quillnet.ini, print its\n"
    "                     path and exit (also \"!!\" at the start of the line)\n"
    "  --                 what follows is host names only\n"
    "switches (\"/x\" or \"-x\", before the first host name):\n"
    "  /*   add a changing digit to every dialled number (redial protection)\n"
    "  /e   even parity on the line\n"
    "  /3   older look (no client edge)\n"
    "  /d   write a debug log (Debug.log in the data directory)\n"
    "  /t   connect telnet hosts without the connecting window\n"
    "  /s SCRIPT   run SCRIPT once the program is up (takes the rest of the line;\n"
    "              a relative name: the start directory, then ScriptPath)\n";

namespace {

bool HasSpace(const std::string& s) {
  for (char c : s)
    if (c == ' ' || c == '\t') return true;
  return false;
}

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

}  // namespace

std::string QuoteHostName(const std::string& word) {
  return HasSpace(word) || word.empty() ? "\"" + word + "\"" : word;
}

STARTUPOPTIONS ParseCommandLine(const std::vector<std::string>& args) {
  STARTUPOPTIONS o;
  size_t i = 0;
  if (!args.empty() && args[0].rfind("!!", 0) == 0) {
    o.createIni = true;
    return o;
  }
  // A long option at args[i]: true when it was one (a value it takes is
  // consumed; a fault lands in o.error).
  auto longOption = [&](const std::string& a) {
    auto longValue = [&](const char* name, std::string* out) {
      const std::string n = name;
      if (a == n) {
        if (i + 1 >= args.size()) {
          o.error = n + " needs a directory";
          return true;
        }
        *out = args[++i];
        return true;
      }
      if (a.rfind(n + "=", 0) == 0) {
        *out = a.substr(n.size() + 1);
        if (out->empty()) o.error = n + " needs a directory";
        return true;
      }
      return false;
    };
    if (a.rfind("--", 0) != 0 || a == "--") return false;
    if (a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--exit-after-call") {
      o.exitAfterCall = true;
    } else if (a == "--create-ini") {
      o.createIni = true;
    } else if (!longValue("--config-dir", &o.configDir) && !longValue("--data-dir", &o.dataDir)) {
      o.error = "unknown option " + a;
    }
    return true;
  };
  bool ended = false;  // "--" was seen
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      ++i;
      ended = true;
      break;
    }
    if (longOption(a)) {
      if (!o.error.empty()) return o;
    } else if (a.size() >= 2 && (a[0] == '/' || a[0] == '-') && (a.size() == 2 || a[0] == '-')) {
      // One letter after the mark; "-" words longer than that are refused
      // rather than taken for host names.
      if (a.size() != 2) {
        o.error = "unknown switch " + a;
        return o;
      }
      switch (a[1]) {
        case 'h': o.help = true; break;
        case '*': o.antiRedialProtect = true; break;
        case 'e': case 'E': o.evenParity = true; break;
        case '3': o.oldShell = true; break;
        case 'd': case 'D': o.debugLog = true; break;
        case 't': case 'T': o.syncTelnet = true; break;
        case 's': case 'S': {
          // The rest of the line, after spaces, is the script's name.
          std::string rest;
          for (size_t k = i + 1; k < args.size(); ++k) {
            if (!rest.empty()) rest += ' ';
            rest += args[k];
          }
          o.hasScript = true;
          o.script = TrimLeft(rest);
          return o;
        }
        default:
          o.error = "unknown switch " + a;
          return o;
      }
    } else {
      break;
    }
  }
  // The host names.  Long options still count among them until "--";
  // switches do not (a host may be called "-e").
  for (; i < args.size(); ++i) {
    if (!ended) {
      if (args[i] == "--") {
        ended = true;
        continue;
      }
      if (longOption(args[i])) {
        if (!o.error.empty()) return o;
        continue;
      }
    }
    if (!o.hostLine.empty()) o.hostLine += ' ';
    o.hostLine += QuoteHostName(args[i]);
  }
  return o;
}

bool FeedCmdLine(std::string& line, std::string* name) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i == line.size()) {
    line.clear();
    return false;
  }
  size_t end;
  if (line[i] == '"') {
    end = line.find('"', i + 1);
    if (end == std::string::npos) end = line.size();
    *name = line.substr(i + 1, end - i - 1);
    if (end < line.size()) ++end;
  } else {
    end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    *name = line.substr(i, end - i);
  }
  line.erase(0, end);
  return true;
}

bool UseDefaultFramePosition(int x, int y, int cx, int cy, int cxScreen, int cyScreen) {
  if (cx <= 0 || cy <= 0) return true;
  if (x <= 0 && y <= 0 && cx >= cxScreen && cy >= cyScreen) return true;
  const int kBeyond = 20;
  return x >= cxScreen + kBeyond || y >= cyScreen + kBeyond || x + cx <= -kBeyond || y + cy <= -kBeyond;
}

namespace {

bool AnyStockInDirectory() {
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir("."), closedir);
  if (!d) return false;
  while (dirent* e = readdir(d.get())) {
    std::string n = e->d_name;
    if (n.size() < 5) continue;
    std::string ext = n.substr(n.size() - 4);
    for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".stk") return true;
  }
  return false;
}

}  // namespace

int OpenStartupStock(bool* created) {
  if (created) *created = false;
  const std::string named = config.StockFile;
  STOCK::StockFile2 = config.StockFile2;
  if (!named.empty() && !STOCK::IsOtherQuillnetSharing(named)) {
    struct stat st {};
    const bool exists = stat(named.c_str(), &st) == 0;
    if (exists && STOCK::Open(named)) {
      STOCK::StockFile = named;
      STOCK::CheckOpeningTimeStamp();
      return 1;
    }
  }
  const bool nothingYet = named.empty() && STOCK::StockFile2.empty() && !AnyStockInDirectory();
  if (nothingYet) {
    if (STOCK::Create(kFirstStockName, kFirstStockLines, 80, 0, 0, 0)) {
      STOCK::StockFile = kFirstStockName;
      StockNamesToSettings();
      if (created) *created = true;
      return 1;
    }
  }
  const int ok = OpenAnyStockFile();
  if (ok) STOCK::CheckOpeningTimeStamp();
  StockNamesToSettings();
  return ok;
}

namespace {

struct HOSTDIALER : std::enable_shared_from_this<HOSTDIALER> {
  std::string line;
  std::function<int(const std::string&)> dial;
  std::function<void(bool)> done;

  void Next(bool first) {
    std::string name;
    if (!FeedCmdLine(line, &name)) {
      done(false);
      return;
    }
    auto self = shared_from_this();
    auto attempt = [self, name] {
      if (self->dial(name)) {
        self->done(true);
        return;
      }
      self->Next(false);
    };
    if (first) {
      attempt();
    } else if (QCoreApplication::instance()) {
      QTimer::singleShot(1000, QCoreApplication::instance(), attempt);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      attempt();
    }
  }
};

}  // namespace

void DialHostLine(const std::string& line, std::function<int(const std::string&)> dial,
                  std::function<void(bool connected)> done) {
  auto d = std::make_shared<HOSTDIALER>();
  d->line = line;
  d->dial = std::move(dial);
  d->done = std::move(done);
  d->Next(true);
}
