// A new file that only its owner can read: mode 0600 on Linux whatever the
// umask; on Windows a protected ACL that grants the creating user and the
// Administrators group only. An existing file is never replaced.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

enum class PrivateFileResult { kWritten, kExists, kFailed };

// Creates path and writes the bytes; *error is the system's code on kFailed.
// A file left half-written by a failed write is removed.
PrivateFileResult CreatePrivateFile(const char* path, const void* bytes, size_t size,
                                    uint32_t* error);

}  // namespace platform
