// Replacing a file so that a crash or a kill at any moment leaves either the
// old or the new content, and an advisory lock that several processes share.
#pragma once

#include <cstddef>
#include <string>

// Writes all n bytes to fd, retrying short writes and EINTR.  False on an
// error or when the descriptor takes nothing.
bool WriteAll(int fd, const void* data, size_t n);

// Writes data to a temporary file beside path, flushes it to the disk, renames
// it over path and flushes the directory.  The new file gets `mode`.  On
// failure the old file is untouched and *error (when given) says why.
bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned mode = 0600,
                           std::string* error = nullptr);

// Reads a whole file.  False when it cannot be opened or read; a missing file
// sets *missing (when given).
bool ReadFileBytes(const std::string& path, std::string& data, bool* missing = nullptr);

// An exclusive flock() on a lock file, held for the object's lifetime.  The
// lock file itself is never replaced, so the lock survives the renames of the
// file it guards.  Blocks until the lock is free.
class FileLock {
 public:
  explicit FileLock(const std::string& lockPath);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Locked() const { return fd >= 0; }

 private:
  int fd = -1;
};
