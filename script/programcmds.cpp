#include "script/programcmds.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/usermessage.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/filecmds.h"
#include "script/funckey.h"
#include "script/script.h"
#include "script/scripthook.h"
#include "script/scriptmsg.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/config.h"

namespace fs = std::filesystem;

SCRIPTPROGRAMHOOKS SCRIPTPROGRAMCMDS::hooks;
bool SCRIPTPROGRAMCMDS::fSoundOn = true;
bool SCRIPTPROGRAMCMDS::fErrorLog = false;

namespace {

constexpr int RUN_FAILED = 88;
const char* const kRunFailed = "runコマンドで指定されたコマンドの実行に失敗しました。";

// Programs started by RUN or RUNSYNC2 that have not ended (they are never
// killed with the run: the user may still be using them).
std::set<QProcess*> programs;

// What the run changed and EndRun gives back.
struct RUNCHANGES {
  std::map<int, std::string> hilights;  // slot -> the settings' text
  bool keysAssigned = false;
  bool errorLogWrapped = false;
  std::function<void(const SCRIPTERROR&)> savedReport;
};
RUNCHANGES changes;

// The keys KEYASSIGN names: F, B, C, D and 1-12.
int KeyEntry(const std::string& key) {
  if (key.size() < 2 || key.size() > 3) return -1;
  static const char banks[] = "FBCD";
  const char b = static_cast<char>(key[0] >= 'a' && key[0] <= 'z' ? key[0] - 'a' + 'A' : key[0]);
  const char* at = std::strchr(banks, b);
  if (!at || !b) return -1;
  int n = 0;
  for (size_t i = 1; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return -1;
    n = n * 10 + (key[i] - '0');
  }
  if (key[1] == '0' || n < 1 || n > 12) return -1;
  return static_cast<int>(at - banks) * 12 + n - 1;
}

std::string Sjis(const char* utf8) { return jcode::Utf8ToSjis(utf8); }

std::string TwoDigits(int a, int b, int c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", a % 100, b % 100, c % 100);
  return buf;
}

// The directory programs start in: the running script's own, else the run's.
std::string ScriptDir() {
  const SCRIPTPOS& l = SCRIPTARGS::Level();
  if (!l.file.empty() && l.file[0] != '@') {
    fs::path p = fs::path(l.file).parent_path();
    std::error_code ec;
    if (!p.empty() && fs::is_directory(p, ec)) return fs::absolute(p, ec).string();
  }
  return SCRIPTFILE::CurrentDir();
}

// A program's process, output to our standard error, input from nothing.
QProcess* NewProgram(const QStringList& words, const std::string& dir) {
  auto* p = new QProcess;
  p->setProgram(words.front());
  p->setArguments(words.mid(1));
  p->setWorkingDirectory(QString::fromStdString(dir));
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  p->setStandardInputFile(QProcess::nullDevice());
  p->setChildProcessModifier([] { ::dup2(2, 1); });
  return p;
}

// A started program is forgotten once it has ended.
void ForgetWhenEnded(QProcess* p) {
  programs.insert(p);
  QObject::connect(p, &QProcess::finished, p, [p] {
    programs.erase(p);
    p->deleteLater();
  });
  QObject::connect(p, &QProcess::errorOccurred, p, [p](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    programs.erase(p);
    p->deleteLater();
  });
}

// The level asleep on the token failed to start its program: message 88
// at that statement's line, and the script ends.
void StartFailedWhileAsleep(uint64_t token, int line, const std::string& command) {
  DebugLogF("script: RUN %s: it could not be started\n", command.c_str());
  if (!SCRIPTARGS::IsRunning(token)) {
    SCRIPTARGS::Wake(token);
    return;
  }
  SCRIPTARGS::Level().line = line;
  SCRIPTARGS::Wake(token);
  SCRIPTARGS::ReportAndStop(RUN_FAILED, kRunFailed);
}

}  // namespace

// ---- the statements -------------------------------------------------------

void SCRIPTPROGRAMCMDS::Beep() {
  if (!fSoundOn) return;
  if (hooks.beep) {
    hooks.beep();
  } else {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

int32_t SCRIPTPROGRAMCMDS::DateToLinear(int32_t yymmdd) {
  // Six digits of the number (a number written 050101 is 50101).
  int64_t n = yymmdd;
  if (n < 0) n = -n;
  n %= 1000000;
  const int yy = static_cast<int>(n / 10000), mm0 = static_cast<int>(n / 100 % 100), dd0 = static_cast<int>(n % 100);
  const int year = yy < 80 ? 2000 + yy : 1900 + yy;
  const int mm = std::clamp(mm0, 1, 12), dd = std::clamp(dd0, 1, 31);
  static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int32_t days = 0;
  for (int y = 1980; y < year; ++y) days += y % 4 == 0 ? 366 : 365;
  days += before[mm - 1];
  if (mm > 2 && year % 4 == 0) ++days;
  return days + dd - 1;
}

int32_t SCRIPTPROGRAMCMDS::VersionNumber(const std::string& version) {
  int major = 0;
  size_t i = 0;
  while (i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])))
    major = major * 10 + (version[i++] - '0');
  int minor = 0;
  if (i < version.size() && version[i] == '.') {
    ++i;
    while (i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])))
      minor = minor * 10 + (version[i++] - '0');
  }
  return major * 100 + minor;
}

std::string SCRIPTPROGRAMCMDS::ErrorLogPath() { return DataDir() + "/ScriptError.log"; }

int SCRIPTPROGRAMCMDS::RunningPrograms() { return static_cast<int>(programs.size()); }

bool SCRIPTPROGRAMCMDS::Handles(uint8_t a) {
  switch (a) {
    case atom::RUN:
    case atom::RUNSYNC:
    case atom::RUNSYNC2:
    case atom::CLOSEQUILLNET:
    case atom::GETVERSION:
    case atom::GETDATE:
    case atom::GETTIME:
    case atom::GETWEEK:
    case atom::DATETOLINEAR:
    case atom::KEYBOARD:
    case atom::DISPLAY:
    case atom::TITLE:
    case atom::WINDOW:
    case atom::ENDSCROLL:
    case atom::FONT:
    case atom::SETHILIGHT:
    case atom::SETHILIGHT1:
    case atom::SETHILIGHT2:
    case atom::SETHILIGHT3:
    case atom::SETHILIGHT4:
    case atom::IME:
    case atom::SOUND:
    case atom::PLAY:
    case atom::ERRORLOG:
    case atom::KEYASSIGN: return true;
    default: return false;
  }
}

namespace {

// One report appended to the error-log file.
void AppendErrorLog(const SCRIPTERROR& e) {
  std::ofstream out(SCRIPTPROGRAMCMDS::ErrorLogPath(), std::ios::app | std::ios::binary);
  if (!out) {
    DebugLogF("script: %s cannot be written\n", SCRIPTPROGRAMCMDS::ErrorLogPath().c_str());
    return;
  }
  char when[32];
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  out << when << " " << HeadlessErrorLine(e) << "\n";
}

bool RunProgram(uint8_t a, SCRIPTARGS& args) {
  std::string command;
  if (!args.Text(command)) return false;
  if (args.Peek() == atom::COMMA) {
    ++SCRIPTARGS::Level().pos;
    int which;
    // MAX and MIN are accepted; a Linux window manager places the window.
    if (!args.OneOf({"MAX", "MIN"}, which)) return false;
  }
  if (!args.End()) return false;
  const std::string utf8 = jcode::SjisToUtf8(command);
  const QStringList words = QProcess::splitCommand(QString::fromUtf8(utf8.c_str()));
  if (command.size() > SCRIPTPROGRAMCMDS::MAX_COMMAND || words.isEmpty()) {
    DebugLogF("script: %s %s: %s\n", atom::Name(a), utf8.c_str(),
              words.isEmpty() ? "no program named" : "over 255 bytes");
    SCRIPTARGS::ReportMessage(RUN_FAILED, kRunFailed);
    return false;
  }
  QProcess* p = NewProgram(words, ScriptDir());
  p->start();
  if (p->state() == QProcess::NotRunning) {
    // Not found, or not executable: known at once.
    DebugLogF("script: %s %s: %s\n", atom::Name(a), utf8.c_str(), p->errorString().toUtf8().constData());
    delete p;
    SCRIPTARGS::ReportMessage(RUN_FAILED, kRunFailed);
    return false;
  }
  if (a == atom::RUNSYNC) {
    bool failed = false;
    {
      SCRIPTARGS::DIALOGTIME waiting;
      if (SCRIPTPROGRAMCMDS::hooks.runSyncWindow) SCRIPTPROGRAMCMDS::hooks.runSyncWindow(true);
      if (QCoreApplication::instance()) {
        QEventLoop loop;
        QObject::connect(p, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(p, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
          if (e == QProcess::FailedToStart) {
            failed = true;
            loop.quit();
          }
        });
        if (p->state() != QProcess::NotRunning) loop.exec();
      } else {
        // No event loop to run: the program's end is waited for here.
        if (!p->waitForFinished(-1) && p->error() == QProcess::FailedToStart) failed = true;
      }
      if (SCRIPTPROGRAMCMDS::hooks.runSyncWindow) SCRIPTPROGRAMCMDS::hooks.runSyncWindow(false);
    }
    if (p->error() == QProcess::FailedToStart) failed = true;
    delete p;
    if (failed) {
      SCRIPTARGS::ReportMessage(RUN_FAILED, kRunFailed);
      return false;
    }
    return true;
  }
  // RUN and RUNSYNC2: the level sleeps until the program has started (RUN;
  // at most START_MS) or ended (RUNSYNC2).
  const int line = SCRIPTARGS::Level().line;
  const uint64_t token = SCRIPTARGS::SleepUntilWoken();
  ForgetWhenEnded(p);
  QObject::connect(p, &QProcess::errorOccurred, p, [token, line, utf8](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) StartFailedWhileAsleep(token, line, utf8);
  });
  if (a == atom::RUN) {
    QObject::connect(p, &QProcess::started, p, [token] { SCRIPTARGS::Wake(token); });
    QTimer::singleShot(SCRIPTPROGRAMCMDS::START_MS, p, [token] { SCRIPTARGS::Wake(token); });
    if (p->state() == QProcess::Running) SCRIPTARGS::Wake(token);
  } else {
    QObject::connect(p, &QProcess::finished, [token] { SCRIPTARGS::Wake(token); });
  }
  return false;
}

// One entry (-1: all 48) back from the settings.
void ResetKey(int entry) {
  if (SCRIPTPROGRAMCMDS::hooks.resetKey) {
    SCRIPTPROGRAMCMDS::hooks.resetKey(entry);
  } else if (entry < 0) {
    SCRIPT::ResetKeyAssign();
  } else {
    funcini.GetKeyAssign(entry);
    if (funcKeyHooks.repaint) funcKeyHooks.repaint();
  }
}

bool KeyAssign(SCRIPTARGS& args) {
  if (args.PeekWord() == "RESET") {
    int which;
    args.OneOf({"RESET"}, which);
    if (args.AtEnd()) {
      ResetKey(-1);
      changes.keysAssigned = false;
      return true;
    }
    return args.Fail();
  }
  // The key as a word (F1) or an expression ("F1").
  std::string key = args.PeekWord();
  if (!key.empty()) {
    int which;
    args.OneOf({key.c_str()}, which);
  } else if (!args.Text(key)) {
    return false;
  }
  const int entry = KeyEntry(key);
  if (entry < 0) return args.Fail();
  std::string name, text;
  int kind = 0;
  if (!args.Comma() || !args.Text(name) || !args.Comma() || !args.OneOf({"SCRIPT", "STRING", "RESET"}, kind))
    return false;
  if (kind == 2) {
    // Reload this key: a name and a text after it are allowed and unused.
    while (!args.AtEnd()) {
      if (!args.Comma() || !args.Text(text)) return false;
    }
    ResetKey(entry);
    return true;
  }
  if (!args.Comma() || !args.Text(text) || !args.End()) return false;
  if (name.size() > 20) return args.Fail();
  std::string stored;
  if (kind == 1) {
    // Sent as written: every caret doubled so that nothing is decoded.
    for (char c : text) {
      stored += c;
      if (c == '^') stored += '^';
    }
    if (stored.size() > 49) return args.Fail();
  } else {
    if (text.empty()) return args.Fail();
    stored = text;
    if (text.find('.') == std::string::npos && text.find(':') == std::string::npos) {
      // A label of the running script: stored with that script's name.
      const std::string& file = SCRIPTARGS::Level().file;
      if (file.empty() || file[0] == '@') return args.Fail();
      fs::path p(file);
      std::error_code ec;
      const fs::path dir = p.parent_path();
      std::string shown = file;
      if (fs::equivalent(dir, fs::current_path(ec), ec) || (config.ScriptPath[0] && fs::equivalent(dir, config.ScriptPath, ec)))
        shown = p.filename().string();
      stored = jcode::Utf8ToSjis(shown) + ":" + text;
    }
    if (stored.size() > 48) return args.Fail();
  }
  changes.keysAssigned = true;
  if (SCRIPTPROGRAMCMDS::hooks.assignKey) {
    if (!SCRIPTPROGRAMCMDS::hooks.assignKey(entry, name, kind == 0, stored)) return args.Fail();
  } else {
    // For this run only: the settings keep their entry, which a reset or
    // the run's end brings back.
    funcini.entries[size_t(entry)] = FUNCKEYENTRY{kind == 0, name, stored};
    if (funcKeyHooks.repaint) funcKeyHooks.repaint();
  }
  return true;
}

}  // namespace

bool SCRIPTPROGRAMCMDS::Run(uint8_t a) {
  SCRIPTARGS args(a, true, SCRIPTARGS::BARE::REFUSE);
  std::string var, text;
  bool on = false;
  switch (a) {
    case atom::RUN:
    case atom::RUNSYNC:
    case atom::RUNSYNC2: return RunProgram(a, args);
    case atom::CLOSEQUILLNET: {
      if (!args.End()) return false;
      SCRIPT::Stop();
      if (hooks.quit) {
        hooks.quit(0);
      } else if (QCoreApplication::instance()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
      }
      return false;
    }
    case atom::GETVERSION: {
      if (!args.Variable(var, true) || !args.End()) return false;
#ifdef QUILLNET_VERSION_TEXT
      const std::string version = QUILLNET_VERSION_TEXT;
#else
      const std::string version = QCoreApplication::applicationVersion().toStdString();
#endif
      return SCRIPTARGS::AssignNumber(var, VersionNumber(version));
    }
    case atom::GETDATE:
    case atom::GETTIME:
    case atom::GETWEEK: {
      if (!args.Variable(var, true)) return false;
      if (VAR::IsNumeric(var)) return SCRIPTARGS(atom::GETDATE, false).Fail();
      if (!args.End()) return false;
      const std::time_t t = std::time(nullptr);
      std::tm tm{};
      localtime_r(&t, &tm);
      static const char* const days[7] = {"日", "月", "火", "水", "木", "金", "土"};
      text = a == atom::GETDATE   ? TwoDigits(tm.tm_year, tm.tm_mon + 1, tm.tm_mday)
             : a == atom::GETTIME ? TwoDigits(tm.tm_hour, tm.tm_min, tm.tm_sec)
                                  : Sjis(days[tm.tm_wday]);
      return SCRIPTARGS::Assign(var, text);
    }
    case atom::DATETOLINEAR: {
      int32_t n;
      if (!args.Number(n) || !args.Comma() || !args.Variable(var, true) || !args.End()) return false;
      return SCRIPTARGS::AssignNumber(var, DateToLinear(n));
    }
    case atom::KEYBOARD:
    case atom::DISPLAY:
    case atom::IME:
    case atom::SOUND:
    case atom::ERRORLOG: {
      if (!args.OnOff(on) || !args.End()) return false;
      if (a == atom::KEYBOARD) SCRIPT::fKeyboardOn = on;
      if (a == atom::DISPLAY) SCRIPT::fHideDisplay = !on;
      if (a == atom::IME && hooks.ime) hooks.ime(on);
      if (a == atom::SOUND) fSoundOn = on;
      if (a == atom::ERRORLOG && on != fErrorLog) {
        fErrorLog = on;
        if (on) {
          // Each report is appended to the file, and reported as before.
          changes.savedReport = SCRIPT::hooks.reportError;
          changes.errorLogWrapped = true;
          SCRIPT::hooks.reportError = [](const SCRIPTERROR& e) {
            AppendErrorLog(e);
            if (changes.savedReport)
              changes.savedReport(e);
            else
              ErrorMessage(e.message);
          };
        } else if (changes.errorLogWrapped) {
          SCRIPT::hooks.reportError = changes.savedReport;
          changes.errorLogWrapped = false;
        }
      }
      return true;
    }
    case atom::TITLE: {
      std::optional<std::string> title;
      if (!args.AtEnd()) {
        if (!args.Text(text) || !args.End()) return false;
        title = jcode::SjisToUtf8(text);
      }
      if (hooks.title) hooks.title(title);
      return true;
    }
    case atom::WINDOW: {
      int state;
      if (!args.OneOf({"RESTORE", "MAXIMIZE", "MINIMIZE"}, state) || !args.End()) return false;
      if (hooks.window) hooks.window(state);
      return true;
    }
    case atom::ENDSCROLL: {
      if (!args.End()) return false;
      if (hooks.endScroll) hooks.endScroll();
      return true;
    }
    case atom::FONT: {
      int32_t points;
      if (!args.Text(text) || !args.Comma() || !args.Number(points) || !args.End()) return false;
      if (text.empty() || text.size() >= sizeof config.FaceName || points < 0 || points > 100) return args.Fail();
      const std::string face = jcode::SjisToUtf8(text);
      std::snprintf(config.FaceName, sizeof config.FaceName, "%s", text.c_str());
      config.FontPoint = points;
      if (hooks.font) hooks.font(face, points);
      return true;
    }
    case atom::SETHILIGHT:
    case atom::SETHILIGHT1:
    case atom::SETHILIGHT2:
    case atom::SETHILIGHT3:
    case atom::SETHILIGHT4: {
      if (!args.Text(text) || !args.End()) return false;
      const int slot = a - atom::SETHILIGHT;
      if (!changes.hilights.count(slot)) changes.hilights[slot] = config.aszHilight[slot];
      const std::string_view cut = CutSjis(text, sizeof config.aszHilight[slot] - 1);
      std::snprintf(config.aszHilight[slot], sizeof config.aszHilight[slot], "%.*s", static_cast<int>(cut.size()),
                    cut.data());
      if (hooks.hilightChanged) hooks.hilightChanged();
      return true;
    }
    case atom::PLAY: {
      if (!args.Text(text) || !args.End()) return false;
      // No synthesiser: the music text is one beep.
      Beep();
      return true;
    }
    case atom::KEYASSIGN: return KeyAssign(args);
    default: return true;
  }
}

void SCRIPTPROGRAMCMDS::EndRun() {
  SCRIPT::fKeyboardOn = true;
  for (const auto& [slot, saved] : changes.hilights)
    std::snprintf(config.aszHilight[slot], sizeof config.aszHilight[slot], "%s", saved.c_str());
  if (!changes.hilights.empty() && hooks.hilightChanged) hooks.hilightChanged();
  if (changes.keysAssigned) ResetKey(-1);
  if (changes.errorLogWrapped) SCRIPT::hooks.reportError = changes.savedReport;
  changes = {};
  fErrorLog = false;
}

void SCRIPTPROGRAMCMDS::ResetForTest() {
  changes = {};
  hooks = {};
  fSoundOn = true;
  fErrorLog = false;
}

// ---- KEYSTATE's keys -------------------------------------------------------

namespace {
std::set<int32_t> keysDown;
}

int32_t SCRIPTKEYSTATE::VirtualKey(int k) {
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 0x41 + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return 0x30 + (k - Qt::Key_0);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return 0x70 + (k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Asterisk: return 0x6A;
    case Qt::Key_Plus: return 0x6B;
    case Qt::Key_Minus: return 0xBD;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Period: return 0xBE;
    case Qt::Key_Slash: return 0xBF;
    case Qt::Key_Semicolon: return 0xBB;
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_At: return 0xC0;
    case Qt::Key_BracketLeft: return 0xDB;
    case Qt::Key_Backslash: return 0xDC;
    case Qt::Key_BracketRight: return 0xDD;
    case Qt::Key_AsciiCircum: return 0xDE;
    default: return 0;
  }
}

void SCRIPTKEYSTATE::Press(int qtKey) {
  if (const int32_t vk = VirtualKey(qtKey)) keysDown.insert(vk);
}
void SCRIPTKEYSTATE::Release(int qtKey) { keysDown.erase(VirtualKey(qtKey)); }
void SCRIPTKEYSTATE::Clear() { keysDown.clear(); }
bool SCRIPTKEYSTATE::IsDown(int32_t vk) { return keysDown.count(vk) > 0; }
bool SCRIPTKEYSTATE::IsModifier(int32_t vk) { return (vk >= 0x10 && vk <= 0x12) || (vk >= 0xA0 && vk <= 0xA5); }
