// What the installer writes, below HKEY_LOCAL_MACHINE and on disk, as named
// constants.
#pragma once

constexpr char REG_MANAGER_KEY[] = "Software\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Manager";
constexpr char REG_MANAGER_UNINSTALL_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEL Nimbrel Manager";
