// The [Rename] section of WININIT.INI, where Windows of the non-NT family
// finds the files to delete at its next start ("NUL=" and a short path).
#pragma once

#include <windows.h>

// The position just after the next line feed, or the end of the text.
const char* NextLine(const char* text);

// Records "NUL=<short path>" in WININIT.INI of the Windows directory; 1 on
// success, also when the line was already there; 0 on failure.
int AddWininitDelete(const char* path);

// The tests' seam: the Windows directory given, and the writes to
// WININIT.INI replaceable so that a failure can be injected.
// Default: WriteFile.
using WininitWrite = BOOL (*)(HANDLE file, const void* data, DWORD size, DWORD* written);
int AddWininitDeleteIn(const char* windowsDir, const char* path, WininitWrite write = nullptr);

// WININIT.INI in windowsDir: no second backslash after a drive root ("C:\\",
// exactly 3 bytes). False when it does not fit in outSize bytes.
bool WininitPath(const char* windowsDir, char* out, DWORD outSize);
