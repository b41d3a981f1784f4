// The transfer protocols' numbers, their names and the results a transfer
// ends with.
//
// PROTOCOL is the number of a protocol (0 to 14); the host settings name the
// allowed ones with their setting words ("zmodem", "xmodem1k", ...), the
// progress window and the history show the display names.  PROTOCOLERROR is
// the result of a transfer, 0 for success, each other value with the fixed
// message shown when a transfer ends with it.
#pragma once

#include <string>
#include <string_view>

enum PROTOCOL : int {
  PROTOCOL_NONE = -1,         // "ask the user" where an entry point takes a protocol
  PROTOCOL_TEXT = 0,          // text upload, no protocol
  PROTOCOL_XMODEM = 1,        // 128-byte blocks, checksum
  PROTOCOL_XMODEMCRC = 2,     // 128-byte blocks, CRC-16
  PROTOCOL_XMODEM1K = 3,      // 1024-byte blocks, CRC-16
  PROTOCOL_BPLUS = 4,
  PROTOCOL_QUICKVAN = 5,
  PROTOCOL_TRANSIT = 6,
  PROTOCOL_ZMODEM = 7,
  PROTOCOL_YMODEM = 8,        // non-batch
  PROTOCOL_YMODEMG = 9,       // non-batch
  PROTOCOL_YMODEMBATCH = 10,
  PROTOCOL_YMODEMGBATCH = 11,
  PROTOCOL_EXTERNAL = 12,
  PROTOCOL_VTXBINARY = 13,
  PROTOCOL_MLINK = 14,
};
constexpr int PROTOCOL_COUNT = 15;

enum PROTOCOLERROR : int {
  PE_OK = 0,
  PE_READ = 1,            // "ファイルの読み込みが失敗しました。"
  PE_WRITE = 2,           // "ファイルの書き込みが失敗しました。"
  PE_TIMEOUT = 3,         // "タイムアウトが発生しました。"
  PE_CANCELLED = 4,       // "ホストが処理をキャンセルしました。"
  PE_MANYERRORS = 5,      // "データエラーが多発したので処理を中止します。"
  PE_NOTFOUND = 6,        // "ファイルが見つかりません。"
  PE_UNKNOWN = 7,         // "未知のエラーが発生しました。"
  PE_NOMEMORY = 8,        // "メモリ不足のため処理を続行できません。"
  PE_DATAERROR = 9,       // "データエラーが発生したので処理を中止します。"
  PE_PORT = 10,           // "通信ポートでエラーが発生しました。"
  PE_COLLATE = 11,        // "送信文字列とエコーバック文字列の照合でエラーが見つかりました。"
  PE_HANGUP = 12,         // "バイナリ転送中に電話が切れてしまいました。"
  PE_RESUMEREFUSED = 13,  // "続き部分だけのダウンロードはホストから拒否されました。"
};
constexpr int PROTOCOLERROR_COUNT = 14;

// The fixed message of a result (UTF-8); empty for 0 and out-of-range values.
const char* ProtocolErrorText(int error);

// The display name ("ZMODEM", "YMODEM-g(batch)", "テキスト送信", ...), UTF-8;
// empty for a number outside 0..14.
const char* ProtocolDisplayName(int protocol);
// The host setting word ("zmodem", ...); empty for 0, 12, 13 and out of range.
const char* ProtocolSettingWord(int protocol);
// The protocol a setting word names (ASCII case ignored, as the host list
// reads them); PROTOCOL_NONE for an unknown word.  "text" names 0 (the tool's
// word for a text upload; the host settings never hold it).
PROTOCOL ProtocolFromWord(std::string_view word);

// Status strings shown through ProtocolSetStatus by id.
enum PROTOCOLSTATUS : int {
  PS_NONE = 0,
  PS_WAITCRECHO = 1,   // "ＣＲエコー待ち"
  PS_SENDING = 2,      // "送信中"
  PS_RECEIVING = 3,    // "受信中"
  PS_WAITREPLY = 4,    // "応答待ち"
  PS_FINISHING = 5,    // "終了処理中"
  PS_STARTING = 6,     // "初期処理中"
  PS_HANDSHAKE = 7,    // "ハンドシェーク中"
  PS_WAITPACE = 8,     // "ﾍﾟｰｽｷｬﾗｸﾀ待ち"
};
const char* ProtocolStatusText(int status);
