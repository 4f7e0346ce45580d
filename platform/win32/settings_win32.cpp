#include "platform/settings.h"

#include <windows.h>

#include "platform/win32/reg_key.h"

namespace platform {

SettingRead ReadSettingChecked(const char* key_path, const char* name, char* buffer,
                               uint32_t size) {
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, key_path, KEY_READ) != ERROR_SUCCESS) {
    return SettingRead::kMissing;
  }
  DWORD len = size;
  // The value type is not checked; the values are strings by convention.
  const LONG rc =
      RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &len);
  if (rc == ERROR_MORE_DATA) return SettingRead::kTooLong;
  if (rc != ERROR_SUCCESS) return SettingRead::kMissing;
  // RegQueryValueExA need not terminate what it stored.
  if (len == 0 || buffer[len - 1] != '\0') {
    if (len >= size) return SettingRead::kTooLong;
    buffer[len] = '\0';
  }
  return SettingRead::kRead;
}

}  // namespace platform
