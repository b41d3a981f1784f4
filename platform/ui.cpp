#include "platform/ui.h"

#include <atomic>
#include <cstdio>

namespace ui {

namespace {
RecordingFacade defaultFacade;
std::atomic<Facade*> current{nullptr};
int depth = 0;
}  // namespace

int DefaultAnswer(unsigned style) {
  int which = static_cast<int>((style >> 8) & 0xF);  // 0 first, 1 second, 2 third button
  static const int table[6][3] = {
      {IDOK, IDOK, IDOK},             {IDOK, IDCANCEL, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL},        {IDYES, IDNO, IDNO},        {IDRETRY, IDCANCEL, IDCANCEL},
  };
  unsigned set = style & 0xF;
  if (set > 5) set = 0;
  if (which > 2) which = 0;
  return table[set][which];
}

Facade& Current() {
  Facade* f = current.load();
  return f ? *f : defaultFacade;
}

void SetFacade(Facade* facade) { current.store(facade); }

int ModalDepth() { return depth; }
void EnterModal() { ++depth; }
void LeaveModal() { --depth; }

int RecordingFacade::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
  int answer = DefaultAnswer(style);
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  boxes.push_back({text, caption, style, answer});
  if (print) std::fprintf(stderr, "quillnet: [%s] %s\n", caption.c_str(), text.c_str());
  return answer;
}

std::string RecordingFacade::ChooseFile(const std::string& title, const std::string&, const std::string&, bool) {
  if (files.empty()) {
    if (print) std::fprintf(stderr, "quillnet: [%s] no file chosen\n", title.c_str());
    return {};
  }
  std::string f = files.front();
  files.pop_front();
  return f;
}

int RecordingFacade::RunModal(const std::function<int()>& run) {
  ++depth;
  int r = run();
  --depth;
  return r;
}

}  // namespace ui
