// Protocol names and result texts.
#include "transfer/protocol.h"

#include <cctype>

namespace {

struct NAMES {
  const char* word;
  const char* display;
};

const NAMES kNames[PROTOCOL_COUNT] = {
    {"", "テキスト送信"},
    {"xmodem", "XMODEM"},
    {"xmodemcrc", "XMODEM/CRC"},
    {"xmodem1k", "XMODEM-1K"},
    {"bplus", "BPLUS"},
    {"quickvan", "Quick-VAN"},
    {"transit", "TransIt"},
    {"zmodem", "ZMODEM"},
    {"ymodem", "YMODEM(non-batch)"},
    {"ymodemg", "YMODEM-g(non-batch)"},
    {"ymodembatch", "YMODEM(batch)"},
    {"ymodemgbatch", "YMODEM-g(batch)"},
    {"", "外部ﾌﾟﾛﾄｺﾙ"},
    {"", "VTXバイナリ転送"},
    {"MLink", "M-Link"},
};

const char* const kErrors[PROTOCOLERROR_COUNT] = {
    "",
    "ファイルの読み込みが失敗しました。",
    "ファイルの書き込みが失敗しました。",
    "タイムアウトが発生しました。",
    "ホストが処理をキャンセルしました。",
    "データエラーが多発したので処理を中止します。",
    "ファイルが見つかりません。",
    "未知のエラーが発生しました。",
    "メモリ不足のため処理を続行できません。",
    "データエラーが発生したので処理を中止します。",
    "通信ポートでエラーが発生しました。",
    "送信文字列とエコーバック文字列の照合でエラーが見つかりました。",
    "バイナリ転送中に電話が切れてしまいました。",
    "続き部分だけのダウンロードはホストから拒否されました。",
};

const char* const kStatus[] = {
    "", "ＣＲエコー待ち", "送信中", "受信中", "応答待ち", "終了処理中", "初期処理中", "ハンドシェーク中", "ﾍﾟｰｽｷｬﾗｸﾀ待ち",
};

bool SameWord(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && !b[i];
}

}  // namespace

const char* ProtocolErrorText(int e) { return e > 0 && e < PROTOCOLERROR_COUNT ? kErrors[e] : ""; }
const char* ProtocolDisplayName(int p) { return p >= 0 && p < PROTOCOL_COUNT ? kNames[p].display : ""; }
const char* ProtocolSettingWord(int p) { return p >= 0 && p < PROTOCOL_COUNT ? kNames[p].word : ""; }
const char* ProtocolStatusText(int s) {
  return s >= 0 && s < static_cast<int>(sizeof kStatus / sizeof kStatus[0]) ? kStatus[s] : "";
}

PROTOCOL ProtocolFromWord(std::string_view w) {
  if (w.empty()) return PROTOCOL_NONE;
  if (SameWord(w, "text")) return PROTOCOL_TEXT;
  for (int p = 1; p < PROTOCOL_COUNT; ++p)
    if (kNames[p].word[0] && SameWord(w, kNames[p].word)) return static_cast<PROTOCOL>(p);
  return PROTOCOL_NONE;
}
