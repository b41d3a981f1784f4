// The log's windows on the offscreen platform: the size-limit question answers
// itself with "go on" when nobody answers, and takes a "no"; the start options
// read the limit field and the plain-text box.
#include "support/test_app.h"
#include "terminal/log_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "platform/ui.h"
#include "terminal/log.h"

namespace {

using App = TestApp;

// Runs `act` on the visible top-level widget named `name` once the event loop
// shows it.  The polling timer belongs to the application object.
void WhenShown(const char* name, std::function<void(QWidget*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, name, act] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == name && w->isVisible()) {
        timer->stop();
        timer->deleteLater();
        act(w);
        return;
      }
  });
  timer->start();
}

TEST(LogLimitQuestion, AnswersItselfWithGoOnAndTakesANo) {
  App app;
  int depthSeen = -1;
  WhenShown("LogLimit", [&](QWidget*) { depthSeen = ui::ModalDepth(); });
  EXPECT_EQ(AskLogLimit("limit reached", 50), LOG::kLimitContinue);
  EXPECT_EQ(depthSeen, 1);  // it counts as a modal dialog while it is up
  EXPECT_EQ(ui::ModalDepth(), 0);

  WhenShown("LogLimit", [](QWidget* w) {
    static_cast<QMessageBox*>(w)->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(AskLogLimit("limit reached", 60000), ui::IDNO);
}

TEST(LogStartOptions, ReadsTheLimitAndThePlainTextBox) {
  App app;
  struct Case {
    const char* field;
    bool plain;
    int kb;
  } cases[] = {{"300", false, 300}, {"", true, 9999}, {"0", true, 9999}, {"10000", false, 9999}, {"9999", false, 9999}};
  for (const auto& c : cases) {
    WhenShown("LogStartOptions", [&c](QWidget* w) {
      w->findChild<QLineEdit*>("limit")->setText(c.field);
      w->findChild<QCheckBox*>("plain")->setChecked(c.plain);
      static_cast<QDialog*>(w)->accept();
    });
    int kb = 50, text = c.plain ? 0 : 1;
    ASSERT_TRUE(AskLogStartOptions(kb, text)) << c.field;
    EXPECT_EQ(kb, c.kb) << c.field;
    EXPECT_EQ(text, c.plain ? 1 : 0) << c.field;
  }
  // The fields start from the values given; cancelling changes nothing.
  QString shownLimit;
  bool shownPlain = false;
  WhenShown("LogStartOptions", [&](QWidget* w) {
    shownLimit = w->findChild<QLineEdit*>("limit")->text();
    shownPlain = w->findChild<QCheckBox*>("plain")->isChecked();
    static_cast<QDialog*>(w)->reject();
  });
  int kb = 120, text = 1;
  EXPECT_FALSE(AskLogStartOptions(kb, text));
  EXPECT_EQ(shownLimit, "120");
  EXPECT_TRUE(shownPlain);
  EXPECT_EQ(kb, 120);
}

}  // namespace
