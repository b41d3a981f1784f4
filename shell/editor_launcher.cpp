#include "shell/editor_launcher.h"

#include <QFileInfo>
#include <QProcess>

#include "shell/config.h"
#include "shell/helpers.h"

namespace {

// Editors that take "+LINE" before the file to open it at that line.
bool TakesPlusLine(const QString& program) {
  static const char* const kNames[] = {"vi", "vim", "nvim", "gvim", "nano", "emacs", "emacsclient", "gedit"};
  const QString base = QFileInfo(program).fileName();
  for (const char* n : kNames)
    if (base == QLatin1String(n)) return true;
  return false;
}

}  // namespace

std::string ConfiguredEditorCommand() {
  const std::string editor = config.Editor, other = config.OtherEditor;
  if (config.EditorType == 1 && !other.empty()) return other;
  if (!editor.empty()) return editor;
  if (!other.empty()) return other;
  return DefaultEditor();
}

std::optional<EDITORCOMMAND> BuildEditorCommand(const std::string& command, const std::string& file, int line,
                                                int column) {
  QStringList words = QProcess::splitCommand(QString::fromUtf8(command.c_str()));
  if (words.isEmpty() || words.front().isEmpty()) return std::nullopt;
  const QString qfile = QString::fromUtf8(file.c_str());
  const QString qline = QString::number(line > 0 ? line : 1);
  const QString qcolumn = QString::number(column > 0 ? column : 1);
  bool sawFile = false, sawLine = false;
  for (QString& w : words) {
    if (w.contains(QLatin1String("{file}")) || w.contains(QLatin1String("%1"))) sawFile = true;
    if (w.contains(QLatin1String("{line}"))) sawLine = true;
    // One pass over the word, so that a file name holding "{line}" stays as it is.
    QString out;
    for (qsizetype i = 0; i < w.size();) {
      if (w.mid(i, 6) == QLatin1String("{file}")) {
        out += qfile;
        i += 6;
      } else if (w.mid(i, 2) == QLatin1String("%1")) {  // the older settings' way to place the file
        out += qfile;
        i += 2;
      } else if (w.mid(i, 6) == QLatin1String("{line}")) {
        out += qline;
        i += 6;
      } else if (w.mid(i, 8) == QLatin1String("{column}")) {
        out += qcolumn;
        i += 8;
      } else {
        out += w[i++];
      }
    }
    w = out;
  }
  EDITORCOMMAND c;
  c.program = words.takeFirst();
  c.arguments = words;
  if (!sawFile && !file.empty()) {
    if (!sawLine && line > 0 && TakesPlusLine(c.program)) c.arguments << QStringLiteral("+") + qline;
    c.arguments << qfile;
  }
  return c;
}

bool LaunchEditor(const std::string& file, int line, int column, const std::string& workDir) {
  const std::optional<EDITORCOMMAND> c = BuildEditorCommand(ConfiguredEditorCommand(), file, line, column);
  if (!c) return false;
  return QProcess::startDetached(c->program, c->arguments, QString::fromUtf8(workDir.c_str()));
}

void ReportEditorFailure() { ErrorMessage(ConfiguredEditorCommand() + "\nエディタの起動に失敗しました。"); }

bool LaunchEditorOrReport(const std::string& file, int line, int column, const std::string& workDir) {
  if (LaunchEditor(file, line, column, workDir)) return true;
  ReportEditorFailure();
  return false;
}
