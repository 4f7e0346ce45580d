// LookupServicePort over any Linux services file ($ORVEL_SERVICES_FILE): an
// entry found names the service and has a port other than 0.
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
    FUZZ_CHECK(std::string(reinterpret_cast<const char*>(data), size).find("QX_WOL_AGT") !=
               std::string::npos);
  }
  return 0;
}
