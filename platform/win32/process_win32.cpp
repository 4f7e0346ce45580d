#include "platform/process.h"

#include <windows.h>

#include <vector>

namespace platform {
namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

Process::~Process() {
  if (handle_) CloseHandle(H(handle_));
}

Process Process::Start(const char* command_line) {
  Process p;
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  GetStartupInfoA(&si);
  PROCESS_INFORMATION pi;
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command_line, command_line + lstrlenA(command_line) + 1);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return p;
  }
  CloseHandle(pi.hThread);
  p.handle_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return p;
}

bool Process::valid() const { return handle_ != 0; }

bool Process::ExitCode(uint32_t* code) {
  DWORD c = 0;
  if (!GetExitCodeProcess(H(handle_), &c)) return false;
  *code = c;
  return true;
}

bool Process::Wait(uint32_t timeout_ms) {
  return WaitForSingleObject(H(handle_), timeout_ms) == WAIT_OBJECT_0;
}

std::string CurrentProgramPath() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

}  // namespace platform
