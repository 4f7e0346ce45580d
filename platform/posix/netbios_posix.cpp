// Linux has no NetBIOS. The four requests the agent makes are answered from
// the interface list instead: one LANA per IPv4 address of an interface that
// is up and not the loopback, numbered in the order getifaddrs lists them.
// The find-name reply carries that address where Windows puts it, the adapter
// status the interface's hardware address.
#include "platform/netbios.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr uint8_t kNrcIllCmd = 0x03;  // NRC_ILLCMD
constexpr uint8_t kNrcBridge = 0x23;  // NRC_BRIDGE: no such LANA
constexpr uint8_t kNrcSystem = 0x40;  // NRC_SYSTEM
constexpr uint32_t kAdapterStatusSize = 60;  // ADAPTER_STATUS
constexpr uint32_t kMaxLanas = 254;

struct Lana {
  std::string name;
  uint8_t address[4];
  uint8_t mask[4];
  uint8_t mac[6];
  bool has_mac;
};

// At most `limit` entries: the NetBIOS numbering has room for 254. `read`
// tells whether the list could be read at all.
std::vector<Lana> ListLanas(size_t limit = kMaxLanas, bool* read = nullptr) {
  std::vector<Lana> lanas;
  ifaddrs* list = nullptr;
  const bool listed = getifaddrs(&list) == 0;
  if (read) *read = listed;
  if (!listed) return lanas;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP)) continue;
    if (lanas.size() == limit) break;
    Lana l{i->ifa_name, {}, {}, {}, false};
    std::memcpy(l.address, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
    if (i->ifa_netmask && i->ifa_netmask->sa_family == AF_INET) {
      std::memcpy(l.mask, &reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr, 4);
    }
    lanas.push_back(l);
  }
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    if (ll->sll_halen != 6) continue;
    for (Lana& l : lanas) {
      if (l.name != i->ifa_name) continue;
      std::memcpy(l.mac, ll->sll_addr, 6);
      l.has_mac = true;
    }
  }
  freeifaddrs(list);
  return lanas;
}

uint8_t Answer(Ncb* ncb) {
  const std::vector<Lana> lanas = ListLanas();
  switch (ncb->command) {
    case kNcbEnum: {
      if (ncb->length < 1) return kNrcBufLen;
      const size_t room = ncb->length - 1u;
      const size_t count = lanas.size() < room ? lanas.size() : room;
      std::memset(ncb->buffer, 0, ncb->length);
      ncb->buffer[0] = static_cast<uint8_t>(count);
      for (size_t n = 0; n < count; ++n) ncb->buffer[1 + n] = static_cast<uint8_t>(n);
      return 0;
    }
    case kNcbReset:
      return ncb->lana_num < lanas.size() ? 0 : kNrcBridge;
    case kNcbFindName: {
      if (ncb->lana_num >= lanas.size()) return kNrcBridge;
      if (ncb->length < kFindNameHeaderSize + kFindNameBufferSize) return kNrcBufLen;
      std::memset(ncb->buffer, 0, ncb->length);
      ncb->buffer[0] = 1;  // node_count, little-endian
      // The last four bytes of the destination address hold the IPv4 address.
      std::memcpy(ncb->buffer + kFindNameHeaderSize + kFindNameDestOffset + 2,
                  lanas[ncb->lana_num].address, 4);
      return 0;
    }
    case kNcbAstat: {
      if (ncb->lana_num >= lanas.size()) return kNrcBridge;
      if (ncb->length < kAdapterStatusSize) return kNrcBufLen;
      if (!lanas[ncb->lana_num].has_mac) return kNrcSystem;
      std::memset(ncb->buffer, 0, ncb->length);
      std::memcpy(ncb->buffer, lanas[ncb->lana_num].mac, 6);
      return 0;
    }
    default:
      return kNrcIllCmd;
  }
}

}  // namespace

uint8_t Netbios(Ncb* ncb) {
  ncb->retcode = Answer(ncb);
  return ncb->retcode;
}

bool ReadAdapterAddresses(std::vector<AdapterAddress>* table) {
  table->clear();
  bool read = false;
  // Every address counts here, past the 254 that NetBIOS numbers too.
  for (const Lana& l : ListLanas(SIZE_MAX, &read)) {
    AdapterAddress a{0, {}, l.has_mac, 0};
    std::memcpy(&a.address, l.address, 4);
    std::memcpy(&a.mask, l.mask, 4);
    std::memcpy(a.mac, l.mac, 6);
    table->push_back(a);
  }
  return read;
}

}  // namespace platform
