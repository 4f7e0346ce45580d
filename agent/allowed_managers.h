// The managers the agent serves: the AllowedManagers setting, IPv4 addresses
// and networks (a.b.c.d or a.b.c.d/n) separated by commas. Without the value,
// or with it empty, every manager is served; a value that cannot be parsed
// refuses every manager, so that a typing error fails closed.
#pragma once

#include <cstddef>
#include <cstdint>

// The value's length limit, without its NUL.
constexpr size_t kAllowedManagersMaxBytes = 1023;
// The most entries that fit: "1.2.3.4," is 8 bytes.
constexpr int kAllowedManagersMaxEntries = (kAllowedManagersMaxBytes + 1) / 8;

// Network and mask in network byte order, the network already masked.
struct ManagerNetwork {
  uint32_t network;
  uint32_t mask;
};

struct AllowedList {
  bool restricted = false;  // false: everyone is served
  int count = 0;
  ManagerNetwork entries[kAllowedManagersMaxEntries];
};

// Parses the setting's text; no I/O. Entries may have spaces or tabs around
// them; an empty entry, a part of more than three digits, above 255 or with a
// leading zero, a prefix beyond 32, or an entry that does not end within the
// first kAllowedManagersMaxBytes bytes is bad. On a bad entry returns false,
// leaves *out restricted and empty, and copies the entry as written (spaces
// trimmed) into first_bad, cut to first_bad_size with its NUL.
bool ParseAllowedManagers(const char* text, AllowedList* out, char* first_bad,
                          size_t first_bad_size);

// True when the list is not restricted or an entry holds the address.
bool ListAllows(const AllowedList& list, uint32_t address_network_order);

// Reads AllowedManagers from the agent key once at start-up; a bad value is
// traced as "Error AllowedManagers : "ENTRY"".
void LoadAllowedManagers();

// The loaded list's verdict on a peer's address (network byte order).
bool ManagerAllowed(uint32_t peer_address_network_order);
