#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths.h"

bool WriteAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& data, unsigned mode, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  };
  std::string tmpl = path + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back(0);
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return fail("cannot create a temporary file");
  if (!WriteAll(fd, data.data(), data.size()) || fchmod(fd, mode) != 0 || fsync(fd) != 0) {
    int e = errno;
    close(fd);
    unlink(name.data());
    errno = e;
    return fail("cannot write a temporary file");
  }
  if (close(fd) != 0) {
    int e = errno;
    unlink(name.data());
    errno = e;
    return fail("cannot write a temporary file");
  }
  if (rename(name.data(), path.c_str()) != 0) {
    int e = errno;
    unlink(name.data());
    errno = e;
    return fail("cannot replace the file");
  }
  // The rename is durable only once the directory is on the disk too.
  int dfd = open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

bool ReadFileBytes(const std::string& path, std::string& data, bool* missing) {
  data.clear();
  if (missing) *missing = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (missing) *missing = errno == ENOENT;
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t r = read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      close(fd);
      data.clear();
      return false;
    }
    if (r == 0) break;
    data.append(buf, static_cast<size_t>(r));
  }
  close(fd);
  return true;
}

FileLock::FileLock(const std::string& lockPath) {
  fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    fd = -1;
    return;
  }
}

FileLock::~FileLock() {
  if (fd >= 0) close(fd);  // closing the descriptor releases the lock
}
