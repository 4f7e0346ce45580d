// The power-off that follows an acknowledged OFF request.
#pragma once

#include <cstdint>

#include "platform/power.h"
#include "platform/process.h"

// Runs the countdown program, if one is configured, and powers the PC off
// unless it cancels. Called only by a thread holding hShutdownMutex. Returns 0.
uint32_t CountDown();

// Enables the shutdown privilege and requests a forced power-off every 181
// seconds until the service stops. Returns 0.
uint32_t SystemShutdown();

// The countdown length in seconds that PWRCOUNT reads from the command line
// (CountdownSeconds), else 180.
uint32_t CountdownLength(const char* command_line);

// The power seam, replaced by tests: no test may power off this machine.
extern platform::PrivilegeResult (*EnableShutdownPrivilegeCall)();
extern uint32_t (*RequestPowerOffCall)();
