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
  int resets_failing = 0, buflen_replies = 0;
  uint8_t find_code = 0, astat_code = 0;
};

uint8_t enum_code;
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
  uint8_t rc = 0;
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
  return ncb->retcode = rc;
}

TEST(AdapterList, BuiltFromTheNetbiosReplies) {
  const std::string mac_of = "Get MACAddress : Address = ";
  const std::string buflen = "Error Netbios()_2 : NRC_BUFLEN";
  const std::string reset = "Error Netbios()_1 : Code = 0x23, lana_num = ";
  // A NetBIOS that never finds the buffer big enough (here: not in 3000 tries) must not
  // make start-up allocate without end: the 16-bit length field (37 + 1984 x 33) is the limit.
  Texts unlimited(1985, buflen);
  unlimited.push_back(mac_of + "010203040506");
  const struct {
    const char* what;
    uint8_t enum_code;
    std::vector<Lana> lanas;
    Texts trace, calls;  // calls: not checked when empty
    uint32_t slept_ms;
    std::vector<std::pair<uint8_t, int>> macs;  // FindAdapterMac(10.0.0.host): from mac, or -1
  } cases[] = {
      {"enumeration fails", 0x40, {}, {"Error Netbios()_0 : Code = 0x40"}, {"55/0/256"}, 0,
       {{10, -1}}},
      {"two adapters, the list and its trace newest first", 0, {{0, 10, 0x00}, {1, 7, 0xAA}},
       {mac_of + "AAABACADAEAF", mac_of + "000102030405"},
       {"55/0/256", "50/1/0", "120/1/37/*", "51/1/600/*", "50/0/0", "120/0/37/*", "51/0/600/*"}, 0,
       {{10, 0x00}, {7, 0xAA}, {8, -1}}},
      {"reset failing five times leaves the entry without address", 0,
       {{3, 3, 0x01, 99}, {4, 4, 0x06, 2}},
       {reset + "4", reset + "4", mac_of + "060708090A0B", reset + "3", reset + "3", reset + "3",
        reset + "3", reset + "3"}, {}, 7000, {{3, -1}, {4, 0x06}}},
      {"find-name buffer grows by one name entry", 0, {{0, 1, 0xDE, 0, 2}},
       {buflen, buflen, mac_of + "DEDFE0E1E2E3"},
       {"55/0/256", "50/0/0", "120/0/37/*", "120/0/70/*", "120/0/103/*", "51/0/600/*"}, 0,
       {{1, 0xDE}}},
      {"find-name buffer stops at the length field's limit", 0,
       {{0, 1, 0x01}, {1, 2, 0x02, 0, 3000}}, unlimited, {}, 0, {{2, -1}, {1, 0x01}}},
      {"find-name failure (Wine's answer) skips the adapter status", 0,
       {{0, 1, 0x01, 0, 0, 0x15}}, {"Error Netbios()_2 : Code = 15"}, {}, 0, {{1, -1}}},
      // The failed entry keeps its address, so the valid one behind it is not found.
      {"failed adapter status shadows a later entry of the same address", 0,
       {{0, 5, 0x01}, {1, 5, 0x06, 0, 0, 0, 0x34}},
       {"Error GetMAC() : Code = 34", mac_of + "010203040506"}, {}, 0, {{5, -1}}},
  };
  NetbiosCall = ScriptedNetbios;
  AgentSleep = [](uint32_t ms) { slept_ms += ms; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::ScratchLogDir dir;
    enum_code = c.enum_code;
    lanas = c.lanas;
    calls.clear();
    slept_ms = 0;
    BuildAdapterList();
    EXPECT_TRUE(c.calls.empty() || calls == c.calls) << ::testing::PrintToString(calls);
    EXPECT_EQ(slept_ms, c.slept_ms);
    for (const auto& [host, mac] : c.macs) {
      uint8_t got[6] = {}, want[6] = {}, address[4] = {10, 0, 0, host};
      for (int i = 0; i < 6 && mac >= 0; ++i) want[i] = static_cast<uint8_t>(mac + i);
      uint32_t ip;
      std::memcpy(&ip, address, 4);
      EXPECT_EQ(FindAdapterMac(ip, got), mac >= 0) << int{host};
      EXPECT_EQ(std::string(got, got + 6), std::string(want, want + 6)) << int{host};
    }
    FreeList(&AdapterList);  // freed whole, and logged even when empty
    EXPECT_EQ(AdapterList, nullptr);
    Texts trace = c.trace;
    trace.push_back("FreeList OK");
    EXPECT_EQ(dir.Texts("QX_WOL_A.LOG"), trace);
  }
  NetbiosCall = platform::Netbios;
}

// The answer to a MAC request: the NetBIOS list first, then the adapters as
// they are now, for an address the list has no valid entry for.
TEST(AdapterList, ReachedMacFallsBackToTheAdapterThatOwnsTheAddress) {
  static int fallback_calls;
  static bool fallback_knows;
  NetbiosCall = ScriptedNetbios;
  AdapterMacCall = [](uint32_t address, uint8_t mac[6]) {
    ++fallback_calls;
    const uint8_t owned[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, static_cast<uint8_t>(address >> 24)};
    if (fallback_knows) std::memcpy(mac, owned, 6);
    return fallback_knows;
  };
  logtest::ScratchLogDir dir;
  enum_code = 0;
  lanas = {{0, 1, 0x10}, {1, 5, 0x20, 0, 0, 0, 0x34}};  // 10.0.0.5: adapter status failed
  BuildAdapterList();
  const struct {
    uint8_t host;
    bool fallback_knows;
    const char* mac;    // "" for no answer
    int fallback_calls;
    const char* trace;  // the new line, or ""
  } cases[] = {
      {1, true, "101112131415", 0, ""},  // NetBIOS answers: as before
      {9, true, "02AABBCCDD09", 1, "Get MACAddress by IP 900000a : Address = 02AABBCCDD09"},
      {5, true, "02AABBCCDD05", 1, "Get MACAddress by IP 500000a : Address = 02AABBCCDD05"},
      {9, false, "", 1, ""},  // neither knows, or the adapter list cannot be read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.host});
    fallback_calls = 0;
    fallback_knows = c.fallback_knows;
    const size_t lines = dir.Texts("QX_WOL_A.LOG").size();
    const uint8_t address[4] = {10, 0, 0, c.host};
    uint32_t ip;
    std::memcpy(&ip, address, 4);
    uint8_t mac[6] = {};
    const bool known = FindReachedMac(ip, mac);
    char hex[13] = "";
    for (int i = 0; known && i < 6; ++i) std::snprintf(hex + 2 * i, 3, "%02X", mac[i]);
    EXPECT_EQ(known, *c.mac != '\0');
    EXPECT_STREQ(hex, c.mac);
    EXPECT_EQ(fallback_calls, c.fallback_calls);
    const Texts trace = dir.Texts("QX_WOL_A.LOG");
    EXPECT_EQ(Texts(trace.begin() + lines, trace.end()), *c.trace ? Texts{c.trace} : Texts{});
  }
  FreeList(&AdapterList);
  NetbiosCall = platform::Netbios;
  AdapterMacCall = platform::AdapterMacByAddress;
}

}  // namespace
