// WriteLogFile over any existing file: afterwards the file is a ring whose
// header names a blank slot, the record written sits just before it, and the
// reader gives that record as the newest.
#include "fuzz/fuzz_support.h"
#include "log/ring_log.h"
#include "log/ring_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteScratch("ring.log", data, size);
  const std::string record = "2026/12/07 06:09:51.000 fuzz record";
  FUZZ_CHECK(WriteLogFile(path.c_str(), "2026/12/07 06:09:51.000", "fuzz record") == 1);
  const std::string ring = ReadScratch(path);
  std::vector<std::string> records;
  std::string error;
  FUZZ_CHECK(ReadRingLog(ring, &records, &error) && !records.empty() && records.back() == record);

  char line[LOG_LINE_SIZE];
  MakeBlankLine(line, sizeof line);
  const std::string blank(line, sizeof line);
  FUZZ_CHECK(ring.compare(20, LOG_LINE_SIZE - 20, blank, 20, LOG_LINE_SIZE - 20) == 0);
  const size_t next = std::stoul(ring.substr(16, 4));
  const size_t newest = next == 1 ? LOG_SLOT_COUNT - 1 : next - 1;
  FUZZ_CHECK(ring.compare(next * LOG_LINE_SIZE, LOG_LINE_SIZE, blank) == 0);
  FUZZ_CHECK(ring.compare(newest * LOG_LINE_SIZE, LOG_LINE_SIZE,
                          record + blank.substr(record.size())) == 0);
  return 0;
}
