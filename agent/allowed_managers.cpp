#include "agent/allowed_managers.h"

#include <cstring>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "platform/settings.h"

namespace {

// Read far beyond the limit, so that a longer value is seen and refused
// rather than taken for an absent one (ReadSetting fails on both alike).
constexpr uint32_t kReadBytes = 1u << 20;

// Written by start-up before the first accept thread starts, then only read.
AllowedList g_allowed;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Decimal 0..limit, 1 to 3 digits, no leading zero; advances *p.
bool ParseNumber(const char** p, const char* end, unsigned limit, unsigned* value) {
  const char* s = *p;
  unsigned v = 0;
  int digits = 0;
  while (s < end && *s >= '0' && *s <= '9' && digits < 4) {
    v = v * 10 + static_cast<unsigned>(*s - '0');
    ++s;
    ++digits;
  }
  if (digits == 0 || digits > 3 || v > limit || (digits > 1 && **p == '0')) return false;
  *p = s;
  *value = v;
  return true;
}

// "a.b.c.d" or "a.b.c.d/n", exactly [begin, end).
bool ParseEntry(const char* begin, const char* end, ManagerNetwork* entry) {
  const char* p = begin;
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    unsigned part = 0;
    if (i > 0 && (p == end || *p++ != '.')) return false;
    if (!ParseNumber(&p, end, 255, &part)) return false;
    bytes[i] = static_cast<uint8_t>(part);
  }
  unsigned prefix = 32;
  if (p != end && *p == '/') {
    ++p;
    if (!ParseNumber(&p, end, 32, &prefix)) return false;
  }
  if (p != end) return false;
  // Built byte by byte, so both words are in network byte order on any host.
  uint8_t mask[4];
  for (unsigned i = 0; i < 4; ++i) {
    const unsigned bits = prefix > i * 8 ? prefix - i * 8 : 0;
    mask[i] = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF00u >> bits);
    bytes[i] &= mask[i];
  }
  std::memcpy(&entry->network, bytes, 4);
  std::memcpy(&entry->mask, mask, 4);
  return true;
}

}  // namespace

bool ParseAllowedManagers(const char* text, AllowedList* out, char* first_bad,
                          size_t first_bad_size) {
  out->restricted = *text != '\0';
  out->count = 0;
  if (first_bad_size > 0) first_bad[0] = '\0';
  if (!out->restricted) return true;
  for (const char* field = text;; ++field) {
    const char* end = field + std::strcspn(field, ",");
    const char* b = field;
    const char* e = end;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    ManagerNetwork entry;
    // Past the limit the entry is refused even when it reads well: a value
    // cut short would be a different list.
    if (static_cast<size_t>(end - text) > kAllowedManagersMaxBytes || !ParseEntry(b, e, &entry)) {
      if (first_bad_size > 0) {
        const size_t n = static_cast<size_t>(e - b) < first_bad_size - 1
                             ? static_cast<size_t>(e - b)
                             : first_bad_size - 1;
        std::memcpy(first_bad, b, n);
        first_bad[n] = '\0';
      }
      out->count = 0;
      return false;
    }
    // Cannot overflow: the byte limit bounds the number of entries.
    out->entries[out->count++] = entry;
    if (*end == '\0') return true;
    field = end;
  }
}

bool ListAllows(const AllowedList& list, uint32_t address_network_order) {
  if (!list.restricted) return true;
  for (int i = 0; i < list.count; ++i) {
    const ManagerNetwork& n = list.entries[i];
    if ((address_network_order & n.mask) == n.network) return true;
  }
  return false;
}

void LoadAllowedManagers() {
  std::vector<char> value(kReadBytes);
  const platform::SettingRead read =
      platform::ReadSettingChecked(AGENT_KEY, "AllowedManagers", value.data(), kReadBytes);
  // Even a value too long to read at all refuses everyone, rather than
  // passing for an absent one.
  if (read == platform::SettingRead::kTooLong) {
    g_allowed = AllowedList{};
    g_allowed.restricted = true;
    Trace("Error AllowedManagers : over %u bytes", static_cast<unsigned>(kAllowedManagersMaxBytes));
    return;
  }
  if (read == platform::SettingRead::kMissing) value[0] = '\0';
  char bad[32];
  if (!ParseAllowedManagers(value.data(), &g_allowed, bad, sizeof bad)) {
    Trace("Error AllowedManagers : \"%s\"", bad);
  }
}

bool ManagerAllowed(uint32_t peer_address_network_order) {
  return ListAllows(g_allowed, peer_address_network_order);
}
