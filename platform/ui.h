// The user-interface facade: the only way logic reaches the user.
//
// Logic files (quillnet_core) never include a widget header; they ask this
// facade for a message box, a question, a file name or a modal dialog.  The Qt
// implementation lives in quillnet_ui (platform/messagebox_dialog.cpp); the
// recording implementation below serves tests and headless runs: it prints
// every box to standard error and answers with the box's default button, or
// with an answer a test queued.
//
// Texts are UTF-8.  Button and answer codes follow the classic message-box
// numbering so that callers can say "yes/no, default no" the usual way.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Button sets (low nibble), icons and default button, combinable with |.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON1 = 0x000,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
};
// Answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// The answer a box gives when nobody is there to choose: its default button.
int DefaultAnswer(unsigned style);

class Facade {
 public:
  virtual ~Facade() = default;
  // Shows a message box; returns one of the ID answers.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;
  // Asks for a file to open (save = false) or to write (save = true).  Empty when cancelled.
  virtual std::string ChooseFile(const std::string& title, const std::string& dir, const std::string& filter,
                                 bool save) = 0;
  // Runs a dialog modally: `run` shows it and returns its result.  The facade
  // keeps track of nesting so that callers can tell whether a dialog is up.
  virtual int RunModal(const std::function<int()>& run) = 0;
};

// The facade in use.  Defaults to a recording facade that prints to stderr.
Facade& Current();
// Installs a facade (not owned); null restores the default recording facade.
void SetFacade(Facade* facade);
// Depth of modal dialogs now running (facades count them with Enter/LeaveModal).
int ModalDepth();
void EnterModal();
void LeaveModal();

// A facade without a screen: writes each box to stderr as
// "quillnet: [caption] text" and answers with the queued answer, if any, else
// the default button.  Every box is kept for tests to inspect.
class RecordingFacade : public Facade {
 public:
  struct Box {
    std::string text, caption;
    unsigned style;
    int answer;
  };
  explicit RecordingFacade(bool printToStderr = true) : print(printToStderr) {}
  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
  std::string ChooseFile(const std::string& title, const std::string& dir, const std::string& filter,
                         bool save) override;
  int RunModal(const std::function<int()>& run) override;

  std::vector<Box> boxes;           // every message box shown, oldest first
  std::deque<int> answers;          // answers to give next, before the defaults
  std::deque<std::string> files;    // file names to give to ChooseFile
  bool print;
};

// Installs a RecordingFacade for the lifetime of the object (tests).
class ScopedRecordingFacade {
 public:
  explicit ScopedRecordingFacade(bool printToStderr = false) : rec(printToStderr) { SetFacade(&rec); }
  ~ScopedRecordingFacade() { SetFacade(nullptr); }
  RecordingFacade rec;
};

}  // namespace ui
