// The one way the program starts the user's text editor (log editing, a
// script's error line, script editing).
//
// The command comes from the settings: `Editor`, else `OtherEditor` (with
// EditorType 1, `OtherEditor` first), else $VISUAL, $EDITOR, xdg-open.  The
// command text is split into words at blanks (double quotes keep blanks
// inside a word, as QProcess::splitCommand reads them), but no shell ever
// runs: each word becomes one argument of QProcess, and the placeholders
// {file} (also "%1", as older settings write it), {line} and {column} are
// replaced inside the words, so a file name with spaces, quotes or ";"
// always reaches the editor as a single argument.  Without a {file} the file
// is appended as the last argument; without a {line}, editors known to take
// "+LINE" (vi, vim, nvim, nano, emacs, gedit and a few more) get it before
// the file, others just the file.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

struct EDITORCOMMAND {
  QString program;
  QStringList arguments;
};

// The editor command text the settings give (UTF-8), never empty.
std::string ConfiguredEditorCommand();

// The program and arguments that open `file` (UTF-8; empty: the editor
// alone) at `line` and `column` (0: not given) with the command text
// `command`.  Nothing when the command holds no program (empty, or an
// unclosed quote leaves no word).
std::optional<EDITORCOMMAND> BuildEditorCommand(const std::string& command, const std::string& file, int line = 0,
                                                int column = 0);

// Starts the configured editor on the file, detached, in `workDir` (empty:
// the current directory).  False when it could not be started (no program,
// not found, not executable); the caller says so to the user.
bool LaunchEditor(const std::string& file, int line = 0, int column = 0, const std::string& workDir = {});

// The editor command followed by "エディタの起動に失敗しました。" in an
// error box.
void ReportEditorFailure();

// LaunchEditor, and on failure the editor command followed by
// "エディタの起動に失敗しました。" in an error box.
bool LaunchEditorOrReport(const std::string& file, int line = 0, int column = 0, const std::string& workDir = {});
