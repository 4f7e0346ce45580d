// What the Windows unit tests share: whole-file bytes and a scratch folder
// of the test's own under the temporary folder, removed with everything in it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <initializer_list>
#include <string>

namespace wintest {

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    std::fclose(f);
  }
  return bytes;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
  for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
    const std::string path = dir + "\\" + found.cFileName;
    if (found.cFileName[0] == '.') continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
    DeleteFileA(path.c_str());
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  RemoveDirectoryA(dir.c_str());
}

// TEMP\PREFIX<pid>, made empty with the given subfolders, and removed again.
class ScratchDir {
 public:
  ScratchDir(const char* prefix, std::initializer_list<const char*> subfolders = {}) {
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + prefix + std::to_string(GetCurrentProcessId());
    RemoveTree(path_);
    made_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    for (const char* sub : subfolders) made_ &= CreateDirectoryA((*this)[sub].c_str(), nullptr) != FALSE;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() { RemoveTree(path_); }

  bool made() const { return made_; }  // the folder and every subfolder
  const std::string& path() const { return path_; }
  std::string operator[](const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
  bool made_ = false;
};

}  // namespace wintest
