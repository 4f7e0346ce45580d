#include "agent/signed_commands.h"

#include <chrono>
#include <cstring>

#include "agent/agent_events.h"
#include "agent/agent_trace.h"
#include "platform/crypto.h"

bool SignedCommandsRequired(const ManagerKeys& keys) { return keys.state != ManagerKeys::kNone; }

uint32_t IssueChallenge(ChallengeState* state, uint64_t now_ms,
                        uint8_t (&reply)[AGENT_CHALLENGE_MESSAGE_SIZE]) {
  state->held = false;
  if (!platform::RandomBytes(state->nonce, sizeof state->nonce)) return 0;
  state->held = true;
  state->issued_ms = now_ms;
  return BuildChallengeResponse(reply, state->nonce);
}

SignedCheck CheckSignedRequest(ChallengeState* state, const ManagerKeys& keys,
                               const uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE],
                               uint64_t now_ms) {
  const bool held = state->held;
  state->held = false;
  if (!held) return {SignedVerdict::kNoChallenge, 0};
  if (now_ms - state->issued_ms >= kChallengeLifeMs) return {SignedVerdict::kExpired, 0};
  if (keys.state != ManagerKeys::kKeys) return {SignedVerdict::kBadKey, 0};
  uint8_t message[AGENT_SIGNED_DATA_SIZE];
  BuildSignedData(state->nonce, request, message);
  for (int i = 0; i < keys.count; ++i) {
    if (keys.imported[i].Verify(message, sizeof message, request + OFS_SIGNATURE)) {
      return {SignedVerdict::kAccepted, i + 1};
    }
  }
  return {SignedVerdict::kBadSignature, 0};
}

const char* SignedRefusalText(SignedVerdict verdict) {
  switch (verdict) {
    case SignedVerdict::kNoChallenge: return "no challenge";
    case SignedVerdict::kExpired: return "old challenge";
    case SignedVerdict::kBadKey: return "bad ManagerKey";
    default: return "bad signature";
  }
}

SignedRead ReadSignedRequest(platform::Socket& connection, const uint8_t* block, int received,
                             ChallengeState* state, uint32_t peer,
                             uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE], int* key_number) {
  if (GetLe32(block + OFS_LENGTH) != AGENT_SIGNED_MESSAGE_SIZE) {
    Trace("Error recv() : Invalid Data Length IPaddress %x", peer);
    return SignedRead::kDropped;
  }
  std::memcpy(request, block, static_cast<size_t>(received));
  if (ReadRestOfRequest(connection, request, received, sizeof request) < 0) {
    Trace("Error recv() : Incomplete Signed Request IPaddress %x", peer);
    return SignedRead::kDropped;
  }
  const SignedCheck check =
      CheckSignedRequest(state, LoadedManagerKeys(), request, MonotonicMs());
  if (check.verdict != SignedVerdict::kAccepted) {
    Trace("Command Refused : %s IPaddress %x", SignedRefusalText(check.verdict), peer);
    ReportAgentEvent(AgentEvent::kRefused,
                     {ManagerAddress(peer).text, SignedRefusalText(check.verdict)});
    return SignedRead::kRefused;
  }
  *key_number = check.key_number;
  Trace("Signed Command Accepted : Key = %d IPaddress %x", check.key_number, peer);
  return SignedRead::kAccepted;
}

int ReadRestOfRequest(platform::Socket& connection, uint8_t* block, int held, int size) {
  const uint64_t deadline = MonotonicMs() + kRestOfRequestMs;
  while (held < size) {
    const uint64_t now = MonotonicMs();
    if (now >= deadline || connection.WaitReadable(static_cast<uint32_t>(deadline - now)) != 1) {
      return -1;
    }
    const int n = connection.Recv(block + held, size - held);
    if (n <= 0) return -1;
    held += n;
  }
  return held;
}

uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
