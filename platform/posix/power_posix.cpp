#include "platform/power.h"

#include <errno.h>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/settings.h"

namespace platform {
namespace {

constexpr uint32_t kCommandSize = 280;
constexpr uint32_t kCommandWaitMs = 30000;

}  // namespace

// Linux has no per-token privilege to switch on; whether the power-off
// command may act is up to that command.
PrivilegeResult EnableShutdownPrivilege() { return {0, 0, 0}; }

uint32_t RequestPowerOff() {
  // Never power off a machine that did not ask for it: only an explicitly
  // configured command runs (the key path is not used on Linux).
  char command[kCommandSize];
  if (!ReadSetting("", "PowerOffCmd", command, sizeof command) || command[0] == '\0') {
    return ENOSYS;
  }
  Process p = Process::Start(command);
  if (!p.valid()) return LastError();
  // Like ExitWindowsEx, a request that is still being carried out counts as
  // accepted; a command that ends with a non-zero status refused it.
  if (!p.Wait(kCommandWaitMs)) return 0;
  uint32_t code = 0;
  if (!p.ExitCode(&code)) return LastError();
  return code;
}

}  // namespace platform
