// VAR: the script variables.
//
// A name's first character gives its scope: the level digit ("0" + level for
// levels 1-15, "A"-"E" for 16-20, so that no level's locals are stored under
// "@"), "@" global to a run, "%" permanent.  A second character "#" or "@"
// makes it numeric.  Names are compared exactly (the compiler upper-cased
// them).  An empty string or a 0 deletes a variable; a missing one reads as
// "" or 0.
//
// Two hash maps that keep insertion order (the variable list shows them in
// the order they were made).  The store as a whole is limited to 64 MiB of
// names and values: past it an assignment fails with message 100.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

class VAR {
 public:
  static constexpr size_t MAX_BYTES = 64u << 20;
  static constexpr size_t MAX_NAME = 40;
  static constexpr size_t MAX_VALUE = 1024;

  static std::string GetVar(std::string_view name);
  static int32_t GetNumVar(std::string_view name);
  // false after message 100 (the store is full); the variable is unchanged.
  static bool SetVar(std::string_view name, std::string_view value);
  static bool SetNumVar(std::string_view name, int32_t value);

  // Every string variable not starting with "%", and every numeric one.
  static void Clear();
  // Every variable whose first character is c.
  static void ClearLocal(char c);
  static void ClearGlobal() { ClearLocal('@'); }

  // Whether the name (second character "#" or "@") is numeric.
  static bool IsNumeric(std::string_view name) { return name.size() >= 2 && (name[1] == '#' || name[1] == '@'); }

  // The string variables, then the numeric ones, in the order they were made.
  static void ForEach(const std::function<void(const std::string& name, const std::string& value, bool numeric)>& f);
  static size_t Count();

  // Set when a "%" variable was assigned; the variable file clears it.
  static bool fPermanentChanged;
  // Called after every change (the variable list refreshes from it).
  static std::function<void()> onChange;

  // Back to an empty store (tests).
  static void Reset();

 private:
  template <typename T>
  struct ORDERED {
    std::list<std::pair<std::string, T>> items;
    std::unordered_map<std::string_view, typename std::list<std::pair<std::string, T>>::iterator> index;
  };
  static ORDERED<std::string> strings_;
  static ORDERED<int32_t> numbers_;
  static size_t bytes_;
};

// The stored name of a variable as a script writes it: the written name cut
// to 40 bytes (never halving a double-byte character), a leading "#" made
// the level's own character, then each subscript as "[" and its text, uncut.
std::string FormVarName(std::string_view written, int level, std::string_view subscripts = {});
// The level's own first character for "#" names (1-15: "1".."?", 16-20: "A".."E").
char LocalPrefix(int level);
