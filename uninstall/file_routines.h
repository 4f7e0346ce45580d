// AGTREMOV's file routines: its own folder, paths cut at their last
// backslash, the agent file list read from AGTREMOV.INF, and deletion at the
// next restart. Paths are code page 932 text, scanned with CharNextA so that
// a trail byte 0x5C is never taken for a backslash.
#pragma once

#include <windows.h>

// The agent file list: bare names, each followed by a zero byte, ended by
// an empty name (a zero byte where a name would begin).
constexpr DWORD AGENT_FILE_LIST_SIZE = 128;
constexpr DWORD AGENT_FILE_NAME_MAX = 15;  // bytes, without the zero byte
extern char szAgentFileList[AGENT_FILE_LIST_SIZE];

// The folder of this program file, without a trailing backslash; the
// current directory if the program's name cannot be had. Always TRUE.
BOOL GetProgramDir(char* buffer, DWORD size);

// Cuts path at its last backslash and copies what followed it into output
// (at most outputSize bytes with the zero; output may be null). A path
// without a backslash is left as it is, output untouched; false then.
bool SplitLastComponent(char* path, char* output = nullptr, DWORD outputSize = 0);

// Fills szAgentFileList from "AGTREMOV.INF" beside the program.
void LoadAgentFileList();
// The same from the install-list file given, into list (AGENT_FILE_LIST_SIZE
// bytes, emptied first; nothing after them is written). A name that could reach outside the agent's
// folder (a path separator, a drive, "..", only dots) is skipped; names that no longer fit end the list.
void LoadAgentFileListFrom(const char* listFile, char* list);

// Whether this is Windows of the NT family, which deletes files at restart
// itself and runs the agent's services.
bool IsWindowsNtFamily();

// Schedules path for deletion at the next restart: MoveFileExA on the NT
// family, WININIT.INI on the other. FALSE when it could not be scheduled.
BOOL DeleteOnRestart(const char* path);
