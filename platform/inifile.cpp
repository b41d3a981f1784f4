#include "platform/inifile.h"

#include <algorithm>
#include <strings.h>

namespace {
const char kBom[] = "\xEF\xBB\xBF";  // UTF-8 byte-order mark

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}
}  // namespace

INIFILE INIFILE::Parse(std::string_view text) {
  INIFILE ini;
  if (text.starts_with(kBom)) text.remove_prefix(3);
  ini.sections.push_back({});
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = Trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      ini.sections.push_back({std::string(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    size_t eq = line.find('=');
    if (line.front() == ';' || eq == std::string_view::npos || Trim(line.substr(0, eq)).empty()) {
      ini.sections.back().lines.push_back({"", std::string(line)});
      continue;
    }
    ini.sections.back().lines.push_back({std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
  }
  return ini;
}

std::string INIFILE::Format() const {
  std::string out;
  for (size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    if (i > 0) out += "[" + s.name + "]\n";
    for (const Line& l : s.lines) out += l.key.empty() ? l.value + "\n" : l.key + "=" + l.value + "\n";
    if (i > 0 || !s.lines.empty()) out += "\n";
  }
  // The reader drops a byte-order mark at the start of the file; a first line
  // that itself begins with those bytes (a stray mark the reader kept because
  // it did not open the file) gets one in front so it reads back unchanged.
  if (out.starts_with(kBom)) out.insert(0, kBom);
  return out;
}

INIFILE::Section* INIFILE::Find(const std::string& name) {
  for (size_t i = 1; i < sections.size(); ++i)
    if (SameName(sections[i].name, name)) return &sections[i];
  return nullptr;
}

const INIFILE::Section* INIFILE::Find(const std::string& name) const {
  return const_cast<INIFILE*>(this)->Find(name);
}

bool INIFILE::HasSection(const std::string& section) const { return Find(section) != nullptr; }

bool INIFILE::Get(const std::string& section, const std::string& key, std::string& value) const {
  // Duplicate sections read as one, the first occurrence of a key winning.
  for (size_t i = 1; i < sections.size(); ++i) {
    if (!SameName(sections[i].name, section)) continue;
    for (const Line& l : sections[i].lines)
      if (!l.key.empty() && SameName(l.key, key)) {
        value = l.value;
        return true;
      }
  }
  return false;
}

std::vector<std::string> INIFILE::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  for (size_t i = 1; i < sections.size(); ++i) {
    if (!SameName(sections[i].name, section)) continue;
    for (const Line& l : sections[i].lines) {
      if (l.key.empty()) continue;
      if (std::none_of(keys.begin(), keys.end(), [&](const std::string& k) { return SameName(k, l.key); }))
        keys.push_back(l.key);
    }
  }
  return keys;
}

void INIFILE::Set(const std::string& section, const std::string& key, const std::string& value) {
  if (sections.empty()) sections.push_back({});
  Section* s = Find(section);
  if (!s) {
    sections.push_back({section, {}});
    s = &sections.back();
  }
  for (Line& l : s->lines)
    if (!l.key.empty() && SameName(l.key, key)) {
      l.value = value;
      return;
    }
  s->lines.push_back({key, value});
}

void INIFILE::Remove(const std::string& section, const std::string& key) {
  for (size_t i = 1; i < sections.size(); ++i) {
    if (!SameName(sections[i].name, section)) continue;
    auto& lines = sections[i].lines;
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const Line& l) { return !l.key.empty() && SameName(l.key, key); }),
                lines.end());
  }
}

void INIFILE::RemoveSection(const std::string& section) {
  if (sections.empty()) return;
  sections.erase(std::remove_if(sections.begin() + 1, sections.end(),
                                [&](const Section& s) { return SameName(s.name, section); }),
                 sections.end());
}
