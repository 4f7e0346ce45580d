#include "agent/adapters.h"

#include <cstdlib>

#include "agent/agent_state.h"
#include "log/ring_log.h"

// Until the adapter enumeration lands the list stays empty, so every MAC
// request is answered with "no address known".
void BuildAdapterList() { AdapterList = nullptr; }

bool FindAdapterMac(uint32_t local_address, uint8_t mac[6]) {
  for (const AdapterEntry* e = AdapterList; e; e = e->next) {
    if (e->address != local_address) continue;
    if (!e->valid) return false;
    for (int i = 0; i < 6; ++i) mac[i] = e->mac[i];
    return true;
  }
  return false;
}

void FreeList(AdapterEntry** head) {
  WriteLog("FreeList OK", LOG_AGENT);
  AdapterEntry* e = *head;
  *head = nullptr;
  while (e) {
    AdapterEntry* next = e->next;
    std::free(e);
    e = next;
  }
}
