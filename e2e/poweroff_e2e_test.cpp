// The power-off end to end: PWRAGENT.exe as a real service under Wine in a
// prefix of its own, sent OFF over loopback, with the countdown fixture as
// its countdown program. Under Wine, ExitWindowsEx ends the processes of
// this prefix only, so the scenarios that power off restart the prefix.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "e2e/agent_peer.h"
#include "e2e/harness.h"
#include "log/operation_log.h"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

const std::string kSource = ORVEL_SOURCE_DIR;
const char kFixture[] = "C:\\ORVEL\\countdown_fixture.exe";
const char kStartsFile[] = "C:\\ORVEL\\LOG\\starts.txt";

class PowerOffUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new e2e::WinePrefix(kSource, kSource + "/build/wine/poweroff-e2e", "");
    ASSERT_TRUE(prefix_->Create());
    ASSERT_TRUE(prefix_->Start());
    ASSERT_TRUE(InstallAgentService(*prefix_, kSource, {"PWRAGENT.exe", "countdown_fixture.exe"},
                                    &site_));
  }

  static void TearDownTestSuite() {
    if (prefix_) prefix_->Stop();
    delete prefix_;
    prefix_ = nullptr;
  }

  static e2e::RunResult Wine(const std::vector<std::string>& args, int timeout_ms = 60000) {
    return prefix_->Wine(args, timeout_ms);
  }

  // nullptr: no countdown program.
  static void SetCountdown(const std::string* command_line) {
    if (command_line) {
      ASSERT_EQ(Wine({"reg", "add", kAgentKey, "/v", "CountdownCmd", "/t", "REG_SZ", "/d",
                      *command_line, "/f"}).exit_code, 0);
    } else {
      Wine({"reg", "delete", kAgentKey, "/v", "CountdownCmd", "/f"});
    }
  }

  static std::string State() { return AgentServiceState(*prefix_); }

  void StartAgent(const std::string* countdown) {
    for (const char* f : {"QX_WOL_A.LOG", "TAVANLOG.TXT", "starts.txt"}) fs::remove(site_.log_dir / f);
    SetCountdown(countdown);
    ASSERT_EQ(State(), "STOPPED");
    ASSERT_TRUE(StartAgentService(*prefix_, site_.port)) << "the agent does not listen";
  }

  // The agent ends through the stop control; the caller has closed its
  // connections, or the stop waits for them.
  void StopAgent() {
    StopAgentService(*prefix_);
    EXPECT_EQ(State(), "STOPPED");
  }

  // Whether a process of this prefix runs the agent program.
  static bool AgentProcessAlive() {
    const std::string want = "WINEPREFIX=" + prefix_->dir();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream env(entry.path() / "environ", std::ios::binary);
      std::string e((std::istreambuf_iterator<char>(env)), std::istreambuf_iterator<char>());
      if (e.find(want + '\0') == std::string::npos) continue;
      std::ifstream cmd(entry.path() / "cmdline", std::ios::binary);
      std::string c((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
      if (c.find("PWRAGENT.exe") != std::string::npos) return true;
    }
    return false;
  }

  // After a power-off: the prefix's processes are gone; start it afresh.
  static void RestartPrefix() {
    prefix_->Stop();
    ASSERT_TRUE(prefix_->Start());
  }

  static Texts Trace() { return LogTexts(site_.trace()); }
  static Texts OpLogTexts() { return LogTexts(site_.oplog()); }

  static e2e::WinePrefix* prefix_;
  static AgentSite site_;
};

e2e::WinePrefix* PowerOffUnderWine::prefix_ = nullptr;
AgentSite PowerOffUnderWine::site_;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST_F(PowerOffUnderWine, CancelledCountdownKeepsServingTheConnection) {
  const std::string countdown = std::string(kFixture) + " 1 3 10";
  StartAgent(&countdown);
  Manager m(site_.port);
  ASSERT_TRUE(m.connected());
  const auto off_at = Clock::now();
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_LT(SecondsSince(off_at), 2.0);  // acknowledged before the countdown
  // The same thread reads the next request once the countdown has cancelled.
  EXPECT_EQ(m.Ask(Request(CMD_MAC), AGENT_MESSAGE_SIZE, 30000), NoMacReply());
  EXPECT_GE(SecondsSince(off_at), 3.0);
  m.Close();

  const Texts trace = Trace();
  EXPECT_EQ(Count(trace, "CountDown finished"), 1u);
  EXPECT_EQ(Count(trace, "CountDown() finished : Code = 0"), 1u);
  EXPECT_EQ(Count(trace, "System Shutdown : Code = 0"), 0u);
  EXPECT_EQ(Count(trace, "ExitWindowsEx call."), 0u);
  EXPECT_EQ(OpLogTexts(), Texts({OpLog(OPLOG_AGENT_START), OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback),
                                 OpLog(OPLOG_POWER_OFF_CANCELLED)}));
  StopAgent();
}

TEST_F(PowerOffUnderWine, SecondOffWhileACountdownRunsIsAnsweredButNotRun) {
  const std::string countdown = std::string(kFixture) + " 1 5 " + kStartsFile + " 10";
  StartAgent(&countdown);
  Manager first(site_.port), second(site_.port);
  ASSERT_TRUE(first.connected() && second.connected());
  EXPECT_EQ(first.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_EQ(second.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(site_.WaitForTrace("CountDown finished", 30000));
  first.Close();
  second.Close();

  const Texts trace = Trace();
  EXPECT_EQ(CountPrefix(trace, "Error WaitForSingleObject() : Code = "), 1u);
  EXPECT_EQ(Count(trace, "CountDown finished"), 1u);
  const Texts oplog = OpLogTexts();
  EXPECT_EQ(Count(oplog, OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback)), 2u);
  EXPECT_EQ(Count(oplog, OpLog(OPLOG_POWER_OFF_CANCELLED)), 1u);
  std::ifstream starts(site_.log_dir / "starts.txt");
  std::string line;
  int countdowns = 0;
  while (std::getline(starts, line)) ++countdowns;
  EXPECT_EQ(countdowns, 1);
  StopAgent();
}

// The stop does not end the countdown's poll; the countdown then consents,
// but the stopping service asks for no power-off.
TEST_F(PowerOffUnderWine, StopDuringTheCountdownRequestsNoPowerOff) {
  const std::string countdown = std::string(kFixture) + " 0 5 10";
  StartAgent(&countdown);
  Manager m(site_.port);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  ASSERT_TRUE(site_.WaitForTrace("Response Data Send : IPaddress 100007f", 5000));
  std::thread stop([this] { StopAgent(); });
  EXPECT_TRUE(site_.WaitForTrace("CountDown finished", 30000));
  m.Close();  // lets the connection thread end, and with it the stop's wait
  stop.join();

  const Texts trace = Trace();
  EXPECT_TRUE(InOrder(trace, {"System Shutdown : Code = 0", "ExitWindowsEx call loop fin.",
                              "CountDown finished", "CountDown() finished : Code = 0",
                              "ORVEL/TAV Agent End"}));
  EXPECT_EQ(Count(trace, "ExitWindowsEx call."), 0u);
  EXPECT_EQ(Count(OpLogTexts(), OpLog(OPLOG_SHUTDOWN_START)), 1u);
  EXPECT_EQ(trace.back(), "ORVEL/TAV Agent End");
}

TEST_F(PowerOffUnderWine, CountdownExitingZeroPowersOff) {
  const std::string countdown = std::string(kFixture) + " 0 2 10";
  StartAgent(&countdown);
  Manager m(site_.port);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(site_.WaitForTrace("ExitWindowsEx call.", 30000));
  const auto start = Clock::now();
  while (AgentProcessAlive() && SecondsSince(start) < 20) SleepMs(100);
  EXPECT_FALSE(AgentProcessAlive());
  const Texts trace = Trace();
  EXPECT_EQ(Count(trace, "System Shutdown : Code = 0"), 1u);
  EXPECT_EQ(Count(trace, "CountDown finished"), 0u);  // the process ended in the loop
  EXPECT_EQ(Count(OpLogTexts(), OpLog(OPLOG_SHUTDOWN_START)), 1u);
  RestartPrefix();
}

TEST_F(PowerOffUnderWine, OffWithoutCountdownPowersOffAtOnce) {
  StartAgent(nullptr);
  Manager m(site_.port);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.Ask(Request(CMD_OFF), AGENT_MESSAGE_SIZE), OffReply());
  EXPECT_TRUE(site_.WaitForTrace("ExitWindowsEx call.", 10000));
  const auto start = Clock::now();
  while (AgentProcessAlive() && SecondsSince(start) < 20) SleepMs(100);
  EXPECT_FALSE(AgentProcessAlive());
  const Texts trace = Trace();
  EXPECT_TRUE(InOrder(trace, {"OFF Command Received : IPaddress 100007f",
                              "Response Data Send : IPaddress 100007f", "System Shutdown : Code = 0",
                              "ExitWindowsEx call."}));
  EXPECT_EQ(Count(trace, "ExitWindowsEx call loop fin."), 0u);
  EXPECT_EQ(OpLogTexts(), Texts({OpLog(OPLOG_AGENT_START), OpLog(OPLOG_POWER_OFF_RECEIVED, kLoopback),
                                 OpLog(OPLOG_SHUTDOWN_START)}));
  RestartPrefix();
}

}  // namespace
