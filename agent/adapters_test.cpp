#include "agent/adapters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "log/log_test_support.h"

namespace {

using Texts = std::vector<std::string>;

// One scripted LANA: address 10.0.0.host, MAC bytes mac..mac+5. NCBRESET fails
// (0x23) and NCBFINDNAME answers NRC_BUFLEN so many times first.
struct Lana {
  uint8_t num, host, mac;
  int resets_failing = 0, buflen_replies = 0, find_code = 0, astat_code = 0;
};

int enum_code;
std::vector<Lana> lanas;  // in enumeration order
Texts calls;              // "command/lana/length", and "/*" with the wildcard name
uint32_t slept_ms;

uint8_t ScriptedNetbios(platform::Ncb* ncb) {
  const bool wildcard = std::string(ncb->callname, 16) == "*" + std::string(15, ' ');
  calls.push_back(std::to_string(ncb->command) + "/" + std::to_string(ncb->lana_num) + "/" +
                  std::to_string(ncb->length) + (wildcard ? "/*" : ""));
  static Lana none{0, 0, 0, 99};  // a LANA that was not enumerated: never reset
  Lana* l = &none;
  for (Lana& x : lanas) l = x.num == ncb->lana_num ? &x : l;
  int rc = 0;
  if (ncb->command == platform::kNcbEnum && (rc = enum_code) == 0) {
    ncb->buffer[0] = static_cast<uint8_t>(lanas.size());
    for (size_t i = 0; i < lanas.size(); ++i) ncb->buffer[1 + i] = lanas[i].num;
  } else if (ncb->command == platform::kNcbReset) {
    rc = l->resets_failing-- > 0 ? 0x23 : 0;
  } else if (ncb->command == platform::kNcbFindName) {
    rc = l->buflen_replies-- > 0 ? platform::kNrcBufLen : l->find_code;
    // One name; the address is the last 4 bytes of its 6-byte destination.
    const uint8_t reply[13] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, l->host};
    if (rc == 0) std::memcpy(ncb->buffer, reply, sizeof reply);
  } else if (ncb->command == platform::kNcbAstat && (rc = l->astat_code) == 0) {
    for (int i = 0; i < 6; ++i) ncb->buffer[i] = static_cast<uint8_t>(l->mac + i);
  }
  return ncb->retcode = static_cast<uint8_t>(rc);
}

// What `find` answers for 10.0.0.host: the MAC in hex, "" for none.
std::string MacOf(bool (*find)(uint32_t, uint8_t*), uint8_t host) {
  const uint32_t ip = 10u | uint32_t{host} << 24;  // network byte order on this little-endian PC
  uint8_t m[6];
  char hex[13] = "";
  if (find(ip, m)) {
    std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  }
  return hex;
}

TEST(AdapterList, BuiltFromTheNetbiosReplies) {
  const std::string mac_of = "Get MACAddress : Address = ",
                    buflen = "Error Netbios()_2 : NRC_BUFLEN",
                    reset = "Error Netbios()_1 : Code = 0x23, lana_num = ";
  // A NetBIOS that never finds the buffer big enough (here: not in 3000 tries) must not
  // make start-up allocate without end: the 16-bit length field (37 + 1984 x 33) is the limit.
  Texts unlimited(1985, buflen);
  unlimited.push_back(mac_of + "010203040506");
  // macs: what FindAdapterMac answers for 10.0.0.host; calls: not checked when empty.
  const struct {
    std::vector<Lana> lanas; Texts trace; std::vector<std::pair<uint8_t, std::string>> macs;
    Texts calls = {}; uint32_t slept_ms = 0; int enum_code = 0;
  } cases[] = {
      // 0: enumeration fails.
      {{}, {"Error Netbios()_0 : Code = 0x40"}, {{10, ""}}, {"55/0/256"}, 0, 0x40},
      // 1: two adapters; the list and its trace newest first.
      {{{0, 10, 0x00}, {1, 7, 0xAA}}, {mac_of + "AAABACADAEAF", mac_of + "000102030405"},
       {{10, "000102030405"}, {7, "AAABACADAEAF"}, {8, ""}},
       {"55/0/256", "50/1/0", "120/1/37/*", "51/1/600/*", "50/0/0", "120/0/37/*", "51/0/600/*"}},
      // 2: a reset failing five times leaves the entry without address; a pause after each.
      {{{3, 3, 0x01, 99}, {4, 4, 0x06, 2}},
       {reset + "4", reset + "4", mac_of + "060708090A0B", reset + "3", reset + "3", reset + "3",
        reset + "3", reset + "3"}, {{3, ""}, {4, "060708090A0B"}}, {}, 7000},
      // 3: the find-name buffer grows by one name entry.
      {{{0, 1, 0xDE, 0, 2}}, {buflen, buflen, mac_of + "DEDFE0E1E2E3"}, {{1, "DEDFE0E1E2E3"}},
       {"55/0/256", "50/0/0", "120/0/37/*", "120/0/70/*", "120/0/103/*", "51/0/600/*"}},
      // 4: the find-name buffer stops at the length field's limit.
      {{{0, 1, 0x01}, {1, 2, 0x02, 0, 3000}}, unlimited, {{2, ""}, {1, "010203040506"}}},
      // 5: a find-name failure (Wine's answer) skips the adapter status.
      {{{0, 1, 0x01, 0, 0, 0x15}}, {"Error Netbios()_2 : Code = 15"}, {{1, ""}}},
      // 6: a failed adapter status keeps its address and shadows a valid entry behind it.
      {{{0, 5, 0x01}, {1, 5, 0x06, 0, 0, 0, 0x34}},
       {"Error GetMAC() : Code = 34", mac_of + "010203040506"}, {{5, ""}}},
  };
  NetbiosCall = ScriptedNetbios;
  AgentSleep = [](uint32_t ms) { slept_ms += ms; };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    logtest::ScratchLogDir dir;
    enum_code = c.enum_code;
    lanas = c.lanas;
    calls.clear();
    slept_ms = 0;
    BuildAdapterList();
    EXPECT_TRUE(c.calls.empty() || calls == c.calls) << ::testing::PrintToString(calls);
    EXPECT_EQ(slept_ms, c.slept_ms);
    for (const auto& [host, mac] : c.macs) EXPECT_EQ(MacOf(FindAdapterMac, host), mac) << +host;
    ASSERT_EQ(dir.Texts("QX_WOL_A.LOG"), c.trace);
    FreeList(&AdapterList);  // freed whole, and logged even when empty
    EXPECT_EQ(AdapterList, nullptr);
    EXPECT_EQ(dir.Texts("QX_WOL_A.LOG").back(), "FreeList OK");
  }
  NetbiosCall = platform::Netbios;
}

// The answer to a MAC request: the NetBIOS list first, then the adapters'
// table, read again when it is 1 s old or lacks the address; never for a
// loopback address.
TEST(AdapterList, ReachedMacFallsBackToTheAdaptersTableReadAtMostASecondAgo) {
  const auto real_clock = AdapterClockMs;
  NetbiosCall = ScriptedNetbios;
  static std::vector<platform::AdapterAddress> now;  // the adapters as they are
  static int reads;
  static uint64_t clock_ms;
  static bool readable;
  AdapterTableCall = [](std::vector<platform::AdapterAddress>* table) {
    ++reads;
    *table = now;
    return readable;
  };
  AdapterClockMs = [] { return clock_ms; };
  // 10.0.0.host as 02AABBCCDD followed by `last`; a tunnel's address when last is 0.
  const auto owned = [](uint8_t host, uint8_t last) {
    platform::AdapterAddress a{10u | uint32_t{host} << 24, {0x02, 0xAA, 0xBB, 0xCC, 0xDD, last},
                               last != 0, 0};
    return a;
  };
  logtest::ScratchLogDir dir;
  enum_code = 0;
  lanas = {{0, 1, 0x10}, {1, 5, 0x20, 0, 0, 0, 0x34}};  // 10.0.0.5: adapter status failed
  BuildAdapterList();
  const size_t built = dir.Texts("QX_WOL_A.LOG").size();
  const std::vector<platform::AdapterAddress> first = {owned(9, 0x09), owned(5, 0x05),
                                                       owned(7, 0)},
                                              later = {owned(9, 0x99), owned(8, 0x08)};
  // host 127 stands for 127.0.0.10, 128 for 128.0.0.10 (first byte 127 or 128).
  const struct {
    uint64_t at_ms; const std::vector<platform::AdapterAddress>* adapters; uint8_t host;
    const char* mac; int reads; bool readable = true;
  } steps[] = {
      {0, &first, 1, "101112131415", 0},    // the NetBIOS list
      {0, &first, 127, "", 0},              // loopback: no read
      {0, &first, 9, "02AABBCCDD09", 1},
      {999, &first, 5, "02AABBCCDD05", 1},  // the list's invalid entry; the table reused
      {999, &first, 7, "", 1},              // held without a hardware address
      {999, &later, 9, "02AABBCCDD09", 1},  // a changed MAC waits for the table's age
      {999, &later, 8, "02AABBCCDD08", 2},  // not held: read again at once
      {1998, &first, 9, "02AABBCCDD99", 2},  // the table read at 999 still
      {1999, &first, 9, "02AABBCCDD09", 3},  // 1 s old
      {1999, &first, 128, "", 4, false},     // not loopback: asked; unreadable
      {1999, &first, 9, "02AABBCCDD09", 5},  // nothing kept of the failed read
  };
  reads = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(&s - steps);
    clock_ms = s.at_ms;
    now = *s.adapters;
    readable = s.readable;
    if (s.host < 127) {
      EXPECT_EQ(MacOf(FindReachedMac, s.host), s.mac);
    } else {
      const uint32_t ip = s.host | 10u << 24;
      uint8_t m[6];
      EXPECT_FALSE(FindReachedMac(ip, m));
    }
    EXPECT_EQ(reads, s.reads);
  }
  // A trace line for each answer from the table, none for the others.
  const Texts trace = dir.Texts("QX_WOL_A.LOG");
  const std::string by = "Get MACAddress by IP ";
  EXPECT_EQ(Texts(trace.begin() + built, trace.end()),
            Texts({by + "900000a : Address = 02AABBCCDD09", by + "500000a : Address = 02AABBCCDD05",
                   by + "900000a : Address = 02AABBCCDD09", by + "800000a : Address = 02AABBCCDD08",
                   by + "900000a : Address = 02AABBCCDD99", by + "900000a : Address = 02AABBCCDD09",
                   by + "900000a : Address = 02AABBCCDD09"}));
  FreeList(&AdapterList);
  NetbiosCall = platform::Netbios;
  AdapterTableCall = platform::ReadAdapterAddresses;
  AdapterClockMs = real_clock;
}

}  // namespace
