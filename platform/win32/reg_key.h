// An open registry key that closes itself.
#pragma once

#include <windows.h>

class RegKey {
 public:
  RegKey() = default;
  RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = other.key_;
      other.key_ = nullptr;
    }
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { Close(); }

  // RegOpenKeyExA; the result code, and the key stays empty on failure.
  LONG Open(HKEY root, const char* path, REGSAM access) {
    Close();
    return RegOpenKeyExA(root, path, 0, access, &key_);
  }
  // RegCreateKeyExA with no class and default security; the same result code.
  LONG Create(HKEY root, const char* path, REGSAM access,
              DWORD options = REG_OPTION_NON_VOLATILE) {
    Close();
    HKEY key = nullptr;
    const LONG rc =
        RegCreateKeyExA(root, path, 0, nullptr, options, access, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) key_ = key;
    return rc;
  }
  bool valid() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY key_ = nullptr;
};
