// Messages to the user shared by every layer: boxes through the ui facade and
// the string-table texts.  They live at the bottom so that the stock and the
// other low layers can report without reaching up into the shell.
#pragma once

#include <string>

#include "platform/ui.h"

// String-table texts by number (UTF-8).  Unknown numbers give an empty string.
const char* GetStringResource(int id);
enum : int { IDS_NOT_ENOUGH_MEMORY = 28 };

// Message box whose owner is the frame's active window; returns the answer.
int MyMessageBox(const std::string& text, unsigned style = ui::MB_OK, const std::string& caption = "Quillnet");
// Error box with a text, or with a string-table text by number.
void ErrorMessage(const std::string& text);
void ErrorMessage(int id);
// "内部エラー: メモリ不足です" (the operation goes on without what it could not allocate).
void NotEnoughMemory();
