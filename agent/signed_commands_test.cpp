#include "agent/signed_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes b;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    b.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return b;
}

// Made once with the openssl command-line tool (ecparam -genkey, dgst
// -sha256 -sign) over the nonce 20 21 .. 3f and the head below; its s is
// above n/2, which both platforms must accept.
const char kKey[] = "BHE9k3gFfYXxwdu9X/0uwavWMFmMqvYNMy959UqLo1SF8OEC7ydN5NjD8220uiRWydnGGkjlhDhg+fnbXnvq1bg=";
const char kOtherKey[] = "BCiFdxmn0+D9tKjYjFpi4JCSRerJJtBAUNZmXFQAtfxNiLUta20C3KEN+1WQPeSyq9Kq9LLS3TkaQ65cVARMUWk=";
const std::string kSignedOff =
    "51582f574f4c2000010000007000000011000000000000000000000000000000480000000000000001000000"
    "00000000"
    "fcaf88529c7a5d938c57697ad6f37693c97196b502e9c07f5c7be1d23baab109"
    "ae6e5a08dcdc1f070b3eaf92cbe2957b7586370c92b9f641bd23ed5f3f8526e3";

// The state of a connection that was given the nonce at t = 1000 ms.
ChallengeState Challenged() {
  ChallengeState state;
  state.held = true;
  state.issued_ms = 1000;
  for (uint8_t i = 0; i < AGENT_NONCE_SIZE; ++i) state.nonce[i] = static_cast<uint8_t>(0x20 + i);
  return state;
}

TEST(SignedCommands, AcceptOnlyAFreshSignatureOverTheNonceAndTheRequest) {
  ManagerKeys keys;
  const std::string list = std::string(kOtherKey) + " , " + kKey;
  char bad[40];
  int off_curve = -1;
  ASSERT_TRUE(ParseManagerKeys(list.c_str(), &keys, bad, sizeof bad));
  ASSERT_TRUE(ImportManagerKeys(&keys, &off_curve));
  ManagerKeys broken;
  EXPECT_FALSE(ParseManagerKeys("x", &broken, bad, sizeof bad));
  using V = SignedVerdict;
  const struct {
    int flip;  // the byte of the request whose low bit flips; -1 none, -2 a bit of the nonce
    uint64_t now_ms;
    V want;
    int key_number = 0;
    bool held = true;
    const ManagerKeys* with = nullptr;
  } cases[] = {
      {-1, 1000 + kChallengeLifeMs - 1, V::kAccepted, 2},
      {48, 2000, V::kBadSignature}, {111, 2000, V::kBadSignature},  // the signature
      {-2, 2000, V::kBadSignature},                                 // the nonce
      {12, 2000, V::kBadSignature}, {32, 2000, V::kBadSignature},   // the head
      {40, 2000, V::kBadSignature}, {47, 2000, V::kBadSignature},   // action, and its zeros
      {-1, 2000, V::kNoChallenge, 0, false},
      {-1, 1000 + kChallengeLifeMs, V::kExpired},
      {-1, 2000, V::kBadKey, 0, true, &broken},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    uint8_t request[AGENT_SIGNED_MESSAGE_SIZE];
    const Bytes bytes = FromHex(kSignedOff);
    ASSERT_EQ(bytes.size(), sizeof request);
    std::memcpy(request, bytes.data(), sizeof request);
    if (c.flip >= 0) request[c.flip] ^= 1;
    ChallengeState state = Challenged();
    state.held = c.held;
    if (c.flip == -2) state.nonce[5] ^= 0x80;
    const SignedCheck got = CheckSignedRequest(&state, c.with ? *c.with : keys, request, c.now_ms);
    EXPECT_EQ(got.verdict, c.want);
    EXPECT_EQ(got.key_number, c.key_number);
    // One try per challenge: the same request again finds no nonce.
    EXPECT_EQ(CheckSignedRequest(&state, keys, request, c.now_ms).verdict, V::kNoChallenge);
  }
}

// At most eight keys; an empty entry, a damaged key or a ninth fails closed,
// naming the entry as written.
TEST(ManagerKey, ParsesOneToEightKeysAndNamesTheFirstBadEntry) {
  std::string eight = kKey, nine;
  for (int i = 1; i < 8; ++i) eight += std::string(i % 2 ? ",\t" : " , ") + kOtherKey;
  nine = eight + "," + kKey;
  const std::string damaged = std::string(kKey).replace(87, 1, "A");  // no padding
  const struct { std::string text; bool ok; int count; std::string bad; } cases[] = {
      {"", true, 0, ""}, {eight, true, 8, ""}, {nine, false, 0, std::string(kKey).substr(0, 39)},
      {std::string(kKey) + ",", false, 0, ""}, {" " + damaged, false, 0, damaged.substr(0, 39)},
  };
  for (const auto& c : cases) {
    ManagerKeys keys;
    char bad[40];
    EXPECT_EQ(ParseManagerKeys(c.text.c_str(), &keys, bad, sizeof bad), c.ok) << c.text;
    EXPECT_EQ(keys.count, c.count) << c.text;
    EXPECT_EQ(bad, c.bad) << c.text;
  }
}

TEST(SignedCommands, AChallengeIsANewNonceKeptByTheConnection) {
  ChallengeState state;
  uint8_t first[AGENT_CHALLENGE_MESSAGE_SIZE], second[AGENT_CHALLENGE_MESSAGE_SIZE];
  ASSERT_EQ(IssueChallenge(&state, 5, first), AGENT_CHALLENGE_MESSAGE_SIZE);
  const Bytes head = FromHex(
      "51582f574f4c2000010000004800000010000080000000000000000000000000200000000000000000");
  EXPECT_EQ(Bytes(first, first + 40), Bytes(head.begin(), head.begin() + 40));
  ASSERT_EQ(IssueChallenge(&state, 7, second), AGENT_CHALLENGE_MESSAGE_SIZE);
  EXPECT_NE(Bytes(first + 40, first + 72), Bytes(second + 40, second + 72));
  EXPECT_EQ(Bytes(second + 40, second + 72), Bytes(state.nonce, state.nonce + 32));
  EXPECT_TRUE(state.held);
  EXPECT_EQ(state.issued_ms, 7u);
}

}  // namespace
