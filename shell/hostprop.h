// HOSTPROPERTY: everything about one host, and `hostprop`, the current host.
//
// Strings are NUL-terminated in fixed buffers (the sizes are part of the stored
// format): text in Shift_JIS, the file names (ScriptFile, LogName, StockFile)
// in UTF-8.  The record is stored under the settings key "Host\" + name, and
// the same reads and writes serve the host list backup file and the mirror
// file's host sections (shell/registry.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class INIFILE;

// Connection kinds (ModemType).
enum : int { MODEM_TAPI = 0, MODEM_DIRECT = 1, MODEM_TELNET = 2, MODEM_NONE = 3, MODEM_AT = 4 };
// Kanji codes (KanjiCode).
enum : int { KANJI_SJIS = 0, KANJI_NEWJIS = 1, KANJI_OLDJIS = 2, KANJI_NEC = 3, KANJI_EUC = 4 };

class HOSTPROPERTY {
 public:
  HOSTPROPERTY() { SetDefault(); }
  // Resets every field to its default.
  void SetDefault();

  // Loads the record of the named host (Shift_JIS) from the settings store.
  // False when the host is not stored: the record then holds the defaults.
  bool GetRegistry(const char* name);
  // Stores the record under its name.  False when the store cannot be written.
  bool SaveRegistry() const;
  // Loads the record from the mirror file's section named after the host.
  void GetIni(const INIFILE& ini, const char* name);
  // Reads / writes the values through whichever backend is open, in the
  // order of the backup file: the values every host has, then those of its
  // connection type, then the rest.  Reads keep the current field as the
  // default (a stored host without "Baudrate" gets 2400).
  void ReadProperty();
  void WriteProperty() const;

  // The protocol flag bytes from / to the stored lists: the names of the
  // enabled protocols, each followed by one blank.  The leading byte is not
  // part of the lists and keeps its value.
  void SetUseUpload(const char* list);
  void SetUseDownload(const char* list);
  std::string GetUseUpload() const;
  std::string GetUseDownload() const;
  // The names in the lists, in flag order (abProtocol[1 + n] and [13 + n]).
  static const char* const aszProtocolName[12];

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

// The TCP port a telnet host's PortName names: a decimal number from 1 to
// 65535, else a service name that the services database knows for "tcp".
// 0 when it names none (also for "0", "70000", "23x" and the empty text).
int TelnetPortNumber(const std::string& portName);

// What a user typed for a telnet host, split into address and port:
//   HOST   HOST:PORT   [IPV6]   [IPV6]:PORT   telnet://HOST[:PORT][/]
// An address with more than one colon and no brackets is an IPv6 address
// taken whole.  The port is left empty when none is given (the host's own
// PortName then stays).  False, with the reason in Japanese in *why when
// given, for an empty address, an empty or unknown port, an unclosed
// bracket, another URL scheme, or a path after the address.
bool SplitTelnetAddress(const std::string& text, std::string* address, std::string* port,
                        std::string* why = nullptr);

// Whether a host name given to the dialler is a telnet:// URL (any case).
bool IsTelnetUrl(const std::string& name);

// The "ADDRESS:PORT" a telnet host is shown as (an IPv6 address in
// brackets); the address alone when PortName is empty, nothing when the
// address is (it is asked for at each call).
std::string TelnetAddressText(const char* dialNo, const char* portName);
