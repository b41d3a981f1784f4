// A whole call to the demo host with the demo colour syntax: the program run
// headless, its stock given the demo syntax (build/tools/demo.tag) first, the
// host taking the caller through its menu, boards, messages and who's-on
// list.  What `quillnet-tool stock tags` shows afterwards is checked row by
// row against the screens' own text, and re-tagging the stock must give the
// same tags as matching on line did.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/headless_fixture.h"
#include "platform/jcode.h"
#include "shell/hostprop.h"
#include "stock/stock.h"
#include "stock/tagmaker.h"
#include "support/process.h"
#include "support/tcp_peer.h"

namespace {

const std::string kTool = QUILLNET_TOOL_PATH;
const std::string kDemo = QUILLNET_DEMOHOST_PATH;
const std::string kDemoTag = QUILLNET_BUILD_DIR "/tools/demo.tag";

// One row of `stock tags`: first stored line, tag, mark, text, and for a
// rule's line its title and "number/parent/date".
struct Row {
  int first = -1;
  int tag = -1;
  std::string mark, text, title, speech;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  size_t p = 0;
  for (;;) {
    const size_t t = line.find('\t', p);
    f.push_back(line.substr(p, t == std::string::npos ? t : t - p));
    if (t == std::string::npos) return f;
    p = t + 1;
  }
}

std::vector<Row> ParseTags(const std::string& out) {
  std::vector<Row> rows;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 4) {
      ADD_FAILURE() << "a row of stock tags with fewer than four fields: " << line;
      continue;
    }
    Row r;
    r.first = std::stoi(f[0]);
    r.tag = std::stoi(f[1]);
    r.mark = f[2];
    r.text = f[3];
    if (f.size() > 4) r.title = f[4];
    if (f.size() > 5) r.speech = f[5];
    rows.push_back(r);
  }
  return rows;
}

// The rules of a syntax file by name, from `tag dump --loaded` ("tag = N"
// ahead of each record's "name = ...").
std::map<std::string, int> RuleTags(const std::string& tagFile) {
  const ProcessResult r = RunProcess({kTool, "tag", "dump", tagFile, "--loaded"}, "");
  EXPECT_EQ(r.status, 0);
  std::map<std::string, int> tags;
  std::istringstream in(r.out);
  std::string line;
  int tag = -1;
  while (std::getline(in, line)) {
    if (line.rfind("tag = ", 0) == 0) tag = std::stoi(line.substr(6));
    if (line.rfind("name = ", 0) == 0 && tag >= TAG_FIRST_RULE) tags[line.substr(7)] = tag;
  }
  return tags;
}

class ColourSyntaxCall : public HeadlessDirs {
 protected:
  std::string Stock() const { return data + "/quillnet.stk"; }
  std::vector<Row> Tags() {
    const ProcessResult r = RunProcess({kTool, "stock", "tags", Stock()}, "");
    EXPECT_EQ(r.status, 0);
    return ParseTags(r.out);
  }
};

// The rows of the kind given, in stock order.
std::vector<Row> Tagged(const std::vector<Row>& rows, int tag) {
  std::vector<Row> out;
  for (const Row& r : rows)
    if (r.tag == tag) out.push_back(r);
  return out;
}

TEST_F(ColourSyntaxCall, DemoHostsScreensAreTaggedAsTheyArrive) {
  const std::map<std::string, int> rule = RuleTags(kDemoTag);
  for (const char* name : {"メインメニュー", "掲示板一覧", "掲示板", "発言一覧", "発言", "現在のアクセス者"})
    ASSERT_EQ(rule.count(name), 1u) << name;

  // A first start makes the stock; the demo syntax becomes its syntax.
  FullProcessResult r = Quillnet({});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(RunProcess({kTool, "stock", "retag", Stock(), kDemoTag}, "").status, 0);
  const ProcessResult info = RunProcess({kTool, "stock", "info", Stock()}, "");
  ASSERT_NE(info.out.find("szTagFile: " + kDemoTag + "\n"), std::string::npos) << info.out;

  // Board 1's list, message 2, the rest of board 1 read through, board 3's
  // list, back to the menu, the who's-on list, log-off.
  const int port = FreeLoopbackPort();
  TcpPeer demo;
  std::string error;
  ASSERT_TRUE(demo.Start({kDemo, "--port", std::to_string(port), "--auto-login", "--tour",
                          "B\\r1\\r2\\rR\\rQ\\r3\\rQ\\rQ\\rW\\rG\\r"},
                         port, &error))
      << error;
  StoreHost(TelnetHost("デモ BBS", port));
  r = Quillnet({"デモ BBS"});
  ASSERT_FALSE(r.timedOut) << r.err;
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<Row> rows = Tags();
  ASSERT_GT(rows.size(), 300u);

  // One call: its connect line first, nothing else with tag 3.
  const std::vector<Row> connects = Tagged(rows, TAG_CONNECT);
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0].mark, "FE");
  EXPECT_EQ(connects[0].text.rfind("デモ BBS - 20", 0), 0u) << connects[0].text;
  EXPECT_EQ(rows[0].tag, TAG_CONNECT);

  // Level 1: the menu (at log-in and after the boards), the board list
  // (three times), the who's-on list.  Every line that shows the menu's rule
  // or one of the lists' headings is tagged, and nothing else is.
  const std::string menuRule = "＝＝＝＝＝＝＝＝＝＝ 　メインメニュー　＝＝＝＝＝＝＝＝＝＝ ";
  for (const auto& [name, shown] : std::vector<std::pair<std::string, std::string>>{
           {"メインメニュー", menuRule}, {"掲示板一覧", "■ 掲示板一覧"}, {"現在のアクセス者", "現在のアクセス者"}}) {
    size_t lines = 0, tagged = 0;
    for (const Row& row : rows) {
      lines += row.text == shown;
      if (row.tag == rule.at(name)) {
        ++tagged;
        EXPECT_EQ(row.text, shown) << name;
        EXPECT_EQ(row.title, name);
      }
    }
    EXPECT_EQ(tagged, lines) << name;
  }
  EXPECT_EQ(Tagged(rows, rule.at("メインメニュー")).size(), 2u);
  EXPECT_EQ(Tagged(rows, rule.at("掲示板一覧")).size(), 3u);
  // The who's-on list waits for its empty closing line: its entries get no tag.
  const std::vector<Row> who = Tagged(rows, rule.at("現在のアクセス者"));
  ASSERT_EQ(who.size(), 1u);
  for (size_t k = 0; k < rows.size(); ++k)
    if (rows[k].first == who[0].first) {
      ASSERT_LT(k + 2, rows.size());
      EXPECT_EQ(rows[k + 1].tag, TAG_NONE) << rows[k + 1].text;
      EXPECT_EQ(rows[k + 2].tag, TAG_NONE) << rows[k + 2].text;
    }

  // Level 2: the two boards visited, titled "N: name".
  std::vector<std::string> boards;
  for (const Row& b : Tagged(rows, rule.at("掲示板"))) boards.push_back(b.title);
  EXPECT_EQ(boards, (std::vector<std::string>{"1: 雑談コーナー", "3: プログラミング相談室"}));
  EXPECT_EQ(Tagged(rows, rule.at("発言一覧")).size(), 2u);

  // Level 3: messages 2 to 24 of board 1.  Each one's number, parent and
  // date are those its own lines show: "#NNNN/0024", the "★title (author)
  // YY/MM/DD hh:mm" line and, for a comment, "（#NNNN へのコメント）".
  const std::regex head("^#([0-9]{4})/0024 雑談コーナー$");
  const std::regex star("^★(.+) \\((QNT[0-9]+)\\)  ([0-9]{2})/([0-9]{2})/([0-9]{2}) [0-9]{2}:[0-9]{2}$");
  const std::regex comment("（#([0-9]{4}) へのコメント）$");
  int expectNumber = 2, comments = 0;
  size_t quotations = 0;
  const int message = rule.at("発言");
  for (size_t k = 0; k < rows.size(); ++k) {
    if (rows[k].tag != message) continue;
    SCOPED_TRACE(rows[k].text);
    std::smatch m, s, c;
    ASSERT_TRUE(std::regex_match(rows[k].text, m, head));
    ASSERT_LT(k + 1, rows.size());
    ASSERT_TRUE(std::regex_match(rows[k + 1].text, s, star));
    EXPECT_EQ(std::stoi(m[1]), expectNumber++);
    EXPECT_EQ(rows[k].title, m[1].str() + " " + s[1].str());
    int parent = -1;
    if (k + 2 < rows.size() && std::regex_search(rows[k + 2].text, c, comment)) {
      parent = std::stoi(c[1]);
      ++comments;
    }
    EXPECT_EQ(rows[k].speech, std::to_string(std::stoi(m[1])) + "/" + std::to_string(parent) + "/" + s[3].str() +
                                  s[4].str() + s[5].str());
    // The message's body up to its separator: quoted lines are quotations,
    // nothing else is tagged.
    for (size_t j = k + 1; j < rows.size() && rows[j].text.rfind("-----", 0) != 0; ++j) {
      const bool quoted = rows[j].text.rfind("> ", 0) == 0;
      EXPECT_EQ(rows[j].tag, quoted ? TAG_QUOTE : TAG_NONE) << rows[j].text;
      quotations += quoted;
    }
  }
  EXPECT_EQ(expectNumber, 25) << "messages 2 to 24";
  EXPECT_GE(comments, 10);
  // The hand-written opening of the board, as the host has it.
  const std::vector<Row> messages = Tagged(rows, message);
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(messages[0].speech, "2/1/960329");
  EXPECT_EQ(messages[1].speech, "3/2/960329");
  EXPECT_EQ(messages[2].speech, "4/-1/960330");
  EXPECT_EQ(messages[3].speech, "5/4/960330");
  // Quotations appear only inside messages.
  EXPECT_GE(quotations, 10u);
  EXPECT_EQ(Tagged(rows, TAG_QUOTE).size(), quotations);

  // Re-tagging the stock gives what matching on line gave.
  ASSERT_EQ(RunProcess({kTool, "stock", "retag", Stock()}, "").status, 0);
  const std::vector<Row> again = Tags();
  ASSERT_EQ(again.size(), rows.size());
  for (size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(again[k].tag, rows[k].tag) << rows[k].text;
    EXPECT_EQ(again[k].title, rows[k].title) << rows[k].text;
    EXPECT_EQ(again[k].speech, rows[k].speech) << rows[k].text;
  }
}

}  // namespace
