// What the agent reports to the system's event log (the Windows Event Log,
// standard error on Linux) beside its ring logs, which stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform/event_log.h"

// Each kind is one message of agent/agent_events.mc; the strings are its
// inserts, in order.
enum class AgentEvent {
  kStarted,            // the service started
  kStopped,            // the service stopped
  kPowerOffAccepted,   // the manager's address; unsigned, or the key that signed it
  kPowerOffCancelled,  // the countdown program's exit code
  kRefused,            // the manager's address, the reason
  kStartFailed,        // the reason (no port, no socket)
};

// Reports the event; callable from any thread, at any time. Refusals beyond
// 20 a minute are dropped.
void ReportAgentEvent(AgentEvent event, std::initializer_list<const char*> strings = {});

// A manager's IPv4 address, network byte order, as an insert: "a.b.c.d".
struct ManagerAddress {
  explicit ManagerAddress(uint32_t network_order);
  char text[16];
};

// The report as it reaches the platform; tests replace it (Wine's
// ReportEventA succeeds and stores nothing).
extern void (*ReportEventCall)(platform::EventType, uint32_t, const char*, const char* const*,
                               size_t);
