// A named mutex for Linux: a lock file under /tmp excludes other processes
// (flock; the kernel drops the lock of an owner that dies, so its successor
// simply acquires it), and a process-wide timed mutex per name excludes the
// other threads of this process without polling.
#include "platform/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform {
namespace {

std::shared_ptr<std::timed_mutex> LocalMutexFor(const std::string& name) {
  static std::mutex registry_lock;
  static std::map<std::string, std::weak_ptr<std::timed_mutex>> registry;
  std::lock_guard<std::mutex> guard(registry_lock);
  auto& slot = registry[name];
  auto m = slot.lock();
  if (!m) {
    m = std::make_shared<std::timed_mutex>();
    slot = m;
  }
  return m;
}

std::string LockPathFor(const char* name) {
  std::string path = "/tmp/";
  for (const char* p = name; *p; ++p) path += (*p == '/') ? '_' : *p;
  return path + ".lock";
}

}  // namespace

struct NamedMutex::State {
  std::shared_ptr<std::timed_mutex> local;
  int fd;
  bool held;
};

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : state_(other.state_) {
  other.state_ = nullptr;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    this->~NamedMutex();
    state_ = other.state_;
    other.state_ = nullptr;
  }
  return *this;
}

NamedMutex::~NamedMutex() {
  if (!state_) return;
  if (state_->held) Release();
  close(state_->fd);
  delete state_;
}

NamedMutex NamedMutex::Open(const char* name) {
  NamedMutex m;
  int fd = open(LockPathFor(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return m;
  m.state_ = new State{LocalMutexFor(name), fd, false};
  return m;
}

bool NamedMutex::valid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  if (!state_) return WaitResult::kFailed;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (!state_->local->try_lock_until(deadline)) return WaitResult::kTimedOut;
  for (;;) {
    if (flock(state_->fd, LOCK_EX | LOCK_NB) == 0) {
      state_->held = true;
      return WaitResult::kAcquired;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      state_->local->unlock();
      return WaitResult::kFailed;
    }
    if (Clock::now() >= deadline) {
      state_->local->unlock();
      return WaitResult::kTimedOut;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

void NamedMutex::Release() {
  if (!state_ || !state_->held) return;
  state_->held = false;
  flock(state_->fd, LOCK_UN);
  state_->local->unlock();
}

uint32_t LastError() { return static_cast<uint32_t>(errno); }

}  // namespace platform
