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
#include "pwrctl/keys.h"
#include "pwrctl/targets.h"

enum class Outcome {
  kMac,           // answered with its MAC
  kAcknowledged,  // OFF acknowledged, signed
  kUnsigned,      // OFF acknowledged in its plain form
  kDenied,        // a command refused (status 3): a plain OFF to a locked agent
  kNoMac,         // answered status 2: no MAC known
  kOtherAnswer,   // a well-formed answer that is not the one asked for
  kRefused,       // connection reset at once: no agent on the port
  kUnreachable,   // no route, host unreachable, or another connect failure
  kTimedOut,      // no connection or no reply within the time-out
  kClosed,        // closed before a whole reply
  kMalformed,     // a reply that is not the protocol's
  kError,         // another socket error
};

// Whether an agent takes only signed commands (it answered CHALLENGE).
enum class Locking { kUnknown, kSignedOnly, kOpen };

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
// kAcknowledged (a signed OFF), kUnsigned (a plain OFF), kDenied (status 3)
// or kOtherAnswer.
Outcome ClassifyAnswer(uint32_t command, const AgentResponse& response);

// Sends the request on an open connection and reads one well-formed reply
// into *response; false with *failure telling what happened instead.
bool Exchange(platform::Socket& socket, const uint8_t* request, size_t size, uint32_t timeout_ms,
              AgentResponse* response, Outcome* failure);

// Connects to the agent within timeout_ms; false with *failure kRefused,
// kTimedOut, kUnreachable or kError.
bool ConnectAgent(const platform::Ipv4Address& remote, uint32_t timeout_ms,
                  platform::Socket* socket, Outcome* failure);

// Asks for a challenge on an open connection: *locking kSignedOnly when the
// answer carries a nonce (in *response), kOpen when the agent knows no such
// command, kUnknown for any other answer. False with *failure when no
// well-formed answer came.
bool AskChallenge(platform::Socket& socket, uint32_t timeout_ms, Locking* locking,
                  AgentResponse* response, Outcome* failure);

// The signed form of a request on an open connection: CHALLENGE, then the 48
// bytes of head (BuildSignedHead) signed over the agent's nonce and sent, and
// the answer read into *response. An agent that answers CHALLENGE as an
// unknown command takes no signed commands: *locking kOpen, true, and
// nothing more sent, so that the caller sends the plain form.
bool SendSigned(platform::Socket& socket, const ManagerKeyPair& key,
                const uint8_t (&head)[AGENT_BLOCK_SIZE], uint32_t timeout_ms, Locking* locking,
                AgentResponse* response, Outcome* failure);
// SendSigned of a SIGNED POWER-OFF (action 1).
bool SendSignedOff(platform::Socket& socket, const ManagerKeyPair& key, uint32_t timeout_ms,
                   Locking* locking, AgentResponse* response, Outcome* failure);

struct HostOutcome {
  uint32_t address;  // host byte order
  uint16_t port;     // host byte order
  Outcome outcome;
  uint8_t mac[6];    // with kMac
  Locking locking;
};

// One connection, connecting and awaiting each reply within timeout_ms.
// CMD_MAC asks for the MAC, then for a challenge, to learn *locking. CMD_OFF
// sends the plain OFF without a key, the signed one with a key to an agent
// that takes it (the plain one to one that does not).
Outcome AskAgent(const platform::Ipv4Address& remote, uint32_t command, uint32_t timeout_ms,
                 uint8_t mac[6], const ManagerKeyPair* key = nullptr, Locking* locking = nullptr);

// AskAgent for every host on its port (none 0), `connections` at a time;
// results in the order of hosts. progress(done, total) is called after each
// host, one call at a time, from the pool's threads.
std::vector<HostOutcome> AskAll(const std::vector<TargetHost>& hosts,
                                uint32_t command, int connections, uint32_t timeout_ms,
                                const std::function<void(size_t, size_t)>& progress,
                                const ManagerKeyPair* key = nullptr);

const char* OutcomeText(Outcome outcome);

enum class TableFormat { kText, kCsv, kJson };

// One line a host: "ADDRESS  MAC" or "ADDRESS  OUTCOME" (address padded to 15
// columns), then, after a scan's answer, "  signed" or "  open" where the
// agent's locking is known; CSV with the header address,mac,outcome,signed
// (yes, no or empty); or a JSON array ("signed": true, false or null),
// for a scan and an OFF alike. The address is "A.B.C.D:PORT"
// where the port is not default_port, so that a saved table names each host
// as it was asked; its first word stays the target, its second the MAC.
std::string FormatOutcomes(const std::vector<HostOutcome>& outcomes, TableFormat format,
                           uint16_t default_port);
