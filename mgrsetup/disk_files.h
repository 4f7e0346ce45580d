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
// True when disk n is in the drive (or nothing is listed for it); false when
// the user cancels, and for a number outside 1 to 4.
bool WaitForDisk(SetupState& s, int n);
// Expands each listed file from the disk into the work folder with expand;
// false after the internal-error message when one could not be expanded.
bool ExpandDiskFiles(SetupState& s, const DiskFileEntry* list);
// Moves each listed file from the work folder to its destination, never
// replacing a file (the copy is dropped), and marks the entries it placed;
// false on an unknown destination.
bool MoveExpandedFiles(SetupState& s, DiskFileEntry* list);
// Deletes the listed files from the work folder, then the folder itself.
void CleanWorkFolder(SetupState& s);
void FreeDiskLists(SetupState& s);
// Deletes the files that mgrremov.inf in the install folder names, then it;
// each only if this run placed it there (the lists are still needed).
void DeleteListedFiles(SetupState& s);
