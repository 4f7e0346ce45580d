#include "pwrctl/relay.h"

#include <cstring>

#include "agent/protocol.h"
#include "platform/netbios.h"

RelayReply AskRelay(const platform::Ipv4Address& relay, const uint8_t mac[6], uint32_t timeout_ms,
                    const ManagerKeyPair* key) {
  RelayReply r{Outcome::kError, 0, 0, false};
  platform::Socket socket;
  if (!ConnectAgent(relay, timeout_ms, &socket, &r.outcome)) return r;
  AgentResponse response{};
  Locking locking = Locking::kOpen;
  if (key) {
    uint8_t head[AGENT_BLOCK_SIZE];
    uint8_t data[AGENT_BLOCK_SIZE - AGENT_MESSAGE_SIZE] = {};
    std::memcpy(data, mac, 6);
    BuildSignedHead(head, CMD_WAKE_RELAY, data);
    if (!SendSigned(socket, *key, head, timeout_ms, &locking, &response, &r.outcome)) return r;
    r.signed_form = locking == Locking::kSignedOnly;
  }
  // An agent without a key gets the plain form, on the same connection.
  if (!r.signed_form) {
    uint8_t request[AGENT_BLOCK_SIZE];
    const size_t size = BuildWakeRelayRequest(request, mac);
    if (!Exchange(socket, request, size, timeout_ms, &response, &r.outcome)) return r;
  }
  r.code = response.code;
  r.status = response.status;
  r.outcome = response.code == RSP_WAKE_RELAY && response.status == ST_OK ? Outcome::kAcknowledged
                                                                         : Outcome::kOtherAnswer;
  return r;
}

std::string RelayFailureText(const RelayReply& reply) {
  if (reply.outcome == Outcome::kMalformed) return "not an agent";
  if (reply.outcome != Outcome::kOtherAnswer) return OutcomeText(reply.outcome);
  if (reply.code == RSP_WAKE_RELAY && reply.status == ST_REFUSED) {
    return reply.signed_form ? "refused" : "refused: it takes only signed commands (--key)";
  }
  if (reply.code == RSP_WAKE_RELAY && reply.status == ST_NO_MAC) return "knows no network";
  if (reply.code == RSP_NONE && reply.status == ST_BAD_COMMAND) return "does not relay";
  return "unexpected answer";
}

bool OnOwnNetwork(uint32_t address, int prefix) {
  const uint32_t mask = PrefixMask(prefix);
  std::vector<platform::AdapterAddress> own;
  platform::ReadAdapterAddresses(&own);
  for (const platform::AdapterAddress& a : own) {
    if (((NetworkToHost(a.address) ^ address) & mask) == 0) return true;
  }
  return false;
}

std::vector<TargetHost> RelayCandidates(const std::vector<TargetHost>& rows, uint32_t pc,
                                        int prefix) {
  const uint32_t mask = PrefixMask(prefix);
  std::vector<TargetHost> candidates;
  for (const TargetHost& row : rows) {
    if (row.address != pc && ((row.address ^ pc) & mask) == 0) candidates.push_back(row);
  }
  return candidates;
}

std::string NetworkText(uint32_t address, int prefix) {
  return FormatIpv4(address & PrefixMask(prefix)) + "/" + std::to_string(prefix);
}

std::string RelayWakeVia(const std::vector<TargetHost>& candidates, const uint8_t mac[6],
                         uint32_t timeout_ms, const std::string& network, DeadRelays* dead,
                         TargetHost* used, bool* ok, const ManagerKeyPair* key) {
  *ok = false;
  std::string failed;
  for (const TargetHost& relay : candidates) {
    {
      std::lock_guard<std::mutex> guard(dead->lock);
      const auto known = dead->hosts.find(relay);
      if (known != dead->hosts.end()) {
        failed = known->second;
        continue;
      }
    }
    const RelayReply reply =
        AskRelay({HostToNetwork(relay.address), PortToNetwork(relay.port)}, mac, timeout_ms, key);
    if (reply.outcome == Outcome::kAcknowledged) {
      *used = relay;
      *ok = true;
      return "via " + FormatIpv4(relay.address);
    }
    failed = "relay failed: " + FormatIpv4(relay.address) + " " + RelayFailureText(reply);
    // An agent that answered may relay for another PC; one that did not, won't.
    if (reply.outcome != Outcome::kOtherAnswer) {
      std::lock_guard<std::mutex> guard(dead->lock);
      dead->hosts[relay] = failed;
    }
  }
  return failed.empty() ? "no relay in " + network : failed;
}
