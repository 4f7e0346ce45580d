#include "agent/power_off.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_test_support.h"
#include "log/operation_log.h"
#include "platform/process.h"

namespace {

using agenttest::FakeSleep;
using agenttest::OperationTexts;
using agenttest::TraceTexts;
using Texts = std::vector<std::string>;

TEST(CountdownLength, LastWordGivesTheSecondsElse180) {
  EXPECT_EQ(CountdownLength("countdown.exe 30"), 30u);
  EXPECT_EQ(CountdownLength("countdown.exe /q 1"), 1u);
  EXPECT_EQ(CountdownLength("countdown.exe 9999"), 9999u);
  EXPECT_EQ(CountdownLength("countdown.exe 45s"), 45u);  // digits up to the first other byte
  EXPECT_EQ(CountdownLength("countdown.exe 0"), 180u);
  EXPECT_EQ(CountdownLength("countdown.exe -5"), 180u);
  EXPECT_EQ(CountdownLength("countdown.exe 10000"), 180u);
  EXPECT_EQ(CountdownLength("countdown.exe s45"), 180u);
  EXPECT_EQ(CountdownLength("countdown.exe"), 180u);     // no space
  EXPECT_EQ(CountdownLength("countdown.exe 30 "), 180u); // ends in a space
  EXPECT_EQ(CountdownLength("\"C:\\Program Files\\cd.exe\""), 180u);
  // A number too long for 32 bits must not wrap into range (2^32 + 30).
  EXPECT_EQ(CountdownLength("countdown.exe 4294967326"), 180u);
}

struct FakePower {
  static inline platform::PrivilegeResult privilege = {0, 0, 0};
  static inline uint32_t refusal = 0;
  static inline int requests = 0;
  static inline bool stop_after_request = false;  // the service stops one pass later
  static platform::PrivilegeResult Enable() { return privilege; }
  static uint32_t Request() {
    ++requests;
    if (stop_after_request) FakeSleep::stop_after = FakeSleep::pauses + 1;
    return refusal;
  }
};

// Sets or removes CountdownCmd where the platform keeps it: the registry under
// Wine (through reg.exe, as tests include no Windows headers), a settings file
// on Linux.
class CountdownSetting {
 public:
  explicit CountdownSetting(const logtest::ScratchLogDir& dir) : conf_(dir.Path("agent.conf")) {}
  ~CountdownSetting() { Set(nullptr); }
  void Set(const char* command_line) {
#ifdef _WIN32
    std::string reg = std::string("reg ") + (command_line ? "add" : "delete") + " \"HKLM\\" +
                      AGENT_KEY + "\" /v CountdownCmd /f";
    if (command_line) reg += std::string(" /d \"") + command_line + "\"";
    platform::Process p = platform::Process::Start(reg.c_str());
    if (p.valid()) p.Wait(30000);
#else
    logtest::WriteAll(conf_, command_line ? std::string("CountdownCmd=") + command_line + "\n" : "");
    setenv("ORVEL_AGENT_CONF", conf_.c_str(), 1);
#endif
  }

 private:
  std::string conf_;
};

// A child that exits with `code` after about `seconds`, its last word `length`.
std::string Child(int code, int seconds, int length) {
#ifdef _WIN32
  const std::string self = platform::CurrentProgramPath();
  return self.substr(0, self.find_last_of("\\/") + 1) + "countdown_fixture.exe " +
         std::to_string(code) + " " + std::to_string(seconds) + " " + std::to_string(length);
#else
  return "sh -c \"sleep " + std::to_string(seconds) + "; exit " + std::to_string(code) + "\" " +
         std::to_string(length);
#endif
}

std::string OpLog(uint32_t number) {
  char line[OPLOG_LINE_SIZE];
  FormatOperationLog(number, 0, line);
  return line;
}

class PowerOff : public ::testing::Test {
 protected:
  void SetUp() override {
    dwServiceStop = 0;
    FakeSleep::Install();
    FakePower::privilege = {0, 0, 0};
    FakePower::refusal = 0;
    FakePower::requests = 0;
    FakePower::stop_after_request = false;
    EnableShutdownPrivilegeCall = FakePower::Enable;
    RequestPowerOffCall = FakePower::Request;
    setting_.Set(nullptr);
  }
  void TearDown() override { dwServiceStop = 0; }

  logtest::ScratchLogDir dir_;
  CountdownSetting setting_{dir_};
};

TEST_F(PowerOff, StopAlreadySetDoesNothing) {
  dwServiceStop = 1;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts());
  EXPECT_EQ(OperationTexts(dir_), Texts());
  EXPECT_EQ(FakePower::requests, 0);
  EXPECT_EQ(FakeSleep::pauses, 0u);
}

TEST_F(PowerOff, NoCountdownProgramShutsDownAtOnce) {
  FakeSleep::stop_after = 1;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts({"System Shutdown : Code = 0", "ExitWindowsEx call.",
                                     "ExitWindowsEx call loop fin.", "CountDown finished"}));
  EXPECT_EQ(OperationTexts(dir_), Texts({OpLog(OPLOG_SHUTDOWN_START)}));
  EXPECT_EQ(FakePower::requests, 1);
}

TEST_F(PowerOff, RequestRepeatsEvery181Passes) {
  FakeSleep::stop_after = 181;  // stops before pass 182
  SystemShutdown();
  EXPECT_EQ(FakePower::requests, 1);
  EXPECT_EQ(FakeSleep::pauses, 181u);
  EXPECT_EQ(FakeSleep::total_ms, 181000u);

  FakeSleep::Install();
  dwServiceStop = 0;
  FakePower::requests = 0;
  FakeSleep::stop_after = 182;
  SystemShutdown();
  EXPECT_EQ(FakePower::requests, 2);

  FakeSleep::Install();
  dwServiceStop = 0;
  FakePower::requests = 0;
  FakeSleep::stop_after = 400;  // requests at passes 1, 182 and 363
  SystemShutdown();
  EXPECT_EQ(FakePower::requests, 3);
}

TEST_F(PowerOff, FailedStepsAreLoggedAndTheRequestStillMade) {
  FakePower::privilege = {5, 1313, 1300};
  FakePower::refusal = 1190;
  FakeSleep::stop_after = 182;
  SystemShutdown();
  EXPECT_EQ(TraceTexts(dir_),
            Texts({"Error OpenProcessToken() : Code = 5", "Error LookupPrivilegeValue() : Code = 1313",
                   "Error AdjustTokenPrivileges()_1 : Code = 1300", "System Shutdown : Code = 0",
                   "ExitWindowsEx call.", "ExitWindowsEx failed : Code = 1190",
                   "ExitWindowsEx call.", "ExitWindowsEx failed : Code = 1190",
                   "ExitWindowsEx call loop fin."}));
}

TEST_F(PowerOff, StopBeforeTheLoopRequestsNothing) {
  dwServiceStop = 1;
  EXPECT_EQ(SystemShutdown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts({"System Shutdown : Code = 0", "ExitWindowsEx call loop fin."}));
  EXPECT_EQ(OperationTexts(dir_), Texts({OpLog(OPLOG_SHUTDOWN_START)}));
  EXPECT_EQ(FakePower::requests, 0);
  EXPECT_EQ(FakeSleep::pauses, 0u);
}

TEST_F(PowerOff, CountdownExitingNonZeroCancels) {
  setting_.Set(Child(1, 0, 300).c_str());
  FakeSleep::real_ms_per_pause = 10;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts({"CountDown finished"}));
  EXPECT_EQ(OperationTexts(dir_), Texts({OpLog(OPLOG_POWER_OFF_CANCELLED)}));
  EXPECT_EQ(FakePower::requests, 0);
  EXPECT_GE(FakeSleep::pauses, 1u);  // the poll that sees the end pauses too
  EXPECT_LT(FakeSleep::pauses, 360u);
}

TEST_F(PowerOff, CountdownExitingZeroShutsDown) {
  setting_.Set(Child(0, 0, 300).c_str());
  FakeSleep::real_ms_per_pause = 10;
  FakePower::stop_after_request = true;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts({"System Shutdown : Code = 0", "ExitWindowsEx call.",
                                     "ExitWindowsEx call loop fin.", "CountDown finished"}));
  EXPECT_EQ(OperationTexts(dir_), Texts({OpLog(OPLOG_SHUTDOWN_START)}));
  EXPECT_EQ(FakePower::requests, 1);
}

TEST_F(PowerOff, CountdownStillRunningAtTheLimitShutsDown) {
  // Last word 1: 61 polls, far quicker than the child's 3 seconds.
  setting_.Set(Child(1, 3, 1).c_str());
  FakeSleep::stop_after = 62;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_),
            Texts({"Timeout waitting count down process : wait = 61", "System Shutdown : Code = 0",
                   "ExitWindowsEx call.", "ExitWindowsEx call loop fin.", "CountDown finished"}));
  EXPECT_EQ(FakeSleep::pauses, 62u);
  EXPECT_EQ(FakePower::requests, 1);
}

TEST_F(PowerOff, CountdownProgramThatCannotStartShutsDown) {
  const std::string self = platform::CurrentProgramPath();
  const std::string missing = self.substr(0, self.find_last_of("\\/") + 1) + "no_such_countdown.exe 5";
  setting_.Set(missing.c_str());
  FakeSleep::stop_after = 1;
  EXPECT_EQ(CountDown(), 0u);
  EXPECT_EQ(TraceTexts(dir_), Texts({"Error CreateProcess() : Code = 2", "System Shutdown : Code = 0",
                                     "ExitWindowsEx call.", "ExitWindowsEx call loop fin."}));
  EXPECT_EQ(FakePower::requests, 1);
}

}  // namespace
