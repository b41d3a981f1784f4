// Building the overall tree from the stock, and the item model over it.
#include "stock/tree_model.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "platform/jcode.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagtemplate.h"
#include "stock/tree.h"

TREENODE* TREE::hitemRoot = nullptr;
TREENODE* TREE::hitemPast = nullptr;
int TREE::fPreventAdd = 0;
int TREE::cvWaiting = -1;
int TREE::TreeStyle = 1;
int TREE::TreeDay = 7;
int TREE::TreeConnect = 15;

namespace {

constexpr int kLevels = 64;
constexpr long long kUndated = LLONG_MIN;

// A tag that names no rule of the loaded syntax counts as none.
int ValidTag(const CODEVRAM& cv) {
  const int t = cv.Tag();
  if (t == TAG_CONNECT) return t;
  if (t >= TAG_FIRST_RULE && t >= tagarray.Count()) return 0;
  return t;
}

const TAGPROP* Rule(int tag) { return TAGMAKER::GetTagProp(tag); }
int FixedLevel(int tag) { return std::max<int>(1, Rule(tag)->level); }

// The level of the nearest fixed-level rule (or call) before a line, and
// whether it has an exit pattern: a variable-level rule counts one deeper
// unless that rule's extent ended at its exit.
struct LevelTrack {
  int fixedLevel = 0;
  bool fixedExit = false;
  int LevelOf(int tag) const {
    if (tag == TAG_CONNECT) return 0;
    if (!Rule(tag)->fVariable) return FixedLevel(tag);
    return fixedLevel + (fixedExit ? 0 : 1);
  }
  void See(int tag) {
    if (tag == TAG_CONNECT) {
      fixedLevel = 0;
      fixedExit = false;
    } else if (!Rule(tag)->fVariable) {
      fixedLevel = FixedLevel(tag);
      fixedExit = TAGMAKER::HaveExit(tag) != 0;
    }
  }
};

constexpr unsigned long long kDay = 864000000000ULL;  // FILETIME units

// The calendar day of a call, kUndated without a date.
long long DayOf(const CODEVRAM& cv) {
  const SYSTEMTIME st = GetDateTimeFromStock(cv);
  if (st.wYear == 2100 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > 31) return kUndated;
  SYSTEMTIME date;
  date.wYear = st.wYear;
  date.wMonth = st.wMonth;
  date.wDay = st.wDay;
  return (long long)(SystemTimeToFileTime(date).Value() / kDay);  // days since 1601-01-01
}

// The group of a call: its day, in week mode the Sunday before it.
long long GroupKey(long long day) {
  if (day == kUndated || TREE::TreeStyle != 2) return day;
  const long long weekday = (day + 1) % 7;  // 1601-01-01 was a Monday; 0 = Sunday
  return day - weekday;
}

std::string GroupTitle(long long key, int count) {
  if (key == kUndated) return jcode::Utf8ToSjis("日付不明");
  const SYSTEMTIME st = FileTimeToSystemTime(FILETIME::FromValue((unsigned long long)(key)*kDay));
  const int m = st.wMonth, d = st.wDay;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d月%s%d日%s (%2d回)", m, d < 10 ? " " : "", d, TREE::TreeStyle == 2 ? "～" : "",
                count);
  return jcode::Utf8ToSjis(buf);
}

bool HasTaggedLine(CODEVRAM connect) {
  CODEVRAM cv = connect;
  while (!cv.IsNewest()) {
    ++cv;
    const int t = ValidTag(cv);
    if (t == TAG_CONNECT) return false;
    if (t >= TAG_FIRST_RULE) return true;
  }
  return false;
}

std::unique_ptr<TREENODE> MakeCall(CODEVRAM connect, int style) {
  auto n = std::make_unique<TREENODE>();
  n->kind = TREENODE::CALL;
  n->line = connect;
  n->title = TREE::GetConnectTitle(connect, style);
  n->built = false;
  n->button = HasTaggedLine(connect);
  return n;
}

// A group of calls given oldest first.
std::unique_ptr<TREENODE> MakeGroup(long long key, const std::vector<int>& calls) {
  auto g = std::make_unique<TREENODE>();
  g->kind = TREENODE::GROUP;
  g->key = key;
  g->line = calls.front();
  g->count = int(calls.size());
  g->title = GroupTitle(key, g->count);
  for (int c : calls) {
    auto call = MakeCall(c, TREE::TreeStyle);
    call->parent = g.get();
    g->children.push_back(std::move(call));
  }
  return g;
}

std::unique_ptr<TREENODE> MakePast() {
  auto p = std::make_unique<TREENODE>();
  p->kind = TREENODE::PAST;
  p->title = jcode::Utf8ToSjis("昔の分...");
  p->button = true;
  return p;
}

// Places the node of a tagged line in a call under construction: under the
// last node of the level above (or the nearest lower level that has one).
// A rule whose title is only the end element makes no node; its level is
// left empty, so what follows hangs under its parent.  `holder` receives the
// call's direct children (the call itself or a stand-in while building).
std::unique_ptr<TREENODE> PlaceTagNode(TREENODE* call, TREENODE* holder, CODEVRAM line, int tag, int level,
                                       TREENODE** parentOut) {
  if (call->lastOfLevel.size() != size_t(kLevels)) call->lastOfLevel.assign(kLevels, nullptr);
  level = std::clamp(level, 1, kLevels - 1);
  TREENODE* parent = holder;
  for (int k = level - 1; k >= 1; --k) {
    if (call->lastOfLevel[size_t(k)]) {
      parent = call->lastOfLevel[size_t(k)];
      break;
    }
  }
  for (int k = level; k < kLevels; ++k) call->lastOfLevel[size_t(k)] = nullptr;
  if (Rule(tag)->abTitle[0] == TITLE_END) return nullptr;
  auto n = std::make_unique<TREENODE>();
  n->kind = TREENODE::TAG;
  n->line = line;
  n->level = level;
  n->title = TREE::GetTagTitle(line);
  call->lastOfLevel[size_t(level)] = n.get();
  *parentOut = parent;
  return n;
}

TREENODE* NewestCall() {
  if (!TREE::hitemRoot || TREE::hitemRoot->children.empty()) return nullptr;
  TREENODE* last = TREE::hitemRoot->children.back().get();
  if (last->kind == TREENODE::GROUP) return last->children.empty() ? nullptr : last->children.back().get();
  return last->kind == TREENODE::CALL ? last : nullptr;
}

// Lines completed after a line (the newest one is still arriving).
int LinesSince(int slot) { return STOCK::Flat(cvNewest) - STOCK::Flat(slot) - 1; }

void AddTagLive(CODEVRAM line) {
  TREENODE* call = NewestCall();
  if (!call || STOCK::Flat(line) < STOCK::Flat(call->line)) return;
  const int tag = ValidTag(line);
  if (tag < TAG_FIRST_RULE) return;
  if (!call->built) {
    if (!call->button) {
      call->button = true;
      TREE::Model().Changed(call);
    }
    return;
  }
  TREENODE* parent = nullptr;
  auto n = PlaceTagNode(call, call, line, tag, TREE::GetLevel(line), &parent);
  if (!n) return;
  call->button = true;
  TREE::Model().Insert(parent, int(parent->children.size()), std::move(n));
  TREE::Notify(TREEMSG_ADDED, uintptr_t(int(line)));
}

void AddCallLive(CODEVRAM line) {
  TREEMODEL& m = TREE::Model();
  TREENODE* root = TREE::hitemRoot;
  auto call = std::make_unique<TREENODE>();
  call->kind = TREENODE::CALL;
  call->line = line;
  call->title = TREE::GetConnectTitle(line, TREE::TreeStyle);
  if (TREE::TreeStyle == 0) {
    m.Insert(root, int(root->children.size()), std::move(call));
    TREE::Notify(TREEMSG_ADDED, uintptr_t(int(line)));
    return;
  }
  const long long key = GroupKey(DayOf(line));
  TREENODE* last = root->children.empty() ? nullptr : root->children.back().get();
  if (last && last->kind == TREENODE::GROUP && last->key == key) {
    m.Insert(last, int(last->children.size()), std::move(call));
    last->count++;
    last->title = GroupTitle(key, last->count);
    m.Changed(last);
    TREE::Notify(TREEMSG_ADDED, uintptr_t(int(line)));
    return;
  }
  auto g = MakeGroup(key, {int(line)});
  m.Insert(root, int(root->children.size()), std::move(g));
  TREE::Notify(TREEMSG_ADDED, uintptr_t(int(line)));
}

void AppendText(const TREENODE* n, int depth, bool lines, std::string* out);

}  // namespace

int TREENODE::Row() const {
  if (!parent) return 0;
  for (size_t k = 0; k < parent->children.size(); ++k)
    if (parent->children[k].get() == this) return int(k);
  return 0;
}

// ---- the model ----

TREEMODEL& TREE::Model() {
  static TREEMODEL* model = new TREEMODEL;  // lives as long as the program
  return *model;
}

QModelIndex TREEMODEL::IndexOf(const TREENODE* node) const {
  if (!node || node == &top) return {};
  return createIndex(node->Row(), 0, const_cast<TREENODE*>(node));
}

static const TREENODE* NodeOf(const TREEMODEL& m, const QModelIndex& i) {
  return i.isValid() ? static_cast<const TREENODE*>(i.internalPointer()) : &m.top;
}

QModelIndex TREEMODEL::index(int row, int column, const QModelIndex& parent) const {
  const TREENODE* p = NodeOf(*this, parent);
  if (column != 0 || row < 0 || !p->built || row >= int(p->children.size())) return {};
  return createIndex(row, 0, p->children[size_t(row)].get());
}

QModelIndex TREEMODEL::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return IndexOf(NodeOf(*this, child)->parent);
}

int TREEMODEL::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const TREENODE* p = NodeOf(*this, parent);
  return p->built ? int(p->children.size()) : 0;
}

int TREEMODEL::columnCount(const QModelIndex&) const { return 1; }

QVariant TREEMODEL::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const TREENODE* n = NodeOf(*this, index);
  if (role == Qt::DisplayRole) return QString::fromStdString(jcode::SjisToUtf8(n->title));
  if (role == LineRole) return n->line;
  return {};
}

bool TREEMODEL::hasChildren(const QModelIndex& parent) const {
  const TREENODE* p = NodeOf(*this, parent);
  if (!p->built || p->kind == TREENODE::PAST) return p->button;
  return !p->children.empty();
}

bool TREEMODEL::canFetchMore(const QModelIndex& parent) const { return !NodeOf(*this, parent)->built; }

void TREEMODEL::fetchMore(const QModelIndex& parent) {
  TREENODE* n = const_cast<TREENODE*>(NodeOf(*this, parent));
  if (n->kind == TREENODE::CALL) TREE::InitChildItems(n);
}

TREENODE* TREEMODEL::Insert(TREENODE* parent, int row, std::unique_ptr<TREENODE> node) {
  TREENODE* raw = node.get();
  if (!parent->built) {  // the view learns of it when the parent is built
    node->parent = parent;
    parent->children.insert(parent->children.begin() + row, std::move(node));
    return raw;
  }
  beginInsertRows(IndexOf(parent), row, row);
  node->parent = parent;
  parent->children.insert(parent->children.begin() + row, std::move(node));
  endInsertRows();
  return raw;
}

void TREEMODEL::Remove(TREENODE* node) {
  TREENODE* parent = node->parent;
  const int row = node->Row();
  beginRemoveRows(IndexOf(parent), row, row);
  parent->children.erase(parent->children.begin() + row);
  endRemoveRows();
}

void TREEMODEL::Changed(TREENODE* node) {
  const QModelIndex i = IndexOf(node);
  emit dataChanged(i, i);
}

void TREEMODEL::Adopt(TREENODE* call, std::vector<std::unique_ptr<TREENODE>> kids) {
  if (kids.empty()) {
    call->built = true;
    return;
  }
  beginInsertRows(IndexOf(call), 0, int(kids.size()) - 1);
  call->built = true;
  for (auto& k : kids) {
    k->parent = call;
    call->children.push_back(std::move(k));
  }
  endInsertRows();
}

// ---- building ----

void TREE::Initialize(int mode) {
  InstallHooks();
  TREEMODEL& m = Model();
  m.BeginReset();
  hitemSelected = nullptr;
  m.top.children.clear();
  hitemRoot = hitemPast = nullptr;
  cvWaiting = -1;
  fPreventAdd = 0;
  TreeStyle = std::clamp(TreeStyle, 0, 2);
  TreeDay = std::clamp(TreeDay, 1, 365);
  TreeConnect = std::clamp(TreeConnect, 1, 1000);
  auto root = std::make_unique<TREENODE>();
  root->kind = TREENODE::ROOT;
  root->title = jcode::Utf8ToSjis(std::filesystem::path(STOCK::szFileName).filename().string());
  root->parent = &m.top;
  hitemRoot = root.get();
  m.top.children.push_back(std::move(root));
  cvTreeOldest = -1;
  if (STOCK::UsedItems() <= 0) {
    m.EndReset();
    Rebuilt(mode);
    return;
  }

  // From the newest call back: the calls of the last TreeDay calendar days,
  // and at least TreeConnect calls (groups); a group is never split.
  std::vector<std::vector<int>> groups;  // newest first, each newest first
  std::vector<long long> keys;
  bool limitSet = false, stopped = false;
  long long limit = 0;
  CODEVRAM cv = cvNewest;
  for (;;) {
    if (cv.Tag() == TAG_CONNECT) {
      const long long day = DayOf(cv);
      if (!limitSet && day != kUndated) {
        limit = day - (TreeDay - 1);
        limitSet = true;
      }
      const long long key = GroupKey(day);
      if (TreeStyle == 0 || groups.empty() || key != keys.back()) {
        const bool older = day == kUndated || !limitSet || day < limit;
        if (older && int(groups.size()) >= TreeConnect) {
          stopped = true;
          break;
        }
        groups.emplace_back();
        keys.push_back(key);
      }
      groups.back().push_back(cv);
    }
    if (cv.IsOldest()) break;
    --cv;
  }
  cvTreeOldest = stopped ? CODEVRAM(groups.back().back()) : cvOldest;
  if (stopped) {
    auto past = MakePast();
    past->parent = hitemRoot;
    hitemPast = past.get();
    hitemRoot->children.push_back(std::move(past));
  }
  for (size_t g = groups.size(); g-- > 0;) {
    std::vector<int> calls(groups[g].rbegin(), groups[g].rend());
    std::unique_ptr<TREENODE> n = TreeStyle == 0 ? MakeCall(calls.front(), 0) : MakeGroup(keys[g], calls);
    n->parent = hitemRoot;
    hitemRoot->children.push_back(std::move(n));
  }
  m.EndReset();
  Rebuilt(mode);
}

void TREE::InitChildItems(TREENODE* call) {
  if (!call || call->built || call->kind != TREENODE::CALL) return;
  call->lastOfLevel.assign(kLevels, nullptr);
  TREENODE holder;
  LevelTrack track;
  CODEVRAM cv = call->line;
  while (!cv.IsNewest()) {
    ++cv;
    const int tag = ValidTag(cv);
    if (tag == TAG_CONNECT) break;
    if (tag < TAG_FIRST_RULE) continue;
    const int level = track.LevelOf(tag);
    track.See(tag);
    TREENODE* parent = nullptr;
    auto n = PlaceTagNode(call, &holder, cv, tag, level, &parent);
    if (!n) continue;
    n->parent = parent;
    parent->children.push_back(std::move(n));
  }
  call->button = !holder.children.empty();
  Model().Adopt(call, std::move(holder.children));
}

void TREE::ExpandPastOne() {
  if (!hitemPast) return;
  TREEMODEL& m = Model();
  std::vector<int> calls;  // newest first
  long long key = 0;
  bool more = false;
  CODEVRAM cv = cvTreeOldest;
  while (!cv.IsOldest()) {
    --cv;
    if (cv.Tag() != TAG_CONNECT) continue;
    const long long k = GroupKey(DayOf(cv));
    if (calls.empty()) {
      key = k;
    } else if (TreeStyle == 0 || k != key) {
      more = true;
      break;
    }
    calls.push_back(cv);
  }
  if (!calls.empty()) {
    std::vector<int> oldestFirst(calls.rbegin(), calls.rend());
    auto n = TreeStyle == 0 ? MakeCall(oldestFirst.front(), 0) : MakeGroup(key, oldestFirst);
    cvTreeOldest = oldestFirst.front();
    m.Insert(hitemRoot, hitemPast->Row() + 1, std::move(n));
  }
  if (!more) {
    if (hitemSelected == hitemPast) hitemSelected = hitemRoot;
    m.Remove(hitemPast);
    hitemPast = nullptr;
    cvTreeOldest = cvOldest;
  }
}

void TREE::ExpandPastAll() {
  while (hitemPast) ExpandPastOne();
}

void TREE::CollapsePast() { Initialize(2); }

// ---- on line ----

void TREE::Add(CODEVRAM line, int force) {
  if (!hitemRoot) return;
  const int tag = ValidTag(line);
  if (tag < TAG_CONNECT) return;
  if (fPreventAdd) {
    if (tag != TAG_CONNECT) return;
    fPreventAdd = 0;
    cvTreeOldest = line;
  }
  if (cvWaiting >= 0) {
    const int w = cvWaiting;
    cvWaiting = -1;
    AddTagLive(w);
  }
  if (tag == TAG_CONNECT) {
    AddCallLive(line);
    return;
  }
  if (!force) {
    const int need = Rule(tag)->cTitleLine;
    if (need == 0xFF || LinesSince(line) < need) {
      cvWaiting = line;
      return;
    }
  }
  AddTagLive(line);
}

void TREE::NotifyNewLine() {
  if (cvWaiting < 0 || !hitemRoot) return;
  const int tag = ValidTag(cvWaiting);
  if (tag < TAG_FIRST_RULE) {
    cvWaiting = -1;
    return;
  }
  const int need = Rule(tag)->cTitleLine;
  if (need == 0xFF || LinesSince(cvWaiting) < need) return;
  const int w = cvWaiting;
  cvWaiting = -1;
  AddTagLive(w);
}

void TREE::NotifyHangup() {
  if (cvWaiting < 0) return;
  const int w = cvWaiting;
  cvWaiting = -1;
  if (hitemRoot) AddTagLive(w);
}

std::string TREE::GroupTitleOf(const TREENODE* group) { return GroupTitle(group->key, group->count); }

// ---- levels and extents ----

int TREE::GetLevel(CODEVRAM line) {
  CODEVRAM cv = line;
  int tag = ValidTag(cv);
  while (tag < TAG_CONNECT) {
    if (cv.IsOldest()) return -1;
    --cv;
    tag = ValidTag(cv);
  }
  if (tag == TAG_CONNECT) return 0;
  if (!Rule(tag)->fVariable) return FixedLevel(tag);
  while (!cv.IsOldest()) {
    --cv;
    const int t = ValidTag(cv);
    if (t == TAG_CONNECT) return 1;
    if (t >= TAG_FIRST_RULE && !Rule(t)->fVariable) return FixedLevel(t) + (TAGMAKER::HaveExit(t) ? 0 : 1);
  }
  return 1;
}

int TREE::GetTagBottom(CODEVRAM line) {
  CODEVRAM t = line;
  int tag = ValidTag(t);
  while (tag < TAG_CONNECT) {
    if (t.IsOldest()) return line;
    --t;
    tag = ValidTag(t);
  }
  const bool variable = tag != TAG_CONNECT && Rule(tag)->fVariable;
  if (variable && !TAGMAKER::HaveExit(tag)) return t;
  const int level = variable ? 0 : (tag == TAG_CONNECT ? 0 : FixedLevel(tag));
  LevelTrack track;
  track.See(tag);
  CODEVRAM cv = t;
  while (!cv.IsNewest()) {
    CODEVRAM next = cv;
    ++next;
    const int nt = ValidTag(next);
    if (nt == TAG_CONNECT) return cv;
    if (nt >= TAG_FIRST_RULE) {
      if (variable) return cv;  // a variable rule with an exit: up to the next tagged line
      if (track.LevelOf(nt) <= level) return cv;
      track.See(nt);
    }
    cv = next;
  }
  return cv;
}

// ---- as text ----

namespace {

void AppendText(const TREENODE* n, int depth, bool lines, std::string* out) {
  out->append(size_t(depth) * 2, ' ');
  out->append(jcode::SjisToUtf8(n->title));
  if (lines) {
    if (n->line < 0 || n->kind == TREENODE::ROOT || n->kind == TREENODE::PAST) {
      out->append("\t-\t-");
    } else {
      int bottomOf = n->line;
      if (n->kind == TREENODE::GROUP && !n->children.empty()) bottomOf = n->children.back()->line;
      *out += "\t" + std::to_string(STOCK::Flat(n->line)) + "\t" +
              std::to_string(STOCK::Flat(TREE::GetTagBottom(bottomOf)));
    }
  }
  *out += '\n';
  if (n->kind == TREENODE::CALL && !n->built) TREE::InitChildItems(const_cast<TREENODE*>(n));
  for (const auto& c : n->children) AppendText(c.get(), depth + 1, lines, out);
}

}  // namespace

std::string TREE::Text(bool lines) {
  std::string out;
  if (hitemRoot) AppendText(hitemRoot, 0, lines, &out);
  return out;
}
