// The re-tagging progress window.
#include "shell/retag_progress_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

#include "shell/syntax_dialog.h"
#include "stock/tagquery.h"

RetagProgressDialog::RetagProgressDialog(int steps, QWidget* parent) : QDialog(parent) {
  setObjectName("RetagProgressDialog");
  setWindowTitle(QStringLiteral("カラー構文を再計算中"));
  auto* top = new QVBoxLayout(this);
  top->addWidget(new QLabel(QStringLiteral("カラー構文を再計算中です。")));
  bar = new QProgressBar;
  bar->setObjectName("bar");
  bar->setRange(0, std::max(1, steps));
  bar->setValue(0);
  top->addWidget(bar);
  stop = new QPushButton(QStringLiteral("中止"));
  stop->setObjectName("stop");
  top->addWidget(stop, 0, Qt::AlignHCenter);
  connect(stop, &QPushButton::clicked, this, [this] { reject(); });
  setMinimumWidth(360);
}

void RetagProgressDialog::reject() {
  // The window stays up until the re-tagging has ended.
  stopped = true;
  stop->setEnabled(false);
}

bool RetagProgressDialog::Step(int done) {
  if (done > bar->maximum()) bar->setMaximum(done);
  bar->setValue(done);
  // Every 200 lines: cheap when nothing is pending, and it is what lets the
  // button be pressed.
  QCoreApplication::processEvents();
  return !stopped;
}

namespace {
std::unique_ptr<RetagProgressDialog> box;
}  // namespace

void InstallRetagProgressDialog(std::function<void()> afterRun) {
  tagQueryHooks.progressBegin = [](int steps) {
    box.reset();
    if (!DialogsCanBeShown()) return;
    box = std::make_unique<RetagProgressDialog>(steps, QApplication::activeWindow());
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    QCoreApplication::processEvents();
  };
  tagQueryHooks.progressStep = [](int done) { return box ? box->Step(done) : true; };
  tagQueryHooks.progressEnd = [afterRun] {
    box.reset();
    if (afterRun) afterRun();
  };
}
