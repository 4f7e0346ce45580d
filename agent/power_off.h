// The power-off that follows an acknowledged OFF request.
#pragma once

#include <cstdint>

// Runs the countdown program, if one is configured, and powers the PC off
// unless it cancels. Called only by a thread holding hShutdownMutex. Returns 0.
uint32_t CountDown();

// Enables the shutdown privilege and requests a forced power-off every 181
// seconds until the service stops. Returns 0.
uint32_t SystemShutdown();
