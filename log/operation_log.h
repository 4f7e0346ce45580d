// The operation log: eleven fixed Japanese messages, some with an address.
#pragma once

#include <cstdint>

enum : uint32_t {
  OPLOG_SCHEDULE_START = 0,
  OPLOG_SCHEDULE_END = 1,
  OPLOG_POWER_ON_SENT_OK = 2,
  OPLOG_POWER_ON_SENT_NG = 3,
  OPLOG_POWER_OFF_SENT_OK = 4,
  OPLOG_POWER_OFF_SENT_NG = 5,
  OPLOG_AGENT_START = 6,
  OPLOG_AGENT_END = 7,
  OPLOG_POWER_OFF_RECEIVED = 8,
  OPLOG_SHUTDOWN_START = 9,
  OPLOG_POWER_OFF_CANCELLED = 10,
};

constexpr uint32_t OPLOG_LINE_SIZE = 84;

// Formats message `number` into `line`, filling in the address (network byte
// order, as in sin_addr). Returns false for a number outside the catalogue.
bool FormatOperationLog(uint32_t number, uint32_t address, char (&line)[OPLOG_LINE_SIZE]);

// Writes one catalogue message to the log of `kind` through WriteLog. A number
// outside the catalogue writes nothing.
int WriteOperationLog(uint32_t number, uint32_t address, uint32_t kind);
