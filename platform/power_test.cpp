#include "platform/power.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>

namespace {

#ifdef _WIN32
TEST(Power, ShutdownPrivilegeIsEnabled) {
  const platform::PrivilegeResult r = platform::EnableShutdownPrivilege();
  EXPECT_EQ(r.open_token, 0u);
  EXPECT_EQ(r.lookup, 0u);
  EXPECT_EQ(r.adjust, 0u);
}
#else
// The Linux power-off runs only what the settings name, so no test and no
// unconfigured agent can switch this machine off.
TEST(Power, LinuxRunsOnlyTheConfiguredCommand) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("poweroff-" + std::to_string(std::random_device()()));
  fs::create_directories(dir);
  const std::string conf = (dir / "agent.conf").string(), marker = (dir / "off").string();
  setenv("ORVEL_AGENT_CONF", conf.c_str(), 1);
  const std::pair<std::string, uint32_t> cases[] = {
      {"CountdownCmd=true 5\n", ENOSYS}, {"PowerOffCmd=\n", ENOSYS},
      {"PowerOffCmd=sh -c \"exit 3\"\n", 3}, {"PowerOffCmd=touch \"" + marker + "\"\n", 0}};
  for (const auto& [lines, result] : cases) {
    std::ofstream(conf) << lines;
    EXPECT_EQ(platform::RequestPowerOff(), result) << lines;
  }
  EXPECT_TRUE(fs::exists(marker));
  unsetenv("ORVEL_AGENT_CONF");
  fs::remove_all(dir);
}
#endif

}  // namespace
