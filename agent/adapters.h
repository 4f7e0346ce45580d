// The PC's network adapters: which IPv4 address reaches which MAC address.
#pragma once

#include <cstdint>
#include <vector>

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
// adapter that owns local_address in the adapters' table, for PCs without
// NetBIOS over TCP/IP and addresses taken on after start-up. The table is
// read again when older than kAdapterTableLifeMs or without local_address.
// False when neither knows one, and at once for a loopback address
// (127.0.0.0/8), which no adapter with a hardware address owns.
bool FindReachedMac(uint32_t local_address, uint8_t mac[6]);

// The network mask of local_address (network byte order) from the same
// table, kept and read again as for FindReachedMac; 255.0.0.0 for a loopback
// address, the loopback network's, without asking. False when the table has
// no mask for the address.
bool FindLocalMask(uint32_t local_address, uint32_t* mask);

// How long the adapters' table is used after it was read: a flood of MAC
// requests reads it once a second, and an address that moved to another
// adapter is answered rightly within that time.
constexpr uint64_t kAdapterTableLifeMs = 1000;

// Releases every entry and empties the head.
void FreeList(AdapterEntry** head);

// platform::Netbios, platform::ReadAdapterAddresses and a monotonic clock in
// milliseconds by default; tests script the replies and the time through them.
extern uint8_t (*NetbiosCall)(platform::Ncb* ncb);
extern bool (*AdapterTableCall)(std::vector<platform::AdapterAddress>* table);
extern uint64_t (*AdapterClockMs)();

// The largest find-name reply buffer asked for: the request's length field
// holds no more, so a reply still too small then leaves the entry without
// an address.
constexpr uint32_t kFindNameBufferLimit = 0xFFFF;
