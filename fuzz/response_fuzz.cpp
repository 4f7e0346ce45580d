// ParseResponse as pwrctl calls it, on a reply arriving one byte at a time:
// a verdict other than "incomplete" never changes as more bytes come, and a
// parsed reply is a whole 40-, 46- or 72-byte message within what arrived.
#include <vector>

#include "agent/protocol.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResponseParse last = ResponseParse::kIncomplete;
  size_t last_used = 0;
  for (size_t n = 1; n <= size && n <= 2 * AGENT_BLOCK_SIZE; ++n) {
    const std::vector<uint8_t> bytes(data, data + n);  // exact size: ASan sees a read past it
    AgentResponse response{};
    size_t used = 0;
    const ResponseParse parse = ParseResponse(bytes.data(), n, &response, &used);
    if (last != ResponseParse::kIncomplete) FUZZ_CHECK(parse == last && used == last_used);
    if (parse == ResponseParse::kOk) {
      FUZZ_CHECK(response.data_length == 0 || response.data_length == 6 ||
                 response.data_length == AGENT_NONCE_SIZE);
      FUZZ_CHECK(used == AGENT_MESSAGE_SIZE + response.data_length && used <= n);
    }
    last = parse;
    last_used = used;
  }
  return 0;
}
