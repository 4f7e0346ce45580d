// pwrctl wake: the magic packets from the manager, the relays, and the wait
// until each PC's agent answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "pwrctl/scan.h"
#include "pwrctl/targets.h"

struct WakeTarget {
  uint8_t mac[6];
  bool has_address = false;
  TargetHost host{0, 0};            // its agent (host order, port set) when has_address
  std::vector<TargetHost> relays;   // to ask in turn; none: no relay wanted
  std::string network;              // its network, for "no relay in ..."
  std::string sent;                 // "broadcast", "via ...", "relay failed: ...", ...
  bool sent_ok = false;
  bool relayed = false;
  std::string outcome;              // with --wait: "awake after N s", ...
  bool awake = false;
};

struct WakeSettings {
  platform::Ipv4Address broadcast{0xFFFFFFFFu, 0};  // network order
  int count = 3;                     // packets from the manager, kPacketPauseMs apart
  uint32_t timeout_ms = 10000;       // each relay's connection and answer
  int connections = 64;              // relays and polls at once
  uint32_t wait_s = 0;               // 0: no wait
  bool progress = false;             // "awake N/M" on stderr while waiting
  const ManagerKeyPair* key = nullptr;  // signs the relays that take only signed commands
};

constexpr uint32_t kPacketPauseMs = 100;
constexpr uint32_t kPollIntervalMs = 2000;
constexpr uint32_t kResendIntervalMs = 30000;

// Sends the packets, asks the relays and, with a wait, polls the agents; each
// target's sent and outcome filled. The exit code: 0 when every packet went
// out (and every PC answered), else 1.
int RunWake(std::vector<WakeTarget>* targets, const WakeSettings& settings);

// One line a target: MAC, address ("-" for none; ":PORT" where not
// default_port), how it was sent and the outcome; or CSV with the header
// mac,address,sent,outcome; or a JSON array of objects with those keys.
std::string FormatWakeTable(const std::vector<WakeTarget>& targets, TableFormat format,
                            uint16_t default_port);
