#include "uninstall/service_removal.h"

#include <algorithm>

#include "platform/win32/unique_handle.h"

DWORD dwLastError = 0;

namespace {

// A stopping service names how long its next step may take. A faulty one
// may name hours; no pause is longer than this, as with the system's own tools.
constexpr DWORD MAX_STOP_PAUSE_MS = 10000;
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
  // A stop in progress must raise its check point at every report; one
  // that does not has stalled, and the wait ends.
  while (status.dwCurrentState != SERVICE_STOPPED) {
    const DWORD checkPoint = status.dwCheckPoint;
    Sleep(std::min<DWORD>(status.dwWaitHint, MAX_STOP_PAUSE_MS));
    if (!QueryServiceStatus(service.get(), &status) || status.dwCheckPoint <= checkPoint) break;
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
