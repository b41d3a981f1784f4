// The editor launcher: the argument lists built from the settings'
// command text and its placeholders, the choice between Editor and
// OtherEditor, and real starts of a small recording editor, which prove
// that no shell stands between: a file name with spaces, ";" and "$(...)"
// arrives as one argument and nothing in it runs.  LOG::Edit goes through
// the same launcher.
#include "shell/editor_launcher.h"

#include <unistd.h>

#include <cstdio>

#include "editor_recorder.h"
#include "settings_fixture.h"
#include "support/test_app.h"
#include "terminal/log.h"

namespace {

QStringList L(std::initializer_list<const char*> words) {
  QStringList l;
  for (const char* w : words) l << QString::fromUtf8(w);
  return l;
}

TEST(EditorCommand, ArgumentListsAndPlaceholders) {
  struct Case {
    const char* what;
    const char* command;
    const char* file;
    int line, column;
    const char* program;
    QStringList args;
  };
  const char* odd = "/tmp/my scripts/a b; rm -rf x $(touch y).hsc";
  const Case cases[] = {
      {"the file is appended as one argument", "kate", odd, 0, 0, "kate", L({odd})},
      {"an editor without +LINE gets the file alone", "kate", odd, 12, 0, "kate", L({odd})},
      {"vi-like editors get +LINE before the file", "vim", odd, 12, 0, "vim", L({"+12", odd})},
      {"by path too", "/usr/bin/nano -w", "f.hsc", 3, 0, "/usr/bin/nano", L({"-w", "+3", "f.hsc"})},
      {"no line, no +LINE", "vim", "f.hsc", 0, 0, "vim", L({"f.hsc"})},
      {"placeholders inside words", "code -g {file}:{line}:{column}", odd, 7, 4, "code",
       L({"-g", "/tmp/my scripts/a b; rm -rf x $(touch y).hsc:7:4"})},
      {"{line} given: no +LINE and the file where {file} stands", "vim +{line} {file} -R", "f.hsc", 9, 0, "vim",
       L({"+9", "f.hsc", "-R"})},
      {"{line} without a line is 1", "ed --line={line}", "f.hsc", 0, 0, "ed", L({"--line=1", "f.hsc"})},
      {"a quoted program path with blanks", "\"/opt/My Editor/ed\" -n", "f.hsc", 0, 0, "/opt/My Editor/ed",
       L({"-n", "f.hsc"})},
      {"a file name holding a placeholder stays as it is", "ed {file} {line}", "{line}.hsc", 5, 0, "ed",
       L({"{line}.hsc", "5"})},
      {"the editor alone", "vim -R", "", 4, 0, "vim", L({"-R"})},
      {"%1 of older settings places the file", "\"/opt/ed\" \"%1\" -x", odd, 2, 0, "/opt/ed", L({odd, "-x"})},
      {"a shell operator in the command is just a word", "ed ; touch z", "f.hsc", 0, 0, "ed",
       L({";", "touch", "z", "f.hsc"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<EDITORCOMMAND> e = BuildEditorCommand(c.command, c.file, c.line, c.column);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->program, QString::fromUtf8(c.program));
    EXPECT_EQ(e->arguments, c.args);
  }
  for (const char* empty : {"", "   ", "\"\""}) {
    SCOPED_TRACE(empty);
    EXPECT_FALSE(BuildEditorCommand(empty, "f.hsc").has_value());
  }
}

class EditorLaunch : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    LOG::ResetForTest();
    ASSERT_TRUE(recorder.ok);
    work = dir.File("work");
    ASSERT_TRUE(MakeDirs(work));
  }
  void TearDown() override {
    LOG::ResetForTest();
    SettingsTest::TearDown();
  }
  void SetEditor(const std::string& text) { std::snprintf(config.Editor, sizeof config.Editor, "%s", text.c_str()); }
  std::vector<std::string> Recorded() { return recorder.Lines(); }

  TestApp app;
  EDITORRECORDER recorder{dir};
  std::string work;
};

TEST_F(EditorLaunch, TheFileReachesTheEditorAsOneArgumentWithoutAShell) {
  const std::string file = work + "/a b; touch PWNED $(touch PWNED2) `touch PWNED3`.hsc";
  ASSERT_TRUE(WriteWholeFile(file, "send \"x\"\n"));
  SetEditor(recorder.Command("--goto {line}"));
  ASSERT_TRUE(LaunchEditor(file, 42, 0, work));
  EXPECT_EQ(Recorded(), (std::vector<std::string>{work, "--goto", "42", file}));
  for (const char* p : {"PWNED", "PWNED2", "PWNED3"}) EXPECT_NE(access((work + "/" + p).c_str(), F_OK), 0) << p;
}

TEST_F(EditorLaunch, EditorElseOtherEditorAndEditorType) {
  struct Case {
    const char* editor;
    const char* other;
    int type;
    const char* want;
  } cases[] = {
      {"ed-a", "ed-b", 0, "ed-a"}, {"", "ed-b", 0, "ed-b"}, {"ed-a", "ed-b", 1, "ed-b"}, {"ed-a", "", 1, "ed-a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.editor) + "|" + c.other + "|" + std::to_string(c.type));
    SetEditor(c.editor);
    std::snprintf(config.OtherEditor, sizeof config.OtherEditor, "%s", c.other);
    config.EditorType = c.type;
    EXPECT_EQ(ConfiguredEditorCommand(), c.want);
  }
  // Neither set: $VISUAL, then $EDITOR, then xdg-open.
  SetEditor("");
  config.OtherEditor[0] = 0;
  config.EditorType = 0;
  const QByteArray visual = qgetenv("VISUAL"), editor = qgetenv("EDITOR");
  qputenv("VISUAL", "from-visual");
  qputenv("EDITOR", "from-editor");
  EXPECT_EQ(ConfiguredEditorCommand(), "from-visual");
  qunsetenv("VISUAL");
  EXPECT_EQ(ConfiguredEditorCommand(), "from-editor");
  qunsetenv("EDITOR");
  EXPECT_EQ(ConfiguredEditorCommand(), "xdg-open");
  if (!visual.isNull()) qputenv("VISUAL", visual);
  if (!editor.isNull()) qputenv("EDITOR", editor);
}

TEST_F(EditorLaunch, AnEditorThatCannotStartIsReported) {
  SetEditor(dir.File("no such editor"));
  EXPECT_FALSE(LaunchEditorOrReport(work + "/x.hsc", 3));
  ASSERT_EQ(boxes.rec.boxes.size(), 1u);
  EXPECT_EQ(boxes.rec.boxes[0].text, dir.File("no such editor") + "\nエディタの起動に失敗しました。");
}

TEST_F(EditorLaunch, TheLogEditCommandUsesTheLauncher) {
  const std::string log = work + "/call; 1.log";
  ASSERT_TRUE(WriteWholeFile(log, "text\r\n"));
  SetEditor(recorder.Command("{file}"));
  boxes.rec.files = {log};
  LOG::Edit();
  const std::vector<std::string> r = Recorded();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1], log);
  EXPECT_TRUE(boxes.rec.boxes.empty());
}

}  // namespace
