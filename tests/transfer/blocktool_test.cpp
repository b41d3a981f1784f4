// quillnet-tool send and receive on a pty line (--line, the program's port)
// against a peer behind socat on the pty's other end: our own tool on its
// standard input and output, or lrzsz.  Whole files are compared by sha256;
// failures must end non-zero with no history line and no file under the
// final name.  Also the YMODEM receiver inside the framework against hostile
// names in memory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"
#include "transfer/blockfiles.h"
#include "transfer/names.h"
#include "transfer/transfer.h"
#include "transfer/xmodem.h"
#include "transfer/zmodem.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;
using Clock = std::chrono::steady_clock;

std::string Random(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

std::string Sha(const std::string& path) {
  const std::string out = RunProcess({"sha256sum", path}, "").out;
  return out.size() >= 64 ? out.substr(0, 64) : "missing " + path;
}

bool Exists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

long long Size(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_size : -1;
}

std::vector<std::string> Listing(const std::string& dir) {
  const std::string out = RunProcess({"ls", "-A", dir}, "").out;
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t nl = out.find('\n', pos);
    names.push_back(out.substr(pos, nl - pos));
    pos = nl == std::string::npos ? out.size() : nl + 1;
  }
  return names;
}

// A program started in the background (standard input and output on
// /dev/null, standard error into a file), so the test can watch its files
// and signal it while it runs.
class Spawned {
 public:
  explicit Spawned(const std::vector<std::string>& argv) {
    errPath = dir.File("stderr");
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const int nul = open("/dev/null", O_RDWR);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(nul, 0);
      dup2(nul, 1);
      dup2(err, 2);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Spawned() {
    if (pid > 0) {
      kill(-pid, SIGKILL);
      Wait(10000);
    }
  }
  void Signal(int sig) {
    if (pid > 0) kill(pid, sig);
  }
  // The exit status, or -1 when it did not end within ms (it is killed then).
  int Wait(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    int st = 0;
    for (;;) {
      const pid_t r = waitpid(pid, &st, WNOHANG);
      if (r == pid) break;
      if (r < 0 || Clock::now() >= end) {
        kill(-pid, SIGKILL);
        waitpid(pid, &st, 0);
        pid = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  std::string Err() const { return ReadWholeFile(errPath); }

 private:
  TempDir dir;
  std::string errPath;
  pid_t pid = -1;
};

// Polls until pred holds or ms pass.
template <typename F>
bool WaitFor(F pred, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The peer's script: cmd runs in the peer directory, its status goes to
// peer.rc there.
std::string PeerScript(const std::string& cmd) {
  return "cd \"$PEER_DIR\" && mkdir -p got && " + cmd + " 2>\"$PEER_DIR/peer.err\"; echo $? >\"$PEER_DIR/peer.rc\"\n";
}

int PeerStatus(PtyPeer& peer) {
  const std::string rc = ReadWholeFile(peer.File("peer.rc"));
  return rc.empty() ? -1 : std::atoi(rc.c_str());
}

FullProcessResult Tool(std::vector<std::string> args, int ms = 120000) {
  args.insert(args.begin(), kTool);
  return RunProcessWithin(args, "", ms);
}

struct FILESPEC {
  std::string name;  // UTF-8 on our disk
  size_t size;
};

}  // namespace

// Our sender against our receiver for every protocol: the sender on the pty
// line (the program's port), the receiver on the peer's standard input and
// output.  A Japanese name goes as Shift_JIS and lands as UTF-8.
TEST(ToolOverPty, OurSenderWithOurReceiverEveryProtocol) {
  struct Row { std::string word; bool flying; std::vector<FILESPEC> files; };
  const std::vector<FILESPEC> batch = {{"empty", 0}, {"one", 1}, {"表の名.bin", 128 * 77}};
  const std::vector<Row> rows = {
      {"xmodem", false, {{"x.bin", 20000}}},
      {"xmodemcrc", false, {{"x.bin", 20000}}},
      {"xmodem1k", false, {{"x.bin", 300 * 1024 + 5}}},
      {"xmodem1k", true, {{"x.bin", 100 * 1024}}},
      {"ymodem", false, {{"表.txt", 70000}}},
      {"ymodemg", false, {{"表.txt", 70000}}},
      {"ymodembatch", false, batch},
      {"ymodemgbatch", false, batch},
      {"zmodem", false, batch},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word + (row.flying ? " flying" : ""));
    TempDir src;
    std::vector<std::string> args = {"send", "--protocol", row.word};
    if (row.flying) args.push_back("--flying");
    for (size_t k = 0; k < row.files.size(); ++k) {
      ASSERT_TRUE(WriteWholeFile(src.File(row.files[k].name), Random(row.files[k].size, static_cast<unsigned>(k + 3))));
      args.push_back(src.File(row.files[k].name));
    }
    const bool xmodem = row.word.rfind("xmodem", 0) == 0;
    PtyPeer peer(PeerScript(kTool + " receive --protocol " + row.word + (row.flying ? " --flying" : "") +
                            " --dir got --history ." + (xmodem ? " got/recv.bin" : "")));
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;
    args.insert(args.begin() + 3, {"--line", peer.Device(), "--history", src.Path()});
    const auto r = Tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(peer.WaitExit(20000));
    EXPECT_EQ(PeerStatus(peer), 0) << ReadWholeFile(peer.File("peer.err"));
    for (const FILESPEC& f : row.files) {
      if (xmodem) {
        // XMODEM carries no length: the file comes padded to whole blocks.
        const std::string got = ReadWholeFile(peer.File("got/recv.bin"));
        const std::string want = ReadWholeFile(src.File(f.name));
        ASSERT_GE(got.size(), want.size());
        EXPECT_TRUE(got.substr(0, want.size()) == want);
        EXPECT_EQ(got.substr(want.size()), std::string(got.size() - want.size(), 0x1A));
      } else {
        EXPECT_EQ(Sha(peer.File("got/" + f.name)), Sha(src.File(f.name))) << f.name;
      }
    }
    // One history line per file on each side.
    const std::string sent = ReadWholeFile(src.File("TRANHIST.TXT"));
    const std::string received = ReadWholeFile(peer.File("TRANHIST.TXT"));
    for (const FILESPEC& f : row.files) {
      EXPECT_NE(sent.find(f.name + "\t" + std::to_string(f.size) + "B\tUp\t"), std::string::npos) << sent;
      if (!xmodem) {
        EXPECT_NE(received.find(f.name + "\t"), std::string::npos) << received;
      }
    }
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), static_cast<long>(row.files.size()));
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), static_cast<long>(row.files.size()));
  }
}

// lrzsz on the peer's side with Japanese names: Shift_JIS on the wire (the
// peer's disk holds the Shift_JIS bytes), UTF-8 on ours.  rz and rb take a
// 0x5C trail byte for a directory separator, so "あ" (0x82 0xA0) goes that way.
TEST(ToolOverPty, LrzszJapaneseNames) {
  const std::string data = Random(150000, 21);
  struct Row { std::string word; bool up; std::string peerCmd; std::string ours, theirs; };
  const Row rows[] = {
      {"ymodembatch", false, "sb -k", "表.txt", "\x95\x5c.txt"},
      {"ymodemgbatch", false, "sb -k", "表.txt", "\x95\x5c.txt"},
      {"zmodem", false, "sz -q", "表.txt", "\x95\x5c.txt"},
      {"ymodembatch", true, "cd got && rb", "あ.bin", "\x82\xa0.bin"},
      {"zmodem", true, "cd got && rz -q", "あ.bin", "\x82\xa0.bin"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word + (row.up ? " up" : " down"));
    TempDir ours;
    std::string cmd = row.peerCmd;
    if (!row.up) cmd += " '" + row.theirs + "'";
    PtyPeer peer(PeerScript(cmd));
    if (row.up) ASSERT_TRUE(WriteWholeFile(ours.File(row.ours), data));
    else ASSERT_TRUE(WriteWholeFile(peer.File(row.theirs), data));
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;
    const auto r = row.up ? Tool({"send", "--protocol", row.word, "--line", peer.Device(), ours.File(row.ours)})
                          : Tool({"receive", "--protocol", row.word, "--line", peer.Device(), "--dir", ours.Path()});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(peer.WaitExit(20000));
    EXPECT_EQ(PeerStatus(peer), 0) << ReadWholeFile(peer.File("peer.err"));
    const std::string got = row.up ? peer.File("got/" + row.theirs) : ours.File(row.ours);
    EXPECT_TRUE(ReadWholeFile(got) == data) << got;
  }
}

// A ZMODEM transfer whose sender is killed at 40% is resumed by a second run
// ("sz -r" into our receiver with --mode resume; our sender into "rz -r"):
// only the rest moves, and the file is whole.
TEST(ToolOverPty, ZmodemResumeAfterTheSenderIsKilled) {
  const size_t kSize = 48 << 20;
  const std::string data = Random(kSize, 31);
  const long long cut = static_cast<long long>(kSize) * 4 / 10;
  {
    SCOPED_TRACE("sz -> us");
    TempDir ours;
    PtyPeer first(PeerScript("sz -q r.bin"));
    ASSERT_TRUE(WriteWholeFile(first.File("r.bin"), data));
    std::string err;
    ASSERT_TRUE(first.Start(&err)) << err;
    {
      Spawned rx({kTool, "receive", "--protocol", "zmodem", "--line", first.Device(), "--dir", ours.Path()});
      ASSERT_TRUE(WaitFor([&] { return Size(ours.File("r.bin.part")) >= cut; }, 60000));
      first.Stop();  // sz and socat die; the line goes away under our receiver
      EXPECT_NE(rx.Wait(70000), 0) << rx.Err();
    }
    ASSERT_FALSE(Exists(ours.File("r.bin")));
    const long long kept = Size(ours.File("r.bin.part"));
    ASSERT_GE(kept, cut);
    ASSERT_LT(kept, static_cast<long long>(kSize));
    PtyPeer again(PeerScript("sz -q -r r.bin"));
    ASSERT_TRUE(WriteWholeFile(again.File("r.bin"), data));
    ASSERT_TRUE(again.Start(&err)) << err;
    const auto r = Tool({"receive", "--protocol", "zmodem", "--line", again.Device(), "--dir", ours.Path(), "--mode",
                         "resume", "--debug-log", ours.File("trace.log")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadWholeFile(ours.File("r.bin")) == data);
    EXPECT_FALSE(Exists(ours.File("r.bin.part")));
    // The data began where the kept part ended.
    const std::string trace = ReadWholeFile(ours.File("trace.log"));
    EXPECT_NE(trace.find("received ZDATA fileoffset = " + std::to_string(kept)), std::string::npos);
    EXPECT_EQ(trace.find("received ZDATA fileoffset = 0\r"), std::string::npos);
  }
  {
    SCOPED_TRACE("us -> rz");
    TempDir ours;
    ASSERT_TRUE(WriteWholeFile(ours.File("r.bin"), data));
    PtyPeer first(PeerScript("cd got && rz -q"));
    std::string err;
    ASSERT_TRUE(first.Start(&err)) << err;
    {
      Spawned tx({kTool, "send", "--protocol", "zmodem", "--line", first.Device(), ours.File("r.bin")});
      ASSERT_TRUE(WaitFor([&] { return Size(first.File("got/r.bin")) >= cut; }, 60000));
      tx.Signal(SIGKILL);
      tx.Wait(10000);
    }
    // The line is gone with the sender; rz would wait for its own time-outs.
    first.Stop();
    const long long kept = Size(first.File("got/r.bin"));
    ASSERT_GE(kept, cut);
    ASSERT_LT(kept, static_cast<long long>(kSize));
    // The second rz works in the first one's directory, on its part.
    PtyPeer again(PeerScript("cd '" + first.File("got") + "' && rz -q -r"));
    ASSERT_TRUE(again.Start(&err)) << err;
    const auto r = Tool({"send", "--protocol", "zmodem", "--line", again.Device(), "--debug-log", ours.File("trace.log"),
                         ours.File("r.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(again.WaitExit(20000));
    EXPECT_EQ(Sha(first.File("got/r.bin")), Sha(ours.File("r.bin")));
    const std::string trace = ReadWholeFile(ours.File("trace.log"));
    const size_t at = trace.find("Upload restarted. offset = ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(std::atoll(trace.c_str() + at + 27), 0);
  }
}

// 1 MiB over a line that spoils bytes now and then (the peer's --noise, on
// what it receives and what it sends): every protocol that retries delivers
// the identical file; YMODEM-g and flying XMODEM cannot retry and must fail
// on both sides, leaving no file under the final name.
TEST(ToolOverPty, NoiseIsRepairedOrFailsCleanly) {
  const std::string data = Random(1 << 20, 41);
  struct Row { std::string word; bool flying; bool retries; };
  const Row rows[] = {
      {"xmodem", false, true},      {"xmodemcrc", false, true},   {"xmodem1k", false, true},
      {"ymodem", false, true},      {"ymodembatch", false, true}, {"zmodem", false, true},
      {"ymodemgbatch", false, false}, {"ymodemg", false, false},  {"xmodem1k", true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word + (row.flying ? " flying" : ""));
    TempDir ours;
    ASSERT_TRUE(WriteWholeFile(ours.File("n.bin"), data));
    const bool xmodem = row.word.rfind("xmodem", 0) == 0;
    PtyPeer peer(PeerScript(kTool + " receive --noise=7 --protocol " + row.word +
                            (row.flying ? " --flying" : "") + " --dir got --history ." + (xmodem ? " got/n.bin" : "")));
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;
    std::vector<std::string> args = {"send", "--protocol", row.word, "--line", peer.Device(), "--history", ours.Path()};
    if (row.flying) args.push_back("--flying");
    args.push_back(ours.File("n.bin"));
    const auto r = Tool(args, 240000);
    ASSERT_TRUE(peer.WaitExit(70000));
    const int peerStatus = PeerStatus(peer);
    if (row.retries) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(peerStatus, 0) << ReadWholeFile(peer.File("peer.err"));
      const std::string got = ReadWholeFile(peer.File("got/n.bin"));
      ASSERT_GE(got.size(), data.size());
      EXPECT_TRUE(got.substr(0, data.size()) == data);
      EXPECT_FALSE(Exists(peer.File("got/n.bin.part")));
    } else {
      EXPECT_NE(r.status, 0);
      EXPECT_NE(peerStatus, 0);
      EXPECT_FALSE(Exists(peer.File("got/n.bin")));
      EXPECT_FALSE(Exists(ours.File("TRANHIST.TXT")));
      EXPECT_FALSE(Exists(peer.File("TRANHIST.TXT")));
    }
  }
}

namespace {

std::string* gRecord = nullptr;

std::uint8_t Record(std::uint8_t c, std::uint64_t) {
  gRecord->push_back(static_cast<char>(c));
  return c;
}

// The first bytes a sender of the protocol sends for f.bin holding data, as
// they go on the line when nothing goes wrong.  The block protocols' packets
// are built here; ZMODEM's stream is recorded from our sender in memory.
std::string SenderStream(const std::string& word, const std::string& data, size_t blocks) {
  std::string out;
  if (word == "zmodem") {
    TempDir src, dst;
    WriteWholeFile(src.File("f.bin"), data);
    auto [a, b] = MEMORYLINE::MakePair(65536);
    a->UseManualClock();
    TRANSFER up, down;
    up.protocol = down.protocol = PROTOCOL_ZMODEM;
    up.line = a.get();
    down.line = b.get();
    up.files = {src.File("f.bin")};
    down.opt.downloadDir = dst.Path();
    down.BeginDownload();
    if (!up.BeginUpload()) return out;
    gRecord = &out;
    a->SetDamage(Record);
    auto s = MakeZmodemUpload(up);
    auto r = MakeZmodemDownload(down);
    while (out.size() < blocks * 1024 && !up.fEnd) {
      s->Step();
      r->Step();
      a->Advance(5);
    }
    gRecord = nullptr;
    return out;
  }
  size_t k = 0;
  if (word == "ymodembatch") {
    xmodem::FileInfo info;
    info.name = "f.bin";
    info.length = static_cast<int64_t>(data.size());
    const std::string d = xmodem::BuildBlock0(info);
    out = std::string(1, xmodem::SOH) + '\0' + static_cast<char>(0xFF) + d;
    const uint16_t c = xmodem::Crc16(d.data(), d.size());
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  for (; k < blocks; ++k) out += xmodem::BuildPacket(static_cast<uint8_t>(k + 1), data.data() + k * 1024, 1024, true);
  return out;
}

}  // namespace

// A receive that ends badly: the peer killed, five CANs from the peer, or
// our stop (SIGINT).  The tool exits non-zero, writes no history line and
// leaves nothing under the final name (only NAME.part).
TEST(ToolOverPty, FailuresExitNonZeroWithoutHistoryOrFinalFile) {
  enum KIND { KILLED, CANS, SIGINT_STOP };
  struct Row { std::string word; KIND kind; };
  const Row rows[] = {
      {"xmodem1k", KILLED},      {"ymodembatch", KILLED},      {"zmodem", KILLED},
      {"xmodem1k", CANS},        {"ymodembatch", CANS},        {"zmodem", CANS},
      {"xmodem1k", SIGINT_STOP}, {"ymodembatch", SIGINT_STOP}, {"zmodem", SIGINT_STOP},
  };
  const std::string data = Random(24 << 20, 51);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word + " " + std::to_string(row.kind));
    TempDir ours;
    const bool xmodem = row.word == "xmodem1k";
    // CANS: 200 KiB of a good transfer, then five CANs; whatever our side
    // says is read and dropped.
    PtyPeer peer(row.kind == CANS ? PeerScript("cat stream.bin; cat >/dev/null")
                                  : PeerScript(kTool + " send --protocol " + row.word + " f.bin"));
    if (row.kind == CANS) {
      ASSERT_TRUE(WriteWholeFile(peer.File("stream.bin"), SenderStream(row.word, data, 200) + std::string(5, '\x18')));
    } else {
      ASSERT_TRUE(WriteWholeFile(peer.File("f.bin"), data));
    }
    std::string err;
    ASSERT_TRUE(peer.Start(&err)) << err;
    std::vector<std::string> args = {kTool, "receive", "--protocol", row.word, "--line", peer.Device(),
                                     "--dir", ours.Path(), "--history", ours.Path()};
    if (xmodem) args.push_back(ours.File("f.bin"));
    Spawned rx(args);
    int status;
    if (row.kind == CANS) {
      status = rx.Wait(120000);
      EXPECT_EQ(status, PE_CANCELLED) << rx.Err();
    } else {
      ASSERT_TRUE(WaitFor([&] { return Size(ours.File("f.bin.part")) >= (2 << 20); }, 60000)) << rx.Err();
      if (row.kind == KILLED) peer.Stop();
      else rx.Signal(SIGINT);
      status = rx.Wait(70000);
      if (row.kind == SIGINT_STOP) {
        EXPECT_EQ(status, 20) << rx.Err();
      }
    }
    EXPECT_NE(status, 0) << rx.Err();
    EXPECT_NE(status, -1) << "did not end";
    EXPECT_FALSE(Exists(ours.File("f.bin")));
    EXPECT_TRUE(Exists(ours.File("f.bin.part")));
    EXPECT_FALSE(Exists(ours.File("TRANHIST.TXT")));
  }
}

// ---- the YMODEM receiver in the framework, against hostile names ----------------------

namespace {

struct NAMEDSOURCE : xmodem::Source {
  std::string name, data;
  bool given = false;
  size_t pos = 0;
  bool Next(xmodem::FileInfo* info) override {
    if (given) return false;
    given = true;
    info->name = name;
    info->length = static_cast<int64_t>(data.size());
    return true;
  }
  long Read(char* buf, size_t n) override {
    n = std::min(n, data.size() - pos);
    std::memcpy(buf, data.data() + pos, n);
    pos += n;
    return static_cast<long>(n);
  }
  void Close() override {}
};

}  // namespace

// Each name lands as a plain name in the download directory (a spare name
// where nothing usable is left); the directories around it stay untouched.
TEST(YmodemFramework, HostileNamesLandAsPlainNames) {
  struct Row { std::string wire, want; };
  const Row rows[] = {
      {"../../x", "x"},
      {"/etc/passwd", "passwd"},
      {"a\\..\\b", "b"},
      {"C:\\x", "x"},
      {"..", "TEMP.000"},
      {".", "TEMP.000"},
      {"a\x01" "b\x1f", "a_b_"},
      {std::string(600, 'n'), "TEMP.000"},
      {"\x95\x5c", "表"},
      {"dir/\x95\x5c.txt", "表.txt"},
  };
  TempDir root;
  ASSERT_EQ(mkdir(root.File("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(root.File("sentinel").c_str(), 0755), 0);
  ASSERT_TRUE(WriteWholeFile(root.File("sentinel/keep"), "keep"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.want);
    const std::string dl = root.File("a/dl");
    ASSERT_EQ(RunProcess({"rm", "-rf", dl}, "").status, 0);
    ASSERT_EQ(mkdir(dl.c_str(), 0755), 0);
    auto [ours, theirs] = MEMORYLINE::MakePair();
    ours->UseManualClock();
    TRANSFER t;
    t.protocol = PROTOCOL_YMODEMBATCH;
    t.line = ours.get();
    t.opt.downloadDir = dl;
    t.opt.mode = DM_RENAME;
    t.BeginDownload();
    auto receiver = DownloadEngine(PROTOCOL_YMODEMBATCH)(t);
    NAMEDSOURCE src;
    src.name = row.wire;
    src.data = "data of " + row.want;
    xmodem::Events ev;
    xmodem::Sender sender(xmodem::kYmodemBatch, &src, &ev, false, 0);
    unsigned char buf[4096];
    for (int i = 0; i < 100000 && !(t.fEnd && sender.Finished()); ++i) {
      if (!t.fEnd) receiver->Step();
      const size_t n = theirs->Read(buf, sizeof buf);
      if (n) sender.Input(reinterpret_cast<const char*>(buf), n);
      sender.Process(theirs->Now());
      if (!sender.out.empty() && theirs->Write(sender.out.data(), sender.out.size())) sender.out.clear();
      ours->Advance(10);
    }
    ASSERT_TRUE(t.fEnd && sender.Finished());
    EXPECT_EQ(TransferOutcome(t), 0);
    EXPECT_EQ(Listing(dl), std::vector<std::string>{row.want});
    EXPECT_EQ(ReadWholeFile(dl + "/" + row.want), src.data);
  }
  EXPECT_EQ(Listing(root.Path()), (std::vector<std::string>{"a", "sentinel"}));
  EXPECT_EQ(Listing(root.File("a")), std::vector<std::string>{"dl"});
  EXPECT_EQ(Listing(root.File("sentinel")), std::vector<std::string>{"keep"});
  EXPECT_EQ(ReadWholeFile(root.File("sentinel/keep")), "keep");
}
