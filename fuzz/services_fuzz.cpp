// LookupServicePort over any Linux services file ($ORVEL_SERVICES_FILE): an
// entry found names the service and has a port other than 0, written as it is
// read (no sign, no wrap-around).
#include <arpa/inet.h>

#include "fuzz/fuzz_support.h"
#include "platform/socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool env =
      setenv("ORVEL_SERVICES_FILE", ScratchPath("services").c_str(), 1) == 0;
  FUZZ_CHECK(env);
  WriteScratch("services", data, size);
  uint16_t port = 0;
  if (platform::LookupServicePort("QX_WOL_AGT", "tcp", &port)) {
    FUZZ_CHECK(port != 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(text.find("QX_WOL_AGT") != std::string::npos);
    FUZZ_CHECK(text.find(std::to_string(ntohs(port)) + "/tcp") != std::string::npos);
  }
  return 0;
}
