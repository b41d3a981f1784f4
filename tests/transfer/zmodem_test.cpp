// ZMODEM engines against each other in memory and against lrzsz through
// quillnet-tool; the names, figures and history the framework keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"
#include "transfer/figures.h"
#include "transfer/history.h"
#include "transfer/names.h"
#include "transfer/transfer.h"
#include "transfer/zmodem.h"

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

bool Exists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

std::vector<std::string> Listing(const std::string& dir) {
  auto r = RunProcess({"ls", "-A", dir}, "");
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < r.out.size()) {
    const size_t nl = r.out.find('\n', pos);
    out.push_back(r.out.substr(pos, nl - pos));
    pos = nl == std::string::npos ? r.out.size() : nl + 1;
  }
  return out;
}

// A sender and a receiver pumped in turn over a memory pair.
struct Pair {
  std::unique_ptr<MEMORYLINE> a, b;
  TRANSFER up, down;
  std::unique_ptr<PROTOCOLENGINE> sender, receiver;
  bool upDone = false, downDone = false;

  Pair(const std::vector<std::string>& files, const std::string& dir, DOWNMODE mode = DM_RENAME) {
    std::tie(a, b) = MEMORYLINE::MakePair(65536);
    a->UseManualClock();
    up.protocol = down.protocol = PROTOCOL_ZMODEM;
    up.line = a.get();
    down.line = b.get();
    up.files = files;
    down.opt.downloadDir = dir;
    down.opt.mode = mode;
    down.BeginDownload();
  }
  bool Start() {
    if (!up.BeginUpload()) return false;
    sender = MakeZmodemUpload(up);
    receiver = MakeZmodemDownload(down);
    return true;
  }
  // Runs both until they end (or a step limit); idle rounds advance the clock.
  void Run(int maxSteps = 2000000, const std::function<void(int)>& each = nullptr) {
    for (int i = 0; i < maxSteps && !(upDone && downDone); ++i) {
      STEPRESULT r1 = STEP_DONE, r2 = STEP_DONE;
      if (!upDone) upDone = (r1 = sender->Step()) == STEP_DONE;
      if (!downDone) downDone = (r2 = receiver->Step()) == STEP_DONE;
      if (r1 != STEP_BUSY && r2 != STEP_BUSY) a->Advance(5);
      if (each) each(i);
    }
  }
};

}  // namespace

TEST(TransferNames, ReceivedNamesBecomePlainNames) {
  const struct {
    std::string wire, want;
  } cases[] = {
      {"../../x", "x"},
      {"/etc/passwd", "passwd"},
      {"a\\..\\b", "b"},
      {"C:\\x", "x"},
      {"", ""},
      {"..", ""},
      {".", ""},
      {"dir/..", ""},
      {"a\x01" "b\x7f", "a_b_"},
      {"\x95\x5c.txt", "表.txt"},          // 0x5C as a trail byte is no separator
      {"x\\\x95\x5c", "表"},
      {"a\x80" "b", "a_b"},                 // neither CP932 nor UTF-8: "_"
      {"\x81\x20z", "_ z"},               // a bad pair: "_" and the rest
      {"Report.TXT", "Report.TXT"},       // case kept
  };
  for (const auto& c : cases) EXPECT_EQ(ReceivedNameToFile(c.wire), c.want) << c.wire;
}

TEST(TransferNames, SentNamesAndLists) {
  std::string w;
  EXPECT_TRUE(SendNameForPath("/tmp/d/表.txt", &w));
  EXPECT_EQ(w, "\x95\x5c.txt");
  EXPECT_FALSE(SendNameForPath("/tmp/d/\xf0\x9f\x98\x80.txt", &w));  // no CP932 form
  EXPECT_TRUE(w.empty());
  EXPECT_EQ(SplitNameList("a b  \"c d\" e"), (std::vector<std::string>{"a", "b", "c d", "e"}));
  TempDir dir;
  EXPECT_EQ(SpareName(dir.Path()), "TEMP.000");
  WriteWholeFile(dir.File("TEMP.000"), "x");
  WriteWholeFile(dir.File("TEMP.001.part"), "x");
  EXPECT_EQ(SpareName(dir.Path()), "TEMP.002");
}

TEST(TransferFigures, RateFromTheThirdSecondAndTheEstimate) {
  TRANSFERSTATS s;
  s.total = 100000;
  s.startTick = 1000;
  s.counting = true;
  s.firstTick = 1000;
  s.base = 1000;
  s.processed = 1000;
  TRANSFERFIGURES f = ProtocolFigures(s, 2999, 0);
  EXPECT_EQ(f.rate, "");
  EXPECT_EQ(f.processed, "1000 (1%)");
  EXPECT_EQ(f.time, "00:00:01");
  s.processed = 31000;  // 30000 moved in 3 s: 10000 a second; 69000 left: 6.9 s
  f = ProtocolFigures(s, 4000, 0);
  EXPECT_EQ(f.rate, "10000");
  EXPECT_EQ(f.estimate, " 0秒");
  s.total = 1000000;  // 969000 left: 96 s -> 1 minute, tens digit 3
  f = ProtocolFigures(s, 4000, 0);
  EXPECT_EQ(f.estimate, "1分30秒");
  s.resume = 500000;  // remaining = total - resume - processed
  f = ProtocolFigures(s, 4000, 0);
  EXPECT_EQ(f.processed, "531000 (53%)");
  EXPECT_EQ(f.estimate, "40秒");
}

// An upload's figures count what the line has taken: bytes still queued for
// the writer are neither processed nor part of the rate; a download ignores
// the queue (its answers are not file bytes).
TEST(TransferFigures, AnUploadShowsWhatTheLineHasTaken) {
  struct ROW {
    bool upload;
    long long processed, queued;
    const char* shown;
    const char* rate;
  };
  const ROW rows[] = {
      {true, 31000, 0, "31000 (31%)", "10000"},
      {true, 31000, 3000, "28000 (28%)", "9000"},
      {true, 2000, 4096, "0 (0%)", "0"},  // a conversion grew the queued bytes: never below 0
      {false, 31000, 3000, "31000 (31%)", "10000"},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(std::to_string(r.processed) + (r.upload ? " up" : " down") + " queued " + std::to_string(r.queued));
    TRANSFERSTATS s;
    s.upload = r.upload;
    s.total = 100000;
    s.startTick = s.firstTick = 1000;
    s.counting = true;
    s.base = 1000;
    s.processed = r.processed;
    const TRANSFERFIGURES f = ProtocolFigures(s, 4000, r.queued);
    EXPECT_EQ(f.processed, r.shown);
    EXPECT_EQ(f.rate, r.rate);
  }
}

TEST(TransferHistory, LinesAndTheEndRepair) {
  setenv("TZ", "UTC", 1);
  tzset();
  const time_t when = 1765366800;  // 2025-12-10 11:40 UTC, a Wednesday
  const std::string line = FormatHistoryLine("a.bin", 1234, false, when, "ホスト", "ZMODEM", 99);
  EXPECT_EQ(line, "a.bin\t1234B\tDown\t2025.12.10(水) 11:40\tホスト\tZMODEM\t99Byte/秒\r\n");
  TempDir dir;
  WriteWholeFile(dir.File("TRANHIST.TXT"), "old line\x1a");
  ASSERT_TRUE(AppendHistory(dir.Path(), line));
  EXPECT_EQ(ReadWholeFile(dir.File("TRANHIST.TXT")), "old line\r\n" + line);
  // A CP932 line of an older file reads as CP932.
  const auto h = ParseHistory("\x95\x5c\t1B\tUp\r\n" + line);
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0].name, "表");
  EXPECT_EQ(h[1].protocol, "ZMODEM");
  ASSERT_TRUE(DeleteHistoryLines(dir.Path(), {0}, false));
  EXPECT_EQ(ReadWholeFile(dir.File("TRANHIST.TXT")), line);
}

TEST(Zmodem, TheZrinitThisSideSendsIsByteExact) {
  auto [a, b] = MEMORYLINE::MakePair();
  TRANSFER t;
  t.line = a.get();
  t.BeginDownload();
  auto engine = MakeZmodemAutoDownload(t);
  engine->Step();
  unsigned char buf[64];
  const size_t n = b->Read(buf, sizeof buf);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), std::string("**\x18" "B0100000007dab6\r\n\x11"));
}

TEST(Zmodem, SenderAndReceiverInMemory) {
  TempDir src, dst;
  const std::string big = RandomBytes(200000, 1);
  // "@" then CR must be escaped; 0x18, 0x11, 0x13 and their high forms too.
  const std::string tricky = std::string("@\r@\x8d\x18\x11\x13\x91\x93\x10\x90\xff\x7f", 13);
  WriteWholeFile(src.File("big.bin"), big);
  WriteWholeFile(src.File("empty"), "");
  WriteWholeFile(src.File("表.txt"), tricky);
  Pair p({src.File("big.bin"), src.File("empty"), src.File("表.txt")}, dst.Path());
  ASSERT_TRUE(p.Start());
  p.Run();
  ASSERT_TRUE(p.upDone && p.downDone);
  EXPECT_EQ(TransferOutcome(p.up), 0);
  EXPECT_EQ(TransferOutcome(p.down), 0);
  EXPECT_TRUE(ReadWholeFile(dst.File("big.bin")) == big);
  EXPECT_TRUE(Exists(dst.File("empty")));
  EXPECT_EQ(ReadWholeFile(dst.File("表.txt")), tricky);
  EXPECT_EQ(p.down.history.size(), 3u);
  EXPECT_EQ(p.up.history.size(), 3u);
}

// The sender's file time reaches the received file only when asked for.
TEST(Zmodem, ReceivedTimesOnlyWithSaveTimeStamp) {
  const long long kWhen = 1000000000;  // 2001-09-09 01:46:40 UTC
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "saveTimeStamp" : "no saveTimeStamp");
    TempDir src, dst;
    WriteWholeFile(src.File("t.txt"), "dated");
    ASSERT_TRUE(ApplyReceivedTime(src.File("t.txt"), kWhen));
    Pair p({src.File("t.txt")}, dst.Path());
    p.down.opt.saveTimeStamp = save;
    ASSERT_TRUE(p.Start());
    p.Run();
    ASSERT_EQ(TransferOutcome(p.down), 0);
    struct stat st {};
    ASSERT_EQ(::stat(dst.File("t.txt").c_str(), &st), 0);
    if (save)
      EXPECT_EQ(st.st_mtime, kWhen);
    else
      EXPECT_GT(st.st_mtime, kWhen + 3600LL * 24 * 365 * 20);  // written now, not 2001
  }
}

// A line that spoils about one byte in 2000 of the data direction, at
// scattered places (a periodic pattern could hit every resend at the same
// spot).  The file's time is part of the file information, so each row's time
// moves every later byte and the damage lands elsewhere; the first rows spoil
// the end of the last subpacket, which then runs on into the sender's ZEOF.
TEST(Zmodem, NoiseIsRepairedByZrpos) {
  const std::string data = RandomBytes(300000, 2);
  for (const long long mtime : {1700000014LL, 1700000036LL, 1700000054LL, 1700000104LL, 1700000001LL, 1700000002LL}) {
    SCOPED_TRACE(mtime);
    TempDir src, dst;
    WriteWholeFile(src.File("n.bin"), data);
    ASSERT_TRUE(ApplyReceivedTime(src.File("n.bin"), mtime));
    Pair p({src.File("n.bin")}, dst.Path());
    p.a->SetDamage([](std::uint8_t c, std::uint64_t i) -> std::uint8_t {
      return (i * 0x9E3779B97F4A7C15ull) >> 52 < 2 ? c ^ 0x21 : c;  // 2 in 4096
    });
    ASSERT_TRUE(p.Start());
    p.Run();
    ASSERT_TRUE(p.upDone && p.downDone);
    EXPECT_EQ(TransferOutcome(p.up), 0);
    EXPECT_EQ(TransferOutcome(p.down), 0);
    EXPECT_TRUE(ReadWholeFile(dst.File("n.bin")) == data);
    EXPECT_GT(p.down.stats.retries + p.up.stats.retries, 0);
  }
}

// A host's stream whose first data subpacket lost its end (the ZDLE before
// ZCRCE spoiled) and runs on into ZEOF; the host then sends the data again
// from 0.  The receiver must take the ZEOF inside the data as a header, ask
// again, and end with the whole file (the fixture is also a fuzz seed).
TEST(Zmodem, ASpoiledSubpacketEndStopsAtTheNextHeader) {
  const std::string stream = ReadWholeFile(std::string(QUILLNET_SOURCE_DIR) + "/tests/fuzz/corpus/fuzz_zmodem/spoiled_end");
  ASSERT_FALSE(stream.empty());
  TempDir dst;
  auto [host, us] = MEMORYLINE::MakePair(1 << 20);
  host->UseManualClock();
  TRANSFER t;
  t.line = us.get();
  t.opt.downloadDir = dst.Path();
  t.BeginDownload();
  auto r = MakeZmodemDownload(t);
  host->Write(stream.data(), stream.size());
  for (int i = 0; i < 1000 && r->Step() != STEP_DONE; ++i) host->Advance(10);
  ASSERT_TRUE(t.fEnd);
  EXPECT_EQ(TransferOutcome(t), 0);
  std::string want;
  for (int i = 0; i < 100; ++i) want.push_back(static_cast<char>((i * 37) & 0xFF));
  EXPECT_EQ(ReadWholeFile(dst.File("a.bin")), want);
  EXPECT_EQ(t.stats.retries, 1);
}

// With every control character escaped, "*" ZDLE "A" is plain data ("*" and
// 0x01); the receiver must not take it for a header that cut the subpacket.
TEST(Zmodem, HeaderLikeDataIsNotAHeader) {
  std::string data;
  for (int i = 0; i < 3000; ++i) {
    data += "*\x01";
    data += static_cast<char>(i);
    data += "**\x02" "0123456789abcd";
    data += static_cast<char>(i >> 8);
  }
  TempDir src, dst;
  WriteWholeFile(src.File("h.bin"), data);
  Pair p({src.File("h.bin")}, dst.Path());
  p.up.opt.maskCtrl = true;
  ASSERT_TRUE(p.Start());
  p.Run();
  ASSERT_TRUE(p.upDone && p.downDone);
  EXPECT_EQ(TransferOutcome(p.down), 0);
  EXPECT_TRUE(ReadWholeFile(dst.File("h.bin")) == data);
  EXPECT_EQ(p.down.stats.retries + p.up.stats.retries, 0);
}

TEST(Zmodem, FailuresLeaveNoFinalFileAndNoSuccess) {
  enum { CUT, CANS, STOP };
  for (int kind : {CUT, CANS, STOP}) {
    TempDir src, dst;
    WriteWholeFile(src.File("f.bin"), RandomBytes(400000, 3));
    Pair p({src.File("f.bin")}, dst.Path());
    ASSERT_TRUE(p.Start());
    p.Run(2000000, [&](int) {
      if (p.down.stats.processed < 100000) return;
      if (kind == CUT) p.a->Cut();
      if (kind == STOP) p.down.fStopProtocol = true;
      if (kind == CANS && !p.upDone) {
        p.upDone = true;  // the sender goes away after five CANs
        static const char cans[] = "\x18\x18\x18\x18\x18";
        p.a->Write(cans, 5);
      }
    });
    if (kind == CUT) p.down.fHangupOnProtocol = p.down.line->Lost();
    EXPECT_TRUE(p.downDone) << kind;
    EXPECT_NE(TransferOutcome(p.down), 0) << kind;
    if (kind == CANS) {
      EXPECT_EQ(p.down.protocolerror, PE_CANCELLED);
    }
    EXPECT_FALSE(Exists(dst.File("f.bin"))) << kind;
    EXPECT_TRUE(Exists(dst.File("f.bin.part"))) << kind;
  }
}

TEST(Zmodem, FourCansAndALetterDoNotCancel) {
  TempDir dst;
  auto [a, b] = MEMORYLINE::MakePair();
  TRANSFER t;
  t.line = b.get();
  t.opt.downloadDir = dst.Path();
  t.BeginDownload();
  auto r = MakeZmodemDownload(t);
  a->Write("\x18\x18\x18\x18x", 5);
  for (int i = 0; i < 10; ++i) r->Step();
  EXPECT_EQ(t.protocolerror, PE_OK);
  a->Write("\x18\x18\x18\x18\x18", 5);
  for (int i = 0; i < 10; ++i) r->Step();
  EXPECT_EQ(t.protocolerror, PE_CANCELLED);
}

TEST(Zmodem, ResumeAppendsFromTheExistingLength) {
  TempDir src, dst;
  const std::string data = RandomBytes(50000, 4);
  WriteWholeFile(src.File("r.bin"), data);
  WriteWholeFile(dst.File("r.bin.part"), data.substr(0, 1000));
  Pair p({src.File("r.bin")}, dst.Path(), DM_RESUME);
  ASSERT_TRUE(p.Start());
  p.Run();
  EXPECT_EQ(TransferOutcome(p.down), 0);
  EXPECT_EQ(p.down.stats.resume, 1000);
  EXPECT_EQ(p.down.stats.processed, 49000);
  EXPECT_TRUE(ReadWholeFile(dst.File("r.bin")) == data);
  EXPECT_FALSE(Exists(dst.File("r.bin.part")));
}

TEST(Zmodem, ADeclinedFileIsSkippedAndNeverSuccess) {
  TempDir src, dst;
  WriteWholeFile(src.File("d.bin"), "new");
  WriteWholeFile(dst.File("d.bin"), "old");
  Pair p({src.File("d.bin")}, dst.Path(), DM_CANCEL);
  ASSERT_TRUE(p.Start());
  p.Run();
  ASSERT_TRUE(p.upDone && p.downDone);
  EXPECT_EQ(TransferOutcome(p.down), 20);
  EXPECT_EQ(p.up.protocolerror, PE_CANCELLED);  // the sender's file was skipped
  EXPECT_EQ(ReadWholeFile(dst.File("d.bin")), "old");
}

TEST(Zmodem, AMissingNameInTheListSendsNothing) {
  TempDir src, dst;
  WriteWholeFile(src.File("a"), "a");
  Pair p({src.File("a"), src.File("missing")}, dst.Path());
  EXPECT_FALSE(p.Start());
  EXPECT_EQ(p.up.protocolerror, PE_NOTFOUND);
}

// ---- against lrzsz, through the tool ------------------------------------------------

namespace {

int Shell(const std::string& script, int timeoutMs = 120000) {
  const auto r = RunProcessWithin({"sh", "-c", script}, "", timeoutMs);
  if (r.status != 0) std::fprintf(stderr, "%s\n", r.err.c_str());
  return r.timedOut ? -1 : r.status;
}

}  // namespace

TEST(ZmodemLrzsz, BothDirectionsOverASocketPair) {
  TempDir d;
  const std::string data = RandomBytes(3 << 20, 5);
  mkdir(d.File("src").c_str(), 0755);
  mkdir(d.File("dst").c_str(), 0755);
  mkdir(d.File("back").c_str(), 0755);
  WriteWholeFile(d.File("src/表x.bin"), data);
  WriteWholeFile(d.File("src/zero"), "");
  const std::string tool = QUILLNET_TOOL_PATH;
  // sz -> us (the Japanese name travels as Shift_JIS: sz sends the bytes
  // of its argument, so it gets the Shift_JIS name on its disk).
  const std::string sjisName = "\x82\xa0x.bin";  // "あx.bin" (socat reads a 0x5C as an escape)
  WriteWholeFile(d.File("src/" + sjisName), data);
  ASSERT_EQ(Shell("cd '" + d.File("src") + "' && socat EXEC:\"sz -q " + sjisName + " zero\" EXEC:\"" + tool +
                  " receive --protocol zmodem --dir " + d.File("dst") + " --history " + d.Path() + "\""),
            0);
  EXPECT_TRUE(ReadWholeFile(d.File("dst/あx.bin")) == data);
  EXPECT_TRUE(Exists(d.File("dst/zero")));
  EXPECT_NE(ReadWholeFile(d.File("TRANHIST.TXT")).find("あx.bin\t3145728B\tDown\t"), std::string::npos);
  // us -> rz ("あ" = 0x82 0xA0: rz itself takes a 0x5C trail byte for a
  // directory separator, so "表" is not used this way).
  WriteWholeFile(d.File("src/あ.bin"), data);
  ASSERT_EQ(Shell("cd '" + d.File("back") + "' && socat EXEC:\"" + tool + " send --protocol zmodem " +
                  d.File("src/あ.bin") + "\" EXEC:\"rz -q\""),
            0);
  EXPECT_TRUE(ReadWholeFile(d.File("back/\x82\xa0.bin")) == data);
}

TEST(ZmodemLrzsz, ResumeAfterTheSenderWasKilled) {
  TempDir d;
  const std::string data = RandomBytes(8 << 20, 6);
  mkdir(d.File("dst").c_str(), 0755);
  WriteWholeFile(d.File("r.bin"), data);
  const std::string tool = QUILLNET_TOOL_PATH;
  // A first run that keeps only part: the receiver's part file is cut to
  // 40% as a killed transfer leaves it.
  WriteWholeFile(d.File("dst/r.bin.part"), data.substr(0, data.size() * 4 / 10));
  ASSERT_EQ(Shell("cd '" + d.Path() + "' && socat EXEC:\"sz -q -r r.bin\" EXEC:\"" + tool +
                  " receive --protocol zmodem --mode resume --dir " + d.File("dst") + "\""),
            0);
  EXPECT_TRUE(ReadWholeFile(d.File("dst/r.bin")) == data);
  // A killed receive leaves NAME.part and exits non-zero.
  TempDir e;
  const int st = Shell("cd '" + d.Path() + "' && timeout -s KILL 0.3 socat EXEC:\"sz -q r.bin\" EXEC:\"" + tool +
                       " receive --protocol zmodem --dir " + e.Path() + "\"; exit 0");
  EXPECT_EQ(st, 0);
  EXPECT_FALSE(Exists(e.File("r.bin")) && ReadWholeFile(e.File("r.bin")) != data);
}

TEST(ZmodemLrzsz, HostileNamesLandInTheDirectory) {
  TempDir d;
  mkdir(d.File("dst").c_str(), 0755);
  mkdir(d.File("sentinel").c_str(), 0755);
  const std::string tool = QUILLNET_TOOL_PATH;
  // rz's peer here is our receiver; sz cannot send "../" names, so our own
  // sender is made to send them through the engine in memory instead.
  const std::string names[] = {"../../x", "/etc/passwd", "a\\..\\b", "C:\\x", "..", std::string(600, 'n')};
  for (const std::string& wire : names) {
    auto [a, b] = MEMORYLINE::MakePair();
    TRANSFER t;
    t.line = b.get();
    t.opt.downloadDir = d.File("dst");
    t.opt.mode = DM_RENAME;
    t.BeginDownload();
    ASSERT_EQ(t.ProtocolOpenDownFile(wire, 1, true), OD_OPEN) << wire;
    ASSERT_TRUE(t.ProtocolWriteDown("z", 1));
    ASSERT_TRUE(t.ProtocolFinishDownFile());
    EXPECT_EQ(t.down.finalPath.rfind(d.File("dst") + "/", 0), 0u) << wire;
    EXPECT_EQ(t.down.finalPath.find('/', d.File("dst").size() + 1), std::string::npos) << wire;
  }
  EXPECT_TRUE(Listing(d.File("sentinel")).empty() || Listing(d.File("sentinel"))[0].empty());
  EXPECT_FALSE(Exists(d.Path() + "/x"));
  EXPECT_EQ(Listing(d.File("dst")).size(), 6u);
  (void)tool;
}

TEST(ZmodemLrzsz, ToolUsageAndMissingFile) {
  const std::string tool = QUILLNET_TOOL_PATH;
  EXPECT_EQ(Shell(tool + " send --protocol nosuch x 2>/dev/null"), 64);
  EXPECT_EQ(Shell(tool + " send --protocol zmodem /nonexistent/file </dev/null >/dev/null 2>&1"), PE_NOTFOUND);
}
