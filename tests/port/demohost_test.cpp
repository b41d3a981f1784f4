// Calling the demo host over telnet through the port: log-in, the main menu,
// the board list, a message list and whole boards of messages, in Shift_JIS
// and in the JIS and EUC the host serves when asked.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/jcode.h"
#include "port/comport.h"
#include "port/telnet.h"
#include "shell/config.h"
#include "shell/hostprop.h"
#include "support/line_peer.h"
#include "support/tcp_peer.h"

namespace {

class DemoHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
    config = CONFIG();
    TELNET::windowSizeSource = [](int* c, int* l) {
      *c = 100;
      *l = 30;
    };
  }
  void TearDown() override {
    COMPORT::ResetForTest();
    TELNET::ResetForTest();
    hostprop.SetDefault();
  }

  bool StartHost(const std::vector<std::string>& extra, std::string* error) {
    port = FreeLoopbackPort();
    std::vector<std::string> argv = {QUILLNET_DEMOHOST_PATH, "--port", std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return host.Start(argv, port, error);
  }
  int Call() {
    std::snprintf(hostprop.DialNo, sizeof hostprop.DialNo, "127.0.0.1");
    std::snprintf(hostprop.PortName, sizeof hostprop.PortName, "%d", port);
    return TELNET::ConnectSocket();
  }
  // Receives until the UTF-8 form of what came holds `needle` (at most 15 s).
  bool Until(const std::string& needle) {
    char buf[1024];
    return WaitFor(
        [&] {
          COMPORT::DoReceive();
          const size_t n = COMPORT::GetBlock(buf, sizeof buf);
          if (n) {
            sjis.append(buf, n);
            utf8 = jcode::SjisToUtf8(sjis);
          }
          return utf8.find(needle, from) != std::string::npos;
        },
        15000);
  }
  // Types a line and waits for the answer's last words.
  bool Type(const std::string& line, const std::string& needle) {
    from = utf8.size();
    COMPORT::Send((line + "\r").c_str());
    return Until(needle);
  }
  bool UntilClosed() {
    char buf[1024];
    return WaitFor(
        [&] {
          COMPORT::DoReceive();
          sjis.append(buf, COMPORT::GetBlock(buf, sizeof buf));
          return COMPORT::GetEvent() != 0 && COMPORT::GetInQueueCount() == 0 && !COMPORT::IsReceived();
        },
        15000);
  }

  TcpPeer host;
  int port = 0;
  std::string sjis, utf8;
  size_t from = 0;
};

// One visit: log in, list the boards, open board 2, read it through, leave.
TEST_F(DemoHostTest, LogInReadABoardAndLeave) {
  std::string error;
  ASSERT_TRUE(StartHost({}, &error)) << error;
  ASSERT_EQ(Call(), 1);
  ASSERT_TRUE(Until("ID: ")) << utf8;
  EXPECT_NE(utf8.find("ＱＵＩＬＬＮＥＴ　デモＢＢＳ"), std::string::npos);
  EXPECT_NE(utf8.find("～　パソコン通信の広場　～"), std::string::npos);
  ASSERT_TRUE(Type("qnt00099", "パスワード: ")) << utf8;
  ASSERT_TRUE(Type("secret", "メインメニュー (B,W,G,?) > ")) << utf8;
  EXPECT_EQ(utf8.find("secret"), std::string::npos) << "the password was echoed";
  // The host learned the terminal type and size from the negotiation.
  EXPECT_NE(utf8.find("ようこそ QNT00099 さん。\r\n端末: vt100  画面: 100x30\r\n"), std::string::npos) << utf8;

  ASSERT_TRUE(Type("b", "掲示板番号 (Q:戻る) > ")) << utf8;
  EXPECT_NE(utf8.find("   1   雑談コーナー  "), std::string::npos) << utf8;
  EXPECT_NE(utf8.find("   3   プログラミング相談室  "), std::string::npos) << utf8;
  ASSERT_TRUE(Type("2", "L:一覧  Q:戻る) > ")) << utf8;
  EXPECT_NE(utf8.find("■ 掲示板 2: パソコン通信よもやま話  （24件）"), std::string::npos) << utf8;
  EXPECT_NE(utf8.find(" 0001  96/03/25 23:10  QNT00008   通信ソフトの設定について\r\n"), std::string::npos)
      << utf8;
  const size_t before = utf8.size();
  ASSERT_TRUE(Type("r", "この掲示板の発言はこれで終わりです。")) << utf8;
  const std::string board = utf8.substr(before);
  // Headers, comments that quote what they answer, and enough to scroll.
  EXPECT_NE(board.find("#0002/0024 パソコン通信よもやま話\r\n★Re: 通信ソフトの設定について (QNT00023)  "
                       "96/03/26 01:30\r\n"),
            std::string::npos)
      << board;
  EXPECT_NE(board.find("> ホストによってシフトJISだったりJISだったりしますよね。\r\n"), std::string::npos);
  EXPECT_NE(board.find("#0024/0024 "), std::string::npos);
  size_t lines = 0;
  for (size_t at = 0; (at = board.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_GT(lines, 100u);

  ASSERT_TRUE(Type("q", "掲示板番号")) << utf8;
  ASSERT_TRUE(Type("q", "メインメニュー")) << utf8;
  from = utf8.size();
  COMPORT::Send("g\r");
  EXPECT_TRUE(UntilClosed()) << "the host did not end the call";
  EXPECT_NE(jcode::SjisToUtf8(sjis).find("ご利用ありがとうございました。"), std::string::npos);
  EXPECT_EQ(sjis.find('\xFF'), std::string::npos);
}

// The same visit in each code the host serves: after the port's decoding
// every call reads the same, byte for byte.
TEST_F(DemoHostTest, JisAndEucCallsReadLikeShiftJis) {
  struct CODECASE {
    const char* option;
    int kanjiCode;
    int autoJisEuc;
  };
  // The last: a Shift_JIS host setting with automatic detection follows a
  // host that switches to JIS.
  const std::vector<CODECASE> codes = {
      {"sjis", KANJI_SJIS, 0}, {"jis", KANJI_NEWJIS, 0}, {"euc", KANJI_EUC, 0}, {"jis", KANJI_SJIS, 1}};
  std::vector<std::string> calls;
  for (const CODECASE& c : codes) {
    SCOPED_TRACE(std::string(c.option) + (c.autoJisEuc ? " detected" : ""));
    SetUp();
    sjis.clear();
    utf8.clear();
    from = 0;
    hostprop.KanjiCode = c.kanjiCode;
    hostprop.AutoJisEuc = c.autoJisEuc;
    std::string error;
    ASSERT_TRUE(StartHost({"--code", c.option, "--auto-login"}, &error)) << error;
    ASSERT_EQ(Call(), 1);
    ASSERT_TRUE(Until("メインメニュー (B,W,G,?) > ")) << utf8;
    ASSERT_TRUE(Type("b", "掲示板番号 (Q:戻る) > ")) << utf8;
    ASSERT_TRUE(Type("1", "L:一覧  Q:戻る) > ")) << utf8;
    ASSERT_TRUE(Type("r", "この掲示板の発言はこれで終わりです。")) << utf8;
    COMPORT::Send("q\rq\rg\r");
    EXPECT_TRUE(UntilClosed());
    EXPECT_EQ(sjis.find('\x1b'), std::string::npos) << "an escape sequence was left undecoded";
    calls.push_back(sjis);
    COMPORT::Close();
    host.Stop();
  }
  ASSERT_EQ(calls.size(), 4u);
  // The JIS host really sends JIS: read as Shift_JIS, its text keeps the
  // shift sequences.
  SetUp();
  sjis.clear();
  utf8.clear();
  from = 0;
  std::string error;
  ASSERT_TRUE(StartHost({"--code", "jis", "--auto-login"}, &error)) << error;
  ASSERT_EQ(Call(), 1);
  ASSERT_TRUE(Until("(B,W,G,?) > "));
  EXPECT_NE(sjis.find("\x1b$B"), std::string::npos);
  EXPECT_NE(sjis.find("\x1b(J"), std::string::npos);
  EXPECT_EQ(calls[1], calls[0]) << "JIS call differs";
  EXPECT_EQ(calls[2], calls[0]) << "EUC call differs";
  EXPECT_EQ(calls[3], calls[0]) << "JIS call read with automatic detection differs";
}

// Width of a Shift_JIS line in cells: a double-byte character takes two.
size_t Cells(const std::string& sjis) {
  size_t cells = 0;
  for (size_t i = 0; i < sjis.size(); ++i, ++cells)
    if (jcode::IsKanji1(static_cast<unsigned char>(sjis[i]))) ++i, ++cells;
  return cells;
}

// The banner's box, the menu's rules and the lists' separators are all as
// wide as each other, and the log-in screen says how a JIS or EUC call is
// read.
TEST_F(DemoHostTest, FramesAndRulesAreOneWidth) {
  std::string error;
  ASSERT_TRUE(StartHost({}, &error)) << error;
  ASSERT_EQ(Call(), 1);
  ASSERT_TRUE(Until("ID: ")) << utf8;
  EXPECT_NE(utf8.find("通信ソフトの漢字コードも同じに設定してください。"), std::string::npos) << utf8;
  EXPECT_NE(utf8.find("JIS/EUCの自動判別をオンにすればJISは読めます。"), std::string::npos) << utf8;
  ASSERT_TRUE(Type("guest", "パスワード: ")) << utf8;
  ASSERT_TRUE(Type("x", "(B,W,G,?) > ")) << utf8;
  ASSERT_TRUE(Type("b", "掲示板番号 (Q:戻る) > ")) << utf8;
  ASSERT_TRUE(Type("1", "L:一覧  Q:戻る) > ")) << utf8;
  ASSERT_TRUE(Type("2", "Q:戻る) > ")) << utf8;

  const std::string box[] = {jcode::Utf8ToSjis("┏"), jcode::Utf8ToSjis("┃"), jcode::Utf8ToSjis("┗")};
  const std::string rule = jcode::Utf8ToSjis("＝");
  size_t boxLines = 0, rules = 0, separators = 0;
  std::vector<size_t> widths;
  for (size_t at = 0, end; (end = sjis.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = sjis.substr(at, end - at);
    if (line.empty()) continue;
    bool framed = true;
    if (line.rfind(box[0], 0) == 0 || line.rfind(box[1], 0) == 0 || line.rfind(box[2], 0) == 0)
      ++boxLines;
    else if (line.rfind(rule, 0) == 0)
      ++rules;
    else if (line.find_first_not_of('-') == std::string::npos)
      ++separators;
    else
      framed = false;
    if (framed) {
      widths.push_back(Cells(line));
      EXPECT_EQ(widths.back(), widths.front()) << jcode::SjisToUtf8(line);
    }
  }
  EXPECT_EQ(boxLines, 4u);
  EXPECT_EQ(rules, 2u);
  EXPECT_GE(separators, 4u);  // the board list's two, the message list's, the message's
}

}  // namespace
