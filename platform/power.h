// The shutdown privilege and the forced power-off request.
#pragma once

#include <cstdint>

namespace platform {

// The system error code of each step of enabling the shutdown privilege; 0
// where the step succeeded. Every step runs even when an earlier one failed.
struct PrivilegeResult {
  uint32_t open_token;  // OpenProcessToken
  uint32_t lookup;      // LookupPrivilegeValueA("SeShutdownPrivilege")
  uint32_t adjust;      // GetLastError after AdjustTokenPrivileges
};

PrivilegeResult EnableShutdownPrivilege();

// Asks the system to power off by force (ExitWindowsEx(EWX_POWEROFF |
// EWX_FORCE, 0) on Windows). Returns 0 when the request was accepted, else an
// error code. Linux never powers off by default: it runs only the command line
// of the setting "PowerOffCmd" and fails with ENOSYS when there is none.
uint32_t RequestPowerOff();

}  // namespace platform
