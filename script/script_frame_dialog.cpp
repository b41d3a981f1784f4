#include "script/script_frame_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <memory>
#include <optional>

#include "port/tapisub.h"
#include "script/dialogcmds.h"
#include "script/programcmds.h"
#include "script/script.h"
#include "script/script_input_dialog.h"
#include "shell/frame_window.h"
#include "terminal/mybitmap.h"
#include "terminal/terminal_view.h"

namespace {

// Keys that move through the back-scroll rather than type.
bool IsViewKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: return true;
    case Qt::Key_Up:
    case Qt::Key_Down: return e->modifiers() & Qt::ShiftModifier;
    default: return false;
  }
}

// Sees every key of the program's windows: KEYSTATE's table, and the lock
// on typing into the terminal while a script forbids it.
class KEYWATCH : public QObject {
 public:
  explicit KEYWATCH(TERMINALVIEW* view) : view(view) {}

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    switch (e->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        auto* k = static_cast<QKeyEvent*>(e);
        if (!k->isAutoRepeat()) {
          if (e->type() == QEvent::KeyPress)
            SCRIPTKEYSTATE::Press(k->key());
          else
            SCRIPTKEYSTATE::Release(k->key());
        }
        if (e->type() == QEvent::KeyPress && Locked(o) && !IsViewKey(k) && k->key() != Qt::Key_Shift &&
            k->key() != Qt::Key_Control && k->key() != Qt::Key_Alt) {
          SCRIPTPROGRAMCMDS::Beep();
          return true;
        }
        break;
      }
      case QEvent::InputMethod:
        if (Locked(o)) {
          SCRIPTPROGRAMCMDS::Beep();
          return true;
        }
        break;
      case QEvent::ApplicationDeactivate:
      case QEvent::WindowDeactivate: SCRIPTKEYSTATE::Clear(); break;
      default: break;
    }
    return false;
  }

 private:
  bool Locked(QObject* o) const {
    return SCRIPT::fExecuting && !SCRIPT::fKeyboardOn && view && (o == view || o == view->viewport());
  }
  QPointer<TERMINALVIEW> view;
};

}  // namespace

void InstallScriptDialogs(FRAMEWINDOW* frame) {
  QPointer<FRAMEWINDOW> f(frame);
  SCRIPTDIALOGHOOKS& d = SCRIPTDIALOGCMDS::hooks;
  d.windowed = true;
  d.input = [f](const std::string& prompt, const std::string& initial, bool secret, bool longPrompt) {
    return AskScriptInput(prompt, initial, secret, longPrompt, f);
  };
  d.timedBox = [f](const std::string& text, const std::string& caption, unsigned style, int64_t ms) {
    return TimedMessageBox(text, caption, style, ms, f);
  };
  d.menu = [f](const std::vector<SCRIPTMENUITEM>& items, bool atCaret) {
    QPoint at;
    TERMINALVIEW* view = f ? f->Client() : nullptr;
    if (atCaret && view && view->Screen()) {
      const MYBITMAP* s = view->Screen();
      at = view->viewport()->mapToGlobal(
          QPoint(s->GetCurrentX() * view->CellWidth(), (s->GetCurrentY() + 1) * view->CellHeight()));
    } else if (f) {
      at = f->mapToGlobal(f->rect().center());
    }
    return ShowScriptMenu(items, at, f);
  };
  d.setClipboard = [](const std::string& utf8) {
    QClipboard* c = QGuiApplication::clipboard();
    if (!c) return false;
    c->setText(QString::fromUtf8(utf8.c_str()));
    return true;
  };

  SCRIPTPROGRAMHOOKS& p = SCRIPTPROGRAMCMDS::hooks;
  auto normalTitle = std::make_shared<std::optional<QString>>();
  p.title = [f, normalTitle](const std::optional<std::string>& title) {
    if (!f) return;
    if (title) {
      if (!*normalTitle) *normalTitle = f->windowTitle();
      f->setWindowTitle(QString::fromUtf8(title->c_str()));
    } else if (*normalTitle) {
      f->setWindowTitle(**normalTitle);
      normalTitle->reset();
    }
  };
  p.window = [f](int state) {
    if (!f) return;
    if (state == 1)
      f->showMaximized();
    else if (state == 2)
      f->showMinimized();
    else
      f->showNormal();
  };
  p.endScroll = [f] {
    if (f && f->Client()) f->Client()->ScrollLines(1 << 28);
  };
  p.font = [f](const std::string&, int) {
    if (f && f->Client()) f->Client()->ApplyFont();
    return true;
  };
  p.ime = [f](bool open) {
    if (QInputMethod* im = QGuiApplication::inputMethod()) {
      if (f && f->Client()) f->Client()->setAttribute(Qt::WA_InputMethodEnabled, open);
      im->setVisible(open);
      if (!open) im->commit();
    }
  };
  p.beep = [] { QApplication::beep(); };
  // SOUND OFF mutes the dialler's sounds too.
  for (std::function<void()>* sound : {&TAPISUB::hooks.beep, &TAPISUB::hooks.playRedialSound}) {
    if (!*sound) continue;
    *sound = [play = *sound] {
      if (SCRIPTPROGRAMCMDS::fSoundOn) play();
    };
  }
  p.quit = [f](int) {
    // The frame closes as the user's close does (the settings are kept).
    QTimer::singleShot(0, qApp, [f] {
      if (f)
        f->close();
      else
        QCoreApplication::exit(0);
    });
  };
  p.runSyncWindow = [f](bool waiting) {
    if (!f) return;
    if (waiting) {
      f->showMinimized();
      f->setEnabled(false);
    } else {
      f->setEnabled(true);
      f->showNormal();
      f->activateWindow();
    }
  };
  p.hilightChanged = [f] {
    if (f && f->Client()) f->Client()->viewport()->update();
  };

  // KEYSTATE: Shift, Ctrl and Alt as before; other keys from the table.
  auto modifiers = SCRIPT::hooks.keyDown;
  SCRIPT::hooks.keyDown = [modifiers](int32_t vk) {
    if (SCRIPTKEYSTATE::IsModifier(vk)) return modifiers ? modifiers(vk) : false;
    return SCRIPTKEYSTATE::IsDown(vk);  // forgotten whenever our windows lose the focus
  };
  auto* watch = new KEYWATCH(frame->Client());
  watch->setParent(qApp);
  qApp->installEventFilter(watch);
}
