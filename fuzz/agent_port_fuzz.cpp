// ParseAgentPort on any setting text: it accepts exactly the texts of digits
// whose decimal value is 1 to 65535, and gives that value.
#include <algorithm>
#include <string>

#include "agent/listener.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL, as read
  const std::string value = text.c_str();
  const bool digits =
      !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
  const std::string significant = value.substr(std::min(value.find_first_not_of('0'), value.size()));
  const bool in_range = digits && !significant.empty() && significant.size() <= 5 &&
                        std::stoul(significant) <= 65535;
  uint16_t port = 7;
  const bool ok = ParseAgentPort(value.c_str(), &port);
  FUZZ_CHECK(ok == in_range);
  FUZZ_CHECK(ok ? port == std::stoul(significant) : port == 7);
  return 0;
}
