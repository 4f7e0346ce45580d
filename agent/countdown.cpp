#include "agent/countdown.h"

#include <utility>
#include <vector>

#include "agent/agent_sleep.h"
#include "agent/agent_trace.h"
#include "log/ring_log.h"
#include "platform/named_mutex.h"

bool (*ListSessionsCall)(platform::SessionList*) = platform::ListSessions;
platform::Process (*StartInSessionCall)(uint32_t, const char*, platform::UserStart*) =
    platform::Process::StartInSession;

namespace {

constexpr uint32_t kPollMs = 1000;

struct Countdown {
  uint32_t session;  // kNoSession: started the plain way
  platform::Process process;
  bool running;
};

// The active sessions, and the console's when the list lacks it (Wine lists
// none, while its console session has the caller's user). A disconnected
// session has nobody looking.
std::vector<uint32_t> SessionsToWarn(const platform::SessionList& list) {
  std::vector<uint32_t> warn;
  bool console_listed = false;
  for (const platform::Session& s : list.sessions) {
    if (s.id == list.console) console_listed = true;
    if (s.active) warn.push_back(s.id);
  }
  if (!console_listed && list.console != platform::kNoSession) warn.push_back(list.console);
  return warn;
}

// Starts the program in every session to warn; where none could be warned,
// as the service's own child, unseen, so that its time-out lets the
// power-off go ahead.
std::vector<Countdown> StartCountdowns(const char* command_line) {
  std::vector<Countdown> started;
  platform::SessionList list;
  if (ListSessionsCall(&list)) {
    if (list.error) Trace("Error WTSEnumerateSessions() : Code = %d", static_cast<int>(list.error));
    for (const uint32_t session : SessionsToWarn(list)) {
      platform::UserStart how;
      platform::Process process = StartInSessionCall(session, command_line, &how);
      if (process.valid()) {
        Trace("CountDown Start : Session = %lu", static_cast<unsigned long>(session));
        started.push_back({session, std::move(process), true});
      } else if (how.failed_call) {
        Trace("Error %s() : Code = %d", how.failed_call, static_cast<int>(how.error));
      }
    }
  }
  if (started.empty()) {
    platform::Process process = platform::Process::Start(command_line);
    if (!process.valid()) return started;
    WriteLog("CountDown Start : Service Desktop", LOG_AGENT);
    started.push_back({platform::kNoSession, std::move(process), true});
  }
  return started;
}

}  // namespace

bool RunCountdowns(const char* command_line, long polls, uint32_t* exit_code) {
  std::vector<Countdown> countdowns = StartCountdowns(command_line);
  if (countdowns.empty()) {
    Trace("Error CreateProcess() : Code = %d", static_cast<int>(platform::LastError()));
    return false;
  }
  const Countdown* cancelled = nullptr;
  uint32_t code = 0;
  size_t running = countdowns.size();
  for (long poll = 0; poll < polls && running > 0 && !cancelled; ++poll) {
    for (Countdown& c : countdowns) {
      uint32_t now = platform::kStillActive;
      if (c.running && !c.process.ExitCode(&now)) {
        Trace("Error GetExitCodeProcess() : Code = %d", static_cast<int>(platform::LastError()));
      }
      if (!c.running || now == platform::kStillActive) continue;
      c.running = false;
      --running;
      if (now == 0) continue;  // "now", or its time is out: that user agrees
      // A person's cancel, a bad command line, a crash or a kill at log-off.
      Trace("CountDown Exit : Code = %d", static_cast<int>(now));
      if (!cancelled) {
        cancelled = &c;
        code = now;
      }
    }
    AgentSleep(kPollMs);
  }
  if (cancelled) {
    if (cancelled->session != platform::kNoSession) {
      Trace("CountDown Cancel : Session = %lu", static_cast<unsigned long>(cancelled->session));
    }
    // Nobody may be left reading that the PC is about to go off.
    for (Countdown& c : countdowns) {
      if (!c.running) continue;
      if (c.process.Terminate()) {
        Trace("CountDown End : Session = %lu", static_cast<unsigned long>(c.session));
      } else {
        Trace("Error TerminateProcess() : Code = %d", static_cast<int>(platform::LastError()));
      }
    }
  } else if (running > 0) {
    // Those still running are left so; their silence counts as consent.
    Trace("Timeout waitting count down process : wait = %ld", polls);
  }
  *exit_code = code;
  return true;
}
