// Text upload: the shaping of lines byte for byte, and the engine's pacing
// and echo collation against a host simulated on the other end of a memory
// line (the real transfer loop, a manual clock).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer/textupload.h"
#include "transfer/transfer.h"

namespace {

std::string S(const char* utf8) { return jcode::Utf8ToSjis(utf8); }
std::string Rep(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// The configuration's default tables.
TEXTSHAPE Shape(int width) {
  TEXTSHAPE s;
  s.orikaeshi = width;
  s.topKinsoku = S("、。，．・？！゛゜ヽヾゝゞ々ー）］｝」』!),.:;?]}｡｣､･ｰﾞﾟ");
  s.bottomKinsoku = S("（［｛「『([{｢");
  return s;
}

std::string Show(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    for (char c : jcode::SjisToUtf8(l)) {
      if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else out += c;
    }
    out += " | ";
  }
  return out;
}

TEST(TextShape, LinesOnTheWire) {
  const std::string a10 = Rep(S("あ"), 10), a9 = Rep(S("あ"), 9);
  const std::string x = "x";
  struct Case {
    const char* what;
    std::function<void(TEXTSHAPE&)> set;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a short line goes whole, LF as CR", nullptr, "abc\n", {"abc\r"}},
      {"CR and NUL are dropped, 0x1A ends the text", nullptr, std::string("a\r\nb\0c\x1A" "d\n", 9),
       {"a\r", "bc"}},
      {"the last line without a line end goes without CR", nullptr, "a\nb", {"a\r", "b"}},
      {"empty lines stay", nullptr, "\n\n", {"\r", "\r"}},
      {"a double-byte character at the width goes to the next line", nullptr, "a" + a10 + "\n",
       {"a" + a9 + "\r", S("あ") + "\r"}},
      {"\"。\" never starts a line (no hanging)", [](TEXTSHAPE& s) { s.burasage = false; },
       a10 + S("。") + "\n", {a9 + "\r", S("あ。") + "\r"}},
      {"\"。\" hangs beyond the width, with its line end", nullptr, a10 + S("。") + "\n", {a10 + S("。") + "\r"}},
      {"two marks hang, the next character wraps", nullptr, a10 + S("、。い") + "\n",
       {a10 + S("、。") + "\r", S("い") + "\r"}},
      {"a third mark takes the line's last character with it", nullptr, a10 + S("。。。") + "\n",
       {a9 + "\r", S("あ。。。") + "\r"}},
      {"no hanging on lines of 78 columns and more", [](TEXTSHAPE& s) { s.orikaeshi = 78; },
       Rep(S("あ"), 39) + S("。") + "\n", {Rep(S("あ"), 38) + "\r", S("あ。") + "\r"}},
      {"\"「\" never ends a line", nullptr, a9 + S("「い」") + "\n", {a9 + "\r", S("「い」") + "\r"}},
      {"without kinsoku the break is at the width",
       [](TEXTSHAPE& s) { s.kinsoku = false; }, a10 + S("。") + "\n", {a10 + "\r", S("。") + "\r"}},
      {"word wrap keeps words whole", nullptr, "hello wonderful world\n", {"hello wonderful \r", "world\r"}},
      {"without word wrap words are cut", [](TEXTSHAPE& s) { s.wordwrap = false; }, "hello wonderful world\n",
       {"hello wonderful worl\r", "d\r"}},
      {"a word longer than two thirds is cut", nullptr, Rep(x, 30) + "\n", {Rep(x, 20) + "\r", Rep(x, 10) + "\r"}},
      {"a TAB counts to the next stop of 8 and is sent alone",
       [](TEXTSHAPE& s) { s.wordwrap = false; }, "abc\t" + Rep(x, 13) + "\n",
       {"abc\t" + Rep(x, 12) + "\r", "x\r"}},
      {"a TAB that does not fit waits for the next line", [](TEXTSHAPE& s) { s.wordwrap = false; },
       Rep(x, 18) + "\ty\n", {Rep(x, 18) + "\r", "\ty\r"}},
      {"TabToSpace makes blanks up to its multiple", [](TEXTSHAPE& s) { s.tabToSpace = 4; }, "ab\tc\n",
       {"ab  c\r"}},
      {"TabToSpace is capped at the width", [](TEXTSHAPE& s) { s.tabToSpace = 100; }, "\tX\n",
       {Rep(" ", 20) + "\r", "X\r"}},
      {"a half-width margin narrows the line", [](TEXTSHAPE& s) { s.margin = 2; }, Rep(x, 20),
       {"  " + Rep(x, 18) + "\r", "  xx"}},
      {"a full-width margin counts twice",
       [](TEXTSHAPE& s) {
         s.margin = 2;
         s.hankakuMargin = false;
       },
       Rep(x, 20), {S("　　") + Rep(x, 16) + "\r", S("　　") + "xxxx"}},
      {"a margin that leaves less than 2 columns is left off",
       [](TEXTSHAPE& s) {
         s.margin = 10;
         s.hankakuMargin = false;
       },
       Rep(x, 21), {Rep(x, 20) + "\r", "x"}},
      {"a margin that leaves exactly 2 columns stays",
       [](TEXTSHAPE& s) {
         s.margin = 9;
         s.hankakuMargin = false;
         s.wordwrap = false;
       },
       "xyz", {Rep(S("　"), 9) + "xy\r", Rep(S("　"), 9) + "z"}},
      {"a wrapped paragraph's indentation repeats", [](TEXTSHAPE& s) { s.autoMarginSync = true; },
       "  " + Rep(x, 30) + "\ny\n", {"  " + Rep(x, 18) + "\r", "  " + Rep(x, 12) + "\r", "y\r"}},
      {"full-width indentation repeats too", [](TEXTSHAPE& s) { s.autoMarginSync = true; },
       S("　") + Rep(S("い"), 12) + "\n",
       {S("　") + Rep(S("い"), 9) + "\r", S("　") + Rep(S("い"), 3) + "\r"}},
      {"without AutoMarginSync continuation lines start at the margin", nullptr, "  " + Rep(x, 30) + "\n",
       {"  " + Rep(x, 18) + "\r", Rep(x, 12) + "\r"}},
      {"a wrap column outside 20..screen uses the screen width",
       [](TEXTSHAPE& s) {
         s.orikaeshi = 0;
         s.screenWidth = 30;
       },
       Rep(x, 31), {Rep(x, 30) + "\r", "x"}},
      {"a lone lead byte at the end is one character", nullptr, "ab\x88", {"ab\x88"}},
      {"half-width katakana are one column each", [](TEXTSHAPE& s) { s.wordwrap = false; },
       Rep(S("ｱ"), 21), {Rep(S("ｱ"), 20) + "\r", S("ｱ")}},
  };
  for (const Case& c : cases) {
    TEXTSHAPE shape = Shape(20);
    if (c.set) c.set(shape);
    const std::vector<std::string> got = ShapeText(shape, c.text);
    EXPECT_EQ(got, c.lines) << c.what << "\n got:  " << Show(got) << "\n want: " << Show(c.lines);
  }
}

TEST(TextShape, NoLineIsWiderThanTheWidthAndNothingIsLost) {
  // A long mixed text: every line keeps to the width (two hanging marks
  // aside), and the bytes sent are the text's bytes (CR for LF, TABs kept).
  const std::string text = Rep(S("漢字とEnglish words、混ざった文。\t(括弧)「かぎ」ｶﾀｶﾅ\n"), 40);
  for (int width : {20, 33, 76}) {
    TEXTSHAPE shape = Shape(width);
    std::string joined;
    for (const std::string& l : ShapeText(shape, text)) {
      int col = 0;
      for (size_t i = 0; i < l.size(); ++i) {
        const auto c = static_cast<unsigned char>(l[i]);
        if (c == '\r') continue;
        if (c == '\t') col += 8 - col % 8;
        else if ((c >= 0x81 && c <= 0x9F) || c >= 0xE0) col += 2, ++i;
        else col += 1;
      }
      EXPECT_LE(col, width + 4) << width << ": " << jcode::SjisToUtf8(l);
      joined += l;
    }
    std::string want = text;
    for (char& c : want)
      if (c == '\n') c = '\r';
    // Wrapping adds CRs only.
    std::string stripped;
    for (char c : joined) stripped += c;
    size_t i = 0, j = 0;
    while (i < want.size() && j < stripped.size()) {
      if (want[i] == stripped[j]) ++i, ++j;
      else if (stripped[j] == '\r') ++j;
      else break;
    }
    EXPECT_EQ(i, want.size()) << width;
  }
}

// ---- the engine ------------------------------------------------------------------

// A text upload over a memory line whose other end is a host simulated after
// every pass of the real loop.  The host gets what arrived and answers.
struct TextRun {
  TempDir dir;
  std::unique_ptr<MEMORYLINE> us, host;
  TRANSFER t;
  std::string got;                 // everything the host received
  std::vector<TICK> lineTimes;     // when each CR reached the host
  std::function<std::string(const std::string& chunk)> answer;  // the host's reply
  bool ok = false;

  explicit TextRun(const std::string& text, TEXTUPLOAD u = {}) {
    std::tie(us, host) = MEMORYLINE::MakePair(65536);
    us->UseManualClock();
    WriteWholeFile(dir.File("up.txt"), text);
    t.protocol = PROTOCOL_TEXT;
    t.line = us.get();
    t.files = {dir.File("up.txt")};
    t.opt.historyDir = dir.Path();
    if (u.shape.topKinsoku.empty()) u.shape = Shape(76);
    textUpload = u;
  }
  int Run(const std::function<void()>& each = nullptr) {
    if (!t.BeginUpload()) return t.protocolerror;
    auto engine = MakeTextUpload(t);
    TRANSFERLOOPHOOKS hooks;
    hooks.afterPass = [&] {
      unsigned char buf[4096];
      const size_t n = host->Read(buf, sizeof buf);
      const std::string chunk(reinterpret_cast<char*>(buf), n);
      for (char c : chunk)
        if (c == '\r') lineTimes.push_back(host->Now());
      got += chunk;
      if (answer) {
        const std::string reply = answer(chunk);
        if (!reply.empty()) host->Write(reply.data(), reply.size());
      }
      if (each) each();
    };
    ok = RunTransferLoop(t, *engine, hooks);
    return TransferOutcome(t);
  }
};

// A host that echoes as a terminal line does: CR comes back as CR LF.
std::string PtyEcho(const std::string& chunk) {
  std::string out;
  for (char c : chunk) {
    out += c;
    if (c == '\r') out += '\n';
  }
  return out;
}

const std::string kThree = "first line\nsecond line\nthird line\n";

TEST(TextUpload, AnEchoingHostGetsEveryLineAtOnceAndTheHistoryHasIt) {
  TextRun run(kThree);
  run.answer = PtyEcho;
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.got, "first line\rsecond line\rthird line\r");
  ASSERT_EQ(run.lineTimes.size(), 3u);
  EXPECT_LT(run.lineTimes.back(), 200u);  // no waiting out a time-out
  EXPECT_EQ(run.t.stats.processed, static_cast<long long>(kThree.size()));
  const std::string hist = ReadWholeFile(run.dir.File("TRANHIST.TXT"));
  const std::string want = std::string("up.txt\t") + std::to_string(kThree.size()) + "B\tUp\t";
  EXPECT_EQ(hist.rfind(want, 0), 0u) << hist;
  EXPECT_NE(hist.find("\tテキスト送信\t"), std::string::npos) << hist;
}

TEST(TextUpload, WithoutAnEchoTheFirstLineWaitsOneSecondTheOthersFive) {
  TextRun run(kThree);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.got, "first line\rsecond line\rthird line\r");
  ASSERT_EQ(run.lineTimes.size(), 3u);
  EXPECT_LT(run.lineTimes[0], 20u);
  EXPECT_GE(run.lineTimes[1], 1000u);
  EXPECT_LT(run.lineTimes[1], 1050u);
  EXPECT_GE(run.lineTimes[2] - run.lineTimes[1], 5000u);
  EXPECT_LT(run.lineTimes[2] - run.lineTimes[1], 5050u);
}

TEST(TextUpload, FastSendDoesNotWaitForTheEcho) {
  TEXTUPLOAD u;
  u.fastSend = true;
  TextRun run(kThree, u);
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.got, "first line\rsecond line\rthird line\r");
  EXPECT_LT(run.lineTimes.back(), 20u);
}

TEST(TextUpload, ThePaceCharacterReleasesTheNextLine) {
  TEXTUPLOAD u;
  u.paceCharacter = '>';
  TextRun run(kThree, u);
  // The host echoes at once but gives its prompt 300 ms after each line.
  TICK promptAt = 0;
  size_t linesPrompted = 0;
  size_t gotWhenPrompted = 0;
  std::vector<size_t> seenAtPrompt;
  run.answer = [&](const std::string& chunk) {
    std::string reply = PtyEcho(chunk);
    if (run.lineTimes.size() > linesPrompted && promptAt == 0) promptAt = run.host->Now() + 300;
    if (promptAt != 0 && run.host->Now() >= promptAt) {
      promptAt = 0;
      ++linesPrompted;
      gotWhenPrompted = run.got.size();
      seenAtPrompt.push_back(gotWhenPrompted);
      reply += '>';
    }
    return reply;
  };
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.got, "first line\rsecond line\rthird line\r");
  // Nothing of the next line came before the prompt.
  ASSERT_GE(seenAtPrompt.size(), 2u);
  EXPECT_EQ(seenAtPrompt[0], std::string("first line\r").size());
  EXPECT_EQ(seenAtPrompt[1], std::string("first line\rsecond line\r").size());
  ASSERT_EQ(run.lineTimes.size(), 3u);
  EXPECT_GE(run.lineTimes[1], 300u);
  EXPECT_LT(run.lineTimes[1], 400u);
}

TEST(TextUpload, APromptRightBehindTheEchoIsNotMissed) {
  // The echo, its line end and the prompt come in one piece: the prompt must
  // still release the next line (not the five-second time-out).
  TEXTUPLOAD u;
  u.paceCharacter = '>';
  TextRun run(kThree, u);
  run.answer = [](const std::string& chunk) {
    std::string reply;
    for (char c : chunk) {
      reply += c;
      if (c == '\r') reply += "\n>";
    }
    return reply;
  };
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.got, "first line\rsecond line\rthird line\r");
  ASSERT_EQ(run.lineTimes.size(), 3u);
  EXPECT_LT(run.lineTimes.back(), 200u);
}

TEST(TextUpload, CollationEndsOnAWrongEcho) {
  TEXTUPLOAD u;
  u.collate = true;
  {
    TextRun run(kThree, u);
    run.answer = PtyEcho;
    EXPECT_EQ(run.Run(), 0) << "a faithful echo passes";
  }
  {
    TextRun run(kThree, u);
    run.answer = [](const std::string& chunk) {
      std::string e = PtyEcho(chunk);
      for (char& c : e)
        if (c == 'n') c = 'N';  // a host that changes what it echoes
      return e;
    };
    EXPECT_EQ(run.Run(), PE_COLLATE);
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(ReadWholeFile(run.dir.File("TRANHIST.TXT")).empty());
  }
}

TEST(TextUpload, AHostThatNeverEchoesEndsACollatedUploadInsteadOfGrowingWithoutEnd) {
  TEXTUPLOAD u;
  u.collate = true;
  u.fastSend = true;
  const std::string text = Rep(std::string(70, 'q') + "\n", 200);  // 14000 bytes
  TextRun run(text, u);
  EXPECT_EQ(run.Run(), PE_COLLATE);
  // It ended at the line that would have passed the bound (CRs are not
  // collated), long before the text's end.
  EXPECT_LE(run.got.size(), kTextCollateMax + kTextCollateMax / 70);
  EXPECT_GE(run.got.size(), kTextCollateMax - 71);
}

TEST(TextUpload, StopAndHangUpAreNoSuccess) {
  {
    TextRun run(kThree);
    run.answer = PtyEcho;
    EXPECT_EQ(run.Run([&] {
      if (run.lineTimes.size() == 1) run.t.fStopProtocol = true;
    }),
              20);
    EXPECT_EQ(run.got, "first line\r");
    EXPECT_TRUE(ReadWholeFile(run.dir.File("TRANHIST.TXT")).empty());
  }
  {
    TextRun run(kThree);
    EXPECT_EQ(run.Run([&] {
      if (run.lineTimes.size() == 1) run.us->Cut();
    }),
              PE_HANGUP);
    EXPECT_TRUE(ReadWholeFile(run.dir.File("TRANHIST.TXT")).empty());
  }
}

TEST(TextUpload, TheClipboardsTextGoesWithoutAHistoryLine) {
  TEXTUPLOAD u;
  u.text = S("クリップボード\n");
  TextRun run("file text is not sent\n", u);
  run.answer = PtyEcho;
  // The same start as ProcessClipboardUpload: no file, the name in brackets.
  run.t.files.clear();
  run.t.BeginDownload();
  run.t.fUpload = true;
  run.t.ProtocolSetFileName("(ｸﾘｯﾌﾟﾎﾞｰﾄﾞ)");
  auto engine = MakeTextUpload(run.t);
  TRANSFERLOOPHOOKS hooks;
  hooks.afterPass = [&] {
    unsigned char buf[256];
    const size_t n = run.host->Read(buf, sizeof buf);
    run.got.append(reinterpret_cast<char*>(buf), n);
    const std::string e = PtyEcho(std::string(reinterpret_cast<char*>(buf), n));
    run.host->Write(e.data(), e.size());
  };
  EXPECT_TRUE(RunTransferLoop(run.t, *engine, hooks));
  EXPECT_EQ(run.got, S("クリップボード\r"));
  EXPECT_TRUE(ReadWholeFile(run.dir.File("TRANHIST.TXT")).empty());
}

}  // namespace
