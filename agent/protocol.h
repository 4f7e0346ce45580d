// The agent's wire protocol: a 40-byte little-endian head, AgentMessage, in
// both directions, and six MAC bytes after the head of a MAC answer.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char AGENT_HEADER_ID[] = "QX/WOL ";  // 7 characters and a NUL: 8 bytes
constexpr uint32_t AGENT_VERSION = 1;
constexpr uint32_t AGENT_MESSAGE_SIZE = 40;
constexpr uint32_t AGENT_MAC_MESSAGE_SIZE = 46;
constexpr uint32_t AGENT_BLOCK_SIZE = 48;  // one receive, one response area
// Signed commands: a CHALLENGE answer carries a nonce; a signed request is the
// 48-byte request followed by the signature over the nonce and those 48 bytes.
constexpr uint32_t AGENT_NONCE_SIZE = 32;
constexpr uint32_t AGENT_CHALLENGE_MESSAGE_SIZE = 72;
constexpr uint32_t AGENT_SIGNED_MESSAGE_SIZE = 112;
// What the signature covers: the nonce, then request bytes 0..47 as sent.
constexpr uint32_t AGENT_SIGNED_DATA_SIZE = AGENT_NONCE_SIZE + AGENT_BLOCK_SIZE;

// Field offsets in the head.
enum : uint32_t {
  OFS_HEADER_ID = 0,
  OFS_VERSION = 8,
  OFS_LENGTH = 12,
  OFS_CODE = 16,
  OFS_STATUS = 20,
  OFS_DATA_LENGTH = 32,
  OFS_MAC = 40,
  OFS_NONCE = 40,      // in a CHALLENGE answer
  OFS_ACTION = 40,     // in a SIGNED POWER-OFF
  OFS_SIGNATURE = 48,  // in every signed request
};

// WAKE RELAY: the head, then the MAC to wake and two zero bytes.
constexpr uint32_t AGENT_RELAY_MESSAGE_SIZE = 48;
constexpr uint32_t AGENT_RELAY_DATA_SIZE = 8;

enum : uint32_t {
  CMD_OFF = 1,
  CMD_MAC = 2,
  CMD_WAKE_RELAY = 0x12,
  CMD_CHALLENGE = 0x10,
  CMD_SIGNED_OFF = 0x11,
  RSP_NONE = 0,
  RSP_OFF = 0x80000001,
  RSP_MAC = 0x80000002,
  RSP_CHALLENGE = 0x80000010,
  RSP_SIGNED_OFF = 0x80000011,
  RSP_WAKE_RELAY = 0x80000012,
  RSP_FLAG = 0x80000000,  // a response's code is its request's with this bit
  ST_OK = 0,
  ST_BAD_COMMAND = 1,
  ST_NO_MAC = 2,
  ST_REFUSED = 3,
  ACTION_POWER_OFF = 1,
};

// What one receive call brought, in the order the checks are made; the first
// failing check decides.
enum class RequestCheck {
  kRecvError,       // the receive call failed
  kBroken,          // 0 bytes: the manager closed its side
  kBadLength,       // fewer than 40 bytes
  kBadHeaderId,
  kBadVersion,
  kOff,
  kMac,
  kWakeRelay,       // a whole WAKE RELAY of 48 bytes
  kWakeRelayShort,  // a WAKE RELAY head with fewer than its 48 bytes; the rest follows
  kChallenge,       // answered only by an agent with a manager key
  kSignedOff,       // the first part; the whole request is 112 bytes
  kSignedWakeRelay, // a WAKE RELAY of dwLength 112: the first part of its signed form
  kUnknownCommand,  // answered with status 1; the connection stays open
};

// received is the receive call's result (-1 on error); block holds the bytes.
// Code 0x12 is a WAKE RELAY with dwLength 48, dwDataLength 8 and bytes 46-47
// zero, or the first part of a signed one with dwLength 112; otherwise it is
// an unknown command, as it was to older agents.
RequestCheck CheckRequest(int received, const uint8_t* block);

// Each builder zeroes the whole 48-byte area, fills a response and returns
// the number of bytes to send.
uint32_t BuildOffResponse(uint8_t (&area)[AGENT_BLOCK_SIZE]);
// mac nullptr: no address known (status 2, no data).
uint32_t BuildMacResponse(uint8_t (&area)[AGENT_BLOCK_SIZE], const uint8_t* mac);
uint32_t BuildUnknownCommandResponse(uint8_t (&area)[AGENT_BLOCK_SIZE]);

// A 40-byte answer with this code and status (a refusal: ST_REFUSED).
uint32_t BuildStatusResponse(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t code, uint32_t status);
// The CHALLENGE answer: 72 bytes, the nonce after the head.
uint32_t BuildChallengeResponse(uint8_t (&area)[AGENT_CHALLENGE_MESSAGE_SIZE],
                                const uint8_t (&nonce)[AGENT_NONCE_SIZE]);

// A manager's request, filled like a response head (length 40, the rest 0).
uint32_t BuildRequest(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t command);
// A WAKE RELAY for the MAC: 48 bytes.
uint32_t BuildWakeRelayRequest(uint8_t (&area)[AGENT_BLOCK_SIZE], const uint8_t mac[6]);
// The first 48 bytes of a signed request: length 112, data length 72, the
// code-specific bytes 40..47 as given; the signature follows them.
void BuildSignedHead(uint8_t (&area)[AGENT_BLOCK_SIZE], uint32_t command,
                     const uint8_t (&data)[AGENT_BLOCK_SIZE - AGENT_MESSAGE_SIZE]);

// The bytes a signed request's signature covers, for the manager that signs
// and the agent that verifies alike.
void BuildSignedData(const uint8_t (&nonce)[AGENT_NONCE_SIZE], const uint8_t* request,
                     uint8_t (&data)[AGENT_SIGNED_DATA_SIZE]);

// Wake-on-LAN: six bytes of 0xFF, then the MAC sixteen times, by UDP to the
// discard port by custom.
constexpr size_t kMagicPacketSize = 102;
constexpr uint16_t kWakePort = 9;
void BuildMagicPacket(const uint8_t mac[6], uint8_t packet[kMagicPacketSize]);

struct AgentResponse {
  uint32_t code;
  uint32_t status;
  uint32_t data_length;  // 0, 6, or 32 (a nonce)
  uint8_t mac[6];
  uint8_t nonce[AGENT_NONCE_SIZE];
};

enum class ResponseParse {
  kOk,
  kIncomplete,  // a valid start; more bytes must follow
  kMalformed,
};

// Reads one whole response from the start of bytes; *used tells its size.
ResponseParse ParseResponse(const uint8_t* bytes, size_t size, AgentResponse* response,
                            size_t* used);

uint32_t GetLe32(const uint8_t* p);
void PutLe32(uint8_t* p, uint32_t value);
