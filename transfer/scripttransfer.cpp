// The scripts' transfer statements over the program's own entry points.
#include "script/transfercmds.h"
#include "transfer/updown.h"

void InstallScriptTransfers() {
  scriptTransferHooks.upload = [](const std::string& file, int protocol) { return ProcessUpload(file, protocol); };
  scriptTransferHooks.download = [](const std::string& file, int protocol, int mode) {
    const DOWNMODE m = mode == scriptxfer::OVERWRITE ? DM_OVERWRITE
                       : mode == scriptxfer::APPEND  ? DM_APPEND
                       : mode == scriptxfer::RESUME  ? DM_RESUME
                       : mode == scriptxfer::TEMPFILE ? DM_RENAME
                                                      : DM_ASK;
    return ProcessDownload(file, protocol, m);
  };
  scriptTransferHooks.sendWrap = [](const std::string& sjis) { return ProcessTextUpload(sjis, "(SENDWRAP)"); };
}
