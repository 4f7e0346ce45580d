#include "log/ring_log.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_mutex.h"

char szLogDir[LOG_PATH_SIZE];

namespace {

constexpr uint32_t kMutexWaitMs = 200;
constexpr uint32_t kMagicSize = sizeof(LOG_MAGIC) - 1;

const LogKindInfo kKinds[] = {
    {"QX_WOL_A.LOG", "QX_WOL_AGT_LOG_MUTEX"},
    {"QX_WOL_M.LOG", "QX_WOL_MGR_LOG_MUTEX"},
    {"QX_WOL_D.LOG", "QX_WOL_DLL_LOG_MUTEX"},
    {"TAVANLOG.TXT", "QX_WOL_AGT_USR_LOG_MUTEX"},
    {"TAVSCLOG.TXT", "QX_WOL_MGR_USR_LOG_MUTEX"},
};

// The next slot named by a header line, or 1 when the line is no header.
uint32_t NextSlotFromHeader(const char* line) {
  if (std::memcmp(line, LOG_MAGIC, kMagicSize) != 0) return 1;
  uint32_t n = 0;
  for (uint32_t i = kMagicSize; i < kMagicSize + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 1;
    n = n * 10 + static_cast<uint32_t>(line[i] - '0');
  }
  return (n >= 1 && n < LOG_SLOT_COUNT) ? n : 1;
}

}  // namespace

const LogKindInfo* FindLogKind(uint32_t kind) {
  return kind < sizeof(kKinds) / sizeof(kKinds[0]) ? &kKinds[kind] : nullptr;
}

void MakeBlankLine(char* buffer, uint32_t length) {
  std::memset(buffer, ' ', length - 2);
  buffer[length - 2] = '\r';
  buffer[length - 1] = '\n';
}

int WriteLogFile(const char* path, const char* timestamp, const char* text) {
  platform::File file = platform::File::OpenOrCreate(path);
  if (!file.valid()) return 0;

  char line[LOG_LINE_SIZE];
  MakeBlankLine(line, sizeof line);

  // A file shorter than 84 bytes holds no header to trust. One read of up to
  // 84 bytes tells both the size and the header, a system call less than
  // asking for the size first.
  char head[LOG_LINE_SIZE + 2];
  uint32_t got = 0;
  if (!file.ReadAt(0, head, sizeof head, &got)) return 0;
  uint32_t slot = got < sizeof head ? 1 : NextSlotFromHeader(head);

  // Timestamp, one space, then the text; whatever runs past byte 79 is cut
  // by the line end, even inside a double-byte character.
  const size_t stamp_len = std::strlen(timestamp);
  std::memcpy(line, timestamp, stamp_len < LOG_LINE_SIZE - 2 ? stamp_len : LOG_LINE_SIZE - 2);
  if (stamp_len + 1 < LOG_LINE_SIZE - 2) {
    const size_t room = LOG_LINE_SIZE - 2 - (stamp_len + 1);
    const size_t text_len = std::strlen(text);
    std::memcpy(line + stamp_len + 1, text, text_len < room ? text_len : room);
  }
  if (!file.WriteAt(slot * LOG_LINE_SIZE, line, sizeof line)) return 0;

  slot = (slot == LOG_SLOT_COUNT - 1) ? 1 : slot + 1;
  MakeBlankLine(line, sizeof line);
  if (!file.WriteAt(slot * LOG_LINE_SIZE, line, sizeof line)) return 0;

  char header[LOG_LINE_SIZE] = {};
  std::memcpy(header, LOG_MAGIC, kMagicSize);
  std::snprintf(header + kMagicSize, 5, "%04u", slot);
  std::memset(header + kMagicSize + 4, ' ', LOG_LINE_SIZE - 2 - (kMagicSize + 4));
  header[LOG_LINE_SIZE - 2] = '\r';
  header[LOG_LINE_SIZE - 1] = '\n';
  return file.WriteAt(0, header, sizeof header) ? 1 : 0;
}

int WriteLog(const char* text, uint32_t kind) {
  const platform::LocalTime t = platform::LocalNow();
  char timestamp[32];
  std::snprintf(timestamp, sizeof timestamp, "%d/%02d/%02d %02d:%02d:%02d.%03d", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.millisecond);

  const LogKindInfo* info = FindLogKind(kind);
  if (!info) return 0;

  // A directory too long for the path buffer skips the record rather than
  // writing to a cut path.
  char path[LOG_PATH_SIZE];
  const int len = std::snprintf(path, sizeof path, "%s%s", szLogDir, info->file_name);
  if (len < 0 || static_cast<size_t>(len) >= sizeof path) return 0;

  platform::NamedMutex mutex = platform::NamedMutex::Open(info->mutex_name);
  if (!mutex.valid()) return 0;
  const platform::WaitResult wait = mutex.Wait(kMutexWaitMs);
  if (wait != platform::WaitResult::kAcquired && wait != platform::WaitResult::kAbandoned) return 0;
  const int written = WriteLogFile(path, timestamp, text);
  mutex.Release();
  return written;
}
