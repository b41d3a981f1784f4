// The overall tree's edit operations: positions, removing lines and stock
// files, copy, cut and paste, switching stock files, and the tree pages.
//
// Every operation that re-lays the stock (STOCK::Delete, Move, Resize,
// Clear) makes every slot held elsewhere stale, so it is followed by a
// rebuild of the tree (Initialize) and the position is taken anew.  The
// stock's `relaid` hook does that for re-lays started elsewhere; the
// operations here rebuild once at their end.
#include <unistd.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/jcode.h"
#include "platform/ui.h"
#include "stock/backup.h"
#include "stock/clipboard.h"
#include "stock/stock.h"
#include "stock/stockprop.h"
#include "stock/tagmaker.h"
#include "stock/tree.h"
#include "stock/tree_model.h"

TREEHOOKS TREE::hooks;
TREENODE* TREE::hitemSelected = nullptr;
int TREE::fPreventGoTo = 0;
std::vector<TREEPAGE> TREE::apage;
int TREE::iPageActive = 0;

namespace {

constexpr char kCaption[] = "全体図";
constexpr char kOnline[] = "オンライン中はこの処理はできません。";
constexpr int kAskLines = 99999;

int gBusy = 0;  // an operation here is re-laying the stock: no rebuild from the hook

struct Busy {
  Busy() { ++gBusy; }
  ~Busy() { --gBusy; }
};

bool Online() { return pfnStockOnline && pfnStockOnline() != 0; }

void Tell(const std::string& utf8, unsigned icon = ui::MB_ICONWARNING) {
  ui::Current().MessageBox(utf8, kCaption, ui::MB_OK | icon);
}

bool Ask(const std::string& utf8) {
  return ui::Current().MessageBox(utf8, kCaption, ui::MB_YESNO | ui::MB_ICONQUESTION | ui::MB_DEFBUTTON2) ==
         ui::IDYES;
}

bool Live(int slot) {
  if (!STOCK::fValid || slot < 0 || slot >= STOCK::cItemUsed) return false;
  return STOCK::Flat(slot) < STOCK::UsedItems();
}

int ValidTag(CODEVRAM cv) {
  const int t = cv.Tag();
  if (t == TAG_CONNECT) return t;
  if (t >= TAG_FIRST_RULE && t >= tagarray.Count()) return 0;
  return t;
}

bool Before(int a, int b) { return STOCK::Flat(a) < STOCK::Flat(b); }

std::string TitleUtf8(const TREENODE* n) { return jcode::SjisToUtf8(n->title); }

// The cursor line is the newest one and empty; after lines were removed up
// to the newest, the last line left is a finished one, so a new empty line
// follows it.
bool CursorLineEmpty() {
  CODEVRAM cv = cvNewest;
  return cv.Length() == 0 && cv.Tag() == TAG_NONE && cv.Item()->cInput == STOCK_MARK_NONE;
}

void EnsureCursorLine() {
  if (!CursorLineEmpty()) CODEVRAM(cvNewest).LineFeed();
}

void ViewToNewest() {
  STOCK::iViewTop = STOCK::AddIndex(cvNewest, -(std::max(1, STOCK::cLineFrame) - 1));
  if (TREE::hooks.viewToNewest) TREE::hooks.viewToNewest();
}

// Removes lines, puts the view at the newest line, rebuilds and saves.
bool RemoveLines(int first, int count) {
  if (count <= 0 || !Live(first)) return false;
  const int was = STOCK::fWriteEnabled;
  if (!was && !STOCK::EnableWrite(1, 1)) return false;
  const int before = STOCK::UsedItems();
  {
    Busy busy;
    STOCK::Delete(first, count);
    EnsureCursorLine();
    ViewToNewest();
  }
  const bool removed = STOCK::UsedItems() != before || count >= before;
  TREE::Initialize(0);
  STOCK::Save();
  if (!was) STOCK::EnableWrite(0, 0);
  return removed;
}

// The newest date-stamped text of the current call's connect line, for the
// forced clear on line.
std::string NewestConnectText() {
  const int c = STOCK::FindNewestConnectLine();
  if (c < 0) return {};
  CODEVRAM cv = c;
  std::string text;
  for (;;) {
    text.append(cv.Item()->Text(), size_t(cv.Length()));
    if (cv.IsCR() || cv.IsNewest()) break;
    ++cv;
  }
  return text;
}

// Writes one logical line of plain text into the stock from the newest
// (empty) line on; returns its first slot.  The newest line is then its last
// slot.  `mark` is the line's info byte.
int WriteLogicalLine(const std::string& text, unsigned char mark) {
  const int column = STOCK::cColumn;
  const bool connect = mark == STOCK_MARK_CONNECT;
  const int firstLen = [&] {
    int x = 0;
    bool trail = false;
    for (char ch : text) {
      const auto c = static_cast<unsigned char>(ch);
      const bool lead = !trail && jcode::IsKanji1(c);
      if (lead && x == column - 1) return x;
      if (++x == column) return x;
      trail = lead;
    }
    return x;
  }();
  unsigned char headMark = STOCK_MARK_NONE, restMark = STOCK_MARK_NONE;
  if (connect) {
    headMark = STOCK_MARK_CONNECT;
  } else if (mark != STOCK_MARK_NONE && int(mark) < firstLen) {
    headMark = mark;
    restMark = 0;
  }
  CODEVRAM cv = cvNewest;
  const int first = cv;
  STOCKITEM* item = cv.Item();
  std::memset(item->Text(), 0, size_t(column));
  item->cInput = headMark;
  STOCK::aTag[size_t(cv.i)] = TAG_NONE;
  int x = 0;
  bool trail = false;
  auto wrap = [&] {
    cv.LineFeed();
    item = cv.Item();
    std::memset(item->Text(), 0, size_t(column));
    item->cInput = restMark;
    STOCK::aTag[size_t(cv.i)] = connect ? TAG_CONTINUE : TAG_NONE;
    x = 0;
  };
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool lead = !trail && jcode::IsKanji1(c);
    if (lead && x == column - 1) {
      item->Text()[x] = char(0x7F);
      wrap();
    }
    item->Text()[x++] = char(c);
    trail = lead;
    if (x == column) wrap();
  }
  if (connect) STOCK::SetConnectTag(first);
  return first;
}

std::string PasteConnectText() {
  SYSTEMTIME st;
  if (STOCK::hooks.now) {
    st = STOCK::hooks.now();
  } else {
    const time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    st.wYear = tm.tm_year + 1900;
    st.wMonth = tm.tm_mon + 1;
    st.wDay = tm.tm_mday;
    st.wHour = tm.tm_hour;
    st.wMinute = tm.tm_min;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, " - %04d/%02d/%02d %02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
  return jcode::Utf8ToSjis("(貼り付け)") + buf;
}

// Appends logical lines with their info bytes (info[k] for lines[k]; past
// the end 0xFF, or the end of the run when `bounded`).  A 0xFE line becomes
// a connect line and (re)starts matching.  `firstCall` gets the first
// connect line written (-1 none).  Returns false when the progress hook
// stopped the run.
bool AppendPlainLines(const std::vector<clipboard::PLAINLINE>& lines, size_t from, const std::string& info,
                      size_t infoFrom, bool bounded, int* firstCall, bool notifyCall) {
  *firstCall = -1;
  bool stopped = false;
  size_t done = 0;
  for (size_t k = from; k < lines.size(); ++k) {
    const size_t at = infoFrom + (k - from);
    if (bounded && at >= info.size()) break;
    const unsigned char mark = at < info.size() ? static_cast<unsigned char>(info[at]) : (unsigned char)STOCK_MARK_NONE;
    // Each line starts on a new line; the first one may take the empty
    // cursor line.
    if (k != from || !CursorLineEmpty()) CODEVRAM(cvNewest).LineFeed();
    const int first = WriteLogicalLine(lines[k].text, mark);
    if (mark == STOCK_MARK_CONNECT) {
      if (*firstCall < 0) {
        *firstCall = first;
        if (notifyCall) TREE::Notify(TREEMSG_CALLBEGAN, uintptr_t(first));
      }
      if (TAGMAKER::fTagQueryActive)
        TAGMAKER::RestartQuery();
      else
        TAGMAKER::StartQuery();
    } else if (TAGMAKER::fTagQueryActive) {
      TAGMAKER::Query(first);
    }
    if (++done % 1000 == 0 && TREE::hooks.progressStep && !TREE::hooks.progressStep(int(done / 1000))) {
      stopped = true;
      break;
    }
  }
  return !stopped;
}

long long DateValue(CODEVRAM cv) {
  const SYSTEMTIME st = GetDateTimeFromStock(cv);
  if (st.wYear == 2100) return -1;
  return (long long)SystemTimeToFileTime(st).Value();
}

// The first connect line before `limit` dated after `date`, -1 none.
int FirstCallAfter(long long date, int limit) {
  for (CODEVRAM cv = cvOldest; Before(cv, limit); ++cv) {
    if (cv.Tag() != TAG_CONNECT) continue;
    const long long d = DateValue(cv);
    if (d > date) return cv;
    if (cv.IsNewest()) break;
  }
  return -1;
}

// The deepest node of a line: siblings are in line order, so only the last
// child starting at or before the line can hold it (calls are built on the
// way down that one path only).
TREENODE* FindIn(TREENODE* n, int target) {
  if (n->kind == TREENODE::CALL && !n->built) TREE::InitChildItems(n);
  TREENODE* holder = nullptr;
  for (auto& c : n->children) {
    if (c->kind == TREENODE::PAST || !Live(c->line)) continue;
    if (Before(target, c->line)) break;
    holder = c.get();
  }
  if (holder)
    if (TREENODE* f = FindIn(holder, target)) return f;
  if (n->line == target && n->kind != TREENODE::ROOT && n->kind != TREENODE::PAST) return n;
  return nullptr;
}

bool Contains(const TREENODE* outer, const TREENODE* n) {
  for (; n; n = n->parent)
    if (n == outer) return true;
  return false;
}

std::string QuotePrefix() {
  std::string p = TREE::hooks.quotePrefix ? TREE::hooks.quotePrefix() : std::string();
  return p.empty() ? "> " : p;
}

// The lines a copy of a node takes: the empty cursor line is left out.
bool CopyRange(int* first, int* last) {
  TREENODE* n = TREE::hitemSelected ? TREE::hitemSelected : TREE::hitemRoot;
  if (!TREE::NodeLines(n, first, last)) return false;
  CODEVRAM l = *last;
  if (l.IsNewest() && l.Length() == 0 && *last != *first) *last = STOCK::AddIndex(*last, -1);
  const int count = STOCK::Flat(*last) - STOCK::Flat(*first) + 1;
  if (count > kAskLines && !Ask("行数が１０万行を超えています。かまわずに処理を続行しますか？")) return false;
  return true;
}

}  // namespace

// ---- hooks ----

void TREE::InstallHooks() {
  STOCKHOOKS& h = STOCK::hooks;
  if (!h.connectLineOverwritten)
    h.connectLineOverwritten = [](int slot) {
      NotifyOverwrite(slot);
      Notify(TREEMSG_OVERWRITE, uintptr_t(slot));
    };
  if (!h.tagArrayMoved) h.tagArrayMoved = [](unsigned char* a) { Notify(TREEMSG_TAGARRAY, uintptr_t(a)); };
  if (!h.takeViewPosition)
    h.takeViewPosition = [] {
      STOCKPOS p{STOCK::iViewTop, STOCK::fileheader.posSaved.level};
      if (hitemRoot) GetPos(&p);
      return p;
    };
  if (!h.relaid)
    h.relaid = [] {
      if (gBusy == 0 && hitemRoot && STOCK::fValid) Initialize(0);
    };
  if (!stockPropHooks.rebuildTree) stockPropHooks.rebuildTree = [] { Initialize(0); };
}

void TREE::Rebuilt(int mode) {
  // Step 6 of a build: back to the saved position (a saved level 1 on a
  // connect line means the call), else the newest line.
  if (!hitemRoot) return;
  const STOCKPOS saved = STOCK::fileheader.posSaved;
  if (!Live(saved.item) || !GoTo(&saved, 1)) {
    Select(hitemRoot);
    if (hooks.select) hooks.select(hitemRoot);
  }
  if (mode == 0) Notify(TREEMSG_REBUILT, uintptr_t(-1));
}

// ---- selection and positions ----

bool TREE::NodeLines(const TREENODE* n, int* first, int* last) {
  if (!n || !STOCK::fValid || STOCK::UsedItems() <= 0) return false;
  switch (n->kind) {
    case TREENODE::ROOT:
      *first = cvOldest;
      *last = cvNewest;
      return true;
    case TREENODE::PAST:
      if (!Live(cvTreeOldest) || STOCK::Flat(cvTreeOldest) == 0) return false;
      *first = cvOldest;
      *last = STOCK::AddIndex(cvTreeOldest, -1);
      return true;
    case TREENODE::GROUP:
      if (n->children.empty()) return false;
      *first = n->children.front()->line;
      *last = GetTagBottom(n->children.back()->line);
      return Live(*first);
    default:
      if (!Live(n->line)) return false;
      *first = n->line;
      *last = GetTagBottom(n->line);
      return true;
  }
}

TREENODE* TREE::FindNode(int line) {
  if (!hitemRoot || !Live(line)) return nullptr;
  return FindIn(hitemRoot, line);
}

void TREE::Select(TREENODE* node) {
  hitemSelected = node;
  if (node) SetScrollableArea(node->line);
}

void TREE::SetScrollableArea(int line) {
  int first = -1, last = -1;
  if (hitemSelected && hitemSelected->line == line && NodeLines(hitemSelected, &first, &last)) {
  } else if (line < 0 || !Live(line)) {
    if (!STOCK::fValid) return;
    first = cvOldest;
    last = cvNewest;
  } else {
    first = line;
    last = GetTagBottom(line);
  }
  if (hooks.setScrollableArea) hooks.setScrollableArea(first, last, -1);
}

void TREE::GetPos(STOCKPOS* p) {
  p->item = hooks.viewTop ? hooks.viewTop() : STOCK::iViewTop;
  p->level = -1;
  const TREENODE* n = hitemSelected;
  if (!n || !STOCK::fValid) return;
  int first, last;
  if (n->kind == TREENODE::CALL)
    p->level = -2;
  else if (n->kind == TREENODE::TAG)
    p->level = n->level;
  // The position names the node: a view top outside its lines is replaced
  // by its first line.
  if (p->level != -1 && NodeLines(n, &first, &last) &&
      (!Live(p->item) || Before(p->item, first) || Before(last, p->item)))
    p->item = first;
}

void TREE::SaveCurPos() {
  STOCKPOS p;
  GetPos(&p);
  STOCK::fileheader.posSaved = p;
}

int TREE::GoTo(const STOCKPOS* p, int show) {
  if (fPreventGoTo || !hitemRoot || !p) return 0;
  TREENODE* target = hitemRoot;
  int found = 0;
  if (Live(p->item)) {
    if (hitemPast && Before(p->item, cvTreeOldest)) {
      target = hitemPast;
      found = 1;
    } else if (p->level == -1) {
      found = 1;
    } else {
      CODEVRAM cv = p->item;
      for (;;) {
        const int t = ValidTag(cv);
        if (t == TAG_CONNECT) {
          if (p->level <= 1) {
            if (TREENODE* n = FindNode(cv)) target = n, found = 1;
          }
          break;
        }
        if (t >= TAG_FIRST_RULE && GetLevel(cv) == p->level) {
          if (TREENODE* n = FindNode(cv)) target = n, found = 1;
          break;
        }
        if (cv.IsOldest()) break;
        --cv;
      }
    }
  }
  hitemSelected = target;
  if (hooks.select) hooks.select(target);
  if (show) SetScrollableArea(target->line);
  return found;
}

int TREE::GoToFast(const STOCKPOS* p, int show) {
  if (fPreventGoTo || !p || !STOCK::fValid) return 0;
  if (p->level == -1 || !Live(p->item)) {
    TREENODE* target = hitemPast && Live(p->item) && Before(p->item, cvTreeOldest) ? hitemPast : hitemRoot;
    hitemSelected = target;
    if (target && hooks.select) hooks.select(target);
    if (target && show) SetScrollableArea(target->line);
    return 1;
  }
  const int level = std::max(0, p->level);
  auto bounds = [&](CODEVRAM cv) {
    const int t = ValidTag(cv);
    if (t == TAG_CONNECT) return true;
    return t >= TAG_FIRST_RULE && GetLevel(cv) <= level;
  };
  CODEVRAM first = p->item;
  while (!bounds(first) && !first.IsOldest()) --first;
  CODEVRAM last = p->item;
  while (!last.IsNewest()) {
    CODEVRAM next = last;
    ++next;
    if (bounds(next)) break;
    last = next;
  }
  if (show && hooks.setScrollableArea) hooks.setScrollableArea(first, last, p->item);
  return 1;
}

// ---- removing ----

int TREE::Delete(int before, int ask, int force) {
  if (!STOCK::fValid) return 0;
  if (force) {
    // The terminal's clear command: everything, also on line.
    if (ask && !Ask("全体（の中身だけ）をクリアしてもいいですか？（ストックファイル自体は削除しません）")) return 0;
    const bool online = Online();
    const std::string connect = online ? NewestConnectText() : std::string();
    const int was = STOCK::fWriteEnabled;
    if (!was && !STOCK::EnableWrite(1, 1)) return 0;
    if (hooks.pausePort) hooks.pausePort(true);
    {
      Busy busy;
      STOCK::Delete(cvOldest, STOCK::UsedItems());
      if (online && !connect.empty()) {
        WriteLogicalLine(connect, STOCK_MARK_CONNECT);
        CODEVRAM(cvNewest).LineFeed();
      }
      ViewToNewest();
    }
    // The rebuild takes the rewritten connect line in as the call.
    Initialize(0);
    if (online && !connect.empty() && TAGMAKER::fTagQueryActive) TAGMAKER::RestartQuery();
    if (hooks.pausePort) hooks.pausePort(false);
    STOCK::Save();
    if (!was) STOCK::EnableWrite(0, 0);
    return 1;
  }
  if (Online()) {
    Tell(kOnline);
    return 0;
  }
  TREENODE* n = hitemSelected ? hitemSelected : hitemRoot;
  if (!n) return 0;
  int first, last;
  if (n->kind == TREENODE::ROOT) {
    if (before) return 0;
    int choice = 2;
    if (ask) {
      if (hooks.rootChoice)
        choice = hooks.rootChoice(jcode::SjisToUtf8(n->title));
      else
        choice = Ask("全体（の中身だけ）をクリアしてもいいですか？（ストックファイル自体は削除しません）") ? 2 : 0;
    }
    if (choice == 1) return DeleteStockFile(STOCK::szFileName, 0);
    if (choice != 2) return 0;
    return RemoveLines(cvOldest, STOCK::UsedItems()) ? 1 : 0;
  }
  if (n->kind == TREENODE::PAST) {
    if (before || !NodeLines(n, &first, &last)) return 0;
    if (ask && !Ask("「昔の分」を削除してもいいですか？")) return 0;
    return RemoveLines(first, STOCK::Flat(last) + 1) ? 1 : 0;
  }
  if (!NodeLines(n, &first, &last)) return 0;
  if (before) {
    if (STOCK::Flat(first) == 0) return 0;
    if (ask && !Ask(TitleUtf8(n) + "より前の部分を削除してもいいですか？")) return 0;
    return RemoveLines(cvOldest, STOCK::Flat(first)) ? 1 : 0;
  }
  if (ask && !Ask(TitleUtf8(n) + "を削除してもいいですか？")) return 0;
  return RemoveLines(first, STOCK::Flat(last) - STOCK::Flat(first) + 1) ? 1 : 0;
}

int TREE::DeleteStockFile(const std::string& path, int ask) {
  if (path.empty()) return 0;
  const std::string name = std::filesystem::path(path).filename().string();
  if (ask && !Ask(jcode::SjisToUtf8(name) + " のストックファイルを削除してもいいですか？")) return 0;
  const bool current = STOCK::fValid && !STOCK::fTemp && std::filesystem::path(path) == STOCK::szFileName;
  if (!current && STOCK::IsOtherQuillnetSharing(path)) {
    Tell(jcode::SjisToUtf8(path) + "は他のQuillnetが使用中です。");
    return 0;
  }
  if (current) {
    if (Online()) {
      Tell(kOnline);
      return 0;
    }
    STOCK::Close();
  }
  const QString q = QString::fromStdString(jcode::SjisToUtf8(path));
  bool gone = hooks.trash ? hooks.trash(path) : QFile::moveToTrash(q);
  if (!gone && !hooks.trash) gone = QFile::remove(q);
  if (!gone) Tell(jcode::SjisToUtf8(path) + "の削除に失敗しました。");
  if (current && STOCK::StockFile2 == path) STOCK::StockFile2.clear();
  StockFileDeleted(path);
  if (current && !gone) {
    // The file is still there: open it again rather than lose the stock.
    if (STOCK::Open(path)) Initialize(0);
  }
  return gone ? 1 : 0;
}

void TREE::StockFileDeleted(const std::string& path) {
  // The current stock goes only once its file is really gone; then another
  // one (or the temporary stock) takes over.
  if (access(path.c_str(), F_OK) != 0) {
    if (STOCK::fValid && STOCK::szFileName == path) STOCK::Close();
    if (!STOCK::fValid) {
      OpenAnyStockFile();
      Initialize(0);
    }
  }
  if (hooks.stockListChanged) hooks.stockListChanged();
}

void TREE::NotifyOverwrite(CODEVRAM line) {
  if (!hitemRoot) return;
  TREEMODEL& m = Model();
  // A call before the shown window: "昔の分..." goes when it was its last.
  if (hitemPast && Before(line, cvTreeOldest)) {
    bool more = false;
    for (CODEVRAM cv = line; Before(cv, cvTreeOldest) && !cv.IsNewest();) {
      ++cv;
      if (Before(cv, cvTreeOldest) && cv.Tag() == TAG_CONNECT) {
        more = true;
        break;
      }
    }
    if (!more) {
      if (Contains(hitemPast, hitemSelected)) hitemSelected = hitemRoot;
      m.Remove(hitemPast);
      hitemPast = nullptr;
    }
    return;
  }
  // The first shown call.
  TREENODE* firstCall = nullptr;
  for (auto& c : hitemRoot->children) {
    if (c->kind == TREENODE::PAST) continue;
    firstCall = c->kind == TREENODE::GROUP ? (c->children.empty() ? nullptr : c->children.front().get()) : c.get();
    break;
  }
  if (!firstCall || firstCall->line != line.i) return;
  TREENODE* group = firstCall->parent != hitemRoot ? firstCall->parent : nullptr;
  TREENODE* gone = group && group->children.size() == 1 ? group : firstCall;
  if (Contains(gone, hitemSelected)) hitemSelected = hitemRoot;
  m.Remove(gone);
  if (group && gone != group) {
    group->count = int(group->children.size());
    group->line = group->children.front()->line;
    group->title = GroupTitleOf(group);
    m.Changed(group);
  }
  bool anyCall = false;
  for (auto& c : hitemRoot->children) anyCall = anyCall || c->kind != TREENODE::PAST;
  // The call being received lost its connect line: its lines are added to
  // no node until the next call.
  if (!anyCall) fPreventAdd = 1;
  if (cvWaiting >= 0 && !Before(line, cvWaiting)) cvWaiting = -1;
}

// ---- copy and paste ----

int TREE::CopyToClipboard(int quote) {
  int first, last;
  if (!CopyRange(&first, &last)) return 0;
  const STOCKCLIP clip = clipboard::CopyLines(first, last, 0, -1, quote ? jcode::Utf8ToSjis(QuotePrefix()) : "");
  if (!clipboard::Put(clip)) return 0;
  return 1;
}

int TREE::SaveToTextFile(const std::string& pathIn) {
  int first, last;
  if (!CopyRange(&first, &last)) return 0;
  std::string path = pathIn;
  if (path.empty()) path = ui::Current().ChooseFile("ファイルに保存", "", "テキストファイル (*.txt);;すべてのファイル (*)", true);
  if (path.empty()) return 0;
  const STOCKCLIP clip = clipboard::CopyLines(first, last, 0, -1, "");
  std::string out;
  out.reserve(clip.sjis.size() + clip.info.size());
  for (char c : clip.sjis) {
    if (c == '\n') out += '\r';
    out += c;
  }
  const std::string tmp = path + ".part";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(out.data(), std::streamsize(out.size()));
    f.flush();
    if (!f) {
      f.close();
      unlink(tmp.c_str());
      Tell(path + "への書き込みに失敗しました。", ui::MB_ICONERROR);
      return 0;
    }
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    Tell(path + "への書き込みに失敗しました。", ui::MB_ICONERROR);
    return 0;
  }
  return 1;
}

int TREE::Cut() {
  if (Online()) {
    Tell(kOnline);
    return 0;
  }
  int first, last;
  if (!CopyRange(&first, &last)) return 0;
  const STOCKCLIP clip = clipboard::CopyLines(first, last, 0, -1, "");
  if (!clipboard::Put(clip)) return 0;
  // Only what the clipboard really holds may be deleted.
  STOCKCLIP back;
  if (!clipboard::Get(&back) || back.sjis != clip.sjis) return 0;
  return Delete(0, 0, 0);
}

int TREE::Paste() {
  if (Online()) {
    Tell(kOnline);
    return 0;
  }
  STOCKCLIP clip;
  if (!clipboard::Get(&clip) || clip.sjis.empty()) return 0;
  return PasteClip(clip);
}

int TREE::PasteClip(const STOCKCLIP& clip) {
  if (Online()) {
    Tell(kOnline);
    return 0;
  }
  if (!STOCK::fValid || STOCK::fTemp) return 0;
  const std::vector<clipboard::PLAINLINE> lines = clipboard::SplitLines(clip.sjis);
  if (lines.empty()) return 0;
  const bool ownCall = clip.hasInfo && !clip.info.empty() && static_cast<unsigned char>(clip.info[0]) == STOCK_MARK_CONNECT;
  const std::string connect = ownCall ? lines[0].text : PasteConnectText();
  long long need = clipboard::SlotsOfLine(connect, STOCK::cColumn) + 1;
  for (size_t k = ownCall ? 1 : 0; k < lines.size(); ++k) need += clipboard::SlotsOfLine(lines[k].text, STOCK::cColumn);
  if (need + 1 > STOCK::cItemMaxMax) {
    Tell("貼り付ける行がストックファイルに入りきりません。");
    return 0;
  }
  const int was = STOCK::fWriteEnabled;
  if (!was && !STOCK::EnableWrite(1, 1)) return 0;
  int call = -1;
  {
    Busy busy;
    STOCK::fDisableNewItemScroll = 1;
    fPreventAdd = 1;
    EnsureCursorLine();
    call = WriteLogicalLine(connect, STOCK_MARK_CONNECT);
    TAGMAKER::StartQuery();
    int inner = -1;
    AppendPlainLines(lines, ownCall ? 1 : 0, clip.info, ownCall ? 1 : 0, false, &inner, false);
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
    STOCK::fDisableNewItemScroll = 0;
    // A copied call goes back to its place in time.
    const long long date = ownCall ? DateValue(call) : -1;
    const int target = date >= 0 ? FirstCallAfter(date, call) : -1;
    if (target >= 0) {
      const int flat = STOCK::Flat(target);
      STOCK::Move(target, call);
      call = STOCK::AddIndex(cvOldest, flat);
    }
    CODEVRAM(cvNewest).LineFeed();
    ViewToNewest();
  }
  fPreventAdd = 0;
  Notify(TREEMSG_PASTED, uintptr_t(call));
  // The rebuild goes to the saved position: the pasted call.
  STOCK::fileheader.posSaved = STOCKPOS{call, -2};
  Initialize(0);
  STOCK::Save();
  if (!was) STOCK::EnableWrite(0, 0);
  return 1;
}

int TREE::PasteFromFile(const std::string& text, const std::string& control, std::string* error) {
  std::string dummy;
  std::string& err = error ? *error : dummy;
  err.clear();
  if (!STOCK::fValid || STOCK::fTemp) return 0;
  std::string info, data;
  {
    std::ifstream f(control, std::ios::binary);
    if (!f) {
      err = "制御情報ファイル（.sti）が見つからないので復元できません。";
      return 0;
    }
    info.assign(std::istreambuf_iterator<char>(f), {});
  }
  if (!CheckBackupInfoHeader(reinterpret_cast<const unsigned char*>(info.data()), info.size(), nullptr)) {
    err = "制御情報ファイルが読めません。";
    return 0;
  }
  {
    std::ifstream f(text, std::ios::binary);
    if (!f) {
      err = text + "が読めません。";
      return 0;
    }
    data.assign(std::istreambuf_iterator<char>(f), {});
  }
  const std::vector<clipboard::PLAINLINE> lines = clipboard::SplitLines(data);
  const size_t marks = info.size() - STOCK_HEADER_SIZE;
  const size_t taken = std::min(lines.size(), marks);
  long long need = 1;
  for (size_t k = 0; k < taken; ++k) need += clipboard::SlotsOfLine(lines[k].text, STOCK::cColumn);
  if (need + 1 > STOCK::cItemMaxMax) {
    err = "貼り付ける行がストックファイルに入りきりません。";
    return 0;
  }
  const int was = STOCK::fWriteEnabled;
  if (!was && !STOCK::EnableWrite(1, 1)) return 0;
  if (hooks.progressBegin) hooks.progressBegin(int(taken / 1000) + 1);
  bool complete;
  int call = -1;
  {
    Busy busy;
    STOCK::fDisableNewItemScroll = 1;
    fPreventAdd = 1;
    complete = AppendPlainLines(lines, 0, info, STOCK_HEADER_SIZE, true, &call, true);
    if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
    STOCK::fDisableNewItemScroll = 0;
    EnsureCursorLine();
    ViewToNewest();
  }
  fPreventAdd = 0;
  if (hooks.progressEnd) hooks.progressEnd();
  Notify(TREEMSG_PASTED, uintptr_t(call));
  Initialize(0);
  STOCK::Save();
  if (!was) STOCK::EnableWrite(0, 0);
  return complete ? 1 : 0;
}

// ---- switching stock files ----

int TREE::ChangeStockFile(const std::string& path) {
  if (Online()) {
    Tell(kOnline);
    return 0;
  }
  return ChangeStockFileSub(path);
}

int TREE::ChangeStockFileSub(const std::string& path) {
  if (path.empty()) return 0;
  if (STOCK::fValid && !STOCK::fTemp && path == STOCK::szFileName) return 1;
  if (STOCK::IsOtherQuillnetSharing(path)) {
    Tell(jcode::SjisToUtf8(path) + "は他のQuillnetが使用中です。");
    return 0;
  }
  if (STOCK::fValid && !STOCK::fTemp && !STOCK::StockFile.empty()) STOCK::StockFile2 = STOCK::StockFile;
  STOCK::Close();
  int ok = STOCK::Open(path);
  if (ok) {
    STOCK::StockFile = path;
  } else {
    OpenAnyStockFile();
  }
  if (hooks.stockNamesChanged) hooks.stockNamesChanged();
  Initialize(0);
  STOCK::CheckOpeningTimeStamp();
  if (hooks.stockListChanged) hooks.stockListChanged();
  return ok ? 1 : 0;
}

// ---- pages ----

int TREE::InsertPage(QWidget* window, int position, const std::string& title, TREEPAGEPROC proc, void* menu) {
  if (int(apage.size()) >= kMaxPages) return 0;
  position = std::clamp(position, 0, int(apage.size()));
  if (hooks.insertTab) hooks.insertTab(window, position, title);
  TREERECT rect = hooks.pageRect ? hooks.pageRect() : TREERECT{};
  const intptr_t placed = proc ? proc(window, TREEMSG_PLACE, 0, reinterpret_cast<intptr_t>(&rect)) : 0;
  if (!placed && hooks.placePage) hooks.placePage(window, rect);
  const bool hadActive = !apage.empty();
  apage.insert(apage.begin() + position, TREEPAGE{window, menu, proc, title});
  if (hadActive && position <= iPageActive) ++iPageActive;
  return 1;
}

int TREE::AddPage(QWidget* window, const std::string& title, TREEPAGEPROC proc, void* menu) {
  return InsertPage(window, int(apage.size()), title, proc, menu);
}

int TREE::DeletePage(QWidget* window) {
  int i = -1;
  for (size_t k = 0; k < apage.size(); ++k)
    if (apage[k].hwnd == window) i = int(k);
  if (i < 0) return 0;
  if (i == iPageActive && i != 0) SetActivePage(0);
  if (hooks.removeTab) hooks.removeTab(i);
  apage.erase(apage.begin() + i);
  if (iPageActive > i) --iPageActive;
  if (iPageActive >= int(apage.size())) iPageActive = 0;
  return 1;
}

int TREE::SetActivePage(int i) {
  if (i < 0 || i >= int(apage.size())) return 0;
  if (i == iPageActive) return 1;
  const int old = iPageActive;
  QWidget* hidden = nullptr;
  if (old >= 0 && old < int(apage.size())) {
    hidden = apage[size_t(old)].hwnd;
    if (apage[size_t(old)].proc) apage[size_t(old)].proc(hidden, TREEMSG_ACTIVATE, 0, 0);
  }
  if (apage[size_t(i)].proc) apage[size_t(i)].proc(apage[size_t(i)].hwnd, TREEMSG_ACTIVATE, 1, 0);
  if (hooks.showPage) hooks.showPage(hidden, apage[size_t(i)].hwnd, i);
  iPageActive = i;
  return 1;
}

void TREE::NotifyToTreePage(unsigned message, uintptr_t param) {
  // A procedure may add or remove pages: walk a copy.
  const std::vector<TREEPAGE> pages = apage;
  for (const TREEPAGE& p : pages)
    if (p.proc) p.proc(p.hwnd, message, param, 0);
}

void TREE::Notify(unsigned message, uintptr_t param) {
  int event = 0;
  switch (message) {
    case TREEMSG_OVERWRITE: event = TREEEVENT_OVERWRITE; break;
    case TREEMSG_ADDED: event = TREEEVENT_ADDED; break;
    case TREEMSG_REBUILT: event = TREEEVENT_REBUILT; break;
    case TREEMSG_CALLBEGAN: event = TREEEVENT_CALLBEGAN; break;
    case TREEMSG_PASTED: event = TREEEVENT_PASTED; break;
    case TREEMSG_TAGARRAY: event = TREEEVENT_TAGARRAY; break;
    default: break;
  }
  if (event && hooks.addinEvent) hooks.addinEvent(event, intptr_t(param));
  NotifyToTreePage(message, param);
}

void TREE::ResetEditForTest() {
  hooks = TREEHOOKS();
  hitemSelected = nullptr;
  fPreventGoTo = 0;
  apage.clear();
  iPageActive = 0;
  clipboard::ResetForTest();
}
