// The Windows check of the installer and the fix-up: they run on the NT
// family from version 5 (Windows 2000, XP) on; the minor version is not
// looked at.
#pragma once

enum class WindowsCheck { kSupported, kQueryFailed, kUnsupported };

WindowsCheck CheckWindowsVersion();
