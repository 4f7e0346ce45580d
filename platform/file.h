// Positioned input/output on one file, opened for reading and writing while
// other processes may only read it.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

class File {
 public:
  File() = default;
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  File& operator=(File&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens the file, creating it when it is missing.
  static File OpenOrCreate(const char* path);

  bool valid() const;
  // Reads up to len bytes at offset; *got says how many there were.
  bool ReadAt(uint32_t offset, void* buf, uint32_t len, uint32_t* got);
  // Writes exactly len bytes at offset, extending the file if need be.
  bool WriteAt(uint32_t offset, const void* buf, uint32_t len);

 private:
  intptr_t handle_ = -1;
};

}  // namespace platform
