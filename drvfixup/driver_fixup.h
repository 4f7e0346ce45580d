// The work behind DRVFIXUP's OK button, apart from the dialog.
#pragma once

#include <windows.h>

enum class WindowsCheck { kSupported, kQueryFailed, kUnsupported };

// The fix-up runs on the NT family from version 5 (Windows 2000, XP) on; the
// minor version is not looked at.
WindowsCheck CheckWindowsVersion();

// Runs REG_FIXUP_STEPS below root (HKEY_LOCAL_MACHINE in the program).
// Every open and delete may fail (absent key, a subkey left, no rights);
// each failure is ignored and the next step runs.
void RemoveDriverSettings(HKEY root);
