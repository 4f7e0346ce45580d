// A COM DLL stand-in for the installer's tests: DllRegisterServer leaves a
// mark that a test reads back, the DLL's file name and the path it was
// loaded from, so copies under other names tell which one was registered.
#include <windows.h>

#include "platform/win32/reg_key.h"

// __ImageBase, not GetModuleHandle(nullptr): the DLL's own path, not the exe's.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, sizeof path);
  if (n == 0 || n >= sizeof path) return E_FAIL;
  // By characters: a name like 表.DLL has 0x5C as a trail byte.
  const char* name = path;
  for (const char* p = path; *p; p = CharNextA(p)) {
    if (*p == '\\') name = p + 1;
  }
  RegKey marks;
  if (marks.Create(HKEY_LOCAL_MACHINE, "Software\\ORVEL-test\\Registered", KEY_SET_VALUE) !=
      ERROR_SUCCESS)
    return E_FAIL;
  const LONG rc =
      RegSetValueExA(marks.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), n + 1);
  return rc == ERROR_SUCCESS ? S_OK : E_FAIL;
}
