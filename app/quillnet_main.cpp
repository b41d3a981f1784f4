// The program: start-up, the event loop and shutdown, with a window or
// without one (--headless).
//
// Start-up runs in this order: the command line, the settings, the program's
// directory, the switches, the stock, the windows (or the headless mirror),
// port access, the mirror file check, then the start-up script and the host
// names.  Shutdown reverses it: hang up (asking first while on line), stop
// port access, save the settings, close the windows and the stock.
#include <signal.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/messagebox_dialog.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/dialing_dialog.h"
#include "port/tapisub.h"
#include "port/telnet.h"
#include "port/telnet_dialog.h"
#include "script/backup_offer_window.h"
#include "script/script_menu_window.h"
#include "script/linecmds.h"
#include "script/script.h"
#include "script/scriptname.h"
#include "shell/config.h"
#include "shell/frame_window.h"
#include "shell/headless.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/online.h"
#include "shell/quillnetini.h"
#include "shell/retag_progress_dialog.h"
#include "shell/startup.h"
#include "shell/syntax_dialog.h"
#include "stock/stock.h"
#include "stock/stockprop_dialog.h"
#include "terminal/colorsyntax.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/log_dialog.h"
#include "terminal/mybitmap.h"
#include "script/scripthook.h"
#include "script/permanentvars.h"
#include "script/funckey_dialog.h"
#include "terminal/terminal_view.h"
#include "terminal/tree_window.h"
#include "transfer/transfer_window.h"
#include "transfer/updown.h"

#ifndef QUILLNET_VERSION
#define QUILLNET_VERSION "0"
#endif

namespace {

// Rows of the screen without a window.
constexpr int kHeadlessRows = 24;

bool DisplayAvailable() {
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return true;
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Changes to the program's directory (HomeDir, else the data directory).
void ChangeToProgramDirectory() {
  const std::string dir = config.HomeDir[0] ? std::string(config.HomeDir) : DataDir();
  MakeDirs(dir);
  if (chdir(dir.c_str()) != 0) ErrorMessage("カレントディレクトリの変更に失敗しました。 ディレクトリ=" + dir);
}

void ApplySwitches(const STARTUPOPTIONS& o) {
  if (o.antiRedialProtect) TAPISUB::fAntiRedialProtect = 1;
  if (o.evenParity) COMPORT::fEvenParity = 1;
  if (o.syncTelnet) fSyncTelnet = 1;
  if (o.debugLog && !StartDebugLogFile(".")) std::fprintf(stderr, "quillnet: cannot write Debug.log\n");
}

// Starts the "/s" script: a relative name is looked for in the directory the
// program was started from, then in ScriptPath.  False when it cannot start
// (not found, a compile error: reported).
bool RunStartupScript(const std::string& script, const std::string& startDir) {
  std::string path = FindScriptPath(script, {startDir, config.ScriptPath});
  if (path.empty()) path = script;  // the loader reports it
  if (!SCRIPT::Execute(path)) return false;
  CLIENT::QueuePass();
  return true;
}

// Hangs up (asking first while on line), stops port access and saves the
// settings.  The windows and the stock go afterwards.
void ShutDown() {
  if (fOnline) {
    ConfirmExitWhileOnline();  // without a window nothing can keep the program running
    TAPISUB::Hangup();
  }
  CLIENT::StopPortAccess();
  CLIENT::Destroy();
  LOG::End();
  SavePermanentVariablesNow();
  config.SaveRegistry();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const STARTUPOPTIONS opt = ParseCommandLine(args);
  if (!opt.error.empty()) {
    std::fprintf(stderr, "quillnet: %s\n\n%s", opt.error.c_str(), kUsage);
    return 2;
  }
  if (opt.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (opt.version) {
    std::printf("quillnet %s\nLicense: MIT\n", QUILLNET_VERSION);
    return 0;
  }
  const bool headless = opt.headless || !DisplayAvailable();
  if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");
  signal(SIGPIPE, SIG_IGN);

  QApplication app(argc, argv);
  QCoreApplication::setApplicationName("quillnet");
  QCoreApplication::setApplicationVersion(QUILLNET_VERSION);

  // Relative directories are taken from where the program was started, not
  // from the program's directory it changes to.
  if (!opt.configDir.empty()) SetConfigDir(std::filesystem::absolute(opt.configDir).string());
  if (!opt.dataDir.empty()) SetDataDir(std::filesystem::absolute(opt.dataDir).string());

  ui::QtFacade qtFacade;
  if (!headless) ui::SetFacade(&qtFacade);
  if (!headless)
    CONFIG::pfnScreenWidth = [] {
      QScreen* s = QGuiApplication::primaryScreen();
      return s ? s->geometry().width() : 1024;
    };

  std::error_code cwdError;
  const std::string startDir = std::filesystem::current_path(cwdError).string();
  config.LoadRegistry();
  if (opt.createIni) {
    if (!CreateQuillnetIni()) return 1;
    std::printf("%s\n", QuillnetIniPath().c_str());
    return 0;
  }
  ChangeToProgramDirectory();
  ApplySwitches(opt);
  DebugLogTime("start\n");

  if (!headless) {
    InstallLogDialogs();
    InstallStockPropDialog();
    InstallTelnetDialingWindow();
    InstallDialingWindows();
    InstallSyntaxDialog();
    // After a re-tagging the screen's lines are drawn in their new colours.
    InstallRetagProgressDialog([] {
      if (bitmap.painter.repaintAll) bitmap.painter.repaintAll();
    });
  }
  TAPISUB::Install();
  // A host that starts a ZMODEM send gets its files into the download directory.
  InstallTransferHooks();
  InstallScriptTransfers();
  InstallScriptHooks();
  InstallPermanentVariables();
  // KEYSTATE sees the modifier keys (Windows key codes: Shift, Ctrl, Alt and
  // their left and right forms); STATE("active") whether a window of ours
  // is in front.
  SCRIPT::hooks.keyDown = [](int32_t vk) {
    const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
    switch (vk) {
      case 0x10: case 0xA0: case 0xA1: return m.testFlag(Qt::ShiftModifier);
      case 0x11: case 0xA2: case 0xA3: return m.testFlag(Qt::ControlModifier);
      case 0x12: case 0xA4: case 0xA5: return m.testFlag(Qt::AltModifier);
      default: return false;
    }
  };
  SCRIPT::hooks.active = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
  // SENDCLIPBRD types what the clipboard holds (the window's typing path).
  SCRIPTLINE::hooks.clipboardText = [] { return QGuiApplication::clipboard()->text().toStdString(); };
  if (!headless) SCRIPTLINE::hooks.typed = [](const std::string& sjis) { TERMINALVIEW::SendTyped(sjis); };
  bool scriptFailed = false;
  if (headless) InstallHeadlessScriptReports(stderr, &scriptFailed);

  // The headless screen's rows are the stock's frame before the stock opens,
  // so that every line the screen shows is one the stock writes back.  (The
  // frame window sets its own through the view, which re-establishes the
  // stock's buffer when the row count changes.)
  if (headless) STOCK::cLineFrame = kHeadlessRows;
  // The colour syntax comes with the stock: its hooks go in first.
  InstallColourSyntax();
  bool stockIsNew = false;
  OpenStartupStock(&stockIsNew);

  std::unique_ptr<FRAMEWINDOW> frame;
  int exitStatus = 0;
  bool callStarted = false;
  // A "/s" run ends with its script instead (headless).
  const bool endWithCall = (headless || opt.exitAfterCall) && !opt.hasScript;
  if (headless) {
    bitmap.Reset(nullptr, STOCK::cColumn, kHeadlessRows);
    InstallHeadlessMirror(stdout);
    auto* flusher = new QTimer(&app);
    QObject::connect(flusher, &QTimer::timeout, [] { FlushHeadlessMirror(); });
    flusher->start(100);
  } else {
    frame = std::make_unique<FRAMEWINDOW>(opt.oldShell);
    frame->dial = [](const std::string& sjis) { return TAPISUB::Dial(sjis.c_str()); };
    frame->hangup = [] { TAPISUB::Hangup(); };
    InstallScriptWindows(frame.get());
    // The backup offer after calls and scripts; the manual backup in the file menu.
    {
      const QList<QAction*> menus = frame->menuBar()->actions();
      InstallBackupOffer(frame.get(), menus.isEmpty() ? nullptr : menus.first()->menu());
    }
    // The overall tree: its page in the dock, built from the open stock.
    TREEWINDOW::Install(frame.get());
    InstallFunctionKeys(frame.get());
    frame->PlaceBySettings();
    InstallTransferWindows(frame.get(), frame->menuBar()->addMenu(QStringLiteral("転送(&F)")), frame->Client());
    TELNET::windowSizeSource = [](int* columns, int* lines) {
      *columns = STOCK::cColumn;
      *lines = bitmap.cyLines;
    };
    frame->show();
    // A first stock has no colour syntax yet: offer one (not to a run that
    // ends with its call: nobody may be there to answer).
    if (stockIsNew && !opt.exitAfterCall) OfferSyntaxForNewStock();

    if (config.TreeActive && !frame->TreeDock()->isHidden())
      frame->TreeDock()->widget()->setFocus();
    else
      frame->Client()->setFocus();
  }

  // A run that ends with its call watches the on-line state behind the
  // frame's own hook (when there is a frame).
  if (endWithCall) {
    auto frameOnline = frameHooks.onlineChanged;
    frameHooks.onlineChanged = [frameOnline, &callStarted](int online) {
      if (frameOnline) frameOnline(online);
      if (online) {
        callStarted = true;
      } else if (callStarted) {
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
      }
    };
  }

  CLIENT::Create();
  CLIENT::StartPortAccess();
  // The writer thread is looked after whenever the loop goes idle.
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   [] { COMPORT::CheckWriteThread(); });
  CheckQuillnetIniUpdate();

  // Once the loop runs: the start-up script, or the host names.
  QTimer::singleShot(0, &app, [&] {
    if (opt.hasScript) {
      if (headless) {
        // The run ends with the last level: 0 after EXIT, RETURN or the end
        // of the code, 3 after an error report (runtime, parameter, the
        // watchdog); a call still up is hung up first.
        SCRIPT::hooks.ended = [&scriptFailed] {
          QTimer::singleShot(0, qApp, [&scriptFailed] {
            // A hang-up posted before the end (HANGUP) has run by now; a
            // script it started (AFTERHANGUP) ends the run when it ends.
            if (SCRIPT::fExecuting) return;
            if (fOnline) TAPISUB::Hangup();
            if (SCRIPT::fExecuting) return;
            QCoreApplication::exit(scriptFailed ? 3 : 0);
          });
        };
      }
      if (!RunStartupScript(opt.script, startDir) && headless) QCoreApplication::exit(1);
      return;
    }
    if (opt.hostLine.empty()) {
      if (headless) QCoreApplication::exit(0);  // nothing to call
      return;
    }
    DialHostLine(
        opt.hostLine, [](const std::string& name) { return TAPISUB::Dial(jcode::Utf8ToSjis(name).c_str()); },
        [&](bool connected) {
          if (!connected && endWithCall) {
            std::fprintf(stderr, "quillnet: no host could be called\n");
            QCoreApplication::exit(1);
          }
        });
  });

  exitStatus = app.exec();
  DebugLogTime("end\n");
  ShutDown();
  if (headless) RemoveHeadlessMirror();
  frame.reset();
  STOCK::Close();
  StopDebugLogFile();
  return exitStatus;
}
