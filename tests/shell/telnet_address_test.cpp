// What a user types for a telnet host, split into address and port, and
// the ports a telnet host may name.
#include <gtest/gtest.h>

#include <string>

#include "shell/hostprop.h"

namespace {

TEST(TelnetAddress, SplitsEveryFormAndRefusesTheRest) {
  struct Case {
    const char* typed;
    bool ok;
    const char* address;
    const char* port;  // empty: none given
  } cases[] = {
      {"bbs.example.jp", true, "bbs.example.jp", ""},
      {"  bbs.example.jp  ", true, "bbs.example.jp", ""},
      {"bbs.example.jp:2323", true, "bbs.example.jp", "2323"},
      {"127.0.0.1:23", true, "127.0.0.1", "23"},
      {"bbs.example.jp:telnet", true, "bbs.example.jp", "telnet"},
      {"[::1]:2323", true, "::1", "2323"},
      {"[::1]", true, "::1", ""},
      {"::1", true, "::1", ""},  // more than one colon: IPv6 taken whole
      {"fe80::1:2", true, "fe80::1:2", ""},
      {"telnet://bbs.example.jp", true, "bbs.example.jp", ""},
      {"telnet://bbs.example.jp/", true, "bbs.example.jp", ""},
      {"telnet://bbs.example.jp:2323/", true, "bbs.example.jp", "2323"},
      {"TELNET://127.0.0.1:2323", true, "127.0.0.1", "2323"},
      {"telnet://[::1]:2323/", true, "::1", "2323"},
      {"", false, "", ""},
      {":2323", false, "", ""},
      {"bbs.example.jp:", false, "", ""},
      {"bbs.example.jp:0", false, "", ""},
      {"bbs.example.jp:65536", false, "", ""},
      {"bbs.example.jp:no-such-service", false, "", ""},
      {"[::1", false, "", ""},
      {"[::1]2323", false, "", ""},
      {"[]:23", false, "", ""},
      {"http://bbs.example.jp/", false, "", ""},
      {"telnet://", false, "", ""},
      {"telnet://bbs.example.jp/board", false, "", ""},
      {"bbs example", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string address = "untouched", port = "untouched", why;
    EXPECT_EQ(SplitTelnetAddress(c.typed, &address, &port, &why), c.ok) << "[" << c.typed << "] " << why;
    if (c.ok) {
      EXPECT_EQ(address, c.address) << c.typed;
      EXPECT_EQ(port, c.port) << c.typed;
    } else {
      EXPECT_FALSE(why.empty()) << c.typed;  // the prompt shows why
      EXPECT_EQ(address, "untouched") << c.typed;
    }
  }
}

TEST(TelnetAddress, PortNumbersAndServiceNames) {
  struct Case {
    const char* port;
    int number;
  } cases[] = {{"23", 23},       {"1", 1},          {"65535", 65535}, {"telnet", 23}, {"ssh", 22},
               {"0", 0},         {"65536", 0},      {"070000", 0},    {"23x", 0},     {"-23", 0},
               {"", 0},          {"no-such-service", 0}};
  for (const Case& c : cases) EXPECT_EQ(TelnetPortNumber(c.port), c.number) << c.port;
}

TEST(TelnetAddress, ShownAsAddressColonPort) {
  EXPECT_EQ(TelnetAddressText("bbs.example.jp", "2323"), "bbs.example.jp:2323");
  EXPECT_EQ(TelnetAddressText("::1", "telnet"), "[::1]:telnet");
  EXPECT_EQ(TelnetAddressText("[::1]", "23"), "[::1]:23");  // kept as stored
  EXPECT_EQ(TelnetAddressText("bbs.example.jp", ""), "bbs.example.jp");
  EXPECT_EQ(TelnetAddressText("", "23"), "");
  EXPECT_TRUE(IsTelnetUrl("telnet://x"));
  EXPECT_TRUE(IsTelnetUrl("Telnet://x"));
  EXPECT_FALSE(IsTelnetUrl("telnet:x"));
  EXPECT_FALSE(IsTelnetUrl("(telnet接続)"));
}

}  // namespace
