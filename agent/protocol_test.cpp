#include "agent/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Pokes = std::vector<std::pair<size_t, uint8_t>>;  // offset, new byte
using Area = uint8_t[AGENT_BLOCK_SIZE];

const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};

// A MAC request, changed by the pokes (the command at 16..19), as received.
TEST(CheckRequest, ChecksInOrderFirstFailureDecides) {
  using R = RequestCheck;
  const struct { Pokes pokes; R want; int received = 40; } cases[] = {
      {{}, R::kRecvError, -1}, {{}, R::kBroken, 0}, {{}, R::kBadLength, 1}, {{}, R::kBadLength, 39},
      {{}, R::kMac}, {{{16, 1}}, R::kOff}, {{{0, 'q'}}, R::kBadHeaderId},
      {{{7, ' '}}, R::kBadHeaderId}, {{{7, 0x80}}, R::kBadHeaderId},
      {{{6, 0}, {8, 2}}, R::kBadHeaderId},  // judged before the version
      {{{8, 0}}, R::kBadVersion}, {{{9, 1}}, R::kBadVersion},  // 01 01 00 00: the whole word counts
      {{{16, 0x10}}, R::kChallenge}, {{{16, 0x11}, {12, 112}}, R::kSignedOff, 48},
      {{{16, 0}}, R::kUnknownCommand}, {{{17, 1}}, R::kUnknownCommand},
      {{{16, 1}, {19, 0x80}}, R::kUnknownCommand},
      // Fields the agent does not read are ignored, up to the 48 bytes of a receive.
      {{{12, 0xEE}, {15, 0xEE}, {20, 0xEE}, {39, 0xEE}, {40, 0xEE}}, R::kMac, 41},
      {{{16, 1}, {23, 0xEE}, {24, 0xEE}, {35, 0xEE}, {47, 0xEE}}, R::kOff, 48},
      // WAKE RELAY: 48 bytes, data length 8, bytes 46-47 zero; the MAC is not judged.
      {{{16, 0x12}, {12, 48}, {32, 8}, {40, 0xEE}, {45, 0xEE}}, R::kWakeRelay, 48},
      {{{16, 0x12}, {12, 48}, {32, 8}}, R::kWakeRelayShort, 40},
      {{{16, 0x12}, {12, 48}, {32, 8}}, R::kWakeRelayShort, 47},
      {{{16, 0x12}, {12, 48}, {32, 8}, {47, 1}}, R::kUnknownCommand, 48},
      {{{16, 0x12}, {12, 48}, {32, 6}}, R::kUnknownCommand, 48},
      {{{16, 0x12}, {32, 8}}, R::kUnknownCommand, 48},  // an older manager's 40-byte 0x12
      {{{16, 0x12}, {12, 48}, {32, 8}, {8, 2}}, R::kBadVersion, 48},
      {{{16, 0x12}, {12, 112}, {32, 72}, {47, 1}}, R::kSignedWakeRelay, 48},  // the signature judges
  };
  for (const auto& c : cases) {
    Area block;
    BuildRequest(block, CMD_MAC);
    for (const auto& [at, value] : c.pokes) block[at] = value;
    EXPECT_EQ(CheckRequest(c.received, block), c.want) << "case " << &c - cases;
  }
}

TEST(Responses, AreByteExactInAZeroedArea) {
  const struct { uint32_t (*build)(Area&); uint32_t size; const char* hex; } cases[] = {
      {[](Area& a) { return BuildMacResponse(a, kMac); }, 46,
       "51582f574f4c2000 01000000 2e000000 02000080 00000000 00000000 00000000 06000000 00000000"
       " 001122abcdef"},
      {[](Area& a) { return BuildRequest(a, CMD_MAC); }, 40,
       "51582f574f4c2000 01000000 28000000 02000000 00000000"},
      {[](Area& a) { return BuildWakeRelayRequest(a, kMac); }, 48,
       "51582f574f4c2000 01000000 30000000 12000000 00000000 00000000 00000000 08000000 00000000"
       " 001122abcdef 0000"},
      {[](Area& a) { return BuildStatusResponse(a, RSP_WAKE_RELAY, 2); }, 40,
       "51582f574f4c2000 01000000 28000000 12000080 02000000"},
  };
  for (const auto& c : cases) {
    Bytes want;
    for (const char* p = c.hex; *p; p += *p == ' ' ? 1 : 2) {
      if (*p != ' ') want.push_back(static_cast<uint8_t>(std::stoul(std::string(p, 2), 0, 16)));
    }
    want.resize(sizeof(Area));  // zero to the end of the area
    Area area;
    std::memset(area, 0xAA, sizeof area);
    EXPECT_EQ(c.build(area), c.size) << c.hex;
    EXPECT_EQ(Bytes(area, area + sizeof area), want) << c.hex;
  }
}

}  // namespace
