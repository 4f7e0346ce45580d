// One agent's exchange, as every pwrctl verb makes it, and asking many agents
// at once: pwrctl scan (their MACs) and off with several hosts. A pool of
// threads, each doing one host's exchange at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "agent/protocol.h"
#include "platform/socket.h"
#include "pwrctl/targets.h"

enum class Outcome {
  kMac,           // answered with its MAC
  kAcknowledged,  // OFF acknowledged
  kNoMac,         // answered status 2: no MAC known
  kOtherAnswer,   // a well-formed answer that is not the one asked for
  kRefused,       // connection reset at once: no agent on the port
  kUnreachable,   // no route, host unreachable, or another connect failure
  kTimedOut,      // no connection or no reply within the time-out
  kClosed,        // closed before a whole reply
  kMalformed,     // a reply that is not the protocol's
  kError,         // another socket error
};

// How a read of the agent's bytes ended.
enum class Received { kDone, kClosed, kTimedOut, kError };

// Appends what arrives until done(bytes) holds, the peer closes or timeout_ms
// passes.
Received ReceiveUntil(platform::Socket& socket, uint32_t timeout_ms, std::vector<uint8_t>* bytes,
                      const std::function<bool(const std::vector<uint8_t>&)>& done);

// Reads one reply: kDone once ParseResponse decides, with *parse kOk (and
// *response filled) or kMalformed.
Received ReceiveReply(platform::Socket& socket, uint32_t timeout_ms, std::vector<uint8_t>* reply,
                      AgentResponse* response, ResponseParse* parse);

// What a well-formed answer means for the command sent: kMac, kNoMac,
// kAcknowledged or kOtherAnswer.
Outcome ClassifyAnswer(uint32_t command, const AgentResponse& response);

struct HostOutcome {
  uint32_t address;  // host byte order
  uint16_t port;     // host byte order
  Outcome outcome;
  uint8_t mac[6];    // with kMac
};

// One connection: sends command (CMD_MAC or CMD_OFF) and reads the answer,
// connecting and awaiting the reply each within timeout_ms.
Outcome AskAgent(const platform::Ipv4Address& remote, uint32_t command, uint32_t timeout_ms,
                 uint8_t mac[6]);

// AskAgent for every host on its port (none 0), `connections` at a time;
// results in the order of hosts. progress(done, total) is called after each
// host, one call at a time, from the pool's threads.
std::vector<HostOutcome> AskAll(const std::vector<TargetHost>& hosts,
                                uint32_t command, int connections, uint32_t timeout_ms,
                                const std::function<void(size_t, size_t)>& progress);

const char* OutcomeText(Outcome outcome);

enum class TableFormat { kText, kCsv, kJson };

// One line a host: "ADDRESS  MAC" or "ADDRESS  OUTCOME" (address padded to 15
// columns); CSV with the header address,mac,outcome; or a JSON array. The
// address is "A.B.C.D:PORT" where the port is not default_port, so that a
// saved table names each host as it was asked.
std::string FormatOutcomes(const std::vector<HostOutcome>& outcomes, TableFormat format,
                           uint16_t default_port);
