// The agent's start-up and stop sequence, apart from how the process is
// hosted (Windows service control manager, or signals on Linux).
#pragma once

#include <mutex>

// Reads LogFilePath from the agent key (default ".") and appends one
// separator: the result is szLogDir. Called before anything is logged.
void SetLogDir(char separator);

// Start-up: trace and operation log, shutdown mutex, Windows Sockets,
// adapter list, listener. Does nothing once the stop sequence has run.
void AgentStart();

// The stop sequence between the host's stop-pending and stopped reports:
// stop flags, the wait of at most 20 x 1000 ms for the threads, socket
// clean-up, adapter list and mutex release, the closing log lines.
void AgentStop();
// The same, calling paused() after each pause of the wait: the host's
// progress report.
void AgentStopReporting(void (*paused)());

// Held by AgentStart for its whole run and by AgentStop from its clean-up on,
// so that a stop arriving during start-up lets start-up finish first.
std::mutex& AgentLifecycleLock();
