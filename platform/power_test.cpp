#include "platform/power.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(Power, ShutdownPrivilegeIsEnabled) {
  const platform::PrivilegeResult r = platform::EnableShutdownPrivilege();
  EXPECT_EQ(r.open_token, 0u);
  EXPECT_EQ(r.lookup, 0u);
  EXPECT_EQ(r.adjust, 0u);
}

#ifndef _WIN32
// The Linux power-off runs only what the settings name, so no test and no
// unconfigured agent can switch this machine off.
class PosixPowerOff : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("poweroff-" + std::to_string(rd()));
    fs::create_directories(dir_);
    conf_ = (dir_ / "agent.conf").string();
    setenv("ORVEL_AGENT_CONF", conf_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ORVEL_AGENT_CONF");
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Configure(const std::string& lines) { std::ofstream(conf_) << lines; }

  fs::path dir_;
  std::string conf_;
};

TEST_F(PosixPowerOff, RefusedWithoutACommand) {
  Configure("CountdownCmd=true 5\n");
  EXPECT_EQ(platform::RequestPowerOff(), static_cast<uint32_t>(ENOSYS));
  Configure("PowerOffCmd=\n");
  EXPECT_EQ(platform::RequestPowerOff(), static_cast<uint32_t>(ENOSYS));
}

TEST_F(PosixPowerOff, RunsTheConfiguredCommand) {
  const fs::path marker = dir_ / "powered-off";
  Configure("PowerOffCmd=touch \"" + marker.string() + "\"\n");
  EXPECT_EQ(platform::RequestPowerOff(), 0u);
  EXPECT_TRUE(fs::exists(marker));

  Configure("PowerOffCmd=sh -c \"exit 3\"\n");
  EXPECT_EQ(platform::RequestPowerOff(), 3u);
}
#endif

}  // namespace
