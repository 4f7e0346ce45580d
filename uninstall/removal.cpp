#include "uninstall/removal.h"

#include <cstring>
#include <iterator>

#include "platform/win32/reg_key.h"
#include "platform/win32/unique_handle.h"
#include "uninstall/file_routines.h"
#include "uninstall/service_removal.h"
#include "uninstall/uninstall_registry.h"

bool bRegistryIncomplete = false;

namespace {

// The registry operations whose failure means the agent's settings were not
// all found: each returns the platform's result and flags a failure.
LONG OpenKeyFlagged(RegKey* key, HKEY root, const char* path) {
  const LONG rc = key->Open(root, path, KEY_ALL_ACCESS);
  if (rc != ERROR_SUCCESS) bRegistryIncomplete = true;
  return rc;
}

LONG DeleteKeyFlagged(HKEY parent, const char* name) {
  const LONG rc = RegDeleteKeyA(parent, name);
  if (rc != ERROR_SUCCESS) bRegistryIncomplete = true;
  return rc;
}

LONG DeleteValueFlagged(HKEY key, const char* name) {
  const LONG rc = RegDeleteValueA(key, name);
  if (rc != ERROR_SUCCESS) bRegistryIncomplete = true;
  return rc;
}

bool SameText(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }

// A string value of at most MAX_PATH bytes with its zero; "" when the value
// is missing, not a string, or longer.
void ReadPathValue(HKEY key, const char* name, char (&out)[MAX_PATH]) {
  DWORD type = 0, size = sizeof out;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    out[0] = '\0';
    return;
  }
  out[size < sizeof out ? size : sizeof out - 1] = '\0';  // the stored text may lack its zero
}

// dir + "\" + name into out (or dir + name when name brings its backslash);
// false when the path would not fit, and then the file is left alone.
bool JoinPath(const char* dir, const char* name, char (&out)[MAX_PATH]) {
  const char* sep = name[0] == '\\' ? "" : "\\";
  const size_t n = std::strlen(dir) + std::strlen(sep) + std::strlen(name);
  if (n >= sizeof out) return false;
  wsprintfA(out, "%s%s%s", dir, sep, name);
  return true;
}

bool IsUninstaller(const char* name) { return SameText(name, UNINSTALLER_FILE); }

// Deletes the child of the key at parentPath; a parent that does not open
// skips only this deletion.
void DeleteChildKey(const char* parentPath, const char* child, bool flagged) {
  RegKey parent;
  if (flagged) {
    if (OpenKeyFlagged(&parent, HKEY_LOCAL_MACHINE, parentPath) != ERROR_SUCCESS) return;
    DeleteKeyFlagged(parent.get(), child);
  } else {
    if (parent.Open(HKEY_LOCAL_MACHINE, parentPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    RegDeleteKeyA(parent.get(), child);
  }
}

// Deletes Agent, then each shared parent up to VANTREX while the manager is
// not installed. A key that still has subkeys cannot be deleted, so a parent
// that another product or the manager uses stays.
void DeleteAgentKeys(bool managerInstalled) {
  char path[MAX_PATH];
  lstrcpynA(path, REG_AGENT_KEY, sizeof path);
  char name[MAX_PATH] = "";
  while (!SameText(name, REG_SHARED_TOP)) {
    if (!SplitLastComponent(path, name, sizeof name)) return;
    if (SameText(name, REG_SHARED_NIMBREL) && managerInstalled) return;
    const bool shared = SameText(name, REG_SHARED_PRODUCT) || SameText(name, REG_SHARED_TOP);
    DeleteChildKey(path, name, !shared);
  }
}

void DeleteDriverSettings() {
  {
    RegKey driver;
    if (driver.Open(HKEY_LOCAL_MACHINE, REG_HALTGATE_KEY, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    for (const char* value : REG_HALTGATE_VALUES) DeleteValueFlagged(driver.get(), value);
    RegDeleteValueA(driver.get(), REG_HALTGATE_SSCODE);
  }
  {
    RegKey enumKey;
    if (enumKey.Open(HKEY_LOCAL_MACHINE, REG_HALTGATE_ENUM_KEY, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      for (const char* value : REG_HALTGATE_ENUM_VALUES) RegDeleteValueA(enumKey.get(), value);
    }
  }
  DeleteChildKey(REG_HALTGATE_KEY, REG_HALTGATE_ENUM_NAME, false);
  DeleteChildKey(REG_SERVICES_KEY, REG_HALTGATE_NAME, false);
  // Without the driver, Windows is told not to switch the power off itself.
  RegKey winlogon;
  if (winlogon.Open(HKEY_LOCAL_MACHINE, REG_WINLOGON_KEY, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
    static const char no[] = "0";
    RegSetValueExA(winlogon.get(), REG_POWERDOWN_AFTER_SHUTDOWN, 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(no), sizeof no);
  }
}

void DeleteUninstallEntry() {
  {
    RegKey entry;
    if (entry.Open(HKEY_LOCAL_MACHINE, REG_AGENT_UNINSTALL_KEY, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
      return;
    }
    for (const char* value : REG_AGENT_UNINSTALL_VALUES) RegDeleteValueA(entry.get(), value);
  }
  DeleteChildKey(REG_UNINSTALL_KEY, REG_AGENT_UNINSTALL_NAME, false);
}

// True when a listed program file is held open by another process: the
// agent may still be running from it.
bool AnyProgramInUse(const char* agentDir) {
  for (const char* name = szAgentFileList; *name; name += std::strlen(name) + 1) {
    char path[MAX_PATH];
    if (IsUninstaller(name) || !JoinPath(agentDir, name, path)) continue;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, FALSE};
    const FileHandle probe(
        CreateFileA(path, GENERIC_WRITE, 0, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Absent, read-only or denied is not in use: its deletion will fail quietly.
    if (!probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION) return true;
  }
  return false;
}

void DeleteProgramFiles(const char* agentDir) {
  for (const char* name = szAgentFileList; *name; name += std::strlen(name) + 1) {
    char path[MAX_PATH];
    if (!JoinPath(agentDir, name, path)) continue;
    if (IsUninstaller(name)) {
      DeleteOnRestart(path);  // this program is running from it
    } else {
      DeleteFileA(path);
    }
  }
}

}  // namespace

RemovalOutcome RemoveAgentSettings() {
  char driverDir[MAX_PATH] = "";
  char systemDir[MAX_PATH + 1] = "";
  const UINT n = GetSystemDirectoryA(systemDir, sizeof systemDir);
  if (n > 0 && n < sizeof systemDir) JoinPath(systemDir, DRIVER_DIR_SUFFIX, driverDir);
  char programDir[MAX_PATH] = "";
  GetProgramDir(programDir, sizeof programDir);

  if (!IsWindowsNtFamily()) return RemovalOutcome::kNotWindowsNt;
  for (const char* service : AGENT_SERVICES) {
    if (!RemoveService(service)) return RemovalOutcome::kServiceNotRemoved;
  }
  bool managerInstalled;
  {
    RegKey manager;
    managerInstalled =
        manager.Open(HKEY_LOCAL_MACHINE, REG_MANAGER_KEY, KEY_ALL_ACCESS) == ERROR_SUCCESS;
  }
  LoadAgentFileList();

  char agentDir[MAX_PATH] = "", logDir[MAX_PATH] = "";
  RegKey agent;
  if (OpenKeyFlagged(&agent, HKEY_LOCAL_MACHINE, REG_AGENT_KEY) == ERROR_SUCCESS) {
    ReadPathValue(agent.get(), REG_AGENT_PATHNAME, agentDir);
    if (!agentDir[0]) lstrcpynA(agentDir, programDir, sizeof agentDir);
    if (AnyProgramInUse(agentDir)) return RemovalOutcome::kProgramInUse;
    ReadPathValue(agent.get(), REG_AGENT_LOGFILEPATH, logDir);
    for (const char* value : REG_AGENT_VALUES) DeleteValueFlagged(agent.get(), value);
    agent = RegKey();  // closed before its deletion
    DeleteAgentKeys(managerInstalled);
  }
  DeleteDriverSettings();
  DeleteUninstallEntry();

  if (!agentDir[0]) lstrcpynA(agentDir, programDir, sizeof agentDir);
  if (!logDir[0]) lstrcpynA(logDir, programDir, sizeof logDir);
  DeleteProgramFiles(agentDir);
  char path[MAX_PATH];
  for (const char* log : AGENT_LOG_FILES) {
    if (JoinPath(logDir, log, path)) DeleteFileA(path);
  }
  if (driverDir[0] && JoinPath(driverDir, DRIVER_FILE, path)) DeleteFileA(path);
  return RemovalOutcome::kCompleted;
}
