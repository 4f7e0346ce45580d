#include "countdown/countdown_rule.h"

#include <cstring>

namespace {

constexpr uint32_t kMaxSeconds = 9999;

// Space, tab and the quote are never the trail byte of a code page 932
// character, so the line is scanned byte by byte.
bool Blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

uint32_t CountdownSeconds(const char* command_line) {
  const char* p = command_line;
  if (*p == '"') {
    p = std::strchr(p + 1, '"');
    if (!p) return 0;
    ++p;
  } else {
    while (*p && !Blank(*p)) ++p;
  }
  const char* end = p + std::strlen(p);
  while (end > p && Blank(end[-1])) --end;
  const char* word = end;
  while (word > p && !Blank(word[-1])) --word;
  // A word glued to the program path is part of the path.
  if (word == end || word == p) return 0;
  uint32_t value = 0;
  for (const char* d = word; d < end; ++d) {
    if (*d < '0' || *d > '9') return 0;
    value = value * 10 + static_cast<uint32_t>(*d - '0');
    if (value > kMaxSeconds) return 0;  // before it could wrap
  }
  return value;
}

uint32_t SecondsLeft(uint32_t seconds, uint32_t elapsed_ms) {
  const uint32_t total_ms = seconds * 1000;
  return elapsed_ms >= total_ms ? 0 : (total_ms - elapsed_ms + 999) / 1000;
}
