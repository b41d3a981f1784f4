// Fuzzes the colour syntax readers: the input is read as a syntax file and
// as the text form.  A file that parses must dump to a text that compiles
// back to the same file bytes, and must load (written to a file and opened)
// with its rule tree built.  A text that compiles must give a file that
// parses.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "stock/tagmaker.h"
#include "stock/tagtext.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_tagfile: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::RecordingFacade quiet(false);
  static std::string dir = [] {
    char tmpl[] = "/tmp/quillnet-fuzz-tag-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  ui::SetFacade(&quiet);
  quiet.boxes.clear();
  if (size > (1u << 20)) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  TAGFILEDATA file;
  std::string message, warning;
  if (ParseTagFile(bytes, &file, &message, &warning)) {
    const std::string written = WriteTagFile(file);
    TAGFILEDATA back;
    std::string error;
    Check(CompileTagText(DumpTagText(file), &back, &error), "the dump of a parsed file does not compile");
    Check(WriteTagFile(back) == written, "dump then compile changed the file");

    const std::string path = dir + "/f.tag";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    TAGMAKER::ResetForTest();
    if (TAGMAKER::Open(path)) {
      std::vector<TAGTREEITEM> tree;
      TAGMAKER::InitTagTree(&tree);
      for (const TAGTREEITEM& item : tree) Check(item.parent < int(&item - tree.data()), "a tree item's parent comes after it");
      DumpLoadedSyntax();
    }
    TAGMAKER::ResetForTest();
  }

  TAGFILEDATA compiled;
  std::string error;
  if (CompileTagText(bytes, &compiled, &error)) {
    TAGFILEDATA again;
    Check(ParseTagFile(WriteTagFile(compiled), &again, &message), "a compiled text gives a file that does not parse");
  }
  return 0;
}
