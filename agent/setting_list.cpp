#include "agent/setting_list.h"

#include <cstring>

#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "platform/settings.h"

namespace {

// Read far beyond any limit, so that a longer value is seen and refused
// rather than taken for an absent one (ReadSetting fails on both alike).
constexpr uint32_t kReadBytes = 1u << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ForEachListEntry(const char* text, size_t max_bytes,
                      const std::function<bool(const char*, const char*)>& take, char* first_bad,
                      size_t first_bad_size) {
  if (first_bad_size > 0) first_bad[0] = '\0';
  for (const char* field = text;; ++field) {
    const char* end = field + std::strcspn(field, ",");
    const char* b = field;
    const char* e = end;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    if (static_cast<size_t>(end - text) > max_bytes || !take(b, e)) {
      if (first_bad_size > 0) {
        const size_t n = static_cast<size_t>(e - b) < first_bad_size - 1
                             ? static_cast<size_t>(e - b)
                             : first_bad_size - 1;
        std::memcpy(first_bad, b, n);
        first_bad[n] = '\0';
      }
      return false;
    }
    if (*end == '\0') return true;
    field = end;
  }
}

bool ReadListSetting(const char* name, size_t max_bytes, std::vector<char>* value) {
  value->assign(kReadBytes, '\0');
  const platform::SettingRead read =
      platform::ReadSettingChecked(AGENT_KEY, name, value->data(), kReadBytes);
  if (read == platform::SettingRead::kTooLong) {
    Trace("Error %s : over %u bytes", name, static_cast<unsigned>(max_bytes));
    return false;
  }
  if (read == platform::SettingRead::kMissing) (*value)[0] = '\0';
  return true;
}
