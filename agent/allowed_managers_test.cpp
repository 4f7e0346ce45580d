// The AllowedManagers parser and matcher: which values parse, which entry a
// bad one names, and which addresses a list lets through.
#include "agent/allowed_managers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// "a.b.c.d" in network byte order, as sin_addr holds it.
uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

struct Case {
  std::string text;
  const char* bad;  // nullptr: parses
  std::vector<uint32_t> allowed = {}, refused = {};
};

// A bad value refuses everyone and names its bad entry, trimmed, cut to the buffer.
TEST(AllowedManagers, ParsesAndMatchesOrNamesTheBadEntry) {
  const uint32_t host = Addr(192, 168, 1, 5), other = Addr(192, 168, 1, 6);
  // 127 entries of 7 bytes and their commas: 1,016 bytes; one more of 7
  // makes 1,023 bytes and the most entries a value can hold.
  std::string full;
  for (int i = 0; i < 127; ++i) full += "9.9.9.9,";
  const Case cases[] = {
      {"", nullptr, {host, other, 0}},  // no list: everyone
      {" 192.168.1.5 ,\t10.0.0.0/8", nullptr, {host, Addr(10, 2, 3, 4)}, {other, Addr(11, 0, 0, 0)}},
      {"0.0.0.0/0", nullptr, {host, 0, 0xFFFFFFFFu}},
      {"192.168.1.4/31", nullptr, {host, Addr(192, 168, 1, 4)}, {other}},
      {"192.168.1.77/24", nullptr, {host, other}, {Addr(192, 168, 2, 5)}},  // host bits ignored
      {"255.255.255.255/32", nullptr, {0xFFFFFFFFu}, {Addr(255, 255, 255, 254)}},
      {full + "1.2.3.4", nullptr, {Addr(1, 2, 3, 4)}, {host}},
      {full + "1.2.3.45", "1.2.3.45"},  // 1,024 bytes: refused, not cut
      {"192.168.1.5,1.2.3", "1.2.3"}, {"192.168.1.5,", ""}, {"192.168.1.5,, 10.0.0.1", ""},
      {",", ""}, {"  ", ""}, {"10.0.0.1/33", "10.0.0.1/33"}, {"1.2.3.4.5", "1.2.3.4.5"},
      {"256.1.1.1", "256.1.1.1"}, {"010.0.0.1", "010.0.0.1"},  // octal to inet_addr
      {"1.2.3.4/08", "1.2.3.4/08"}, {"1.2.3.4/", "1.2.3.4/"}, {"1.2.3.4 /8", "1.2.3.4 /8"},
      {"1.2.3.-4", "1.2.3.-4"}, {"1.2.3.4/1000", "1.2.3.4/100"}, {"a.b.c.d", "a.b.c.d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    AllowedList list;
    char bad[12] = "untouched";
    EXPECT_EQ(ParseAllowedManagers(c.text.c_str(), &list, bad, sizeof bad), c.bad == nullptr);
    EXPECT_STREQ(bad, c.bad ? c.bad : "");
    EXPECT_EQ(list.restricted, !c.text.empty());
    for (uint32_t a : c.allowed) EXPECT_TRUE(ListAllows(list, a)) << std::hex << a;
    for (uint32_t a : c.refused) EXPECT_FALSE(ListAllows(list, a)) << std::hex << a;
    for (uint32_t a : {host, Addr(1, 2, 3, 4), Addr(10, 0, 0, 1)}) {
      EXPECT_TRUE(!c.bad || !ListAllows(list, a)) << std::hex << a;
    }
  }
}

}  // namespace
