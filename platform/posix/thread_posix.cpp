#include "platform/thread.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
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

bool StartDetachedThread(void (*proc)(void*), void* arg) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
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

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
