#include "agent/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// "QX/WOL " NUL, version 1, length 40, the command, the rest 0.
Bytes Request(uint32_t command, size_t size = 40) {
  Bytes b(48, 0);
  std::memcpy(b.data(), "QX/WOL \0", 8);
  b[8] = 1;
  b[12] = 40;
  PutLe32(b.data() + 16, command);
  b.resize(size);
  return b;
}

RequestCheck Check(const Bytes& b) {
  uint8_t block[48] = {};
  std::memcpy(block, b.data(), b.size() < 48 ? b.size() : 48);
  return CheckRequest(static_cast<int>(b.size()), block);
}

Bytes Area(const uint8_t (&area)[48], uint32_t size) { return Bytes(area, area + size); }

Bytes Hex(const std::string& hex) {
  Bytes b;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') { ++i; continue; }
    b.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return b;
}

TEST(CheckRequest, ChecksInOrderFirstFailureDecides) {
  uint8_t block[48] = {};
  EXPECT_EQ(CheckRequest(-1, block), RequestCheck::kRecvError);
  EXPECT_EQ(CheckRequest(0, block), RequestCheck::kBroken);
  // 39 bytes fail on length even though head and command are right.
  EXPECT_EQ(Check(Request(CMD_MAC, 39)), RequestCheck::kBadLength);
  EXPECT_EQ(Check(Request(CMD_MAC, 1)), RequestCheck::kBadLength);

  Bytes two_nuls = Request(CMD_MAC);
  two_nuls[6] = 0;  // "QX/WOL" + NUL NUL
  EXPECT_EQ(Check(two_nuls), RequestCheck::kBadHeaderId);
  for (uint8_t c : {uint8_t{' '}, uint8_t{'X'}, uint8_t{0x80}, uint8_t{0xFF}}) {
    Bytes trailing = Request(CMD_MAC);
    trailing[7] = c;  // "QX/WOL " + a non-NUL byte
    EXPECT_EQ(Check(trailing), RequestCheck::kBadHeaderId) << int(c);
  }
  Bytes lower = Request(CMD_MAC);
  lower[0] = 'q';
  EXPECT_EQ(Check(lower), RequestCheck::kBadHeaderId);
  // Head id is judged before the version.
  Bytes both = two_nuls;
  both[8] = 2;
  EXPECT_EQ(Check(both), RequestCheck::kBadHeaderId);

  Bytes v2 = Request(CMD_MAC);
  v2[8] = 2;
  EXPECT_EQ(Check(v2), RequestCheck::kBadVersion);
  Bytes v257 = Request(CMD_MAC);
  v257[9] = 1;  // 01 01 00 00: the whole word is compared
  EXPECT_EQ(Check(v257), RequestCheck::kBadVersion);
  Bytes v0 = Request(CMD_MAC);
  v0[8] = 0;
  EXPECT_EQ(Check(v0), RequestCheck::kBadVersion);

  EXPECT_EQ(Check(Request(CMD_OFF)), RequestCheck::kOff);
  EXPECT_EQ(Check(Request(CMD_MAC)), RequestCheck::kMac);
  EXPECT_EQ(Check(Request(0)), RequestCheck::kUnknownCommand);
  EXPECT_EQ(Check(Request(3)), RequestCheck::kUnknownCommand);
  EXPECT_EQ(Check(Request(0x101)), RequestCheck::kUnknownCommand);  // whole word
  EXPECT_EQ(Check(Request(0x80000001)), RequestCheck::kUnknownCommand);
}

TEST(CheckRequest, FieldsTheAgentDoesNotReadAreIgnored) {
  for (size_t size = 40; size <= 48; ++size) {
    Bytes b = Request(CMD_OFF, size);
    for (size_t i = 12; i < 16; ++i) b[i] = 0xEE;
    for (size_t i = 20; i < size; ++i) b[i] = 0xEE;
    EXPECT_EQ(Check(b), RequestCheck::kOff) << size;
  }
}

TEST(Responses, AreByteExactInAZeroedArea) {
  uint8_t area[48];
  std::memset(area, 0xAA, sizeof area);
  ASSERT_EQ(BuildOffResponse(area), 40u);
  EXPECT_EQ(Area(area, 48), Hex("51582f574f4c2000 01000000 28000000 01000080 00000000"
                                "00000000 00000000 00000000 00000000 0000000000000000"));

  std::memset(area, 0xAA, sizeof area);
  ASSERT_EQ(BuildMacResponse(area, nullptr), 40u);
  EXPECT_EQ(Area(area, 48), Hex("51582f574f4c2000 01000000 28000000 02000080 02000000"
                                "00000000 00000000 00000000 00000000 0000000000000000"));

  std::memset(area, 0xAA, sizeof area);
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};
  ASSERT_EQ(BuildMacResponse(area, mac), 46u);
  EXPECT_EQ(Area(area, 48), Hex("51582f574f4c2000 01000000 2e000000 02000080 00000000"
                                "00000000 00000000 06000000 00000000 001122abcdef 0000"));

  std::memset(area, 0xAA, sizeof area);
  ASSERT_EQ(BuildUnknownCommandResponse(area), 40u);
  EXPECT_EQ(Area(area, 48), Hex("51582f574f4c2000 01000000 28000000 00000000 01000000"
                                "00000000 00000000 00000000 00000000 0000000000000000"));

  ASSERT_EQ(BuildRequest(area, CMD_MAC), 40u);
  EXPECT_EQ(Area(area, 40), Hex("51582f574f4c2000 01000000 28000000 02000000 00000000"
                                "00000000 00000000 00000000 00000000"));
  EXPECT_EQ(Check(Area(area, 40)), RequestCheck::kMac);
}

TEST(ParseResponse, ReadsWhatTheAgentSendsAndRejectsTheRest) {
  uint8_t area[48];
  AgentResponse r;
  size_t used = 0;

  const uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
  BuildMacResponse(area, mac);
  ASSERT_EQ(ParseResponse(area, 46, &r, &used), ResponseParse::kOk);
  EXPECT_EQ(used, 46u);
  EXPECT_EQ(r.code, RSP_MAC);
  EXPECT_EQ(r.status, ST_OK);
  EXPECT_EQ(Bytes(r.mac, r.mac + 6), Bytes(mac, mac + 6));
  EXPECT_EQ(ParseResponse(area, 40, &r, &used), ResponseParse::kIncomplete);
  EXPECT_EQ(ParseResponse(area, 3, &r, &used), ResponseParse::kIncomplete);

  BuildOffResponse(area);
  ASSERT_EQ(ParseResponse(area, 48, &r, &used), ResponseParse::kOk);  // the rest is the next one
  EXPECT_EQ(used, 40u);
  EXPECT_EQ(r.code, RSP_OFF);
  EXPECT_EQ(r.data_length, 0u);

  BuildOffResponse(area);
  area[7] = 'X';
  EXPECT_EQ(ParseResponse(area, 40, &r, &used), ResponseParse::kMalformed);
  area[7] = 0;
  area[0] = 'H';  // an HTTP server, say: wrong from the first byte
  EXPECT_EQ(ParseResponse(area, 4, &r, &used), ResponseParse::kMalformed);

  BuildOffResponse(area);
  area[8] = 2;
  EXPECT_EQ(ParseResponse(area, 40, &r, &used), ResponseParse::kMalformed);

  BuildOffResponse(area);
  area[12] = 46;  // length says data follows, data length says none
  EXPECT_EQ(ParseResponse(area, 46, &r, &used), ResponseParse::kMalformed);

  BuildOffResponse(area);
  area[32] = 5;
  area[12] = 45;
  EXPECT_EQ(ParseResponse(area, 45, &r, &used), ResponseParse::kMalformed);
}

}  // namespace
