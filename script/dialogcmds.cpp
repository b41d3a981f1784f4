#include "script/dialogcmds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/ui.h"
#include "platform/usermessage.h"
#include "script/atoms.h"
#include "script/cmdargs.h"
#include "script/filecmds.h"
#include "script/programcmds.h"
#include "script/script.h"
#include "script/value.h"
#include "script/var.h"
#include "shell/config.h"
#include "shell/editor_launcher.h"

namespace fs = std::filesystem;

SCRIPTDIALOGHOOKS SCRIPTDIALOGCMDS::hooks;

namespace {

const char* const kCaption = "Quillnet";
const char* const kOnClipboard = "貼り付ける文字列をクリップボードに置きました。エディタで貼り付けてください。";
constexpr size_t MAX_TITLE = 50, MAX_INITIAL_FILE = 70;

std::vector<SCRIPTMENUITEM> menu;
int menuNumbered = 0;  // numbered items so far

std::string U(const std::string& sjis) { return jcode::SjisToUtf8(sjis); }

// A box through the facade while the level sleeps.
int Box(const std::string& sjis, unsigned style, int64_t ms = -1) {
  SCRIPTARGS::DIALOGTIME asking;
  if (ms >= 0 && SCRIPTDIALOGCMDS::hooks.timedBox) return SCRIPTDIALOGCMDS::hooks.timedBox(U(sjis), kCaption, style, ms);
  // Without a timed box (headless) the time has passed at once: the
  // recording facade answers with the default button.
  return ui::Current().MessageBox(U(sjis), kCaption, style);
}

// Items of MENU / ADDMENU: expressions separated by commas.
bool AddItems(SCRIPTARGS& args, bool numbered) {
  while (!args.AtEnd()) {
    std::string item;
    if (!args.Text(item)) return false;
    SCRIPTMENUITEM m;
    m.text = U(item);
    if (!item.empty() && numbered) m.number = SCRIPTDIALOGCMDS::MenuNumber(menuNumbered);
    if (!item.empty()) ++menuNumbered;
    menu.push_back(std::move(m));
    if (!args.CommaIfMore()) return false;
  }
  return true;
}

bool ExecEditor(SCRIPTARGS& args) {
  std::string file, text;
  int32_t line = 0, column = 0;
  if (!args.AtEnd()) {
    if (!args.Text(file)) return false;
    if (!args.AtEnd()) {
      std::string var;
      int32_t count = 0;
      if (!args.Comma() || !args.Variable(var, true) || !args.Comma() || !args.Number(count)) return false;
      if (VAR::IsNumeric(var)) return args.Fail();
      if (!args.AtEnd() && (!args.Comma() || !args.Number(line))) return false;
      if (!args.AtEnd() && (!args.Comma() || !args.Number(column))) return false;
      if (!args.End()) return false;
      if (count <= 0) {
        // Nothing to paste: nothing happens.
        SCRIPTARGS::SetResult(0);
        return true;
      }
      count = std::min<int32_t>(count, SCRIPTDIALOGCMDS::MAX_PASTE_LINES);
      for (int32_t i = 0; i < count; ++i) {
        if (i) text += "\r\n";
        text += VAR::GetVar(var + "[" + std::to_string(i));
      }
    }
  }
  std::string path;
  if (!file.empty()) {
    const std::optional<std::string> p = SCRIPTFILE::Resolve(file, true);
    if (!p) {
      DebugLogF("script: EXECEDITOR %s: not a Shift_JIS path\n", U(file).c_str());
      SCRIPTARGS::SetResult(0);
      return true;
    }
    path = *p;
  }
  bool reached;
  {
    SCRIPTARGS::DIALOGTIME editing;
    reached = SCRIPT::ExecEditor(path, text, line, column);
  }
  SCRIPTARGS::SetResult(reached ? 1 : 0);
  // The editor gets the front before the script goes on.
  SCRIPTARGS::SleepFor(0);
  return false;
}

}  // namespace

bool SCRIPT::ExecEditor(const std::string& file, const std::string& text, int line, int column) {
  if (!text.empty()) {
    // No key presses are made into another program here: the text waits on
    // the clipboard for the user to paste it.
    const bool put = SCRIPTDIALOGCMDS::hooks.setClipboard && SCRIPTDIALOGCMDS::hooks.setClipboard(U(text));
    if (!put) {
      ErrorMessage("クリップボードがオープンできません。");
    } else {
      ui::Current().MessageBox(kOnClipboard, "エディタを起動します", ui::MB_OK | ui::MB_ICONINFORMATION);
    }
  }
  if (!file.empty()) {
    // A missing file is made empty first, so the editor opens it.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      DebugLogF("script: the editor's file %s: %s\n", file.c_str(), std::strerror(errno));
      return false;
    }
    ::close(fd);
  }
  const std::string dir = SCRIPTFILE::CurrentDir();
  const bool started = SCRIPTDIALOGCMDS::hooks.launchEditor ? SCRIPTDIALOGCMDS::hooks.launchEditor(file, line, column, dir)
                                                            : LaunchEditor(file, line, column, dir);
  if (!started) ReportEditorFailure();
  return started;
}

const std::vector<SCRIPTMENUITEM>& SCRIPTDIALOGCMDS::Menu() { return menu; }

char SCRIPTDIALOGCMDS::MenuNumber(int n) {
  if (n < 9) return static_cast<char>('1' + n);
  if (n < 9 + 26) return static_cast<char>('A' + n - 9);
  return 0;  // beyond Z: no number
}

void SCRIPTDIALOGCMDS::ResetForTest() {
  hooks = {};
  menu.clear();
  menuNumbered = 0;
}

bool SCRIPTDIALOGCMDS::Handles(uint8_t a) {
  switch (a) {
    case atom::MESSAGE:
    case atom::QUESTION:
    case atom::TIMEOUTMESSAGE:
    case atom::TIMEOUTQUESTION:
    case atom::ERROR_:
    case atom::INPUT:
    case atom::SECRETINPUT:
    case atom::MENU:
    case atom::NUMBERMENU:
    case atom::ADDMENU:
    case atom::ADDNUMBERMENU:
    case atom::SHOWMENU:
    case atom::INPUTFILENAME:
    case atom::EXECEDITOR: return true;
    default: return false;
  }
}

bool SCRIPTDIALOGCMDS::Run(uint8_t a) {
  SCRIPTARGS args(a, true, SCRIPTARGS::BARE::REFUSE);
  std::string text, var, initial;
  switch (a) {
    case atom::MESSAGE:
    case atom::QUESTION: {
      if (!args.Text(text) || !args.End()) return false;
      const bool question = a == atom::QUESTION;
      const int r = Box(text, question ? ui::MB_YESNO | ui::MB_ICONQUESTION : ui::MB_OK | ui::MB_ICONINFORMATION);
      SCRIPTARGS::SetResult(question ? (r == ui::IDYES ? 1 : 0) : 0);
      return true;
    }
    case atom::TIMEOUTMESSAGE:
    case atom::TIMEOUTQUESTION: {
      int32_t seconds;
      if (!args.Text(text) || !args.Comma() || !args.Number(seconds) || !args.End()) return false;
      const bool question = a == atom::TIMEOUTQUESTION;
      const int64_t ms = seconds < 0 ? 0 : int64_t(seconds) * 1000;
      const int r = Box(text, question ? ui::MB_YESNO | ui::MB_ICONQUESTION : ui::MB_OK | ui::MB_ICONINFORMATION, ms);
      SCRIPTARGS::SetResult(question ? (r == ui::IDYES ? 1 : 0) : 0);
      return true;
    }
    case atom::ERROR_: {
      if (!args.Text(text) || !args.End()) return false;
      SCRIPTPROGRAMCMDS::Beep();
      if (hooks.windowed) {
        Box(text, ui::MB_OK | ui::MB_ICONERROR);
        SCRIPT::Stop();
        return false;
      }
      // No window: the run's error report records it, and the run fails.
      SCRIPTARGS::ReportMessage(0, U(text));
      return false;
    }
    case atom::INPUT:
    case atom::SECRETINPUT: {
      // Both report as INPUT.
      SCRIPTARGS input(atom::INPUT, false, SCRIPTARGS::BARE::REFUSE);
      if (!input.Text(text) || !input.Comma() || !input.Variable(var, true)) return false;
      if (!input.AtEnd() && (!input.Comma() || !input.Text(initial))) return false;
      if (!input.End()) return false;
      const bool longPrompt = text.size() > SHORT_PROMPT || text.find_first_of("\r\n") != std::string::npos;
      std::optional<std::string> got;
      if (hooks.input) {
        SCRIPTARGS::DIALOGTIME asking;
        got = hooks.input(U(text), U(initial), a == atom::SECRETINPUT, longPrompt);
      }
      if (!got) {
        SCRIPTARGS::SetResult(-1);
        return true;
      }
      SCRIPTARGS::SetResult(1);
      return SCRIPTARGS::Assign(var, std::string(CutSjis(jcode::Utf8ToSjis(*got), VAR::MAX_VALUE)));
    }
    case atom::MENU:
    case atom::NUMBERMENU:
      menu.clear();
      menuNumbered = 0;
      return AddItems(args, a == atom::NUMBERMENU);
    case atom::ADDMENU:
    case atom::ADDNUMBERMENU:
      if (args.AtEnd()) return args.Fail();
      return AddItems(args, a == atom::ADDNUMBERMENU);
    case atom::SHOWMENU: {
      if (!args.End()) return false;
      std::vector<SCRIPTMENUITEM> items;
      items.swap(menu);
      menuNumbered = 0;
      int chosen = -1;
      if (hooks.menu && !items.empty()) {
        SCRIPTARGS::DIALOGTIME asking;
        chosen = hooks.menu(items, fOnline != 0);
      }
      SCRIPTARGS::SetResult(chosen);
      return true;
    }
    case atom::INPUTFILENAME: {
      if (!args.Text(text) || !args.Comma() || !args.Variable(var)) return false;
      if (!args.AtEnd() && (!args.Comma() || !args.Text(initial))) return false;
      if (!args.End()) return false;
      if (text.size() > MAX_TITLE || initial.size() > MAX_INITIAL_FILE) return args.Fail();
      std::string dir = SCRIPTFILE::CurrentDir();
      if (!initial.empty()) {
        if (const std::optional<std::string> p = SCRIPTFILE::Resolve(initial, true)) dir = *p;
      }
      std::string chosen;
      {
        SCRIPTARGS::DIALOGTIME asking;
        chosen = ui::Current().ChooseFile(U(text), dir, "すべてのﾌｧｲﾙ (*)", false);
      }
      const std::string sjis = jcode::Utf8ToSjis(chosen);
      if (chosen.empty() || jcode::SjisToUtf8(sjis) != chosen || sjis.size() > VAR::MAX_VALUE) {
        if (!chosen.empty()) DebugLogF("script: INPUTFILENAME %s: Shift_JIS cannot hold the name\n", chosen.c_str());
        SCRIPTARGS::SetResult(-1);
        return true;
      }
      SCRIPTARGS::SetResult(1);
      return SCRIPTARGS::Assign(var, sjis);
    }
    case atom::EXECEDITOR: return ExecEditor(args);
    default: return true;
  }
}
