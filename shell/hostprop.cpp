#include "shell/hostprop.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstring>

#include "platform/jcode.h"
#include "shell/registry.h"

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

const char* const HOSTPROPERTY::aszProtocolName[12] = {"xmodem",  "xmodemcrc", "xmodem1k",    "bplus",
                                                       "quickvan", "transit",   "zmodem",      "ymodem",
                                                       "ymodemg",  "ymodembatch", "ymodemgbatch", "MLink"};

namespace {
std::string ProtocolList(const std::uint8_t* flags) {
  std::string list;
  for (int n = 0; n < 12; ++n)
    if (flags[n]) list += std::string(HOSTPROPERTY::aszProtocolName[n]) + " ";
  return list;
}

// Names are matched as whole words, so "ymodemg" never enables itself from
// "ymodemgbatch"; unknown names are ignored.
void ParseProtocolList(const char* list, std::uint8_t* flags) {
  std::memset(flags, 0, 12);
  std::string s(list);
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = s.find(' ', pos);
    if (end == std::string::npos) end = s.size();
    std::string word = s.substr(pos, end - pos);
    for (int n = 0; n < 12; ++n)
      if (word == HOSTPROPERTY::aszProtocolName[n]) flags[n] = 1;
    pos = end + 1;
  }
}

std::string HostKey(const char* name) { return "Host\\" + jcode::SjisToUtf8(name); }
}  // namespace

void HOSTPROPERTY::SetUseUpload(const char* list) { ParseProtocolList(list, abProtocol + 1); }
void HOSTPROPERTY::SetUseDownload(const char* list) { ParseProtocolList(list, abProtocol + 13); }
std::string HOSTPROPERTY::GetUseUpload() const { return ProtocolList(abProtocol + 1); }
std::string HOSTPROPERTY::GetUseDownload() const { return ProtocolList(abProtocol + 13); }

void HOSTPROPERTY::ReadProperty() {
  using R = REGISTRY;
  R::ReadString("DialNo", DialNo, sizeof DialNo, DialNo);
  R::ReadString("DialNo2", DialNo2, sizeof DialNo2, DialNo2);
  VideoTex = R::ReadInt("VideoTex", VideoTex);
  R::ReadPath("ScriptFile", ScriptFile, sizeof ScriptFile, ScriptFile);
  KanjiCode = R::ReadInt("KanjiCode", KanjiCode);
  LocalEcho = R::ReadInt("LocalEcho", LocalEcho);
  LocalEdit = R::ReadInt("LocalEdit", LocalEdit);
  ReceiveCROnly = R::ReadInt("ReceiveCROnly", ReceiveCROnly);
  SendCRLF = R::ReadInt("SendCRLF", SendCRLF);
  RemoveCtrls = R::ReadInt("RemoveCtrls", RemoveCtrls);
  ControlKey = R::ReadInt("ControlKey", ControlKey);
  CursorCode = R::ReadInt("CursorCode", CursorCode);
  SevenBit = R::ReadInt("7bit", SevenBit);
  ETX = R::ReadInt("ETX", ETX);
  AutoJisEuc = R::ReadInt("AutoJisEuc", AutoJisEuc);
  ModemType = R::ReadInt("ModemType", ModemType);
  auto readPort = [&] {
    PortNo = R::ReadInt("PortNo", PortNo);
    Baudrate = R::ReadInt("Baudrate", 2400);
    StopBit = R::ReadInt("StopBit", StopBit);
    FlowControl = R::ReadInt("FlowControl", FlowControl);
  };
  switch (ModemType) {
    case MODEM_TAPI:
      R::ReadString("ModemName", ModemName, sizeof ModemName, ModemName);
      MaxRate = R::ReadInt("MaxRate", MaxRate);
      R::ReadBinary("ModemProp", ModemProp);
      break;
    case MODEM_TELNET:
      R::ReadString("PortName", PortName, sizeof PortName, PortName);
      R::ReadString("RasEntry", RasEntry, sizeof RasEntry, RasEntry);
      break;
    case MODEM_AT:
      R::ReadString("ModemInit", ModemInit, sizeof ModemInit, ModemInit);
      R::ReadString("ModemInit2", ModemInit2, sizeof ModemInit2, ModemInit2);
      R::ReadString("DialCommand", DialCommand, sizeof DialCommand, DialCommand);
      readPort();
      break;
    case MODEM_DIRECT: readPort(); break;
  }
  char list[201];
  R::ReadString("UploadProtocol", list, sizeof list, GetUseUpload().c_str());
  SetUseUpload(list);
  R::ReadString("DownloadProtocol", list, sizeof list, GetUseDownload().c_str());
  SetUseDownload(list);
  AutoBPLUS = R::ReadInt("AutoBPLUS", AutoBPLUS);
  AutoZmodem = R::ReadInt("AutoZmodem", AutoZmodem);
  FlyingXmodem = R::ReadInt("FlyingXmodem", FlyingXmodem);
  SaveTimeStamp = R::ReadInt("SaveTimeStamp", SaveTimeStamp);
  QuickVANWindowReceive = R::ReadInt("QuickVANWindowReceive", QuickVANWindowReceive);
  QuickVANWindowSend = R::ReadInt("QuickVANWindowSend", QuickVANWindowSend);
  MaskCtrlCode = R::ReadInt("MaskCtrlCode", MaskCtrlCode);
  Orikaeshi = R::ReadInt("Orikaeshi", Orikaeshi);
  AutoMarginSync = R::ReadInt("AutoMarginSync", AutoMarginSync);
  HankakuMargin = R::ReadInt("HankakuMargin", HankakuMargin);
  Margin = R::ReadInt("Margin", Margin);
  Kinsoku = R::ReadInt("Kinsoku", Kinsoku);
  TabToSpace = R::ReadInt("TabToSpace", TabToSpace);
  PaceCharacter = static_cast<std::uint8_t>(R::ReadInt("PaceCharacter", PaceCharacter));
  Collate = R::ReadInt("Collate", Collate);
  FastSend = R::ReadInt("FastSend", FastSend);
  LogType = R::ReadInt("LogType", LogType);
  R::ReadPath("LogName", LogName, sizeof LogName, LogName);
  LogLimit = R::ReadInt("LogLimit", LogLimit);
  R::ReadPath("StockFile", StockFile, sizeof StockFile, StockFile);
}

void HOSTPROPERTY::WriteProperty() const {
  using R = REGISTRY;
  R::WriteString("DialNo", DialNo);
  R::WriteString("DialNo2", DialNo2);
  R::WriteInt("VideoTex", VideoTex);
  R::WritePath("ScriptFile", ScriptFile);
  R::WriteInt("KanjiCode", KanjiCode);
  R::WriteInt("LocalEcho", LocalEcho);
  R::WriteInt("LocalEdit", LocalEdit);
  R::WriteInt("ReceiveCROnly", ReceiveCROnly);
  R::WriteInt("SendCRLF", SendCRLF);
  R::WriteInt("RemoveCtrls", RemoveCtrls);
  R::WriteInt("ControlKey", ControlKey);
  R::WriteInt("CursorCode", CursorCode);
  R::WriteInt("7bit", SevenBit);
  R::WriteInt("ETX", ETX);
  R::WriteInt("AutoJisEuc", AutoJisEuc);
  R::WriteInt("ModemType", ModemType);
  auto writePort = [&] {
    R::WriteInt("PortNo", PortNo);
    R::WriteInt("Baudrate", Baudrate);
    R::WriteInt("StopBit", StopBit);
    R::WriteInt("FlowControl", FlowControl);
  };
  switch (ModemType) {
    case MODEM_TAPI:
      R::WriteString("ModemName", ModemName);
      R::WriteInt("MaxRate", MaxRate);
      R::WriteBinary("ModemProp", ModemProp);
      break;
    case MODEM_TELNET:
      R::WriteString("PortName", PortName);
      R::WriteString("RasEntry", RasEntry);
      break;
    case MODEM_AT:
      R::WriteString("ModemInit", ModemInit);
      R::WriteString("ModemInit2", ModemInit2);
      R::WriteString("DialCommand", DialCommand);
      writePort();
      break;
    case MODEM_DIRECT: writePort(); break;
  }
  R::WriteString("UploadProtocol", GetUseUpload().c_str());
  R::WriteString("DownloadProtocol", GetUseDownload().c_str());
  R::WriteInt("AutoBPLUS", AutoBPLUS);
  R::WriteInt("AutoZmodem", AutoZmodem);
  R::WriteInt("FlyingXmodem", FlyingXmodem);
  R::WriteInt("SaveTimeStamp", SaveTimeStamp);
  R::WriteInt("QuickVANWindowReceive", QuickVANWindowReceive);
  R::WriteInt("QuickVANWindowSend", QuickVANWindowSend);
  R::WriteInt("MaskCtrlCode", MaskCtrlCode);
  R::WriteInt("Orikaeshi", Orikaeshi);
  R::WriteInt("AutoMarginSync", AutoMarginSync);
  R::WriteInt("HankakuMargin", HankakuMargin);
  R::WriteInt("Margin", Margin);
  R::WriteInt("Kinsoku", Kinsoku);
  R::WriteInt("TabToSpace", TabToSpace);
  R::WriteInt("PaceCharacter", PaceCharacter);
  R::WriteInt("Collate", Collate);
  R::WriteInt("FastSend", FastSend);
  R::WriteInt("LogType", LogType);
  R::WritePath("LogName", LogName);
  R::WriteInt("LogLimit", LogLimit);
  R::WritePath("StockFile", StockFile);
}

bool HOSTPROPERTY::GetRegistry(const char* name) {
  SetDefault();
  Set(szName, name);
  if (!REGISTRY::OpenKey(HostKey(name), false)) return false;
  ReadProperty();
  REGISTRY::CloseKey();
  REGISTRY::TakeUnusableValues();  // unusable values simply keep their defaults
  return true;
}

bool HOSTPROPERTY::SaveRegistry() const {
  if (!REGISTRY::OpenKey(HostKey(szName), true)) return false;
  WriteProperty();
  return REGISTRY::CloseKey();
}

void HOSTPROPERTY::GetIni(const INIFILE& ini, const char* name) {
  SetDefault();
  Set(szName, name);
  REGISTRY::OpenIniSection(&ini, jcode::SjisToUtf8(name));
  ReadProperty();
  REGISTRY::CloseIniSection();
  REGISTRY::TakeUnusableValues();
}

int TelnetPortNumber(const std::string& portName) {
  if (portName.empty()) return 0;
  if (portName.find_first_not_of("0123456789") == std::string::npos) {
    if (portName.size() > 5) return 0;
    const int n = std::stoi(portName);
    return n >= 1 && n <= 65535 ? n : 0;
  }
  servent se, *found = nullptr;
  char buf[1024];
  if (getservbyname_r(portName.c_str(), "tcp", &se, buf, sizeof buf, &found) != 0 || !found) return 0;
  return ntohs(static_cast<uint16_t>(found->s_port));
}

bool SplitTelnetAddress(const std::string& text, std::string* address, std::string* port, std::string* why) {
  auto fail = [why](const char* utf8) {
    if (why) *why = utf8;
    return false;
  };
  std::string t = text;
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(0, 1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  const size_t scheme = t.find("://");
  if (scheme != std::string::npos) {
    std::string name = t.substr(0, scheme);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "telnet") return fail("telnet:// 以外の URL には接続できません。");
    t.erase(0, scheme + 3);
    // One slash may end the URL; anything after it is a path telnet has no use for.
    const size_t slash = t.find('/');
    if (slash != std::string::npos) {
      if (slash + 1 != t.size()) return fail("telnet:// の URL にパスは指定できません。");
      t.resize(slash);
    }
  }
  std::string host, service;
  if (!t.empty() && t.front() == '[') {
    const size_t close = t.find(']');
    if (close == std::string::npos) return fail("IPv6 アドレスの ] がありません。");
    host = t.substr(1, close - 1);
    const std::string rest = t.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return fail("] の後にはポートを :ポート の形で指定してください。");
      service = rest.substr(1);
      if (service.empty()) return fail("ポートを指定してください。");
    }
  } else {
    const size_t colon = t.find(':');
    if (colon != std::string::npos && t.find(':', colon + 1) == std::string::npos) {
      host = t.substr(0, colon);
      service = t.substr(colon + 1);
      if (service.empty()) return fail("ポートを指定してください。");
    } else {
      host = t;  // no colon, or an IPv6 address without brackets
    }
  }
  if (host.empty()) return fail("ホスト名またはアドレスを指定してください。");
  if (host.find_first_of(" \t/[]") != std::string::npos) return fail("ホスト名またはアドレスに使えない文字があります。");
  if (!service.empty() && TelnetPortNumber(service) == 0)
    return fail("ポートは 1～65535 の番号か、telnet のようなサービス名で指定してください。");
  *address = host;
  *port = service;
  return true;
}

bool IsTelnetUrl(const std::string& name) {
  static const char kScheme[] = "telnet://";
  if (name.size() < sizeof kScheme - 1) return false;
  for (size_t i = 0; i < sizeof kScheme - 1; ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != kScheme[i]) return false;
  return true;
}

std::string TelnetAddressText(const char* dialNo, const char* portName) {
  std::string a = dialNo ? dialNo : "";
  const std::string p = portName ? portName : "";
  if (a.empty()) return a;  // asked for at each call
  if (a.find(':') != std::string::npos && a.front() != '[') a = "[" + a + "]";
  return p.empty() ? a : a + ":" + p;
}
