// The on-line state, the frame caption and the host's stock file: the small
// pieces of the program shell that the dialler and the frame share.
//
// Logic reaches the frame window only through FRAMEHOOKS, which the frame
// installs; without a frame (tests, the tool) the caption is only kept in
// szCaption and nothing is enabled or disabled.
#pragma once

#include <functional>
#include <string>

struct FRAMEHOOKS {
  // The frame caption changed (UTF-8).
  std::function<void(const std::string& caption)> setCaption;
  // The on-line state changed: connection commands only offline, line
  // commands only online, paste re-evaluated.
  std::function<void(int online)> onlineChanged;
};
extern FRAMEHOOKS frameHooks;

// The caption last set (UTF-8).
extern std::string szCaption;

// The program's name, the offline caption.
extern const char* const kProgramName;

// Stores the on-line flag (fOnline).  Going from online to offline ends the
// stock's online period (STOCK::EndOnline).  Tells the frame.
void SetOnline(int online);

// Sets the caption to a Shift_JIS text (a host name with " - 接続中" while
// dialling, for example).
void SetQuillnetTitle(const char* sjis);

// The caption by the rules: offline the program name; online the host's name
// (hostprop.szName), except for the three ad hoc connections, which show
// "電話 - " and the number, "telnet接続 - " and the address, or
// "ｼﾘｱﾙﾎﾟｰﾄ接続 - COM" with the port number, " ", the speed and "bps".
// Shift_JIS.
std::string QuillnetTitleText();
// Sets the caption to QuillnetTitleText().
void RestoreQuillnetTitle();

// Makes sure the current host's stock file (hostprop.StockFile, when set) is
// the open one.  A file another running instance uses is refused with its
// name and "は他のQuillnetが使用中なので切り替えできません。"; a file that
// does not open falls back to OpenAnyStockFile.  The names reach the
// settings (StockFile, StockFile2).  1 when the host's file (or the current
// one, for a host without its own) is open.
int SelectHostStock();

// Puts the stock's current and previous file names (STOCK::StockFile,
// StockFile2) into the settings and writes those two values.
void StockNamesToSettings();

// The question before the program ends while on line
// ("電話がつながったままなので電話を強制切断してから終了します。",
// OK/Cancel): true to hang up and go on, false to keep the program running.
bool ConfirmExitWhileOnline();

// Back to the initial state (tests).
void ResetOnlineForTest();
