#include "agent/power_off.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "agent/agent_sleep.h"
#include "agent/agent_state.h"
#include "agent/countdown.h"
#include "log/log_test_support.h"
#include "log/operation_log.h"
#include "platform/process.h"

namespace {

using Texts = std::vector<std::string>;

TEST(CountdownLength, PwrcountsSecondsElse180) {
  const std::pair<const char*, uint32_t> cases[] = {
      // A tab separates words for PWRCOUNT too: the agent waits its 900 s.
      {"cd 30", 30}, {"cd /q 1", 1}, {"cd 9999", 9999}, {"cd 1\t900", 900}, {"cd 45s", 180},
      {"cd 0", 180}, {"cd 10000", 180}, {"cd", 180}, {"cd 4294967326", 180},
  };
  for (const auto& [command_line, seconds] : cases) {
    EXPECT_EQ(CountdownLength(command_line), seconds) << command_line;
  }
}

// The pauses are counted, not waited out, and set dwServiceStop after
// stop_after of them (or 1000, so that a fault cannot loop for ever); the power
// seam counts requests (the first after first_request pauses) and fails as told.
uint32_t pauses, slept_ms, stop_after, real_ms, refusal, first_request;
long requests;
platform::PrivilegeResult privilege;

// A session of the made-up list: its state ('A' active, 'D' disconnected,
// 'C' the console's, unlisted, as under Wine), the program it runs in place
// of the countdown command (none: that command), whether that program has
// ended before the first poll, and the step that fails there.
struct FakeSession { uint32_t id; char state; const char* program = nullptr; bool ended = false;
                     const char* failed = nullptr; uint32_t error = 0; };
const std::vector<FakeSession>* sessions;

// Sets or removes CountdownCmd where the platform keeps it: the registry under
// Wine (through reg.exe, as tests include no Windows headers), a settings file
// on Linux.
void SetCountdown(const std::string& command_line) {
#ifdef _WIN32
  std::string reg = std::string("reg ") + (command_line.empty() ? "delete" : "add") + " \"HKLM\\" +
                    AGENT_KEY + "\" /v CountdownCmd /f";
  if (!command_line.empty()) reg += " /d \"" + command_line + "\"";
  platform::Process p = platform::Process::Start(reg.c_str());
  ASSERT_TRUE(p.valid() && p.Wait(30000));
#else
  const std::string conf = ::testing::TempDir() + "power_off_test.conf";
  setenv("ORVEL_AGENT_CONF", conf.c_str(), 1);
  std::remove(conf.c_str());
  if (!command_line.empty()) logtest::WriteAll(conf, "CountdownCmd=" + command_line + "\n");
#endif
}

// A countdown program that runs on for 3 s though its last word gives 1 s
// (GNU sleep adds up its arguments); others that exit 2, 1 or 0 at once, 0
// after a second, or after 30 s. A bare name: Windows looks for a program in
// the test's own directory first.
#ifdef _WIN32
const char kRunsOn[] = "countdown_fixture.exe 1 3 1", kExits2[] = "countdown_fixture.exe 2 0 5",
           kNo[] = "countdown_fixture.exe 1 0 1", kYes[] = "countdown_fixture.exe 0 0 1",
           kYesIn1s[] = "countdown_fixture.exe 0 1 1", kLong[] = "countdown_fixture.exe 0 30 1";
#else
const char kRunsOn[] = "sleep 2 1", kExits2[] = "sh -c \"exit 2\" 5", kNo[] = "false",
           kYes[] = "true", kYesIn1s[] = "sleep 1", kLong[] = "sleep 30";
#endif

TEST(PowerOff, CountdownAndShutdownRequests) {
  const std::string sd = "System Shutdown : Code = 0", call = "ExitWindowsEx call.",
                    fin = "ExitWindowsEx call loop fin.", done = "CountDown finished",
                    refused = "ExitWindowsEx failed : Code = 1190",
                    timeout = "Timeout waitting count down process : wait = 61",
                    unseen = "CountDown Start : Service Desktop",
                    s1 = "CountDown Start : Session = 1", s2 = "CountDown Start : Session = 2",
                    no_token = "Error WTSQueryUserToken() : Code = 1008";
  char start[OPLOG_LINE_SIZE], cancel[OPLOG_LINE_SIZE];  // the operation log lines
  FormatOperationLog(OPLOG_SHUTDOWN_START, 0, start);
  FormatOperationLog(OPLOG_POWER_OFF_CANCELLED, 0, cancel);
  // Each "ExitWindowsEx call." in the trace stands for one power-off request.
  // stop_after: the pauses, the last of which sets the stop (-1: none, set before the call);
  // failing: every privilege step and the request fail;
  // sessions: the made-up session list (none by default);
  // waits: the pauses before the first request, at least.
  const struct {
    uint32_t (*run)(); std::string countdown; int stop_after; Texts trace; bool failing = false;
    std::vector<FakeSession> sessions = {}; uint32_t waits = 0;
  } cases[] = {
      {CountDown, "", -1, {}},
      // The countdown runs on to its limit of 1 + 60 polls; in the console's session,
      {CountDown, kRunsOn, 62, {s1, timeout, sd, call, fin, done}, false, {{1, 'C'}}},
      // else started the plain way: nobody logged on, no session, a failed step.
      {CountDown, kRunsOn, 62, {no_token, unseen, timeout, sd, call, fin, done}, false,
       {{1, 'C', nullptr, false, "WTSQueryUserToken", 1008}}},
      {CountDown, kRunsOn, 62, {unseen, timeout, sd, call, fin, done}},
      {CountDown, "no_such.exe 5", 1,
       {"Error CreateEnvironmentBlock() : Code = 5", "Error CreateProcess() : Code = 2", sd, call,
        fin},
       false, {{1, 'C', nullptr, false, "CreateEnvironmentBlock", 5}}},
      // A countdown that could not count (bad command line) cancels, with its code.
      {CountDown, kExits2, 1,
       {s1, "CountDown Exit : Code = 2", "CountDown Cancel : Session = 1", done}, false,
       {{1, 'C', nullptr, true}}},
      // Every active session is warned: both time out;
      {CountDown, kRunsOn, 62, {s1, s2, timeout, sd, call, fin, done}, false, {{1, 'A'}, {2, 'A'}}},
      // one cancels for both, and the other countdown is ended at once;
      {CountDown, kRunsOn, 1,
       {s1, s2, "CountDown Exit : Code = 1", "CountDown Cancel : Session = 2",
        "CountDown End : Session = 1", done},
       false, {{1, 'A', kLong}, {2, 'A', kNo, true}}},
      // one says "now": the power-off waits for the other, counting for a second.
      {CountDown, "cd 60", 122, {s1, s2, sd, call, fin, done}, false,
       {{1, 'A', kYes, true}, {2, 'A', kYesIn1s}}, 10},
      // Nobody looks at a disconnected session; a token failure leaves the other.
      {CountDown, kRunsOn, 62, {s1, timeout, sd, call, fin, done}, false, {{1, 'A'}, {2, 'D'}}},
      {CountDown, kRunsOn, 62, {no_token, s2, timeout, sd, call, fin, done}, false,
       {{1, 'A', nullptr, false, "WTSQueryUserToken", 1008}, {2, 'A'}}},
      {SystemShutdown, "", -1, {sd, fin}},
      {SystemShutdown, "", 181, {sd, call, fin}},  // one request in 181 passes
      {SystemShutdown, "", 182,  // failures logged, the request repeated at pass 182
       {"Error OpenProcessToken() : Code = 5", "Error LookupPrivilegeValue() : Code = 1313",
        "Error AdjustTokenPrivileges()_1 : Code = 1300", sd, call, refused, call, refused, fin},
       true},
      {SystemShutdown, "", 400, {sd, call, call, call, fin}},  // requests at 1, 182 and 363
  };
  AgentSleep = [](uint32_t ms) {
    slept_ms += ms;
    if (real_ms) std::this_thread::sleep_for(std::chrono::milliseconds(real_ms));
    if (++pauses == stop_after || pauses > 1000) dwServiceStop = 1;
  };
  RequestPowerOffCall = [] { return requests++ ? refusal : (first_request = pauses, refusal); };
  EnableShutdownPrivilegeCall = [] { return privilege; };
  ListSessionsCall = [](platform::SessionList* list) {
    *list = platform::SessionList{};
    for (const FakeSession& s : *sessions) {
      if (s.state == 'C') list->console = s.id;
      if (s.state != 'C') list->sessions.push_back({s.id, s.state == 'A'});
    }
    return true;
  };
  StartInSessionCall = [](uint32_t id, const char* command_line, platform::UserStart* how) {
    const FakeSession& s =
        *std::find_if(sessions->begin(), sessions->end(), [id](auto& f) { return f.id == id; });
    *how = {s.failed, s.error};
    if (s.failed) return platform::Process();
    platform::Process p = platform::Process::Start(s.program ? s.program : command_line);
    if (s.ended) p.Wait(30000);
    return p;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    logtest::ScratchLogDir dir;
    SetCountdown(c.countdown);
    pauses = slept_ms = requests = first_request = 0;
    stop_after = std::max(c.stop_after, 0);
    real_ms = c.countdown.empty() ? 0 : 20;  // the child runs meanwhile
    privilege = c.failing ? platform::PrivilegeResult{5, 1313, 1300} : platform::PrivilegeResult{};
    refusal = c.failing ? 1190 : 0;
    sessions = &c.sessions;
    dwServiceStop = c.stop_after < 0;
    c.run();
    EXPECT_EQ(dir.Texts("QX_WOL_A.LOG"), c.trace);
    const bool shut = std::count(c.trace.begin(), c.trace.end(), sd);
    EXPECT_EQ(dir.Texts("TAVANLOG.TXT"), c.trace.empty() ? Texts{} : Texts{shut ? start : cancel});
    EXPECT_EQ(requests, std::count(c.trace.begin(), c.trace.end(), call));
    EXPECT_GE(first_request, c.waits);
    EXPECT_EQ(pauses, stop_after);
    EXPECT_EQ(slept_ms, 1000 * pauses);
  }
  SetCountdown("");
  dwServiceStop = 0;
}

}  // namespace
