// ParseAllowedManagers on any setting text: the list stays within its table,
// each entry is a network masked by a prefix mask that the list allows, and
// the copy of a bad entry is cut to the size given with its NUL.
#include <arpa/inet.h>

#include <cstring>

#include "agent/allowed_managers.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL, as read
  static AllowedList list;
  char bad[12];
  std::memset(bad, 0x7f, sizeof bad);
  const bool ok = ParseAllowedManagers(text.c_str(), &list, bad, 8);
  FUZZ_CHECK(list.restricted == (text.c_str()[0] != '\0'));
  FUZZ_CHECK(list.count >= 0 && list.count <= kAllowedManagersMaxEntries);
  FUZZ_CHECK(ok ? (list.count > 0) == list.restricted : list.count == 0);
  FUZZ_CHECK(strnlen(bad, 8) < 8);
  for (size_t i = 8; i < sizeof bad; ++i) FUZZ_CHECK(bad[i] == 0x7f);
  for (int i = 0; i < list.count; ++i) {
    const ManagerNetwork& e = list.entries[i];
    const uint32_t host_bits = ~ntohl(e.mask);
    FUZZ_CHECK((host_bits & (host_bits + 1)) == 0 && (e.network & ~e.mask) == 0);
    FUZZ_CHECK(ListAllows(list, e.network));
  }
  return 0;
}
