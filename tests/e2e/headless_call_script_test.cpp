// A whole "/s" session of the program without a window against the demo
// host: the script dials, logs the call, logs in, reads the screen back from
// the stock, keeps what it found in a file with the built-in functions, hangs
// up, and its AFTERHANGUP script adds to the file before the run ends; on the
// way it keeps the host in an INI file and reads it back, and runs a program.  The
// transcript, the files and the exit status are what is checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/headless_fixture.h"
#include "platform/jcode.h"
#include "support/line_peer.h"
#include "support/process.h"
#include "support/tcp_peer.h"
#include "support/temp_dir.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
std::string Sjis(const std::string& utf8) { return jcode::Utf8ToSjis(utf8); }
std::string Utf8(const std::string& sjis) { return jcode::SjisToUtf8(sjis); }

class HeadlessCallScript : public HeadlessDirs {
 protected:
  std::string Script(const std::string& name, const std::string& utf8) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, Sjis(utf8)));
    return path;
  }
};

TEST_F(HeadlessCallScript, ASessionDialsLogsKeepsFilesAndEndsAfterItsHangupScript) {
  const int port = FreeLoopbackPort();
  TcpPeer host;
  std::string error;
  ASSERT_TRUE(host.Start({QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port)}, port, &error)) << error;
  StoreHost(TelnetHost("デモ", port));
  const std::string notes = dir.File("notes.txt"), log = dir.File("session.log");
  const std::string ini = dir.File("session.ini"), ran = dir.File("ran");
  const std::string path = Script("session.hsc",
                                  "debuginfo on\n"
                                  "timeout 20\n"
                                  "afterhangup bye\n"
                                  "log \"" + log + "\", create, nocontrolcode\n"
                                  "connect \"デモ\"\n"
                                  "if (result != 1)\n"
                                  "  debuginfo \"no call\"\n"
                                  "  exit\n"
                                  "endif\n"
                                  "gethostname #host\n"
                                  "wait \"ID: \"\n"
                                  "send \"guest^M\"\n"
                                  "wait \"パスワード: \"\n"
                                  "send \"secret^M\"\n"
                                  "wait \"(B,W,G,?) > \"\n"
                                  "readbuffer 0, #prompt\n"
                                  "createfile \"" + notes + "\"\n"
                                  "writefile \"" + notes + "\", \"host=\" + #host\n"
                                  "writefile \"" + notes + "\", \"prompt=\" + #prompt\n"
                                  "send \"W^M\"\n"
                                  "wait \"(B,W,G,?) > \"\n"
                                  // The newest line is the prompt; three above it, the caller's own line.
                                  "readbuffer 3, #who\n"
                                  "#name = drop(search(#who, \"GUEST\"), \" \")\n"
                                  "writefile \"" + notes + "\", \"who=\" + tozenkaku(#name) + \" \" + length(tozenkaku(#name))\n"
                                  "closefile \"" + notes + "\"\n"
                                  // Settings and programs: the host kept in an INI file, a program run.
                                  "putini \"" + ini + "\", \"call\", \"host\", #host\n"
                                  "getini \"" + ini + "\", \"call\", \"host\", #back\n"
                                  "debuginfo \"ini \" + #back\n"
                                  "run \"touch " + ran + "\"\n"
                                  "writelog \"-- logged by the script --^M^J\"\n"
                                  "log off\n"
                                  "debuginfo \"hanging up\"\n"
                                  "hangup\n"
                                  "debuginfo \"not reached\"\n"
                                  "bye:\n"
                                  "appendfile \"" + notes + "\"\n"
                                  "writefile \"" + notes + "\", \"after the hang-up\"\n"
                                  "closefile \"" + notes + "\"\n"
                                  "debuginfo \"after the hang-up\"\n");
  FullProcessResult r = Quillnet({"/s", path});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  // Standard error: the DEBUGINFO lines in order, nothing else of the script.
  const size_t hanging = r.err.find("hanging up\n"), after = r.err.find("after the hang-up\n");
  EXPECT_NE(hanging, std::string::npos) << r.err;
  EXPECT_NE(after, std::string::npos) << r.err;
  EXPECT_LT(hanging, after) << r.err;
  EXPECT_FALSE(Has(r.err, "no call")) << r.err;
  EXPECT_TRUE(Has(r.err, "ini デモ\n")) << r.err;
  EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(ran); }, 10000)) << r.err;
  EXPECT_FALSE(Has(r.err, "not reached")) << r.err;
  EXPECT_FALSE(Has(r.err, "のパラメタがおかしいです")) << r.err;
  // The transcript: the log-in and the page the script asked for.
  for (const char* shown : {"ID: guest", "パスワードを確認しました。", "ようこそ GUEST さん。", "現在のアクセス者",
                            " CH1  GUEST   （あなた）"})
    EXPECT_TRUE(Has(r.out, shown)) << shown << "\n" << r.out;
  // The file the script kept, byte for byte, with the AFTERHANGUP line last.
  EXPECT_EQ(Utf8(ReadWholeFile(notes)),
            "host=デモ\r\n"
            "prompt=メインメニュー (B,W,G,?) > \r\n"
            "who=ＧＵＥＳＴ 10\r\n"
            "after the hang-up\r\n");
  // The log: the call as text from the first byte the host sent, up to the
  // script's own line.
  const std::string logged = Utf8(ReadWholeFile(log));
  EXPECT_TRUE(Has(logged, "ＱＵＩＬＬＮＥＴ　デモＢＢＳ")) << logged;
  EXPECT_TRUE(Has(logged, "ID: guest\r\n")) << logged;
  EXPECT_TRUE(Has(logged, "現在のアクセス者\r\n CH1  GUEST   （あなた）\r\n")) << logged;
  const std::string tail = "メインメニュー (B,W,G,?) > -- logged by the script --\r\n";
  ASSERT_GE(logged.size(), tail.size()) << logged;
  EXPECT_EQ(logged.substr(logged.size() - tail.size()), tail);
  EXPECT_FALSE(Has(logged, "\x1b")) << logged;
}

TEST_F(HeadlessCallScript, AConnectThatFailsGoesOnAndTheRunEndsWithItsScript) {
  // Nothing listens on the port: the dial fails, RESULT is 0, the script
  // goes on, and the AFTERHANGUP script never runs (nothing was hung up).
  StoreHost(TelnetHost("留守", FreeLoopbackPort()));
  const std::string path = Script("fail.hsc",
                                  "debuginfo on\nafterhangup never\nconnect \"留守\"\ndebuginfo \"result \" + result\n"
                                  "exit\nnever:\ndebuginfo \"never\"\n");
  FullProcessResult r = Quillnet({"/s", path});
  ASSERT_FALSE(r.timedOut) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "result 0\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "never\n")) << r.err;
}

}  // namespace
