// NEWSCRIPT: a compiled script program (see script/atoms.h for the stream).
//
// Three buffers with fixed limits: the code (0x30000 bytes), the labels
// (64 KiB of entries: 4-byte code position, then the name and a NUL) and the
// constants (64 KiB of NUL-terminated literals; an empty literal reuses the
// NUL of the previous one).  Loading compiles the source line by line; the
// first error ends the load, leaves the buffers empty and is reported through
// `reportError` (the interpreter installs its error dialog there).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class NEWSCRIPT {
 public:
  static constexpr size_t CODE_SIZE = 0x30000;
  static constexpr size_t LABEL_SIZE = 65536;
  static constexpr size_t CONST_SIZE = 65536;
  static constexpr int MAX_LOOP_NEST = 20;
  static constexpr int MAX_BRACKETS = 64;

  // A compile error or warning.  line 0: not tied to a line (the file could
  // not be read, the program is empty).
  struct DIAGNOSTIC {
    int line = 0;
    int id = 0;
    std::string message;  // UTF-8, the file name appended for message 42
    std::string source;   // Shift_JIS source text from the error on (may be empty)
  };

  // Compiles a file (path UTF-8; a missing ".scr" tries ".hsc").  false after
  // an error, which is in `error` and has been reported.
  bool Load(const std::string& path);
  // Compiles script text held in memory.
  bool LoadFromMemory(std::string_view text);

  // Code position of the first label of that exact name.
  std::optional<uint32_t> GetLabelAddress(std::string_view name) const;
  // Appends a label entry; false when the buffer is full.
  bool AddLabel(std::string_view name, uint32_t position);
  // Appends a literal and gives its offset; false when the buffer is full.
  bool AddConst(std::string_view text, uint32_t& offset);
  void Free();

  const std::vector<uint8_t>& Code() const { return code_; }
  const std::string& Labels() const { return labels_; }
  const std::string& Constants() const { return consts_; }
  // The NUL-terminated literal at a constants offset (empty when out of range).
  std::string_view Constant(uint32_t offset) const;
  const std::string& FileName() const { return file_; }

  DIAGNOSTIC error;                   // the last load's error (id 0: none)
  std::vector<DIAGNOSTIC> warnings;   // label defined twice, closer unlike its loop, loop left open

  // Where compile errors go; without it they are only kept in `error`.
  static std::function<void(const DIAGNOSTIC&)> reportError;

 private:
  friend class SCRIPTCOMPILER;
  bool Compile(std::string_view text);

  std::vector<uint8_t> code_;
  std::string labels_;
  std::string consts_;
  std::string file_;
};
