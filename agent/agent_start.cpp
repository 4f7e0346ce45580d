#include "agent/agent_start.h"

#include <cstring>

#include "agent/adapters.h"
#include "agent/agent_events.h"
#include "agent/agent_state.h"
#include "agent/agent_trace.h"
#include "agent/allowed_managers.h"
#include "agent/listener.h"
#include "agent/manager_keys.h"
#include "log/operation_log.h"
#include "platform/settings.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace {

constexpr unsigned kThreadWaitMs = 1000;
constexpr int kThreadWaitPauses = 20;

// Set under the lifecycle lock by the stop sequence.
bool bStopSequenceRan = false;

}  // namespace

std::mutex& AgentLifecycleLock() {
  // Never destroyed: a late service-main thread may still reach it at exit.
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void SetLogDir(char separator) {
  char path[260];
  if (!platform::ReadSetting(AGENT_KEY, "LogFilePath", path, sizeof path)) {
    std::strcpy(path, ".");
  }
  // A value of 259 bytes plus the separator still fits the 261-byte buffer.
  std::snprintf(szLogDir, sizeof szLogDir, "%s%c", path, separator);
}

void AgentStart() {
  std::lock_guard<std::mutex> lock(AgentLifecycleLock());
  if (bStopSequenceRan) return;

  WriteLog("ORVEL/TAV Agent Start", LOG_AGENT);
  WriteOperationLog(OPLOG_AGENT_START, 0, LOG_AGENT_USER);
  ReportAgentEvent(AgentEvent::kStarted);

  hShutdownMutex = platform::NamedMutex::Open("ORVEL_MANAGER_WakeOnLAN_SHUTDOWN_MUTEX");
  if (!hShutdownMutex.valid()) {
    Trace("Error CreateMutex() : Code = %d", static_cast<int>(platform::LastError()));
  }

  const int rc = platform::SocketsStartup();
  if (rc != 0) Trace("Error WSAStartup() : Code = %d", rc);

  dwServiceStop = 0;
  BuildAdapterList();
  LoadAllowedManagers();
  LoadManagerKeys();
  StartListen();
}

void AgentStop() { AgentStopReporting(nullptr); }

void AgentStopReporting(void (*paused)()) {
  dwServiceStop = 1;
  dwAgentEnd = 1;
  platform::SleepMs(1);

  // A start-up still running (it can take seconds) finishes before the
  // clean-up below pulls sockets and the list from under it.
  std::lock_guard<std::mutex> lock(AgentLifecycleLock());
  bStopSequenceRan = true;
  // Start-up clears this flag; a stop that came during start-up must win.
  dwServiceStop = 1;
  // Under the lock: StartListen has made the signal, or never will.
  WakeAcceptThreads();

  for (int pauses = 0; ThreadCnt != 0;) {
    platform::SleepMs(kThreadWaitMs);
    if (paused) paused();
    if (++pauses < kThreadWaitPauses) continue;
    Trace("Thread_Timer >= 20 ThreadCnt = %d", static_cast<int>(ThreadCnt));
    Trace("                 dwThreadEnd = %d", static_cast<int>(dwThreadEnd));
    break;
  }
  // Judged once, here: a thread still alive now may read the adapter list or
  // take the mutex later, so both are then left to the end of the process.
  const long alive = ThreadCnt;
  Trace(" ThreadCnt = %ld", alive);

  const int rc = platform::SocketsCleanup();
  Trace("WSACleanup() : Return Code = %d,%d", rc, platform::SocketError());
  Trace("dwThreadEnd = %d", static_cast<int>(dwThreadEnd));

  if (alive == 0) {
    FreeList(&AdapterList);
    hShutdownMutex = platform::NamedMutex();
  } else {
    Trace("FreeList() skipped : ThreadCnt = %ld", alive);
  }

  WriteLog("ORVEL/TAV Agent End", LOG_AGENT);
  WriteOperationLog(OPLOG_AGENT_END, 0, LOG_AGENT_USER);
  ReportAgentEvent(AgentEvent::kStopped);
}
