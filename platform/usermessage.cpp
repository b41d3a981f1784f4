#include "platform/usermessage.h"

const char* GetStringResource(int id) {
  switch (id) {
    case IDS_NOT_ENOUGH_MEMORY: return "メモリ不足のため処理を続行できません。";
  }
  return "";
}

int MyMessageBox(const std::string& text, unsigned style, const std::string& caption) {
  return ui::Current().MessageBox(text, caption, style);
}

void ErrorMessage(const std::string& text) { MyMessageBox(text, ui::MB_OK | ui::MB_ICONERROR); }

void ErrorMessage(int id) { ErrorMessage(std::string(GetStringResource(id))); }

void NotEnoughMemory() { ErrorMessage(std::string("内部エラー: メモリ不足です")); }
