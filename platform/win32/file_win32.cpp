#include "platform/file.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

bool MoveTo(intptr_t h, uint32_t offset) {
  // The offsets stay far below 2 GiB, so the high part is not needed.
  return SetFilePointer(H(h), static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
         INVALID_SET_FILE_POINTER;
}

}  // namespace

File::~File() {
  if (valid()) CloseHandle(H(handle_));
}

File File::OpenOrCreate(const char* path) {
  File f;
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_FLAG_RANDOM_ACCESS, nullptr);
  f.handle_ = reinterpret_cast<intptr_t>(h);
  return f;
}

bool File::valid() const { return H(handle_) != INVALID_HANDLE_VALUE; }

bool File::ReadAt(uint32_t offset, void* buf, uint32_t len, uint32_t* got) {
  DWORD n = 0;
  if (!MoveTo(handle_, offset) || !ReadFile(H(handle_), buf, len, &n, nullptr)) return false;
  *got = n;
  return true;
}

bool File::WriteAt(uint32_t offset, const void* buf, uint32_t len) {
  DWORD put = 0;
  if (!MoveTo(handle_, offset)) return false;
  return WriteFile(H(handle_), buf, len, &put, nullptr) && put == len;
}

}  // namespace platform
