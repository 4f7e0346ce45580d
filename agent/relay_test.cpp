#include "agent/relay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent/adapters.h"
#include "agent/agent_sleep.h"
#include "agent/protocol.h"
#include "log/log_test_support.h"

namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t n;
  std::memcpy(&n, bytes, 4);
  return n;
}

TEST(Relay, DirectedBroadcastOfAnAddressAndMask) {
  const struct { uint32_t mask, broadcast; bool ok; } rows[] = {
      {Ip(255, 255, 255, 0), Ip(10, 2, 0, 255), true}, {Ip(255, 255, 255, 252), Ip(10, 2, 0, 11), true},
      {Ip(255, 255, 255, 254), 0, false}, {Ip(255, 0, 255, 0), 0, false},  // /31; not a network
  };
  for (const auto& r : rows) {
    uint32_t broadcast = 0;
    EXPECT_EQ(DirectedBroadcast(Ip(10, 2, 0, 10), r.mask, &broadcast), r.ok) << std::hex << r.mask;
    EXPECT_EQ(broadcast, r.broadcast) << std::hex << r.mask;
  }
}

// The packets through the send seam (loopback's in the agent scenarios), the
// pauses through the sleep seam, the adapters' table scripted: 10.2.0.10/24
// and 10.3.0.10 without a mask.
TEST(Relay, SendsThreePacketsToTheBroadcastOfTheArrivalNetwork) {
  logtest::ScratchLogDir dir;
  const auto real_sleep = AgentSleep;
  static std::vector<std::string> seen;  // "address:port bytes" or "sleep MS"
  static bool send_ok;
  AgentSleep = [](uint32_t ms) { seen.push_back("sleep " + std::to_string(ms)); };
  AdapterTableCall = [](std::vector<platform::AdapterAddress>* table) {
    *table = {{Ip(10, 2, 0, 10), {2}, true, Ip(255, 255, 255, 0)}, {Ip(10, 3, 0, 10), {3}, true, 0}};
    return true;
  };
  RelaySendCall = [](const platform::Ipv4Address& to, const void* data, int size) {
    const auto* b = static_cast<const uint8_t*>(data);
    seen.push_back(std::to_string(to.address) + ":" + std::to_string(to.port) + " " +
                   std::string(b, b + size));
    return send_ok;
  };
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};
  uint8_t packet[kMagicPacketSize];
  BuildMagicPacket(mac, packet);
  const std::string net2 = std::to_string(Ip(10, 2, 0, 255)) + ":" + std::to_string(9 << 8) +
                           " " + std::string(packet, packet + sizeof packet);  // port 9
  const struct { uint32_t local; bool ok; uint32_t status; std::vector<std::string> seen; } rows[] = {
      {Ip(10, 2, 0, 10), true, ST_OK, {net2, "sleep 100", net2, "sleep 100", net2}},
      {Ip(10, 3, 0, 10), true, ST_NO_MAC, {}},   // no mask known
      {Ip(10, 4, 0, 10), true, ST_NO_MAC, {}},   // not this PC's
      {Ip(10, 2, 0, 10), false, ST_NO_MAC, {net2, "sleep 100", net2, "sleep 100", net2}},
  };
  for (const auto& r : rows) {
    seen.clear();
    send_ok = r.ok;
    EXPECT_EQ(RelayWake(r.local, mac), r.status) << &r - rows;
    EXPECT_EQ(seen, r.seen) << &r - rows;
  }
  const auto trace = dir.Texts("QX_WOL_A.LOG");
  EXPECT_EQ(trace.at(0), "Wake Relay : MAC = 001122ABCDEF Broadcast ff00020a");
  EXPECT_EQ(trace.at(1), "Wake Relay : MAC = 001122ABCDEF No Network a00030a");
  AdapterTableCall = platform::ReadAdapterAddresses;
  RelaySendCall = platform::SendDatagram;
  AgentSleep = real_sleep;
}

}  // namespace
