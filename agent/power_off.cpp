#include "agent/power_off.h"

#include <cstdio>
#include <cstring>

#include "agent/agent_events.h"
#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/countdown.h"
#include "countdown/countdown_rule.h"
#include "log/operation_log.h"
#include "log/ring_log.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/settings.h"

platform::PrivilegeResult (*EnableShutdownPrivilegeCall)() = platform::EnableShutdownPrivilege;
uint32_t (*RequestPowerOffCall)() = platform::RequestPowerOff;

namespace {

constexpr uint32_t kCommandSize = 280;
constexpr uint32_t kDefaultLength = 180;
constexpr long kPollGrace = 60;
constexpr uint32_t kPassMs = 1000;
constexpr uint32_t kPassesPerRequest = 181;

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
  const long polls = static_cast<long>(CountdownLength(command_line)) + kPollGrace;
  if (!RunCountdowns(command_line, polls, &exit_code)) {
    SystemShutdown();
    return 0;
  }
  if (exit_code != 0) {
    // Once, whoever cancelled; the trace tells who and with which code.
    WriteOperationLog(OPLOG_POWER_OFF_CANCELLED, 0, LOG_AGENT_USER);
    char code[12];
    std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(exit_code));
    ReportAgentEvent(AgentEvent::kPowerOffCancelled, {code});
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
