// The XMODEM/YMODEM engines inside the transfer framework.
//
// The byte pumps of transfer/xmodem.h know nothing of the line, the files or
// the progress window; this bridge gives them all three through a TRANSFER:
// the files to send are the transfer's upload files (base name in Shift_JIS,
// st_mtime as UTC), a received file is opened by ProtocolOpenDownFile (the
// file question, NAME.part renamed when whole, the spare name, append cut
// back on failure), and status, figures, retries, protocol changes and the
// history go to the transfer's services.  Each Step() moves what the line
// offers into the engine, runs it, and hands its output to the line whole.
#pragma once

#include <memory>

#include "transfer/transfer.h"

// Upload and download engines for protocols 1-3 and 8-11 (the transfer's
// `protocol` picks the variant; the sender may change it in the handshake).
std::unique_ptr<PROTOCOLENGINE> MakeBlockUpload(TRANSFER& t);
std::unique_ptr<PROTOCOLENGINE> MakeBlockDownload(TRANSFER& t);
