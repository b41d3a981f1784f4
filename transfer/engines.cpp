// The two step tables: which engine uploads and which downloads for each
// protocol.  One line per protocol; a null slot means "not this way" or "not
// built" (TransIt, the videotex binary transfer and the external program are
// left out; B Plus, QuickVAN and M-Link come later).
#include "transfer/blockfiles.h"
#include "transfer/textupload.h"
#include "transfer/transfer.h"
#include "transfer/zmodem.h"

namespace {

struct ENTRY {
  ENGINEFACTORY upload, download;
  bool namesFile;  // the protocol carries the file's name
};

const ENTRY kTable[PROTOCOL_COUNT] = {
    /* 0 text         */ {MakeTextUpload, nullptr, false},
    /* 1 xmodem       */ {MakeBlockUpload, MakeBlockDownload, false},
    /* 2 xmodemcrc    */ {MakeBlockUpload, MakeBlockDownload, false},
    /* 3 xmodem1k     */ {MakeBlockUpload, MakeBlockDownload, false},
    /* 4 bplus        */ {nullptr, nullptr, true},
    /* 5 quickvan     */ {nullptr, nullptr, true},
    /* 6 transit      */ {nullptr, nullptr, true},
    /* 7 zmodem       */ {MakeZmodemUpload, MakeZmodemDownload, true},
    /* 8 ymodem       */ {MakeBlockUpload, MakeBlockDownload, true},
    /* 9 ymodemg      */ {MakeBlockUpload, MakeBlockDownload, true},
    /* 10 ymodembatch */ {MakeBlockUpload, MakeBlockDownload, true},
    /* 11 ymodemgbatch*/ {MakeBlockUpload, MakeBlockDownload, true},
    /* 12 external    */ {nullptr, nullptr, false},
    /* 13 vtxbinary   */ {nullptr, nullptr, false},
    /* 14 mlink       */ {nullptr, nullptr, true},
};

}  // namespace

ENGINEFACTORY UploadEngine(int p) { return p >= 0 && p < PROTOCOL_COUNT ? kTable[p].upload : nullptr; }
ENGINEFACTORY DownloadEngine(int p) { return p >= 0 && p < PROTOCOL_COUNT ? kTable[p].download : nullptr; }
bool ProtocolNamesFile(int p) { return p >= 0 && p < PROTOCOL_COUNT && kTable[p].namesFile; }
