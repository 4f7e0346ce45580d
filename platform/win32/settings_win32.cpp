#include "platform/settings.h"

#include <windows.h>

namespace platform {
namespace {

class Key {
 public:
  explicit Key(HKEY h) : h_(h) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }

 private:
  HKEY h_;
};

}  // namespace

bool ReadSetting(const char* key_path, const char* name, char* buffer, uint32_t size) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  Key key(h);
  DWORD len = size;
  // The value type is not checked; the values are strings by convention.
  if (RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &len) !=
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
