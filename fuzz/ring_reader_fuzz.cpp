// ReadRingLog (pwrlog) on any file: each record is one slot's content, never
// blank, without trailing spaces or line breaks; at most one per slot.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "log/ring_log.h"
#include "log/ring_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> records;
  std::string error;
  if (!ReadRingLog(std::string(reinterpret_cast<const char*>(data), size), &records, &error)) {
    FUZZ_CHECK(records.empty() && !error.empty());
    return 0;
  }
  const size_t slots = size / LOG_LINE_SIZE < LOG_SLOT_COUNT ? size / LOG_LINE_SIZE : LOG_SLOT_COUNT;
  FUZZ_CHECK(records.size() < slots);  // slot 0 is the header
  for (const std::string& r : records) {
    FUZZ_CHECK(!r.empty() && r.size() <= LOG_LINE_SIZE - 2 && r.back() != ' ');
    FUZZ_CHECK(r.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  }
  return 0;
}
