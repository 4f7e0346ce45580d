// A stand-in for the agent's programs in the uninstaller's tests.
//   uninstall_fixture.exe service [stalls | slow]
//     as a Windows service: runs until stopped; with "stalls" it answers a
//     stop with STOP_PENDING, a 3 s wait hint and a check point that never
//     rises, and never stops; with "slow" it answers with STOP_PENDING and a
//     15 s wait hint, and stops 12 s later without raising its check point.
//   uninstall_fixture.exe hold FILE
//     opens FILE for writing without sharing, prints "held", and keeps it
//     open until it is ended.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

SERVICE_STATUS_HANDLE statusHandle;
SERVICE_STATUS status;
HANDLE stopped;
bool stalls = false;
bool slow = false;
constexpr DWORD kSlowStopMs = 12000;

void Report(DWORD state, DWORD waitHint) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWaitHint = waitHint;
  status.dwCheckPoint = state == SERVICE_STOP_PENDING ? 1 : 0;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control != SERVICE_CONTROL_STOP) return NO_ERROR;
  if (stalls) {
    Report(SERVICE_STOP_PENDING, 3000);
  } else {
    if (slow) Report(SERVICE_STOP_PENDING, 15000);
    SetEvent(stopped);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, char** argv) {
  statusHandle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "", Handler, nullptr);
  Report(SERVICE_RUNNING, 0);
  WaitForSingleObject(stopped, INFINITE);
  if (slow) Sleep(kSlowStopMs);  // within the promised 15 s
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
    stalls = argc == 3 && std::strcmp(argv[2], "stalls") == 0;
    slow = argc == 3 && std::strcmp(argv[2], "slow") == 0;
    stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
    HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    Sleep(INFINITE);
  }
  std::fputs("usage: uninstall_fixture service [stalls | slow] | hold FILE\n", stderr);
  return 2;
}
