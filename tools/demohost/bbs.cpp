#include "tools/demohost/bbs.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>

#include "platform/jcode.h"

namespace demohost {

namespace {

std::string S(const std::string& utf8) { return jcode::Utf8ToSjis(utf8); }

// A message as written, before numbering.
struct DRAFT {
  int answers;
  const char* author;
  const char* date;
  const char* title;
  std::vector<const char*> body;
};

// Hand-written openings of each board: replies quote what they answer.
const std::vector<std::vector<DRAFT>>& Drafts() {
  static const std::vector<std::vector<DRAFT>> drafts = {
      {
          {0, "QNT00001", "96/03/28 22:41", "はじめまして",
           {"はじめまして、QNT00001です。", "先週モデムを買い替えて、やっと28800bpsで繋がるようになりました。",
            "このボードでは何でも気軽に書いてください。", "よろしくお願いします。"}},
          {1, "QNT00017", "96/03/29 00:12", "Re: はじめまして",
           {"> 先週モデムを買い替えて、やっと28800bpsで繋がるようになりました。", "",
            "おめでとうございます。うちはまだ14400です（泣）。", "電話代が気になる今日この頃です。"}},
          {2, "QNT00001", "96/03/29 07:55", "Re^2: はじめまして",
           {"> うちはまだ14400です（泣）。", "", "テレホーダイの時間帯なら気になりませんよ。",
            "23時になると回線が混むのが難点ですが。"}},
          {0, "QNT00042", "96/03/30 13:20", "春の花見オフのお知らせ",
           {"来週の日曜日、上野公園で花見オフを開きます。", "参加希望の方はこのボードにコメントをください。",
            "雨天の場合は中止です。", "", "　日時：４月７日（日）１１時～", "　場所：上野公園　西郷さん前集合"}},
          {4, "QNT00017", "96/03/30 21:03", "Re: 春の花見オフのお知らせ",
           {"> 参加希望の方はこのボードにコメントをください。", "", "参加します！", "ｶﾒﾗ持っていきますね。"}},
      },
      {
          {0, "QNT00008", "96/03/25 23:10", "通信ソフトの設定について",
           {"漢字コードの設定で悩んでいます。", "ホストによってシフトJISだったりJISだったりしますよね。",
            "皆さんはどうしていますか？"}},
          {1, "QNT00023", "96/03/26 01:30", "Re: 通信ソフトの設定について",
           {"> ホストによってシフトJISだったりJISだったりしますよね。", "",
            "ホストごとに設定を分けておくのが一番です。", "ＥＵＣのホストもあるので要注意です。"}},
          {2, "QNT00008", "96/03/26 08:45", "Re^2: 通信ソフトの設定について",
           {"> ホストごとに設定を分けておくのが一番です。", "", "なるほど、ありがとうございました。",
            "さっそく設定し直してみます。"}},
          {0, "QNT00031", "96/03/27 22:18", "ZMODEMが速い",
           {"ZMODEMでダウンロードしたら、XMODEMの倍近く速かったです。",
            "エラーが出ても途中から再開できるのも便利ですね。"}},
      },
      {
          {0, "QNT00055", "96/03/20 20:00", "ポインタがわかりません",
           {"C言語のポインタでつまずいています。", "配列とポインタの違いがよくわかりません。",
            "どなたか教えていただけませんか。"}},
          {1, "QNT00012", "96/03/20 22:35", "Re: ポインタがわかりません",
           {"> 配列とポインタの違いがよくわかりません。", "",
            "配列は場所そのもの、ポインタは場所を指す変数、と考えるとよいです。",
            "sizeofを取ってみると違いがはっきりしますよ。"}},
          {2, "QNT00055", "96/03/21 06:50", "Re^2: ポインタがわかりません",
           {"> 配列は場所そのもの、ポインタは場所を指す変数、と考えるとよいです。", "",
            "ありがとうございます！", "なんとなくわかってきました。"}},
      },
  };
  return drafts;
}

// Everyday lines the later messages are made of, so that every board has
// enough text to scroll.
const std::vector<const char*> kPhrases = {
    "今日は朝から雨でした。",           "最近は夜中のアクセスが増えてきましたね。",
    "新しいモデムの調子は上々です。",   "ログを読むだけで一時間かかってしまいました。",
    "皆さんのおすすめの本を教えてください。", "シスオペさん、いつもありがとうございます。",
    "ｶﾀｶﾅの半角表示も問題ありません。", "①②③などの記号は機種依存文字なので注意しましょう。",
    "電話代の請求書を見て青くなりました。", "次のオフ会も楽しみにしています。",
    "ダウンロードしたフリーソフトを試しています。", "キーボードを打つ音が家族に不評です。",
};
const std::vector<const char*> kTitles = {
    "近況報告", "雑感", "質問です", "お礼", "ひとりごと", "おすすめ", "報告", "ちょっと聞いてください",
};

std::vector<BOARD> Build() {
  static const char* const names[] = {"雑談コーナー", "パソコン通信よもやま話", "プログラミング相談室"};
  std::vector<BOARD> boards;
  unsigned seed = 7;
  auto rnd = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (size_t b = 0; b < Drafts().size(); ++b) {
    BOARD board;
    board.name = S(names[b]);
    for (const DRAFT& d : Drafts()[b]) {
      MESSAGE m{static_cast<int>(board.messages.size()) + 1, d.answers, d.author, d.date, S(d.title), {}};
      for (const char* l : d.body) m.body.push_back(S(l));
      board.messages.push_back(std::move(m));
    }
    // Later messages: some new topics, some comments quoting the message
    // they answer.
    while (board.messages.size() < 24) {
      MESSAGE m;
      m.number = static_cast<int>(board.messages.size()) + 1;
      char author[16], date[32];
      std::snprintf(author, sizeof author, "QNT%05u", 1 + rnd(99));
      std::snprintf(date, sizeof date, "96/04/%02d %02u:%02u", 1 + m.number / 2, rnd(24), rnd(60));
      m.author = author;
      m.date = date;
      if (rnd(3) != 0) {
        const MESSAGE& orig = board.messages[rnd(static_cast<unsigned>(board.messages.size()))];
        m.answers = orig.number;
        const std::string re = S("Re: ");
        m.title = orig.title.rfind(re, 0) == 0 ? orig.title : re + orig.title;
        m.body.push_back(S("> ") + orig.body[0]);
        if (orig.body.size() > 1 && !orig.body[1].empty()) m.body.push_back(S("> ") + orig.body[1]);
        m.body.push_back("");
      } else {
        m.answers = 0;
        m.title = S(kTitles[rnd(static_cast<unsigned>(kTitles.size()))]);
      }
      const unsigned lines = 3 + rnd(5);
      for (unsigned i = 0; i < lines; ++i) m.body.push_back(S(kPhrases[rnd(static_cast<unsigned>(kPhrases.size()))]));
      board.messages.push_back(std::move(m));
    }
    boards.push_back(std::move(board));
  }
  return boards;
}

// Pads a Shift_JIS text with blanks to a width in cells (one byte, one cell).
std::string Pad(const std::string& s, size_t width) {
  return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// Width of a Shift_JIS text in cells: a double-byte character takes two,
// any other byte one.
size_t TextCells(const std::string& sjis) {
  size_t cells = 0;
  for (size_t i = 0; i < sjis.size(); ++i) {
    if (jcode::IsKanji1(static_cast<unsigned char>(sjis[i])) && i + 1 < sjis.size()) ++i, ++cells;
    ++cells;
  }
  return cells;
}

// Every frame, rule and separator line is this many cells wide.
constexpr size_t kFrameCells = 60;

// `cells` cells of a full-width character (Shift_JIS, two cells each), an
// odd cell made up by a blank.
std::string Fill(const std::string& fullWidth, size_t cells) {
  std::string s;
  for (size_t i = 0; i < cells / 2; ++i) s += fullWidth;
  if (cells % 2) s += ' ';
  return s;
}

// A Shift_JIS text centred in `cells` cells of `fullWidth` on either side.
std::string Centre(const std::string& sjis, const std::string& fullWidth, size_t cells) {
  const size_t w = std::min(TextCells(sjis), cells);
  const size_t left = (cells - w) / 2;
  return Fill(fullWidth, left) + sjis + Fill(fullWidth, cells - w - left);
}

// A line of the banner's box: its top, a text line, its bottom.
std::string BoxTop() { return S("┏") + Fill(S("━"), kFrameCells - 4) + S("┓"); }
std::string BoxLine(const std::string& utf8) { return S("┃") + Centre(S(utf8), S("　"), kFrameCells - 4) + S("┃"); }
std::string BoxBottom() { return S("┗") + Fill(S("━"), kFrameCells - 4) + S("┛"); }
// A rule of "＝" with a title in its middle, or without one.
std::string Rule(const std::string& utf8) { return Centre(S(utf8), S("＝"), kFrameCells); }
// The separator line of lists and messages.
std::string Separator() { return std::string(kFrameCells, '-'); }

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && s[a] == ' ') ++a;
  while (b > a && s[b - 1] == ' ') --b;
  return s.substr(a, b - a);
}

}  // namespace

const std::vector<BOARD>& Boards() {
  static const std::vector<BOARD> boards = Build();
  return boards;
}

SESSION::SESSION(SESSIONOPTIONS options) : opt(options) {}

void SESSION::SetTerminal(const std::string& type, int columns, int lines) {
  if (!type.empty()) termType = type;
  if (columns > 0) termColumns = columns;
  if (lines > 0) termLines = lines;
}

std::string SESSION::TakeOutput() {
  std::string o;
  o.swap(out);
  return o;
}

void SESSION::Line(const std::string& sjis) { out += sjis + "\r\n"; }
void SESSION::Text(const std::string& utf8) { out += S(utf8); }
void SESSION::Say(const std::string& utf8) { Line(S(utf8)); }

void SESSION::Start() {
  Opening();
  for (char c : opt.tour) Input(static_cast<unsigned char>(c));
}

std::string FloodLines(size_t* index, size_t maxBytes) {
  static const std::string kana = jcode::Utf8ToSjis("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ掲示板通信電子");
  // Twice over, so the thirty characters of any line are one slice.
  static const std::string kana2 = kana + kana;
  const size_t chars = kana.size() / 2;
  // Written straight into the output: a load test should cost the host
  // little next to the caller it loads.
  std::string out;
  out.reserve(std::max<size_t>(maxBytes, 96));
  while (out.size() + 90 <= maxBytes || out.empty()) {
    const size_t i = (*index)++;
    const bool colour = i % 10 == 0;
    if (colour) {
      const char seq[] = {'\x1b', '[', '3', char('1' + i % 7), 'm'};
      out.append(seq, sizeof seq);
    }
    out.append(kana2, (i % chars) * 2, 60);
    char tail[11] = {'B', 'B', 'S', '-'};
    for (size_t n = i % 1000000, d = 10; d > 4; --d, n /= 10) tail[d - 1] = char('0' + n % 10);
    out.append(tail, 10);
    if (colour) out.append("\x1b[m", 3);
    out.append("\r\n", 2);
  }
  return out;
}

void SESSION::Opening() {
  Say("");
  Line(BoxTop());
  Line(BoxLine("ＱＵＩＬＬＮＥＴ　デモＢＢＳ"));
  Line(BoxLine("～　パソコン通信の広場　～"));
  Line(BoxBottom());
  Say("");
  if (opt.autoLogin) {
    user = "GUEST";
    Welcome();
    return;
  }
  Say("ＩＤを入力してください。（はじめての方は guest）");
  Say("JISで読みたい方は jis、EUCで読みたい方は euc と入力してください。");
  Say("その場合は通信ソフトの漢字コードも同じに設定してください。");
  Say("（シフトJISのままでも、JIS/EUCの自動判別をオンにすればJISは読めます。）");
  Prompt();
}

void SESSION::Prompt() {
  switch (step) {
    case STEP::ID: Text("ID: "); break;
    case STEP::PASSWORD: Text("パスワード: "); break;
    case STEP::MENU: Text("メインメニュー (B,W,G,?) > "); break;
    case STEP::BOARDS: Text("掲示板番号 (Q:戻る) > "); break;
    case STEP::LIST: Text("発言番号 (R:続きを読む  L:一覧  Q:戻る) > "); break;
    case STEP::READ: Text("次の発言 (Enter:次  Q:戻る) > "); break;
  }
}

void SESSION::Input(unsigned char c) {
  if (finished) return;
  if (c == '\r' || c == '\n') {
    if (echo) out += "\r\n";
    const std::string l = line;
    line.clear();
    Command(l);
    return;
  }
  if (c == 0x08 || c == 0x7F) {
    if (line.empty()) return;
    // A double-byte character goes as a whole.
    size_t cut = 1;
    if (line.size() >= 2 && jcode::IsKanji2String(line.data(), line.data() + line.size() - 1) == 1) cut = 2;
    line.resize(line.size() - cut);
    if (echo) out += cut == 2 ? "\b\b  \b\b" : "\b \b";
    return;
  }
  if (c < 0x20) return;
  if (line.size() < 200) {
    line.push_back(static_cast<char>(c));
    if (echo) out.push_back(static_cast<char>(c));
  }
}

void SESSION::Welcome() {
  Say("");
  Line(S("ようこそ ") + user + S(" さん。"));
  char size[64];
  std::snprintf(size, sizeof size, "%dx%d", termColumns, termLines);
  Line(S("端末: ") + termType + S("  画面: ") + size);
  Say("");
  step = STEP::MENU;
  ShowMenu();
}

void SESSION::ShowMenu() {
  Line(Rule("　メインメニュー　"));
  Say("　Ｂ．掲示板");
  Say("　Ｗ．現在のアクセス者");
  Say("　Ｇ．さようなら（ログアウト）");
  Line(Rule(""));
  Prompt();
}

void SESSION::ShowBoards() {
  Say("");
  Say("■ 掲示板一覧");
  Say(" 番号  掲示板名                    発言数  最終更新");
  Line(Separator());
  const auto& boards = Boards();
  for (size_t i = 0; i < boards.size(); ++i) {
    char num[32], count[32];
    std::snprintf(num, sizeof num, "  %2zu   ", i + 1);
    std::snprintf(count, sizeof count, "%6zu  ", boards[i].messages.size());
    Line(num + Pad(boards[i].name, 26) + count + boards[i].messages.back().date.substr(0, 8));
  }
  Line(Separator());
  step = STEP::BOARDS;
  Prompt();
}

void SESSION::ShowList() {
  const BOARD& b = Boards()[static_cast<size_t>(board)];
  Say("");
  char head[32];
  std::snprintf(head, sizeof head, "%d: ", board + 1);
  Line(S("■ 掲示板 ") + head + b.name + S("  （") + std::to_string(b.messages.size()) + S("件）"));
  Say("  No.   日付       時刻   発言者     タイトル");
  Line(Separator());
  for (const MESSAGE& m : b.messages) {
    char num[16];
    std::snprintf(num, sizeof num, " %04d  ", m.number);
    Line(num + m.date + "  " + m.author + "   " + m.title);
  }
  Line(Separator());
  step = STEP::LIST;
  next = 1;
  Prompt();
}

void SESSION::ShowMessage(int b, int number) {
  const BOARD& bd = Boards()[static_cast<size_t>(b)];
  const MESSAGE& m = bd.messages[static_cast<size_t>(number - 1)];
  char head[64];
  std::snprintf(head, sizeof head, "#%04d/%04zu ", m.number, bd.messages.size());
  Say("");
  Line(head + bd.name);
  Line(S("★") + m.title + " (" + m.author + ")  " + m.date);
  if (m.answers) {
    char re[32];
    std::snprintf(re, sizeof re, "#%04d", m.answers);
    Line(S("　　　　　　　　　　　　　　　　　（") + re + S(" へのコメント）"));
  }
  for (const std::string& l : m.body) Line(l);
  Line(Separator());
  next = number + 1;
}

void SESSION::Command(const std::string& raw) {
  const std::string cmd = Upper(Trim(raw));
  switch (step) {
    case STEP::ID:
      if (cmd.empty()) {
        Prompt();
        return;
      }
      user = cmd;
      if (cmd == "JIS") opt.code = CODE::JIS;
      if (cmd == "EUC") opt.code = CODE::EUC;
      step = STEP::PASSWORD;
      echo = false;
      Prompt();
      return;
    case STEP::PASSWORD:
      echo = true;
      out += "\r\n";
      Say("パスワードを確認しました。");
      Welcome();
      return;
    case STEP::MENU:
      if (cmd == "B") {
        ShowBoards();
      } else if (cmd == "W") {
        Say("");
        Say("現在のアクセス者");
        Line(" CH1  " + user + S("   （あなた）"));
        Say(" CH2  QNT00001   掲示板を読んでいます");
        Say("");
        Prompt();
      } else if (cmd == "G") {
        Say("");
        Say("ご利用ありがとうございました。またのアクセスをお待ちしています。");
        finished = true;
      } else {
        ShowMenu();
      }
      return;
    case STEP::BOARDS: {
      if (cmd == "Q") {
        step = STEP::MENU;
        ShowMenu();
        return;
      }
      const int n = std::atoi(cmd.c_str());
      if (n >= 1 && n <= static_cast<int>(Boards().size())) {
        board = n - 1;
        ShowList();
      } else {
        ShowBoards();
      }
      return;
    }
    case STEP::LIST:
    case STEP::READ: {
      const BOARD& b = Boards()[static_cast<size_t>(board)];
      if (cmd == "Q") {
        ShowBoards();
        return;
      }
      if (cmd == "L") {
        ShowList();
        return;
      }
      int n = std::atoi(cmd.c_str());
      if (cmd == "R" || (cmd.empty() && step == STEP::READ)) n = next;
      if (cmd == "R") {
        // Everything from here to the end of the board, without stopping.
        for (int k = next; k <= static_cast<int>(b.messages.size()); ++k) ShowMessage(board, k);
        Say("この掲示板の発言はこれで終わりです。");
        step = STEP::LIST;
        Prompt();
        return;
      }
      if (n >= 1 && n <= static_cast<int>(b.messages.size())) {
        ShowMessage(board, n);
        step = n < static_cast<int>(b.messages.size()) ? STEP::READ : STEP::LIST;
        if (step == STEP::LIST) Say("この掲示板の発言はこれで終わりです。");
      }
      Prompt();
      return;
    }
  }
}

}  // namespace demohost
