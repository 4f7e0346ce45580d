#include "log/ring_reader.h"

#include <cstring>

#include "log/ring_log.h"

namespace {

constexpr size_t kMagicSize = sizeof(LOG_MAGIC) - 1;

bool ParseNextSlot(const std::string& bytes, size_t* slot) {
  if (bytes.compare(0, kMagicSize, LOG_MAGIC) != 0) return false;
  size_t n = 0;
  for (size_t i = kMagicSize; i < kMagicSize + 4; ++i) {
    const char c = bytes[i];
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  if (n < 1 || n >= LOG_SLOT_COUNT) return false;
  *slot = n;
  return true;
}

// The slot's content bytes without trailing spaces; line breaks that a
// foreign remnant may hold become spaces so that one record stays one line.
std::string SlotText(const std::string& bytes, size_t slot) {
  std::string text = bytes.substr(slot * LOG_LINE_SIZE, LOG_LINE_SIZE - 2);
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  const size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

bool ReadRingLog(const std::string& bytes, std::vector<std::string>* records, std::string* error) {
  records->clear();
  size_t next = 0;
  if (bytes.size() < 2 * LOG_LINE_SIZE || !ParseNextSlot(bytes, &next)) {
    *error = "not a ring log (no \"QX/WOL LOG FILE\" header with a slot number 0001-1999)";
    return false;
  }
  size_t slots = bytes.size() / LOG_LINE_SIZE;
  if (slots > LOG_SLOT_COUNT) slots = LOG_SLOT_COUNT;

  // The blank slot `next` sits between the newest record (before it) and the
  // oldest (after it).
  auto add = [&](size_t slot) {
    std::string text = SlotText(bytes, slot);
    if (!text.empty()) records->push_back(std::move(text));
  };
  for (size_t s = next + 1; s < slots; ++s) add(s);
  for (size_t s = 1; s < next && s < slots; ++s) add(s);
  return true;
}
