#include "shell/online.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/jcode.h"
#include "shell/config.h"
#include "shell/helpers.h"
#include "shell/hostini.h"
#include "shell/hostprop.h"
#include "stock/stock.h"

FRAMEHOOKS frameHooks;
std::string szCaption;
const char* const kProgramName = "Quillnet";

namespace {

void SetCaption(const std::string& utf8) {
  szCaption = utf8;
  if (frameHooks.setCaption) frameHooks.setCaption(utf8);
}

void CopyName(char* dst, size_t size, const std::string& src) {
  std::snprintf(dst, size, "%s", src.c_str());
}

}  // namespace

void SetOnline(int online) {
  const bool wasOnline = fOnline != 0;
  fOnline = online ? 1 : 0;
  if (wasOnline && !fOnline) STOCK::EndOnline();
  if (frameHooks.onlineChanged) frameHooks.onlineChanged(fOnline);
}

void SetQuillnetTitle(const char* sjis) { SetCaption(jcode::SjisToUtf8(sjis)); }

std::string QuillnetTitleText() {
  if (!fOnline) return kProgramName;
  const std::string name = hostprop.szName;
  auto is = [&](const char* utf8) { return name == jcode::Utf8ToSjis(utf8); };
  if (is("(電話をかける)")) return jcode::Utf8ToSjis("電話 - ") + hostprop.DialNo;
  if (is("(telnet接続)")) return jcode::Utf8ToSjis("telnet接続 - ") + hostprop.DialNo;
  if (is("(シリアルポートに接続)")) {
    char tail[64];
    std::snprintf(tail, sizeof tail, "%d %dbps", hostprop.PortNo + 1, hostprop.Baudrate);
    return jcode::Utf8ToSjis("ｼﾘｱﾙﾎﾟｰﾄ接続 - COM") + tail;
  }
  return name;
}

void RestoreQuillnetTitle() { SetCaption(jcode::SjisToUtf8(QuillnetTitleText())); }

int SelectHostStock() {
  const std::string wanted = hostprop.StockFile;
  if (wanted.empty() || (STOCK::fValid && !STOCK::fTemp && wanted == STOCK::StockFile)) return 1;
  if (STOCK::IsOtherQuillnetSharing(wanted)) {
    ErrorMessage(wanted + "は他のQuillnetが使用中なので切り替えできません。");
    return 0;
  }
  if (!STOCK::fTemp && !STOCK::StockFile.empty()) STOCK::StockFile2 = STOCK::StockFile;
  STOCK::Close();
  int ok = STOCK::Open(wanted);
  if (ok) {
    STOCK::StockFile = wanted;
  } else {
    OpenAnyStockFile();
  }
  CopyName(config.StockFile, sizeof config.StockFile, STOCK::StockFile);
  CopyName(config.StockFile2, sizeof config.StockFile2, STOCK::StockFile2);
  config.SaveStockFileName();
  return ok;
}

void ResetOnlineForTest() {
  frameHooks = FRAMEHOOKS();
  szCaption.clear();
  fOnline = 0;
}
