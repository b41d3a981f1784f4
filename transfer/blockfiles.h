// Files and lines for the XMODEM/YMODEM engines outside the transfer window:
// a source over a list of paths, a sink that writes into a download
// directory, and a pump that runs an engine over two descriptors.
//
// The sink keeps the rules for received files: the received name is reduced
// to a plain name inside the directory (the last component after "/" or "\",
// outside double-byte characters; Shift_JIS to UTF-8, kept as it is when it
// is valid UTF-8 and not Shift_JIS, else "_"; control bytes "_"; empty, "."
// and ".." take a spare name), the data goes to NAME.part, and only a whole
// file is renamed to NAME.  A failed append is cut back to its old length.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "transfer/xmodem.h"

namespace xmodem {

// The plain UTF-8 name a received Shift_JIS name becomes ("" when nothing of
// it can be used, and the caller takes a spare name).
std::string ReceivedName(const std::string& sjis);
// The name sent for a local path: its base name in Shift_JIS.  False when
// the name has characters CP932 cannot hold.
bool SentName(const std::string& path, std::string* sjis);

class PathSource : public Source {
 public:
  explicit PathSource(std::vector<std::string> paths) : paths(std::move(paths)) {}
  ~PathSource() override { Close(); }
  // Every path is a readable regular file with a name CP932 can hold: 0, else
  // 6 with the path at fault in *bad.  Run before anything is sent.
  int Check(std::string* bad) const;
  bool Next(FileInfo* info) override;
  long Read(char* buf, size_t n) override;
  void Close() override;

 private:
  std::vector<std::string> paths;
  size_t next = 0;
  int fd = -1;
};

class DirSink : public Sink {
 public:
  enum Mode { kRename, kOverwrite, kAppend };
  // fixedName: the file for the XMODEM variants (which carry no name).
  DirSink(std::string dir, Mode mode, bool applyTime, std::string fixedName = "")
      : dir(std::move(dir)), mode(mode), applyTime(applyTime), fixedName(std::move(fixedName)) {}
  ~DirSink() override;
  int Open(const FileInfo& info) override;
  bool Write(const char* data, size_t n) override;
  bool Close(bool ok) override;
  // The final paths of the files received whole.
  std::vector<std::string> received;

 private:
  std::string SpareName() const;
  std::string dir;
  Mode mode;
  bool applyTime;
  std::string fixedName;
  std::FILE* f = nullptr;
  std::string finalPath, writePath;
  off_t appendBase = -1;    // append: the length before the transfer
  FileInfo info;
};

// Runs the engine over rfd (received bytes) and wfd (bytes sent) until it
// ends, then gives the line what is still queued (at most 10 s).  An end of
// input counts as a hang-up; *stop set counts as the user's stop.  Waiting
// is done in poll, never by spinning.
void Pump(Engine& engine, int rfd, int wfd, const std::atomic<bool>* stop = nullptr);

}  // namespace xmodem
