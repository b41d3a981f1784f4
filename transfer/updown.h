// The program's transfer entry points: the menu, the host's automatic start
// and (later) scripts go through these.  They run on the user-interface
// thread over the program's port and its one TRANSFER (`transfer`).
//
// What they need from windows (the progress window, the chooser, the upload
// dialog, the file questions, the history window) they reach through
// UPDOWNHOOKS, which quillnet_ui installs; without it (headless runs,
// tests) the chooser takes the first allowed protocol, a missing file name
// ends the start, the file question takes its default (the spare name) and
// the figures go to standard error once a second.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transfer/transfer.h"

struct UPDOWNHOOKS {
  // The chooser "PROTOCOL": one of `allowed` (PROTOCOL numbers), or -1 cancelled.
  std::function<int(const std::vector<int>& allowed, bool upload)> choose;
  // The upload dialog "アップロード": the chosen files (several where the
  // protocol takes several), empty when cancelled.
  std::function<std::vector<std::string>(const std::string& dir, bool several)> chooseUpload;
  // The download file dialog (XMODEM): a path, empty when cancelled.
  std::function<std::string(const std::string& dir)> chooseDownload;
  // The questions "DOWN2"/"DOWN2RESUME".
  std::function<DOWNMODE(const DOWNQUESTION&)> askDownload;
  // The question "DOWNFILENAME": another name for a file that cannot be created.
  std::function<std::string(const std::string& failedPath)> askFileName;
  // The progress window: opened before the loop, refreshed on every change,
  // closed after it.  `stop` is what "中断！" calls.
  std::function<void(TRANSFER& t)> openProgress;
  std::function<void(TRANSFER& t)> refreshProgress;
  std::function<void()> closeProgress;
  // The menu items that start a transfer: disabled during one.
  std::function<void(bool enabled)> enableTransferMenu;
  // Add-in events ADDINEVENT_TRANSFERSTART / ADDINEVENT_TRANSFEREND.
  std::function<void(bool start)> addinEvent;
  // Text shown on the terminal (the host's message after an abort).
  std::function<void(const std::string& sjis)> showText;
  // The clipboard's text in Shift_JIS; none when it holds no text.
  std::function<std::optional<std::string>()> clipboardText;
};

// The name a clipboard upload shows (never written to the history).
inline constexpr const char kClipboardName[] = "(ｸﾘｯﾌﾟﾎﾞｰﾄﾞ)";
// A clipboard text of this many bytes or more is refused.
inline constexpr size_t kClipboardMax = 65536;
extern UPDOWNHOOKS updownHooks;

// Upload of `file` (UTF-8 path, or for ZMODEM a list of names) with protocol
// p; p -1 asks.  1 when the transfer succeeded and was not stopped.
int ProcessUpload(const std::string& file, int p);
// Download with protocol p (-1 asks); `file` is the name for protocols that
// do not carry one.
// mode answers the question about an existing file (DM_ASK: ask).
int ProcessDownload(const std::string& file, int p, DOWNMODE mode = DM_ASK);
// Started by the receive dispatcher when the host begins a ZMODEM send (its
// "**" ZDLE "B00" already taken).
int AutoZmodem();
// B Plus is not built yet: reports that and returns 0.
int AutoBplus();
// Text upload of the clipboard's text (name "(ｸﾘｯﾌﾟﾎﾞｰﾄﾞ)", never in the history).
int ProcessClipboardUpload();
// Text upload of text held in memory (Shift_JIS), shown as shownName; the
// history keeps no line of it.  1 when it has all gone out.
int ProcessTextUpload(const std::string& sjis, const std::string& shownName);
// Fills scriptTransferHooks (script/transfercmds): UPLOAD, DOWNLOAD and
// SENDWRAP go through the functions above.
void InstallScriptTransfers();
// Installs AutoZmodem (and AutoBplus) into CLIENT::hooks.
void InstallTransferHooks();
// The program directory (TRANHIST.TXT lives there) and the download and
// upload directories the settings name (the program directory when empty).
std::string TransferProgramDir();
std::string TransferDownloadDir();
std::string TransferUploadDir();
