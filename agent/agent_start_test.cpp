// Start-up and stop in one process. The stop sequence and a start-up that is
// still running must not overlap: the stop lets start-up finish first, and a
// start-up that comes after the stop does nothing.
#include "agent/agent_start.h"

#include <gtest/gtest.h>

#include "agent/agent_state.h"
#include "log/log_test_support.h"

namespace {

TEST(AgentLifecycle, StopDuringStartupWaitsForItAndLaterStartupDoesNothing) {
  logtest::ScratchLogDir dir;
  auto trace = [&] { return dir.Texts("QX_WOL_A.LOG"); };
  // Start-up in progress: it holds the lifecycle lock.
  std::unique_lock<std::mutex> startup(AgentLifecycleLock());
  std::thread stop(AgentStop);
  EXPECT_TRUE(logtest::WaitFor([] { return dwServiceStop == 1 && dwAgentEnd == 1; }))
      << "the stop flags are set at once";
  // The clean-up would write its first trace line within a millisecond or so.
  EXPECT_FALSE(logtest::WaitFor([&] { return !trace().empty(); }, 300))
      << "the stop sequence cleaned up during start-up";
  // Start-up clears dwServiceStop; the stop sequence must set it again.
  dwServiceStop = 0;
  startup.unlock();
  stop.join();
  EXPECT_EQ(dwServiceStop.load(), 1u);
  const std::vector<std::string> after_stop = trace();
  ASSERT_FALSE(after_stop.empty()) << "the stop sequence did not clean up";
  AgentStart();
  EXPECT_EQ(trace(), after_stop) << "start-up ran after the stop";
  EXPECT_EQ(dwServiceStop.load(), 1u);
  EXPECT_EQ(ThreadCnt.load(), 0);
}

// A thread alive for two pauses: the host hears of each of them.
TEST(AgentLifecycle, EachPauseOfTheStopWaitIsReported) {
  logtest::ScratchLogDir dir;
  static int reports;
  reports = 0;
  ThreadCnt = 1;
  AgentStopReporting([] {
    if (++reports == 2) ThreadCnt = 0;
  });
  EXPECT_EQ(reports, 2);
}

}  // namespace
