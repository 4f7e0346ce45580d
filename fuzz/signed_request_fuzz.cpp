// A signed request of any bytes against a connection holding a nonce (the
// input's first 32 bytes, the request the next 112): the verification
// through the crypto seam never accepts what no key signed, answers within
// the list of keys, and forgets the nonce whatever the outcome.
#include <cstring>

#include "agent/signed_commands.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ManagerKeys keys = [] {
    ManagerKeys k;
    char bad[8];
    ParseManagerKeys(
        "BHE9k3gFfYXxwdu9X/0uwavWMFmMqvYNMy959UqLo1SF8OEC7ydN5NjD8220uiRWydnGGkjlhDhg+fnbXnvq1bg=,"
        "BCiFdxmn0+D9tKjYjFpi4JCSRerJJtBAUNZmXFQAtfxNiLUta20C3KEN+1WQPeSyq9Kq9LLS3TkaQ65cVARMUWk=",
        &k, bad, sizeof bad);
    int off_curve = 0;
    ImportManagerKeys(&k, &off_curve);
    return k;
  }();
  FUZZ_CHECK(keys.count == 2);
  uint8_t input[AGENT_NONCE_SIZE + AGENT_SIGNED_MESSAGE_SIZE] = {};
  std::memcpy(input, data, size < sizeof input ? size : sizeof input);
  ChallengeState state;
  state.held = size > 0 && (data[0] & 1);
  state.issued_ms = 0;
  std::memcpy(state.nonce, input, AGENT_NONCE_SIZE);
  uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
  std::memcpy(request, input + AGENT_NONCE_SIZE, sizeof request);
  const uint64_t now = size > 1 ? data[1] * 1000u : 0;
  const bool held = state.held;
  const SignedCheck check = CheckSignedRequest(&state, keys, request, now);
  FUZZ_CHECK(!state.held);
  FUZZ_CHECK(check.verdict != SignedVerdict::kAccepted);  // nobody holds these keys' secrets
  FUZZ_CHECK(check.key_number == 0);
  FUZZ_CHECK(held || check.verdict == SignedVerdict::kNoChallenge);
  FUZZ_CHECK(!held || now < kChallengeLifeMs || check.verdict == SignedVerdict::kExpired);
  return 0;
}
