// CONFIG: program settings, and `config`, the one instance.
//
// Every value lives under the key "Config" of the settings store.  Strings are
// NUL-terminated in fixed buffers: text (Shift_JIS) or paths (UTF-8).  The
// list of values, in the order they are read, is Fields(); loading, saving,
// the defaults and named access for the command line all walk it.
#pragma once

#include <climits>
#include <string>
#include <vector>

class INIFILE;

class CONFIG {
 public:
  // Colours 0-15 are the terminal's palette (0 background, 7 text, 15
  // highlighted text); 16 draws quotations and 17-23 the lines of colour
  // syntax levels 1-7.  Styles exist for the palette only.
  enum : int {
    SEARCH_HISTORY = 10,
    HILIGHT_COUNT = 16,
    COLOR_COUNT = 24,
    STYLE_COUNT = 16,
    COLOR_QUOTE = 16,
    COLOR_LEVEL1 = 17,
    FUNCKEY_COUNT = 12
  };

  CONFIG() { SetDefault(); }
  // Every value to its default (as a load from an empty store gives).
  void SetDefault();
  // Reads every value from the store, applying defaults and corrections, and
  // keeps a copy in configBackup.  An unusable file or value is reported with
  // the file's path and its default is used.
  void LoadRegistry();
  // Writes the values that differ from configBackup, then updates the copy.
  // False when the store could not be written.
  bool SaveRegistry();
  // Writes StockFile and StockFile2 only.
  bool SaveStockFileName();
  // The built-in table of quote prefixes (tab-separated).
  void ResetQuoteTable();
  // The mirror file's "Quillnet" section.
  void SaveToQuillnetIni(INIFILE& ini) const;

  static int StrMismatch(const char* a, const char* b);
  static int IntMismatch(int a, int b);
  // FontPoint 0 means automatic: 9 up to 640 pixels of screen width, 10 up to
  // 800, 11 above.
  static int AutoFontPoint(int screenWidth);
  // The screen width the automatic font size uses; the user interface sets
  // it.  Without one, 1024.
  static int (*pfnScreenWidth)();

  // One value of the record, for walking them all.
  struct Field {
    enum Kind { INT, TEXT, PATH, PATHSTR } kind = INT;
    std::string name;
    int* i = nullptr;
    int defInt = 0;
    // INT: the values the setting can hold (config set refuses others).
    long long lo = INT_MIN, hi = UINT_MAX;
    char* s = nullptr;  // TEXT, PATH: the buffer
    size_t size = 0;
    std::string* str = nullptr;  // PATHSTR
    std::string defStr;          // TEXT: Shift_JIS; PATH: UTF-8
    const char* defFrom = nullptr;  // PATH: default is this other value of the record
  };
  std::vector<Field> Fields();
  // The value named `name` as UTF-8 text (numbers in decimal).  False when
  // there is no such value.
  bool GetValue(const std::string& name, std::string& utf8);
  // Sets a value from UTF-8 text (numbers in decimal or 0x hexadecimal).
  // False with *error (naming the setting and, for a number, its range)
  // when the name is unknown, the text does not fit, or a number is out of
  // the setting's range; nothing is changed then.
  bool SetValue(const std::string& name, const std::string& utf8, std::string* error);

  char HomeDir[260];
  char StockFile[260];
  char StockFile2[260];
  char ScriptPath[260];
  char DownloadPath[260];
  char UploadPath[260];
  char CopyToFilePath[260];
  char Browser[260];
  int LRBrowser;
  int BrowseArea;
  char LogPath[260];
  char BackupPath[260];
  int BackupFormat;
  int LineBuffer;  // terminal back-scroll lines
  char Quote[11];
  char QuoteTable[99];  // tab-separated quote prefixes
  int LowerCase;
  int MinimizeUpload;
  int MinimizeDownload;
  int MinimizeBplus;
  int MinimizeZmodem;
  int UseIni;
  int CheckCommError;  // line errors set COMPORT::fErrorDetect
  int NoColorOnline;
  int EditorType;
  char Editor[260];
  char OtherEditor[260];
  int GoLineEndKey;
  int GoFileEndKey;
  int PasteKey;
  int PasteFix;
  int VertScroll;
  int HorzScroll;
  int LeftSpace;
  char FaceName[32];
  int FontPoint;
  int ReduceVert;
  int LineFeed;
  int BackScroll;
  int ShowFuncKey;
  int FuncKeyNum;
  int FuncKeyWrap;
  int FastScroll;
  int SetScroll;
  int TreeDay;
  int TreeConnect;
  int TreeStyle;
  int CommentTree;
  int BoardShowAll;
  int BoardDay;
  int BoardConnect;
  int UnreadDay;
  int UnreadConnect;
  int UnreadOnly;
  int ShowSpeechNo;
  int IconType;
  int WindowPosX;
  int WindowPosY;
  int WindowSizeX;
  int WindowSizeY;
  int ReducedPosX;
  int ReducedSizeX;
  int ShowTree;
  int TreeView;
  int SentenceX;
  int SentenceY;
  int SubSizeY;
  int UpDownPosX;
  int UpDownPosY;
  int SortByName;
  int SortByName2;
  int SortByName3;
  int TreePosX;
  int TreePosY;
  int TreeSizeX;
  int TreeSizeY;
  int TreeTower;
  int TreeActive;
  int EnvPage;
  int SmoothScroll;
  int SmoothBackScroll;
  int AutoSmooth;
  int SmoothCount;
  int SmoothCount2;
  int ChatMode;
  char aszSearch[SEARCH_HISTORY][150];  // "Search1 ", "Search2 ", ...
  int SearchType;
  int SearchArea;
  char ScriptFile[80];
  char BunKin[512];
  char TopKinsoku[200];     // characters that may not begin a line
  char BottomKinsoku[60];   // characters that may not end a line
  int Wordwrap;
  int Burasage;
  char ModemName[80];
  int PortNo;  // 0-based
  int Baudrate;
  int FlowControl;
  char ModemInit[40];
  int PhoneLine;
  int InterPhone;
  char DialPrefix[30];
  int DialTimeout;    // seconds
  int DialPitch;
  int MaxRedial;
  int HangupTimeout;  // seconds
  int HangupNoError;
  int CdCheck;         // watch the carrier-detect signal on modem lines
  int NoiseMixing;     // test aid: damage received and sent bytes now and then
  int AutoDialupHangup;
  int ExitDialupHangup;
  char aszHilight[HILIGHT_COUNT][29];  // "Hilight00", ...
  int aColor[COLOR_COUNT];             // "Color00", ...: 0x00BBGGRR
  int aStyle[STYLE_COUNT];             // "Style00", ...
  int PColor;
  char PFont[32];
  int PFontSize;
  int PLeftMargin;
  int PTopMargin;
  int PBottomMargin;
  int PSpace;
  char PPrinterName[80];
  int Plate;
  int Print;
  char aszFuncName[FUNCKEY_COUNT][32];     // "F1Name", ...
  char aszFuncScript[FUNCKEY_COUNT][260];  // "F1Script", ...
  // Serial device paths for port numbers 0..8 ("ComDevice1".."ComDevice9");
  // empty means /dev/ttyS<n>.
  std::string ComDevice[9];

 private:
  void Correct();
};

extern CONFIG config;

// The editor a Linux user expects when the settings name none: $VISUAL,
// then $EDITOR, then xdg-open.
std::string DefaultEditor();
// The values as last loaded or saved: SaveRegistry writes only what differs.
extern CONFIG configBackup;

// Program-wide state set by the shell.
extern int fOnline;  // 1 while a connection is up
