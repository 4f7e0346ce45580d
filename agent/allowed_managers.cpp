#include "agent/allowed_managers.h"

#include <cstring>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/setting_list.h"

namespace {

// Written by start-up before the first accept thread starts, then only read.
AllowedList g_allowed;

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
  // Cannot overflow: the byte limit bounds the number of entries.
  const auto take = [out](const char* b, const char* e) {
    return ParseEntry(b, e, &out->entries[out->count]) && ++out->count > 0;
  };
  if (ForEachListEntry(text, kAllowedManagersMaxBytes, take, first_bad, first_bad_size)) return true;
  out->count = 0;
  return false;
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
  std::vector<char> value;
  // Even a value too long to read at all refuses everyone.
  if (!ReadListSetting("AllowedManagers", kAllowedManagersMaxBytes, &value)) {
    g_allowed = AllowedList{};
    g_allowed.restricted = true;
    return;
  }
  char bad[32];
  if (!ParseAllowedManagers(value.data(), &g_allowed, bad, sizeof bad)) {
    Trace("Error AllowedManagers : \"%s\"", bad);
  }
}

bool ManagerAllowed(uint32_t peer_address_network_order) {
  return ListAllows(g_allowed, peer_address_network_order);
}
