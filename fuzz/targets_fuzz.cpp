// pwrctl's target parser on any target file: every list it accepts is sorted,
// without duplicates and within the host limit; a refusal names a target.
// Its wake rows each carry a MAC.
#include "fuzz/fuzz_support.h"
#include "pwrctl/targets.h"
#include "pwrctl/wake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Names resolve without DNS: "pc" only, to a fixed address.
  const HostResolver resolve = [](const std::string& name, uint32_t* address) {
    *address = 0x0A000001u;
    return name == "pc";
  };
  // The same file as a wake list: every row's MAC reads, and an address
  // stands before it only where the line did not start with a MAC.
  for (const WakeRow& row : WakeFileRows(text)) {
    uint8_t mac[6];
    FUZZ_CHECK(ParseMac(row.mac, mac) && (row.address.empty() || !ParseMac(row.address, mac)));
  }
  std::vector<TargetHost> hosts;
  std::string error;
  if (!ParseTargets(TargetFileLines(text), resolve, &hosts, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(hosts.size() <= kMaxTargetHosts);
  for (size_t i = 1; i < hosts.size(); ++i) FUZZ_CHECK(hosts[i - 1] < hosts[i]);
  // Each host, written as a saved table writes it, reads back as itself.
  for (size_t i = 0; i < hosts.size() && i < 256; ++i) {
    const TargetHost& host = hosts[i];
    std::vector<TargetHost> again;
    const std::string text =
        FormatIpv4(host.address) + (host.port ? ":" + std::to_string(host.port) : "");
    FUZZ_CHECK(ParseTargets({text}, resolve, &again, &error) && again.size() == 1 &&
               again[0] == host);
  }
  return 0;
}
