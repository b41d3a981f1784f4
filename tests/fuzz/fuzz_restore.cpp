// Fuzzes restoring a text backup: the input is split into a control file
// (".sti": header and one byte per line) and the text, both written to a
// temporary directory and restored.  A refused control file must leave no
// stock behind; a restored stock must open, hold no more logical lines than
// the control file has bytes, and keep its width inside 40-250.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "stock/backup.h"
#include "stock/stock.h"

namespace {

std::string& Dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/quillnet-fuzz-restore-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    return std::string(tmpl);
  }();
  return dir;
}

void Write(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (n) std::fwrite(p, 1, n, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ui::ScopedRecordingFacade facade;
  // The first two bytes say how many of the rest belong to the control file
  // past its header; a header with the right magic is put in front when the
  // first byte's low bit is set, so that the layout is reached often.
  if (size < 2) return 0;
  const bool withMagic = data[0] & 1;
  const size_t infoLen = std::min(size - 2, size_t(data[1]) * 4);
  std::string info;
  if (withMagic) {
    STOCKFILEHEADER h;
    h.Reset();
    unsigned char raw[STOCK_HEADER_SIZE];
    WriteStockHeader(h, raw);
    std::memset(raw, 0, STOCK_MAGIC_SIZE);
    std::memcpy(raw, kBackupInfoMagic, std::strlen(kBackupInfoMagic) + 1);
    // Width from the input: 0 or anything, checked by the restore.
    raw[stockoff::cColumn] = data[0] >> 1;
    raw[stockoff::cColumn + 1] = data[0] & 0x80 ? 0 : 1;
    info.assign(reinterpret_cast<const char*>(raw), sizeof raw);
  }
  info.append(reinterpret_cast<const char*>(data + 2), infoLen);
  // The header check and the layout alone, on every input: each logical
  // line taken uses whole slots of the checked width.
  const int width = CheckBackupInfoHeader(reinterpret_cast<const unsigned char*>(info.data()), info.size(), nullptr);
  if (width) {
    std::vector<unsigned char> slots, tags;
    const size_t marks = info.size() - STOCK_HEADER_SIZE;
    const size_t taken =
        LayOutText(reinterpret_cast<const char*>(data + 2 + infoLen), size - 2 - infoLen,
                   reinterpret_cast<const unsigned char*>(info.data()) + STOCK_HEADER_SIZE, marks, width, slots, tags);
    if (taken > marks || slots.size() != tags.size() * size_t(width + 1) || tags.size() < taken) std::abort();
  }
  // The whole restore through files (which are synced, so slower) on a
  // quarter of the inputs.
  if ((data[0] & 6) != 6) return 0;
  const std::string sti = Dir() + "/f.sti", txt = Dir() + "/f.txt", target = Dir() + "/out.stk";
  Write(sti, reinterpret_cast<const uint8_t*>(info.data()), info.size());
  Write(txt, data + 2 + infoLen, size - 2 - infoLen);
  unlink(target.c_str());
  std::string err;
  const int ok = RestoreStock(txt, target, &err);
  if (!ok) {
    if (access(target.c_str(), F_OK) == 0) std::abort();  // a refusal creates nothing
    return 0;
  }
  STOCK::ResetForTest();
  if (!STOCK::Open(target)) std::abort();
  if (STOCK::cColumn < STOCK_MIN_COLUMN || STOCK::cColumn > STOCK_MAX_COLUMN) std::abort();
  size_t logical = 0;
  CODEVRAM cv = cvOldest;
  while (!cv.IsNewest()) {
    if (cv.IsCR()) ++logical;
    ++cv;
  }
  if (logical > info.size() - STOCK_HEADER_SIZE) std::abort();
  STOCK::ResetForTest();
  return 0;
}
