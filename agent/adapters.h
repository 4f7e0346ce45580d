// The PC's network adapters: which IPv4 address reaches which MAC address.
#pragma once

#include <cstdint>

#include "platform/netbios.h"

struct AdapterEntry {
  uint8_t lana;          // adapter number as enumerated
  uint32_t address;      // IPv4 address, network byte order; 0 when unknown
  uint8_t mac[6];        // transmission order; zero when unknown
  uint32_t valid;        // 1 when mac was read
  AdapterEntry* next;
};

// Fills AdapterList from the NetBIOS adapters (the interface list on Linux);
// called once at start-up before the listener starts.
void BuildAdapterList();

// The MAC of the first entry whose address is local_address (network byte
// order). False when that entry is not valid or no entry matches.
bool FindAdapterMac(uint32_t local_address, uint8_t mac[6]);

// The MAC a MAC request answers with: FindAdapterMac's, else that of the
// adapter that owns local_address now, for PCs without NetBIOS over TCP/IP
// and addresses taken on after start-up. False when neither knows one.
bool FindReachedMac(uint32_t local_address, uint8_t mac[6]);

// Releases every entry and empties the head.
void FreeList(AdapterEntry** head);

// platform::Netbios and platform::AdapterMacByAddress by default; tests
// script the replies through them.
extern uint8_t (*NetbiosCall)(platform::Ncb* ncb);
extern bool (*AdapterMacCall)(uint32_t address, uint8_t mac[6]);

// The largest find-name reply buffer asked for: the request's length field
// holds no more, so a reply still too small then leaves the entry without
// an address.
constexpr uint32_t kFindNameBufferLimit = 0xFFFF;
