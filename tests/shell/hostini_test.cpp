// The host list: order, menu flags, deletion with compaction, the backup file
// (written by hand here from its format) and the mirror file's host import.
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/inifile.h"
#include "platform/settingsfile.h"
#include "settings_fixture.h"
#include "shell/hostprop.h"
#include "shell/quillnetini.h"

namespace {

using Lines = std::vector<std::string>;

std::string Join(const Lines& lines) {
  std::string s;
  for (auto& l : lines) s += l + "\r\n";
  return s;
}

// One host of a backup file: the lines every host has, those of its
// connection type, the rest, and twenty "Reserved".
Lines Host(const std::string& name, int inMenu, int type, const Lines& typeLines, const std::string& upload,
           int orikaeshi, const std::string& stock) {
  Lines l = {"Host name=" + name, "HostInMenu=" + std::to_string(inMenu), "DialNo=03-1234-5678", "DialNo2=",
             "VideoTex=0", "ScriptFile=/home/u/login.hsc", "KanjiCode=1", "LocalEcho=0", "LocalEdit=1",
             "ReceiveCROnly=0", "SendCRLF=1", "RemoveCtrls=0", "ControlKey=0", "CursorCode=2", "7bit=1", "ETX=0",
             "AutoJisEuc=1", "ModemType=" + std::to_string(type)};
  l.insert(l.end(), typeLines.begin(), typeLines.end());
  Lines tail = {"UploadProtocol=" + upload,
                "DownloadProtocol=xmodem xmodemcrc xmodem1k bplus quickvan transit zmodem ymodem ymodemg "
                "ymodembatch ymodemgbatch MLink ",
                "AutoBPLUS=1", "AutoZmodem=0", "FlyingXmodem=0", "SaveTimeStamp=1", "QuickVANWindowReceive=15",
                "QuickVANWindowSend=8", "MaskCtrlCode=0", "Orikaeshi=" + std::to_string(orikaeshi),
                "AutoMarginSync=0", "HankakuMargin=1", "Margin=0", "Kinsoku=1", "TabToSpace=0", "PaceCharacter=62",
                "Collate=0", "FastSend=0", "LogType=1", "LogName=bbs.log", "LogLimit=9999", "StockFile=" + stock};
  l.insert(l.end(), tail.begin(), tail.end());
  for (int n = 0; n < 20; ++n) l.push_back("Reserved");
  return l;
}

class Hosts : public SettingsTest {
 protected:
  std::string name1 = Sjis("草の根ＢＢＳ");
  // The fixture: four hosts, one of each connection type.
  Lines Fixture() {
    Lines l = {"Quillnet host list backup version 1"};
    auto add = [&](const Lines& h) { l.insert(l.end(), h.begin(), h.end()); };
    add(Host(name1, 1, 2, {"PortName=bbs.example.jp", "RasEntry="}, "xmodem zmodem ", 76, "/home/u/草の根.stk"));
    add(Host("Direct", 0, 1, {"PortNo=0", "Baudrate=38400", "StopBit=0", "FlowControl=1"}, "", 60, ""));
    add(Host("Hayes", 1, 4,
             {"ModemInit=ATZ", "ModemInit2=AT&F\\N3", "DialCommand=ATDT", "PortNo=2", "Baudrate=9600", "StopBit=1",
              "FlowControl=2"},
             "ymodemg ymodemgbatch MLink ", 72, ""));
    add(Host(Sjis("電話ソフト"), 0, 0, {"ModemName=" + Sjis("内蔵モデム"), "MaxRate=28800", "ModemProp=^_^^B^@\x1E!"},
             "bplus ", 76, ""));
    return l;
  }
  std::string Restored(const std::string& text) {
    WriteWholeFile(dir.File("in.lst"), text);
    EXPECT_TRUE(HOSTINI::RestoreHostList(dir.File("in.lst"))) << "error line " << HOSTINI::nErrorLine;
    EXPECT_TRUE(HOSTINI::BackupHostList(dir.File("out.lst")));
    return ReadWholeFile(dir.File("out.lst"));
  }
  void AddHost(const std::string& name, int type = MODEM_TELNET) {
    HOSTPROPERTY p;
    std::strcpy(p.szName, name.c_str());
    p.ModemType = type;
    ASSERT_TRUE(p.SaveRegistry());
    ASSERT_TRUE(HOSTINI::AppendHost(name.c_str(), 0));
  }
  std::vector<std::string> Names() {
    std::vector<std::string> n;
    char buf[100];
    for (int i = 0; HOSTINI::GetHostName(i, buf, sizeof buf); ++i) n.push_back(buf);
    return n;
  }
};

TEST_F(Hosts, TheHandWrittenFixtureRestoresAndBacksUpByteIdentical) {
  const std::string text = Join(Fixture());
  EXPECT_TRUE(Restored(text) == text);
  EXPECT_EQ(Names(), (std::vector<std::string>{name1, "Direct", "Hayes", Sjis("電話ソフト")}));
  // What the records hold after the round trip.
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry(name1.c_str()));
  EXPECT_STREQ(p.PortName, "bbs.example.jp");
  EXPECT_EQ(p.SevenBit, 1);
  EXPECT_EQ(p.PaceCharacter, '>');
  EXPECT_STREQ(p.StockFile, "/home/u/草の根.stk");  // paths are UTF-8 in the file and in memory
  EXPECT_EQ(p.abProtocol[1 + 0], 1);                  // xmodem
  EXPECT_EQ(p.abProtocol[1 + 1], 0);                  // xmodemcrc
  EXPECT_EQ(p.abProtocol[1 + 6], 1);                  // zmodem
  EXPECT_EQ(HOSTINI::GetHostOrder(name1.c_str()), 0);
  EXPECT_EQ(HOSTINI::IsHostInMenu(name1.c_str()), 1);
  ASSERT_TRUE(p.GetRegistry("Hayes"));
  EXPECT_STREQ(p.ModemInit2, "AT&F\\N3");
  EXPECT_EQ(p.PortNo, 2);
  EXPECT_EQ(p.abProtocol[1 + 8], 1);   // ymodemg
  EXPECT_EQ(p.abProtocol[1 + 10], 1);  // ymodemgbatch
  EXPECT_EQ(p.abProtocol[1 + 9], 0);   // ymodembatch is not enabled by ymodemgbatch
  ASSERT_TRUE(p.GetRegistry(Sjis("電話ソフト").c_str()));
  EXPECT_EQ(p.ModemProp, (std::vector<std::uint8_t>{0x1E, 0x5D, 0x41, 0xFF, 0x1D, 0x20}));
  EXPECT_EQ(HOSTINI::GetHostOrder(Sjis("電話ソフト").c_str()), 3);
  // The settings file holds the names and texts as UTF-8.
  const std::string reg = ReadWholeFile(RegPath());
  EXPECT_NE(reg.find("[Software\\Tallowood\\Quillnet95\\Host\\草の根ＢＢＳ]"), std::string::npos);
  EXPECT_NE(reg.find("\"HostIndex0003\"=\"電話ソフト\""), std::string::npos);
  EXPECT_NE(reg.find("\"ModemName\"=\"内蔵モデム\""), std::string::npos);
  // The host menu: hosts with the flag, commands by list index.
  ASSERT_EQ(HOSTINI::aHostMenu.size(), 2u);
  EXPECT_EQ(HOSTINI::aHostMenu[0].command, 200);
  EXPECT_EQ(HOSTINI::aHostMenu[0].name, name1);
  EXPECT_EQ(HOSTINI::aHostMenu[1].command, 202);
}

TEST_F(Hosts, AReservedLineKeepsTheDefaultNotThePreviousHostsValue) {
  Lines l = Fixture();
  // The first host wraps at 70; the second host's wrap column becomes
  // "Reserved" and must read as the default 76.
  auto first = std::find(l.begin(), l.end(), "Orikaeshi=76");
  auto second = std::find(l.begin(), l.end(), "Orikaeshi=60");
  ASSERT_TRUE(first != l.end() && second != l.end());
  *first = "Orikaeshi=70";
  *second = "Reserved";
  WriteWholeFile(dir.File("in.lst"), Join(l));
  ASSERT_TRUE(HOSTINI::RestoreHostList(dir.File("in.lst")));
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry("Direct"));
  EXPECT_EQ(p.Orikaeshi, 76);
  EXPECT_EQ(p.Baudrate, 38400);
}

TEST_F(Hosts, BackupOfAnEmptyListAndRestoringIt) {
  ASSERT_TRUE(HOSTINI::BackupHostList(dir.File("empty.lst")));
  EXPECT_EQ(ReadWholeFile(dir.File("empty.lst")), "Quillnet host list backup version 1\r\n");
  AddHost("One");
  AddHost("Two");
  ASSERT_EQ(Names().size(), 2u);
  ASSERT_TRUE(HOSTINI::RestoreHostList(dir.File("empty.lst")));
  EXPECT_TRUE(Names().empty());
  EXPECT_TRUE(REGISTRY::SubKeyNames("Host").empty());
}

TEST_F(Hosts, ABadFileIsRefusedAtItsLineAndTheListStaysAsItWas) {
  const Lines good = Fixture();
  auto lineOf = [&](const std::string& text, int nth = 1) {
    int seen = 0;
    for (size_t i = 0; i < good.size(); ++i)
      if (good[i] == text && ++seen == nth) return static_cast<int>(i);
    ADD_FAILURE() << text;
    return 0;
  };
  struct Case {
    const char* what;
    std::string file;
    int line;
  };
  std::vector<Case> cases;
  auto replaced = [&](const char* what, int index, const std::string& with) {
    Lines l = good;
    l[static_cast<size_t>(index)] = with;
    cases.push_back({what, Join(l), index + 1});
  };
  replaced("another header", 0, "Quillnet host list backup version 2");
  cases.push_back({"header without CR LF", "Quillnet host list backup version 1", 1});
  cases.push_back({"header with LF only", "Quillnet host list backup version 1\n", 1});
  replaced("a number that is not one", lineOf("Orikaeshi=60"), "Orikaeshi=sixty");
  replaced("another value's name", lineOf("KanjiCode=1", 2), "LocalEcho=0");
  replaced("a duplicate name", lineOf("Host name=Hayes"), "Host name=Direct");
  replaced("an empty name", lineOf("Host name=Direct"), "Host name=");
  replaced("a pseudo-host name", lineOf("Host name=Direct"), "Host name=" + Sjis("(telnet接続)"));
  replaced("a backslash", lineOf("Host name=Direct"), "Host name=a\\b");
  replaced("a name of 80 bytes", lineOf("Host name=Direct"), "Host name=" + std::string(80, 'n'));
  replaced("a control byte in a name", lineOf("Host name=Direct"), "Host name=a\tb");
  replaced("a lone CR", lineOf("LogName=bbs.log", 3), "LogName=a\rb");
  replaced("a value too long", lineOf("DialCommand=ATDT"), "DialCommand=ATDT1234567");
  replaced("a dangling escape", lineOf("MaxRate=28800") + 1, "ModemProp=ab^");
  {
    Lines l(good.begin(), good.begin() + lineOf("ModemType=1") + 1);
    cases.push_back({"cut after a host's type", Join(l), static_cast<int>(l.size()) + 1});
  }
  // Start from a list of two hosts and keep the file's bytes.
  AddHost("Keep1");
  AddHost("Keep2", MODEM_DIRECT);
  const std::string before = ReadWholeFile(RegPath());
  for (const Case& c : cases) {
    boxes.rec.boxes.clear();
    WriteWholeFile(dir.File("bad.lst"), c.file);
    EXPECT_FALSE(HOSTINI::RestoreHostListWithMessage(dir.File("bad.lst"))) << c.what;
    EXPECT_EQ(HOSTINI::nErrorLine, c.line) << c.what;
    ASSERT_EQ(boxes.rec.boxes.size(), 1u) << c.what;
    EXPECT_EQ(boxes.rec.boxes[0].text,
              "ホスト一覧の復元に失敗しました。エラーのあった位置 = " + std::to_string(c.line))
        << c.what;
    EXPECT_TRUE(ReadWholeFile(RegPath()) == before) << c.what;
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"Keep1", "Keep2"}));
  // A file that cannot be read at all.
  EXPECT_FALSE(HOSTINI::RestoreHostList(dir.File("missing.lst")));
  EXPECT_EQ(HOSTINI::nErrorLine, 0);
}

TEST_F(Hosts, DeleteWithCompaction) {
  AddHost("First");
  AddHost("Second");
  AddHost("Third");
  ASSERT_TRUE(HOSTINI::DeleteHost("Second", true));
  EXPECT_EQ(Names(), (std::vector<std::string>{"First", "Third"}));
  EXPECT_EQ(HOSTINI::GetHostOrder("Third"), 1);
  EXPECT_EQ(HOSTINI::GetHostOrder("First"), 0);
  EXPECT_FALSE(REGISTRY::KeyExists("Host\\Second"));
  ASSERT_TRUE(REGISTRY::OpenKey("Config", false));
  char v[80];
  REGISTRY::ReadString("HostIndex0002", v, sizeof v, "(none)");
  REGISTRY::CloseKey();
  EXPECT_STREQ(v, "(none)");
  EXPECT_EQ(HOSTINI::GetHostCount(), 2);
  // Deleting the last and then the first.
  ASSERT_TRUE(HOSTINI::DeleteHost("Third", true));
  ASSERT_TRUE(HOSTINI::DeleteHost("First", true));
  EXPECT_EQ(HOSTINI::GetHostCount(), 0);
  EXPECT_TRUE(REGISTRY::ValueNames("Config").empty());
}

TEST_F(Hosts, NamesFromOutsideAreChecked) {
  AddHost("Taken");
  struct Case {
    std::string name;
    bool mustBeNew;
    const char* message;  // null: accepted
  } cases[] = {
      {"", false, "ホスト名を指定してください。"},
      {"Taken", true, "同じ名前のホスト局が既に登録されています。別の名前を指定してください。"},
      {"Taken", false, nullptr},
      {Sjis("(電話をかける)"), false, "「(電話をかける)」はホスト名に使えません。"},
      {Sjis("(telnet接続)"), false, "「(telnet接続)」はホスト名に使えません。"},
      {Sjis("(シリアルポートに接続)"), false, "「(シリアルポートに接続)」はホスト名に使えません。"},
      {std::string(79, 'x'), true, nullptr},
      {std::string(80, 'x'), true, "ホスト名が長すぎます。半角 79 文字までにしてください。"},
      {"a\\b", true, "ホスト名に使えない文字が含まれています。"},
      {Sjis("ソフト"), true, nullptr},  // 0x5C as a trail byte is not a backslash
      {"line\nbreak", true, "ホスト名に使えない文字が含まれています。"},
      {"\x81", true, "ホスト名に使えない文字が含まれています。"},  // a lead byte alone
  };
  for (const Case& c : cases) {
    std::string m = HOSTINI::CheckHostName(c.name.c_str(), c.mustBeNew);
    EXPECT_EQ(m, c.message ? c.message : "") << c.name;
  }
}

TEST_F(Hosts, ProtocolListsAndTheStoredDefaults) {
  HOSTPROPERTY p;
  p.SetUseUpload("zmodem ymodemgbatch unknown ");
  p.SetUseDownload("");
  EXPECT_EQ(p.GetUseUpload(), "zmodem ymodemgbatch ");
  EXPECT_EQ(p.GetUseDownload(), "");
  EXPECT_EQ(p.abProtocol[0], 1);  // the leading byte is not in the lists
  // A stored serial host without "Baudrate" gets 2400; one never stored, 9600.
  ASSERT_TRUE(REGISTRY::OpenKey("Host\\Old", true));
  REGISTRY::WriteInt("ModemType", MODEM_DIRECT);
  REGISTRY::CloseKey();
  ASSERT_TRUE(p.GetRegistry("Old"));
  EXPECT_EQ(p.Baudrate, 2400);
  EXPECT_EQ(p.GetUseUpload(),  // no list stored: all enabled
            "xmodem xmodemcrc xmodem1k bplus quickvan transit zmodem ymodem ymodemg ymodembatch ymodemgbatch MLink ");
  EXPECT_FALSE(p.GetRegistry("Never stored"));
  EXPECT_EQ(p.Baudrate, 9600);
  EXPECT_STREQ(p.szName, "Never stored");
}

TEST_F(Hosts, TheMirrorFileAndItsNewHostImport) {
  AddHost("Existing");
  config.UseIni = 1;
  // Without the file, the check creates it.
  CheckQuillnetIniUpdate();
  INIFILE ini = INIFILE::Parse(ReadWholeFile(QuillnetIniPath()));
  std::string v;
  EXPECT_TRUE(ini.Get("Quillnet", "HostIndex0000", v));
  EXPECT_EQ(v, "Existing");
  EXPECT_TRUE(ini.Get("Quillnet", "HomeDir", v));
  EXPECT_EQ(v, dir.File("data"));
  EXPECT_TRUE(ini.Get("Quillnet", "ChatMode", v));
  // Another program registers two hosts, changes one, and gives a bad name.
  ini.Set("_NewHost", "新しいBBS", "1");
  ini.Set("_NewHost", "Quiet", "0");
  ini.Set("_NewHost", "Existing", "1");
  ini.Set("_NewHost", "(telnet接続)", "1");
  ini.Set("新しいBBS", "ModemType", "2");
  ini.Set("新しいBBS", "PortName", "new.example.jp");
  ini.Set("新しいBBS", "ModemProp", "^_^^");
  ini.Set("Existing", "ModemType", "1");
  ini.Set("Existing", "PortNo", "3");
  ASSERT_TRUE(WriteWholeFile(QuillnetIniPath(), ini.Format()));
  CheckQuillnetIniUpdate();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Existing", Sjis("新しいBBS"), "Quiet"}));
  HOSTPROPERTY p;
  ASSERT_TRUE(p.GetRegistry(Sjis("新しいBBS").c_str()));
  EXPECT_STREQ(p.PortName, "new.example.jp");
  EXPECT_EQ(HOSTINI::IsHostInMenu(Sjis("新しいBBS").c_str()), 1);
  EXPECT_EQ(HOSTINI::IsHostInMenu("Quiet"), 0);
  ASSERT_TRUE(p.GetRegistry("Existing"));
  EXPECT_EQ(p.ModemType, MODEM_DIRECT);
  EXPECT_EQ(p.PortNo, 3);
  std::vector<std::string> texts;
  for (auto& b : boxes.rec.boxes) texts.push_back(b.text);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "新しいホストとして「新しいBBS」が登録されました。"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Existing のホストプロパティが変更されました。"), texts.end());
  EXPECT_EQ(HOSTINI::aHostMenu.size(), 1u);
  // The imported names and their sections are gone; the refused name stays.
  ini = INIFILE::Parse(ReadWholeFile(QuillnetIniPath()));
  EXPECT_EQ(ini.Keys("_NewHost"), (std::vector<std::string>{"(telnet接続)"}));
  EXPECT_FALSE(ini.HasSection("新しいBBS"));
  EXPECT_TRUE(ini.HasSection("Quillnet"));
  // Without UseIni nothing happens.
  config.UseIni = 0;
  std::filesystem::remove(QuillnetIniPath());
  CheckQuillnetIniUpdate();
  EXPECT_FALSE(std::filesystem::exists(QuillnetIniPath()));
  // CreateQuillnetIni replaces the file whole.
  ASSERT_TRUE(CreateQuillnetIni());
  ini = INIFILE::Parse(ReadWholeFile(QuillnetIniPath()));
  EXPECT_TRUE(ini.Get("Quillnet", "HostIndex0002", v));
  EXPECT_EQ(v, "Quiet");
}

}  // namespace
