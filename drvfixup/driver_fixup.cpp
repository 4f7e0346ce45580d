#include "drvfixup/driver_fixup.h"

#include "drvfixup/fixup_registry.h"
#include "platform/win32/reg_key.h"

WindowsCheck CheckWindowsVersion() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  static_assert(sizeof info == 148, "the ANSI version record");
  if (!GetVersionExA(&info)) return WindowsCheck::kQueryFailed;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_NT || info.dwMajorVersion < 5) {
    return WindowsCheck::kUnsupported;
  }
  return WindowsCheck::kSupported;
}

void RemoveDriverSettings(HKEY root) {
  for (const RegFixupStep& step : REG_FIXUP_STEPS) {
    {
      RegKey key;
      if (key.Open(root, step.key, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        for (size_t i = 0; i < step.valueCount; ++i) RegDeleteValueA(key.get(), step.values[i]);
      }
    }  // closed before its deletion
    RegDeleteKeyA(root, step.key);
  }
}
