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

#include <climits>
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
  // Called when fPermanentChanged becomes set (the program arms a save
  // within a second from it, so a loop of assignments writes the file once).
  static std::function<void()> onPermanentChange;

  // The variable file (script/varfile): its variables become "%" string
  // variables, and what they were is remembered, so that a save writes only
  // what this instance changed.  An empty path is varfile::DefaultPath().
  // False (nothing loaded) when the file exists but cannot be read.
  static bool LoadPermanentVar(const std::string& path = {});
  // Writes the "%" string variables changed, made or deleted since the last
  // load or save into the file, merged with what other instances wrote
  // there.  Nothing to do (true) before a load or without a change.
  static bool SavePermanentVar(std::string* error = nullptr);
  // The loaded file's path (empty before a load).
  static const std::string& PermanentFile();
  // Called after every change (the variable list refreshes from it).
  static std::function<void()> onChange;

  // Back to an empty store (tests).
  static void Reset();

  // Where an existing variable's value lives (null when it does not exist).
  // The storage stays put until some variable is deleted, which changes
  // Generation.
  static std::string* FindString(std::string_view name);
  static int32_t* FindNumber(std::string_view name);
  static uint64_t Generation() { return generation_; }
  // Replaces a value found through FindString (value not empty); false at
  // the store limit (message 100), the value unchanged.
  static bool ReplaceString(std::string* slot, std::string_view value, bool permanent);
  // Replaces a value found through FindNumber (value not 0).
  static void ReplaceNumber(int32_t* slot, int32_t value);

 private:
  template <typename T>
  struct ORDERED {
    std::list<std::pair<std::string, T>> items;
    std::unordered_map<std::string_view, typename std::list<std::pair<std::string, T>>::iterator> index;
  };
  static ORDERED<std::string> strings_;
  static ORDERED<int32_t> numbers_;
  static size_t bytes_;
  static uint64_t generation_;
  static void MarkPermanent() {
    if (fPermanentChanged) return;
    fPermanentChanged = true;
    if (onPermanentChange) onPermanentChange();
  }
};

// A small direct-mapped memory of where variables live, keyed by a number
// the caller gives each place that names a variable (the interpreter: the
// code position of the atom) and the nesting level, so that a loop finds its
// variables without forming and hashing their names every time.  An entry
// holds only while no variable has been deleted since it was made.
class VARCACHE {
 public:
  // The storage of the variable the key names at that level; `find` (which
  // forms the name and asks VAR) runs on a miss.  Null when it does not exist.
  template <typename T, typename FIND>
  T* Find(uint32_t key, int level, FIND&& find) {
    ENTRY& e = entries_[(key * 2654435761u) >> (32 - kBits)];
    if (e.key == key && e.level == level && e.generation == VAR::Generation()) return static_cast<T*>(e.slot);
    T* slot = find();
    if (slot) e = ENTRY{key, level, VAR::Generation(), slot};
    return slot;
  }

 private:
  static constexpr unsigned kBits = 8;
  struct ENTRY {
    uint32_t key = UINT32_MAX;
    int level = -1;
    uint64_t generation = 0;
    void* slot = nullptr;
  };
  ENTRY entries_[1u << kBits];
};

// The stored name of a variable as a script writes it: the written name cut
// to 40 bytes (never halving a double-byte character), a leading "#" made
// the level's own character, then each subscript as "[" and its text, uncut.
std::string FormVarName(std::string_view written, int level, std::string_view subscripts = {});
// The same into `out`, reusing its storage.
void FormVarNameInto(std::string& out, std::string_view written, int level, std::string_view subscripts = {});
// How many bytes of a written name are kept: at most 40, never half a
// double-byte character.
size_t VarNameLength(std::string_view written);
// The level's own first character for "#" names (1-15: "1".."?", 16-20: "A".."E").
char LocalPrefix(int level);
