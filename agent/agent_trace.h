// One line of the agent trace log, formatted by the caller's own format.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "log/ring_log.h"

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void Trace(const char* format, ...) {
  // Longer than a record keeps; WriteLog cuts at 56 bytes anyway.
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  WriteLog(text, LOG_AGENT);
}
