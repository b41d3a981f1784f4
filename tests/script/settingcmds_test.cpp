// Profile files, the settings store and DDE from scripts: PUTINI's edit
// compared byte for byte (every other line kept, the file's own line ends),
// GETINI and PUTINI on real files in the settings directory ("Quillnet.ini"
// in UTF-8), the registry statements on the store's file, and DDE's fixed
// answers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "platform/settingsfile.h"
#include "script/settingcmds.h"
#include "shell/registry.h"
#include "support/process.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(IniEdit, EveryOtherByteIsKept) {
  struct CASE {
    const char* what;
    std::string before, section, key, value, after;
  };
  const std::vector<CASE> cases = {
      {"the key's line replaced, CR LF kept", "; note\r\n[Dial]\r\nName = old\r\nOther=1\r\n", "Dial", "Name", "new",
       "; note\r\n[Dial]\r\nName =new\r\nOther=1\r\n"},
      {"names match without regard to case", "[DIAL]\nname=a\n", "dial", "NAME", "b", "[DIAL]\nname=b\n"},
      {"a new key after the section's last line, before blank lines", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"the same key in another section is not it", "[A]\nk=1\n[B]\nk=2\n", "B", "k", "9", "[A]\nk=1\n[B]\nk=9\n"},
      {"a new section at the end", "[A]\nk=1", "New", "k", "v", "[A]\nk=1\n\n[New]\nk=v\n"},
      {"an empty file", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
      {"comments and odd lines stay", "[A]\n;k=old\ngarbage\nk=1\n", "A", "k", "2", "[A]\n;k=old\ngarbage\nk=2\n"},
      {"an empty value", "[A]\nk=1\n", "A", "k", "", "[A]\nk=\n"},
      {"the last line without a line end", "[A]\nk=1", "A", "j", "2", "[A]\nk=1\nj=2\n"},
  };
  for (const CASE& c : cases)
    EXPECT_EQ(SCRIPTSETTINGCMDS::SetIniValue(c.before, c.section, c.key, c.value), c.after) << c.what;
}

class SettingCommands : public ::testing::Test {
 protected:
  SettingCommands() {
    SetConfigDir(dir.Path());
    SCRIPTSETTINGCMDS::ResetForTest();
  }
  ~SettingCommands() override {
    SCRIPTSETTINGCMDS::ResetForTest();
    ResetDirsForTest();
  }
  TempDir dir;
  SCRIPTPEER peer;
  bool RunScript(const std::string& text) {
    if (!SCRIPT::ExecuteFromMemory(text)) return false;
    return peer.Run(60000);
  }
};

TEST_F(SettingCommands, IniFilesInTheSettingsDirectory) {
  const std::string path = dir.File("host.ini");
  ASSERT_TRUE(WriteWholeFile(path, "; mine\r\n[Login]\r\nUser=taro\r\nCount=41\r\n"));
  ::chmod(path.c_str(), 0640);
  const std::string kanji = jcode::Utf8ToSjis("日本語");
  ASSERT_TRUE(RunScript("getini \"host.ini\", \"login\", \"user\", @u\ngetini \"host.ini\", \"Login\", \"Count\", ##c\n"
                        "getini \"host.ini\", \"Login\", \"none\", @n\nsend @u + \",\" + (##c + 1) + \",[\" + @n + \"]\"\n"
                        "putini \"host.ini\", \"Login\", \"Count\", \"42\"\nputini \"host.ini\", \"Login\", \"Name\", \"" +
                        kanji + "\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, std::vector<std::string>{"taro,42,[]"});
  // Shift_JIS stays Shift_JIS in a file of the script's own.
  EXPECT_EQ(ReadWholeFile(path), "; mine\r\n[Login]\r\nUser=taro\r\nCount=42\r\nName=" + kanji + "\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // the file keeps its mode
  // Paths that are not bare names are the file statements' paths.
  const std::string other = dir.File("sub/x.ini");
  fs::create_directories(dir.File("sub"));
  ASSERT_TRUE(RunScript("putini \"" + other + "\", \"s\", \"k\", \"v\"\ngetini \"" + other + "\", \"s\", \"k\", @v\nsend @v\n"));
  EXPECT_EQ(ReadWholeFile(other), "[s]\r\nk=v\r\n");
  EXPECT_EQ(peer.sends.back(), "v");
}

TEST_F(SettingCommands, QuillnetIniIsUtf8OnDisk) {
  const std::string path = dir.File("Quillnet.ini");
  ASSERT_TRUE(WriteWholeFile(path, "[_NewHost]\n草の根=1\n"));
  const std::string grass = jcode::Utf8ToSjis("草の根"), value = jcode::Utf8ToSjis("値");
  ASSERT_TRUE(RunScript("getini \"quillnet.ini\", \"_NewHost\", \"" + grass + "\", @v\nsend @v\n"
                        "putini \"Quillnet.ini\", \"" + grass + "\", \"Name\", \"" + value + "\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, std::vector<std::string>{"1"});
  EXPECT_EQ(ReadWholeFile(path), "[_NewHost]\n草の根=1\n\n[草の根]\nName=値\n");
}

TEST_F(SettingCommands, IniFailuresAndParameters) {
  // Bytes that are not Shift_JIS name no file: RESULT 0, nothing written.
  ASSERT_TRUE(RunScript("question \"q\"\nputini \"a\x82.ini\", \"s\", \"k\", \"v\"\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0"});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 0);
  const std::string name50(50, 'n');
  struct CASE {
    std::string script;
    const char* message;
  };
  const std::vector<CASE> cases = {
      {"getini \"a.ini\", \"s\", \"k\"", "GETINIのパラメタがおかしいです。"},
      {"getini \"a.ini\", \"s\", \"" + name50 + "\", @v", "GETINIのパラメタがおかしいです。"},
      {"putini \"a.ini\", \"s\", \"k\"", "PUTINIのパラメタがおかしいです。"},
      {"putini \"a.ini\", \"" + name50 + "\", \"k\", \"v\"", "PUTINIのパラメタがおかしいです。"},
      {"putini \"" + std::string(100, 'f') + "\", \"s\", \"k\", \"v\"", "PUTINIのパラメタがおかしいです。"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.script);
    peer.errors.clear();
    ASSERT_TRUE(RunScript(c.script + "\n"));
    ASSERT_EQ(peer.errors.size(), 1u);
    EXPECT_EQ(peer.errors[0].message, c.message);
  }
}

TEST_F(SettingCommands, RegistryKeysLiveInTheStore) {
  const std::string nihon = jcode::Utf8ToSjis("日本");
  ASSERT_TRUE(RunScript("createreg CURRENTUSER, \"Software\\Test\\App\"\nwriteregstr \"s\", \"" + nihon +
                        "\"\nwriteregint \"n\", -5\ncreatereg LOCALMACHINE, \"Software\\Test\\App\"\nwriteregint \"n\", 7\n"
                        "openreg currentuser, \"Software\\Test\\App\"\ngetreg \"n\", ##a\ngetreg \"n\", @b\ngetreg \"s\", @c\n"
                        "closereg\nopenreg LOCALMACHINE, \"Software\\Test\\App\"\ngetreg \"n\", ##d\n"
                        "send \"\" + ##a + \",\" + @b + \",\" + @c + \",\" + ##d\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, std::vector<std::string>{"-5,-5," + nihon + ",7"});
  // What the store's file holds, read by another reader.
  SETTINGSFILE::Tree tree = SETTINGSFILE::Parse(ReadWholeFile(REGISTRY::FilePath()));
  ASSERT_TRUE(tree.count("Software\\Test\\App"));
  EXPECT_EQ(tree["Software\\Test\\App"]["s"].data, "日本");
  EXPECT_EQ(tree["Software\\Test\\App"]["n"].dword, static_cast<uint32_t>(-5));
  EXPECT_EQ(tree["HKEY_LOCAL_MACHINE\\Software\\Test\\App"]["n"].dword, 7u);

  // DELETEREG takes the sub-keys; the open key goes with them.
  ASSERT_TRUE(RunScript("openreg CURRENTUSER, \"Software\\Test\\App\"\ndeletereg CURRENTUSER, \"Software\\Test\"\n"
                        "getreg \"n\", ##a\n"));
  ASSERT_EQ(peer.errors.size(), 1u);
  EXPECT_EQ(peer.errors[0].id, 113);
  EXPECT_EQ(peer.errors[0].message, "レジストリがオープンされてないのにwritereg/getregが使われました。");
  tree = SETTINGSFILE::Parse(ReadWholeFile(REGISTRY::FilePath()));
  EXPECT_FALSE(tree.count("Software\\Test\\App"));
  EXPECT_TRUE(tree.count("HKEY_LOCAL_MACHINE\\Software\\Test\\App"));
}

TEST_F(SettingCommands, RegistryFailures) {
  struct CASE {
    const char* script;
    std::vector<std::string> sent;
    int error;  // 0: none
  };
  const std::vector<CASE> cases = {
      // A key that is not there is not opened (RESULT 0), so a value after it is 113.
      {"question \"q\"\nopenreg USERS, \"Nobody\"\nsend \"r\" + result\ngetreg \"x\", @x\n", {"r0"}, 113},
      {"writeregstr \"x\", \"y\"\n", {}, 113},
      {"question \"q\"\ncreatereg USERS, \"K\"\ngetreg \"missing\", @x\nsend \"r\" + result\n", {"r0"}, 0},
      {"createreg HOME, \"K\"\n", {}, 202},
      {"createreg USERS\n", {}, 202},
      {"getreg \"x\"\n", {}, 202},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.script);
    peer.errors.clear();
    peer.sends.clear();
    SCRIPTSETTINGCMDS::ResetForTest();
    ASSERT_TRUE(RunScript(c.script));
    EXPECT_EQ(peer.sends, c.sent);
    if (c.error) {
      ASSERT_EQ(peer.errors.size(), 1u);
      EXPECT_EQ(peer.errors[0].id, c.error);
    } else {
      EXPECT_TRUE(peer.errors.empty());
    }
  }
}

TEST_F(SettingCommands, DdeGivesItsFixedAnswers) {
  ASSERT_TRUE(RunScript("question \"q\"\nddeinitiate \"svc\", \"topic\"\nsend \"i\" + result\n@v = \"full\"\n##n = 3\n"
                        "question \"q\"\nddestartadvice \"item\", @v\nsend \"s\" + result\n"
                        "question \"q\"\nddeexecute \"x\"\nddepoke \"a\", \"b\"\nddestopadvice\nddeterminate\nsend \"e\" + result\n"
                        "question \"q\"\ndderequest \"item\", @v\ndderequest \"item\", ##n\nsend \"q\" + result + \"[\" + @v + \"]\" + ##n\n"
                        "send \"w\"\nddewaitadvice 1500\nsend \"r\" + result\nddewaitadvice 0\nsend \"z\"\n"));
  EXPECT_TRUE(peer.errors.empty()) << (peer.errors.empty() ? "" : peer.errors[0].message);
  ASSERT_EQ(peer.sends, (std::vector<std::string>{"i0", "s0", "e1", "q0[]0", "w", "r-1", "z"}));
  // The whole time passes before it goes on.
  EXPECT_GE(peer.timedSends[5].first - peer.timedSends[4].first, 1500u);
  for (const char* s : {"ddewaitadvice -1", "ddewaitadvice \"abc\"", "ddewaitadvice"}) {
    SCOPED_TRACE(s);
    peer.errors.clear();
    ASSERT_TRUE(RunScript(std::string(s) + "\n"));
    ASSERT_EQ(peer.errors.size(), 1u);
    EXPECT_EQ(peer.errors[0].message, "DDEWAITADVICEのパラメタがおかしいです。");
  }
}

}  // namespace
