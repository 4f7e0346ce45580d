// PWRCOUNT's command-line rule on any command line: a countdown is 0 or 1 to
// 9999, and the last word, once given a different program path in front,
// still decides it.
#include <string>

#include "countdown/countdown_rule.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);  // ends at a NUL, as read
  const uint32_t seconds = CountdownSeconds(line.c_str());
  FUZZ_CHECK(seconds <= 9999);
  const std::string args = line.c_str();
  const size_t space = args.find(' ');
  if (space != std::string::npos && args[0] != '"' && args.find('\t') == std::string::npos) {
    const std::string quoted = "\"C:\\Program Files\\PWRCOUNT.exe\"" + args.substr(space);
    FUZZ_CHECK(CountdownSeconds(quoted.c_str()) == seconds);
  }
  if (seconds > 0) {
    FUZZ_CHECK(SecondsLeft(seconds, 0) == seconds && SecondsLeft(seconds, seconds * 1000) == 0);
  }
  return 0;
}
