// pwrctl's ParseHex on any argument: what it accepts is one byte for every two
// digits, and prints back with ToHex as text that parses to the same bytes.
#include <cctype>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "tools/hex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL, as argv
  std::vector<uint8_t> bytes;
  if (!ParseHex(text.c_str(), &bytes)) {
    FUZZ_CHECK(bytes.empty());
    return 0;
  }
  size_t digits = 0;
  for (const char* p = text.c_str(); *p; ++p) digits += std::isxdigit(static_cast<unsigned char>(*p)) != 0;
  FUZZ_CHECK(bytes.size() * 2 == digits);
  std::vector<uint8_t> again;
  FUZZ_CHECK(ParseHex(ToHex(bytes.data(), bytes.size()).c_str(), &again) && again == bytes);
  return 0;
}
