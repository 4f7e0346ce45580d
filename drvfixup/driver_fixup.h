// The work behind DRVFIXUP's OK button, apart from the dialog.
#pragma once

#include <windows.h>

// Runs REG_FIXUP_STEPS below root (HKEY_LOCAL_MACHINE in the program).
// Every open and delete may fail (absent key, a subkey left, no rights);
// each failure is ignored and the next step runs.
void RemoveDriverSettings(HKEY root);
