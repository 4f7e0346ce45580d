#include "platform/file.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

File::~File() {
  if (valid()) close(static_cast<int>(handle_));
}

File File::OpenOrCreate(const char* path) {
  File f;
  f.handle_ = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return f;
}

bool File::valid() const { return handle_ >= 0; }

bool File::ReadAt(uint32_t offset, void* buf, uint32_t len, uint32_t* got) {
  const ssize_t n = pread(static_cast<int>(handle_), buf, len, offset);
  if (n < 0) return false;
  *got = static_cast<uint32_t>(n);
  return true;
}

bool File::WriteAt(uint32_t offset, const void* buf, uint32_t len) {
  return pwrite(static_cast<int>(handle_), buf, len, offset) == static_cast<ssize_t>(len);
}

}  // namespace platform
