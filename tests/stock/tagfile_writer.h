// A test-side writer of colour syntax files in every version's form, so the
// loader is tested against files built independently of the tag tools.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "stock/tagmaker.h"

struct TagFileContents {
  uint32_t version = TAGFILE_VERSION;
  std::string magic = TAGFILE_MAGIC;
  // File order: 0 none, 1 continuation, 2 connect line, 3.. rules.  For
  // versions 0x1003 to 0x100A abTitle holds the title text.
  std::vector<TAGPROP> records;
  std::vector<TAGAID> aids;          // written from 0x100B (18 zero bytes each in 0x100A)
  std::vector<INDEXPROP> indexes;    // 61 bytes from 0x1006, else the old sizes (zeros)
  std::string comment;
  int oldRecords = 0;                // 100-byte records before 0x1005
  int oldSearch = 0;                 // 154-byte records before 0x1006
  // Header counts written instead of the real ones (-1: the real ones).
  int countRecords = -1, countAids = -1, countIndexes = -1, countComment = -1;
  size_t cutTo = std::string::npos;  // the file cut to this many bytes
};

inline void PutSjis(char* field, size_t size, const std::string& utf8) {
  std::string s = jcode::Utf8ToSjis(utf8);
  std::memset(field, 0, size);
  std::memcpy(field, s.data(), std::min(s.size(), size - 1));
}

// A record with the fields most cases need (texts in UTF-8).
inline TAGPROP TagRecord(const std::string& name, int level, const std::string& pattern = "",
                         const std::string& exitPattern = "") {
  TAGPROP r;
  std::memset(&r, 0, sizeof r);
  PutSjis(r.szName, sizeof r.szName, name);
  r.level = uint8_t(level);
  PutSjis(r.szPattern, sizeof r.szPattern, pattern);
  PutSjis(r.szExit, sizeof r.szExit, exitPattern);
  PutSjis(r.szLibPattern, sizeof r.szLibPattern, pattern);
  r.cCover = 1;
  r.cPatternLine = 1;
  r.b355 = 0xFF;
  r.bOldTitle = 0xFF;
  return r;
}

// The three system records of a file.
inline std::vector<TAGPROP> SystemRecords() {
  return {TagRecord("(sys)何もなし", 0), TagRecord("(sys)カラーの続き", 0), TagRecord("(sys)接続開始", 0)};
}

inline std::string BuildTagFile(const TagFileContents& s) {
  const uint32_t v = s.version;
  unsigned char h[TAGFILEHEADER_SIZE] = {};
  STOCKTAGFILEHEADER hd;
  std::memcpy(hd.szMagic, s.magic.data(), std::min<size_t>(s.magic.size(), 51));
  hd.dwVersion = v;
  hd.cOldRecord = uint16_t(s.oldRecords);
  hd.cOldSearch = uint16_t(s.oldSearch);
  hd.cTagProp = uint16_t(s.countRecords >= 0 ? s.countRecords : int(s.records.size()));
  hd.cTagAid = uint16_t(s.countAids >= 0 ? s.countAids : int(s.aids.size()));
  hd.cIndexProp = uint16_t(s.countIndexes >= 0 ? s.countIndexes : int(s.indexes.size()));
  hd.cchComment = uint16_t(s.countComment >= 0 ? s.countComment : int(s.comment.size()));
  WriteTagFileHeader(hd, h);
  std::string out(reinterpret_cast<const char*>(h), sizeof h);
  if (v < 0x1005) out.append(size_t(s.oldRecords) * TAG_OLDRECORD_SIZE, '\x01');
  for (const TAGPROP& r : s.records) {
    const char* b = reinterpret_cast<const char*>(&r);
    if (v >= 0x1008) {
      out.append(b, TAGPROP_SIZE);
    } else if (v >= 0x1003) {
      std::string rec(b, TAGPROP_LIBPATTERN_1003);
      std::memset(rec.data() + 364 + TAGPROP_TITLETEXT_OLD - 1, 0, 1);
      rec.append(b + offsetof(TAGPROP, szLibPattern), 200);
      rec.append(2, '\0');
      out += rec;
    } else {
      out.append(b, TAGPROP_SIZE_OLD);
    }
  }
  for (const INDEXPROP& d : s.indexes) {
    if (v >= 0x1006) out.append(reinterpret_cast<const char*>(&d), INDEXPROP_SIZE);
    else out.append(v >= 0x1002 ? INDEXPROP_SIZE_1002 : INDEXPROP_SIZE_OLD, '\x02');
  }
  if (v < 0x1006) out.append(size_t(s.oldSearch) * TAG_OLDSEARCH_SIZE, '\x03');
  for (const TAGAID& a : s.aids) {
    if (v >= 0x100B) out.append(reinterpret_cast<const char*>(&a), TAGAID_SIZE);
    else if (v == 0x100A) out.append(TAGAID_SIZE_100A, '\x04');
  }
  out += s.comment;
  if (s.cutTo < out.size()) out.resize(s.cutTo);
  return out;
}

inline INDEXPROP IndexRecord(const std::string& name, const std::vector<int>& tags) {
  INDEXPROP d;
  std::memset(&d, 0, sizeof d);
  PutSjis(d.szName, sizeof d.szName, name);
  d.cTag = uint8_t(tags.size());
  for (size_t i = 0; i < tags.size() && i < 20; ++i) d.aTag[i] = uint8_t(tags[i]);
  return d;
}
