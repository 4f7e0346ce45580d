// Signed commands on one connection: CHALLENGE gives a nonce that the
// connection keeps for 60 s; a signed request (of any code) is then accepted
// when its signature over the nonce and request bytes 0..47 verifies under
// one of the manager keys. One try per challenge: every signed request
// forgets the nonce. Times are milliseconds of a monotonic clock, given by
// the caller, so that a test can age a nonce.
#pragma once

#include <cstdint>

#include "agent/manager_keys.h"
#include "agent/protocol.h"
#include "platform/socket.h"

constexpr uint64_t kChallengeLifeMs = 60000;
// The rest of a request longer than its first receive (a signed request, a
// WAKE RELAY in two parts) must follow within this.
constexpr uint32_t kRestOfRequestMs = 10000;

struct ChallengeState {
  bool held = false;
  uint64_t issued_ms = 0;
  uint8_t nonce[AGENT_NONCE_SIZE] = {};
};

// The signed form is in force: the agent has a ManagerKey value, good or not.
bool SignedCommandsRequired(const ManagerKeys& keys);

// A fresh nonce into *state (replacing any earlier one) and the 72-byte
// answer; 0 when the random generator fails (no nonce is then held).
uint32_t IssueChallenge(ChallengeState* state, uint64_t now_ms,
                        uint8_t (&reply)[AGENT_CHALLENGE_MESSAGE_SIZE]);

enum class SignedVerdict { kAccepted, kNoChallenge, kExpired, kBadKey, kBadSignature };

struct SignedCheck {
  SignedVerdict verdict;
  int key_number;  // 1 to 8 when accepted
};

// Judges a whole signed request against the imported keys and forgets the
// nonce.
SignedCheck CheckSignedRequest(ChallengeState* state, const ManagerKeys& keys,
                               const uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE],
                               uint64_t now_ms);

// The reason a refusal's trace line gives.
const char* SignedRefusalText(SignedVerdict verdict);

// How reading and judging a signed request ended.
enum class SignedRead { kAccepted, kRefused, kDropped };

// The signed request whose first receive is in block: reads its rest into
// request (closing without a reply, kDropped, on a length other than 112 or
// when the rest does not come within kRestOfRequestMs), then judges it with the
// loaded keys. Traces and reports the refusal with its reason, or traces the
// key that verified (*key_number, 1 to 8). The caller checks the
// code-specific bytes 40..47 and answers.
SignedRead ReadSignedRequest(platform::Socket& connection, const uint8_t* block, int received,
                             ChallengeState* state, uint32_t peer,
                             uint8_t (&request)[AGENT_SIGNED_MESSAGE_SIZE], int* key_number);

// Reads until block holds size bytes, within kRestOfRequestMs; the bytes held
// then, or -1 when they did not all come.
int ReadRestOfRequest(platform::Socket& connection, uint8_t* block, int held, int size);

// Milliseconds of the monotonic clock.
uint64_t MonotonicMs();
