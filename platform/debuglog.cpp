#include "platform/debuglog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/tick.h"

namespace {
std::mutex mtxLog;
FILE* fpLog = nullptr;
TICK tickStart = GetTick();

void WriteLocked(const char* text) {
  static const bool toStderr = std::getenv("QUILLNET_DEBUG") != nullptr;
  if (toStderr) std::fputs(text, stderr);
  if (fpLog) {
    std::fputs(text, fpLog);
    std::fflush(fpLog);
  }
}
}  // namespace

void DebugLog(const char* text) {
  std::lock_guard<std::mutex> lock(mtxLog);
  WriteLocked(text);
}

void DebugLogTime(const char* text) {
  std::lock_guard<std::mutex> lock(mtxLog);
  TICK ms = GetTick() - tickStart;
  char head[40];
  std::snprintf(head, sizeof head, "%llu.%03llu ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  WriteLocked(head);
  WriteLocked(text);
}

void DebugLogF(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  DebugLog(buf);
}

bool StartDebugLogFile(const std::string& dir) {
  std::lock_guard<std::mutex> lock(mtxLog);
  std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  std::string logName = base + "Debug.log", oldName = base + "Debug.old";
  if (fpLog) {
    std::fclose(fpLog);
    fpLog = nullptr;
  }
  std::remove(oldName.c_str());
  std::rename(logName.c_str(), oldName.c_str());
  fpLog = std::fopen(logName.c_str(), "wb");
  tickStart = GetTick();
  return fpLog != nullptr;
}

void StopDebugLogFile() {
  std::lock_guard<std::mutex> lock(mtxLog);
  if (fpLog) std::fclose(fpLog);
  fpLog = nullptr;
}

bool IsDebugLogFileOpen() {
  std::lock_guard<std::mutex> lock(mtxLog);
  return fpLog != nullptr;
}
