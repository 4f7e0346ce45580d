#include "platform/netbios.h"

#include <windows.h>
#include <iphlpapi.h>
#include <nb30.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// "A.B.C.D" as GetAdaptersInfo writes it, to four bytes in network order.
bool ParseDotted(const char* text, uint32_t* address) {
  unsigned b[4];
  char end;
  if (std::sscanf(text, "%3u.%3u.%3u.%3u%c", &b[0], &b[1], &b[2], &b[3], &end) != 4 ||
      b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255) {
    return false;
  }
  const uint8_t bytes[4] = {static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1]),
                            static_cast<uint8_t>(b[2]), static_cast<uint8_t>(b[3])};
  std::memcpy(address, bytes, 4);
  return true;
}

}  // namespace

uint8_t Netbios(Ncb* n) {
  NCB ncb;
  ZeroMemory(&ncb, sizeof ncb);
  ncb.ncb_command = n->command;
  ncb.ncb_retcode = n->retcode;
  ncb.ncb_lsn = n->lsn;
  ncb.ncb_num = n->num;
  ncb.ncb_buffer = n->buffer;
  ncb.ncb_length = n->length;
  std::memcpy(ncb.ncb_callname, n->callname, sizeof ncb.ncb_callname);
  ncb.ncb_lana_num = n->lana_num;
  const UCHAR rc = ::Netbios(&ncb);
  n->retcode = ncb.ncb_retcode;
  n->lsn = ncb.ncb_lsn;
  n->num = ncb.ncb_num;
  n->length = ncb.ncb_length;
  std::memcpy(n->callname, ncb.ncb_callname, sizeof n->callname);
  return rc;
}

bool ReadAdapterAddresses(std::vector<AdapterAddress>* table) {
  table->clear();
  // Room for about twenty adapters at the first call, which would otherwise
  // only size the buffer (a call costs milliseconds under Wine). The list can
  // grow between a call that sizes it and the one that reads it.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = static_cast<ULONG>(buffer.size());
  DWORD rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  // No adapter at all is an empty list, not a failure.
  if (rc == ERROR_NO_DATA) return true;
  if (rc != NO_ERROR) return false;
  for (const auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); a; a = a->Next) {
    for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip; ip = ip->Next) {
      AdapterAddress entry{0, {}, a->AddressLength == 6, 0};
      if (!ParseDotted(ip->IpAddress.String, &entry.address)) continue;
      // A mask that does not read stays 0: unknown, as the relay then says.
      if (!ParseDotted(ip->IpMask.String, &entry.mask)) entry.mask = 0;
      // 0.0.0.0 stands for an adapter without an address.
      if (entry.address == 0) continue;
      if (entry.has_mac) std::memcpy(entry.mac, a->Address, 6);
      table->push_back(entry);
    }
  }
  return true;
}

}  // namespace platform
