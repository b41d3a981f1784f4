// quillnet-tool hosts and config: the host list and the settings from the
// command line, through the same code the program uses, so the file is shared
// safely with a running instance.
#include "tools/tool_hosts.h"

#include <cstdio>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"

const char* const kHostsUsage =
    "  hosts list            list the hosts: name, connection, address, menu flag\n"
    "  hosts backup FILE     write the host list backup file\n"
    "  hosts restore FILE    replace the host list from a backup file\n"
    "  hosts telnet NAME ADDRESS [PORT] [--log FILE]\n"
    "                        add a telnet host (in the host menu), or change the\n"
    "                        address and port of the one of that name; --log\n"
    "                        makes each call append to the log FILE\n"
    "  config get NAME       print a setting (numbers in decimal, text in UTF-8)\n"
    "  config set NAME VALUE change a setting (numbers in decimal or 0x hex)\n"
    "\n"
    "options of hosts and config:\n"
    "  --config-dir DIR     the settings directory (default $XDG_CONFIG_HOME/quillnet)\n";

namespace {

int Fail(const std::string& text) {
  std::fprintf(stderr, "quillnet-tool: %s\n", text.c_str());
  return 2;
}

// Takes --config-dir DIR out of args.  False on a missing directory name.
bool TakeConfigDir(std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--config-dir") continue;
    if (i + 1 >= args.size()) return false;
    SetConfigDir(args[i + 1]);
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    --i;
  }
  return true;
}

std::string Describe(const HOSTPROPERTY& p) {
  const std::string port = "port " + std::to_string(p.PortNo + 1);
  switch (p.ModemType) {
    case MODEM_TAPI: return std::string("modem\t") + jcode::SjisToUtf8(p.DialNo);
    case MODEM_DIRECT: return "serial\t" + port;
    case MODEM_TELNET: return std::string("telnet\t") + jcode::SjisToUtf8(p.PortName);
    case MODEM_AT: return "at-modem\t" + jcode::SjisToUtf8(p.DialNo) + " " + port;
  }
  return "other\t";
}

}  // namespace

int HostsCommand(std::vector<std::string> args) {
  if (!TakeConfigDir(args)) return Fail("--config-dir needs a directory");
  if (args.size() == 1 && args[0] == "list") {
    char name[256];
    for (int i = 0; HOSTINI::GetHostName(i, name, sizeof name); ++i) {
      HOSTPROPERTY p;
      p.GetRegistry(name);
      std::printf("%s\t%s\t%s\n", jcode::SjisToUtf8(name).c_str(), Describe(p).c_str(),
                  HOSTINI::IsHostInMenu(name) ? "menu" : "-");
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (args.size() == 2 && args[0] == "backup") return HOSTINI::BackupHostListWithMessage(args[1]) ? 0 : 1;
  if (args.size() == 2 && args[0] == "restore") return HOSTINI::RestoreHostListWithMessage(args[1]) ? 0 : 1;
  std::string logName;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != "--log") continue;
    logName = args[i + 1];
    if (logName.empty()) return Fail("--log needs a FILE");
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    break;
  }
  if ((args.size() == 3 || args.size() == 4) && args[0] == "telnet") {
    const std::string name = jcode::Utf8ToSjis(args[1]);
    const bool exists = HOSTINI::IsHostExist(name.c_str());
    const std::string refusal = HOSTINI::CheckHostName(name.c_str(), false);
    if (!refusal.empty()) return Fail(refusal);
    const std::string address = jcode::Utf8ToSjis(args[2]);
    const std::string port = args.size() == 4 ? args[3] : "telnet";
    HOSTPROPERTY p;
    if (!exists || !p.GetRegistry(name.c_str())) p.SetDefault();
    if (address.size() >= sizeof p.DialNo || port.size() >= sizeof p.PortName)
      return Fail("the address or the port is too long");
    std::snprintf(p.szName, sizeof p.szName, "%s", name.c_str());
    std::snprintf(p.DialNo, sizeof p.DialNo, "%s", address.c_str());
    std::snprintf(p.PortName, sizeof p.PortName, "%s", port.c_str());
    p.ModemType = MODEM_TELNET;
    if (!logName.empty()) {
      if (logName.size() >= sizeof p.LogName) return Fail("the log name is too long");
      p.LogType = 1;
      std::snprintf(p.LogName, sizeof p.LogName, "%s", logName.c_str());
    }
    if (!p.SaveRegistry()) return 1;
    if (!exists && !HOSTINI::AppendHost(name.c_str(), 1)) return 1;
    return 0;
  }
  return Fail("hosts takes list, backup FILE, restore FILE or telnet NAME ADDRESS [PORT]");
}

int ConfigCommand(std::vector<std::string> args) {
  if (!TakeConfigDir(args)) return Fail("--config-dir needs a directory");
  if (args.size() == 2 && args[0] == "get") {
    config.LoadRegistry();
    std::string value;
    if (!config.GetValue(args[1], value)) return Fail("no setting is named " + args[1]);
    std::printf("%s\n", value.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (args.size() == 3 && args[0] == "set") {
    config.LoadRegistry();
    std::string error;
    if (!config.SetValue(args[1], args[2], &error)) return Fail(error);
    return config.SaveRegistry() ? 0 : 1;
  }
  return Fail("config takes get NAME or set NAME VALUE");
}
