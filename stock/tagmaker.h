// TAGMAKER: the colour syntax (a ".tag" file) in memory, and the matcher
// that gives received lines their tags.
//
// A colour syntax is a list of rules.  Tag numbers in memory:
//   0 "(sys)何もなし"      no tag
//   1 "(sys)カラーの続き"  continuation of the line above
//   2 quotation            (a copy of the connect record)
//   3 "(sys)接続開始"      connect line
//   4..                    the file's rules in file order, in tree order:
//                          each rule's children follow it with level + 1
// The file numbers its records 0, 1, 2 (connect line), 3..; loading inserts
// the quotation slot at 2, so file record k >= 2 is tag k + 1, and the tag
// numbers of the file's index definitions from 2 up are raised by 1.
//
// File layout (little-endian), header 68 bytes:
//    0  52  magic "Quillnet Longreach Tag file header." (a C string)
//   52   4  version, 0x1000 .. 0x100B (0x100B current)
//   56   2  count of old 100-byte records (before 0x1005; skipped)
//   58   2  count of old 154-byte search records (before 0x1006; skipped)
//   60   2  syntax records
//   62   2  message rules
//   64   2  index definitions
//   66   2  length of the trailing comment text
// then: old 100-byte records (before 0x1005); syntax records (684 bytes;
// 616 for 0x1003-0x1007 with the library pattern at 414 and a 50-byte title
// text at 364; 364 bytes before 0x1003); index definitions (61 bytes from
// 0x1006; 40 bytes for 0x1002-0x1005 and 20 before, skipped); old search
// records (before 0x1006, skipped); message rules (234 bytes from 0x100B;
// 18 bytes in 0x100A, skipped); the comment text.
//
// Who defines what: the loading half (Create, Open, OpenSub, Close, the
// record lists, navigation, InitTagTree, CountCR, the comment text) lives
// in stock/tagmaker.cpp; the matcher (StartQuery .. ClearLowLevelTags and
// its state) and the title runner live beside it in files of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/jre.h"
#include "stock/codevram.h"
#include "stock/tagtemplate.h"

// ---------------------------------------------------------------------------
// Records

// One syntax rule, exactly as stored in a version 0x100B file (684 bytes).
struct TAGPROP {
  char szName[50];              //   0 name shown to the user (NUL-terminated)
  unsigned char level;          //  50 1..7 (0 for the built-in records)
  char szPattern[200];          //  51 the pattern as the user wrote it ("\f", "\n")
  unsigned char fVariable;      // 251 level taken from the tree position
  char szExit[99];              // 252 exit pattern; empty = none
  unsigned char cCover;         // 351 logical lines the rule covers (1 or more)
  unsigned char bOldTitle;      // 352 kept for old versions (0xFF = no title)
  unsigned char cTitleLine;     // 353 lines after the rule's line the title reads (0xFF unknown)
  unsigned char cPatternLine;   // 354 lines the pattern spans (CountCR + 1)
  unsigned char b355;           // 355 0xFF when created
  unsigned char fAlternative;   // 356 alternative of the previous rule of its level
  unsigned char iSpeech;        // 357 message rule number, 1-based; 0 none
  unsigned char abOption[2];    // 358 option bytes (no use here)
  uint32_t dwRuntime;           // 360 run time: the rule's item in a rule tree
  unsigned char abTitle[120];   // 364 compiled title template (stock/tagtemplate.h)
  char szLibPattern[200];       // 484 pattern for the engine (no "\f"); empty = never matches
};
static_assert(sizeof(TAGPROP) == 684);
static_assert(offsetof(TAGPROP, level) == 50 && offsetof(TAGPROP, szPattern) == 51 &&
              offsetof(TAGPROP, fVariable) == 251 && offsetof(TAGPROP, szExit) == 252 &&
              offsetof(TAGPROP, cCover) == 351 && offsetof(TAGPROP, bOldTitle) == 352 &&
              offsetof(TAGPROP, cTitleLine) == 353 && offsetof(TAGPROP, cPatternLine) == 354 &&
              offsetof(TAGPROP, b355) == 355 && offsetof(TAGPROP, fAlternative) == 356 &&
              offsetof(TAGPROP, iSpeech) == 357 && offsetof(TAGPROP, abOption) == 358 &&
              offsetof(TAGPROP, dwRuntime) == 360 && offsetof(TAGPROP, abTitle) == 364 &&
              offsetof(TAGPROP, szLibPattern) == 484);

// A message rule (234 bytes): how a message's number, date and parent are
// cut from its lines.  The templates are compiled (stock/tagtemplate.h).
struct TAGAID {
  unsigned char kind;           //   0 1 = numbered messages; other kinds carry no number
  unsigned char abNumber[50];   //   1 template giving the message number
  unsigned char fDate;          //  51 the rule has a date
  unsigned char abDate[50];     //  52 template giving the date
  unsigned char fParent;        // 102 the rule has a parent
  unsigned char abParent[50];   // 103 template giving the number commented on
  unsigned char fUpArrow;       // 153 a parent text starting with "↑" is the message before
  unsigned char abUnused[80];   // 154 not used by the program
};
static_assert(sizeof(TAGAID) == 234);
static_assert(offsetof(TAGAID, fDate) == 51 && offsetof(TAGAID, abDate) == 52 &&
              offsetof(TAGAID, fParent) == 102 && offsetof(TAGAID, abParent) == 103 &&
              offsetof(TAGAID, fUpArrow) == 153 && offsetof(TAGAID, abUnused) == 154);

// An index definition (61 bytes).
struct INDEXPROP {
  char szName[40];              //  0 name (at most 39 characters)
  unsigned char cTag;           // 40 rules listed (at most 20)
  unsigned char aTag[20];       // 41 their tag numbers
};
static_assert(sizeof(INDEXPROP) == 61);

enum : int {
  TAGPROP_SIZE = 684,
  TAGPROP_SIZE_1003 = 616,      // 0x1003 .. 0x1007
  TAGPROP_SIZE_OLD = 364,       // before 0x1003
  TAGPROP_LIBPATTERN_1003 = 414,
  TAGPROP_TITLETEXT_OLD = 50,   // title text bytes at 364 in 616-byte records
  TAGAID_SIZE = 234,
  TAGAID_SIZE_100A = 18,
  INDEXPROP_SIZE = 61,
  INDEXPROP_SIZE_1002 = 40,     // 0x1002 .. 0x1005
  INDEXPROP_SIZE_OLD = 20,      // before 0x1002
  TAG_OLDRECORD_SIZE = 100,     // before 0x1005
  TAG_OLDSEARCH_SIZE = 154,     // before 0x1006
  TAGFILEHEADER_SIZE = 68,
  TAG_MAX_INDEX_TAGS = 20,
  TAG_FIRST_RULE = 4,           // first tag number of the file's own rules
};
constexpr uint32_t TAGFILE_VERSION_OLDEST = 0x1000;
constexpr uint32_t TAGFILE_VERSION = 0x100B;
constexpr char TAGFILE_MAGIC[] = "Quillnet Longreach Tag file header.";

// The 68-byte file header as numbers.
struct STOCKTAGFILEHEADER {
  char szMagic[52] = {};
  uint32_t dwVersion = 0;
  uint16_t cOldRecord = 0;      // 100-byte records before 0x1005
  uint16_t cOldSearch = 0;      // 154-byte records before 0x1006
  uint16_t cTagProp = 0;        // syntax records in the file
  uint16_t cTagAid = 0;         // message rules
  uint16_t cIndexProp = 0;      // index definitions
  uint16_t cchComment = 0;      // trailing comment text
};
// Reads and writes the header field by field (68 bytes, little-endian).
void ReadTagFileHeader(const unsigned char* bytes, STOCKTAGFILEHEADER* h);
void WriteTagFileHeader(const STOCKTAGFILEHEADER& h, unsigned char* bytes);

// A syntax file's contents in file order and file numbering (records 0, 1,
// 2 connect line, 3.. rules; index tags as the file has them), every record
// in the 684-byte form.  An older file is held converted as loading converts
// it (its titles compiled, derived fields recomputed, message rules gone).
struct TAGFILEDATA {
  STOCKTAGFILEHEADER header;     // as read; version, counts and the magic's tail
  std::vector<TAGPROP> records;
  std::vector<TAGAID> aids;
  std::vector<INDEXPROP> indexes;
  std::string comment;           // Shift_JIS
  std::string trailing;          // bytes after the comment (ignored by loading)
};
// Reads a file's bytes (the header included).  False with the refusal text
// (without the path in front) in *message; *warning gets the 0x100A notice.
// Old titles that do not convert are reported through the ui facade as
// loading reports them.
bool ParseTagFile(const std::string& bytes, TAGFILEDATA* data, std::string* message, std::string* warning = nullptr);
// The file form (version 0x100B unless the data's header says otherwise for
// a file that was already 0x100B) of the data: header counts from the lists.
std::string WriteTagFile(const TAGFILEDATA& data);

// A growable array of fixed-size records.  GetItem of an index at or beyond
// the count gives record 0, and on an empty array an all-zero record.
class PROPERTYARRAY {
 public:
  void Initialize(int size);            // free; room for 20; used 0
  void Allocate(int n, int size);       // free; room for max(n, 1); used n (zeroed)
  void Free();
  void Insert(int i, const void* record);
  void Delete(int i);
  unsigned char* GetItem(int i);
  const unsigned char* GetItem(int i) const;
  int Count() const { return cUsed; }
  int RecordSize() const { return cbRecord; }

 private:
  std::vector<unsigned char> mem;
  int cbRecord = 0;
  int cAlloc = 0;
  int cUsed = 0;
};

template <class RECORD>
class TYPEDPROPERTYARRAY : public PROPERTYARRAY {
 public:
  void Initialize() { PROPERTYARRAY::Initialize(int(sizeof(RECORD))); }
  void Allocate(int n) { PROPERTYARRAY::Allocate(n, int(sizeof(RECORD))); }
  RECORD* GetItem(int i) { return reinterpret_cast<RECORD*>(PROPERTYARRAY::GetItem(i)); }
  const RECORD* GetItem(int i) const { return reinterpret_cast<const RECORD*>(PROPERTYARRAY::GetItem(i)); }
};
using TAGPROPARRAY = TYPEDPROPERTYARRAY<TAGPROP>;
using TAGAIDARRAY = TYPEDPROPERTYARRAY<TAGAID>;

// The index list is the stock's own (STOCK::aIndexProp): the syntax file's
// definitions (STOCK::cIndexFromSyntax of them) come first, the stock file's
// after them.  This is a typed view of it.
class INDEXPROPARRAY {
 public:
  int Count() const;
  int FromSyntax() const;                 // STOCK::cIndexFromSyntax
  INDEXPROP* GetItem(int i);              // record 0 at or beyond the count; null when empty
};

// ---------------------------------------------------------------------------
// Globals of the colour syntax

extern TAGPROPARRAY tagarray;   // rules by tag number
extern TAGAIDARRAY aidarray;    // message rules, referred to 1-based by TAGPROP::iSpeech
extern INDEXPROPARRAY indexarray;
// Per tag: bit 0 a message (can be commented on), bit 1 direct parent of a
// message rule, bit 2 ancestor of a message rule.  The same array the line
// cursor reads (CODEVRAM::afTag).
extern unsigned char (&afTag)[256];
extern int fSpeechPropExist;    // at least one rule has a message rule

// The syntax's rule tree as a plain model (what a tree control would show):
// one item per rule from tag 3 on, in rule order.  The connect line (tag 3)
// is the top item; a rule of level L hangs under the last item of a lower
// level before it.
struct TAGTREEITEM {
  int tag = 0;
  int parent = -1;              // item index, -1 for the top item
  int depth = 0;                // 0 for the connect line, else the rule's level
  std::string name;             // the rule's name (Shift_JIS)
};

// One candidate of an open level while matching.
struct TAGCANDIDATE {
  int tag = 0;
  JRE2* jre = nullptr;          // the rule's compiled pattern in aJreTag
};

class TAGMAKER {
 public:
  // ---- loading (stock/tagmaker.cpp) ----
  // The empty syntax: the four built-in records, no message rules, the
  // syntax file's index definitions removed (every definition, the stock's
  // too), afTag zeroed, the title caches cleared.
  static void Create();
  // Loads a syntax file: 1, or 0 after a message with the empty syntax in
  // place (Create).  Messages go through the ui facade with the path in
  // front.  The loaded file's path is kept in szTagFile.
  static int Open(const std::string& path);
  // Opens the file and checks its header; fd and header filled on success
  // (1), the refusal text in *message otherwise (0; fd closed).  A version
  // 0x100A file succeeds with *warning set.
  static int OpenSub(const std::string& path, int* fd, std::string* message, STOCKTAGFILEHEADER* header,
                     std::string* warning = nullptr);
  // Frees the rule list and removes the syntax file's index definitions from
  // the front of the index list.
  static void Close();
  // The trailing comment text of a syntax file (Shift_JIS), false when it
  // has none or cannot be read.
  static bool GetCommentText(const std::string& path, std::string* text);
  static TAGPROP* GetTagProp(int n);
  static int GotoPrevTag(int n);
  static int HaveChild(int n);
  static int HaveExit(int n);
  // Fills the model with the rules from tag 3 on; every rule's dwRuntime
  // becomes its item index (+1; 0 = none).  Returns the connect line's item
  // (the first visible one, expanded), -1 when there are no records.
  static int InitTagTree(std::vector<TAGTREEITEM>* tree);
  // Back to the state before any syntax was loaded (tests).
  static void ResetForTest();

  // The path of the loaded syntax file, empty for the empty syntax.
  static std::string szTagFile;
  // Called whenever a syntax is loaded or created, after the lists are in
  // place: the title caches (FRONTENDCACHE, GetTagTitle's) clear themselves
  // here.  Empty by default.
  static std::function<void()> onSyntaxChanged;

  // ---- matching (defined with the matcher) ----
  static int StartQuery();
  static void RestartQuery();
  static int Query(CODEVRAM line);
  static void EndQuery();
  static void ClearLowLevelTags();

  static int fTagQueryActive;
  static int levelCurrent;
  static int tagInterrupted;
  static JRE2* jreExit;
  static char aszRecentLine[5][256];
  static int iRecentLine;
  static std::vector<TAGCANDIDATE> aCandidate[8];   // per level 1..7 (0 unused)
  static int cCandidate[8];
  static std::vector<JRE2> aJreTag, aJreExit;       // per rule from tag 4 on
  static int fLastWasSpeech;

 private:
  static void SetJreArray(int first);
};

extern TAGMAKER tagmaker;

// Number of line breaks a pattern spans: "\n" escapes outside bracket
// expressions; a parenthesised group adds its own count; of alternatives
// separated by "|" the largest count.  Walks Shift_JIS characters, so a
// trail byte 0x5C is no escape.  (Defined by the loader.)
int CountCR(const char* pattern);
int CountCR(char** pattern);
// The pattern without its "\f" marks (the library pattern), walking
// Shift_JIS characters.
std::string RemoveTitleMarks(const char* pattern);

// ---------------------------------------------------------------------------
// Titles and the search pieces behind them (defined with the title runner)

// Searches a tag's lines for a compiled expression and copies the part the
// mode chooses; false when nothing matched.
bool FindForGetTitle(CODEVRAM line, JRE2* jre, int mode, int maxLength, std::string* out);
// Searches a text for a fixed text or an expression (flag byte of elements 9
// and 10) and copies the part the flag chooses.
bool FindForGetTitleSearch1(const std::string& text, const std::string& what, int regex, int flag, std::string* out);
// The same in a piece of a line (elements 11 and 12).
bool FindForGetTitleSearch2(CODEVRAM line, int column, int lineOffset, int length, const std::string& what,
                            int regex, int flag, std::string* out);

// Compiled parts of title groups, per (rule, group): the front part, the
// back part and their split.  Cleared whenever a syntax is loaded.
class FRONTENDCACHE {
 public:
  static void Clear();
  static void SetCurrentCache(int tag, int group);
  static void SetCache(int tag, int group);
  // Where group `group` of rule `tag` begins in the joined text: the split
  // point of its mark; -1 when the front part does not match.
  static int FindSplit(int tag, int group, const char* text, int length);
  static bool CreateJre(JRE2* jre, const std::string& pattern);
};
