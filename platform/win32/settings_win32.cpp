#include "platform/settings.h"

#include <windows.h>

#include "platform/win32/reg_key.h"

namespace platform {

bool ReadSetting(const char* key_path, const char* name, char* buffer, uint32_t size) {
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, key_path, KEY_READ) != ERROR_SUCCESS) return false;
  DWORD len = size;
  // The value type is not checked; the values are strings by convention.
  if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &len) !=
      ERROR_SUCCESS) {
    return false;
  }
  // RegQueryValueExA need not terminate what it stored.
  if (len == 0 || buffer[len - 1] != '\0') {
    if (len >= size) return false;
    buffer[len] = '\0';
  }
  return true;
}

}  // namespace platform
