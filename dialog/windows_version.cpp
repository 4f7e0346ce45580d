#include "dialog/windows_version.h"

#include <windows.h>

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
