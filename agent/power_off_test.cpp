#include "agent/power_off.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "log/log_test_support.h"
#include "log/operation_log.h"
#include "platform/process.h"

namespace {

using Texts = std::vector<std::string>;

TEST(CountdownLength, LastWordGivesTheSecondsElse180) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"countdown.exe 30", 30}, {"countdown.exe /q 1", 1}, {"countdown.exe 9999", 9999},
      {"countdown.exe 45s", 45},  // digits up to the first other byte
      {"countdown.exe 0", 180}, {"countdown.exe -5", 180}, {"countdown.exe 10000", 180},
      {"countdown.exe s45", 180}, {"countdown.exe", 180}, {"countdown.exe 30 ", 180},
      {"\"C:\\Program Files\\cd.exe\"", 180},
      {"countdown.exe 4294967326", 180},  // 2^32 + 30 must not wrap into range
  };
  for (const auto& [command_line, seconds] : cases) {
    EXPECT_EQ(CountdownLength(command_line), seconds) << command_line;
  }
}

// The pauses are counted, not waited out, and set dwServiceStop after
// stop_after of them (or 1000, so that a fault cannot loop for ever); the power
// seam counts requests and fails as told.
uint32_t pauses, slept_ms, stop_after, real_ms, refusal;
long requests;
bool stop_after_request;  // the service stops one pass after each request
platform::PrivilegeResult privilege;

void FakeSleep(uint32_t ms) {
  slept_ms += ms;
  if (real_ms) std::this_thread::sleep_for(std::chrono::milliseconds(real_ms));
  if (++pauses == stop_after || pauses > 1000) dwServiceStop = 1;
}
uint32_t FakeRequest() {
  ++requests;
  if (stop_after_request) stop_after = pauses + 1;
  return refusal;
}

// Sets or removes CountdownCmd where the platform keeps it: the registry under
// Wine (through reg.exe, as tests include no Windows headers), a settings file
// on Linux.
void SetCountdown([[maybe_unused]] const logtest::ScratchLogDir& dir,
                  const std::string& command_line) {
#ifdef _WIN32
  std::string reg = std::string("reg ") + (command_line.empty() ? "delete" : "add") + " \"HKLM\\" +
                    AGENT_KEY + "\" /v CountdownCmd /f";
  if (!command_line.empty()) reg += " /d \"" + command_line + "\"";
  platform::Process p = platform::Process::Start(reg.c_str());
  ASSERT_TRUE(p.valid() && p.Wait(30000));
#else
  logtest::WriteAll(dir.Path("agent.conf"), "CountdownCmd=" + command_line + "\n");
  setenv("ORVEL_AGENT_CONF", dir.Path("agent.conf").c_str(), 1);
#endif
}

// A child that exits with `code` after `seconds`; its last word 300, or 1. A
// bare name: Windows looks for a program in the test's own directory first.
std::string Child(int code, int seconds, const char* length = " 300") {
#ifdef _WIN32
  return "countdown_fixture.exe " + std::to_string(code) + " " + std::to_string(seconds) + length;
#else
  return "sh -c \"sleep " + std::to_string(seconds) + "; exit " + std::to_string(code) + "\"" +
         length;
#endif
}

std::string OpLog(uint32_t number) {
  char line[OPLOG_LINE_SIZE];
  FormatOperationLog(number, 0, line);
  return line;
}

TEST(PowerOff, CountdownAndShutdownRequests) {
  const std::string shutdown = "System Shutdown : Code = 0", call = "ExitWindowsEx call.",
                    fin = "ExitWindowsEx call loop fin.", done = "CountDown finished",
                    refused = "ExitWindowsEx failed : Code = 1190";
  const Texts start = {OpLog(OPLOG_SHUTDOWN_START)};
  // Each "ExitWindowsEx call." in the trace stands for one power-off request.
  const struct {
    const char* what;
    uint32_t (*run)();
    std::string countdown;
    bool stop_first;      // dwServiceStop set before the call
    uint32_t stop_after;  // pauses before the stop; 0: one pass after each request
    bool failing;         // every privilege step and the request fail
    Texts trace, oplog;
    int pauses;  // -1: one or more, fewer than the 360 polls allowed
  } cases[] = {
      {"stop already set", CountDown, "", true, 0, false, {}, {}, 0},
      {"no countdown program", CountDown, "", false, 0, false, {shutdown, call, fin, done}, start,
       1},
      {"countdown exits 1: cancelled", CountDown, Child(1, 0), false, 0, false, {done},
       {OpLog(OPLOG_POWER_OFF_CANCELLED)}, -1},
      {"countdown exits 0", CountDown, Child(0, 0), false, 0, false, {shutdown, call, fin, done},
       start, -1},
      {"countdown running at its limit of 1 + 60 polls", CountDown, Child(1, 3, " 1"), false, 0,
       false, {"Timeout waitting count down process : wait = 61", shutdown, call, fin, done}, start,
       62},
      {"countdown program that cannot start", CountDown, "no_such_countdown.exe 5", false, 0,
       false, {"Error CreateProcess() : Code = 2", shutdown, call, fin}, start, 1},
      {"stop before the loop", SystemShutdown, "", true, 0, false, {shutdown, fin}, start, 0},
      {"181 passes, one request", SystemShutdown, "", false, 181, false, {shutdown, call, fin},
       start, 181},
      {"failures logged, the request repeated at pass 182", SystemShutdown, "", false, 182, true,
       {"Error OpenProcessToken() : Code = 5", "Error LookupPrivilegeValue() : Code = 1313",
        "Error AdjustTokenPrivileges()_1 : Code = 1300", shutdown, call, refused, call, refused,
        fin},
       start, 182},
      {"400 passes: requests at 1, 182 and 363", SystemShutdown, "", false, 400, false,
       {shutdown, call, call, call, fin}, start, 400},
  };
  AgentSleep = FakeSleep;
  RequestPowerOffCall = FakeRequest;
  EnableShutdownPrivilegeCall = [] { return privilege; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::ScratchLogDir dir;
    SetCountdown(dir, c.countdown);
    pauses = slept_ms = requests = 0;
    stop_after = c.stop_after;
    stop_after_request = c.stop_after == 0;
    real_ms = c.countdown.empty() ? 0 : 20;  // the child runs meanwhile
    privilege = c.failing ? platform::PrivilegeResult{5, 1313, 1300} : platform::PrivilegeResult{};
    refusal = c.failing ? 1190 : 0;
    dwServiceStop = c.stop_first;
    EXPECT_EQ(c.run(), 0u);
    EXPECT_EQ(dir.Texts("QX_WOL_A.LOG"), c.trace);
    EXPECT_EQ(dir.Texts("TAVANLOG.TXT"), c.oplog);
    EXPECT_EQ(requests, std::count(c.trace.begin(), c.trace.end(), call));
    EXPECT_TRUE(c.pauses < 0 ? pauses >= 1 && pauses < 360 : pauses == uint32_t(c.pauses))
        << pauses;
    EXPECT_EQ(slept_ms, 1000 * pauses);
  }
  logtest::ScratchLogDir dir;
  SetCountdown(dir, "");
  dwServiceStop = 0;
}

}  // namespace
