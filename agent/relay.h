// WAKE RELAY: the agent sends the magic packet for a manager whose broadcasts
// cannot cross the routers, to the directed broadcast of the network the
// manager reached this PC on.
#pragma once

#include <cstdint>

#include "platform/socket.h"

// The packets a relay sends, and the pause between them: a packet lost while
// a switch port comes up or a NIC dozes is sent again soon after.
constexpr int kRelayPackets = 3;
constexpr uint32_t kRelayPauseMs = 100;

// The broadcast address of the network of address under mask (network byte
// order): address | ~mask. False for a mask that leaves no broadcast address
// to use: not contiguous, or wider than /1 or narrower than /30.
bool DirectedBroadcast(uint32_t address, uint32_t mask, uint32_t* broadcast);

// Sends the magic packet for mac kRelayPackets times, kRelayPauseMs apart, to
// port 9 of the directed broadcast of local_address's network (the address a
// request arrived on). Returns the status of the answer: ST_OK when packets
// went out, ST_NO_MAC (2) when the adapters hold no mask for local_address or
// none could be sent. Traced with the MAC and the broadcast address.
uint32_t RelayWake(uint32_t local_address, const uint8_t mac[6]);

// platform::SendDatagram by default; tests see the packets through it.
extern bool (*RelaySendCall)(const platform::Ipv4Address& to, const void* data, int size);
