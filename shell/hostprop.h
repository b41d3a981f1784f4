// HOSTPROPERTY: everything about one host, and `hostprop`, the current host.
//
// Strings are NUL-terminated Shift_JIS in fixed buffers (the sizes are part of
// the stored format).  Loading, saving, the host list and its backup file come
// with the settings store; this record and its defaults are what the port and
// the terminal read.
#pragma once

#include <cstdint>
#include <vector>

// Connection kinds (ModemType).
enum : int { MODEM_TAPI = 0, MODEM_DIRECT = 1, MODEM_TELNET = 2, MODEM_NONE = 3, MODEM_AT = 4 };
// Kanji codes (KanjiCode).
enum : int { KANJI_SJIS = 0, KANJI_NEWJIS = 1, KANJI_OLDJIS = 2, KANJI_NEC = 3, KANJI_EUC = 4 };

class HOSTPROPERTY {
 public:
  HOSTPROPERTY() { SetDefault(); }
  // Resets every field to its default.
  void SetDefault();

  char szName[80];
  char DialNo[50];
  char DialNo2[50];
  int VideoTex;
  char ScriptFile[260];
  int KanjiCode;
  int LocalEcho;
  int LocalEdit;
  int ReceiveCROnly;
  int SendCRLF;
  int RemoveCtrls;
  int ControlKey;
  int CursorCode;
  int SevenBit;  // stored as "7bit"
  int ETX;
  int AutoJisEuc;
  int ModemType;
  char ModemName[80];
  std::vector<std::uint8_t> ModemProp;
  int MaxRate;
  int PortNo;  // 0-based: 0 is the first serial device
  int Baudrate;
  int StopBit;
  int FlowControl;
  char PortName[40];
  char RasEntry[100];
  char ModemInit[40];
  char ModemInit2[40];
  char DialCommand[10];
  // One leading byte, then twelve upload and twelve download protocol flags.
  std::uint8_t abProtocol[25];
  int AutoBPLUS;
  int AutoZmodem;
  int FlyingXmodem;
  int SaveTimeStamp;
  int QuickVANWindowReceive;
  int QuickVANWindowSend;
  int MaskCtrlCode;
  int Orikaeshi;
  int AutoMarginSync;
  int HankakuMargin;
  int Margin;
  int Kinsoku;
  int TabToSpace;
  std::uint8_t PaceCharacter;
  int Collate;
  int FastSend;
  int LogType;
  char LogName[40];
  int LogLimit;
  char StockFile[260];
};

extern HOSTPROPERTY hostprop;
