#include "script/script_commands.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "script/script.h"
#include "script/scriptname.h"
#include "script/var.h"
#include "shell/config.h"
#include "shell/editor_launcher.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"

SPEECHHOOKS speechHooks;

namespace {

constexpr size_t kDescriptionBytes = 119;

// Bytes of the character at i: a lead byte takes the next byte only when
// that can be a trail byte (0x40 and above), so a broken pair never swallows
// a line end or a tab.
size_t CharLength(std::string_view s, size_t i) {
  return jcode::IsKanji1(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
                 static_cast<unsigned char>(s[i + 1]) >= 0x40
             ? 2
             : 1;
}

// Blanks before and inside a description: space, tab, the full-width space.
size_t BlankAt(std::string_view s, size_t i) {
  if (i < s.size() && (s[i] == ' ' || s[i] == '\t')) return 1;
  if (i + 1 < s.size() && static_cast<unsigned char>(s[i]) == 0x81 && static_cast<unsigned char>(s[i + 1]) == 0x40)
    return 2;
  return 0;
}

}  // namespace

void QueueScriptProcess() {
  if (SCRIPT::hooks.queueProcess)
    SCRIPT::hooks.queueProcess();
  else if (QCoreApplication::instance())
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { SCRIPT::Process(); }, Qt::QueuedConnection);
}

bool IsScriptFileName(const std::string& name) {
  const size_t slash = name.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  if (name.size() - base < 5) return false;  // a name before the extension
  const char* ext = name.c_str() + name.size() - 4;
  return strcasecmp(ext, ".hsc") == 0 || strcasecmp(ext, ".scr") == 0;
}

std::string ScriptDirectory() {
  if (config.ScriptPath[0]) return config.ScriptPath;
  if (config.HomeDir[0]) return config.HomeDir;
  return DataDir();
}

std::vector<SCRIPTFILEENTRY> ListScriptFiles(const std::string& dir, bool byName) {
  std::vector<SCRIPTFILEENTRY> files;
  DIR* d = opendir(dir.c_str());
  if (!d) return files;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (!IsScriptFileName(name)) continue;
    SCRIPTFILEENTRY f;
    f.name = name;
    f.path = dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
    struct stat st;
    if (stat(f.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    f.mtime = st.st_mtime;
    files.push_back(std::move(f));
  }
  closedir(d);
  // Names compare without regard to ASCII case, as script names are found.
  std::sort(files.begin(), files.end(), [byName](const SCRIPTFILEENTRY& a, const SCRIPTFILEENTRY& b) {
    if (!byName && a.mtime != b.mtime) return a.mtime > b.mtime;
    const int c = strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return files;
}

std::string ScriptDescription(std::string_view head) {
  // Only whole characters of the first 119 bytes: a lead byte at the end of
  // them is left out, as is one whose trail byte lies past them.
  const size_t limit = std::min(head.size(), kDescriptionBytes);
  size_t end = 0;
  while (end < limit) {
    const bool lead = jcode::IsKanji1(static_cast<unsigned char>(head[end]));
    if (lead && end + 1 >= limit) break;
    end += CharLength(head, end);
  }
  head = head.substr(0, end);
  size_t i = 0;
  while (size_t n = BlankAt(head, i)) i += n;
  if (i >= head.size() || head[i] != ';') return {};
  ++i;
  while (size_t n = BlankAt(head, i)) i += n;
  std::string out;
  while (i < head.size() && head[i] != '\r' && head[i] != '\n') {
    const size_t n = CharLength(head, i);
    if (n == 1 && jcode::IsKanji1(static_cast<unsigned char>(head[i]))) {
      ++i;  // a lead byte without its trail byte is dropped, not shown as garbage
      continue;
    }
    if (head[i] == '\t')
      out += ' ';
    else
      out.append(head.substr(i, n));
    i += n;
  }
  return out;
}

std::string ScriptFileDescription(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  // One byte more than counts, to see whether the last one's pair is whole.
  std::string head(kDescriptionBytes + 1, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return ScriptDescription(head);
}

bool StartScriptFile(const std::string& path) {
  if (!SCRIPT::Execute(path)) return false;
  QueueScriptProcess();
  return true;
}

SCRIPTMENUSTATE ScriptMenuState() { return {SCRIPT::fExecuting && SCRIPT::cNest() > 0, SCRIPT::fPause}; }

void RunScriptCommand(int command) {
  switch (command) {
    case scriptcmd::STOP:
      if (SCRIPT::fExecuting) SCRIPT::Stop();
      break;
    case scriptcmd::STOPALL: SCRIPT::StopAll(); break;
    case scriptcmd::PAUSE:
      if (!SCRIPT::fExecuting) break;
      SCRIPT::PauseOrResume();
      // Resumed: the statements go on at once, not at the next pass.
      if (!SCRIPT::fPause) {
        QueueScriptProcess();
      }
      break;
    case scriptcmd::SAY: ExecSayScript(-1); break;
    case scriptcmd::COMMENT: ExecCommentScript(); break;
    default: break;
  }
}

bool OpenScriptInEditor(const std::string& path, int line) {
  const std::string full =
      path.empty() ? path : QDir::current().absoluteFilePath(QString::fromUtf8(path.c_str())).toStdString();
  return LaunchEditorOrReport(full, line, 0, ScriptDirectory());
}

namespace {

void Beep() {
  if (speechHooks.beep) {
    speechHooks.beep();
  } else {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

bool StartSpeechScript(const SPEECHMESSAGE& m, bool comment) {
  if (m.kind == SPEECHMESSAGE::NOT_A_MESSAGE) {
    Beep();
    return false;
  }
  if (m.kind == SPEECHMESSAGE::NO_HOST_RECORD || m.host.empty()) {
    ErrorMessage("なんかおかしい？？？");
    return false;
  }
  const std::string hostUtf8 = jcode::SjisToUtf8(m.host);
  if (!HOSTINI::IsHostExist(m.host.c_str())) {
    ErrorMessage(hostUtf8 + " というホストがホスト一覧に登録されていません。");
    return false;
  }
  HOSTPROPERTY prop;
  if (!prop.GetRegistry(m.host.c_str()) || !prop.ScriptFile[0]) {
    ErrorMessage(hostUtf8 + " のホストには自動起動するスクリプトが指定されていません。");
    return false;
  }
  VAR::SetVar("@SPEECHTYPE", comment ? "comment" : "new");
  VAR::SetNumVar("@@SPEECHLEVEL", m.level);
  for (int n = m.level; n >= 0; --n) {
    const std::string sub = "[" + std::to_string(n);
    const size_t i = static_cast<size_t>(n);
    VAR::SetVar(FormVarName("@SPEECHTITLE", 0, sub), i < m.titles.size() ? m.titles[i] : std::string());
    VAR::SetNumVar(FormVarName("@@SPEECHPOS", 0, sub), i < m.positions.size() ? m.positions[i] : 0);
  }
  if (comment) VAR::SetNumVar("@@SPEECHLINES", m.lines);

  // The host's script name is stored as scripts write it (Shift_JIS, "\"
  // possible); it is found the way CALL finds a file.
  std::vector<std::string> dirs = SCRIPT::searchDirs;
  if (dirs.empty()) dirs = {".", ScriptDirectory()};
  std::string path = FindScriptFile(prop.ScriptFile, dirs);
  if (path.empty()) path = ScriptNameToPath(prop.ScriptFile);
  // A missing label is the one failure the interpreter keeps quiet about
  // (silent start); every other one it reports itself.
  bool reported = false;
  auto saved = SCRIPT::hooks.reportError;
  SCRIPT::hooks.reportError = [&reported, saved](const SCRIPTERROR& e) {
    reported = true;
    if (saved)
      saved(e);
    else
      ErrorMessage(e.message);
  };
  const bool ok = SCRIPT::Execute(path, "CREATESPEECHFILE", true);
  SCRIPT::hooks.reportError = saved;
  if (!ok) {
    if (!SCRIPT::fExecuting) VAR::ClearGlobal();  // what the script's end would have done
    if (!reported)
      ErrorMessage(jcode::SjisToUtf8(prop.ScriptFile) +
                   " にはCreateSpeechFileサブルーチンが用意されていません。発言ファイルの生成をするにはホストプロパティに"
                   "登録されているスクリプトに発言ファイルの生成処理が用意されている必要があります。");
    return false;
  }
  QueueScriptProcess();
  return true;
}

}  // namespace

bool ExecSayScript(int line) {
  return StartSpeechScript(speechHooks.sayMessage ? speechHooks.sayMessage(line) : SPEECHMESSAGE(), false);
}

bool ExecCommentScript() {
  return StartSpeechScript(speechHooks.commentMessage ? speechHooks.commentMessage() : SPEECHMESSAGE(), true);
}
