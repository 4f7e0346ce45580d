#include "platform/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace platform {

SettingRead ReadSettingChecked(const char* /*key_path*/, const char* name, char* buffer,
                               uint32_t size) {
  const char* path = std::getenv("ORVEL_AGENT_CONF");
  std::ifstream in(path && *path ? path : "/etc/orvel-agent.conf");
  if (!in) return SettingRead::kMissing;
  const size_t name_len = std::strlen(name);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, name_len, name) != 0 || line.size() <= name_len || line[name_len] != '=') {
      continue;
    }
    const std::string value = line.substr(name_len + 1);
    if (value.size() + 1 > size) return SettingRead::kTooLong;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return SettingRead::kRead;
  }
  return SettingRead::kMissing;
}

}  // namespace platform
