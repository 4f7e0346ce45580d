// What AGTREMOV removes, below HKEY_LOCAL_MACHINE and on disk, as named
// constants: keys, values, services and file names.
#pragma once

constexpr char REG_AGENT_KEY[] = "SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent";
constexpr char REG_MANAGER_KEY[] = "SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager";
// The top of the keys agent and manager share; the parent-key walk stops there.
constexpr char REG_SHARED_TOP[] = "VANTREX";
constexpr char REG_SHARED_PRODUCT[] = "ORVEL_MANAGER";
constexpr char REG_SHARED_NIMBREL[] = "Nimbrel";

constexpr char REG_AGENT_PATHNAME[] = "Pathname";
constexpr char REG_AGENT_LOGFILEPATH[] = "LogFilePath";
// Deleted in this order.
constexpr const char* REG_AGENT_VALUES[] = {"Pathname", "Version", "LogFilePath", "CountdownCmd",
                                            "MachineType"};

constexpr char REG_SERVICES_KEY[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr char REG_HALTGATE_NAME[] = "HALTGATE";
constexpr char REG_HALTGATE_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\HALTGATE";
constexpr char REG_HALTGATE_ENUM_NAME[] = "Enum";
constexpr char REG_HALTGATE_ENUM_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\HALTGATE\\Enum";
// Their absence means the settings are incomplete; SSCode's does not.
constexpr const char* REG_HALTGATE_VALUES[] = {"ErrorControl", "Start", "Type"};
constexpr char REG_HALTGATE_SSCODE[] = "SSCode";
constexpr const char* REG_HALTGATE_ENUM_VALUES[] = {"0", "Count", "NextInstance"};

constexpr char REG_WINLOGON_KEY[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr char REG_POWERDOWN_AFTER_SHUTDOWN[] = "PowerdownAfterShutdown";

constexpr char REG_UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char REG_AGENT_UNINSTALL_NAME[] = "ORVEL Nimbrel Agent";
constexpr char REG_AGENT_UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEL Nimbrel Agent";
constexpr const char* REG_AGENT_UNINSTALL_VALUES[] = {"DisplayName", "UninstallString"};

// Stopped and deleted in this order.
constexpr const char* AGENT_SERVICES[] = {"ORVEL Nimbrel", "ORVEL Nimbrel Shutdown"};

// The uninstaller's own file: deleted at the next restart, not now.
constexpr char UNINSTALLER_FILE[] = "AGTREMOV.EXE";
// Appended to the log directory and to the driver directory.
constexpr const char* AGENT_LOG_FILES[] = {"\\QX_WOL_A.LOG", "\\TAVANLOG.TXT"};
constexpr char DRIVER_DIR_SUFFIX[] = "\\DRIVERS";
constexpr char DRIVER_FILE[] = "\\HALTGATE.SYS";
