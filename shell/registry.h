// The read and write primitives of the settings store, over three backends:
//
//   - the settings file (platform/settingsfile): one key open at a time, under
//     the main key "Software\Tallowood\Quillnet95\";
//   - the host list backup file: a sequential text file of name=value lines
//     ending in CR LF, read and written in order;
//   - a section of the mirror file "Quillnet.ini", read only.
//
// While a backup file or an ini section is open, every read and write goes to
// it; otherwise to the open key.  Without any, reads give their defaults and
// writes do nothing.
//
// Text values are Shift_JIS in memory and UTF-8 in the settings file and the
// ini file; paths are UTF-8 everywhere.  The backup file holds the bytes as
// they are in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class SETTINGSFILE;
class INIFILE;

// The main key of the program's settings, with its trailing backslash.
extern const char* const kMainKey;

// Byte strings that may hold control bytes, as text: every byte plus one;
// results below 0x20 are written as "^" and the result plus 0x40, and "^" as
// "^^" (except 0x1E, which "^^" would make ambiguous: it is written bare).
std::string EscapeBytes(const std::vector<std::uint8_t>& bytes);
// The reverse.  False for a "^" at the very end.
bool UnescapeBytes(std::string_view text, std::vector<std::uint8_t>& bytes);

class REGISTRY {
 public:
  // ConfigDir() + "/registry.reg".
  static std::string FilePath();
  // The store behind the settings file (made again when the path changes).
  static SETTINGSFILE& File();

  // Opens kMainKey + subKey ("" for the main key itself), creating it when
  // asked; closes a key already open.  False when it does not exist.
  static bool OpenKey(const std::string& subKey, bool create);
  // Closes the key and, outside a batch, writes the changes to the file.
  // False (after an error message) when the file could not be written.
  static bool CloseKey();
  static bool IsKeyOpen();

  static int ReadInt(const char* name, int def);
  // Text (Shift_JIS) into a buffer of `size` bytes.  A missing value, one of
  // another type or one that does not fit gives `def`.
  static void ReadString(const char* name, char* buf, size_t size, const char* def);
  // A path (UTF-8), same rules.
  static void ReadPath(const char* name, char* buf, size_t size, const char* def);
  static void ReadPath(const char* name, std::string& out, const std::string& def);
  // A byte block; missing gives an empty block.
  static void ReadBinary(const char* name, std::vector<std::uint8_t>& out);

  static void WriteInt(const char* name, int value);
  static void WriteString(const char* name, const char* sjis);
  static void WritePath(const char* name, const std::string& path);
  static void WriteBinary(const char* name, const std::vector<std::uint8_t>& bytes);
  static void DeleteValue(const char* name);

  // Whole keys under the main key (no key needs to be open).
  static bool KeyExists(const std::string& subKey);
  static void DeleteKey(const std::string& subKey);
  static std::vector<std::string> SubKeyNames(const std::string& subKey);
  static std::vector<std::string> ValueNames(const std::string& subKey);

  // Changes made between BeginBatch and EndBatch reach the file together, or
  // not at all.  Batches nest; the outermost EndBatch writes, and on failure
  // shows the error and forgets the batch's changes.
  static void BeginBatch();
  static bool EndBatch();

  // Names of the values read since the last call that were present but
  // unusable (another type, or too long for their buffer).
  static std::vector<std::string> TakeUnusableValues();

  // The backup file.  For reading, the whole file is taken in at once; for
  // writing, the lines are collected and CloseBackupFile replaces the file
  // atomically.  False when the file cannot be read or written.
  static bool OpenBackupFile(const std::string& path, bool write);
  static bool CloseBackupFile();
  static bool IsBackupFileOpen();
  // Starts reading from the first line again (the counter is reset too).
  static void RewindBackupFile();
  // Reads the next line whole: false on a read failure.  End of file reads as
  // the single byte 0x1A.
  static bool ReadBackupLine(std::string& line);
  // True when the next line is the end of the file.
  static bool AtBackupEnd();
  // Consumes the next line when it is "Reserved".
  static bool SkipReservedLine();
  static void WriteBackupLine(const std::string& line);  // adds CR LF

  // Set by the first line that does not match what a read expected; later
  // reads give their defaults until the caller clears it.
  static bool fError;
  // Lines read from the backup file so far: the line number of an error.
  static int nLineError;

  // A section of an ini file (kept by the caller while open).
  static void OpenIniSection(const INIFILE* ini, const std::string& section);
  static void CloseIniSection();

  // Back to the initial state: nothing open, no batch, the file forgotten.
  static void ResetForTest();
};
