#include "platform/power.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

namespace {

#ifdef _WIN32
TEST(Power, ShutdownPrivilegeIsEnabled) {
  const platform::PrivilegeResult r = platform::EnableShutdownPrivilege();
  EXPECT_EQ(std::make_tuple(r.open_token, r.lookup, r.adjust), std::make_tuple(0u, 0u, 0u));
}
#else
// The Linux power-off runs only what the settings name, so no test and no
// unconfigured agent can switch this machine off.
TEST(Power, LinuxRunsOnlyTheConfiguredCommand) {
  const std::string conf = ::testing::TempDir() + "power_test.conf",
                    marker = ::testing::TempDir() + "power_test.off";
  std::remove(marker.c_str());
  setenv("ORVEL_AGENT_CONF", conf.c_str(), 1);
  const std::pair<std::string, uint32_t> cases[] = {
      {"CountdownCmd=true 5\n", ENOSYS}, {"PowerOffCmd=\n", ENOSYS},
      {"PowerOffCmd=sh -c \"exit 3\"\n", 3}, {"PowerOffCmd=touch \"" + marker + "\"\n", 0}};
  for (const auto& [lines, result] : cases) {
    std::ofstream(conf) << lines;
    EXPECT_EQ(platform::RequestPowerOff(), result) << lines;
  }
  EXPECT_EQ(std::remove(marker.c_str()), 0) << "the configured command did not run";
  std::remove(conf.c_str());
  unsetenv("ORVEL_AGENT_CONF");
}
#endif

}  // namespace
