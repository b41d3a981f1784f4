// The variable file: both value encodings, the reader's handling of damaged
// lines, and saves that merge with what another instance wrote.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "script/var.h"
#include "script/varfile.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

std::string AllBytes() {
  std::string s;
  for (int b = 1; b <= 255; ++b) s += static_cast<char>(b);
  return s;
}

// Each line of a file ends in CR LF, and no line holds a control byte.
void ExpectCleanLines(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF at " << at;
    for (size_t i = at; i < end; ++i)
      ASSERT_GE(static_cast<unsigned char>(text[i]), 0x20) << "control byte in: " << text.substr(at, end - at);
    at = end + 2;
  }
}

class VarFile : public ::testing::Test {
 protected:
  void SetUp() override { VAR::Reset(); }
  void TearDown() override { VAR::Reset(); }
  // Saves, forgets every variable and loads the file again.
  void SaveAndReload() {
    std::string error;
    ASSERT_TRUE(VAR::SavePermanentVar(&error)) << error;
    VAR::Reset();
    ASSERT_TRUE(VAR::LoadPermanentVar(path));
  }
  TempDir dir;
  std::string path = dir.File("Variable.txt");
};

TEST(VarFileText, EscapesAsTheFileWritesThem) {
  struct {
    std::string value, file;
  } cases[] = {
      {"plain", "plain"},
      {"a^b", "a^^b"},
      {"\x01\x1a", "^A^Z"},
      {"\x1b\x1f\x7f", "^01B^01F\x7f"},
      {"\r\n", "^M^J"},
      {"\x83\x5e", "\x83\x5e"},        // a double-byte character whose trail byte is "^" stays whole
      {"\x83\x0d", "^083^M"},          // a lead byte without its trail byte
      {std::string("x\x81"), "x^081"},  // a lead byte at the end
      {std::string("\0", 1), "^000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(varfile::EscapeText(c.value), c.file) << c.file;
    EXPECT_EQ(varfile::UnescapeText(c.file), c.value) << c.file;
  }
  // What a hand-edited file may hold: lower-case letters and a caret before
  // anything else.
  EXPECT_EQ(varfile::UnescapeText("^m^j^x^"), "\r\n\x18^");
  EXPECT_EQ(varfile::UnescapeText(std::string(2000, 'a')).size(), 1024u);
}

TEST(VarFileText, SecretsDecodeTheDocumentedWay) {
  // "A" (0x41) is ((0x41>>5)&3)=2 with 32 added, and (1*2) with 64 added.
  EXPECT_EQ(varfile::DecodeSecret("\x22\x42"), "A");
  // The random bits change nothing: 0x26 has 4 added, 0x43 the 0x01 bit.
  EXPECT_EQ(varfile::DecodeSecret("\x26\x43"), "A");
  // A control byte: bits 0x60 in the first character, the byte + 0x40.
  EXPECT_EQ(varfile::DecodeSecret("\x6f\x4d"), "\r");
  // A top-bit byte: 0x40 in the first character.
  EXPECT_EQ(varfile::DecodeSecret("\x44\x40"), "\x80");
  // An odd last character is ignored.
  EXPECT_EQ(varfile::DecodeSecret("\x22\x42\x22"), "A");

  std::mt19937 random(7);
  const std::string all = AllBytes();
  const std::string a = varfile::EncodeSecret(all, random);
  const std::string b = varfile::EncodeSecret(all, random);
  EXPECT_NE(a, b);  // the same value is stored differently each time
  for (const std::string& s : {a, b}) {
    ASSERT_EQ(s.size(), 2 * all.size());
    EXPECT_EQ(varfile::DecodeSecret(s), all);
    for (const char c : s) {
      EXPECT_GE(static_cast<unsigned char>(c), 0x20);
      EXPECT_NE(static_cast<unsigned char>(c), 0x7F);
    }
  }
}

TEST_F(VarFile, EveryByteRoundTripsPlainAndSecret) {
  ASSERT_TRUE(VAR::LoadPermanentVar(path));  // no file yet: nothing, and no error
  const std::string all = AllBytes();
  ASSERT_TRUE(VAR::SetVar("%ALL", all));
  ASSERT_TRUE(VAR::SetVar("%%ALL", all));
  // Each byte alone too: a lone lead byte, a lone "^", a lone control byte.
  for (int b = 1; b <= 255; ++b) {
    ASSERT_TRUE(VAR::SetVar("%B" + std::to_string(b), std::string(1, static_cast<char>(b))));
    ASSERT_TRUE(VAR::SetVar("%%B" + std::to_string(b), std::string(1, static_cast<char>(b))));
  }
  ASSERT_TRUE(VAR::SetVar("@NOT", "a global"));
  ASSERT_TRUE(VAR::SetNumVar("%#N", 5));
  SaveAndReload();
  EXPECT_EQ(VAR::GetVar("%ALL"), all);
  EXPECT_EQ(VAR::GetVar("%%ALL"), all);
  for (int b = 1; b <= 255; ++b) {
    EXPECT_EQ(VAR::GetVar("%B" + std::to_string(b)), std::string(1, static_cast<char>(b))) << b;
    EXPECT_EQ(VAR::GetVar("%%B" + std::to_string(b)), std::string(1, static_cast<char>(b))) << b;
  }
  EXPECT_EQ(VAR::GetVar("@NOT"), "");   // only "%" variables are kept
  EXPECT_EQ(VAR::GetNumVar("%#N"), 0);  // numbers never
  EXPECT_EQ(VAR::Count(), 2u + 2 * 255);
  const std::string text = ReadWholeFile(path);
  ExpectCleanLines(text);
  EXPECT_EQ(text.find("ALL=\x01"), std::string::npos);  // the plain form escapes
  EXPECT_NE(text.find("B94=^^\r\n"), std::string::npos);
}

TEST_F(VarFile, ASecretIsStoredDifferentlyEachSaveAndNeverInTheClear) {
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  ASSERT_TRUE(VAR::SetVar("%%PASSWORD", "hunter2hunter2"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  const std::string first = ReadWholeFile(path);
  ASSERT_TRUE(VAR::SetVar("%%PASSWORD", "other"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  ASSERT_TRUE(VAR::SetVar("%%PASSWORD", "hunter2hunter2"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  const std::string second = ReadWholeFile(path);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.find("hunter2"), std::string::npos);
  EXPECT_EQ(first.rfind("%PASSWORD=", 0), 0u);
  VAR::Reset();
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  EXPECT_EQ(VAR::GetVar("%%PASSWORD"), "hunter2hunter2");
}

TEST_F(VarFile, AnEmptiedVariableLeavesTheFileAndNothingIsWrittenWithoutAChange) {
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  ASSERT_TRUE(VAR::SetVar("%A", "1"));
  ASSERT_TRUE(VAR::SetVar("%B", "2"));
  SaveAndReload();
  EXPECT_EQ(ReadWholeFile(path), "A=1\r\nB=2\r\n");
  ASSERT_TRUE(VAR::SetVar("%A", ""));
  SaveAndReload();
  EXPECT_EQ(ReadWholeFile(path), "B=2\r\n");
  // A save without a change leaves the file alone, even one changed meanwhile.
  ASSERT_TRUE(WriteWholeFile(path, "B=3\r\n"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  EXPECT_EQ(ReadWholeFile(path), "B=3\r\n");
}

TEST_F(VarFile, DamagedLinesAreSkippedAndKept) {
  ASSERT_TRUE(WriteWholeFile(path,
                             "GOOD=yes\r\n"
                             "no equals sign\r\n"
                             "=no name\r\n"
                             "#N=5\r\n"     // a numeric name
                             "@N=5\r\n"
                             "\r\n"          // blank
                             "EMPTY=\r\n"    // nothing to make
                             "GOOD=second\r\n"  // the first of a name wins
                             "LF=only\n"
                             "LAST=no end"));
  varfile::REPORT report;
  std::vector<std::pair<std::string, std::string>> read;
  ASSERT_TRUE(varfile::Load(path, read, &report));
  EXPECT_EQ(report.badLines, 4);
  EXPECT_EQ(report.firstBadLine, 2);
  const std::vector<std::pair<std::string, std::string>> want = {{"GOOD", "yes"}, {"LF", "only"}, {"LAST", "no end"}};
  EXPECT_EQ(read, want);

  // A save changes only its own lines; the damaged ones stay for the user.
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  ASSERT_TRUE(VAR::SetVar("%LF", "changed"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  EXPECT_EQ(ReadWholeFile(path),
            "GOOD=yes\r\nno equals sign\r\n=no name\r\n#N=5\r\n@N=5\r\nEMPTY=\r\nGOOD=second\r\n"
            "LF=changed\r\nLAST=no end\r\n");
}

TEST_F(VarFile, ASaveKeepsWhatAnotherInstanceWrote) {
  ASSERT_TRUE(WriteWholeFile(path, "MINE=old\r\nTHEIRS=old\r\nGONE=x\r\n"));
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  // Another instance changes THEIRS and adds NEW after this one loaded.
  ASSERT_TRUE(varfile::Apply(path, {{"THEIRS", "new"}, {"NEW", "theirs"}}));
  ASSERT_TRUE(VAR::SetVar("%MINE", "new"));
  ASSERT_TRUE(VAR::SetVar("%GONE", ""));
  ASSERT_TRUE(VAR::SetVar("%ADDED", "mine"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  EXPECT_EQ(ReadWholeFile(path), "MINE=new\r\nTHEIRS=new\r\nNEW=theirs\r\nADDED=mine\r\n");
  // This instance's THEIRS is still "old", but it did not change it: the
  // other instance's value stands.
  EXPECT_EQ(VAR::GetVar("%THEIRS"), "old");
}

TEST_F(VarFile, NamesWithEqualsSignsAndCaretsSurvive) {
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  ASSERT_TRUE(VAR::SetVar("%T[a=b]", "v=w"));
  ASSERT_TRUE(VAR::SetVar("%C^[x]", "^"));
  SaveAndReload();
  EXPECT_EQ(VAR::GetVar("%T[a=b]"), "v=w");
  EXPECT_EQ(VAR::GetVar("%C^[x]"), "^");
}

TEST_F(VarFile, TheFileIsPrivate) {
  ASSERT_TRUE(VAR::LoadPermanentVar(path));
  ASSERT_TRUE(VAR::SetVar("%%P", "x"));
  ASSERT_TRUE(VAR::SavePermanentVar());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
