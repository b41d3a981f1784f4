// Function keys: F1-F12 alone, with Shift, with Ctrl and with both, each
// carrying a text to send or a script to run.
//
// 48 entries, numbered bank * 12 + key (key 0-11 is F1-F12; bank 0 plain,
// 1 Shift, 2 Ctrl, 3 Shift+Ctrl).  In the settings (key Config) an entry's
// values are named by the bank's letter (F, B, C, D) and the key's digit
// (1-9, A, B, C): "F1Name", "F1Script" (the text) and "F1Type" (0 text,
// 1 script; missing: text).  Shift+Ctrl+F12 is "DCName"/"DCScript"/"DCType".
// Settings written by older versions named F10-F12 "F10Name".."F12Name" and
// "F10Script".."F12Script": those are read when the new names are missing.
//
// Key text: "^^" is a caret, "^" and a letter (either case) its control
// code, "^0" and two hexadecimal digits that byte, "^" before anything else
// that character; a double-byte character stays whole.
//
// Pressing a key (ProcessFuncKey): a script entry runs its text as a
// script target ("FILE:LABEL", a name with "." a file from its start, else
// a label of the running script: message 70 when none runs).  A text with no
// escapes is typed: into the chat window's input when it is open (up to 255
// bytes), else into the local input line when local editing is on, else sent.
// A text with escapes is always sent to the host; a "^M" met before any
// other escape first submits what the chat window or local input line holds
// (then it is not sent), and without either it is a CR like any other.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct FUNCKEYENTRY {
  bool script = false;
  std::string name;  // Shift_JIS, at most 20 bytes
  std::string text;  // Shift_JIS, at most 49 bytes
  bool operator==(const FUNCKEYENTRY&) const = default;
};

class FUNCINI {
 public:
  static constexpr int ENTRIES = 48;
  static constexpr size_t MAX_NAME = 20;
  static constexpr size_t MAX_TEXT = 49;

  // The settings' value name of an entry: "F1" + what ("Name", "Script",
  // "Type"), "DC" + what for entry 47.
  static std::string ValueName(int entry, const char* what);
  // The entry from the settings (the older F10-F12 names as a fallback).
  void GetKeyAssign(int entry);
  void Clear(int entry) { entries[static_cast<size_t>(entry)] = {}; }
  void LoadAll() {
    for (int e = 0; e < ENTRIES; ++e) GetKeyAssign(e);
  }
  // Writes all 48 entries to the settings.  False when they could not be
  // written.
  bool SaveFuncIni() const;
  // What the button shows: the name, or "F1".."F12" for an entry without one.
  std::string Label(int entry) const;

  std::array<FUNCKEYENTRY, ENTRIES> entries{};
};

extern FUNCINI funcini;

// Entry number of key 0-11 with the modifiers.
inline int FuncKeyEntry(int key, bool shift, bool ctrl) { return key + (shift ? 12 : 0) + (ctrl ? 24 : 0); }

// A key text decoded.
struct KEYTEXT {
  std::string bytes;     // every escape decoded (the leading ^M as CR)
  bool escaped = false;  // it held an escape
  bool crFirst = false;  // the first escape was ^M
  size_t crAt = 0;       // where that CR stands in bytes
};
KEYTEXT DecodeKeyText(std::string_view text);

// Where a function key's text goes.  Unset hooks: nothing is open (text is
// sent), and sending does nothing.
struct FUNCKEYHOOKS {
  std::function<void(const std::string& bytes)> send;  // to the host (add-ins hear of it first)
  std::function<bool()> chatOpen;
  std::function<void(const std::string& text)> appendChat;
  std::function<bool()> localInputOn;
  std::function<void(const std::string& text)> typeLocal;
  std::function<void()> submitLine;  // the chat window's or the local input line's text as a line
  std::function<void()> focusBack;   // to the chat window when open, else the terminal
  std::function<void()> repaint;     // the button row, after the entries changed
};
extern FUNCKEYHOOKS funcKeyHooks;

// Acts on a key (0-11) with the modifiers held at this moment.
void ProcessFuncKey(int key, bool shift, bool ctrl);
// Acts on an entry (0-47).
void ProcessFuncKeyEntry(int entry);
