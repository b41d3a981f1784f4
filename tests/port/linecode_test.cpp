// The line-code conversions: case tables over the receive decoder and the send
// encoder, and every JIS X 0208 cell checked against nkf both ways.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/jcode.h"
#include "port/linecode.h"
#include "support/process.h"

namespace {

std::string Decode(RECEIVEDECODER& dec, const LINECODEPARAM& p, const std::string& in) {
  std::string out(RECEIVEDECODER::MaxOutput(in.size()), '\0');
  size_t n = dec.Convert(p, reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                         reinterpret_cast<unsigned char*>(out.data()));
  out.resize(n);
  return out;
}

std::string DecodeChunks(const LINECODEPARAM& p, const std::vector<std::string>& chunks, RECEIVEDECODER* state = nullptr) {
  RECEIVEDECODER local;
  RECEIVEDECODER& dec = state ? *state : local;
  std::string out;
  for (auto& c : chunks) out += Decode(dec, p, c);
  return out;
}

LINECODEPARAM Param(int kanji, int autoJisEuc = 0, int sevenBit = 0, int crOnly = 0) {
  LINECODEPARAM p;
  p.KanjiCode = kanji;
  p.AutoJisEuc = autoJisEuc;
  p.SevenBit = sevenBit;
  p.ReceiveCROnly = crOnly;
  return p;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
    h += ' ';
  }
  return h;
}

struct ReceiveCase {
  const char* name;
  LINECODEPARAM param;
  std::vector<std::string> chunks;  // each chunk is one read
  std::string expected;
};

TEST(ReceiveDecoder, CaseTable) {
  const std::string kanji = "\x88\x9F";  // JIS 0x30 0x21
  const std::vector<ReceiveCase> cases = {
      {"jis pair then ascii", Param(1), {"\x1B$B\x30\x21\x1B(JA"}, kanji + "A"},
      {"old jis", Param(2), {"\x1B$@\x30\x21\x1B(BA"}, kanji + "A"},
      {"esc split from $B", Param(1), {"\x1B", "$B\x30\x21\x1B(J"}, kanji},
      {"esc $ split from B", Param(1), {"\x1B$", "B\x30\x21"}, kanji},
      {"jis pair split", Param(1), {"\x1B$B\x30", "\x21\x1B(J"}, kanji},
      {"every byte its own read", Param(1), {"\x1B", "$", "B", "\x30", "\x21", "\x1B", "(", "J", "A"}, kanji + "A"},
      {"csi passes whole", Param(1), {"\x1B[2J"}, "\x1B[2J"},
      {"csi split passes whole", Param(1), {"\x1B", "[2J"}, "\x1B[2J"},
      {"unknown designation passes whole", Param(1), {"\x1B(IA"}, "\x1B(IA"},
      {"esc esc keeps the first", Param(1), {"\x1B\x1B$B\x30\x21"}, "\x1B" + kanji},
      {"esc $ esc puts back both", Param(1), {"\x1B$\x1B(JA"}, "\x1B$A"},
      {"controls pass inside kanji mode", Param(1), {"\x1B$B\x30\x21\r\n\x30\x21"}, kanji + "\r\n" + kanji},
      {"nec kanji in and out", Param(3), {"\x1BK\x30\x21\x1BHA"}, kanji + "A"},
      {"nec other escapes pass", Param(3), {"\x1B[1m"}, "\x1B[1m"},
      {"so si kana", Param(1), {"\x0E\x31\x32\x0F" "A"}, "\xB1\xB2" "A"},
      {"so kana split", Param(1), {"\x0E", "\x31", "\x0F"}, "\xB1"},
      {"so keeps controls", Param(1), {"\x0E\x31\r\n\x0F"}, "\xB1\r\n"},
      {"euc pair", Param(4), {"\xB0\xA1" "A"}, kanji + "A"},
      {"euc pair split", Param(4), {"\xB0", "\xA1"}, kanji},
      {"euc single-shift kana", Param(4), {"\x8E\xB1"}, "\xB1"},
      {"euc passes escapes", Param(4), {"\x1B$B\x1B[2J"}, "\x1B$B\x1B[2J"},
      {"euc ignores so", Param(4), {"\x0E" "A"}, "\x0E" "A"},
      {"auto: euc bytes under jis", Param(1, 1), {"\xB0\xA1\x1B$B\x30\x21"}, kanji + kanji},
      {"shift_jis is untouched", Param(0), {"\x1B$B\x88\x9F\x0E"}, "\x1B$B\x88\x9F\x0E"},
      {"nul removed", Param(0), {std::string("a\0b", 3)}, "ab"},
      {"nul removed in jis", Param(1), {std::string("\x1B$B\x30\0\x21", 6)}, kanji},
      {"seven bit strips", Param(0, 0, 1), {"\xC1\xE2"}, "Ab"},
      {"seven bit parity nul is removed", Param(0, 0, 1), {"a\x80" "b"}, "ab"},
      {"cr only adds lf", Param(0, 0, 0, 1), {"a\rb\r"}, "a\r\nb\r\n"},
      {"cr only with jis", Param(1, 0, 0, 1), {"\x1B$B\x30\x21\r"}, kanji + "\r\n"},
  };
  for (const auto& c : cases) {
    std::string got = DecodeChunks(c.param, c.chunks);
    EXPECT_EQ(Hex(got), Hex(c.expected)) << c.name;
  }
}

// A Shift_JIS host with automatic detection: the JIS shifts are followed,
// every byte from 0x80 on is Shift_JIS as it came (bytes that would be EUC
// too), and without detection nothing is converted at all.
TEST(ReceiveDecoder, ShiftJisHostWithAutomaticDetection) {
  const std::string kanji = "\x88\x9F";   // JIS 0x30 0x21
  const std::string sjis = "\x8A\xBF\x8E\x9A\x82\xA9\x82\xC8\xB6\xC5\x88\x40 ABC";  // 漢字かなｶﾅ亜 ABC
  const std::string eucLike = "\xB0\xA1\xA4\xA2";  // half-width kana here, 亜 and あ in EUC
  const LINECODEPARAM detect = Param(0, 1);
  const std::vector<ReceiveCase> cases = {
      {"shift_jis text unchanged", detect, {sjis}, sjis},
      {"shift_jis split inside a character", detect, {"\x8A", "\xBF\x8E", "\x9A"}, "\x8A\xBF\x8E\x9A"},
      {"bytes that could be euc stay", detect, {eucLike}, eucLike},
      {"new jis", detect, {"\x1B$B\x30\x21\x1B(JA"}, kanji + "A"},
      {"old jis, out with ( B", detect, {"\x1B$@\x30\x21\x1B(BA"}, kanji + "A"},
      {"out with ( H", detect, {"\x1B$B\x30\x21\x1B(HA"}, kanji + "A"},
      {"jis split across reads", detect, {"\x1B", "$", "B\x30", "\x21\x1B(", "J", "A"}, kanji + "A"},
      {"shift_jis, jis, shift_jis", detect, {sjis + "\x1B$B\x30\x21\x1B(B" + sjis}, sjis + kanji + sjis},
      {"so si kana", detect, {"\x0E\x31\x32\x0F" "A"}, "\xB1\xB2" "A"},
      {"so si split", detect, {"\x0E", "\x31", "\x0F" "A"}, "\xB1" "A"},
      {"shift_jis kana while shifted out", detect, {"\x0E\xB1\x0F"}, "\xB1"},
      {"shift_jis bytes inside kanji mode stay", detect, {"\x1B$B\x30\x21\x8A\xBF\x82\xA9\x30\x21\x1B(J"},
       kanji + "\x8A\xBF\x82\xA9" + kanji},
      {"a shift_jis byte after ESC is no shift", detect, {"\x1B\xA4\x81"}, "\x1B\xA4\x81"},
      {"csi passes whole", detect, {"\x1B[1;31m" + sjis + "\x1B[m"}, "\x1B[1;31m" + sjis + "\x1B[m"},
      {"unknown designation passes whole", detect, {"\x1B(I" + sjis}, "\x1B(I" + sjis},
      {"nul removed", detect, {std::string("a\0\x8A\0\xBF", 5)}, "a\x8A\xBF"},
      {"cr only", Param(0, 1, 0, 1), {"\x8A\xBF\r\x1B$B\x30\x21\r"}, "\x8A\xBF\r\n" + kanji + "\r\n"},
      {"seven bit", Param(0, 1, 1), {"\xC1\x1B$B\x30\x21\x1B(J"}, "A" + kanji},
      {"no detection: jis untouched", Param(0), {"\x1B$B\x30\x21\x1B(J\x0E\x31"}, "\x1B$B\x30\x21\x1B(J\x0E\x31"},
  };
  for (const auto& c : cases) {
    std::string got = DecodeChunks(c.param, c.chunks);
    EXPECT_EQ(Hex(got), Hex(c.expected)) << c.name;
  }
}

TEST(ReceiveDecoder, PrintMissFollowsTheHostsKanjiOut) {
  RECEIVEDECODER dec;
  DecodeChunks(Param(1), {"\x1B$B\x30\x21\x1B(H"}, &dec);
  EXPECT_EQ(dec.fPrintMiss, 1);
  DecodeChunks(Param(1), {"\x1B$B\x30\x21\x1B(J"}, &dec);
  EXPECT_EQ(dec.fPrintMiss, 0);
  DecodeChunks(Param(1), {"\x1B$B\x30\x21\x1B(H", "\x1B$B\x30\x21\x1B(B"}, &dec);
  EXPECT_EQ(dec.fPrintMiss, 0);
}

TEST(ReceiveDecoder, ResetForgetsKanjiMode) {
  RECEIVEDECODER dec;
  DecodeChunks(Param(1), {"\x1B$B\x30"}, &dec);  // call ends inside a pair in kanji mode
  dec.Reset();
  EXPECT_EQ(DecodeChunks(Param(1), {"Hello"}, &dec), "Hello");
}

TEST(ReceiveDecoder, OutputNeverExceedsItsBound) {
  // Escapes held from the previous read and LFs added after CR are the only
  // growth; every call stays within MaxOutput.
  std::mt19937 rng(7);
  const char alphabet[] = "\x1B$(BJH@K\x0E\x0F\x8E\xB0\xA1\r\n\x00" "A";
  for (int round = 0; round < 2000; ++round) {
    RECEIVEDECODER dec;
    LINECODEPARAM p = Param(static_cast<int>(rng() % 5), static_cast<int>(rng() % 2), 0, 1);
    for (int k = 0; k < 4; ++k) {
      std::string in(rng() % 40, '\0');
      for (auto& ch : in) ch = alphabet[rng() % (sizeof alphabet - 1)];
      std::string out(RECEIVEDECODER::MaxOutput(in.size()) + 16, '\x55');
      size_t n = dec.Convert(p, reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                             reinterpret_cast<unsigned char*>(out.data()));
      ASSERT_LE(n, RECEIVEDECODER::MaxOutput(in.size()));
      for (size_t i = RECEIVEDECODER::MaxOutput(in.size()); i < out.size(); ++i) ASSERT_EQ(out[i], '\x55');
    }
  }
}

// Records what an encoder puts on the line and what it echoes.
class RecordingSink : public SENDSINK {
 public:
  void Sub(unsigned char c) override { sent += static_cast<char>(c); }
  void WithEcho(unsigned char send, unsigned char echo) override {
    sent += static_cast<char>(send);
    echoed += static_cast<char>(echo);
  }
  std::string sent, echoed;
};

std::string Encode(SENDENCODER& enc, const LINECODEPARAM& p, bool printMiss, const std::string& in,
                   std::string* echoed = nullptr) {
  RecordingSink sink;
  for (unsigned char c : in) enc.Encode(p, printMiss, c, sink);
  if (echoed) *echoed = sink.echoed;
  return sink.sent;
}

TEST(SendEncoder, CaseTable) {
  struct Case {
    const char* name;
    LINECODEPARAM param;
    bool printMiss;
    std::string typed, sent, echoed;
  };
  const std::string kanji = "\x88\x9F", kanji2 = "\x88\xA0";
  const std::vector<Case> cases = {
      {"new jis", Param(1), false, kanji + "A", "\x1B$B\x30\x21\x1B(JA", kanji + "A"},
      {"new jis, host ends with H", Param(1), true, kanji + "A", "\x1B$B\x30\x21\x1B(HA", kanji + "A"},
      {"old jis", Param(2), false, kanji + "A", "\x1B$@\x30\x21\x1B(JA", kanji + "A"},
      {"nec", Param(3), false, kanji + "A", "\x1BK\x30\x21\x1BH" "A", kanji + "A"},
      {"two kanji stay in kanji mode", Param(1), false, kanji + kanji2, "\x1B$B\x30\x21\x30\x22", kanji + kanji2},
      {"euc kanji", Param(4), false, kanji + "A", "\xB0\xA1" "A", kanji + "A"},
      {"euc kana gets single shift, no echo for it", Param(4), false, "\xB1", "\x8E\xB1", "\xB1"},
      {"seven bit kana framed by so si", Param(1, 0, 1), false, "\xB1\xB2" "A", "\x0E\x31\x32\x0F" "A", "\xB1\xB2" "A"},
      {"seven bit kana after kanji", Param(1, 0, 1), false, kanji + "\xB1", "\x1B$B\x30\x21\x1B(J\x0E\x31",
       kanji + "\xB1"},
      {"kanji after seven bit kana leaves shift-out", Param(1, 0, 1), false, "\xB1" + kanji,
       "\x0E\x31\x0F\x1B$B\x30\x21", "\xB1" + kanji},
      {"eight bit kana goes as it is", Param(1), false, "\xB1", "\xB1", "\xB1"},
      {"shift_jis goes as it is", Param(0), false, kanji + "\xB1", kanji + "\xB1", kanji + "\xB1"},
  };
  for (const auto& c : cases) {
    SENDENCODER enc;
    std::string echoed;
    EXPECT_EQ(Hex(Encode(enc, c.param, c.printMiss, c.typed, &echoed)), Hex(c.sent)) << c.name;
    EXPECT_EQ(Hex(echoed), Hex(c.echoed)) << c.name;
  }
}

// --- fidelity against nkf --------------------------------------------------

bool HaveNkf() { return RunProcess({"nkf", "--version"}, "").status == 0; }

// Every JIS X 0208 cell, one row per line: ESC $ B, 94 pairs, ESC ( J, LF.
std::string AllCellsJis() {
  std::string s;
  for (int r = 0x21; r <= 0x7E; ++r) {
    s += "\x1B$B";
    for (int c = 0x21; c <= 0x7E; ++c) {
      s += static_cast<char>(r);
      s += static_cast<char>(c);
    }
    s += "\x1B(J\n";
  }
  return s;
}

std::string AllCellsEuc() {
  std::string s;
  for (int r = 0x21; r <= 0x7E; ++r) {
    for (int c = 0x21; c <= 0x7E; ++c) {
      s += static_cast<char>(r | 0x80);
      s += static_cast<char>(c | 0x80);
    }
    s += '\n';
  }
  return s;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  size_t at = 0;
  for (size_t nl; (nl = s.find('\n', at)) != std::string::npos; at = nl + 1) v.push_back(s.substr(at, nl - at));
  return v;
}

// Rows 89-92 hold the NEC-selected IBM extensions; nkf writes them with their
// IBM extension codes (0xFA-0xFC) while our mapping stays arithmetic (0xED,
// 0xEE).  CP932 maps both codes to the same characters, so there the check is
// that both decode to the same Unicode text.
void ExpectSameAsNkf(const std::string& ours, const std::string& nkfs) {
  auto a = Lines(ours), b = Lines(nkfs);
  ASSERT_EQ(a.size(), 94u);
  ASSERT_EQ(b.size(), 94u);
  for (int row = 1; row <= 94; ++row) {
    if (row >= 89 && row <= 92)
      EXPECT_EQ(jcode::SjisToUtf8(a[row - 1]), jcode::SjisToUtf8(b[row - 1])) << "row " << row;
    else
      EXPECT_EQ(Hex(a[row - 1]), Hex(b[row - 1])) << "row " << row;
  }
}

TEST(LineCodeFidelity, EveryJisCellDecodesAsNkfDoes) {
  if (!HaveNkf()) GTEST_SKIP() << "nkf is not installed";
  const std::string jis = AllCellsJis();
  const std::string reference = RunProcess({"nkf", "-J", "-s", "-x"}, jis).out;
  ExpectSameAsNkf(DecodeChunks(Param(1), {jis}), reference);
  // A Shift_JIS host setting with automatic detection reads JIS the same.
  ExpectSameAsNkf(DecodeChunks(Param(0, 1), {jis}), reference);
}

TEST(LineCodeFidelity, ShiftJisPassesAutomaticDetectionUnchanged) {
  // Every JIS X 0208 cell in Shift_JIS (many of them EUC-like byte pairs),
  // and every half-width kana.
  std::string sjis = DecodeChunks(Param(1), {AllCellsJis()});
  for (int c = 0xA1; c <= 0xDF; ++c) sjis += static_cast<char>(c);
  EXPECT_TRUE(DecodeChunks(Param(0, 1), {sjis}) == sjis);
}

TEST(LineCodeFidelity, EveryEucCellDecodesAsNkfDoes) {
  if (!HaveNkf()) GTEST_SKIP() << "nkf is not installed";
  const std::string euc = AllCellsEuc();
  ExpectSameAsNkf(DecodeChunks(Param(4), {euc}), RunProcess({"nkf", "-E", "-s", "-x"}, euc).out);
  ExpectSameAsNkf(DecodeChunks(Param(1, 1), {euc}), RunProcess({"nkf", "-E", "-s", "-x"}, euc).out);
}

TEST(LineCodeFidelity, SendPathReproducesJisAndEuc) {
  const std::string jis = AllCellsJis(), euc = AllCellsEuc();
  const std::string sjis = DecodeChunks(Param(1), {jis});
  SENDENCODER enc;
  EXPECT_TRUE(Encode(enc, Param(1), false, sjis) == jis);
  SENDENCODER encEuc;
  EXPECT_TRUE(Encode(encEuc, Param(4), false, sjis) == euc);
}

TEST(LineCodeFidelity, HalfWidthKanaBothWays) {
  std::string kana;
  for (int c = 0xA1; c <= 0xDF; ++c) kana += static_cast<char>(c);
  std::string jis = "\x0E", euc;
  for (int c = 0x21; c <= 0x5F; ++c) jis += static_cast<char>(c);
  jis += "\x0F\n";
  for (unsigned char c : kana) {
    euc += '\x8E';
    euc += static_cast<char>(c);
  }
  euc += '\n';
  EXPECT_EQ(Hex(DecodeChunks(Param(1), {jis})), Hex(kana + "\n"));
  EXPECT_EQ(Hex(DecodeChunks(Param(4), {euc})), Hex(kana + "\n"));
  if (HaveNkf()) {
    EXPECT_EQ(Hex(RunProcess({"nkf", "-J", "-s", "-x"}, jis).out), Hex(kana + "\n"));
    EXPECT_EQ(Hex(RunProcess({"nkf", "-E", "-s", "-x"}, euc).out), Hex(kana + "\n"));
  }
  SENDENCODER enc7, encEuc;
  EXPECT_EQ(Hex(Encode(enc7, Param(1, 0, 1), false, kana + "\n")), Hex(jis));
  EXPECT_EQ(Hex(Encode(encEuc, Param(4), false, kana + "\n")), Hex(euc));
}

TEST(LineCodeFidelity, AnySplitDecodesLikeOneRead) {
  const std::string jis = AllCellsJis() + "\x0E\x31\x0F\x1B[1m";
  // A Shift_JIS host that switches to JIS and back, read with detection.
  const std::string sjisText = DecodeChunks(Param(1), {AllCellsJis()});
  const std::string mixed = sjisText + jis + "\xB1\xB2" + sjisText;
  const struct {
    LINECODEPARAM param;
    const std::string& input;
  } inputs[] = {{Param(1), jis}, {Param(0, 1), mixed}};
  for (const auto& in : inputs) {
    const std::string whole = DecodeChunks(in.param, {in.input});
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
      std::vector<std::string> chunks;
      for (size_t at = 0; at < in.input.size();) {
        size_t len = 1 + rng() % (round < 25 ? 4 : 600);
        chunks.push_back(in.input.substr(at, len));
        at += len;
      }
      ASSERT_TRUE(DecodeChunks(in.param, chunks) == whole) << "round " << round;
    }
  }
  // The detected text is the Shift_JIS text with the JIS part decoded.
  EXPECT_TRUE(DecodeChunks(Param(0, 1), {mixed}) == sjisText + DecodeChunks(Param(1), {jis}) + "\xB1\xB2" + sjisText);
}

}  // namespace
