// The settings store on disk: a tree of keys holding typed values, kept in a
// text file in the form of a registry export (UTF-8):
//
//   Windows Registry Editor Version 5.00
//
//   [Software\Tallowood\Quillnet95\Config]
//   "LineBuffer"=dword:00002710
//   "Quote"="> "
//   "ModemProp"=hex:01,02,ff
//
// Strings escape "\" and the double quote with a backslash; a string holding
// a line break or another control byte is written as hex(1): (UTF-16LE with
// its terminating NUL), as a registry export would.  Other hex(n): types are
// kept as they are.  Lines starting with ";" are comments.
//
// Several running instances share the file.  Changes made through one
// SETTINGSFILE are remembered as a list of operations; Flush() takes the
// advisory lock, reads the file again, applies only those operations to what it
// finds, and replaces the file atomically.  So two instances that change
// different values both keep their change, and a kill at any moment leaves the
// old or the new file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class SETTINGSFILE {
 public:
  enum : uint32_t { T_SZ = 1, T_BINARY = 3, T_DWORD = 4 };
  struct Value {
    uint32_t type = T_SZ;
    uint32_t dword = 0;  // T_DWORD
    std::string data;    // T_SZ: UTF-8 text; other types: the raw bytes
    bool operator==(const Value&) const = default;
  };
  using Values = std::map<std::string, Value>;  // value name -> value
  using Tree = std::map<std::string, Values>;   // key path ("A\B\C") -> values

  // What a parse found wrong: how many lines were skipped, and the first one.
  struct Report {
    int badLines = 0;
    int firstBadLine = 0;
  };
  static Tree Parse(std::string_view text, Report* report = nullptr);
  static std::string Format(const Tree& tree);

  explicit SETTINGSFILE(std::string path);
  const std::string& Path() const { return path; }

  // Reads the file again when it changed on disk since the last read and this
  // object has nothing unsaved.  A missing file is an empty tree.
  void Refresh();
  // True (once per damaged file content) when the last read skipped lines;
  // *report says which.
  bool TakeDamageReport(Report* report);

  bool KeyExists(const std::string& key) const;
  const Value* Get(const std::string& key, const std::string& name) const;
  // The names of the values of a key, and of its direct subkeys.
  std::vector<std::string> ValueNames(const std::string& key) const;
  std::vector<std::string> SubKeys(const std::string& key) const;

  // Changes, kept until Flush().  Names holding a line break are refused.
  bool CreateKey(const std::string& key);
  bool Set(const std::string& key, const std::string& name, const Value& value);
  void DeleteValue(const std::string& key, const std::string& name);
  // Deletes a key with all its subkeys.
  void DeleteKey(const std::string& key);

  bool HasPending() const { return !journal.empty(); }
  // Writes the pending changes (see above).  False with LastError() when the
  // file could not be written; the changes then stay pending.
  bool Flush();
  // Drops the pending changes and reads the file again.
  void Discard();
  const std::string& LastError() const { return error; }

 private:
  struct Op {
    enum Kind { CREATE, SET, DELETE_VALUE, DELETE_KEY } kind;
    std::string key, name;
    Value value;
  };
  static void Apply(Tree& tree, const Op& op);
  bool Load();

  std::string path;
  Tree tree;
  std::vector<Op> journal;
  std::string error;
  // Identity of the file content last read, to notice other writers.
  struct Stamp {
    bool exists = false;
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t sec = 0, nsec = 0;
    bool operator==(const Stamp&) const = default;
  } stamp;
  bool loaded = false;
  Report damage;
  bool damageReported = true;
  Stamp StatFile() const;
};
