#include "mgrsetup/registration.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mgrsetup/disk_files.h"
#include "mgrsetup/setup_lists.h"
#include "mgrsetup/setup_registry.h"
#include "platform/win32/reg_key.h"
#include "platform/win32/unique_handle.h"

namespace {

constexpr char REGISTRY_FAILED[] = "ﾚｼﾞｽﾄﾘの作成に失敗しました。";
constexpr char SHORTCUT_FAILED[] = "ｼｮｰﾄｶｯﾄｱｲｺﾝの作成に失敗しました。";
constexpr UINT MESSAGE_TYPE = MB_OK | MB_ICONHAND;


// A COM interface pointer that releases itself.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_) p_->Release();
  }
  T* operator->() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// Loads the DLL, calls its DllRegisterServer if it has one (the result is
// not used) and releases it; any failure passes the DLL over silently. A name
// that reaches outside its folder would load a DLL from elsewhere.
void RegisterDll(const char* folder, const char* name) {
  if (ReachesOutsideFolder(name)) return;
  char path[MAX_PATH];
  const int n = std::snprintf(path, sizeof path, "%s\\%s", folder, name);
  if (n < 0 || n >= static_cast<int>(sizeof path)) return;
  LoadedModule dll(LoadLibraryA(path));
  if (!dll.valid()) return;
  using RegisterServer = HRESULT(STDAPICALLTYPE*)();
  // Through void(*)(): the one function pointer type a cast never warns about.
  const auto proc = reinterpret_cast<void (*)()>(GetProcAddress(dll.get(), "DllRegisterServer"));
  if (proc) reinterpret_cast<RegisterServer>(proc)();
}

// A key's value in a 16-byte buffer; false when it has none ("Error").
bool ReadListValue(const char* list, const char* section, const char* key, char (&value)[16]) {
  GetPrivateProfileStringA(section, key, "Error", value, sizeof value, list);
  return std::strcmp(value, "Error") != 0;
}

// 1 when the write failed, to be counted.
int SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1)) != ERROR_SUCCESS;
}
int SetEmptyText(HKEY key, const char* name) {
  return RegSetValueExA(key, name, 0, REG_SZ, nullptr, 0) != ERROR_SUCCESS;
}
int SetNumber(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof number) != ERROR_SUCCESS;
}

// The leading decimal number of the text, as a "%d" scan reads it; 1 when
// there is none. strtol takes the same syntax and saturates on overflow.
DWORD DllVersionNumber(const char* text) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text) return 1;
  return static_cast<DWORD>(number);
}

}  // namespace

bool RegisterDlls(SetupState& s) {
  char list[MAX_PATH];
  const int n = std::snprintf(list, sizeof list, "%s%s", s.diskRoot, DLL_LIST_FILE);
  if (n < 0 || n >= static_cast<int>(sizeof list)) return false;

  char names[1024];
  GetPrivateProfileStringA(DLL_LIST_SYSTEM_SECTION, nullptr, "Error", names, sizeof names, list);
  if (std::strcmp(names, "Error") == 0) return false;
  char daoNames[32];
  GetPrivateProfileStringA(DLL_LIST_DAO_SECTION, nullptr, "Error", daoNames, sizeof daoNames, list);
  if (std::strcmp(daoNames, "Error") == 0) return false;

  char value[16];
  for (const char* key = names; *key; key += std::strlen(key) + 1) {
    if (!ReadListValue(list, DLL_LIST_SYSTEM_SECTION, key, value)) return false;
    RegisterDll(s.systemFolder, value);
  }
  if (!ReadListValue(list, DLL_LIST_DAO_SECTION, daoNames, value)) return false;
  RegisterDll(s.daoFolder, value);
  return true;
}

bool WriteManagerSettings(SetupState& s) {
  int failures = 0;
  RegKey manager;
  if (manager.Create(HKEY_LOCAL_MACHINE, REG_MANAGER_KEY, KEY_SET_VALUE) != ERROR_SUCCESS) {
    ++failures;
  } else {
    const HKEY key = manager.get();
    failures += SetText(key, REG_PATHNAME, s.installFolder);
    failures += SetText(key, REG_VERSION, s.managerVersion);
    failures += SetText(key, REG_LOGFILEPATH, s.installFolder);
    failures += SetNumber(key, REG_DLLVERSION, DllVersionNumber(s.dllVersion));
    failures += SetEmptyText(key, REG_NOWPASSWORD);
    failures += SetEmptyText(key, REG_SELECTEDNAME);
    manager = RegKey();

    RegKey entry;
    char command[MAX_PATH + sizeof MANAGER_UNINSTALLER];
    std::snprintf(command, sizeof command, "%s%s", s.installFolder, MANAGER_UNINSTALLER);
    if (entry.Create(HKEY_LOCAL_MACHINE, REG_MANAGER_UNINSTALL_KEY, KEY_SET_VALUE) !=
        ERROR_SUCCESS) {
      ++failures;
    } else {
      failures += SetText(entry.get(), REG_DISPLAYNAME, MANAGER_DISPLAY_NAME);
      failures += SetText(entry.get(), REG_UNINSTALLSTRING, command);
    }
  }
  if (failures == 0) return true;
  if (s.ui) s.ui->Message(REGISTRY_FAILED, MESSAGE_TYPE);
  return false;
}

void CreateStartMenuShortcut(SetupState& s) {
  char folder[MAX_PATH];
  std::snprintf(folder, sizeof folder, "%.3s%s", s.systemFolder, SHORTCUT_FOLDER);
  // Also fails when the folder exists: a second installation makes no new link.
  if (!CreateDirectoryA(folder, nullptr)) return;
  char link[MAX_PATH];
  const int linkLength = std::snprintf(link, sizeof link, "%s%s", folder, SHORTCUT_LINK);
  char target[MAX_PATH];
  const int targetLength =
      std::snprintf(target, sizeof target, "%s%s", s.installFolder, SHORTCUT_TARGET);

  CoInitialize(nullptr);
  int failures = 0;
  {
    ComRef<IShellLinkA> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                shellLink.out()))) {
      ++failures;
    } else {
      // A target that does not fit counts as a failed SetPath.
      if (targetLength < 0 || targetLength >= static_cast<int>(sizeof target) ||
          FAILED(shellLink->SetPath(target)))
        ++failures;
      ComRef<IPersistFile> file;
      if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.out()))) {
        ++failures;
      } else {
        WCHAR wide[MAX_PATH] = L"";
        const bool fits = linkLength > 0 && linkLength < static_cast<int>(sizeof link) &&
                          MultiByteToWideChar(CP_ACP, 0, link, -1, wide, MAX_PATH) != 0;
        if (!fits || FAILED(file->Save(wide, TRUE))) ++failures;
      }
    }
  }  // both interfaces released before COM is uninitialised
  CoUninitialize();
  if (failures && s.ui) s.ui->Message(SHORTCUT_FAILED, MESSAGE_TYPE);
}

void DeleteManagerSettings(SetupState&) {
  RegKey manager;
  if (manager.Open(HKEY_LOCAL_MACHINE, REG_MANAGER_KEY, KEY_ALL_ACCESS) == ERROR_SUCCESS)
    for (const char* value : REG_MANAGER_VALUES) RegDeleteValueA(manager.get(), value);
  RegKey entry;
  if (entry.Open(HKEY_LOCAL_MACHINE, REG_MANAGER_UNINSTALL_KEY, KEY_ALL_ACCESS) == ERROR_SUCCESS)
    for (const char* value : REG_UNINSTALL_VALUES) RegDeleteValueA(entry.get(), value);
}

void RollBackInstall(SetupState& s, RollBack what) {
  // The work folder is cleaned by walking the lists, so before they are freed.
  if (what.cleanWork) CleanWorkFolder(s);
  // The lists say which files this run placed, so they go after the deletion.
  if (what.deleteInstalled) DeleteListedFiles(s);
  if (what.freeLists) FreeDiskLists(s);
  if (what.deleteSettings) DeleteManagerSettings(s);
}
