// The program's transfer entry points (see updown.h).
#include "transfer/updown.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/debuglog.h"
#include "platform/paths.h"
#include "platform/usermessage.h"
#include "port/comport.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "terminal/dispatch.h"
#include "terminal/log.h"
#include "terminal/mybitmap.h"
#include "stock/codevram.h"
#include "stock/stock.h"
#include "transfer/figures.h"
#include "transfer/names.h"
#include "transfer/textupload.h"
#include "transfer/zmodem.h"

UPDOWNHOOKS updownHooks;

namespace {

// A transfer runs at a time (the menu item is disabled too).
bool fUpDownProcessing = false;

std::string ProgramDir() { return config.HomeDir[0] ? std::string(config.HomeDir) : DataDir(); }

std::string Dir(const char* setting) {
  std::string d = setting[0] ? std::string(setting) : ProgramDir();
  ::mkdir(d.c_str(), 0755);
  return d;
}

// The protocols the host allows in one direction, in PROTOCOL numbers.
std::vector<int> Allowed(bool upload) {
  std::vector<int> out;
  const std::uint8_t* flags = hostprop.abProtocol + (upload ? 1 : 13);
  for (int n = 0; n < 12; ++n)
    if (flags[n]) {
      const int p = n == 11 ? PROTOCOL_MLINK : n + 1;
      if (upload ? UploadEngine(p) != nullptr : DownloadEngine(p) != nullptr) out.push_back(p);
    }
  return out;
}

void ShowHostText(const std::string& sjis) {
  LOG::Put(sjis.data(), sjis.size());
  bitmap.Input(sjis.data(), sjis.size());
  bitmap.Input("\r\n");
  bitmap.Show();
}

// The host's and the configuration's settings of a text upload, sent through
// the port's text path (code conversion, CR rule, local echo) and echoed on
// the terminal and into the log.
void PrepareTextUpload(std::optional<std::string> text) {
  TEXTUPLOAD u;
  u.shape.screenWidth = STOCK::cColumn > 0 ? STOCK::cColumn : 80;
  u.shape.orikaeshi = hostprop.Orikaeshi;
  u.shape.margin = hostprop.Margin;
  u.shape.hankakuMargin = hostprop.HankakuMargin != 0;
  u.shape.autoMarginSync = hostprop.AutoMarginSync != 0;
  u.shape.kinsoku = hostprop.Kinsoku != 0;
  u.shape.tabToSpace = hostprop.TabToSpace;
  u.shape.wordwrap = config.Wordwrap != 0;
  u.shape.burasage = config.Burasage != 0;
  u.shape.topKinsoku = config.TopKinsoku;
  u.shape.bottomKinsoku = config.BottomKinsoku;
  u.paceCharacter = hostprop.PaceCharacter;
  u.collate = hostprop.Collate != 0;
  u.fastSend = hostprop.FastSend != 0;
  u.text = std::move(text);
  u.send = [](const char* data, size_t n) -> size_t {
    // The conversion may grow a byte to three (JIS shifts, CR LF, doubled
    // IAC): take only what surely fits the writer's buffer.
    const int room = COMPORT::WRITE_BUFFER - COMPORT::GetOutQueueCount() - 16;
    const size_t k = std::min(n, room > 0 ? static_cast<size_t>(room) / 3 : size_t{0});
    if (k == 0) return 0;
    COMPORT::PauseTransmit();
    for (size_t i = 0; i < k; ++i) COMPORT::Send(data[i]);
    COMPORT::SendSettle();
    return k;
  };
  u.echo = [](const char* data, size_t n) {
    LOG::Put(data, n);
    bitmap.Input(data, n);
    bitmap.Show();
  };
  u.newestLine = [] { return static_cast<long long>(cvNewest.i); };
  textUpload = std::move(u);
}

// Runs one transfer over the port: the common start, the loop, the end.
int Run(TRANSFER& t, std::unique_ptr<PROTOCOLENGINE> engine) {
  COMPORTLINE line;
  t.line = &line;
  t.showText = updownHooks.showText ? updownHooks.showText : ShowHostText;
  t.askDownload = updownHooks.askDownload;
  t.askFileName = updownHooks.askFileName;
  t.opt.flying = hostprop.FlyingXmodem != 0;
  t.opt.maskCtrl = hostprop.MaskCtrlCode != 0;
  t.opt.saveTimeStamp = hostprop.SaveTimeStamp != 0;
  t.opt.historyDir = ProgramDir();
  t.opt.hostName = fOnline ? std::string(hostprop.szName) : std::string();
  const bool wasOnline = fOnline != 0;
  fUpDownProcessing = true;
  CLIENT::StopPortAccess();
  // Text goes out as typed text; every protocol runs on binary mode.
  const bool binary = t.protocol != PROTOCOL_TEXT;
  if (binary) COMPORT::SetBinaryMode();
  if (updownHooks.enableTransferMenu) updownHooks.enableTransferMenu(false);
  if (updownHooks.addinEvent) updownHooks.addinEvent(true);
  TICK lastShown = GetTick();
  if (updownHooks.openProgress) {
    updownHooks.openProgress(t);
    t.changed = [&t] {
      if (updownHooks.refreshProgress) updownHooks.refreshProgress(t);
    };
  }
  TRANSFERLOOPHOOKS hooks;
  hooks.lineLost = [wasOnline] { return wasOnline && (!fOnline || (COMPORT::GetEvent() && !COMPORT::IsReceived())); };
  hooks.afterPass = [&] {
    COMPORT::CheckWriteThread();
    if (!updownHooks.openProgress && GetTick() - lastShown >= 1000) {
      // Without a window the figures go to standard error once a second.
      lastShown = GetTick();
      const TRANSFERFIGURES f = ProtocolFigures(t.stats, t.Now(), static_cast<long long>(line.OutQueue()));
      std::fprintf(stderr, "quillnet: %s %s %s/%s %s %s B/s\n", ProtocolDisplayName(t.protocol),
                   t.stats.shortName.c_str(), f.processed.c_str(), f.total.c_str(), f.time.c_str(),
                   f.rate.empty() ? "-" : f.rate.c_str());
    }
  };
  RunTransferLoop(t, *engine, hooks);
  engine.reset();
  t.changed = nullptr;
  if (updownHooks.closeProgress) updownHooks.closeProgress();
  if (binary) COMPORT::RestoreBinaryMode();
  timeAutoHangup = GetTick();
  if (updownHooks.enableTransferMenu) updownHooks.enableTransferMenu(true);
  if (updownHooks.addinEvent) updownHooks.addinEvent(false);
  fUpDownProcessing = false;
  CLIENT::StartPortAccess();
  t.line = nullptr;
  const int outcome = TransferOutcome(t);
  // A stop ends without a message; so do a declined file and an exchange
  // that moved nothing.
  if (outcome > 0 && outcome < PROTOCOLERROR_COUNT) ErrorMessage(ProtocolErrorText(outcome));
  return outcome == 0 ? 1 : 0;
}

}  // namespace

int ProcessUpload(const std::string& file, int p) {
  if (!fOnline || fUpDownProcessing) return 0;
  const std::string dir = Dir(config.UploadPath);
  if (p < 0) {
    std::vector<int> allowed = Allowed(true);
    if (allowed.empty()) {
      p = PROTOCOL_TEXT;
    } else {
      if (UploadEngine(PROTOCOL_TEXT)) allowed.insert(allowed.begin(), PROTOCOL_TEXT);
      p = updownHooks.choose ? updownHooks.choose(allowed, true) : allowed.front();
      if (p < 0) return 0;
    }
  }
  ENGINEFACTORY make = UploadEngine(p);
  if (!make) {
    DebugLogF("ProcessUpload: %s is not built\n", ProtocolDisplayName(p));
    return 0;
  }
  TRANSFER& t = transfer;
  t.protocol = static_cast<PROTOCOL>(p);
  t.opt = TRANSFEROPTIONS{};
  t.files.clear();
  if (file.empty()) {
    const bool several = p == PROTOCOL_ZMODEM || p == PROTOCOL_YMODEMBATCH || p == PROTOCOL_YMODEMGBATCH;
    if (!updownHooks.chooseUpload) return 0;
    t.files = updownHooks.chooseUpload(dir, several);
    if (t.files.empty()) return 0;
  } else {
    const std::string path = file[0] == '/' ? file : dir + "/" + file;
    struct stat st {};
    if (p == PROTOCOL_ZMODEM && ::stat(path.c_str(), &st) != 0) {
      for (const std::string& n : SplitNameList(file)) t.files.push_back(n[0] == '/' ? n : dir + "/" + n);
    } else {
      t.files.push_back(path);
    }
  }
  t.szFileNameProtocol = file;
  if (p == PROTOCOL_TEXT) PrepareTextUpload(std::nullopt);
  if (!t.BeginUpload()) {
    ErrorMessage(ProtocolErrorText(t.protocolerror));
    return 0;
  }
  return Run(t, make(t));
}

int ProcessDownload(const std::string& file, int p, DOWNMODE mode) {
  if (!fOnline || fUpDownProcessing) return 0;
  const std::string dir = Dir(config.DownloadPath);
  if (p < 0) {
    const std::vector<int> allowed = Allowed(false);
    if (allowed.empty()) return 0;
    if (allowed.size() == 1) p = allowed.front();
    else p = updownHooks.choose ? updownHooks.choose(allowed, false) : allowed.front();
    if (p < 0) return 0;
  }
  ENGINEFACTORY make = DownloadEngine(p);
  if (!make) return 0;
  TRANSFER& t = transfer;
  t.protocol = static_cast<PROTOCOL>(p);
  t.opt = TRANSFEROPTIONS{};
  t.opt.downloadDir = dir;
  t.opt.mode = mode;
  t.askDownload = updownHooks.askDownload;
  t.askFileName = updownHooks.askFileName;
  t.BeginDownload();
  if (!ProtocolNamesFile(p)) {
    std::string path = file;
    if (path.empty() && updownHooks.chooseDownload) path = updownHooks.chooseDownload(dir);
    if (path.empty()) return 0;
    if (path[0] != '/') path = dir + "/" + path;
    if (t.ProtocolOpenDownFile({}, -1, false, path) != OD_OPEN) return 0;
  }
  return Run(t, make(t));
}

int AutoZmodem() {
  if (fUpDownProcessing) return 0;
  TRANSFER& t = transfer;
  t.protocol = PROTOCOL_ZMODEM;
  t.opt = TRANSFEROPTIONS{};
  t.opt.downloadDir = Dir(config.DownloadPath);
  t.askDownload = updownHooks.askDownload;
  t.askFileName = updownHooks.askFileName;
  t.BeginDownload();
  return Run(t, MakeZmodemAutoDownload(t));
}

int AutoBplus() {
  DebugLog("B Plus transfer not available\n");
  return 0;
}

int ProcessClipboardUpload() {
  std::optional<std::string> text = updownHooks.clipboardText ? updownHooks.clipboardText() : std::nullopt;
  if (fOnline && !fUpDownProcessing && (!text || text->size() >= kClipboardMax)) {
    // No text there, or more than a text upload takes at once.
    ErrorMessage(ProtocolErrorText(PE_UNKNOWN));
    return 0;
  }
  return text ? ProcessTextUpload(*text, kClipboardName) : 0;
}

int ProcessTextUpload(const std::string& sjis, const std::string& shownName) {
  if (!fOnline || fUpDownProcessing) return 0;
  TRANSFER& t = transfer;
  t.protocol = PROTOCOL_TEXT;
  t.opt = TRANSFEROPTIONS{};
  t.files.clear();
  t.szFileNameProtocol = shownName;
  t.BeginDownload();  // the common start, without a file
  t.fUpload = true;
  t.stats.upload = true;
  t.ProtocolSetFileName(shownName);
  t.ProtocolSetTotalBytes(static_cast<long long>(sjis.size()));
  PrepareTextUpload(sjis);
  return Run(t, MakeTextUpload(t));
}

void InstallTransferHooks() {
  CLIENT::hooks.autoZmodem = [] {
    AutoZmodem();
    return true;
  };
  CLIENT::hooks.autoBplus = [] { return AutoBplus() != 0; };
}

std::string TransferProgramDir() { return ProgramDir(); }
std::string TransferDownloadDir() { return config.DownloadPath[0] ? std::string(config.DownloadPath) : ProgramDir(); }
std::string TransferUploadDir() { return config.UploadPath[0] ? std::string(config.UploadPath) : ProgramDir(); }
