#include "uninstall/file_routines.h"

#include <cstring>

#include "uninstall/wininit.h"

char szAgentFileList[AGENT_FILE_LIST_SIZE];

// This module's own base: the program's file even if the routines end up in a DLL.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const char kInstallListName[] = "\\AGTREMOV.INF";
const char kAgentFilesSection[] = "QXWOL Agent Files";
constexpr DWORD KEY_NAMES_SIZE = 640;

// Copies text into out (size bytes with the zero), never splitting a
// double-byte character.
void CopyBounded(char* out, DWORD size, const char* text) {
  if (!out || size == 0) return;
  const char* end = text;
  while (*end) {
    const char* next = CharNextA(end);
    if (static_cast<DWORD>(next - text) >= size) break;
    end = next;
  }
  std::memcpy(out, text, end - text);
  out[end - text] = '\0';
}

// A name that could make the removal delete outside the agent's folder;
// one made only of dots names the folder itself or one above it.
bool ReachesOutside(const char* name) {
  if (name[std::strspn(name, ".")] == '\0') return true;
  for (const char* p = name; *p; p = CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') return true;
    if (p[0] == '.' && p[1] == '.') return true;
  }
  return false;
}

}  // namespace

BOOL GetProgramDir(char* buffer, DWORD size) {
  if (!buffer || size == 0) return TRUE;
  buffer[0] = '\0';
  const HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
  if (GetModuleFileNameA(self, buffer, size) == 0) {
    buffer[0] = '\0';
    GetCurrentDirectoryA(size, buffer);
    buffer[size - 1] = '\0';
    return TRUE;
  }
  buffer[size - 1] = '\0';  // XP leaves a cut name unterminated
  SplitLastComponent(buffer);
  return TRUE;
}

bool SplitLastComponent(char* path, char* output, DWORD outputSize) {
  char* last = nullptr;
  for (char* p = path; *p; p = CharNextA(p)) {
    if (*p == '\\') last = p;
  }
  if (!last) return false;
  *last = '\0';
  CopyBounded(output, outputSize, last + 1);
  return true;
}

void LoadAgentFileList() {
  char listFile[MAX_PATH + sizeof kInstallListName];
  GetProgramDir(listFile, MAX_PATH);
  std::strcat(listFile, kInstallListName);
  LoadAgentFileListFrom(listFile, szAgentFileList);
}

void LoadAgentFileListFrom(const char* listFile, char* list) {
  std::memset(list, 0, AGENT_FILE_LIST_SIZE);
  char keys[KEY_NAMES_SIZE] = {};
  GetPrivateProfileStringA(kAgentFilesSection, nullptr, "", keys, KEY_NAMES_SIZE, listFile);
  keys[KEY_NAMES_SIZE - 2] = keys[KEY_NAMES_SIZE - 1] = '\0';

  DWORD used = 0;
  for (const char* key = keys; *key; key += std::strlen(key) + 1) {
    char name[AGENT_FILE_NAME_MAX + 1] = {};
    GetPrivateProfileStringA(kAgentFilesSection, key, "", name, sizeof name, listFile);
    name[AGENT_FILE_NAME_MAX] = '\0';
    const DWORD length = static_cast<DWORD>(std::strlen(name));
    if (length == 0) return;  // the list ends at the first empty name
    if (ReachesOutside(name)) continue;
    // The name, its zero byte and the zero byte that ends the list must fit.
    if (used + length + 2 > AGENT_FILE_LIST_SIZE) return;
    std::memcpy(list + used, name, length + 1);
    used += length + 1;
  }
}

bool IsWindowsNtFamily() {
  OSVERSIONINFOA info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  static_assert(sizeof info == 148, "the ANSI version record");
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

BOOL DeleteOnRestart(const char* path) {
  if (IsWindowsNtFamily()) return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return AddWininitDelete(path) != 0;
}
