// Function keys: the 48 entries and their settings names, the key-text
// decoder, where a text goes (typed or sent), and script entries.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "script/funckey.h"
#include "script/script.h"
#include "script/scriptmsg.h"
#include "shell/registry.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace {

class FuncKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    REGISTRY::ResetForTest();
    SetConfigDir(dir.Path());
    funcini = FUNCINI();
    funcKeyHooks = FUNCKEYHOOKS();
    funcKeyHooks.send = [this](const std::string& b) { calls.push_back("send:" + b); };
    funcKeyHooks.appendChat = [this](const std::string& b) { calls.push_back("chat:" + b); };
    funcKeyHooks.typeLocal = [this](const std::string& b) { calls.push_back("local:" + b); };
    funcKeyHooks.submitLine = [this] { calls.push_back("submit"); };
    funcKeyHooks.focusBack = [this] { calls.push_back("focus"); };
  }
  void TearDown() override {
    funcini = FUNCINI();
    funcKeyHooks = FUNCKEYHOOKS();
    REGISTRY::ResetForTest();
    ResetDirsForTest();
  }
  TempDir dir;
  std::vector<std::string> calls;
};

TEST_F(FuncKeys, TheFortyEightEntriesHaveTheirOwnSettingsNames) {
  std::set<std::string> names;
  for (int e = 0; e < FUNCINI::ENTRIES; ++e) names.insert(FUNCINI::ValueName(e, "Name"));
  EXPECT_EQ(names.size(), 48u);
  struct {
    int key;
    bool shift, ctrl;
    const char* name;
  } cases[] = {
      {0, false, false, "F1Name"}, {8, false, false, "F9Name"},  {9, false, false, "FAName"},
      {11, false, false, "FCName"}, {0, true, false, "B1Name"},  {11, true, false, "BCName"},
      {4, false, true, "C5Name"},   {0, true, true, "D1Name"},   {11, true, true, "DCName"},
  };
  for (const auto& c : cases) EXPECT_EQ(FUNCINI::ValueName(FuncKeyEntry(c.key, c.shift, c.ctrl), "Name"), c.name);
  EXPECT_EQ(FuncKeyEntry(11, true, true), 47);
  EXPECT_EQ(FUNCINI::ValueName(47, "Script"), "DCScript");
}

TEST_F(FuncKeys, EntriesRoundTripThroughTheSettingsWithTheOlderNamesAsFallback) {
  // Settings of an older version: F10Name/F10Script, and F11 under both names.
  ASSERT_TRUE(REGISTRY::OpenKey("Config", true));
  REGISTRY::WriteString("F10Name", "old ten");
  REGISTRY::WriteString("F10Script", "ten^M");
  REGISTRY::WriteString("F11Name", "old eleven");
  REGISTRY::WriteString("FBName", "new eleven");
  REGISTRY::WriteString("D1Script", "login.hsc:START");
  REGISTRY::WriteInt("D1Type", 1);
  REGISTRY::WriteString("C2Script", std::string(80, 'x').c_str());  // too long: cut
  ASSERT_TRUE(REGISTRY::CloseKey());
  funcini.LoadAll();
  EXPECT_EQ(funcini.entries[9].name, "old ten");
  EXPECT_EQ(funcini.entries[9].text, "ten^M");
  EXPECT_EQ(funcini.entries[10].name, "new eleven");
  EXPECT_TRUE(funcini.entries[36].script);
  EXPECT_EQ(funcini.entries[36].text, "login.hsc:START");
  EXPECT_EQ(funcini.entries[25].text.size(), FUNCINI::MAX_TEXT);
  EXPECT_EQ(funcini.Label(9), "old ten");
  EXPECT_EQ(funcini.Label(47), "F12");  // no name: the key's own

  for (int e = 0; e < FUNCINI::ENTRIES; ++e) {
    funcini.entries[size_t(e)].name = "n" + std::to_string(e);
    funcini.entries[size_t(e)].text = "t" + std::to_string(e);
    funcini.entries[size_t(e)].script = e % 3 == 0;
  }
  const FUNCINI saved = funcini;
  ASSERT_TRUE(funcini.SaveFuncIni());
  REGISTRY::ResetForTest();  // read from the file again
  SetConfigDir(dir.Path());
  FUNCINI loaded;
  loaded.LoadAll();
  EXPECT_EQ(loaded.entries, saved.entries);
  // The new names win over the older ones from now on.
  EXPECT_EQ(loaded.entries[9].name, "n9");
}

TEST(KeyText, DecodesTheCaretEscapes) {
  struct {
    std::string text, bytes;
    bool escaped, crFirst;
  } cases[] = {
      {"plain", "plain", false, false},
      {"^01B[2J", "\x1b[2J", true, false},  // ESC
      {"^^", "^", true, false},
      {"^m", "\r", true, true},
      {"id^Mpw^M", "id\rpw\r", true, true},
      {"^A^M", "\x01\r", true, false},  // ^M after another escape
      {"^[x", "[x", true, false},        // a caret before anything else
      {"^0G1", "0G1", true, false},      // ^0 without two hexadecimal digits
      {"^0a", "0a", true, false},
      {"a^", "a^", false, false},        // a caret at the end stands for itself
      {"\x83\x5e", "\x83\x5e", false, false},  // a trail byte "^" is no escape
      {"\x83\x5e^M", "\x83\x5e\r", true, true},
      {"^000x", std::string("\0x", 2), true, false},
  };
  for (const auto& c : cases) {
    const KEYTEXT k = DecodeKeyText(c.text);
    EXPECT_EQ(k.bytes, c.bytes) << c.text;
    EXPECT_EQ(k.escaped, c.escaped) << c.text;
    EXPECT_EQ(k.crFirst, c.crFirst) << c.text;
  }
  EXPECT_EQ(DecodeKeyText("id^Mpw").crAt, 2u);
}

TEST_F(FuncKeys, TextIsTypedOrSentByItsEscapes) {
  struct {
    const char* text;
    bool chat, local;
    std::vector<std::string> want;
  } cases[] = {
      {"hello", false, false, {"send:hello", "focus"}},
      {"hello", true, false, {"chat:hello", "focus"}},
      {"hello", false, true, {"local:hello", "focus"}},
      {"hello", true, true, {"chat:hello", "focus"}},  // the chat window first
      {"^01B", true, false, {"send:\x1b", "focus"}},   // escapes always go to the host
      {"^Mok^M", false, true, {"submit", "send:ok\r", "focus"}},
      {"pre^Mok", true, false, {"submit", "send:preok", "focus"}},
      {"^Mok", false, false, {"send:\rok", "focus"}},  // nothing open: a CR
      {"^A^M", false, true, {"send:\x01\r", "focus"}},
  };
  for (const auto& c : cases) {
    calls.clear();
    funcKeyHooks.chatOpen = [&] { return c.chat; };
    funcKeyHooks.localInputOn = [&] { return c.local; };
    funcini.entries[3].text = c.text;
    ProcessFuncKey(3, false, false);
    EXPECT_EQ(calls, c.want) << c.text << " chat " << c.chat << " local " << c.local;
  }
  // The chat window takes at most 255 bytes.
  calls.clear();
  funcKeyHooks.chatOpen = [] { return true; };
  funcini.entries[3].text = std::string(300, 'a');
  ProcessFuncKey(3, false, false);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], "chat:" + std::string(255, 'a'));
  // The modifiers pick the bank.
  calls.clear();
  funcKeyHooks.chatOpen = nullptr;
  funcKeyHooks.localInputOn = nullptr;
  funcini.entries[47].text = "last";
  ProcessFuncKey(11, true, true);
  EXPECT_EQ(calls, (std::vector<std::string>{"send:last", "focus"}));
}

TEST_F(FuncKeys, ScriptEntriesRunTheirTarget) {
  SCRIPTPEER peer;
  SCRIPT::searchDirs = {dir.Path()};
  ASSERT_TRUE(WriteWholeFile(dir.File("keys.hsc"),
                             "send \"start\"\nexit\nsecond:\nsend \"second\"\nexit\n"));
  // A bare label with no script running: message 70.
  funcini.entries[0] = {true, "", "SECOND"};
  ProcessFuncKey(0, false, false);
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, scriptmsg::CANNOT_RUN);
  EXPECT_EQ(peer.errors[0].message, scriptmsg::Text(scriptmsg::CANNOT_RUN));

  funcini.entries[1] = {true, "", "keys.hsc"};
  funcini.entries[2] = {true, "", "keys.hsc:SECOND"};
  ProcessFuncKey(1, false, false);
  ASSERT_TRUE(peer.Run(1000));
  ProcessFuncKey(2, false, false);
  ASSERT_TRUE(peer.Run(1000));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"start", "second"}));

  // A bare label while a script runs: that label of the running script.
  ASSERT_TRUE(WriteWholeFile(dir.File("wait.hsc"), "wait \"never\"\nhere:\nsend \"here\"\n"));
  ASSERT_TRUE(SCRIPT::Execute("wait.hsc"));
  peer.Pass();
  funcini.entries[3] = {true, "", "HERE"};
  ProcessFuncKey(3, false, false);
  EXPECT_EQ(peer.sends.back(), "here");
  EXPECT_EQ(peer.errors.size(), 1u);
  SCRIPT::StopAll();
}

}  // namespace
