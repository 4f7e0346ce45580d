// A named mutex for Linux with the promises of a Windows one: a robust,
// process-shared pthread mutex in a small file under /dev/shm that only this
// user can open. It excludes threads and processes alike, waits with a
// time-out, and reports an owner that ended while holding it as abandoned
// (EOWNERDEAD). Taking and releasing it costs no system call when nobody else
// holds it.
#include "platform/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
namespace {

constexpr uint32_t kReady = 0x4F524D31;  // "ORM1": the layout below, initialised

struct Shared {
  pthread_mutex_t mutex;
  uint32_t ready;
};

std::string PathFor(const char* name) {
  std::string path = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
  path += "orvel-";
  for (const char* p = name; *p; ++p) path += (*p == '/') ? '_' : *p;
  return path;
}

void InitOnce(Shared* shared) {
  if (shared->ready == kReady) return;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&shared->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  shared->ready = kReady;
}

// A mutex of this process alone, for a name whose file another user holds.
Shared* MapPrivate() {
  void* p =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  Shared* shared = static_cast<Shared*>(p);
  InitOnce(shared);
  return shared;
}

// Maps the shared mutex of a name, initialising it once; the file lock keeps
// two first users from initialising it at the same time. Only this user may
// open the file: whoever can map it can hold it and so silence every log, or
// corrupt it. A file or link in its place that is not this user's own is
// left alone, and the name gets a mutex of this process alone.
Shared* MapShared(const char* name) {
  const int fd =
      open(PathFor(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  // ELOOP: a symbolic link; EACCES: another user's file (or protected_regular).
  if (fd < 0) return errno == ELOOP || errno == EACCES ? MapPrivate() : nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    close(fd);
    return MapPrivate();
  }
  // A file left by an earlier version may be open to every user.
  if ((st.st_mode & 077) != 0) fchmod(fd, 0600);
  Shared* shared = nullptr;
  if (flock(fd, LOCK_EX) == 0) {
    if (fstat(fd, &st) == 0 &&
        (st.st_size >= static_cast<off_t>(sizeof(Shared)) ||
         ftruncate(fd, sizeof(Shared)) == 0)) {
      void* p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) shared = static_cast<Shared*>(p);
    }
    if (shared) InitOnce(shared);
    flock(fd, LOCK_UN);
  }
  close(fd);  // the mapping stays
  return shared;
}

// The mapping of a name lives as long as the process; nullptr when the file
// cannot be opened (tried again on the next call).
Shared* SharedFor(const char* name) {
  static std::mutex registry_lock;
  static std::map<std::string, Shared*> registry;
  std::lock_guard<std::mutex> guard(registry_lock);
  Shared*& slot = registry[name];
  if (!slot) slot = MapShared(name);
  return slot;
}

}  // namespace

struct NamedMutex::State {
  Shared* shared;
  bool held;
};

NamedMutex::~NamedMutex() {
  if (!state_) return;
  if (state_->held) Release();
  delete state_;
}

NamedMutex NamedMutex::Open(const char* name) {
  NamedMutex m;
  Shared* shared = SharedFor(name);
  if (!shared) return m;
  m.state_ = new State{shared, false};
  return m;
}

bool NamedMutex::valid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  // LastError() tells why a wait failed or timed out, never a code left over
  // from an earlier call.
  if (!state_) {
    errno = EBADF;
    return WaitResult::kFailed;
  }
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  int rc = pthread_mutex_trylock(&state_->shared->mutex);
  if (rc == EBUSY) rc = pthread_mutex_clocklock(&state_->shared->mutex, CLOCK_MONOTONIC, &deadline);
  switch (rc) {
    case 0:
      state_->held = true;
      return WaitResult::kAcquired;
    case EOWNERDEAD:
      pthread_mutex_consistent(&state_->shared->mutex);
      state_->held = true;
      return WaitResult::kAbandoned;
    case ETIMEDOUT:
      errno = ETIMEDOUT;
      return WaitResult::kTimedOut;
    default:
      errno = rc;
      return WaitResult::kFailed;
  }
}

void NamedMutex::Release() {
  if (!state_ || !state_->held) return;
  state_->held = false;
  pthread_mutex_unlock(&state_->shared->mutex);
}

uint32_t LastError() { return static_cast<uint32_t>(errno); }

}  // namespace platform
