#include "script/var.h"

#include <vector>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "script/value.h"
#include "script/varfile.h"

namespace {
// The file the permanent variables came from, and their values as last
// loaded or saved (stored names with the "%").
std::string permanentPath;
std::unordered_map<std::string, std::string> permanentSaved;
}  // namespace

VAR::ORDERED<std::string> VAR::strings_;
VAR::ORDERED<int32_t> VAR::numbers_;
size_t VAR::bytes_ = 0;
uint64_t VAR::generation_ = 0;
bool VAR::fPermanentChanged = false;
std::function<void()> VAR::onChange;
std::function<void()> VAR::onPermanentChange;

namespace {

// Bytes a variable counts against the limit: its name, its value and the
// bookkeeping of one map entry.
constexpr size_t kEntryOverhead = 64;

template <typename MAP>
auto Find(MAP& m, std::string_view name) {
  return m.index.find(name);
}

}  // namespace

std::string VAR::GetVar(std::string_view name) {
  auto it = Find(strings_, name);
  return it == strings_.index.end() ? std::string() : it->second->second;
}

int32_t VAR::GetNumVar(std::string_view name) {
  auto it = Find(numbers_, name);
  return it == numbers_.index.end() ? 0 : it->second->second;
}

bool VAR::SetVar(std::string_view name, std::string_view value) {
  value = CutSjis(value, MAX_VALUE);
  auto it = Find(strings_, name);
  if (value.empty()) {
    if (it != strings_.index.end()) {
      bytes_ -= it->second->first.size() + it->second->second.size() + kEntryOverhead;
      auto item = it->second;
      strings_.index.erase(it);
      strings_.items.erase(item);
      ++generation_;
    }
  } else if (it != strings_.index.end()) {
    const size_t old = it->second->second.size();
    if (value.size() > old && bytes_ + value.size() - old > MAX_BYTES) return false;
    bytes_ = bytes_ - old + value.size();
    it->second->second.assign(value);
  } else {
    const size_t need = name.size() + value.size() + kEntryOverhead;
    if (bytes_ + need > MAX_BYTES) return false;
    strings_.items.emplace_back(std::string(name), std::string(value));
    auto item = std::prev(strings_.items.end());
    strings_.index.emplace(item->first, item);
    bytes_ += need;
  }
  if (!name.empty() && name[0] == '%') MarkPermanent();
  if (onChange) onChange();
  return true;
}

bool VAR::SetNumVar(std::string_view name, int32_t value) {
  auto it = Find(numbers_, name);
  if (value == 0) {
    if (it != numbers_.index.end()) {
      bytes_ -= it->second->first.size() + 4 + kEntryOverhead;
      auto item = it->second;
      numbers_.index.erase(it);
      numbers_.items.erase(item);
      ++generation_;
    }
  } else if (it != numbers_.index.end()) {
    it->second->second = value;
  } else {
    const size_t need = name.size() + 4 + kEntryOverhead;
    if (bytes_ + need > MAX_BYTES) return false;
    numbers_.items.emplace_back(std::string(name), value);
    auto item = std::prev(numbers_.items.end());
    numbers_.index.emplace(item->first, item);
    bytes_ += need;
  }
  if (onChange) onChange();
  return true;
}

void VAR::Clear() {
  std::vector<std::string> names;
  for (auto& [n, v] : strings_.items)
    if (n.empty() || n[0] != '%') names.push_back(n);
  for (const std::string& n : names) SetVar(n, "");
  names.clear();
  for (auto& [n, v] : numbers_.items) names.push_back(n);
  for (const std::string& n : names) SetNumVar(n, 0);
}

void VAR::ClearLocal(char c) {
  std::vector<std::string> names;
  for (auto& [n, v] : strings_.items)
    if (!n.empty() && n[0] == c) names.push_back(n);
  for (const std::string& n : names) SetVar(n, "");
  names.clear();
  for (auto& [n, v] : numbers_.items)
    if (!n.empty() && n[0] == c) names.push_back(n);
  for (const std::string& n : names) SetNumVar(n, 0);
}

void VAR::ForEach(const std::function<void(const std::string&, const std::string&, bool)>& f) {
  for (auto& [n, v] : strings_.items) f(n, v, false);
  for (auto& [n, v] : numbers_.items) f(n, std::to_string(v), true);
}

size_t VAR::Count() { return strings_.items.size() + numbers_.items.size(); }

void VAR::Reset() {
  strings_.index.clear();
  strings_.items.clear();
  numbers_.index.clear();
  numbers_.items.clear();
  bytes_ = 0;
  ++generation_;
  fPermanentChanged = false;
  onChange = nullptr;
  onPermanentChange = nullptr;
  permanentPath.clear();
  permanentSaved.clear();
}

std::string* VAR::FindString(std::string_view name) {
  auto it = Find(strings_, name);
  return it == strings_.index.end() ? nullptr : &it->second->second;
}

int32_t* VAR::FindNumber(std::string_view name) {
  auto it = Find(numbers_, name);
  return it == numbers_.index.end() ? nullptr : &it->second->second;
}

bool VAR::ReplaceString(std::string* slot, std::string_view value, bool permanent) {
  value = CutSjis(value, MAX_VALUE);
  const size_t old = slot->size();
  if (value.size() > old && bytes_ + value.size() - old > MAX_BYTES) return false;
  bytes_ = bytes_ - old + value.size();
  slot->assign(value);
  if (permanent) MarkPermanent();
  if (onChange) onChange();
  return true;
}

void VAR::ReplaceNumber(int32_t* slot, int32_t value) {
  *slot = value;
  if (onChange) onChange();
}

char LocalPrefix(int level) {
  // "0" + 16 would be "@", the globals' own character: levels 16-20 go on
  // with "A" instead.
  return level <= 15 ? static_cast<char>('0' + level) : static_cast<char>('A' + level - 16);
}

size_t VarNameLength(std::string_view written) {
  if (written.size() <= VAR::MAX_NAME) return written.size();
  size_t cut = 0;
  while (cut < written.size()) {
    const size_t n = jcode::IsKanji1(static_cast<unsigned char>(written[cut])) && cut + 1 < written.size() ? 2 : 1;
    if (cut + n > VAR::MAX_NAME) break;
    cut += n;
  }
  return cut;
}

void FormVarNameInto(std::string& out, std::string_view written, int level, std::string_view subscripts) {
  const size_t cut = VarNameLength(written);
  out.assign(written.data(), cut);
  if (!out.empty() && out[0] == '#') out[0] = LocalPrefix(level);
  out.append(subscripts);
}

std::string FormVarName(std::string_view written, int level, std::string_view subscripts) {
  std::string name;
  FormVarNameInto(name, written, level, subscripts);
  return name;
}

bool VAR::LoadPermanentVar(const std::string& path) {
  const std::string file = path.empty() ? varfile::DefaultPath() : path;
  std::vector<std::pair<std::string, std::string>> read;
  varfile::REPORT report;
  std::string error;
  if (!varfile::Load(file, read, &report, &error)) {
    DebugLogF("variable file: %s\n", error.c_str());
    return false;
  }
  if (report.badLines)
    DebugLogF("variable file %s: %d lines skipped, the first at line %d\n", file.c_str(), report.badLines,
             report.firstBadLine);
  permanentPath = file;
  permanentSaved.clear();
  for (auto& [stored, value] : read) {
    const std::string name = "%" + stored;
    if (!SetVar(name, value)) break;  // the store is full
    permanentSaved[name] = GetVar(name);
  }
  fPermanentChanged = false;
  return true;
}

bool VAR::SavePermanentVar(std::string* error) {
  if (permanentPath.empty() || !fPermanentChanged) return true;
  std::vector<varfile::CHANGE> changes;
  std::unordered_map<std::string, std::string> now;
  for (auto& [n, v] : strings_.items) {
    if (n.empty() || n[0] != '%') continue;
    now.emplace(n, v);
    auto it = permanentSaved.find(n);
    if (it == permanentSaved.end() || it->second != v) changes.emplace_back(n.substr(1), v);
  }
  for (auto& [n, v] : permanentSaved)
    if (!now.count(n)) changes.emplace_back(n.substr(1), std::nullopt);
  std::string why;
  if (!varfile::Apply(permanentPath, changes, &why)) {
    DebugLogF("variable file: %s\n", why.c_str());
    if (error) *error = why;
    return false;  // still changed: the next save tries again
  }
  permanentSaved = std::move(now);
  fPermanentChanged = false;
  return true;
}

const std::string& VAR::PermanentFile() { return permanentPath; }
