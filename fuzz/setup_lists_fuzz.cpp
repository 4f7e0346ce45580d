// The setup disks' list lines on any text, read in pieces as the installer
// reads them: an entry is a bounded name that stays in its folder, a header
// selects one of the known destinations or none, a removal name fits its
// buffer, and the stored name is the name's own length.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "mgrsetup/setup_lists.h"

namespace {

// Calls f with each piece that fgets would return into a buffer of size bytes.
template <class F>
void ForEachRead(const std::string& text, size_t size, F f) {
  for (size_t at = 0; at < text.size();) {
    size_t end = at;
    while (end < text.size() && end - at < size - 1 && text[end++] != '\n') {
    }
    f(text.substr(at, end - at));  // a NUL in it ends the line, as it would
    at = end;
  }
}

void CheckDiskListLine(const std::string& line) {
  const DiskListLine parsed = ParseDiskListLine(line.c_str());
  const size_t length = strnlen(parsed.name, sizeof parsed.name);
  FUZZ_CHECK(length < sizeof parsed.name);
  switch (parsed.kind) {
    case DiskListLineKind::kHeader:
      FUZZ_CHECK(line[0] == '[' && parsed.destination >= 0 && parsed.destination <= 3);
      break;
    case DiskListLineKind::kEntry: {
      FUZZ_CHECK(length >= 1 && length <= LISTED_NAME_MAX && !ReachesOutsideFolder(parsed.name));
      FUZZ_CHECK(!std::strpbrk(parsed.name, ", \t\r\n\v\f"));
      char stored[LISTED_NAME_MAX + 2];
      stored[LISTED_NAME_MAX + 1] = 0x7f;
      StoredName(parsed.name, stored);
      FUZZ_CHECK(std::strlen(stored) == length && stored[LISTED_NAME_MAX + 1] == 0x7f);
      FUZZ_CHECK(std::memcmp(stored, parsed.name, length - 1) == 0);
      break;
    }
    case DiskListLineKind::kOther:
      FUZZ_CHECK(length == 0);
      break;
  }
}

void CheckRemoveListLine(const std::string& line) {
  char name[REMOVE_NAME_MAX + 1 + 4];
  std::memset(name, 0x7f, sizeof name);
  if (!ParseRemoveListLine(line.c_str(), name)) {
    for (char c : name) FUZZ_CHECK(c == 0x7f);
    return;
  }
  const size_t length = strnlen(name, REMOVE_NAME_MAX + 1);
  FUZZ_CHECK(line.compare(0, 4, "FILE") == 0 && length >= 1 && length <= REMOVE_NAME_MAX);
  FUZZ_CHECK(!ReachesOutsideFolder(name) && !std::strchr(name, '\n'));
  for (size_t i = REMOVE_NAME_MAX + 1; i < sizeof name; ++i) FUZZ_CHECK(name[i] == 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ForEachRead(text, DISK_LIST_LINE_SIZE, CheckDiskListLine);
  ForEachRead(text, REMOVE_LIST_LINE_SIZE, CheckRemoveListLine);
  return 0;
}
