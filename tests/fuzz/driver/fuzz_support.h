// Pieces several fuzz targets share: the check that stops a run with the
// target's name, a scratch directory in memory where the machine has one,
// and the demo syntax compiled from its text form.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "stock/tagtext.h"

namespace fuzzsupport {

// Stops the run (a crash the fuzzer keeps) when ok is false.
inline void Check(const char* target, bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
  }
}

// A new directory under /dev/shm (else /tmp): the targets that write a
// stock on every input would otherwise wear the disk.
inline std::string ScratchDir(const char* target) {
  std::string shm = std::string("/dev/shm/quillnet-") + target + "-XXXXXX";
  std::string tmp = std::string("/tmp/quillnet-") + target + "-XXXXXX";
  const char* d = mkdtemp(shm.data());
  if (!d) d = mkdtemp(tmp.data());
  Check(target, d != nullptr, "cannot make a temporary directory");
  return std::string(d);
}

// The bytes of the syntax file compiled from the text form at textPath.
inline std::string CompiledSyntaxFile(const char* target, const char* textPath) {
  std::ifstream in(textPath, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TAGFILEDATA file;
  std::string error;
  Check(target, CompileTagText(text, &file, &error), "the demo syntax does not compile");
  return WriteTagFile(file);
}

}  // namespace fuzzsupport
