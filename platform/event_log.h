// The system's event log: on Windows the Event Log, under the event source
// "ORVEL Nimbrel" whose message table is compiled into PWRAGENT.exe; on Linux
// standard error, one line an event, which systemd's journal keeps.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

enum class EventType { kInformation, kWarning, kError };

// Reports message `id` of the source's message table with its inserted
// strings (%1, %2, ... in order). Linux writes `summary` and the strings
// instead, with the journal's priority prefix when stderr goes to it.
// Failures are ignored: the event log is in addition to the ring logs.
void ReportSystemEvent(EventType type, uint32_t id, const char* summary, const char* const* strings,
                       size_t count);

}  // namespace platform
