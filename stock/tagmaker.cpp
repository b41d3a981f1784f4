// Loading a colour syntax file: the header check, every older record form
// and its conversion, the quotation slot, the index definitions, the message
// rules, and the flags derived from the rule tree.
#include "stock/tagmaker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/jcode.h"
#include "platform/usermessage.h"
#include "stock/stock.h"

TAGPROPARRAY tagarray;
TAGAIDARRAY aidarray;
INDEXPROPARRAY indexarray;
unsigned char (&afTag)[256] = CODEVRAM::afTag;
int fSpeechPropExist = 0;
TAGMAKER tagmaker;

std::string TAGMAKER::szTagFile;
std::function<void()> TAGMAKER::onSyntaxChanged;

// ---------------------------------------------------------------------------
// Header

namespace {

uint16_t Get16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void Put16(unsigned char* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

void ReadTagFileHeader(const unsigned char* b, STOCKTAGFILEHEADER* h) {
  std::memcpy(h->szMagic, b, 52);
  h->dwVersion = Get32(b + 52);
  h->cOldRecord = Get16(b + 56);
  h->cOldSearch = Get16(b + 58);
  h->cTagProp = Get16(b + 60);
  h->cTagAid = Get16(b + 62);
  h->cIndexProp = Get16(b + 64);
  h->cchComment = Get16(b + 66);
}

void WriteTagFileHeader(const STOCKTAGFILEHEADER& h, unsigned char* b) {
  std::memcpy(b, h.szMagic, 52);
  Put32(b + 52, h.dwVersion);
  Put16(b + 56, h.cOldRecord);
  Put16(b + 58, h.cOldSearch);
  Put16(b + 60, h.cTagProp);
  Put16(b + 62, h.cTagAid);
  Put16(b + 64, h.cIndexProp);
  Put16(b + 66, h.cchComment);
}

// ---------------------------------------------------------------------------
// Record lists

void PROPERTYARRAY::Initialize(int size) {
  Free();
  cbRecord = size;
  cAlloc = 20;
  mem.assign(size_t(cAlloc) * size_t(size), 0);
  cUsed = 0;
}

void PROPERTYARRAY::Allocate(int n, int size) {
  Free();
  cbRecord = size;
  cAlloc = std::max(n, 1);
  mem.assign(size_t(cAlloc) * size_t(size), 0);
  cUsed = n;
}

void PROPERTYARRAY::Free() {
  std::vector<unsigned char>().swap(mem);
  cAlloc = cUsed = 0;
}

void PROPERTYARRAY::Insert(int i, const void* record) {
  if (cbRecord <= 0) return;
  if (cUsed >= cAlloc) {
    cAlloc += 10;
    mem.resize(size_t(cAlloc) * size_t(cbRecord), 0);
  }
  unsigned char* base = mem.data();
  if (i >= 0 && i < cUsed) {
    std::memmove(base + size_t(i + 1) * cbRecord, base + size_t(i) * cbRecord, size_t(cUsed - i) * cbRecord);
  } else {
    i = cUsed;
  }
  std::memcpy(base + size_t(i) * cbRecord, record, size_t(cbRecord));
  ++cUsed;
}

void PROPERTYARRAY::Delete(int i) {
  if (i < 0 || i >= cUsed) return;
  unsigned char* base = mem.data();
  std::memmove(base + size_t(i) * cbRecord, base + size_t(i + 1) * cbRecord, size_t(cUsed - i - 1) * cbRecord);
  --cUsed;
}

namespace {
// What GetItem of an empty list gives: an all-zero record as large as any.
alignas(8) unsigned char gEmptyRecord[TAGPROP_SIZE];
}  // namespace

unsigned char* PROPERTYARRAY::GetItem(int i) {
  if (cUsed == 0) {
    std::memset(gEmptyRecord, 0, sizeof gEmptyRecord);
    return gEmptyRecord;
  }
  if (i < 0 || i >= cUsed) i = 0;
  return mem.data() + size_t(i) * cbRecord;
}

const unsigned char* PROPERTYARRAY::GetItem(int i) const { return const_cast<PROPERTYARRAY*>(this)->GetItem(i); }

int INDEXPROPARRAY::Count() const { return int(STOCK::aIndexProp.size()); }
int INDEXPROPARRAY::FromSyntax() const { return STOCK::cIndexFromSyntax; }
INDEXPROP* INDEXPROPARRAY::GetItem(int i) {
  if (STOCK::aIndexProp.empty()) return nullptr;
  if (i < 0 || i >= Count()) i = 0;
  std::string& r = STOCK::aIndexProp[size_t(i)];
  if (r.size() < sizeof(INDEXPROP)) r.resize(sizeof(INDEXPROP), '\0');
  return reinterpret_cast<INDEXPROP*>(r.data());
}

// ---------------------------------------------------------------------------
// Pattern scans

namespace {

bool Lead(const char* p) { return jcode::IsKanji1(static_cast<unsigned char>(*p)) && p[1] != '\0'; }

// Skips a bracket expression starting at p ("["), nested ones included;
// returns the position after its "]" (or the end).
const char* SkipBracket(const char* p) {
  ++p;
  if (*p == '^') ++p;
  if (*p == ']') ++p;  // a leading "]" is a member
  while (*p && *p != ']') {
    if (*p == '\\' && p[1]) {
      p += 1;
      p += Lead(p) ? 2 : 1;
    } else if (*p == '[') {
      p = SkipBracket(p);
    } else {
      p += Lead(p) ? 2 : 1;
    }
  }
  return *p ? p + 1 : p;
}

// Counts up to the ")" closing the current group (or the end).
int CountSequence(const char** pp) {
  const char* p = *pp;
  int best = 0, here = 0;
  while (*p && *p != ')') {
    if (*p == '\\' && p[1]) {
      if (p[1] == 'n') ++here;
      p += 1;
      p += Lead(p) ? 2 : 1;
    } else if (*p == '[') {
      p = SkipBracket(p);
    } else if (*p == '(') {
      ++p;
      here += CountSequence(&p);
      if (*p == ')') ++p;
    } else if (*p == '|') {
      best = std::max(best, here);
      here = 0;
      ++p;
    } else {
      p += Lead(p) ? 2 : 1;
    }
  }
  *pp = p;
  return std::max(best, here);
}

}  // namespace

int CountCR(char** pattern) {
  const char* p = *pattern;
  int total = 0;
  // A stray ")" at the top level closes nothing: count on after it.
  for (;;) {
    total += CountSequence(&p);
    if (*p != ')') break;
    ++p;
  }
  *pattern = const_cast<char*>(p);
  return total;
}

int CountCR(const char* pattern) {
  char* p = const_cast<char*>(pattern ? pattern : "");
  return CountCR(&p);
}

std::string RemoveTitleMarks(const char* pattern) {
  std::string out;
  const char* p = pattern ? pattern : "";
  while (*p) {
    if (*p == '\\' && p[1]) {
      if (p[1] == 'f') {
        p += 2;
        continue;
      }
      out.push_back(*p++);
      int n = Lead(p) ? 2 : 1;
      out.append(p, size_t(n));
      p += n;
      continue;
    }
    int n = Lead(p) ? 2 : 1;
    out.append(p, size_t(n));
    p += n;
  }
  return out;
}

// ---------------------------------------------------------------------------
// The empty syntax and the rule tree

namespace {

void SetString(char* field, size_t size, const std::string& utf8) {
  std::string s = jcode::Utf8ToSjis(utf8);
  std::memset(field, 0, size);
  std::memcpy(field, s.data(), std::min(s.size(), size - 1));
}

TAGPROP BuiltInRecord(const char* utf8Name) {
  TAGPROP r;
  std::memset(&r, 0, sizeof r);
  SetString(r.szName, sizeof r.szName, utf8Name);
  r.cCover = 1;
  r.bOldTitle = 0xFF;
  r.cPatternLine = 1;
  r.b355 = 0xFF;
  return r;
}

// Removes the syntax file's definitions from the front of the index list.
void RemoveSyntaxIndexes() {
  int n = std::clamp(STOCK::cIndexFromSyntax, 0, int(STOCK::aIndexProp.size()));
  STOCK::aIndexProp.erase(STOCK::aIndexProp.begin(), STOCK::aIndexProp.begin() + n);
  STOCK::cIndexFromSyntax = 0;
}

void SyntaxChanged() {
  if (TAGMAKER::onSyntaxChanged) TAGMAKER::onSyntaxChanged();
}

}  // namespace

void TAGMAKER::Create() {
  Close();
  tagarray.Initialize();
  TAGPROP none = BuiltInRecord("(sys)何もなし");
  TAGPROP cont = BuiltInRecord("(sys)カラーの続き");
  TAGPROP conn = BuiltInRecord("(sys)接続開始");
  tagarray.Insert(0, &none);
  tagarray.Insert(1, &cont);
  tagarray.Insert(2, &conn);  // the quotation slot: a copy of the connect record
  tagarray.Insert(3, &conn);
  aidarray.Initialize();
  std::memset(afTag, 0, sizeof(CODEVRAM::afTag));
  fSpeechPropExist = 0;
  szTagFile.clear();
  SyntaxChanged();
}

void TAGMAKER::Close() {
  tagarray.Free();
  aidarray.Free();
  RemoveSyntaxIndexes();
}

TAGPROP* TAGMAKER::GetTagProp(int n) { return tagarray.GetItem(n); }

int TAGMAKER::GotoPrevTag(int n) {
  if (n < TAG_FIRST_RULE || n >= tagarray.Count()) return n;
  const TAGPROP* r = GetTagProp(n);
  if (!r->fAlternative) return n;
  for (int k = n - 1; k >= TAG_FIRST_RULE; --k) {
    const TAGPROP* q = GetTagProp(k);
    if (q->level < r->level) return n;
    if (q->level == r->level && !q->fAlternative) return k;
  }
  return n;
}

int TAGMAKER::HaveChild(int n) {
  int p = GotoPrevTag(n);
  if (p + 1 >= tagarray.Count() || p + 1 < TAG_FIRST_RULE) return 0;
  return GetTagProp(p + 1)->level == GetTagProp(p)->level + 1 ? 1 : 0;
}

int TAGMAKER::HaveExit(int n) { return GetTagProp(n)->szExit[0] != '\0' ? 1 : 0; }

int TAGMAKER::InitTagTree(std::vector<TAGTREEITEM>* tree) {
  tree->clear();
  if (tagarray.Count() <= TAG_CONNECT) return -1;
  for (int t = TAG_CONNECT; t < tagarray.Count(); ++t) {
    TAGPROP* r = GetTagProp(t);
    TAGTREEITEM item;
    item.tag = t;
    item.name.assign(r->szName, strnlen(r->szName, sizeof r->szName));
    item.depth = t == TAG_CONNECT ? 0 : std::max<int>(1, r->level);
    for (int k = int(tree->size()) - 1; k >= 0; --k) {
      if ((*tree)[size_t(k)].depth < item.depth) {
        item.parent = k;
        break;
      }
    }
    r->dwRuntime = uint32_t(tree->size() + 1);
    tree->push_back(item);
  }
  return 0;
}

void TAGMAKER::ResetForTest() {
  tagarray.Free();
  aidarray.Free();
  std::memset(afTag, 0, sizeof(CODEVRAM::afTag));
  fSpeechPropExist = 0;
  szTagFile.clear();
}

// ---------------------------------------------------------------------------
// Opening

namespace {

const char* const kNotFound = "は見つかりません。";
const char* const kOpenError = "のオープンで何らかのエラーが発生しました。";
const char* const kReadError = "の読み込みに失敗しました。";
const char* const kNotOurs = "はQuillnet用のファイルではありません。";
const char* const kTooNew = "のバージョンが新しすぎてこのQuillnetでは扱えません。";
const char* const kOld100A = "このカラー構文定義ファイルは古いので発言関係の情報が無視されます。";
const char* const kTitleError =
    "ツリーに表示するタイトルの変換処理でエラーが発生しました。該当するタイトルが\"変換エラー\"になります。";
const char* const kTitleTooLong =
    "ツリーに表示するタイトルを変換したらサイズが大きすぎて入り切りませんでした。該当するタイトルが\"タイトル長すぎ\"になります。";
const char* const kSyntaxError = "カラー構文エラー";

bool ReadAll(int fd, std::string* out) {
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out->append(buf, size_t(n));
    if (out->size() > (64u << 20)) return false;  // no syntax file is this large
  }
}

size_t RecordSize(uint32_t v) {
  return v >= 0x1008 ? TAGPROP_SIZE : v >= 0x1003 ? TAGPROP_SIZE_1003 : TAGPROP_SIZE_OLD;
}
size_t IndexSize(uint32_t v) {
  return v >= 0x1006 ? INDEXPROP_SIZE : v >= 0x1002 ? INDEXPROP_SIZE_1002 : INDEXPROP_SIZE_OLD;
}

// Where each section of a file lies, from its header.
struct Layout {
  size_t oldRecords = 0, records = 0, indexes = 0, oldSearch = 0, aids = 0, comment = 0, end = 0;
  size_t recordSize = 0, indexSize = 0, aidSize = 0;
};

Layout LayoutOf(const STOCKTAGFILEHEADER& h) {
  Layout l;
  uint32_t v = h.dwVersion;
  l.recordSize = RecordSize(v);
  l.indexSize = IndexSize(v);
  l.aidSize = v >= 0x100B ? TAGAID_SIZE : v == 0x100A ? TAGAID_SIZE_100A : 0;
  size_t p = TAGFILEHEADER_SIZE;
  l.oldRecords = p;
  if (v < 0x1005) p += size_t(h.cOldRecord) * TAG_OLDRECORD_SIZE;
  l.records = p;
  p += size_t(h.cTagProp) * l.recordSize;
  l.indexes = p;
  p += size_t(h.cIndexProp) * l.indexSize;
  l.oldSearch = p;
  if (v < 0x1006) p += size_t(h.cOldSearch) * TAG_OLDSEARCH_SIZE;
  l.aids = p;
  if (l.aidSize) p += size_t(h.cTagAid) * l.aidSize;
  l.comment = p;
  p += h.cchComment;
  l.end = p;
  return l;
}

// Old title form: "\(a,b)" or "\(a,b,c)" from bytes 352, 353 and 351.
std::string OldTitleText(const TAGPROP& r) {
  if (r.bOldTitle == 0xFF) return {};
  auto num = [](unsigned char b) {
    int v = static_cast<signed char>(b);
    return v == TITLE_NIF ? std::string("NIF") : std::to_string(v);
  };
  std::string t = "\\(" + num(r.bOldTitle) + "," + num(r.cTitleLine);
  if (r.cCover) t += "," + num(r.cCover);
  return t + ")";
}

void Terminate(TAGPROP* r) {
  r->szName[sizeof r->szName - 1] = '\0';
  r->szPattern[sizeof r->szPattern - 1] = '\0';
  r->szExit[sizeof r->szExit - 1] = '\0';
  r->szLibPattern[sizeof r->szLibPattern - 1] = '\0';
}

void SetLiteralTitle(TAGPROP* r, const char* utf8) {
  std::string s = jcode::Utf8ToSjis(utf8);
  std::memset(r->abTitle, 0, sizeof r->abTitle);
  r->abTitle[0] = TITLE_LITERAL;
  r->abTitle[1] = uint8_t(s.size());
  std::memcpy(r->abTitle + 2, s.data(), s.size());
  r->abTitle[2 + s.size()] = TITLE_END;
}

}  // namespace

int TAGMAKER::OpenSub(const std::string& path, int* fd, std::string* message, STOCKTAGFILEHEADER* header,
                      std::string* warning) {
  *fd = -1;
  int f = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f < 0) {
    *message = path + (errno == ENOENT || errno == ENOTDIR ? kNotFound : kOpenError);
    return 0;
  }
  struct stat st {};
  if (fstat(f, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(f);
    *message = path + kOpenError;
    return 0;
  }
  unsigned char b[TAGFILEHEADER_SIZE];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = read(f, b + got, sizeof b - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got < sizeof b) {
    close(f);
    *message = path + kReadError;
    return 0;
  }
  ReadTagFileHeader(b, header);
  if (strncmp(header->szMagic, TAGFILE_MAGIC, sizeof header->szMagic) != 0) {
    close(f);
    *message = path + kNotOurs;
    return 0;
  }
  if (header->dwVersion >= 0x100C) {
    close(f);
    *message = path + kTooNew;
    return 0;
  }
  if (header->dwVersion == 0x100A && warning) *warning = path + kOld100A;
  *fd = f;
  return 1;
}

bool TAGMAKER::GetCommentText(const std::string& path, std::string* text) {
  text->clear();
  int fd = -1;
  std::string message;
  STOCKTAGFILEHEADER h;
  if (!OpenSub(path, &fd, &message, &h)) return false;
  Layout l = LayoutOf(h);
  bool ok = false;
  if (h.cchComment > 0) {
    text->resize(h.cchComment);
    ssize_t n = pread(fd, text->data(), h.cchComment, off_t(l.comment));
    ok = n == ssize_t(h.cchComment);
    if (!ok) text->clear();
  }
  close(fd);
  return ok;
}

bool ParseTagFile(const std::string& file, TAGFILEDATA* data, std::string* message, std::string* warning) {
  *data = TAGFILEDATA();
  if (file.size() < size_t(TAGFILEHEADER_SIZE)) {
    *message = kReadError;
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  STOCKTAGFILEHEADER& h = data->header;
  ReadTagFileHeader(bytes, &h);
  if (strncmp(h.szMagic, TAGFILE_MAGIC, sizeof h.szMagic) != 0) {
    *message = kNotOurs;
    return false;
  }
  const uint32_t v = h.dwVersion;
  if (v >= 0x100C) {
    *message = kTooNew;
    return false;
  }
  if (v == 0x100A && warning) *warning = kOld100A;
  Layout l = LayoutOf(h);
  // Refusals: a section beyond the file, too few or too many records, a
  // rule level outside 1-7.  All of them read as a failed read.
  *message = kReadError;
  if (l.end > file.size()) return false;
  if (h.cTagProp < 3 || h.cTagProp > 255) return false;

  // The records, older forms read into zeroed 684-byte records.
  std::vector<TAGPROP>& rec = data->records;
  rec.resize(h.cTagProp);
  std::vector<std::string> titleText(h.cTagProp);
  for (size_t k = 0; k < rec.size(); ++k) {
    TAGPROP& r = rec[k];
    std::memset(&r, 0, sizeof r);
    const unsigned char* src = bytes + l.records + k * l.recordSize;
    auto* dst = reinterpret_cast<unsigned char*>(&r);
    if (l.recordSize == TAGPROP_SIZE) {
      std::memcpy(dst, src, TAGPROP_SIZE);
    } else if (l.recordSize == TAGPROP_SIZE_1003) {
      std::memcpy(dst, src, TAGPROP_LIBPATTERN_1003);
      std::memcpy(dst + offsetof(TAGPROP, szLibPattern), src + TAGPROP_LIBPATTERN_1003, sizeof r.szLibPattern);
    } else {
      std::memcpy(dst, src, TAGPROP_SIZE_OLD);
    }
    if (v >= 0x1003 && v < 0x100B) {
      size_t room = l.recordSize == TAGPROP_SIZE_1003 ? size_t(TAGPROP_TITLETEXT_OLD) : sizeof r.abTitle;
      const char* t = reinterpret_cast<const char*>(dst + offsetof(TAGPROP, abTitle));
      titleText[k] = std::string(t, strnlen(t, room));
      if (l.recordSize == TAGPROP_SIZE_1003) std::memset(r.abTitle, 0, sizeof r.abTitle);
    }
    if (k >= 3 && (r.level < 1 || r.level > 7)) return false;
  }

  // Conversions of old versions, in order.
  if (v == 0x1000) {
    rec[2].bOldTitle = 0;
    rec[2].cTitleLine = 0;
    for (auto& r : rec) {
      r.b355 = 0xFF;
      r.cTitleLine = 0;
      r.cPatternLine = 1;
    }
  }
  if (v < 0x1002) {
    for (auto& r : rec) {
      r.cCover = 0;
      r.b355 = 0xFF;
    }
  }
  if (v < 0x1003) {
    for (size_t k = 0; k < rec.size(); ++k) {
      std::memcpy(rec[k].szLibPattern, rec[k].szPattern, sizeof rec[k].szPattern);
      titleText[k] = OldTitleText(rec[k]);
    }
  }
  if (v < 0x1004) {
    for (auto& r : rec) r.cCover = r.cPatternLine;
  }
  if (v < 0x1009) {
    for (auto& r : rec) {
      r.fAlternative = 0;
      r.abOption[0] = r.abOption[1] = 0;
    }
  }
  // Before 0x100B no rule keeps a message rule (0x100A's are skipped).
  if (v >= 0x100B) {
    data->aids.resize(h.cTagAid);
    for (size_t k = 0; k < data->aids.size(); ++k)
      std::memcpy(&data->aids[k], bytes + l.aids + k * TAGAID_SIZE, TAGAID_SIZE);
  } else {
    for (auto& r : rec) r.iSpeech = 0;
  }
  // Titles compiled, derived fields recomputed (the system records, file
  // records 0 to 2, span one line).
  if (v < 0x100B) {
    for (size_t k = 0; k < rec.size(); ++k) {
      TAGPROP& r = rec[k];
      TITLECOMPILE c = CompileTitleTemplate(titleText[k], r.abTitle, sizeof r.abTitle);
      if (c == TITLE_SYNTAX_ERROR) {
        ErrorMessage(kTitleError);
        SetLiteralTitle(&r, "変換エラー");
      } else if (c == TITLE_TOO_LONG) {
        ErrorMessage(kTitleTooLong);
        SetLiteralTitle(&r, "タイトル長すぎ");
      }
      char pattern[sizeof r.szPattern + 1] = {};
      std::memcpy(pattern, r.szPattern, sizeof r.szPattern);
      r.cPatternLine = uint8_t(k < 3 ? 1 : std::min(CountCR(pattern) + 1, 255));
      std::string lib = RemoveTitleMarks(pattern);
      std::memset(r.szLibPattern, 0, sizeof r.szLibPattern);
      std::memcpy(r.szLibPattern, lib.data(), std::min(lib.size(), sizeof r.szLibPattern - 1));
      int reach = TitleLineReach(r.abTitle, sizeof r.abTitle);
      if (reach == -2) ErrorMessage(kSyntaxError);
      r.cTitleLine = uint8_t(reach < 0 ? 0xFF : reach);
    }
  }
  // Index definitions from 0x1006 (older forms are skipped).
  if (v >= 0x1006) {
    data->indexes.resize(h.cIndexProp);
    for (size_t k = 0; k < data->indexes.size(); ++k)
      std::memcpy(&data->indexes[k], bytes + l.indexes + k * INDEXPROP_SIZE, INDEXPROP_SIZE);
  }
  data->comment.assign(file, l.comment, h.cchComment);
  data->trailing.assign(file, l.end, std::string::npos);
  if (v < 0x100B) {
    // Held converted: what WriteTagFile makes of it is a current file.
    h.dwVersion = TAGFILE_VERSION;
    h.cOldRecord = h.cOldSearch = 0;
  }
  message->clear();
  return true;
}

std::string WriteTagFile(const TAGFILEDATA& d) {
  STOCKTAGFILEHEADER h = d.header;
  if (h.szMagic[0] == '\0') std::memcpy(h.szMagic, TAGFILE_MAGIC, sizeof TAGFILE_MAGIC);
  if (h.dwVersion == 0) h.dwVersion = TAGFILE_VERSION;
  h.cTagProp = uint16_t(d.records.size());
  h.cTagAid = uint16_t(d.aids.size());
  h.cIndexProp = uint16_t(d.indexes.size());
  h.cchComment = uint16_t(d.comment.size());
  unsigned char b[TAGFILEHEADER_SIZE];
  WriteTagFileHeader(h, b);
  std::string out(reinterpret_cast<const char*>(b), sizeof b);
  for (const TAGPROP& r : d.records) out.append(reinterpret_cast<const char*>(&r), sizeof r);
  for (const INDEXPROP& x : d.indexes) out.append(reinterpret_cast<const char*>(&x), sizeof x);
  for (const TAGAID& a : d.aids) out.append(reinterpret_cast<const char*>(&a), sizeof a);
  out += d.comment;
  out += d.trailing;
  return out;
}

namespace {

// Puts parsed file data in place: the quotation slot, NUL-terminated
// strings, message-rule numbers and index tags checked against the lists,
// the index definitions ahead of the stock's, afTag.
void Install(TAGFILEDATA& data) {
  std::vector<TAGPROP>& rec = data.records;
  rec.insert(rec.begin() + 2, rec[2]);
  for (auto& r : rec) {
    Terminate(&r);
    if (r.iSpeech > data.aids.size()) r.iSpeech = 0;
  }
  std::vector<std::string> indexes;
  int tags = int(rec.size());
  for (INDEXPROP d : data.indexes) {
    d.szName[sizeof d.szName - 1] = '\0';
    int n = std::min<int>(d.cTag, TAG_MAX_INDEX_TAGS);
    int kept = 0;
    for (int i = 0; i < n; ++i) {
      int tag = d.aTag[i];
      if (tag >= 2) ++tag;
      if (tag < tags) d.aTag[kept++] = uint8_t(tag);
    }
    for (int i = kept; i < TAG_MAX_INDEX_TAGS; ++i) d.aTag[i] = 0;
    d.cTag = uint8_t(kept);
    indexes.emplace_back(reinterpret_cast<const char*>(&d), INDEXPROP_SIZE);
  }

  tagarray.Allocate(int(rec.size()));
  for (size_t t = 0; t < rec.size(); ++t) std::memcpy(tagarray.GetItem(int(t)), &rec[t], sizeof(TAGPROP));
  aidarray.Initialize();
  for (size_t k = 0; k < data.aids.size(); ++k) aidarray.Insert(int(k), &data.aids[k]);
  STOCK::aIndexProp.insert(STOCK::aIndexProp.begin(), indexes.begin(), indexes.end());
  STOCK::cIndexFromSyntax = int(indexes.size());

  // afTag and fSpeechPropExist.
  std::memset(afTag, 0, sizeof(CODEVRAM::afTag));
  fSpeechPropExist = 0;
  int count = tagarray.Count();
  auto level = [](int t) { return int(TAGMAKER::GetTagProp(t)->level); };
  for (int t = TAG_FIRST_RULE; t < count; ++t) {
    if (!TAGMAKER::GetTagProp(t)->iSpeech) continue;
    fSpeechPropExist = 1;
    afTag[t] |= 1;
    int from = t;
    for (int L = level(t) - 1; L >= 1; --L) {
      int a = from - 1;
      while (a >= TAG_FIRST_RULE && level(a) != L) --a;
      if (a < TAG_FIRST_RULE) break;
      from = a;
      unsigned char bits = L == level(t) - 1 ? 6 : 4;
      // The ancestor's main rule and every alternative of it.
      int m = TAGMAKER::GotoPrevTag(a);
      afTag[m] |= bits;
      for (int k = m + 1; k < count; ++k) {
        if (level(k) < L) break;
        if (level(k) == L) {
          if (!TAGMAKER::GetTagProp(k)->fAlternative) break;
          afTag[k] |= bits;
        }
      }
    }
  }
}

}  // namespace

int TAGMAKER::Open(const std::string& path) {
  Close();
  SyntaxChanged();
  int fd = -1;
  std::string message, warning;
  STOCKTAGFILEHEADER h;
  if (!OpenSub(path, &fd, &message, &h, &warning)) {
    ErrorMessage(message);
    Create();
    return 0;
  }
  if (!warning.empty()) MyMessageBox(warning, ui::MB_OK | ui::MB_ICONWARNING);
  std::string file;
  bool read = lseek(fd, 0, SEEK_SET) == 0 && ReadAll(fd, &file);
  close(fd);
  TAGFILEDATA data;
  if (!read || !ParseTagFile(file, &data, &message)) {
    ErrorMessage(path + kReadError);
    Create();
    return 0;
  }
  Install(data);
  szTagFile = path;
  SyntaxChanged();
  return 1;
}
