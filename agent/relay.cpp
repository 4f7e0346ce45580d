#include "agent/relay.h"

#include <cstring>

#include "agent/adapters.h"
#include "agent/agent_sleep.h"
#include "agent/agent_trace.h"
#include "agent/protocol.h"

bool (*RelaySendCall)(const platform::Ipv4Address& to, const void* data, int size) =
    platform::SendDatagram;

namespace {

uint32_t ToHostOrder(uint32_t network_order) {
  uint8_t b[4];
  std::memcpy(b, &network_order, 4);
  return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
         static_cast<uint32_t>(b[2]) << 8 | b[3];
}

}  // namespace

bool DirectedBroadcast(uint32_t address, uint32_t mask, uint32_t* broadcast) {
  const uint32_t host_bits = ~ToHostOrder(mask);
  // Contiguous: the host bits are a run of ones at the low end.
  if ((host_bits & (host_bits + 1)) != 0) return false;
  if (host_bits < 3 || host_bits > 0x7FFFFFFFu) return false;
  *broadcast = address | ~mask;
  return true;
}

uint32_t RelayWake(uint32_t local_address, const uint8_t mac[6]) {
  uint32_t mask = 0, broadcast = 0;
  if (!FindLocalMask(local_address, &mask) || !DirectedBroadcast(local_address, mask, &broadcast)) {
    Trace("Wake Relay : MAC = %02X%02X%02X%02X%02X%02X No Network %x", mac[0], mac[1], mac[2],
          mac[3], mac[4], mac[5], local_address);
    return ST_NO_MAC;
  }
  Trace("Wake Relay : MAC = %02X%02X%02X%02X%02X%02X Broadcast %x", mac[0], mac[1], mac[2],
        mac[3], mac[4], mac[5], broadcast);
  uint8_t packet[kMagicPacketSize];
  BuildMagicPacket(mac, packet);
  const uint8_t port[2] = {static_cast<uint8_t>(kWakePort >> 8), static_cast<uint8_t>(kWakePort)};
  platform::Ipv4Address to{broadcast, 0};
  std::memcpy(&to.port, port, 2);
  int sent = 0;
  for (int i = 0; i < kRelayPackets; ++i) {
    if (i > 0) AgentSleep(kRelayPauseMs);
    if (RelaySendCall(to, packet, static_cast<int>(sizeof packet))) {
      ++sent;
    } else {
      Trace("Error sendto() : Code = %d", platform::SocketError());
    }
  }
  return sent > 0 ? ST_OK : ST_NO_MAC;
}
