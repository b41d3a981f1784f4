// The transfer's services and its loop (see transfer.h).
#include "transfer/transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include "platform/debuglog.h"
#include "transfer/history.h"
#include "transfer/names.h"

TRANSFER transfer;

namespace {

constexpr size_t kNameMax = 255;       // a file name's bytes on Linux file systems
constexpr size_t kPartSuffix = 5;      // ".part"
const char kPart[] = ".part";

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Length of a regular file, -1 when there is none.
long long FileLength(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

}  // namespace

TRANSFER::~TRANSFER() {
  if (hFileProtocol >= 0) ::close(hFileProtocol);
  if (down.fd >= 0) AbandonDownFile();
}

// ---- starting ---------------------------------------------------------------------

bool TRANSFER::OpenUploadFile(size_t i) {
  if (hFileProtocol >= 0) ::close(hFileProtocol);
  hFileProtocol = -1;
  iFile = i;
  if (i >= files.size()) {
    protocolerror = PE_NOTFOUND;
    return false;
  }
  const std::string& path = files[i];
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    protocolerror = PE_NOTFOUND;
    return false;
  }
  hFileProtocol = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (hFileProtocol < 0) {
    protocolerror = PE_READ;
    return false;
  }
  upLength = st.st_size;
  upMtime = st.st_mtime;  // true UTC seconds
  ProtocolClear();
  ProtocolSetFileName(path);
  ProtocolSetTotalBytes(upLength);
  return true;
}

bool TRANSFER::BeginUpload() {
  fUpload = true;
  stats = TRANSFERSTATS{};
  stats.upload = true;
  stats.startTick = Now();
  fStopProtocol = fHangupOnProtocol = fEnd = fMovedFile = fExchangeDone = false;
  protocolerror = PE_OK;
  history.clear();
  // Every file is checked before anything is sent: a missing one or a name
  // the wire cannot carry ends the start with nothing sent.
  for (const std::string& f : files) {
    const long long len = FileLength(f);
    std::string wire;
    // A text upload sends no name, so any name will do.
    if (len < 0 || (protocol != PROTOCOL_TEXT && !SendNameForPath(f, &wire))) {
      protocolerror = PE_NOTFOUND;
      DebugLogF("BeginUpload: cannot send %s\n", f.c_str());
      return false;
    }
  }
  if (files.empty()) {
    protocolerror = PE_NOTFOUND;
    return false;
  }
  return OpenUploadFile(0);
}

void TRANSFER::BeginDownload() {
  fUpload = false;
  stats = TRANSFERSTATS{};
  stats.startTick = Now();
  fStopProtocol = fHangupOnProtocol = fEnd = fMovedFile = fExchangeDone = false;
  protocolerror = PE_OK;
  choiceMade = false;
  choice = DM_ASK;
  history.clear();
  Changed();
}

// ---- figures ----------------------------------------------------------------------

void TRANSFER::ProtocolAddProcessedBytes(long long n) {
  if (!stats.counting) {
    stats.counting = true;
    stats.base = n - (fUpload && line ? static_cast<long long>(line->OutQueue()) : 0);
    stats.firstTick = Now();
  }
  stats.processed += n;
  Changed();
}

void TRANSFER::ProtocolSetResumeBytes(long long n) { stats.resume = n; Changed(); }
void TRANSFER::ProtocolSetTotalBytes(long long n) { stats.total = n; Changed(); }
void TRANSFER::ProtocolSetFileName(const std::string& utf8) {
  stats.fileName = utf8;
  stats.shortName = BaseName(utf8);
  Changed();
}
void TRANSFER::ProtocolSetStatus(int id) { stats.status = id; stats.statusText.clear(); Changed(); }
void TRANSFER::ProtocolSetStatus(const std::string& text) { stats.status = 0; stats.statusText = text; Changed(); }
void TRANSFER::ProtocolIncRetryCount() { ++stats.retries; Changed(); }

void TRANSFER::ProtocolClear() {
  stats.total = stats.resume = stats.processed = 0;
  stats.counting = false;
  stats.base = 0;
  stats.retries = 0;
  Changed();
}

// ---- ending ---------------------------------------------------------------------------

void TRANSFER::ProtocolCloseFile() {
  if (hFileProtocol >= 0) ::close(hFileProtocol);
  hFileProtocol = -1;
  if (down.fd >= 0) AbandonDownFile();
}

void TRANSFER::ProtocolExitProtocol() {
  ProtocolCloseFile();
  fEnd = true;
  Changed();
}

// A download that did not finish: NAME.part stays for a later resume; an
// append is cut back to what the file held.
void TRANSFER::AbandonDownFile() {
  if (down.mode == DM_APPEND && down.fd >= 0) {
    if (::ftruncate(down.fd, down.startLength) != 0) DebugLog("AbandonDownFile: truncate failed\n");
  }
  if (down.fd >= 0) ::close(down.fd);
  down.fd = -1;
}

// ---- download files -----------------------------------------------------------------

OPENDOWN TRANSFER::ProtocolOpenDownFile(std::string_view wireName, long long offered, bool offerResume,
                                        const std::string& local) {
  const PROTOCOLERROR before = protocolerror;
  std::string given = local;
  // A few answers at most: a user who keeps naming files that cannot be
  // created ends with the failure.
  for (int asked = 0;; ++asked) {
    nameFailed.clear();
    const OPENDOWN r = OpenDownFileOnce(wireName, offered, offerResume, given);
    if (r != OD_FAILED || nameFailed.empty() || !askFileName || asked >= 8) return r;
    const std::string other = askFileName(nameFailed);
    if (other.empty()) {
      protocolerror = before;
      return OD_DECLINED;
    }
    const std::string dir = opt.downloadDir.empty() ? std::string(".") : opt.downloadDir;
    given = other[0] == '/' ? other : Join(dir, other);
    protocolerror = before;
  }
}

OPENDOWN TRANSFER::OpenDownFileOnce(std::string_view wireName, long long offered, bool offerResume,
                                    const std::string& local) {
  if (down.fd >= 0) AbandonDownFile();
  down = DOWNFILE{};
  const std::string dir = opt.downloadDir.empty() ? std::string(".") : opt.downloadDir;
  std::string finalPath;
  if (!local.empty()) {
    finalPath = local;
  } else {
    std::string name = ReceivedNameToFile(wireName);
    // No room for the name plus ".part": the name question when there is
    // one, else the spare name.
    if (!name.empty() && name.size() + kPartSuffix > kNameMax && askFileName) {
      nameFailed = Join(dir, name);
      protocolerror = PE_WRITE;
      return OD_FAILED;
    }
    if (name.empty() || name.size() + kPartSuffix > kNameMax) name = SpareName(dir);
    if (name.empty()) {
      protocolerror = PE_WRITE;
      return OD_FAILED;
    }
    finalPath = Join(dir, name);
  }
  std::string partPath = finalPath + kPart;

  const long long finalLen = FileLength(finalPath);
  const long long partLen = FileLength(partPath);
  DOWNMODE mode = DM_OVERWRITE;
  bool fresh = true;
  if (finalLen > 0 || partLen > 0) {
    if (choiceMade) {
      mode = choice;
    } else {
      if (opt.mode != DM_ASK) {
        mode = opt.mode;
      } else if (askDownload) {
        DOWNQUESTION q;
        q.path = finalLen > 0 ? finalPath : partPath;
        q.length = finalLen > 0 ? finalLen : partLen;
        q.spare = SpareName(dir);
        q.offerResume = offerResume;
        mode = askDownload(q);
      } else {
        mode = DM_RENAME;
      }
      choiceMade = true;
      choice = mode;
    }
    if (mode == DM_RESUME && !offerResume) mode = DM_RENAME;
    fresh = false;
  }
  down.mode = mode;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  switch (mode) {
    case DM_CANCEL:
    case DM_ASK:
      return OD_DECLINED;
    case DM_RENAME: {
      const std::string spare = SpareName(dir);
      if (spare.empty()) {
        protocolerror = PE_WRITE;
        return OD_FAILED;
      }
      finalPath = Join(dir, spare);
      partPath = finalPath + kPart;
      fresh = true;
      break;
    }
    case DM_OVERWRITE:
      fresh = true;
      break;
    case DM_APPEND:
      break;
    case DM_RESUME:
      break;
  }
  down.finalPath = finalPath;
  if (fresh) {
    down.writePath = partPath;
    down.replacesFinal = true;
    down.fd = ::open(partPath.c_str(), flags | O_TRUNC, 0644);
  } else if (mode == DM_APPEND) {
    down.writePath = finalLen >= 0 ? finalPath : partPath;
    down.replacesFinal = finalLen < 0;
    down.fd = ::open(down.writePath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (down.fd >= 0) {
      // Step back over trailing 0x1A (end-of-text fillers) so they are overwritten.
      long long len = FileLength(down.writePath);
      unsigned char c = 0;
      while (len > 0 && ::pread(down.fd, &c, 1, len - 1) == 1 && c == 0x1A) --len;
      down.startLength = len;
      if (::ftruncate(down.fd, len) != 0 || ::lseek(down.fd, len, SEEK_SET) < 0) {
        ::close(down.fd);
        down.fd = -1;
      }
    }
  } else {  // resume: the unfinished part if there is one, else the file itself
    down.writePath = partLen > 0 ? partPath : finalPath;
    down.replacesFinal = partLen > 0;
    down.startLength = partLen > 0 ? partLen : finalLen;
    if (offered >= 0 && down.startLength >= offered) {
      down = DOWNFILE{};
      return OD_SKIP;
    }
    down.fd = ::open(down.writePath.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (down.fd >= 0 && ::lseek(down.fd, down.startLength, SEEK_SET) < 0) {
      ::close(down.fd);
      down.fd = -1;
    }
  }
  if (down.fd < 0) {
    DebugLogF("ProtocolOpenDownFile: cannot open %s: %s\n", down.writePath.c_str(), std::strerror(errno));
    // A file created afresh may succeed under another name.
    if (fresh) nameFailed = finalPath;
    down = DOWNFILE{};
    protocolerror = PE_WRITE;
    return OD_FAILED;
  }
  ProtocolSetFileName(finalPath);
  return OD_OPEN;
}

bool TRANSFER::ProtocolWriteDown(const void* data, size_t n) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(down.fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      protocolerror = PE_WRITE;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool TRANSFER::ProtocolSeekDown(long long pos) {
  if (down.fd < 0 || ::lseek(down.fd, pos, SEEK_SET) < 0) {
    protocolerror = PE_WRITE;
    return false;
  }
  // Going back below the end leaves no stale tail behind the new data.
  if (::ftruncate(down.fd, pos) != 0) {
    protocolerror = PE_WRITE;
    return false;
  }
  return true;
}

bool TRANSFER::ProtocolFinishDownFile() {
  if (down.fd < 0) return false;
  const bool closed = ::close(down.fd) == 0;
  down.fd = -1;
  if (!closed || (down.replacesFinal && ::rename(down.writePath.c_str(), down.finalPath.c_str()) != 0)) {
    protocolerror = PE_WRITE;
    return false;
  }
  // The data is under its final name now, whichever way it was written.
  if (opt.saveTimeStamp && down.mtime) ApplyReceivedTime(down.finalPath, *down.mtime);
  fMovedFile = true;
  const TICK secs = (Now() - stats.startTick) / 1000;
  history.push_back({BaseName(down.finalPath), stats.resume + stats.processed, false, ::time(nullptr),
                     secs >= 3 ? (stats.processed - stats.base) / static_cast<long long>(secs) : 0});
  return true;
}

// ---- upload files ------------------------------------------------------------------------

long TRANSFER::ProtocolReadUp(void* buf, size_t n) {
  for (;;) {
    const ssize_t r = ::read(hFileProtocol, buf, n);
    if (r >= 0) return static_cast<long>(r);
    if (errno == EINTR) continue;
    protocolerror = PE_READ;
    return -1;
  }
}

bool TRANSFER::ProtocolSeekUp(long long pos) {
  if (::lseek(hFileProtocol, pos, SEEK_SET) < 0) {
    protocolerror = PE_READ;
    return false;
  }
  return true;
}

std::string TRANSFER::UploadWireName() const {
  std::string wire;
  if (iFile < files.size()) SendNameForPath(files[iFile], &wire);
  return wire;
}

void TRANSFER::ProtocolUploadFileDone() {
  fMovedFile = true;
  const TICK secs = (Now() - stats.startTick) / 1000;
  history.push_back({stats.shortName, stats.resume + stats.processed, true, ::time(nullptr),
                     secs >= 3 ? (stats.processed - stats.base) / static_cast<long long>(secs) : 0});
}

// ---- the loop -------------------------------------------------------------------------------

namespace {

constexpr int kIdleWaitMs = 5;      // an idle step waits this long on the line
constexpr TICK kSliceMs = 8;        // steps of one event-loop pass

void AfterPass(TRANSFER& t, const TRANSFERLOOPHOOKS& hooks) {
  const bool lost = hooks.lineLost ? hooks.lineLost() : (t.line && t.line->Lost());
  // A peer that hangs up after the user's stop (it saw the abort) leaves
  // the transfer stopped, not cut off; once the exchange is complete the
  // host may hang up at once: that is no loss of the transfer either.
  if (lost && !t.fStopProtocol && !t.fExchangeDone) t.fHangupOnProtocol = true;
  if (hooks.afterPass) hooks.afterPass();
}

}  // namespace

int TransferOutcome(const TRANSFER& t) {
  if (t.fHangupOnProtocol) return PE_HANGUP;
  if (t.fStopProtocol) return 20;
  if (t.protocolerror != PE_OK) return t.protocolerror;
  if (!t.fMovedFile) return 20;
  return 0;
}

bool RunTransferLoop(TRANSFER& t, PROTOCOLENGINE& engine, const TRANSFERLOOPHOOKS& hooks) {
  if (QCoreApplication::instance()) {
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      const TICK start = GetTick();
      STEPRESULT r = STEP_BUSY;
      while (!t.fEnd) {
        r = engine.Step();
        AfterPass(t, hooks);
        if (r != STEP_BUSY || GetTick() - start >= kSliceMs) break;
      }
      if (r == STEP_DONE || t.fEnd) {
        timer.stop();
        loop.quit();
        return;
      }
      if (r == STEP_IDLE && t.line) t.line->Wait(kIdleWaitMs);
    });
    timer.start();
    loop.exec();
  } else {
    while (!t.fEnd) {
      const STEPRESULT r = engine.Step();
      AfterPass(t, hooks);
      if (r == STEP_DONE) break;
      if (r == STEP_IDLE && t.line) t.line->Wait(kIdleWaitMs);
    }
  }
  if (!t.fEnd) t.ProtocolExitProtocol();
  if (t.fHangupOnProtocol) t.protocolerror = PE_HANGUP;
  const bool ok = TransferOutcome(t) == 0;
  if (ok && !t.opt.historyDir.empty()) {
    std::string lines;
    for (const auto& h : t.history) {
      if (h.shortName.empty() || h.shortName[0] == '(') continue;
      lines += FormatHistoryLine(h.shortName, h.bytes, h.upload, h.when, t.opt.hostName,
                                 ProtocolDisplayName(t.protocol), h.rate);
    }
    if (!lines.empty()) AppendHistory(t.opt.historyDir, lines);
  }
  return ok;
}
