// The interpreter hooked into the receive dispatcher over a real port (two
// pipes), a real screen and stock: a byte that ends a wait ends the pass,
// the statements after it run at the start of the next pass before the
// next byte is taken, and SEND reaches the line.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <string>

#include "platform/ui.h"
#include "port/comport.h"
#include "port/tapisub.h"
#include "script/script.h"
#include "script/var.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "support/line_peer.h"
#include "support/temp_dir.h"
#include "support/test_app.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "script/scripthook.h"
#include "terminal/waiter.h"
#include "terminal/port_bytes.h"

namespace {

class ScriptDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAll();
    ui::SetFacade(&quiet);
    MYBITMAP::hooks.backlog = [] { return 0; };
    MYBITMAP::hooks.inputResting = [] { return true; };
    InstallScriptHooks();
    SCRIPT::hooks.reportError = [this](const SCRIPTERROR& e) { errors.push_back(e.message); };
    ASSERT_EQ(STOCK::Create(dir.File("d.stk"), 1000, 80, 0, 0, 0), 1);
    ASSERT_TRUE(STOCK::EnableWrite(1, 1));
    bitmap.Reset(nullptr, 80, 24);
    CLIENT::Create();
    peer = MakeLinePeer(false);
    ASSERT_EQ(COMPORT::Start(std::move(peer.line)), 1);
    fOnline = 1;
    CLIENT::StartPortAccess();
  }
  void TearDown() override {
    COMPORT::Close();
    ResetAll();
    ui::SetFacade(nullptr);
  }
  static void ResetAll() {
    SCRIPT::Reset();
    VAR::Reset();
    COMPORT::ResetForTest();
    CLIENT::ResetForTest();
    TAPISUB::ResetForTest();
    LOG::ResetForTest();
    STOCK::ResetForTest();
    MYBITMAP::ResetForTest();
    hostprop.SetDefault();
    config.SetDefault();
    fOnline = 0;
  }
  // Writes bytes to the port and waits until its reader holds them.
  void Deliver(const std::string& bytes) { DeliverToPort(peer.toPort.Get(), bytes); }
  static std::string Row(int r) { return ScreenRowText(r); }
  // What the port sent, once n bytes have come.
  std::string Sent(size_t n) { return ReadExactly(peer.ReadFd(), n); }

  ui::RecordingFacade quiet{false};
  TempDir dir;
  LinePeer peer;
  std::vector<std::string> errors;
};

TEST_F(ScriptDispatch, TwoPromptsInOneReadTheNextWaitSeesTheSecond) {
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"A>\"\nsend \"1\"\nwait \"B>\"\nsend \"2\"\n"));
  Deliver("A> B> C");
  // The first pass runs the script up to its wait, then takes bytes until
  // "A>" ends it: the pass stops there, the statement after the wait has not
  // run yet and the rest of the read is still in the port.
  ProcessPortInput();
  EXPECT_EQ(Row(0), "A>");
  EXPECT_TRUE(COMPORT::IsReceived());
  ASSERT_TRUE(SCRIPT::fExecuting);
  EXPECT_EQ(SCRIPT::Current()->line, 2);
  // The next pass begins with the statements: SEND "1", then WAIT "B>",
  // which the rest of the same read ends.
  ProcessPortInput();
  EXPECT_EQ(Row(0), "A> B>");
  EXPECT_EQ(Sent(1), "1");
  ProcessPortInput();
  EXPECT_EQ(Sent(1), "2");
  EXPECT_FALSE(SCRIPT::fExecuting);
  // What is left after the last wait is shown as usual.
  ProcessPortInput();
  EXPECT_EQ(Row(0), "A> B> C");
  EXPECT_TRUE(errors.empty());
}

TEST_F(ScriptDispatch, ALoopSwitchAnswersEachPromptOfABurst) {
  // Three prompts and the end arrive in one read; each is answered in turn.
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("loopswitch\ncase \"menu>\"\nsend \"W\"\ncase \"end\"\nbreakloop\n"
                                        "endloop\nsend \"x\"\n"));
  Deliver("menu>menu>\r\nmenu> end");
  for (int i = 0; i < 20 && SCRIPT::fExecuting; ++i) ProcessPortInput();
  EXPECT_FALSE(SCRIPT::fExecuting);
  EXPECT_EQ(Sent(4), "WWWx");
  EXPECT_TRUE(errors.empty());
}

TEST_F(ScriptDispatch, BetweenTimeSlicesNoByteIsTaken) {
  // A script that runs statements for longer than a slice stops mid-way;
  // the bytes that came meanwhile wait in the port for its next wait.
  // The interpreter's clock moves 1 ms each time it is read, so the 50 ms
  // slice ends after a fixed amount of work however fast the machine is (and
  // the loop stays well inside the 30 s watchdog on that clock).
  TICK fake = GetTick();
  SCRIPT::tickSource = [&fake] { return ++fake; };
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("##i = 0\nwhile (##i < 20000)\n##i = ##i + 1\nendwhile\n"
                                        "wait \"go\"\nsend \"ok\"\n"));
  Deliver("go");
  ProcessPortInput();
  ASSERT_TRUE(SCRIPT::SliceCut()) << "the loop ended within one slice; make it longer";
  EXPECT_TRUE(COMPORT::IsReceived() || COMPORT::cbThreadRead > 0);
  EXPECT_EQ(Row(0), "");
  for (int i = 0; i < 2000 && SCRIPT::fExecuting; ++i) ProcessPortInput();
  EXPECT_EQ(Sent(2), "ok");
  EXPECT_EQ(Row(0), "go");
  SCRIPT::tickSource = nullptr;
}

TEST_F(ScriptDispatch, HangUpAndAUserDialStopEveryScript) {
  struct Case {
    const char* what;
    void (*act)();
  } cases[] = {
      {"hang-up", [] { TAPISUB::Hangup(); }},
      {"a dial from the menu", [] {
         fOnline = 0;
         TAPISUB::Dial("NO-SUCH-HOST");
       }},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"never\"\n")) << c.what;
    ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"never\"\n")) << c.what;
    ProcessPortInput();
    ASSERT_EQ(SCRIPT::cNest(), 2) << c.what;
    c.act();
    EXPECT_FALSE(SCRIPT::fExecuting) << c.what;
  }
  // A dial a script asks for leaves the scripts running.
  TearDown();
  SetUp();
  fOnline = 0;
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"never\"\n"));
  TAPISUB::Dial("NO-SUCH-HOST", true);
  EXPECT_TRUE(SCRIPT::fExecuting);
}

// The same with an event loop: the dispatcher's own timers run the passes,
// the pass after an ended wait runs straight away and a due time-out or
// sleep arms its timer.
class ScriptDispatchWithEvents : public ScriptDispatch {
 protected:
  // Lets the event loop run until no script runs, for at most ms.
  bool RunUntilEnded(int ms = kIoTimeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (SCRIPT::fExecuting) {
      if (std::chrono::steady_clock::now() >= end) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
  }
  TestApp app;
};

TEST_F(ScriptDispatchWithEvents, PromptsOfOneReadAreAnsweredInTurn) {
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("wait \"A>\"\nsend \"1\"\nloopswitch\ncase \"B>\"\nsend \"2\"\n"
                                        "case \"C>\"\nsend \"3\"\nbreakloop\nendloop\nsend \"4\"\n"));
  CLIENT::QueuePass();
  Deliver("A> B> B> C> tail");
  ASSERT_TRUE(RunUntilEnded());
  EXPECT_EQ(Sent(5), "12234");
  // The rest is shown once the script has gone.
  ASSERT_TRUE(WaitFor([] {
    QCoreApplication::processEvents();
    return Row(0) == "A> B> B> C> tail";
  }));
  EXPECT_TRUE(errors.empty());
}

TEST_F(ScriptDispatchWithEvents, TimeOutsAndSleepsEndByTheirOwnTimer) {
  // Nothing arrives: only the timers can end the wait and the sleep.
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("millitimeout 120\nwait \"never\"\nsend \"t\" + result\n"
                                        "millisleep 80\nsend \"s\"\n"));
  CLIENT::QueuePass();
  ASSERT_TRUE(RunUntilEnded());
  EXPECT_EQ(Sent(4), "t-1s");
}
}  // namespace
