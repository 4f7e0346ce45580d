// netsh's list from any ALLOWEDMANAGERS value: never a blank, a quote or an
// empty entry in what reaches netsh's command line.
#include <string>

#include "fuzz/fuzz_support.h"
#include "msiaction/netsh_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const std::string list = NetshList(value, kAddressChars, "localsubnet");
  FUZZ_CHECK(list == "localsubnet" || list.find_first_not_of("0123456789./,") == std::string::npos);
  FUZZ_CHECK(list.find(",,") == std::string::npos);
  FUZZ_CHECK(list.empty() || (list.front() != ',' && list.back() != ','));
  return 0;
}
