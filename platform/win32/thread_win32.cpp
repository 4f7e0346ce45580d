#include "platform/thread.h"

#include <windows.h>

#include <new>

#include "platform/win32/unique_handle.h"

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

bool StartDetachedThread(void (*proc)(void*), void* arg, size_t stack_bytes) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  // A reservation, not a commitment: the stack is committed as it grows.
  HANDLE h = CreateThread(nullptr, stack_bytes, Trampoline, s,
                          stack_bytes ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (!h) {
    delete s;
    return false;
  }
  // Detached: the thread runs on without anyone holding its handle.
  CloseHandle(h);
  return true;
}

bool RunOnDefaultStack(void (*proc)(void*), void* arg) {
  Start* s = new (std::nothrow) Start{proc, arg};
  if (!s) return false;
  const ObjectHandle thread(CreateThread(nullptr, 0, Trampoline, s, 0, nullptr));
  if (!thread.valid()) {
    delete s;
    return false;
  }
  WaitForSingleObject(thread.get(), INFINITE);
  return true;
}

void SleepMs(unsigned ms) { Sleep(ms); }

}  // namespace platform
