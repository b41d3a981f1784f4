// quillnet-tool hosts and config: the host list and the settings from the
// command line, through the same code the program uses, so the file is shared
// safely with a running instance.
#include "tools/tool_hosts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "shell/config.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "tools/tool_complain.h"

const char* const kHostsCommands =
    "  hosts list            list the hosts: name, connection, address (ADDRESS:PORT\n"
    "                        for telnet), menu flag\n"
    "  hosts backup FILE [--force]\n"
    "                        write the host list backup file (an existing FILE\n"
    "                        only with --force)\n"
    "  hosts restore FILE    replace the host list from a backup file\n"
    "  hosts telnet NAME ADDRESS [PORT] [--log FILE] [--script FILE]\n"
    "                        add a telnet host (in the host menu), or change the\n"
    "                        address and port of the one of that name; ADDRESS may\n"
    "                        be HOST:PORT, [IPV6]:PORT or telnet://HOST:PORT/; PORT\n"
    "                        is 1-65535 or a service name (default telnet); --log\n"
    "                        makes each call append to the log FILE; --script runs\n"
    "                        the script FILE when a call is up (a relative name is\n"
    "                        looked for in the program's directory, then ScriptPath)\n";

const char* const kConfigCommands =
    "  config get NAME       print a setting (numbers in decimal, text in UTF-8)\n"
    "  config set NAME VALUE change a setting (numbers in decimal or 0x hex); a value\n"
    "                        outside the setting's range is refused\n";

const char* const kHostsUsage =
    "usage: quillnet-tool [--config-dir DIR] hosts list\n"
    "       quillnet-tool [--config-dir DIR] hosts backup FILE [--force]\n"
    "       quillnet-tool [--config-dir DIR] hosts restore FILE\n"
    "       quillnet-tool [--config-dir DIR] hosts telnet NAME ADDRESS [PORT] [--log FILE] [--script FILE]\n"
    "\n";

const char* const kConfigUsage =
    "usage: quillnet-tool [--config-dir DIR] config get NAME\n"
    "       quillnet-tool [--config-dir DIR] config set NAME VALUE\n"
    "\n";

namespace {

int Fail(const std::string& text) {
  std::fprintf(stderr, "quillnet-tool: %s\n", text.c_str());
  return 2;
}

std::string Describe(const HOSTPROPERTY& p) {
  const std::string port = "port " + std::to_string(p.PortNo + 1);
  switch (p.ModemType) {
    case MODEM_TAPI: return std::string("modem\t") + jcode::SjisToUtf8(p.DialNo);
    case MODEM_DIRECT: return "serial\t" + port;
    case MODEM_TELNET: return "telnet\t" + jcode::SjisToUtf8(TelnetAddressText(p.DialNo, p.PortName));
    case MODEM_AT: return "at-modem\t" + jcode::SjisToUtf8(p.DialNo) + " " + port;
  }
  return "other\t";
}

// Why `path` cannot be read as a file ("cannot open FILE: reason"), or
// empty when it can.
std::string CannotOpen(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  if (fd >= 0) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) err = EISDIR;
    close(fd);
  }
  return err ? "cannot open " + path + ": " + std::strerror(err) : std::string();
}

}  // namespace

int HostsCommand(std::vector<std::string> args) {
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i)
    if (args[i] == "--force") {
      force = true;
      args.erase(args.begin() + static_cast<long>(i));
      break;
    }
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
  if (args.size() == 2 && args[0] == "backup") {
    struct stat st {};
    if (!force && lstat(args[1].c_str(), &st) == 0)
      return Fail(args[1] + " already exists; use --force to replace it");
    return HOSTINI::BackupHostListWithMessage(args[1]) ? 0 : 1;
  }
  if (force) return Fail("--force goes with hosts backup only");
  if (args.size() == 2 && args[0] == "restore") {
    if (const std::string why = CannotOpen(args[1]); !why.empty()) return Fail(why);
    return HOSTINI::RestoreHostListWithMessage(args[1]) ? 0 : 1;
  }
  std::string logName;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] != "--log") continue;
    logName = args[i + 1];
    if (logName.empty()) return Fail("--log needs a FILE");
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    break;
  }
  std::string scriptName;
  bool hasScript = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--script") continue;
    if (i + 1 >= args.size() || args[i + 1].empty()) return Fail("--script needs a FILE");
    scriptName = args[i + 1];
    hasScript = true;
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    break;
  }
  if ((args.size() == 3 || args.size() == 4) && args[0] == "telnet") {
    const std::string name = jcode::Utf8ToSjis(args[1]);
    HOSTPROPERTY p;
    const bool exists = HOSTINI::IsHostExist(name.c_str());
    const std::string refusal = HOSTINI::CheckHostName(name.c_str(), false);
    if (!refusal.empty()) return Fail(refusal);
    std::string address, port, why;
    if (!SplitTelnetAddress(jcode::Utf8ToSjis(args[2]), &address, &port, &why))
      return Fail("cannot use the address " + args[2] + ": " + why);
    if (args.size() == 4) {
      if (!port.empty()) return Fail("the port is given twice: in " + args[2] + " and as " + args[3]);
      port = args[3];
    }
    if (port.empty()) port = "telnet";
    if (TelnetPortNumber(port) == 0)
      return Fail("the port " + port + " is neither a number from 1 to 65535 nor a known TCP service");
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
    if (hasScript) {
      if (scriptName.size() >= sizeof p.ScriptFile) return Fail("the script name is too long");
      std::snprintf(p.ScriptFile, sizeof p.ScriptFile, "%s", scriptName.c_str());
    }
    if (!p.SaveRegistry()) return 1;
    if (!exists && !HOSTINI::AppendHost(name.c_str(), 1)) return 1;
    return 0;
  }
  if (!args.empty() && args[0] != "list" && args[0] != "backup" && args[0] != "restore" && args[0] != "telnet")
    return Complain("hosts", "unknown hosts command: " + args[0]);
  return Complain("hosts", "wrong arguments for hosts " + (args.empty() ? std::string() : args[0]));
}

int ConfigCommand(std::vector<std::string> args) {
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
  if (!args.empty() && args[0] != "get" && args[0] != "set")
    return Complain("config", "unknown config command: " + args[0]);
  return Complain("config", "wrong arguments for config " + (args.empty() ? std::string() : args[0]));
}
