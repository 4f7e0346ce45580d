// Start-up and stop in one process. The stop sequence and a start-up that is
// still running must not overlap: the stop lets start-up finish first, and a
// start-up that comes after the stop does nothing.
#include "agent/agent_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_state.h"
#include "log/log_test_support.h"
#include "log/ring_log.h"

namespace {

namespace fs = std::filesystem;

using logtest::LogTexts;

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  for (const std::string& x : v) {
    if (x == s) return true;
  }
  return false;
}

TEST(AgentLifecycle, StopDuringStartupWaitsForItAndLaterStartupDoesNothing) {
  const fs::path dir = fs::temp_directory_path() /
                       ("agent_start_test_" + std::to_string(std::chrono::steady_clock::now()
                                                                 .time_since_epoch()
                                                                 .count()));
  fs::create_directories(dir);
  std::snprintf(szLogDir, sizeof szLogDir, "%s%c", dir.string().c_str(),
                static_cast<char>(fs::path::preferred_separator));
  const fs::path trace = dir / "QX_WOL_A.LOG";

  // Start-up in progress: it holds the lifecycle lock.
  std::unique_lock<std::mutex> startup(AgentLifecycleLock());
  std::thread stop(AgentStop);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(dwServiceStop.load(), 1u);  // the flags are set at once
  EXPECT_EQ(dwAgentEnd.load(), 1u);
  EXPECT_TRUE(LogTexts(trace).empty()) << "the stop sequence cleaned up during start-up";

  // Start-up clears dwServiceStop; the stop sequence must set it again.
  dwServiceStop = 0;
  startup.unlock();
  stop.join();
  EXPECT_EQ(dwServiceStop.load(), 1u);
  const std::vector<std::string> after_stop = LogTexts(trace);
  ASSERT_FALSE(after_stop.empty());
  EXPECT_EQ(after_stop.front(), " ThreadCnt = 0");
  EXPECT_TRUE(Contains(after_stop, "FreeList OK"));
  EXPECT_EQ(after_stop.back(), "ORVEL/TAV Agent End");
  EXPECT_EQ(LogTexts(dir / "TAVANLOG.TXT"), std::vector<std::string>{"エージェント終了"});

  AgentStart();
  EXPECT_EQ(LogTexts(trace), after_stop) << "start-up ran after the stop";
  EXPECT_EQ(dwServiceStop.load(), 1u);
  EXPECT_EQ(ThreadCnt.load(), 0);

  fs::remove_all(dir);
}

}  // namespace
