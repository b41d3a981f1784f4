// The XMODEM/YMODEM engines over a TRANSFER (see blockfiles.h).
#include "transfer/blockfiles.h"

#include <cstring>
#include <string>

#include "platform/debuglog.h"
#include "transfer/xmodem.h"

namespace {

// The files a sender reads: the transfer's upload files in order.  The first
// is open already (BeginUpload); each further one is opened when the engine
// asks for it, which also resets the per-file figures.
class TRANSFERSOURCE : public xmodem::Source {
 public:
  explicit TRANSFERSOURCE(TRANSFER& t) : t(t) {}
  bool Next(xmodem::FileInfo* info) override {
    if (!first) {
      // A file that went missing since the start leaves its error (6 or 1)
      // in protocolerror, so the batch cannot end as a success.
      if (t.iFile + 1 >= t.files.size() || !t.OpenUploadFile(t.iFile + 1)) return false;
    }
    first = false;
    if (t.hFileProtocol < 0) return false;
    info->name = t.UploadWireName();
    info->length = t.UploadLength();
    info->mtime = static_cast<int64_t>(t.UploadMtime());
    return true;
  }
  long Read(char* buf, size_t n) override { return t.ProtocolReadUp(buf, n); }
  void Close() override {}

 private:
  TRANSFER& t;
  bool first = true;
};

// Where a receiver writes: the file ProtocolOpenDownFile opened.  The XMODEM
// variants carry no name, so their file was opened before the transfer.
class TRANSFERSINK : public xmodem::Sink {
 public:
  explicit TRANSFERSINK(TRANSFER& t) : t(t) {}
  int Open(const xmodem::FileInfo& info) override {
    if (info.name.empty()) return t.down.fd >= 0 ? 1 : -1;
    t.ProtocolClear();
    const OPENDOWN r = t.ProtocolOpenDownFile(info.name, info.length, false);
    if (r == OD_FAILED) return -1;
    if (r != OD_OPEN) return 0;
    if (info.mtime) t.down.mtime = static_cast<time_t>(*info.mtime);
    if (info.length >= 0) t.ProtocolSetTotalBytes(info.length);
    return 1;
  }
  bool Write(const char* data, size_t n) override { return t.ProtocolWriteDown(data, n); }
  bool Close(bool ok) override {
    if (ok) return t.ProtocolFinishDownFile();
    // NAME.part stays for a later attempt; an append is cut back.
    if (t.down.fd >= 0) t.ProtocolCloseFile();
    return false;
  }

 private:
  TRANSFER& t;
};

class TRANSFEREVENTS : public xmodem::Events {
 public:
  TRANSFEREVENTS(TRANSFER& t, bool upload) : t(t), upload(upload) {}
  void SetStatus(const char* utf8) override {
    for (int id = PS_WAITCRECHO; id <= PS_WAITPACE; ++id) {
      if (std::strcmp(ProtocolStatusText(id), utf8) == 0) {
        t.ProtocolSetStatus(id);
        return;
      }
    }
    t.ProtocolSetStatus(std::string(utf8));
  }
  void AddProcessed(int64_t n) override { t.ProtocolAddProcessedBytes(n); }
  void IncRetry() override { t.ProtocolIncRetryCount(); }
  void ChangeProtocol(int p) override { t.ProtocolChangeProtocolName(static_cast<PROTOCOL>(p)); }
  // The figures of a file are set when it is opened (upload: OpenUploadFile,
  // download: the sink), so the announcement itself changes nothing.
  void SetFile(const std::string&, int64_t) override {}
  void FileDone(const std::string&, int64_t) override {
    // A download's history line was queued when its file was finished.
    if (upload) t.ProtocolUploadFileDone();
  }
  void Debug(const std::string& text) override { DebugLog(text.c_str()); }

 private:
  TRANSFER& t;
  bool upload;
};

constexpr size_t kReadChunk = 65536;
constexpr int kReadsPerStep = 4;     // refills of one step (a fast line is drained)
constexpr int kRunsPerStep = 64;     // engine passes of one step
constexpr int kEndDrainMs = 2000;    // the last answer (ACK, CANs) reaches the peer

class BLOCKENGINE : public PROTOCOLENGINE {
 public:
  BLOCKENGINE(TRANSFER& t, bool upload) : PROTOCOLENGINE(t), src(t), sink(t), events(t, upload) {
    const int p = static_cast<int>(t.protocol);
    if (upload) engine = std::make_unique<xmodem::Sender>(p, &src, &events, t.opt.flying, t.Now());
    else engine = std::make_unique<xmodem::Receiver>(p, &sink, &events, t.opt.flying, t.Now());
    rx.resize(kReadChunk);
  }

  STEPRESULT Step() override {
    if (t.fEnd) return STEP_DONE;
    xmodem::Engine& e = *engine;
    bool busy = Hand();
    for (int i = 0; i < kReadsPerStep; ++i) {
      const size_t n = t.line->Read(rx.data(), rx.size());
      if (n == 0) break;
      e.Input(reinterpret_cast<const char*>(rx.data()), n);
      busy = true;
    }
    e.stop = t.fStopProtocol;
    e.hangup = t.fHangupOnProtocol;
    for (int i = 0; i < kRunsPerStep && !e.Finished(); ++i) {
      const size_t pending = e.Pending();
      const int phase = e.Phase();
      const int files = e.files;
      e.lineQueued = t.line->OutQueue();
      e.Process(t.Now());
      const bool produced = !e.out.empty();
      const bool handed = Hand();
      const bool moved = produced || e.Pending() != pending || e.Phase() != phase || e.files != files;
      busy = busy || moved;
      // Output the line could not take yet: let it drain before more is made.
      if (!moved || (produced && !handed)) break;
    }
    if (e.Finished()) return End();
    return busy ? STEP_BUSY : STEP_IDLE;
  }

 private:
  // Gives the engine's output to the line, whole; true when something went.
  bool Hand() {
    std::string& out = engine->out;
    if (out.empty() || !t.line->Write(out.data(), out.size())) return false;
    out.clear();
    return true;
  }

  STEPRESULT End() {
    xmodem::Engine& e = *engine;
    if (!Hand() && !e.out.empty()) {
      // The abort or the last answer is bigger than the room left: wait for
      // the line to take what is queued, then try once more.
      t.line->Drain(kEndDrainMs);
      Hand();
    }
    t.line->Drain(kEndDrainMs);
    if (e.error != 0 && t.protocolerror == PE_OK) t.protocolerror = static_cast<PROTOCOLERROR>(e.error);
    // A declined file question ends the exchange as a stop does.
    if (e.stopped && e.error == 0) t.fStopProtocol = true;
    t.ProtocolExitProtocol();
    return STEP_DONE;
  }

  TRANSFERSOURCE src;
  TRANSFERSINK sink;
  TRANSFEREVENTS events;
  std::unique_ptr<xmodem::Engine> engine;
  std::vector<unsigned char> rx;
};

}  // namespace

std::unique_ptr<PROTOCOLENGINE> MakeBlockUpload(TRANSFER& t) { return std::make_unique<BLOCKENGINE>(t, true); }
std::unique_ptr<PROTOCOLENGINE> MakeBlockDownload(TRANSFER& t) { return std::make_unique<BLOCKENGINE>(t, false); }
