// Fuzzes the script compiler on arbitrary bytes.  A load either fails with a
// known message and empty buffers, or gives a stream that the atom iterator
// walks to its very end, whose every line ends with LINENO, whose constants
// and loop targets point inside the program, and whose labels point at atom
// boundaries.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "script/atoms.h"
#include "script/listing.h"
#include "script/newscript.h"
#include "script/scriptmsg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NEWSCRIPT s;
  const bool ok = s.LoadFromMemory(std::string(reinterpret_cast<const char*>(data), size));
  if (!ok) {
    if (*scriptmsg::Text(s.error.id) == 0 || !s.Code().empty()) std::abort();
    return 0;
  }
  const std::vector<uint8_t>& code = s.Code();
  if (code.size() > NEWSCRIPT::CODE_SIZE || code.size() < 3 || code[code.size() - 3] != atom::LINENO) std::abort();
  std::set<uint32_t> starts;
  ATOMITERATOR it(code.data(), code.size());
  ATOMREF a;
  while (it.Next(a)) {
    starts.insert(a.offset);
    if (a.atom == 0 || a.atom == 135 || a.atom == 162 || a.atom == 163 || a.atom > atom::FILESIZE2) std::abort();
    if (a.atom == atom::STRING && a.Offset() >= s.Constants().size()) std::abort();
  }
  if (it.Position() != code.size()) std::abort();
  it.Seek(0);
  while (it.Next(a)) {
    if ((a.atom == atom::ENDLOOP || a.atom == atom::ENDWHILE || a.atom == atom::LOOPAGAIN) &&
        (!starts.count(a.Offset()) || a.Offset() >= a.offset))
      std::abort();
  }
  const std::string& labels = s.Labels();
  for (size_t p = 0; p + 4 < labels.size();) {
    const uint32_t pos = atom::Get32(reinterpret_cast<const uint8_t*>(labels.data() + p));
    if (!starts.count(pos)) std::abort();
    p = labels.find('\0', p + 4);
    if (p == std::string::npos) std::abort();
    ++p;
  }
  (void)ListProgram(s).size();
  return 0;
}
