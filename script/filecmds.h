// SCRIPTFILE: the file and directory statements of scripts.
//
//   OPENFILE / APPENDFILE / CREATEFILE name   open to read, to append, to write
//   CREATETEMPFILE var                         a new "QN" file open to write
//   WRITEFILE name, text                       the text and CR LF
//   READFILE name, var                         the next line (RESULT 1, 0 at the end)
//   CLOSEFILE name
//   DELFILE / CREATEDIR path                   (DELFILE: "*" and "?" in the last part
//                                              delete every matching file)
//   COPYFILE / RENAMEFILE from, to
//   CHDIR path / RESTOREDIR
//   GETCURRENTDIR / GETQUILLNETDIR / GETWINDIR / GETWINSYSDIR var
//
// At most five files are open at a time; a file is named by the text that
// opened it, compared without regard to ASCII case.  A command that fails
// and has no result of its own sets RESULT to 0 (a success leaves it as it
// was) and writes the path and the reason to the debug log.
//
// Paths are written as script names are (Shift_JIS, "\" or "/", a drive
// letter dropped).  A relative path is taken from the run's directory, which
// CHDIR moves (the process's own directory never changes); it and the open
// files belong to the whole run and end with the outermost level.  Bytes that
// are not Shift_JIS, and a directory whose name Shift_JIS cannot hold, are
// refused rather than mangled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SCRIPTPOS;

class SCRIPTFILE {
 public:
  static constexpr int MAX_OPEN = 5;
  static constexpr size_t MAX_LINE = 1024;

  // Whether the atom is one of the statements above.
  static bool Handles(uint8_t atom);
  // Runs it at the running level's position; as the interpreter's handlers:
  // true when the rest of the line is to be skipped, false after an error.
  static bool Run(uint8_t atom);

  // The end of a run: every open file is flushed and closed, and the run's
  // directory returns to the process's.
  static void EndRun();

  // A path as a script writes it made into a UTF-8 path, relative ones taken
  // from the run's directory; nothing when the bytes are not Shift_JIS or
  // the name is empty.  With existing set, a last part that is not there is
  // matched without regard to ASCII case.
  static std::optional<std::string> Resolve(std::string_view sjis, bool existing);
  // The run's directory (UTF-8, absolute).
  static std::string CurrentDir();
  // How many files are open now.
  static int OpenCount();
  // The reason the last command failed, as written to the debug log.
  static const std::string& LastFailure();

 private:
  class ARGS;
  // The interpreter's running level and its reports.
  static SCRIPTPOS& Level();
  static void ParameterError(uint8_t keyword);
  static void RuntimeError(int id);
  static void ExpressionError(int id, const std::string& keyword);
  // A command without a result of its own failed: RESULT 0, and why.
  static bool Failed(uint8_t keyword, const std::string& path, const std::string& why);
  static bool SetText(const std::string& name, const std::string& value);
  static bool DeleteMatching(const std::string& pattern);
};
