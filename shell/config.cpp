#include "shell/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/inifile.h"
#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/serialdevice.h"
#include "shell/helpers.h"
#include "shell/registry.h"
#include "stock/stockprop.h"

CONFIG config;
CONFIG configBackup;
int fOnline = 0;

int (*CONFIG::pfnScreenWidth)() = nullptr;

// The lower layers read the settings through lookups installed here before
// main() runs, so every program that links the settings sees them, loaded
// from the file or set directly: the serial device map (platform/serialdevice)
// the ComDevice<n> paths, the stock's properties the on-line flag.
static_assert(sizeof(CONFIG::ComDevice) / sizeof(CONFIG::ComDevice[0]) == kComDevicePorts);
namespace {
[[maybe_unused]] const bool lookupsInstalled = [] {
  SetComDeviceSetting([](int port) { return config.ComDevice[port]; });
  pfnStockOnline = [] { return fOnline; };
  return true;
}();
}  // namespace

namespace {

// Fixed texts, written here in UTF-8 and held in Shift_JIS.
const char kTopKinsoku[] = "、。，．・？！゛゜ヽヾゝゞ々ー）］｝」』!),.:;?]}｡｣､･ｰﾞﾟ";
const char kBottomKinsoku[] = "（［｛「『([{｢";
const char kQuoteTable[] = ">\t＞\t|\t｜\t:\t：\t》\t≫";

// ANSI colour order, normal then bright, as 0x00BBGGRR; then the colour
// syntax's: quotations a soft green, levels 1-7 light colours that stay
// readable on the black background and apart from the grey text.
const int kPalette[CONFIG::COLOR_COUNT] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                           0xAAAA00, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                           0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF,
                                           0x80C880,  // 16 quotation
                                           0xFFFF55,  // 17 level 1: cyan
                                           0x55FFFF,  // 18 level 2: yellow
                                           0xFF88FF,  // 19 level 3: pink
                                           0xFFAA77,  // 20 level 4: light blue
                                           0x55AAFF,  // 21 level 5: orange
                                           0x77FFAA,  // 22 level 6: lime
                                           0x8888FF}; // 23 level 7: salmon

template <size_t N>
void SetText(char (&buf)[N], const std::string& text) {
  std::strncpy(buf, text.c_str(), N - 1);
  buf[N - 1] = 0;
}

}  // namespace

std::string DefaultEditor() {
  for (const char* var : {"VISUAL", "EDITOR"})
    if (const char* e = std::getenv(var); e && *e) return e;
  return "xdg-open";
}

std::vector<CONFIG::Field> CONFIG::Fields() {
  std::vector<Field> f;
  f.reserve(300);
  auto I = [&](std::string name, int& v, int def) {
    Field x;
    x.kind = Field::INT;
    x.name = std::move(name);
    x.i = &v;
    x.defInt = def;
    f.push_back(std::move(x));
  };
  // A number setting with the range of values it can hold.
  auto R = [&](std::string name, int& v, int def, long long lo, long long hi) {
    I(std::move(name), v, def);
    f.back().lo = lo;
    f.back().hi = hi;
  };
  auto S = [&](Field::Kind kind, std::string name, char* buf, size_t size, std::string def, const char* from) {
    Field x;
    x.kind = kind;
    x.name = std::move(name);
    x.s = buf;
    x.size = size;
    x.defStr = std::move(def);
    x.defFrom = from;
    f.push_back(std::move(x));
  };
  auto T = [&]<size_t N>(std::string name, char(&buf)[N], const char* utf8Default) {
    S(Field::TEXT, std::move(name), buf, N, jcode::Utf8ToSjis(utf8Default), nullptr);
  };
  auto P = [&]<size_t N>(std::string name, char(&buf)[N], std::string def, const char* from = nullptr) {
    S(Field::PATH, std::move(name), buf, N, std::move(def), from);
  };
  char two[3];
  P("HomeDir", HomeDir, "");
  P("StockFile", StockFile, "");
  P("StockFile2", StockFile2, "");
  P("ScriptPath", ScriptPath, "", HomeDir);
  P("DownloadPath", DownloadPath, "", HomeDir);
  P("UploadPath", UploadPath, "", HomeDir);
  P("CopyToFilePath", CopyToFilePath, "", UploadPath);
  P("Browser", Browser, "");
  I("LRBrowser", LRBrowser, 0);
  I("BrowseArea", BrowseArea, 0);
  P("LogPath", LogPath, "", HomeDir);
  P("BackupPath", BackupPath, "", LogPath);
  I("BackupFormat", BackupFormat, 1);
  R("LineBuffer", LineBuffer, 10000, 1000, 10000000);
  T("Quote", Quote, "> ");
  T("QuoteTable", QuoteTable, "");
  I("LowerCase", LowerCase, 0);
  I("MinimizeUpload", MinimizeUpload, 0);
  I("MinimizeDownload", MinimizeDownload, 0);
  I("MinimizeBplus", MinimizeBplus, 0);
  I("MinimizeZmodem", MinimizeZmodem, 0);
  I("UseIni", UseIni, 0);
  I("CheckCommError", CheckCommError, 1);
  I("NoColorOnline", NoColorOnline, 0);
  I("EditorType", EditorType, 0);
  P("Editor", Editor, "");
  P("OtherEditor", OtherEditor, DefaultEditor());
  I("GoLineEndKey", GoLineEndKey, 0);
  I("GoFileEndKey", GoFileEndKey, 0xA23);
  I("PasteKey", PasteKey, 0x92D);
  I("PasteFix", PasteFix, 0);
  I("VertScroll", VertScroll, 1);
  I("HorzScroll", HorzScroll, 0);
  I("LeftSpace", LeftSpace, 8);
  T("FaceName", FaceName, "IPAGothic");
  R("FontPoint", FontPoint, 0, 0, 72);
  I("ReduceVert", ReduceVert, 0);
  I("LineFeed", LineFeed, 0);
  I("BackScroll", BackScroll, 0);
  I("ShowFuncKey", ShowFuncKey, 1);
  R("FuncKeyNum", FuncKeyNum, 12, 0, 12);
  I("FuncKeyWrap", FuncKeyWrap, 1);
  I("FastScroll", FastScroll, 0);
  I("SetScroll", SetScroll, 0);
  R("TreeDay", TreeDay, 7, 0, INT_MAX);
  R("TreeConnect", TreeConnect, 15, 0, INT_MAX);
  I("TreeStyle", TreeStyle, 1);
  I("CommentTree", CommentTree, 1);
  I("BoardShowAll", BoardShowAll, 0);
  R("BoardDay", BoardDay, 20, 0, INT_MAX);
  R("BoardConnect", BoardConnect, 20, 0, INT_MAX);
  R("UnreadDay", UnreadDay, 0, 0, INT_MAX);
  R("UnreadConnect", UnreadConnect, 1, 0, INT_MAX);
  I("UnreadOnly", UnreadOnly, 0);
  I("ShowSpeechNo", ShowSpeechNo, 0);
  I("IconType", IconType, 0);
  I("WindowPosX", WindowPosX, 0);
  I("WindowPosY", WindowPosY, 0);
  I("WindowSizeX", WindowSizeX, 0);
  I("WindowSizeY", WindowSizeY, 0);
  I("ReducedPosX", ReducedPosX, 0);
  I("ReducedSizeX", ReducedSizeX, 0);
  I("ShowTree", ShowTree, 1);
  I("TreeView", TreeView, 1);
  I("SentenceX", SentenceX, 0);
  I("SentenceY", SentenceY, 0);
  I("SubSizeY", SubSizeY, 100);
  I("UpDownPosX", UpDownPosX, 0);
  I("UpDownPosY", UpDownPosY, 0);
  I("SortByName", SortByName, 0);
  I("SortByName2", SortByName2, 0);
  I("SortByName3", SortByName3, 0);
  I("TreePosX", TreePosX, 0);
  I("TreePosY", TreePosY, 0);
  I("TreeSizeX", TreeSizeX, 100);
  I("TreeSizeY", TreeSizeY, 100);
  I("TreeTower", TreeTower, 100);
  I("TreeActive", TreeActive, 0);
  I("EnvPage", EnvPage, 0);
  I("SmoothScroll", SmoothScroll, 1);
  I("SmoothBackScroll", SmoothBackScroll, 1);
  I("AutoSmooth", AutoSmooth, 1);
  I("SmoothCount", SmoothCount, 3);
  I("SmoothCount2", SmoothCount2, 3);
  I("ChatMode", ChatMode, 0);
  for (int n = 0; n < SEARCH_HISTORY; ++n) T("Search" + std::to_string(n + 1) + " ", aszSearch[n], "");
  I("SearchType", SearchType, 0);
  I("SearchArea", SearchArea, 0);
  P("ScriptFile", ScriptFile, "");
  T("BunKin", BunKin, "");
  T("TopKinsoku", TopKinsoku, "");
  T("BottomKinsoku", BottomKinsoku, "");
  I("Wordwrap", Wordwrap, 1);
  I("Burasage", Burasage, 1);
  T("ModemName", ModemName, "");
  R("PortNo", PortNo, 0, 0, 8);
  R("Baudrate", Baudrate, 2400, 1, 99999999);
  R("FlowControl", FlowControl, 2, 0, 2);
  T("ModemInit", ModemInit, "");
  I("PhoneLine", PhoneLine, 0);
  I("InterPhone", InterPhone, 0);
  T("DialPrefix", DialPrefix, "0,");
  R("DialTimeout", DialTimeout, 90, 0, INT_MAX);
  R("DialPitch", DialPitch, 0, 0, INT_MAX);
  R("MaxRedial", MaxRedial, 999, 0, INT_MAX);
  R("HangupTimeout", HangupTimeout, 10, 0, INT_MAX);
  I("HangupNoError", HangupNoError, 0);
  I("CdCheck", CdCheck, 0);
  I("NoiseMixing", NoiseMixing, 0);
  I("AutoDialupHangup", AutoDialupHangup, 1);
  I("ExitDialupHangup", ExitDialupHangup, 1);
  for (int n = 0; n < HILIGHT_COUNT; ++n) {
    std::snprintf(two, sizeof two, "%02d", n);
    T(std::string("Hilight") + two, aszHilight[n], "");
  }
  for (int n = 0; n < COLOR_COUNT; ++n) {
    std::snprintf(two, sizeof two, "%02d", n);
    I(std::string("Color") + two, aColor[n], kPalette[n]);
  }
  for (int n = 0; n < STYLE_COUNT; ++n) {
    std::snprintf(two, sizeof two, "%02d", n);
    I(std::string("Style") + two, aStyle[n], 0);
  }
  I("PColor", PColor, 0);
  T("PFont", PFont, "");
  R("PFontSize", PFontSize, 10, 1, 72);
  I("PLeftMargin", PLeftMargin, 20);
  I("PTopMargin", PTopMargin, 20);
  I("PBottomMargin", PBottomMargin, 20);
  I("PSpace", PSpace, 0);
  T("PPrinterName", PPrinterName, "");
  I("Plate", Plate, 0);
  I("Print", Print, 0);
  for (int n = 0; n < FUNCKEY_COUNT; ++n) {
    std::string key = "F" + std::to_string(n + 1);
    T(key + "Name", aszFuncName[n], "");
    T(key + "Script", aszFuncScript[n], "");
  }
  for (int n = 0; n < 9; ++n) {
    Field x;
    x.kind = Field::PATHSTR;
    x.name = "ComDevice" + std::to_string(n + 1);
    x.str = &ComDevice[n];
    f.push_back(std::move(x));
  }
  return f;
}

int CONFIG::StrMismatch(const char* a, const char* b) { return std::strcmp(a, b) != 0; }

int CONFIG::IntMismatch(int a, int b) { return a != b; }

int CONFIG::AutoFontPoint(int screenWidth) {
  if (screenWidth <= 640) return 9;
  return screenWidth > 800 ? 11 : 10;
}

void CONFIG::ResetQuoteTable() { SetText(QuoteTable, jcode::Utf8ToSjis(kQuoteTable)); }

void CONFIG::Correct() {
  if (HomeDir[0] == 0) SetText(HomeDir, DataDir());
  if (LineBuffer < 1000) LineBuffer = 10000;
  if (QuoteTable[0] == 0) ResetQuoteTable();
  if (FontPoint == 0) FontPoint = AutoFontPoint(pfnScreenWidth ? pfnScreenWidth() : 1024);
  if (TopKinsoku[0] == 0) SetText(TopKinsoku, jcode::Utf8ToSjis(kTopKinsoku));
  if (BottomKinsoku[0] == 0) SetText(BottomKinsoku, jcode::Utf8ToSjis(kBottomKinsoku));
}

void CONFIG::SetDefault() {
  for (Field& f : Fields()) {
    switch (f.kind) {
      case Field::INT: *f.i = f.defInt; break;
      case Field::TEXT:
      case Field::PATH: {
        std::string def = f.defFrom ? std::string(f.defFrom) : f.defStr;
        std::strncpy(f.s, def.c_str(), f.size - 1);
        f.s[f.size - 1] = 0;
        // "the program's directory" defaults follow HomeDir, which is set first.
        if (f.s == HomeDir) SetText(HomeDir, DataDir());
        break;
      }
      case Field::PATHSTR: f.str->clear(); break;
    }
  }
  Correct();
}

void CONFIG::LoadRegistry() {
  const std::string path = REGISTRY::FilePath();
  const bool opened = REGISTRY::OpenKey("Config", false);
  struct stat st;
  if (!opened && stat(path.c_str(), &st) == 0 && st.st_size > 0)
    MyMessageBox(path + "\n設定ファイルに Config の項がありません。既定値を使います。", ui::MB_OK | ui::MB_ICONWARNING);
  for (Field& f : Fields()) {
    switch (f.kind) {
      case Field::INT: *f.i = REGISTRY::ReadInt(f.name.c_str(), f.defInt); break;
      case Field::TEXT: REGISTRY::ReadString(f.name.c_str(), f.s, f.size, f.defStr.c_str()); break;
      case Field::PATH: {
        std::string def = f.defFrom ? std::string(f.defFrom) : f.defStr;
        REGISTRY::ReadPath(f.name.c_str(), f.s, f.size, def.c_str());
        // An empty HomeDir is the program's directory; the values that
        // default to it are read after it.
        if (f.s == HomeDir && HomeDir[0] == 0) SetText(HomeDir, DataDir());
        break;
      }
      case Field::PATHSTR: REGISTRY::ReadPath(f.name.c_str(), *f.str, ""); break;
    }
  }
  REGISTRY::CloseKey();
  Correct();
  std::vector<std::string> bad = REGISTRY::TakeUnusableValues();
  if (!bad.empty()) {
    std::string names;
    for (auto& n : bad) names += (names.empty() ? "" : ", ") + n;
    MyMessageBox(path + "\n次の設定値は型または長さが合わないため既定値を使います: " + names,
                 ui::MB_OK | ui::MB_ICONWARNING);
  }
  if (this == &config) configBackup = *this;
}

bool CONFIG::SaveRegistry() {
  CONFIG& old = configBackup;
  std::vector<Field> now = Fields(), before = old.Fields();
  std::vector<size_t> changed;
  for (size_t n = 0; n < now.size(); ++n) {
    const Field &a = now[n], &b = before[n];
    bool differs = a.kind == Field::INT       ? IntMismatch(*a.i, *b.i)
                   : a.kind == Field::PATHSTR ? *a.str != *b.str
                                              : StrMismatch(a.s, b.s);
    if (differs) changed.push_back(n);
  }
  if (changed.empty()) return true;
  if (!REGISTRY::OpenKey("Config", true)) return false;
  for (size_t n : changed) {
    const Field& a = now[n];
    switch (a.kind) {
      case Field::INT: REGISTRY::WriteInt(a.name.c_str(), *a.i); break;
      case Field::TEXT: REGISTRY::WriteString(a.name.c_str(), a.s); break;
      case Field::PATH: REGISTRY::WritePath(a.name.c_str(), a.s); break;
      case Field::PATHSTR: REGISTRY::WritePath(a.name.c_str(), *a.str); break;
    }
  }
  if (!REGISTRY::CloseKey()) return false;
  if (this == &config) configBackup = *this;
  return true;
}

bool CONFIG::SaveStockFileName() {
  if (!REGISTRY::OpenKey("Config", true)) return false;
  REGISTRY::WritePath("StockFile", StockFile);
  REGISTRY::WritePath("StockFile2", StockFile2);
  if (!REGISTRY::CloseKey()) return false;
  if (this == &config) {
    SetText(configBackup.StockFile, StockFile);
    SetText(configBackup.StockFile2, StockFile2);
  }
  return true;
}

void CONFIG::SaveToQuillnetIni(INIFILE& ini) const {
  const char* section = "Quillnet";
  std::string exeDir;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) exeDir = DirName(std::string(exe, static_cast<size_t>(n)));
  ini.Set(section, "HomeDir", HomeDir);
  ini.Set(section, "ExeDir", exeDir);
  ini.Set(section, "ScriptPath", ScriptPath);
  ini.Set(section, "DownloadPath", DownloadPath);
  ini.Set(section, "UploadPath", UploadPath);
  ini.Set(section, "LogPath", LogPath);
  ini.Set(section, "Editor", Editor);
  const std::pair<const char*, int> numbers[] = {
      {"MinimizeUpload", MinimizeUpload}, {"MinimizeDownload", MinimizeDownload}, {"MinimizeBplus", MinimizeBplus},
      {"MinimizeZmodem", MinimizeZmodem}, {"WindowPosX", WindowPosX},             {"WindowPosY", WindowPosY},
      {"WindowSizeX", WindowSizeX},       {"WindowSizeY", WindowSizeY},           {"SentenceX", SentenceX},
      {"SentenceY", SentenceY},           {"SubSizeY", SubSizeY},                 {"UpDownPosX", UpDownPosX},
      {"UpDownPosY", UpDownPosY},         {"SmoothScroll", SmoothScroll},         {"SmoothBackScroll", SmoothBackScroll},
      {"ChatMode", ChatMode}};
  for (auto& [name, value] : numbers) ini.Set(section, name, std::to_string(value));
}

bool CONFIG::GetValue(const std::string& name, std::string& utf8) {
  for (Field& f : Fields()) {
    if (f.name != name) continue;
    switch (f.kind) {
      case Field::INT: utf8 = std::to_string(*f.i); break;
      case Field::TEXT: utf8 = jcode::SjisToUtf8(f.s); break;
      case Field::PATH: utf8 = f.s; break;
      case Field::PATHSTR: utf8 = *f.str; break;
    }
    return true;
  }
  return false;
}

bool CONFIG::SetValue(const std::string& name, const std::string& utf8, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  for (Field& f : Fields()) {
    if (f.name != name) continue;
    switch (f.kind) {
      case Field::INT: {
        errno = 0;
        char* end = nullptr;
        long long v = std::strtoll(utf8.c_str(), &end, 0);
        if (utf8.empty() || *end || errno || v < f.lo || v > f.hi)
          return fail(name + " takes a number from " + std::to_string(f.lo) + " to " + std::to_string(f.hi) +
                      ", not \"" + utf8 + "\"");
        *f.i = static_cast<int>(static_cast<unsigned>(v));
        return true;
      }
      case Field::TEXT: {
        std::string sjis = jcode::Utf8ToSjis(utf8);
        if (jcode::SjisToUtf8(sjis) != utf8) return fail(name + ": the text has characters Shift_JIS cannot hold");
        if (sjis.size() >= f.size) return fail(name + " holds at most " + std::to_string(f.size - 1) + " bytes");
        std::memcpy(f.s, sjis.c_str(), sjis.size() + 1);
        return true;
      }
      case Field::PATH:
        if (utf8.size() >= f.size) return fail(name + " holds at most " + std::to_string(f.size - 1) + " bytes");
        std::memcpy(f.s, utf8.c_str(), utf8.size() + 1);
        return true;
      case Field::PATHSTR: *f.str = utf8; return true;
    }
  }
  return fail("no setting is named " + name);
}
