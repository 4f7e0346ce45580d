#include "uninstall/service_removal.h"

#include <algorithm>

#include "platform/win32/unique_handle.h"

DWORD dwLastError = 0;

namespace {

// The service manager's contract for a pending stop: poll at a tenth of the
// wait hint, at least this often and at most this seldom.
constexpr DWORD MIN_STOP_POLL_MS = 1000;
constexpr DWORD MAX_STOP_POLL_MS = 10000;
// After the stop, before the deletion: time for the process to end.
constexpr DWORD STOPPED_SETTLE_MS = 5000;

int DeleteStoppedService(SC_HANDLE service) {
  if (DeleteService(service)) return 1;
  dwLastError = GetLastError();
  return 0;
}

}  // namespace

int RemoveService(const char* serviceName) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager.valid()) {
    dwLastError = GetLastError();
    return 0;
  }
  ServiceHandle service(OpenServiceA(manager.get(), serviceName, SERVICE_ALL_ACCESS));
  if (!service.valid()) {
    dwLastError = GetLastError();
    return dwLastError == ERROR_SERVICE_DOES_NOT_EXIST ? 1 : 0;  // none counts as removed
  }
  SERVICE_STATUS status = {};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    dwLastError = GetLastError();
    if (dwLastError != ERROR_SERVICE_NOT_ACTIVE) return 0;
    return DeleteStoppedService(service.get());  // installed but not running
  }
  // A stopping service keeps its promise while its check point rises at
  // least once per wait hint; only one that does not has stalled.
  DWORD checkPoint = status.dwCheckPoint;
  DWORD lastProgress = GetTickCount();
  while (status.dwCurrentState != SERVICE_STOPPED) {
    Sleep(std::min(std::max(status.dwWaitHint / 10, MIN_STOP_POLL_MS), MAX_STOP_POLL_MS));
    if (!QueryServiceStatus(service.get(), &status)) break;
    if (status.dwCheckPoint > checkPoint) {
      checkPoint = status.dwCheckPoint;
      lastProgress = GetTickCount();
    } else if (status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - lastProgress > status.dwWaitHint) {
      SetLastError(NO_ERROR);
      break;
    }
  }
  if (status.dwCurrentState != SERVICE_STOPPED) {
    // A stall leaves no error of its own; code 0 would read as success.
    dwLastError = GetLastError();
    if (dwLastError == NO_ERROR) dwLastError = ERROR_SERVICE_REQUEST_TIMEOUT;
    return 0;
  }
  Sleep(STOPPED_SETTLE_MS);
  return DeleteStoppedService(service.get());
}
