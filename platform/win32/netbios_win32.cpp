#include "platform/netbios.h"

#include <windows.h>
#include <iphlpapi.h>
#include <nb30.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

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

bool AdapterMacByAddress(uint32_t address, uint8_t mac[6]) {
  // The list can grow between the call that sizes it and the one that reads it.
  std::vector<unsigned char> buffer(sizeof(IP_ADAPTER_INFO));
  ULONG size = static_cast<ULONG>(buffer.size());
  DWORD rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) return false;
  for (const auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); a; a = a->Next) {
    if (a->AddressLength != 6) continue;
    for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip; ip = ip->Next) {
      unsigned b[4];
      char end;
      if (std::sscanf(ip->IpAddress.String, "%3u.%3u.%3u.%3u%c", &b[0], &b[1], &b[2], &b[3],
                      &end) != 4 ||
          b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255) {
        continue;
      }
      const uint8_t owned[4] = {static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1]),
                                static_cast<uint8_t>(b[2]), static_cast<uint8_t>(b[3])};
      if (std::memcmp(owned, &address, 4) != 0) continue;
      std::memcpy(mac, a->Address, 6);
      return true;
    }
  }
  return false;
}

}  // namespace platform
