#include "agent/protocol.h"

#include <cstring>

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

namespace {

// The head id compares as a NUL-terminated string over the 8 received bytes,
// so "QX/WOL" + two NULs and "QX/WOL " + any non-NUL byte both fail.
bool HeaderIdMatches(const uint8_t* p) {
  return std::memcmp(p + OFS_HEADER_ID, AGENT_HEADER_ID, sizeof AGENT_HEADER_ID) == 0;
}

template <size_t N>
uint32_t BuildHead(uint8_t (&area)[N], uint32_t length, uint32_t code, uint32_t status,
                   uint32_t data_length) {
  std::memset(area, 0, sizeof area);
  std::memcpy(area + OFS_HEADER_ID, AGENT_HEADER_ID, sizeof AGENT_HEADER_ID);
  PutLe32(area + OFS_VERSION, AGENT_VERSION);
  PutLe32(area + OFS_LENGTH, length);
  PutLe32(area + OFS_CODE, code);
  PutLe32(area + OFS_STATUS, status);
  PutLe32(area + OFS_DATA_LENGTH, data_length);
  return length;
}

}  // namespace

RequestCheck CheckRequest(int received, const uint8_t* block) {
  if (received < 0) return RequestCheck::kRecvError;
  if (received == 0) return RequestCheck::kBroken;
  if (received < static_cast<int>(AGENT_MESSAGE_SIZE)) return RequestCheck::kBadLength;
  if (!HeaderIdMatches(block)) return RequestCheck::kBadHeaderId;
  if (GetLe32(block + OFS_VERSION) != AGENT_VERSION) return RequestCheck::kBadVersion;
  switch (GetLe32(block + OFS_CODE)) {
    case CMD_OFF: return RequestCheck::kOff;
    case CMD_MAC: return RequestCheck::kMac;
    case CMD_CHALLENGE: return RequestCheck::kChallenge;
    case CMD_SIGNED_OFF: return RequestCheck::kSignedOff;
    case CMD_WAKE_RELAY: break;
    default: return RequestCheck::kUnknownCommand;
  }
  // The signed form is judged by its signature, which covers bytes 40..47.
  if (GetLe32(block + OFS_LENGTH) == AGENT_SIGNED_MESSAGE_SIZE) return RequestCheck::kSignedWakeRelay;
  if (GetLe32(block + OFS_LENGTH) != AGENT_RELAY_MESSAGE_SIZE ||
      GetLe32(block + OFS_DATA_LENGTH) != AGENT_RELAY_DATA_SIZE) {
    return RequestCheck::kUnknownCommand;
  }
  if (received < static_cast<int>(AGENT_RELAY_MESSAGE_SIZE)) return RequestCheck::kWakeRelayShort;
  if (block[OFS_MAC + 6] != 0 || block[OFS_MAC + 7] != 0) return RequestCheck::kUnknownCommand;
  return RequestCheck::kWakeRelay;
}

uint32_t BuildOffResponse(uint8_t (&area)[AGENT_BLOCK_SIZE]) {
  return BuildHead(area, AGENT_MESSAGE_SIZE, RSP_OFF, ST_OK, 0);
}

uint32_t BuildMacResponse(uint8_t (&area)[AGENT_BLOCK_SIZE], const uint8_t* mac) {
  if (!mac) return BuildHead(area, AGENT_MESSAGE_SIZE, RSP_MAC, ST_NO_MAC, 0);
  BuildHead(area, AGENT_MAC_MESSAGE_SIZE, RSP_MAC, ST_OK, 6);
  std::memcpy(area + OFS_MAC, mac, 6);
  return AGENT_MAC_MESSAGE_SIZE;
}

uint32_t BuildUnknownCommandResponse(uint8_t (&area)[AGENT_BLOCK_SIZE]) {
  return BuildHead(area, AGENT_MESSAGE_SIZE, RSP_NONE, ST_BAD_COMMAND, 0);
}

uint32_t BuildStatusResponse(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t code, uint32_t status) {
  return BuildHead(area, AGENT_MESSAGE_SIZE, code, status, 0);
}

uint32_t BuildChallengeResponse(uint8_t (&area)[AGENT_CHALLENGE_MESSAGE_SIZE],
                                const uint8_t (&nonce)[AGENT_NONCE_SIZE]) {
  BuildHead(area, AGENT_CHALLENGE_MESSAGE_SIZE, RSP_CHALLENGE, ST_OK, AGENT_NONCE_SIZE);
  std::memcpy(area + OFS_NONCE, nonce, sizeof nonce);
  return AGENT_CHALLENGE_MESSAGE_SIZE;
}

uint32_t BuildRequest(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t command) {
  return BuildHead(area, AGENT_MESSAGE_SIZE, command, 0, 0);
}

uint32_t BuildWakeRelayRequest(uint8_t (&area)[AGENT_BLOCK_SIZE], const uint8_t mac[6]) {
  BuildHead(area, AGENT_RELAY_MESSAGE_SIZE, CMD_WAKE_RELAY, 0, AGENT_RELAY_DATA_SIZE);
  std::memcpy(area + OFS_MAC, mac, 6);
  return AGENT_RELAY_MESSAGE_SIZE;
}

void BuildSignedData(const uint8_t (&nonce)[AGENT_NONCE_SIZE], const uint8_t* request,
                     uint8_t (&data)[AGENT_SIGNED_DATA_SIZE]) {
  std::memcpy(data, nonce, AGENT_NONCE_SIZE);
  std::memcpy(data + AGENT_NONCE_SIZE, request, AGENT_BLOCK_SIZE);
}

void BuildMagicPacket(const uint8_t mac[6], uint8_t packet[kMagicPacketSize]) {
  std::memset(packet, 0xFF, 6);
  for (size_t i = 0; i < 16; ++i) std::memcpy(packet + 6 + i * 6, mac, 6);
}

void BuildSignedHead(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t command,
                     const uint8_t (&data)[AGENT_BLOCK_SIZE - AGENT_MESSAGE_SIZE]) {
  BuildHead(area, AGENT_SIGNED_MESSAGE_SIZE, command, 0,
            AGENT_SIGNED_MESSAGE_SIZE - AGENT_MESSAGE_SIZE);
  std::memcpy(area + AGENT_MESSAGE_SIZE, data, sizeof data);
}

ResponseParse ParseResponse(const uint8_t* bytes, size_t size, AgentResponse* response,
                            size_t* used) {
  // Judge what has arrived so far; a wrong byte is wrong however much follows.
  const size_t head = size < sizeof AGENT_HEADER_ID ? size : sizeof AGENT_HEADER_ID;
  if (std::memcmp(bytes, AGENT_HEADER_ID, head) != 0) return ResponseParse::kMalformed;
  if (size < AGENT_MESSAGE_SIZE) return ResponseParse::kIncomplete;
  if (GetLe32(bytes + OFS_VERSION) != AGENT_VERSION) return ResponseParse::kMalformed;
  const uint32_t length = GetLe32(bytes + OFS_LENGTH);
  const uint32_t data_length = GetLe32(bytes + OFS_DATA_LENGTH);
  if (data_length != 0 && data_length != 6 && data_length != AGENT_NONCE_SIZE) {
    return ResponseParse::kMalformed;
  }
  if (length != AGENT_MESSAGE_SIZE + data_length) return ResponseParse::kMalformed;
  if (size < length) return ResponseParse::kIncomplete;
  response->code = GetLe32(bytes + OFS_CODE);
  response->status = GetLe32(bytes + OFS_STATUS);
  response->data_length = data_length;
  std::memset(response->mac, 0, sizeof response->mac);
  std::memset(response->nonce, 0, sizeof response->nonce);
  if (data_length == 6) std::memcpy(response->mac, bytes + OFS_MAC, 6);
  if (data_length == AGENT_NONCE_SIZE) std::memcpy(response->nonce, bytes + OFS_NONCE, AGENT_NONCE_SIZE);
  *used = length;
  return ResponseParse::kOk;
}
