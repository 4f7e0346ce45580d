// ParseKeyFile on any file: what it takes is written back by FormatKeyFile
// to a text that reads as the same key.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "pwrctl/keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ManagerKeyPair key, again;
  std::string error;
  if (!ParseKeyFile(text, &key, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(size <= kKeyFileMaxBytes && key.public_key[0] == 0x04);
  FUZZ_CHECK(ParseKeyFile(FormatKeyFile(key), &again, &error));
  FUZZ_CHECK(std::memcmp(&key, &again, sizeof key) == 0);
  return 0;
}
