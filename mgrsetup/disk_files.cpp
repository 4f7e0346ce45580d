#include "mgrsetup/disk_files.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "mgrsetup/registration.h"
#include "mgrsetup/setup_lists.h"
#include "platform/win32/unique_handle.h"

namespace {

constexpr char MSG_INSERT_DISK[] = "ﾏﾈｰｼﾞｬ ｾｯﾄｱｯﾌﾟ ﾃﾞｨｽｸ%dを入れてください。";
constexpr char MSG_NO_MEMORY[] = "ﾒﾓﾘの割り当てに失敗しました。";
constexpr char MSG_READ_FAILED[] = "ﾌｧｲﾙの読み込みに失敗しました。";
constexpr char MSG_WORK_FOLDER_FAILED[] = "作業用ﾃﾞｨﾚｸﾄﾘの作成に失敗しました。";
constexpr UINT DISK_PROMPT_TYPE = MB_OKCANCEL | MB_ICONEXCLAMATION;
constexpr UINT ERROR_TYPE = MB_OK | MB_ICONHAND;

constexpr char DISK_LIST_FILE[] = "dsksetup.inf";
constexpr char VERSION_FILE[] = "Version.txt";
constexpr char REMOVE_LIST_FILE[] = "mgrremov.inf";

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// No dialog answers as Cancel would, so that no prompt loops forever.
int Show(SetupState& s, const char* text, UINT type) {
  return s.ui ? s.ui->Message(text, type) : IDCANCEL;
}

bool InternalError(SetupState& s) {
  Show(s, MSG_INTERNAL_ERROR, ERROR_TYPE);
  return false;
}

// False when asked to cancel.
bool PromptForDisk(SetupState& s, int n) {
  char text[64];
  std::snprintf(text, sizeof text, MSG_INSERT_DISK, n);
  return Show(s, text, DISK_PROMPT_TYPE) != IDCANCEL;
}

// Formats a path into a MAX_PATH buffer; a path that does not fit is left
// empty and false, never cut into another path.
bool FormatPath(char (&out)[MAX_PATH], const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(out, MAX_PATH, format, args);
  va_end(args);
  if (length >= 0 && length < MAX_PATH) return true;
  out[0] = '\0';
  return false;
}

const char* DestinationFolder(const SetupState& s, int32_t destination) {
  switch (destination) {
    case DEST_INSTALL_FOLDER:
      return s.installFolder;
    case DEST_SYSTEM_FOLDER:
      return s.systemFolder;
    case DEST_DAO_FOLDER:
      return s.daoFolder;
    default:
      return nullptr;
  }
}

// The file system compares names without regard to case; so does this,
// character by character in the code page.
bool SameFileName(const char* a, const char* b) {
  WCHAR wideA[REMOVE_NAME_MAX + 1], wideB[REMOVE_NAME_MAX + 1];
  if (!MultiByteToWideChar(CP_ACP, 0, a, -1, wideA, REMOVE_NAME_MAX + 1) ||
      !MultiByteToWideChar(CP_ACP, 0, b, -1, wideB, REMOVE_NAME_MAX + 1)) {
    return false;
  }
  CharUpperW(wideA);
  CharUpperW(wideB);
  return std::wcscmp(wideA, wideB) == 0;
}

bool PlacedInInstallFolder(const SetupState& s, const char* name) {
  for (const DiskFileEntry* head : s.diskLists) {
    for (const DiskFileEntry* e = head; e; e = e->next) {
      if (e->placed && e->destination == DEST_INSTALL_FOLDER && SameFileName(e->name, name))
        return true;
    }
  }
  return false;
}

void ReadVersion(const char* path, const char* key, char (&out)[16]) {
  if (!path[0]) {
    std::strcpy(out, "Error");
    return;
  }
  GetPrivateProfileStringA("Version", key, "Error", out, sizeof out, path);
  out[sizeof out - 1] = '\0';
}

}  // namespace

bool ReadDiskLists(SetupState& s) {
  UniqueFile list;
  for (;;) {
    char listPath[MAX_PATH];
    if (FormatPath(listPath, "%s%s", s.diskRoot, DISK_LIST_FILE))
      list.reset(std::fopen(listPath, "r"));
    if (list) break;
    if (!PromptForDisk(s, 1)) return false;
  }

  // New entries go to the tails, so each list keeps the order of the file.
  DiskFileEntry** tails[SETUP_DISK_COUNT];
  for (int i = 0; i < SETUP_DISK_COUNT; ++i) {
    tails[i] = &s.diskLists[i];
    while (*tails[i]) tails[i] = &(*tails[i])->next;
  }
  int32_t destination = 0;  // none until the first known header
  char line[DISK_LIST_LINE_SIZE];
  for (;;) {
    std::memset(line, 0, sizeof line);
    if (!std::fgets(line, sizeof line, list.get())) break;
    const DiskListLine parsed = ParseDiskListLine(line);
    if (parsed.kind == DiskListLineKind::kHeader) {
      if (parsed.destination != 0) destination = parsed.destination;
      continue;
    }
    if (parsed.kind != DiskListLineKind::kEntry) continue;
    if (parsed.disk < 1 || parsed.disk > SETUP_DISK_COUNT || destination == 0) continue;
    DiskFileEntry* entry = new (std::nothrow) DiskFileEntry{};
    if (!entry) {
      Show(s, MSG_NO_MEMORY, ERROR_TYPE);
      return false;
    }
    entry->destination = destination;
    std::memcpy(entry->name, parsed.name, sizeof entry->name);
    *tails[parsed.disk - 1] = entry;
    tails[parsed.disk - 1] = &entry->next;
  }
  if (std::ferror(list.get())) {
    Show(s, MSG_READ_FAILED, ERROR_TYPE);
    return false;
  }
  list.reset();

  char versionPath[MAX_PATH];
  FormatPath(versionPath, "%s%s", s.diskRoot, VERSION_FILE);
  ReadVersion(versionPath, "QXWOLVersion", s.managerVersion);
  ReadVersion(versionPath, "DLLVersion", s.dllVersion);
  return true;
}

bool PlaceSetupFiles(SetupState& s) {
  // The work folder: the system drive's root, then Tmp\TAV_TMP. Tmp may
  // exist; TAV_TMP must be new, so nothing left over is taken for ours.
  FormatPath(s.workFolder, "%.3sTmp", s.systemFolder);
  CreateDirectoryA(s.workFolder, nullptr);
  if (!FormatPath(s.workFolder, "%.3sTmp\\TAV_TMP", s.systemFolder) ||
      !CreateDirectoryA(s.workFolder, nullptr)) {
    Show(s, MSG_WORK_FOLDER_FAILED, ERROR_TYPE);
    return false;
  }

  for (int n = 1; n <= SETUP_DISK_COUNT; ++n) {
    if (!WaitForDisk(s, n) || !ExpandDiskFiles(s, s.diskLists[n - 1])) return false;
  }
  for (int n = 1; n <= SETUP_DISK_COUNT; ++n) {
    if (!MoveExpandedFiles(s, s.diskLists[n - 1])) return false;
  }
  RegisterDlls(s);  // disk 4 is still in the drive; a partial registration is no failure
  return true;
}

bool WaitForDisk(SetupState& s, int n) {
  if (n < 1 || n > SETUP_DISK_COUNT) return false;
  const DiskFileEntry* first = s.diskLists[n - 1];
  if (!first) return true;  // nothing is taken from this disk, so it is not asked for

  // The probe is the first file's name on the disk, ".inf" files included.
  char stored[LISTED_NAME_MAX + 1];
  StoredName(first->name, stored);
  for (;;) {
    char probe[MAX_PATH];
    if (FormatPath(probe, "%s%s", s.diskRoot, stored) && UniqueFile(std::fopen(probe, "r")))
      return true;
    if (!PromptForDisk(s, n)) return false;
  }
}

bool ExpandDiskFiles(SetupState& s, const DiskFileEntry* list) {
  for (const DiskFileEntry* e = list; e; e = e->next) {
    char stored[LISTED_NAME_MAX + 1];
    StoredName(e->name, stored);
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!FormatPath(source, "%s%s", s.diskRoot, stored) ||
        !FormatPath(target, "%s\\%s", s.workFolder, e->name)) {
      return InternalError(s);
    }
    // A copy from an earlier disk must not pass for this one's.
    DeleteFileA(target);

    // By its full path: a bare name would first find an expand.exe planted
    // beside the installer or in the current folder, and run it with our rights.
    char command[sizeof "\"\\expand.exe\"  " + 3 * MAX_PATH];
    std::snprintf(command, sizeof command, "\"%s\\expand.exe\" %s %s", s.systemFolder, source,
                  target);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    ZeroMemory(&started, sizeof started);
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_SEPARATE_WOW_VDM, nullptr,
                        nullptr, &startup, &started)) {
      return InternalError(s);  // a file left out would install an incomplete manager
    }
    ObjectHandle process(started.hProcess);
    ObjectHandle(started.hThread).reset();  // only the process is waited for
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) {
      Show(s, MSG_INTERNAL_ERROR, ERROR_TYPE);
      TerminateProcess(process.get(), static_cast<UINT>(-1));
      return false;
    }
    // expand's exit code says little; the file it leaves is what counts.
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) return InternalError(s);
  }
  return true;
}

bool MoveExpandedFiles(SetupState& s, DiskFileEntry* list) {
  for (DiskFileEntry* e = list; e; e = e->next) {
    const char* folder = DestinationFolder(s, e->destination);
    if (!folder) return false;
    char source[MAX_PATH];
    if (!FormatPath(source, "%s\\%s", s.workFolder, e->name)) continue;
    // An existing file is never replaced: the new copy is dropped.
    char target[MAX_PATH];
    if (FormatPath(target, "%s\\%s", folder, e->name) && MoveFileA(source, target)) {
      e->placed = true;
    } else {
      DeleteFileA(source);
    }
  }
  return true;
}

void CleanWorkFolder(SetupState& s) {
  if (!s.workFolder[0]) return;  // never made: a bare "\NAME" would be the drive's root
  for (const DiskFileEntry* head : s.diskLists) {
    for (const DiskFileEntry* e = head; e; e = e->next) {
      char path[MAX_PATH];
      if (FormatPath(path, "%s\\%s", s.workFolder, e->name)) DeleteFileA(path);
    }
  }
  RemoveDirectoryA(s.workFolder);
}

void FreeDiskLists(SetupState& s) {
  for (DiskFileEntry*& head : s.diskLists) {
    while (head) {
      DiskFileEntry* next = head->next;
      delete head;
      head = next;
    }
  }
}

void DeleteListedFiles(SetupState& s) {
  if (!s.installFolder[0]) return;  // no folder chosen: nothing was installed
  char listPath[MAX_PATH];
  if (!FormatPath(listPath, "%s\\%s", s.installFolder, REMOVE_LIST_FILE)) return;
  {
    UniqueFile list(std::fopen(listPath, "r"));
    if (!list) return;
    char line[REMOVE_LIST_LINE_SIZE];
    for (;;) {
      std::memset(line, 0, sizeof line);
      if (!std::fgets(line, sizeof line, list.get())) break;
      char name[REMOVE_NAME_MAX + 1];
      char path[MAX_PATH];
      // A file that was there before (an earlier installation, the user's
      // own) is not this run's to delete.
      if (ParseRemoveListLine(line, name) && PlacedInInstallFolder(s, name) &&
          FormatPath(path, "%s\\%s", s.installFolder, name)) {
        DeleteFileA(path);
      }
    }
  }
  // Closed above, so it can go too; an earlier installation's list stays.
  if (PlacedInInstallFolder(s, REMOVE_LIST_FILE)) DeleteFileA(listPath);
}
