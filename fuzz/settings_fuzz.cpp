// ReadSetting over any Linux settings file ($ORVEL_AGENT_CONF): a value found
// is one the file holds after "Name=", fits the buffer with its NUL, holds no
// line break, and nothing past the size given is written.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "platform/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool env = setenv("ORVEL_AGENT_CONF", ScratchPath("agent.conf").c_str(), 1) == 0;
  FUZZ_CHECK(env);
  const std::string file(reinterpret_cast<const char*>(data), size);
  WriteScratch("agent.conf", data, size);
  constexpr uint32_t kSize = 24;
  char buffer[kSize + 16];
  std::memset(buffer, 0x7f, sizeof buffer);
  const bool read = platform::ReadSetting("SOFTWARE\\VANTREX", "LogFilePath", buffer, kSize);
  if (read) {
    const size_t len = strnlen(buffer, kSize);
    FUZZ_CHECK(len < kSize && std::memchr(buffer, '\n', len) == nullptr);
    FUZZ_CHECK(file.find("LogFilePath=" + std::string(buffer, len)) != std::string::npos);
  }
  // Nothing past the size is written, nothing at all without a value.
  for (size_t i = read ? kSize : 0; i < sizeof buffer; ++i) FUZZ_CHECK(buffer[i] == 0x7f);
  return 0;
}
