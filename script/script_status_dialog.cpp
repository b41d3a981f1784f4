#include "script/script_status_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/tick.h"
#include "script/atoms.h"
#include "script/script.h"
#include "script/script_commands.h"

namespace {

// The keyword of the statement a level is at, past its labels.
QString StatementKeyword(const SCRIPTPOS& p) {
  if (!p.program) return QStringLiteral("???");
  const std::vector<uint8_t>& code = p.program->code.Code();
  ATOMITERATOR it(code.data(), code.size(), p.stmtStart);
  ATOMREF a;
  while (it.Next(a) && a.atom == atom::LABEL) {
  }
  if (a.offset < p.stmtStart || a.atom == 0 || a.atom > atom::LAST_STATEMENT || a.atom == atom::LINENO ||
      a.atom == atom::LABEL)
    return QStringLiteral("???");
  return QString::fromUtf8(atom::Name(a.atom));
}

QLabel* Value(const char* name, QWidget* parent) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->setMinimumWidth(260);
  return l;
}

QPointer<SCRIPTSTATUSDIALOG> g_status;

}  // namespace

SCRIPTSTATUSVIEW SCRIPTSTATUSVIEW::Now() {
  SCRIPTSTATUSVIEW v;
  const SCRIPTPOS* p = SCRIPT::Current();
  v.keyboard = SCRIPT::fKeyboardOn ? QStringLiteral("許可") : QStringLiteral("禁止");
  if (!SCRIPT::fExecuting || !p) {
    v.waiting = QStringLiteral("0");
    return v;
  }
  v.running = true;
  v.paused = SCRIPT::fPause;
  v.file = QString::fromUtf8(p->file.c_str());
  v.line = QString::number(p->line);
  v.command = StatementKeyword(*p);
  v.waiting = QString::number(SCRIPT::cNest() - 1);
  return v;
}

SCRIPTSTATUSDIALOG::SCRIPTSTATUSDIALOG(QWidget* parent) : QDialog(parent) {
  setObjectName("ScriptStatus");
  setWindowTitle(QStringLiteral("スクリプトの状態"));
  setModal(false);
  clock = [] { return int64_t(GetTick()); };
  file = Value("file", this);
  line = Value("line", this);
  command = Value("command", this);
  keyboard = Value("keyboard", this);
  waiting = Value("waiting", this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ファイル名:"), file);
  form->addRow(QStringLiteral("行番号:"), line);
  form->addRow(QStringLiteral("コマンド:"), command);
  form->addRow(QStringLiteral("キーボード:"), keyboard);
  form->addRow(QStringLiteral("待機中のスクリプト:"), waiting);

  pause = new QPushButton(QStringLiteral("ポーズ"), this);
  pause->setObjectName("pause");
  step = new QPushButton(QStringLiteral("ステップ"), this);
  step->setObjectName("step");
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName("close");
  pause->setAutoDefault(false);
  step->setAutoDefault(false);
  connect(pause, &QPushButton::clicked, this, [this] {
    RunScriptCommand(scriptcmd::PAUSE);
    refreshedAt.reset();  // the user's own change shows at once
    Tick();
  });
  connect(step, &QPushButton::clicked, this, [this] {
    if (!SCRIPT::fExecuting) return;
    // One statement, then the pause again: Process runs it from the loop.
    SCRIPT::SingleStep();
    QueueScriptProcess();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pause);
  buttons->addWidget(step);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  timer = new QTimer(this);
  timer->setTimerType(Qt::PreciseTimer);
  timer->setInterval(int(kMinRefreshMs));
  connect(timer, &QTimer::timeout, this, [this] { Tick(); });
  timer->start();
  Show(SCRIPTSTATUSVIEW::Now());
}

void SCRIPTSTATUSDIALOG::Tick() {
  const int64_t now = clock();
  if (refreshedAt && now - *refreshedAt < kMinRefreshMs) return;
  const SCRIPTSTATUSVIEW v = SCRIPTSTATUSVIEW::Now();
  if (v == shown) return;
  refreshedAt = now;
  Show(v);
}

void SCRIPTSTATUSDIALOG::Show(const SCRIPTSTATUSVIEW& v) {
  shown = v;
  ++refreshes;
  file->setText(v.running ? v.file : QStringLiteral("（実行中のスクリプトはありません）"));
  line->setText(v.line);
  command->setText(v.command);
  keyboard->setText(v.keyboard);
  waiting->setText(v.waiting);
  pause->setText(v.paused ? QStringLiteral("再開") : QStringLiteral("ポーズ"));
  pause->setEnabled(v.running);
  step->setEnabled(v.running);
}

SCRIPTSTATUSDIALOG* ShowScriptStatus(QWidget* parent) {
  if (!g_status) {
    g_status = new SCRIPTSTATUSDIALOG(parent);
    g_status->setAttribute(Qt::WA_DeleteOnClose);
  }
  g_status->show();
  g_status->raise();
  g_status->activateWindow();
  return g_status;
}
