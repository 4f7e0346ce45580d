#include "platform/power.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "log/log_test_support.h"
#include "platform/process.h"

namespace {

#ifdef _WIN32
TEST(Power, ShutdownPrivilegeIsEnabled) {
  const platform::PrivilegeResult r = platform::EnableShutdownPrivilege();
  EXPECT_EQ(std::make_tuple(r.open_token, r.lookup, r.adjust), std::make_tuple(0u, 0u, 0u));
}
#else
// The children of this process, zombies included.
int Children() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(e.path() / "stat");
    std::string pid, name, state;
    long ppid = 0;
    if (stat >> pid >> name >> state >> ppid && ppid == getpid()) ++n;
  }
  return n;
}

// The Linux power-off runs only what the settings name, so no test and no
// unconfigured agent can switch this machine off. It starts the command and
// never waits for it; the outcome is looked at later, and every command is
// reaped, also one that a later request replaced while it ran.
TEST(Power, LinuxRunsOnlyTheConfiguredCommand) {
  const std::string conf = ::testing::TempDir() + "power_test.conf",
                    marker = ::testing::TempDir() + "power_test.off";
  std::remove(marker.c_str());
  setenv("ORVEL_AGENT_CONF", conf.c_str(), 1);
  const std::tuple<std::string, uint32_t, uint32_t> cases[] = {
      {"CountdownCmd=true 5\n", ENOSYS, 0}, {"PowerOffCmd=\n", ENOSYS, 0},
      {"PowerOffCmd=sh -c \"exit 3\"\n", 0, 3}, {"PowerOffCmd=touch \"" + marker + "\"\n", 0, 0},
      {"PowerOffCmd=sleep 2\n", 0, platform::kStillActive}, {"PowerOffCmd=true\n", 0, 0}};
  for (const auto& [lines, result, outcome] : cases) {
    std::ofstream(conf) << lines;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::RequestPowerOff(), result) << lines;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << lines;
    uint32_t now = platform::PowerOffOutcome();
    if (outcome != platform::kStillActive) {
      logtest::WaitFor([&] {
        return now != platform::kStillActive ||
               (now = platform::PowerOffOutcome()) != platform::kStillActive;
      });
    }
    EXPECT_EQ(now, outcome) << lines;
  }
  EXPECT_EQ(platform::PowerOffOutcome(), 0u);
  EXPECT_EQ(std::remove(marker.c_str()), 0) << "the configured command did not run";
  EXPECT_TRUE(logtest::WaitFor([] { return Children() == 0; })) << "a zombie is left";
  std::remove(conf.c_str());
  unsetenv("ORVEL_AGENT_CONF");
}
#endif

}  // namespace
