// The PC's network adapters: which IPv4 address reaches which MAC address.
#pragma once

#include <cstdint>

struct AdapterEntry {
  uint8_t lana;          // adapter number as enumerated
  uint32_t address;      // IPv4 address, network byte order; 0 when unknown
  uint8_t mac[6];        // transmission order; zero when unknown
  uint32_t valid;        // 1 when mac was read
  AdapterEntry* next;
};

// Fills AdapterList; called once at start-up before the listener starts.
void BuildAdapterList();

// The MAC of the first entry whose address is local_address (network byte
// order). False when that entry is not valid or no entry matches.
bool FindAdapterMac(uint32_t local_address, uint8_t mac[6]);

// Releases every entry and empties the head.
void FreeList(AdapterEntry** head);
