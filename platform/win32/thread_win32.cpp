#include "platform/thread.h"

#include <windows.h>

#include <new>

namespace platform {
namespace {

struct Start {
  void (*proc)(void*);
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  const Start s = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  s.proc(s.arg);
  return 0;
}

}  // namespace

bool StartDetachedThread(void (*proc)(void*), void* arg) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  HANDLE h = CreateThread(nullptr, 0, Trampoline, s, 0, nullptr);
  if (!h) {
    delete s;
    return false;
  }
  // Detached: the thread runs on without anyone holding its handle.
  CloseHandle(h);
  return true;
}

void SleepMs(unsigned ms) { Sleep(ms); }

}  // namespace platform
