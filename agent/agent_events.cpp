#include "agent/agent_events.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

void (*ReportEventCall)(platform::EventType, uint32_t, const char*, const char* const*,
                        size_t) = platform::ReportSystemEvent;

namespace {

struct EventRow {
  AgentEvent event;
  uint32_t id;  // MessageId in agent_events.mc
  platform::EventType type;
  const char* summary;  // the Linux line
};

constexpr EventRow kEvents[] = {
    {AgentEvent::kStarted, 1, platform::EventType::kInformation, "agent started"},
    {AgentEvent::kStopped, 2, platform::EventType::kInformation, "agent stopped"},
    {AgentEvent::kPowerOffAccepted, 3, platform::EventType::kInformation,
     "power-off accepted from the manager"},
    {AgentEvent::kPowerOffCancelled, 4, platform::EventType::kInformation,
     "power-off cancelled at the PC, the countdown's exit code"},
    {AgentEvent::kRefused, 5, platform::EventType::kWarning, "connection refused"},
    {AgentEvent::kStartFailed, 6, platform::EventType::kError, "cannot serve the manager console"},
};

constexpr size_t kMaxStrings = 8;

// A stranger's flood of connections must not flood the event log and push
// other programs' events out of it: at most this many refusals a minute
// reach it. The trace log keeps every one.
constexpr int kRefusalsPerMinute = 20;

bool RefusalWithinLimit() {
  static std::mutex* lock = new std::mutex;  // never destroyed: late threads may come
  static std::chrono::steady_clock::time_point window = std::chrono::steady_clock::now();
  static int count = 0;
  std::lock_guard<std::mutex> guard(*lock);
  const auto now = std::chrono::steady_clock::now();
  if (now - window >= std::chrono::minutes(1)) {
    window = now;
    count = 0;
  }
  return ++count <= kRefusalsPerMinute;
}

}  // namespace

ManagerAddress::ManagerAddress(uint32_t network_order) {
  uint8_t b[4];
  std::memcpy(b, &network_order, sizeof b);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void ReportAgentEvent(AgentEvent event, std::initializer_list<const char*> strings) {
  if (event == AgentEvent::kRefused && !RefusalWithinLimit()) return;
  for (const EventRow& row : kEvents) {
    if (row.event != event) continue;
    const char* inserts[kMaxStrings];
    size_t count = 0;
    for (const char* s : strings) {
      if (count < kMaxStrings) inserts[count++] = s;
    }
    ReportEventCall(row.type, row.id, row.summary, inserts, count);
    return;
  }
}
