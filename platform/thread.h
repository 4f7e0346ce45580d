// Detached threads with the platform's default stack size.
#pragma once

namespace platform {

// Starts proc(arg) on a new detached thread; false when it cannot start.
bool StartDetachedThread(void (*proc)(void*), void* arg);

void SleepMs(unsigned ms);

}  // namespace platform
