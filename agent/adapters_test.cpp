#include "agent/adapters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_test_support.h"

namespace {

using agenttest::FakeSleep;
using agenttest::TraceTexts;
using Texts = std::vector<std::string>;

// One scripted LANA: how its requests are answered.
struct Lana {
  int reset_failures = 0;        // NCBRESET fails this many times first
  uint8_t reset_code = 0x23;
  int buflen_replies = 0;        // NCBFINDNAME answers NRC_BUFLEN this many times
  uint8_t find_code = 0;         // then this
  uint8_t address[4] = {};
  uint8_t astat_code = 0;
  uint8_t mac[6] = {};
};

struct Call {
  uint8_t command;
  uint8_t lana;
  uint16_t length;
  std::string callname;
};

struct Script {
  uint8_t enum_code = 0;
  std::vector<uint8_t> order;  // enumeration order
  std::map<uint8_t, Lana> lanas;
  std::vector<Call> calls;
};

Script* script = nullptr;

uint8_t ScriptedNetbios(platform::Ncb* ncb) {
  script->calls.push_back({ncb->command, ncb->lana_num, ncb->length,
                           std::string(ncb->callname, sizeof ncb->callname)});
  uint8_t rc = 0;
  Lana& l = script->lanas[ncb->lana_num];
  switch (ncb->command) {
    case platform::kNcbEnum:
      rc = script->enum_code;
      if (rc == 0) {
        ncb->buffer[0] = static_cast<uint8_t>(script->order.size());
        std::memcpy(ncb->buffer + 1, script->order.data(), script->order.size());
      }
      break;
    case platform::kNcbReset:
      rc = l.reset_failures-- > 0 ? l.reset_code : 0;
      break;
    case platform::kNcbFindName:
      if (l.buflen_replies-- > 0) {
        rc = platform::kNrcBufLen;
      } else if ((rc = l.find_code) == 0) {
        ncb->buffer[0] = 1;
        std::memcpy(ncb->buffer + 4 + 3 + 2, l.address, 4);
      }
      break;
    case platform::kNcbAstat:
      rc = l.astat_code;
      if (rc == 0) std::memcpy(ncb->buffer, l.mac, 6);
      break;
  }
  ncb->retcode = rc;
  return rc;
}

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

Lana Healthy(uint32_t address, std::vector<uint8_t> mac) {
  Lana l;
  std::memcpy(l.address, &address, 4);
  std::memcpy(l.mac, mac.data(), 6);
  return l;
}

std::vector<uint16_t> FindNameLengths() {
  std::vector<uint16_t> lengths;
  for (const Call& c : script->calls) {
    if (c.command == platform::kNcbFindName) lengths.push_back(c.length);
  }
  return lengths;
}

class AdapterList_ : public ::testing::Test {
 protected:
  void SetUp() override {
    script = &script_;
    NetbiosCall = ScriptedNetbios;
    FakeSleep::Install();
    dwServiceStop = 0;
  }
  void TearDown() override {
    AdapterEntry* list = AdapterList;
    AdapterList = nullptr;
    FreeList(&list);
    NetbiosCall = platform::Netbios;
  }
  static std::string Mac(const uint8_t m[6]) { return std::string(m, m + 6); }

  logtest::ScratchLogDir dir_;
  Script script_;
};

TEST_F(AdapterList_, EnumerationFailureLeavesTheListEmpty) {
  script_.enum_code = 0x40;
  BuildAdapterList();
  EXPECT_EQ(AdapterList, nullptr);
  EXPECT_EQ(TraceTexts(dir_), Texts({"Error Netbios()_0 : Code = 0x40"}));
  uint8_t mac[6];
  EXPECT_FALSE(FindAdapterMac(0, mac));
  EXPECT_FALSE(FindAdapterMac(Ip(192, 168, 1, 10), mac));
  ASSERT_EQ(script_.calls.size(), 1u);
  EXPECT_EQ(script_.calls[0].command, platform::kNcbEnum);
  EXPECT_EQ(script_.calls[0].length, 256);
  EXPECT_EQ(script_.calls[0].lana, 0);
}

TEST_F(AdapterList_, TwoAdaptersAnswerByTheLocalAddressNewestFirst) {
  script_.order = {0, 1};
  script_.lanas[0] = Healthy(Ip(192, 168, 1, 10), {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
  script_.lanas[1] = Healthy(Ip(10, 0, 0, 7), {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x0F});
  BuildAdapterList();

  // Entries go in at the head: the list, and its trace, run backwards.
  EXPECT_EQ(TraceTexts(dir_), Texts({"Get MACAddress : Address = AABBCCDDEE0F",
                                     "Get MACAddress : Address = 001122334455"}));
  ASSERT_NE(AdapterList, nullptr);
  EXPECT_EQ(AdapterList->lana, 1);
  EXPECT_EQ(AdapterList->address, Ip(10, 0, 0, 7));
  EXPECT_EQ(AdapterList->valid, 1u);
  ASSERT_NE(AdapterList->next, nullptr);
  EXPECT_EQ(AdapterList->next->lana, 0);
  EXPECT_EQ(AdapterList->next->next, nullptr);

  uint8_t mac[6];
  ASSERT_TRUE(FindAdapterMac(Ip(192, 168, 1, 10), mac));
  EXPECT_EQ(Mac(mac), std::string("\x00\x11\x22\x33\x44\x55", 6));
  ASSERT_TRUE(FindAdapterMac(Ip(10, 0, 0, 7), mac));
  EXPECT_EQ(Mac(mac), std::string("\xAA\xBB\xCC\xDD\xEE\x0F", 6));
  EXPECT_FALSE(FindAdapterMac(Ip(10, 0, 0, 8), mac));

  // Reset, wildcard find-name and adapter status on each LANA, head first.
  const std::string wildcard = "*" + std::string(15, ' ');
  std::vector<std::string> seen;
  for (const Call& c : script_.calls) {
    seen.push_back(std::to_string(c.command) + "/" + std::to_string(c.lana) + "/" +
                   std::to_string(c.length) + (c.callname == wildcard ? "/*" : ""));
  }
  EXPECT_EQ(seen, Texts({"55/0/256", "50/1/0", "120/1/37/*", "51/1/600/*", "50/0/0",
                         "120/0/37/*", "51/0/600/*"}));
}

TEST_F(AdapterList_, ResetFailingFiveTimesLeavesTheEntryWithoutAddress) {
  script_.order = {3, 4};
  script_.lanas[3] = Healthy(Ip(10, 0, 0, 3), {1, 2, 3, 4, 5, 6});
  script_.lanas[3].reset_failures = 99;
  script_.lanas[4] = Healthy(Ip(10, 0, 0, 4), {6, 5, 4, 3, 2, 1});
  script_.lanas[4].reset_failures = 2;  // the third attempt succeeds
  BuildAdapterList();

  const std::string fail3 = "Error Netbios()_1 : Code = 0x23, lana_num = 3";
  const std::string fail4 = "Error Netbios()_1 : Code = 0x23, lana_num = 4";
  EXPECT_EQ(TraceTexts(dir_), Texts({fail4, fail4, "Get MACAddress : Address = 060504030201", fail3,
                                     fail3, fail3, fail3, fail3}));
  EXPECT_EQ(FakeSleep::pauses, 7u);
  EXPECT_EQ(FakeSleep::total_ms, 7000u);
  ASSERT_NE(AdapterList, nullptr);
  const AdapterEntry* lana3 = AdapterList->next;
  ASSERT_NE(lana3, nullptr);
  EXPECT_EQ(lana3->lana, 3);
  EXPECT_EQ(lana3->address, 0u);
  EXPECT_EQ(lana3->valid, 0u);
  EXPECT_EQ(Mac(lana3->mac), std::string(6, '\0'));
  uint8_t mac[6];
  EXPECT_FALSE(FindAdapterMac(Ip(10, 0, 0, 3), mac));
  EXPECT_TRUE(FindAdapterMac(Ip(10, 0, 0, 4), mac));
}

TEST_F(AdapterList_, FindNameBufferGrowsByOneNameEntry) {
  script_.order = {0};
  script_.lanas[0] = Healthy(Ip(172, 16, 0, 1), {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01});
  script_.lanas[0].buflen_replies = 2;
  BuildAdapterList();
  EXPECT_EQ(FindNameLengths(), std::vector<uint16_t>({37, 70, 103}));
  EXPECT_EQ(TraceTexts(dir_), Texts({"Error Netbios()_2 : NRC_BUFLEN", "Error Netbios()_2 : NRC_BUFLEN",
                                     "Get MACAddress : Address = DEADBEEF0001"}));
  uint8_t mac[6];
  EXPECT_TRUE(FindAdapterMac(Ip(172, 16, 0, 1), mac));
}

// A NetBIOS that never finds the buffer big enough must not make start-up
// allocate without end: the request's 16-bit length field is the limit.
TEST_F(AdapterList_, FindNameBufferStopsAtTheLengthFieldLimit) {
  script_.order = {0, 1};
  script_.lanas[0] = Healthy(Ip(10, 1, 1, 1), {1, 1, 1, 1, 1, 1});
  script_.lanas[1] = Healthy(Ip(10, 2, 2, 2), {2, 2, 2, 2, 2, 2});
  script_.lanas[1].buflen_replies = 1 << 30;
  BuildAdapterList();

  std::vector<uint16_t> lengths;
  for (const Call& c : script_.calls) {
    if (c.command == platform::kNcbFindName && c.lana == 1) lengths.push_back(c.length);
  }
  ASSERT_EQ(lengths.size(), 1985u);
  EXPECT_EQ(lengths.back(), 65509);
  for (const Call& c : script_.calls) EXPECT_FALSE(c.command == platform::kNcbAstat && c.lana == 1);
  uint8_t mac[6];
  EXPECT_FALSE(FindAdapterMac(Ip(10, 2, 2, 2), mac));
  EXPECT_TRUE(FindAdapterMac(Ip(10, 1, 1, 1), mac));  // the next LANA is still served
  EXPECT_EQ(TraceTexts(dir_).back(), "Get MACAddress : Address = 010101010101");
}

TEST_F(AdapterList_, FindNameFailureSkipsTheAdapterStatus) {
  script_.order = {0};
  script_.lanas[0] = Healthy(Ip(10, 0, 0, 1), {1, 2, 3, 4, 5, 6});
  script_.lanas[0].find_code = 0x15;  // what Wine answers
  BuildAdapterList();
  EXPECT_EQ(TraceTexts(dir_), Texts({"Error Netbios()_2 : Code = 15"}));
  ASSERT_NE(AdapterList, nullptr);
  EXPECT_EQ(AdapterList->address, 0u);
  EXPECT_EQ(AdapterList->valid, 0u);
  EXPECT_EQ(script_.calls.back().command, platform::kNcbFindName);
}

TEST_F(AdapterList_, FailedAdapterStatusShadowsALaterEntryOfTheSameAddress) {
  script_.order = {0, 1};
  script_.lanas[0] = Healthy(Ip(10, 0, 0, 5), {1, 2, 3, 4, 5, 6});
  script_.lanas[1] = Healthy(Ip(10, 0, 0, 5), {6, 5, 4, 3, 2, 1});
  script_.lanas[1].astat_code = 0x34;
  BuildAdapterList();
  EXPECT_EQ(TraceTexts(dir_), Texts({"Error GetMAC() : Code = 34",
                                     "Get MACAddress : Address = 010203040506"}));
  ASSERT_NE(AdapterList, nullptr);
  EXPECT_EQ(AdapterList->address, Ip(10, 0, 0, 5));  // the address stays
  EXPECT_EQ(AdapterList->valid, 0u);
  uint8_t mac[6];
  EXPECT_FALSE(FindAdapterMac(Ip(10, 0, 0, 5), mac));
}

TEST_F(AdapterList_, FreeListLogsEvenWhenEmptyAndEmptiesTheHead) {
  AdapterEntry* empty = nullptr;
  FreeList(&empty);
  EXPECT_EQ(empty, nullptr);

  script_.order = {0, 1, 2};
  BuildAdapterList();
  AdapterEntry* list = AdapterList;
  AdapterList = nullptr;
  ASSERT_NE(list, nullptr);
  FreeList(&list);
  EXPECT_EQ(list, nullptr);
  const Texts trace = TraceTexts(dir_);
  EXPECT_EQ(trace.front(), "FreeList OK");
  EXPECT_EQ(trace.back(), "FreeList OK");
}

// The platform's own NetBIOS: Windows (Wine) or the interface list on Linux.
// Prints the trace so a run shows the adapters this machine offers.
TEST_F(AdapterList_, PlatformNetbiosBuildsAConsistentList) {
  NetbiosCall = platform::Netbios;
  BuildAdapterList();
  const Texts trace = TraceTexts(dir_);
  for (const std::string& t : trace) std::printf("trace: %s\n", t.c_str());
  size_t valid = 0, mac_lines = 0;
  for (const AdapterEntry* e = AdapterList; e; e = e->next) {
    std::printf("entry: lana %u address %08x valid %u\n", e->lana, e->address, e->valid);
    if (e->valid) ++valid;
  }
  for (const std::string& t : trace) mac_lines += t.rfind("Get MACAddress : Address = ", 0) == 0;
  EXPECT_EQ(valid, mac_lines);
}

}  // namespace
