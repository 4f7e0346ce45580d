#include "platform/power.h"

#include <errno.h>

#include <mutex>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/settings.h"

namespace platform {
namespace {

constexpr uint32_t kCommandSize = 280;

// The command of the last request; never destroyed, as a thread of the
// repetition loop may still ask while the process ends.
struct Running {
  std::mutex lock;
  Process process;
};

Running& Last() {
  static Running* running = new Running;
  return *running;
}

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
  // accepted. An earlier command still running is reaped when it ends.
  std::lock_guard<std::mutex> guard(Last().lock);
  Last().process = std::move(p);
  return 0;
}

uint32_t PowerOffOutcome() {
  std::lock_guard<std::mutex> guard(Last().lock);
  if (!Last().process.valid()) return 0;
  uint32_t code = 0;
  if (!Last().process.ExitCode(&code)) code = LastError();
  if (code != kStillActive) Last().process = Process();
  return code;
}

}  // namespace platform
