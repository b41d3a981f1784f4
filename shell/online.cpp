#include "shell/online.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/jcode.h"
#include "platform/ui.h"
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
  StockNamesToSettings();
  return ok;
}

void StockNamesToSettings() {
  std::snprintf(config.StockFile, sizeof config.StockFile, "%s", STOCK::StockFile.c_str());
  std::snprintf(config.StockFile2, sizeof config.StockFile2, "%s", STOCK::StockFile2.c_str());
  config.SaveStockFileName();
}

bool ConfirmExitWhileOnline() {
  return ui::Current().MessageBox("電話がつながったままなので電話を強制切断してから終了します。", kProgramName,
                                  ui::MB_OKCANCEL | ui::MB_ICONWARNING) == ui::IDOK;
}

void ResetOnlineForTest() {
  frameHooks = FRAMEHOOKS();
  szCaption.clear();
  fOnline = 0;
}
