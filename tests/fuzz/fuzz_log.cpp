// Fuzzes the log: arbitrary received bytes go through Put into a real file,
// raw or plain, in any opening mode, with the cache written at an interval the
// input chooses.  Checked each time: the earlier session's text is still at
// the front of the file; the file is exactly cbFile bytes after every write;
// the cache stays bounded; a raw log holds the input less Ctrl+Z and doubled
// CRs; a plain log holds no escape or control byte and only whole CR LF pairs,
// and no byte of input yields more than a screen line of padding.  The same
// input given in runs (Put with a pointer and a length, split at points the
// input decides) gives the same file.
//
// Input layout: [flags] [flush interval] [columns] then the stream.
// flags bit 0: plain log; bits 1-2: append, overwrite, backups (10), backups (3).
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/atomicfile.h"
#include "platform/ui.h"
#include "terminal/log.h"

namespace {

const char kEarlier[] = "earlier session\r\n";

char dirName[] = "/tmp/quillnet-fuzz-log-XXXXXX";

void RemoveDir() {
  std::error_code ec;
  std::filesystem::remove_all(dirName, ec);
}

// A directory for the run, removed at exit.
std::string Dir() {
  static bool made = [] {
    if (!mkdtemp(dirName)) std::abort();
    std::atexit(RemoveDir);
    return true;
  }();
  (void)made;
  return dirName;
}

void WriteFile(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) std::abort();
}

off_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void CheckWritten(const std::string& path) {
  if (LOG::IsRunning() && SizeOf(path) != LOG::cbFile) std::abort();
  if (LOG::cache.size() > static_cast<size_t>(LOG::kCacheFlushSize + LOG::kCacheStart)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const int kModes[] = {LOGOPEN_APPEND, LOGOPEN_OVERWRITE, LOGOPEN_BACKUP, 3};
  const int textLog = data[0] & 1;
  const int mode = kModes[(data[0] >> 1) & 3];
  const size_t interval = data[1];
  const int columns = 1 + data[2] % 250;
  const std::string input(reinterpret_cast<const char*>(data) + 3, size - 3);

  ui::RecordingFacade facade(false);
  ui::SetFacade(&facade);
  LOG::ResetForTest();
  LOG::hooks.columns = [columns] { return columns; };

  const std::string path = Dir() + "/f.log";
  for (int k = 1; k <= 9; ++k) unlink(LOG::BackupName(path, k).c_str());
  std::string earlier = kEarlier;
  WriteFile(path, earlier);
  if (!LOG::Start(path.c_str(), mode, LOG::kNoLimit, textLog)) std::abort();
  CheckWritten(path);

  for (size_t i = 0; i < input.size(); ++i) {
    LOG::Put(input[i]);
    if (interval && i % interval == interval - 1) {
      LOG::FlushCache();
      CheckWritten(path);
    }
  }
  LOG::FlushCache();
  CheckWritten(path);
  LOG::End();
  if (!facade.boxes.empty()) std::abort();  // nothing here may fail
  ui::SetFacade(nullptr);

  // The same input again into a second file, in runs through Put(p, n) split
  // where a generator seeded by the input says: the file must be the same.
  const std::string runsPath = Dir() + "/g.log";
  for (int k = 1; k <= 9; ++k) unlink(LOG::BackupName(runsPath, k).c_str());
  WriteFile(runsPath, earlier);
  ui::SetFacade(&facade);
  if (!LOG::Start(runsPath.c_str(), mode, LOG::kNoLimit, textLog)) std::abort();
  uint32_t seed = 2166136261u;
  for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
  for (size_t i = 0; i < input.size();) {
    seed = seed * 1103515245u + 12345u;
    const size_t pick = (seed >> 8) % 4;
    size_t n = pick == 0 ? 1 : pick == 1 ? 1 + (seed >> 12) % 8 : 1 + (seed >> 12) % 4096;
    n = std::min(n, input.size() - i);
    LOG::Put(input.data() + i, n);
    i += n;
    if (interval && (i / interval) != ((i - n) / interval)) {
      LOG::FlushCache();
      CheckWritten(runsPath);
    }
  }
  LOG::End();
  if (!facade.boxes.empty()) std::abort();
  ui::SetFacade(nullptr);

  std::string file;
  if (!ReadFileBytes(path, file)) std::abort();
  std::string runsFile;
  if (!ReadFileBytes(runsPath, runsFile) || runsFile != file) std::abort();
  std::string before = mode == LOGOPEN_APPEND ? earlier : "";
  if (file.compare(0, before.size(), before) != 0) std::abort();
  if (mode >= 2) {
    std::string backup;
    if (!ReadFileBytes(LOG::BackupName(path, 1), backup) || backup != earlier) std::abort();
  }
  const std::string logged = file.substr(before.size());

  if (!textLog) {
    std::string expect;
    char prev = 0;
    for (char c : input) {
      if (c != 0x1A && !(c == '\r' && prev == '\r')) expect += c;
      prev = c;
    }
    if (logged != expect) std::abort();
    return 0;
  }
  if (logged.size() > input.size() * (static_cast<size_t>(columns) + 2)) std::abort();
  for (size_t i = 0; i < logged.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(logged[i]);
    if (b == '\r') {
      if (i + 1 >= logged.size() || logged[i + 1] != '\n') std::abort();
    } else if (b == '\n') {
      if (i == 0 || logged[i - 1] != '\r') std::abort();
    } else if (b < 0x20 && b != '\t') {
      std::abort();
    }
  }
  return 0;
}
