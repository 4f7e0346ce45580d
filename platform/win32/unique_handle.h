// One move-only owner for each kind of Windows handle, its empty value part
// of the kind: a file is empty at INVALID_HANDLE_VALUE, the others at null.
#pragma once

#include <windows.h>

template <class Kind>
class UniqueHandle {
 public:
  using Handle = typename Kind::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.h_) { other.h_ = Kind::Empty(); }
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.h_;
      other.h_ = Kind::Empty();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  bool valid() const { return h_ != Kind::Empty(); }
  Handle get() const { return h_; }
  void reset() {
    if (valid()) Kind::Close(h_);
    h_ = Kind::Empty();
  }

 private:
  Handle h_ = Kind::Empty();
};

struct FileHandleKind {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct ServiceHandleKind {
  using Handle = SC_HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { CloseServiceHandle(h); }
};
struct ObjectHandleKind {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct ModuleHandleKind {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
struct HeapHandleKind {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static void Close(Handle h) { HeapDestroy(h); }
};

using FileHandle = UniqueHandle<FileHandleKind>;        // CreateFileA
using ServiceHandle = UniqueHandle<ServiceHandleKind>;  // OpenSCManagerA, OpenServiceA
using PrivateHeap = UniqueHandle<HeapHandleKind>;       // HeapCreate
using ObjectHandle = UniqueHandle<ObjectHandleKind>;    // processes, threads
using LoadedModule = UniqueHandle<ModuleHandleKind>;    // LoadLibraryA
