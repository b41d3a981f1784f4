// A temporary directory for one test, removed with its contents afterwards.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when the directory could not be made.
  const std::string& Path() const { return path; }
  std::string File(const std::string& name) const { return path + "/" + name; }

 private:
  std::string path;
};

// Writes bytes to a file, replacing it.  False on failure.
bool WriteWholeFile(const std::string& path, const std::string& data);
