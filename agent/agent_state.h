// The process-wide state that the agent's threads share.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/adapters.h"
#include "platform/named_mutex.h"

// "SOFTWARE\VANTREX\ORVEL_MANAGER\Nimbrel\Agent" under HKEY_LOCAL_MACHINE.
extern const char AGENT_KEY[];

// Single words polled by the threads; they only go from 0 to 1 during a stop
// (dwThreadEnd also back to 0 when an accept thread starts waiting).
extern std::atomic<uint32_t> dwServiceStop;
extern std::atomic<uint32_t> dwAgentEnd;
extern std::atomic<uint32_t> dwThreadEnd;
// Live accept and connection threads.
extern std::atomic<long> ThreadCnt;

// "ORVEL_MANAGER_WakeOnLAN_SHUTDOWN_MUTEX": one power-off at a time.
extern platform::NamedMutex hShutdownMutex;

// Built once at start-up, read-only while the service runs.
extern AdapterEntry* AdapterList;
