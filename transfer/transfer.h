// The transfer framework: one running transfer's state, the services a
// protocol engine uses, and the table of engines.
//
// Every protocol is a byte pump over one object that holds all its state (a
// PROTOCOLENGINE).  The framework calls its Step() again and again; a step
// does a bounded amount of work: it reads what the line offers, sends what is
// due, checks fStopProtocol, fHangupOnProtocol and its own time-outs, and
// ends the transfer by setting protocolerror and calling
// ProtocolExitProtocol().  Because the engine reaches the line, the files and
// the figures only through its TRANSFER, a sender and a receiver can run
// against each other in memory (MEMORYLINE) as well as over the port or the
// tool's standard input and output.
//
// The transfer's globals (protocol, szFileNameProtocol, hFileProtocol,
// fStopProtocol, protocolerror, fHangupOnProtocol, the statistics) are the
// members of TRANSFER; the program's one running transfer is `transfer`.
//
// Received files.  A download is written to "NAME.part" and renamed to NAME
// when it is whole (an overwrite keeps the old NAME until then); a failure
// leaves only NAME.part, which the next download of NAME offers to resume.  A
// failed append is cut back to the file's old length.  Resume never truncates
// or rewrites what is there.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tick.h"
#include "transfer/protocol.h"
#include "transfer/transferline.h"

class TRANSFER;

// ---- engines ------------------------------------------------------------------

enum STEPRESULT : int {
  STEP_BUSY = 0,  // did something; step again at once
  STEP_IDLE = 1,  // waits for the line (or a time-out): the loop may wait on it
  STEP_DONE = 2,  // the transfer has ended (protocolerror set, ProtocolExitProtocol called)
};

class PROTOCOLENGINE {
 public:
  explicit PROTOCOLENGINE(TRANSFER& t) : t(t) {}
  virtual ~PROTOCOLENGINE() = default;
  PROTOCOLENGINE(const PROTOCOLENGINE&) = delete;
  PROTOCOLENGINE& operator=(const PROTOCOLENGINE&) = delete;
  // One bounded step (see the top of this file).
  virtual STEPRESULT Step() = 0;

 protected:
  TRANSFER& t;
};

using ENGINEFACTORY = std::unique_ptr<PROTOCOLENGINE> (*)(TRANSFER& t);

// The two step tables, indexed by PROTOCOL: the engine that uploads and the
// one that downloads; null where the protocol cannot go that way or is not
// built.  (transfer/engines.cpp holds them, one line per protocol.)
ENGINEFACTORY UploadEngine(int protocol);
ENGINEFACTORY DownloadEngine(int protocol);
// Whether the protocol names the received file itself (ZMODEM, YMODEM, ...):
// then a download takes no file name from the user.
bool ProtocolNamesFile(int protocol);

// ---- the file question -----------------------------------------------------------

// How an existing file is handled when a download brings the same name.
enum DOWNMODE : int {
  DM_ASK = 0,        // ask (the program), or the tool's default below
  DM_OVERWRITE = 1,  // "上書きしてしまう(&O)"
  DM_APPEND = 2,     // "既存のファイルの後ろに追加する(&A)"
  DM_RESUME = 3,     // "続きの部分だけダウンロードする(&R)"
  DM_RENAME = 4,     // the spare name "TEMP.nnn"
  DM_CANCEL = 5,     // "ダウンロードを中止する(Esc)"
};

struct DOWNQUESTION {
  std::string path;        // the file that exists (UTF-8, in the download directory)
  long long length = 0;    // its length
  std::string spare;       // the spare name offered ("TEMP.000"); empty when none is left
  bool offerResume = false;  // "DOWN2RESUME" (B Plus, QuickVAN, ZMODEM) rather than "DOWN2"
};

// A download file opened by ProtocolOpenDownFile.
struct DOWNFILE {
  int fd = -1;
  std::string finalPath;   // where the file ends up (UTF-8)
  std::string writePath;   // where the bytes go now (finalPath + ".part", or finalPath for append)
  long long startLength = 0;  // length of writePath before this transfer (resume, append)
  DOWNMODE mode = DM_OVERWRITE;
  bool replacesFinal = false;  // writePath is renamed over finalPath at the end
  std::optional<time_t> mtime;  // the sender's modification time, when it gave one
};

enum OPENDOWN : int {
  OD_OPEN = 0,      // opened; t.down describes it
  OD_DECLINED = 1,  // the user (or the preset) cancelled: decline the file
  OD_SKIP = 2,      // resume found the file already whole: skip it
  OD_FAILED = 3,    // could not be created: protocolerror is 2
};

// ---- figures of the progress window and the tool ----------------------------

struct TRANSFERSTATS {
  long long total = 0;      // the file's length (0: unknown)
  long long resume = 0;     // already present before this transfer
  long long processed = 0;  // moved in this transfer
  bool counting = false;    // ProtocolAddProcessedBytes has been called
  long long base = 0;       // bytes of the first call (uploads: minus the output queue then)
  TICK firstTick = 0;       // tick of the first call
  TICK startTick = 0;       // start of the transfer
  int retries = 0;
  int status = 0;           // PROTOCOLSTATUS, or 0 with statusText
  std::string statusText;   // a status given as text
  std::string fileName;     // full path shown (UTF-8)
  std::string shortName;    // after the last '/' (UTF-8)
  bool upload = false;
};

// ---- one transfer ------------------------------------------------------------------

struct TRANSFEROPTIONS {
  bool flying = false;        // FlyingXmodem
  bool maskCtrl = false;      // MaskCtrlCode
  bool saveTimeStamp = false; // SaveTimeStamp: apply a received file's time
  DOWNMODE mode = DM_ASK;     // a preset answer to the file question
  std::string downloadDir;    // received files go here (UTF-8; "." when empty)
  std::string historyDir;     // TRANHIST.TXT goes here; empty: no history
  std::string hostName;       // the history's host field (UTF-8; empty off line)
};

class TRANSFER {
 public:
  TRANSFER() = default;
  TRANSFER(const TRANSFER&) = delete;
  TRANSFER& operator=(const TRANSFER&) = delete;
  ~TRANSFER();

  // ---- state (the transfer globals) ----
  PROTOCOL protocol = PROTOCOL_TEXT;
  bool fUpload = false;
  std::string szFileNameProtocol;     // the file, or the list of names for a ZMODEM upload
  std::vector<std::string> files;     // upload: the files in order (UTF-8 paths)
  size_t iFile = 0;                   // upload: index of the file in hFileProtocol
  int hFileProtocol = -1;             // upload: the open file
  DOWNFILE down;                      // download: the open file
  bool fStopProtocol = false;         // the user pressed "中断！" (or SIGINT in the tool)
  bool fHangupOnProtocol = false;     // the line went off while transferring
  bool fExchangeDone = false;         // the peers agreed the session is over (ZMODEM: ZFIN answered);
                                      // the line going off after this is no failure
  PROTOCOLERROR protocolerror = PE_OK;
  bool fEnd = false;                  // ProtocolExitProtocol has been called
  bool fMovedFile = false;            // at least one file went through whole
  TRANSFERSTATS stats;
  TRANSFEROPTIONS opt;
  TRANSFERLINE* line = nullptr;       // not owned

  // A received text the engine wants shown on the terminal (the host's message
  // after an abort).  Empty: written to the debug log only.
  std::function<void(const std::string& sjis)> showText;
  // The file question when opt.mode is DM_ASK.  Empty: DM_RENAME.
  std::function<DOWNMODE(const DOWNQUESTION&)> askDownload;
  // The name question ("DOWNFILENAME") when a received file cannot be
  // created or its name leaves no room for ".part": the failed path (UTF-8)
  // in, another name out (relative names go in the download directory);
  // empty declines the file.  Empty hook: the spare name or the failure.
  std::function<std::string(const std::string& failedPath)> askFileName;
  // Every change of a figure (the window refreshes from stats).
  std::function<void()> changed;

  // ---- starting ----
  // Upload: files[] set, opens files[0] (BeginUpload): total is
  // its size.  False with protocolerror 6 when a file is missing (nothing is
  // sent then) or 1 when it cannot be opened.
  bool BeginUpload();
  // Opens files[i] as hFileProtocol (the next file of a batch); resets the
  // per-file figures.  False with protocolerror 6/1.
  bool OpenUploadFile(size_t i);
  // Download: the common start (BeginDownload).
  void BeginDownload();

  // ---- services for engines ----
  void ProtocolAddProcessedBytes(long long n);
  void ProtocolSetResumeBytes(long long n);
  void ProtocolSetTotalBytes(long long n);
  void ProtocolSetFileName(const std::string& utf8);
  void ProtocolSetStatus(int id);
  void ProtocolSetStatus(const std::string& text);
  void ProtocolIncRetryCount();
  void ProtocolClear();  // per-file figures back to zero (a batch's next file)
  void ProtocolChangeProtocolName(PROTOCOL p) { protocol = p; Changed(); }
  void ProtocolBeginTimer() { timer = Now(); }
  TICK ProtocolPassedTime() { return Now() - timer; }
  TICK Now() { return line ? line->Now() : GetTick(); }
  // Ends the transfer: closes the files (a download not finished as whole
  // stays as NAME.part), sets fEnd.  The engine sets protocolerror first.
  void ProtocolExitProtocol();
  void ProtocolCloseFile();

  // Opens the download file for a name the host sent (Shift_JIS bytes, or an
  // empty view with `local` for a name the user gave), offering the file
  // question when it exists.  `offered` is the length the sender announced
  // (-1 unknown): resume skips a file not shorter than that.
  OPENDOWN ProtocolOpenDownFile(std::string_view wireName, long long offered, bool offerResume,
                                const std::string& local = {});
  // Writes at the download file's current position; false (protocolerror 2) on failure.
  bool ProtocolWriteDown(const void* data, size_t n);
  // Moves the download file's position (a protocol going back); positions are
  // counted from the start of the file as it is on disk.
  bool ProtocolSeekDown(long long pos);
  // The file is whole: rename NAME.part to NAME, apply the time when asked,
  // queue its history line.  False (protocolerror 2) when the rename fails.
  bool ProtocolFinishDownFile();
  // Upload reading: up to n bytes at the position; -1 (protocolerror 1) on failure.
  long ProtocolReadUp(void* buf, size_t n);
  bool ProtocolSeekUp(long long pos);
  // The current upload file's length, modification time and name on the wire
  // (Shift_JIS base name; refused names were caught by BeginUpload).
  long long UploadLength() const { return upLength; }
  time_t UploadMtime() const { return upMtime; }
  std::string UploadWireName() const;
  // An uploaded file went through whole: queue its history line.
  void ProtocolUploadFileDone();

  // The history lines of files that went through, written by the loop once
  // the outcome is known (success only).
  struct HISTORYITEM {
    std::string shortName;
    long long bytes;
    bool upload;
    time_t when;
    long long rate;
  };
  std::vector<HISTORYITEM> history;

  void Changed() { if (changed) changed(); }

 private:
  TICK timer = 0;
  long long upLength = 0;
  time_t upMtime = 0;
  bool choiceMade = false;  // the file question's answer holds for the rest of the transfer
  DOWNMODE choice = DM_ASK;
  void AbandonDownFile();
  OPENDOWN OpenDownFileOnce(std::string_view wireName, long long offered, bool offerResume,
                            const std::string& local);
  std::string nameFailed;  // set by OpenDownFileOnce when another name could help
};

// The program's one transfer (the transfer globals live in it).
extern TRANSFER transfer;

// ---- running a transfer ---------------------------------------------------------------

struct TRANSFERLOOPHOOKS {
  // After every pass: the line check (true: the line was lost), status
  // refresh, add-in events.  Empty: the line's Lost().
  std::function<bool()> lineLost;
  std::function<void()> afterPass;
};

// Runs the engine until it ends.  With a QCoreApplication, a QEventLoop
// whose zero-interval timer runs the steps (events keep being processed; it
// may run nested in a dispatcher pass); without one, a plain loop.  An idle
// step makes the loop wait on the line for a few ms.  Afterwards settles the
// outcome: a lost line makes it 12, a stop, a decline or an exchange that
// moved nothing is never success.  Returns true on success.
bool RunTransferLoop(TRANSFER& t, PROTOCOLENGINE& engine, const TRANSFERLOOPHOOKS& hooks = {});

// The settled outcome of a finished transfer: 0 for success, 20 stopped or
// declined, else the PROTOCOLERROR.
int TransferOutcome(const TRANSFER& t);
