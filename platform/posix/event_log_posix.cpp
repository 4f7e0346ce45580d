#include "platform/event_log.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void ReportSystemEvent(EventType type, uint32_t /*id*/, const char* summary,
                       const char* const* strings, size_t count) {
  // Under systemd (JOURNAL_STREAM set) a "<N>" prefix gives the journal the
  // line's priority, so that journalctl -p warning finds refusals.
  const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
  static const char* const kLevels[][2] = {{"<6>", "info"}, {"<4>", "warning"}, {"<3>", "error"}};
  const char* const* level = kLevels[static_cast<int>(type)];
  char line[512];
  int used =
      std::snprintf(line, sizeof line, "%s%s: %s", journal ? level[0] : "", level[1], summary);
  for (size_t i = 0; i < count && used > 0 && static_cast<size_t>(used) < sizeof line; ++i) {
    used +=
        std::snprintf(line + used, sizeof line - used, "%s%s", i == 0 ? ": " : ", ", strings[i]);
  }
  // One write of the whole line, so that threads' lines never interleave.
  std::fprintf(stderr, "%s\n", line);
}

}  // namespace platform
