// ZMODEM download and upload engines (CRC-16, 1024-byte subpackets streamed
// with ZCRCG, resume, several files per upload).  See zmodem.cpp.
#pragma once

#include <memory>

#include "transfer/transfer.h"

std::unique_ptr<PROTOCOLENGINE> MakeZmodemDownload(TRANSFER& t);
std::unique_ptr<PROTOCOLENGINE> MakeZmodemUpload(TRANSFER& t);
// The engine the receive dispatcher starts: the host's "**" ZDLE "B00" was
// already consumed, so it answers ZRINIT at once.
std::unique_ptr<PROTOCOLENGINE> MakeZmodemAutoDownload(TRANSFER& t);
