#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

PrivateFileResult CreatePrivateFile(const char* path, const void* bytes, size_t size,
                                    uint32_t* error) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = static_cast<uint32_t>(errno);
    return errno == EEXIST ? PrivateFileResult::kExists : PrivateFileResult::kFailed;
  }
  // The umask may have taken the owner's bits too; set them exactly.
  bool ok = fchmod(fd, 0600) == 0;
  const char* p = static_cast<const char*>(bytes);
  for (size_t left = size; ok && left > 0;) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  *error = ok ? 0 : static_cast<uint32_t>(errno);
  if (close(fd) != 0 && ok) {
    ok = false;
    *error = static_cast<uint32_t>(errno);
  }
  if (!ok) unlink(path);
  return ok ? PrivateFileResult::kWritten : PrivateFileResult::kFailed;
}

}  // namespace platform
