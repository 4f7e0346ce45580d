#include "agent/protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Pokes = std::vector<std::pair<size_t, uint8_t>>;  // offset, new byte
using Area = uint8_t[AGENT_BLOCK_SIZE];

const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0xAB, 0xCD, 0xEF};

TEST(CheckRequest, ChecksInOrderFirstFailureDecides) {
  using R = RequestCheck;
  const struct { int received; uint32_t command; Pokes pokes; R want; } cases[] = {
      {-1, CMD_MAC, {}, R::kRecvError}, {0, CMD_MAC, {}, R::kBroken},
      {1, CMD_MAC, {}, R::kBadLength}, {39, CMD_MAC, {}, R::kBadLength},  // head, command right
      {40, CMD_MAC, {{6, 0}}, R::kBadHeaderId},  // "QX/WOL" NUL NUL
      {40, CMD_MAC, {{7, ' '}}, R::kBadHeaderId}, {40, CMD_MAC, {{7, 'X'}}, R::kBadHeaderId},
      {40, CMD_MAC, {{7, 0x80}}, R::kBadHeaderId}, {40, CMD_MAC, {{7, 0xFF}}, R::kBadHeaderId},
      {40, CMD_MAC, {{0, 'q'}}, R::kBadHeaderId},
      {40, CMD_MAC, {{6, 0}, {8, 2}}, R::kBadHeaderId},  // judged before the version
      {40, CMD_MAC, {{8, 2}}, R::kBadVersion}, {40, CMD_MAC, {{8, 0}}, R::kBadVersion},
      {40, CMD_MAC, {{9, 1}}, R::kBadVersion},  // 01 01 00 00: the whole word counts
      {40, CMD_OFF, {}, R::kOff}, {40, CMD_MAC, {}, R::kMac}, {40, 0, {}, R::kUnknownCommand},
      {40, 3, {}, R::kUnknownCommand}, {40, 0x80000001, {}, R::kUnknownCommand},
      {40, 0x101, {}, R::kUnknownCommand},  // the whole word counts
  };
  Area block;
  for (size_t i = 0; i < std::size(cases); ++i) {
    BuildRequest(block, cases[i].command);
    for (const auto& [at, value] : cases[i].pokes) block[at] = value;
    EXPECT_EQ(CheckRequest(cases[i].received, block), cases[i].want) << "case " << i;
  }
  // Fields the agent does not read are ignored, in receives of 40 to 48 bytes.
  BuildRequest(block, CMD_OFF);
  std::memset(block + 12, 0xEE, 4);
  std::memset(block + 20, 0xEE, sizeof block - 20);
  for (int received = 40; received <= 48; ++received) {
    EXPECT_EQ(CheckRequest(received, block), R::kOff) << received;
  }
}

TEST(Responses, AreByteExactInAZeroedArea) {
  const struct { uint32_t (*build)(Area&); uint32_t size; const char* hex; } cases[] = {
      {BuildOffResponse, 40, "51582f574f4c2000 01000000 28000000 01000080 00000000"},
      {[](Area& a) { return BuildMacResponse(a, nullptr); }, 40,
       "51582f574f4c2000 01000000 28000000 02000080 02000000"},
      {[](Area& a) { return BuildMacResponse(a, kMac); }, 46,
       "51582f574f4c2000 01000000 2e000000 02000080 00000000 00000000 00000000 06000000 00000000"
       " 001122abcdef"},
      {BuildUnknownCommandResponse, 40, "51582f574f4c2000 01000000 28000000 00000000 01000000"},
      {[](Area& a) { return BuildRequest(a, CMD_MAC); }, 40,
       "51582f574f4c2000 01000000 28000000 02000000 00000000"},
  };
  for (const auto& c : cases) {
    Bytes want;
    for (const char* p = c.hex; *p; p += *p == ' ' ? 1 : 2) {
      if (*p != ' ') want.push_back(static_cast<uint8_t>(std::stoul(std::string(p, 2), 0, 16)));
    }
    Area area;
    std::memset(area, 0xAA, sizeof area);
    EXPECT_EQ(c.build(area), c.size) << c.hex;
    want.resize(sizeof area);  // zero to the end of the area
    EXPECT_EQ(Bytes(area, area + sizeof area), want) << c.hex;
  }
}

TEST(ParseResponse, ReadsWhatTheAgentSendsAndRejectsTheRest) {
  using P = ResponseParse;
  // read: used bytes, code, status, data length, MAC
  const struct { bool mac; Pokes pokes; size_t size; P want; const char* read; } cases[] = {
      {true, {}, 46, P::kOk, "46 80000002 0 6 001122ABCDEF"},
      {false, {}, 48, P::kOk, "40 80000001 0 0 000000000000"},  // the rest is the next one's
      {true, {}, 40, P::kIncomplete, ""}, {true, {}, 3, P::kIncomplete, ""},
      {false, {{7, 'X'}}, 40, P::kMalformed, ""}, {false, {{8, 2}}, 40, P::kMalformed, ""},
      {false, {{0, 'H'}}, 4, P::kMalformed, ""},    // an HTTP server: wrong at once
      {false, {{12, 46}}, 46, P::kMalformed, ""},  // data follows, data length 0
      {false, {{12, 45}, {32, 5}}, 45, P::kMalformed, ""},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    Area area;
    cases[i].mac ? BuildMacResponse(area, kMac) : BuildOffResponse(area);
    for (const auto& [at, value] : cases[i].pokes) area[at] = value;
    AgentResponse r{};
    size_t used = 0;
    ASSERT_EQ(ParseResponse(area, cases[i].size, &r, &used), cases[i].want) << "case " << i;
    char read[64] = "";
    const uint8_t* m = r.mac;
    if (cases[i].want == P::kOk) {
      std::snprintf(read, sizeof read, "%u %08X %u %u %02X%02X%02X%02X%02X%02X", unsigned(used),
                    r.code, r.status, r.data_length, m[0], m[1], m[2], m[3], m[4], m[5]);
    }
    EXPECT_EQ(std::string(read), cases[i].read) << "case " << i;
  }
}

}  // namespace
