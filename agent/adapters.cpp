#include "agent/adapters.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "log/ring_log.h"

namespace {

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

uint8_t (*NetbiosCall)(platform::Ncb* ncb) = platform::Netbios;
bool (*AdapterTableCall)(std::vector<platform::AdapterAddress>* table) =
    platform::ReadAdapterAddresses;
uint64_t (*AdapterClockMs)() = SteadyMs;

namespace {

// The adapters' table of the last read, shared by the connection threads.
// Never destroyed: a thread that outlives the stop may still look in it.
struct AdapterTable {
  std::mutex lock;
  std::vector<platform::AdapterAddress> entries;  // empty after a failed read
  uint64_t read_at_ms = 0;
};

AdapterTable& Table() {
  static AdapterTable* table = new AdapterTable;
  return *table;
}

const platform::AdapterAddress* Owner(const AdapterTable& t, uint32_t address) {
  for (const platform::AdapterAddress& a : t.entries) {
    if (a.address == address) return &a;
  }
  return nullptr;
}

// The owner of the address in a table read at most kAdapterTableLifeMs ago
// and holding it, else in one read now.
bool TableOwner(uint32_t address, platform::AdapterAddress* owner) {
  AdapterTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  const uint64_t now = AdapterClockMs();
  const platform::AdapterAddress* found =
      now - t.read_at_ms < kAdapterTableLifeMs ? Owner(t, address) : nullptr;
  if (!found) {
    if (!AdapterTableCall(&t.entries)) t.entries.clear();
    t.read_at_ms = now;
    found = Owner(t, address);
  }
  if (!found) return false;
  *owner = *found;
  return true;
}

bool TableMac(uint32_t address, uint8_t mac[6]) {
  platform::AdapterAddress owner;
  if (!TableOwner(address, &owner) || !owner.has_mac) return false;
  std::memcpy(mac, owner.mac, 6);
  return true;
}

bool IsLoopback(uint32_t address) {
  uint8_t first;
  std::memcpy(&first, &address, 1);
  return first == 127;
}

constexpr int kResetAttempts = 5;
constexpr uint32_t kResetPauseMs = 1000;
constexpr uint32_t kAdapterStatusSize = 600;
// "*" and 15 spaces: the adapter's own names.
constexpr char kWildcardName[17] = "*               ";

void FreeEntries(AdapterEntry* e) {
  while (e) {
    AdapterEntry* next = e->next;
    std::free(e);
    e = next;
  }
}

bool ResetLana(platform::Ncb* ncb, uint8_t lana) {
  for (int attempt = 0; attempt < kResetAttempts; ++attempt) {
    std::memset(ncb, 0, sizeof *ncb);
    ncb->command = platform::kNcbReset;
    ncb->lana_num = lana;
    const uint8_t rc = NetbiosCall(ncb);
    if (rc == 0) return true;
    Trace("Error Netbios()_1 : Code = 0x%x, lana_num = %d", rc, lana);
    AgentSleep(kResetPauseMs);
  }
  return false;
}

// Issues the wildcard find-name on the reset request, growing the reply
// buffer by one name entry while it is too small. Returns the reply (the
// caller frees it) or nullptr after a failure, which is logged.
uint8_t* FindWildcardName(platform::Ncb* ncb) {
  std::memcpy(ncb->callname, kWildcardName, sizeof ncb->callname);
  ncb->command = platform::kNcbFindName;
  for (uint32_t size = platform::kFindNameHeaderSize + platform::kFindNameBufferSize;
       size <= kFindNameBufferLimit; size += platform::kFindNameBufferSize) {
    auto* reply = static_cast<uint8_t*>(std::calloc(1, size));
    if (!reply) {
      WriteLog("Error malloc()_2 : Memory Error", LOG_AGENT);
      return nullptr;
    }
    ncb->buffer = reply;
    ncb->length = static_cast<uint16_t>(size);
    const uint8_t rc = NetbiosCall(ncb);
    ncb->buffer = nullptr;
    if (rc == 0) return reply;
    std::free(reply);
    if (rc == platform::kNrcBufLen) {
      WriteLog("Error Netbios()_2 : NRC_BUFLEN", LOG_AGENT);
      continue;
    }
    Trace("Error Netbios()_2 : Code = %x", rc);
    return nullptr;
  }
  return nullptr;
}

void ReadAdapterStatus(platform::Ncb* ncb, AdapterEntry* e) {
  uint8_t status[kAdapterStatusSize] = {};
  ncb->command = platform::kNcbAstat;
  ncb->buffer = status;
  ncb->length = sizeof status;
  const uint8_t rc = NetbiosCall(ncb);
  ncb->buffer = nullptr;
  if (rc != 0) {
    e->valid = 0;
    Trace("Error GetMAC() : Code = %x", rc);
    return;
  }
  e->valid = 1;
  std::memcpy(e->mac, status, 6);
  Trace("Get MACAddress : Address = %02X%02X%02X%02X%02X%02X", e->mac[0], e->mac[1], e->mac[2],
        e->mac[3], e->mac[4], e->mac[5]);
}

}  // namespace

void BuildAdapterList() {
  // Built aside and published whole, so a reader never meets half an entry.
  FreeEntries(AdapterList);
  AdapterList = nullptr;
  AdapterEntry* head = nullptr;

  uint8_t lanas[platform::kLanaEnumSize] = {};
  platform::Ncb ncb = {};
  ncb.command = platform::kNcbEnum;
  ncb.buffer = lanas;
  ncb.length = sizeof lanas;
  NetbiosCall(&ncb);
  if (ncb.retcode != 0) {
    Trace("Error Netbios()_0 : Code = 0x%x", ncb.retcode);
    return;
  }

  // The count byte cannot name more numbers than the 256-byte reply holds.
  for (uint32_t n = 0; n < lanas[0]; ++n) {
    auto* e = static_cast<AdapterEntry*>(std::calloc(1, sizeof(AdapterEntry)));
    if (!e) {
      WriteLog("Error malloc()_1 : Memory Error", LOG_AGENT);
      continue;
    }
    e->lana = lanas[1 + n];
    e->next = head;
    head = e;
  }

  for (AdapterEntry* e = head; e; e = e->next) {
    if (!ResetLana(&ncb, e->lana)) continue;
    uint8_t* names = FindWildcardName(&ncb);
    if (!names) continue;
    // The last four bytes of the first name's destination address.
    std::memcpy(&e->address,
                names + platform::kFindNameHeaderSize + platform::kFindNameDestOffset + 2, 4);
    ReadAdapterStatus(&ncb, e);
    std::free(names);
  }
  AdapterList = head;
}

bool FindAdapterMac(uint32_t local_address, uint8_t mac[6]) {
  for (const AdapterEntry* e = AdapterList; e; e = e->next) {
    if (e->address != local_address) continue;
    if (!e->valid) return false;
    std::memcpy(mac, e->mac, 6);
    return true;
  }
  return false;
}

bool FindReachedMac(uint32_t local_address, uint8_t mac[6]) {
  if (FindAdapterMac(local_address, mac)) return true;
  if (IsLoopback(local_address)) return false;
  if (!TableMac(local_address, mac)) return false;
  // The line fits the 56 bytes of a record whatever the address.
  Trace("Get MACAddress by IP %x : Address = %02X%02X%02X%02X%02X%02X", local_address,
        mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return true;
}

bool FindLocalMask(uint32_t local_address, uint32_t* mask) {
  if (IsLoopback(local_address)) {
    const uint8_t loopback[4] = {255, 0, 0, 0};
    std::memcpy(mask, loopback, 4);
    return true;
  }
  platform::AdapterAddress owner;
  if (!TableOwner(local_address, &owner) || owner.mask == 0) return false;
  *mask = owner.mask;
  return true;
}

void FreeList(AdapterEntry** head) {
  WriteLog("FreeList OK", LOG_AGENT);
  AdapterEntry* e = *head;
  *head = nullptr;
  FreeEntries(e);
}
