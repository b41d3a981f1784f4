// The file and directory statements on real files in temporary directories:
// reading lines (CR, Ctrl-Z, the 1024-byte cut on a whole character),
// writing and appending, the open-file table, copy and rename that never
// leave half a file or replace a target, the run's own directory, and the
// RESULT a failure leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "platform/paths.h"
#include "script/filecmds.h"
#include "script/var.h"
#include "support/process.h"
#include "support/script_peer.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

class FileCommands : public ::testing::Test {
 protected:
  SCRIPTPEER peer;
  TempDir dir;
  // Runs a script to its end; false when it did not end in time.
  bool RunScript(const std::string& text) {
    if (!SCRIPT::ExecuteFromMemory(text)) return false;
    return peer.Run(60000);
  }
  std::string F(const std::string& name) const { return dir.File(name); }
  std::string Q(const std::string& name) const { return "\"" + F(name) + "\""; }
};

// A script that copies every line READFILE gives into another file with
// WRITEFILE (each with CR LF) and sends the line count and the last RESULT.
std::string CopyLoop(const std::string& in, const std::string& out) {
  return "openfile \"" + in + "\"\ncreatefile \"" + out + "\"\n##n = 0\nreadfile \"" + in +
         "\", @l\nwhile (result = 1)\n##n = ##n + 1\nwritefile \"" + out + "\", @l\nreadfile \"" + in +
         "\", @l\nendwhile\nsend \"n\" + ##n + \" r\" + result + \" \" + @l\nclosefile \"" + in + "\"\nclosefile \"" + out +
         "\"\n";
}

TEST_F(FileCommands, ReadFileLines) {
  struct CASE {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::string x1024(1024, 'x');
  const std::string k = "\x82\xa0";  // a double-byte character
  const std::vector<CASE> cases = {
      {"CR LF lines", "a\r\nb\r\n", {"a", "b"}},
      {"LF alone and no final line end", "a\nb", {"a", "b"}},
      {"every CR is dropped", "a\r\r\nb\rc\n", {"a", "bc"}},
      {"empty lines", "\n\r\n\n", {"", "", ""}},
      {"an empty file", "", {}},
      {"Ctrl-Z ends the file", "a\n\x1a" "b\n", {"a"}},
      {"Ctrl-Z inside a line", "ab\x1a" "cd\n", {"ab"}},
      {"exactly 1024 bytes keep their line end", x1024 + "\r\ny\n", {x1024, "y"}},
      {"the rest of a longer line is the next line", std::string(1030, 'x') + "\nz", {x1024, "xxxxxx", "z"}},
      {"the cut never splits a character", std::string(1023, 'x') + k + "z\n", {std::string(1023, 'x'), k + "z"}},
      {"a character ending on the limit stays",
       std::string(1022, 'x') + k + "z\n", {std::string(1022, 'x') + k, "z"}},
      {"CRs do not count toward the limit", std::string(600, 'x') + "\r\r\r" + std::string(424, 'y') + "\n",
       {std::string(600, 'x') + std::string(424, 'y')}},
      {"double-byte text", "\x93\xfa\x96\x7b\r\n\x83\x5c\x83\x74\x83\x67\r\n", {"\x93\xfa\x96\x7b", "\x83\x5c\x83\x74\x83\x67"}},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteWholeFile(F("in.txt"), c.bytes));
    peer.sends.clear();
    ASSERT_TRUE(RunScript(CopyLoop(F("in.txt"), F("out.txt"))));
    ASSERT_TRUE(peer.errors.empty()) << peer.errors[0].message;
    std::string want;
    for (const std::string& l : c.lines) want += l + "\r\n";
    EXPECT_EQ(ReadWholeFile(F("out.txt")), want);
    // At the end RESULT is 0 and the variable keeps the last line.
    const std::string last = c.lines.empty() ? std::string() : c.lines.back().substr(0, 1000);
    ASSERT_EQ(peer.sends.size(), 1u);
    const std::string prefix = "n" + std::to_string(c.lines.size()) + " r0 " + last.substr(0, 2);
    EXPECT_EQ(peer.sends[0].substr(0, prefix.size()), prefix);
  }
}

TEST_F(FileCommands, ALargeShiftJisFileCopiesByteForByte) {
  // Lines of every length to 300 over many read-ahead buffers, double-byte
  // characters in them.
  std::string text;
  for (int i = 0; text.size() < 600000; ++i) {
    const int len = (i * 37) % 300;
    for (int j = 0; j < len; ++j) text += (j % 3 == 0) ? std::string("\x8a\xbf") : std::string(1, char('a' + j % 26));
    text += "\r\n";
  }
  ASSERT_TRUE(WriteWholeFile(F("big.txt"), text));
  ASSERT_TRUE(RunScript(CopyLoop(F("big.txt"), F("copy.txt"))));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(ReadWholeFile(F("copy.txt")), text);
}

TEST_F(FileCommands, AppendCreateAndReopen) {
  struct CASE {
    const char* what;
    bool exists;
    std::string before, after;
    int result;
  };
  const std::vector<CASE> cases = {
      {"after the last line", true, "a\r\n", "a\r\nb\r\n", 1},
      {"over a final Ctrl-Z", true, "a\r\n\x1a", "a\r\nb\r\n", 1},
      {"a Ctrl-Z alone", true, "\x1a", "b\r\n", 1},
      {"an empty file", true, "", "b\r\n", 1},
      {"a Ctrl-Z that is not last stays", true, "a\x1a" "c", "a\x1a" "cb\r\n", 1},
      {"a missing file is not made", false, "", "", 0},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(F("log.txt"));
    if (c.exists) {
      ASSERT_TRUE(WriteWholeFile(F("log.txt"), c.before));
    }
    peer.sends.clear();
    ASSERT_TRUE(RunScript("checklabel here\nhere:\nappendfile " + Q("log.txt") + "\nwritefile " + Q("log.txt") +
                          ", \"b\"\nsend \"r\" + result\n"));
    EXPECT_EQ(peer.sends, std::vector<std::string>{"r" + std::to_string(c.result)});
    EXPECT_EQ(fs::exists(F("log.txt")), c.exists);
    if (c.exists) {
      EXPECT_EQ(ReadWholeFile(F("log.txt")), c.after);
    }
  }
  // CREATEFILE empties a file; the same name (in any case) opened again is
  // closed first, so both texts reach their files whole.
  ASSERT_TRUE(WriteWholeFile(F("new.txt"), "old contents\r\n"));
  const std::string upper = "\"" + [&] {
    std::string u = F("new.txt");
    for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return u;
  }() + "\"";
  ASSERT_TRUE(RunScript("createfile " + Q("new.txt") + "\nwritefile " + upper + ", \"one\"\ncreatefile " +
                        Q("new.txt") + "\nwritefile " + Q("new.txt") + ", \"two\"\nwritefile " + Q("new.txt") +
                        ", \"\\x\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(ReadWholeFile(F("new.txt")), "two\r\n\\x\r\n");
}

TEST_F(FileCommands, NamesDifferingInATrailByteAreTwoFiles) {
  // "\x83\x41" and "\x83\x61" are two katakana; only ASCII letters fold.
  const std::string a = "\"" + F("\x83\x41.txt") + "\"", b = "\"" + F("\x83\x61.txt") + "\"";
  ASSERT_TRUE(RunScript("createfile " + a + "\ncreatefile " + b + "\nwritefile " + a + ", \"a\"\nwritefile " + b +
                        ", \"b\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(ReadWholeFile(F("\xe3\x82\xa2.txt")), "a\r\n");
  EXPECT_EQ(ReadWholeFile(F("\xe3\x83\x82.txt")), "b\r\n");
}

TEST_F(FileCommands, OpenFilesCloseWhenTheRunEnds) {
  // Never closed: the run's end writes them out and closes them.
  ASSERT_TRUE(RunScript("createfile " + Q("a.txt") + "\nwritefile " + Q("a.txt") + ", \"kept\"\ncreatefile " +
                        Q("b.txt") + "\n"));
  EXPECT_EQ(SCRIPTFILE::OpenCount(), 0);
  EXPECT_EQ(ReadWholeFile(F("a.txt")), "kept\r\n");
  // A called level's end does not close them; the outermost does.
  ASSERT_TRUE(SCRIPT::ExecuteFromMemory("createfile " + Q("c.txt") + "\ncall sub\nsend \"open\" + result\n"
                                        "timeout 1\nwait \"never\"\nexit\nsub:\nwritefile " + Q("c.txt") +
                                        ", \"sub\"\nreturn\n"));
  SCRIPT::Process();
  EXPECT_EQ(SCRIPTFILE::OpenCount(), 1);
  ASSERT_TRUE(peer.Run(60000));
  EXPECT_EQ(SCRIPTFILE::OpenCount(), 0);
  EXPECT_EQ(ReadWholeFile(F("c.txt")), "sub\r\n");
}

TEST_F(FileCommands, FailuresSetResultZeroAndSuccessesLeaveIt) {
  // Each statement runs after CHECKLABEL has set RESULT to 1.
  struct CASE {
    const char* what;
    std::string statement;
    int result;
  };
  ASSERT_TRUE(WriteWholeFile(F("a.txt"), "A\r\n"));
  ASSERT_TRUE(WriteWholeFile(F("b.txt"), "B\r\n"));
  fs::create_directory(F("d"));
  const std::vector<CASE> cases = {
      {"open a missing file", "openfile " + Q("none.txt"), 0},
      {"open an existing file", "openfile " + Q("a.txt"), 1},
      {"open a directory", "openfile " + Q("d"), 0},
      {"write to a name not open", "writefile " + Q("a.txt") + ", \"x\"", 0},
      {"read from a name not open", "readfile " + Q("a.txt") + ", @v", 0},
      {"close a name not open", "closefile " + Q("a.txt"), 0},
      {"write to a file open for reading", "openfile " + Q("a.txt") + "\nwritefile " + Q("a.txt") + ", \"x\"", 0},
      {"delete a missing file", "delfile " + Q("none.txt"), 0},
      {"delete a directory", "delfile " + Q("d"), 0},
      {"make an existing directory", "createdir " + Q("d"), 0},
      {"make a directory in a missing one", "createdir " + Q("none/sub"), 0},
      {"copy a missing file", "copyfile " + Q("none.txt") + ", " + Q("c.txt"), 0},
      {"copy a file onto itself", "copyfile " + Q("a.txt") + ", " + Q("./a.txt"), 0},
      {"copy onto a directory", "copyfile " + Q("a.txt") + ", " + Q("d"), 0},
      {"copy into a missing directory", "copyfile " + Q("a.txt") + ", " + Q("none/c.txt"), 0},
      {"open an empty name", "openfile \"\"", 0},
      {"rename onto an existing file", "renamefile " + Q("a.txt") + ", " + Q("b.txt"), 0},
      {"rename a missing file", "renamefile " + Q("none.txt") + ", " + Q("c.txt"), 0},
      {"change to a missing directory", "chdir " + Q("none"), 0},
      {"change to a file", "chdir " + Q("a.txt"), 0},
      {"a lone lead byte in a path", "openfile \"" + F("\x82/x.txt") + "\"", 0},
      {"a byte that is not Shift_JIS", "createfile \"" + F("\xa0\xfd") + "\"", 0},
      {"a sixth open file",
       "openfile " + Q("a.txt") + "\nopenfile " + Q("b.txt") + "\ncreatefile " + Q("1") + "\ncreatefile " + Q("2") +
           "\ncreatefile " + Q("3") + "\ncreatefile " + Q("4"),
       0},
      {"five open files", "openfile " + Q("a.txt") + "\nopenfile " + Q("b.txt") + "\ncreatefile " + Q("1") +
           "\ncreatefile " + Q("2") + "\ncreatefile " + Q("3"), 1},
      {"restore with nothing saved", "restoredir", 1},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    peer.sends.clear();
    ASSERT_TRUE(RunScript("checklabel here\nhere:\n" + c.statement + "\nsend \"r\" + result\n"));
    EXPECT_TRUE(peer.errors.empty());
    EXPECT_EQ(peer.sends, std::vector<std::string>{"r" + std::to_string(c.result)});
    if (c.result == 0) {
      EXPECT_FALSE(SCRIPTFILE::LastFailure().empty());
    }
    // Nothing that failed changed a file.
    EXPECT_EQ(ReadWholeFile(F("a.txt")), "A\r\n");
    EXPECT_EQ(ReadWholeFile(F("b.txt")), "B\r\n");
    EXPECT_TRUE(fs::is_directory(F("d")));
    EXPECT_FALSE(fs::exists(F("c.txt")));
  }
  EXPECT_EQ(SCRIPTFILE::OpenCount(), 0);
}

TEST_F(FileCommands, SuccessesDoTheirWork) {
  ASSERT_TRUE(WriteWholeFile(F("a.txt"), "A\r\n"));
  ASSERT_TRUE(RunScript("checklabel here\nhere:\ncreatedir " + Q("made") + "\ncopyfile " + Q("a.txt") + ", " +
                        Q("made/copy.txt") + "\nrenamefile " + Q("made/copy.txt") + ", " + Q("moved.txt") +
                        "\ndelfile " + Q("a.txt") + "\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r1"});
  EXPECT_TRUE(fs::is_directory(F("made")));
  EXPECT_TRUE(fs::is_empty(F("made")));
  EXPECT_FALSE(fs::exists(F("a.txt")));
  EXPECT_EQ(ReadWholeFile(F("moved.txt")), "A\r\n");
}

TEST_F(FileCommands, CopyReplacesTheTargetWholeAndLeavesNoTemporaryFile) {
  std::string data;
  for (int i = 0; i < 700000; ++i) data += static_cast<char>((i * 131) & 0xFF);
  ASSERT_TRUE(WriteWholeFile(F("src.bin"), data));
  ASSERT_EQ(::chmod(F("src.bin").c_str(), 0750), 0);
  ASSERT_TRUE(WriteWholeFile(F("dst.bin"), std::string(2000000, 'o')));
  ASSERT_TRUE(RunScript("checklabel here\nhere:\ncopyfile " + Q("src.bin") + ", " + Q("dst.bin") +
                        "\nsend \"r\" + result\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r1"});
  EXPECT_EQ(ReadWholeFile(F("dst.bin")), data);
  EXPECT_EQ(ReadWholeFile(F("src.bin")), data);
  struct stat st {};
  ASSERT_EQ(::stat(F("dst.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"dst.bin", "src.bin"}));
  // A file still being written is copied with everything written so far.
  ASSERT_TRUE(RunScript("createfile " + Q("w.txt") + "\nwritefile " + Q("w.txt") + ", \"line\"\ncopyfile " +
                        Q("w.txt") + ", " + Q("w2.txt") + "\n"));
  EXPECT_EQ(ReadWholeFile(F("w2.txt")), "line\r\n");
}

TEST_F(FileCommands, RenameAcrossFileSystemsCopiesThenDeletes) {
  struct stat a {}, b {};
  char tmpl[] = "/dev/shm/quillnet-test-XXXXXX";
  if (::stat("/dev/shm", &a) != 0 || ::stat(dir.Path().c_str(), &b) != 0 || a.st_dev == b.st_dev ||
      !::mkdtemp(tmpl))
    GTEST_SKIP() << "no second file system to rename across";
  const std::string shm = tmpl;
  const std::string data(300000, 'q');
  ASSERT_TRUE(WriteWholeFile(shm + "/from.txt", data));
  ASSERT_TRUE(WriteWholeFile(shm + "/keep.txt", "keep"));
  ASSERT_TRUE(WriteWholeFile(F("taken.txt"), "taken"));
  ASSERT_TRUE(RunScript("checklabel here\nhere:\nrenamefile \"" + shm + "/from.txt\", " + Q("to.txt") +
                        "\nsend \"a\" + result\nrenamefile \"" + shm + "/keep.txt\", " + Q("taken.txt") +
                        "\nsend \"b\" + result\n"));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"a1", "b0"}));
  EXPECT_EQ(ReadWholeFile(F("to.txt")), data);
  EXPECT_FALSE(fs::exists(shm + "/from.txt"));
  EXPECT_EQ(ReadWholeFile(shm + "/keep.txt"), "keep");
  EXPECT_EQ(ReadWholeFile(F("taken.txt")), "taken");
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"taken.txt", "to.txt"}));
  fs::remove_all(shm);
}

TEST_F(FileCommands, TheRunsDirectoryMovesAndTheProcesssDoesNot) {
  fs::create_directories(F("sub/deeper"));
  ASSERT_TRUE(WriteWholeFile(F("sub/ReadMe.TXT"), "hello\r\n"));
  const fs::path before = fs::current_path();
  ASSERT_TRUE(RunScript("chdir \"" + dir.Path() + "\"\ncreatefile \"top.txt\"\nchdir \"sub\"\n"
                        "createfile \"deeper\\in.txt\"\nopenfile \"readme.txt\"\nreadfile \"README.TXT\", @l\n"
                        "getcurrentdir @here\nsend @here\nsend @l\nrestoredir\ngetcurrentdir @back\nsend @back\n"
                        "restoredir\ngetcurrentdir @again\nsend @again\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_TRUE(fs::exists(F("top.txt")));
  EXPECT_TRUE(fs::exists(F("sub/deeper/in.txt")));
  // One directory is saved: a second RESTOREDIR stays.
  EXPECT_EQ(peer.sends, (std::vector<std::string>{F("sub"), "hello", dir.Path(), dir.Path()}));
  // The next run starts from the process's directory again.
  EXPECT_EQ(SCRIPTFILE::CurrentDir(), before.string());
  peer.sends.clear();
  ASSERT_TRUE(RunScript("getcurrentdir @d\nsend @d\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{before.string()});
}

TEST_F(FileCommands, FunctionsTakeRelativeNamesFromTheRunsDirectory) {
  // EXISTFILE and FILESIZE see the directory CHDIR moved to, as the file
  // commands do; the process's own directory does not hold the file.
  ASSERT_TRUE(WriteWholeFile(F("only-here.txt"), "12345"));
  ASSERT_FALSE(fs::exists(fs::current_path() / "only-here.txt"));
  ASSERT_TRUE(RunScript("send \"" "before \" + existfile(\"only-here.txt\")\nchdir \"" + dir.Path() +
                        "\"\nsend \"after \" + existfile(\"only-here.txt\") + \" \" + filesize2(\"only-here.txt\")\n"
                        "createfile \"o.txt\"\nwritefile \"o.txt\", \"x\" + existfile(\"only-here.txt\")\n"
                        "closefile \"o.txt\"\n"));
  EXPECT_TRUE(peer.errors.empty());
  EXPECT_EQ(peer.sends, (std::vector<std::string>{"before ", "after T 5"}));
  // The file commands' own arguments see the same directory.
  EXPECT_EQ(ReadWholeFile(F("o.txt")).substr(0, 2), "xT");
}

TEST_F(FileCommands, DirectoriesAreGivenInShiftJisOrRefused) {
  const std::string japanese = dir.File("\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf");  // データ (UTF-8)
  const std::string emoji = dir.File("\xf0\x9f\x98\x80");                          // no Shift_JIS form
  SetDataDir(japanese);
  SetConfigDir(dir.Path());
  ASSERT_TRUE(RunScript("getquillnetdir @q\ngetwindir @w\ngetwinsysdir @s\nsend @q\nsend @w\nsend @s\n"));
  EXPECT_EQ(peer.sends, (std::vector<std::string>{jcode::Utf8ToSjis(japanese), dir.Path(), dir.Path()}));
  EXPECT_EQ(jcode::Utf8ToSjis(japanese).substr(dir.Path().size() + 1), "\x83\x66\x81\x5b\x83\x5e");
  SetDataDir(emoji);
  peer.sends.clear();
  ASSERT_TRUE(RunScript("@q = \"unchanged\"\nchecklabel here\nhere:\ngetquillnetdir @q\nsend \"r\" + result + @q\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0unchanged"});
  ResetDirsForTest();
  // A Shift_JIS path in a script names the UTF-8 file.
  fs::create_directories(japanese);
  ASSERT_TRUE(RunScript("createfile \"" + jcode::Utf8ToSjis(japanese) + "\\a.txt\"\nwritefile \"" +
                        jcode::Utf8ToSjis(japanese) + "\\A.TXT\", \"\x93\xfa\"\n"));
  EXPECT_EQ(ReadWholeFile(japanese + "/a.txt"), "\x93\xfa\r\n");
}

TEST_F(FileCommands, TemporaryFiles) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", dir.Path().c_str(), 1);
  ASSERT_TRUE(RunScript("createtempfile @t\nsend \"r\" + result\nwritefile @t, \"temp\"\nclosefile @t\nsend @t\n"));
  ASSERT_EQ(peer.sends.size(), 2u);
  EXPECT_EQ(peer.sends[0], "r1");
  const std::string name = peer.sends[1];
  EXPECT_EQ(name.substr(0, dir.Path().size() + 3), dir.Path() + "/QN");
  EXPECT_EQ(ReadWholeFile(name), "temp\r\n");
  // A temporary directory Shift_JIS cannot name: refused, nothing left in it.
  const std::string emoji = dir.File("\xf0\x9f\x98\x80");
  fs::create_directory(emoji);
  ::setenv("TMPDIR", emoji.c_str(), 1);
  peer.sends.clear();
  ASSERT_TRUE(RunScript("@t = \"none\"\ncreatetempfile @t\nsend \"r\" + result + @t\n"));
  EXPECT_EQ(peer.sends, std::vector<std::string>{"r0none"});
  EXPECT_TRUE(fs::is_empty(emoji));
  if (old)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

TEST_F(FileCommands, BadArgumentsAreParameterErrors) {
  struct CASE {
    std::string statement, keyword;
  };
  const std::vector<CASE> cases = {
      {"openfile", "OPENFILE"},
      {"readfile \"x\"", "READFILE"},
      {"readfile \"x\", ##n", "READFILE"},
      {"readfile \"x\" @v", ""},  // a name and a variable without a comma: the expression is bad
      {"writefile \"x\"", "WRITEFILE"},
      {"copyfile \"x\"", "COPYFILE"},
      {"renamefile \"a\", \"b\", \"c\"", "RENAMEFILE"},
      {"createtempfile", "CREATETEMPFILE"},
      {"getcurrentdir @@n", "GETCURRENTDIR"},
      {"restoredir \"x\"", "RESTOREDIR"},
      {"chdir", "CHDIR"},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.statement);
    peer.errors.clear();
    peer.sends.clear();
    ASSERT_TRUE(RunScript(c.statement + "\nsend \"went on\"\n"));
    ASSERT_EQ(peer.errors.size(), 1u);
    EXPECT_EQ(peer.errors[0].message,
              c.keyword.empty() ? std::string("式がおかしいです。") : c.keyword + "のパラメタがおかしいです。");
    EXPECT_TRUE(peer.sends.empty());
  }
}

}  // namespace
