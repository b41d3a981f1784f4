// The Qt implementation of the user-interface facade.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include "platform/messagebox_dialog.h"

namespace ui {

namespace {

QMessageBox::StandardButton ButtonFor(int id) {
  switch (id) {
    case IDOK: return QMessageBox::Ok;
    case IDCANCEL: return QMessageBox::Cancel;
    case IDABORT: return QMessageBox::Abort;
    case IDRETRY: return QMessageBox::Retry;
    case IDIGNORE: return QMessageBox::Ignore;
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
  }
  return QMessageBox::Ok;
}
}  // namespace

int QtFacade::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
  static const int sets[6][3] = {
      {IDOK, 0, 0}, {IDOK, IDCANCEL, 0}, {IDABORT, IDRETRY, IDIGNORE},
      {IDYES, IDNO, IDCANCEL}, {IDYES, IDNO, 0}, {IDRETRY, IDCANCEL, 0},
  };
  unsigned set = style & 0xF;
  if (set > 5) set = 0;
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QString::fromStdString(caption.empty() ? std::string("Quillnet") : caption));
  box.setText(QString::fromStdString(text));
  switch (style & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
  }
  QMessageBox::StandardButtons buttons;
  for (int id : sets[set])
    if (id) buttons |= ButtonFor(id);
  box.setStandardButtons(buttons);
  box.setDefaultButton(ButtonFor(DefaultAnswer(style)));
  EnterModal();
  int r = box.exec();
  LeaveModal();
  for (int id : sets[set])
    if (id && r == ButtonFor(id)) return id;
  return set == 0 ? IDOK : IDCANCEL;  // closed with the window button
}

std::string QtFacade::ChooseFile(const std::string& title, const std::string& dir, const std::string& filter,
                                 bool save) {
  QString t = QString::fromStdString(title), d = QString::fromStdString(dir), f = QString::fromStdString(filter);
  QString name = save ? QFileDialog::getSaveFileName(QApplication::activeWindow(), t, d, f)
                      : QFileDialog::getOpenFileName(QApplication::activeWindow(), t, d, f);
  return name.toStdString();
}

int QtFacade::RunModal(const std::function<int()>& run) {
  EnterModal();
  int r = run();
  LeaveModal();
  return r;
}

}  // namespace ui
