// A private profile ("ini") file in memory: sections of key=value lines, in
// file order.  Section and key names match without regard to ASCII case, as
// such files are usually read.  Lines that are neither a section, a key nor a
// comment are kept where they are and ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class INIFILE {
 public:
  static INIFILE Parse(std::string_view text);
  std::string Format() const;

  bool Get(const std::string& section, const std::string& key, std::string& value) const;
  // Keys of a section in file order (the first of duplicates only).
  std::vector<std::string> Keys(const std::string& section) const;
  bool HasSection(const std::string& section) const;
  // Replaces the value or appends the key (and the section) at the end.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  void Remove(const std::string& section, const std::string& key);
  void RemoveSection(const std::string& section);

 private:
  struct Line {
    std::string key, value;  // key empty: an unparsed line kept in `value`
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  std::vector<Section> sections;  // sections[0] holds lines before any header
  Section* Find(const std::string& name);
  const Section* Find(const std::string& name) const;
};
