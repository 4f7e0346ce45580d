// What the installer writes, below HKEY_LOCAL_MACHINE and on disk, as named
// constants.
#pragma once

constexpr char REG_MANAGER_KEY[] = "Software\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager";
constexpr char REG_MANAGER_UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEL Nimbrel Manager";

// The manager key's values, written in this order; the first three are text.
constexpr char REG_PATHNAME[] = "Pathname";
constexpr char REG_VERSION[] = "Version";
constexpr char REG_LOGFILEPATH[] = "LogFilePath";
constexpr char REG_DLLVERSION[] = "DLLVersion";
constexpr char REG_NOWPASSWORD[] = "NowPassword";
constexpr char REG_SELECTEDNAME[] = "SelectedName";
// Deleted by the roll-back; the subkey CONN_PARAM is never touched.
constexpr const char* REG_MANAGER_VALUES[] = {REG_PATHNAME,   REG_VERSION,     REG_LOGFILEPATH,
                                              REG_DLLVERSION, REG_NOWPASSWORD, REG_SELECTEDNAME};

constexpr char REG_DISPLAYNAME[] = "DisplayName";
constexpr char REG_UNINSTALLSTRING[] = "UninstallString";
constexpr const char* REG_UNINSTALL_VALUES[] = {REG_DISPLAYNAME, REG_UNINSTALLSTRING};
constexpr char MANAGER_DISPLAY_NAME[] = "ORVEL Nimbrel ﾏﾈｰｼﾞｬ";
constexpr char MANAGER_UNINSTALLER[] = "\\MGRREMOV.EXE";

// On setup disk 4: the COM DLLs to register, by section.
constexpr char DLL_LIST_FILE[] = "DLLLIST.INF";
constexpr char DLL_LIST_SYSTEM_SECTION[] = "DLLRegisterFiles";
constexpr char DLL_LIST_DAO_SECTION[] = "DaoDLLRegisterFiles";

// Fixed text for a Japanese XP with its profiles on the system drive: it
// follows the drive root taken from the system folder.
constexpr char SHORTCUT_FOLDER[] =
    "Documents and Settings\\All Users\\スタート メニュー\\プログラム\\ORVEL Nimbrel";
constexpr char SHORTCUT_LINK[] = "\\ﾏﾈｰｼﾞｬ.lnk";
constexpr char SHORTCUT_TARGET[] = "\\wakedesk.exe";
