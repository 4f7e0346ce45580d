#include "platform/event_log.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace platform {

namespace {

struct EventSourceKind {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { DeregisterEventSource(h); }
};

WORD EventLogType(EventType type) {
  switch (type) {
    case EventType::kWarning:
      return EVENTLOG_WARNING_TYPE;
    case EventType::kError:
      return EVENTLOG_ERROR_TYPE;
    case EventType::kInformation:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

void ReportSystemEvent(EventType type, uint32_t id, const char* /*summary*/,
                       const char* const* strings, size_t count) {
  // Opened for each event: they are rare, and no handle outlives a stop.
  const UniqueHandle<EventSourceKind> source(RegisterEventSourceA(nullptr, "ORVEL Nimbrel"));
  if (!source.valid()) return;
  ReportEventA(source.get(), EventLogType(type), 0, id, nullptr, static_cast<WORD>(count), 0,
               const_cast<LPCSTR*>(strings), nullptr);
}

}  // namespace platform
