#include "platform/power.h"

#include <windows.h>

namespace platform {
namespace {

class Token {
 public:
  Token() = default;
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;
  ~Token() {
    if (h_) CloseHandle(h_);
  }
  HANDLE* out() { return &h_; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace

PrivilegeResult EnableShutdownPrivilege() {
  PrivilegeResult r = {0, 0, 0};
  Token token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.out())) {
    r.open_token = GetLastError();
  }
  TOKEN_PRIVILEGES tp;
  ZeroMemory(&tp, sizeof tp);
  if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
    r.lookup = GetLastError();
  }
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // The call's result is not enough: it succeeds with ERROR_NOT_ALL_ASSIGNED
  // when the privilege could not be given, so the last error decides.
  SetLastError(0);
  AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
  r.adjust = GetLastError();
  return r;
}

uint32_t RequestPowerOff() {
  return ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, 0) ? 0 : GetLastError();
}

uint32_t PowerOffOutcome() { return 0; }

}  // namespace platform
