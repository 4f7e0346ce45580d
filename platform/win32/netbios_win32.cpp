#include "platform/netbios.h"

#include <windows.h>
#include <nb30.h>

#include <cstring>

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

}  // namespace platform
