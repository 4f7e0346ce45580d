// CheckRequest on whatever one receive call can bring into the 48-byte block:
// only a whole head with the right id and version is taken as a command,
// and a WAKE RELAY only with its 48 bytes.
#include <cstring>

#include "agent/protocol.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t block[AGENT_BLOCK_SIZE] = {};
  const size_t n = size < sizeof block ? size : sizeof block;
  if (n > 0) std::memcpy(block, data, n);
  const RequestCheck check = CheckRequest(static_cast<int>(n), block);
  const bool command = check >= RequestCheck::kOff;  // every command comes after the checks
  FUZZ_CHECK(!command || (n >= AGENT_MESSAGE_SIZE &&
                          std::memcmp(block, AGENT_HEADER_ID, sizeof AGENT_HEADER_ID) == 0 &&
                          GetLe32(block + OFS_VERSION) == AGENT_VERSION));
  FUZZ_CHECK((check == RequestCheck::kBroken) == (n == 0));
  // A whole relay is 48 bytes with two zero bytes after its MAC.
  FUZZ_CHECK(check != RequestCheck::kWakeRelay ||
             (n == AGENT_RELAY_MESSAGE_SIZE && block[46] == 0 && block[47] == 0));
  FUZZ_CHECK(check != RequestCheck::kWakeRelayShort || n < AGENT_RELAY_MESSAGE_SIZE);
  FUZZ_CHECK(check != RequestCheck::kRecvError);
  return 0;
}
