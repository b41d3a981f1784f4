// CONFIG over the settings file: defaults, corrections, bad files and values,
// saving only what changed; the byte escaping and the backup-file backend.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/settingsfile.h"
#include "settings_fixture.h"

namespace {

const std::string kConfig = "[Software\\Tallowood\\Quillnet95\\Config]\n";

using SettingsConfig = SettingsTest;

TEST_F(SettingsConfig, CorrectionsAfterReading) {
  struct Case {
    const char* stored;  // value lines under Config
    int lineBuffer, fontPoint;
    const char* quoteTable;  // UTF-8; null: the built-in table
    int screenWidth;
  } cases[] = {
      {"\"LineBuffer\"=dword:000003e7\n", 10000, 11, nullptr, 1024},  // 999
      {"\"LineBuffer\"=dword:000003e8\n", 1000, 11, nullptr, 1024},    // 1000 stays
      {"\"LineBuffer\"=dword:00000000\n", 10000, 11, nullptr, 1024},
      {"\"LineBuffer\"=dword:ffffffff\n", 10000, 11, nullptr, 1024},   // -1
      {"\"FontPoint\"=dword:00000000\n", 10000, 9, nullptr, 640},
      {"\"FontPoint\"=dword:00000000\n", 10000, 10, nullptr, 641},
      {"\"FontPoint\"=dword:00000000\n", 10000, 10, nullptr, 800},
      {"\"FontPoint\"=dword:00000000\n", 10000, 11, nullptr, 801},
      {"\"FontPoint\"=dword:0000000c\n", 10000, 12, nullptr, 640},
      {"\"QuoteTable\"=\"\"\n", 10000, 11, nullptr, 1024},
      {"\"QuoteTable\"=\">>\t＃\"\n", 10000, 11, ">>\t＃", 1024},
  };
  static int width;
  CONFIG::pfnScreenWidth = [] { return width; };
  for (const Case& c : cases) {
    width = c.screenWidth;
    WriteReg(kConfig + c.stored + "\"TopKinsoku\"=\"\"\n\"BottomKinsoku\"=\"\"\n");
    REGISTRY::ResetForTest();
    config.LoadRegistry();
    EXPECT_EQ(config.LineBuffer, c.lineBuffer) << c.stored;
    EXPECT_EQ(config.FontPoint, c.fontPoint) << c.stored << " width " << c.screenWidth;
    CONFIG builtIn;
    builtIn.ResetQuoteTable();
    EXPECT_STREQ(config.QuoteTable, c.quoteTable ? Sjis(c.quoteTable).c_str() : builtIn.QuoteTable) << c.stored;
    EXPECT_STREQ(config.TopKinsoku, Sjis("、。，．・？！゛゜ヽヾゝゞ々ー）］｝」』!),.:;?]}｡｣､･ｰﾞﾟ").c_str());
    EXPECT_STREQ(config.BottomKinsoku, Sjis("（［｛「『([{｢").c_str());
  }
  EXPECT_TRUE(boxes.rec.boxes.empty());
}

TEST_F(SettingsConfig, DefaultsFromAnEmptyStore) {
  config.LoadRegistry();
  const std::string data = dir.File("data");
  // The "program directory" values follow HomeDir, the others follow theirs.
  for (const char* p : {config.HomeDir, config.ScriptPath, config.DownloadPath, config.UploadPath,
                        config.CopyToFilePath, config.LogPath, config.BackupPath})
    EXPECT_EQ(p, data);
  EXPECT_EQ(config.LineBuffer, 10000);
  EXPECT_STREQ(config.Quote, "> ");
  EXPECT_STREQ(config.DialPrefix, "0,");
  EXPECT_EQ(config.Baudrate, 2400);
  EXPECT_EQ(config.MaxRedial, 999);
  EXPECT_EQ(config.DialTimeout, 90);
  EXPECT_EQ(config.HangupTimeout, 10);
  EXPECT_EQ(config.CheckCommError, 1);
  EXPECT_EQ(config.GoFileEndKey, 0xA23);
  EXPECT_EQ(config.PasteKey, 0x92D);
  EXPECT_EQ(config.ComDevice[0], "");
  EXPECT_TRUE(boxes.rec.boxes.empty());
  // Nothing was changed, so nothing was written.
  EXPECT_TRUE(config.SaveRegistry());
  EXPECT_FALSE(std::filesystem::exists(RegPath()));
}

TEST_F(SettingsConfig, PathDefaultsFollowTheValuesTheyDependOn) {
  WriteReg(kConfig + "\"HomeDir\"=\"/srv/q\"\n\"UploadPath\"=\"/up\"\n\"LogPath\"=\"/logs\"\n");
  config.LoadRegistry();
  EXPECT_STREQ(config.ScriptPath, "/srv/q");
  EXPECT_STREQ(config.DownloadPath, "/srv/q");
  EXPECT_STREQ(config.CopyToFilePath, "/up");
  EXPECT_STREQ(config.BackupPath, "/logs");
  WriteReg(kConfig + "\"HomeDir\"=\"\"\n");
  config.LoadRegistry();
  EXPECT_EQ(std::string(config.HomeDir), dir.File("data"));
  EXPECT_EQ(std::string(config.ScriptPath), dir.File("data"));
  SetDataDir("/");  // a root directory keeps its slash
  config.LoadRegistry();
  EXPECT_STREQ(config.HomeDir, "/");
}

TEST_F(SettingsConfig, TextIsShiftJisInMemoryAndUtf8OnDisk) {
  WriteReg(kConfig + "\"Quote\"=\"＞ \"\n\"ComDevice3\"=\"/dev/pts/5\"\n\"HomeDir\"=\"/home/ユーザー\"\n");
  config.LoadRegistry();
  EXPECT_EQ(std::string(config.Quote), Sjis("＞ "));
  EXPECT_EQ(config.ComDevice[2], "/dev/pts/5");
  EXPECT_STREQ(config.HomeDir, "/home/ユーザー");  // paths stay UTF-8
  std::strcpy(config.Quote, Sjis("》").c_str());
  ASSERT_TRUE(config.SaveRegistry());
  EXPECT_NE(ReadWholeFile(RegPath()).find("\"Quote\"=\"》\""), std::string::npos);
}

TEST_F(SettingsConfig, UnusableFilesAndValuesGiveDefaultsAndNameTheFile) {
  struct Case {
    const char* what;
    std::string text;
    int lineBuffer;  // what survives
    const char* quote;
  } cases[] = {
      {"garbage lines", kConfig + "\"LineBuffer\"=dword:000007d0\nthis is not a value\n\x01\x02\n\"Quote\"=\"# \"\n", 2000,
       "# "},
      {"wrong types", kConfig + "\"LineBuffer\"=\"2000\"\n\"Quote\"=dword:00000001\n", 10000, "> "},
      {"a value too long", kConfig + "\"LineBuffer\"=dword:000007d0\n\"Quote\"=\"0123456789ab\"\n", 2000, "> "},
      {"no Config section", "[Software\\Tallowood\\Quillnet95\\Host\\x]\n\"Order\"=dword:0\n", 10000, "> "},
      {"only garbage", "\xFF\xFE garbage\n[unclosed\n", 10000, "> "},
  };
  for (const Case& c : cases) {
    REGISTRY::ResetForTest();
    boxes.rec.boxes.clear();
    WriteReg(c.text);
    config.LoadRegistry();
    EXPECT_EQ(config.LineBuffer, c.lineBuffer) << c.what;
    EXPECT_STREQ(config.Quote, c.quote) << c.what;
    ASSERT_FALSE(boxes.rec.boxes.empty()) << c.what;
    for (auto& b : boxes.rec.boxes) EXPECT_EQ(b.text.rfind(RegPath(), 0), 0u) << c.what << ": " << b.text;
  }
}

TEST_F(SettingsConfig, OnlyChangedValuesAreWrittenAndOthersChangesSurvive) {
  WriteReg(kConfig + "\"TreeDay\"=dword:00000003\n");
  config.LoadRegistry();
  // Another instance changes two values after this one loaded.
  {
    SETTINGSFILE other(RegPath());
    other.Refresh();
    other.Set("Software\\Tallowood\\Quillnet95\\Config", "TreeDay", {SETTINGSFILE::T_DWORD, 9, ""});
    other.Set("Software\\Tallowood\\Quillnet95\\Config", "BoardDay", {SETTINGSFILE::T_DWORD, 30, ""});
    ASSERT_TRUE(other.Flush());
  }
  config.LineBuffer = 5000;
  ASSERT_TRUE(config.SaveRegistry());
  SETTINGSFILE::Tree tree = SETTINGSFILE::Parse(ReadWholeFile(RegPath()));
  auto& values = tree["Software\\Tallowood\\Quillnet95\\Config"];
  EXPECT_EQ(values.size(), 3u);
  EXPECT_EQ(values["LineBuffer"].dword, 5000u);
  EXPECT_EQ(values["TreeDay"].dword, 9u);  // this instance's stale 3 was not written back
  EXPECT_EQ(values["BoardDay"].dword, 30u);
  // A second save with nothing changed leaves the file alone.
  struct stat before, after;
  stat(RegPath().c_str(), &before);
  ASSERT_TRUE(config.SaveRegistry());
  stat(RegPath().c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  // SaveStockFileName writes those two values and nothing else.
  std::strcpy(config.StockFile, "/a.stk");
  config.TreeStyle = 0;
  ASSERT_TRUE(config.SaveStockFileName());
  tree = SETTINGSFILE::Parse(ReadWholeFile(RegPath()));
  EXPECT_EQ(tree["Software\\Tallowood\\Quillnet95\\Config"]["StockFile"].data, "/a.stk");
  EXPECT_EQ(tree["Software\\Tallowood\\Quillnet95\\Config"].count("TreeStyle"), 0u);
}

TEST_F(SettingsConfig, AFailedSaveIsReportedAndForgotten) {
  // The configuration directory's place is taken by a file.
  ASSERT_TRUE(WriteWholeFile(dir.File("config"), "x"));
  config.LineBuffer = 2000;
  EXPECT_FALSE(config.SaveRegistry());
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text.rfind(RegPath(), 0), 0u);
  EXPECT_FALSE(REGISTRY::File().HasPending());
  // The change is still to be saved once the directory can be made.
  std::filesystem::remove(dir.File("config"));
  EXPECT_TRUE(config.SaveRegistry());
  EXPECT_NE(ReadWholeFile(RegPath()).find("\"LineBuffer\"=dword:000007d0"), std::string::npos);
}

// The colour syntax's colours (quotation 16, levels 1-7 as 17-23): defaults
// apart from one another and from the text and background, saved only when
// changed, read back, and reached by name like every other value.
TEST_F(SettingsConfig, TheColourSyntaxColoursGoAndComeBack) {
  config.LoadRegistry();
  std::vector<int> seen = {config.aColor[0], config.aColor[7]};
  for (int n = CONFIG::COLOR_QUOTE; n < CONFIG::COLOR_LEVEL1 + 7; ++n) {
    SCOPED_TRACE("Color" + std::to_string(n));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), config.aColor[n]), 0);
    seen.push_back(config.aColor[n]);
  }
  ASSERT_EQ(CONFIG::COLOR_LEVEL1 + 7, CONFIG::COLOR_COUNT);
  struct Case {
    const char* name;
    int index, value;
    const char* line;
  } cases[] = {
      {"Color16", 16, 0x123456, "\"Color16\"=dword:00123456"},
      {"Color17", 17, 0x0000FF, "\"Color17\"=dword:000000ff"},
      {"Color23", 23, 0xFFFFFF, "\"Color23\"=dword:00ffffff"},
  };
  for (const Case& c : cases) config.aColor[c.index] = c.value;
  ASSERT_TRUE(config.SaveRegistry());
  const std::string file = ReadWholeFile(RegPath());
  for (const Case& c : cases) EXPECT_NE(file.find(c.line), std::string::npos) << c.line << "\n" << file;
  // Nothing else of the colours was written.
  EXPECT_EQ(file.find("\"Color18\""), std::string::npos);
  EXPECT_EQ(file.find("\"Style16\""), std::string::npos);
  const CONFIG defaults;
  REGISTRY::ResetForTest();
  config.SetDefault();
  config.LoadRegistry();
  for (const Case& c : cases) {
    EXPECT_EQ(config.aColor[c.index], c.value) << c.name;
    std::string v;
    EXPECT_TRUE(config.GetValue(c.name, v));
    EXPECT_EQ(v, std::to_string(c.value));
  }
  EXPECT_EQ(config.aColor[18], defaults.aColor[18]);
  // The palette's styles stop at 15; there are no styles for these colours.
  std::string v;
  EXPECT_TRUE(config.GetValue("Style15", v));
  EXPECT_FALSE(config.GetValue("Style16", v));
}

TEST_F(SettingsConfig, NamedAccessForTheCommandLine) {
  std::string v, error;
  EXPECT_TRUE(config.SetValue("LineBuffer", "0x7d0", &error));
  EXPECT_TRUE(config.GetValue("LineBuffer", v));
  EXPECT_EQ(v, "2000");
  EXPECT_TRUE(config.SetValue("Search1 ", "検索", &error));
  EXPECT_EQ(std::string(config.aszSearch[0]), Sjis("検索"));
  EXPECT_TRUE(config.SetValue("ComDevice9", "/dev/ttyUSB0", &error));
  EXPECT_EQ(config.ComDevice[8], "/dev/ttyUSB0");
  EXPECT_TRUE(config.GetValue("F12Script", v));
  EXPECT_TRUE(config.GetValue("Hilight15", v));
  EXPECT_TRUE(config.GetValue("Style15", v));
  struct Bad {
    const char *name, *value;
  } bad[] = {{"LineBuffer", "many"}, {"LineBuffer", ""}, {"LineBuffer", "99999999999"},
             {"Quote", "0123456789a"}, {"Quote", "\xF0\x9F\x98\x80"}, {"NoSuchValue", "1"}};
  for (const Bad& b : bad) {
    error.clear();
    EXPECT_FALSE(config.SetValue(b.name, b.value, &error)) << b.name << "=" << b.value;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_STREQ(config.Quote, "> ");
}

TEST(ByteEscaping, TheTableAndEveryByteBack) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string text;
  } cases[] = {
      {{0x1E}, "^_"}, {{0x5D}, "^^"}, {{0x41}, "B"}, {{0xFF}, std::string("^\x40")},
      {{0x00}, "^A"}, {{0x1F}, " "},  {{0x7F}, "\x80"}, {{}, ""},
      // "^^" is taken by 0x5D, so 0x1D goes out as the bare byte 0x1E.
      {{0x1D}, "\x1E"}, {{0x1D, 0x5D}, "\x1E^^"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeBytes(c.bytes), c.text);
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(UnescapeBytes(c.text, back));
    EXPECT_EQ(back, c.bytes);
  }
  std::vector<std::uint8_t> all, back;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  const std::string text = EscapeBytes(all);
  for (unsigned char c : text) EXPECT_TRUE(c >= 0x20 || c == 0x1E) << int(c);
  ASSERT_TRUE(UnescapeBytes(text, back));
  EXPECT_EQ(back, all);
  EXPECT_FALSE(UnescapeBytes("ab^", back));
}

// The backup-file backend, line by line.
class BackupBackend : public SettingsTest {
 protected:
  void Open(const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(dir.File("b.lst"), bytes));
    ASSERT_TRUE(REGISTRY::OpenBackupFile(dir.File("b.lst"), false));
  }
};

TEST_F(BackupBackend, ReservedMismatchAndTheErrorFlag) {
  Open("Reserved\r\nSpeed=9600\r\nOther=5\r\nName=abc\r\n");
  EXPECT_EQ(REGISTRY::ReadInt("Speed", 7), 7);  // "Reserved": the default, consumed
  EXPECT_FALSE(REGISTRY::fError);
  EXPECT_EQ(REGISTRY::ReadInt("Speed", 7), 9600);
  EXPECT_EQ(REGISTRY::nLineError, 2);
  // Another value's name: the flag is set and the line stays.
  EXPECT_EQ(REGISTRY::ReadInt("Speed", 7), 7);
  EXPECT_TRUE(REGISTRY::fError);
  EXPECT_EQ(REGISTRY::nLineError, 3);
  EXPECT_EQ(REGISTRY::ReadInt("Other", 1), 1);  // every read gives its default while the flag is set
  REGISTRY::fError = false;
  EXPECT_EQ(REGISTRY::ReadInt("Other", 1), 5);
  char buf[8] = "x";
  REGISTRY::ReadString("Name", buf, sizeof buf, "def");
  EXPECT_STREQ(buf, "abc");
  EXPECT_TRUE(REGISTRY::AtBackupEnd());
  EXPECT_FALSE(REGISTRY::fError);
  REGISTRY::CloseBackupFile();
}

TEST_F(BackupBackend, NumbersAndLines) {
  struct Case {
    std::string file;
    bool error;
    int value;
  } cases[] = {
      {"N=12\r\n", false, 12},
      {"N=12abc\r\n", false, 12},  // digits up to the first non-digit
      {"N=4294967295\r\n", false, -1},
      {"N=4294967296\r\n", true, 7},
      {"N=\r\n", true, 7},
      {"N=-1\r\n", true, 7},
      {"N=1\r", true, 7},                // CR without LF
      {"N=1\n", true, 7},                // LF alone
      {"N=1", true, 7},                  // no line end at all
      {"N=1\rx\r\n", true, 7},
      {std::string("N=1\0\r\n", 6), true, 7},
      {"N=" + std::string(8186, '1') + "\r\n", true, 7},  // 8191 bytes
      {"NN=1\r\n", true, 7},
      {"N 1\r\n", true, 7},
      {"", true, 7},  // end of file reads as 0x1A
  };
  for (const Case& c : cases) {
    Open(c.file);
    EXPECT_EQ(REGISTRY::ReadInt("N", 7), c.value) << c.file.substr(0, 20);
    EXPECT_EQ(REGISTRY::fError, c.error) << c.file.substr(0, 20);
    REGISTRY::CloseBackupFile();
  }
  // A line of 8190 bytes is still a line.
  Open("S=" + std::string(8188, 'a') + "\r\n");
  std::vector<char> buf(9000);
  REGISTRY::ReadString("S", buf.data(), buf.size(), "");
  EXPECT_FALSE(REGISTRY::fError);
  EXPECT_EQ(std::strlen(buf.data()), 8188u);
  REGISTRY::CloseBackupFile();
  std::string line;
  Open("");
  ASSERT_TRUE(REGISTRY::ReadBackupLine(line));
  EXPECT_EQ(line, "\x1A");
  REGISTRY::CloseBackupFile();
}

TEST_F(BackupBackend, WritingMakesTheLinesAndRefusesLineBreaksInValues) {
  ASSERT_TRUE(REGISTRY::OpenBackupFile(dir.File("w.lst"), true));
  REGISTRY::WriteInt("A", -1);
  REGISTRY::WriteString("B", "x y");
  REGISTRY::WriteBinary("C", {0x1E, 0x5D, 0x41, 0xFF});
  ASSERT_TRUE(REGISTRY::CloseBackupFile());
  EXPECT_EQ(ReadWholeFile(dir.File("w.lst")), "A=4294967295\r\nB=x y\r\nC=^_^^B^@\r\n");
  ASSERT_TRUE(REGISTRY::OpenBackupFile(dir.File("w.lst"), true));
  REGISTRY::WriteString("B", "two\r\nlines");
  EXPECT_FALSE(REGISTRY::CloseBackupFile());
  EXPECT_EQ(ReadWholeFile(dir.File("w.lst")), "A=4294967295\r\nB=x y\r\nC=^_^^B^@\r\n");
}

}  // namespace
