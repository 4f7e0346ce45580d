// The kit's ring-file logs: five kinds, one file and one named mutex each,
// all in the directory szLogDir, all in one format of 82-byte lines.
#pragma once

#include <cstdint>

enum : uint32_t {
  LOG_AGENT = 0,         // agent trace log
  LOG_MANAGER = 1,       // manager trace log
  LOG_DLL = 2,           // manager DLL trace log
  LOG_AGENT_USER = 3,    // agent operation log
  LOG_MANAGER_USER = 4,  // manager operation log
};

constexpr uint32_t LOG_LINE_SIZE = 82;     // 80 bytes of content, CR, LF
constexpr uint32_t LOG_SLOT_COUNT = 2000;  // slot 0 is the header
constexpr uint32_t LOG_TEXT_MAX = 56;      // record text bytes kept
constexpr uint32_t LOG_PATH_SIZE = 261;    // full path buffer, NUL included
constexpr char LOG_MAGIC[] = "QX/WOL LOG FILE ";  // 16 bytes, no NUL in the file

struct LogKindInfo {
  const char* file_name;
  const char* mutex_name;
};

// The file and mutex of a kind, or nullptr for a number outside the table.
const LogKindInfo* FindLogKind(uint32_t kind);

// The log directory, ending in the path separator; set once at start-up.
extern char szLogDir[LOG_PATH_SIZE];

// Appends one timestamped record to the log of a kind, or drops it silently.
// Returns 1 when the record was written, 0 otherwise; callers ignore it.
int WriteLog(const char* text, uint32_t kind);

// The ring update of one file, called while the kind's mutex is held.
// Returns 1 when the closing header write succeeded, else 0.
int WriteLogFile(const char* path, const char* timestamp, const char* text);

// Spaces, then CR LF in the last two bytes.
void MakeBlankLine(char* buffer, uint32_t length);
