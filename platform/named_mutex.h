// A mutex shared by name with every process on this machine.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

enum class WaitResult {
  kAcquired,
  kAbandoned,  // the previous owner ended while holding it; we hold it now
  kTimedOut,
  kFailed,
};

class NamedMutex {
 public:
  NamedMutex() = default;
  NamedMutex(NamedMutex&& other) noexcept : state_(other.state_) { other.state_ = nullptr; }
  NamedMutex& operator=(NamedMutex&& other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  ~NamedMutex();

  // Creates the mutex, or opens the existing one of that name; not owned.
  // On failure the result is not valid() and LastError() tells why.
  static NamedMutex Open(const char* name);

  bool valid() const;
  WaitResult Wait(uint32_t timeout_ms);
  void Release();

 private:
  struct State;
  State* state_ = nullptr;
};

// The calling thread's last system error code (GetLastError on Windows).
uint32_t LastError();

}  // namespace platform
