// pwrctl wake through a relay: an agent on the PC's own network sends the
// magic packet there (WAKE RELAY), since routers drop the manager's
// broadcasts. One request a function, so a signing step can wrap it.
#pragma once

#include <cstdint>
#include <mutex>
#include <map>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "pwrctl/keys.h"
#include "pwrctl/scan.h"
#include "pwrctl/targets.h"

// How one WAKE RELAY ended: kAcknowledged (code 0x80000012, status 0), a
// connection outcome, or kOtherAnswer with the code and status given.
struct RelayReply {
  Outcome outcome;
  uint32_t code;
  uint32_t status;
  bool signed_form;  // the agent takes only signed commands and got the signed form
};

// Connects to the relay, sends the WAKE RELAY for mac and reads the answer,
// each within timeout_ms. With a key, an agent that takes only signed
// commands gets the signed form; any other, the plain 48 bytes.
RelayReply AskRelay(const platform::Ipv4Address& relay, const uint8_t mac[6], uint32_t timeout_ms,
                    const ManagerKeyPair* key);

// What a reply other than an acknowledgement means, for "relay failed: ADDRESS
// TEXT": refused (status 3, or no agent on the port), no network (status 2),
// does not relay (an older agent: status 1), not an agent, timed out, ...
std::string RelayFailureText(const RelayReply& reply);

// Whether address (host order) shares the first `prefix` bits with one of
// this machine's own addresses: a PC there needs no relay.
bool OnOwnNetwork(uint32_t address, int prefix);

// The relays to ask for one PC, in turn, until one acknowledges: the rows of
// the table (host order, each with its port) in the PC's network of `prefix`
// bits, other than the PC itself; or the one given by --via.
std::vector<TargetHost> RelayCandidates(const std::vector<TargetHost>& rows, uint32_t pc,
                                        int prefix);

// The network "A.B.C.D/N" of address, for "no relay in ...".
std::string NetworkText(uint32_t address, int prefix);

// Relays that did not answer, shared by the PCs of one run, so that a relay
// found asleep is not asked again for every PC of its network.
struct DeadRelays {
  std::mutex lock;
  std::map<TargetHost, std::string> hosts;  // the relay, and its "relay failed: ..."
};

// Asks the candidates in turn for mac. On success *used is the relay that
// acknowledged and "via ADDRESS" is returned; otherwise "relay failed:
// ADDRESS TEXT" for the last one asked, or "no relay in NETWORK" when none was
// left to ask.
std::string RelayWakeVia(const std::vector<TargetHost>& candidates, const uint8_t mac[6],
                         uint32_t timeout_ms, const std::string& network, DeadRelays* dead,
                         TargetHost* used, bool* ok, const ManagerKeyPair* key);
