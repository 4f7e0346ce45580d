#include "platform/thread.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <new>

namespace platform {
namespace {

struct Start {
  void (*proc)(void*);
  void* arg;
};

void* Trampoline(void* p) {
  const Start s = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  s.proc(s.arg);
  return nullptr;
}

}  // namespace

bool StartDetachedThread(void (*proc)(void*), void* arg, size_t stack_bytes) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_bytes) {
    const size_t least = static_cast<size_t>(PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, stack_bytes < least ? least : stack_bytes);
  }
  pthread_t t;
  const int rc = pthread_create(&t, &attr, Trampoline, s);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete s;
    errno = rc;
    return false;
  }
  return true;
}

bool RunOnDefaultStack(void (*proc)(void*), void* arg) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  pthread_t t;
  const int rc = pthread_create(&t, nullptr, Trampoline, s);
  if (rc != 0) {
    delete s;
    errno = rc;
    return false;
  }
  pthread_join(t, nullptr);
  return true;
}

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
