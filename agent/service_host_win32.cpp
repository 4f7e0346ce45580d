// The agent as a Windows service: dispatcher, control handler and status
// reports. The work is in AgentStart and AgentStop, which know nothing of
// the service control manager.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "agent/agent_options.h"
#include "agent/agent_start.h"
#include "agent/agent_trace.h"

namespace {

const char kHelp[] =
    "usage: PWRAGENT [--help | --version]\n"
    "\n"
    "The ORVEL Nimbrel agent, started by the service control manager as the\n"
    "service \"ORVEL Nimbrel\". Settings are the values of the key\n"
    "HKLM\\SOFTWARE\\VANTREX\\ORVEL_MANAGER\\Nimbrel\\Agent.\n"
    "  --help     prints this text\n"
    "  --version  prints the version\n";

char szServiceName[] = "QX_WOL_AGENT";
SERVICE_STATUS ServiceStatus;
SERVICE_STATUS_HANDLE hServiceStatus = nullptr;
bool bStopRequested = false;  // dispatcher thread only
bool bStoppedReported = false;

std::mutex& StatusLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// The stop sequence: up to 20 one-second pauses for the threads, then the
// clean-up; the service manager is told to wait that long and a little more.
constexpr DWORD kStopWaitHintMs = 30000;

// The service main thread and the handler both report; once stopped has been
// reported, a late running report from the service main thread is dropped.
BOOL Report(DWORD state, DWORD wait_hint = 0) {
  std::lock_guard<std::mutex> guard(StatusLock());
  if (bStoppedReported) return TRUE;
  if (state != 0) {
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwWin32ExitCode = 0;
    ServiceStatus.dwCheckPoint = 0;
    ServiceStatus.dwWaitHint = wait_hint;
  }
  const BOOL ok = SetServiceStatus(hServiceStatus, &ServiceStatus);
  if (state == SERVICE_STOPPED) bStoppedReported = true;
  return ok;
}

// At each pause of the stop sequence: still stopping, one step further, so
// that the service manager and the uninstaller see the promise kept.
void ReportStopProgress() {
  std::lock_guard<std::mutex> guard(StatusLock());
  if (bStoppedReported) return;
  ServiceStatus.dwCurrentState = SERVICE_STOP_PENDING;
  ++ServiceStatus.dwCheckPoint;
  ServiceStatus.dwWaitHint = kStopWaitHintMs;
  SetServiceStatus(hServiceStatus, &ServiceStatus);
}

void WINAPI AgentCtrlHandler(DWORD control) {
  if ((control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) ||
      bStopRequested) {
    if (!Report(0)) Trace("Error SetServiceStatus()_3 : Code = %lu", GetLastError());
    return;
  }
  bStopRequested = true;
  if (!Report(SERVICE_STOP_PENDING, kStopWaitHintMs)) {
    Trace("Error SetServiceStatus()_Pending : Code = %lu", GetLastError());
  }
  AgentStopReporting(ReportStopProgress);
  Report(SERVICE_STOPPED);
}

void WINAPI AgentServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  {
    std::lock_guard<std::mutex> guard(StatusLock());
    ServiceStatus.dwServiceType = SERVICE_WIN32;  // 0x30
    ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    ServiceStatus.dwWin32ExitCode = 0;
    ServiceStatus.dwServiceSpecificExitCode = 0;
    ServiceStatus.dwCheckPoint = 0;
    ServiceStatus.dwWaitHint = 0;
  }
  const SERVICE_STATUS_HANDLE h = RegisterServiceCtrlHandlerA(szServiceName, AgentCtrlHandler);
  if (h == nullptr) {
    Trace("Error RegisterServiceCtrlHandler() : Code = %lu", GetLastError());
    return;
  }
  {
    std::lock_guard<std::mutex> guard(StatusLock());
    hServiceStatus = h;
  }
  // Running is reported before any start-up work; start pending never is.
  if (!Report(SERVICE_RUNNING)) {
    Trace("Error SetServiceStatus()_1 : Code = %lu", GetLastError());
    return;
  }
  AgentStart();
}

int AgentMain() {
  SetLogDir('\\');
  SERVICE_TABLE_ENTRYA table[] = {{szServiceName, AgentServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    Trace("Error StartServiceCtrlDispatcher() : Code = %lu", GetLastError());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int options = AgentOptions(argc, argv, "PWRAGENT", kHelp);
  if (options >= 0) return options;
  const int rc = AgentMain();
  // Threads that outlived the stop sequence may still run; end without
  // destroying anything under them.
  std::fflush(nullptr);
  std::_Exit(rc);
}
