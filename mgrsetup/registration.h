// After the files: the manager's COM DLLs registered, its registry settings
// and uninstall entry written, the Start-menu shortcut made; and the
// roll-back of a failed installation.
#pragma once

#include "mgrsetup/setup_state.h"

// Registers the DLLs that a:\DLLLIST.INF names; false when the list is
// incomplete (the caller ignores it).
bool RegisterDlls(SetupState& s);
// Writes the manager key and the uninstall entry; false after the message.
bool WriteManagerSettings(SetupState& s);
void CreateStartMenuShortcut(SetupState& s);
void DeleteManagerSettings(SetupState& s);

struct RollBack {
  bool cleanWork, freeLists, deleteInstalled, deleteSettings;
};
void RollBackInstall(SetupState& s, RollBack what);
