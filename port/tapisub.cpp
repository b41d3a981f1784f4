#include "port/tapisub.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/debuglog.h"
#include "platform/jcode.h"
#include "platform/ui.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "shell/online.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "stock/tagquery.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "terminal/waiter.h"

TAPISUBHOOKS TAPISUB::hooks;
int TAPISUB::fAntiRedialProtect = 0;
int TAPISUB::iAntiRedialDigit = 0;
DIRECTDIAL* TAPISUB::pDirectDial = nullptr;
int TAPISUB::fHangingUp = 0;

namespace {

// Status texts of the dialling window.
const char kStatusIdle[] = "待機中";
const char kStatusInit[] = "モデム初期化中";
const char kStatusDialling[] = "ダイヤル中";
const char kStatusConnected[] = "接続中";
const char kStatusBusy[] = "話し中";
const char kStatusCancelling[] = "取り消し中";
const char kStatusDialTimeout[] = "ダイヤル待ち時間オーバー";

const char kInitFailed[] = "モデムの初期化に失敗しました。";
const char kDialError[] = "ダイヤルに使うATコマンドが誤っているため、モデムからエラーコードが返されました。";

// The answers to a dial, in the order whose positions the results report.
enum : int {
  ANS_CONNECT = 1, ANS_BUSY, ANS_DELAYED, ANS_REDIAL_ERROR, ANS_NO_CARRIER, ANS_NO_DIALTONE, ANS_ERROR, ANS_OK,
};

bool OnAppThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && app->thread() == QThread::currentThread();
}

void Copy(char* dst, size_t size, const std::string& src) { std::snprintf(dst, size, "%s", src.c_str()); }

}  // namespace

// ============================================================================
// DIRECTDIAL
// ============================================================================

DIRECTDIAL::DIRECTDIAL(DIALPARAMS params) : p(std::move(params)), status(kStatusIdle) {
  tStart = tState = GetTick();
}

DIRECTDIAL::~DIRECTDIAL() = default;

int DIRECTDIAL::SecondsElapsed() const {
  if (!fDialled) return -1;
  return static_cast<int>((GetTick() - tDial) / 1000);
}

int DIRECTDIAL::StateSeconds(TICK now) const { return static_cast<int>((now - tState) / 1000); }

void DIRECTDIAL::SetState(int s, TICK now) {
  state = s;
  tState = now;
}

void DIRECTDIAL::Expect(std::initializer_list<const char*> patterns) {
  waiter.reset();
  for (const char* pattern : patterns) {
    if (!waiter) {
      waiter.reset(new (std::nothrow) WAITER(pattern, 0));
      if (!waiter) {
        NotEnoughMemory();
        return;
      }
    } else {
      waiter->Link(pattern);
    }
  }
}

// Lets the port take in data and gives it to the current matcher: 0 while
// nothing matched, else the position + 1 of the answer that did.
int DIRECTDIAL::Poll() {
  if (waiter) return waiter->Process();
  COMPORT::DoReceive();
  return 0;
}

// Drops what the modem said that nobody waits for, so that a stale line end
// cannot pass for the echo of the next dial.
void DIRECTDIAL::Discard() {
  COMPORT::DoReceive();
  while (COMPORT::IsReceived()) COMPORT::Get();
}

void DIRECTDIAL::SendCommand(const std::string& s) {
  COMPORT::SendSlow(s.c_str());
  COMPORT::SendSlow('\r');
}

int DIRECTDIAL::Tick() {
  if (result != RUNNING || fInTick) return result;
  fInTick = true;
  if (CLIENT::hooks.updateCommStatus) CLIENT::hooks.updateCommStatus();
  if (CLIENT::hooks.timerRefresh) CLIENT::hooks.timerRefresh();
  // Off line only a closed line is reported (the modem was unplugged or its
  // device went away): nothing more can be dialled on it.
  if (COMPORT::GetEvent()) {
    COMPORT::fCdChanged = 0;
    DebugLog("line closed while dialling\n");
    result = FAILED;
    fInTick = false;
    return result;
  }
  // A state that says "at once" runs its successor in the same tick.
  for (int i = 0; i < 4 && result == RUNNING; ++i)
    if (!Step(GetTick())) break;
  fInTick = false;
  return result;
}

// One state's work; true when the next state is to run at once.
int DIRECTDIAL::Step(TICK now) {
  switch (state) {
    case ST_START:
      COMPORT::Send("AT\r");
      Expect({"OK\r\n"});
      SetState(ST_WAIT_OK, now);
      return false;

    case ST_WAIT_OK: {
      const int r = Poll();
      if (r == 1 || (StateSeconds(now) >= 1 && now - COMPORT::tOpen > 2000)) {
        if (!p.modemInit.empty()) {
          SendCommand(p.modemInit);
          Expect({"OK\r\n", "ERROR\r\n"});
          status = kStatusInit;
          SetState(ST_INIT, now);
        } else {
          SetState(ST_DIAL, now);
        }
      }
      return false;
    }

    case ST_INIT:
    case ST_INIT2: {
      const int r = Poll();
      if (r == 1) {
        if (state == ST_INIT && !p.modemInit2.empty()) {
          SendCommand(p.modemInit2);
          Expect({"OK\r\n", "ERROR\r\n"});
          SetState(ST_INIT2, now);
          return false;
        }
        SetState(ST_DIAL, now);
        return true;
      }
      if (r == 2) {
        MyMessageBox(kInitFailed, ui::MB_OK | ui::MB_ICONERROR);
        result = FAILED;
        return false;
      }
      if (StateSeconds(now) >= 3) {
        // Cancel is the default, so a run without a screen gives up.
        const int answer = MyMessageBox(kInitFailed, ui::MB_RETRYCANCEL | ui::MB_ICONWARNING | ui::MB_DEFBUTTON2);
        if (answer == ui::IDRETRY) {
          waiter.reset();
          status = kStatusIdle;
          SetState(ST_START, GetTick());
        } else {
          result = FAILED;
        }
      }
      return false;
    }

    case ST_DIAL: {
      Discard();
      ++cAttempt;
      status = kStatusDialling;
      const std::string& no = (!p.dialNo2.empty() && cAttempt % 2 == 0) ? p.dialNo2 : p.dialNo;
      std::string digit;
      if (p.antiRedial) {
        digit.push_back(static_cast<char>('0' + TAPISUB::iAntiRedialDigit));
        TAPISUB::iAntiRedialDigit = (TAPISUB::iAntiRedialDigit + 1) % 10;
      }
      number = p.prefix + no + digit;
      SendCommand(p.dialCommand + number);
      Expect({"\r"});
      fDialled = true;
      tDial = now;
      fTimedOut = false;
      fRedialRequested = false;
      SetState(ST_ECHO, now);
      return false;
    }

    case ST_ECHO:
      if (Poll() == 1 || StateSeconds(now) >= 1) {
        Expect({"CONNECT", "BUSY\r\n", "DELAYED", "REDIAL ERROR\r\n", "NO CARRIER\r\n", "NO DIALTONE\r\n",
                "ERROR\r\n", "OK\r\n"});
        SetState(ST_RESULT, now);
      }
      return false;

    case ST_RESULT: {
      int r = 0;
      if (StateSeconds(now) < p.dialTimeout) {
        r = Poll();
        if (r == 0) return false;
        DebugLogF("pWaiter return code is %d\n", r);
        if (r == ANS_CONNECT) {
          status = kStatusConnected;
          result = CONNECTED;
          return false;
        }
      } else {
        DebugLog("dialTimeout\n");
        if (!fTimedOut) {
          // The CR makes the modem abandon the call; its answer comes as
          // an ordinary result.
          fTimedOut = true;
          COMPORT::SendSlow('\r');
          tState = now;
          return false;
        }
        // Not even the abandoned call was answered: this attempt is over.
        status = kStatusDialTimeout;
      }
      if (cAttempt >= p.maxRedial) {
        result = FAILED;
        return false;
      }
      if (r == ANS_ERROR) {
        MyMessageBox(kDialError, ui::MB_OK | ui::MB_ICONERROR);
        result = FAILED;
        return false;
      }
      if (r != 0) status = kStatusBusy;
      waiter.reset();
      SetState(ST_WAIT_REDIAL, now);
      return false;
    }

    case ST_CANCELLING:
      if (Poll() != 0 || now - tState > 2000) result = FAILED;
      return false;

    case ST_WAIT_REDIAL:
      Discard();
      if (now - tState > 1000 && (fRedialRequested || (now - tDial) / 1000 >= TICK(p.dialPitch < 0 ? 0 : p.dialPitch))) {
        DebugLog("CMD_REDIAL\n");
        if (TAPISUB::hooks.playRedialSound) TAPISUB::hooks.playRedialSound();
        SetState(ST_DIAL, now);
        return true;
      }
      return false;
  }
  return false;
}

void DIRECTDIAL::Cancel() {
  if (result != RUNNING) return;
  switch (state) {
    case ST_DIAL:
    case ST_ECHO:
    case ST_RESULT:
      COMPORT::SendSlow('\r');
      Expect({"\r\n"});
      status = kStatusCancelling;
      SetState(ST_CANCELLING, GetTick());
      break;
    case ST_CANCELLING:
      break;
    default:  // before dialling, or waiting to redial
      result = FAILED;
      break;
  }
}

void DIRECTDIAL::Redial() {
  if (result != RUNNING) return;
  if (state == ST_RESULT) {
    COMPORT::SendSlow('\r');  // abandon this call
    fRedialRequested = true;
  } else if (state == ST_WAIT_REDIAL) {
    fRedialRequested = true;
  } else if (TAPISUB::hooks.beep) {
    TAPISUB::hooks.beep();
  }
}

// ============================================================================
// TAPISUB
// ============================================================================

namespace {

void WaitMs(int ms) { SleepMs(static_cast<unsigned>(ms)); }

// Opens the serial port of a kind 0, 1 or 4 host, letting the user choose
// another one when it cannot be opened.  The choice is kept (kind 0: in the
// environment's settings, else in the host).
bool OpenSerial(int kind, int* portNo) {
  if (COMPORT::Open(*portNo)) return true;
  MyMessageBox("COM" + std::to_string(*portNo + 1) + " は使えません。他のシリアルポートを指定してください。",
               ui::MB_OK | ui::MB_ICONWARNING);
  if (!TAPISUB::hooks.selectPort) return false;
  for (;;) {
    const int other = TAPISUB::hooks.selectPort(*portNo);
    if (other < 0) return false;
    if (COMPORT::Open(other)) {
      *portNo = other;
      if (kind == MODEM_TAPI) {
        config.PortNo = other;
      } else {
        hostprop.PortNo = other;
        hostprop.SaveRegistry();
      }
      return true;
    }
    MyMessageBox("そこも使えません。", ui::MB_OK | ui::MB_ICONWARNING);
  }
}

bool ConnectDirect() {
  int portNo = hostprop.PortNo;
  if (!OpenSerial(MODEM_DIRECT, &portNo)) return false;
  COMPORT::SetComParam(hostprop.Baudrate, static_cast<STOPBIT>(hostprop.StopBit),
                       static_cast<FLOWCONTROL>(hostprop.FlowControl), 0);
  return true;
}

// Kinds 0 and 4: open the port, set it, and dial with AT commands.
bool ConnectModem(int kind) {
  int portNo, baud;
  DIALPARAMS p;
  p.hostName = hostprop.szName;
  if (kind == MODEM_TAPI) {
    // No telephony service: the environment's modem.  The host's maximum
    // rate, when it has one, caps the speed.
    portNo = config.PortNo;
    baud = config.Baudrate;
    if (hostprop.MaxRate > 0 && (baud <= 0 || hostprop.MaxRate < baud)) baud = hostprop.MaxRate;
    p.modemInit = config.ModemInit;
    p.dialCommand = TAPISUB::PhoneLineCommand(config.PhoneLine);
  } else {
    portNo = hostprop.PortNo;
    baud = hostprop.Baudrate;
    p.modemInit = hostprop.ModemInit;
    p.modemInit2 = hostprop.ModemInit2;
    p.dialCommand = hostprop.DialCommand[0] ? hostprop.DialCommand : "ATD";
  }
  if (config.InterPhone) p.prefix = config.DialPrefix;
  p.dialNo = hostprop.DialNo;
  p.dialNo2 = hostprop.DialNo2;
  p.dialTimeout = config.DialTimeout;
  p.dialPitch = config.DialPitch;
  p.maxRedial = config.MaxRedial;
  p.antiRedial = TAPISUB::fAntiRedialProtect != 0;

  if (!OpenSerial(kind, &portNo)) return false;
  COMPORT::SetComParam(baud, ONESTOPBIT, FLOW_HARDWARE, 0);
  COMPORT::SetLocalEchoOff();
  DIRECTDIAL dial(p);
  const int r = TAPISUB::RunDirectDial(dial);
  COMPORT::RestoreLocalEcho();
  if (r != DIRECTDIAL::CONNECTED) {
    COMPORT::Close();
    return false;
  }
  return true;
}

bool ConnectTelnet() {
  if (hostprop.RasEntry[0]) DebugLogF("dial-up networking is not available here (%s)\n", hostprop.RasEntry);
  for (;;) {
    if (TELNET::ConnectSocket()) return true;
    if (TELNET::ReportConnectFailure() != ui::IDRETRY) return false;
  }
}

// The connect line: the caption and the date on a line of its own, marked
// as the start of a call.
void WriteConnectLine() {
  if (!STOCK::fValid) return;
  if (MYBITMAP::xchCur != 0) bitmap.Input("\r\n");
  const int slot = MYBITMAP::cvCur;
  bitmap.Input(QuillnetTitleText().c_str());
  bitmap.InputDateTime();
  STOCK::SetConnectTag(slot);
  // The call's lines are matched from here on.
  TAGMAKER::StartQuery();
}

void StartHostScript() {
  if (!hostprop.ScriptFile[0]) return;
  if (TAPISUB::hooks.startScript)
    TAPISUB::hooks.startScript(hostprop.ScriptFile);
  else
    DebugLogF("no script runner for %s\n", hostprop.ScriptFile);
}

void GoOnline(bool atModem) {
  if (STOCK::fValid) {
    STOCK::Save();
    STOCK::EnableWrite(1, 1);
    STOCK::SetOnlineFlag();
  }
  CLIENT::ResetReceiveState();
  SetOnline(1);
  RestoreQuillnetTitle();
  WriteConnectLine();
  LOG::StartAtConnect();
  // The dialling took the modem's own CONNECT; the rest of its line (the
  // speed) is still in the port and follows on the screen.
  if (atModem && STOCK::fValid) bitmap.Input("CONNECT");
  if (STOCK::fValid) bitmap.Show();
}

// A modem whose carrier is already reported lost right after connecting
// does not report the line's state: stop watching it.
void CarrierSanityCheck(int kind) {
  if (kind != MODEM_AT && kind != MODEM_TAPI) return;
  if (COMPORT::fSocket || !config.CdCheck) return;
  if (!COMPORT::GetEvent()) return;
  COMPORT::fCdChanged = 0;
  config.CdCheck = 0;
  MyMessageBox(
      "このモデムのCD信号は電話回線の状況を正しく伝えていません。動作環境の「CD信号を監視する」をOFFにします。",
      ui::MB_OK | ui::MB_ICONWARNING);
}

// The end of the call's matching, before the stock writes the call's tags:
// with NoColorOnline the call is matched now, as a whole.
void EndCallMatching() {
  if (STOCK::fValid && config.NoColorOnline && QueryLastCall() > 0) bitmap.CopyRect();
  if (TAGMAKER::fTagQueryActive) TAGMAKER::EndQuery();
}

void DropDtr() {
  const auto drop = [] { COMPORT::Hangup(); };
  const auto raise = [] { COMPORT::RestoreHangup(); };
  if (TAPISUB::hooks.hangupWindow) {
    ui::Current().RunModal([&] {
      TAPISUB::hooks.hangupWindow(500, drop, raise);
      return 0;
    });
  } else {
    drop();
    WaitMs(500);
    raise();
  }
}

void CommErrorDialog() {
  COMMERRORCHOICE choice = TAPISUB::CommErrorOffer();
  if (!TAPISUB::hooks.commErrorWindow) {
    MyMessageBox("Quillnetは通信中に文字化けと思われるエラーを発見しました。対処方法を指示してください。",
                 ui::MB_OK | ui::MB_ICONWARNING);
    return;
  }
  const int ok = ui::Current().RunModal([&] { return TAPISUB::hooks.commErrorWindow(choice) ? 1 : 0; });
  if (ok) TAPISUB::ApplyCommErrorChoice(choice);
}

}  // namespace

const char* TAPISUB::PhoneLineCommand(int phoneLine) {
  switch (phoneLine) {
    case 0: return "ATDP";
    case 1: return "ATDT";
    case 3: return "AT$D";
    default: return "ATD";
  }
}

int TAPISUB::LowerSpeed(int bps) {
  if (bps == 0 || bps > 38400) return 38400;
  if (bps > 19200) return 19200;
  if (bps > 9600) return 9600;
  return 2400;
}

int TAPISUB::RunDirectDial(DIRECTDIAL& dial) {
  pDirectDial = &dial;
  int r;
  if (hooks.dialingWindow) {
    r = ui::Current().RunModal([&dial] { return hooks.dialingWindow(dial); });
  } else if (OnAppThread()) {
    r = ui::Current().RunModal([&dial] {
      QEventLoop loop;
      QTimer timer;
      QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const int x = dial.Tick();
        if (x != DIRECTDIAL::RUNNING) {
          timer.stop();
          loop.exit(x);
        } else if (timer.interval() != DIRECTDIAL::TICK_MS) {
          timer.setInterval(DIRECTDIAL::TICK_MS);
        }
      });
      timer.start(DIRECTDIAL::FIRST_TICK_MS);
      return loop.exec();
    });
  } else {
    WaitMs(DIRECTDIAL::FIRST_TICK_MS);
    while ((r = dial.Tick()) == DIRECTDIAL::RUNNING) WaitMs(DIRECTDIAL::TICK_MS);
  }
  pDirectDial = nullptr;
  return r == DIRECTDIAL::CONNECTED ? DIRECTDIAL::CONNECTED : DIRECTDIAL::FAILED;
}

// The record of an ad hoc connection: "(電話をかける)" dials a number with
// the environment's modem, "(telnet接続)" connects to an address, and
// "(シリアルポートに接続)" opens the environment's serial port.  The number or
// address is asked each time; nothing is stored.
HOSTPROPERTY TAPISUB::AdHocHost(const std::string& sjisName) {
  HOSTPROPERTY h;
  h.SetDefault();
  Copy(h.szName, sizeof h.szName, sjisName);
  if (sjisName == jcode::Utf8ToSjis("(telnet接続)")) {
    h.ModemType = MODEM_TELNET;
  } else if (sjisName == jcode::Utf8ToSjis("(シリアルポートに接続)")) {
    h.ModemType = MODEM_DIRECT;
    h.PortNo = config.PortNo;
    h.Baudrate = config.Baudrate;
    h.FlowControl = config.FlowControl;
  } else {
    h.ModemType = MODEM_TAPI;
  }
  return h;
}

int TAPISUB::Dial(const char* hostName, bool byScript) {
  std::string name = hostName ? hostName : "";
  // A telnet:// URL (the command line, the desktop's URL handler) is an ad
  // hoc telnet call to the address it names, asked for nothing.
  std::string givenAddress;
  if (IsTelnetUrl(name)) {
    givenAddress = name;
    name = jcode::Utf8ToSjis("(telnet接続)");
  }
  if (fOnline) {
    DebugLog("Dial: already on line\n");
    return 0;
  }
  if (!byScript && hooks.stopScripts) hooks.stopScripts();
  HOSTPROPERTY host;
  const bool adHoc = HOSTINI::IsPseudoHost(name.c_str());
  if (adHoc) {
    host = AdHocHost(name);
  } else if (name.empty() || !host.GetRegistry(name.c_str())) {
    ErrorMessage(jcode::SjisToUtf8(name) + " はホストとして登録されていません。");
    return 0;
  }
  hostprop = host;
  SelectHostStock();

  const int kind = hostprop.ModemType;
  bool oneTimeNumber = false;
  if ((kind == MODEM_TAPI || kind == MODEM_TELNET || kind == MODEM_AT) && !hostprop.DialNo[0]) {
    std::string number = givenAddress;
    bool store = false;
    if (number.empty() &&
        (!hooks.inputDialNo || !hooks.inputDialNo(kind == MODEM_TELNET, &number, &store) || number.empty()))
      return 0;
    // A telnet address may name its port: "host:port", "[v6]:port" or a
    // telnet:// URL.  The address goes to DialNo and the port to PortName,
    // so a host that keeps them has them split as the host dialog does.
    if (kind == MODEM_TELNET) {
      std::string address, port, why;
      if (!SplitTelnetAddress(number, &address, &port, &why)) {
        ErrorMessage(jcode::SjisToUtf8(number) + " : " + why);
        return 0;
      }
      if (port.size() >= sizeof hostprop.PortName) {
        DebugLog("Dial: the port is too long\n");
        return 0;
      }
      number = address;
      if (!port.empty()) Copy(hostprop.PortName, sizeof hostprop.PortName, port);
    }
    if (number.size() >= sizeof hostprop.DialNo) {
      DebugLog("Dial: the number is too long\n");
      return 0;
    }
    Copy(hostprop.DialNo, sizeof hostprop.DialNo, number);
    if (store && !adHoc)
      hostprop.SaveRegistry();
    else
      oneTimeNumber = true;
  }

  if (kind == MODEM_NONE) {
    StartHostScript();
    return 1;
  }

  SetQuillnetTitle((name + jcode::Utf8ToSjis(" - 接続中")).c_str());
  const int hadPortAccess = fPortAccess;
  CLIENT::StopPortAccess();  // the dialling reads the port itself
  bool ok = false;
  switch (kind) {
    case MODEM_DIRECT: ok = ConnectDirect(); break;
    case MODEM_TAPI:
    case MODEM_AT: ok = ConnectModem(kind); break;
    case MODEM_TELNET: ok = ConnectTelnet(); break;
    default: DebugLogF("Dial: unknown connection kind %d\n", kind); break;
  }
  if (!ok) {
    COMPORT::Close();
    if (oneTimeNumber) hostprop.DialNo[0] = 0;
    RestoreQuillnetTitle();
    if (hadPortAccess) CLIENT::StartPortAccess();
    return 0;
  }

  GoOnline(kind == MODEM_AT || kind == MODEM_TAPI);
  if (hadPortAccess) CLIENT::StartPortAccess();
  StartHostScript();
  if (oneTimeNumber) hostprop.DialNo[0] = 0;
  CarrierSanityCheck(kind);
  if (hooks.connected) hooks.connected();
  return 1;
}

void TAPISUB::Hangup() {
  if (!fOnline || fHangingUp) return;
  fHangingUp = 1;
  const int kind = hostprop.ModemType;
  if (COMPORT::IsOpen() && !COMPORT::fSocket &&
      (kind == MODEM_DIRECT || kind == MODEM_AT || kind == MODEM_TAPI))
    DropDtr();
  COMPORT::TerminateReadThread();
  COMPORT::Close();
  LOG::End();
  CLIENT::ResetReceiveState();
  EndCallMatching();
  SetOnline(0);
  RestoreQuillnetTitle();
  fHangingUp = 0;
  if (hooks.stopScripts) hooks.stopScripts();
  if (hooks.hungUp) hooks.hungUp();
  if (COMPORT::fErrorDetect) {
    COMPORT::fErrorDetect = 0;
    CommErrorDialog();
  }
  if (hooks.hangupScript) hooks.hangupScript();
}

void TAPISUB::CheckLine() {
  if (!fOnline || fHangingUp) return;
  // What the host sent before the line went is shown first.
  if (COMPORT::IsOpen() && COMPORT::IsReceived()) return;
  if (COMPORT::IsOpen() && !COMPORT::GetEvent()) return;
  COMPORT::fCdChanged = 0;
  DebugLog("line lost\n");
  Hangup();
}

void TAPISUB::Install() {
  CLIENT::hooks.hangup = [] { TAPISUB::Hangup(); };
  if (!CLIENT::hooks.updateCommStatus) CLIENT::hooks.updateCommStatus = [] { TAPISUB::CheckLine(); };
}

COMMERRORCHOICE TAPISUB::CommErrorOffer() {
  COMMERRORCHOICE c;
  c.offerSmooth = config.SmoothScroll != 0;
  c.offerColor = config.NoColorOnline == 0;
  const int kind = hostprop.ModemType;
  c.offerSpeed = (kind == MODEM_TAPI && (hostprop.MaxRate == 0 || hostprop.MaxRate > 2400)) ||
                 (kind == MODEM_AT && hostprop.Baudrate > 2400);
  c.choice = c.offerSmooth  ? COMMERRORCHOICE::SMOOTH
             : c.offerColor ? COMMERRORCHOICE::COLOR
             : c.offerSpeed ? COMMERRORCHOICE::SPEED
                            : COMMERRORCHOICE::OTHER;
  return c;
}

void TAPISUB::ApplyCommErrorChoice(const COMMERRORCHOICE& c) {
  switch (c.choice) {
    case COMMERRORCHOICE::SMOOTH: config.SmoothScroll = 0; break;
    case COMMERRORCHOICE::COLOR: config.NoColorOnline = 1; break;
    case COMMERRORCHOICE::SPEED: {
      const int kind = hostprop.ModemType;
      if (kind != MODEM_TAPI && kind != MODEM_AT) break;
      int& speed = kind == MODEM_TAPI ? hostprop.MaxRate : hostprop.Baudrate;
      speed = LowerSpeed(speed);
      hostprop.SaveRegistry();
      MyMessageBox("ホストプロパティの中で、シリアルポートの速度を " + std::to_string(speed) + "bpsに下げました。",
                   ui::MB_OK | ui::MB_ICONINFORMATION);
      break;
    }
    case COMMERRORCHOICE::OTHER:
      if (hooks.helpOnErrors) hooks.helpOnErrors();
      break;
    default: break;
  }
  if (c.noMoreCheck) config.CheckCommError = 0;
}

void TAPISUB::ResetForTest() {
  hooks = TAPISUBHOOKS();
  fAntiRedialProtect = 0;
  iAntiRedialDigit = 0;
  pDirectDial = nullptr;
  fHangingUp = 0;
}
