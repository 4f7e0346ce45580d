#include "platform/named_mutex.h"

#include <windows.h>

namespace platform {

struct NamedMutex::State {
  HANDLE handle;
};

NamedMutex::~NamedMutex() {
  if (!state_) return;
  CloseHandle(state_->handle);
  delete state_;
}

NamedMutex NamedMutex::Open(const char* name) {
  NamedMutex m;
  HANDLE h = CreateMutexA(nullptr, FALSE, name);
  if (h == nullptr) return m;
  m.state_ = new State{h};
  return m;
}

bool NamedMutex::valid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  // LastError() tells why a wait failed or timed out, never a code left over
  // from an earlier call.
  if (!state_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::kFailed;
  }
  switch (WaitForSingleObject(state_->handle, timeout_ms)) {
    case WAIT_OBJECT_0: return WaitResult::kAcquired;
    case WAIT_ABANDONED: return WaitResult::kAbandoned;
    case WAIT_TIMEOUT: SetLastError(WAIT_TIMEOUT); return WaitResult::kTimedOut;
    default: return WaitResult::kFailed;
  }
}

void NamedMutex::Release() {
  if (state_) ReleaseMutex(state_->handle);
}

uint32_t LastError() { return GetLastError(); }

}  // namespace platform
