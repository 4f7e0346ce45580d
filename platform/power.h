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
// error code. Linux never powers off by default: it starts only the command
// line of the setting "PowerOffCmd" and fails with ENOSYS when there is none.
// It does not wait for the command; PowerOffOutcome tells how it ended.
uint32_t RequestPowerOff();

// Linux: kStillActive (259) while the command of the last request runs; then,
// once, its exit code (non-zero: it refused); 0 afterwards. Never waits.
// Windows: always 0, as ExitWindowsEx answers at once.
uint32_t PowerOffOutcome();

}  // namespace platform
