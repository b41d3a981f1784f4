#include "shell/hostprop.h"

#include <cstring>

HOSTPROPERTY hostprop;

namespace {
template <size_t N>
void Set(char (&field)[N], const char* value) {
  std::strncpy(field, value, N - 1);
  field[N - 1] = 0;
}
}  // namespace

void HOSTPROPERTY::SetDefault() {
  Set(szName, "");
  Set(DialNo, "");
  Set(DialNo2, "");
  VideoTex = 0;
  Set(ScriptFile, "");
  KanjiCode = KANJI_SJIS;
  LocalEcho = LocalEdit = ReceiveCROnly = SendCRLF = RemoveCtrls = 0;
  ControlKey = CursorCode = SevenBit = ETX = AutoJisEuc = 0;
  ModemType = MODEM_TAPI;
  Set(ModemName, "");
  ModemProp.clear();
  MaxRate = 0;
  PortNo = 0;
  Baudrate = 9600;
  StopBit = 0;
  FlowControl = 2;
  Set(PortName, "telnet");
  Set(RasEntry, "");
  Set(ModemInit, "ATZ");
  Set(ModemInit2, "");
  Set(DialCommand, "ATDP");
  std::memset(abProtocol, 1, sizeof abProtocol);
  AutoBPLUS = 1;
  AutoZmodem = 1;
  FlyingXmodem = 0;
  SaveTimeStamp = 0;
  QuickVANWindowReceive = QuickVANWindowSend = 15;
  MaskCtrlCode = 0;
  Orikaeshi = 76;
  AutoMarginSync = 0;
  HankakuMargin = 1;
  Margin = 0;
  Kinsoku = 1;
  TabToSpace = 0;
  PaceCharacter = 0;
  Collate = FastSend = 0;
  LogType = 0;
  Set(LogName, "");
  LogLimit = 9999;
  Set(StockFile, "");
}
