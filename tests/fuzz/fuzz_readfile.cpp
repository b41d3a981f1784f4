// Fuzzes the script's line reader: the input is a file's bytes, copied line
// by line with READFILE and WRITEFILE in a temporary directory.  Every line
// written must hold at most 1024 bytes and no CR, LF or Ctrl-Z, and the lines
// joined must be the input before its first Ctrl-Z without its CR and LF
// bytes: nothing lost, nothing added.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "script/filecmds.h"
#include "script/script.h"
#include "script/var.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  char tmpl[] = "/tmp/quillnet-fuzz-readfile-XXXXXX";
  if (!::mkdtemp(tmpl)) return 0;
  const std::string dir = tmpl;
  {
    std::ofstream f(dir + "/in.txt", std::ios::binary);
    f.write(in.data(), static_cast<std::streamsize>(in.size()));
  }
  SCRIPT::Reset();
  VAR::Reset();
  TICK now = 1000;
  SCRIPT::tickSource = [&now] { return now += 1; };
  SCRIPT::hooks.reportError = [](const SCRIPTERROR&) { std::abort(); };
  SCRIPT::hooks.askYes = [](const std::string&) { return false; };
  const std::string script = "chdir \"" + dir +
                             "\"\nopenfile \"in.txt\"\ncreatefile \"out.txt\"\nreadfile \"in.txt\", @l\n"
                             "while (result = 1)\nwritefile \"out.txt\", @l\nreadfile \"in.txt\", @l\nendwhile\n";
  if (!SCRIPT::ExecuteFromMemory(script)) std::abort();
  for (int pass = 0; pass < 100000 && SCRIPT::fExecuting; ++pass) SCRIPT::Process();
  if (SCRIPT::fExecuting || SCRIPTFILE::OpenCount() != 0) std::abort();
  std::stringstream out;
  out << std::ifstream(dir + "/out.txt", std::ios::binary).rdbuf();
  const std::string o = out.str();
  std::string joined;
  for (size_t at = 0; at < o.size();) {
    const size_t end = o.find("\r\n", at);
    if (end == std::string::npos) std::abort();
    const std::string line = o.substr(at, end - at);
    if (line.size() > SCRIPTFILE::MAX_LINE || line.find_first_of(std::string("\r\n\x1a", 3)) != std::string::npos)
      std::abort();
    joined += line;
    at = end + 2;
  }
  std::string want;
  for (char c : in.substr(0, in.find('\x1a')))
    if (c != '\r' && c != '\n') want += c;
  if (joined != want) std::abort();
  SCRIPT::Reset();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
