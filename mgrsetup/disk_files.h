// The setup disks: dsksetup.inf and Version.txt from disk 1, each disk
// asked for in turn, its files expanded with the system's expand tool into
// a work folder and moved to their folders; and the clean-up that a
// roll-back uses.
#pragma once

#include "mgrsetup/setup_state.h"

// Reads dsksetup.inf and Version.txt from disk 1 into the state; false when
// the user cancels the disk prompt or an error was shown.
bool ReadDiskLists(SetupState& s);
// Creates the work folder, expands the files of disks 1 to 4, moves them to
// their folders, and registers the DLLs (RegisterDlls, result ignored).
bool PlaceSetupFiles(SetupState& s);
// True when disk n is in the drive; false when the user cancels.
bool WaitForDisk(SetupState& s, int n);
bool ExpandDiskFiles(SetupState& s, const DiskFileEntry* list);
bool MoveExpandedFiles(SetupState& s, const DiskFileEntry* list);
void CleanWorkFolder(SetupState& s);
void FreeDiskLists(SetupState& s);
// Deletes the files that mgrremov.inf in the install folder names, then it.
void DeleteListedFiles(SetupState& s);
