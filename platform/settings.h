// Reads one string value of the program's settings: on Windows a registry
// value under HKEY_LOCAL_MACHINE (key opened with KEY_READ and closed again at
// once); on Linux a "Name=Value" line of the file named by $ORVEL_AGENT_CONF
// (default /etc/orvel-agent.conf), where the key path is not used.
#pragma once

#include <cstdint>

namespace platform {

enum class SettingRead { kRead, kMissing, kTooLong };

// Copies the value, NUL included, into buffer. kMissing when the key or value
// is missing or unreadable, kTooLong when the value with its NUL exceeds size
// bytes; the buffer then holds no value.
SettingRead ReadSettingChecked(const char* key_path, const char* name, char* buffer,
                               uint32_t size);

// ReadSettingChecked's kRead, for settings where too long means absent.
inline bool ReadSetting(const char* key_path, const char* name, char* buffer, uint32_t size) {
  return ReadSettingChecked(key_path, name, buffer, size) == SettingRead::kRead;
}

}  // namespace platform
