// ParseManagerKeys on any setting text: at most eight keys, each the point of
// an entry written in the text, a bad value fails closed, and the copy of a
// bad entry is cut to the size given with its NUL.
#include <cstring>

#include "agent/key_text.h"
#include "agent/manager_keys.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL, as read
  static ManagerKeys keys;
  char bad[12];
  std::memset(bad, 0x7f, sizeof bad);
  const bool ok = ParseManagerKeys(text.c_str(), &keys, bad, 8);
  const bool empty = text.c_str()[0] == '\0';
  FUZZ_CHECK(keys.state == (!ok ? ManagerKeys::kBroken : empty ? ManagerKeys::kNone : ManagerKeys::kKeys));
  FUZZ_CHECK(keys.count >= 0 && keys.count <= kManagerKeysMax);
  FUZZ_CHECK(ok ? (keys.count > 0) == !empty : keys.count == 0);
  FUZZ_CHECK(strnlen(bad, 8) < 8);
  for (size_t i = 8; i < sizeof bad; ++i) FUZZ_CHECK(bad[i] == 0x7f);
  for (int i = 0; i < keys.count; ++i) {
    FUZZ_CHECK(keys.keys[i][0] == 0x04);
    const std::string entry = EncodeBase64(keys.keys[i], platform::kEcPublicKeyBytes);
    FUZZ_CHECK(entry.size() == kPublicKeyTextSize && text.find(entry) != std::string::npos);
  }
  return 0;
}
