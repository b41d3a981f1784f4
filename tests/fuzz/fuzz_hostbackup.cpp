// Fuzzes the host list backup reader: any file is either refused with a line
// number inside it (plus the end-of-file line), leaving the list alone, or
// restored; a restored list backs up to a file that restores to itself.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/hostini.h"
#include "shell/registry.h"

namespace {
std::string dir;

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (dir.empty()) {
    // Memory-backed when possible: every restore syncs the settings file.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/quillnet-fuzz-hosts-XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
    std::atexit([] { std::filesystem::remove_all(dir); });
    SetConfigDir(dir);
    static ui::RecordingFacade quiet(false);
    ui::SetFacade(&quiet);
  }
  REGISTRY::ResetForTest();
  const std::string in = dir + "/in.lst", out = dir + "/out.lst", again = dir + "/again.lst";
  Write(in, data, size);
  const std::string before = Read(REGISTRY::FilePath());
  if (!HOSTINI::RestoreHostList(in)) {
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    if (HOSTINI::nErrorLine < 1 || static_cast<size_t>(HOSTINI::nErrorLine) > lines + 1) std::abort();
    if (Read(REGISTRY::FilePath()) != before) std::abort();
    return 0;
  }
  if (!HOSTINI::BackupHostList(out)) std::abort();
  const std::string first = Read(out);
  if (!HOSTINI::RestoreHostList(out)) std::abort();
  if (!HOSTINI::BackupHostList(again)) std::abort();
  if (Read(again) != first) std::abort();
  return 0;
}
