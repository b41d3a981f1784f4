// The screen over the stock: character input, wrapping for both cursor-key
// settings, double-byte characters at the line end, TAB and padding, FF and
// the history separator, the echo recognition, the hooks on finished lines,
// the painting schedule, back-scroll mode, and the equivalence of byte-wise
// and run-wise input.
#include <random>

#include "screen_fixture.h"

namespace {

TEST_F(ScreenTest, CharactersAndControlBytes) {
  RunScript(R"(
case text and line ends
  screen 40 5
  push "hello\r\nworld"
  rows
    |hello
    |world
  cursor 1 5

case LF on the newest line also returns to column 0
  push "abc\ndef"
  rows
    |abc
    |def
  cursor 1 3

case LF onto an existing line keeps the column
  push "abc\r\ndef\e[1;3H\nX"
  rows
    |abc
    |deX
  cursor 1 3

case printing at column 10 of an empty line fills columns 0 to 9 with spaces
  push "\e[1;11HX"
  rows
    |          X
  cursor 0 11

case printing after an erased gap pads only the empty cells
  push "abcdefgh\e[1;3H\e[KZ\e[1;8HQ"
  rows
    |abZ    Q
  cursor 0 8

case BS moves left and erases nothing; it stops at column 0
  push "abc\b\bX\b\b\b\bY"
  rows
    |YXc
  cursor 0 1

case other control bytes are not shown
  push "a\x01\x02\x0e\x0f\x1a\x1c\x1fb\x7f"
  rows
    |ab\x7f
  cursor 0 3

case TAB at column 5 puts spaces into cells 5 to 7 and stops at 8
  push "abcde\tX"
  rows
    |abcde   X
  cursor 0 9

case TAB keeps text already in the cells it passes
  push "0123456789\rabcde\tX"
  rows
    |abcde567X9
  cursor 0 9

case TAB from a tab stop goes to the next one
  push "\t\tX"
  rows
    |                X
  cursor 0 17
)");
}

TEST_F(ScreenTest, WrapRulesOfBothCursorKeySettings) {
  RunScript(R"(
case other CursorCode: writing the last column wraps at once
  screen 40 5 cursorcode 0
  push "\{40}a"
  cursor 1 0
  push "\r\nc"
  rows
    |\{40}a
    |
    |c

case CursorCode 2: the cursor waits past the line end
  screen 40 5 cursorcode 2
  push "\{40}a"
  cursor 0 40
  push "b"
  rows
    |\{40}a
    |b
  cursor 1 1

case CursorCode 2: a CR at the end does not wrap
  screen 40 5 cursorcode 2
  push "\{40}a\r\nc"
  rows
    |\{40}a
    |c
  cursor 1 1

case CursorCode 2: a BS at the end wraps first
  screen 40 5 cursorcode 2
  push "\{40}a\bX"
  rows
    |\{40}a
    |X

case CursorCode 2: a TAB stops at the line end
  screen 40 5 cursorcode 2
  push "\{37}a\t"
  cursor 0 40
  push "X"
  rows
    |\{37}a\{3} 
    |X

case CursorCode 0: a TAB that reaches the line end wraps
  screen 40 5
  push "\{37}a\tX"
  rows
    |\{37}a\{3} 
    |X

case a wrapped line is two stock lines, the first filled to its last cell
  screen 40 5
  push "\{45}b\r\n"
  lines
    |\{40}b
    |bbbbb
    |
)");
}

TEST_F(ScreenTest, DoubleByteCharacterAtTheLastColumn) {
  RunScript(R"(
case the character moves whole; the last cell shows 0x7F
  screen 40 5
  push "\{39}a漢字"
  rows
    |\{39}a\x7f
    |漢字
  cursor 1 4

case the same byte by byte
  screen 40 5
  bytewise "\{39}a漢字"
  rows
    |\{39}a\x7f
    |漢字
  cursor 1 4

case with CursorCode 2 the trail byte's arrival moves it
  screen 40 5 cursorcode 2
  push "\{39}a\x8a"
  cursor 0 40
  push "\xbf字"
  rows
    |\{39}a\x7f
    |漢字
  cursor 1 4

case a character ending in the last column wraps as usual
  screen 40 5
  push "\{38}a漢X"
  rows
    |\{38}a漢
    |X

case a half-width kana in the last column is one cell
  screen 40 5
  push "\{39}aｱX"
  rows
    |\{39}aｱ
    |X
)");
}

TEST_F(ScreenTest, FormFeedLeavesTheScreenInTheHistory) {
  RunScript(R"(
case FF on a full screen
  screen 40 3
  push "one\r\ntwo\r\nthree"
  push "\f"
  history
    |one
    |two
    |three
    |\{40}-
  rows
    |
    |
    |
  cursor 0 0
  push "new"
  rows
    |new

case FF on a screen that is not full
  screen 40 5
  push "a\r\nb\fc"
  history
    |a
    |b
    |\{40}-
  rows
    |c
    |
    |
    |
    |
  cursor 0 1

case FF turns the attributes off
  push "\e[1;4;7m\f"
  attrs 0 0 0
)");
}

TEST_F(ScreenTest, EchoRecognitionMarksWhereTheTypedTextBegins) {
  RunScript(R"(
case the echo of a typed line
  screen 40 5
  typed "ls -l\r"
  push "prompt> ls -l\r\n"
  mark 0 8

case a line that does not end with the typed text keeps its mark
  typed "abc\r"
  push "prompt> abd\r\n"
  mark 0 ff

case the typed line is used up by the first line the host ends
  typed "abc\r"
  push "something\r\nabc\r\n"
  mark 0 ff
  mark 1 ff

case BS removes a whole double-byte character
  typed "日本語\b\b\r"
  push "> 日\r\n"
  mark 0 2

case the echo begins on the second stored line of a wrapped line
  screen 40 5
  typed "xyz\r"
  push "\{38}p> xyz\r\n"
  mark 0 ff
  mark 1 0

case nothing typed: no mark
  push "hello\r\n"
  mark 0 ff

case writing to a marked line resets its mark
  typed "go\r"
  push "> go\r"
  mark 0 2
  push "!"
  mark 0 ff
)");
}

// ---- hooks on finished lines ----------------------------------------------

TEST_F(ScreenTest, LineModeAddinsGetLinesEndedByLineFeedsAndWraps) {
  Open(40, 5);
  std::vector<std::string> got;
  MYBITMAP::hooks.lineToAddins = [&](const char* t, int n, bool lineEnd) {
    got.push_back(std::string(t, size_t(n)) + (lineEnd ? "\r\n" : ""));
  };
  Push("first\r\n" + std::string(45, 'w') + "\r\n");
  Push(std::string(39, 'k') + jcode::Utf8ToSjis("漢") + "\r\n");
  const std::vector<std::string> expect = {
      "first\r\n",  std::string(40, 'w'), "wwwww\r\n", std::string(39, 'k'), jcode::Utf8ToSjis("漢") + "\r\n",
  };
  EXPECT_EQ(got, expect);
  // A line feed that only moves onto an existing line completes nothing new.
  got.clear();
  Push("\e[1;1H\n");
  EXPECT_TRUE(got.empty());
}

TEST_F(ScreenTest, FinishedLinesGoToTheColourSyntaxAndTheTree) {
  Open(40, 5);
  struct Query {
    int firstRow, lines;
  };
  std::vector<Query> queries;
  std::vector<int> added;
  int newLines = 0;
  bool tagIt = false;
  MYBITMAP::hooks.newLine = [&] { ++newLines; };
  MYBITMAP::hooks.classify = [&](CODEVRAM first, int lines) {
    queries.push_back({bitmap.Row(first), lines});
    if (!tagIt) return false;
    STOCK::aTag[size_t(first.i)] = 7;
    for (int k = 1; k < lines; ++k) STOCK::aTag[size_t(STOCK::AddIndex(first, k))] = TAG_CONTINUE;
    return true;
  };
  MYBITMAP::hooks.treeAdd = [&](CODEVRAM line) { added.push_back(bitmap.Row(line)); };

  Push("short\r\n");                             // row 0
  Push(std::string(85, 'x') + "\r\n");          // rows 1-3, wrapped twice
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[0].firstRow, 0);
  EXPECT_EQ(queries[0].lines, 1);
  EXPECT_EQ(queries[1].firstRow, 1);  // the wraps' own line feeds do not ask
  EXPECT_EQ(queries[1].lines, 3);
  EXPECT_EQ(newLines, 2);
  EXPECT_TRUE(added.empty());

  tagIt = true;
  Push("tagged\r\n");  // row 4
  EXPECT_EQ(added, std::vector<int>{4});
  // A line that already has a tag is not asked about again.
  Push("\e[4;1H\n");
  EXPECT_EQ(queries.size(), 3u);

  // NoColorOnline: no matching while online.
  config.NoColorOnline = 1;
  Push("more\r\n");
  EXPECT_EQ(queries.size(), 3u);
  EXPECT_EQ(newLines, 3);
}

TEST_F(ScreenTest, BellInputLineAndDateTime) {
  Open(40, 5);
  int bells = 0, hides = 0, shows = 0;
  MYBITMAP::hooks.bell = [&] { ++bells; };
  MYBITMAP::hooks.hideInputLine = [&] {
    EXPECT_EQ(hides, shows);
    ++hides;
  };
  MYBITMAP::hooks.showInputLine = [&] { ++shows; };
  MYBITMAP::hooks.now = [] { return SYSTEMTIME{.wYear = 2024, .wMonth = 5, .wDay = 1, .wHour = 9, .wMinute = 7}; };
  Push("a\ab\a\x1b[1mc");
  EXPECT_EQ(bells, 2);
  EXPECT_EQ(hides, 1);  // once around the whole run
  EXPECT_EQ(shows, 1);
  bitmap.Input('x');
  EXPECT_EQ(hides, 2);
  bitmap.Input("Host");
  bitmap.InputDateTime();
  bitmap.Show();
  EXPECT_EQ(ScreenRows()[0], "abcxHost - 2024/05/01 09:07");
  EXPECT_EQ(bitmap.GetCurrentY(), 1);
  EXPECT_EQ(MYBITMAP::xchCur, 0);
}

// ---- painting schedule ------------------------------------------------------

// Records what the screen asks the window to do.
struct PaintLog {
  std::vector<std::string> calls;
  void Install(MYBITMAP& s, bool active) {
    s.painter.paint = [this](int row, CODEVRAM, int x0, int x1) {
      calls.push_back("paint " + std::to_string(row) + " " + std::to_string(x0) + "-" + std::to_string(x1) +
                      (MYBITMAP::fAttrReverse ? " reverse" : ""));
    };
    s.painter.repaintAll = [this] { calls.push_back("all"); };
    s.painter.scroll = [this](int px) { calls.push_back("scroll " + std::to_string(px)); };
    s.painter.setOrigin = [this](int px) { calls.push_back("origin " + std::to_string(px)); };
    s.painter.scrollRows = [this](int t, int b, int n) {
      calls.push_back("rows " + std::to_string(t) + "-" + std::to_string(b) + " by " + std::to_string(n));
    };
    s.painter.windowActive = [active] { return active; };
    s.painter.letEventsRun = [this] {
      calls.push_back(MYBITMAP::fLettingEventsRun ? "events (guarded)" : "events");
    };
  }
};

TEST_F(ScreenTest, CharactersWidenOneRepaintAreaPaintedOncePerPass) {
  Open(40, 5);
  PaintLog log;
  log.Install(bitmap, false);
  bitmap.Input("abc", 3);
  EXPECT_TRUE(log.calls.empty());  // nothing is painted before Show
  EXPECT_EQ(MYBITMAP::xUpdateLeft, 0);
  EXPECT_EQ(MYBITMAP::xUpdateRight, 3);
  bitmap.Input("\e[1;20Hxy", 9);  // ESC paints what is pending first
  EXPECT_EQ(log.calls, std::vector<std::string>{"paint 0 0-3"});
  log.calls.clear();
  bitmap.Show();
  // The padding and the two characters, one area.
  EXPECT_EQ(log.calls, std::vector<std::string>{"paint 0 3-21"});
  log.calls.clear();
  bitmap.Show();
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(ScreenTest, RepaintAreaSpansLinesAndStartsOnAWholeCharacter) {
  Open(40, 5);
  Push("0123456789\r\n" + jcode::Utf8ToSjis("あいうえお") + "\r\nxyz");
  PaintLog log;
  log.Install(bitmap, false);
  // Row 1 column 3 is the second byte of "い": the area starts one left.
  MYBITMAP::AddUpdateChar(bitmap.LineAt(1), 3, 1);
  MYBITMAP::AddUpdateChar(bitmap.LineAt(0), 5, 1);
  MYBITMAP::AddUpdateChar(bitmap.LineAt(2), 1, 1);
  MYBITMAP::AddUpdateChar(bitmap.LineAt(1), 0, 1);  // between: no change
  bitmap.Show();
  EXPECT_EQ(log.calls, (std::vector<std::string>{"paint 0 5-40", "paint 1 0-40", "paint 2 0-2"}));
  log.calls.clear();
  MYBITMAP::AddUpdateChar(bitmap.LineAt(1), 3, 2);
  bitmap.Show();
  EXPECT_EQ(log.calls, (std::vector<std::string>{"paint 1 2-5"}));
}

TEST_F(ScreenTest, NewLinesScrollLineByLineInABatchOrJump) {
  struct Case {
    const char* what;
    int setScroll, smooth;
    bool active;
    int backlog;
    bool resting;
    int newLines;
    std::vector<std::string> calls;
  } cases[] = {
      {"line by line without smooth scrolling", 0, 0, true, 0, true, 2,
       {"scroll 16", "paint 4 0-40", "events (guarded)", "scroll 16", "paint 4 0-40", "events (guarded)"}},
      {"line by line while the window is not active", 0, 1, false, 0, true, 1,
       {"scroll 16", "paint 4 0-40", "events (guarded)"}},
      {"line by line with a backlog of 512 not resting", 0, 1, true, 600, false, 1,
       {"scroll 16", "paint 4 0-40", "events (guarded)"}},
      {"SetScroll: all new lines at once", 1, 1, true, 0, true, 3,
       {"scroll 48", "paint 2 0-40", "paint 3 0-40", "paint 4 0-40"}},
      {"a backlog of 1024 not resting: all at once", 0, 1, true, 1024, false, 2,
       {"scroll 32", "paint 3 0-40", "paint 4 0-40"}},
      {"a backlog of 1024 while input rests: line by line", 0, 0, true, 1024, true, 1,
       {"scroll 16", "paint 4 0-40", "events (guarded)"}},
      {"a screenful or more: one full repaint", 0, 1, true, 0, true, 5, {"all"}},
  };
  for (const auto& c : cases) {
    Open(40, 5);
    Push("L0\r\nL1\r\nL2\r\nL3\r\nL4");
    config.SetScroll = c.setScroll;
    config.SmoothScroll = c.smooth;
    config.SmoothCount = 1;
    config.AutoSmooth = 0;
    MYBITMAP::hooks.backlog = [&] { return c.backlog; };
    MYBITMAP::hooks.inputResting = [&] { return c.resting; };
    PaintLog log;
    log.Install(bitmap, c.active);
    std::string text;
    for (int i = 0; i < c.newLines; ++i) text += "\nN" + std::to_string(i);
    bitmap.Input(text.data(), text.size());
    log.calls.clear();  // what the line feeds painted at once
    bitmap.Show();
    std::vector<std::string> scrolls;
    for (auto& s : log.calls)
      if (s.rfind("paint", 0) != 0 || s.find(" 0-40") != std::string::npos) scrolls.push_back(s);
    EXPECT_EQ(scrolls, c.calls) << c.what;
    EXPECT_EQ(bitmap.Row(cvNewest), 4) << c.what;
    EXPECT_EQ(ScreenRows()[4], "N" + std::to_string(c.newLines - 1)) << c.what;
    EXPECT_EQ(MYBITMAP::cNewLines, 0) << c.what;
    EXPECT_EQ(MYBITMAP::cLineScrollable, STOCK::UsedItems()) << c.what;
  }
}

TEST_F(ScreenTest, SmoothScrollingStepsAndAdaptsItsStepCount) {
  Open(40, 5);
  Push("L0\r\nL1\r\nL2\r\nL3\r\nL4");
  config.SetScroll = 0;
  config.SmoothScroll = 1;
  config.SmoothCount = 4;
  config.AutoSmooth = 1;
  TICK now = 5000;
  TICK perCall = 1;
  MYBITMAP::hooks.tick = [&] { return now += perCall; };
  PaintLog log;
  log.Install(bitmap, true);
  bitmap.Input("\nA", 2);
  log.calls.clear();
  bitmap.Show();
  const std::vector<std::string> steps = {"scroll 4",  "origin 12",    "paint 4 0-40", "scroll 4", "origin 8",
                                          "paint 4 0-40", "scroll 4", "origin 4", "paint 4 0-40", "scroll 4",
                                          "origin 0",  "paint 4 0-40"};
  EXPECT_EQ(log.calls, steps);
  EXPECT_EQ(config.SmoothCount, 5);  // a fast line: one more step next time

  // Slow lines lower the count, down to 1.
  perCall = 20;
  for (int round = 0; round < 2; ++round) {
    bitmap.Input("\nB\nC\nD\nE", 8);  // fewer than a screenful: scrolled, not jumped
    bitmap.Show();
  }
  EXPECT_EQ(config.SmoothCount, 1);
  // Fast lines raise it up to the line height.
  perCall = 0;
  for (int i = 0; i < 30; ++i) {
    bitmap.Input("\nx", 2);
    bitmap.Show();
  }
  EXPECT_EQ(config.SmoothCount, 16);

  // A backlog of 256 not resting halves the steps (rounded up); no adapting.
  config.SmoothCount = 3;
  MYBITMAP::hooks.backlog = [] { return 300; };
  MYBITMAP::hooks.inputResting = [] { return false; };
  log.calls.clear();
  bitmap.Input("\ny", 2);
  bitmap.Show();
  EXPECT_EQ(log.calls, (std::vector<std::string>{"scroll 8", "origin 8", "paint 4 0-40", "scroll 8", "origin 0",
                                                 "paint 4 0-40"}));
  EXPECT_EQ(config.SmoothCount, 3);
}

TEST_F(ScreenTest, FastModeSkipsTheRepaintAreaAndRepaintsWholeWhenItEnds) {
  Open(40, 5);
  config.SetScroll = 1;
  int backlog = 2000;
  MYBITMAP::hooks.backlog = [&] { return backlog; };
  PaintLog log;
  log.Install(bitmap, true);
  bitmap.Show();
  EXPECT_EQ(fInQueueMax, 1);
  bitmap.Input("abc", 3);
  EXPECT_EQ(MYBITMAP::cvUpdateTop.i, -1);  // nothing recorded
  log.calls.clear();
  std::string text;
  for (int i = 0; i < 9; ++i) text += "\r\nline" + std::to_string(i);
  bitmap.Input(text.data(), text.size());
  bitmap.Show();
  // Still fast: the cursor line is painted, the top advances, the bottom
  // line is painted; no scrolling of the window.
  EXPECT_EQ(fInQueueMax, 1);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"paint 4 0-40"}));
  EXPECT_EQ(ScreenRows()[4], "line8");
  backlog = 1500;  // between the limits: stays on
  bitmap.Show();
  EXPECT_EQ(fInQueueMax, 1);
  backlog = 99;
  log.calls.clear();
  bitmap.Show();
  EXPECT_EQ(fInQueueMax, 0);
  EXPECT_EQ(log.calls.front(), "all");
  EXPECT_EQ(MYBITMAP::cLineScrollable, STOCK::UsedItems());
  // Without SetScroll a backlog does not switch it on.
  config.SetScroll = 0;
  backlog = 5000;
  bitmap.Show();
  EXPECT_EQ(fInQueueMax, 0);
}

TEST_F(ScreenTest, ALineFeedWithAttributesPaintsTheNewLinePlain) {
  Open(40, 5);
  PaintLog log;
  log.Install(bitmap, false);
  bitmap.Input("\e[7mrev\n", 8);
  // The text is painted in reverse before the new line appears; the new
  // line is painted with the attributes off; they are on again afterwards.
  EXPECT_EQ(log.calls, (std::vector<std::string>{"paint 0 0-3 reverse", "paint 1 0-40"}));
  EXPECT_EQ(MYBITMAP::fAttrReverse, 1);
}

TEST_F(ScreenTest, InsertAndDeleteLinesScrollTheWindowArea) {
  Open(40, 6);
  Push("L0\r\nL1\r\nL2\r\nL3\r\nL4\r\nL5");
  PaintLog log;
  log.Install(bitmap, false);
  Push("\e[2;5r\e[3;1H\e[2L");
  EXPECT_EQ(log.calls, (std::vector<std::string>{"rows 2-4 by 2", "paint 2 0-40", "paint 3 0-40"}));
  log.calls.clear();
  Push("\e[M");
  EXPECT_EQ(log.calls, (std::vector<std::string>{"rows 2-4 by -1", "paint 4 0-40"}));
  EXPECT_EQ(ScreenRows(), (std::vector<std::string>{"L0", "L1", "", "L2", "", "L5"}));
}

// ---- placement, back-scroll, the ring -------------------------------------

TEST_F(ScreenTest, ResetPutsTheNewestLineAtTheBottom) {
  Open(40, 5);
  Push("L0\r\nL1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\r\nL7");
  Push("\e[3;1H\e[2;4r\e[1m");
  bitmap.Reset(nullptr, 40, 3);
  EXPECT_EQ(ScreenRows(), (std::vector<std::string>{"L5", "L6", "L7"}));
  EXPECT_EQ(bitmap.GetCurrentY(), 2);
  EXPECT_EQ(MYBITMAP::iScrollBottom, MYBITMAP::kNoRegion);
  EXPECT_EQ(MYBITMAP::fAttrHilight, 0);
  EXPECT_EQ(STOCK::cLineFrame, 3);
  // Few lines: the top is the oldest line.
  Open(40, 5);
  Push("a\r\nb");
  bitmap.Reset(nullptr, 40, 10);
  EXPECT_EQ(bitmap.LineAt(0).i, cvOldest.i);
  EXPECT_EQ(bitmap.GetCurrentY(), 1);
  // A cursor column beyond the window scrolls the view.
  Push("\e[1;30H");
  bitmap.Reset(nullptr, 20, 10);
  EXPECT_EQ(MYBITMAP::xchCur, 29);  // the cursor went to the newest line, column kept
  EXPECT_EQ(bitmap.xScroll, 10);
  Push("\r");
  bitmap.Reset(nullptr, 20, 10);
  EXPECT_EQ(bitmap.xScroll, 0);
  bitmap.Resize(8 * 30 + 3, 16 * 4);
  EXPECT_EQ(bitmap.cxChars, 30);
  EXPECT_EQ(bitmap.cyLines, 4);
  EXPECT_EQ(bitmap.fOddWidth, 1);
  EXPECT_EQ(bitmap.cyPixels, 64);
}

TEST_F(ScreenTest, BackScrollModeKeepsTheCursorUnlessTextArrived) {
  Open(40, 5);
  Push("abc\r\ndef");
  bool focus = true;
  int selectionEnded = 0, searchMarks = 0, receivedMarks = 0;
  std::vector<bool> caret;
  bitmap.painter.caret = [&](bool on) { caret.push_back(on); };
  MYBITMAP::hooks.hasFocus = [&] { return focus; };
  MYBITMAP::hooks.selectionActive = [] { return true; };
  MYBITMAP::hooks.endSelection = [&] { ++selectionEnded; };
  MYBITMAP::hooks.removeSearchMark = [&] { ++searchMarks; };
  MYBITMAP::hooks.clearReceivedMark = [&] { ++receivedMarks; };

  bitmap.EnterScrollMode();
  EXPECT_EQ(bitmap.fScrollView, 1);
  EXPECT_EQ(receivedMarks, 1);
  EXPECT_EQ(bitmap.fVScrollable, 0);
  // Something moves the cursor while viewing (a selection by keys, say).
  MYBITMAP::cvCur = bitmap.LineAt(0);
  MYBITMAP::xchCur = 1;
  bitmap.LeaveScrollMode();
  EXPECT_EQ(bitmap.GetCurrentY(), 1);  // put back
  EXPECT_EQ(MYBITMAP::xchCur, 3);
  EXPECT_EQ(selectionEnded, 1);
  EXPECT_EQ(searchMarks, 1);

  bitmap.EnterScrollMode();
  MYBITMAP::cvCur = bitmap.LineAt(0);
  MYBITMAP::xchCur = 0;
  Push("gh");  // text arrives meanwhile: the cursor stays where the text left it
  bitmap.LeaveScrollMode();
  EXPECT_EQ(bitmap.GetCurrentY(), 0);
  EXPECT_EQ(MYBITMAP::xchCur, 2);
  EXPECT_EQ(ScreenRows()[0], "ghc");
  focus = false;
  bitmap.EnterScrollMode();
  bitmap.LeaveScrollMode();
  EXPECT_EQ(caret, (std::vector<bool>{false, true, false, true, false}));
}

TEST_F(ScreenTest, AViewScreenStartsInViewModeOverTheWholeStock) {
  Open(40, 5);
  Push("L0\r\nL1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\e[2;4r\e[7m");
  MYBITMAP view;
  view.cvTop = cvNewest;
  view.Start(nullptr, 40, 3);
  EXPECT_EQ(view.fView, 1);
  EXPECT_EQ(view.fScrollView, 1);
  EXPECT_EQ(ScreenRows()[4], "L6");  // the live screen is unchanged
  EXPECT_EQ(ScreenTest::Render(view.LineAt(0)), "L4");
  EXPECT_EQ(MYBITMAP::cvScrollableTop.i, cvOldest.i);
  EXPECT_EQ(MYBITMAP::cLineScrollable, 7);
  EXPECT_EQ(bitmap.GetCurrentY(), 4);
  // The live terminal's region and attributes are not the view's to reset.
  EXPECT_EQ(MYBITMAP::iScrollBottom, 3);
  EXPECT_EQ(MYBITMAP::fAttrReverse, 1);
}

TEST_F(ScreenTest, AFullRingOverwritesTheOldestLinesUnderTheScreen) {
  Open(40, 24, 0, 100);
  std::string text;
  for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + "\r\n";
  Push(text);
  EXPECT_EQ(STOCK::UsedItems(), 100);
  auto rows = ScreenRows();
  EXPECT_EQ(rows[0], "line 277");
  EXPECT_EQ(rows[22], "line 299");
  EXPECT_EQ(rows[23], "");
  // A form feed on the full ring: the separator and a blank screen.
  Push("\ftop");
  rows = ScreenRows();
  EXPECT_EQ(rows[0], "top");
  EXPECT_EQ(ScreenTest::Render(STOCK::AddIndex(bitmap.cvTop, -1)), std::string(40, '-'));
  EXPECT_EQ(ScreenTest::Render(STOCK::AddIndex(bitmap.cvTop, -2)), "");
  EXPECT_EQ(ScreenTest::Render(STOCK::AddIndex(bitmap.cvTop, -3)), "line 299");
  // A screen taller than the ring stays inside it.
  Open(40, 150, 0, 100);
  Push("a\fb\e[2J\e[150;1Hc\e[M\e[L\eD\eM\e[150;1H\e[6n");
  EXPECT_LE(STOCK::UsedItems(), 100);
  EXPECT_GE(bitmap.GetCurrentY(), 0);
  EXPECT_LT(bitmap.GetCurrentY(), 150);
  EXPECT_EQ(Replies(), "\x1b[" + std::to_string(bitmap.GetCurrentY() + 1) + ";1R");
}

TEST_F(ScreenTest, TheScreenFollowsAStockThatChangedUnderIt) {
  Open(40, 5);
  Push("a\r\nb\r\nc\r\nd\r\ne");
  STOCK::Clear();  // the stock is one empty line again
  Push("x");
  EXPECT_EQ(STOCK::UsedItems(), 1);
  EXPECT_EQ(ScreenTest::Render(cvNewest), "x");
}

// ---- byte-wise and run-wise input are the same ----------------------------

struct Snapshot {
  std::vector<std::string> lines;
  std::vector<int> marks;
  int row, col, escState, h, u, r, top, bottom, topFlat;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take() {
  Snapshot s;
  CODEVRAM cv = cvOldest;
  for (;;) {
    s.lines.push_back(std::string(cv.Item()->Text(), size_t(STOCK::cColumn)));
    s.marks.push_back(cv.Item()->cInput);
    if (cv.IsNewest()) break;
    ++cv;
  }
  s.row = bitmap.GetCurrentY();
  s.col = MYBITMAP::xchCur;
  s.escState = MYBITMAP::escState;
  s.h = MYBITMAP::fAttrHilight;
  s.u = MYBITMAP::fAttrUnderline;
  s.r = MYBITMAP::fAttrReverse;
  s.top = MYBITMAP::iScrollTop;
  s.bottom = MYBITMAP::iScrollBottom;
  s.topFlat = STOCK::Flat(bitmap.cvTop);
  return s;
}

TEST_F(ScreenTest, RunsOfTextGiveTheSameScreenAsSingleBytes) {
  // Pieces a host sends, so the random streams hit the line end, the wraps,
  // double-byte characters and sequences often.
  const std::vector<std::string> pieces = {
      "a",     "bc",     "xyz01", "\r",     "\n",      "\r\n",   "\b",     "\t",     "\x1b",   "[",
      "\x1b[", "5",      ";",     "H",      "K",       "J",      "m",      "\x1b[2J", "\x1b[1;7m", "\033D",
      "\033M", "\0337",  "\0338", "\x1b[L", "\x1b[3M", "\x1b[2@", "\x1b[P", "\x1b[2;4r", "\x1b[r", "\f",
      "\x88",  "\x9f\x40", jcode::Utf8ToSjis("漢字かな"), "\x7f", "\xb1", "\x1b(B", "\x1b[C", "\x1b[A",
      std::string(37, 'w'),
  };
  for (int code : {0, 2}) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
      std::mt19937 rng(seed);
      std::string stream;
      while (stream.size() < 3000) stream += pieces[rng() % pieces.size()];
      std::vector<Snapshot> results;
      for (int way = 0; way < 3; ++way) {
        Open(40, 6, code);
        if (way == 0) {
          for (char c : stream) bitmap.Input(c);
        } else if (way == 1) {
          bitmap.Input(stream.data(), stream.size());
        } else {
          std::mt19937 cut(seed * 7);
          for (size_t i = 0; i < stream.size();) {
            size_t n = std::min(stream.size() - i, size_t(1 + cut() % 50));
            bitmap.Input(stream.data() + i, n);
            i += n;
          }
        }
        bitmap.Show();
        results.push_back(Take());
      }
      EXPECT_TRUE(results[0] == results[1]) << "seed " << seed << " code " << code;
      EXPECT_TRUE(results[0] == results[2]) << "seed " << seed << " code " << code;
    }
  }
}

}  // namespace
