// Detached threads, with the platform's default stack or a small one.
#pragma once

#include <cstddef>

namespace platform {

// Starts proc(arg) on a new detached thread; false when it cannot start.
// stack_bytes reserves that much address space for its stack (0: the
// platform's default, 1 MB or more), so that many threads fit a 32-bit process.
bool StartDetachedThread(void (*proc)(void*), void* arg, size_t stack_bytes = 0);

// Runs proc(arg) on a new thread with the platform's default stack and waits
// for its end, for work too deep for a small stack; false when no thread
// could start (proc has then not run).
bool RunOnDefaultStack(void (*proc)(void*), void* arg);

void SleepMs(unsigned ms);

}  // namespace platform
