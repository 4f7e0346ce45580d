#include "agent/power_off.h"

#include <cstring>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "countdown/countdown_rule.h"
#include "log/operation_log.h"
#include "log/ring_log.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/settings.h"

platform::PrivilegeResult (*EnableShutdownPrivilegeCall)() = platform::EnableShutdownPrivilege;
uint32_t (*RequestPowerOffCall)() = platform::RequestPowerOff;
platform::Process (*StartOnUserDesktopCall)(const char*, platform::UserStart*) =
    platform::Process::StartOnUserDesktop;

namespace {

constexpr uint32_t kCommandSize = 280;
constexpr uint32_t kDefaultLength = 180;
constexpr long kPollGrace = 60;
constexpr uint32_t kPollMs = 1000;
constexpr uint32_t kPassMs = 1000;
constexpr uint32_t kPassesPerRequest = 181;

// Starts the countdown program where the user at the console sees it; with
// nobody logged on (or a failed step) as the service's own child, unseen, so
// that its time-out lets the power-off go ahead.
platform::Process StartCountdown(const char* command_line) {
  platform::UserStart how;
  platform::Process process = StartOnUserDesktopCall(command_line, &how);
  if (process.valid()) {
    Trace("CountDown Start : Session = %lu", static_cast<unsigned long>(how.session));
    return process;
  }
  if (how.failed_call) {
    Trace("Error %s() : Code = %d", how.failed_call, static_cast<int>(how.error));
  }
  process = platform::Process::Start(command_line);
  if (process.valid()) WriteLog("CountDown Start : Service Desktop", LOG_AGENT);
  return process;
}

// Runs the countdown program to its end or to the poll limit. Returns false
// when it could not be started; otherwise *exit_code is its exit code, 0
// after a time-out. The process handle is closed on return.
bool RunCountdown(const char* command_line, uint32_t* exit_code) {
  platform::Process process = StartCountdown(command_line);
  if (!process.valid()) {
    Trace("Error CreateProcess() : Code = %d", static_cast<int>(platform::LastError()));
    return false;
  }
  const long limit = static_cast<int>(CountdownLength(command_line)) + kPollGrace;
  uint32_t code = platform::kStillActive;
  for (long poll = 0; poll < limit; ++poll) {
    uint32_t now = 0;
    if (process.ExitCode(&now)) {
      code = now;
    } else {
      Trace("Error GetExitCodeProcess() : Code = %d", static_cast<int>(platform::LastError()));
    }
    AgentSleep(kPollMs);
    if (code != platform::kStillActive) break;
  }
  // The program is left running; its silence counts as consent.
  if (code == platform::kStillActive) {
    Trace("Timeout waitting count down process : wait = %ld", limit);
    code = 0;
  }
  *exit_code = code;
  return true;
}

}  // namespace

uint32_t CountdownLength(const char* command_line) {
  // PWRCOUNT's own rule, so that the wait is never shorter than its count.
  const uint32_t seconds = CountdownSeconds(command_line);
  return seconds != 0 ? seconds : kDefaultLength;
}

uint32_t CountDown() {
  if (dwServiceStop) return 0;

  char command_line[kCommandSize];
  if (!platform::ReadSetting(AGENT_KEY, "CountdownCmd", command_line, sizeof command_line)) {
    command_line[0] = '\0';
  }
  if (command_line[0] == '\0') {
    SystemShutdown();
    WriteLog("CountDown finished", LOG_AGENT);
    return 0;
  }

  uint32_t exit_code = 0;
  if (!RunCountdown(command_line, &exit_code)) {
    SystemShutdown();
    return 0;
  }
  if (exit_code != 0) {
    // A user's cancel, a bad command line, a crash or a kill at log-off: the
    // code tells the administrator which, the operation log only "cancelled".
    Trace("CountDown Exit : Code = %d", static_cast<int>(exit_code));
    WriteOperationLog(OPLOG_POWER_OFF_CANCELLED, 0, LOG_AGENT_USER);
  } else {
    SystemShutdown();
  }
  WriteLog("CountDown finished", LOG_AGENT);
  return 0;
}

uint32_t SystemShutdown() {
  const platform::PrivilegeResult privilege = EnableShutdownPrivilegeCall();
  if (privilege.open_token != 0) {
    Trace("Error OpenProcessToken() : Code = %d", static_cast<int>(privilege.open_token));
  }
  if (privilege.lookup != 0) {
    Trace("Error LookupPrivilegeValue() : Code = %d", static_cast<int>(privilege.lookup));
  }
  if (privilege.adjust != 0) {
    Trace("Error AdjustTokenPrivileges()_1 : Code = %d", static_cast<int>(privilege.adjust));
  }
  Trace("System Shutdown : Code = %d", 0);
  WriteOperationLog(OPLOG_SHUTDOWN_START, 0, LOG_AGENT_USER);

  if (!dwServiceStop) {
    // The request is repeated while the service lives: a refused or
    // forgotten power-off is asked for again 181 seconds later.
    for (uint32_t pass = 0;; pass = (pass + 1) % kPassesPerRequest) {
      if (pass == 0) {
        WriteLog("ExitWindowsEx call.", LOG_AGENT);
        const uint32_t error = RequestPowerOffCall();
        if (error != 0) Trace("ExitWindowsEx failed : Code = %d", static_cast<int>(error));
      }
      AgentSleep(kPassMs);
      // A power-off command of Linux ends in its own time; the loop only looks.
      const uint32_t outcome = platform::PowerOffOutcome();
      if (outcome != 0 && outcome != platform::kStillActive) {
        Trace("ExitWindowsEx failed : Code = %d", static_cast<int>(outcome));
      }
      if (dwServiceStop) break;
    }
  }
  WriteLog("ExitWindowsEx call loop fin.", LOG_AGENT);
  return 0;
}
