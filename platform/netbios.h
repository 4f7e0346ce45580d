// The NetBIOS requests the agent makes to learn its adapters. Windows answers
// them through netapi32; Linux has no NetBIOS, so there the same requests are
// answered from the network interface list. Beside them, the adapters'
// addresses read directly, for PCs where NetBIOS has no answer.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// The fields of the Windows network control block that the agent uses.
struct Ncb {
  uint8_t command;
  uint8_t retcode;
  uint8_t lsn;
  uint8_t num;
  uint8_t* buffer;
  uint16_t length;
  char callname[16];
  uint8_t lana_num;
};

// Named apart from the platform's macros (NCBENUM, NRC_BUFLEN...), which
// would otherwise rewrite these names in the Windows implementation.
constexpr uint8_t kNcbReset = 0x32;     // NCBRESET
constexpr uint8_t kNcbAstat = 0x33;     // NCBASTAT
constexpr uint8_t kNcbEnum = 0x37;      // NCBENUM
constexpr uint8_t kNcbFindName = 0x78;  // NCBFINDNAME
constexpr uint8_t kNrcBufLen = 0x01;    // NRC_BUFLEN: reply buffer too small

constexpr uint32_t kLanaEnumSize = 256;         // LANA_ENUM: count, then numbers
constexpr uint32_t kFindNameHeaderSize = 4;     // FIND_NAME_HEADER
constexpr uint32_t kFindNameBufferSize = 33;    // one FIND_NAME_BUFFER
constexpr uint32_t kFindNameDestOffset = 3;     // destination_addr in FIND_NAME_BUFFER

// Issues one synchronous request; the result is also left in ncb->retcode.
uint8_t Netbios(Ncb* ncb);

// One IPv4 address of an adapter with its network mask, and the adapter's
// hardware address when it has one of six bytes.
struct AdapterAddress {
  uint32_t address;  // network byte order
  uint8_t mac[6];
  bool has_mac;
  uint32_t mask;     // network byte order; 0 when unknown
};

// Every IPv4 address of the adapters as they are at the call: the IP Helper
// API on Windows (one GetAdaptersInfo call for up to about twenty adapters),
// the interface list on Linux. The loopback is left out. False, with the
// table empty, when the list cannot be read.
bool ReadAdapterAddresses(std::vector<AdapterAddress>* table);

}  // namespace platform
