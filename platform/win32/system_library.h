// Loading a system library at run time, for calls a program looks up
// rather than imports (they may be missing on older Windows).
#pragma once

#include <windows.h>

namespace platform {

// A library of the system folder, from there only: a bare name would be
// looked up in the program's own folder first, where a planted copy would run
// as the service. LOAD_LIBRARY_SEARCH_SYSTEM32 is known where AddDllDirectory
// is (Windows 8, or 7 and Vista with KB2533623); elsewhere the full path.
inline HMODULE LoadSystemLibrary(const char* name) {
  if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory")) {
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  char path[MAX_PATH];
  const UINT n = GetSystemDirectoryA(path, MAX_PATH);
  const size_t name_size = lstrlenA(name) + 1;
  if (n == 0 || n + 1 + name_size > MAX_PATH) return nullptr;
  path[n] = '\\';
  CopyMemory(path + n + 1, name, name_size);
  return LoadLibraryA(path);
}

}  // namespace platform
