#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

TempDir::TempDir() {
  char tmpl[] = "/tmp/quillnet-test-XXXXXX";
  if (mkdtemp(tmpl)) path = tmpl;
}

TempDir::~TempDir() {
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}
